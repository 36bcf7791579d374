// UTF-16 and UTF-8 text at the Windows API boundary. Windows only.
#ifndef KESTRO_WIN_TEXT_H_
#define KESTRO_WIN_TEXT_H_

#include <string>
#include <string_view>

namespace kestro {

// UTF-8 form of a NUL-terminated UTF-16 string; empty for null or invalid UTF-16 (a lone
// surrogate), as WC_ERR_INVALID_CHARS refuses it.
std::string Utf16ToUtf8(const wchar_t* text);
std::string Utf16ToUtf8(std::wstring_view text);

// UTF-16 form of UTF-8 text; an invalid sequence becomes U+FFFD.
std::wstring Utf8ToUtf16(std::string_view text);

}  // namespace kestro

#endif  // KESTRO_WIN_TEXT_H_
