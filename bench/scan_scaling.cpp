// One scan pass of the Linux drive layer as the mount table grows: the
// mount-table parser and the removable rule, through the tool's own code, over
// synthetic tables and sysfs trees. Prints the median time per pass.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "drive/linux/drives_linux.h"
#include "drive/mountinfo.h"

namespace {

void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

// A sysfs tree with `disks` disks of one partition each; every tenth disk is
// removable.
std::string make_sysfs(const std::string& dir, int disks) {
  mkdir(dir.c_str(), 0755);
  mkdir((dir + "/block").c_str(), 0755);
  mkdir((dir + "/dev").c_str(), 0755);
  mkdir((dir + "/dev/block").c_str(), 0755);
  for (int i = 0; i < disks; ++i) {
    const std::string disk = "block/sd" + std::to_string(i);
    mkdir((dir + "/" + disk).c_str(), 0755);
    mkdir((dir + "/" + disk + "/part1").c_str(), 0755);
    write_file(dir + "/" + disk + "/removable", i % 10 == 0 ? "1\n" : "0\n");
    write_file(dir + "/" + disk + "/part1/partition", "1\n");
    const std::string dev = dir + "/dev/block/8:" + std::to_string(i * 16 + 1);
    if (symlink(("../../" + disk + "/part1").c_str(), dev.c_str()) != 0) perror("symlink");
  }
  return dir;
}

// A mount table of `entries` lines: each disk's partition, plus tmpfs mounts.
std::string make_table(int entries) {
  std::string text;
  for (int i = 0; i < entries; ++i) {
    const bool block = i % 2 == 0;
    const int minor = block ? (i / 2) * 16 + 1 : 100 + i;
    text += std::to_string(100 + i) + " 1 " + (block ? "8:" : "0:") + std::to_string(minor) +
            " / /media/user/VOLUME\\040" + std::to_string(i) +
            " rw,nosuid,nodev,relatime shared:1 - " + (block ? "vfat /dev/sdx1" : "tmpfs tmpfs") +
            " rw,fmask=0022\n";
  }
  return text;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main() {
  // An in-memory file system, as sysfs is.
  char dir_template[] = "/dev/shm/flashdrop-bench-XXXXXX";
  const std::string dir = mkdtemp(dir_template);
  printf("%-10s %14s %14s\n", "entries", "median_ms", "us_per_entry");
  for (int entries : {10, 100, 1000, 10000}) {
    LinuxRoots roots;
    roots.sys = make_sysfs(dir + "/sys" + std::to_string(entries), entries / 2 + 1);
    const std::string table = make_table(entries);
    std::vector<double> runs;
    size_t found = 0;
    for (int run = 0; run < 15; ++run) {
      const auto start = std::chrono::steady_clock::now();
      found = removable_mount_points(parse_mountinfo(table), roots).size();
      const std::chrono::duration<double, std::milli> took =
          std::chrono::steady_clock::now() - start;
      runs.push_back(took.count());
    }
    const double ms = median(runs);
    printf("%-10d %14.3f %14.3f   (%zu removable)\n", entries, ms, ms * 1000.0 / entries, found);
  }
  const std::string cleanup = "rm -rf '" + dir + "'";
  return system(cleanup.c_str()) == 0 ? 0 : 1;
}
