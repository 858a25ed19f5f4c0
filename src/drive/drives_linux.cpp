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
#include "drive/drives_linux.h"
#include "drive/unmounted_linux.h"
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

// The end of the piece that starts at `offset`: kPieceSize on, or the first
// offset of `piece_ends` before that.
uint64_t piece_end(uint64_t offset, uint64_t size, const std::vector<uint64_t>& piece_ends) {
  uint64_t end = std::min(size, offset + kPieceSize);
  for (uint64_t forced : piece_ends) {
    if (forced > offset && forced < end) end = forced;
  }
  return end;
}

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
    uint64_t started = 0;  // end of the writeback started last
    for (uint64_t offset = 0; offset < source_.size;) {
      const uint64_t end = piece_end(offset, source_.size, piece_ends);
      const bool forced = std::find(piece_ends.begin(), piece_ends.end(), end) != piece_ends.end();
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

// Opens the destination in the drive's root without following a link and
// without blocking on a FIFO, and accepts it only when it is a regular file
// on the drive's own device and not the source itself. Nothing is truncated
// before that.
int open_destination(int root_fd, const std::string& name, const std::string& dest,
                     const SourceFile& source, std::string* why) {
  struct stat root_st, dest_st, source_st;
  if (fstat(root_fd, &root_st) != 0) {
    *why = errno_text("cannot examine", dest);
    return -1;
  }
  const int out = openat(root_fd, name.c_str(),
                         O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
  if (out < 0) {
    *why = errno == ELOOP || errno == ENXIO || errno == EISDIR ? dest + " is not a regular file on the drive"
                                            : errno_text("cannot create", dest);
    return -1;
  }
  if (fstat(out, &dest_st) != 0 || !S_ISREG(dest_st.st_mode) || dest_st.st_dev != root_st.st_dev) {
    *why = dest + " is not a regular file on the drive";
  } else if (fstat(static_cast<int>(source.handle), &source_st) == 0 &&
             source_st.st_dev == dest_st.st_dev && source_st.st_ino == dest_st.st_ino) {
    *why = source.name + " is already the file on the drive";
  } else if (ftruncate(out, 0) != 0) {
    *why = errno_text("cannot truncate", dest);
  } else {
    return out;
  }
  close(out);
  return -1;
}

int open_root(const std::string& root) {
  return open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// The name as stored in the directory `dir` that matches `wanted` without
// regard to letter case.
bool find_in_directory(const std::string& dir, const std::string& wanted, std::string* stored) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return false;
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

std::vector<std::string> removable_mount_points(const std::vector<MountEntry>& table,
                                                const std::string& sysfs_root) {
  std::vector<std::string> points;
  const int block_dir = open_block_dir(sysfs_root);
  if (block_dir < 0) return points;
  std::set<std::pair<unsigned, unsigned>> seen;
  for (const MountEntry& entry : table) {
    if (entry.root != "/") continue;
    if (!seen.insert({entry.major, entry.minor}).second) continue;
    if (is_removable(block_dir, entry.major, entry.minor)) points.push_back(entry.mount_point);
  }
  close(block_dir);
  return points;
}

DriveIdentity drive_identity(const std::string& root, const std::string& sysfs_root) {
  DriveIdentity identity;
  struct stat st;
  if (stat(root.c_str(), &st) != 0) return identity;
  identity.id = st.st_dev;
  identity.known = true;
  const int block_dir = open_block_dir(sysfs_root);
  if (block_dir < 0) return identity;
  const std::string seq =
      disk_attribute(block_dir, device_name(major(st.st_dev), minor(st.st_dev)), "diskseq");
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
  for (const std::string& point : removable_mount_points(table, "/sys")) {
    Drive drive;
    drive.root = point;
    drives->push_back(drive);
  }
  append_unmounted_drives(table, drives);
  return true;
}

bool find_marker(const std::string& root, const std::string& marker, MarkerFile* found) {
  std::string stored;
  struct stat st;
  if (!find_in_directory(root, marker, &stored) ||
      stat(join_path(root, stored).c_str(), &st) != 0) {
    return false;
  }
  found->name = stored;
  found->size = static_cast<long>(st.st_size);
  return true;
}

bool read_drive_file(const std::string& root, const std::string& name, size_t size,
                     std::vector<uint8_t>* bytes) {
  std::string stored;
  if (!find_in_directory(root, name, &stored)) return false;
  const int root_fd = open_root(root);
  if (root_fd < 0) return false;
  const int fd = openat(root_fd, stored.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  close(root_fd);
  if (fd < 0) return false;
  struct stat st;
  bytes->resize(size);
  const ssize_t n = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? read(fd, bytes->data(), size) : -1;
  close(fd);
  if (n < 0) return false;
  bytes->resize(static_cast<size_t>(n));
  return true;
}

DriveIdentity identify_drive(const std::string& root) { return drive_identity(root, "/sys"); }

// The board has left when its block device is gone from sysfs: the mount may
// linger (detached lazily, or not at all without an automounter), the device
// does not.
bool drive_still_there(const std::string&, const std::string&, const DriveIdentity& identity) {
  return identity.known && block_device_present(identity, "/sys");
}

CopyResult copy_to_drive(const SourceFile& source, const std::vector<uint8_t>& bytes,
                         const std::vector<uint64_t>& piece_ends, const std::string& root) {
  // A file-size limit must end in an error from write, not in SIGXFSZ.
  signal(SIGXFSZ, SIG_IGN);
  CopyResult result;
  const std::string name = base_name(source.name);
  const std::string dest = join_path(root, name);
  const int root_fd = open_root(root);
  if (root_fd < 0) {
    result.error = errno_text("cannot open", root);
    return result;
  }
  const int out = open_destination(root_fd, name, dest, source, &result.error);
  close(root_fd);
  if (out < 0) return result;
  result = DriveCopy(source, bytes, out, dest).run(piece_ends);
  if (close(out) != 0 && result.ok) {
    result.ok = false;
    result.error = errno_text("cannot close", dest);
  }
  return result;
}

void discard_copy(const SourceFile& source, const std::string& root) {
  const int root_fd = open_root(root);
  if (root_fd < 0) return;
  const std::string name = base_name(source.name);
  struct stat st;
  if (fstatat(root_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
    unlinkat(root_fd, name.c_str(), 0);
  }
  close(root_fd);
}
