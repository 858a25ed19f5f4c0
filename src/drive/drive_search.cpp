#include "drive/drive_search.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <thread>
#include <vector>

#include "drive/candidates.h"
#include "drive/drive_events.h"
#include "drive/drives.h"
#include "drive/image_binding.h"
#include "output/events.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "settings/settings.h"
#include "uf2/families.h"
#include "uf2/uf2_blocks.h"

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

// What one drive's flash came to, with the line that says it ("" for none).
Event verdict_event(Outcome outcome, const std::string& line) {
  return Event("verdict", line.empty() ? "" : line + "\n")
      .str("outcome", outcome_name(outcome))
      .num("status", static_cast<uint64_t>(exit_status(outcome)))
      .opt_str("text", line);
}

// The line that tells the outcome of a copy, if any, as the verdict event.
// `not_taken` says why the board would not take the file, when its facts tell.
Outcome report(Outcome outcome, const std::string& error, const std::string& not_taken = "") {
  std::string line;
  switch (outcome) {
    case Outcome::kBoardRestarted:
      line = "Board restarted";
      break;
    case Outcome::kNotTaken:
      if (!not_taken.empty()) {
        line = "Board did not take the file: " + not_taken;
        break;
      }
      line = "Board did not take the file: it did not restart within " +
             std::to_string(kRestartWaitMs / 1000) +
             " s (blocks for another chip family, or not this board's image)";
      break;
    case Outcome::kCopyFailed:
      line = "Copy failed: " + escape_controls(error);
      break;
    default:
      break;
  }
  emit(verdict_event(outcome, line));
  return outcome;
}

// What goes onto one board, decided before anything is written: the file,
// or the UF2 image made from it for the board, and the events that say so.
struct Prepared {
  bool made = false;
  Firmware image;             // when made
  std::vector<Event> events;  // the conversion, notes, and a refusal last
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
  prepared->events.push_back(verdict_event(Outcome::kRefused, line));
  prepared->refused = true;
  return false;
}

Event conversion_event(const Firmware& image, uint32_t family) {
  const std::string line = conversion_line(image, family);
  return Event("conversion", line + "\n")
      .str("file", image.source.name)
      .num("blocks", image.bytes.size() / kUf2BlockSize)
      .str("family", uf2_family_hex(family))
      .str("text", line);
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
  prepared->events.push_back(conversion_event(prepared->image, binding.family));
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
  for (const std::string& note : check.notes) {
    prepared->events.push_back(Event("note", note + "\n").str("text", note));
  }
  prepared->not_taken = check.not_taken;
  return !check.refused || refuse(check.refusal, prepared);
}

std::vector<std::string> family_names(const std::vector<uint32_t>& families) {
  std::vector<std::string> names;
  for (uint32_t family : families) names.push_back(uf2_family_hex(family));
  return names;
}

// A drive with the marker and what it tells, with `text` for the text form.
Event drive_event(const std::string& text, const Candidate& candidate, const Drive& drive) {
  const BoardFacts& facts = candidate.facts;
  return Event("drive", text)
      .str("root", drive.root)
      .str("marker", candidate.marker.name)
      .num("marker_size", static_cast<uint64_t>(candidate.marker.size < 0 ? 0 : candidate.marker.size))
      .opt_str("port", candidate.place.port)
      .opt_str("serial", candidate.place.serial)
      .opt_str("bootloader", facts.bootloader)
      .opt_str("model", facts.model)
      .opt_str("board_id", facts.board_id)
      .strs("families", family_names(facts.families))
      .opt_num("flash_size", facts.flash_size);
}

// One drive's flash, from the checks to the verdict.
struct Delivery {
  const Candidate* candidate = nullptr;
  Drive* drive = nullptr;
  Prepared prepared;
  bool ready = false;  // checked and writable: the copy may start
  Outcome outcome = Outcome::kCopyFailed;
};

// Checks the file against the board and makes the drive writable: what the
// board's facts refuse is refused before that, and nothing is written.
void get_ready(const Firmware& firmware, Delivery* delivery) {
  const Candidate& candidate = *delivery->candidate;
  const bool fits = prepare(firmware, candidate.facts, &delivery->prepared);
  std::string why;
  if (fits && !make_drive_writable(delivery->drive, &why)) {
    delivery->outcome = report(Outcome::kCopyFailed, why);
    return;
  }
  emit(drive_event("Find: " + escape_controls(candidate.marker.name) + ", size " +
                       std::to_string(candidate.marker.size) + "\n",
                   candidate, *delivery->drive));
  for (const Event& event : delivery->prepared.events) emit(event);
  delivery->outcome = Outcome::kRefused;
  delivery->ready = fits;
}

// Copies the file onto the drive and tells what the board did with it.
void copy_and_judge(const Firmware& firmware, const std::string& marker, Delivery* delivery) {
  const Prepared& prepared = delivery->prepared;
  const Drive& drive = *delivery->drive;
  const Firmware& image = prepared.made ? prepared.image : firmware;
  CopyJob job = copy_job(image);
  job.quiet = flash_all || json_output;
  const std::string line = escape_controls(copy_command_line(job.name, drive.root));
  emit(Event("copy", line + "\n")
           .str("file", job.name)
           .str("root", drive.root)
           .num("bytes", job.bytes && !job.bytes->empty() ? job.bytes->size() : job.source->size));
  fflush(stdout);  // the copy may print too; keep the order
  const CopyResult copy = copy_to_drive(job, drive);
  CopyObservation seen;
  seen.uf2 = image.uf2;
  seen.copy_ok = copy.ok;
  seen.destination_changed = copy.destination_changed;
  seen.family_delivered = family_delivered(image, copy);
  if (restart_expected(seen)) {
    seen.drive_gone = wait_for_drive_to_leave(drive, marker);
  } else if (!copy.ok) {
    seen.drive_gone = !drive_still_there(drive, marker);
  }
  const Verdict verdict = decide_verdict(seen);
  // Leave no truncated image behind, and nothing else than what this run wrote.
  if (verdict.discard) discard_copy(job, drive);
  delivery->outcome = report(verdict.outcome, copy.error, prepared.not_taken);
}

// What one pass found: the drives it listed, the lines each gave, and the
// candidates among them. Drives without the marker are released at once.
struct Findings {
  std::vector<Drive> drives;
  std::vector<std::vector<std::string>> lines;  // per drive
  std::vector<Candidate> candidates;
  uint64_t attach_in_ms = 0;  // the soonest a drive left to the desktop may be attached
};

// False for a drive that --drive, when given, does not name.
bool wanted_by_name(const Drive& drive) {
  return drive_name == nullptr || drive_named(drive, drive_name);
}

void look_at(const std::string& marker, size_t index, Findings* found) {
  Drive& drive = found->drives[index];
  std::vector<std::string>& lines = found->lines[index];
  // A drive --drive does not name is passed over without a word, and never
  // mounted.
  if (!wanted_by_name(drive)) return;
  std::string message;
  if (!attach_drive(&drive, &message)) {
    if (!message.empty()) lines.push_back(message);
    const uint64_t soonest = found->attach_in_ms;
    if (drive.attach_in_ms > 0 && (soonest == 0 || drive.attach_in_ms < soonest)) {
      found->attach_in_ms = drive.attach_in_ms;
    }
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
  candidate.place = usb_place_of_drive(drive);
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
    for (const std::string& line : found.lines[i]) {
      const bool disk = line.compare(0, 15, "Removable Disk ") == 0;
      emit(disk ? Event("removable_disk", line + "\n").str("root", found.drives[i].root)
                : Event("message", line + "\n").str("text", line));
    }
  }
}

// What the passes are after, and what they have said so far.
struct Search {
  const Firmware* firmware = nullptr;  // nullptr: --list, nothing is copied
  std::string marker;
  Choice choice;
  size_t boards_triggered = 0;  // --all waits for as many drives
  std::set<std::string> passed_over;  // roots already said
  // When the last pass left a drive nobody mounted to the desktop: the
  // monotonic time at which it may be mounted (0: none).
  uint64_t look_again_at = 0;
  Outcome outcome = Outcome::kNotFound;
  size_t listed = 0;  // --list: the drives listed
};

const Drive& drive_of(const Findings& found, const Candidate& candidate) {
  return found.drives[candidate.drive];
}

std::string joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
  return text;
}

void say_passed_over(const Findings& found, const std::vector<size_t>& passed, Search* search) {
  std::vector<std::string> ports;
  for (const std::string& port : search->choice.triggered_ports) {
    if (!port.empty()) ports.push_back(port);
  }
  for (size_t i : passed) {
    const Candidate& candidate = found.candidates[i];
    const std::string& root = drive_of(found, candidate).root;
    if (!search->passed_over.insert(root).second) continue;
    const std::string line = "Passed over " + escape_controls(root) + ": its board is on USB port " +
                             escape_controls(candidate.place.port) +
                             ", the triggered board is on " + escape_controls(joined(ports));
    emit(Event("passed_over", line + "\n")
             .str("root", root)
             .str("port", candidate.place.port)
             .strs("triggered", ports));
  }
}

void note_others(const Findings& found, const std::vector<size_t>& others,
                 const std::string& marker) {
  if (others.empty()) return;
  std::vector<std::string> roots;
  for (size_t i : others) roots.push_back(drive_of(found, found.candidates[i]).root);
  std::vector<std::string> shown;
  for (const std::string& root : roots) shown.push_back(escape_controls(root));
  const std::string line = "Note: other drives carry " + escape_controls(marker) + " too: " +
                           joined(shown) + "; choose one with --drive, or flash every one with --all";
  emit(Event("note", line + "\n").str("text", line).strs("others", roots));
}

// --list: a drive's entry, the lines whose value is unknown left out.
Event listing_event(const Candidate& candidate, const Drive& drive) {
  const BoardFacts& facts = candidate.facts;
  std::string text = "Drive " + escape_controls(drive.root) + "\n";
  text += "  Marker: " + escape_controls(candidate.marker.name) + ", size " +
          std::to_string(candidate.marker.size) + "\n";
  const std::pair<const char*, const std::string*> lines[] = {
      {"Bootloader", &facts.bootloader},        {"Model", &facts.model},
      {"Board-ID", &facts.board_id},            {"USB port", &candidate.place.port},
      {"Serial number", &candidate.place.serial},
  };
  for (const auto& line : lines) {
    if (!line.second->empty()) text += std::string("  ") + line.first + ": " + escape_controls(*line.second) + "\n";
  }
  return drive_event(text, candidate, drive);
}

// Flashes the chosen drives: one in this thread, several in a thread each,
// their lines prefixed with their roots. The checks and the mounts are done
// here one drive after another; the copies and the waits run at once.
Outcome flash(Findings* found, const std::vector<size_t>& chosen, Search* search) {
  std::vector<Delivery> deliveries(chosen.size());
  for (size_t k = 0; k < chosen.size(); ++k) {
    deliveries[k].candidate = &found->candidates[chosen[k]];
    deliveries[k].drive = &found->drives[deliveries[k].candidate->drive];
  }
  if (!flash_all) {
    get_ready(*search->firmware, &deliveries[0]);
    if (deliveries[0].ready) copy_and_judge(*search->firmware, search->marker, &deliveries[0]);
    return deliveries[0].outcome;
  }
  for (Delivery& delivery : deliveries) {
    set_event_drive(delivery.drive->root);
    get_ready(*search->firmware, &delivery);
  }
  set_event_drive("");
  std::vector<std::thread> copies;
  for (Delivery& delivery : deliveries) {
    if (!delivery.ready) continue;
    copies.emplace_back([search, &delivery] {
      set_event_drive(delivery.drive->root);
      copy_and_judge(*search->firmware, search->marker, &delivery);
    });
  }
  for (std::thread& copy : copies) copy.join();
  std::vector<Outcome> outcomes;
  for (const Delivery& delivery : deliveries) outcomes.push_back(delivery.outcome);
  const size_t missing =
      search->boards_triggered > chosen.size() ? search->boards_triggered - chosen.size() : 0;
  outcomes.insert(outcomes.end(), missing, Outcome::kNotFound);
  const size_t took = static_cast<size_t>(std::count_if(
      deliveries.begin(), deliveries.end(),
      [](const Delivery& d) { return exit_status(d.outcome) == 0; }));
  std::string line = "Summary: " + std::to_string(took) + " of " + std::to_string(chosen.size()) +
                     " drives have the file";
  if (missing > 0) {
    line += ", " + std::to_string(missing) + " triggered board" + (missing == 1 ? "" : "s") +
            " showed no drive";
  }
  const Outcome outcome = worst_outcome(outcomes);
  emit(result_event(outcome, chosen.size(), took, missing, line + "\n"));
  search->outcome = outcome;
  return outcome;
}

// Whether a pass with these drives chosen ends the search: some drive was
// chosen and, with --all after a trigger, as many as boards were
// triggered, or the passes end after this one.
bool enough(const Chosen& chosen, const Search& search, bool last_pass) {
  if (chosen.flash.empty()) return false;
  if (!search.choice.all || last_pass) return true;
  return chosen.flash.size() >= search.boards_triggered;
}

// One look at every removable drive. Returns true, with the search's
// outcome set, once the drives wanted were found and flashed (or listed).
bool search_pass(Search* search, bool last_pass) {
  Findings found;
  search->look_again_at = 0;
  if (!find_candidates(search->marker, &found)) return false;
  if (found.attach_in_ms > 0) search->look_again_at = monotonic_ms() + found.attach_in_ms;
  const Chosen chosen = choose_candidates(found.candidates, search->choice);
  const bool done = enough(chosen, *search, last_pass);
  if (search->firmware != nullptr) print_lines(found, done ? chosen.flash : std::vector<size_t>());
  say_passed_over(found, chosen.passed_over, search);
  // The others are let go before the copy: only the chosen drives are written.
  for (size_t i = 0; i < found.candidates.size(); ++i) {
    const bool kept = done && std::find(chosen.flash.begin(), chosen.flash.end(), i) != chosen.flash.end();
    if (!kept) release_drive(&found.drives[found.candidates[i].drive]);
  }
  if (!done) return false;
  if (search->firmware == nullptr) {
    for (size_t i : chosen.flash) {
      const Candidate& candidate = found.candidates[i];
      emit(listing_event(candidate, drive_of(found, candidate)));
      release_drive(&found.drives[candidate.drive]);
    }
    search->listed = chosen.flash.size();
    search->outcome = Outcome::kCopied;
    return true;
  }
  if (!flash_all) note_others(found, chosen.others, search->marker);
  search->outcome = flash(&found, chosen.flash, search);
  for (size_t i : chosen.flash) release_drive(&found.drives[found.candidates[i].drive]);
  return true;
}

}  // namespace

Event result_event(Outcome outcome, size_t drives, size_t took, size_t missing,
                   const std::string& text) {
  return Event("result", text)
      .num("status", static_cast<uint64_t>(exit_status(outcome)))
      .num("drives", drives)
      .num("took", took)
      .num("missing", missing);
}

std::string marker_name(uint32_t family) {
  if (family == 0) return "INFO_UF2.TXT";
  char name[16];
  snprintf(name, sizeof name, "%08X.ID", static_cast<unsigned>(family));
  return name;
}

namespace {

// A look between passes that prints nothing and leaves nothing attached:
// whether a drive the system mounted carries the marker now and would be
// chosen. Drives nobody mounted are left to the passes: looking at one means
// mounting it, what goes wrong there is said once, by a pass, and a drive
// that just appeared is left to the desktop's automounter first anyway.
bool wanted_in_sight(const Search& search, bool last_pass) {
  std::vector<Drive> drives;
  if (!list_removable_drives(&drives)) return false;
  std::vector<Candidate> candidates;
  for (Drive& drive : drives) {
    if (drive.mounted != Mounted::kBySystem) continue;
    if (!wanted_by_name(drive)) continue;
    std::string message;
    Candidate candidate;
    if (!attach_drive(&drive, &message)) continue;
    if (find_marker(&drive, search.marker, &candidate.marker)) {
      candidate.place = usb_place_of_drive(drive);
      candidates.push_back(candidate);
    }
    release_drive(&drive);
  }
  return enough(choose_candidates(candidates, search.choice), search, last_pass);
}

// The pause after a pass that found nothing. It lasts kPassPauseMs, but
// whenever the drives change a silent look is made, and when it sees the
// drives wanted the next pass runs at once. A pass that then finds nothing
// (the drive left again) lets the rest of the pause run without another:
// its own mounts must not set off the next. A drive nobody mounted that the
// pass left to the desktop is looked at by a pass of its own the moment it
// may be mounted. True when such a pass ended the search.
bool pause_watching(Search* search, bool last_pass) {
  fflush(stdout);
  bool passed = false;
  const uint64_t end = monotonic_ms() + kPassPauseMs;
  for (uint64_t now = monotonic_ms(); now < end; now = monotonic_ms()) {
    const uint64_t mountable_at = search->look_again_at;
    if (mountable_at != 0 && now >= mountable_at) {
      passed = true;
      if (search_pass(search, last_pass)) return true;
      continue;
    }
    const uint64_t wake = mountable_at != 0 ? std::min(end, mountable_at) : end;
    if (wait_for_drive_change(static_cast<unsigned>(wake - now)) && !passed &&
        wanted_in_sight(*search, last_pass)) {
      passed = true;
      if (search_pass(search, last_pass)) return true;
    }
  }
  return false;
}

// The passes, up to `times` of them 500 ms apart (counting `times` down; a
// countdown line for each pause that ran its full length). True when they
// ended the search.
bool run_passes(Search* search) {
  if (times != 0) watch_drive_changes();
  for (;;) {
    // The passes end after this one (and its pause): --all takes what it has.
    const bool last_pass = times == 0 || times == 1;
    if (search_pass(search, last_pass)) return true;
    if (times == 0) return false;
    if (pause_watching(search, last_pass)) return true;
    if (times > 0) {
      --times;
      emit(Event("pass", "times:" + std::to_string(times) + "\n").num("left", static_cast<uint64_t>(times)));
      if (times == 0) return false;
    }
  }
}

Search search_for(const Firmware* firmware, const std::vector<std::string>& triggered_ports) {
  Search search;
  search.firmware = firmware;
  search.marker = marker_name(family_id);
  search.choice.triggered_ports = triggered_ports;
  search.choice.all = flash_all || firmware == nullptr;
  search.boards_triggered = triggered_ports.size();
  return search;
}

}  // namespace

Outcome scan_removable_drives(const Firmware& firmware,
                              const std::vector<std::string>& triggered_ports) {
  Search search = search_for(&firmware, triggered_ports);
  if (!run_passes(&search)) {
    emit(result_event(Outcome::kNotFound, 0, 0, triggered_ports.size(),
                      "No bootloader drive found\n"));
    return Outcome::kNotFound;
  }
  if (!flash_all) {
    emit(result_event(search.outcome, 1, exit_status(search.outcome) == 0 ? 1 : 0, 0));
  }
  return search.outcome;
}

size_t list_bootloader_drives(const std::vector<std::string>& triggered_ports) {
  Search search = search_for(nullptr, triggered_ports);
  return run_passes(&search) ? search.listed : 0;
}
