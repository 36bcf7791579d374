// Messages that the stand-in engine's application script sends, answered through the binary
// messenger: one response per message whatever the handler does, and silence after shutdown.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine_client/messaging/binary_messenger_impl.h"

namespace {

namespace fs = std::filesystem;

constexpr wchar_t kTranscriptVariable[] = L"KESTRO_STANDIN_TRANSCRIPT";
constexpr char kDuplicateLine[] =
    "Error: Response can be set only once. Ignoring duplicate response.\n";

// The host's part: a top-level window holding the view, ending the view controller (and with it
// the engine) when the window is destroyed.
LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_DESTROY) {
    auto controller =
        reinterpret_cast<FlutterDesktopViewControllerRef>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (controller != nullptr) FlutterDesktopViewControllerDestroy(controller);
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

class StandinDeliveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        fs::temp_directory_path() / ("kestro-delivery-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(folder_ / "data" / "flutter_assets");
    std::ofstream(folder_ / "data" / "icudtl.dat").put('\0');
    SetEnvironmentVariableW(kTranscriptVariable, (folder_ / "transcript.txt").c_str());
  }

  void TearDown() override {
    SetEnvironmentVariableW(kTranscriptVariable, nullptr);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  FlutterDesktopEngineRef StartEngine(const std::string& script) {
    std::ofstream(folder_ / "data" / "app.so") << script;
    const fs::path assets = folder_ / "data" / "flutter_assets";
    const fs::path icu = folder_ / "data" / "icudtl.dat";
    const fs::path aot = folder_ / "data" / "app.so";
    FlutterDesktopEngineProperties properties = {};
    properties.assets_path = assets.c_str();
    properties.icu_data_path = icu.c_str();
    properties.aot_library_path = aot.c_str();
    properties.dart_entrypoint = "";
    return FlutterDesktopEngineCreate(&properties);
  }

  // Shows the engine's view in a window and runs the loop until the script closes it.
  bool RunUntilClosed(FlutterDesktopEngineRef engine) {
    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = HostWindowProc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"KestroDeliveryTestHost";
    RegisterClassW(&window_class);
    HWND window = CreateWindowW(L"KestroDeliveryTestHost", L"delivery", WS_OVERLAPPEDWINDOW, 0, 0,
                                320, 240, nullptr, nullptr, window_class.hInstance, nullptr);
    FlutterDesktopViewControllerRef controller =
        FlutterDesktopViewControllerCreate(320, 240, engine);
    if (window == nullptr || controller == nullptr) return false;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(controller));
    SetParent(FlutterDesktopViewGetHWND(FlutterDesktopViewControllerGetView(controller)), window);
    UINT_PTR deadline = SetTimer(nullptr, 0, 10000, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      if (message.message == WM_TIMER && message.wParam == deadline) {
        DestroyWindow(window);
        return false;
      }
      if (message.hwnd == window && message.message == WM_CLOSE) {
        DestroyWindow(window);
        continue;
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    KillTimer(nullptr, deadline);
    return true;
  }

  std::vector<std::string> Transcript() const {
    std::vector<std::string> lines;
    std::ifstream file(folder_ / "transcript.txt");
    for (std::string line; std::getline(file, line);) {
      lines.push_back(line.substr(0, line.find(" # ")));
    }
    return lines;
  }

  fs::path folder_;
};

TEST_F(StandinDeliveryTest, EachMessageIsAnsweredOnceAndLateAnswersAreSilent) {
  FlutterDesktopEngineRef engine = StartEngine(
      "send kestro/twice 01\n"
      "send kestro/copies 02\n"
      "send kestro/later 03\n"
      "close\n");
  ASSERT_NE(engine, nullptr);
  flutter::BinaryMessengerImpl messenger(FlutterDesktopEngineGetMessenger(engine));
  const uint8_t first[] = {0xaa};
  const uint8_t second[] = {0xbb};
  messenger.SetMessageHandler("kestro/twice", [&](const uint8_t*, size_t, flutter::BinaryReply r) {
    r(first, 1);
    r(second, 1);
  });
  messenger.SetMessageHandler("kestro/copies", [&](const uint8_t*, size_t, flutter::BinaryReply r) {
    flutter::BinaryReply copy = r;
    copy(second, 1);
    r(first, 1);
  });
  std::vector<flutter::BinaryReply> kept;
  messenger.SetMessageHandler("kestro/later", [&](const uint8_t*, size_t, flutter::BinaryReply r) {
    kept.push_back(std::move(r));
  });

  testing::internal::CaptureStderr();
  bool closed = RunUntilClosed(engine);
  ASSERT_EQ(kept.size(), 1u);
  kept[0](first, 1);  // the engine is gone by now
  kept.clear();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(kDuplicateLine) + kDuplicateLine);
  ASSERT_TRUE(closed) << "the script's close never reached the window";

  EXPECT_EQ(Transcript(), (std::vector<std::string>{
                              "args 0",
                              "callback kestro/twice",
                              "callback kestro/copies",
                              "callback kestro/later",
                              "view 320 240",
                              "frame",
                              "send kestro/twice 01",
                              "reply kestro/twice aa",
                              "send kestro/copies 02",
                              "reply kestro/copies bb",
                              "send kestro/later 03",
                              "reply kestro/later none",
                              "destroyed",
                          }));
}

}  // namespace
