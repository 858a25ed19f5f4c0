// The Linux copy: the file named on the command line, and the copy onto the
// drive done by the tool itself, in pieces the drive acknowledges.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "drive/copy_progress.h"
#include "drive/drives.h"
#include "drive/linux/drive_root_linux.h"
#include "platform/platform.h"

namespace {

// Each piece of the copy is pushed to the device and waited for before the
// next, so the tool knows how much of the file the drive acknowledged. With
// the progress line on a terminal, the first piece is small, so that on a
// bootloader's drive (45 to 130 KB/s) the line moves about once a second; a
// piece that took less than a tenth of a second (more often than the line is
// redrawn) makes the next eight times as large, so that a fast drive gets
// the large pieces that keep it busy within two pieces. Without the line,
// every piece is large from the start.
constexpr uint64_t kFirstPieceSize = 64u << 10;
constexpr uint64_t kLargestPieceSize = 4u << 20;
constexpr uint64_t kQuickPieceMs = 100;
constexpr size_t kBufferSize = 128 * 1024;  // as large as cp's, for the same write sizes

std::string base_name(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string join_path(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() == '/') return dir + name;
  return dir + "/" + name;
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

  // The end of the piece that starts at `offset`: `piece` bytes on, or the
  // first forced end before that. `forced` tells which.
  uint64_t after(uint64_t offset, uint64_t piece, uint64_t size, bool* forced) {
    while (next_ < ends_.size() && ends_[next_] <= offset) ++next_;
    const uint64_t end = std::min(size, offset + piece);
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
      : source_(source),
        size_(loaded.empty() ? source.size : loaded.size()),
        bytes_(source, loaded),
        out_(out),
        dest_(dest) {}

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
    copy_progress(end);
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
    uint64_t piece = copy_progress_wanted() ? kFirstPieceSize : kLargestPieceSize;
    for (uint64_t offset = 0; offset < size_;) {
      const uint64_t began = monotonic_ms();
      bool forced;
      const uint64_t end = ends.after(offset, piece, size_, &forced);
      if (!write_piece(offset, end, &result) || !start_writeback(offset, end, &result) ||
          !wait_until_acknowledged(forced ? end : started, &result)) {
        return result;
      }
      if (monotonic_ms() - began < kQuickPieceMs) piece = std::min(8 * piece, kLargestPieceSize);
      started = end;
      offset = end;
    }
    if (!wait_until_acknowledged(size_, &result)) return result;
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
  const uint64_t size_;  // of the bytes loaded, or of the file read as the copy goes
  Bytes bytes_;
  const int out_;
  const std::string& dest_;
};

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

}  // namespace

bool open_source(const char* name, SourceFile* source, SourceRefusal* refusal) {
  source->name = name;
  // Non-blocking: a FIFO or a terminal must not hold the tool before it
  // refuses it.
  const int fd = open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    refusal->reason = strerror(errno);
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    refusal->reason = strerror(errno);
  } else if (S_ISDIR(st.st_mode)) {
    refusal->reason = "it is a folder";
  } else if (!S_ISREG(st.st_mode)) {
    refusal->reason = "it is not a regular file";
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

CopyResult copy_to_drive(const CopyJob& job, const Drive& drive) {
  static const std::vector<uint8_t> kNone;
  const SourceFile& source = *job.source;
  const std::vector<uint8_t>& bytes = job.bytes != nullptr ? *job.bytes : kNone;
  // A file-size limit must end in an error from write, not in SIGXFSZ.
  signal(SIGXFSZ, SIG_IGN);
  CopyResult result;
  result.acknowledged_known = true;  // nothing reached the drive yet
  const std::string name = base_name(job.name);
  const std::string dest = join_path(drive.root, name);
  const int root_fd = open_drive_root(drive, &result.error);
  if (root_fd < 0) return result;
  const int out =
      open_destination(root_fd, name, dest, source, &result.destination_changed, &result.error);
  close(root_fd);
  if (out < 0) return result;
  copy_progress_begin(name, bytes.empty() ? source.size : bytes.size());
  result = DriveCopy(source, bytes, out, dest).run(job.piece_ends);
  copy_progress_end();
  if (close(out) != 0 && result.ok) {
    result.ok = false;
    result.error = errno_text("cannot close", dest);
  }
  return result;
}

void discard_copy(const CopyJob& job, const Drive& drive) {
  std::string why;
  const int root_fd = open_drive_root(drive, &why);
  if (root_fd < 0) return;
  const std::string name = base_name(job.name);
  struct stat st;
  if (fstatat(root_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
    unlinkat(root_fd, name.c_str(), 0);
  }
  close(root_fd);
}
