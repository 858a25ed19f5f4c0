#include "drive/drive_search.h"

#include <cstdio>
#include <vector>

#include "drive/candidates.h"
#include "drive/drive_events.h"
#include "drive/drives.h"
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
void note_foreign_family(const Firmware& firmware, const Candidate& candidate) {
  const std::vector<uint8_t>& head = candidate.current_head;
  uint32_t running;
  if (!block_family(head.data(), head.size(), &running) ||
      has_blocks_for(firmware.map, running)) {
    return;
  }
  printf("Note: the board runs family 0x%08X and %s has no block for it\n",
         static_cast<unsigned>(running), escape_controls(firmware.source.name).c_str());
}

// Waits until the drive has left, at most kRestartWaitMs. True when it left.
bool wait_for_drive_to_leave(const Drive& drive, const std::string& marker) {
  for (unsigned waited = 0;; waited += kRestartPollMs) {
    if (!drive_still_there(drive, marker)) return true;
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

// The line that tells the outcome of a copy, if any.
Outcome report(Outcome outcome, const std::string& error) {
  switch (outcome) {
    case Outcome::kBoardRestarted:
      printf("Board restarted\n");
      break;
    case Outcome::kNotTaken:
      printf("Board did not take the file: it did not restart within %u s (blocks for another "
             "chip family, or not this board's image)\n",
             kRestartWaitMs / 1000);
      break;
    case Outcome::kCopyFailed:
      printf("Copy failed: %s\n", escape_controls(error).c_str());
      break;
    default:
      break;
  }
  return outcome;
}

// Copies the file onto the chosen drive, made writable, and tells what the
// board did with it.
Outcome deliver(const Firmware& firmware, const std::string& marker, const Candidate& candidate,
                Drive* drive) {
  std::string why;
  if (!make_drive_writable(drive, &why)) return report(Outcome::kCopyFailed, why);
  printf("Find: %s, size %ld\n", escape_controls(candidate.marker.name).c_str(),
         candidate.marker.size);
  if (firmware.uf2) note_foreign_family(firmware, candidate);
  printf("%s\n", escape_controls(copy_command_line(firmware.source.name, drive->root)).c_str());
  fflush(stdout);  // the copy may print too; keep the order
  const CopyJob job = copy_job(firmware);
  const CopyResult copy = copy_to_drive(job, *drive);
  CopyObservation seen;
  seen.uf2 = firmware.uf2;
  seen.copy_ok = copy.ok;
  seen.destination_changed = copy.destination_changed;
  seen.family_delivered = family_delivered(firmware, copy);
  if (restart_expected(seen)) {
    seen.drive_gone = wait_for_drive_to_leave(*drive, marker);
  } else if (!copy.ok) {
    seen.drive_gone = !drive_still_there(*drive, marker);
  }
  const Verdict verdict = decide_verdict(seen);
  // Leave no truncated image behind, and nothing else than what this run wrote.
  if (verdict.discard) discard_copy(job, *drive);
  return report(verdict.outcome, copy.error);
}

// What one pass found: the drives it listed, the lines each gave, and the
// candidates among them. Drives without the marker are released at once.
struct Findings {
  std::vector<Drive> drives;
  std::vector<std::vector<std::string>> lines;  // per drive
  std::vector<Candidate> candidates;
};

void look_at(const Firmware& firmware, const std::string& marker, size_t index,
             Findings* found) {
  Drive& drive = found->drives[index];
  std::vector<std::string>& lines = found->lines[index];
  std::string message;
  if (!attach_drive(&drive, &message)) {
    if (!message.empty()) lines.push_back(message);
    return;
  }
  lines.push_back("Removable Disk " + escape_controls(drive.root));
  Candidate candidate;
  candidate.drive = index;
  if (!find_marker(&drive, marker, &candidate.marker)) {
    release_drive(&drive);
    return;
  }
  if (firmware.uf2 &&
      !read_drive_file(drive, "CURRENT.UF2", kCurrentUf2Head, &candidate.current_head)) {
    candidate.current_head.clear();
  }
  found->candidates.push_back(candidate);
}

bool find_candidates(const Firmware& firmware, const std::string& marker, Findings* found) {
  if (!list_removable_drives(&found->drives)) return false;
  found->lines.assign(found->drives.size(), {});
  for (size_t i = 0; i < found->drives.size(); ++i) look_at(firmware, marker, i, found);
  return true;
}

// The lines of the drives up to the last one chosen; of every drive when
// none was.
void print_lines(const Findings& found, const std::vector<size_t>& chosen) {
  size_t end = found.lines.size();
  if (!chosen.empty()) end = found.candidates[chosen.back()].drive + 1;
  for (size_t i = 0; i < end; ++i) {
    for (const std::string& line : found.lines[i]) printf("%s\n", line.c_str());
  }
}

// One look at every removable drive. Returns true, with `outcome` set, once a
// drive with the marker was chosen and the copy attempted.
bool search_pass(const Firmware& firmware, const std::string& marker, Outcome* outcome) {
  Findings found;
  if (!find_candidates(firmware, marker, &found)) return false;
  const std::vector<size_t> chosen = choose_candidates(found.candidates);
  print_lines(found, chosen);
  // The others are let go before the copy: only the chosen drive is written.
  for (size_t i = 0; i < found.candidates.size(); ++i) {
    if (chosen.empty() || i != chosen.front()) {
      release_drive(&found.drives[found.candidates[i].drive]);
    }
  }
  if (chosen.empty()) return false;
  const Candidate& candidate = found.candidates[chosen.front()];
  *outcome = deliver(firmware, marker, candidate, &found.drives[candidate.drive]);
  release_drive(&found.drives[candidate.drive]);
  return true;
}

}  // namespace

std::string marker_name(uint32_t family) {
  if (family == 0) return "INFO_UF2.TXT";
  char name[16];
  snprintf(name, sizeof name, "%08X.ID", static_cast<unsigned>(family));
  return name;
}

namespace {

// A look between passes that prints nothing and leaves nothing attached:
// whether a drive the system mounted carries the marker now. Drives nobody
// mounted are left to the passes: looking at one means mounting it, what
// goes wrong there is said once, by a pass, and a drive that just appeared
// is left to the desktop's automounter first anyway.
bool marker_in_sight(const std::string& marker) {
  std::vector<Drive> drives;
  if (!list_removable_drives(&drives)) return false;
  for (Drive& drive : drives) {
    if (drive.mounted != Mounted::kBySystem) continue;
    std::string message;
    MarkerFile file;
    if (!attach_drive(&drive, &message)) continue;
    const bool seen = find_marker(&drive, marker, &file);
    release_drive(&drive);
    if (seen) return true;
  }
  return false;
}

// The pause after a pass that found nothing. It lasts kPassPauseMs, but
// whenever the drives change a silent look is made, and when it sees the
// marker the next pass runs at once. A pass that then finds nothing (the
// drive left again, or was not chosen) lets the rest of the pause run
// without another: its own mounts must not set off the next. True, with
// `outcome` set, when such a pass delivered.
bool pause_watching(const Firmware& firmware, const std::string& marker, Outcome* outcome) {
  fflush(stdout);
  bool passed = false;
  const uint64_t end = monotonic_ms() + kPassPauseMs;
  for (uint64_t now = monotonic_ms(); now < end; now = monotonic_ms()) {
    if (wait_for_drive_change(static_cast<unsigned>(end - now)) && !passed &&
        marker_in_sight(marker)) {
      passed = true;
      if (search_pass(firmware, marker, outcome)) return true;
    }
  }
  return false;
}

}  // namespace

// A countdown line is printed for each pause that ran its full length.
Outcome scan_removable_drives(const Firmware& firmware) {
  const std::string marker = marker_name(family_id);
  if (times != 0) watch_drive_changes();
  for (;;) {
    Outcome outcome;
    if (search_pass(firmware, marker, &outcome)) return outcome;
    if (times == 0) break;
    if (pause_watching(firmware, marker, &outcome)) return outcome;
    if (times > 0) {
      --times;
      printf("times:%d\n", times);
      if (times == 0) break;
    }
  }
  printf("No bootloader drive found\n");
  return Outcome::kNotFound;
}
