#include "drive/mountinfo.h"

#include <cstdlib>

namespace {

bool is_octal(char c) { return c >= '0' && c <= '7'; }

// Splits one line at spaces; the kernel escapes spaces inside fields.
std::vector<std::string> split_fields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (start < line.size()) {
    size_t end = line.find(' ', start);
    if (end == std::string::npos) end = line.size();
    if (end > start) fields.push_back(line.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

bool parse_device(const std::string& field, unsigned* major, unsigned* minor) {
  const char* text = field.c_str();
  char* end;
  unsigned long ma = strtoul(text, &end, 10);
  if (end == text || *end != ':') return false;
  const char* second = end + 1;
  unsigned long mi = strtoul(second, &end, 10);
  if (end == second || *end != '\0') return false;
  *major = static_cast<unsigned>(ma);
  *minor = static_cast<unsigned>(mi);
  return true;
}

// Fields: id, parent id, major:minor, root, mount point, options, optional
// fields, "-", type, source, super options.
bool parse_line(const std::string& line, MountEntry* entry) {
  std::vector<std::string> fields = split_fields(line);
  if (fields.size() < 5) return false;
  if (!parse_device(fields[2], &entry->major, &entry->minor)) return false;
  entry->root = unescape_mount_field(fields[3]);
  entry->mount_point = unescape_mount_field(fields[4]);
  return true;
}

}  // namespace

std::string unescape_mount_field(const std::string& field) {
  std::string out;
  out.reserve(field.size());
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && is_octal(field[i + 1]) &&
        is_octal(field[i + 2]) && is_octal(field[i + 3])) {
      int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
      out.push_back(static_cast<char>(value));
      i += 3;
    } else {
      out.push_back(field[i]);
    }
  }
  return out;
}

std::vector<MountEntry> parse_mountinfo(const std::string& text) {
  std::vector<MountEntry> entries;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    MountEntry entry;
    if (parse_line(text.substr(start, end - start), &entry)) entries.push_back(std::move(entry));
    start = end + 1;
  }
  return entries;
}
