#include "thermal_printer/method_arguments.h"

namespace kestro {
namespace {

const flutter::EncodableValue* Find(const flutter::EncodableValueMap& map, const char* key) {
  const auto entry = map.find(flutter::EncodableValue(std::string(key)));
  return entry == map.end() ? nullptr : &entry->second;
}

}  // namespace

const flutter::EncodableValueMap* ArgumentsMap(const flutter::EncodableValue* arguments) {
  return arguments == nullptr ? nullptr : std::get_if<flutter::EncodableValueMap>(arguments);
}

std::optional<std::string> FindString(const flutter::EncodableValueMap& map, const char* key) {
  const flutter::EncodableValue* value = Find(map, key);
  const std::string* text = value == nullptr ? nullptr : std::get_if<std::string>(value);
  if (text == nullptr) return std::nullopt;
  return *text;
}

std::string ReadString(const flutter::EncodableValueMap& map, const char* key) {
  return FindString(map, key).value_or(std::string());
}

PrintBytesArgument ReadBytes(const flutter::EncodableValueMap& map, const char* key) {
  PrintBytesArgument result;
  const flutter::EncodableValue* value = Find(map, key);
  if (value == nullptr) return result;
  if (const auto* bytes = std::get_if<std::vector<uint8_t>>(value)) {
    result.borrowed_ = bytes;
  } else if (const auto* list = std::get_if<flutter::EncodableValueList>(value)) {
    for (const flutter::EncodableValue& element : *list) {
      if (const auto* number = std::get_if<int32_t>(&element)) {
        result.built_.push_back(static_cast<uint8_t>(*number & 0xFF));
      }
    }
  }
  return result;
}

}  // namespace kestro
