// Test support for the stand-in engine: a private folder holding the transcript and application
// bundles, engine properties that own their strings, and a small host that gives the view a
// top-level window and runs the message loop.
#ifndef KESTRO_TESTS_STANDINS_STANDIN_FIXTURE_H_
#define KESTRO_TESTS_STANDINS_STANDIN_FIXTURE_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine_client/engine_library/flutter_desktop_api.h"

namespace kestro_standin_test {

class StandinTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes <folder>/<name>/flutter_assets/, icudtl.dat and app.so holding the script.
  std::filesystem::path WriteBundle(const std::string& script, const std::string& name = "data");
  // The transcript's lines, each without its readable comment (" # ...").
  std::vector<std::string> Transcript() const;

  std::filesystem::path folder_;
};

// An engine properties record whose paths and arguments live as long as this object.
class BundleProperties {
 public:
  BundleProperties(const std::filesystem::path& bundle, std::vector<std::string> arguments = {});
  BundleProperties(std::wstring assets, std::wstring icu_data, std::wstring aot_library);
  BundleProperties(const BundleProperties&) = delete;
  BundleProperties& operator=(const BundleProperties&) = delete;

  const FlutterDesktopEngineProperties* get() const { return &properties_; }

 private:
  void Fill();

  std::wstring assets_;
  std::wstring icu_data_;
  std::wstring aot_library_;
  std::vector<std::string> arguments_;
  std::vector<const char*> argv_;
  FlutterDesktopEngineProperties properties_ = {};
};

// Plays the host's part: creates the view controller for the engine, makes the view the content
// of a hidden top-level window, destroys the controller when that window is destroyed (as the host
// does on WM_DESTROY), and records WM_CLOSE and the application-range messages it receives.
class TestHost {
 public:
  explicit TestHost(FlutterDesktopEngineRef engine, int width = 320, int height = 240);
  ~TestHost();
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;

  // Runs the message loop until the window is gone; false when the time limit passed first.
  bool RunUntilClosed(DWORD limit_ms = 10000);

  FlutterDesktopViewControllerRef controller() const { return controller_; }
  HWND window() const { return window_; }
  HWND view() const;
  bool close_received() const { return close_received_; }
  struct PostedMessage {
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
  };
  const std::vector<PostedMessage>& user_messages() const { return user_messages_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  HWND window_ = nullptr;
  FlutterDesktopViewControllerRef controller_ = nullptr;
  bool close_received_ = false;
  std::vector<PostedMessage> user_messages_;
};

}  // namespace kestro_standin_test

#endif  // KESTRO_TESTS_STANDINS_STANDIN_FIXTURE_H_
