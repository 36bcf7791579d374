// UTF-16 text from the Windows Bluetooth API turned into the UTF-8 the application receives.
#ifndef KESTRO_THERMAL_PRINTER_UTF16_TEXT_H_
#define KESTRO_THERMAL_PRINTER_UTF16_TEXT_H_

#include <cstddef>
#include <string>

namespace kestro {

// Converts text up to its terminating zero, or up to max_length units when no zero comes
// first. A lone surrogate becomes U+FFFD, as WideCharToMultiByte does with flags 0.
std::string DeviceNameToUtf8(const char16_t* text, size_t max_length);

}  // namespace kestro

#endif  // KESTRO_THERMAL_PRINTER_UTF16_TEXT_H_
