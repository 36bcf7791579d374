#include "engine_client/codec/standard_codec_serializer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/codec/codec_test_util.h"

namespace {

using flutter::ByteBufferStreamReader;
using flutter::ByteBufferStreamWriter;
using flutter::CustomValue;
using flutter::EncodableValue;
using flutter::EncodableValueList;
using flutter::EncodableValueMap;
using flutter::StandardCodecSerializer;
using kestro_test::Bytes;
using kestro_test::Hex;
using kestro_test::kInvalidRead;
using kestro_test::kNestingTooDeep;
using kestro_test::Same;
using kestro_test::StderrCapture;
using kestro_test::TooDeepListHex;

const StandardCodecSerializer& Serializer() { return StandardCodecSerializer::Shared(); }

Bytes Encode(const EncodableValue& value) {
  Bytes bytes;
  ByteBufferStreamWriter writer(&bytes);
  Serializer().WriteValue(value, &writer);
  return bytes;
}

TEST(StandardCodecSerializerTest, WritesExactBytes) {
  struct Case {
    EncodableValue value;
    std::string bytes;
    std::string error;
  };
  const Case cases[] = {
      {EncodableValue(), "00", ""},
      {true, "01", ""},
      {false, "02", ""},
      {-1, "03 FF FF FF FF", ""},
      {int64_t{5}, "04 05 00 00 00 00 00 00 00", ""},
      {1.0, "06 00 00 00 00 00 00 00 00 00 00 00 00 00 F0 3F", ""},
      {"bytes", "07 05 'bytes'", ""},
      {std::vector<uint8_t>{1, 255}, "08 02 01 FF", ""},
      {std::vector<int32_t>{1}, "09 01 00 00 01 00 00 00", ""},
      {std::vector<int32_t>{}, "09 00 00 00", ""},
      {std::vector<int64_t>{-2}, "0A 01 00 00 00 00 00 00 FE FF FF FF FF FF FF FF", ""},
      {std::vector<double>{}, "0B 00 00 00 00 00 00 00", ""},
      {std::vector<double>{1.0}, "0B 01 00 00 00 00 00 00 00 00 00 00 00 00 F0 3F", ""},
      {std::vector<float>{1.0f}, "0E 01 00 00 00 00 80 3F", ""},
      {EncodableValueList{1, "a"}, "0C 02 03 01 00 00 00 07 01 'a'", ""},
      {EncodableValueMap{{"success", true}}, "0D 01 07 07 'success' 01", ""},
      {EncodableValueMap{{"success", 1}, {"bytes", 2}},
       "0D 02 07 05 'bytes' 03 02 00 00 00 07 07 'success' 03 01 00 00 00", ""},
      {CustomValue(1), "00",
       "Unhandled custom type in StandardCodecSerializer::WriteValue. Custom types require codec "
       "extensions.\n"},
  };
  for (const Case& c : cases) {
    StderrCapture capture;
    EXPECT_EQ(Encode(c.value), Hex(c.bytes)) << c.bytes;
    EXPECT_EQ(capture.Text(), c.error) << c.bytes;
  }
}

TEST(StandardCodecSerializerTest, SizeFieldForms) {
  struct Case {
    uint64_t size;
    std::string bytes;
  };
  const Case cases[] = {
      {253, "FD"},         {254, "FE FE 00"},         {300, "FE 2C 01"},
      {65535, "FE FF FF"}, {65536, "FF 00 00 01 00"}, {0xFFFFFFFFu, "FF FF FF FF FF"}};
  for (const Case& c : cases) {
    Bytes bytes;
    ByteBufferStreamWriter writer(&bytes);
    Serializer().WriteLength(c.size, &writer);
    EXPECT_EQ(bytes, Hex(c.bytes));
    ByteBufferStreamReader reader(bytes.data(), bytes.size());
    EXPECT_EQ(Serializer().ReadLength(&reader), c.size);
  }
  const Bytes longer_form = Hex("FE 05 00");
  ByteBufferStreamReader reader(longer_form.data(), longer_form.size());
  EXPECT_EQ(Serializer().ReadLength(&reader), 5u);
}

TEST(StandardCodecSerializerTest, SizeAboveFormatLimitWritesNullAndOneLine) {
  const size_t too_large = size_t{0xFFFFFFFFu} + 1;
  StderrCapture capture;
  Bytes bytes;
  ByteBufferStreamWriter writer(&bytes);
  Serializer().WriteLength(too_large, &writer);
  EXPECT_TRUE(bytes.empty());
  EXPECT_FALSE(Serializer().WriteSizedHeader(7, too_large, &writer));
  EXPECT_EQ(bytes, Hex("00"));
  EXPECT_TRUE(Serializer().WriteSizedHeader(7, too_large - 1, &writer));
  EXPECT_EQ(bytes, Hex("00 07 FF FF FF FF FF"));
  const std::string line = "Size too large in StandardCodecSerializer::WriteLength: 4294967296\n";
  EXPECT_EQ(capture.Text(), line + line);
}

TEST(StandardCodecSerializerTest, ReadsValuesAndTruncatedInput) {
  struct Case {
    std::string bytes;
    EncodableValue expected;
    std::string error;
    size_t remaining;  // bytes left unread afterwards
  };
  const std::string line = kInvalidRead;
  const Case cases[] = {
      {"0D 02 07 01 'a' 03 01 00 00 00 07 01 'a' 03 02 00 00 00", EncodableValueMap{{"a", 1}}, "",
       0},
      {"04 01 00 00 00 00 00 00 00", int64_t{1}, "", 0},
      {"05 03 'abc'", "abc", "", 0},
      {"07 FE 03 00 'abc'", "abc", "", 0},
      {"09 00 00 00", std::vector<int32_t>{}, "", 0},
      {"", EncodableValue(), line, 0},
      {"03 01 02", int32_t{0}, line, 2},
      {"06 00 00 00 00 00 00 00 01", 0.0, line, 1},
      {"0F", EncodableValue(), "Unknown type in StandardCodecSerializer::ReadValueOfType: 15\n", 0},
      {"09 00", std::vector<int32_t>{}, line, 0},
      // A declared size the input cannot hold: an empty value, position where the bytes start.
      {"07 05 'ab'", std::string(), line, 2},
      {"08 FF FF FF FF FF 00", std::vector<uint8_t>{}, line, 1},
      {"0B 02 00 00 00 00 00 00 01 02", std::vector<double>{}, line, 2},
      {"0E 01 00 00 01 02", std::vector<float>{}, line, 2},
      // Lists and maps stop at the end of the input, keeping what was read; a huge declared
      // count reserves nothing.
      {"0C FF FF FF FF FF", EncodableValueList{}, line, 0},
      {"0C FF FF FF FF 7F 00", EncodableValueList{EncodableValue()}, line, 0},
      {"0C 03 03 01 00 00 00", EncodableValueList{1}, line, 0},
      {"0D FF FF FF FF FF", EncodableValueMap{}, line, 0},
      {"0D 02 07 01 'a'", EncodableValueMap{{"a", EncodableValue()}}, line + line, 0},
  };
  for (const Case& c : cases) {
    const Bytes bytes = Hex(c.bytes);
    StderrCapture capture;
    ByteBufferStreamReader reader(bytes.data(), bytes.size());
    const EncodableValue value = Serializer().ReadNextValue(&reader);
    EXPECT_EQ(value.index(), c.expected.index()) << c.bytes;
    EXPECT_TRUE(Same(value, c.expected)) << c.bytes;
    EXPECT_EQ(capture.Text(), c.error) << c.bytes;
    EXPECT_EQ(reader.BytesRemaining(), c.remaining) << c.bytes;
    if (const auto* list = std::get_if<EncodableValueList>(&value)) {
      EXPECT_LE(list->capacity(), bytes.size()) << c.bytes;
    }
  }
}

// Adds tag 0x80 (an int32 kept as a custom value) the way an application serializer would.
class PointSerializer : public StandardCodecSerializer {
 public:
  EncodableValue ReadValueOfType(uint8_t type, flutter::ByteStreamReader* stream) const override {
    if (type != 0x80) return StandardCodecSerializer::ReadValueOfType(type, stream);
    int32_t x = 0;
    stream->GetBytes(reinterpret_cast<uint8_t*>(&x), sizeof x);
    return CustomValue(x);
  }
};

// Wraps inner in levels one-element lists, or one-entry maps under "k".
EncodableValue Nest(EncodableValue inner, int levels, bool maps) {
  for (int i = 0; i < levels; ++i) {
    inner = maps ? EncodableValue(EncodableValueMap{{"k", std::move(inner)}})
                 : EncodableValue(EncodableValueList{std::move(inner)});
  }
  return inner;
}

// A value that would open depth 257 reads as null and ends the message: nothing after its tag
// is read, enclosing lists and maps keep what they completed, a map entry it was the value of
// is dropped, and the one line is written without any "Invalid read" after it.
TEST(StandardCodecSerializerTest, NestingDeeperThan256EndsTheMessage) {
  std::string map_levels;
  for (int i = 0; i < 255; ++i) map_levels += "0D 01 07 01 'k' ";
  std::string deep_chain;
  for (int i = 0; i < 100000; ++i) deep_chain += "0C 01 ";
  struct Case {
    std::string bytes;
    EncodableValue expected;
    std::string error;
    size_t remaining;
  };
  const Case cases[] = {
      {TooDeepListHex(), Nest(EncodableValueList{EncodableValue()}, 255, false), kNestingTooDeep,
       6},
      {map_levels + "0D 02 07 01 'a' 01 07 01 'b' 0D 01 07 01 'c' 02",
       Nest(EncodableValueMap{{"a", true}}, 255, true), kNestingTooDeep, 5},
      // Exactly 256 levels read whole.
      {map_levels + "0C 01 03 05 00 00 00", Nest(EncodableValueList{5}, 255, true), "", 0},
      {deep_chain + "00", Nest(EncodableValueList{EncodableValue()}, 255, false), kNestingTooDeep,
       200001 - 513},
  };
  const PointSerializer derived;
  for (const Case& c : cases) {
    for (const StandardCodecSerializer* serializer :
         {&Serializer(), static_cast<const StandardCodecSerializer*>(&derived)}) {
      const Bytes bytes = Hex(c.bytes + " 03 07 00 00 00");  // a value after it stays unread
      StderrCapture capture;
      ByteBufferStreamReader reader(bytes.data(), bytes.size());
      const EncodableValue value = serializer->ReadNextValue(&reader);
      const EncodableValue next = serializer->ReadNextValue(&reader);
      EXPECT_TRUE(Same(value, c.expected)) << c.bytes.substr(0, 40);
      EXPECT_EQ(capture.Text(), c.error) << c.bytes.substr(0, 40);
      EXPECT_EQ(reader.NestingLimitReached(), !c.error.empty());
      if (c.error.empty()) {
        EXPECT_TRUE(Same(next, 7));
      } else {
        EXPECT_TRUE(next.IsNull());
        EXPECT_EQ(reader.BytesRemaining(), c.remaining + 5) << c.bytes.substr(0, 40);
      }
    }
  }
}

TEST(StandardCodecSerializerTest, NestedValuesReadThroughTheDerivedSerializer) {
  const Bytes bytes = Hex("0C 02 80 05 00 00 00 0D 01 07 01 'p' 80 06 00 00 00");
  ByteBufferStreamReader reader(bytes.data(), bytes.size());
  const EncodableValue value = PointSerializer().ReadNextValue(&reader);
  const auto& list = std::get<EncodableValueList>(value);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(*std::get<CustomValue>(list[0]).TryGet<int32_t>(), 5);
  const auto& map = std::get<EncodableValueMap>(list[1]);
  EXPECT_EQ(*std::get<CustomValue>(map.at("p")).TryGet<int32_t>(), 6);
}

}  // namespace
