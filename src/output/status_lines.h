// Lines kept at the bottom of a terminal while work goes on: the progress of
// a copy, one line per copy when several drives are flashed at once. Each
// thread owns at most one line; the lines stay in the order they first
// appeared. Text written through write_text goes above them: the lines are
// erased, the text written, and the lines drawn again below it, so that
// once every line is removed the terminal shows the text alone, exactly as
// without them. Safe to call from several threads.
#ifndef FLASHDROP_OUTPUT_STATUS_LINES_H_
#define FLASHDROP_OUTPUT_STATUS_LINES_H_

#include <cstddef>
#include <string>
#include <vector>

// Sets the calling thread's line to `text` and redraws; "" removes it. The
// caller decides that standard output is a terminal; with more than one
// line it must take cursor movements (stdout_moves_cursor).
void set_status_line(const std::string& text);

// Writes `text` to standard output above the lines, and flushes when lines
// are drawn.
void write_text(const std::string& text);

// What to write to a terminal whose cursor ends the last of the lines of
// `shown` lengths (none: the cursor is at the start of a line) so that it
// shows `lines` instead; no lines erases them all and leaves the cursor at
// the start of the first. One line before and after is redrawn with a
// carriage return and blanks alone, which any console takes; more use
// ESC [ n A (cursor up), ESC [ K (erase to the line's end) and ESC [ J
// (erase to the screen's end).
std::string status_redraw(const std::vector<size_t>& shown, const std::vector<std::string>& lines);

#endif  // FLASHDROP_OUTPUT_STATUS_LINES_H_
