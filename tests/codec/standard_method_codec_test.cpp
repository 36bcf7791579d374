// Method calls and reply envelopes over the standard codec: exact bytes out, calls and replies
// read back, undecodable ones refused, and one codec per serializer.
#include "engine_client/codec/standard_method_codec.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine_client/codec/byte_streams.h"
#include "engine_client/codec/standard_codec_serializer.h"
#include "tests/codec/codec_test_util.h"

namespace kestro_test {
namespace {

using flutter::EncodableValue;
using flutter::EncodableValueMap;
using flutter::MethodCall;
using flutter::StandardMethodCodec;
using std::string_literals::operator""s;
using wire::Error;
using wire::Int32;
using wire::Str;
using wire::Success;

const StandardMethodCodec& Codec() { return StandardMethodCodec::ForSerializer(); }

TEST(StandardMethodCodecTest, EncodesCallsAndEnvelopes) {
  const EncodableValue yes(true);
  const EncodableValue one(1.0);
  const EncodableValue null_value;
  const EncodableValue details(7);
  struct Case {
    std::unique_ptr<std::vector<uint8_t>> encoded;
    std::string bytes;
  };
  const Case cases[] = {
      {Codec().EncodeSuccessReply(&yes), Success(wire::kTrue)},
      {Codec().EncodeSuccessReply(), Success(wire::kNull)},
      {Codec().EncodeSuccessReply(&null_value), Success(wire::kNull)},
      {Codec().EncodeSuccessReply(&one), Success(wire::Float64(1.0, 1))},
      {Codec().EncodeErrorReply("INVALID_ARGS", "macAddress is required"),
       Error("INVALID_ARGS", "macAddress is required")},
      {Codec().EncodeErrorReply("DECODE_ERROR", "", &details), Error("DECODE_ERROR", "", Int32(7))},
      {Codec().EncodeErrorReply(""), Error("", "")},
      {Codec().EncodeCall(MethodCall<EncodableValue>("isBleConnected", nullptr)),
       wire::Call("isBleConnected")},
  };
  for (const Case& c : cases) EXPECT_EQ(*c.encoded, ToBytes(c.bytes)) << (&c - cases);
}
TEST(StandardMethodCodecTest, DecodesCalls) {
  struct Case {
    std::string bytes;
    const char* name;  // null when no call is decoded
    EncodableValue arguments;
    std::string error;
  };
  const std::string not_a_name = "Invalid method call; method name is not a string.\n";
  const Case cases[] = {
      {Str("isBleConnected"), "isBleConnected", EncodableValue(), kInvalidRead},
      {wire::Call("printBle", wire::Map({{Str("bytes"), wire::ByteList("\x1B")},
                                         {Str("macAddress"), Str("A")}})) +
           "\xFF",
       "printBle", EncodableValueMap{{"macAddress", "A"}, {"bytes", std::vector<uint8_t>{27}}}, ""},
      {Int32(1), nullptr, EncodableValue(), not_a_name},
      {"", nullptr, EncodableValue(), kInvalidRead + not_a_name},
      // Arguments cut short at the nesting limit make the whole call undecodable.
      {wire::Call("printBle", "\x0D\x01" + Str("bytes") + wire::TooDeepList()), nullptr,
       EncodableValue(), kNestingTooDeep},
  };
  for (const Case& c : cases) {
    const Bytes bytes = ToBytes(c.bytes);
    testing::internal::CaptureStderr();
    const auto call = Codec().DecodeCall(bytes.data(), bytes.size());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.error) << (&c - cases);
    if (c.name == nullptr) {
      EXPECT_EQ(call, nullptr) << (&c - cases);
      continue;
    }
    ASSERT_NE(call, nullptr) << (&c - cases);
    EXPECT_EQ(call->MethodName(), c.name);
    ASSERT_NE(call->Arguments(), nullptr);
    EXPECT_TRUE(Same(*call->Arguments(), c.arguments)) << (&c - cases);
  }
}

TEST(StandardMethodCodecTest, DecodesRepliesIntoTheResult) {
  struct Case {
    std::string bytes;
    bool decoded;
    std::string outcome;  // empty when nothing may be delivered
    std::string error;
  };
  const Case cases[] = {
      {Success(wire::kTrue), true, "success = " + wire::kTrue, ""},
      {Success(wire::kNull), true, "success", ""},
      {"", true, "success", kInvalidRead + kInvalidRead},
      {Error("DECODE_ERROR", ""), true, "error DECODE_ERROR ''", ""},
      {Error("E", "hi", Int32(5)), true, "error E 'hi' = " + Int32(5), ""},
      {wire::kFalse, false, "", ""},
      // Not envelopes: a code that is not text, a message that is neither text nor null.
      {wire::kTrue + Int32(1) + wire::kNull + wire::kNull, false, "", ""},
      {wire::kTrue + Str("E") + Int32(1) + wire::kNull, false, "", ""},
      // A result or details cut short at the nesting limit: no envelope.
      {Success(wire::TooDeepList()), false, "", kNestingTooDeep},
      {Error("E", "", wire::TooDeepList()), false, "", kNestingTooDeep},
  };
  for (const Case& c : cases) {
    const Bytes bytes = ToBytes(c.bytes);
    std::vector<std::string> outcomes;
    RecordingResult result(&outcomes);
    testing::internal::CaptureStderr();
    EXPECT_EQ(Codec().DecodeReplyInto(bytes.data(), bytes.size(), &result), c.decoded);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.error) << (&c - cases);
    EXPECT_EQ(outcomes,
              c.outcome.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.outcome})
        << (&c - cases);
  }
}

TEST(StandardMethodCodecTest, OneCodecPerSerializer) {
  static const flutter::StandardCodecSerializer other;  // registered codecs outlive it otherwise
  EXPECT_EQ(&StandardMethodCodec::ForSerializer(), &Codec());
  EXPECT_EQ(&StandardMethodCodec::ForSerializer(&flutter::StandardCodecSerializer::Shared()),
            &Codec());
  EXPECT_NE(&StandardMethodCodec::ForSerializer(&other), &Codec());
}

}  // namespace
}  // namespace kestro_test
