// A fake clock in place of the OS layer's sleep: it records every pause.
#ifndef FLASHDROP_TESTS_FAKE_PLATFORM_H_
#define FLASHDROP_TESTS_FAKE_PLATFORM_H_

#include <vector>

namespace fake_clock {

// The pauses asked for since the last reset, in milliseconds.
const std::vector<unsigned>& sleeps();
void reset();

}  // namespace fake_clock

#endif  // FLASHDROP_TESTS_FAKE_PLATFORM_H_
