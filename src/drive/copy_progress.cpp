#include "drive/copy_progress.h"

#include <cinttypes>
#include <cstdio>

#include "platform/platform.h"
#include "platform/text.h"

namespace {

constexpr uint64_t kFirstDrawMs = 1000;  // a copy quicker than this shows no line
constexpr uint64_t kRedrawMs = 100;      // at most ten lines a second

// 1023 B, 412 KiB, 1.2 MiB, 3.4 GiB: whole KiB, tenths above, to the nearest.
std::string amount(uint64_t bytes) {
  char text[32];
  if (bytes < 1024) {
    snprintf(text, sizeof text, "%" PRIu64 " B", bytes);
  } else if (bytes < (1u << 20)) {
    snprintf(text, sizeof text, "%" PRIu64 " KiB", (bytes + 512) >> 10);
  } else {
    const bool giga = bytes >= (uint64_t{1} << 30);
    const unsigned shift = giga ? 30 : 20;
    const uint64_t tenths = (bytes * 10 + (uint64_t{1} << (shift - 1))) >> shift;
    snprintf(text, sizeof text, "%" PRIu64 ".%" PRIu64 " %s", tenths / 10, tenths % 10,
             giga ? "GiB" : "MiB");
  }
  return text;
}

struct Progress {
  bool drawing = false;  // standard output is a terminal and a copy runs
  std::string name;
  uint64_t total = 0;
  uint64_t started = 0;
  uint64_t drawn_at = 0;
  size_t shown = 0;  // the length of the line on the terminal, 0 when none
};

Progress g_progress;
// Off while several copies run at once, or when standard output is JSON:
// set before the copies start, only read while they run.
bool g_allowed = true;

void show(const std::string& text) {
  fputs(progress_redraw(text, g_progress.shown).c_str(), stdout);
  fflush(stdout);
  g_progress.shown = text.size();
}

}  // namespace

std::string progress_text(const std::string& name, uint64_t done, uint64_t total,
                          uint64_t bytes_per_s) {
  const std::string figures =
      "  " + amount(done) + " / " + amount(total) + "  " + amount(bytes_per_s) + "/s";
  if (name.size() + figures.size() <= kProgressWidth) return name + figures;
  const size_t room = kProgressWidth > figures.size() + 3 ? kProgressWidth - figures.size() - 3 : 0;
  size_t cut = name.size() - room;
  // Not inside a UTF-8 character.
  while (cut < name.size() && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) ++cut;
  return "..." + name.substr(cut) + figures;
}

std::string progress_redraw(const std::string& text, size_t shown) {
  if (text.empty() && shown == 0) return "";
  const std::string blank(shown > text.size() ? shown - text.size() : 0, ' ');
  return "\r" + text + blank + (text.empty() ? "\r" : "");
}

void allow_copy_progress(bool allowed) { g_allowed = allowed; }

void copy_progress_begin(const std::string& name, uint64_t total) {
  if (!g_allowed) return;
  g_progress = Progress();
  g_progress.drawing = stdout_is_terminal();
  g_progress.name = escape_controls(name);
  g_progress.total = total;
  g_progress.started = monotonic_ms();
}

void copy_progress(uint64_t done) {
  if (!g_progress.drawing) return;
  const uint64_t now = monotonic_ms();
  const uint64_t elapsed = now - g_progress.started;
  if (elapsed < kFirstDrawMs) return;
  if (g_progress.shown > 0 && now - g_progress.drawn_at < kRedrawMs) return;
  g_progress.drawn_at = now;
  show(progress_text(g_progress.name, done, g_progress.total, done * 1000 / elapsed));
}

bool copy_progress_drawing() { return g_progress.drawing; }

void copy_progress_end() {
  if (!g_allowed) return;
  if (g_progress.shown > 0) show("");
  g_progress = Progress();
}
