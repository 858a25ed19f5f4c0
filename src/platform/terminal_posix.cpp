#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

bool stdout_is_terminal() { return isatty(STDOUT_FILENO) == 1; }

// Terminals take the ANSI cursor movements, except one that says it is dumb
// (an editor's output pane, say).
bool stdout_moves_cursor() {
  const char* term = getenv("TERM");
  return stdout_is_terminal() && term != nullptr && *term != '\0' && strcmp(term, "dumb") != 0;
}
