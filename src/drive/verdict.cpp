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

int exit_status(Outcome outcome) {
  switch (outcome) {
    case Outcome::kCopied:
    case Outcome::kBoardRestarted:
      return 0;  // the board has the file
    case Outcome::kRefused:
      return 1;
    case Outcome::kNotFound:
      return 2;
    case Outcome::kCopyFailed:
      return 3;
    case Outcome::kNotTaken:
      return 4;
  }
  return 3;
}

const char* outcome_name(Outcome outcome) {
  switch (outcome) {
    case Outcome::kCopied:
      return "copied";
    case Outcome::kBoardRestarted:
      return "board_restarted";
    case Outcome::kNotTaken:
      return "not_taken";
    case Outcome::kCopyFailed:
      return "copy_failed";
    case Outcome::kNotFound:
      return "not_found";
    case Outcome::kRefused:
      return "refused";
  }
  return "copy_failed";
}

namespace {

// Worse outcomes rank higher; the two successes rank 0.
int rank(Outcome outcome) {
  switch (outcome) {
    case Outcome::kCopyFailed:
      return 4;
    case Outcome::kNotTaken:
      return 3;
    case Outcome::kRefused:
      return 2;
    case Outcome::kNotFound:
      return 1;
    default:
      return 0;
  }
}

}  // namespace

Outcome worst_outcome(const std::vector<Outcome>& outcomes) {
  Outcome worst = Outcome::kBoardRestarted;
  for (Outcome outcome : outcomes) {
    if (rank(outcome) > rank(worst) || (rank(worst) == 0 && outcome == Outcome::kCopied)) {
      worst = outcome;
    }
  }
  return outcomes.empty() ? Outcome::kNotFound : worst;
}
