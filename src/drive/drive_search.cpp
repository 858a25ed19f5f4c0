#include "drive/drive_search.h"

#include <cstdio>
#include <vector>

#include "drive/candidates.h"
#include "drive/drive_events.h"
#include "drive/drives.h"
#include "drive/image_binding.h"
#include "uf2/uf2_blocks.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "settings/settings.h"

namespace {

constexpr unsigned kPassPauseMs = 500;
constexpr unsigned kRestartPollMs = 50;
constexpr size_t kCurrentUf2Head = 512;

// What the drive tells about the board: its INFO_UF2.TXT and the first
// block of its CURRENT.UF2 (the family the running firmware was made for),
// where it has them.
BoardFacts read_board_facts(const Drive& drive) {
  std::vector<uint8_t> info, head;
  const bool has_info = read_drive_file(drive, "INFO_UF2.TXT", kInfoUf2MaxSize, &info);
  if (!read_drive_file(drive, "CURRENT.UF2", kCurrentUf2Head, &head)) head.clear();
  const InfoUf2 parsed = parse_info_uf2(info.data(), info.size());
  return board_facts(has_info ? &parsed : nullptr, head.data(), head.size());
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

// The line that tells the outcome of a copy, if any. `not_taken` says why
// the board would not take the file, when its facts tell.
Outcome report(Outcome outcome, const std::string& error, const std::string& not_taken = "") {
  switch (outcome) {
    case Outcome::kBoardRestarted:
      printf("Board restarted\n");
      break;
    case Outcome::kNotTaken:
      if (!not_taken.empty()) {
        printf("Board did not take the file: %s\n", not_taken.c_str());
        break;
      }
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

// What goes onto one board, decided before anything is written: the file,
// or the UF2 image made from it for the board, and the lines that say so.
struct Prepared {
  bool made = false;
  Firmware image;                  // when made
  std::vector<std::string> lines;  // "Converted ...", notes, and a refusal last
  bool refused = false;
  std::string not_taken;
};

ImageOptions image_options() {
  ImageOptions options;
  if (uf2_family_given) options.uf2_family = uf2_family;
  if (image_address_given) options.address = image_address;
  options.marker_family = family_id;
  return options;
}

bool refuse(const std::string& line, Prepared* prepared) {
  prepared->lines.push_back(line);
  prepared->refused = true;
  return false;
}

// A UF2 bootloader keeps UF2 blocks only: a file that is not UF2 is
// converted for the board, with the family and address the options or the
// board give. A drive found by -f's marker takes it as it is when there is
// no address for it.
bool convert_for_board(const Firmware& firmware, const BoardFacts& facts, Prepared* prepared) {
  const ImageBinding binding = bind_image(firmware.format, facts, image_options());
  if (binding.plan == ImagePlan::kCopyAsItIs) return true;
  if (binding.plan == ImagePlan::kRefuse) {
    return refuse(refused_image(firmware, binding.why), prepared);
  }
  if (!firmware.convertible) {
    return refuse(refused_image(firmware, firmware.source.size == 0
                                              ? "it is empty"
                                              : "it is too large to be an image for a board"),
                  prepared);
  }
  prepared->image = firmware;
  std::string why;
  if (!convert_firmware(&prepared->image, binding.family, binding.offset, &why)) {
    return refuse(why, prepared);
  }
  prepared->made = true;
  prepared->lines.push_back(conversion_line(prepared->image, binding.family));
  return true;
}

// Converts what needs converting and checks a UF2 image against what the
// board tells: notes for what it would ignore, a refusal for what would not
// fit its flash. False when refused.
bool prepare(const Firmware& firmware, const BoardFacts& facts, Prepared* prepared) {
  if (!firmware.uf2 && !convert_for_board(firmware, facts, prepared)) return false;
  const Firmware& image = prepared->made ? prepared->image : firmware;
  if (!image.uf2) return true;
  const BoardCheck check =
      check_for_board(uf2_groups(image.bytes.data(), image.bytes.size()), facts,
                      firmware.source.name);
  prepared->lines.insert(prepared->lines.end(), check.notes.begin(), check.notes.end());
  prepared->not_taken = check.not_taken;
  return !check.refused || refuse(check.refusal, prepared);
}

// Copies the file onto the chosen drive, made writable, and tells what the
// board did with it. What the board's facts refuse is refused before the
// drive is made writable: nothing is written.
Outcome deliver(const Firmware& firmware, const std::string& marker, const Candidate& candidate,
                Drive* drive) {
  Prepared prepared;
  const bool ready = prepare(firmware, candidate.facts, &prepared);
  std::string why;
  if (ready && !make_drive_writable(drive, &why)) return report(Outcome::kCopyFailed, why);
  printf("Find: %s, size %ld\n", escape_controls(candidate.marker.name).c_str(),
         candidate.marker.size);
  for (const std::string& line : prepared.lines) printf("%s\n", line.c_str());
  if (!ready) return Outcome::kRefused;
  const Firmware& image = prepared.made ? prepared.image : firmware;
  const CopyJob job = copy_job(image);
  printf("%s\n", escape_controls(copy_command_line(job.name, drive->root)).c_str());
  fflush(stdout);  // the copy may print too; keep the order
  const CopyResult copy = copy_to_drive(job, *drive);
  CopyObservation seen;
  seen.uf2 = image.uf2;
  seen.copy_ok = copy.ok;
  seen.destination_changed = copy.destination_changed;
  seen.family_delivered = family_delivered(image, copy);
  if (restart_expected(seen)) {
    seen.drive_gone = wait_for_drive_to_leave(*drive, marker);
  } else if (!copy.ok) {
    seen.drive_gone = !drive_still_there(*drive, marker);
  }
  const Verdict verdict = decide_verdict(seen);
  // Leave no truncated image behind, and nothing else than what this run wrote.
  if (verdict.discard) discard_copy(job, *drive);
  return report(verdict.outcome, copy.error, prepared.not_taken);
}

// What one pass found: the drives it listed, the lines each gave, and the
// candidates among them. Drives without the marker are released at once.
struct Findings {
  std::vector<Drive> drives;
  std::vector<std::vector<std::string>> lines;  // per drive
  std::vector<Candidate> candidates;
};

void look_at(const std::string& marker, size_t index, Findings* found) {
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
  candidate.facts = read_board_facts(drive);
  found->candidates.push_back(candidate);
}

bool find_candidates(const std::string& marker, Findings* found) {
  if (!list_removable_drives(&found->drives)) return false;
  found->lines.assign(found->drives.size(), {});
  for (size_t i = 0; i < found->drives.size(); ++i) look_at(marker, i, found);
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
  if (!find_candidates(marker, &found)) return false;
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
