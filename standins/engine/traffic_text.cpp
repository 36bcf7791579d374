#include "standins/engine/traffic_text.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "standins/transcript.h"

namespace kestro_standin {
namespace {

// Reads standard codec values; any fault makes the whole line fall back to its raw form.
class ValueReader {
 public:
  explicit ValueReader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

  bool ok() const { return ok_; }
  bool AtEnd() const { return position_ == bytes_.size(); }

  uint8_t Byte() {
    if (position_ >= bytes_.size()) {
      ok_ = false;
      return 0;
    }
    return bytes_[position_++];
  }

  uint64_t Fixed(int width) {
    uint64_t value = 0;
    for (int i = 0; i < width; ++i) value |= static_cast<uint64_t>(Byte()) << (8 * i);
    return value;
  }

  size_t Size() {
    const uint8_t first = Byte();
    if (first < 254) return first;
    return static_cast<size_t>(Fixed(first == 254 ? 2 : 4));
  }

  void Align(size_t width) {
    while (ok_ && position_ % width != 0) Byte();
  }

  // A readable form of the next value; depth bounds nesting.
  std::string Value(int depth = 0) {
    if (depth > 16) ok_ = false;
    if (!ok_) return "";
    const uint8_t tag = Byte();
    switch (tag) {
      case 0:
        return "null";
      case 1:
        return "true";
      case 2:
        return "false";
      case 3:
        return std::to_string(static_cast<int32_t>(Fixed(4)));
      case 4:
        return std::to_string(static_cast<int64_t>(Fixed(8)));
      case 6: {
        Align(8);
        const uint64_t raw = Fixed(8);
        double value = 0;
        std::memcpy(&value, &raw, sizeof value);
        char text[32];
        std::snprintf(text, sizeof text, "%g", value);
        return text;
      }
      case 7:
        return "\"" + Text(Size()) + "\"";
      case 8:
        return "<" + std::to_string(Skip(Size(), 1)) + " bytes>";
      case 9:
        return TypedList(4);
      case 10:
        return TypedList(8);
      case 11:
        return TypedList(8);
      case 14:
        return TypedList(4);
      case 12:
        return Elements(depth, false);
      case 13:
        return Elements(depth, true);
      default:
        ok_ = false;
        return "";
    }
  }

  std::string Text(size_t size) {
    std::string text;
    for (size_t i = 0; i < size && ok_; ++i) text += static_cast<char>(Byte());
    return text;
  }

 private:
  size_t Skip(size_t count, size_t width) {
    for (size_t i = 0; i < count * width && ok_; ++i) Byte();
    return count;
  }
  std::string TypedList(size_t width) {
    const size_t count = Size();
    Align(width);
    return "<" + std::to_string(Skip(count, width)) + " numbers>";
  }
  std::string Elements(int depth, bool map) {
    const size_t count = Size();
    std::string text = map ? "{" : "[";
    for (size_t i = 0; i < count && ok_; ++i) {
      if (i > 0) text += ", ";
      text += Value(depth + 1);
      if (map) text += ": " + Value(depth + 1);
    }
    return text + (map ? "}" : "]");
  }

  const std::vector<uint8_t>& bytes_;
  size_t position_ = 0;
  bool ok_ = true;
};

std::optional<std::string> Reply(ValueReader& reader) {
  const uint8_t envelope = reader.Byte();
  if (envelope == 0) return "  -> " + reader.Value();
  if (envelope != 1) return std::nullopt;
  const std::string code = reader.Value();
  const std::string message = reader.Value();
  const std::string details = reader.Value();
  return "  -> error " + code + " " + message + (details == "null" ? "" : " " + details);
}

std::optional<std::string> Call(ValueReader& reader, const char* prefix) {
  if (reader.Byte() != 7) return std::nullopt;
  const std::string method = reader.Text(reader.Size());
  // A log event carries {"message": text, "timestamp": ms}: the text is what matters.
  if (method == "onLogMessage") {
    const std::string arguments = reader.Value();
    const size_t start = arguments.find(": \"");
    const size_t end = arguments.find("\", ");
    if (start != std::string::npos && end != std::string::npos && end > start) {
      return "  log " + arguments.substr(start + 3, end - start - 3);
    }
    return std::string(prefix) + method + " " + arguments;
  }
  return std::string(prefix) + method + " " + reader.Value();
}

}  // namespace

std::string DecodeTranscriptLine(const std::string& line) {
  const size_t first_space = line.find(' ');
  const size_t second_space = line.find(' ', first_space + 1);
  if (first_space == std::string::npos || second_space == std::string::npos) return line;
  const std::string kind = line.substr(0, first_space);
  if (kind != "send" && kind != "reply" && kind != "event") return line;
  const size_t hex_end = line.find(' ', second_space + 1);
  const std::optional<std::vector<uint8_t>> bytes = ParseHexBytes(line.substr(
      second_space + 1, hex_end == std::string::npos ? hex_end : hex_end - second_space - 1));
  if (!bytes) return line;
  ValueReader reader(*bytes);
  const std::optional<std::string> text = kind == "reply"  ? Reply(reader)
                                          : kind == "send" ? Call(reader, "call ")
                                                           : Call(reader, "  event ");
  return text && reader.ok() && reader.AtEnd() ? *text : line;
}

}  // namespace kestro_standin
