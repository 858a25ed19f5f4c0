#include <gtest/gtest.h>

#include <string>

#include "temp_dir.h"
#include "trigger/hid_pad_linux.h"

namespace {

// Report id 1 with an output report of `payload` bytes.
std::string descriptor_with_output(unsigned payload) {
  const unsigned char bytes[] = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01,
                                 0x75, 0x08, 0x96, static_cast<unsigned char>(payload & 0xFF),
                                 static_cast<unsigned char>(payload >> 8), 0x09, 0x01,
                                 0x91, 0x02, 0xC0};
  return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

class HidPadLinuxTest : public ::testing::Test {
 protected:
  void put(const std::string& node, const std::string& descriptor) {
    sys_.write("class/hidraw/" + node + "/device/report_descriptor", descriptor);
  }
  size_t length(const char* path) { return hidraw_write_length(sys_.path(), path, 1, 27); }
  TempDir sys_;
};

TEST_F(HidPadLinuxTest, PadsToTheDeclaredOutputReport) {
  put("hidraw0", descriptor_with_output(64));
  put("hidraw7", descriptor_with_output(1000));
  EXPECT_EQ(length("/dev/hidraw0"), 65u);
  EXPECT_EQ(length("/dev/hidraw7"), 1001u);
}

TEST_F(HidPadLinuxTest, NeverShortensTheReport) {
  put("hidraw1", descriptor_with_output(8));
  EXPECT_EQ(length("/dev/hidraw1"), 27u);
}

TEST_F(HidPadLinuxTest, FallsBackTo64PayloadBytesWhenTheDescriptorSaysNothingUsable) {
  put("hidraw2", "");                                          // empty
  put("hidraw3", descriptor_with_output(64).substr(0, 12));    // cut off
  put("hidraw4", std::string("\x75\x08\x95\x10\x91\x02", 6));  // no report ids
  put("hidraw5", descriptor_with_output(20000));               // beyond hidraw's limit
  for (const char* path : {"/dev/hidraw2", "/dev/hidraw3", "/dev/hidraw4", "/dev/hidraw5",
                           "/dev/hidraw9", "1-2:1.0", "/dev/", ""}) {
    EXPECT_EQ(length(path), 65u) << path;
  }
}

TEST_F(HidPadLinuxTest, UsesTheNodeNameOfTheDevicePath) {
  put("hidraw12", descriptor_with_output(128));
  EXPECT_EQ(length("/dev/hidraw12"), 129u);
  EXPECT_EQ(length("hidraw12"), 129u);
}

}  // namespace
