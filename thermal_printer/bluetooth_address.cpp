#include "thermal_printer/bluetooth_address.h"

#include <cstddef>

#include "engine_client/codec/hex_digit.h"

namespace kestro {
namespace {

// One "%02X" conversion: up to two hex digits at text[*pos]; false when none is there.
bool ScanHexField(const std::string& text, size_t* pos, unsigned* value) {
  size_t digits = 0;
  unsigned result = 0;
  while (digits < 2 && *pos < text.size()) {
    const int digit = HexDigitValue(text[*pos]);
    if (digit < 0) break;
    result = result * 16 + static_cast<unsigned>(digit);
    ++*pos;
    ++digits;
  }
  *value = result;
  return digits > 0;
}

}  // namespace

std::string NormalizeMacAddress(const std::string& text) {
  static const char kUpperHex[] = "0123456789ABCDEF";
  std::string kept;
  for (const char c : text) {
    const int digit = HexDigitValue(c);
    if (digit >= 0) {
      kept.push_back(kUpperHex[digit]);
    } else if (c == ':' || c == '-') {
      kept.push_back(':');
    }
  }
  // Counted in characters, so a 12-character text that already holds ":" is cut as well.
  if (kept.size() != 12) return kept;
  std::string paired;
  for (size_t i = 0; i < 12; i += 2) {
    if (i > 0) paired.push_back(':');
    paired.append(kept, i, 2);
  }
  return paired;
}

uint64_t ParseMacAddress(const std::string& normalized) {
  uint64_t address = 0;
  size_t pos = 0;
  for (int field = 0; field < 6; ++field) {
    if (field > 0) {
      if (pos >= normalized.size() || normalized[pos] != ':') return 0;
      ++pos;
    }
    unsigned value = 0;
    if (!ScanHexField(normalized, &pos, &value)) return 0;
    address = (address << 8) | value;
  }
  return address;
}

std::string FormatBluetoothAddress(uint64_t address) {
  static const char kUpperHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(17);
  for (int shift = 40; shift >= 0; shift -= 8) {
    const unsigned byte = static_cast<unsigned>((address >> shift) & 0xFF);
    if (shift != 40) text.push_back(':');
    text.push_back(kUpperHex[byte >> 4]);
    text.push_back(kUpperHex[byte & 0xF]);
  }
  return text;
}

}  // namespace kestro
