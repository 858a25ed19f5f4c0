#include "drive/linux/udisks_linux.h"

#include <dlfcn.h>
#include <systemd/sd-bus.h>

#include <cstdio>

namespace {

constexpr char kService[] = "org.freedesktop.UDisks2";
constexpr char kFilesystem[] = "org.freedesktop.UDisks2.Filesystem";

// libsystemd's sd-bus, loaded at first need so that a run that mounts
// nothing does not pay for loading and relocating it.
struct SdBus {
  decltype(&sd_bus_open_system) open_system = nullptr;
  decltype(&sd_bus_call_method) call_method = nullptr;
  decltype(&sd_bus_message_read) message_read = nullptr;
  decltype(&sd_bus_message_unref) message_unref = nullptr;
  decltype(&sd_bus_error_free) error_free = nullptr;
  sd_bus* bus = nullptr;
};

template <typename Function>
bool resolve(void* library, const char* name, Function* function) {
  *function = reinterpret_cast<Function>(dlsym(library, name));
  return *function != nullptr;
}

bool load(SdBus* sd) {
  void* library = dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
  return library != nullptr && resolve(library, "sd_bus_open_system", &sd->open_system) &&
         resolve(library, "sd_bus_call_method", &sd->call_method) &&
         resolve(library, "sd_bus_message_read", &sd->message_read) &&
         resolve(library, "sd_bus_message_unref", &sd->message_unref) &&
         resolve(library, "sd_bus_error_free", &sd->error_free) &&
         sd->open_system(&sd->bus) >= 0;
}

// The connection to the system bus, opened once; null without libsystemd or
// a system bus. It stays open until the process ends.
SdBus* system_bus() {
  static SdBus sd;
  static const bool loaded = load(&sd);
  return loaded ? &sd : nullptr;
}

// UDisks2 names its block objects after the kernel's device name, with
// every character other than a letter or digit written as _XX.
std::string object_path(const std::string& device) {
  std::string path = "/org/freedesktop/UDisks2/block_devices/";
  for (char c : device.substr(device.find_last_of('/') + 1)) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
      path += c;
    } else {
      char escaped[4];
      snprintf(escaped, sizeof escaped, "_%02x", static_cast<unsigned char>(c));
      path += escaped;
    }
  }
  return path;
}

bool starts_with(const std::string& text, const char* prefix) {
  return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// Every call carries auth.no_user_interaction: a headless run has nobody to
// type a password, so polkit answers at once. Entries after the count given
// for the dictionary are not read.
int call_mount(SdBus* sd, const std::string& device, bool read_only, sd_bus_error* error,
               sd_bus_message** reply) {
  return sd->call_method(sd->bus, kService, object_path(device).c_str(), kFilesystem, "Mount",
                         error, reply, "a{sv}", read_only ? 2u : 1u, "auth.no_user_interaction",
                         "b", 1, "options", "s", "ro");
}

// A forced unmount is a lazy one: it succeeds while files are still open.
int call_unmount(SdBus* sd, const std::string& device, bool force, sd_bus_error* error) {
  return sd->call_method(sd->bus, kService, object_path(device).c_str(), kFilesystem, "Unmount",
                         error, nullptr, "a{sv}", force ? 2u : 1u, "auth.no_user_interaction",
                         "b", 1, "force", "b", 1);
}

}  // namespace

UdisksOutcome udisks_outcome(const std::string& name) {
  if (starts_with(name, "org.freedesktop.UDisks2.Error.NotAuthorized")) {
    return UdisksOutcome::kRefused;
  }
  if (starts_with(name, "org.freedesktop.UDisks2.Error.AlreadyMounted") ||
      starts_with(name, "org.freedesktop.UDisks2.Error.DeviceBusy")) {
    return UdisksOutcome::kBusy;
  }
  // No such service or object: UDisks2 is not running (and cannot be
  // started), or has no file system on this device.
  static const char* const kAbsent[] = {
      "org.freedesktop.DBus.Error.ServiceUnknown",   "org.freedesktop.DBus.Error.NameHasNoOwner",
      "org.freedesktop.DBus.Error.UnknownObject",    "org.freedesktop.DBus.Error.UnknownInterface",
      "org.freedesktop.DBus.Error.UnknownMethod",    "org.freedesktop.DBus.Error.Spawn",
      "org.freedesktop.DBus.Error.NoServer",
  };
  for (const char* absent : kAbsent) {
    if (starts_with(name, absent)) return UdisksOutcome::kUnavailable;
  }
  return UdisksOutcome::kFailed;
}

UdisksOutcome udisks_mount(const std::string& device, bool read_only, std::string* mount_point,
                           std::string* error) {
  SdBus* sd = system_bus();
  if (sd == nullptr) return UdisksOutcome::kUnavailable;
  sd_bus_error bus_error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  UdisksOutcome outcome = UdisksOutcome::kDone;
  if (call_mount(sd, device, read_only, &bus_error, &reply) < 0) {
    // No error name: the bus itself failed, as good as no UDisks2.
    outcome = bus_error.name ? udisks_outcome(bus_error.name) : UdisksOutcome::kUnavailable;
    if (bus_error.message) *error = bus_error.message;
  } else {
    const char* path = nullptr;
    if (sd->message_read(reply, "s", &path) >= 0 && path != nullptr) {
      *mount_point = path;
    } else {
      *error = "UDisks2 gave no mount point";
      outcome = UdisksOutcome::kFailed;
    }
  }
  sd->message_unref(reply);
  sd->error_free(&bus_error);
  return outcome;
}

bool udisks_unmount(const std::string& device) {
  SdBus* sd = system_bus();
  if (sd == nullptr) return false;
  for (bool force : {false, true}) {
    sd_bus_error bus_error = SD_BUS_ERROR_NULL;
    const int r = call_unmount(sd, device, force, &bus_error);
    sd->error_free(&bus_error);
    if (r >= 0) return true;
  }
  return false;
}
