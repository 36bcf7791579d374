// The contract tests' backend under Wine: the stand-in engine library, started on a minimal
// bundle in a temporary folder and observed through its transcript file.
#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tests/messaging/messaging_backend.h"
#include "tests/standins/standin_fixture.h"

namespace kestro_test {
namespace {

std::vector<uint8_t> ParseHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  if (hex == "-") return bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

class StandinBackend : public MessagingBackend, kestro_standin_test::StandinFolder {
 public:
  explicit StandinBackend(const std::vector<ApplicationMessage>& application)
      : application_size_(application.size()) {
    // A message not answered by the time its callback returns is answered "none".
    std::string script = "reply-timeout 0\n";
    for (const ApplicationMessage& message : application) {
      script += "send " + message.channel + " " + Hex(message.bytes) + "\n";
    }
    properties_ = std::make_unique<kestro_standin_test::BundleProperties>(WriteBundle(script));
    engine_ = FlutterDesktopEngineCreate(properties_->get());
    if (engine_ == nullptr) {
      ADD_FAILURE() << "the stand-in engine did not start";
    } else {
      messenger_ = FlutterDesktopEngineGetMessenger(engine_);
    }
  }

  ~StandinBackend() override {
    DestroyEngine();
    for (const auto& words : TranscriptLines()) {
      if (!words.empty() && words[0] == "fault")
        ADD_FAILURE() << "engine library fault in " << words[1];
    }
  }

  // Still the right handle after shutdown for whoever holds a reference on it.
  FlutterDesktopMessengerRef messenger() override { return messenger_; }

  std::vector<ApplicationMessage> Sent() override {
    std::vector<ApplicationMessage> sent;
    for (const auto& words : TranscriptLines()) {
      if (words.size() == 3 && words[0] == "event") {
        sent.push_back(ApplicationMessage{words[1], ParseHex(words[2])});
      }
    }
    return sent;
  }

  // Without a view the stand-in answers a host message before its send returns.
  void AnswerWithNothing() override {}

  bool HasCallback(const std::string& channel) override {
    bool installed = false;
    for (const auto& words : TranscriptLines()) {
      if (words.size() == 2 && words[1] == channel) {
        if (words[0] == "callback") installed = true;
        if (words[0] == "callback-removed") installed = false;
      }
    }
    return installed;
  }

  // The script plays on the view's thread (this one) once the view has shown a frame.
  std::vector<std::string> PlayApplication() override {
    controller_ = FlutterDesktopViewControllerCreate(64, 48, engine_);
    if (controller_ == nullptr) {
      ADD_FAILURE() << "the stand-in refused the view";
      return {};
    }
    std::vector<std::string> seen;
    for (const DWORD deadline = GetTickCount() + 10000; GetTickCount() < deadline; Sleep(1)) {
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
      seen.clear();
      size_t replies = 0;
      for (const auto& words : TranscriptLines()) {
        if (words.empty() || words[0].rfind("reply", 0) != 0) continue;
        replies += words[0] == "reply" ? 1 : 0;
        seen.push_back(words[0] + " " + words[1] + (words.size() > 2 ? " " + words[2] : ""));
      }
      if (replies == application_size_) break;
    }
    return seen;
  }

  // Once a view controller exists it owns the engine, and ending it ends the engine.
  void DestroyEngine() override {
    if (controller_ != nullptr) {
      FlutterDesktopViewControllerDestroy(controller_);
    } else if (engine_ != nullptr) {
      FlutterDesktopEngineDestroy(engine_);
    }
    controller_ = nullptr;
    engine_ = nullptr;
  }

 private:
  // Each transcript line split into words.
  std::vector<std::vector<std::string>> TranscriptLines() const {
    std::vector<std::vector<std::string>> lines;
    for (const std::string& line : Transcript()) {
      std::istringstream words(line);
      lines.emplace_back();
      for (std::string word; words >> word;) lines.back().push_back(word);
    }
    return lines;
  }

  size_t application_size_;
  std::unique_ptr<kestro_standin_test::BundleProperties> properties_;
  FlutterDesktopEngineRef engine_ = nullptr;
  FlutterDesktopViewControllerRef controller_ = nullptr;
  FlutterDesktopMessengerRef messenger_ = nullptr;
};

}  // namespace

std::unique_ptr<MessagingBackend> MakeMessagingBackend(
    std::vector<ApplicationMessage> application) {
  return std::make_unique<StandinBackend>(application);
}

}  // namespace kestro_test
