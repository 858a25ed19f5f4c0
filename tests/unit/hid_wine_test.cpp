// The real Windows hidapi (hid.c built with the wine shim) with no board
// attached: the library starts, finds nothing, and the trigger stays silent.
#include <gtest/gtest.h>
#include <hidapi.h>

#include <string>
#include <vector>

#include "fakes/fake_platform.h"
#include "trigger/hid_trigger.h"

namespace {

TEST(HidWineTest, LibraryStartsAndFindsNoBoard) {
  ASSERT_EQ(hid_init(), 0) << "the shim should let hid_init past wine's cfgmgr32";
  hid_device_info* devices = hid_enumerate(0x0D28, 0x0204);
  EXPECT_EQ(devices, nullptr);
  hid_free_enumeration(devices);
  EXPECT_EQ(hid_exit(), 0);
}

TEST(HidWineTest, TriggerWithNoBoardPrintsNothingThenPauses) {
  fake_clock::reset();
  for (const wchar_t* filter : {static_cast<const wchar_t*>(nullptr), L"SN-1", L""}) {
    ::testing::internal::CaptureStdout();
    DoHID(filter);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  }
  EXPECT_TRUE(fake_clock::sleeps().empty());  // no device, no read, no pause
  send_hid_trigger();
  EXPECT_EQ(fake_clock::sleeps(), std::vector<unsigned>{1000});
}

TEST(HidWineTest, MissingInterfaceCannotBeOpened) {
  ASSERT_EQ(hid_init(), 0);
  ::testing::internal::CaptureStdout();
  const int sent = sendHID("\\\\?\\hid#vid_0d28&pid_0204#0&00000000&0&0000#"
                           "{4d1e55b2-f16f-11cf-88cb-001111000030}");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "unable to open device\n");
  EXPECT_EQ(sent, 0);
  hid_exit();
}

}  // namespace
