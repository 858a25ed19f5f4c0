// setenv and unsetenv for the Windows test builds, where the mingw-w64
// runtime offers only _putenv_s; forced into every unit test by wine.cmake.
// An empty value removes the variable, as unsetenv does.
#ifndef FLASHDROP_TESTS_POSIX_ENV_WIN32_H_
#define FLASHDROP_TESTS_POSIX_ENV_WIN32_H_

#include <stdlib.h>

inline int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && getenv(name) != nullptr) return 0;
  return _putenv_s(name, value) == 0 ? 0 : -1;
}

inline int unsetenv(const char* name) { return _putenv_s(name, "") == 0 ? 0 : -1; }

#endif  // FLASHDROP_TESTS_POSIX_ENV_WIN32_H_
