// The progress of a copy, once it has taken about a second. On a terminal,
// one line tells how much of the file the drive has acknowledged and how
// fast (fw.uf2  412 KiB / 1.2 MiB  98 KiB/s), redrawn in place at most ten
// times a second and erased when the copy ends, so that the text around it
// is the same as without it; with --all, one line per copy (where the
// terminal takes cursor movements). With --json, a progress event at most
// once a second instead; redirected text output shows nothing. The OS copy
// reports through the three calls below, from the thread that copies; what
// is shown is composed here.
#ifndef FLASHDROP_DRIVE_COPY_PROGRESS_H_
#define FLASHDROP_DRIVE_COPY_PROGRESS_H_

#include <cstddef>
#include <cstdint>
#include <string>

// A copy of `total` bytes to a file called `name` on the drive begins.
void copy_progress_begin(const std::string& name, uint64_t total);

// The drive has acknowledged the first `done` bytes (on Windows: the file on
// the drive holds that many).
void copy_progress(uint64_t done);

// The copy ended: the line, if drawn, is erased.
void copy_progress_end();

// True between begin and end when progress is shown (a line or events): only
// then does the copy need pieces small enough to move it.
bool copy_progress_wanted();

// The line's text: the name, the bytes done of the total, the rate, in
// binary units, at most kProgressWidth characters (a long name loses its
// start).
constexpr size_t kProgressWidth = 79;
std::string progress_text(const std::string& name, uint64_t done, uint64_t total,
                          uint64_t bytes_per_s);

#endif  // FLASHDROP_DRIVE_COPY_PROGRESS_H_
