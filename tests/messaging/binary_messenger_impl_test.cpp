// BinaryMessengerImpl against the recording engine: what reaches the engine, once-only replies,
// reply lifetimes and the engine's callback table.
#include "engine_client/messaging/binary_messenger_impl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/fakes/recording_engine.h"

namespace {

using kestro_test::Bytes;
using kestro_test::RecordingEngine;

constexpr char kChannel[] = "kestro/test";
constexpr char kDuplicateLine[] =
    "Error: Response can be set only once. Ignoring duplicate response.\n";

class BinaryMessengerImplTest : public ::testing::Test {
 protected:
  // Calls recorded from this point on (the fixture's own set-up is not of interest).
  std::vector<std::string> CallsSince(size_t start) const {
    std::vector<std::string> all = engine_.calls();
    return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(start), all.end());
  }

  RecordingEngine engine_;
  flutter::BinaryMessengerImpl messenger_{engine_.messenger()};
  std::vector<flutter::BinaryReply> kept_;
};

TEST_F(BinaryMessengerImplTest, SendUsesTheReplyFunctionOnlyWhenAReplyIsWanted) {
  const Bytes message = {0x07, 0x02, 'h', 'i', 0x00};
  messenger_.Send(kChannel, message.data(), message.size());
  EXPECT_EQ(engine_.calls(), std::vector<std::string>{"FlutterDesktopMessengerSend"});
  ASSERT_EQ(engine_.plain_sends().size(), 1u);
  EXPECT_EQ(engine_.plain_sends()[0].bytes, message);

  std::vector<Bytes> replies;
  messenger_.Send(
      kChannel, message.data(), message.size(),
      [&replies](const uint8_t* reply, size_t size) { replies.emplace_back(reply, reply + size); });
  EXPECT_EQ(engine_.calls().back(), "FlutterDesktopMessengerSendWithReply");
  ASSERT_EQ(engine_.pending_replies().size(), 1u);
  EXPECT_EQ(engine_.pending_replies()[0].bytes, message);
  ASSERT_TRUE(engine_.AnswerPending(0, {0x09, 0x00}));
  EXPECT_EQ(replies, std::vector<Bytes>{Bytes({0x09, 0x00})});
}

TEST_F(BinaryMessengerImplTest, AnswerHoldsTheMessengerLockAroundAvailabilityAndResponse) {
  messenger_.SetMessageHandler(
      kChannel, [](const uint8_t*, size_t, flutter::BinaryReply reply) { reply(nullptr, 0); });
  size_t start = engine_.calls().size();
  kestro_test::Delivery delivery = engine_.Deliver(kChannel, {});
  EXPECT_EQ(CallsSince(start),
            (std::vector<std::string>{
                "FlutterDesktopMessengerAddRef", "FlutterDesktopMessengerLock",
                "FlutterDesktopMessengerIsAvailable", "FlutterDesktopMessengerSendResponse",
                "FlutterDesktopMessengerUnlock", "FlutterDesktopMessengerRelease"}));
  EXPECT_EQ(delivery.responses, std::vector<Bytes>{Bytes()});
  EXPECT_EQ(engine_.reference_count(), 1);
}

TEST_F(BinaryMessengerImplTest, ConcurrentCopiesSendExactlyOneResponse) {
  messenger_.SetMessageHandler(kChannel, [this](const uint8_t*, size_t, flutter::BinaryReply r) {
    kept_.push_back(std::move(r));
  });
  kestro_test::Delivery delivery = engine_.Deliver(kChannel, {0x05});
  ASSERT_EQ(kept_.size(), 1u);
  constexpr int kThreads = 8;
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  testing::internal::CaptureStderr();
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([reply = kept_[0], &go, i] {
      while (!go.load()) std::this_thread::yield();
      const uint8_t answer[] = {static_cast<uint8_t>(i)};
      reply(answer, 1);
    });
  }
  go.store(true);
  for (std::thread& thread : threads) thread.join();
  std::string lines = testing::internal::GetCapturedStderr();

  EXPECT_EQ(engine_.ResponsesTo(delivery.handle).size(), 1u);
  std::string expected;
  for (int i = 1; i < kThreads; ++i) expected += kDuplicateLine;
  EXPECT_EQ(lines, expected);
  EXPECT_TRUE(engine_.faults().empty());
  EXPECT_EQ(engine_.locks_held(), 0);
}

// One counted reference per message, held by every copy of its reply function: answers after
// shutdown touch a live messenger object, send nothing and say nothing.
TEST_F(BinaryMessengerImplTest, ReplyCopiesKeepTheMessengerAndAreSilentAfterShutdown) {
  messenger_.SetMessageHandler(kChannel, [this](const uint8_t*, size_t, flutter::BinaryReply r) {
    kept_.push_back(r);
    kept_.push_back(std::move(r));
  });
  engine_.Deliver(kChannel, {0x05});
  ASSERT_EQ(kept_.size(), 2u);
  EXPECT_EQ(engine_.reference_count(), 2);
  engine_.DestroyEngine();
  EXPECT_EQ(engine_.reference_count(), 1);  // only the reply's reference is left

  testing::internal::CaptureStderr();
  const uint8_t answer[] = {0x01};
  kept_[0](answer, 1);
  kept_[1](answer, 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(engine_.responses().empty());
  EXPECT_TRUE(engine_.faults().empty());
  EXPECT_EQ(engine_.locks_held(), 0);

  kept_.pop_back();
  EXPECT_NE(engine_.messenger(), nullptr);
  kept_.pop_back();
  EXPECT_EQ(engine_.reference_count(), 0);
  EXPECT_EQ(engine_.messenger(), nullptr);
}

// A replaced handler keeps its entry (the engine holds its address); removals pass nulls and
// leave other channels alone.
TEST_F(BinaryMessengerImplTest, HandlerChangesKeepTheEngineTableInStep) {
  std::vector<std::string> received;
  auto named = [&received](const char* name) {
    return [&received, name](const uint8_t*, size_t, flutter::BinaryReply) {
      received.push_back(name);
    };
  };
  messenger_.SetMessageHandler(kChannel, named("first"));
  auto first = engine_.CallbackFor(kChannel);
  messenger_.SetMessageHandler(kChannel, named("second"));
  auto second = engine_.CallbackFor(kChannel);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->user_data, second->user_data);
  EXPECT_EQ(second->callback, &flutter::BinaryMessengerImpl::ForwardMessage);
  engine_.Deliver(kChannel, {});
  EXPECT_EQ(received, std::vector<std::string>{"second"});

  messenger_.SetMessageHandler("kestro/b", named("b"));
  messenger_.SetMessageHandler(kChannel, nullptr);
  messenger_.SetMessageHandler("kestro/never", nullptr);
  auto callbacks = engine_.callbacks();
  ASSERT_EQ(callbacks.size(), 1u);
  EXPECT_EQ(callbacks.begin()->first, "kestro/b");
  EXPECT_FALSE(engine_.Deliver(kChannel, {}).delivered);
  EXPECT_TRUE(engine_.faults().empty());  // removals pass null user data
}

}  // namespace
