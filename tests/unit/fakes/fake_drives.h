// A fake OS drive layer: a drive table that can change from pass to pass,
// files to copy held in memory, scripted copy results, a drive that leaves
// after a set number of looks, and drives whose attach or make-writable
// fail. It records every attach, make-writable and release.
#ifndef FLASHDROP_TESTS_FAKE_DRIVES_H_
#define FLASHDROP_TESTS_FAKE_DRIVES_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "drive/drives.h"

struct FakeDrive {
  std::string root;
  std::map<std::string, long> files;  // name as stored -> size
  std::map<std::string, std::vector<uint8_t>> contents = {};  // what read_drive_file reads
  bool attach_fails = false;
  std::string attach_message = "";  // given by a failing attach; may be empty
  bool writable_fails = false;
  std::string writable_reason = "";  // given by a failing make-writable
  UsbPlace usb = {};                 // where its USB device sits
  // Set: this drive's own copy result, and whether it stays after its copy
  // (false: gone at the first look), over the scripted defaults.
  bool own_outcome = false;
  CopyResult copy = {};
  bool stays = true;
  // A drive nobody mounted, left to the desktop until this time on the fake
  // clock: attach declines it before then.
  uint64_t mountable_at_ms = 0;
};

struct FakePass {
  bool listing_fails = false;
  std::vector<FakeDrive> drives;
};

struct FakeCopy {
  std::string source;
  std::string root;
  std::vector<uint8_t> bytes;
  std::vector<uint64_t> piece_ends;
};

namespace fake_drives {

// The table for each pass; passes beyond the script see the last entry.
void script(const std::vector<FakePass>& passes);
// A file open_source can open, with its bytes.
void source_file(const std::string& name, const std::vector<uint8_t>& bytes);
// What every copy returns (default: ok, the destination written, the whole
// file acknowledged).
void copy_result(const CopyResult& result);
// The drive is still there for this many looks after the copy, then gone;
// -1 (the default) keeps it there.
void leave_after_looks(int looks);
int passes_listed();
const std::vector<FakeCopy>& copies();
const std::vector<std::string>& discarded();  // roots
// The roots of the drives attached (successfully), made writable and released,
// in call order.
const std::vector<std::string>& attached();
const std::vector<std::string>& made_writable();
const std::vector<std::string>& released();
void reset();

}  // namespace fake_drives

#endif  // FLASHDROP_TESTS_FAKE_DRIVES_H_
