#include "drive/drive_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "drive/candidates.h"
#include "fakes/fake_drives.h"
#include "fakes/fake_platform.h"
#include "settings/settings.h"
#include "uf2/families.h"
#include "uf2_builder.h"

namespace {

class DriveSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_settings();
    // The drives are found by -f's marker, which takes any file as it is:
    // one for a UF2 bootloader (INFO_UF2.TXT) gets UF2 blocks only.
    family_id = 0x2A;
    fake_drives::reset();
    fake_clock::reset();
    use_file("fw.uf2", std::vector<uint8_t>(1000, 'x'));
  }

  // The board's four blocks then another family's two, onto the board's
  // drive; the copy fails after `acknowledged` bytes, and the drive leaves
  // after `looks` looks (-1: it stays).
  void copy_fails_onto_board(uint64_t acknowledged, const std::string& why, int looks);

  void use_file(const std::string& name, const std::vector<uint8_t>& bytes) {
    fake_drives::source_file(name, bytes);
    firmware_ = Firmware();
    std::string why;
    ASSERT_TRUE(load_firmware(name.c_str(), &firmware_, &why)) << why;
  }

  // Runs the search and returns what it printed.
  std::string search() {
    testing::internal::CaptureStdout();
    result_ = scan_removable_drives(firmware_, triggered_ports_);
    return testing::internal::GetCapturedStdout();
  }

  Firmware firmware_;
  std::vector<std::string> triggered_ports_;  // one per board the trigger reached

  Outcome result_ = Outcome::kCopied;
};

const FakeDrive kPlainStick = {"D:\\", {{"photo.jpg", 10}}};
const FakeDrive kBootloader = {"E:\\", {{"0000002A.ID", 123}}};

TEST_F(DriveSearchTest, MarkerNameFollowsTheFamilyId) {
  EXPECT_EQ(marker_name(0), "INFO_UF2.TXT");
  EXPECT_EQ(marker_name(42), "0000002A.ID");
  EXPECT_EQ(marker_name(0xE48BFF56u), "E48BFF56.ID");
}

TEST_F(DriveSearchTest, NoDriveAndNoTimesIsOnePassWithoutPause) {
  EXPECT_EQ(search(), "No bootloader drive found\n");
  EXPECT_EQ(result_, Outcome::kNotFound);
  EXPECT_EQ(fake_drives::passes_listed(), 1);
  EXPECT_TRUE(fake_clock::sleeps().empty());
}

TEST_F(DriveSearchTest, EachUnsuccessfulPassIsFollowedByAPauseAndTheCountdown) {
  times = 2;
  fake_drives::script({{false, {kPlainStick}}});
  EXPECT_EQ(search(),
            "Removable Disk D:\\\ntimes:1\n"
            "Removable Disk D:\\\ntimes:0\n"
            "No bootloader drive found\n");
  EXPECT_EQ(fake_clock::sleeps(), (std::vector<unsigned>{500, 500}));
  EXPECT_EQ(times, 0);
  EXPECT_TRUE(fake_drives::copies().empty());
}

TEST_F(DriveSearchTest, TimesOneIsOnePassThatStillCountsDown) {
  times = 1;
  EXPECT_EQ(search(), "times:0\nNo bootloader drive found\n");
  EXPECT_EQ(fake_drives::passes_listed(), 1);
  EXPECT_EQ(fake_clock::sleeps(), (std::vector<unsigned>{500}));
}

TEST_F(DriveSearchTest, FirstDriveWithTheMarkerGetsTheFileAndEndsTheSearch) {
  const FakeDrive second = {"F:\\", {{"info_uf2.txt", 7}}};
  fake_drives::script({{false, {kPlainStick, kBootloader, second}}});
  times = 5;
  EXPECT_EQ(search(),
            "Removable Disk D:\\\n"
            "Removable Disk E:\\\n"
            "Find: 0000002A.ID, size 123\n"
            "copy \"fw.uf2\" E:\\\n");
  EXPECT_EQ(result_, Outcome::kCopied);
  ASSERT_EQ(fake_drives::copies().size(), 1u);
  EXPECT_EQ(fake_drives::copies()[0].root, "E:\\");
  EXPECT_EQ(fake_drives::copies()[0].source, "fw.uf2");
  EXPECT_TRUE(fake_clock::sleeps().empty());
  EXPECT_EQ(times, 5);
}

// The choice among the candidates of a pass. Each candidate: its port ("-"
// unknown), after an 'n'.
TEST(ChooseCandidates, PortAndAllDecideWhichDrivesAreFlashed) {
  const auto candidates = [](const std::vector<std::string>& specs) {
    std::vector<Candidate> list;
    for (const std::string& spec : specs) {
      Candidate candidate;
      candidate.place.port = spec.substr(1) == "-" ? "" : spec.substr(1);
      list.push_back(candidate);
    }
    return list;
  };
  const struct {
    const char* what;
    std::vector<std::string> candidates;
    std::vector<std::string> triggered;
    bool all;
    std::vector<size_t> flash, passed_over, others;
  } cases[] = {
      {"none", {}, {}, false, {}, {}, {}},
      {"the first, the others named in the note", {"n1-1", "n1-2", "n-"}, {}, false, {0}, {}, {1, 2}},
      {"the triggered board's port, another port passed over", {"n1-1", "n2-1"}, {"2-1"}, false, {1}, {0}, {}},
      {"only another port: nothing yet", {"n1-1"}, {"2-1"}, false, {}, {0}, {}},
      {"an unknown port stays, after the triggered port", {"n-", "n2-1", "n1-1"}, {"2-1"}, false, {1}, {2}, {0}},
      {"the trigger told no port: as without it", {"n1-1", "n2-1"}, {""}, false, {0}, {}, {1}},
      {"two boards triggered: either port", {"n3-1", "n1-1", "n2-1"}, {"1-1", "2-1"}, false, {1}, {0}, {2}},
      {"--all: every drive, whatever the ports", {"n1-1", "n2-1", "n-"}, {"2-1"}, true, {0, 1, 2}, {}, {}},
  };
  for (const auto& c : cases) {
    Choice choice;
    choice.triggered_ports = c.triggered;
    choice.all = c.all;
    const Chosen chosen = choose_candidates(candidates(c.candidates), choice);
    EXPECT_EQ(chosen.flash, c.flash) << c.what;
    EXPECT_EQ(chosen.passed_over, c.passed_over) << c.what;
    EXPECT_EQ(chosen.others, c.others) << c.what;
  }
}

// Every drive with the marker is a candidate, each one attached is released,
// and only the chosen one is made writable and gets the file. The lines stop
// at the chosen drive, as they did when the search stopped there.
TEST_F(DriveSearchTest, OnlyTheChosenCandidateIsMadeWritableAndEveryAttachedDriveIsReleased) {
  FakeDrive gone = {"H:\\", {{"0000002A.ID", 9}}};
  gone.attach_fails = true;
  gone.attach_message = "Cannot mount /dev/sdh: Input/output error";
  const FakeDrive second = {"F:\\", {{"0000002A.ID", 7}}};
  fake_drives::script({{false, {kPlainStick, kBootloader, second, gone, kPlainStick}}});
  EXPECT_EQ(search(),
            "Removable Disk D:\\\n"
            "Removable Disk E:\\\n"
            "Note: other drives carry 0000002A.ID too: F:\\; choose one with --drive, or flash "
            "every one with --all\n"
            "Find: 0000002A.ID, size 123\n"
            "copy \"fw.uf2\" E:\\\n");
  EXPECT_EQ(fake_drives::made_writable(), std::vector<std::string>{"E:\\"});
  ASSERT_EQ(fake_drives::copies().size(), 1u);
  EXPECT_EQ(fake_drives::copies()[0].root, "E:\\");
  std::vector<std::string> attached = fake_drives::attached();
  std::vector<std::string> released = fake_drives::released();
  std::sort(attached.begin(), attached.end());
  std::sort(released.begin(), released.end());
  EXPECT_EQ(attached, (std::vector<std::string>{"D:\\", "D:\\", "E:\\", "F:\\"}));
  EXPECT_EQ(released, attached);
}

TEST_F(DriveSearchTest, ADriveThatCannotBeAttachedSaysWhyOrNothing) {
  FakeDrive refused = {"", {}};
  refused.attach_fails = true;
  refused.attach_message = "Not allowed to mount /dev/sdb through UDisks2 (no)";
  FakeDrive silent = {"G:\\", {{"0000002A.ID", 1}}};
  silent.attach_fails = true;  // left to the desktop for now: nothing to say
  fake_drives::script({{false, {refused, silent, kBootloader}}});
  EXPECT_EQ(search(),
            "Not allowed to mount /dev/sdb through UDisks2 (no)\n"
            "Removable Disk E:\\\n"
            "Find: 0000002A.ID, size 123\n"
            "copy \"fw.uf2\" E:\\\n");
  EXPECT_EQ(fake_drives::released(), std::vector<std::string>{"E:\\"});
}

TEST_F(DriveSearchTest, ADriveThatCannotBeMadeWritableIsACopyFailureWithoutACopy) {
  FakeDrive read_only = kBootloader;
  read_only.writable_fails = true;
  read_only.writable_reason = "cannot mount /dev/sdb1 writable: Read-only file system";
  fake_drives::script({{false, {read_only}}});
  times = 3;
  EXPECT_EQ(search(),
            "Removable Disk E:\\\n"
            "Copy failed: cannot mount /dev/sdb1 writable: Read-only file system\n");
  EXPECT_EQ(result_, Outcome::kCopyFailed);
  EXPECT_TRUE(fake_drives::copies().empty());
  EXPECT_EQ(fake_drives::passes_listed(), 1);
  EXPECT_EQ(fake_drives::released(), std::vector<std::string>{"E:\\"});
}

TEST_F(DriveSearchTest, MarkerIsPrintedAsStoredOnTheDrive) {
  fake_drives::script({{false, {{"/media/u/BOOT", {{"0000002a.Id", 5}}}}}});
  EXPECT_EQ(search(),
            "Removable Disk /media/u/BOOT\n"
            "Find: 0000002a.Id, size 5\n"
            "copy \"fw.uf2\" /media/u/BOOT\n");
}

TEST_F(DriveSearchTest, FamilyIdSelectsItsOwnMarkerOnly) {
  const FakeDrive info_only = {"E:\\", {{"INFO_UF2.TXT", 123}}};
  const FakeDrive both = {"G:\\", {{"INFO_UF2.TXT", 1}, {"0000002A.ID", 2}}};
  family_id = 42;
  fake_drives::script({{false, {info_only, both}}});
  EXPECT_EQ(search(),
            "Removable Disk E:\\\n"
            "Removable Disk G:\\\n"
            "Find: 0000002A.ID, size 2\n"
            "copy \"fw.uf2\" G:\\\n");
  ASSERT_EQ(fake_drives::copies().size(), 1u);
  EXPECT_EQ(fake_drives::copies()[0].root, "G:\\");
}

TEST_F(DriveSearchTest, DriveThatAppearsInALaterPassIsFound) {
  times = 5;
  fake_drives::script({{false, {}}, {true, {}}, {false, {kBootloader}}});
  EXPECT_EQ(search(),
            "times:4\ntimes:3\n"
            "Removable Disk E:\\\n"
            "Find: 0000002A.ID, size 123\n"
            "copy \"fw.uf2\" E:\\\n");
  EXPECT_EQ(fake_drives::passes_listed(), 3);
  EXPECT_EQ(fake_clock::sleeps(), (std::vector<unsigned>{500, 500}));
  EXPECT_EQ(times, 3);
}

// The drives change 120 ms into the first pause and a silent look sees the
// marker: the pass that finds the drive runs then, without the countdown
// line of a pause that did not run out. (The fake's tables go by listings:
// the silent look takes the second.)
TEST_F(DriveSearchTest, AChangeDuringAPauseThatBringsTheDriveStartsThePassAtOnce) {
  times = 5;
  fake_drives::script({{false, {}}, {false, {kPlainStick, kBootloader}}});
  fake_clock::drive_change_at(120);
  EXPECT_EQ(search(),
            "Removable Disk D:\\\n"
            "Removable Disk E:\\\n"
            "Find: 0000002A.ID, size 123\n"
            "copy \"fw.uf2\" E:\\\n");
  EXPECT_EQ(result_, Outcome::kCopied);
  EXPECT_EQ(fake_clock::sleeps(), std::vector<unsigned>{120});
  EXPECT_EQ(fake_drives::passes_listed(), 3);
  EXPECT_EQ(fake_drives::copies().size(), 1u);
  EXPECT_EQ(times, 5);
  // Each drive the silent look attached was let go again.
  EXPECT_EQ(fake_drives::made_writable(), std::vector<std::string>{"E:\\"});
  EXPECT_EQ(fake_drives::released().size(), fake_drives::attached().size());
}

// A change that brings no drive with the marker, and one during a pass:
// neither adds a line, the pauses still add up to 500 ms each, and every
// countdown line comes as it did without the wake.
TEST_F(DriveSearchTest, AChangeWithoutTheMarkerLeavesTheOutputAndTheTimeAsTheyWere) {
  times = 2;
  fake_drives::script({{false, {}}, {false, {kPlainStick}}});
  fake_clock::drive_change_at(100);
  fake_clock::drive_change_at(500);  // as the second pass runs
  EXPECT_EQ(search(),
            "times:1\n"
            "Removable Disk D:\\\n"
            "times:0\n"
            "No bootloader drive found\n");
  EXPECT_EQ(fake_clock::sleeps(), (std::vector<unsigned>{100, 400, 500}));
  EXPECT_EQ(fake_clock::change_waits(), 4);
  EXPECT_EQ(result_, Outcome::kNotFound);
  EXPECT_TRUE(fake_drives::copies().empty());
}

// The drive seen by the silent look is gone when the pass comes: the rest of
// the pause runs without another early pass, whatever changes next (the
// pass's own mounts among them).
TEST_F(DriveSearchTest, OneEarlyPassAtMostInEachPause) {
  times = 1;
  fake_drives::script({{false, {}}, {false, {kBootloader}}, {false, {}}});
  fake_clock::drive_change_at(100);
  fake_clock::drive_change_at(200);
  EXPECT_EQ(search(), "times:0\nNo bootloader drive found\n");
  EXPECT_EQ(fake_drives::passes_listed(), 3);
  EXPECT_EQ(fake_clock::sleeps(), (std::vector<unsigned>{100, 100, 300}));
}

// A drive nobody mounted is left to the desktop for a while: the pass that
// may mount it runs the moment it may, not when that pause ends.
TEST_F(DriveSearchTest, ADriveLeftToTheDesktopIsLookedAtTheMomentItMayBeMounted) {
  times = 5;
  FakeDrive unmounted = kBootloader;
  unmounted.mountable_at_ms = 1200;
  fake_drives::script({{false, {unmounted}}});
  EXPECT_EQ(search(),
            "times:4\n"
            "times:3\n"
            "Removable Disk E:\\\n"
            "Find: 0000002A.ID, size 123\n"
            "copy \"fw.uf2\" E:\\\n");
  EXPECT_EQ(fake_clock::sleeps(), (std::vector<unsigned>{500, 500, 200}));
  EXPECT_EQ(fake_drives::copies().size(), 1u);
}

TEST_F(DriveSearchTest, NegativeTimesSearchesUntilFoundWithPausesAndNoCountdown) {
  times = -1;
  std::vector<FakePass> passes(30);
  passes.push_back({false, {kBootloader}});
  fake_drives::script(passes);
  const std::string out = search();
  EXPECT_EQ(out.find("times:"), std::string::npos);
  EXPECT_EQ(result_, Outcome::kCopied);
  EXPECT_EQ(fake_drives::passes_listed(), 31);
  EXPECT_EQ(fake_clock::sleeps(), std::vector<unsigned>(30, 500));
  EXPECT_EQ(times, -1);
}

TEST_F(DriveSearchTest, FailedCopyIsReportedAndEndsTheSearch) {
  times = 3;
  fake_drives::script({{false, {kBootloader, {"F:\\", {{"0000002A.ID", 5}}}}}});
  CopyResult failure;
  failure.destination_changed = true;
  failure.error = "cannot write E:\\fw.uf2: No space left on device";
  fake_drives::copy_result(failure);
  EXPECT_EQ(search(),
            "Removable Disk E:\\\n"
            "Note: other drives carry 0000002A.ID too: F:\\; choose one with --drive, or flash "
            "every one with --all\n"
            "Find: 0000002A.ID, size 123\n"
            "copy \"fw.uf2\" E:\\\n"
            "Copy failed: cannot write E:\\fw.uf2: No space left on device\n");
  EXPECT_EQ(result_, Outcome::kCopyFailed);
  EXPECT_EQ(fake_drives::copies().size(), 1u);
  EXPECT_EQ(fake_drives::passes_listed(), 1);
  // Not a UF2 file: nothing to wait for, and the partial copy is removed.
  EXPECT_TRUE(fake_clock::sleeps().empty());
  EXPECT_EQ(fake_drives::discarded(), std::vector<std::string>{"E:\\"});
}

TEST_F(DriveSearchTest, FileNameWithSpacesStandsBetweenQuotes) {
  use_file("my build/fw 1.uf2", {1, 2, 3});
  fake_drives::script({{false, {kBootloader}}});
  EXPECT_NE(search().find("copy \"my build/fw 1.uf2\" E:\\\n"), std::string::npos);
  EXPECT_EQ(fake_drives::copies()[0].source, "my build/fw 1.uf2");
}

// A UF2 bootloader's drive that shows the running firmware's family.
constexpr uint32_t kBoardFamily = 0xE48BFF56;
constexpr uint32_t kOtherFamily = 0x68ED2B88;
const FakeDrive kUf2Board = {"E:\\",
                             {{"0000002A.ID", 123}, {"CURRENT.UF2", 1024}},
                             {{"CURRENT.UF2", uf2_file(family_blocks(2))}}};
const char kFoundOnBoard[] =
    "Removable Disk E:\\\n"
    "Find: 0000002A.ID, size 123\n"
    "copy \"fw.uf2\" E:\\\n";

std::vector<TestBlock> board_then_other() {
  std::vector<TestBlock> blocks = family_blocks(4, kBoardFamily);
  for (const TestBlock& b : family_blocks(2, kOtherFamily)) blocks.push_back(b);
  return blocks;
}

CopyResult failed_after(uint64_t acknowledged, const std::string& why) {
  CopyResult result;
  result.acknowledged = acknowledged;
  result.acknowledged_known = true;
  result.destination_changed = true;
  result.error = why;
  return result;
}

void DriveSearchTest::copy_fails_onto_board(uint64_t acknowledged, const std::string& why,
                                            int looks) {
  use_file("fw.uf2", uf2_file(board_then_other()));
  fake_drives::script({{false, {kUf2Board}}});
  fake_drives::copy_result(failed_after(acknowledged, why));
  fake_drives::leave_after_looks(looks);
}

TEST_F(DriveSearchTest, BoardThatRestartsAfterTheCopyHasTheFile) {
  const std::vector<uint8_t> file = uf2_file(board_then_other());
  use_file("fw.uf2", file);
  fake_drives::script({{false, {kUf2Board}}});
  fake_drives::leave_after_looks(3);
  EXPECT_EQ(search(), std::string(kFoundOnBoard) + "Board restarted\n");
  EXPECT_EQ(result_, Outcome::kBoardRestarted);
  EXPECT_EQ(fake_clock::sleeps(), std::vector<unsigned>(3, 50));
  ASSERT_EQ(fake_drives::copies().size(), 1u);
  // The bytes checked are the bytes copied; pieces end where each family does.
  EXPECT_EQ(fake_drives::copies()[0].bytes, file);
  EXPECT_EQ(fake_drives::copies()[0].piece_ends,
            (std::vector<uint64_t>{3 * 512, 4 * 512, 5 * 512, 6 * 512}));
}

TEST_F(DriveSearchTest, BoardThatNeverRestartsDidNotTakeTheFile) {
  use_file("fw.uf2", uf2_file(family_blocks(4, kOtherFamily)));
  fake_drives::script({{false, {kUf2Board}}});
  EXPECT_EQ(search(),
            "Removable Disk E:\\\n"
            "Find: 0000002A.ID, size 123\n"
            "Note: the board runs family 0xE48BFF56 (RP2040) and fw.uf2 has no block for it\n"
            "copy \"fw.uf2\" E:\\\n"
            "Board did not take the file: the board runs family 0xE48BFF56 (RP2040) and fw.uf2 "
            "has none\n");
  EXPECT_EQ(result_, Outcome::kNotTaken);
  unsigned waited = 0;
  for (unsigned ms : fake_clock::sleeps()) waited += ms;
  EXPECT_EQ(waited, kRestartWaitMs);
  EXPECT_TRUE(fake_drives::discarded().empty());
}

TEST_F(DriveSearchTest, ErrorAfterTheBoardsLastBlockIsARestartOnlyWhenTheDriveLeft) {
  copy_fails_onto_board(4 * 512, "cannot flush E:\\fw.uf2: No such device", 0);
  EXPECT_EQ(search(), std::string(kFoundOnBoard) + "Board restarted\n");
  EXPECT_EQ(result_, Outcome::kBoardRestarted);
  EXPECT_TRUE(fake_drives::discarded().empty());

  // The board restarted on its last block before acknowledging that write.
  SetUp();
  copy_fails_onto_board(3 * 512, "cannot write E:\\fw.uf2: No such device", 0);
  EXPECT_EQ(search(), std::string(kFoundOnBoard) + "Board restarted\n");
  EXPECT_EQ(result_, Outcome::kBoardRestarted);

  // The same error with the drive still there after the wait: the board may
  // hold the file, so nothing is removed.
  SetUp();
  copy_fails_onto_board(6 * 512, "cannot flush E:\\fw.uf2: Input/output error", -1);
  EXPECT_EQ(search(), std::string(kFoundOnBoard) +
                          "Copy failed: cannot flush E:\\fw.uf2: Input/output error\n");
  EXPECT_EQ(result_, Outcome::kCopyFailed);
  EXPECT_TRUE(fake_drives::discarded().empty());
}

TEST_F(DriveSearchTest, DrivePulledBeforeTheLastBlockIsACopyFailure) {
  copy_fails_onto_board(2 * 512, "cannot write E:\\fw.uf2: No such device", 0);
  EXPECT_EQ(search(), std::string(kFoundOnBoard) +
                          "Copy failed: cannot write E:\\fw.uf2: No such device\n");
  EXPECT_EQ(result_, Outcome::kCopyFailed);
  EXPECT_TRUE(fake_clock::sleeps().empty());
  EXPECT_TRUE(fake_drives::discarded().empty());  // nothing left to remove it from
}

// The copy never opened the destination for writing: the file there is not
// this run's to remove, and nothing reached the board, whatever its drive
// does next.
TEST_F(DriveSearchTest, CopyThatWroteNothingFailsAndRemovesNothing) {
  const struct {
    const char* what;
    bool uf2;
    int looks;
  } cases[] = {
      {"the source is the file on the drive", false, -1},
      {"a UF2 file, and the board then leaves", true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    if (c.uf2) use_file("fw.uf2", uf2_file(board_then_other()));
    fake_drives::script({{false, {c.uf2 ? kUf2Board : kBootloader}}});
    CopyResult untouched;
    untouched.error = "E:\\fw.uf2 is not a regular file on the drive";
    fake_drives::copy_result(untouched);  // acknowledged unknown, as the interpreter's copy
    fake_drives::leave_after_looks(c.looks);
    EXPECT_EQ(search(), std::string(kFoundOnBoard) +
                            "Copy failed: E:\\fw.uf2 is not a regular file on the drive\n");
    EXPECT_EQ(result_, Outcome::kCopyFailed);
    EXPECT_TRUE(fake_drives::discarded().empty());
    EXPECT_TRUE(fake_clock::sleeps().empty());  // no watch for a restart
  }
}

std::vector<uint8_t> text_bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

// A UF2 bootloader keeps UF2 blocks only: an image that is not UF2 is
// converted with what the board or the options tell, or refused; a UF2
// image that would not fit the board's flash is refused before any write.
TEST_F(DriveSearchTest, WhatTheBoardTellsDecidesBeforeTheCopy) {
  const std::string rom_info = "UF2 Bootloader v3.0\r\nModel: Raspberry Pi RP2\r\nBoard-ID: RPI-RP2\r\n";
  const FakeDrive rom = {"E:\\", {{"INFO_UF2.TXT", 60}}, {{"INFO_UF2.TXT", text_bytes(rom_info)}}};
  const FakeDrive unknown = {"E:\\", {{"INFO_UF2.TXT", 10}}, {{"INFO_UF2.TXT", text_bytes("UF2 Bootloader\n")}}};
  const FakeDrive small = {"E:\\", {{"INFO_UF2.TXT", 30}, {"CURRENT.UF2", 1024}},
                           {{"INFO_UF2.TXT", text_bytes("UF2 Bootloader\nFlash Size: 1K\n")},
                            {"CURRENT.UF2", uf2_file(family_blocks(1))}}};
  const std::string hex = ":020000040800F2\n:0400000001020304F2\n:00000001FF\n";
  const struct {
    const char* what;
    const char* file;
    std::vector<uint8_t> bytes;
    const char* family;  // --uf2-family, or nullptr
    FakeDrive drive;
    const char* lines;   // after the Find line
    Outcome outcome;
  } cases[] = {
      {"a binary for a board known by its id", "fw.bin", std::vector<uint8_t>(700, 7), nullptr,
       rom,
       "Converted fw.bin: 3 blocks for family 0xE48BFF56 (RP2040) at 0x10000000\n"
       "copy \"fw.uf2\" E:\\\nBoard restarted\n",
       Outcome::kBoardRestarted},
      {"HEX with the family given", "app.hex", text_bytes(hex), "samd21", unknown,
       "Converted app.hex: 1 blocks for family 0x68ED2B88 (SAMD21) at 0x08000000\n"
       "copy \"app.uf2\" E:\\\nBoard restarted\n",
       Outcome::kBoardRestarted},
      {"a binary for a board that tells no family", "fw.bin", std::vector<uint8_t>(700, 7),
       nullptr, unknown,
       "Refused raw binary file fw.bin: the board does not tell which UF2 family it takes; give "
       "it with --uf2-family\n",
       Outcome::kRefused},
      {"a UF2 file larger than the flash", "big.uf2", uf2_file(family_blocks(5)), nullptr, small,
       "Refused UF2 file big.uf2: its 5 blocks for family 0xE48BFF56 (RP2040) carry 1280 "
       "payload bytes, more than the board's flash of 1024 bytes (Flash Size: 1K in "
       "INFO_UF2.TXT)\n",
       Outcome::kRefused},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    family_id = 0;
    if (c.family != nullptr) {
      uf2_family_given = true;
      ASSERT_TRUE(parse_uf2_family(c.family, &uf2_family));
    }
    use_file(c.file, c.bytes);
    fake_drives::script({{false, {c.drive}}});
    fake_drives::leave_after_looks(1);
    EXPECT_EQ(search(), "Removable Disk E:\\\nFind: INFO_UF2.TXT, size " +
                            std::to_string(c.drive.files.at("INFO_UF2.TXT")) + "\n" + c.lines);
    EXPECT_EQ(result_, c.outcome);
    if (c.outcome == Outcome::kRefused) {
      EXPECT_TRUE(fake_drives::copies().empty());
      EXPECT_TRUE(fake_drives::made_writable().empty());  // nothing written, not even a remount
    } else {
      ASSERT_EQ(fake_drives::copies().size(), 1u);
      const std::vector<uint8_t>& copied = fake_drives::copies()[0].bytes;
      Uf2Map map;
      std::string why;
      EXPECT_TRUE(check_uf2(copied.data(), copied.size(), &map, &why)) << why;
    }
  }
}

TEST_F(DriveSearchTest, ControlCharactersFromOutsideAreEscaped) {
  use_file("fw\x1b[2J.bin", {1, 2, 3});
  fake_drives::script({{false, {{"/media/u/A\nCopy failed: x", {{"0000002A.ID", 1}}}}}});
  EXPECT_EQ(search(),
            "Removable Disk /media/u/A\\012Copy failed: x\n"
            "Find: 0000002A.ID, size 1\n"
            "copy \"fw\\033[2J.bin\" /media/u/A\\012Copy failed: x\n");
}

TEST(Firmware, UF2FilesAreCheckedWholeAndOtherFilesPassAsTheyAre) {
  fake_drives::reset();
  std::vector<TestBlock> blocks = family_blocks(3);
  blocks.pop_back();
  fake_drives::source_file("short.uf2", uf2_file(blocks));
  fake_drives::source_file("app.bin", std::vector<uint8_t>(700, 0));
  Firmware firmware;
  std::string why;
  EXPECT_FALSE(load_firmware("short.uf2", &firmware, &why));
  EXPECT_EQ(why, "Refused UF2 file short.uf2: block 2 of 3 missing (family 0xE48BFF56 (RP2040))");
  EXPECT_FALSE(load_firmware("gone.uf2", &firmware, &why));
  EXPECT_EQ(why, "Refused file name gone.uf2: No such file or directory");
  firmware = Firmware();
  ASSERT_TRUE(load_firmware("app.bin", &firmware, &why)) << why;
  EXPECT_FALSE(firmware.uf2);
  EXPECT_TRUE(firmware.bytes.empty());  // copied as it is read, unchecked
}

}  // namespace

namespace {

// The lines `out` has for the drive `root` under --all, its prefix removed,
// in order; and the lines without a prefix.
std::vector<std::string> lines_of(const std::string& out, const std::string& root) {
  std::vector<std::string> lines;
  const std::string prefix = root.empty() ? "" : "[" + root + "] ";
  size_t start = 0;
  for (size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = out.substr(start, end - start);
    if (prefix.empty() ? line[0] != '[' : line.compare(0, prefix.size(), prefix) == 0) {
      lines.push_back(line.substr(prefix.size()));
    }
  }
  return lines;
}

std::vector<uint8_t> bytes_of(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

FakeDrive uf2_board(const std::string& root, bool copy_ok, bool stays) {
  FakeDrive drive = kUf2Board;
  drive.root = root;
  drive.own_outcome = true;
  drive.copy.ok = copy_ok;
  drive.copy.destination_changed = true;
  drive.copy.acknowledged = copy_ok ? 4 * 512 : 512;
  drive.copy.acknowledged_known = true;
  if (!copy_ok) drive.copy.error = "cannot write " + root + "fw.uf2: Input/output error";
  drive.stays = stays;
  return drive;
}

}  // namespace

// --all: every drive with the marker is made writable and copied to, each
// with its own verdict on its own prefixed lines; the status is the worst.
TEST_F(DriveSearchTest, AllFlashesEveryDriveEachWithItsVerdictAndTheWorstDecides) {
  use_file("fw.uf2", uf2_file(family_blocks(4)));
  flash_all = true;
  fake_drives::script({{false,
                        {kPlainStick, uf2_board("E:\\", true, false), uf2_board("F:\\", true, true),
                         uf2_board("G:\\", false, true)}}});
  const std::string out = search();
  EXPECT_EQ(result_, Outcome::kCopyFailed);
  const auto verdict_for = [](const std::string& root, const std::string& verdict) {
    return std::vector<std::string>{"Find: 0000002A.ID, size 123", "copy \"fw.uf2\" " + root,
                                    verdict};
  };
  EXPECT_EQ(lines_of(out, "E:\\"), verdict_for("E:\\", "Board restarted"));
  EXPECT_EQ(lines_of(out, "F:\\"),
            verdict_for("F:\\", "Board did not take the file: it did not restart within 5 s "
                                "(blocks for another chip family, or not this board's image)"));
  EXPECT_EQ(lines_of(out, "G:\\"),
            verdict_for("G:\\", "Copy failed: cannot write G:\\fw.uf2: Input/output error"));
  EXPECT_EQ(lines_of(out, ""),
            (std::vector<std::string>{"Removable Disk D:\\", "Removable Disk E:\\",
                                      "Removable Disk F:\\", "Removable Disk G:\\",
                                      "Summary: 1 of 3 drives have the file"}));
  std::vector<std::string> written = fake_drives::made_writable();
  std::sort(written.begin(), written.end());
  EXPECT_EQ(written, (std::vector<std::string>{"E:\\", "F:\\", "G:\\"}));
  EXPECT_EQ(fake_drives::copies().size(), 3u);
  EXPECT_EQ(fake_drives::discarded(), std::vector<std::string>{"G:\\"});
}

// With -s HID --all the passes go on until a drive for every board
// triggered is there; when they end first, the drives there are flashed and
// the boards without one count as not found.
TEST_F(DriveSearchTest, AllWaitsForADrivePerTriggeredBoardUntilThePassesEnd) {
  flash_all = true;
  triggered_ports_ = {"", ""};
  const FakeDrive second = {"F:\\", {{"0000002A.ID", 5}}};
  const struct {
    int8_t times;
    std::vector<FakePass> passes;
    size_t copies;
    Outcome outcome;
    const char* summary;
  } cases[] = {
      {3, {{false, {kBootloader}}, {false, {kBootloader, second}}}, 2, Outcome::kCopied,
       "Summary: 2 of 2 drives have the file"},
      {1, {{false, {kBootloader}}}, 1, Outcome::kNotFound,
       "Summary: 1 of 1 drives have the file, 1 triggered board showed no drive"},
  };
  for (const auto& c : cases) {
    fake_drives::reset();
    use_file("fw.uf2", std::vector<uint8_t>(1000, 'x'));
    times = c.times;
    fake_drives::script(c.passes);
    const std::string out = search();
    EXPECT_EQ(result_, c.outcome) << c.summary;
    EXPECT_EQ(fake_drives::copies().size(), c.copies) << c.summary;
    EXPECT_EQ(lines_of(out, "").back(), c.summary);
  }
}

// After a trigger that reached one board, the drive on its USB port gets the
// file; one on another port is passed over, said once, while the passes wait.
TEST_F(DriveSearchTest, TheTriggeredBoardsDriveIsChosenAndAnotherPortIsPassedOverOnce) {
  times = 3;
  triggered_ports_ = {"2-1"};
  FakeDrive other = kBootloader;
  other.usb.port = "1-1";
  FakeDrive own = {"F:\\", {{"0000002A.ID", 5}}};
  own.usb.port = "2-1";
  fake_drives::script({{false, {other}}, {false, {other}}, {false, {other, own}}});
  EXPECT_EQ(search(),
            "Removable Disk E:\\\n"
            "Passed over E:\\: its board is on USB port 1-1, the triggered board is on 2-1\n"
            "times:2\n"
            "Removable Disk E:\\\n"
            "times:1\n"
            "Removable Disk E:\\\n"
            "Removable Disk F:\\\n"
            "Find: 0000002A.ID, size 5\n"
            "copy \"fw.uf2\" F:\\\n");
  ASSERT_EQ(fake_drives::copies().size(), 1u);
  EXPECT_EQ(fake_drives::copies()[0].root, "F:\\");
  EXPECT_TRUE(fake_drives::made_writable() == std::vector<std::string>{"F:\\"});
}

// --drive: the drives it does not name are not even attached, and say nothing.
TEST_F(DriveSearchTest, DriveNameLeavesEveryOtherDriveAlone) {
  drive_name = "F:\\";
  fake_drives::script({{false, {kPlainStick, kBootloader, {"F:\\", {{"0000002A.ID", 5}}}}}});
  EXPECT_EQ(search(),
            "Removable Disk F:\\\n"
            "Find: 0000002A.ID, size 5\n"
            "copy \"fw.uf2\" F:\\\n");
  EXPECT_EQ(fake_drives::attached(), std::vector<std::string>{"F:\\"});
}

// --json: one object per event, in a fixed field order, and nothing else.
TEST_F(DriveSearchTest, JsonGivesOneObjectPerEventAndNothingElse) {
  json_output = true;
  FakeDrive drive = kBootloader;
  drive.usb.port = "3-1.4";
  fake_drives::script({{false, {kPlainStick, drive}}});
  EXPECT_EQ(search(),
            "{\"event\":\"removable_disk\",\"root\":\"D:\\\\\"}\n"
            "{\"event\":\"removable_disk\",\"root\":\"E:\\\\\"}\n"
            "{\"event\":\"drive\",\"root\":\"E:\\\\\",\"marker\":\"0000002A.ID\",\"marker_size\":123,"
            "\"port\":\"3-1.4\",\"serial\":null,\"bootloader\":null,\"model\":null,\"board_id\":null,"
            "\"families\":[],\"flash_size\":null}\n"
            "{\"event\":\"copy\",\"file\":\"fw.uf2\",\"root\":\"E:\\\\\",\"bytes\":1000}\n"
            "{\"event\":\"verdict\",\"outcome\":\"copied\",\"status\":0,\"text\":null}\n"
            "{\"event\":\"result\",\"status\":0,\"drives\":1,\"took\":1,\"missing\":0}\n");
}

// --list: an entry per drive with the marker and what it tells; nothing is
// made writable or copied.
TEST_F(DriveSearchTest, ListNamesEveryDriveWithTheMarkerAndWritesNothing) {
  FakeDrive described = {"F:\\", {{"0000002A.ID", 5}, {"INFO_UF2.TXT", 60}}};
  described.contents["INFO_UF2.TXT"] = bytes_of("UF2 Bootloader v3.0\r\nModel: Pico\r\nBoard-ID: RPI-RP2\r\n");
  described.usb = {"1-2", "E66038B7"};
  fake_drives::script({{false, {kPlainStick, kBootloader, described}}});
  testing::internal::CaptureStdout();
  EXPECT_EQ(list_bootloader_drives({}), 2u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Drive E:\\\n"
            "  Marker: 0000002A.ID, size 123\n"
            "Drive F:\\\n"
            "  Marker: 0000002A.ID, size 5\n"
            "  Bootloader: UF2 Bootloader v3.0\n"
            "  Model: Pico\n"
            "  Board-ID: RPI-RP2\n"
            "  USB port: 1-2\n"
            "  Serial number: E66038B7\n");
  EXPECT_TRUE(fake_drives::made_writable().empty());
  EXPECT_TRUE(fake_drives::copies().empty());
  EXPECT_EQ(fake_drives::released().size(), 3u);
}
