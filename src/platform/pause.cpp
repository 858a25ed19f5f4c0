#include <cstdio>

#include "platform/platform.h"

void pause_ms(unsigned ms) {
  fflush(stdout);
  sleep_ms(ms);
}
