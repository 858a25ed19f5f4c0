#include "drive/drive_search.h"

#include <cstdio>
#include <vector>

#include "settings/settings.h"
#include "drive/drives.h"
#include "platform/platform.h"

namespace {

constexpr unsigned kPassPauseMs = 500;

SearchResult copy_onto(const std::string& root, const MarkerFile& marker) {
  printf("Find: %s, size %ld\n", marker.name.c_str(), marker.size);
  printf("%s\n", copy_command_line(input_filename, root).c_str());
  fflush(stdout);  // the copy may print too; keep the order
  std::string why;
  if (!copy_to_drive(input_filename, root, &why)) {
    printf("Copy failed: %s\n", why.c_str());
    return SearchResult::kCopyFailed;
  }
  return SearchResult::kCopied;
}

// One look at every removable drive. Returns true, with `result` set, once a
// drive with the marker was found and the copy attempted.
bool search_pass(const std::string& marker, SearchResult* result) {
  std::vector<std::string> roots;
  if (!list_removable_drives(&roots)) return false;
  for (const std::string& root : roots) {
    printf("Removable Disk %s\n", root.c_str());
    MarkerFile found;
    if (find_marker(root, marker, &found)) {
      *result = copy_onto(root, found);
      return true;
    }
  }
  return false;
}

}  // namespace

std::string marker_name(uint32_t family) {
  if (family == 0) return "INFO_UF2.TXT";
  char name[16];
  snprintf(name, sizeof name, "%08X.ID", static_cast<unsigned>(family));
  return name;
}

SearchResult scan_removable_drives() {
  const std::string marker = marker_name(family_id);
  for (;;) {
    SearchResult result;
    if (search_pass(marker, &result)) return result;
    if (times > 0) {
      --times;
      pause_ms(kPassPauseMs);
      printf("times:%d\n", times);
    } else if (times < 0) {
      pause_ms(kPassPauseMs);  // search until found, without a countdown
    }
    if (times == 0) break;
  }
  printf("No bootloader drive found\n");
  return SearchResult::kNotFound;
}
