#include "platform/text.h"

#include <cstdio>

namespace {

bool is_high_surrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

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
  if (cp < kMinimum[length] || cp > 0x10FFFF || is_high_surrogate(cp) || is_low_surrogate(cp))
    return 0;
  *out = cp;
  return length;
}

// The character at s[i] and how many bytes it uses: a valid UTF-8 sequence,
// else the byte alone, standing for the character of the same value.
char32_t next_utf8(const std::string& s, size_t i, size_t* used) {
  char32_t cp;
  *used = decode_one(s, i, &cp);
  if (*used != 0) return cp;
  *used = 1;
  return static_cast<unsigned char>(s[i]);
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

void append_utf8(std::string* out, char32_t cp) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The code point of the wide character at text[i] and how many units it uses.
char32_t next_code_point(const std::wstring& text, size_t i, size_t* used) {
  constexpr char32_t kReplacement = 0xFFFD;
  // wchar_t may be signed: take the unit's bits as they are.
  const char32_t unit = sizeof(wchar_t) == 2 ? static_cast<char16_t>(text[i])
                                             : static_cast<char32_t>(text[i]);
  *used = 1;
  if (sizeof(wchar_t) == 2 && is_high_surrogate(unit) && i + 1 < text.size()) {
    const char32_t low = static_cast<char16_t>(text[i + 1]);
    if (is_low_surrogate(low)) {
      *used = 2;
      return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
  }
  if (is_high_surrogate(unit) || is_low_surrogate(unit) || unit > 0x10FFFF) return kReplacement;
  return unit;
}

void append_octal(std::string* out, unsigned char byte) {
  *out += '\\';
  *out += static_cast<char>('0' + (byte >> 6));
  *out += static_cast<char>('0' + ((byte >> 3) & 7));
  *out += static_cast<char>('0' + (byte & 7));
}

}  // namespace

std::string wide_to_utf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    size_t used;
    append_utf8(&out, next_code_point(text, i, &used));
    i += used;
  }
  return out;
}

std::wstring utf8_to_wide(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    size_t used;
    append_code_point(&out, next_utf8(text, i, &used));
    i += used;
  }
  return out;
}

std::string escape_controls(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    size_t used;
    const char32_t cp = next_utf8(text, i, &used);
    const bool control = cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
    for (size_t k = i; k < i + used; ++k) {
      if (control) {
        append_octal(&out, static_cast<unsigned char>(text[k]));
      } else {
        out += text[k];
      }
    }
    i += used;
  }
  return out;
}

std::string json_string(const std::string& bytes) {
  std::string out = "\"";
  char escaped[8];
  for (size_t i = 0; i < bytes.size();) {
    char32_t cp;
    const size_t used = decode_one(bytes, i, &cp);
    if (used == 0) {
      snprintf(escaped, sizeof escaped, "\\udc%02x", static_cast<unsigned char>(bytes[i]));
      out += escaped;
      ++i;
      continue;
    }
    if (cp == '"' || cp == '\\') {
      out += '\\';
      out += static_cast<char>(cp);
    } else if (cp < 0x20 || cp == 0x7F) {
      snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(cp));
      out += escaped;
    } else {
      out.append(bytes, i, used);
    }
    i += used;
  }
  return out + "\"";
}
