#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/settings.h"
#include "fakes/fake_hidapi.h"
#include "fakes/fake_platform.h"
#include "fakes/fake_usb_place.h"
#include "trigger/hid_trigger.h"

namespace {

const std::string kCommand = "{\"name\":\"entry_brevon_bl\"}";

FakeHidDevice board(const std::string& path, const wchar_t* serial,
                    std::vector<FakeRead> replies = {{3, {0x01, 0x02, 0x03}}}) {
  FakeHidDevice device;
  device.path = path;
  if (serial != nullptr) device.serial_number = wide(serial);
  device.manufacturer = wide(L"Maker");
  device.product = wide(L"Board");
  device.replies = std::move(replies);
  return device;
}

std::string listing(const std::string& path, const std::string& serial, int interface = 0) {
  return "Device Found\n  type: 0d28 0204\n  path: " + path + "\n  serial_number: " + serial +
         "\n  Manufacturer: Maker\n  Product:      Board\n  Release:      100\n"
         "  Interface:    " + std::to_string(interface) + "\n\n";
}

class HidTriggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_hidapi::reset();
    fake_clock::reset();
    fake_usb_place::reset();
    reset_settings();
  }
  void TearDown() override {
    EXPECT_TRUE(fake_hidapi::misuse().empty()) << fake_hidapi::misuse().front();
    fake_hidapi::reset();
    reset_settings();
  }

  std::string run_DoHID(const wchar_t* filter) {
    ::testing::internal::CaptureStdout();
    DoHID(filter);
    return ::testing::internal::GetCapturedStdout();
  }

  std::vector<std::string> written_paths() {
    std::vector<std::string> paths;
    for (const FakeWrite& write : fake_hidapi::writes()) paths.push_back(write.path);
    return paths;
  }
};

TEST_F(HidTriggerTest, TwoInterfacesWithoutFilterAreBothSentTheCommand) {
  FakeHidDevice second = board("/dev/hidraw1", L"A1", {{2, {0xab, 0xcd}}});
  second.interface_number = 1;
  fake_hidapi::script({board("/dev/hidraw0", L"A1"), second});

  EXPECT_EQ(run_DoHID(nullptr),
            listing("/dev/hidraw0", "A1") + "Data read:\n   01 02 03 \n" +
                listing("/dev/hidraw1", "A1", 1) + "Data read:\n   ab cd \n");

  ASSERT_EQ(fake_hidapi::writes().size(), 2u);
  for (const FakeWrite& write : fake_hidapi::writes()) {
    ASSERT_EQ(write.bytes.size(), 27u);
    EXPECT_EQ(write.bytes[0], 0x01);
    EXPECT_EQ(std::string(write.bytes.begin() + 1, write.bytes.end()), kCommand);
  }
  EXPECT_EQ(written_paths(), (std::vector<std::string>{"/dev/hidraw0", "/dev/hidraw1"}));
}

TEST_F(HidTriggerTest, LibraryCallsComeInOrderAndEverythingIsReleased) {
  fake_hidapi::script({board("/dev/hidraw0", L"A1"), board("/dev/hidraw1", L"B2")});
  run_DoHID(nullptr);
  EXPECT_EQ(fake_hidapi::calls(), (std::vector<std::string>{
                                      "hid_init",
                                      "hid_enumerate 0d28 0204",
                                      "hid_open_path /dev/hidraw0",
                                      "hid_write /dev/hidraw0 27",
                                      "hid_read_timeout /dev/hidraw0 256 1000",
                                      "hid_close /dev/hidraw0",
                                      "hid_open_path /dev/hidraw1",
                                      "hid_write /dev/hidraw1 27",
                                      "hid_read_timeout /dev/hidraw1 256 1000",
                                      "hid_close /dev/hidraw1",
                                      "hid_free_enumeration",
                                      "hid_exit",
                                  }));
  // One 500 ms pause after each read; DoHID itself does not add the 1000 ms.
  EXPECT_EQ(fake_clock::sleeps(), (std::vector<unsigned>{500, 500}));
}

TEST_F(HidTriggerTest, FilterSelectsOnlyAnExactSerialNumber) {
  fake_hidapi::script({board("/dev/hidraw0", L"A1"), board("/dev/hidraw1", L"B2"),
                       board("/dev/hidraw2", L"b2"), board("/dev/hidraw3", L"B2 ")});
  const std::string out = run_DoHID(L"B2");
  EXPECT_EQ(written_paths(), std::vector<std::string>{"/dev/hidraw1"});
  // Every interface is listed, selected or not.
  for (const char* path : {"/dev/hidraw0", "/dev/hidraw1", "/dev/hidraw2", "/dev/hidraw3"}) {
    EXPECT_NE(out.find(std::string("path: ") + path + "\n"), std::string::npos) << path;
  }
}

TEST_F(HidTriggerTest, DeviceWithoutSerialNumberIsListedButNeverMatchesAFilter) {
  FakeHidDevice bare = board("/dev/hidraw0", nullptr);
  bare.manufacturer = nullptr;
  bare.product = nullptr;
  fake_hidapi::script({bare});

  EXPECT_EQ(run_DoHID(L""),
            "Device Found\n  type: 0d28 0204\n  path: /dev/hidraw0\n  serial_number: (null)\n"
            "  Manufacturer: (null)\n  Product:      (null)\n  Release:      100\n"
            "  Interface:    0\n\n");
  EXPECT_TRUE(fake_hidapi::writes().empty());

  run_DoHID(nullptr);  // without a filter it is sent the command
  EXPECT_EQ(fake_hidapi::writes().size(), 1u);
}

TEST_F(HidTriggerTest, EmptyFilterSelectsOnlyAnEmptySerialNumber) {
  fake_hidapi::script({board("/dev/hidraw0", L"A1"), board("/dev/hidraw1", L""),
                       board("/dev/hidraw2", nullptr)});
  run_DoHID(L"");
  EXPECT_EQ(written_paths(), std::vector<std::string>{"/dev/hidraw1"});
}

TEST_F(HidTriggerTest, InitFailureEndsSilentlyAndTheTriggerStillPauses) {
  fake_hidapi::script({board("/dev/hidraw0", L"A1")});
  fake_hidapi::fail_init();
  ::testing::internal::CaptureStdout();
  send_hid_trigger();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(fake_hidapi::calls(), std::vector<std::string>{"hid_init"});
  EXPECT_EQ(fake_clock::sleeps(), std::vector<unsigned>{1000});
}

TEST_F(HidTriggerTest, NoDeviceOnlyEnumeratesAndShutsDown) {
  EXPECT_EQ(run_DoHID(nullptr), "");
  EXPECT_EQ(fake_hidapi::calls(),
            (std::vector<std::string>{"hid_init", "hid_enumerate 0d28 0204",
                                      "hid_free_enumeration", "hid_exit"}));
}

TEST_F(HidTriggerTest, TriggerUsesTheSerialNumberSettingThenPausesOneSecond) {
  fake_hidapi::script({board("/dev/hidraw0", L"A1"), board("/dev/hidraw1", L"B2")});
  sn = L"B2";
  ::testing::internal::CaptureStdout();
  send_hid_trigger();
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(written_paths(), std::vector<std::string>{"/dev/hidraw1"});
  EXPECT_EQ(fake_clock::sleeps(), (std::vector<unsigned>{500, 1000}));
}

TEST_F(HidTriggerTest, OpenFailureIsReportedAndTheNextInterfaceIsHandled) {
  FakeHidDevice locked = board("/dev/hidraw0", L"A1");
  locked.open_fails = true;
  fake_hidapi::script({locked, board("/dev/hidraw1", L"A1")});
  EXPECT_EQ(run_DoHID(nullptr), listing("/dev/hidraw0", "A1") + "unable to open device\n" +
                                    listing("/dev/hidraw1", "A1") + "Data read:\n   01 02 03 \n");
  EXPECT_EQ(written_paths(), std::vector<std::string>{"/dev/hidraw1"});
}

TEST_F(HidTriggerTest, WriteFailureClosesSilentlyAndTheNextInterfaceIsHandled) {
  FakeHidDevice broken = board("/dev/hidraw0", L"A1");
  broken.write_result = -1;
  fake_hidapi::script({broken, board("/dev/hidraw1", L"A1")});
  EXPECT_EQ(run_DoHID(nullptr), listing("/dev/hidraw0", "A1") + listing("/dev/hidraw1", "A1") +
                                    "Data read:\n   01 02 03 \n");
  const std::vector<std::string>& calls = fake_hidapi::calls();
  ASSERT_GE(calls.size(), 5u);
  EXPECT_EQ(calls[3], "hid_write /dev/hidraw0 27");
  EXPECT_EQ(calls[4], "hid_close /dev/hidraw0");  // no read
}

TEST_F(HidTriggerTest, ReadFailurePrintsAnEmptyDump) {
  fake_hidapi::script({board("/dev/hidraw0", L"A1", {{-1, {}}})});
  EXPECT_EQ(run_DoHID(nullptr),
            listing("/dev/hidraw0", "A1") + "Unable to read()\nData read:\n   \n");
  EXPECT_EQ(fake_clock::sleeps(), std::vector<unsigned>{500});
  EXPECT_EQ(fake_hidapi::calls().back(), "hid_exit");
}

TEST_F(HidTriggerTest, DumpStopsAtAZeroByteOrAtTheReturnedLength) {
  fake_hidapi::script({board("/dev/hidraw0", L"A", {{4, {0x01, 0x02, 0x00, 0x05}}}),
                       board("/dev/hidraw1", L"B", {{3, {0x00, 0x07, 0x08}}}),
                       board("/dev/hidraw2", L"C", {{2, {0x0a, 0x0b, 0x0c, 0x0d}}}),
                       board("/dev/hidraw3", L"D", {{256, std::vector<unsigned char>(256, 0xff)}})});
  const std::string out = run_DoHID(nullptr);
  std::string all_ff;
  for (int i = 0; i < 256; ++i) all_ff += "ff ";
  EXPECT_EQ(out, listing("/dev/hidraw0", "A") + "Data read:\n   01 02 \n" +
                     listing("/dev/hidraw1", "B") + "Data read:\n   \n" +
                     listing("/dev/hidraw2", "C") + "Data read:\n   0a 0b \n" +
                     listing("/dev/hidraw3", "D") + "Data read:\n   " + all_ff + "\n");
}

TEST_F(HidTriggerTest, ReplyWaitIsBoundedToFiveEmptyReads) {
  fake_hidapi::script({board("/dev/hidraw0", L"A1", {}), board("/dev/hidraw1", L"B2")});
  const std::string out = run_DoHID(nullptr);
  std::string waiting;
  for (int i = 0; i < 5; ++i) waiting += "waiting...\n";
  EXPECT_EQ(out, listing("/dev/hidraw0", "A1") + waiting + "Unable to read()\nData read:\n   \n" +
                     listing("/dev/hidraw1", "B2") + "Data read:\n   01 02 03 \n");
  int timed_reads = 0;
  for (const std::string& call : fake_hidapi::calls()) {
    EXPECT_NE(call.rfind("hid_read ", 0), 0u) << "a read without a time limit: " << call;
    if (call == "hid_read_timeout /dev/hidraw0 256 1000") ++timed_reads;
  }
  EXPECT_EQ(timed_reads, 5);
  EXPECT_EQ(fake_clock::sleeps(), std::vector<unsigned>(6, 500));
}

TEST_F(HidTriggerTest, EmptyReadsBeforeTheAnswerEachPrintWaiting) {
  fake_hidapi::script({board("/dev/hidraw0", L"A1", {{0, {}}, {0, {}}, {0, {}}, {0, {}}, {1, {0x42}}})});
  EXPECT_EQ(run_DoHID(nullptr), listing("/dev/hidraw0", "A1") +
                                    "waiting...\nwaiting...\nwaiting...\nwaiting...\n"
                                    "Data read:\n   42 \n");
  EXPECT_EQ(fake_clock::sleeps(), std::vector<unsigned>(5, 500));
}

TEST_F(HidTriggerTest, ReportIsZeroPaddedToTheLengthTheOsLayerAsksFor) {
  FakeHidDevice padded = board("/dev/hidraw0", L"A1");
  padded.write_length = 65;
  FakeHidDevice large = board("/dev/hidraw1", L"A1");
  large.write_length = 1025;  // longer than the 256-byte reply buffer
  fake_hidapi::script({padded, large});
  run_DoHID(nullptr);
  ASSERT_EQ(fake_hidapi::writes().size(), 2u);
  for (size_t k = 0; k < 2; ++k) {
    const std::vector<unsigned char>& bytes = fake_hidapi::writes()[k].bytes;
    ASSERT_EQ(bytes.size(), k == 0 ? 65u : 1025u);
    EXPECT_EQ(bytes[0], 0x01);
    EXPECT_EQ(std::string(bytes.begin() + 1, bytes.begin() + 27), kCommand);
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + 27, bytes.end()),
              std::vector<unsigned char>(bytes.size() - 27, 0));
  }
}

TEST_F(HidTriggerTest, DeviceStringsArePrintedInFullAsUtf8) {
  FakeHidDevice device = board("/dev/hidraw0", L"S\u00e9r-\u4e32\U0001F600");
  device.manufacturer = wide(L"Fabrik M\u00fcller \u7535\u5b50");
  device.product = wide(L"\u0411\u043e\u0440\u0434 board");
  fake_hidapi::script({device});
  const std::string out = run_DoHID(nullptr);
  EXPECT_NE(out.find("  serial_number: S\xc3\xa9r-\xe4\xb8\xb2\xf0\x9f\x98\x80\n"),
            std::string::npos) << out;
  EXPECT_NE(out.find("  Manufacturer: Fabrik M\xc3\xbcller \xe7\x94\xb5\xe5\xad\x90\n"),
            std::string::npos) << out;
  EXPECT_NE(out.find("  Product:      \xd0\x91\xd0\xbe\xd1\x80\xd0\xb4 board\n"),
            std::string::npos) << out;
}

}  // namespace

// What the trigger reached, for the drive search: one entry per board, its
// port read before the command; the interfaces of one board count once
// (same port, else same serial number), and a board the command did not
// reach not at all.
TEST_F(HidTriggerTest, EachBoardReachedCountsOnceWithItsPort) {
  FakeHidDevice second_interface = board("/dev/hidraw1", L"A1");
  second_interface.interface_number = 1;
  FakeHidDevice unopened = board("/dev/hidraw4", L"C3");
  unopened.open_fails = true;
  const struct {
    const char* what;
    std::vector<FakeHidDevice> devices;
    std::vector<std::pair<std::string, std::string>> places;  // path, port
    std::vector<std::string> ports;
  } cases[] = {
      {"two interfaces, one port", {board("/dev/hidraw0", L"A1"), second_interface},
       {{"/dev/hidraw0", "1-1"}, {"/dev/hidraw1", "1-1"}}, {"1-1"}},
      {"two interfaces, no port: told by the serial", {board("/dev/hidraw0", L"A1"), second_interface},
       {}, {""}},
      {"two boards sharing a serial, on two ports", {board("/dev/hidraw0", L"A1"), board("/dev/hidraw2", L"A1")},
       {{"/dev/hidraw0", "1-1"}, {"/dev/hidraw2", "2-1"}}, {"1-1", "2-1"}},
      {"no serial, no port: each interface", {board("/dev/hidraw0", nullptr), board("/dev/hidraw2", nullptr)},
       {}, {"", ""}},
      {"the command did not reach it", {unopened}, {{"/dev/hidraw4", "3-1"}}, {}},
  };
  for (const auto& c : cases) {
    fake_hidapi::reset();
    fake_usb_place::reset();
    fake_hidapi::script(c.devices);
    for (const auto& place : c.places) fake_usb_place::set(place.first, {place.second, ""});
    ::testing::internal::CaptureStdout();
    const TriggerReach reach = DoHID(nullptr);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(reach.ports, c.ports) << c.what;
  }
}
