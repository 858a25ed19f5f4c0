#include "drive/verdict.h"

#include <gtest/gtest.h>

namespace {

struct VerdictCase {
  bool uf2, copy_ok, changed;  // changed: the copy created or truncated the destination
  Delivered delivered;
  bool drive_gone;
  bool watch;  // restart_expected
  Outcome outcome;
  bool discard;
};

// Every combination the OS layers can report.
TEST(Verdict, FollowsWhatTheBoardDid) {
  const Delivered no = Delivered::kNo, yes = Delivered::kYes, unknown = Delivered::kUnknown;
  const Outcome copied = Outcome::kCopied, restarted = Outcome::kBoardRestarted,
                not_taken = Outcome::kNotTaken, failed = Outcome::kCopyFailed;
  const VerdictCase cases[] = {
      // Not a UF2 file: the copy's own result, no wait; a partial file is removed.
      {false, true, true, no, false, false, copied, false},
      {false, true, true, no, true, false, copied, false},
      {false, false, true, no, false, false, failed, true},
      {false, false, true, no, true, false, failed, false},
      // A clean UF2 copy: the restart decides.
      {true, true, true, yes, true, true, restarted, false},
      {true, true, true, yes, false, true, not_taken, false},
      // An error after the board's last block: a restart on the last block;
      // with the drive still there the board may hold the file, so it stays.
      {true, false, true, yes, true, true, restarted, false},
      {true, false, true, yes, false, true, failed, false},
      // An error before any family was whole: a pulled cable, whatever the drive does.
      {true, false, true, no, true, false, failed, false},
      {true, false, true, no, false, false, failed, true},
      // Windows cannot tell what reached the drive when copy fails.
      {true, false, true, unknown, true, true, restarted, false},
      {true, false, true, unknown, false, true, failed, false},
      // The destination was never opened for writing (a link, a FIFO, read-only,
      // the source itself): nothing reached the board and nothing is removed,
      // even when the drive then leaves.
      {false, false, false, no, false, false, failed, false},
      {true, false, false, unknown, true, false, failed, false},
      {true, false, false, no, false, false, failed, false},
  };
  for (const VerdictCase& c : cases) {
    CopyObservation seen;
    seen.uf2 = c.uf2;
    seen.copy_ok = c.copy_ok;
    seen.destination_changed = c.changed;
    seen.family_delivered = c.delivered;
    seen.drive_gone = c.drive_gone;
    SCOPED_TRACE(testing::Message() << "uf2 " << c.uf2 << ", copy ok " << c.copy_ok
                                    << ", changed " << c.changed << ", delivered "
                                    << static_cast<int>(c.delivered) << ", gone " << c.drive_gone);
    EXPECT_EQ(restart_expected(seen), c.watch);
    const Verdict verdict = decide_verdict(seen);
    EXPECT_EQ(verdict.outcome, c.outcome);
    EXPECT_EQ(verdict.discard, c.discard);
  }
}

// Several drives at once: the worst outcome decides, a failed copy first.
TEST(Verdict, TheWorstOfSeveralDrivesDecides) {
  using O = Outcome;
  const struct {
    std::vector<Outcome> outcomes;
    Outcome worst;
  } cases[] = {
      {{O::kBoardRestarted, O::kBoardRestarted}, O::kBoardRestarted},
      {{O::kBoardRestarted, O::kCopied}, O::kCopied},
      {{O::kNotFound, O::kNotTaken, O::kBoardRestarted}, O::kNotTaken},
      {{O::kNotTaken, O::kCopyFailed, O::kRefused}, O::kCopyFailed},
      {{O::kRefused, O::kNotFound}, O::kRefused},
      {{O::kCopied, O::kNotFound}, O::kNotFound},
      {{}, O::kNotFound},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(worst_outcome(c.outcomes), c.worst) << c.outcomes.size() << " outcomes";
  }
}

}  // namespace
