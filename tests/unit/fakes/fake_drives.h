// A fake drive table in place of the OS drive layer. Each listing of the
// drives is one search pass; the table can change from pass to pass.
#ifndef FLASHDROP_TESTS_FAKE_DRIVES_H_
#define FLASHDROP_TESTS_FAKE_DRIVES_H_

#include <map>
#include <string>
#include <vector>

struct FakeDrive {
  std::string root;
  std::map<std::string, long> files;  // name as stored -> size
};

struct FakePass {
  bool listing_fails = false;
  std::vector<FakeDrive> drives;
};

struct FakeCopy {
  std::string source;
  std::string root;
};

namespace fake_drives {

// The table for each pass; passes beyond the script see the last entry.
void script(const std::vector<FakePass>& passes);
// Makes every copy fail with `why` (or succeed when empty).
void fail_copies(const std::string& why);
int passes_listed();
const std::vector<FakeCopy>& copies();
void reset();

}  // namespace fake_drives

#endif  // FLASHDROP_TESTS_FAKE_DRIVES_H_
