// A fake clock in place of the OS layer's sleep and monotonic clock: it
// records every pause and moves forward only by them. The drive-change wait
// is faked on it too: a change scheduled at a time ends the wait that spans it.
#ifndef FLASHDROP_TESTS_FAKE_PLATFORM_H_
#define FLASHDROP_TESTS_FAKE_PLATFORM_H_

#include <cstdint>
#include <vector>

namespace fake_clock {

// The pauses asked for since the last reset, in milliseconds; a wait for a
// drive change counts as a pause of the time it waited.
const std::vector<unsigned>& sleeps();
// The drives change at `at_ms` on the fake clock (which starts at 0).
void drive_change_at(uint64_t at_ms);
// How many waits for a drive change were made.
int change_waits();
void reset();

}  // namespace fake_clock

#endif  // FLASHDROP_TESTS_FAKE_PLATFORM_H_
