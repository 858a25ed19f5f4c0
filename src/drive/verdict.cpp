#include "drive/verdict.h"

// A copy that wrote nothing to the drive delivered nothing, whatever the
// drive does next.
bool restart_expected(const CopyObservation& seen) {
  return seen.uf2 && seen.destination_changed &&
         (seen.copy_ok || seen.family_delivered != Delivered::kNo);
}

namespace {

Outcome outcome_of(const CopyObservation& seen) {
  if (!seen.uf2) return seen.copy_ok ? Outcome::kCopied : Outcome::kCopyFailed;
  if (!restart_expected(seen)) return Outcome::kCopyFailed;
  if (seen.drive_gone) return Outcome::kBoardRestarted;
  // The drive stayed: a clean copy the board ignored, or an error the board
  // did not cause.
  return seen.copy_ok ? Outcome::kNotTaken : Outcome::kCopyFailed;
}

}  // namespace

Verdict decide_verdict(const CopyObservation& seen) {
  const Outcome outcome = outcome_of(seen);
  const bool discard = outcome == Outcome::kCopyFailed && seen.destination_changed &&
                       !seen.drive_gone && seen.family_delivered == Delivered::kNo;
  return {outcome, discard};
}
