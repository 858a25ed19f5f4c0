#include <vector>

#include "platform/file_posix.h"

#include "trigger/hid_descriptor.h"
#include "trigger/hid_pad.h"
#include "trigger/hid_pad_linux.h"

// hidraw hands a write to the device as it is, without padding it to the
// report length, so short reports reach the device short. The kernel refuses
// writes longer than HID_MAX_BUFFER_SIZE (16384 bytes); a descriptor that
// declares more is treated as unreadable.
namespace {

constexpr size_t kHidrawMaxWrite = 16384;

bool read_descriptor(const std::string& file, std::vector<uint8_t>* bytes) {
  std::string contents;
  if (!read_whole_file(file, &contents)) return false;
  bytes->assign(contents.begin(), contents.end());
  return !bytes->empty();
}

// "hidraw3" for "/dev/hidraw3".
std::string node_name(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

size_t hidraw_write_length(const std::string& sysfs_root, const char* path, unsigned report_id,
                           size_t length) {
  const std::string name = node_name(path);
  size_t payload = kFallbackPayload;
  std::vector<uint8_t> descriptor;
  size_t declared;
  if (!name.empty() && name != "." && name != ".." &&
      read_descriptor(sysfs_root + "/class/hidraw/" + name + "/device/report_descriptor",
                      &descriptor) &&
      output_report_length(descriptor, report_id, &declared) && declared < kHidrawMaxWrite) {
    payload = declared;
  }
  const size_t full = 1 + payload;  // the report id byte comes first
  return full > length ? full : length;
}

size_t hid_write_length(const char* path, unsigned report_id, size_t length) {
  return hidraw_write_length("/sys", path, report_id, length);
}
