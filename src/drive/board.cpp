#include "drive/board.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "platform/text.h"
#include "uf2/families.h"
#include "uf2/uf2.h"

namespace {

// Boards whose bootloader the tool knows by the Board-ID in INFO_UF2.TXT. Both
// boot ROMs show no CURRENT.UF2 and keep only blocks that carry their family.
struct KnownBoard {
  const char* board_id;
  std::vector<uint32_t> families;
  bool needs_family_id;
  uint64_t flash_start;
  uint64_t app_start;
};

const KnownBoard kKnownBoards[] = {
    {"RPI-RP2", {0xE48BFF56}, true, 0x10000000, 0x10000000},
    {"RP2350", {0xE48BFF59, 0xE48BFF5A, 0xE48BFF5B, 0xE48BFF57}, true, 0x10000000, 0x10000000},
};

bool same_text(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return i == a.size() && b[i] == '\0';
}

std::string trimmed(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(" \t") + 1 - begin);
}

std::vector<std::string> lines_of(const uint8_t* data, size_t size) {
  std::vector<std::string> lines(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n') continue;
    if (data[i] == '\r' || data[i] == '\n') {
      lines.emplace_back();
    } else {
      lines.back().push_back(static_cast<char>(data[i]));
    }
  }
  return lines;
}

// "2048K", "256 KB", "2 MiB", "0x100000", "262144": bytes, or false.
bool read_size(const std::string& text, uint64_t* bytes) {
  const char* p = text.c_str();
  if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
  char* end;
  const int base = p[0] == '0' && (p[1] == 'x' || p[1] == 'X') ? 16 : 10;
  const unsigned long long value = std::strtoull(p, &end, base);
  std::string unit = trimmed(end);
  for (char& c : unit) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  uint64_t scale = 0;
  if (unit.empty() || unit == "B" || unit == "BYTES") scale = 1;
  if (unit == "K" || unit == "KB" || unit == "KIB") scale = 1024;
  if (unit == "M" || unit == "MB" || unit == "MIB") scale = 1024 * 1024;
  if (scale == 0 || value == 0 || value > (1ull << 40) / scale) return false;
  *bytes = value * scale;
  return true;
}

const KnownBoard* known_board(const std::string& board_id) {
  for (const KnownBoard& board : kKnownBoards) {
    if (same_text(board_id, board.board_id)) return &board;
  }
  return nullptr;
}

void facts_from_info(const InfoUf2& info, BoardFacts* facts) {
  facts->bootloader = info.bootloader;
  if (const std::string* model = info_field(info, "Model")) facts->model = *model;
  if (const std::string* id = info_field(info, "Board-ID")) facts->board_id = *id;
  uint64_t size;
  const std::string* flash = info_field(info, "Flash Size");
  if (flash != nullptr && read_size(*flash, &size)) {
    facts->flash_size = size;
    facts->flash_size_from = "Flash Size: " + escape_controls(*flash) + " in INFO_UF2.TXT";
  }
  const KnownBoard* board = known_board(facts->board_id);
  if (board == nullptr) return;
  facts->families = board->families;
  facts->needs_family_id = board->needs_family_id;
  facts->flash_start = board->flash_start;
  facts->app_start = board->app_start;
}

}  // namespace

InfoUf2 parse_info_uf2(const uint8_t* data, size_t size) {
  InfoUf2 info;
  const std::vector<std::string> lines = lines_of(data, std::min(size, kInfoUf2MaxSize));
  info.bootloader = trimmed(lines.front());
  for (size_t i = 1; i < lines.size(); ++i) {
    const size_t colon = lines[i].find(':');
    if (colon == std::string::npos) continue;
    std::string key = trimmed(lines[i].substr(0, colon));
    if (key.empty() || info_field(info, key.c_str()) != nullptr) continue;
    info.fields.emplace_back(key, trimmed(lines[i].substr(colon + 1)));
  }
  return info;
}

const std::string* info_field(const InfoUf2& info, const char* key) {
  for (const auto& field : info.fields) {
    if (same_text(field.first, key)) return &field.second;
  }
  return nullptr;
}

BoardFacts board_facts(const InfoUf2* info, const uint8_t* current, size_t current_size) {
  BoardFacts facts;
  if (info != nullptr) facts_from_info(*info, &facts);
  uint32_t running;
  if (facts.families.empty() && current != nullptr &&
      block_family(current, current_size, &running)) {
    facts.families.push_back(running);
  }
  return facts;
}

namespace {

bool takes_family(const BoardFacts& facts, uint32_t id) {
  return std::find(facts.families.begin(), facts.families.end(), id) != facts.families.end();
}

bool takes_group(const BoardFacts& facts, const Uf2Group& group) {
  if (!group.has_id) return !facts.needs_family_id.value_or(false);
  return takes_family(facts, group.id);
}

std::string hex32(uint64_t value) {
  char text[24];
  snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(value));
  return text;
}

std::string families_text(const std::vector<uint32_t>& families) {
  if (families.size() == 1) return "family " + uf2_family_label(families[0]);
  std::string text = "families ";
  for (size_t i = 0; i < families.size(); ++i) {
    if (i > 0) text += i + 1 == families.size() ? " and " : ", ";
    text += uf2_family_label(families[i]);
  }
  return text;
}

// The blocks the board would write from one drop of the file: those of one
// family it takes, with those that carry no family id when it takes them.
struct Taken {
  std::string what;
  uint32_t blocks = 0;
  uint64_t payload = 0;
  uint64_t end = 0;  // just past the highest address written
};

void add_group(const Uf2Group& group, Taken* taken) {
  taken->blocks += group.blocks;
  taken->payload += group.payload_bytes;
  if (!group.ranges.empty()) taken->end = std::max(taken->end, group.ranges.back().end);
}

std::vector<Taken> taken_sets(const std::vector<Uf2Group>& groups, const BoardFacts& facts) {
  const Uf2Group* no_id = nullptr;
  for (const Uf2Group& group : groups) {
    if (!group.has_id && takes_group(facts, group)) no_id = &group;
  }
  std::vector<Taken> sets;
  for (const Uf2Group& group : groups) {
    if (!group.has_id || !takes_group(facts, group)) continue;
    Taken taken;
    add_group(group, &taken);
    taken.what = "its " + std::to_string(group.blocks) + " blocks for family " +
                 uf2_family_label(group.id);
    if (no_id != nullptr) {
      add_group(*no_id, &taken);
      taken.what += " and " + std::to_string(no_id->blocks) + " without a family id";
    }
    sets.push_back(taken);
  }
  if (sets.empty() && no_id != nullptr) {
    Taken taken;
    add_group(*no_id, &taken);
    taken.what = "its " + std::to_string(no_id->blocks) + " blocks without a family id";
    sets.push_back(taken);
  }
  return sets;
}

// Why the blocks would not fit the board's flash, or empty when they fit.
std::string overflow(const Taken& taken, const BoardFacts& facts) {
  const uint64_t size = *facts.flash_size;
  if (taken.payload > size) {
    return taken.what + " carry " + std::to_string(taken.payload) +
           " payload bytes, more than the board's flash of " + std::to_string(size) + " bytes (" +
           facts.flash_size_from + ")";
  }
  if (facts.flash_start && taken.end > *facts.flash_start + size) {
    return taken.what + " write up to " + hex32(taken.end - 1) +
           ", past the end of the board's flash at " + hex32(*facts.flash_start + size - 1) +
           " (" + std::to_string(size) + " bytes from " + hex32(*facts.flash_start) + ", " +
           facts.flash_size_from + ")";
  }
  return "";
}

}  // namespace

BoardCheck check_for_board(const std::vector<Uf2Group>& groups, const BoardFacts& facts,
                           const std::string& name) {
  BoardCheck check;
  const std::string file = escape_controls(name);
  const std::vector<Taken> sets = taken_sets(groups, facts);
  const bool has_ids = std::any_of(groups.begin(), groups.end(),
                                   [](const Uf2Group& group) { return group.has_id; });
  if (!facts.families.empty() && sets.empty() && has_ids) {
    const std::string families = families_text(facts.families);
    check.notes.push_back("Note: the board runs " + families + " and " + file +
                          " has no block for " +
                          (facts.families.size() == 1 ? "it" : "any of them"));
    check.not_taken = "the board runs " + families + " and " + file + " has none";
  }
  for (const Uf2Group& group : groups) {
    if (!group.has_id && facts.needs_family_id.value_or(false)) {
      check.notes.push_back("Note: the board ignores blocks without a family id, and " + file +
                            " has " + std::to_string(group.blocks) + " of them");
      if (sets.empty() && check.not_taken.empty()) {
        check.not_taken = "the board ignores blocks without a family id, and " + file +
                          " has no other";
      }
    }
  }
  if (!facts.flash_size) return check;
  for (const Taken& taken : sets) {
    const std::string why = overflow(taken, facts);
    if (why.empty()) continue;
    check.refused = true;
    check.refusal = "Refused UF2 file " + file + ": " + why;
    break;
  }
  return check;
}
