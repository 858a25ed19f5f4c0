// Windows gives a new drive a letter of its own: the set of letters, looked
// at every 20 ms, wakes the wait. A medium put into a card reader keeps its
// letter and is found by the next pass instead.
#include <windows.h>

#include "drive/drive_events.h"
#include "platform/platform.h"

namespace {

constexpr unsigned kLookEveryMs = 20;
DWORD g_letters = 0;
bool g_watching = false;

}  // namespace

void watch_drive_changes() {
  if (g_watching) return;
  g_letters = GetLogicalDrives();
  g_watching = true;
}

bool wait_for_drive_change(unsigned timeout_ms) {
  watch_drive_changes();
  const uint64_t end = monotonic_ms() + timeout_ms;
  for (uint64_t now = monotonic_ms(); now < end; now = monotonic_ms()) {
    const uint64_t left = end - now;
    Sleep(static_cast<DWORD>(left < kLookEveryMs ? left : kLookEveryMs));
    const DWORD letters = GetLogicalDrives();
    if (letters != g_letters) {
      g_letters = letters;
      return true;
    }
  }
  return false;
}
