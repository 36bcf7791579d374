#include "engine_client/codec/standard_method_codec.h"

#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/codec/codec_test_util.h"

namespace {

using flutter::EncodableValue;
using flutter::EncodableValueMap;
using flutter::MethodCall;
using flutter::StandardMethodCodec;
using kestro_test::Bytes;
using kestro_test::Hex;
using kestro_test::kInvalidRead;
using kestro_test::Same;
using kestro_test::StderrCapture;

const StandardMethodCodec& Codec() { return StandardMethodCodec::ForSerializer(); }

// Records every outcome delivered to it, in order.
class RecordingResult : public flutter::MethodResult<EncodableValue> {
 public:
  struct Outcome {
    std::string kind;  // "success", "error" or "not implemented"
    std::string code;
    std::string message;
    std::optional<EncodableValue> value;  // the result or the details, when given
  };

  void Success(const EncodableValue* result) override {
    outcomes.push_back({"success", "", "", Copy(result)});
  }
  void Error(const std::string& code, const std::string& message,
             const EncodableValue* details) override {
    outcomes.push_back({"error", code, message, Copy(details)});
  }
  void NotImplemented() override { outcomes.push_back({"not implemented", "", "", std::nullopt}); }

  std::vector<Outcome> outcomes;

 private:
  static std::optional<EncodableValue> Copy(const EncodableValue* value) {
    return value ? std::optional<EncodableValue>(*value) : std::nullopt;
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
  const MethodCall<EncodableValue> call(
      "printBle", std::make_unique<EncodableValue>(EncodableValueMap{{"jobUuid", "j"}}));
  const auto encoded = Codec().EncodeCall(call);
  const auto decoded = Codec().DecodeCall(encoded->data(), encoded->size());
  EXPECT_TRUE(Same(*decoded->Arguments(), *call.Arguments()));
}

TEST(StandardMethodCodecTest, DecodesRepliesIntoTheResult) {
  struct Case {
    std::string bytes;
    bool decoded;
    std::string kind;  // empty when nothing may be delivered
    std::string code;
    std::string message;
    std::optional<EncodableValue> value;
    std::string error;
  };
  const Case cases[] = {
      {"00 01", true, "success", "", "", EncodableValue(true), ""},
      {"00 00", true, "success", "", "", std::nullopt, ""},
      {"", true, "success", "", "", std::nullopt, kInvalidRead + kInvalidRead},
      {"01 07 0C 'DECODE_ERROR' 00 00", true, "error", "DECODE_ERROR", "", std::nullopt, ""},
      {"01 07 01 'E' 07 02 'hi' 03 05 00 00 00", true, "error", "E", "hi", EncodableValue(5), ""},
      {"02", false, "", "", "", std::nullopt, ""},
      // Not envelopes: a code that is not text, a message that is neither text nor null.
      {"01 03 01 00 00 00 00 00", false, "", "", "", std::nullopt, ""},
      {"01 07 01 'E' 03 01 00 00 00 00", false, "", "", "", std::nullopt, ""},
  };
  for (const Case& c : cases) {
    const Bytes bytes = Hex(c.bytes);
    RecordingResult result;
    StderrCapture capture;
    EXPECT_EQ(Codec().DecodeReplyInto(bytes.data(), bytes.size(), &result), c.decoded);
    EXPECT_EQ(capture.Text(), c.error) << c.bytes;
    if (c.kind.empty()) {
      EXPECT_TRUE(result.outcomes.empty()) << c.bytes;
      continue;
    }
    ASSERT_EQ(result.outcomes.size(), 1u) << c.bytes;
    const RecordingResult::Outcome& outcome = result.outcomes[0];
    EXPECT_EQ(outcome.kind, c.kind) << c.bytes;
    EXPECT_EQ(outcome.code, c.code) << c.bytes;
    EXPECT_EQ(outcome.message, c.message) << c.bytes;
    EXPECT_EQ(outcome.value.has_value(), c.value.has_value()) << c.bytes;
    if (outcome.value && c.value) {
      EXPECT_TRUE(Same(*outcome.value, *c.value)) << c.bytes;
    }
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
