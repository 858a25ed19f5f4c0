// The operating-system layer under the drive search: which drives are
// removable, whether one carries the bootloader's marker, and the copy.
// One implementation per OS (drives_linux.cpp, drives_win32.cpp).
#ifndef FLASHDROP_DRIVE_DRIVES_H_
#define FLASHDROP_DRIVE_DRIVES_H_

#include <string>
#include <vector>

struct MarkerFile {
  std::string name;  // as stored on the drive
  long size;
};

// Fills `roots` with the removable drives' root paths (Windows: "E:\",
// Linux: mount points), in the system's order. Returns false when the drives
// cannot be listed.
bool list_removable_drives(std::vector<std::string>* roots);

// Looks up `marker` in the root directory of the drive at `root`, without
// regard to letter case. A directory of that name counts as found.
bool find_marker(const std::string& root, const std::string& marker, MarkerFile* found);

// Checks, before anything else runs, that `source` can be handed to the copy
// unchanged. Returns false and sets `why` when it cannot.
bool copy_source_acceptable(const char* source, std::string* why);

// Copies the file `source` into the root of the drive at `root` under its own
// base name. Returns true only when every step of the copy succeeded;
// otherwise sets `why` to a one-line reason.
bool copy_to_drive(const std::string& source, const std::string& root, std::string* why);

// The copy command line the tool prints before the copy.
inline std::string copy_command_line(const std::string& source, const std::string& root) {
  return "copy \"" + source + "\" " + root;
}

#endif  // FLASHDROP_DRIVE_DRIVES_H_
