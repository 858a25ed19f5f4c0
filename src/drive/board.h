// What the tool knows about the board behind a bootloader drive: what its
// INFO_UF2.TXT and the first block of its CURRENT.UF2 say, and the boards it
// knows by their Board-ID. From these facts, whether a UF2 file suits the
// board. Pure: the drive's files are read elsewhere and handed in.
#ifndef FLASHDROP_DRIVE_BOARD_H_
#define FLASHDROP_DRIVE_BOARD_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "uf2/uf2_blocks.h"

// Larger than any INFO_UF2.TXT; what lies beyond it is not read.
constexpr size_t kInfoUf2MaxSize = 4096;

// INFO_UF2.TXT: its first line names the bootloader and its version; the
// other lines are "Key: value" pairs (Model, Board-ID, Date, Flash Size, ...).
struct InfoUf2 {
  std::string bootloader;
  std::vector<std::pair<std::string, std::string>> fields;  // in file order, trimmed
};

// Reads INFO_UF2.TXT's text, with any line ends (LF, CR LF, CR). Lines
// without a colon, and a key given again, are left out.
InfoUf2 parse_info_uf2(const uint8_t* data, size_t size);

// The value of `key`, compared without letter case, or nullptr.
const std::string* info_field(const InfoUf2& info, const char* key);

// What is known about the board; every fact may be unknown.
struct BoardFacts {
  std::string bootloader, model, board_id;  // empty when not said
  std::vector<uint32_t> families;           // the families it takes; empty: not known
  std::optional<bool> needs_family_id;      // ignores blocks that carry no family id
  std::optional<uint64_t> flash_size;
  std::string flash_size_from;              // where flash_size was read, for the user
  std::optional<uint64_t> flash_start;
  std::optional<uint64_t> app_start;        // where an application (or a raw binary) goes
};

// The facts from INFO_UF2.TXT (`info`, nullptr when the drive has none), the
// first block of CURRENT.UF2 (`current`, nullptr or empty when absent), and
// the table of boards known by Board-ID, which outranks CURRENT.UF2.
BoardFacts board_facts(const InfoUf2* info, const uint8_t* current, size_t current_size);

// Before the copy: lines to print, and a refusal when the file would harm
// the board.
struct BoardCheck {
  std::vector<std::string> notes;  // "Note: ..." lines
  bool refused = false;
  std::string refusal;             // "Refused UF2 file ...", when refused
  // Why the board will not take the file, for the line that says it did
  // not: empty when the facts give no reason.
  std::string not_taken;
};

// Checks the UF2 file `name`, whose blocks are `groups`, against the board:
// a note when it has no block for any family the board takes, a note when
// the board needs a family id and some blocks carry none, and a refusal when
// the blocks the board would take need more than its flash (their payload
// bytes, or addresses past its end). Unknown facts give nothing.
BoardCheck check_for_board(const std::vector<Uf2Group>& groups, const BoardFacts& facts,
                           const std::string& name);

#endif  // FLASHDROP_DRIVE_BOARD_H_
