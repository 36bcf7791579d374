#include "engine_client/codec/standard_method_codec.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "engine_client/codec/byte_streams.h"
#include "engine_client/codec/standard_codec_serializer.h"
#include "tests/codec/codec_test_util.h"

namespace {

using flutter::EncodableValue;
using flutter::EncodableValueMap;
using flutter::MethodCall;
using flutter::StandardMethodCodec;
using kestro_test::Bytes;
using kestro_test::Hex;
using kestro_test::kInvalidRead;
using kestro_test::kNestingTooDeep;
using kestro_test::Same;
using kestro_test::StderrCapture;
using kestro_test::TooDeepListHex;

const StandardMethodCodec& Codec() { return StandardMethodCodec::ForSerializer(); }

// Records every outcome delivered to it, in order, as "success", "error <code> '<message>'" or
// "not implemented", followed by " = <encoded bytes>" when a result or details came with it.
class RecordingResult : public flutter::MethodResult<EncodableValue> {
 public:
  void Success(const EncodableValue* result) override {
    outcomes.push_back("success" + Describe(result));
  }
  void Error(const std::string& code, const std::string& message,
             const EncodableValue* details) override {
    outcomes.push_back("error " + code + " '" + message + "'" + Describe(details));
  }
  void NotImplemented() override { outcomes.push_back("not implemented"); }

  std::vector<std::string> outcomes;

 private:
  static std::string Describe(const EncodableValue* value) {
    if (value == nullptr) return "";
    Bytes bytes;
    flutter::ByteBufferStreamWriter writer(&bytes);
    flutter::StandardCodecSerializer::Shared().WriteValue(*value, &writer);
    std::string text = " =";
    for (uint8_t byte : bytes) {
      char hex[4];
      std::snprintf(hex, sizeof hex, " %02X", byte);
      text += hex;
    }
    return text;
  }
};

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
      {Codec().EncodeSuccessReply(&yes), "01"},
      {Codec().EncodeSuccessReply(), "00"},
      {Codec().EncodeSuccessReply(&null_value), "00"},
      {Codec().EncodeSuccessReply(&one), "06 00 00 00 00 00 00 00 00 00 00 00 00 F0 3F"},
      {Codec().EncodeErrorReply("INVALID_ARGS", "macAddress is required"),
       "01 07 0C 'INVALID_ARGS' 07 16 'macAddress is required' 00"},
      {Codec().EncodeErrorReply("DECODE_ERROR", "", &details),
       "01 07 0C 'DECODE_ERROR' 00 03 07 00 00 00"},
      {Codec().EncodeErrorReply(""), "01 07 00 00 00"},
      {Codec().EncodeCall(MethodCall<EncodableValue>("isBleConnected", nullptr)),
       "07 0E 'isBleConnected' 00"},
  };
  // Success envelopes lead with 00, which the double's fill counts.
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(*cases[i].encoded, Hex("00 " + cases[i].bytes));
  for (size_t i = 4; i < std::size(cases); ++i) EXPECT_EQ(*cases[i].encoded, Hex(cases[i].bytes));
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
      {"07 0E 'isBleConnected'", "isBleConnected", EncodableValue(), kInvalidRead},
      {"07 08 'printBle' 0D 02 07 05 'bytes' 08 01 1B 07 0A 'macAddress' 07 01 'A' FF", "printBle",
       EncodableValueMap{{"macAddress", "A"}, {"bytes", std::vector<uint8_t>{27}}}, ""},
      {"03 01 00 00 00", nullptr, EncodableValue(), not_a_name},
      {"", nullptr, EncodableValue(), kInvalidRead + not_a_name},
      // Arguments cut short at the nesting limit make the whole call undecodable.
      {"07 08 'printBle' 0D 01 07 05 'bytes' " + TooDeepListHex(), nullptr, EncodableValue(),
       kNestingTooDeep},
  };
  for (const Case& c : cases) {
    const Bytes bytes = Hex(c.bytes);
    StderrCapture capture;
    const auto call = Codec().DecodeCall(bytes.data(), bytes.size());
    EXPECT_EQ(capture.Text(), c.error) << c.bytes;
    if (c.name == nullptr) {
      EXPECT_EQ(call, nullptr) << c.bytes;
      continue;
    }
    ASSERT_NE(call, nullptr) << c.bytes;
    EXPECT_EQ(call->MethodName(), c.name);
    ASSERT_NE(call->Arguments(), nullptr);
    EXPECT_TRUE(Same(*call->Arguments(), c.arguments)) << c.bytes;
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
      {"00 01", true, "success = 01", ""},
      {"00 00", true, "success", ""},
      {"", true, "success", kInvalidRead + kInvalidRead},
      {"01 07 0C 'DECODE_ERROR' 00 00", true, "error DECODE_ERROR ''", ""},
      {"01 07 01 'E' 07 02 'hi' 03 05 00 00 00", true, "error E 'hi' = 03 05 00 00 00", ""},
      {"02", false, "", ""},
      // Not envelopes: a code that is not text, a message that is neither text nor null.
      {"01 03 01 00 00 00 00 00", false, "", ""},
      {"01 07 01 'E' 03 01 00 00 00 00", false, "", ""},
      // A result or details cut short at the nesting limit: no envelope.
      {"00 " + TooDeepListHex(), false, "", kNestingTooDeep},
      {"01 07 01 'E' 00 " + TooDeepListHex(), false, "", kNestingTooDeep},
  };
  for (const Case& c : cases) {
    const Bytes bytes = Hex(c.bytes);
    RecordingResult result;
    StderrCapture capture;
    EXPECT_EQ(Codec().DecodeReplyInto(bytes.data(), bytes.size(), &result), c.decoded);
    EXPECT_EQ(capture.Text(), c.error) << c.bytes;
    EXPECT_EQ(result.outcomes,
              c.outcome.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.outcome})
        << c.bytes;
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
