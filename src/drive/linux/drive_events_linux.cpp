// The mount table wakes the wait: poll reports POLLPRI on an open
// /proc/self/mountinfo once the table has changed since the last poll, which
// is how an automounter's mount of the bootloader's drive shows.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "drive/drive_events.h"
#include "platform/platform.h"

namespace {

int g_mounts = -1;

}  // namespace

void watch_drive_changes() {
  if (g_mounts < 0) g_mounts = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
}

bool wait_for_drive_change(unsigned timeout_ms) {
  watch_drive_changes();
  const uint64_t end = monotonic_ms() + timeout_ms;
  for (;;) {
    const uint64_t now = monotonic_ms();
    const int left = now < end ? static_cast<int>(end - now) : 0;
    // Without the table (no /proc) the wait is a plain pause: fd -1 is
    // ignored by poll.
    struct pollfd mounts = {g_mounts, POLLPRI, 0};
    const int ready = poll(&mounts, 1, left);
    if (ready > 0) return (mounts.revents & (POLLPRI | POLLERR)) != 0;
    if (ready == 0 || errno != EINTR) return false;
  }
}
