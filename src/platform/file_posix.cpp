#include "platform/file_posix.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

bool read_whole_file(const std::string& path, std::string* contents) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  contents->clear();
  char buffer[8192];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) != 0) {
    if (n < 0) {
      if (errno == EINTR) continue;
      close(fd);
      return false;
    }
    contents->append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return true;
}

bool read_attribute(int dir, const std::string& relative, std::string* value) {
  const int fd = openat(dir, relative.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[64];
  ssize_t n;
  do n = read(fd, buffer, sizeof buffer); while (n < 0 && errno == EINTR);
  close(fd);
  if (n < 0) return false;
  value->assign(buffer, static_cast<size_t>(n));
  while (!value->empty() && value->back() == '\n') value->pop_back();
  return true;
}
