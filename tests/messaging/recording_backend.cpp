// The contract tests' backend on Linux: the recording engine.
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "tests/fakes/recording_engine.h"
#include "tests/messaging/messaging_backend.h"

namespace kestro_test {
namespace {

class RecordingBackend : public MessagingBackend {
 public:
  explicit RecordingBackend(std::vector<ApplicationMessage> application)
      : application_(std::move(application)) {}
  ~RecordingBackend() override {
    engine_.DestroyEngine();
    EXPECT_EQ(engine_.faults(), std::vector<std::string>());
  }

  FlutterDesktopMessengerRef messenger() override { return engine_.messenger(); }

  std::vector<std::string> Sent() override {
    std::vector<std::string> sent;
    for (const SentMessage& message : engine_.accepted_sends()) {
      sent.push_back("event " + message.channel + " " + Hex(message.bytes));
    }
    return sent;
  }

  void AnswerWithNothing() override {
    while (engine_.AnswerPending(0, {})) {
    }
  }

  bool HasCallback(const std::string& channel) override {
    return engine_.CallbackFor(channel).has_value();
  }

  std::vector<std::string> PlayApplication() override {
    std::vector<std::string> seen;
    for (const ApplicationMessage& message : application_) {
      const std::vector<Bytes> responses =
          engine_.ResponsesTo(engine_.Deliver(message.channel, message.bytes).handle);
      if (responses.empty()) seen.push_back("reply " + message.channel + " none");
      for (size_t i = 0; i < responses.size(); ++i) {
        seen.push_back(i == 0 ? "reply " + message.channel + " " + Hex(responses[0])
                              : "reply-duplicate " + message.channel);
      }
    }
    return seen;
  }

  void DestroyEngine() override { engine_.DestroyEngine(); }

 private:
  std::vector<ApplicationMessage> application_;
  RecordingEngine engine_;
};

}  // namespace

std::unique_ptr<MessagingBackend> MakeMessagingBackend(
    std::vector<ApplicationMessage> application) {
  return std::make_unique<RecordingBackend>(std::move(application));
}

}  // namespace kestro_test
