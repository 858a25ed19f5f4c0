#include <windows.h>

#include "platform/platform.h"

// A console answers GetConsoleMode; a pipe or a file does not.
bool stdout_is_terminal() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}
