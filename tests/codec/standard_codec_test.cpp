// The standard codec's bytes: every value, call and reply envelope written exactly, the size-field
// forms, reading values, calls and replies back from whole, cut-short and undecodable input, and
// the nesting limit that ends a message.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine_client/codec/standard_codec_serializer.h"
#include "engine_client/codec/standard_method_codec.h"
#include "tests/codec/codec_test_util.h"

namespace kestro_test {
namespace {

using flutter::ByteBufferStreamReader;
using flutter::ByteBufferStreamWriter;
using flutter::CustomValue;
using flutter::EncodableValue;
using flutter::EncodableValueList;
using flutter::EncodableValueMap;
using flutter::StandardCodecSerializer;
using flutter::StandardMethodCodec;
using std::string_literals::operator""s;
using wire::Error;
using wire::Int32;
using wire::Map;
using wire::Size;
using wire::Str;
using wire::Success;
using wire::TypedList;

const StandardCodecSerializer& Serializer() { return StandardCodecSerializer::Shared(); }
const StandardMethodCodec& Codec() { return StandardMethodCodec::ForSerializer(); }

// Values, calls and reply envelopes to the byte, through the one codec of the serializer; a custom
// value writes a null and one line.
TEST(StandardCodecTest, WritesExactBytes) {
  static const StandardCodecSerializer other;  // registered codecs outlive it otherwise
  EXPECT_EQ(&StandardMethodCodec::ForSerializer(&Serializer()), &Codec());
  EXPECT_NE(&StandardMethodCodec::ForSerializer(&other), &Codec());
  const EncodableValue yes(true), one(1.0), null_value, details(7);
  testing::internal::CaptureStderr();
  const std::pair<Bytes, std::string> cases[] = {
      {Encode(EncodableValue()), wire::kNull},
      {Encode(true), wire::kTrue},
      {Encode(false), wire::kFalse},
      {Encode(-1), Int32(-1)},
      {Encode(int64_t{5}), wire::Int64(5)},
      {Encode(1.0), wire::Float64(1.0)},
      {Encode("bytes"), Str("bytes")},
      {Encode(std::vector<uint8_t>{1, 255}), wire::ByteList("\x01\xFF")},
      {Encode(std::vector<int32_t>{1}), TypedList('\x09', std::vector<int32_t>{1})},
      {Encode(std::vector<int32_t>{}), TypedList('\x09', std::vector<int32_t>{})},
      {Encode(std::vector<int64_t>{-2}), TypedList('\x0A', std::vector<int64_t>{-2})},
      {Encode(std::vector<double>{}), TypedList('\x0B', std::vector<double>{})},
      {Encode(std::vector<double>{1.0}), TypedList('\x0B', std::vector<double>{1.0})},
      {Encode(std::vector<float>{1.0f}), TypedList('\x0E', std::vector<float>{1.0f})},
      {Encode(EncodableValueList{1, "a"}), wire::List({Int32(1), Str("a")})},
      {Encode(EncodableValueMap{{"success", true}}), Map({{Str("success"), wire::kTrue}})},
      {Encode(EncodableValueMap{{"success", 1}, {"bytes", 2}}),
       Map({{Str("bytes"), Int32(2)}, {Str("success"), Int32(1)}})},
      {Encode(CustomValue(1)), wire::kNull},
      {*Codec().EncodeSuccessReply(&yes), Success(wire::kTrue)},
      {*Codec().EncodeSuccessReply(), Success(wire::kNull)},
      {*Codec().EncodeSuccessReply(&null_value), Success(wire::kNull)},
      {*Codec().EncodeSuccessReply(&one), Success(wire::Float64(1.0, 1))},
      {*Codec().EncodeErrorReply("INVALID_ARGS", "macAddress is required"),
       Error("INVALID_ARGS", "macAddress is required")},
      {*Codec().EncodeErrorReply("DECODE_ERROR", "", &details),
       Error("DECODE_ERROR", "", Int32(7))},
      {*Codec().EncodeErrorReply(""), Error("", "")},
      {*Codec().EncodeCall(flutter::MethodCall<EncodableValue>("isBleConnected", nullptr)),
       wire::Call("isBleConnected")},
  };
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Unhandled custom type in StandardCodecSerializer::WriteValue. Custom types require "
            "codec extensions.\n");
  for (const auto& c : cases) EXPECT_EQ(c.first, ToBytes(c.second)) << (&c - cases);
}

// Each size field form written and read back; above the format's limit only a null and one line.
TEST(StandardCodecSerializerTest, SizeFields) {
  for (const uint64_t size : {253u, 254u, 300u, 65535u, 65536u, 0xFFFFFFFFu}) {
    Bytes bytes;
    ByteBufferStreamWriter writer(&bytes);
    Serializer().WriteLength(size, &writer);
    EXPECT_EQ(bytes, ToBytes(Size(size))) << size;
    ByteBufferStreamReader reader(bytes.data(), bytes.size());
    EXPECT_EQ(Serializer().ReadLength(&reader), size);
  }
  const Bytes longer_form = ToBytes("\xFE\x05\x00"s);
  ByteBufferStreamReader reader(longer_form.data(), longer_form.size());
  EXPECT_EQ(Serializer().ReadLength(&reader), 5u);

  const size_t too_large = size_t{0xFFFFFFFFu} + 1;
  testing::internal::CaptureStderr();
  Bytes bytes;
  ByteBufferStreamWriter writer(&bytes);
  Serializer().WriteLength(too_large, &writer);
  EXPECT_TRUE(bytes.empty());
  EXPECT_FALSE(Serializer().WriteSizedHeader(7, too_large, &writer));
  EXPECT_EQ(bytes, ToBytes(wire::kNull));
  EXPECT_TRUE(Serializer().WriteSizedHeader(7, too_large - 1, &writer));
  EXPECT_EQ(bytes, ToBytes(wire::kNull + "\x07" + Size(too_large - 1)));
  const std::string line = "Size too large in StandardCodecSerializer::WriteLength: 4294967296\n";
  EXPECT_EQ(testing::internal::GetCapturedStderr(), line + line);
}

struct ReadCase {
  std::string bytes;
  EncodableValue expected;
  std::string error;
  size_t remaining;  // bytes left unread afterwards
};

TEST(StandardCodecSerializerTest, ReadsValuesAndTruncatedInput) {
  const std::string line = kInvalidRead;
  const ReadCase cases[] = {
      {Map({{Str("a"), Int32(1)}, {Str("a"), Int32(2)}}), EncodableValueMap{{"a", 1}}, "", 0},
      {wire::Int64(1), int64_t{1}, "", 0},
      {"\x05\x03"s + "abc", "abc", "", 0},
      {"\x07\xFE\x03\x00"s + "abc", "abc", "", 0},
      {TypedList('\x09', std::vector<int32_t>{}), std::vector<int32_t>{}, "", 0},
      {"", EncodableValue(), line, 0},
      {Int32(0x0201).substr(0, 3), int32_t{0}, line, 2},
      {wire::Float64(1.0).substr(0, 9), 0.0, line, 1},
      {"\x0F", EncodableValue(), "Unknown type in StandardCodecSerializer::ReadValueOfType: 15\n",
       0},
      {"\x09"s + Size(0), std::vector<int32_t>{}, line, 0},
      // A declared size the input cannot hold: an empty value, position where the bytes start.
      {Str("abcde").substr(0, 4), std::string(), line, 2},
      {"\x08" + Size(0xFFFFFFFF) + wire::kNull, std::vector<uint8_t>{}, line, 1},
      {TypedList('\x0B', std::vector<double>{1, 2}).substr(0, 10), std::vector<double>{}, line, 2},
      {TypedList('\x0E', std::vector<float>{1}).substr(0, 6), std::vector<float>{}, line, 2},
      // Lists and maps stop at the end of the input, keeping what was read; a huge declared
      // count reserves nothing.
      {"\x0C" + Size(0xFFFFFFFF), EncodableValueList{}, line, 0},
      {"\x0C" + Size(0x7FFFFFFF) + wire::kNull, EncodableValueList{EncodableValue()}, line, 0},
      {"\x0C\x03" + Int32(1), EncodableValueList{1}, line, 0},
      {"\x0D" + Size(0xFFFFFFFF), EncodableValueMap{}, line, 0},
      {"\x0D\x02" + Str("a"), EncodableValueMap{{"a", EncodableValue()}}, line + line, 0},
  };
  for (const ReadCase& c : cases) {
    const Bytes bytes = ToBytes(c.bytes);
    const size_t i = &c - cases;
    testing::internal::CaptureStderr();
    ByteBufferStreamReader reader(bytes.data(), bytes.size());
    const EncodableValue value = Serializer().ReadNextValue(&reader);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.error) << i;
    EXPECT_TRUE(Same(value, c.expected)) << i;
    EXPECT_EQ(reader.BytesRemaining(), c.remaining) << i;
    if (const auto* list = std::get_if<EncodableValueList>(&value)) {
      EXPECT_LE(list->capacity(), bytes.size()) << i;
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

// A derived serializer reads the values nested in lists and maps. A value that would open depth
// 257 reads as null and ends the message: nothing after its tag is read, enclosing lists and maps
// keep what they completed, a map entry it was the value of is dropped, and the one line is
// written without any "Invalid read" after it.
TEST(StandardCodecSerializerTest, NestingGoesThroughDerivedSerializersAndEndsBelow257) {
  const PointSerializer derived;
  const Bytes points = ToBytes(
      wire::List({"\x80" + Int32(5).substr(1), Map({{Str("p"), "\x80" + Int32(6).substr(1)}})}));
  ByteBufferStreamReader point_reader(points.data(), points.size());
  const auto list = std::get<EncodableValueList>(derived.ReadNextValue(&point_reader));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(*std::get<CustomValue>(list[0]).TryGet<int32_t>(), 5);
  EXPECT_EQ(*std::get<CustomValue>(std::get<EncodableValueMap>(list[1]).at("p")).TryGet<int32_t>(),
            6);

  std::string map_levels;
  for (int i = 0; i < 255; ++i) map_levels += "\x0D\x01" + Str("k");
  std::string deep_chain;
  for (int i = 0; i < 100000; ++i) deep_chain += "\x0C\x01";
  const ReadCase cases[] = {
      {wire::TooDeepList(), Nest(EncodableValueList{EncodableValue()}, 255, false), kNestingTooDeep,
       6},
      {map_levels + Map({{Str("a"), wire::kTrue}, {Str("b"), Map({{Str("c"), wire::kFalse}})}}),
       Nest(EncodableValueMap{{"a", true}}, 255, true), kNestingTooDeep, 5},
      // Exactly 256 levels read whole.
      {map_levels + wire::List({Int32(5)}), Nest(EncodableValueList{5}, 255, true), "", 0},
      {deep_chain + wire::kNull, Nest(EncodableValueList{EncodableValue()}, 255, false),
       kNestingTooDeep, 200001 - 513},
  };
  for (const ReadCase& c : cases) {
    for (const StandardCodecSerializer* serializer :
         {&Serializer(), static_cast<const StandardCodecSerializer*>(&derived)}) {
      const Bytes bytes = ToBytes(c.bytes + Int32(7));  // a value after it stays unread
      testing::internal::CaptureStderr();
      ByteBufferStreamReader reader(bytes.data(), bytes.size());
      const EncodableValue value = serializer->ReadNextValue(&reader);
      const EncodableValue next = serializer->ReadNextValue(&reader);
      EXPECT_EQ(testing::internal::GetCapturedStderr(), c.error) << (&c - cases);
      EXPECT_TRUE(Same(value, c.expected)) << (&c - cases);
      EXPECT_EQ(reader.NestingLimitReached(), !c.error.empty());
      if (c.error.empty()) {
        EXPECT_TRUE(Same(next, 7));
      } else {
        EXPECT_TRUE(next.IsNull());
        EXPECT_EQ(reader.BytesRemaining(), c.remaining + 5) << (&c - cases);
      }
    }
  }
}

// Calls and replies read back: what was decoded ("call <name> = <arguments>" or the outcome the
// result received, else "no call" or "no envelope") and the lines written.
TEST(StandardMethodCodecTest, DecodesCallsAndReplies) {
  const std::string not_a_name = "Invalid method call; method name is not a string.\n";
  const std::string arguments =
      Map({{Str("bytes"), wire::ByteList("\x1B")}, {Str("macAddress"), Str("A")}});
  struct Case {
    bool call;  // else a reply
    std::string bytes, decoded, error;
  };
  const Case cases[] = {
      {true, Str("isBleConnected"), "call isBleConnected = " + wire::kNull, kInvalidRead},
      {true, wire::Call("printBle", arguments) + "\xFF", "call printBle = " + arguments, ""},
      {true, Int32(1), "no call", not_a_name},
      {true, "", "no call", kInvalidRead + not_a_name},
      // Arguments cut short at the nesting limit make the whole call undecodable.
      {true, wire::Call("printBle", "\x0D\x01" + Str("bytes") + wire::TooDeepList()), "no call",
       kNestingTooDeep},
      {false, Success(wire::kTrue), "success = " + wire::kTrue, ""},
      {false, Success(wire::kNull), "success", ""},
      {false, "", "success", kInvalidRead + kInvalidRead},
      {false, Error("DECODE_ERROR", ""), "error DECODE_ERROR ''", ""},
      {false, Error("E", "hi", Int32(5)), "error E 'hi' = " + Int32(5), ""},
      {false, wire::kFalse, "no envelope", ""},
      // Not envelopes: a code that is not text, a message that is neither text nor null.
      {false, wire::kTrue + Int32(1) + wire::kNull + wire::kNull, "no envelope", ""},
      {false, wire::kTrue + Str("E") + Int32(1) + wire::kNull, "no envelope", ""},
      // A result or details cut short at the nesting limit: no envelope.
      {false, Success(wire::TooDeepList()), "no envelope", kNestingTooDeep},
      {false, Error("E", "", wire::TooDeepList()), "no envelope", kNestingTooDeep},
  };
  for (const Case& c : cases) {
    const Bytes bytes = ToBytes(c.bytes);
    std::vector<std::string> decoded;
    RecordingResult result(&decoded);
    testing::internal::CaptureStderr();
    if (c.call) {
      const auto call = Codec().DecodeCall(bytes.data(), bytes.size());
      decoded.push_back(call ? "call " + call->MethodName() + Describe(call->Arguments())
                             : "no call");
    } else if (!Codec().DecodeReplyInto(bytes.data(), bytes.size(), &result)) {
      decoded.push_back("no envelope");
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.error) << (&c - cases);
    EXPECT_EQ(decoded, std::vector<std::string>{c.decoded}) << (&c - cases);
  }
}

}  // namespace
}  // namespace kestro_test
