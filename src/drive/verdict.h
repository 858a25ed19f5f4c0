// What the board did with the file, decided from what the OS layer observed.
// A UF2 bootloader restarts as soon as it holds every block of its image, so
// the host's writes after the last block (directory entry, FAT) may fail with
// the board's drive gone: that is a success. A bootloader silently ignores a
// file for another chip family and never restarts: a clean copy without a
// restart is not.
#ifndef FLASHDROP_DRIVE_VERDICT_H_
#define FLASHDROP_DRIVE_VERDICT_H_

#include <vector>

// What a run came to, from the verdict on the copy to the exit status.
enum class Outcome {
  kCopied,          // not a UF2 file: the copy succeeded and was flushed
  kBoardRestarted,  // a UF2 file, and the board restarted with it
  kNotTaken,        // a UF2 file written whole, and the board did not restart
  kCopyFailed,      // not every byte the board needed reached it
  kNotFound,        // the passes ran out without a bootloader drive
  kRefused,         // a usage error, or input refused before anything ran
};

// The exit status of an outcome: 0 the board has the file, 1 refused,
// 2 no drive, 3 copy failed, 4 the board did not take the file.
int exit_status(Outcome outcome);

// The outcome's name in JSON events ("board_restarted", ...).
const char* outcome_name(Outcome outcome);

// What several drives flashed at once came to: kCopied or kBoardRestarted
// when every drive has the file, else the worst: a failed copy, then a file
// a board did not take, then a refusal, then a board whose drive never came.
Outcome worst_outcome(const std::vector<Outcome>& outcomes);

// Whether every block of some family of the UF2 file reached the drive.
enum class Delivered { kNo, kYes, kUnknown };

struct CopyObservation {
  bool uf2 = false;
  bool copy_ok = false;
  bool destination_changed = false;  // the copy created or truncated the file on the drive
  Delivered family_delivered = Delivered::kNo;
  bool drive_gone = false;  // after the wait, when one was wanted
};

// True when the board may restart with the file, so the drive is worth
// watching until it leaves.
bool restart_expected(const CopyObservation& seen);

struct Verdict {
  Outcome outcome;  // kCopied, kBoardRestarted, kNotTaken or kCopyFailed
  // What a failed copy left on the drive is to be removed: a file this run
  // created or truncated, on a drive still there, that cannot hold the
  // board's image. A file the copy never opened for writing is never
  // removed, nor one the board may have taken.
  bool discard;
};

Verdict decide_verdict(const CopyObservation& seen);

#endif  // FLASHDROP_DRIVE_VERDICT_H_
