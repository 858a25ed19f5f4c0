#include "platform/text.h"

namespace {

// Length of the valid UTF-8 sequence at s[i] and its code point, or 0.
size_t decode_one(const std::string& s, size_t i, char32_t* out) {
  const unsigned char lead = static_cast<unsigned char>(s[i]);
  size_t length;
  char32_t cp;
  if (lead < 0x80) {
    *out = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, cp = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > s.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    const unsigned char c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  static const char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMinimum[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  *out = cp;
  return length;
}

void append_code_point(std::wstring* out, char32_t cp) {
  if (sizeof(wchar_t) == 2 && cp > 0xFFFF) {  // UTF-16 surrogate pair
    cp -= 0x10000;
    out->push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
    out->push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out->push_back(static_cast<wchar_t>(cp));
  }
}

}  // namespace

std::wstring utf8_to_wide(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    char32_t cp;
    size_t used = decode_one(text, i, &cp);
    if (used == 0) {
      cp = static_cast<unsigned char>(text[i]);
      used = 1;
    }
    append_code_point(&out, cp);
    i += used;
  }
  return out;
}
