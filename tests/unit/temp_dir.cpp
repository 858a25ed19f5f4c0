#include "temp_dir.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

void make_parents(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    ::mkdir(path.substr(0, slash).c_str(), 0755);
  }
}

}  // namespace

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base ? base : "/tmp") + "/flashdrop-test-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  // Depth first, without following symbolic links; leftovers are harmless.
  nftw(
      path_.c_str(),
      [](const char* path, const struct stat*, int, struct FTW*) { return ::remove(path), 0; },
      16, FTW_DEPTH | FTW_PHYS);
}

void TempDir::write(const std::string& relative, const std::string& content) const {
  const std::string full = *this / relative;
  make_parents(full);
  std::ofstream out(full, std::ios::binary);
  out << content;
}

void TempDir::mkdir(const std::string& relative) const {
  const std::string full = *this / relative;
  make_parents(full + "/");
}

void TempDir::symlink(const std::string& target, const std::string& relative) const {
  const std::string full = *this / relative;
  make_parents(full);
  if (::symlink(target.c_str(), full.c_str()) != 0) throw std::runtime_error("symlink failed");
}

std::string TempDir::read(const std::string& relative) const {
  std::ifstream in(*this / relative, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool TempDir::exists(const std::string& relative) const {
  struct stat st;
  return lstat((*this / relative).c_str(), &st) == 0;
}
