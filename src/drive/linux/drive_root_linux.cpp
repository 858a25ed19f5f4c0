#include "drive/linux/drive_root_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::string errno_text(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + strerror(errno);
}

int open_regular(int dir, const std::string& name, int flags, struct stat* st) {
  struct stat dir_st, opened;
  if (fstat(dir, &dir_st) != 0 || fstatat(dir, name.c_str(), st, AT_SYMLINK_NOFOLLOW) != 0) {
    return -1;
  }
  if (!S_ISREG(st->st_mode) || st->st_dev != dir_st.st_dev) {
    errno = ENODEV;
    return -1;
  }
  const int fd =
      openat(dir, name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  if (fstat(fd, &opened) == 0 && opened.st_dev == st->st_dev && opened.st_ino == st->st_ino) {
    return fd;
  }
  close(fd);
  errno = ENODEV;
  return -1;
}

int open_drive_root(const Drive& drive, std::string* why) {
  if (drive.root_handle >= 0) {
    const int fd = fcntl(static_cast<int>(drive.root_handle), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) *why = errno_text("cannot open", drive.root);
    return fd;
  }
  const int fd = open(drive.root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    *why = errno_text("cannot open", drive.root);
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) == 0 && st.st_dev == drive.identity.id) return fd;
  close(fd);
  *why = drive.root + " is no longer the removable drive that was listed";
  return -1;
}

bool find_in_directory(int dir, const std::string& wanted, std::string* stored) {
  const int own = openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (own < 0) return false;
  DIR* d = fdopendir(own);
  if (d == nullptr) {
    close(own);
    return false;
  }
  bool matched = false;
  while (struct dirent* entry = readdir(d)) {
    if (strcasecmp(entry->d_name, wanted.c_str()) != 0) continue;
    *stored = entry->d_name;
    matched = true;
    break;
  }
  closedir(d);
  return matched;
}

