#include "output/status_lines.h"

#include <cstdio>
#include <mutex>
#include <thread>
#include <utility>

namespace {

struct StatusLine {
  std::thread::id owner;
  std::string text;
};

std::mutex g_lock;
std::vector<StatusLine> g_lines;  // in the order they appeared
std::vector<size_t> g_shown;      // the lengths of the lines on the terminal

std::vector<std::string> texts() {
  std::vector<std::string> lines;
  for (const StatusLine& line : g_lines) lines.push_back(line.text);
  return lines;
}

std::vector<size_t> lengths(const std::vector<std::string>& lines) {
  std::vector<size_t> sizes;
  for (const std::string& line : lines) sizes.push_back(line.size());
  return sizes;
}

// Makes the terminal show `lines`; the lock is held.
void draw(const std::vector<std::string>& lines) {
  fputs(status_redraw(g_shown, lines).c_str(), stdout);
  fflush(stdout);
  g_shown = lengths(lines);
}

}  // namespace

std::string status_redraw(const std::vector<size_t>& shown, const std::vector<std::string>& lines) {
  if (shown.size() <= 1 && lines.size() <= 1) {
    const std::string text = lines.empty() ? "" : lines[0];
    const size_t before = shown.empty() ? 0 : shown[0];
    if (text.empty() && before == 0) return "";
    const std::string blank(before > text.size() ? before - text.size() : 0, ' ');
    return "\r" + text + blank + (text.empty() ? "\r" : "");
  }
  std::string out = "\r";
  if (shown.size() > 1) out += "\x1b[" + std::to_string(shown.size() - 1) + "A";
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) out += "\x1b[K\n";
    out += lines[i];
  }
  return out + "\x1b[J";
}

void set_status_line(const std::string& text) {
  std::lock_guard<std::mutex> hold(g_lock);
  const std::thread::id me = std::this_thread::get_id();
  auto mine = g_lines.begin();
  while (mine != g_lines.end() && mine->owner != me) ++mine;
  if (text.empty() && mine == g_lines.end()) return;
  if (text.empty()) {
    g_lines.erase(mine);
  } else if (mine == g_lines.end()) {
    g_lines.push_back({me, text});
  } else {
    mine->text = text;
  }
  draw(texts());
}

void write_text(const std::string& text) {
  std::lock_guard<std::mutex> hold(g_lock);
  if (g_shown.empty()) {
    fputs(text.c_str(), stdout);
    return;
  }
  draw({});
  fputs(text.c_str(), stdout);
  draw(texts());
}
