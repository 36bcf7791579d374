#include "thermal_printer/utf16_text.h"

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#endif

namespace kestro {
namespace {

size_t BoundedLength(const char16_t* text, size_t max_length) {
  size_t length = 0;
  while (length < max_length && text[length] != 0) ++length;
  return length;
}

#ifndef _WIN32
void AppendCodePoint(uint32_t code_point, std::string* out) {
  if (code_point < 0x80) {
    out->push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code_point >> 6)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code_point >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code_point >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}
#endif

}  // namespace

std::string DeviceNameToUtf8(const char16_t* text, size_t max_length) {
  const size_t length = BoundedLength(text, max_length);
  if (length == 0) return std::string();
#ifdef _WIN32
  // Length first, then the conversion into a string of exactly that length.
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(text);
  const int needed =
      WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string();
  std::string utf8(static_cast<size_t>(needed), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), &utf8[0], needed, nullptr,
                      nullptr);
  return utf8;
#else
  std::string utf8;
  for (size_t i = 0; i < length; ++i) {
    const uint32_t unit = text[i];
    const bool high = unit >= 0xD800 && unit <= 0xDBFF;
    const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
    if (high && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      const uint32_t next = text[++i];
      AppendCodePoint(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00), &utf8);
    } else if (high || low) {
      AppendCodePoint(0xFFFD, &utf8);
    } else {
      AppendCodePoint(unit, &utf8);
    }
  }
  return utf8;
#endif
}

}  // namespace kestro
