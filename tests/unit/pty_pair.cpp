#include "pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <vector>

bool open_pty_pair(PtyPair* pair) {
  std::vector<char> name(4096);
  if (openpty(&pair->master, &pair->slave, name.data(), nullptr, nullptr) != 0) return false;
  pair->slave_path = name.data();
  return fcntl(pair->master, F_SETFL, fcntl(pair->master, F_GETFL) | O_NONBLOCK) == 0;
}

void close_pty_pair(PtyPair* pair) {
  if (pair->slave >= 0) close(pair->slave);
  if (pair->master >= 0) close(pair->master);
  pair->slave = pair->master = -1;
}

std::string read_master(const PtyPair& pair) {
  std::string received;
  char chunk[4096];
  struct pollfd ready = {pair.master, POLLIN, 0};
  while (poll(&ready, 1, 200) == 1 && (ready.revents & POLLIN)) {
    const ssize_t got = read(pair.master, chunk, sizeof chunk);
    if (got <= 0) break;
    received.append(chunk, got);
  }
  return received;
}

size_t fill_slave_output(const PtyPair& pair) {
  const int flags = fcntl(pair.slave, F_GETFL);
  fcntl(pair.slave, F_SETFL, flags | O_NONBLOCK);
  const std::string filler(4096, 'x');
  size_t queued = 0;
  // The kernel moves queued bytes on to the master's read buffer a little
  // later, which makes room again: full means still full after a while.
  for (int idle = 0; idle < 3;) {
    const ssize_t written = write(pair.slave, filler.data(), filler.size());
    if (written > 0) {
      queued += written;
      idle = 0;
    } else {
      ++idle;
      usleep(50 * 1000);
    }
  }
  fcntl(pair.slave, F_SETFL, flags);
  return queued;
}
