#include "drive/candidates.h"

std::vector<size_t> choose_candidates(const std::vector<Candidate>& candidates) {
  if (candidates.empty()) return {};
  return {0};
}
