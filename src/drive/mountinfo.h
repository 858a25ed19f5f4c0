// Parser for the Linux mount table as /proc/<pid>/mountinfo shows it. Pure:
// it is given the text, so it can be fed captured tables and fuzzed.
#ifndef FLASHDROP_DRIVE_MOUNTINFO_H_
#define FLASHDROP_DRIVE_MOUNTINFO_H_

#include <string>
#include <vector>

struct MountEntry {
  unsigned major;
  unsigned minor;
  std::string root;         // the directory of the file system mounted here
  std::string mount_point;  // unescaped
};

// Parses every well-formed line, in table order; malformed lines are skipped.
std::vector<MountEntry> parse_mountinfo(const std::string& text);

// Undoes the kernel's octal escapes (\040 for a space, \134 for a backslash).
std::string unescape_mount_field(const std::string& field);

#endif  // FLASHDROP_DRIVE_MOUNTINFO_H_
