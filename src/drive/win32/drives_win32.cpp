// The Windows drive layer's listing: drive letters of the removable type,
// each with its volume serial number, and the marker on a drive.
#include <io.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "drive/drives.h"
#include "platform/usb_chain.h"

namespace {

// The drive list: root paths such as "E:\", each ended by a zero byte, the
// whole list by an empty entry. Sized by asking first; a drive that appears
// between the two calls makes the second call ask for more, so ask again.
bool logical_drive_strings(std::vector<char>* list) {
  DWORD wanted = GetLogicalDriveStringsA(0, nullptr);
  for (int attempt = 0; attempt < 4 && wanted != 0; ++attempt) {
    list->assign(static_cast<size_t>(wanted) + 1, '\0');
    const DWORD length = GetLogicalDriveStringsA(static_cast<DWORD>(list->size()), list->data());
    if (length == 0) return false;
    if (length < list->size()) return true;
    wanted = length;
  }
  return false;
}

// The volume serial number at `root`: the drive's identity.
DriveIdentity volume_identity(const std::string& root) {
  DriveIdentity identity;
  DWORD serial = 0;
  if (GetVolumeInformationA(root.c_str(), nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) {
    identity.id = serial;
    identity.known = true;
  }
  return identity;
}

}  // namespace

bool list_removable_drives(std::vector<Drive>* drives) {
  std::vector<char> list;
  if (!logical_drive_strings(&list)) return false;
  drives->clear();
  for (const char* root = list.data(); *root != '\0'; root += strlen(root) + 1) {
    if (GetDriveTypeA(root) != DRIVE_REMOVABLE) continue;
    Drive drive;
    drive.root = root;
    drive.identity = volume_identity(drive.root);
    drives->push_back(drive);
  }
  return true;
}

bool drive_named(const Drive& drive, const std::string& name) {
  return drive_letter_named(name, drive.root);
}

// Windows mounts every drive itself: a listed drive is ready as it is.
bool attach_drive(Drive*, std::string* message) {
  message->clear();
  return true;
}

bool make_drive_writable(Drive*, std::string*) { return true; }

void release_drive(Drive*) {}

// _findfirst64i32 follows the drive's own name rules: on FAT and NTFS without
// regard to letter case. The name it gives is the one stored on the drive.
bool find_marker(Drive* drive, const std::string& marker, MarkerFile* found) {
  struct _finddata64i32_t entry;
  const intptr_t handle = _findfirst64i32((drive->root + marker).c_str(), &entry);
  if (handle == -1) return false;
  found->name = entry.name;
  found->size = static_cast<long>(entry.size);
  _findclose(handle);
  return true;
}

// Names on FAT are looked up without regard to letter case. A folder cannot
// be opened this way, so only a file is read.
bool read_drive_file(const Drive& drive, const std::string& name, size_t size,
                     std::vector<uint8_t>* bytes) {
  const HANDLE handle =
      CreateFileA((drive.root + name).c_str(), GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  bool ok = GetFileType(handle) == FILE_TYPE_DISK;
  bytes->assign(size, 0);
  size_t done = 0;
  while (ok && done < size) {
    DWORD got = 0;
    const DWORD wanted = static_cast<DWORD>(size - done < (1u << 20) ? size - done : (1u << 20));
    ok = ReadFile(handle, bytes->data() + done, wanted, &got, nullptr) != 0;
    if (got == 0) break;
    done += got;
  }
  CloseHandle(handle);
  bytes->resize(done);
  return ok;
}

// Each test catches the board leaving in some setting. On Windows the letter
// loses its removable type or its volume once the device is gone, and a
// letter given to another device shows another serial number. Under wine the
// type comes from the registry and a drive whose folder went away still shows
// a volume: there the marker is what tells.
bool drive_still_there(const Drive& drive, const std::string& marker) {
  if (GetDriveTypeA(drive.root.c_str()) != DRIVE_REMOVABLE) return false;
  if (drive.identity.known) {  // a volume unreadable at listing proves nothing now
    const DriveIdentity now = volume_identity(drive.root);
    if (!now.known || now.id != drive.identity.id) return false;
  }
  MarkerFile found;
  Drive looked = drive;
  return find_marker(&looked, marker, &found);
}

