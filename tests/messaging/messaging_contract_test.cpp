// What the messaging layer must do with any engine library: the recording engine natively and
// the stand-in engine library under Wine run these same cases, and each backend fails a test
// whose engine saw misuse (a fault).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine_client/messaging/binary_messenger_impl.h"
#include "tests/messaging/messaging_backend.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Host messages reach the application byte for byte; each reply arrives once, freeing its holder.
// A replaced handler gets the channel's messages; replaced and removed handlers are destroyed at
// once; removals leave other channels alone and clear a callback this messenger never installed.
TEST(MessagingContractTest, SendsAndHandlersReachTheEngine) {
  auto backend = kestro_test::MakeMessagingBackend({{"kestro/a", {0x01}}});
  flutter::BinaryMessengerImpl messenger(backend->messenger());
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
  std::vector<std::string> sent;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.channel) + " " + kestro_test::Hex(c.bytes));
    auto token = std::make_shared<int>(0);
    int replies = 0;
    if (c.with_reply) {
      messenger.Send(c.channel, c.bytes.data(), c.bytes.size(),
                     [token, &replies](const uint8_t*, size_t size) {
                       EXPECT_EQ(size, 0u);
                       ++replies;
                     });
    } else {
      messenger.Send(c.channel, c.bytes.data(), c.bytes.size());
    }
    backend->AnswerWithNothing();
    EXPECT_EQ(replies, c.with_reply ? 1 : 0);
    EXPECT_EQ(token.use_count(), 1);  // the reply holder is gone once the reply was delivered
    sent.push_back("event " + std::string(c.channel) + " " + kestro_test::Hex(c.bytes));
  }
  EXPECT_EQ(backend->Sent(), sent);

  std::vector<std::string> received;
  auto captured = std::make_shared<int>(0);
  auto named = [&received, &captured](const char* name) {
    return [&received, name, captured](const uint8_t*, size_t, flutter::BinaryReply) {
      received.push_back(name);
    };
  };
  messenger.SetMessageHandler("kestro/a", named("first"));
  messenger.SetMessageHandler("kestro/a", named("second"));
  messenger.SetMessageHandler("kestro/b", named("b"));
  messenger.SetMessageHandler("kestro/never", nullptr);
  EXPECT_TRUE(backend->HasCallback("kestro/a"));
  EXPECT_EQ(backend->PlayApplication(), std::vector<std::string>{"reply kestro/a none"});
  EXPECT_EQ(received, std::vector<std::string>{"second"});
  EXPECT_EQ(captured.use_count(), 3);  // here and in "second" and "b"
  messenger.SetMessageHandler("kestro/a", nullptr);
  EXPECT_EQ(captured.use_count(), 2);
  EXPECT_FALSE(backend->HasCallback("kestro/a"));
  EXPECT_TRUE(backend->HasCallback("kestro/b"));

  FlutterDesktopMessengerSetCallback(
      backend->messenger(), "kestro/foreign",
      [](FlutterDesktopMessengerRef, const FlutterDesktopMessage*, void*) {}, nullptr);
  ASSERT_TRUE(backend->HasCallback("kestro/foreign"));
  messenger.SetMessageHandler("kestro/foreign", nullptr);
  EXPECT_FALSE(backend->HasCallback("kestro/foreign"));
}

// Whatever a handler does with its reply function, the application sees one answer per message.
// After shutdown nothing passes: a send is refused and frees its reply uncalled, and a late
// answer reaches nobody and says nothing.
TEST(MessagingContractTest, EachMessageIsAnsweredOnceAndNothingPassesAfterShutdown) {
  auto backend = kestro_test::MakeMessagingBackend(
      {{"kestro/twice", {0x01}}, {"kestro/copy", {0x02, 0x00}}, {"kestro/later", {0x03}}});
  flutter::BinaryMessengerImpl messenger(backend->messenger());
  const uint8_t first[] = {0xaa};
  const uint8_t second[] = {0xbb};
  std::vector<Bytes> received;
  std::vector<flutter::BinaryReply> kept;
  enum Way { kTwice, kCopyThenOriginal, kLater };
  auto handler = [&](Way way) {
    return [&, way](const uint8_t* message, size_t size, flutter::BinaryReply reply) {
      received.emplace_back(message, message + size);
      if (way == kLater) {
        kept.push_back(std::move(reply));
        return;
      }
      flutter::BinaryReply copy = reply;
      if (way == kTwice) {
        reply(first, 1);
        reply(second, 1);
      } else {
        copy(second, 1);
        reply(first, 1);
      }
    };
  };
  messenger.SetMessageHandler("kestro/twice", handler(kTwice));
  messenger.SetMessageHandler("kestro/copy", handler(kCopyThenOriginal));
  messenger.SetMessageHandler("kestro/later", handler(kLater));

  testing::internal::CaptureStderr();
  std::vector<std::string> seen = backend->PlayApplication();
  backend->DestroyEngine();
  auto token = std::make_shared<int>(0);
  bool called = false;
  messenger.Send("kestro/late", first, 1,
                 [token, &called](const uint8_t*, size_t) { called = true; });
  messenger.Send("kestro/late", first, 1);
  EXPECT_EQ(token.use_count(), 1);
  EXPECT_FALSE(called);
  EXPECT_EQ(backend->Sent(), std::vector<std::string>{});
  ASSERT_EQ(kept.size(), 1u);
  kept[0](first, 1);
  kept.clear();  // drops the last reference on the messenger after the engine ended
  const std::string duplicate =
      "Error: Response can be set only once. Ignoring duplicate response.\n";
  EXPECT_EQ(testing::internal::GetCapturedStderr(), duplicate + duplicate);

  EXPECT_EQ(seen, (std::vector<std::string>{"reply kestro/twice aa", "reply kestro/copy bb",
                                            "reply kestro/later none"}));
  EXPECT_EQ(received, (std::vector<Bytes>{{0x01}, {0x02, 0x00}, {0x03}}));
}

}  // namespace
