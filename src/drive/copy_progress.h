// The progress line of a copy: on a terminal only, once a copy has taken
// about a second, one line tells how much of the file the drive has
// acknowledged and how fast (fw.uf2  412 KiB / 1.2 MiB  98 KiB/s). It is
// redrawn in place at most ten times a second and erased when the copy ends,
// so that the text around it is the same as without it. The OS copy reports
// through the three calls below; the line is composed here.
#ifndef FLASHDROP_DRIVE_COPY_PROGRESS_H_
#define FLASHDROP_DRIVE_COPY_PROGRESS_H_

#include <cstddef>
#include <cstdint>
#include <string>

// Whether copies may draw the line at all (default true). Set it before a
// copy starts: while several copies run at once, none may draw.
void allow_copy_progress(bool allowed);

// A copy of `total` bytes to a file called `name` on the drive begins.
void copy_progress_begin(const std::string& name, uint64_t total);

// The drive has acknowledged the first `done` bytes (on Windows: the file on
// the drive holds that many).
void copy_progress(uint64_t done);

// The copy ended: the line, if drawn, is erased.
void copy_progress_end();

// True between begin and end when the line may be drawn (standard output is
// a terminal): only then does the copy need pieces small enough to move it.
bool copy_progress_drawing();

// The line's text: the name, the bytes done of the total, the rate, in
// binary units, at most kProgressWidth characters (a long name loses its
// start).
constexpr size_t kProgressWidth = 79;
std::string progress_text(const std::string& name, uint64_t done, uint64_t total,
                          uint64_t bytes_per_s);

// What to write to a terminal whose cursor ends a line of `shown` characters
// drawn before (0: none) so that it shows `text` instead; an empty `text`
// erases it and leaves the cursor at the start of the empty line.
std::string progress_redraw(const std::string& text, size_t shown);

#endif  // FLASHDROP_DRIVE_COPY_PROGRESS_H_
