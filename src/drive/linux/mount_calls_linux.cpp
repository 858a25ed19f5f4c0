#include "drive/linux/mount_calls_linux.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

namespace {

int64_t milliseconds(const struct timespec& t) {
  return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

}  // namespace

int sys_mount(const char* source, const char* target, const char* type, unsigned long flags,
              const char* options) {
  return mount(source, target, type, flags, options);
}

int sys_umount2(const char* target, int flags) { return umount2(target, flags); }

char* sys_mkdtemp(char* path_template) { return mkdtemp(path_template); }

int sys_rmdir(const char* path) { return rmdir(path); }

bool sys_running_as_root() { return geteuid() == 0; }

int64_t sys_now_ms() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return milliseconds(now);
}

bool sys_node_changed_ms(const std::string& path, int64_t* ms) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  *ms = milliseconds(st.st_ctim);
  return true;
}

bool sys_is_block_device(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}
