// A temporary directory for tests of the real OS layer, removed afterwards.
#ifndef FLASHDROP_TESTS_TEMP_DIR_H_
#define FLASHDROP_TESTS_TEMP_DIR_H_

#include <string>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  // Creates the parent directories of `relative` too.
  void write(const std::string& relative, const std::string& content) const;
  void mkdir(const std::string& relative) const;
  void symlink(const std::string& target, const std::string& relative) const;
  std::string read(const std::string& relative) const;
  bool exists(const std::string& relative) const;

 private:
  std::string path_;
};

#endif  // FLASHDROP_TESTS_TEMP_DIR_H_
