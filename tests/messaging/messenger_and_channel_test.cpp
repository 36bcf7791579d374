// BinaryMessengerImpl and MethodChannel against the recording engine, for what only a recording
// engine can show: the engine calls around an answer, once-only answers from many threads, the
// bytes of a call and how a reply becomes one outcome; also whole diagnostic lines from
// concurrent writers. What any engine library must see is in messaging_contract_test.cpp.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine_client/codec/standard_method_codec.h"
#include "engine_client/codec/stderr_line.h"
#include "engine_client/messaging/binary_messenger_impl.h"
#include "engine_client/messaging/method_channel.h"
#include "tests/codec/codec_test_util.h"
#include "tests/fakes/recording_engine.h"

namespace kestro_test {
namespace {

using flutter::EncodableValue;

constexpr char kChannel[] = "kestro/test";

class MessagingTest : public ::testing::Test {
 protected:
  RecordingEngine engine_;
  flutter::BinaryMessengerImpl messenger_{engine_.messenger()};
  flutter::MethodChannel channel_{&messenger_, kChannel,
                                  &flutter::StandardMethodCodec::ForSerializer()};
};

// An answer holds the messenger lock around the availability test and the response; copies of
// one reply answering on many threads at once send one response, and each other says so.
TEST_F(MessagingTest, AnswersAreLockedAndSentOnce) {
  std::vector<flutter::BinaryReply> kept;
  messenger_.SetMessageHandler(kChannel,
                               [&kept](const uint8_t*, size_t size, flutter::BinaryReply reply) {
                                 if (size == 0) return reply(nullptr, 0);
                                 kept.push_back(std::move(reply));
                               });
  const size_t start = engine_.calls().size();
  const Delivery answered = engine_.Deliver(kChannel, {});
  const std::vector<std::string> calls = engine_.calls();
  EXPECT_EQ(
      std::vector<std::string>(calls.begin() + static_cast<std::ptrdiff_t>(start), calls.end()),
      (std::vector<std::string>{
          "FlutterDesktopMessengerAddRef", "FlutterDesktopMessengerLock",
          "FlutterDesktopMessengerIsAvailable", "FlutterDesktopMessengerSendResponse",
          "FlutterDesktopMessengerUnlock", "FlutterDesktopMessengerRelease"}));
  EXPECT_EQ(engine_.ResponsesTo(answered.handle), std::vector<Bytes>{Bytes()});

  const Delivery delivery = engine_.Deliver(kChannel, {0x05});
  ASSERT_EQ(kept.size(), 1u);
  constexpr int kThreads = 8;
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  testing::internal::CaptureStderr();
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([reply = kept[0], &go, i] {
      while (!go.load()) std::this_thread::yield();
      const uint8_t answer[] = {static_cast<uint8_t>(i)};
      reply(answer, 1);
    });
  }
  go.store(true);
  for (std::thread& thread : threads) thread.join();
  std::string expected;
  for (int i = 1; i < kThreads; ++i) {
    expected += "Error: Response can be set only once. Ignoring duplicate response.\n";
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), expected);
  EXPECT_EQ(engine_.ResponsesTo(delivery.handle).size(), 1u);
  EXPECT_TRUE(engine_.faults().empty());
  EXPECT_EQ(engine_.locks_held(), 0);
}

// Lines written from four threads at once come out whole: each once, none split or joined.
TEST(StderrLineTest, LinesFromConcurrentWritersStayWhole) {
  std::map<std::string, int> expected;
  std::vector<std::thread> threads;
  testing::internal::CaptureStderr();
  for (const char fill : {'a', 'b', 'c', 'd'}) {
    expected[std::string(80, fill)] = 1000;
    threads.emplace_back([fill] {
      for (int i = 0; i < 1000; ++i) kestro::WriteStderrLine(std::string(80, fill));
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::istringstream captured(testing::internal::GetCapturedStderr());
  std::map<std::string, int> seen;
  for (std::string line; std::getline(captured, line);) ++seen[line];
  EXPECT_EQ(seen, expected);
}

// A call without a result receiver is a plain send of the encoded call. With one, a reply becomes
// exactly one outcome (an undecodable one after its error line) before the receiver goes; a call
// the engine refuses destroys the receiver with no outcome.
TEST_F(MessagingTest, CallsAndTheirOutcomes) {
  channel_.InvokeMethod("print", std::make_unique<EncodableValue>(int32_t{7}));
  channel_.InvokeMethod("m", nullptr);
  EXPECT_EQ(engine_.calls(), std::vector<std::string>(2, "FlutterDesktopMessengerSend"));
  const auto sends = engine_.plain_sends();
  ASSERT_EQ(sends.size(), 2u);
  EXPECT_EQ(sends[0].channel, kChannel);
  EXPECT_EQ(sends[0].bytes, ToBytes(wire::Call("print", wire::Int32(7))));
  EXPECT_EQ(sends[1].bytes, ToBytes(wire::Call("m")));

  const std::string not_implemented = "<not implemented>\n";
  struct Case {
    std::string reply, outcome, error;
  };
  const Case cases[] = {
      {"", "not implemented", not_implemented},
      {wire::Success(wire::Int32(42)), "success = " + wire::Int32(42), ""},
      {"\x05", "not implemented",
       "Unable to decode reply to method invocation on channel kestro/test\n" + not_implemented},
  };
  std::vector<std::string> log;
  for (const Case& c : cases) {
    log.clear();
    channel_.InvokeMethod("ask", nullptr, std::make_unique<RecordingResult>(&log));
    const auto pending = engine_.pending_replies();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].channel, kChannel);
    EXPECT_EQ(pending[0].bytes, ToBytes(wire::Call("ask")));
    EXPECT_TRUE(log.empty());
    testing::internal::CaptureStderr();
    EXPECT_TRUE(engine_.AnswerPending(0, ToBytes(c.reply)));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.error) << c.outcome;
    EXPECT_EQ(log, (std::vector<std::string>{c.outcome, "destroyed"}));
  }
  EXPECT_EQ(engine_.plain_sends().size(), 2u);

  FlutterDesktopMessengerRef kept = FlutterDesktopMessengerAddRef(engine_.messenger());
  engine_.DestroyEngine();  // a stopped engine refuses every send
  log.clear();
  channel_.InvokeMethod("ask", std::make_unique<EncodableValue>("x"),
                        std::make_unique<RecordingResult>(&log));
  EXPECT_EQ(log, std::vector<std::string>{"destroyed"});
  EXPECT_EQ(engine_.calls().back(), "FlutterDesktopMessengerSendWithReply");
  FlutterDesktopMessengerRelease(kept);
}

}  // namespace
}  // namespace kestro_test
