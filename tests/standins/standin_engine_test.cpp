// The stand-in engine without a view, as strict as a real engine library: creation from the
// bundle; every exported function given a null handle, one it never gave out or one already
// destroyed writes "fault <function>" and does nothing else; the messenger lock holds off
// shutdown and a kept messenger outlives its engine without faults; and the eight plug-in
// libraries' file names, registration exports and registrar check.
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "tests/standins/standin_fixture.h"

namespace kestro_standin_test {
namespace {

struct Call {
  const char* function;
  std::function<void()> make;
};

// A call of a function that answers nothing, and of one whose refusal reads as false or null.
#define KESTRO_CALL(function, ...) (Call{#function, [=] { function(__VA_ARGS__); }})
#define KESTRO_REFUSED_CALL(function, ...) \
  (Call{#function, [=] { EXPECT_FALSE(function(__VA_ARGS__)); }})

class StandinEngineTest : public StandinTest {
 protected:
  // Makes each call and expects exactly its fault line, nothing more.
  void ExpectEachFaults(const std::string& handles, const std::vector<Call>& calls) {
    for (const Call& call : calls) {
      SCOPED_TRACE(handles + " handle to " + call.function);
      const size_t before = Transcript().size();
      call.make();
      Lines written = Transcript();
      written.erase(written.begin(), written.begin() + static_cast<std::ptrdiff_t>(before));
      EXPECT_EQ(written, Lines{std::string("fault ") + call.function});
    }
  }

  // An engine on a bundle with this script; a failure to start fails the test.
  FlutterDesktopEngineRef NewEngine(const std::string& script = "") {
    properties_.emplace_back(std::make_unique<BundleProperties>(WriteBundle(script)));
    FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(properties_.back()->get());
    EXPECT_NE(engine, nullptr);
    return engine;
  }

 private:
  std::vector<std::unique_ptr<BundleProperties>> properties_;
};

void OnMessage(FlutterDesktopMessengerRef, const FlutterDesktopMessage*, void*) {}
void OnReply(const uint8_t*, size_t, void*) {}
void OnFrame(void*) {}
const uint8_t kByte[] = {0x01};

// Every call that takes an engine, registrar or messenger handle, given these handles.
std::vector<Call> EngineCalls(FlutterDesktopEngineRef engine,
                              FlutterDesktopPluginRegistrarRef registrar,
                              FlutterDesktopMessengerRef messenger) {
  return {
      KESTRO_REFUSED_CALL(FlutterDesktopEngineDestroy, engine),
      KESTRO_REFUSED_CALL(FlutterDesktopEngineGetMessenger, engine),
      KESTRO_REFUSED_CALL(FlutterDesktopEngineGetPluginRegistrar, engine, "Plugin"),
      KESTRO_CALL(FlutterDesktopEngineReloadSystemFonts, engine),
      KESTRO_CALL(FlutterDesktopEngineSetNextFrameCallback, engine, &OnFrame, nullptr),
      KESTRO_REFUSED_CALL(FlutterDesktopPluginRegistrarGetMessenger, registrar),
      KESTRO_CALL(FlutterDesktopMessengerSetCallback, messenger, "kestro/a", &OnMessage, nullptr),
      KESTRO_CALL(FlutterDesktopMessengerSendResponse, messenger, nullptr, kByte, 1),
      KESTRO_REFUSED_CALL(FlutterDesktopMessengerSend, messenger, "kestro/a", kByte, 1),
      KESTRO_REFUSED_CALL(FlutterDesktopMessengerSendWithReply, messenger, "kestro/a", kByte, 1,
                          &OnReply, nullptr),
      KESTRO_REFUSED_CALL(FlutterDesktopMessengerAddRef, messenger),
      KESTRO_CALL(FlutterDesktopMessengerRelease, messenger),
      KESTRO_REFUSED_CALL(FlutterDesktopMessengerIsAvailable, messenger),
      KESTRO_REFUSED_CALL(FlutterDesktopMessengerLock, messenger),
      KESTRO_CALL(FlutterDesktopMessengerUnlock, messenger),
      KESTRO_REFUSED_CALL(FlutterDesktopViewControllerCreate, 64, 48, engine),
  };
}

// Every call that takes a view controller or view handle, given these handles.
std::vector<Call> ViewCalls(FlutterDesktopViewControllerRef controller,
                            FlutterDesktopViewRef view) {
  return {
      KESTRO_CALL(FlutterDesktopViewControllerDestroy, controller),
      KESTRO_REFUSED_CALL(FlutterDesktopViewControllerGetView, controller),
      KESTRO_CALL(FlutterDesktopViewControllerForceRedraw, controller),
      {"FlutterDesktopViewControllerHandleTopLevelWindowProc",
       [=] {
         LRESULT result = 7;
         EXPECT_FALSE(FlutterDesktopViewControllerHandleTopLevelWindowProc(
             controller, nullptr, WM_ACTIVATEAPP, 0, 0, &result));
         EXPECT_EQ(result, 7);
       }},
      KESTRO_REFUSED_CALL(FlutterDesktopViewGetHWND, view),
  };
}

// A missing file and the arguments line are proven through the executable; here a bundle whose
// parts are of the wrong kind, and relative paths.
TEST_F(StandinEngineTest, RefusesBundlePartsOfTheWrongKindAndResolvesRelativePaths) {
  std::filesystem::path bundle = WriteBundle("");
  const std::wstring assets = (bundle / "flutter_assets").wstring();
  const std::wstring icu = (bundle / "icudtl.dat").wstring();
  const std::wstring app = (bundle / "app.so").wstring();
  BundleProperties cases[] = {{icu, icu, app}, {assets, assets, app}, {assets, icu, assets}};
  for (const BundleProperties& properties : cases) {
    EXPECT_EQ(FlutterDesktopEngineCreate(properties.get()), nullptr);
  }
  EXPECT_EQ(FlutterDesktopEngineCreate(nullptr), nullptr);
  EXPECT_TRUE(Transcript().empty()) << "a refused engine writes nothing";

  wchar_t executable[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, executable, MAX_PATH), 0u);
  const std::string name = "standin-bundle-" + std::to_string(GetCurrentProcessId());
  const std::filesystem::path beside =
      WriteBundle("", std::filesystem::path(executable).parent_path() / name);
  // The working directory is elsewhere, so only the executable's folder can satisfy the paths.
  std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(folder_);
  BundleProperties properties{std::filesystem::path(name)};
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(properties.get());
  std::filesystem::current_path(previous);
  std::filesystem::remove_all(beside);
  ASSERT_NE(engine, nullptr);
  FlutterDesktopEngineDestroy(engine);
}

TEST_F(StandinEngineTest, NullForeignDestroyedAndSpentHandlesFault) {
  ExpectEachFaults("null", EngineCalls(nullptr, nullptr, nullptr));
  ExpectEachFaults("null", ViewCalls(nullptr, nullptr));
  // Addresses the library never gave out, of memory the caller owns.
  int foreign[5] = {};
  ExpectEachFaults("foreign",
                   EngineCalls(reinterpret_cast<FlutterDesktopEngineRef>(&foreign[0]),
                               reinterpret_cast<FlutterDesktopPluginRegistrarRef>(&foreign[1]),
                               reinterpret_cast<FlutterDesktopMessengerRef>(&foreign[2])));
  ExpectEachFaults("foreign",
                   ViewCalls(reinterpret_cast<FlutterDesktopViewControllerRef>(&foreign[3]),
                             reinterpret_cast<FlutterDesktopViewRef>(&foreign[4])));

  FlutterDesktopEngineRef engine = NewEngine();
  FlutterDesktopPluginRegistrarRef registrar =
      FlutterDesktopEngineGetPluginRegistrar(engine, "Plugin");
  FlutterDesktopMessengerRef messenger = FlutterDesktopEngineGetMessenger(engine);
  ASSERT_TRUE(FlutterDesktopEngineDestroy(engine));
  ExpectEachFaults("destroyed", EngineCalls(engine, registrar, messenger));

  FlutterDesktopEngineRef owned = NewEngine();
  FlutterDesktopViewControllerRef controller = FlutterDesktopViewControllerCreate(64, 48, owned);
  ASSERT_NE(controller, nullptr);
  FlutterDesktopViewRef view = FlutterDesktopViewControllerGetView(controller);
  // Handed to the controller, the engine is no longer the caller's to destroy or hand on.
  ExpectEachFaults("owned",
                   {KESTRO_REFUSED_CALL(FlutterDesktopEngineDestroy, owned),
                    KESTRO_REFUSED_CALL(FlutterDesktopViewControllerCreate, 64, 48, owned)});
  FlutterDesktopViewControllerDestroy(controller);
  ExpectEachFaults("destroyed", ViewCalls(controller, view));
  ExpectEachFaults("destroyed", {KESTRO_CALL(FlutterDesktopEngineReloadSystemFonts, owned)});

  // A refused view spends the engine it was given.
  FlutterDesktopEngineRef spent = NewEngine("refuse-view\n");
  EXPECT_EQ(FlutterDesktopViewControllerCreate(64, 48, spent), nullptr);
  ExpectEachFaults("spent", {KESTRO_CALL(FlutterDesktopEngineReloadSystemFonts, spent),
                             KESTRO_REFUSED_CALL(FlutterDesktopEngineDestroy, spent)});
}

TEST_F(StandinEngineTest, ShutdownWaitsForTheLockAndAKeptMessengerOutlivesTheEngine) {
  FlutterDesktopEngineRef engine = NewEngine();
  FlutterDesktopMessengerRef kept =
      FlutterDesktopMessengerAddRef(FlutterDesktopEngineGetMessenger(engine));
  ASSERT_NE(kept, nullptr);
  FlutterDesktopMessengerRef locked = FlutterDesktopMessengerLock(kept);
  ASSERT_EQ(locked, kept);
  std::atomic<bool> destroyed{false};
  std::thread shutdown([&] {
    FlutterDesktopEngineDestroy(engine);
    destroyed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(destroyed) << "shutdown went ahead while a reply held the lock";
  EXPECT_TRUE(FlutterDesktopMessengerIsAvailable(kept));
  FlutterDesktopMessengerUnlock(locked);
  shutdown.join();

  // Unavailable now, without faults, except for a response handle it never gave out.
  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(kept));
  FlutterDesktopMessengerSetCallback(kept, "kestro/a", &OnMessage, nullptr);
  FlutterDesktopMessengerUnlock(FlutterDesktopMessengerLock(kept));
  EXPECT_FALSE(FlutterDesktopMessengerSend(kept, "kestro/a", kByte, 1));
  FlutterDesktopMessengerSendResponse(
      kept, reinterpret_cast<const FlutterDesktopMessageResponseHandle*>(&kByte), kByte, 1);
  FlutterDesktopMessengerRelease(kept);
  EXPECT_EQ(Transcript(),
            (Lines{"args 0", "destroyed", "fault FlutterDesktopMessengerSendResponse"}));
  ExpectEachFaults("released", {KESTRO_REFUSED_CALL(FlutterDesktopMessengerIsAvailable, kept)});
}

TEST_F(StandinEngineTest, EachPluginLibraryAcceptsOnlyTheRegistrarGivenForItsName) {
  // Each library's file name and the name its registrar is asked for.
  const std::pair<const wchar_t*, std::string> rows[] = {
      {L"audioplayers_windows_plugin.dll", "AudioplayersWindowsPlugin"},
      {L"connectivity_plus_plugin.dll", "ConnectivityPlusWindowsPlugin"},
      {L"file_selector_windows_plugin.dll", "FileSelectorWindows"},
      {L"flutter_pos_printer_platform_image_3_plugin.dll", "FlutterPosPrinterPlatformPlugin"},
      {L"flutter_secure_storage_windows_plugin.dll", "FlutterSecureStorageWindowsPlugin"},
      {L"local_auth_windows_plugin.dll", "LocalAuthPlugin"},
      {L"permission_handler_windows_plugin.dll", "PermissionHandlerWindowsPlugin"},
      {L"url_launcher_windows_plugin.dll", "UrlLauncherWindows"},
  };
  FlutterDesktopEngineRef engine = NewEngine();
  Lines expected = {"args 0"};
  for (const auto& [library_name, name] : rows) {
    const std::string function = name + "RegisterWithRegistrar";
    HMODULE library = LoadLibraryW(library_name);
    ASSERT_NE(library, nullptr) << function;
    using Registration = void (*)(FlutterDesktopPluginRegistrarRef);
    auto registration = reinterpret_cast<Registration>(
        reinterpret_cast<void*>(GetProcAddress(library, function.c_str())));
    ASSERT_NE(registration, nullptr) << function;
    registration(FlutterDesktopEngineGetPluginRegistrar(engine, name.c_str()));
    // Another plug-in's registrar, and none at all.
    registration(FlutterDesktopEngineGetPluginRegistrar(engine, "ThermalPrinterPlugin"));
    registration(nullptr);
    expected.insert(
        expected.end(),
        {"registrar " + name, "plugin " + function, "registrar ThermalPrinterPlugin",
         "plugin " + function, "fault " + function, "plugin " + function, "fault " + function});
    FreeLibrary(library);
  }
  EXPECT_EQ(Transcript(), expected);
  FlutterDesktopEngineDestroy(engine);
}

}  // namespace
}  // namespace kestro_standin_test
