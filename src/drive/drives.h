// The operating-system layer under the drive search: the file to copy, which
// drives are removable, whether one carries the bootloader's marker, the copy,
// and whether the drive is still there afterwards. One implementation per OS
// (drive/linux/, drive/win32/). The layer returns reasons; the lines the user
// reads are composed by the portable code.
#ifndef FLASHDROP_DRIVE_DRIVES_H_
#define FLASHDROP_DRIVE_DRIVES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/usb_place.h"

// The file named on the command line, opened once before anything runs.
struct SourceFile {
  std::string name;  // as given on the command line
  uint64_t size = 0;
  intptr_t handle = -1;  // the OS's open file, until close_source
};

// Why a file cannot be copied: the reason, and whether the line may show the
// name (not when the name itself cannot stand on a line).
struct SourceRefusal {
  std::string reason;
  bool name_shown = true;
};

// Opens `name` for reading, after checking that it is a regular file that can
// be handed to the copy (not a folder, FIFO, terminal or device; on Windows no
// wildcard, reserved device name or character the command line cannot
// carry). On refusal returns false with `refusal` set.
bool open_source(const char* name, SourceFile* source, SourceRefusal* refusal);

// Reads up to `size` bytes at `offset`. Returns the count read (0 at the end)
// or -1 on failure.
long read_source_at(const SourceFile& source, uint64_t offset, void* buffer, size_t size);

void close_source(SourceFile* source);

// Which drive stands at a root, as the listing found it: Linux, its block
// device (a dev_t) and its disk's sequence number, so that a new disk that
// reuses the device number counts as another; Windows, its volume serial
// number.
struct DriveIdentity {
  uint64_t id = 0;
  uint64_t generation = 0;  // Linux: the disk sequence; 0 when the kernel has none
  bool known = false;
};

// How a drive is mounted. Windows mounts every drive itself.
enum class Mounted {
  kBySystem,  // mounted when listed (by the desktop, fstab, an automounter)
  kNot,       // Linux: a block device nobody mounted, until attach_drive
  kByUdisks,  // Linux: attach_drive mounted it through UDisks2
  kByTool,    // Linux: attach_drive mounted it with mount(2)
};

// A removable drive as the listing and the attach found it. Everything done
// with a drive goes through this value, never through its path looked up again.
struct Drive {
  std::string root;    // Windows: "E:\"; Linux: the mount point (set by attach_drive)
  std::string device;  // Linux: the block device node of a drive nobody mounted
  Mounted mounted = Mounted::kBySystem;  // release_drive undoes kByUdisks and kByTool
  DriveIdentity identity;                // taken by the listing
  // Linux: the root directory, opened by find_marker once it found the marker
  // on the listed device; closed by release_drive. -1 until then.
  intptr_t root_handle = -1;
  // Linux: set by an attach_drive that left a drive nobody mounted to the
  // desktop for now: it may be attached this many milliseconds later.
  uint64_t attach_in_ms = 0;
};

// Fills `drives` with the removable drives, in the system's order. Returns
// false when the drives cannot be listed.
bool list_removable_drives(std::vector<Drive>* drives);

// Makes the drive's root directory readable. A mounted drive needs nothing;
// one nobody mounted is mounted read-only. Returns false when it cannot be
// reached, with `message` set to a line to print (said once per drive), or
// empty; for a drive that is not to be mounted yet, with `attach_in_ms` set.
bool attach_drive(Drive* drive, std::string* message);

// Makes a drive that attach_drive mounted read-only writable; false with
// `why` set to the reason otherwise.
bool make_drive_writable(Drive* drive, std::string* why);

// Undoes attach_drive and find_marker, leaving nothing behind.
void release_drive(Drive* drive);

struct MarkerFile {
  std::string name;  // as stored on the drive
  long size;
};

// The USB port and serial number of the device behind the drive, where the
// system tells them.
UsbPlace usb_place_of_drive(const Drive& drive);

// True when `name`, as given to --drive, names this drive: Linux, its mount
// point or its block device (the disk or the partition); Windows, its letter
// ("E:", "e", "E:\").
bool drive_named(const Drive& drive, const std::string& name);

// Looks up `marker` in the drive's root directory, without regard to letter
// case. A directory of that name counts as found. On Linux the root must be
// the listed device's, and stays open in `drive->root_handle` when found.
bool find_marker(Drive* drive, const std::string& marker, MarkerFile* found);

// Reads up to `size` bytes from the start of the regular file `name` (any
// letter case) in the drive's root directory.
bool read_drive_file(const Drive& drive, const std::string& name, size_t size,
                     std::vector<uint8_t>* bytes);

// True while the drive, as its listing identified it, is still there and
// still carries `marker`: false once the board left (it restarted, or the
// cable was pulled).
bool drive_still_there(const Drive& drive, const std::string& marker);

// What a copy achieved.
struct CopyResult {
  bool ok = false;  // every step succeeded
  // Bytes from the start of the file that the drive acknowledged having;
  // meaningful only when acknowledged_known.
  uint64_t acknowledged = 0;
  bool acknowledged_known = false;
  // This run created the destination or truncated it: only then may a
  // failed copy be removed, and only then can anything have reached the drive.
  bool destination_changed = false;
  std::string error;  // one line, when !ok
};

// What a copy puts onto a drive: the file named on the command line, or a
// UF2 image made from it.
struct CopyJob {
  const SourceFile* source = nullptr;
  // The bytes to write: the file as read whole before anything ran, or the
  // image made from it (`made`); when empty, the file is read as the copy goes.
  const std::vector<uint8_t>* bytes = nullptr;
  bool made = false;
  // The path whose base name the file takes on the drive: the source's own
  // name, or for a made image that name with the image's extension.
  std::string name;
  // Offsets at which a piece written and acknowledged must end, so that what
  // the drive acknowledged can be told at those offsets.
  std::vector<uint64_t> piece_ends;
  // The copy prints nothing of its own (Windows: the interpreter's output is
  // dropped): several copies run at once, or standard output carries JSON.
  bool quiet = false;
};

// Copies the job into the root of the drive.
CopyResult copy_to_drive(const CopyJob& job, const Drive& drive);

// Removes what a failed copy left on a drive that is still there.
void discard_copy(const CopyJob& job, const Drive& drive);

// The copy command line the tool prints before the copy.
inline std::string copy_command_line(const std::string& source, const std::string& root) {
  return "copy \"" + source + "\" " + root;
}

#endif  // FLASHDROP_DRIVE_DRIVES_H_
