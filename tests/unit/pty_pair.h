// A pseudo-terminal pair standing in for a serial line: the program under test
// opens the slave by its path, the test reads the master. Kept apart from the
// tests because <pty.h> brings glibc's <termios.h>, which clashes with the
// kernel's <asm/termbits.h> the tests read the line settings with.
#ifndef FLASHDROP_TESTS_PTY_PAIR_H_
#define FLASHDROP_TESTS_PTY_PAIR_H_

#include <string>

struct PtyPair {
  int master = -1;
  int slave = -1;  // held open by the test, so the master never sees a hang-up
  std::string slave_path;
};

// Opens a pair with the master non-blocking; false on failure.
bool open_pty_pair(PtyPair* pair);
void close_pty_pair(PtyPair* pair);

// Everything the master receives until the line has been quiet for 200 ms.
std::string read_master(const PtyPair& pair);

// Writes to the slave until the line takes no more, so that it never drains
// while the master is not read. Returns the number of bytes queued.
size_t fill_slave_output(const PtyPair& pair);

#endif  // FLASHDROP_TESTS_PTY_PAIR_H_
