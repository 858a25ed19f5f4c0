#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <utility>

#include "drive/drives.h"
#include "drive/linux/drives_linux.h"
#include "drive/linux/unmounted_linux.h"
#include "platform/file_posix.h"
#include "platform/text.h"

namespace {

// Each piece of the copy is pushed to the device and waited for before the
// next, so the tool knows how much of the file the drive acknowledged.
constexpr uint64_t kPieceSize = 4u << 20;
constexpr size_t kBufferSize = 128 * 1024;  // as large as cp's, for the same write sizes

std::string base_name(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string join_path(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

std::string errno_text(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + strerror(errno);
}

// Writes all of `data`, retrying short writes and interrupted calls.
bool write_all(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Where the bytes of the copy come from: the file as read and checked before
// anything ran, or the open source read as the copy goes.
class Bytes {
 public:
  Bytes(const SourceFile& source, const std::vector<uint8_t>& loaded)
      : source_(source), loaded_(loaded) {
    if (loaded_.empty()) buffer_.resize(kBufferSize);
  }

  // Points `data` at up to `wanted` bytes at `offset`. Returns the count, 0
  // when the source ended early, -1 on a read error.
  long at(uint64_t offset, size_t wanted, const uint8_t** data) {
    if (!loaded_.empty()) {
      *data = loaded_.data() + offset;
      return static_cast<long>(std::min<uint64_t>(wanted, loaded_.size() - offset));
    }
    *data = buffer_.data();
    return read_source_at(source_, offset, buffer_.data(), std::min(wanted, buffer_.size()));
  }

  // True when the source holds more than its size when opened.
  bool grew() {
    uint8_t extra;
    return loaded_.empty() && read_source_at(source_, source_.size, &extra, 1) != 0;
  }

 private:
  const SourceFile& source_;
  const std::vector<uint8_t>& loaded_;
  std::vector<uint8_t> buffer_;
};

// Walks the sorted forced ends along the copy, so that finding each piece's
// end costs nothing more than a look at the next one.
class PieceEnds {
 public:
  explicit PieceEnds(const std::vector<uint64_t>& sorted) : ends_(sorted) {}

  // The end of the piece that starts at `offset`: kPieceSize on, or the
  // first forced end before that. `forced` tells which.
  uint64_t after(uint64_t offset, uint64_t size, bool* forced) {
    while (next_ < ends_.size() && ends_[next_] <= offset) ++next_;
    const uint64_t end = std::min(size, offset + kPieceSize);
    *forced = next_ < ends_.size() && ends_[next_] <= end;
    return *forced ? ends_[next_] : end;
  }

 private:
  const std::vector<uint64_t>& ends_;
  size_t next_ = 0;
};

class DriveCopy {
 public:
  DriveCopy(const SourceFile& source, const std::vector<uint8_t>& loaded, int out,
            const std::string& dest)
      : source_(source), bytes_(source, loaded), out_(out), dest_(dest) {}

  // Writes [offset, end) into the page cache.
  bool write_piece(uint64_t offset, uint64_t end, CopyResult* result) {
    for (uint64_t at = offset; at < end;) {
      const uint8_t* data;
      const long n = bytes_.at(at, static_cast<size_t>(end - at), &data);
      if (n < 0) return fail(errno_text("cannot read", source_.name), result);
      if (n == 0) return fail("the file changed during the copy", result);
      if (!write_all(out_, data, static_cast<size_t>(n))) {
        return fail(errno_text("cannot write", dest_), result);
      }
      at += static_cast<uint64_t>(n);
    }
    return true;
  }

  // Starts the device writing [offset, end) without waiting for it.
  bool start_writeback(uint64_t offset, uint64_t end, CopyResult* result) {
    if (sync_file_range(out_, static_cast<off64_t>(offset), static_cast<off64_t>(end - offset),
                        SYNC_FILE_RANGE_WRITE) == 0) {
      return true;
    }
    return fail(errno_text("cannot write", dest_), result);
  }

  // Waits until the device has acknowledged everything up to `end`.
  bool wait_until_acknowledged(uint64_t end, CopyResult* result) {
    const uint64_t from = result->acknowledged;
    const unsigned flags =
        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
    if (end > from && sync_file_range(out_, static_cast<off64_t>(from),
                                      static_cast<off64_t>(end - from), flags) != 0) {
      return fail(errno_text("cannot write", dest_), result);
    }
    result->acknowledged = end;
    return true;
  }

  // Piece by piece, each one's writeback started before the previous one is
  // waited for, so the device never idles while the next piece is prepared.
  // At a forced end (a UF2 family's last block) everything is waited for
  // first, so that block reaches the device in a write of its own.
  CopyResult run(const std::vector<uint64_t>& piece_ends) {
    CopyResult result;
    result.acknowledged_known = true;
    result.destination_changed = true;
    PieceEnds ends(piece_ends);
    uint64_t started = 0;  // end of the writeback started last
    for (uint64_t offset = 0; offset < source_.size;) {
      bool forced;
      const uint64_t end = ends.after(offset, source_.size, &forced);
      if (!write_piece(offset, end, &result) || !start_writeback(offset, end, &result) ||
          !wait_until_acknowledged(forced ? end : started, &result)) {
        return result;
      }
      started = end;
      offset = end;
    }
    if (!wait_until_acknowledged(source_.size, &result)) return result;
    if (bytes_.grew()) {
      fail("the file changed during the copy", &result);
    } else if (fsync(out_) != 0) {  // the directory entry and the FAT
      fail(errno_text("cannot flush", dest_), &result);
    } else {
      result.ok = true;
    }
    return result;
  }

 private:
  static bool fail(const std::string& why, CopyResult* result) {
    result->error = why;
    return false;
  }

  const SourceFile& source_;
  Bytes bytes_;
  const int out_;
  const std::string& dest_;
};

// Opens `name` in the directory `dir` when it is a regular file of the
// directory's own device, looked at before it is opened (without following a
// link), so that no device node or FIFO is ever opened; and looked at again
// once open, in case it was swapped in between. -1 with errno set otherwise
// (ENODEV: something else than a regular file of that device).
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

bool not_a_regular_file(int error) {
  return error == ENODEV || error == ELOOP || error == ENXIO || error == EISDIR ||
         error == EEXIST;
}

bool is_source(const SourceFile& source, const struct stat& st) {
  struct stat source_st;
  return fstat(static_cast<int>(source.handle), &source_st) == 0 &&
         source_st.st_dev == st.st_dev && source_st.st_ino == st.st_ino;
}

// Opens the destination in the drive's root: a new file is created, never
// one that appeared meanwhile; an existing one must be a regular file on the
// drive's own device and not the source itself, and is truncated only then.
// `changed` tells whether anything on the drive was created or truncated.
int open_destination(int root_fd, const std::string& name, const std::string& dest,
                     const SourceFile& source, bool* changed, std::string* why) {
  struct stat st;
  int out = open_regular(root_fd, name, O_WRONLY, &st);
  const bool absent = out < 0 && errno == ENOENT;
  if (absent) {
    out = openat(root_fd, name.c_str(),
                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                 0644);
  }
  if (out < 0) {
    *why = not_a_regular_file(errno) ? dest + " is not a regular file on the drive"
                                     : errno_text("cannot create", dest);
    return -1;
  }
  if (absent) {
    *changed = true;
    return out;
  }
  if (is_source(source, st)) {
    *why = source.name + " is already the file on the drive";
  } else if (ftruncate(out, 0) != 0) {
    *why = errno_text("cannot truncate", dest);
  } else {
    *changed = true;
    return out;
  }
  close(out);
  return -1;
}

// The drive's root directory, as a handle of the caller's own: a copy of the
// one find_marker kept, else the mount point opened now, which must still be
// the listed device. -1 with `why` set.
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
  if (fstat(fd, &st) == 0 && st.st_dev == drive.number) return fd;
  close(fd);
  *why = drive.root + " is no longer the removable drive that was listed";
  return -1;
}

// The name as stored in the directory `dir` that matches `wanted` without
// regard to letter case. The directory is read through a handle of its own,
// so that `dir` keeps its offset.
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

}  // namespace

namespace {

// An attribute of the disk behind sysfs's dev/block/<dev>. Disks carry them;
// partitions do not, and their directory sits inside their disk's (".." after
// the link resolves against its target).
std::string disk_attribute(int block_dir, const std::string& dev, const std::string& name) {
  std::string value;
  if (!read_attribute(block_dir, dev + "/" + name, &value)) {
    read_attribute(block_dir, dev + "/../" + name, &value);
  }
  return value;
}

// Optical drives report removable media too, but Windows never counts them
// as removable drives: SCSI peripheral type 5 is a CD/DVD drive.
bool disk_is_removable(int block_dir, const std::string& dev) {
  if (disk_attribute(block_dir, dev, "removable").compare(0, 1, "1") != 0) return false;
  return disk_attribute(block_dir, dev, "device/type") != "5";
}

std::string device_name(unsigned major, unsigned minor) {
  return std::to_string(major) + ":" + std::to_string(minor);
}

bool is_removable(int block_dir, unsigned major, unsigned minor) {
  if (major == 0) return false;  // anonymous devices: tmpfs, proc, overlay...
  return disk_is_removable(block_dir, device_name(major, minor));
}

int open_block_dir(const std::string& sysfs_root) {
  return open((sysfs_root + "/dev/block").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

}  // namespace

bool is_removable_block_device(const std::string& sysfs_root, unsigned major, unsigned minor) {
  const int block_dir = open_block_dir(sysfs_root);
  if (block_dir < 0) return false;
  const bool removable = is_removable(block_dir, major, minor);
  close(block_dir);
  return removable;
}

std::vector<MountEntry> removable_mount_points(const std::vector<MountEntry>& table,
                                               const std::string& sysfs_root) {
  std::vector<MountEntry> points;
  const int block_dir = open_block_dir(sysfs_root);
  if (block_dir < 0) return points;
  std::set<std::pair<unsigned, unsigned>> seen;
  for (const MountEntry& entry : table) {
    if (entry.root != "/") continue;
    if (!seen.insert({entry.major, entry.minor}).second) continue;
    if (is_removable(block_dir, entry.major, entry.minor)) points.push_back(entry);
  }
  close(block_dir);
  return points;
}

DriveIdentity drive_identity(uint64_t number, const std::string& sysfs_root) {
  DriveIdentity identity;
  if (number == 0) return identity;
  const dev_t dev = static_cast<dev_t>(number);
  identity.id = number;
  identity.known = true;
  const int block_dir = open_block_dir(sysfs_root);
  if (block_dir < 0) return identity;
  const std::string seq = disk_attribute(block_dir, device_name(major(dev), minor(dev)), "diskseq");
  identity.generation = strtoull(seq.c_str(), nullptr, 10);
  close(block_dir);
  return identity;
}

bool block_device_present(const DriveIdentity& identity, const std::string& sysfs_root) {
  const dev_t dev = static_cast<dev_t>(identity.id);
  const int block_dir = open_block_dir(sysfs_root);
  if (block_dir < 0) return false;
  const std::string name = device_name(major(dev), minor(dev));
  const bool present = faccessat(block_dir, name.c_str(), F_OK, 0) == 0 &&
                       (identity.generation == 0 ||
                        strtoull(disk_attribute(block_dir, name, "diskseq").c_str(), nullptr,
                                 10) == identity.generation);
  close(block_dir);
  return present;
}

bool open_source(const char* name, SourceFile* source, std::string* why) {
  source->name = name;
  // Non-blocking: a FIFO or a terminal must not hold the tool before it
  // refuses it.
  const std::string shown = "Refused file name " + escape_controls(name) + ": ";
  const int fd = open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    *why = shown + strerror(errno);
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    *why = shown + strerror(errno);
  } else if (S_ISDIR(st.st_mode)) {
    *why = shown + "it is a folder";
  } else if (!S_ISREG(st.st_mode)) {
    *why = shown + "it is not a regular file";
  } else {
    source->size = static_cast<uint64_t>(st.st_size);
    source->handle = fd;
    return true;
  }
  close(fd);
  return false;
}

long read_source_at(const SourceFile& source, uint64_t offset, void* buffer, size_t size) {
  for (;;) {
    const ssize_t n =
        pread(static_cast<int>(source.handle), buffer, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    return static_cast<long>(n);
  }
}

void close_source(SourceFile* source) {
  if (source->handle >= 0) close(static_cast<int>(source->handle));
  source->handle = -1;
}

bool list_removable_drives(std::vector<Drive>* drives) {
  std::string text;
  if (!read_whole_file("/proc/self/mountinfo", &text)) return false;
  const std::vector<MountEntry> table = parse_mountinfo(text);
  drives->clear();
  for (const MountEntry& entry : removable_mount_points(table, "/sys")) {
    Drive drive;
    drive.root = entry.mount_point;
    drive.number = makedev(entry.major, entry.minor);
    drives->push_back(drive);
  }
  append_unmounted_drives(table, drives);
  return true;
}

// The marker is looked at, never opened: a regular file or a folder.
bool find_marker(Drive* drive, const std::string& marker, MarkerFile* found) {
  std::string why, stored;
  const int root_fd = open_drive_root(*drive, &why);
  if (root_fd < 0) return false;
  struct stat st;
  if (!find_in_directory(root_fd, marker, &stored) ||
      fstatat(root_fd, stored.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
      !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) {
    close(root_fd);
    return false;
  }
  found->name = stored;
  found->size = static_cast<long>(st.st_size);
  if (drive->root_handle >= 0) close(static_cast<int>(drive->root_handle));
  drive->root_handle = root_fd;
  return true;
}

bool read_drive_file(const Drive& drive, const std::string& name, size_t size,
                     std::vector<uint8_t>* bytes) {
  std::string why, stored;
  const int root_fd = open_drive_root(drive, &why);
  if (root_fd < 0) return false;
  struct stat st;
  const int fd =
      find_in_directory(root_fd, name, &stored) ? open_regular(root_fd, stored, O_RDONLY, &st) : -1;
  close(root_fd);
  if (fd < 0) return false;
  bytes->resize(size);
  ssize_t n;
  do n = read(fd, bytes->data(), size); while (n < 0 && errno == EINTR);
  close(fd);
  if (n < 0) return false;
  bytes->resize(static_cast<size_t>(n));
  return true;
}

DriveIdentity identify_drive(const Drive& drive) { return drive_identity(drive.number, "/sys"); }

// The board has left when its block device is gone from sysfs: the mount may
// linger (detached lazily, or not at all without an automounter), the device
// does not.
bool drive_still_there(const Drive&, const std::string&, const DriveIdentity& identity) {
  return identity.known && block_device_present(identity, "/sys");
}

CopyResult copy_to_drive(const SourceFile& source, const std::vector<uint8_t>& bytes,
                         const std::vector<uint64_t>& piece_ends, const Drive& drive) {
  // A file-size limit must end in an error from write, not in SIGXFSZ.
  signal(SIGXFSZ, SIG_IGN);
  CopyResult result;
  result.acknowledged_known = true;  // nothing reached the drive yet
  const std::string name = base_name(source.name);
  const std::string dest = join_path(drive.root, name);
  const int root_fd = open_drive_root(drive, &result.error);
  if (root_fd < 0) return result;
  const int out =
      open_destination(root_fd, name, dest, source, &result.destination_changed, &result.error);
  close(root_fd);
  if (out < 0) return result;
  result = DriveCopy(source, bytes, out, dest).run(piece_ends);
  if (close(out) != 0 && result.ok) {
    result.ok = false;
    result.error = errno_text("cannot close", dest);
  }
  return result;
}

void discard_copy(const SourceFile& source, const Drive& drive) {
  std::string why;
  const int root_fd = open_drive_root(drive, &why);
  if (root_fd < 0) return;
  const std::string name = base_name(source.name);
  struct stat st;
  if (fstatat(root_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
    unlinkat(root_fd, name.c_str(), 0);
  }
  close(root_fd);
}
