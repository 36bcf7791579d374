#include "tests/standins/standin_fixture.h"

#include <fstream>
#include <sstream>

namespace kestro_standin_test {
namespace {

constexpr wchar_t kTranscriptVariable[] = L"KESTRO_STANDIN_TRANSCRIPT";
constexpr wchar_t kHostClassName[] = L"KESTRO_STANDIN_TEST_HOST";

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary);
  file << bytes;
}

}  // namespace

void StandinTest::SetUp() {
  static int counter = 0;
  folder_ =
      std::filesystem::temp_directory_path() /
      ("kestro-standin-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter));
  std::filesystem::remove_all(folder_);
  std::filesystem::create_directories(folder_);
  SetEnvironmentVariableW(kTranscriptVariable, (folder_ / "transcript.txt").wstring().c_str());
}

void StandinTest::TearDown() {
  SetEnvironmentVariableW(kTranscriptVariable, nullptr);
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::filesystem::path StandinTest::WriteBundle(const std::string& script, const std::string& name) {
  std::filesystem::path bundle = folder_ / name;
  std::filesystem::create_directories(bundle / "flutter_assets");
  WriteFile(bundle / "icudtl.dat", "icu");
  WriteFile(bundle / "app.so", script);
  return bundle;
}

std::vector<std::string> StandinTest::Transcript() const {
  std::ifstream file(folder_ / "transcript.txt", std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(file, line)) {
    size_t comment = line.find(" # ");
    if (comment != std::string::npos) line.resize(comment);
    lines.push_back(line);
  }
  return lines;
}

BundleProperties::BundleProperties(const std::filesystem::path& bundle,
                                   std::vector<std::string> arguments)
    : assets_((bundle / "flutter_assets").wstring()),
      icu_data_((bundle / "icudtl.dat").wstring()),
      aot_library_((bundle / "app.so").wstring()),
      arguments_(std::move(arguments)) {
  Fill();
}

BundleProperties::BundleProperties(std::wstring assets, std::wstring icu_data,
                                   std::wstring aot_library)
    : assets_(std::move(assets)),
      icu_data_(std::move(icu_data)),
      aot_library_(std::move(aot_library)) {
  Fill();
}

void BundleProperties::Fill() {
  for (const std::string& argument : arguments_) argv_.push_back(argument.c_str());
  properties_.assets_path = assets_.c_str();
  properties_.icu_data_path = icu_data_.c_str();
  properties_.aot_library_path = aot_library_.c_str();
  properties_.dart_entrypoint = "";
  properties_.dart_entrypoint_argc = static_cast<int32_t>(argv_.size());
  properties_.dart_entrypoint_argv = argv_.empty() ? nullptr : argv_.data();
}

TestHost::TestHost(FlutterDesktopEngineRef engine, int width, int height) {
  static const ATOM atom = [] {
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = &TestHost::WindowProc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = kHostClassName;
    return RegisterClassExW(&window_class);
  }();
  if (atom == 0) return;
  window_ =
      CreateWindowExW(0, kHostClassName, L"Stand-in test host", WS_OVERLAPPEDWINDOW, 10, 10,
                      width + 40, height + 60, nullptr, nullptr, GetModuleHandleW(nullptr), this);
  controller_ = FlutterDesktopViewControllerCreate(width, height, engine);
  if (window_ == nullptr || controller_ == nullptr) return;
  // The host makes the view its window's content the same way.
  SetParent(view(), window_);
  MoveWindow(view(), 0, 0, width, height, TRUE);
}

TestHost::~TestHost() {
  if (window_ == nullptr) return;
  DestroyWindow(window_);
  // The quit request of an early end must not end the next test's message loop.
  MSG quit;
  while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
}

HWND TestHost::view() const {
  return FlutterDesktopViewGetHWND(FlutterDesktopViewControllerGetView(controller_));
}

bool TestHost::RunUntilClosed(DWORD limit_ms) {
  UINT_PTR limit = SetTimer(nullptr, 0, limit_ms, nullptr);
  bool closed = false;
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER && message.hwnd == nullptr && message.wParam == limit) break;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  closed = window_ == nullptr;
  KillTimer(nullptr, limit);
  return closed;
}

LRESULT CALLBACK TestHost::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* host = reinterpret_cast<TestHost*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (host == nullptr) return DefWindowProcW(window, message, wparam, lparam);
  switch (message) {
    case WM_CLOSE:
      host->close_received_ = true;
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      if (host->controller_ != nullptr) {
        FlutterDesktopViewControllerDestroy(host->controller_);
        host->controller_ = nullptr;
      }
      host->window_ = nullptr;
      PostQuitMessage(0);
      return 0;
  }
  if (message >= WM_USER && message < 0xC000)
    host->user_messages_.push_back({message, wparam, lparam});
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace kestro_standin_test
