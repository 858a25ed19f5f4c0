#include "drive/copy_progress.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fakes/fake_platform.h"
#include "output/events.h"
#include "output/status_lines.h"
#include "platform/platform.h"
#include "pty_pair.h"
#include "settings/settings.h"

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

// What a terminal shows after `bytes`: a carriage return goes back to the
// start of the line, ESC [ n A up n lines, ESC [ K erases to the end of the
// line, ESC [ J to the end of the screen; other characters overwrite. Lines
// as shown, trailing blanks and empty last lines dropped.
std::string rendered(const std::string& bytes) {
  std::vector<std::string> rows(1);
  size_t row = 0, column = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c == '\x1b' && i + 1 < bytes.size() && bytes[i + 1] == '[') {
      size_t end = i + 2;
      while (end < bytes.size() && isdigit(static_cast<unsigned char>(bytes[end]))) ++end;
      const size_t n = end > i + 2 ? std::stoul(bytes.substr(i + 2, end - i - 2)) : 1;
      const char command = end < bytes.size() ? bytes[end] : '?';
      if (command == 'A') row = n > row ? 0 : row - n;
      if (command == 'K' || command == 'J') rows[row].resize(std::min(rows[row].size(), column));
      if (command == 'J') rows.resize(row + 1);
      i = end;
    } else if (c == '\r') {
      column = 0;
    } else if (c == '\n') {
      if (++row == rows.size()) rows.emplace_back();
      column = 0;
    } else {
      if (column >= rows[row].size()) rows[row].resize(column + 1, ' ');
      rows[row][column++] = c;
    }
  }
  std::string screen;
  for (const std::string& line : rows) {
    screen += line.substr(0, line.find_last_not_of(' ') + 1) + "\n";
  }
  while (screen.size() >= 2 && screen.compare(screen.size() - 2, 2, "\n\n") == 0) screen.pop_back();
  return screen == "\n" ? "" : screen;
}

TEST(StatusLines, EveryRedrawShowsTheLinesAsToldWhateverWasShownBefore) {
  // From the lines drawn last below some text to the lines to show.
  const struct {
    std::vector<std::string> before, after;
  } cases[] = {
      {{}, {"abc"}},          {{"abcd"}, {"ab"}},          {{"ab"}, {"abcd"}},
      {{"abc"}, {}},          {{"a 1"}, {"a 1", "b 1"}},   {{"a 1", "b 22"}, {"a 333", "b 4"}},
      {{"a 1", "b 22"}, {"b 2"}}, {{"a", "b", "c"}, {}},   {{}, {"a", "b"}},
  };
  for (const auto& c : cases) {
    std::vector<size_t> shown;
    std::string drawn;
    for (size_t i = 0; i < c.before.size(); ++i) {
      drawn += (i ? "\n" : "") + c.before[i];
      shown.push_back(c.before[i].size());
    }
    std::string expected = "text\n";
    for (const std::string& line : c.after) expected += line + "\n";
    EXPECT_EQ(rendered("text\n" + drawn + status_redraw(shown, c.after)), expected)
        << testing::PrintToString(c.before) << " -> " << testing::PrintToString(c.after);
  }
  // One line to one line, or to none: a carriage return and blanks, no
  // escape sequence that an old console would print.
  EXPECT_EQ(status_redraw({4}, {"ab"}), "\rab  ");
  EXPECT_EQ(status_redraw({3}, {}), "\r   \r");
  EXPECT_EQ(status_redraw({}, {}), "");
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

TEST(CopyProgress, WithJsonAnEventAtMostOnceASecondAndNoLineEvenOnATerminal) {
  json_output = true;
  PtyPair pty;
  ASSERT_TRUE(open_pty_pair(&pty));
  slow_copy_onto(pty.slave);
  const std::string out = read_master(pty);
  close_pty_pair(&pty);
  json_output = false;
  std::string expected;
  for (int done : {102400, 204800, 307200}) {
    expected += "{\"event\":\"progress\",\"file\":\"fw\\u001b.uf2\",\"done\":" +
                std::to_string(done) + ",\"total\":1258291,\"bytes_per_s\":102400}\r\n";
  }
  EXPECT_EQ(out, expected + "Board restarted\r\n");
}

// A thread that runs one call at a time when told, and waits for it: a
// copy's line belongs to the thread that copies.
class Worker {
 public:
  Worker() : thread_([this] { serve(); }) {}
  ~Worker() {
    run(nullptr);
    thread_.join();
  }
  void run(std::function<void()> job) {
    std::unique_lock<std::mutex> lock(lock_);
    job_ = std::move(job);
    pending_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !pending_; });
  }

 private:
  void serve() {
    for (bool more = true; more;) {
      std::unique_lock<std::mutex> lock(lock_);
      changed_.wait(lock, [this] { return pending_; });
      more = job_ != nullptr;
      if (more) job_();
      pending_ = false;
      changed_.notify_all();
    }
  }
  std::mutex lock_;
  std::condition_variable changed_;
  std::function<void()> job_;
  bool pending_ = false;
  std::thread thread_;
};

TEST(CopyProgress, WithAllEachCopyHasItsOwnLineAndTheTextGoesAboveThem) {
  flash_all = true;
  const char* term = getenv("TERM");
  const std::string saved_term = term != nullptr ? term : "";
  setenv("TERM", "xterm", 1);
  PtyPair pty;
  ASSERT_TRUE(open_pty_pair(&pty));
  fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  dup2(pty.slave, STDOUT_FILENO);
  fake_clock::reset();
  std::string out;
  {
    Worker a, b;
    a.run([] { copy_progress_begin("a.uf2", 4 << 20); });
    b.run([] { copy_progress_begin("b.uf2", 2 << 20); });
    sleep_ms(1000);
    a.run([] { copy_progress(100 << 10); });
    b.run([] { copy_progress(300 << 10); });
    out += read_master(pty);
    EXPECT_EQ(rendered(out), "a.uf2  100 KiB / 4.0 MiB  100 KiB/s\nb.uf2  300 KiB / 2.0 MiB  300 KiB/s\n");
    b.run([] {
      copy_progress_end();
      emit_line("[/media/u/B] Board restarted");
    });
    sleep_ms(1000);
    a.run([] { copy_progress(400 << 10); });
    out += read_master(pty);
    EXPECT_EQ(rendered(out),
              "[/media/u/B] Board restarted\na.uf2  400 KiB / 4.0 MiB  200 KiB/s\n");
    a.run([] {
      copy_progress_end();
      emit_line("[/media/u/A] Board restarted");
    });
  }
  fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  out += read_master(pty);
  close_pty_pair(&pty);
  setenv("TERM", saved_term.c_str(), 1);
  flash_all = false;
  EXPECT_EQ(rendered(out), "[/media/u/B] Board restarted\n[/media/u/A] Board restarted\n");
}

}  // namespace
