// BinaryMessengerImpl against the recording engine: what reaches the engine, once-only replies,
// reply lifetimes and the engine's callback table.
#include "engine_client/messaging/binary_messenger_impl.h"

#include <gtest/gtest.h>

#include <algorithm>
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

  // Installs a handler that keeps every reply function it is given.
  void KeepReplies() {
    messenger_.SetMessageHandler(kChannel, [this](const uint8_t*, size_t, flutter::BinaryReply r) {
      kept_.push_back(std::move(r));
    });
  }

  RecordingEngine engine_;
  flutter::BinaryMessengerImpl messenger_{engine_.messenger()};
  std::vector<flutter::BinaryReply> kept_;
};

TEST_F(BinaryMessengerImplTest, SendWithoutReplyUsesThePlainSendOnly) {
  const std::vector<Bytes> messages = {{}, {0x00}, {0x07, 0x02, 'h', 'i', 0xff}};
  for (const Bytes& message : messages) {
    size_t start = engine_.calls().size();
    messenger_.Send(kChannel, message.data(), message.size());
    EXPECT_EQ(CallsSince(start), std::vector<std::string>{"FlutterDesktopMessengerSend"});
    ASSERT_FALSE(engine_.plain_sends().empty());
    EXPECT_EQ(engine_.plain_sends().back().channel, kChannel);
    EXPECT_EQ(engine_.plain_sends().back().bytes, message);
  }
  EXPECT_TRUE(engine_.pending_replies().empty());
}

TEST_F(BinaryMessengerImplTest, ReplyReachesTheCallerOnceAndItsHolderIsFreed) {
  auto token = std::make_shared<int>(0);
  std::vector<Bytes> replies;
  const Bytes message = {1, 2, 3};
  messenger_.Send(kChannel, message.data(), message.size(),
                  [token, &replies](const uint8_t* reply, size_t size) {
                    replies.emplace_back(reply, reply + size);
                  });
  EXPECT_EQ(engine_.calls(), std::vector<std::string>{"FlutterDesktopMessengerSendWithReply"});
  ASSERT_EQ(engine_.pending_replies().size(), 1u);
  EXPECT_EQ(engine_.pending_replies()[0].bytes, message);
  EXPECT_EQ(token.use_count(), 2);

  ASSERT_TRUE(engine_.AnswerPending(0, {0x09, 0x00}));
  EXPECT_EQ(replies, std::vector<Bytes>{Bytes({0x09, 0x00})});
  EXPECT_EQ(token.use_count(), 1);
}

TEST_F(BinaryMessengerImplTest, RefusedSendDropsTheReplyWithoutCallingIt) {
  engine_.RefuseSends(true);
  auto token = std::make_shared<int>(0);
  bool called = false;
  const Bytes message = {4};
  messenger_.Send(kChannel, message.data(), message.size(),
                  [token, &called](const uint8_t*, size_t) { called = true; });
  EXPECT_EQ(engine_.calls(), std::vector<std::string>{"FlutterDesktopMessengerSendWithReply"});
  EXPECT_EQ(token.use_count(), 1);
  EXPECT_FALSE(called);
  EXPECT_TRUE(engine_.pending_replies().empty());
}

TEST_F(BinaryMessengerImplTest, HandlerGetsTheMessageBytes) {
  std::vector<Bytes> seen;
  messenger_.SetMessageHandler(kChannel, [&seen](const uint8_t* m, size_t n, flutter::BinaryReply) {
    seen.emplace_back(m, m + n);
  });
  const std::vector<Bytes> messages = {{}, {0x00, 0x01, 0x00}};
  for (const Bytes& message : messages) EXPECT_TRUE(engine_.Deliver(kChannel, message).delivered);
  EXPECT_EQ(seen, messages);
}

// Every way of answering one message twice: the same function, a copy made before the first
// answer (in either order), and a copy made after it.
TEST_F(BinaryMessengerImplTest, SecondAnswerIsRefusedWithOneLine) {
  enum class Second { kSame, kCopyFirst, kOriginalFirst, kCopyAfter };
  for (Second way :
       {Second::kSame, Second::kCopyFirst, Second::kOriginalFirst, Second::kCopyAfter}) {
    SCOPED_TRACE(static_cast<int>(way));
    messenger_.SetMessageHandler(kChannel,
                                 [way](const uint8_t*, size_t, flutter::BinaryReply reply) {
                                   const uint8_t first[] = {0xaa};
                                   const uint8_t second[] = {0xbb};
                                   flutter::BinaryReply copy = reply;
                                   switch (way) {
                                     case Second::kSame:
                                       reply(first, 1);
                                       reply(second, 1);
                                       break;
                                     case Second::kCopyFirst:
                                       copy(first, 1);
                                       reply(second, 1);
                                       break;
                                     case Second::kOriginalFirst:
                                       reply(first, 1);
                                       copy(second, 1);
                                       break;
                                     case Second::kCopyAfter: {
                                       reply(first, 1);
                                       flutter::BinaryReply late = reply;
                                       late(second, 1);
                                       break;
                                     }
                                   }
                                 });
    testing::internal::CaptureStderr();
    kestro_test::Delivery delivery = engine_.Deliver(kChannel, {0x01});
    EXPECT_EQ(testing::internal::GetCapturedStderr(), kDuplicateLine);
    EXPECT_EQ(delivery.responses, std::vector<Bytes>{Bytes({0xaa})});
  }
  EXPECT_TRUE(engine_.faults().empty());
  EXPECT_EQ(engine_.locks_held(), 0);
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

TEST_F(BinaryMessengerImplTest, LateAnswerFromAnotherThreadIsSentOnce) {
  KeepReplies();
  kestro_test::Delivery delivery = engine_.Deliver(kChannel, {0x05});
  EXPECT_TRUE(delivery.responses.empty());
  ASSERT_EQ(kept_.size(), 1u);

  const uint8_t answer[] = {0x00, 0x01};
  std::thread([reply = kept_[0], &answer] { reply(answer, sizeof(answer)); }).join();
  EXPECT_EQ(engine_.ResponsesTo(delivery.handle), std::vector<Bytes>{Bytes({0x00, 0x01})});
  EXPECT_TRUE(engine_.faults().empty());
}

TEST_F(BinaryMessengerImplTest, ConcurrentCopiesSendExactlyOneResponse) {
  KeepReplies();
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

TEST_F(BinaryMessengerImplTest, AnswerAfterEngineShutdownIsSilentAndKeepsMessengerValid) {
  KeepReplies();
  engine_.Deliver(kChannel, {0x05});
  ASSERT_EQ(kept_.size(), 1u);
  engine_.DestroyEngine();
  EXPECT_EQ(engine_.reference_count(), 1);  // only the reply's reference is left
  ASSERT_NE(engine_.messenger(), nullptr);

  testing::internal::CaptureStderr();
  const uint8_t answer[] = {0x01};
  kept_[0](answer, 1);
  kept_[0](answer, 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(engine_.responses().empty());
  EXPECT_TRUE(engine_.faults().empty());
  EXPECT_EQ(engine_.locks_held(), 0);

  kept_.clear();
  EXPECT_EQ(engine_.reference_count(), 0);
  EXPECT_EQ(engine_.messenger(), nullptr);
}

TEST_F(BinaryMessengerImplTest, MessengerReferenceLastsAsLongAsAnyReplyCopy) {
  messenger_.SetMessageHandler(kChannel, [this](const uint8_t*, size_t, flutter::BinaryReply r) {
    kept_.push_back(r);
    kept_.push_back(std::move(r));
  });
  engine_.Deliver(kChannel, {});
  ASSERT_EQ(kept_.size(), 2u);
  EXPECT_EQ(engine_.reference_count(), 2);
  kept_.pop_back();
  EXPECT_EQ(engine_.reference_count(), 2);
  kept_.pop_back();
  EXPECT_EQ(engine_.reference_count(), 1);
  std::vector<std::string> calls = engine_.calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "FlutterDesktopMessengerAddRef"), 1);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "FlutterDesktopMessengerRelease"), 1);
}

TEST_F(BinaryMessengerImplTest, ReplacedHandlerKeepsItsCallbackAddressAndGetsTheMessages) {
  std::vector<std::string> received;
  messenger_.SetMessageHandler(kChannel, [&received](const uint8_t*, size_t, flutter::BinaryReply) {
    received.push_back("first");
  });
  auto first = engine_.CallbackFor(kChannel);
  messenger_.SetMessageHandler(kChannel, [&received](const uint8_t*, size_t, flutter::BinaryReply) {
    received.push_back("second");
  });
  auto second = engine_.CallbackFor(kChannel);

  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->user_data, second->user_data);
  EXPECT_EQ(second->callback, &flutter::BinaryMessengerImpl::ForwardMessage);
  EXPECT_EQ(engine_.callbacks().size(), 1u);
  engine_.Deliver(kChannel, {});
  EXPECT_EQ(received, std::vector<std::string>{"second"});
}

TEST_F(BinaryMessengerImplTest, RemovingAHandlerClearsTheEngineCallback) {
  messenger_.SetMessageHandler("kestro/a", [](const uint8_t*, size_t, flutter::BinaryReply) {});
  messenger_.SetMessageHandler("kestro/b", [](const uint8_t*, size_t, flutter::BinaryReply) {});
  // A callback this messenger never installed is still cleared by its removal.
  FlutterDesktopMessengerSetCallback(
      engine_.messenger(), "kestro/foreign",
      [](FlutterDesktopMessengerRef, const FlutterDesktopMessage*, void*) {}, nullptr);

  messenger_.SetMessageHandler("kestro/a", nullptr);
  messenger_.SetMessageHandler("kestro/foreign", nullptr);
  messenger_.SetMessageHandler("kestro/never", nullptr);

  auto callbacks = engine_.callbacks();
  ASSERT_EQ(callbacks.size(), 1u);
  EXPECT_EQ(callbacks.begin()->first, "kestro/b");
  EXPECT_FALSE(engine_.Deliver("kestro/a", {}).delivered);
  std::vector<std::string> calls = engine_.calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "FlutterDesktopMessengerSetCallback"), 6);
  EXPECT_TRUE(engine_.faults().empty());  // removals pass null user data
}

}  // namespace
