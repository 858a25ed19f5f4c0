#include "drive/copy_progress.h"

#include <cinttypes>
#include <cstdio>

#include "output/events.h"
#include "output/status_lines.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "settings/settings.h"

namespace {

constexpr uint64_t kFirstTellMs = 1000;   // a copy quicker than this shows nothing
constexpr uint64_t kRedrawMs = 100;       // at most ten lines a second
constexpr uint64_t kEventEveryMs = 1000;  // at most one event a second

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

// How a copy's progress is shown, decided as it begins.
enum class Shown {
  kNothing,
  kLine,    // a line at the bottom of the terminal
  kEvents,  // progress events in the JSON output
};

struct Progress {
  Shown shown = Shown::kNothing;
  std::string name;  // as the drive gets it
  std::string shown_name;  // the same, printable
  uint64_t total = 0;
  uint64_t started = 0;
  uint64_t told_at = 0;  // when the line was drawn or the event written last
  bool told = false;
};

// Each copy reports from its own thread, several at once with --all.
thread_local Progress t_progress;

Shown how_shown() {
  if (json_output) return Shown::kEvents;
  if (!stdout_is_terminal()) return Shown::kNothing;
  // Several copies draw several lines, which takes cursor movements.
  return !flash_all || stdout_moves_cursor() ? Shown::kLine : Shown::kNothing;
}

void tell(uint64_t done, uint64_t elapsed) {
  const uint64_t rate = done * 1000 / elapsed;
  if (t_progress.shown == Shown::kLine) {
    set_status_line(progress_text(t_progress.shown_name, done, t_progress.total, rate));
    return;
  }
  emit(Event("progress")
           .str("file", t_progress.name)
           .num("done", done)
           .num("total", t_progress.total)
           .num("bytes_per_s", rate));
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

void copy_progress_begin(const std::string& name, uint64_t total) {
  t_progress = Progress();
  t_progress.shown = how_shown();
  t_progress.name = name;
  t_progress.shown_name = escape_controls(name);
  t_progress.total = total;
  t_progress.started = monotonic_ms();
}

void copy_progress(uint64_t done) {
  if (t_progress.shown == Shown::kNothing) return;
  const uint64_t now = monotonic_ms();
  const uint64_t elapsed = now - t_progress.started;
  if (elapsed < kFirstTellMs) return;
  const uint64_t every = t_progress.shown == Shown::kLine ? kRedrawMs : kEventEveryMs;
  if (t_progress.told && now - t_progress.told_at < every) return;
  t_progress.told = true;
  t_progress.told_at = now;
  tell(done, elapsed);
}

bool copy_progress_wanted() { return t_progress.shown != Shown::kNothing; }

void copy_progress_end() {
  if (t_progress.shown == Shown::kLine && t_progress.told) set_status_line("");
  t_progress = Progress();
}
