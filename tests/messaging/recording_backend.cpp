// The contract tests' backend on Linux: the recording engine.
#include <string>

#include "tests/fakes/recording_engine.h"
#include "tests/messaging/messaging_backend.h"

namespace kestro_test {
namespace {

class RecordingBackend : public MessagingBackend {
 public:
  FlutterDesktopMessengerRef messenger() override { return engine_.messenger(); }

  std::vector<ApplicationMessage> Sent() override {
    std::vector<ApplicationMessage> sent;
    for (const SentMessage& message : engine_.accepted_sends()) {
      sent.push_back(ApplicationMessage{message.channel, message.bytes});
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

  void DestroyEngine() override { engine_.DestroyEngine(); }

 private:
  RecordingEngine engine_;
};

}  // namespace

std::unique_ptr<MessagingBackend> MakeMessagingBackend() {
  return std::make_unique<RecordingBackend>();
}

}  // namespace kestro_test
