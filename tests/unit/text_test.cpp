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

}  // namespace
