#include "output/events.h"

#include <cstdio>
#include <mutex>

#include "output/status_lines.h"
#include "platform/text.h"
#include "settings/settings.h"

namespace {

std::mutex g_output_lock;
thread_local std::string t_drive;

std::string key_text(const char* key) { return "," + json_string(key) + ":"; }

// The JSON object of `event` for the drive `drive` (empty: none), without a
// line end.
std::string event_json(const Event& event, const std::string& drive) {
  std::string json = "{\"event\":" + json_string(event.name);
  if (!drive.empty()) json += ",\"drive\":" + json_string(drive);
  return json + event.fields + "}";
}

// The text of `event` with every line prefixed by "[drive] " (nothing when
// `drive` is empty).
std::string event_text(const Event& event, const std::string& drive) {
  if (drive.empty()) return event.text;
  const std::string prefix = "[" + escape_controls(drive) + "] ";
  std::string text;
  bool line_start = true;
  for (char c : event.text) {
    if (line_start) text += prefix;
    text += c;
    line_start = c == '\n';
  }
  return text;
}

}  // namespace

Event::Event(const char* event_name, std::string event_text)
    : name(event_name), text(std::move(event_text)) {}

Event& Event::str(const char* key, const std::string& value) {
  fields += key_text(key) + json_string(value);
  return *this;
}

Event& Event::opt_str(const char* key, const std::string& value) {
  fields += key_text(key) + (value.empty() ? "null" : json_string(value));
  return *this;
}

Event& Event::num(const char* key, uint64_t value) {
  fields += key_text(key) + std::to_string(value);
  return *this;
}

Event& Event::opt_num(const char* key, const std::optional<uint64_t>& value) {
  fields += key_text(key) + (value ? std::to_string(*value) : "null");
  return *this;
}

Event& Event::boolean(const char* key, bool value) {
  fields += key_text(key) + (value ? "true" : "false");
  return *this;
}

Event& Event::strs(const char* key, const std::vector<std::string>& values) {
  fields += key_text(key) + "[";
  for (size_t i = 0; i < values.size(); ++i) fields += (i ? "," : "") + json_string(values[i]);
  fields += "]";
  return *this;
}

void emit(const Event& event) {
  std::lock_guard<std::mutex> hold(g_output_lock);
  if (json_output) {
    const std::string line = event_json(event, t_drive) + "\n";
    fputs(line.c_str(), stdout);
    fflush(stdout);
    return;
  }
  write_text(event_text(event, t_drive));
}

void emit_line(const std::string& line) { emit(Event("message", line + "\n").str("text", line)); }

void set_event_drive(const std::string& root) { t_drive = root; }
