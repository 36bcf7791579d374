// The stand-in engine without a view: engine creation from the bundle, the arguments line, and
// the messenger's references, availability and lock around engine shutdown.
#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "tests/standins/standin_fixture.h"

namespace kestro_standin_test {
namespace {

using EngineCreateTest = StandinTest;
using MessengerLifetimeTest = StandinTest;

struct ReplyLog {
  int calls = 0;
  size_t size = 0;
  bool data_is_null = false;
  static void OnReply(const uint8_t* data, size_t size, void* user_data) {
    auto* log = static_cast<ReplyLog*>(user_data);
    ++log->calls;
    log->size = size;
    log->data_is_null = data == nullptr;
  }
};

void IgnoreMessage(FlutterDesktopMessengerRef, const FlutterDesktopMessage*, void*) {}

TEST_F(EngineCreateTest, RefusesIncompleteBundles) {
  std::filesystem::path bundle = WriteBundle("close\n");
  const std::wstring assets = (bundle / "flutter_assets").wstring();
  const std::wstring icu = (bundle / "icudtl.dat").wstring();
  const std::wstring app = (bundle / "app.so").wstring();
  const std::wstring missing = (folder_ / "missing").wstring();
  struct Case {
    const char* fault;
    std::wstring assets, icu, app;
  } cases[] = {
      {"assets missing", missing, icu, app},
      {"assets is a file", icu, icu, app},
      {"ICU data missing", assets, missing, app},
      {"ICU data is a folder", assets, assets, app},
      {"application missing", assets, icu, missing},
      {"application is a folder", assets, icu, assets},
  };
  for (const Case& c : cases) {
    BundleProperties properties(c.assets, c.icu, c.app);
    EXPECT_EQ(FlutterDesktopEngineCreate(properties.get()), nullptr) << c.fault;
  }
  EXPECT_EQ(FlutterDesktopEngineCreate(nullptr), nullptr);
  EXPECT_TRUE(Transcript().empty()) << "a refused engine writes nothing";

  BundleProperties complete(bundle);
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(complete.get());
  ASSERT_NE(engine, nullptr);
  EXPECT_TRUE(FlutterDesktopEngineDestroy(engine));
  EXPECT_EQ(Transcript(), (std::vector<std::string>{"args 0", "destroyed"}));
}

TEST_F(EngineCreateTest, ResolvesRelativePathsAgainstTheExecutableFolder) {
  wchar_t executable[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, executable, MAX_PATH), 0u);
  const std::string name = "standin-bundle-" + std::to_string(GetCurrentProcessId());
  std::filesystem::path beside = std::filesystem::path(executable).parent_path() / name;
  std::filesystem::create_directories(beside / "flutter_assets");
  std::ofstream(beside / "icudtl.dat") << "icu";
  std::ofstream(beside / "app.so") << "close\n";
  // The working directory is elsewhere, so only the executable's folder can satisfy the paths.
  std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(folder_);
  const std::wstring relative = std::filesystem::path(name).wstring();
  BundleProperties properties(relative + L"\\flutter_assets", relative + L"\\icudtl.dat",
                              relative + L"\\app.so");
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(properties.get());
  std::filesystem::current_path(previous);
  std::filesystem::remove_all(beside);
  ASSERT_NE(engine, nullptr);
  FlutterDesktopEngineDestroy(engine);
}

TEST_F(EngineCreateTest, WritesEachArgumentAsHexWithEmptyOnesAsDash) {
  std::filesystem::path bundle = WriteBundle("");
  FlutterDesktopEngineRef engine;
  {
    BundleProperties properties(bundle, {"abc", "привіт", ""});
    engine = FlutterDesktopEngineCreate(properties.get());
  }
  ASSERT_NE(engine, nullptr);
  FlutterDesktopEngineDestroy(engine);
  EXPECT_EQ(Transcript(),
            (std::vector<std::string>{"args 3 616263 d0bfd180d0b8d0b2d196d182 -", "destroyed"}));
}

TEST_F(MessengerLifetimeTest, ReferencesOutliveTheEngineWhichThenRefusesEverything) {
  BundleProperties properties(WriteBundle(""));
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(properties.get());
  ASSERT_NE(engine, nullptr);
  FlutterDesktopMessengerRef messenger =
      FlutterDesktopMessengerAddRef(FlutterDesktopEngineGetMessenger(engine));
  ASSERT_NE(messenger, nullptr);
  const uint8_t bytes[] = {0x00, 0x7f};
  FlutterDesktopMessengerSetCallback(messenger, "kestro/a", &IgnoreMessage, nullptr);
  FlutterDesktopMessengerSetCallback(messenger, "kestro/never", nullptr, nullptr);
  ReplyLog before;
  EXPECT_TRUE(FlutterDesktopMessengerSend(messenger, "kestro/a", bytes, sizeof bytes));
  // Without a view there is no message loop to wait for: the empty reply comes at once.
  EXPECT_TRUE(FlutterDesktopMessengerSendWithReply(messenger, "kestro/b", nullptr, 0,
                                                   &ReplyLog::OnReply, &before));
  EXPECT_EQ(before.calls, 1);
  EXPECT_EQ(before.size, 0u);
  EXPECT_TRUE(FlutterDesktopMessengerIsAvailable(messenger));

  ASSERT_TRUE(FlutterDesktopEngineDestroy(engine));

  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(messenger));
  ReplyLog after;
  EXPECT_FALSE(FlutterDesktopMessengerSend(messenger, "kestro/a", bytes, sizeof bytes));
  EXPECT_FALSE(FlutterDesktopMessengerSendWithReply(messenger, "kestro/b", bytes, sizeof bytes,
                                                    &ReplyLog::OnReply, &after));
  FlutterDesktopMessengerSetCallback(messenger, "kestro/a", nullptr, nullptr);
  FlutterDesktopMessengerRef locked = FlutterDesktopMessengerLock(messenger);
  EXPECT_EQ(locked, messenger);
  FlutterDesktopMessengerUnlock(locked);
  FlutterDesktopMessengerRelease(messenger);
  EXPECT_EQ(after.calls, 0);
  EXPECT_EQ(Transcript(), (std::vector<std::string>{
                              "args 0",
                              "callback kestro/a",
                              "callback-removed kestro/never",
                              "event kestro/a 007f",
                              "event kestro/b -",
                              "destroyed",
                          }));
}

TEST_F(MessengerLifetimeTest, EngineShutdownWaitsForTheMessengerLock) {
  BundleProperties properties(WriteBundle(""));
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(properties.get());
  ASSERT_NE(engine, nullptr);
  FlutterDesktopMessengerRef messenger =
      FlutterDesktopMessengerAddRef(FlutterDesktopEngineGetMessenger(engine));
  FlutterDesktopMessengerRef locked = FlutterDesktopMessengerLock(messenger);
  ASSERT_NE(locked, nullptr);
  std::atomic<bool> destroyed{false};
  std::thread shutdown([&] {
    FlutterDesktopEngineDestroy(engine);
    destroyed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(destroyed) << "shutdown went ahead while a reply held the lock";
  EXPECT_TRUE(FlutterDesktopMessengerIsAvailable(messenger));
  FlutterDesktopMessengerUnlock(locked);
  shutdown.join();
  EXPECT_TRUE(destroyed);
  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(messenger));
  FlutterDesktopMessengerRelease(messenger);
}

}  // namespace
}  // namespace kestro_standin_test
