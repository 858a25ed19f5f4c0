// The Windows copy: the file to copy checked by name and held open before
// anything runs, and the command interpreter's own copy, checked afterwards
// on the drive.
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "drive/copy_progress.h"
#include "drive/drives.h"
#include "drive/win32/file_names.h"
#include "drive/win32/system_win32.h"
#include "platform/platform.h"

namespace {

// The length of the path copy resolves the name to, in UTF-16 units.
size_t full_path_length(const std::string& name) {
  const int units = MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, nullptr, 0);
  if (units <= 0) return name.size();
  std::wstring wide(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, &wide[0], units);
  const DWORD full = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  return full > 0 ? full - 1 : wide.size() - 1;
}

// The interpreter the system's own programs run: %ComSpec%, else cmd.exe in
// the system folder.
std::string command_interpreter() {
  std::string path = environment_value("ComSpec");
  if (!path.empty()) return path;
  char folder[MAX_PATH];
  const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
  return (length > 0 && length < MAX_PATH ? std::string(folder, length) : "C:\\Windows\\System32") +
         "\\cmd.exe";
}

// A standard handle the child can inherit, or null when there is none.
HANDLE inheritable_copy(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  HANDLE copy = nullptr;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                       DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  return copy;
}

// The null device, for the output of a copy that prints nothing.
HANDLE inheritable_null_device() {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  const HANDLE null = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &inherit, OPEN_EXISTING, 0, nullptr);
  return null != INVALID_HANDLE_VALUE ? null : nullptr;
}

// The name in an environment entry: "Path" in "Path=C:\Windows", "=C:" in
// "=C:=C:\tmp" (the current folder of drive C:, which the interpreter uses).
std::wstring variable_name(const std::wstring& entry) {
  return entry.substr(0, entry.find(L'=', 1));
}

// The tool's environment for the interpreter, with `setting` ("NAME=value")
// in place of any value NAME has, before the first name above NAME without
// regard to case. The tool's own environment is left alone: every thread
// shares it, and copies may run on several at once.
std::vector<wchar_t> environment_with(const std::wstring& setting) {
  const std::wstring name = variable_name(setting);
  std::vector<std::wstring> entries;
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
      if (_wcsicmp(variable_name(entry).c_str(), name.c_str()) != 0) entries.emplace_back(entry);
    }
    FreeEnvironmentStringsW(block);
  }
  auto at = entries.begin();
  while (at != entries.end() && _wcsicmp(variable_name(*at).c_str(), name.c_str()) < 0) ++at;
  entries.insert(at, setting);
  std::vector<wchar_t> environment;
  for (const std::wstring& entry : entries) {
    environment.insert(environment.end(), entry.begin(), entry.end());
    environment.push_back(L'\0');
  }
  environment.push_back(L'\0');
  return environment;
}

// What the interpreter writes while the progress line is drawn. copy writes
// its "1 file(s) copied." only as it ends, so its output goes through a pipe
// and is passed on once the line is erased: the console then shows exactly
// what it shows without the line. The interpreter writes redirected output
// in the console's code page, which is also the tool's: the bytes pass on as
// they are.
struct ChildOutput {
  HANDLE read = nullptr;
  HANDLE write = nullptr;  // the child's standard output
};

bool open_child_output(ChildOutput* output) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  if (!CreatePipe(&output->read, &output->write, &inherit, 0)) return false;
  SetHandleInformation(output->read, HANDLE_FLAG_INHERIT, 0);
  return true;
}

// Erases the line and passes on what the child wrote so far. False when
// there was nothing.
bool pass_on(HANDLE read) {
  DWORD waiting = 0;
  if (read == nullptr || !PeekNamedPipe(read, nullptr, 0, nullptr, &waiting, nullptr) || waiting == 0) return false;
  copy_progress_end();  // nothing is drawn after the child's first words
  char chunk[4096];
  DWORD got = 0, put = 0;
  while (PeekNamedPipe(read, nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0 &&
         ReadFile(read, chunk, sizeof chunk, &got, nullptr) && got > 0) {
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), chunk, got, &put, nullptr);
  }
  return true;
}

// Waits for the interpreter, telling the progress line how large the file
// on the drive has grown: Windows tells no more of what the drive took.
void wait_for_copy(HANDLE process, const std::string& dest, const ChildOutput& output) {
  constexpr DWORD kLookEveryMs = 100;
  const bool looking = output.read != nullptr || copy_progress_wanted();
  while (WaitForSingleObject(process, looking ? kLookEveryMs : INFINITE) == WAIT_TIMEOUT) {
    uint64_t size;
    if (!pass_on(output.read) && file_size(dest, &size)) copy_progress(size);
  }
  if (output.read == nullptr) return;
  copy_progress_end();
  pass_on(output.read);
  CloseHandle(output.read);
}

// Runs `command` through the interpreter with the tool's standard handles,
// or with its output going to the null device when `quiet`; returns its exit
// status, or -1 with `why` set when it cannot be started. While it runs,
// the copy's progress follows the size of `dest`.
//   /d      no AutoRun command from the registry runs first (it could change
//           folder or print)
//   /v:off  no delayed expansion, which the registry can turn on by default
//           and which would take !NAME! in a file name for a variable
//   /c      the rest of the line is the command; it starts with "copy", so
//           no quote is stripped from it
long run_interpreter(const std::string& command, const std::string& dest, bool quiet,
                     std::string* why) {
  const std::string interpreter = command_interpreter();
  std::string line = "\"" + interpreter + "\" /d /v:off /c " + command;
  ChildOutput output;
  if (quiet || !stdout_is_terminal() || !open_child_output(&output)) output = ChildOutput();
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inheritable_copy(STD_INPUT_HANDLE);
  startup.hStdOutput = quiet                    ? inheritable_null_device()
                       : output.write != nullptr ? output.write
                                                 : inheritable_copy(STD_OUTPUT_HANDLE);
  startup.hStdError = inheritable_copy(STD_ERROR_HANDLE);
  // copy asks before replacing a file of the same name unless told not to,
  // and a question nobody answers would hold the tool. The command line
  // stays as printed: the answer goes through copy's own variable, in the
  // interpreter's environment only.
  std::vector<wchar_t> environment = environment_with(L"COPYCMD=/Y");
  PROCESS_INFORMATION process;
  const BOOL started = CreateProcessA(interpreter.c_str(), &line[0], nullptr, nullptr, TRUE,
                                      CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr,
                                      &startup, &process);
  const DWORD start_error = GetLastError();
  for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
    if (handle != nullptr) CloseHandle(handle);
  }
  if (!started) {
    if (output.read != nullptr) CloseHandle(output.read);
    *why = "cannot run the command interpreter " + interpreter + ": " + system_message(start_error);
    return -1;
  }
  CloseHandle(process.hThread);
  wait_for_copy(process.hProcess, dest, output);
  DWORD status = 1;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hProcess);
  return static_cast<long>(status);
}

// copy's status is not the last word: given a path it cannot handle, it says
// so and ends with status 0 all the same. The file must be on the drive, as
// large as the source.
bool check_copied(const SourceFile& source, const std::string& dest, std::string* why) {
  uint64_t size;
  if (!file_size(dest, &size)) {
    *why = "copy reported success but " + dest + " is not on the drive";
    return false;
  }
  if (size != source.size) {
    *why = "copy reported success but " + dest + " holds " + std::to_string(size) +
           " bytes, expected " + std::to_string(source.size);
    return false;
  }
  return true;
}

// ---- What was checked, and what the copy changed ---------------------------

HANDLE held(const SourceFile& source) { return reinterpret_cast<HANDLE>(source.handle); }

// Whether the name still leads to the file opened at the start: 1 yes, 0 no
// (removed, or another file now), -1 it cannot be told (`error` says why).
// The open asks for no access, which the held file's share mode admits.
int name_leads_to_held_file(const SourceFile& source, DWORD* error) {
  const HANDLE named = CreateFileA(source.name.c_str(), 0,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (named == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return is_missing(*error) ? 0 : -1;
  }
  BY_HANDLE_FILE_INFORMATION now, then;
  int same = -1;
  if (GetFileInformationByHandle(named, &now) &&
      GetFileInformationByHandle(held(source), &then)) {
    same = now.dwVolumeSerialNumber == then.dwVolumeSerialNumber &&
           now.nFileIndexHigh == then.nFileIndexHigh && now.nFileIndexLow == then.nFileIndexLow;
  } else {
    *error = GetLastError();
  }
  CloseHandle(named);
  return same;
}

// How the held file differs from `bytes`, the whole file as it was checked:
// empty when it holds them; "unreadable" set when it cannot be read.
std::string bytes_difference(const SourceFile& source, const std::vector<uint8_t>& bytes,
                             bool* unreadable) {
  uint8_t chunk[64 * 1024];
  for (uint64_t offset = 0; offset < bytes.size();) {
    const long got = read_source_at(source, offset, chunk, sizeof chunk);
    if (got <= 0 || static_cast<uint64_t>(got) > bytes.size() - offset) {
      *unreadable = got < 0;
      return got < 0 ? system_message(GetLastError()) : "its size changed as it was read";
    }
    const size_t n = static_cast<size_t>(got);
    if (memcmp(chunk, bytes.data() + offset, n) != 0) {
      size_t at = 0;
      while (chunk[at] == bytes[offset + at]) ++at;
      return "its bytes differ from those checked at offset " + std::to_string(offset + at);
    }
    offset += n;
  }
  return "";
}

// True when the file named on the command line is still the file opened,
// of its size and, when `bytes` holds what was checked, holding exactly that.
// Else `why` tells what changed `since`.
bool source_unchanged(const SourceFile& source, const std::vector<uint8_t>& bytes,
                      const std::string& since, std::string* why) {
  const std::string changed = "the file changed " + since + ": ";
  DWORD error = 0;
  const int same_file = name_leads_to_held_file(source, &error);
  if (same_file <= 0) {
    *why = same_file == 0 ? changed + source.name + " no longer names the file that was checked"
                          : "the file cannot be examined again: " + system_message(error);
    return false;
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(held(source), &size)) {
    *why = "the file cannot be examined again: " + system_message(GetLastError());
    return false;
  }
  if (static_cast<uint64_t>(size.QuadPart) != source.size) {
    *why = changed + "it holds " + std::to_string(size.QuadPart) + " bytes, not " +
           std::to_string(source.size);
    return false;
  }
  bool unreadable = false;
  const std::string difference = bytes_difference(source, bytes, &unreadable);
  if (difference.empty()) return true;
  *why = unreadable ? "the file cannot be read again: " + difference : changed + difference;
  return false;
}

// What stands at the destination: enough to tell afterwards whether the
// copy created, truncated or rewrote it. A path looked at and surely empty
// (the drive's root there, the file not) is known too. `witness` is another
// entry of the root (the marker, say): gone afterwards, the drive itself
// left, and nothing can be told of the file.
struct DestinationState {
  bool known = false;
  bool exists = false;
  WIN32_FILE_ATTRIBUTE_DATA data;
  std::string witness;
};

// The first entry of the root other than `name`, or nothing.
std::string other_entry(const std::string& root, const std::string& name) {
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA((root + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return "";
  std::string entry;
  do {
    if (lstrcmpiA(found.cFileName, name.c_str()) != 0 && strcmp(found.cFileName, ".") != 0 &&
        strcmp(found.cFileName, "..") != 0) {
      entry = found.cFileName;
    }
  } while (entry.empty() && FindNextFileA(search, &found));
  FindClose(search);
  return entry;
}

DestinationState destination_state(const std::string& root, const std::string& dest) {
  DestinationState state;
  ZeroMemory(&state.data, sizeof state.data);
  if (GetFileAttributesExA(dest.c_str(), GetFileExInfoStandard, &state.data)) {
    state.known = state.exists = true;
  } else if (GetLastError() == ERROR_FILE_NOT_FOUND) {
    state.known = GetFileAttributesA(root.c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  state.witness = other_entry(root, base_name(dest));
  return state;
}

bool same_time(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// Unchanged only when both looks saw the same: nothing, or the same file of
// the same size, times and attributes, on a drive that still shows what it
// showed before.
bool same_destination(const DestinationState& a, const DestinationState& b) {
  if (!a.known || !b.known || a.exists != b.exists) return false;
  if (!a.witness.empty() && b.witness.empty()) return false;
  if (!a.exists) return true;
  return a.data.dwFileAttributes == b.data.dwFileAttributes &&
         a.data.nFileSizeHigh == b.data.nFileSizeHigh &&
         a.data.nFileSizeLow == b.data.nFileSizeLow &&
         same_time(a.data.ftCreationTime, b.data.ftCreationTime) &&
         same_time(a.data.ftLastWriteTime, b.data.ftLastWriteTime);
}

}  // namespace

bool open_source(const char* name, SourceFile* source, SourceRefusal* refusal) {
  refusal->reason = name_refusal(name, full_path_length(name), &refusal->name_shown);
  if (!refusal->reason.empty()) return false;
  std::string& why = refusal->reason;
  const DWORD attributes = GetFileAttributesA(name);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    why = is_missing(error) ? std::string("no such file")
                            : "it cannot be read (" + system_message(error) + ")";
    return false;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    why = "it is a folder, not a file";  // copy would take every file in it
    return false;
  }
  // Held until the end with readers admitted (copy among them) and no
  // writer: nothing on this system can change, replace or remove the file
  // between its check and the copy. A file being written now cannot be opened.
  const HANDLE handle = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    why = "it cannot be opened (" + system_message(GetLastError()) + ")";
    return false;
  }
  LARGE_INTEGER size;
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &size)) {
    CloseHandle(handle);
    why = "it is not a file on a disk";
    return false;
  }
  source->name = name;
  source->size = static_cast<uint64_t>(size.QuadPart);
  source->handle = reinterpret_cast<intptr_t>(handle);
  return true;
}

long read_source_at(const SourceFile& source, uint64_t offset, void* buffer, size_t size) {
  OVERLAPPED at;
  ZeroMemory(&at, sizeof at);
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  const DWORD wanted = static_cast<DWORD>(size < (1u << 30) ? size : (1u << 30));
  DWORD got = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(source.handle), buffer, wanted, &got, &at)) {
    return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  }
  return static_cast<long>(got);
}

void close_source(SourceFile* source) {
  if (source->handle != -1) CloseHandle(reinterpret_cast<HANDLE>(source->handle));
  source->handle = -1;
}

namespace {

// The copy is the command interpreter's, as the printed line says, so the
// piece ends go unused: Windows tells only whether copy succeeded, never how
// much of the file reached the drive. copy reads the file by its name, so the
// file is first checked to be the one held and to hold the bytes checked
// (`bytes`, when it was read whole), and checked again afterwards: the share
// mode keeps this system's programs from writing it, not a program on
// another system that serves the folder.
CopyResult copy_file_to_drive(const SourceFile& source, const std::vector<uint8_t>& bytes,
                              bool quiet, const Drive& drive) {
  const std::string& root = drive.root;
  CopyResult result;
  result.acknowledged_known = true;  // nothing of the file checked reached the drive yet
  if (!source_unchanged(source, bytes, "since it was checked", &result.error)) {
    result.error += "; nothing was copied";
    return result;
  }
  const std::string dest = root + base_name(source.name);
  const DestinationState before = destination_state(root, dest);
  result.acknowledged_known = false;
  copy_progress_begin(base_name(source.name), source.size);
  const long status =
      run_interpreter(copy_command_line(source.name, root), dest, quiet, &result.error);
  copy_progress_end();
  if (status < 0) return result;
  result.destination_changed =
      status == 0 || !same_destination(before, destination_state(root, dest));
  if (status != 0) {
    result.error = "copy ended with status " + std::to_string(status);
    return result;
  }
  if (!source_unchanged(source, bytes, "during the copy", &result.error)) {
    result.acknowledged_known = true;  // what reached the drive is not what was checked
    return result;
  }
  if (!check_copied(source, dest, &result.error)) return result;
  result.ok = true;
  result.acknowledged = source.size;
  result.acknowledged_known = true;
  return result;
}

// A folder of the tool's own in the temporary folder, for one made image:
// the first free number. CreateDirectory claims a name for one caller only,
// so copies on several threads at once each get a folder of their own.
bool make_stage_folder(std::string* folder, std::string* why) {
  char temp[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof temp, temp);
  if (length == 0 || length > MAX_PATH) {
    *why = "cannot find the temporary folder";
    return false;
  }
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    *folder = std::string(temp, length) + "flashdrop-" + std::to_string(GetCurrentProcessId()) +
              "-" + std::to_string(attempt);
    if (CreateDirectoryA(folder->c_str(), nullptr)) return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  *why = "cannot create a folder in " + std::string(temp, length) + ": " +
         system_message(GetLastError());
  return false;
}

bool write_new_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  const HANDLE out =
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  return CloseHandle(out) && ok;
}

// copy takes files by name, so an image made from the file is written to a
// file of its own first, named as it goes onto the drive, and that file is
// held and copied as the file named on the command line would be. It is
// removed afterwards, with its folder.
CopyResult copy_made_image(const CopyJob& job, const Drive& drive) {
  CopyResult result;
  result.acknowledged_known = true;
  std::string folder;
  if (!make_stage_folder(&folder, &result.error)) return result;
  const std::string path = folder + "\\" + base_name(job.name);
  SourceFile staged;
  SourceRefusal refusal;
  if (!write_new_file(path, *job.bytes)) {
    result.error = "cannot write " + path + ": " + system_message(GetLastError());
  } else if (!open_source(path.c_str(), &staged, &refusal)) {
    result.error = "cannot open " + path + ": " + refusal.reason;
  } else {
    result = copy_file_to_drive(staged, *job.bytes, job.quiet, drive);
  }
  close_source(&staged);
  DeleteFileA(path.c_str());
  RemoveDirectoryA(folder.c_str());
  return result;
}

}  // namespace

CopyResult copy_to_drive(const CopyJob& job, const Drive& drive) {
  static const std::vector<uint8_t> kNone;
  if (job.made) return copy_made_image(job, drive);
  return copy_file_to_drive(*job.source, job.bytes != nullptr ? *job.bytes : kNone, job.quiet,
                            drive);
}

// A file of another size than the one copied is a partial image; one of the
// same size is left, whoever wrote it.
void discard_copy(const CopyJob& job, const Drive& drive) {
  const std::string dest = drive.root + base_name(job.name);
  const uint64_t expected = job.made ? job.bytes->size() : job.source->size;
  uint64_t size;
  if (file_size(dest, &size) && size != expected) DeleteFileA(dest.c_str());
}
