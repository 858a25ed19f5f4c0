// The Windows drive layer against real drives, files and the command
// interpreter's copy, under wine: the test prefix maps R: as a removable
// drive and H: as a fixed one (tests/wine/wine.cmake).
#include <direct.h>
#include <io.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "copy_jobs.h"
#include "drive/drives.h"
#include "drive/firmware.h"

namespace {

const char kRemovable[] = "R:\\";
const char kFixed[] = "H:\\";

// The drive at `root`, as the listing gives it.
Drive at(const std::string& root) {
  Drive drive;
  drive.root = root;
  return drive;
}

bool find_marker_at(const std::string& root, const std::string& marker, MarkerFile* found) {
  Drive drive = at(root);
  return find_marker(&drive, marker, found);
}

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

// The path for the wide file functions, with the prefix that lifts their
// MAX_PATH limit, for the test's own files; `path` must be absolute ASCII.
std::wstring unlimited(const std::string& path) {
  return L"\\\\?\\" + std::wstring(path.begin(), path.end());
}

void write_long_path_file(const std::string& path, const std::string& data) {
  const HANDLE file = CreateFileW(unlimited(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  DWORD written = 0;
  WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
  CloseHandle(file);
}

std::string base_name_of(const std::string& path) {
  return path.substr(path.find_last_of('\\') + 1);
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

// Source files in a folder of their own; whatever lands on R: or H: is removed.
class DrivesWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<char> temp(MAX_PATH + 1);
    GetTempPathA(static_cast<DWORD>(temp.size()), temp.data());
    source_dir_ = std::string(temp.data()) + "flashdrop-" + std::to_string(GetCurrentProcessId()) +
                  "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    _mkdir(source_dir_.c_str());
    folders_.push_back(source_dir_);
  }

  void TearDown() override {
    for (SourceFile& file : opened_) close_source(&file);
    for (const std::string& path : on_drive_) {
      remove(path.c_str());
      _rmdir(path.c_str());
    }
    for (const std::string& path : sources_) DeleteFileW(unlimited(path).c_str());
    for (auto folder = folders_.rbegin(); folder != folders_.rend(); ++folder) {
      RemoveDirectoryW(unlimited(*folder).c_str());
    }
  }

  std::string source(const std::string& name, const std::string& data) {
    const std::string path = source_dir_ + "\\" + name;
    write_file(path, data);
    sources_.push_back(path);
    return path;
  }

  std::string on_drive(const std::string& name, const std::string& root = kRemovable) {
    on_drive_.push_back(root + name);
    return on_drive_.back();
  }

  // Opens `path` with open_source; closed at the end of the test.
  const SourceFile& opened(const std::string& path) {
    opened_.emplace_back();
    SourceRefusal refusal;
    EXPECT_TRUE(open_source(path.c_str(), &opened_.back(), &refusal)) << refusal.reason;
    return opened_.back();
  }

  CopyResult copy(const SourceFile& file, const std::string& root = kRemovable) {
    return copy_to_drive(job_of(file), at(root));
  }

  // A folder nested in the source folder, its path at least `length` long.
  std::string deep_folder(size_t length) {
    std::string path = source_dir_;
    while (path.size() < length) {
      path += "\\" + std::string(50, 'd');
      EXPECT_TRUE(CreateDirectoryW(unlimited(path).c_str(), nullptr)) << path;
      folders_.push_back(path);
    }
    return path;
  }

  std::string source_dir_;
  std::vector<std::string> folders_;
  std::vector<std::string> sources_;
  std::vector<std::string> on_drive_;
  std::deque<SourceFile> opened_;  // references to its elements stay valid
};

TEST_F(DrivesWin32Test, ListsTheRemovableDrivesOnly) {
  std::vector<Drive> drives;
  ASSERT_TRUE(list_removable_drives(&drives));
  std::vector<std::string> roots;
  for (Drive& drive : drives) {
    std::string message = "unchanged";
    EXPECT_TRUE(attach_drive(&drive, &message));  // nothing to mount on Windows
    EXPECT_EQ(message, "");
    EXPECT_TRUE(make_drive_writable(&drive, &message));
    roots.push_back(drive.root);
  }
  EXPECT_NE(std::find(roots.begin(), roots.end(), kRemovable), roots.end());
  EXPECT_EQ(std::find(roots.begin(), roots.end(), kFixed), roots.end());
  EXPECT_EQ(std::find(roots.begin(), roots.end(), "C:\\"), roots.end());
  EXPECT_EQ(std::find(roots.begin(), roots.end(), "Z:\\"), roots.end());
}

TEST_F(DrivesWin32Test, FindsTheMarkerWithoutRegardToCaseAndGivesTheStoredName) {
  write_file(on_drive("info_uf2.txt"), "UF2 Bootloader\n");
  MarkerFile found{"", -1};
  ASSERT_TRUE(find_marker_at(kRemovable, "INFO_UF2.TXT", &found));
  EXPECT_EQ(found.name, "info_uf2.txt");
  EXPECT_EQ(found.size, 15);
  EXPECT_FALSE(find_marker_at(kRemovable, "0000002A.ID", &found));
}

TEST_F(DrivesWin32Test, ADirectoryOfTheMarkersNameCounts) {
  ASSERT_EQ(_mkdir(on_drive("0000002A.ID").c_str()), 0);
  MarkerFile found{"", -1};
  ASSERT_TRUE(find_marker_at(kRemovable, "0000002A.ID", &found));
  EXPECT_EQ(found.name, "0000002A.ID");
}

TEST_F(DrivesWin32Test, ReadsTheFirstBytesOfARegularFileInTheRoot) {
  const std::string head = image().substr(0, 512);
  write_file(on_drive("current.uf2"), image());
  write_file(on_drive("SHORT.UF2"), "short");
  ASSERT_EQ(_mkdir(on_drive("DIR.UF2").c_str()), 0);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(read_drive_file(at(kRemovable), "CURRENT.UF2", 512, &bytes));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), head);
  ASSERT_TRUE(read_drive_file(at(kRemovable), "SHORT.UF2", 512, &bytes));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "short");
  EXPECT_FALSE(read_drive_file(at(kRemovable), "DIR.UF2", 512, &bytes));
  EXPECT_FALSE(read_drive_file(at(kRemovable), "MISSING.UF2", 512, &bytes));
}

// What the name alone refuses, before anything is opened, and what the file
// system then says. Accepted names are made as files first.
TEST_F(DrivesWin32Test, FileNameRules) {
  auto refused = [](const std::string& name, const std::string& reason) {
    return "Refused file name " + name + ": " + reason;
  };
  const std::string quote = "a double quote cannot stand in the copy command line";
  const std::string percent = "the command interpreter could replace the text between its % signs";
  const std::string control =
      "Refused file name: a control character cannot stand in the copy command line";
  const std::string wildcard = "no file matches it (* and ? are wildcards)";
  const std::string device_path = "a device path is not a file to copy";
  auto device = [](const std::string& name) { return name + " is a device on Windows, not a file"; };
  const std::string long_name = deep_folder(260) + "\\fw.uf2";
  struct Case {
    std::string name, expected;  // expected empty: accepted
  };
  const Case cases[] = {
      {"fw\".uf2", refused("fw\".uf2", quote)},
      {"fw\"\xc2\x9b" "1m.uf2", refused("fw\"\\302\\2331m.uf2", quote)},  // CSI, escaped
      {"fw.uf2\" & del x & \"", refused("fw.uf2\" & del x & \"", quote)},
      {"line\nbreak.uf2", control},
      {"tab\t.uf2", control},
      {"esc\x1b.uf2", control},
      {"del\x7f.uf2", control},
      {"%PATH%.uf2", refused("%PATH%.uf2", percent)},
      {"fw%CD%x.uf2", refused("fw%CD%x.uf2", percent)},
      {"a%b%c.uf2", refused("a%b%c.uf2", percent)},
      {"%%PATH%.uf2", refused("%%PATH%.uf2", percent)},
      {"x%.uf2%", refused("x%.uf2%", percent)},
      {"50%% %x%.uf2", refused("50%% %x%.uf2", percent)},
      {"none*.uf2", refused("none*.uf2", wildcard)},
      {"fw?.uf2", refused("fw?.uf2", wildcard)},
      {"\\\\.\\COM5", refused("\\\\.\\COM5", device_path)},
      {"//./PhysicalDrive0", refused("//./PhysicalDrive0", device_path)},
      {"\\\\?\\C:\\fw.uf2", refused("\\\\?\\C:\\fw.uf2", device_path)},
      {"NUL", refused("NUL", device("NUL"))},
      {"nul.uf2", refused("nul.uf2", device("NUL"))},
      {"Nul.tar.gz", refused("Nul.tar.gz", device("NUL"))},
      {"aux", refused("aux", device("AUX"))},
      {"CON.uf2", refused("CON.uf2", device("CON"))},
      {"prn:", refused("prn:", device("PRN"))},
      {"COM5", refused("COM5", device("COM5"))},
      {"com5.uf2", refused("com5.uf2", device("COM5"))},
      {"C:\\x\\com5.uf2", refused("C:\\x\\com5.uf2", device("COM5"))},
      {"lpt9 .uf2", refused("lpt9 .uf2", device("LPT9"))},
      {"LPT1...", refused("LPT1...", device("LPT1"))},
      {"con \\fw.uf2", refused("con \\fw.uf2", device("CON"))},
      {"com\xC2\xB9.uf2", refused("com\xC2\xB9.uf2", device("COM\xC2\xB9"))},  // UTF-8 ¹
      {"LPT\xB3", refused("LPT\xB3", device("LPT\xB3"))},                    // Windows-1252 ³
      {long_name, refused(long_name, "its full path is " + std::to_string(long_name.size()) +
                                         " characters long, and copy takes at most 259")},
      {source_dir_ + "\\missing.uf2", refused(source_dir_ + "\\missing.uf2", "no such file")},
      {source_dir_ + "\\no\\fw.uf2", refused(source_dir_ + "\\no\\fw.uf2", "no such file")},
      {"a|b<c>d.uf2", refused("a|b<c>d.uf2", "no such file")},  // | < > are in no file name
      {source_dir_, refused(source_dir_, "it is a folder, not a file")},
      {"fw 1.uf2", ""},
      {"100%.uf2", ""},
      {"50%%.uf2", ""},
      {"%%%", ""},
      {"%", ""},
      {"a%%%b.uf2", ""},
      {"d ! e!.uf2", ""},
      {"\xe5\x9b\xba\xe4\xbb\xb6.uf2", ""},
      {"console.uf2", ""},
      {"auxiliary.uf2", ""},
      {"nul1.uf2", ""},
      {"com10.uf2", ""},
      {"com0.uf2", ""},
      {"lpt.uf2", ""},
      {"fw.nul", ""},
  };
  for (const Case& c : cases) {
    std::string path = c.name;
    if (c.expected.empty()) path = source(c.name, "image of " + c.name);
    SourceFile file;
    SourceRefusal refusal;
    const bool opened = open_source(path.c_str(), &file, &refusal);
    const std::string why = opened ? "" : refused_name(path, refusal);
    EXPECT_EQ(opened, c.expected.empty()) << c.name << ": " << why;
    if (opened) {
      EXPECT_EQ(file.name, path);
      EXPECT_EQ(file.size, ("image of " + c.name).size()) << c.name;
      close_source(&file);
      EXPECT_EQ(file.handle, -1);
    } else {
      EXPECT_EQ(why, c.expected);
    }
  }
}

TEST_F(DrivesWin32Test, CopyPutsTheFileByteForByteIntoTheRootUnderItsOwnName) {
  const std::string data = image();
  const SourceFile& file = opened(source("fw.uf2", data));
  char middle[100];
  ASSERT_EQ(read_source_at(file, 2000, middle, sizeof middle), 100);
  EXPECT_EQ(std::string(middle, 100), data.substr(2000, 100));
  EXPECT_EQ(read_source_at(file, data.size(), middle, sizeof middle), 0);

  const CopyResult result = copy(file);
  EXPECT_TRUE(result.ok) << result.error;
  EXPECT_TRUE(result.acknowledged_known);
  EXPECT_EQ(result.acknowledged, data.size());
  EXPECT_EQ(read_file(on_drive("fw.uf2")), data);
}

// An image made from the file (a converted .bin) reaches the drive under
// the image's name, with its bytes, through a file of its own that is gone
// afterwards.
TEST_F(DrivesWin32Test, AMadeImageIsCopiedUnderItsNameAndLeavesNothingBehind) {
  const SourceFile& file = opened(source("fw.bin", "raw firmware"));
  const std::string made = image();
  CopyJob job = job_of(file);
  const std::vector<uint8_t> bytes(made.begin(), made.end());
  job.bytes = &bytes;
  job.made = true;
  job.name = source_dir_ + "\\fw.uf2";
  const CopyResult result = copy_to_drive(job, at(kRemovable));
  EXPECT_TRUE(result.ok) << result.error;
  EXPECT_EQ(read_file(on_drive("fw.uf2")), made);
  EXPECT_FALSE(exists(on_drive("fw.bin")));
  std::vector<char> temp(MAX_PATH + 1);
  GetTempPathA(static_cast<DWORD>(temp.size()), temp.data());
  const std::string stage = std::string(temp.data()) + "flashdrop-" +
                            std::to_string(GetCurrentProcessId()) + "-0";
  EXPECT_EQ(GetFileAttributesA(stage.c_str()), INVALID_FILE_ATTRIBUTES) << stage;
}

TEST_F(DrivesWin32Test, CopyReplacesAFileOfTheSameNameWhateverCopycmdSays) {
  write_file(on_drive("fw.uf2"), "an older image");
  ASSERT_TRUE(SetEnvironmentVariableA("COPYCMD", "/-Y"));  // copy would ask, and wait
  const CopyResult result = copy(opened(source("fw.uf2", image())));
  EXPECT_TRUE(result.ok) << result.error;
  EXPECT_EQ(read_file(kRemovable + std::string("fw.uf2")), image());
  char value[16] = "";
  GetEnvironmentVariableA("COPYCMD", value, sizeof value);
  EXPECT_STREQ(value, "/-Y");  // set for that copy only
  SetEnvironmentVariableA("COPYCMD", nullptr);
}

// The tool's standard output, which the interpreter inherits, going to a
// file while this lives. The C runtime's own stdout is left as it is.
class CapturedOutput {
 public:
  explicit CapturedOutput(const std::string& path)
      : path_(path), saved_(GetStdHandle(STD_OUTPUT_HANDLE)) {
    file_ = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file_, INVALID_HANDLE_VALUE) << path;
    SetStdHandle(STD_OUTPUT_HANDLE, file_);
  }
  ~CapturedOutput() { restore(); }

  // What was written, once the output is back where it was.
  std::string text() {
    restore();
    return read_file(path_);
  }

 private:
  void restore() {
    if (file_ == nullptr) return;
    SetStdHandle(STD_OUTPUT_HANDLE, saved_);
    CloseHandle(file_);
    file_ = nullptr;
  }

  const std::string path_;
  const HANDLE saved_;
  HANDLE file_ = nullptr;
};

// Wine's copy prints nothing when it succeeds, so the interpreter here is a
// program that prints a line whatever its arguments: whoami. Its output
// reaches the tool's standard output, unless the copy is quiet.
TEST_F(DrivesWin32Test, AQuietCopyDropsWhatTheInterpreterPrints) {
  char saved[MAX_PATH] = "";
  GetEnvironmentVariableA("ComSpec", saved, MAX_PATH);
  char system[MAX_PATH] = "";
  ASSERT_GT(GetSystemDirectoryA(system, MAX_PATH), 0u);
  SetEnvironmentVariableA("ComSpec", (std::string(system) + "\\whoami.exe").c_str());
  const SourceFile& file = opened(source("fw.uf2", image()));
  const std::string log = source("stdout.txt", "");
  CopyJob job = job_of(file);
  std::string said[2];
  for (const bool quiet : {false, true}) {
    job.quiet = quiet;
    CapturedOutput output(log);
    copy_to_drive(job, at(kRemovable));  // fails: nothing copied the file
    said[quiet] = output.text();
  }
  SetEnvironmentVariableA("ComSpec", saved);
  EXPECT_NE(said[false], "");
  EXPECT_EQ(said[true], "");
}

// Copies run on several threads at once, one per drive. Each made image goes
// through a staging folder of its own, each replaces a file that copy would
// ask about, and the tool's environment stays as it was.
TEST_F(DrivesWin32Test, QuietCopiesOnSeveralThreadsAtOnceEachSucceedAlone) {
  constexpr int kCopies = 4;
  const SourceFile& file = opened(source("fw.bin", "raw firmware"));
  std::vector<std::vector<uint8_t>> bytes(kCopies);
  std::vector<CopyJob> jobs(kCopies, job_of(file));
  for (int i = 0; i < kCopies; ++i) {
    const std::string name = "fw" + std::to_string(i) + ".uf2";
    write_file(on_drive(name), "an older image");
    const std::string made = image() + std::to_string(i);
    bytes[i].assign(made.begin(), made.end());
    jobs[i].bytes = &bytes[i];
    jobs[i].made = true;
    jobs[i].name = source_dir_ + "\\" + name;
    jobs[i].quiet = true;
  }
  ASSERT_TRUE(SetEnvironmentVariableA("COPYCMD", "/-Y"));  // copy would ask, and wait
  std::vector<CopyResult> results(kCopies);
  CapturedOutput output(source("stdout.txt", ""));
  std::vector<std::thread> threads;
  for (int i = 0; i < kCopies; ++i) {
    threads.emplace_back([&, i] { results[i] = copy_to_drive(jobs[i], at(kRemovable)); });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(output.text(), "");
  char value[16] = "";
  GetEnvironmentVariableA("COPYCMD", value, sizeof value);
  EXPECT_STREQ(value, "/-Y");
  SetEnvironmentVariableA("COPYCMD", nullptr);
  std::vector<char> temp(MAX_PATH + 1);
  GetTempPathA(static_cast<DWORD>(temp.size()), temp.data());
  for (int i = 0; i < kCopies; ++i) {
    EXPECT_TRUE(results[i].ok) << i << ": " << results[i].error;
    const std::string name = "fw" + std::to_string(i) + ".uf2";
    EXPECT_EQ(read_file(kRemovable + name), std::string(bytes[i].begin(), bytes[i].end())) << name;
    const std::string stage = std::string(temp.data()) + "flashdrop-" +
                              std::to_string(GetCurrentProcessId()) + "-" + std::to_string(i);
    EXPECT_EQ(GetFileAttributesA(stage.c_str()), INVALID_FILE_ATTRIBUTES) << stage;
  }
}

TEST_F(DrivesWin32Test, NamesThatQuotesProtectCopyIntact) {
  // ! is plain text too: the interpreter runs with delayed expansion off.
  const char* names[] = {
      "fw 1.uf2", "a & echo INJECTED.uf2", "c ^ d.uf2", "d ! e.uf2", "fw!ComSpec!.uf2",
      "(e) f.uf2", "100%.uf2", "50%%.uf2", "a;b,c=d.uf2",
  };
  for (const char* name : names) {
    const std::string data = std::string("image of ") + name;
    const CopyResult result = copy(opened(source(name, data)));
    EXPECT_TRUE(result.ok) << name << ": " << result.error;
    EXPECT_EQ(read_file(on_drive(name)), data) << name;
  }
}

// copy reads the file by its name when the drive is there, long after the
// check: it starts only from the file held since then, holding the bytes
// checked, and otherwise leaves the drive as it was.
TEST_F(DrivesWin32Test, ACopyStartsOnlyFromTheFileThatWasChecked) {
  const std::string data = image();
  std::vector<uint8_t> checked(data.begin(), data.end());
  std::vector<uint8_t> other_bytes = checked;
  other_bytes[1000] ^= 1;
  const SourceFile& held = opened(source("fw.uf2", data));
  SourceFile gone;  // never opened, and no file of its name
  gone.name = source_dir_ + "\\fw-gone.uf2";
  gone.size = 5;
  SourceFile renamed = held;  // the name now leads to another file
  renamed.name = source("fw-other.uf2", data);
  SourceFile shorter = held;
  shorter.size = data.size() - 1;
  const std::string changed = "the file changed since it was checked: ";
  const std::string nothing = "; nothing was copied";
  const struct {
    const char* what;
    const SourceFile& file;
    const std::vector<uint8_t>& bytes;
    std::string error;  // empty: copied
  } cases[] = {
      {"gone", gone, {}, changed + gone.name + " no longer names the file that was checked" + nothing},
      {"another file under the name", renamed, checked,
       changed + renamed.name + " no longer names the file that was checked" + nothing},
      {"another size", shorter, {},
       changed + "it holds " + std::to_string(data.size()) + " bytes, not " +
           std::to_string(data.size() - 1) + nothing},
      {"other bytes", held, other_bytes,
       changed + "its bytes differ from those checked at offset 1000" + nothing},
      {"the bytes checked", held, checked, ""},
  };
  for (const auto& c : cases) {
    const std::string dest = on_drive(base_name_of(c.file.name));
    write_file(dest, "an older image");
    const CopyResult result = copy_to_drive(job_of(c.file, &c.bytes), at(kRemovable));
    EXPECT_EQ(result.ok, c.error.empty()) << c.what;
    EXPECT_EQ(result.error, c.error) << c.what;
    EXPECT_EQ(result.destination_changed, c.error.empty()) << c.what;
    EXPECT_EQ(read_file(dest), c.error.empty() ? data : "an older image") << c.what;
  }
}

// While the file is held, this system's programs may read it (copy does)
// but neither write, replace nor remove it.
TEST_F(DrivesWin32Test, TheHeldFileAdmitsReadersOnly) {
  const std::string path = source("fw.uf2", image());
  const std::string other = source("other.uf2", "another image");
  opened(path);
  const HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  CloseHandle(reader);
  const HANDLE writer =
      CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(DeleteFileA(path.c_str()));
  EXPECT_FALSE(MoveFileExA(other.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(read_file(path), image());
}

// A copy that failed tells whether it changed the file on the drive: copy
// cannot open a file that another program holds exclusively, and leaves it
// as it was.
TEST_F(DrivesWin32Test, AFailedCopyTellsWhetherItChangedTheDestination) {
  const std::string dest = on_drive("fw.uf2");
  write_file(dest, "an older image, in use");
  const HANDLE in_use = CreateFileA(dest.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(in_use, INVALID_HANDLE_VALUE);
  const SourceFile& file = opened(source("fw.uf2", image()));
  CopyResult result = copy(file);
  CloseHandle(in_use);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, "copy ended with status 1");
  EXPECT_FALSE(result.destination_changed);
  EXPECT_EQ(read_file(dest), "an older image, in use");

  result = copy(file);
  EXPECT_TRUE(result.ok) << result.error;
  EXPECT_TRUE(result.destination_changed);
  EXPECT_EQ(read_file(dest), image());
}

// copy ends with status 0 after "File name is too long.": a name that long
// cannot even be looked at again, so it goes no further than the check.
TEST_F(DrivesWin32Test, ANameTooLongForCopyGoesNoFurtherThanTheCheck) {
  SourceFile too_long;  // open_source refuses it; this is the second guard
  too_long.name = deep_folder(270) + "\\fw.uf2";
  too_long.size = 4;
  write_long_path_file(too_long.name, "long");
  sources_.push_back(too_long.name);
  const HANDLE handle = CreateFileW(unlimited(too_long.name).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  too_long.handle = reinterpret_cast<intptr_t>(handle);
  const CopyResult result = copy(too_long);
  CloseHandle(handle);
  EXPECT_FALSE(result.ok);
  EXPECT_FALSE(result.destination_changed);
  EXPECT_EQ(result.error,
            "the file cannot be examined again: File name is too long; nothing was copied");
  EXPECT_FALSE(exists(kRemovable + std::string("fw.uf2")));
}

TEST_F(DrivesWin32Test, DiscardCopyRemovesOnlyAPartialImage) {
  const SourceFile& partial = opened(source("partial.uf2", image()));
  const SourceFile& whole = opened(source("whole.uf2", image()));
  const SourceFile& folder = opened(source("folder.uf2", image()));
  const SourceFile& absent = opened(source("absent.uf2", image()));
  write_file(on_drive("partial.uf2"), image().substr(0, 1024));
  write_file(on_drive("whole.uf2"), image());
  ASSERT_EQ(_mkdir(on_drive("folder.uf2").c_str()), 0);
  for (const SourceFile* file : {&partial, &whole, &folder, &absent}) {
    discard_copy(job_of(*file), at(kRemovable));
  }
  EXPECT_FALSE(exists(kRemovable + std::string("partial.uf2")));
  EXPECT_EQ(read_file(kRemovable + std::string("whole.uf2")), image());
  EXPECT_TRUE(exists(kRemovable + std::string("folder.uf2")));
  EXPECT_FALSE(exists(kRemovable + std::string("absent.uf2")));
}

TEST_F(DrivesWin32Test, TellsWhetherTheDriveIsStillThere) {
  write_file(on_drive("INFO_UF2.TXT"), "m");
  write_file(on_drive("INFO_UF2.TXT", kFixed), "m");
  std::vector<Drive> drives;
  ASSERT_TRUE(list_removable_drives(&drives));
  DriveIdentity removable;  // as the listing found it
  for (const Drive& drive : drives) {
    if (drive.root == kRemovable) removable = drive.identity;
  }
  ASSERT_TRUE(removable.known);
  DriveIdentity other = removable;
  other.id ^= 1;
  const DriveIdentity unknown{};
  struct Case {
    const char* what;
    std::string root, marker;
    DriveIdentity identity;
    bool there;
  };
  const Case cases[] = {
      {"the same drive with its marker", kRemovable, "INFO_UF2.TXT", removable, true},
      {"marker in another letter case", kRemovable, "info_uf2.txt", removable, true},
      {"no volume known before: the marker decides", kRemovable, "INFO_UF2.TXT", unknown, true},
      {"the marker is gone", kRemovable, "0000002A.ID", removable, false},
      {"another volume under the letter", kRemovable, "INFO_UF2.TXT", other, false},
      {"not a removable drive", kFixed, "INFO_UF2.TXT", unknown, false},
      {"no drive at all", "Q:\\", "INFO_UF2.TXT", unknown, false},
  };
  for (const Case& c : cases) {
    Drive drive = at(c.root);
    drive.identity = c.identity;
    EXPECT_EQ(drive_still_there(drive, c.marker), c.there) << c.what;
  }
}

TEST_F(DrivesWin32Test, TheInterpreterIsComSpecElseTheSystemOne) {
  char saved[MAX_PATH] = "";
  GetEnvironmentVariableA("ComSpec", saved, MAX_PATH);
  const SourceFile& file = opened(source("fw.uf2", "fw"));
  on_drive("fw.uf2");

  SetEnvironmentVariableA("ComSpec", "C:\\nowhere\\cmd.exe");
  CopyResult result = copy(file);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error.rfind("cannot run the command interpreter C:\\nowhere\\cmd.exe: ", 0), 0u)
      << result.error;

  SetEnvironmentVariableA("ComSpec", nullptr);
  result = copy(file);
  SetEnvironmentVariableA("ComSpec", saved);
  EXPECT_TRUE(result.ok) << result.error;
  EXPECT_EQ(read_file(kRemovable + std::string("fw.uf2")), "fw");
}

}  // namespace
