#include "drive/win32/file_names.h"

namespace {

// The command interpreter expands %NAME% on its command line, double quotes
// or not, whenever NAME is a variable (its own dynamic ones such as %CD% and
// %RANDOM% included), and an undefined %NAME% stays as typed but the scan
// resumes inside it. So any two % signs with something between them may be
// replaced by other text. %% standing together names nothing, and a lone %
// ends nothing: both reach copy unchanged.
bool percent_may_expand(const std::string& name) {
  const size_t first = name.find('%');
  if (first == std::string::npos) return false;
  const size_t run_end = name.find_first_not_of('%', first);
  return run_end != std::string::npos && name.find('%', run_end) != std::string::npos;
}

bool has_control_character(const std::string& name) {
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

// \\.\ names a device (\\.\COM5, \\.\PhysicalDrive0) and \\?\ a path the
// system passes on unchecked; neither is a file to hand to copy.
bool is_device_path(const std::string& name) {
  auto slash = [](char c) { return c == '\\' || c == '/'; };
  return name.size() >= 4 && slash(name[0]) && slash(name[1]) &&
         (name[2] == '.' || name[2] == '?') && slash(name[3]);
}

// Windows opens these names as devices in any folder, with any extension and
// with trailing spaces or dots: "nul.uf2" is NUL, "C:\x\com5 .uf2" is COM5.
// Opening one may do harm (a COM port's lines change, which resets some
// boards) or never end (copy reading COM5), so the name alone decides. The
// superscript digits are accepted in UTF-8 (the manifest's code page) and in
// the legacy Western code page.
std::string reserved_device(const std::string& component) {
  std::string stem = component.substr(0, component.find_first_of(".:"));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return stem;
  if (stem.compare(0, 3, "COM") != 0 && stem.compare(0, 3, "LPT") != 0) return "";
  const std::string digit = stem.size() > 3 ? stem.substr(3) : "";
  static const char* const kDigits[] = {"1", "2", "3", "4", "5", "6", "7", "8", "9",
                                        "\xC2\xB9", "\xC2\xB2", "\xC2\xB3",  // UTF-8 ¹ ² ³
                                        "\xB9", "\xB2", "\xB3"};             // Windows-1252
  for (const char* d : kDigits) {
    if (digit == d) return stem;
  }
  return "";
}

std::string reserved_device_in_path(const std::string& name) {
  size_t start = 0;
  for (;;) {
    const size_t end = name.find_first_of("\\/", start);
    const std::string device = reserved_device(name.substr(start, end - start));
    if (!device.empty() || end == std::string::npos) return device;
    start = end + 1;
  }
}

}  // namespace

// Decided by the name alone: nothing is opened. The name stands between
// double quotes on the copy command line, where & | < > ^ ( ) and spaces are
// plain characters (and ! too, delayed expansion being off).
std::string name_refusal(const std::string& name, size_t full_path_length, bool* name_shown) {
  *name_shown = true;
  if (has_control_character(name)) {  // and the name would break the message's line
    *name_shown = false;
    return "a control character cannot stand in the copy command line";
  }
  if (name.find('"') != std::string::npos) {
    return "a double quote cannot stand in the copy command line";
  }
  if (percent_may_expand(name)) {
    return "the command interpreter could replace the text between its % signs";
  }
  if (is_device_path(name)) return "a device path is not a file to copy";
  // The runtime expands wildcards at start-up and leaves a pattern that
  // matched nothing as typed; copy would take the pattern as one.
  if (name.find_first_of("*?") != std::string::npos) {
    return "no file matches it (* and ? are wildcards)";
  }
  const std::string device = reserved_device_in_path(name);
  if (!device.empty()) return device + " is a device on Windows, not a file";
  if (full_path_length > kLongestCopyPath) {
    return "its full path is " + std::to_string(full_path_length) +
           " characters long, and copy takes at most " + std::to_string(kLongestCopyPath);
  }
  return "";
}
