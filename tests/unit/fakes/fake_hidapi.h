// A fake hidapi, linked in place of the real library: scripted devices, and a
// record of every call and every write. It also stands in for the OS padding
// rule (hid_write_length), scripted per device.
#ifndef FLASHDROP_TESTS_FAKE_HIDAPI_H_
#define FLASHDROP_TESTS_FAKE_HIDAPI_H_

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// One answer of hid_read_timeout: its result, and the bytes it delivers when
// the result is positive.
struct FakeRead {
  int result;
  std::vector<unsigned char> bytes;
};

struct FakeHidDevice {
  std::string path;
  unsigned short vendor_id = 0x0D28;
  unsigned short product_id = 0x0204;
  std::shared_ptr<std::wstring> serial_number;  // null: the device has none
  std::shared_ptr<std::wstring> manufacturer;
  std::shared_ptr<std::wstring> product;
  unsigned short release_number = 0x0100;
  int interface_number = 0;
  bool open_fails = false;
  int write_result = 0;           // 0: the length written; else returned as is
  size_t write_length = 27;       // what hid_write_length answers for this path
  std::vector<FakeRead> replies;  // later reads return 0 (nothing yet)
};

struct FakeWrite {
  std::string path;
  std::vector<unsigned char> bytes;
};

std::shared_ptr<std::wstring> wide(const wchar_t* text);

namespace fake_hidapi {

// The interfaces hid_enumerate lists, in this order.
void script(const std::vector<FakeHidDevice>& devices);
void fail_init();
// Every hidapi call in order, e.g. "hid_open_path /dev/hidraw1".
const std::vector<std::string>& calls();
const std::vector<FakeWrite>& writes();
// Misuse the fake saw: a device handle used after close, the list used after
// it was freed, calls after hid_exit. Empty when hidapi was used correctly.
const std::vector<std::string>& misuse();
void reset();

}  // namespace fake_hidapi

#endif  // FLASHDROP_TESTS_FAKE_HIDAPI_H_
