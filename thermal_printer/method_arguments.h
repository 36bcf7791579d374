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

// A byte list is copied; a generic list gives the low 8 bits of each 32-bit integer element
// (other elements are skipped); anything else, absence included, gives no bytes.
std::vector<uint8_t> ReadBytes(const flutter::EncodableValueMap& map, const char* key);

}  // namespace kestro

#endif  // KESTRO_THERMAL_PRINTER_METHOD_ARGUMENTS_H_
