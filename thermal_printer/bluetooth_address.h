// Bluetooth address text: the normalised key every manager table uses, the 48-bit numeric form
// the RFCOMM socket address needs, and the canonical text of a numeric address. Pure functions.
#ifndef KESTRO_THERMAL_PRINTER_BLUETOOTH_ADDRESS_H_
#define KESTRO_THERMAL_PRINTER_BLUETOOTH_ADDRESS_H_

#include <cstdint>
#include <string>

namespace kestro {

// Keeps hex digits (upper-cased) and turns ":" and "-" into ":", dropping every other byte; a
// 12-character result is cut into six pairs joined by ":". Other lengths come back as they are.
std::string NormalizeMacAddress(const std::string& text);

// Scans six fields of one or two hex digits separated by ":" (anything after the sixth field is
// ignored) into the low 48 bits, first field most significant. 0 when fewer than six fields
// convert; 0 is never a valid address. Expects normalised text.
uint64_t ParseMacAddress(const std::string& normalized);

// Six upper-case, zero-padded hex pairs joined by ":", most significant byte first; bits 48 to
// 63 are ignored.
std::string FormatBluetoothAddress(uint64_t address);

// Address text normalised once, where it enters: the key of the manager's tables and of the
// plug-in's printer lanes. Converts implicitly from any text, so callers pass what they read.
class NormalizedAddress {
 public:
  NormalizedAddress(const std::string& text)  // NOLINT(google-explicit-constructor)
      : text_(NormalizeMacAddress(text)) {}
  NormalizedAddress(const char* text)  // NOLINT(google-explicit-constructor)
      : NormalizedAddress(std::string(text)) {}

  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace kestro

#endif  // KESTRO_THERMAL_PRINTER_BLUETOOTH_ADDRESS_H_
