#include "fakes/fake_drives.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "platform/platform.h"

namespace {

std::vector<FakePass> g_passes;
int g_listed = 0;
std::map<std::string, std::vector<uint8_t>> g_sources;
bool g_result_scripted = false;
CopyResult g_result;
int g_looks_left = -1;
std::vector<FakeCopy> g_copies;
std::vector<std::string> g_discarded;
std::vector<std::string> g_attached;
std::vector<std::string> g_made_writable;
std::vector<std::string> g_released;

const FakePass& current_pass() {
  static const FakePass kEmpty;
  if (g_passes.empty()) return kEmpty;
  size_t index = g_listed == 0 ? 0 : static_cast<size_t>(g_listed - 1);
  return index < g_passes.size() ? g_passes[index] : g_passes.back();
}

const FakeDrive* drive_at(const std::string& root) {
  for (const FakeDrive& drive : current_pass().drives) {
    if (drive.root == root) return &drive;
  }
  return nullptr;
}

}  // namespace

UsbPlace usb_place_of_drive(const Drive& drive) {
  const FakeDrive* fake = drive_at(drive.root);
  return fake != nullptr ? fake->usb : UsbPlace();
}

bool drive_named(const Drive& drive, const std::string& name) { return drive.root == name; }

namespace fake_drives {
void script(const std::vector<FakePass>& passes) { g_passes = passes; }
void source_file(const std::string& name, const std::vector<uint8_t>& bytes) {
  g_sources[name] = bytes;
}
void copy_result(const CopyResult& result) {
  g_result = result;
  g_result_scripted = true;
}
void leave_after_looks(int looks) { g_looks_left = looks; }
int passes_listed() { return g_listed; }
const std::vector<FakeCopy>& copies() { return g_copies; }
const std::vector<std::string>& discarded() { return g_discarded; }
const std::vector<std::string>& attached() { return g_attached; }
const std::vector<std::string>& made_writable() { return g_made_writable; }
const std::vector<std::string>& released() { return g_released; }
void reset() {
  g_passes.clear();
  g_listed = 0;
  g_sources.clear();
  g_result_scripted = false;
  g_result = CopyResult();
  g_looks_left = -1;
  g_copies.clear();
  g_discarded.clear();
  g_attached.clear();
  g_made_writable.clear();
  g_released.clear();
}
}  // namespace fake_drives

bool open_source(const char* name, SourceFile* source, SourceRefusal* refusal) {
  source->name = name;
  const auto it = g_sources.find(name);
  if (it == g_sources.end()) {
    refusal->reason = "No such file or directory";
    return false;
  }
  source->size = it->second.size();
  source->handle = 1;
  return true;
}

long read_source_at(const SourceFile& source, uint64_t offset, void* buffer, size_t size) {
  const std::vector<uint8_t>& bytes = g_sources.at(source.name);
  if (offset >= bytes.size()) return 0;
  const size_t n = std::min<size_t>(size, bytes.size() - offset);
  memcpy(buffer, bytes.data() + offset, n);
  return static_cast<long>(n);
}

void close_source(SourceFile* source) { source->handle = -1; }

bool list_removable_drives(std::vector<Drive>* drives) {
  ++g_listed;
  const FakePass& pass = current_pass();
  if (pass.listing_fails) return false;
  drives->clear();
  for (const FakeDrive& fake : pass.drives) {
    Drive drive;
    drive.root = fake.root;
    drives->push_back(drive);
  }
  return true;
}

bool attach_drive(Drive* drive, std::string* message) {
  const FakeDrive* fake = drive_at(drive->root);
  if (fake != nullptr && fake->attach_fails) {
    *message = fake->attach_message;
    return false;
  }
  if (fake != nullptr && monotonic_ms() < fake->mountable_at_ms) {
    drive->attach_in_ms = fake->mountable_at_ms - monotonic_ms();
    return false;
  }
  g_attached.push_back(drive->root);
  return true;
}

bool make_drive_writable(Drive* drive, std::string* why) {
  g_made_writable.push_back(drive->root);
  const FakeDrive* fake = drive_at(drive->root);
  if (fake == nullptr || !fake->writable_fails) return true;
  *why = fake->writable_reason;
  return false;
}

void release_drive(Drive* drive) { g_released.push_back(drive->root); }

bool find_marker(Drive* listed, const std::string& marker, MarkerFile* found) {
  const FakeDrive* drive = drive_at(listed->root);
  if (drive == nullptr) return false;
  for (const auto& file : drive->files) {
    if (strcasecmp(file.first.c_str(), marker.c_str()) == 0) {
      *found = MarkerFile{file.first, file.second};
      return true;
    }
  }
  return false;
}

bool read_drive_file(const Drive& listed, const std::string& name, size_t size,
                     std::vector<uint8_t>* bytes) {
  const FakeDrive* drive = drive_at(listed.root);
  if (drive == nullptr) return false;
  for (const auto& file : drive->contents) {
    if (strcasecmp(file.first.c_str(), name.c_str()) != 0) continue;
    bytes->assign(file.second.begin(),
                  file.second.begin() + static_cast<long>(std::min(size, file.second.size())));
    return true;
  }
  return false;
}

// Copies run on several threads at once with --all.
std::mutex g_copy_lock;

bool drive_still_there(const Drive& drive, const std::string&) {
  std::lock_guard<std::mutex> hold(g_copy_lock);
  const FakeDrive* fake = drive_at(drive.root);
  if (fake != nullptr && fake->own_outcome) return fake->stays;
  if (g_looks_left < 0) return true;
  if (g_looks_left == 0) return false;
  --g_looks_left;
  return true;
}

CopyResult copy_to_drive(const CopyJob& job, const Drive& drive) {
  const SourceFile& source = *job.source;
  std::lock_guard<std::mutex> hold(g_copy_lock);
  g_copies.push_back({job.name, drive.root, job.bytes ? *job.bytes : std::vector<uint8_t>(),
                      job.piece_ends});
  const FakeDrive* fake = drive_at(drive.root);
  if (fake != nullptr && fake->own_outcome) return fake->copy;
  if (g_result_scripted) return g_result;
  CopyResult result;
  result.ok = true;
  result.destination_changed = true;
  result.acknowledged = source.size;
  result.acknowledged_known = true;
  return result;
}

void discard_copy(const CopyJob&, const Drive& drive) {
  std::lock_guard<std::mutex> hold(g_copy_lock);
  g_discarded.push_back(drive.root);
}
