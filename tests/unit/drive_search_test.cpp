#include "drive/drive_search.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/settings.h"
#include "fakes/fake_drives.h"
#include "fakes/fake_platform.h"

namespace {

class DriveSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_settings();
    fake_drives::reset();
    fake_clock::reset();
    input_filename = "fw.uf2";
  }

  // Runs the search and returns what it printed.
  std::string search() {
    testing::internal::CaptureStdout();
    result_ = scan_removable_drives();
    return testing::internal::GetCapturedStdout();
  }

  SearchResult result_ = SearchResult::kCopied;
};

const FakeDrive kPlainStick = {"D:\\", {{"photo.jpg", 10}}};
const FakeDrive kBootloader = {"E:\\", {{"INFO_UF2.TXT", 123}}};

TEST_F(DriveSearchTest, MarkerNameFollowsTheFamilyId) {
  EXPECT_EQ(marker_name(0), "INFO_UF2.TXT");
  EXPECT_EQ(marker_name(42), "0000002A.ID");
  EXPECT_EQ(marker_name(0xE48BFF56u), "E48BFF56.ID");
}

TEST_F(DriveSearchTest, NoDriveAndNoTimesIsOnePassWithoutPause) {
  EXPECT_EQ(search(), "No bootloader drive found\n");
  EXPECT_EQ(result_, SearchResult::kNotFound);
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
            "Find: INFO_UF2.TXT, size 123\n"
            "copy \"fw.uf2\" E:\\\n");
  EXPECT_EQ(result_, SearchResult::kCopied);
  ASSERT_EQ(fake_drives::copies().size(), 1u);
  EXPECT_EQ(fake_drives::copies()[0].root, "E:\\");
  EXPECT_EQ(fake_drives::copies()[0].source, "fw.uf2");
  EXPECT_TRUE(fake_clock::sleeps().empty());
  EXPECT_EQ(times, 5);
}

TEST_F(DriveSearchTest, MarkerIsPrintedAsStoredOnTheDrive) {
  fake_drives::script({{false, {{"/media/u/BOOT", {{"Info_Uf2.txt", 5}}}}}});
  EXPECT_EQ(search(),
            "Removable Disk /media/u/BOOT\n"
            "Find: Info_Uf2.txt, size 5\n"
            "copy \"fw.uf2\" /media/u/BOOT\n");
}

TEST_F(DriveSearchTest, FamilyIdSelectsItsOwnMarkerOnly) {
  const FakeDrive both = {"G:\\", {{"INFO_UF2.TXT", 1}, {"0000002A.ID", 2}}};
  family_id = 42;
  fake_drives::script({{false, {kBootloader, both}}});
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
            "Find: INFO_UF2.TXT, size 123\n"
            "copy \"fw.uf2\" E:\\\n");
  EXPECT_EQ(fake_drives::passes_listed(), 3);
  EXPECT_EQ(fake_clock::sleeps(), (std::vector<unsigned>{500, 500}));
  EXPECT_EQ(times, 3);
}

TEST_F(DriveSearchTest, NegativeTimesSearchesUntilFoundWithPausesAndNoCountdown) {
  times = -1;
  std::vector<FakePass> passes(30);
  passes.push_back({false, {kBootloader}});
  fake_drives::script(passes);
  const std::string out = search();
  EXPECT_EQ(out.find("times:"), std::string::npos);
  EXPECT_EQ(result_, SearchResult::kCopied);
  EXPECT_EQ(fake_drives::passes_listed(), 31);
  EXPECT_EQ(fake_clock::sleeps(), std::vector<unsigned>(30, 500));
  EXPECT_EQ(times, -1);
}

TEST_F(DriveSearchTest, FailedCopyIsReportedAndEndsTheSearch) {
  times = 3;
  fake_drives::script({{false, {kBootloader, kBootloader}}});
  fake_drives::fail_copies("cannot write E:\\fw.uf2: No space left on device");
  EXPECT_EQ(search(),
            "Removable Disk E:\\\n"
            "Find: INFO_UF2.TXT, size 123\n"
            "copy \"fw.uf2\" E:\\\n"
            "Copy failed: cannot write E:\\fw.uf2: No space left on device\n");
  EXPECT_EQ(result_, SearchResult::kCopyFailed);
  EXPECT_EQ(fake_drives::copies().size(), 1u);
  EXPECT_EQ(fake_drives::passes_listed(), 1);
}

TEST_F(DriveSearchTest, FileNameWithSpacesStandsBetweenQuotes) {
  input_filename = "my build/fw 1.uf2";
  fake_drives::script({{false, {kBootloader}}});
  EXPECT_NE(search().find("copy \"my build/fw 1.uf2\" E:\\\n"), std::string::npos);
  EXPECT_EQ(fake_drives::copies()[0].source, "my build/fw 1.uf2");
}

}  // namespace
