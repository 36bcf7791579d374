#include "standins/bluetooth/simulated_world.h"

#include <cstdio>
#include <optional>
#include <set>

#include "engine_client/codec/hex_digit.h"

namespace kestro_standin {
namespace {

struct Words {
  std::vector<std::string_view> words;
  std::string_view rest_after_fourth;  // the device name: everything after the fourth word
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r'; }

Words SplitWords(std::string_view line) {
  Words split;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsSpace(line[i])) ++i;
    if (split.words.size() == 4) {
      split.rest_after_fourth = line.substr(i);
      while (!split.rest_after_fourth.empty() && IsSpace(split.rest_after_fourth.back())) {
        split.rest_after_fourth.remove_suffix(1);
      }
    }
    const size_t start = i;
    while (i < line.size() && !IsSpace(line[i])) ++i;
    if (i > start) split.words.push_back(line.substr(start, i - start));
  }
  return split;
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// Exactly six hex pairs separated by ":"; the all-zero address is no address.
std::optional<uint64_t> ParseAddress(std::string_view text) {
  if (text.size() != 17) return std::nullopt;
  uint64_t address = 0;
  for (size_t i = 0; i < 17; i += 3) {
    const int high = kestro::HexDigitValue(text[i]);
    const int low = kestro::HexDigitValue(text[i + 1]);
    if (high < 0 || low < 0 || (i + 2 < 17 && text[i + 2] != ':')) return std::nullopt;
    address = (address << 8) | static_cast<uint64_t>(high * 16 + low);
  }
  if (address == 0) return std::nullopt;
  return address;
}

// Decimal, or hexadecimal after "0x"; at most max.
std::optional<int64_t> ParseNumber(std::string_view text, int64_t max) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  int64_t value = 0;
  for (char c : text) {
    const int digit = kestro::HexDigitValue(c);
    if (digit < 0 || digit >= base) return std::nullopt;
    value = value * base + digit;
    if (value > max) return std::nullopt;
  }
  return value;
}

// Strict UTF-8 (no overlong forms, surrogates or values above U+10FFFF) to UTF-16.
std::optional<std::u16string> Utf8ToUtf16(std::string_view text) {
  std::u16string wide;
  size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const size_t length = byte < 0x80 ? 1 : byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
    if ((byte >= 0x80 && byte < 0xC2) || byte > 0xF4 || i + length > text.size()) {
      return std::nullopt;
    }
    uint32_t code = length == 1 ? byte : byte & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      code = (code << 6) | (next & 0x3F);
    }
    static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return std::nullopt;
    }
    if (code >= 0x10000) {
      wide += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      wide += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      wide += static_cast<char16_t>(code);
    }
    i += length;
  }
  return wide;
}

// One statement's parser: fills the world or explains what is wrong.
class LineParser {
 public:
  LineParser(SimulatedWorld* world, std::set<uint64_t>* printers)
      : world_(world), printers_(printers) {}

  // Empty on success, else what is wrong.
  std::string Parse(std::string_view line) {
    const Words split = SplitWords(line);
    if (split.words.empty() || split.words[0][0] == '#') return "";
    const std::string_view statement = split.words[0];
    if (statement == "radio") return Radio(split.words);
    if (statement == "device") return Device(split);
    if (statement == "printer") return Printer(split.words);
    return "unknown statement " + Quoted(statement) + " (radio, device or printer)";
  }

 private:
  std::string Radio(const std::vector<std::string_view>& words) {
    if (words.size() != 2 || (words[1] != "present" && words[1] != "absent")) {
      return "radio must be followed by present or absent";
    }
    world_->radio_present = words[1] == "present";
    return "";
  }

  std::string Device(const Words& split) {
    const std::vector<std::string_view>& words = split.words;
    if (words.size() < 4) return "device needs an address, a class of device, flags and a name";
    SimulatedDevice device;
    const std::optional<uint64_t> address = ParseAddress(words[1]);
    if (!address) return "bad address " + Quoted(words[1]);
    device.address = *address;
    const std::optional<int64_t> class_of_device = ParseNumber(words[2], UINT32_MAX);
    if (!class_of_device) return "bad class of device " + Quoted(words[2]);
    device.class_of_device = static_cast<uint32_t>(*class_of_device);
    if (std::string error = Flags(words[3], &device); !error.empty()) return error;
    const std::optional<std::u16string> name = Utf8ToUtf16(split.rest_after_fourth);
    if (!name) return "the device name is not valid UTF-8";
    if (name->size() >= kestro::kBluetoothMaxNameSize) {
      return "the device name is longer than " + std::to_string(kestro::kBluetoothMaxNameSize - 1) +
             " UTF-16 units";
    }
    device.name = *name;
    world_->devices.push_back(device);
    return "";
  }

  static std::string Flags(std::string_view text, SimulatedDevice* device) {
    if (text == "-") return "";
    while (!text.empty()) {
      const size_t comma = text.find(',');
      const std::string_view flag = text.substr(0, comma);
      if (flag == "remembered") {
        device->remembered = true;
      } else if (flag == "authenticated") {
        device->authenticated = true;
      } else if (flag == "connected") {
        device->connected = true;
      } else {
        return "unknown device flag " + Quoted(flag) +
               " (remembered, authenticated, connected, or - for none)";
      }
      text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    }
    return "";
  }

  std::string Printer(const std::vector<std::string_view>& words) {
    if (words.size() < 2) return "printer needs an address";
    SimulatedPrinter printer;
    const std::optional<uint64_t> address = ParseAddress(words[1]);
    if (!address) return "bad address " + Quoted(words[1]);
    printer.address = *address;
    printer.behaviour.keep_bytes = false;
    if (!printers_->insert(*address).second)
      return "printer " + std::string(words[1]) + " given twice";
    for (size_t i = 2; i < words.size(); ++i) {
      if (std::string error = Setting(words[i], &printer.behaviour); !error.empty()) return error;
    }
    world_->printers.push_back(printer);
    return "";
  }

  static std::string Setting(std::string_view setting, PrinterBehaviour* behaviour) {
    const size_t equals = setting.find('=');
    const std::string_view key = setting.substr(0, equals);
    const std::string_view value =
        equals == std::string_view::npos ? std::string_view() : setting.substr(equals + 1);
    const std::string bad_value = "bad value for " + std::string(key) + ": " + Quoted(value);
    if (key == "connect") {
      if (value == "ok") {
        behaviour->connect_error = 0;
        return "";
      }
      const std::optional<int64_t> code = ParseNumber(value, INT32_MAX);
      if (!code || *code == 0) return bad_value + " (ok or a Winsock error code)";
      behaviour->connect_error = static_cast<int32_t>(*code);
      return "";
    }
    if (key == "timeouts") {
      if (value != "honoured" && value != "ignored") return bad_value + " (honoured or ignored)";
      behaviour->honour_timeouts = value == "honoured";
      return "";
    }
    if (key == "says") {
      std::vector<uint8_t> bytes;
      for (size_t i = 0; i + 1 < value.size(); i += 2) {
        const int high = kestro::HexDigitValue(value[i]);
        const int low = kestro::HexDigitValue(value[i + 1]);
        if (high < 0 || low < 0) break;
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
      }
      if (value.empty() || bytes.size() * 2 != value.size()) {
        return bad_value + " (an even number of hex digits)";
      }
      behaviour->says = std::move(bytes);
      return "";
    }
    int64_t minimum = 0;
    int64_t maximum = INT32_MAX;
    int64_t* target64 = nullptr;
    int32_t* target32 = nullptr;
    if (key == "connect-ms") {
      target32 = &behaviour->connect_time_ms;
    } else if (key == "rate") {
      target32 = &behaviour->bytes_per_second;
      minimum = 1;
    } else if (key == "max-part") {
      target32 = &behaviour->max_part;
      minimum = 1;
    } else if (key == "drop-after") {
      target64 = &behaviour->drop_after;
      maximum = INT64_MAX / 16;
    } else if (key == "drop-error") {
      target32 = &behaviour->drop_error;
      minimum = 1;
    } else if (key == "close-after") {
      target64 = &behaviour->close_after;
      maximum = INT64_MAX / 16;
    } else if (key == "stall-after") {
      target64 = &behaviour->stall_after;
      maximum = INT64_MAX / 16;
    } else {
      return "unknown printer setting " + Quoted(setting) +
             " (connect, connect-ms, rate, max-part, drop-after, drop-error, close-after, "
             "stall-after, timeouts, says)";
    }
    const std::optional<int64_t> number = ParseNumber(value, maximum);
    if (!number) return bad_value;
    if (*number < minimum) return std::string(key) + " must be at least " + std::to_string(minimum);
    if (target64 != nullptr) *target64 = *number;
    if (target32 != nullptr) *target32 = static_cast<int32_t>(*number);
    return "";
  }

  SimulatedWorld* world_;
  std::set<uint64_t>* printers_;
};

}  // namespace

bool ParseSimulatedWorld(std::string_view text, SimulatedWorld* world, WorldError* error) {
  *world = SimulatedWorld();
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::set<uint64_t> printers;
  LineParser parser(world, &printers);
  size_t line_number = 0;
  while (!text.empty()) {
    ++line_number;
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    std::string what = parser.Parse(line);
    if (!what.empty()) {
      *error = WorldError{line_number, std::move(what)};
      return false;
    }
  }
  return true;
}

void ApplySimulatedWorld(const SimulatedWorld& world, SimulatedBluetoothStack* stack) {
  stack->SetRadioPresent(world.radio_present);
  for (const SimulatedDevice& device : world.devices) stack->AddDevice(device);
  for (const SimulatedPrinter& printer : world.printers) {
    stack->SetPrinter(printer.address, printer.behaviour);
  }
}

std::string AddressFileName(uint64_t address) {
  char name[16];
  std::snprintf(name, sizeof name, "%012llX",
                static_cast<unsigned long long>(address & 0xFFFFFFFFFFFFull));
  return name;
}

}  // namespace kestro_standin
