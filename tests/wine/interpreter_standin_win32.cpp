// The command interpreter as Windows's behaves, for the wine tests. Windows's
// cmd.exe reads two values under HKCU\Software\Microsoft\Command Processor
// whenever it starts: AutoRun, a command it runs first unless given /d, and
// DelayedExpansion, which turns !NAME! expansion on unless given /v:off.
// Wine's cmd.exe (8.0) reads neither, so a test prefix names this program as
// %ComSpec%: it applies both values as Windows's interpreter does and hands
// the command to wine's cmd.exe. It appends its command line (after its own
// name) to the file named by FLASHDROP_INTERPRETER_LOG, so that a test can
// tell it was the interpreter started.
#include <windows.h>

#include <cstdio>
#include <cwctype>
#include <string>

namespace {

std::wstring registry_string(const wchar_t* name) {
  wchar_t value[2048];
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Command Processor", name,
                   RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, value,
                   &size) != ERROR_SUCCESS) {
    return L"";
  }
  return value;
}

DWORD registry_number(const wchar_t* name) {
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Command Processor", name,
                   RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS) {
    return 0;
  }
  return value;
}

// The command line after the program's own name.
std::wstring arguments() {
  const wchar_t* p = GetCommandLineW();
  if (*p == L'"') {
    for (++p; *p != L'\0' && *p != L'"'; ++p) {
    }
    if (*p == L'"') ++p;
  } else {
    while (*p != L'\0' && *p != L' ' && *p != L'\t') ++p;
  }
  while (*p == L' ' || *p == L'\t') ++p;
  return p;
}

void log_arguments(const std::wstring& args) {
  wchar_t path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"FLASHDROP_INTERPRETER_LOG", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  char line[8192];
  const int size = WideCharToMultiByte(CP_UTF8, 0, args.c_str(), -1, line, sizeof line,
                                       nullptr, nullptr);
  if (FILE* log = _wfopen(path, L"ab")) {
    if (size > 0) fprintf(log, "%s\n", line);
    fclose(log);
  }
}

}  // namespace

int main() {
  const std::wstring args = arguments();
  log_arguments(args);

  // The switches before /c, then the command.
  bool autorun = true;
  int expansion = registry_number(L"DelayedExpansion") == 1 ? 1 : 0;
  std::wstring other_switches, command;
  size_t at = 0;
  while (at < args.size()) {
    while (at < args.size() && args[at] == L' ') ++at;
    const size_t end = args.find(L' ', at);
    std::wstring word = args.substr(at, end - at);
    for (wchar_t& c : word) c = static_cast<wchar_t>(towlower(c));
    at = end == std::wstring::npos ? args.size() : end + 1;
    if (word == L"/c") {
      command = args.substr(at);
      break;
    }
    if (word == L"/d") {
      autorun = false;
    } else if (word == L"/v:off") {
      expansion = -1;
    } else if (word == L"/v:on") {
      expansion = 1;
    } else if (!word.empty()) {
      other_switches += L" " + word;
    }
  }
  const std::wstring autorun_command = autorun ? registry_string(L"AutoRun") : L"";
  if (!autorun_command.empty()) command = autorun_command + L" & " + command;

  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  const std::wstring cmd = std::wstring(folder, length) + L"\\cmd.exe";
  std::wstring line = L"\"" + cmd + L"\"" + (expansion > 0 ? L" /v:on" : L" /v:off") +
                      other_switches + L" /d /c " + command;
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process;
  if (!CreateProcessW(cmd.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    fprintf(stderr, "interpreter stand-in: cannot start %ls (%lu)\n", cmd.c_str(), GetLastError());
    return 255;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 255;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}
