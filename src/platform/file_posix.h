// Reading small system files (/proc, sysfs) with plain POSIX calls: no
// iostreams, whose locale set-up would cost every run of the tool.
#ifndef FLASHDROP_PLATFORM_FILE_POSIX_H_
#define FLASHDROP_PLATFORM_FILE_POSIX_H_

#include <string>

// Reads the whole file. /proc and sysfs report a size of 0, so this reads
// until end of file rather than trusting the size.
bool read_whole_file(const std::string& path, std::string* contents);

// Reads a small attribute file (sysfs) at `relative` below the directory
// `dir`, without its trailing newline.
bool read_attribute(int dir, const std::string& relative, std::string* value);

#endif  // FLASHDROP_PLATFORM_FILE_POSIX_H_
