// Where a drive's USB device sits on Windows: the volume's storage device
// number leads to the disk of the same number, whose device node leads up
// the tree to the USB device (USBSTOR\DISK... under USB\VID_...).
#include <windows.h>
// windows.h first: winioctl.h needs its types.
#include <winioctl.h>

#include <string>
#include <vector>

#include "drive/drives.h"
#include "platform/device_tree_win32.h"

namespace {

const GUID kDiskInterface = {
    0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

// The storage device number of the volume or disk at `path`. The open asks
// for no access, which needs no administrator.
bool storage_number(const std::wstring& path, STORAGE_DEVICE_NUMBER* number) {
  const HANDLE device = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  if (device == INVALID_HANDLE_VALUE) return false;
  DWORD got = 0;
  const BOOL ok = DeviceIoControl(device, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, number,
                                  sizeof *number, &got, nullptr);
  CloseHandle(device);
  return ok && got >= sizeof *number;
}

// The path of a disk interface, with the device it belongs to in `device`.
std::wstring interface_path(const DeviceTree& tree, HDEVINFO set, SP_DEVICE_INTERFACE_DATA* entry,
                            SP_DEVINFO_DATA* device) {
  DWORD size = 0;
  tree.interface_detail(set, entry, nullptr, 0, &size, nullptr);  // asks for the size
  if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) || size > 64 * 1024) return L"";
  std::vector<DWORD> buffer(size / sizeof(DWORD) + 2, 0);  // aligned, and ends in zeros
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
  detail->cbSize = sizeof *detail;
  if (!tree.interface_detail(set, entry, detail, size, nullptr, device)) return L"";
  return detail->DevicePath;
}

// The node of the present disk whose number is the volume's.
bool find_disk(const DeviceTree& tree, const STORAGE_DEVICE_NUMBER& volume, DEVINST* node) {
  if (!device_lists_usable(tree) || tree.enum_interface == nullptr ||
      tree.interface_detail == nullptr) {
    return false;
  }
  const HDEVINFO set =
      tree.class_devices(&kDiskInterface, nullptr, nullptr, DIGCF_DEVICEINTERFACE | DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  SP_DEVICE_INTERFACE_DATA entry;
  entry.cbSize = sizeof entry;
  for (DWORD index = 0; !found && tree.enum_interface(set, nullptr, &kDiskInterface, index, &entry);
       ++index) {
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    const std::wstring path = interface_path(tree, set, &entry, &device);
    STORAGE_DEVICE_NUMBER disk;
    if (!path.empty() && storage_number(path, &disk) && disk.DeviceType == volume.DeviceType &&
        disk.DeviceNumber == volume.DeviceNumber) {
      *node = device.DevInst;
      found = true;
    }
  }
  tree.destroy_list(set);
  return found;
}

}  // namespace

UsbPlace usb_place_of_drive(const Drive& drive) {
  if (drive.root.size() < 2 || drive.root[1] != ':') return UsbPlace();
  const std::wstring volume_path = L"\\\\.\\" + std::wstring(1, drive.root[0]) + L":";
  STORAGE_DEVICE_NUMBER volume;
  DEVINST disk = 0;
  if (!storage_number(volume_path, &volume) || !find_disk(device_tree(), volume, &disk)) {
    return UsbPlace();
  }
  return usb_place_of_node(disk);
}
