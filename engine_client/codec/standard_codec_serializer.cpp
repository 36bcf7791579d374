#include "engine_client/codec/standard_codec_serializer.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "engine_client/codec/stderr_line.h"

// Numbers travel little-endian and are copied bit for bit, which is the byte order of every
// Windows target (x86-64, ARM64) and of the Linux test build.

namespace flutter {

namespace {

using codec_internal::WriteInvalidReadLine;
using kestro::WriteStderrLine;

enum Tag : uint8_t {
  kNull = 0,
  kTrue = 1,
  kFalse = 2,
  kInt32 = 3,
  kInt64 = 4,
  kLargeInt = 5,  // read as a string, never written
  kFloat64 = 6,
  kString = 7,
  kUInt8List = 8,
  kInt32List = 9,
  kInt64List = 10,
  kFloat64List = 11,
  kList = 12,
  kMap = 13,
  kFloat32List = 14,
};

template <typename T>
void PutScalar(T value, ByteStreamWriter* stream) {
  stream->PutBytes(reinterpret_cast<const uint8_t*>(&value), sizeof(T));
}

template <typename T>
T GetScalar(ByteStreamReader* stream) {
  T value{};
  stream->GetBytes(reinterpret_cast<uint8_t*>(&value), sizeof(T));
  return value;
}

// The size field of a count no larger than the format's limit; returns its length in bytes.
size_t EncodeSizeField(size_t count, uint8_t* field) {
  if (count < 254) {
    field[0] = static_cast<uint8_t>(count);
    return 1;
  }
  if (count <= 0xFFFF) {
    const uint16_t value = static_cast<uint16_t>(count);
    field[0] = 254;
    std::memcpy(field + 1, &value, sizeof value);
    return 3;
  }
  const uint32_t value = static_cast<uint32_t>(count);
  field[0] = 255;
  std::memcpy(field + 1, &value, sizeof value);
  return 5;
}

// False when the reader knows that fewer than count elements of width bytes remain.
bool InputCanHold(const ByteStreamReader& stream, size_t count, size_t width) {
  const size_t remaining = stream.BytesRemaining();
  return remaining == ByteStreamReader::kUnknownRemaining ||
         static_cast<uint64_t>(count) * width <= remaining;
}

template <typename T>
constexpr uint8_t TypedListTag() {
  if constexpr (std::is_same<T, uint8_t>::value) {
    return kUInt8List;
  } else if constexpr (std::is_same<T, int32_t>::value) {
    return kInt32List;
  } else if constexpr (std::is_same<T, int64_t>::value) {
    return kInt64List;
  } else if constexpr (std::is_same<T, float>::value) {
    return kFloat32List;
  } else {
    static_assert(std::is_same<T, double>::value, "no typed list of this element");
    return kFloat64List;
  }
}

// Elements wider than a byte start on a multiple of their width, empty lists included, so the
// reader (which always aligns) reads back exactly what was written.
template <typename T>
void WriteTypedList(const StandardCodecSerializer& serializer, const std::vector<T>& list,
                    ByteStreamWriter* stream) {
  if (!serializer.WriteSizedHeader(TypedListTag<T>(), list.size(), stream)) {
    return;
  }
  if constexpr (sizeof(T) > 1) {
    stream->PutPadding(sizeof(T));
  }
  if (!list.empty()) {
    stream->PutBytes(reinterpret_cast<const uint8_t*>(list.data()), list.size() * sizeof(T));
  }
}

// Strings (T = char) and typed lists. A declared count the input cannot hold gives an empty
// value after one line, with the position where the elements should have started.
template <typename Container>
Container ReadSequence(const StandardCodecSerializer& serializer, ByteStreamReader* stream) {
  using Element = typename Container::value_type;
  const size_t count = serializer.ReadLength(stream);
  if constexpr (sizeof(Element) > 1) {
    stream->SkipPadding(sizeof(Element));
  }
  Container sequence;
  if (!InputCanHold(*stream, count, sizeof(Element))) {
    WriteInvalidReadLine();
    return sequence;
  }
  sequence.resize(count);
  stream->GetBytes(reinterpret_cast<uint8_t*>(sequence.data()), count * sizeof(Element));
  return sequence;
}

}  // namespace

const StandardCodecSerializer& StandardCodecSerializer::Shared() {
  static const StandardCodecSerializer kShared{};
  return kShared;
}

EncodableValue StandardCodecSerializer::ReadNextValue(ByteStreamReader* stream) const {
  if (stream->nesting_limit_reached_) {
    return EncodableValue();
  }
  const uint8_t type = stream->GetByte();
  return ReadValueOfType(type, stream);
}

// A switch rather than std::visit: each case inlines, where visit's table forces an indirect call
// per value, which dominates small messages.
void StandardCodecSerializer::WriteValue(const EncodableValue& value,
                                         ByteStreamWriter* stream) const {
  static_assert(std::variant_size<EncodableVariant>::value == 14,
                "a new alternative needs its case below");
  switch (value.index()) {
    case IndexOf<std::monostate>:
      stream->PutByte(kNull);
      return;
    case IndexOf<bool>:
      stream->PutByte(*std::get_if<bool>(&value) ? kTrue : kFalse);
      return;
    case IndexOf<int32_t>:
      stream->PutByte(kInt32);
      PutScalar(*std::get_if<int32_t>(&value), stream);
      return;
    case IndexOf<int64_t>:
      stream->PutByte(kInt64);
      PutScalar(*std::get_if<int64_t>(&value), stream);
      return;
    case IndexOf<double>:
      stream->PutByte(kFloat64);
      stream->PutPadding(8);
      PutScalar(*std::get_if<double>(&value), stream);
      return;
    case IndexOf<std::string>: {
      const std::string& text = *std::get_if<std::string>(&value);
      if (WriteSizedHeader(kString, text.size(), stream) && !text.empty()) {
        stream->PutBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
      }
      return;
    }
    case IndexOf<std::vector<uint8_t>>:
      WriteTypedList(*this, *std::get_if<std::vector<uint8_t>>(&value), stream);
      return;
    case IndexOf<std::vector<int32_t>>:
      WriteTypedList(*this, *std::get_if<std::vector<int32_t>>(&value), stream);
      return;
    case IndexOf<std::vector<int64_t>>:
      WriteTypedList(*this, *std::get_if<std::vector<int64_t>>(&value), stream);
      return;
    case IndexOf<std::vector<double>>:
      WriteTypedList(*this, *std::get_if<std::vector<double>>(&value), stream);
      return;
    case IndexOf<EncodableValueList>: {
      const EncodableValueList& list = *std::get_if<EncodableValueList>(&value);
      if (WriteSizedHeader(kList, list.size(), stream)) {
        for (const EncodableValue& element : list) {
          WriteValue(element, stream);
        }
      }
      return;
    }
    case IndexOf<EncodableValueMap>: {
      const EncodableValueMap& map = *std::get_if<EncodableValueMap>(&value);
      if (WriteSizedHeader(kMap, map.size(), stream)) {
        for (const auto& entry : map) {
          WriteValue(entry.first, stream);
          WriteValue(entry.second, stream);
        }
      }
      return;
    }
    case IndexOf<CustomValue>:
      stream->PutByte(kNull);
      WriteStderrLine(
          "Unhandled custom type in StandardCodecSerializer::WriteValue. "
          "Custom types require codec extensions.");
      return;
    case IndexOf<std::vector<float>>:
      WriteTypedList(*this, *std::get_if<std::vector<float>>(&value), stream);
      return;
  }
}

EncodableValue StandardCodecSerializer::ReadValueOfType(uint8_t type,
                                                        ByteStreamReader* stream) const {
  switch (type) {
    case kNull:
      return EncodableValue();
    case kTrue:
      return EncodableValue(true);
    case kFalse:
      return EncodableValue(false);
    case kInt32:
      return EncodableValue(GetScalar<int32_t>(stream));
    case kInt64:
      return EncodableValue(GetScalar<int64_t>(stream));
    case kFloat64:
      stream->SkipPadding(8);
      return EncodableValue(GetScalar<double>(stream));
    case kLargeInt:
    case kString:
      return EncodableValue(ReadSequence<std::string>(*this, stream));
    case kUInt8List:
      return EncodableValue(ReadSequence<std::vector<uint8_t>>(*this, stream));
    case kInt32List:
      return EncodableValue(ReadSequence<std::vector<int32_t>>(*this, stream));
    case kInt64List:
      return EncodableValue(ReadSequence<std::vector<int64_t>>(*this, stream));
    case kFloat64List:
      return EncodableValue(ReadSequence<std::vector<double>>(*this, stream));
    case kFloat32List:
      return EncodableValue(ReadSequence<std::vector<float>>(*this, stream));
    case kList:
    case kMap: {
      // The depth lives on the reader, so it also counts levels entered through a derived
      // serializer's ReadValueOfType and resets with every message.
      if (stream->nesting_depth_ >= kMaxNestingDepth) {
        stream->nesting_limit_reached_ = true;
        WriteStderrLine("Nesting too deep in StandardCodecSerializer::ReadValueOfType");
        return EncodableValue();
      }
      ++stream->nesting_depth_;
      EncodableValue value = type == kList ? ReadList(stream) : ReadMap(stream);
      --stream->nesting_depth_;
      return value;
    }
    default:
      WriteStderrLine("Unknown type in StandardCodecSerializer::ReadValueOfType: " +
                      std::to_string(type));
      return EncodableValue();
  }
}

void StandardCodecSerializer::WriteLength(size_t length, ByteStreamWriter* stream) const {
  if (static_cast<uint64_t>(length) > kMaxSize) {
    WriteStderrLine("Size too large in StandardCodecSerializer::WriteLength: " +
                    std::to_string(length));
    return;
  }
  uint8_t field[5];
  stream->PutBytes(field, EncodeSizeField(length, field));
}

size_t StandardCodecSerializer::ReadLength(ByteStreamReader* stream) const {
  const uint8_t first = stream->GetByte();
  if (first < 254) {
    return first;
  }
  if (first == 254) {
    return GetScalar<uint16_t>(stream);
  }
  return GetScalar<uint32_t>(stream);
}

// Tag and size field go out in one write: per-call overhead dominates small values.
bool StandardCodecSerializer::WriteSizedHeader(uint8_t type, size_t size,
                                               ByteStreamWriter* stream) const {
  if (static_cast<uint64_t>(size) > kMaxSize) {
    stream->PutByte(kNull);
    WriteLength(size, stream);  // writes only the error line
    return false;
  }
  uint8_t header[6] = {type};
  stream->PutBytes(header, 1 + EncodeSizeField(size, header + 1));
  return true;
}

// Every element takes at least one byte, so the reservation never exceeds what the remaining
// input could fill, and the loop stops at the end of the input instead of reading nulls.
EncodableValue StandardCodecSerializer::ReadList(ByteStreamReader* stream) const {
  const size_t count = ReadLength(stream);
  EncodableValueList list;
  list.reserve(std::min(count, stream->BytesRemaining()));
  for (size_t i = 0; i < count; ++i) {
    if (stream->BytesRemaining() == 0) {
      WriteInvalidReadLine();
      break;
    }
    list.push_back(ReadNextValue(stream));
    if (stream->nesting_limit_reached_) {
      break;
    }
  }
  return EncodableValue(std::move(list));
}

EncodableValue StandardCodecSerializer::ReadMap(ByteStreamReader* stream) const {
  const size_t count = ReadLength(stream);
  EncodableValueMap map;
  for (size_t i = 0; i < count; ++i) {
    if (stream->BytesRemaining() == 0) {
      WriteInvalidReadLine();
      break;
    }
    EncodableValue key = ReadNextValue(stream);
    if (stream->nesting_limit_reached_) {
      break;
    }
    EncodableValue value = ReadNextValue(stream);
    // A null here is the too-deep value itself, which pairs the key with nothing.
    if (stream->nesting_limit_reached_ && value.IsNull()) {
      break;
    }
    // Writers send keys ascending, so the end is the right hint and the whole map costs linear
    // time; a key already present keeps its first value.
    map.emplace_hint(map.end(), std::move(key), std::move(value));
    if (stream->nesting_limit_reached_) {
      break;
    }
  }
  return EncodableValue(std::move(map));
}

}  // namespace flutter
