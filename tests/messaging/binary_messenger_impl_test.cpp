// BinaryMessengerImpl against the recording engine, for what only a recording engine can show: the
// order of engine calls around an answer and once-only answers from many threads. What any
// engine library must see is in messaging_contract_test.cpp.
#include "engine_client/messaging/binary_messenger_impl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

#include "tests/fakes/recording_engine.h"

namespace {

using kestro_test::Bytes;

constexpr char kChannel[] = "kestro/test";

class BinaryMessengerImplTest : public ::testing::Test {
 protected:
  kestro_test::RecordingEngine engine_;
  flutter::BinaryMessengerImpl messenger_{engine_.messenger()};
  std::vector<flutter::BinaryReply> kept_;
};

TEST_F(BinaryMessengerImplTest, AnswerHoldsTheMessengerLockAroundAvailabilityAndResponse) {
  messenger_.SetMessageHandler(
      kChannel, [](const uint8_t*, size_t, flutter::BinaryReply reply) { reply(nullptr, 0); });
  const size_t start = engine_.calls().size();
  kestro_test::Delivery delivery = engine_.Deliver(kChannel, {});
  const std::vector<std::string> calls = engine_.calls();
  EXPECT_EQ(
      std::vector<std::string>(calls.begin() + static_cast<std::ptrdiff_t>(start), calls.end()),
      (std::vector<std::string>{
          "FlutterDesktopMessengerAddRef", "FlutterDesktopMessengerLock",
          "FlutterDesktopMessengerIsAvailable", "FlutterDesktopMessengerSendResponse",
          "FlutterDesktopMessengerUnlock", "FlutterDesktopMessengerRelease"}));
  EXPECT_EQ(engine_.ResponsesTo(delivery.handle), std::vector<Bytes>{Bytes()});
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
  for (int i = 1; i < kThreads; ++i) {
    expected += "Error: Response can be set only once. Ignoring duplicate response.\n";
  }
  EXPECT_EQ(lines, expected);
  EXPECT_TRUE(engine_.faults().empty());
  EXPECT_EQ(engine_.locks_held(), 0);
}

}  // namespace
