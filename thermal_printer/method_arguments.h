// Reading the arguments map of a channel call. A key holding another kind of value than the one
// expected reads as absent, so every message still gets exactly one reply.
#ifndef KESTRO_THERMAL_PRINTER_METHOD_ARGUMENTS_H_
#define KESTRO_THERMAL_PRINTER_METHOD_ARGUMENTS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine_client/codec/encodable_value.h"

namespace kestro {

// The arguments as a map, or null when they are missing or of another kind.
const flutter::EncodableValueMap* ArgumentsMap(const flutter::EncodableValue* arguments);

// The string under key, or nothing when the key is absent or holds no string.
std::optional<std::string> FindString(const flutter::EncodableValueMap& map, const char* key);

// The string under key; empty when absent.
std::string ReadString(const flutter::EncodableValueMap& map, const char* key);

// The bytes of a print job. A byte list is used where it lies in the decoded arguments (a receipt
// can be megabytes; copying it would double the work), so it lives only as long as they do.
class PrintBytesArgument {
 public:
  const std::vector<uint8_t>& bytes() const { return borrowed_ ? *borrowed_ : built_; }

 private:
  friend PrintBytesArgument ReadBytes(const flutter::EncodableValueMap& map, const char* key);
  const std::vector<uint8_t>* borrowed_ = nullptr;
  std::vector<uint8_t> built_;
};

// A byte list as it is; a generic list gives the low 8 bits of each 32-bit integer element
// (other elements are skipped); anything else, absence included, gives no bytes.
PrintBytesArgument ReadBytes(const flutter::EncodableValueMap& map, const char* key);

}  // namespace kestro

#endif  // KESTRO_THERMAL_PRINTER_METHOD_ARGUMENTS_H_
