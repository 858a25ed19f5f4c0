// Serial port on Linux: termios2 with BOTHER, so any speed the driver can do is
// applied as asked. <asm/termbits.h> clashes with glibc's <termios.h>, so this
// file uses the kernel's structures and ioctls only.
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "trigger/serial_port.h"
#include "trigger/serial_port_linux.h"

int hSerial = -1;

namespace {

// Whether the last write left bytes unsent. Only then is the output discarded
// before close: on a pseudo-terminal the discard also drops bytes already on
// their way to the other end.
bool g_unsent = false;

using Clock = std::chrono::steady_clock;

// The write of the command is given 150 ms, as 10 ms per byte plus 50 ms
// would allow for 10 bytes; the bound here holds for any size.
constexpr std::chrono::milliseconds kWriteBound{150};

// A driver's rounding of the speed is accepted up to this many percent, the
// error a UART link tolerates.
constexpr uint64_t kSpeedTolerancePercent = 3;

void close_quietly(int fd, bool discard_output) {
  if (discard_output) ioctl(fd, TCFLSH, TCOFLUSH);
  ioctl(fd, TIOCNXCL);
  close(fd);
}

// A port is busy when another program holds it exclusively: with TIOCEXCL
// (which the kernel does not enforce against root, so it is asked here too)
// or with an flock on the device node.
bool take_exclusively(int fd) {
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) return false;
  int exclusive = 0;
  if (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive) return false;
  ioctl(fd, TIOCEXCL);
  return true;
}

// The classic speed code of a standard speed, so that programs that know only
// those (stty, glibc's cfgetospeed) still see it; BOTHER for any other speed.
tcflag_t speed_code(uint32_t baud) {
  static const struct {
    uint32_t baud;
    tcflag_t code;
  } kCodes[] = {
      {50, B50},         {75, B75},         {110, B110},       {134, B134},
      {150, B150},       {200, B200},       {300, B300},       {600, B600},
      {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
      {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
      {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
      {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000},
      {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
      {3500000, B3500000}, {4000000, B4000000},
  };
  for (const auto& entry : kCodes) {
    if (entry.baud == baud) return entry.code;
  }
  return BOTHER;
}

void set_speed_8n1(struct termios2* tio, uint32_t baud) {
  const tcflag_t code = speed_code(baud);
  tio->c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT) | CSIZE | PARENB | CSTOPB);
  tio->c_cflag |= code | (code << IBSHIFT) | CS8;
  tio->c_ispeed = baud;
  tio->c_ospeed = baud;
}

bool is_8n1(const struct termios2& tio) {
  return (tio.c_cflag & CSIZE) == CS8 && !(tio.c_cflag & (PARENB | CSTOPB));
}

int milliseconds_until(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits until the driver has sent its queue, or until the deadline. A line held
// off by flow control never drains; close_serial_port discards what is left.
// True when the queue is empty (or the driver cannot tell).
bool wait_for_drain(Clock::time_point deadline) {
  int queued = 0;
  while (ioctl(hSerial, TIOCOUTQ, &queued) == 0 && queued > 0) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace

std::string serial_device_path(const char* port_name) {
  std::string name(port_name);
  if (name.find('/') != std::string::npos) return name;
  return "/dev/" + name;
}

bool speed_accepted(uint32_t asked, uint32_t reported) {
  if (asked == 0) return false;
  const uint64_t difference = asked > reported ? asked - reported : reported - asked;
  return difference * 100 <= uint64_t{asked} * kSpeedTolerancePercent;
}

SerialOpen open_serial_port(const char* port_name, uint32_t baud) {
  // O_NONBLOCK: the open does not wait for carrier, and the write can be bounded.
  const std::string path = serial_device_path(port_name);
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return SerialOpen::kOpenFailed;
  if (!take_exclusively(fd)) {
    close(fd);
    return SerialOpen::kOpenFailed;
  }
  struct termios2 tio = {};
  if (ioctl(fd, TCGETS2, &tio) != 0) {
    close_quietly(fd, false);
    return SerialOpen::kStateUnreadable;
  }
  struct termios2 applied = tio;
  set_speed_8n1(&applied, baud);
  // The driver writes back what it really set; read it again to see.
  if (baud == 0 || ioctl(fd, TCSETS2, &applied) != 0 || ioctl(fd, TCGETS2, &applied) != 0 ||
      !speed_accepted(baud, applied.c_ospeed) || !is_8n1(applied)) {
    ioctl(fd, TCSETS2, &tio);  // put back what was found
    close_quietly(fd, false);
    return SerialOpen::kSettingsRefused;
  }
  hSerial = fd;
  g_unsent = false;
  return SerialOpen::kOpened;
}

void write_serial_port(const char* data, size_t size) {
  const Clock::time_point deadline = Clock::now() + kWriteBound;
  while (size > 0) {
    const ssize_t written = write(hSerial, data, size);
    if (written > 0) {
      data += written;
      size -= static_cast<size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    struct pollfd ready = {hSerial, POLLOUT, 0};
    const int left = milliseconds_until(deadline);
    if ((written < 0 && errno != EAGAIN) || left == 0 ||
        (poll(&ready, 1, left) < 0 && errno != EINTR)) {
      g_unsent = true;
      return;
    }
  }
  g_unsent = !wait_for_drain(deadline);
}

bool close_serial_port() {
  if (hSerial < 0) return false;
  close_quietly(hSerial, g_unsent);
  hSerial = -1;
  return true;
}
