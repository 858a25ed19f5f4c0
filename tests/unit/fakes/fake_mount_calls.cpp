#include "fakes/fake_mount_calls.h"

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

#include "drive/linux/mount_calls_linux.h"

namespace {

fake_mount::Script g_script;
std::vector<std::string> g_calls;
int g_dirs = 0;
constexpr int64_t kNow = 1000000;

}  // namespace

namespace fake_mount {
void reset(const Script& script) {
  g_script = script;
  g_calls.clear();
  g_dirs = 0;
}
const std::vector<std::string>& calls() { return g_calls; }
}  // namespace fake_mount

int sys_mount(const char* source, const char* target, const char*, unsigned long flags,
              const char*) {
  const bool remount = (flags & MS_REMOUNT) != 0;
  g_calls.push_back(std::string(remount ? "remount " : "mount ") + source + " " + target +
                    ((flags & MS_RDONLY) != 0 ? " ro" : " rw"));
  errno = remount ? g_script.remount_errno : g_script.mount_errno;
  return errno == 0 ? 0 : -1;
}

int sys_umount2(const char* target, int flags) {
  g_calls.push_back(std::string("umount2 ") + target + (flags == MNT_DETACH ? " detach" : " 0"));
  return 0;
}

char* sys_mkdtemp(char* path_template) {
  const std::string number = std::to_string(1000000 + ++g_dirs).substr(1);  // six digits
  memcpy(strstr(path_template, "XXXXXX"), number.data(), 6);
  return path_template;
}

int sys_rmdir(const char* path) {
  g_calls.push_back(std::string("rmdir ") + path);
  return 0;
}

bool sys_running_as_root() { return g_script.root; }
int64_t sys_now_ms() { return kNow; }

bool sys_node_changed_ms(const std::string&, int64_t* ms) {
  *ms = kNow - g_script.device_age_ms;
  return true;
}

bool sys_is_block_device(const std::string&) { return g_script.device_present; }

UdisksOutcome udisks_mount(const std::string& device, bool read_only, std::string* mount_point,
                           std::string* error) {
  g_calls.push_back("udisks mount " + device + (read_only ? " ro" : " rw"));
  const UdisksOutcome outcome = read_only ? g_script.udisks_read_only : g_script.udisks_writable;
  if (outcome == UdisksOutcome::kDone) {
    *mount_point = "/media/u/BOOT" + std::string(read_only ? "" : "1");
  }
  *error = g_script.udisks_error;
  return outcome;
}

bool udisks_unmount(const std::string& device) {
  g_calls.push_back("udisks unmount " + device);
  return g_script.udisks_unmount_ok;
}
