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

namespace {

// Each outcome's exit status, its name in JSON events, and how bad it is
// among several drives (the two successes rank 0).
struct OutcomeFacts {
  Outcome outcome;
  int status;
  const char* name;
  int rank;
};

constexpr OutcomeFacts kOutcomes[] = {
    {Outcome::kCopied, 0, "copied", 0},
    {Outcome::kBoardRestarted, 0, "board_restarted", 0},
    {Outcome::kNotFound, 2, "not_found", 1},
    {Outcome::kRefused, 1, "refused", 2},
    {Outcome::kNotTaken, 4, "not_taken", 3},
    {Outcome::kCopyFailed, 3, "copy_failed", 4},
};

const OutcomeFacts& facts_of(Outcome outcome) {
  for (const OutcomeFacts& facts : kOutcomes) {
    if (facts.outcome == outcome) return facts;
  }
  return kOutcomes[5];  // not reached: every outcome is in the table
}

}  // namespace

int exit_status(Outcome outcome) { return facts_of(outcome).status; }

const char* outcome_name(Outcome outcome) { return facts_of(outcome).name; }

Outcome worst_outcome(const std::vector<Outcome>& outcomes) {
  if (outcomes.empty()) return Outcome::kNotFound;
  Outcome worst = Outcome::kBoardRestarted;
  for (Outcome outcome : outcomes) {
    const int rank = facts_of(outcome).rank, worst_rank = facts_of(worst).rank;
    if (rank > worst_rank || (worst_rank == 0 && outcome == Outcome::kCopied)) worst = outcome;
  }
  return worst;
}
