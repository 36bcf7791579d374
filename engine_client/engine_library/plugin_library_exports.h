// The registration functions exported by the eight plug-in libraries shipped beside the host.
// Each takes the registrar the engine gave for the plug-in's name and reports nothing.
#ifndef KESTRO_ENGINE_CLIENT_ENGINE_LIBRARY_PLUGIN_LIBRARY_EXPORTS_H_
#define KESTRO_ENGINE_CLIENT_ENGINE_LIBRARY_PLUGIN_LIBRARY_EXPORTS_H_

#include "engine_client/engine_library/flutter_desktop_api.h"

#if defined(_WIN32) && defined(KESTRO_BUILDING_PLUGIN_LIBRARY)
#define KESTRO_PLUGIN_API __declspec(dllexport)
#elif defined(_WIN32)
#define KESTRO_PLUGIN_API __declspec(dllimport)
#else
#define KESTRO_PLUGIN_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

KESTRO_PLUGIN_API void AudioplayersWindowsPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
KESTRO_PLUGIN_API void ConnectivityPlusWindowsPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
KESTRO_PLUGIN_API void FileSelectorWindowsRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
KESTRO_PLUGIN_API void FlutterPosPrinterPlatformPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
KESTRO_PLUGIN_API void FlutterSecureStorageWindowsPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
KESTRO_PLUGIN_API void LocalAuthPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
KESTRO_PLUGIN_API void PermissionHandlerWindowsPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
KESTRO_PLUGIN_API void UrlLauncherWindowsRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // KESTRO_ENGINE_CLIENT_ENGINE_LIBRARY_PLUGIN_LIBRARY_EXPORTS_H_
