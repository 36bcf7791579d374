// MethodChannel over the real messenger and standard method codec, against the recording engine:
// the bytes of a call, and how each kind of reply becomes an outcome.
#include "engine_client/messaging/method_channel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "engine_client/codec/standard_method_codec.h"
#include "engine_client/messaging/binary_messenger_impl.h"
#include "tests/fakes/recording_engine.h"

namespace {

using flutter::EncodableValue;
using kestro_test::Bytes;
using kestro_test::RecordingEngine;

constexpr char kChannel[] = "kestro/test";

std::string Describe(const EncodableValue* value) {
  if (value == nullptr) return "none";
  if (auto number = std::get_if<int32_t>(value)) return std::to_string(*number);
  if (auto text = std::get_if<std::string>(value)) return "\"" + *text + "\"";
  return "alternative " + std::to_string(value->index());
}

// Logs every outcome and its own destruction. NotImplemented also marks standard error, so a
// test sees whether an error line came before it.
class RecordingResult : public flutter::MethodResult<EncodableValue> {
 public:
  explicit RecordingResult(std::vector<std::string>* log) : log_(log) {}
  ~RecordingResult() override { log_->push_back("destroyed"); }

  void Success(const EncodableValue* result) override {
    log_->push_back("Success " + Describe(result));
  }
  void Error(const std::string& code, const std::string& message,
             const EncodableValue* details) override {
    log_->push_back("Error " + code + "|" + message + "|" + Describe(details));
  }
  void NotImplemented() override {
    log_->push_back("NotImplemented");
    std::cerr << "<NotImplemented>\n" << std::flush;
  }

 private:
  std::vector<std::string>* log_;
};

class MethodChannelTest : public ::testing::Test {
 protected:
  RecordingEngine engine_;
  flutter::BinaryMessengerImpl messenger_{engine_.messenger()};
  flutter::MethodChannel channel_{&messenger_, kChannel,
                                  &flutter::StandardMethodCodec::ForSerializer()};
  std::vector<std::string> log_;
};

TEST_F(MethodChannelTest, CallWithoutResultReceiverIsAPlainSendOfTheEncodedCall) {
  channel_.InvokeMethod("print", std::make_unique<EncodableValue>(int32_t{7}));
  channel_.InvokeMethod("m", nullptr);

  EXPECT_EQ(engine_.calls(), std::vector<std::string>(2, "FlutterDesktopMessengerSend"));
  auto sends = engine_.plain_sends();
  ASSERT_EQ(sends.size(), 2u);
  EXPECT_EQ(sends[0].channel, kChannel);
  EXPECT_EQ(sends[0].bytes, Bytes({0x07, 0x05, 'p', 'r', 'i', 'n', 't', 0x03, 0x07, 0, 0, 0}));
  EXPECT_EQ(sends[1].bytes, Bytes({0x07, 0x01, 'm', 0x00}));
}

TEST_F(MethodChannelTest, ReplyBecomesExactlyOneOutcome) {
  const std::string undecodable =
      "Unable to decode reply to method invocation on channel kestro/test\n<NotImplemented>\n";
  struct Case {
    const char* name;
    Bytes reply;
    std::vector<std::string> log;
    std::string stderr_text;
  };
  const Case cases[] = {
      {"empty", {}, {"NotImplemented", "destroyed"}, "<NotImplemented>\n"},
      {"success", {0x00, 0x03, 0x2a, 0, 0, 0}, {"Success 42", "destroyed"}, ""},
      {"success without value", {0x00, 0x00}, {"Success none", "destroyed"}, ""},
      {"error",
       {0x01, 0x07, 0x04, 'B', 'U', 'S', 'Y', 0x07, 0x04, 'l', 'a', 't', 'e', 0x07, 0x01, 'd'},
       {"Error BUSY|late|\"d\"", "destroyed"},
       ""},
      {"error without message or details",
       {0x01, 0x07, 0x01, 'E', 0x00, 0x00},
       {"Error E||none", "destroyed"},
       ""},
      {"no envelope", {0x05}, {"NotImplemented", "destroyed"}, undecodable},
      {"error code not text",
       {0x01, 0x03, 0x01, 0, 0, 0, 0x00, 0x00},
       {"NotImplemented", "destroyed"},
       undecodable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    log_.clear();
    channel_.InvokeMethod("ask", nullptr, std::make_unique<RecordingResult>(&log_));
    auto pending = engine_.pending_replies();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].channel, kChannel);
    EXPECT_EQ(pending[0].bytes, Bytes({0x07, 0x03, 'a', 's', 'k', 0x00}));
    EXPECT_TRUE(log_.empty());

    testing::internal::CaptureStderr();
    ASSERT_TRUE(engine_.AnswerPending(0, c.reply));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.stderr_text);
    EXPECT_EQ(log_, c.log);
  }
  std::vector<std::string> calls = engine_.calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "FlutterDesktopMessengerSend"), 0);
}

TEST_F(MethodChannelTest, RefusedCallDestroysTheReceiverWithoutAnOutcome) {
  FlutterDesktopMessengerRef kept = FlutterDesktopMessengerAddRef(engine_.messenger());
  engine_.DestroyEngine();  // a stopped engine refuses every send
  channel_.InvokeMethod("ask", std::make_unique<EncodableValue>("x"),
                        std::make_unique<RecordingResult>(&log_));
  EXPECT_EQ(log_, std::vector<std::string>{"destroyed"});
  EXPECT_EQ(engine_.calls().back(), "FlutterDesktopMessengerSendWithReply");
  FlutterDesktopMessengerRelease(kept);
}

}  // namespace
