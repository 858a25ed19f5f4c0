#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "drive/drives.h"

namespace {

// The drive list: root paths such as "E:\", each ended by a zero byte, the
// whole list by an empty entry. Sized by asking first; a drive that appears
// between the two calls makes the second call ask for more, so ask again.
bool logical_drive_strings(std::vector<char>* list) {
  DWORD wanted = GetLogicalDriveStringsA(0, nullptr);
  for (int attempt = 0; attempt < 4 && wanted != 0; ++attempt) {
    list->assign(static_cast<size_t>(wanted) + 1, '\0');
    const DWORD length = GetLogicalDriveStringsA(static_cast<DWORD>(list->size()), list->data());
    if (length == 0) return false;
    if (length < list->size()) return true;
    wanted = length;
  }
  return false;
}

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

}  // namespace

bool list_removable_drives(std::vector<std::string>* roots) {
  std::vector<char> list;
  if (!logical_drive_strings(&list)) return false;
  roots->clear();
  for (const char* root = list.data(); *root != '\0'; root += strlen(root) + 1) {
    if (GetDriveTypeA(root) == DRIVE_REMOVABLE) roots->push_back(root);
  }
  return true;
}

// _findfirst64i32 follows the drive's own name rules: on FAT and NTFS without
// regard to letter case. The name it gives is the one stored on the drive.
bool find_marker(const std::string& root, const std::string& marker, MarkerFile* found) {
  struct _finddata64i32_t entry;
  const intptr_t handle = _findfirst64i32((root + marker).c_str(), &entry);
  if (handle == -1) return false;
  found->name = entry.name;
  found->size = static_cast<long>(entry.size);
  _findclose(handle);
  return true;
}

// The file name stands between double quotes on the copy command line, where
// & | < > ^ ( ) ! and spaces are plain characters. What quotes cannot protect
// is refused here.
bool copy_source_acceptable(const char* source, std::string* why) {
  const std::string name = source;
  if (has_control_character(name)) {  // and the name would break the message's line
    *why = "Refused file name: a control character cannot stand in the copy command line";
  } else if (name.find('"') != std::string::npos) {
    *why = "Refused file name " + name +
           ": a double quote cannot stand in the copy command line";
  } else if (percent_may_expand(name)) {
    *why = "Refused file name " + name +
           ": the command interpreter could replace the text between its % signs";
  } else {
    return true;
  }
  return false;
}

bool copy_to_drive(const std::string& source, const std::string& root, std::string* why) {
  // copy asks before replacing a file of the same name unless told not to; a
  // question nobody answers would hold the tool. The command line stays as
  // printed: the answer goes through copy's own environment variable.
  _putenv("COPYCMD=/Y");
  errno = 0;
  const int status = system(copy_command_line(source, root).c_str());
  if (status == -1) {
    *why = std::string("cannot run the command interpreter: ") + strerror(errno);
    return false;
  }
  if (status != 0) {
    *why = "copy ended with status " + std::to_string(status);
    return false;
  }
  return true;
}
