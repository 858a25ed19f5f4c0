#include "fakes/fake_platform.h"

#include <algorithm>
#include <mutex>

#include "drive/drive_events.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {
std::vector<unsigned> g_sleeps;
std::vector<uint64_t> g_changes;  // sorted, not yet seen
uint64_t g_now = 0;
int g_waits = 0;
}  // namespace

namespace fake_clock {
const std::vector<unsigned>& sleeps() { return g_sleeps; }
void drive_change_at(uint64_t at_ms) {
  g_changes.insert(std::upper_bound(g_changes.begin(), g_changes.end(), at_ms), at_ms);
}
int change_waits() { return g_waits; }
void reset() {
  g_sleeps.clear();
  g_changes.clear();
  g_now = 0;
  g_waits = 0;
}
}  // namespace fake_clock

void console_init() {}
void use_utf8_character_type() {}
// Several copies wait for their boards at once with --all.
std::mutex g_clock_lock;
void sleep_ms(unsigned ms) {
  std::lock_guard<std::mutex> hold(g_clock_lock);
  g_sleeps.push_back(ms);
  g_now += ms;
}
uint64_t monotonic_ms() {
  std::lock_guard<std::mutex> hold(g_clock_lock);
  return g_now;
}
std::wstring narrow_to_wide(const char* text) { return utf8_to_wide(text); }

void watch_drive_changes() {}

bool wait_for_drive_change(unsigned timeout_ms) {
  ++g_waits;
  const uint64_t end = g_now + timeout_ms;
  // A change while no wait ran (during a pass) ends the next wait at once.
  if (g_changes.empty() || g_changes.front() >= end) {
    sleep_ms(timeout_ms);
    return false;
  }
  if (g_changes.front() > g_now) sleep_ms(static_cast<unsigned>(g_changes.front() - g_now));
  g_changes.erase(g_changes.begin());
  return true;
}
