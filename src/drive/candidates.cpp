#include "drive/candidates.h"

#include <algorithm>

namespace {

bool on_port(const std::vector<std::string>& ports, const std::string& port) {
  return !port.empty() && std::find(ports.begin(), ports.end(), port) != ports.end();
}

bool any_known(const std::vector<std::string>& ports) {
  return std::any_of(ports.begin(), ports.end(), [](const std::string& p) { return !p.empty(); });
}

}  // namespace

Chosen choose_candidates(const std::vector<Candidate>& candidates, const Choice& choice) {
  Chosen chosen;
  const bool by_port = !choice.all && any_known(choice.triggered_ports);
  std::vector<size_t> on_triggered, unknown;
  for (size_t i = 0; i < candidates.size(); ++i) {
    const Candidate& candidate = candidates[i];
    if (!by_port || candidate.place.port.empty()) {
      unknown.push_back(i);
    } else if (on_port(choice.triggered_ports, candidate.place.port)) {
      on_triggered.push_back(i);
    } else {
      chosen.passed_over.push_back(i);
    }
  }
  std::vector<size_t> left = on_triggered;
  left.insert(left.end(), unknown.begin(), unknown.end());
  if (left.empty()) return chosen;
  if (choice.all) {
    chosen.flash = left;
    return chosen;
  }
  chosen.flash = {left.front()};
  chosen.others.assign(left.begin() + 1, left.end());
  std::sort(chosen.others.begin(), chosen.others.end());
  return chosen;
}
