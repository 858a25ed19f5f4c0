// The Windows file-name rules, decided by the name and its full path's
// length alone; the same rules against real files run under wine
// (drives_win32_test).
#include "drive/win32/file_names.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(FileNames, WhatCopyCannotBeHandedIsRefusedByTheNameAlone) {
  const std::string quote = "a double quote cannot stand in the copy command line";
  const std::string percent = "the command interpreter could replace the text between its % signs";
  const std::string control = "a control character cannot stand in the copy command line";
  const std::string wildcard = "no file matches it (* and ? are wildcards)";
  const struct {
    std::string name;
    size_t length;
    std::string reason;  // empty: accepted
    bool name_shown;
  } cases[] = {
      {"fw\".uf2", 20, quote, true},
      {"line\nbreak.uf2", 20, control, false},  // the name cannot stand on the line
      {"del\x7f.uf2", 20, control, false},
      {"%PATH%.uf2", 20, percent, true},
      {"50%% %x%.uf2", 20, percent, true},
      {"fw?.uf2", 20, wildcard, true},
      {"\\\\.\\COM5", 20, "a device path is not a file to copy", true},
      {"C:\\x\\com5 .uf2", 20, "COM5 is a device on Windows, not a file", true},
      {"com\xC2\xB9.uf2", 20, "COM\xC2\xB9 is a device on Windows, not a file", true},
      {"fw.uf2", 260, "its full path is 260 characters long, and copy takes at most 259", true},
      {"fw.uf2", 259, "", true},
      {"100%.uf2", 20, "", true},
      {"%%%", 20, "", true},
      {"com10.uf2", 20, "", true},
      {"console.uf2", 20, "", true},
  };
  for (const auto& c : cases) {
    bool name_shown = !c.name_shown;
    EXPECT_EQ(name_refusal(c.name, c.length, &name_shown), c.reason) << c.name;
    EXPECT_EQ(name_shown, c.name_shown) << c.name;
  }
}

}  // namespace
