#include "win/text.h"

#include <windows.h>

namespace kestro {

std::string Utf16ToUtf8(const wchar_t* text) {
  if (text == nullptr) return std::string();
  return Utf16ToUtf8(std::wstring_view(text));
}

std::string Utf16ToUtf8(std::wstring_view text) {
  if (text.empty()) return std::string();
  const int length = static_cast<int>(text.size());
  const int needed = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), length,
                                           nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string();
  std::string utf8(static_cast<size_t>(needed), '\0');
  if (::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), length, &utf8[0], needed,
                            nullptr, nullptr) == 0) {
    return std::string();
  }
  return utf8;
}

std::wstring Utf8ToUtf16(std::string_view text) {
  if (text.empty()) return std::wstring();
  const int length = static_cast<int>(text.size());
  const int needed = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  if (needed <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(needed), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, &wide[0], needed);
  return wide;
}

}  // namespace kestro
