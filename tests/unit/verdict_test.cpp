#include "drive/verdict.h"

#include <gtest/gtest.h>

namespace {

struct VerdictCase {
  bool uf2, copy_ok;
  Delivered delivered;
  bool drive_gone;
  bool watch;  // restart_expected
  Verdict verdict;
};

// Every combination the OS layers can report.
TEST(Verdict, FollowsWhatTheBoardDid) {
  const Delivered no = Delivered::kNo, yes = Delivered::kYes, unknown = Delivered::kUnknown;
  const Verdict copied = Verdict::kCopied, restarted = Verdict::kBoardRestarted,
                not_taken = Verdict::kNotTaken, failed = Verdict::kCopyFailed;
  const VerdictCase cases[] = {
      // Not a UF2 file: the copy's own result, no wait.
      {false, true, no, false, false, copied},
      {false, true, no, true, false, copied},
      {false, false, no, false, false, failed},
      {false, false, no, true, false, failed},
      // A clean UF2 copy: the restart decides.
      {true, true, yes, true, true, restarted},
      {true, true, yes, false, true, not_taken},
      // An error after the board's last block: a restart on the last block.
      {true, false, yes, true, true, restarted},
      {true, false, yes, false, true, failed},
      // An error before any family was whole: a pulled cable, whatever the drive does.
      {true, false, no, true, false, failed},
      {true, false, no, false, false, failed},
      // Windows cannot tell what reached the drive when copy fails.
      {true, false, unknown, true, true, restarted},
      {true, false, unknown, false, true, failed},
  };
  for (const VerdictCase& c : cases) {
    CopyObservation seen;
    seen.uf2 = c.uf2;
    seen.copy_ok = c.copy_ok;
    seen.family_delivered = c.delivered;
    seen.drive_gone = c.drive_gone;
    SCOPED_TRACE(testing::Message() << "uf2 " << c.uf2 << ", copy ok " << c.copy_ok
                                    << ", delivered " << static_cast<int>(c.delivered)
                                    << ", gone " << c.drive_gone);
    EXPECT_EQ(restart_expected(seen), c.watch);
    EXPECT_EQ(decide_verdict(seen), c.verdict);
  }
}

}  // namespace
