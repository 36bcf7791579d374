// What the messaging layer must do with any engine library: the recording engine natively and
// the stand-in engine library under Wine run these same cases.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine_client/messaging/binary_messenger_impl.h"
#include "engine_client/messaging/one_shot_reply.h"
#include "tests/messaging/messaging_backend.h"

namespace {

using Bytes = std::vector<uint8_t>;

class MessagingContractTest : public ::testing::Test {
 protected:
  std::unique_ptr<kestro_test::MessagingBackend> backend_ = kestro_test::MakeMessagingBackend();
  flutter::BinaryMessengerImpl messenger_{backend_->messenger()};
};

TEST_F(MessagingContractTest, SentBytesReachTheApplicationAndEachReplyArrivesOnce) {
  struct Case {
    const char* channel;
    Bytes bytes;
    bool with_reply;
  };
  const Case cases[] = {
      {"kestro/plain", {0x07, 0x02, 'o', 'k', 0x00}, false},
      {"kestro/plain", {}, false},
      {"kestro/reply", {0x00, 0xff, 0x00}, true},
      {"kestro/reply", {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.channel) + (c.with_reply ? " with reply" : ""));
    size_t before = backend_->Sent().size();
    auto token = std::make_shared<int>(0);
    int replies = 0;
    if (c.with_reply) {
      messenger_.Send(c.channel, c.bytes.data(), c.bytes.size(),
                      [token, &replies](const uint8_t*, size_t size) {
                        EXPECT_EQ(size, 0u);
                        ++replies;
                      });
    } else {
      messenger_.Send(c.channel, c.bytes.data(), c.bytes.size());
    }
    backend_->AnswerWithNothing();

    auto sent = backend_->Sent();
    ASSERT_EQ(sent.size(), before + 1);
    EXPECT_EQ(sent.back().channel, c.channel);
    EXPECT_EQ(sent.back().bytes, c.bytes);
    EXPECT_EQ(replies, c.with_reply ? 1 : 0);
    EXPECT_EQ(token.use_count(), 1);  // the reply holder is gone once the reply was delivered
  }
}

TEST_F(MessagingContractTest, SendRefusedAfterShutdownFreesTheReplyUncalled) {
  FlutterDesktopMessengerRef kept = FlutterDesktopMessengerAddRef(backend_->messenger());
  backend_->DestroyEngine();
  size_t before = backend_->Sent().size();
  auto token = std::make_shared<int>(0);
  bool called = false;
  const uint8_t bytes[] = {0x01};
  messenger_.Send("kestro/late", bytes, sizeof(bytes),
                  [token, &called](const uint8_t*, size_t) { called = true; });
  messenger_.Send("kestro/late", bytes, sizeof(bytes));

  EXPECT_EQ(token.use_count(), 1);
  EXPECT_FALSE(called);
  EXPECT_EQ(backend_->Sent().size(), before);
  FlutterDesktopMessengerRelease(kept);
}

TEST_F(MessagingContractTest, HandlerChangesReachTheEngineCallbackTable) {
  auto ignore = [](const uint8_t*, size_t, flutter::BinaryReply) {};
  messenger_.SetMessageHandler("kestro/a", ignore);
  EXPECT_TRUE(backend_->HasCallback("kestro/a"));
  messenger_.SetMessageHandler("kestro/a", ignore);
  EXPECT_TRUE(backend_->HasCallback("kestro/a"));
  messenger_.SetMessageHandler("kestro/a", nullptr);
  EXPECT_FALSE(backend_->HasCallback("kestro/a"));

  // Removal also clears a callback this messenger never installed.
  FlutterDesktopMessengerSetCallback(
      backend_->messenger(), "kestro/foreign",
      [](FlutterDesktopMessengerRef, const FlutterDesktopMessage*, void*) {}, nullptr);
  ASSERT_TRUE(backend_->HasCallback("kestro/foreign"));
  messenger_.SetMessageHandler("kestro/foreign", nullptr);
  EXPECT_FALSE(backend_->HasCallback("kestro/foreign"));
}

TEST_F(MessagingContractTest, ReplyAfterShutdownIsSilentAndKeepsTheMessengerUsable) {
  auto reply = std::make_unique<flutter::OneShotReply>(backend_->messenger(), nullptr);
  backend_->DestroyEngine();
  testing::internal::CaptureStderr();
  const uint8_t bytes[] = {0x00, 0x01};
  (*reply)(bytes, sizeof(bytes));
  (*reply)(bytes, sizeof(bytes));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  reply.reset();  // releases the last reference on the messenger
}

}  // namespace
