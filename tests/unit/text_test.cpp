#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"

namespace {

// The same wide literals are UTF-16 on Windows and UTF-32 on Linux; the
// UTF-8 must be the same on both.
TEST(WideToUtf8Test, EncodesEveryPlaneInFull) {
  EXPECT_EQ(wide_to_utf8(L""), "");
  EXPECT_EQ(wide_to_utf8(L"SN-0042"), "SN-0042");
  EXPECT_EQ(wide_to_utf8(L"\u00e9\u00ff\u0100"), "\xc3\xa9\xc3\xbf\xc4\x80");
  EXPECT_EQ(wide_to_utf8(L"\u7535\u5b50 ok"), "\xe7\x94\xb5\xe5\xad\x90 ok");
  EXPECT_EQ(wide_to_utf8(L"\U0001F600\U0010FFFF!"), "\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf!");
  EXPECT_EQ(wide_to_utf8(L"\u07ff\u0800\uffff"), "\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf");
}

TEST(WideToUtf8Test, NonCharactersBecomeReplacementAndTheRestFollows) {
  const std::string kReplacement = "\xef\xbf\xbd";
  std::wstring lone_high = L"a";
  lone_high.push_back(static_cast<wchar_t>(0xD83D));
  lone_high += L"b";
  EXPECT_EQ(wide_to_utf8(lone_high), "a" + kReplacement + "b");
  std::wstring lone_low = L"a";
  lone_low.push_back(static_cast<wchar_t>(0xDE00));
  EXPECT_EQ(wide_to_utf8(lone_low), "a" + kReplacement);
  std::wstring high_at_end(1, static_cast<wchar_t>(0xDBFF));
  EXPECT_EQ(wide_to_utf8(high_at_end), kReplacement);
}

TEST(WideToUtf8Test, RoundTripsWithUtf8ToWide) {
  const std::string text = "Z\xc3\xbcrich \xe4\xb8\xb2\xe5\x8f\xa3 \xf0\x9f\x94\x8c";
  EXPECT_EQ(wide_to_utf8(utf8_to_wide(text)), text);
}

// What reaches the terminal as a control: C0, DEL and the C1 controls,
// whether as UTF-8 characters (both bytes escaped) or as bytes that are not
// part of one. Everything else passes unchanged.
TEST(EscapeControlsTest, EscapesC0AndC1ControlsAndNothingElse) {
  const struct {
    const char* what;
    std::string in, out;
  } cases[] = {
      {"plain text", "fw 1.uf2", "fw 1.uf2"},
      {"line end and escape", "a\nb\x1b[31m", "a\\012b\\033[31m"},
      {"DEL", "a\x7f", "a\\177"},
      {"CSI as UTF-8", "a\xc2\x9b" "31m", "a\\302\\23331m"},
      {"NEL as UTF-8", "a\xc2\x85z", "a\\302\\205z"},
      {"the first and last C1 in UTF-8", "\xc2\x80\xc2\x9f", "\\302\\200\\302\\237"},
      {"a lone C1 byte", "a\x9b" "31m\x85", "a\\23331m\\205"},
      {"a C1 byte after a cut sequence", "\xe2\x9b", "\xe2\\233"},
      {"Latin-1 and beyond pass", "\xc2\xa0\xc3\xa9\xe2\x80\x9b\xf0\x9f\x94\x8c",
       "\xc2\xa0\xc3\xa9\xe2\x80\x9b\xf0\x9f\x94\x8c"},
      {"bytes above 0x9F that are no character pass", "\xa0\xff\xc2", "\xa0\xff\xc2"},
  };
  for (const auto& c : cases) EXPECT_EQ(escape_controls(c.in), c.out) << c.what;
}

// JSON strings carry every byte: valid UTF-8 as it is, the characters JSON
// reserves escaped, and each byte of an invalid sequence as \udcXX.
TEST(JsonStringTest, KeepsEveryByteAndEscapesWhatJsonReserves) {
  const struct {
    const char* what;
    std::string in, out;
  } cases[] = {
      {"plain", "/media/u/RPI-RP2", "\"/media/u/RPI-RP2\""},
      {"quote and backslash", "E:\\\"", "\"E:\\\\\\\"\""},
      {"controls", std::string("a\n\x1b\x7f\0", 5), "\"a\\u000a\\u001b\\u007f\\u0000\""},
      {"UTF-8 passes", "\xc3\xa9\xf0\x9f\x94\x8c", "\"\xc3\xa9\xf0\x9f\x94\x8c\""},
      {"bytes that are no UTF-8", "a\xff\xc3(", "\"a\\udcff\\udcc3(\""},
  };
  for (const auto& c : cases) EXPECT_EQ(json_string(c.in), c.out) << c.what;
}

}  // namespace
