#include <unistd.h>

#include "platform/platform.h"

bool stdout_is_terminal() { return isatty(STDOUT_FILENO) == 1; }
