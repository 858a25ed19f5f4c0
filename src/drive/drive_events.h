// Waking when the drives change, so that a drive that arrives during the
// pause between two passes is looked at without waiting for the pause to
// end. One implementation per OS (drive/linux/, drive/win32/); tests link a
// fake driven by their fake clock.
#ifndef FLASHDROP_DRIVE_DRIVE_EVENTS_H_
#define FLASHDROP_DRIVE_DRIVE_EVENTS_H_

// Starts watching: a change after this call wakes the next wait. Costs a
// file or two; called once, before the first pass of a search that pauses.
void watch_drive_changes();

// Waits at most `timeout_ms` for the drives to change: on Linux a mount or
// an unmount in the tool's mount table, on Windows a drive letter appearing
// or leaving. True when a change ended the wait, false when the time ran out.
// A change may be one that concerns no removable drive: the caller looks.
bool wait_for_drive_change(unsigned timeout_ms);

#endif  // FLASHDROP_DRIVE_DRIVE_EVENTS_H_
