#include "fakes/fake_drives.h"

#include <strings.h>

#include "drive/drives.h"

namespace {

std::vector<FakePass> g_passes;
int g_listed = 0;
std::string g_copy_failure;
std::vector<FakeCopy> g_copies;

const FakePass& current_pass() {
  static const FakePass kEmpty;
  if (g_passes.empty()) return kEmpty;
  size_t index = g_listed == 0 ? 0 : static_cast<size_t>(g_listed - 1);
  return index < g_passes.size() ? g_passes[index] : g_passes.back();
}

}  // namespace

namespace fake_drives {
void script(const std::vector<FakePass>& passes) { g_passes = passes; }
void fail_copies(const std::string& why) { g_copy_failure = why; }
int passes_listed() { return g_listed; }
const std::vector<FakeCopy>& copies() { return g_copies; }
void reset() {
  g_passes.clear();
  g_listed = 0;
  g_copy_failure.clear();
  g_copies.clear();
}
}  // namespace fake_drives

bool list_removable_drives(std::vector<std::string>* roots) {
  ++g_listed;
  const FakePass& pass = current_pass();
  if (pass.listing_fails) return false;
  roots->clear();
  for (const FakeDrive& drive : pass.drives) roots->push_back(drive.root);
  return true;
}

bool find_marker(const std::string& root, const std::string& marker, MarkerFile* found) {
  for (const FakeDrive& drive : current_pass().drives) {
    if (drive.root != root) continue;
    for (const auto& file : drive.files) {
      if (strcasecmp(file.first.c_str(), marker.c_str()) == 0) {
        *found = MarkerFile{file.first, file.second};
        return true;
      }
    }
  }
  return false;
}

bool copy_source_acceptable(const char*, std::string*) { return true; }

bool copy_to_drive(const std::string& source, const std::string& root, std::string* why) {
  g_copies.push_back({source, root});
  if (g_copy_failure.empty()) return true;
  *why = g_copy_failure;
  return false;
}
