// The contract tests' backend under Wine: the stand-in engine library, started on a minimal
// bundle in a temporary folder and observed through its transcript file.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/messaging/messaging_backend.h"
#include "tests/standins/standin_fixture.h"

namespace kestro_test {
namespace {

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
    for (const std::string& line : Lines("fault ")) ADD_FAILURE() << "engine library " << line;
  }

  // Still the right handle after shutdown for whoever holds a reference on it.
  FlutterDesktopMessengerRef messenger() override { return messenger_; }

  std::vector<std::string> Sent() override { return Lines("event "); }

  // Without a view the stand-in answers a host message before its send returns.
  void AnswerWithNothing() override {}

  bool HasCallback(const std::string& channel) override {
    bool installed = false;
    for (const std::string& line : Transcript()) {
      if (line == "callback " + channel) installed = true;
      if (line == "callback-removed " + channel) installed = false;
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
    for (const DWORD deadline = GetTickCount() + 10000; GetTickCount() < deadline; Sleep(1)) {
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
      if (Lines("reply ").size() == application_size_) break;
    }
    return Lines("reply");
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
  // The transcript lines that begin with `prefix`.
  std::vector<std::string> Lines(const std::string& prefix) const {
    std::vector<std::string> lines;
    for (const std::string& line : Transcript()) {
      if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
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
