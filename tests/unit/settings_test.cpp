#include "cli/options.h"
#include "trigger/trigger.h"

#include <getopt.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

void reset_all() {
  reset_settings();
  reset_option_parser();
}

// Parses a command line given as words (argv[0] is added).
class ParseTest : public ::testing::Test {
 protected:
  void SetUp() override { reset_all(); }
  void TearDown() override {
    unsetenv("POSIXLY_CORRECT");
    reset_all();
  }

  bool parse(std::vector<std::string> words) {
    words_ = std::move(words);
    words_.insert(words_.begin(), "flashdrop");
    argv_.clear();
    for (std::string& w : words_) argv_.push_back(&w[0]);
    argv_.push_back(nullptr);
    return parse_options(static_cast<int>(words_.size()), argv_.data());
  }

  std::string first_operand() const {
    // getopt_long moves the operands behind the options within argv.
    return optind < static_cast<int>(words_.size()) ? argv_[optind] : "";
  }

 private:
  std::vector<std::string> words_;
  std::vector<char*> argv_;
};

using ParseDeathTest = ParseTest;

const char kUsageText[] =
    "\nflashdrop.exe: version 0.3.0, a tools for convert bin to uf2 \n"
    "\nusage: flashdrop.exe [-f family] [-t times] [-s port] [-i sn] [-b baudrate]  "
    "flash.uf2 \n"
    "Options:\n"
    "  -f --family id          Set the device family id, (default: 0)\n"
    "  -t --times              Number of attempts\n"
    "  -s --serial port        Send via serial port (e.g., COM1)\n"
    "  -b --baudrate rate      Set baud rate (default: 115200)\n"
    "  -i --sn                 HID SN\n"
    "  -h --help               Display help information\n"
    "  -v --version            Show the program version\n"
    "\n";

TEST_F(ParseTest, TimesKeepsTheLowEightBitsAsASignedCount) {
  const std::pair<const char*, int> cases[] = {
      {"3", 3}, {"300", 44}, {"200", -56}, {"-1", -1}, {"abc", 0}, {"127", 127}, {"256", 0},
  };
  for (const auto& c : cases) {
    reset_all();
    ASSERT_TRUE(parse({"-t", c.first, "fw.uf2"}));
    EXPECT_EQ(times, c.second) << "-t " << c.first;
  }
}

TEST_F(ParseTest, LongOptionsTakeTheirValueAfterEqualsOrAsTheNextWord) {
  ASSERT_TRUE(parse({"--times", "5", "fw.uf2"}));
  EXPECT_EQ(times, 5);
  reset_all();
  ASSERT_TRUE(parse({"--times=5", "fw.uf2"}));
  EXPECT_EQ(times, 5);
  reset_all();
  ASSERT_TRUE(parse({"--ser", "COM3", "fw.uf2"}));  // a unique abbreviation
  EXPECT_STREQ(serial_port, "COM3");
  EXPECT_TRUE(use_serial);
}

TEST_F(ParseTest, FamilyIsReadInBaseSixteen) {
  for (const char* arg : {"2a", "0x2A", "0X2a"}) {
    reset_all();
    ASSERT_TRUE(parse({"-f", arg, "fw.uf2"}));
    EXPECT_EQ(family_id, 42u) << arg;
  }
  reset_all();
  ASSERT_TRUE(parse({"--family=2a", "fw.uf2"}));
  EXPECT_EQ(family_id, 42u);
}

// The options for several boards: each sets its setting, abbreviations
// included, and none takes the value of another.
TEST_F(ParseTest, BoardChoiceOptionsSetTheirSettings) {
  const struct {
    std::vector<std::string> words;
    bool list, all, json;
    const char* drive;
  } cases[] = {
      {{"--list"}, true, false, false, nullptr},
      {{"--drive", "/media/u/RPI-RP2", "fw.uf2"}, false, false, false, "/media/u/RPI-RP2"},
      {{"--dr=E:", "--al", "--js", "fw.uf2"}, false, true, true, "E:"},
      {{"--l", "--json"}, true, false, true, nullptr},
  };
  for (const auto& c : cases) {
    reset_all();
    EXPECT_TRUE(parse(c.words)) << c.words[0];
    EXPECT_EQ(list_only, c.list) << c.words[0];
    EXPECT_EQ(flash_all, c.all) << c.words[0];
    EXPECT_EQ(json_output, c.json) << c.words[0];
    EXPECT_STREQ(drive_name, c.drive) << c.words[0];
  }
}

// How an image that is not UF2 is converted: a family by name or id, an
// address in hexadecimal; a value that is neither is refused (status 1).
TEST_F(ParseTest, ImageOptionsTakeAFamilyNameOrIdAndAHexadecimalAddress) {
  const struct {
    std::vector<std::string> words;
    bool ok;
    bool family_given;
    uint32_t family;
    bool address_given;
    uint64_t address;
  } cases[] = {
      {{"--uf2-family", "rp2350-arm-s", "fw.bin"}, true, true, 0xE48BFF59, false, 0},
      {{"--uf2-fam=E48BFF56", "fw.bin"}, true, true, 0xE48BFF56, false, 0},
      {{"--address", "0x10004000", "fw.bin"}, true, false, 0, true, 0x10004000},
      {{"--ad=8000", "fw.bin"}, true, false, 0, true, 0x8000},
      {{"--uf2-family", "no-such-chip", "fw.bin"}, false, false, 0, false, 0},
      {{"--address", "0x100000000", "fw.bin"}, false, false, 0, false, 0},
      {{"--address", "10k", "fw.bin"}, false, false, 0, false, 0},
  };
  for (const auto& c : cases) {
    reset_all();
    testing::internal::CaptureStdout();
    EXPECT_EQ(parse(c.words), c.ok) << c.words[0];
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.empty(), c.ok) << out;
    EXPECT_EQ(uf2_family_given, c.family_given) << c.words[0];
    EXPECT_EQ(uf2_family, c.family) << c.words[0];
    EXPECT_EQ(image_address_given, c.address_given) << c.words[0];
    EXPECT_EQ(image_address, c.address) << c.words[0];
  }
}

TEST_F(ParseTest, NumbersFollowTheThirtyTwoBitStrtoulRules) {
  const std::pair<const char*, uint32_t> cases[] = {
      {"9600", 9600u},
      {"  12x", 12u},
      {"+7", 7u},
      {"-1", 0xFFFFFFFFu},
      {"-4294967295", 1u},
      {"4294967295", 0xFFFFFFFFu},
      {"4294967296", 0xFFFFFFFFu},
      {"-4294967296", 0xFFFFFFFFu},
      {"99999999999999999999999", 0xFFFFFFFFu},
      {"-99999999999999999999999", 0xFFFFFFFFu},
      {"x", 0u},
      {"", 0u},
  };
  for (const auto& c : cases) {
    reset_all();
    ASSERT_TRUE(parse({"-b", c.first, "fw.uf2"}));
    EXPECT_EQ(baud_rate, c.second) << "-b '" << c.first << "'";
  }
}

TEST_F(ParseTest, LaterOptionsOverwriteEarlierOnes) {
  ASSERT_TRUE(parse({"-s", "COM3", "-s", "HID", "-t", "2", "-t", "7", "fw.uf2"}));
  EXPECT_STREQ(serial_port, "HID");
  EXPECT_EQ(times, 7);
}

TEST_F(ParseTest, OperandsMayStandBeforeOptions) {
  ASSERT_TRUE(parse({"fw.uf2", "-b", "9600", "other.uf2"}));
  EXPECT_EQ(baud_rate, 9600u);
  EXPECT_EQ(first_operand(), "fw.uf2");
}

TEST_F(ParseTest, DoubleDashEndsTheOptions) {
  ASSERT_TRUE(parse({"-t", "1", "--", "-b"}));
  EXPECT_EQ(baud_rate, 115200u);
  EXPECT_EQ(first_operand(), "-b");
}

TEST_F(ParseTest, PosixlyCorrectStopsAtTheFirstOperand) {
  setenv("POSIXLY_CORRECT", "1", 1);
  ASSERT_TRUE(parse({"-t", "3", "fw.uf2", "-b", "9600"}));
  EXPECT_EQ(times, 3);
  EXPECT_EQ(baud_rate, 115200u);
  EXPECT_EQ(first_operand(), "fw.uf2");
}

TEST_F(ParseTest, SerialNumberIsConvertedToWideCharacters) {
  ASSERT_TRUE(parse({"-i", "AB\xE5\xBA\x8F" "9", "fw.uf2"}));
  ASSERT_NE(sn, nullptr);
  EXPECT_EQ(std::wstring(sn), std::wstring(L"AB\u5E8F" L"9"));
}

TEST_F(ParseTest, SerialNumberOfNinetyNineCharactersIsStoredWhole) {
  const std::string value(99, 'S');
  ASSERT_TRUE(parse({"-i", value, "fw.uf2"}));
  EXPECT_EQ(sn, snx);
  EXPECT_EQ(std::wstring(sn), std::wstring(99, L'S'));
}

TEST_F(ParseTest, SerialNumberOfAHundredCharactersIsRefusedWithoutTouchingStorage) {
  testing::internal::CaptureStdout();
  const bool accepted = parse({"-i", std::string(100, 'S'), "fw.uf2"});
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(accepted);
  EXPECT_EQ(sn, nullptr);
  EXPECT_EQ(snx[0], L'\0');
  EXPECT_EQ(out, "The -i value is too long: at most 99 characters are allowed\n");
}

TEST_F(ParseTest, EmptySerialNumberIsAFilterNotAnAbsentOne) {
  ASSERT_TRUE(parse({"-i", "", "fw.uf2"}));
  ASSERT_NE(sn, nullptr);
  EXPECT_EQ(sn[0], L'\0');
}

TEST_F(ParseTest, VersionListsOperandsThenVersionAndUsageAndGoesOn) {
  testing::internal::CaptureStdout();
  ASSERT_TRUE(parse({"-v", "a.uf2", "b.uf2"}));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            std::string("Argument: a.uf2\nArgument: b.uf2\n"
                        "\nflashdrop, for Windows only, version 0.3.0\n"
                        "A tools for convert bin file to uf2 format and send via serial port.\n") +
                kUsageText);
  EXPECT_EQ(first_operand(), "a.uf2");
}

TEST(TriggerChoiceTest, HidInAnyLetterCaseChoosesTheHidTrigger) {
  for (const char* port : {"HID", "hid", "Hid", "hID"}) EXPECT_TRUE(is_hid_port(port)) << port;
  for (const char* port : {"", "HI", "HIDE", "COM3", "/dev/hid", "ttyACM0"})
    EXPECT_FALSE(is_hid_port(port)) << port;
}

TEST_F(ParseTest, UsageReturnsForStatusZero) {
  testing::internal::CaptureStdout();
  print_usage(stdout, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), kUsageText);
}

TEST_F(ParseDeathTest, UsageErrorsEndWithStatusOne) {
  const std::vector<std::vector<std::string>> lines = {
      {"fw.uf2"},                   // an operand but no option
      {"-h", "fw.uf2"},             // help
      {"-v", "-h"},                 // help after version
      {"--s", "COM3", "fw.uf2"},    // ambiguous: serial or sn
      {"-x", "fw.uf2"},             // unknown
      {"fw.uf2", "-t"},             // missing argument
      {"--help=yes", "fw.uf2"},     // argument to an option that takes none
  };
  for (const auto& line : lines) {
    EXPECT_EXIT(
        {
          reset_all();
          parse(line);
        },
        ::testing::ExitedWithCode(1), "")
        << line[0];
  }
}

}  // namespace
