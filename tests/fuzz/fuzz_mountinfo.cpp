// Fuzzes the mount-table parser: any text, never a crash, and every entry it
// keeps has a mount point no longer than its escaped field.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "drive/mountinfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const MountEntry& entry : parse_mountinfo(text)) {
    if (entry.mount_point.size() > text.size() || entry.root.size() > text.size()) abort();
  }
  const std::string unescaped = unescape_mount_field(text);
  if (unescaped.size() > text.size()) abort();
  return 0;
}
