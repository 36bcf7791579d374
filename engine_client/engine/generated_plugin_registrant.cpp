#include "engine_client/engine/generated_plugin_registrant.h"

#include "engine_client/engine_library/plugin_library_exports.h"

namespace {

struct PluginLibrary {
  const char* registrar_name;
  void (*register_with_registrar)(FlutterDesktopPluginRegistrarRef);
};

// Registration order matters to the application; keep it. Not constexpr: the address of an
// imported function comes from the import table at load time, and MSVC refuses it as a constant.
const PluginLibrary kPluginLibraries[] = {
    {"AudioplayersWindowsPlugin", AudioplayersWindowsPluginRegisterWithRegistrar},
    {"ConnectivityPlusWindowsPlugin", ConnectivityPlusWindowsPluginRegisterWithRegistrar},
    {"FileSelectorWindows", FileSelectorWindowsRegisterWithRegistrar},
    {"FlutterPosPrinterPlatformPlugin", FlutterPosPrinterPlatformPluginRegisterWithRegistrar},
    {"FlutterSecureStorageWindowsPlugin", FlutterSecureStorageWindowsPluginRegisterWithRegistrar},
    {"LocalAuthPlugin", LocalAuthPluginRegisterWithRegistrar},
    {"PermissionHandlerWindowsPlugin", PermissionHandlerWindowsPluginRegisterWithRegistrar},
    {"UrlLauncherWindows", UrlLauncherWindowsRegisterWithRegistrar},
};

}  // namespace

void RegisterGeneratedPlugins(flutter::PluginRegistry* registry) {
  for (const PluginLibrary& library : kPluginLibraries) {
    library.register_with_registrar(registry->GetPluginRegistrar(library.registrar_name));
  }
}
