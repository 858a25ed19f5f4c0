#include "drive/verdict.h"

// A copy that wrote nothing to the drive delivered nothing, whatever the
// drive does next.
bool restart_expected(const CopyObservation& seen) {
  return seen.uf2 && seen.destination_changed &&
         (seen.copy_ok || seen.family_delivered != Delivered::kNo);
}

Verdict decide_verdict(const CopyObservation& seen) {
  if (!seen.uf2) return seen.copy_ok ? Verdict::kCopied : Verdict::kCopyFailed;
  if (!restart_expected(seen)) return Verdict::kCopyFailed;
  if (seen.drive_gone) return Verdict::kBoardRestarted;
  // The drive stayed: a clean copy the board ignored, or an error the board
  // did not cause.
  return seen.copy_ok ? Verdict::kNotTaken : Verdict::kCopyFailed;
}

bool discard_wanted(const CopyObservation& seen) {
  return decide_verdict(seen) == Verdict::kCopyFailed && seen.destination_changed &&
         !seen.drive_gone && seen.family_delivered == Delivered::kNo;
}
