// The eight stand-in plug-in libraries: exact file names, exported registration functions, and
// the line each registration writes.
#include "tests/standins/standin_fixture.h"

namespace kestro_standin_test {
namespace {

using StandinPluginsTest = StandinTest;

TEST_F(StandinPluginsTest, EachLibraryExportsItsRegistrationFunctionAndRecordsIt) {
  const struct {
    const wchar_t* library;
    const char* function;
  } rows[] = {
      {L"audioplayers_windows_plugin.dll", "AudioplayersWindowsPluginRegisterWithRegistrar"},
      {L"connectivity_plus_plugin.dll", "ConnectivityPlusWindowsPluginRegisterWithRegistrar"},
      {L"file_selector_windows_plugin.dll", "FileSelectorWindowsRegisterWithRegistrar"},
      {L"flutter_pos_printer_platform_image_3_plugin.dll",
       "FlutterPosPrinterPlatformPluginRegisterWithRegistrar"},
      {L"flutter_secure_storage_windows_plugin.dll",
       "FlutterSecureStorageWindowsPluginRegisterWithRegistrar"},
      {L"local_auth_windows_plugin.dll", "LocalAuthPluginRegisterWithRegistrar"},
      {L"permission_handler_windows_plugin.dll",
       "PermissionHandlerWindowsPluginRegisterWithRegistrar"},
      {L"url_launcher_windows_plugin.dll", "UrlLauncherWindowsRegisterWithRegistrar"},
  };
  std::vector<std::string> expected;
  for (const auto& row : rows) {
    HMODULE library = LoadLibraryW(row.library);
    ASSERT_NE(library, nullptr) << row.function;
    using Registration = void (*)(FlutterDesktopPluginRegistrarRef);
    auto registration = reinterpret_cast<Registration>(
        reinterpret_cast<void*>(GetProcAddress(library, row.function)));
    ASSERT_NE(registration, nullptr) << row.function;
    registration(nullptr);
    expected.push_back(std::string("plugin ") + row.function);
    FreeLibrary(library);
  }
  EXPECT_EQ(Transcript(), expected);
}

}  // namespace
}  // namespace kestro_standin_test
