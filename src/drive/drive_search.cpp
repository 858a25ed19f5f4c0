#include "drive/drive_search.h"

#include <cstdio>
#include <vector>

#include "drive/drives.h"
#include "drive/verdict.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "settings/settings.h"

namespace {

constexpr unsigned kPassPauseMs = 500;
constexpr unsigned kRestartPollMs = 50;
constexpr size_t kCurrentUf2Head = 512;

// Bootloaders that show the running firmware as CURRENT.UF2 say in its first
// block which family they run. Some take more than one family, so a file
// without blocks for it is worth a note, not a refusal.
void note_foreign_family(const Firmware& firmware, const Drive& drive) {
  std::vector<uint8_t> head;
  uint32_t running;
  if (!read_drive_file(drive, "CURRENT.UF2", kCurrentUf2Head, &head) ||
      !block_family(head.data(), head.size(), &running) ||
      has_blocks_for(firmware.map, running)) {
    return;
  }
  printf("Note: the board runs family 0x%08X and %s has no block for it\n",
         static_cast<unsigned>(running), escape_controls(firmware.source.name).c_str());
}

// Waits until the drive has left, at most kRestartWaitMs. True when it left.
bool wait_for_drive_to_leave(const Drive& drive, const std::string& marker,
                             const DriveIdentity& identity) {
  for (unsigned waited = 0;; waited += kRestartPollMs) {
    if (!drive_still_there(drive, marker, identity)) return true;
    if (waited >= kRestartWaitMs) return false;
    sleep_ms(kRestartPollMs);
  }
}

// Whether the board can hold every block of some family. Bootloaders often
// restart from the write of their last block before they acknowledge it, so
// a family counts when all its blocks but the last (written on its own)
// were acknowledged; the drive leaving then tells the rest.
Delivered family_delivered(const Firmware& firmware, const CopyResult& copy) {
  if (!firmware.uf2) return Delivered::kNo;
  if (!copy.acknowledged_known) return Delivered::kUnknown;
  return some_family_within(firmware.map, copy.acknowledged + kUf2BlockSize) ? Delivered::kYes
                                                                             : Delivered::kNo;
}

SearchResult report(Verdict verdict, const CopyResult& copy) {
  switch (verdict) {
    case Verdict::kCopied:
      return SearchResult::kCopied;
    case Verdict::kBoardRestarted:
      printf("Board restarted\n");
      return SearchResult::kBoardRestarted;
    case Verdict::kNotTaken:
      printf("Board did not take the file: it did not restart within %u s (blocks for another "
             "chip family, or not this board's image)\n",
             kRestartWaitMs / 1000);
      return SearchResult::kNotTaken;
    case Verdict::kCopyFailed:
      break;
  }
  printf("Copy failed: %s\n", escape_controls(copy.error).c_str());
  return SearchResult::kCopyFailed;
}

// Copies the file onto the bootloader drive and tells what the board did
// with it.
SearchResult deliver(const Firmware& firmware, const Drive& drive, const std::string& marker,
                     const MarkerFile& found) {
  printf("Find: %s, size %ld\n", escape_controls(found.name).c_str(), found.size);
  if (firmware.uf2) note_foreign_family(firmware, drive);
  printf("%s\n", escape_controls(copy_command_line(firmware.source.name, drive.root)).c_str());
  fflush(stdout);  // the copy may print too; keep the order
  const DriveIdentity identity = identify_drive(drive);
  const CopyResult copy =
      copy_to_drive(firmware.source, firmware.bytes, piece_ends(firmware), drive);
  CopyObservation seen;
  seen.uf2 = firmware.uf2;
  seen.copy_ok = copy.ok;
  seen.destination_changed = copy.destination_changed;
  seen.family_delivered = family_delivered(firmware, copy);
  if (restart_expected(seen)) {
    seen.drive_gone = wait_for_drive_to_leave(drive, marker, identity);
  } else if (!copy.ok) {
    seen.drive_gone = !drive_still_there(drive, marker, identity);
  }
  // Leave no truncated image behind, and nothing else than what this run wrote.
  if (discard_wanted(seen)) discard_copy(firmware.source, drive);
  return report(decide_verdict(seen), copy);
}

// One look at every removable drive. Returns true, with `result` set, once a
// drive with the marker was found and the copy attempted.
bool search_pass(const Firmware& firmware, const std::string& marker, SearchResult* result) {
  std::vector<Drive> drives;
  if (!list_removable_drives(&drives)) return false;
  for (Drive& drive : drives) {
    std::string message;
    if (!attach_drive(&drive, &message)) {
      if (!message.empty()) printf("%s\n", message.c_str());
      continue;
    }
    printf("Removable Disk %s\n", escape_controls(drive.root).c_str());
    MarkerFile found;
    bool delivered = false;
    if (find_marker(&drive, marker, &found)) {
      if (make_drive_writable(&drive, &message)) {
        *result = deliver(firmware, drive, marker, found);
      } else {
        printf("Copy failed: %s\n", escape_controls(message).c_str());
        *result = SearchResult::kCopyFailed;
      }
      delivered = true;
    }
    release_drive(&drive);
    if (delivered) return true;
  }
  return false;
}

}  // namespace

std::string marker_name(uint32_t family) {
  if (family == 0) return "INFO_UF2.TXT";
  char name[16];
  snprintf(name, sizeof name, "%08X.ID", static_cast<unsigned>(family));
  return name;
}

SearchResult scan_removable_drives(const Firmware& firmware) {
  const std::string marker = marker_name(family_id);
  for (;;) {
    SearchResult result;
    if (search_pass(firmware, marker, &result)) return result;
    if (times > 0) {
      --times;
      pause_ms(kPassPauseMs);
      printf("times:%d\n", times);
    } else if (times < 0) {
      pause_ms(kPassPauseMs);  // search until found, without a countdown
    }
    if (times == 0) break;
  }
  printf("No bootloader drive found\n");
  return SearchResult::kNotFound;
}
