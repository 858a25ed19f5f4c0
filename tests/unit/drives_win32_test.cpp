// The Windows drive layer against real drives, files and the command
// interpreter's copy, under wine: the test prefix maps R: as a removable drive
// (tests/wine/wine.cmake).
#include <direct.h>
#include <io.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "drive/drives.h"

namespace {

const char kRemovable[] = "R:\\";

std::string read_file(const std::string& path) {
  std::string data;
  if (FILE* f = fopen(path.c_str(), "rb")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) data.append(buffer, n);
    fclose(f);
  }
  return data;
}

void write_file(const std::string& path, const std::string& data) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  fwrite(data.data(), 1, data.size(), f);
  fclose(f);
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A firmware image's bytes: zeros, line ends and ^Z, which a text-mode copy
// would change or stop at.
std::string image() {
  std::string data = "UF2\nblock\r\n";
  data.push_back('\0');
  data.push_back('\x1a');
  for (int i = 0; i < 3000; ++i) data.push_back(static_cast<char>(i * 7));
  return data;
}

// Source files in a folder of their own; whatever lands on R: is removed.
class DrivesWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<char> temp(MAX_PATH + 1);
    GetTempPathA(static_cast<DWORD>(temp.size()), temp.data());
    source_dir_ = std::string(temp.data()) + "flashdrop-" + std::to_string(GetCurrentProcessId()) +
                  "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    _mkdir(source_dir_.c_str());
  }

  void TearDown() override {
    for (const std::string& path : on_drive_) {
      remove(path.c_str());
      _rmdir(path.c_str());
    }
    for (const std::string& path : sources_) remove(path.c_str());
    _rmdir(source_dir_.c_str());
  }

  std::string source(const std::string& name, const std::string& data) {
    const std::string path = source_dir_ + "\\" + name;
    write_file(path, data);
    sources_.push_back(path);
    return path;
  }

  std::string on_drive(const std::string& name) {
    on_drive_.push_back(kRemovable + name);
    return on_drive_.back();
  }

  std::string source_dir_;
  std::vector<std::string> sources_;
  std::vector<std::string> on_drive_;
};

TEST_F(DrivesWin32Test, ListsTheRemovableDrivesOnly) {
  std::vector<std::string> roots;
  ASSERT_TRUE(list_removable_drives(&roots));
  EXPECT_NE(std::find(roots.begin(), roots.end(), kRemovable), roots.end());
  EXPECT_EQ(std::find(roots.begin(), roots.end(), "C:\\"), roots.end());  // fixed disks
  EXPECT_EQ(std::find(roots.begin(), roots.end(), "Z:\\"), roots.end());
}

TEST_F(DrivesWin32Test, FindsTheMarkerWithoutRegardToCaseAndGivesTheStoredName) {
  write_file(on_drive("info_uf2.txt"), "UF2 Bootloader\n");
  MarkerFile found{"", -1};
  ASSERT_TRUE(find_marker(kRemovable, "INFO_UF2.TXT", &found));
  EXPECT_EQ(found.name, "info_uf2.txt");
  EXPECT_EQ(found.size, 15);
  EXPECT_FALSE(find_marker(kRemovable, "0000002A.ID", &found));
}

TEST_F(DrivesWin32Test, ADirectoryOfTheMarkersNameCounts) {
  ASSERT_EQ(_mkdir(on_drive("0000002A.ID").c_str()), 0);
  MarkerFile found{"", -1};
  ASSERT_TRUE(find_marker(kRemovable, "0000002A.ID", &found));
  EXPECT_EQ(found.name, "0000002A.ID");
}

TEST_F(DrivesWin32Test, CopyPutsTheFileByteForByteIntoTheRootUnderItsOwnName) {
  const std::string data = image();
  const std::string path = source("fw.uf2", data);
  std::string why;
  ASSERT_TRUE(copy_to_drive(path, kRemovable, &why)) << why;
  EXPECT_EQ(read_file(on_drive("fw.uf2")), data);
}

TEST_F(DrivesWin32Test, CopyReplacesAFileOfTheSameName) {
  write_file(on_drive("fw.uf2"), "an older image");
  const std::string path = source("fw.uf2", image());
  std::string why;
  ASSERT_TRUE(copy_to_drive(path, kRemovable, &why)) << why;
  EXPECT_EQ(read_file(kRemovable + std::string("fw.uf2")), image());
}

TEST_F(DrivesWin32Test, NamesThatQuotesProtectCopyIntact) {
  // | < > are no characters of Windows file names; they are accepted and
  // leave the interpreter as plain text too (see the CLI tests).
  const char* names[] = {
      "fw 1.uf2", "a & echo INJECTED.uf2", "c ^ d.uf2", "d ! e.uf2",
      "(e) f.uf2", "100%.uf2",             "50%%.uf2",  "a;b,c=d.uf2",
  };
  for (const char* name : names) {
    const std::string data = std::string("image of ") + name;
    const std::string path = source(name, data);
    std::string why;
    EXPECT_TRUE(copy_source_acceptable(path.c_str(), &why)) << name << ": " << why;
    EXPECT_TRUE(copy_to_drive(path, kRemovable, &why)) << name << ": " << why;
    EXPECT_EQ(read_file(on_drive(name)), data) << name;
  }
}

TEST_F(DrivesWin32Test, AMissingSourceIsAFailedCopy) {
  std::string why;
  EXPECT_FALSE(copy_to_drive(source_dir_ + "\\missing.uf2", kRemovable, &why));
  EXPECT_EQ(why, "copy ended with status 1");
  EXPECT_FALSE(exists(kRemovable + std::string("missing.uf2")));
}

TEST(CopySourceTest, RefusesWhatTheCommandLineCannotCarryUnchanged) {
  const char* refused[] = {
      "fw\".uf2",            "fw.uf2\" & del x & \"", "line\nbreak.uf2", "tab\t.uf2",
      "esc\x1b.uf2",         "del\x7f.uf2",          "%PATH%.uf2",      "fw%CD%x.uf2",
      "a%b%c.uf2",           "%%PATH%.uf2",          "x%.uf2%",         "50%% %x%.uf2",
  };
  for (const char* name : refused) {
    std::string why;
    EXPECT_FALSE(copy_source_acceptable(name, &why)) << name;
    EXPECT_EQ(why.rfind("Refused file name", 0), 0u) << why;
    EXPECT_EQ(why.find('\n'), std::string::npos) << why;  // one line
  }
}

TEST(CopySourceTest, AcceptsPercentSignsThatCannotEncloseAName) {
  const char* accepted[] = {
      "fw.uf2", "100%.uf2", "50%%.uf2", "%%%", "%", "a%%%b.uf2", "a|b<c>d.uf2",
      "\xe5\x9b\xba\xe4\xbb\xb6.uf2",
  };
  for (const char* name : accepted) {
    std::string why;
    EXPECT_TRUE(copy_source_acceptable(name, &why)) << name << ": " << why;
  }
}

}  // namespace
