#include "drive/copy_progress.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "fakes/fake_platform.h"
#include "platform/platform.h"
#include "pty_pair.h"

namespace {

TEST(ProgressText, FiguresInBinaryUnitsToTheNearestAndLongNamesShortened) {
  const struct {
    std::string name;
    uint64_t done, total, rate;
    std::string text;
  } cases[] = {
      {"fw.uf2", 412 * 1024 + 500, 1258291, 97 * 1024 + 600, "fw.uf2  412 KiB / 1.2 MiB  98 KiB/s"},
      {"fw.uf2", 0, 1023, 0, "fw.uf2  0 B / 1023 B  0 B/s"},
      {"big.bin", 1000 << 10, (uint64_t{49} << 30) / 10 - 1, 1 << 20,
       "big.bin  1000 KiB / 4.9 GiB  1.0 MiB/s"},
      // 79 characters at most; a long name keeps its end, not cut in a character.
      {std::string(80, 'a') + "\xc3\xa9.uf2", 2048, 4096, 1024,
       "..." + std::string(46, 'a') + "\xc3\xa9.uf2  2 KiB / 4 KiB  1 KiB/s"},
      {"bbb\xc3\xa9" + std::string(47, 'c') + ".uf2", 2048, 4096, 1024,
       "..." + std::string(47, 'c') + ".uf2  2 KiB / 4 KiB  1 KiB/s"},
  };
  for (const auto& c : cases) {
    const std::string text = progress_text(c.name, c.done, c.total, c.rate);
    EXPECT_EQ(text, c.text) << c.name;
    EXPECT_LE(text.size(), kProgressWidth);
  }
}

TEST(ProgressText, RedrawCoversTheLongerLineBeforeAndErasingLeavesTheCursorAtTheStart) {
  EXPECT_EQ(progress_redraw("abc", 0), "\rabc");
  EXPECT_EQ(progress_redraw("ab", 4), "\rab  ");
  EXPECT_EQ(progress_redraw("abcd", 2), "\rabcd");
  EXPECT_EQ(progress_redraw("", 3), "\r   \r");
  EXPECT_EQ(progress_redraw("", 0), "");
}

// What a terminal shows after `bytes`: a carriage return goes back to the
// start of the line, other characters overwrite; trailing blanks dropped.
std::string rendered(const std::string& bytes) {
  std::string screen, line;
  size_t column = 0;
  for (char c : bytes) {
    if (c == '\r') {
      column = 0;
    } else if (c == '\n') {
      screen += line.substr(0, line.find_last_not_of(' ') + 1) + "\n";
      line.clear();
      column = 0;
    } else {
      if (column >= line.size()) line.resize(column + 1, ' ');
      line[column++] = c;
    }
  }
  return screen + line.substr(0, line.find_last_not_of(' ') + 1);
}

// A copy of 1.2 MiB reported as a slow drive would: every 50 ms, 5 KiB more.
// Returns what standard output, pointed at `fd`, received in between.
void slow_copy_onto(int fd) {
  fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  dup2(fd, STDOUT_FILENO);
  fake_clock::reset();
  copy_progress_begin("fw\x1b.uf2", 1258291);
  for (uint64_t done = 0; done <= 60 * 5120; done += 5120) {
    copy_progress(done);
    sleep_ms(50);  // the fake clock
  }
  copy_progress_end();
  printf("Board restarted\n");
  fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
}

TEST(CopyProgress, OnATerminalTheLineIsRedrawnAtMostTenTimesASecondThenErased) {
  PtyPair pty;
  ASSERT_TRUE(open_pty_pair(&pty));
  slow_copy_onto(pty.slave);
  const std::string out = read_master(pty);
  close_pty_pair(&pty);
  // Drawn from 1 s on, in the 2 s after it every other report: 21 lines.
  size_t draws = 0;
  for (size_t at = out.find("\rfw\\033.uf2  "); at != std::string::npos;
       at = out.find("\rfw\\033.uf2  ", at + 1)) {
    ++draws;
  }
  EXPECT_EQ(draws, 21u) << out;
  EXPECT_NE(out.find("\rfw\\033.uf2  100 KiB / 1.2 MiB  100 KiB/s"), std::string::npos) << out;
  EXPECT_NE(out.find("\rfw\\033.uf2  300 KiB / 1.2 MiB  100 KiB/s"), std::string::npos) << out;
  EXPECT_EQ(rendered(out), "Board restarted\n");
}

TEST(CopyProgress, ThroughAPipeNothingIsDrawn) {
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  slow_copy_onto(pipe_fds[1]);
  close(pipe_fds[1]);
  char buffer[4096];
  const ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
  close(pipe_fds[0]);
  EXPECT_EQ(std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0), "Board restarted\n");
}

}  // namespace
