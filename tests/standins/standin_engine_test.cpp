// The stand-in engine without a view: creation from the bundle, availability and lock around
// engine shutdown; and the eight plug-in libraries' file names, registration exports and
// registrar check.
#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "tests/standins/standin_fixture.h"

namespace kestro_standin_test {
namespace {

using EngineCreateTest = StandinTest;
using MessengerLifetimeTest = StandinTest;
using StandinPluginsTest = StandinTest;

// A missing file and the arguments line are proven through the executable; here a bundle whose
// parts are of the wrong kind.
TEST_F(EngineCreateTest, RefusesBundlePartsOfTheWrongKind) {
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
}

TEST_F(EngineCreateTest, ResolvesRelativePathsAgainstTheExecutableFolder) {
  wchar_t executable[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, executable, MAX_PATH), 0u);
  const std::string name = "standin-bundle-" + std::to_string(GetCurrentProcessId());
  std::filesystem::path beside = std::filesystem::path(executable).parent_path() / name;
  std::filesystem::create_directories(beside / "flutter_assets");
  std::ofstream(beside / "icudtl.dat") << "icu";
  std::ofstream(beside / "app.so") << "";
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

TEST_F(MessengerLifetimeTest, ShutdownWaitsForTheLockAndReferencesOutliveTheEngine) {
  BundleProperties properties(WriteBundle(""));
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(properties.get());
  ASSERT_NE(engine, nullptr);
  FlutterDesktopMessengerRef messenger =
      FlutterDesktopMessengerAddRef(FlutterDesktopEngineGetMessenger(engine));
  ASSERT_NE(messenger, nullptr);
  FlutterDesktopMessengerRef locked = FlutterDesktopMessengerLock(messenger);
  ASSERT_EQ(locked, messenger);
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

  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(messenger));
  FlutterDesktopMessengerRelease(messenger);
  EXPECT_EQ(Transcript(), (std::vector<std::string>{"args 0", "destroyed"}));
}

TEST_F(StandinPluginsTest, EachLibraryAcceptsOnlyTheRegistrarGivenForItsName) {
  const struct {
    const wchar_t* library;
    const char* function;
    const char* name;
  } rows[] = {
      {L"audioplayers_windows_plugin.dll", "AudioplayersWindowsPluginRegisterWithRegistrar",
       "AudioplayersWindowsPlugin"},
      {L"connectivity_plus_plugin.dll", "ConnectivityPlusWindowsPluginRegisterWithRegistrar",
       "ConnectivityPlusWindowsPlugin"},
      {L"file_selector_windows_plugin.dll", "FileSelectorWindowsRegisterWithRegistrar",
       "FileSelectorWindows"},
      {L"flutter_pos_printer_platform_image_3_plugin.dll",
       "FlutterPosPrinterPlatformPluginRegisterWithRegistrar", "FlutterPosPrinterPlatformPlugin"},
      {L"flutter_secure_storage_windows_plugin.dll",
       "FlutterSecureStorageWindowsPluginRegisterWithRegistrar",
       "FlutterSecureStorageWindowsPlugin"},
      {L"local_auth_windows_plugin.dll", "LocalAuthPluginRegisterWithRegistrar", "LocalAuthPlugin"},
      {L"permission_handler_windows_plugin.dll",
       "PermissionHandlerWindowsPluginRegisterWithRegistrar", "PermissionHandlerWindowsPlugin"},
      {L"url_launcher_windows_plugin.dll", "UrlLauncherWindowsRegisterWithRegistrar",
       "UrlLauncherWindows"},
  };
  BundleProperties properties(WriteBundle(""));
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(properties.get());
  ASSERT_NE(engine, nullptr);
  std::vector<std::string> expected = {"args 0"};
  for (const auto& row : rows) {
    HMODULE library = LoadLibraryW(row.library);
    ASSERT_NE(library, nullptr) << row.function;
    using Registration = void (*)(FlutterDesktopPluginRegistrarRef);
    auto registration = reinterpret_cast<Registration>(
        reinterpret_cast<void*>(GetProcAddress(library, row.function)));
    ASSERT_NE(registration, nullptr) << row.function;
    const std::string plugin = std::string("plugin ") + row.function;
    const std::string fault = std::string("fault ") + row.function;
    registration(FlutterDesktopEngineGetPluginRegistrar(engine, row.name));
    expected.insert(expected.end(), {std::string("registrar ") + row.name, plugin});
    // Another plug-in's registrar, and none at all.
    registration(FlutterDesktopEngineGetPluginRegistrar(engine, "ThermalPrinterPlugin"));
    expected.insert(expected.end(), {"registrar ThermalPrinterPlugin", plugin, fault});
    registration(nullptr);
    expected.insert(expected.end(), {plugin, fault});
    FreeLibrary(library);
  }
  EXPECT_EQ(Transcript(), expected);
  FlutterDesktopEngineDestroy(engine);
}

}  // namespace
}  // namespace kestro_standin_test
