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
