// Where devices sit, through the real configuration manager and SetupAPI
// calls, under wine: wine implements only some of them, and its drives, serial
// ports and HID devices hang on no USB port. Every place is unknown there,
// and the tool then goes on as it does without one.
#include <gtest/gtest.h>

#include <string>

#include "drive/drives.h"
#include "platform/usb_place.h"

namespace {

Drive at(const std::string& root) {
  Drive drive;
  drive.root = root;
  return drive;
}

TEST(UsbPlaceWine, WhatWineShowsHangsOnNoUsbPort) {
  const struct {
    const char* what;
    UsbPlace place;
  } cases[] = {
      {"the removable drive R:", usb_place_of_drive(at("R:\\"))},
      {"the fixed drive H:", usb_place_of_drive(at("H:\\"))},
      {"a letter without a drive", usb_place_of_drive(at("Q:\\"))},
      {"a root that is no letter", usb_place_of_drive(at(""))},
      {"a HID interface of no present device",
       usb_place_of_hid("\\\\?\\hid#vid_0d28&pid_0204&mi_00#7&1a2b3c4d&0&0000#"
                        "{4d1e55b2-f16f-11cf-88cb-001111000030}")},
      {"a HID path that names no interface", usb_place_of_hid("hidraw0")},
      {"wine's COM1", usb_place_of_serial_port("COM1")},
      {"a port nobody has", usb_place_of_serial_port("\\\\.\\COM250")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.place.port, "") << c.what;
    EXPECT_EQ(c.place.serial, "") << c.what;
  }
}

}  // namespace
