// The engine library's C interface (flutter_windows.dll): every function, handle, callback and
// record the host uses, declared once. Window-related declarations exist only on Windows so the
// messaging layer stays portable.
#ifndef KESTRO_ENGINE_CLIENT_ENGINE_LIBRARY_FLUTTER_DESKTOP_API_H_
#define KESTRO_ENGINE_CLIENT_ENGINE_LIBRARY_FLUTTER_DESKTOP_API_H_

#include <stddef.h>
#include <stdint.h>

#ifdef _WIN32
#include <windows.h>
#endif

#if defined(_WIN32) && defined(KESTRO_BUILDING_ENGINE_LIBRARY)
#define KESTRO_ENGINE_API __declspec(dllexport)
#elif defined(_WIN32) && !defined(KESTRO_ENGINE_STATIC)
#define KESTRO_ENGINE_API __declspec(dllimport)
#else
#define KESTRO_ENGINE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Opaque handles; the engine library owns what they point to.
typedef struct FlutterDesktopEngine* FlutterDesktopEngineRef;
typedef struct FlutterDesktopViewController* FlutterDesktopViewControllerRef;
typedef struct FlutterDesktopView* FlutterDesktopViewRef;
typedef struct FlutterDesktopMessenger* FlutterDesktopMessengerRef;
typedef struct FlutterDesktopPluginRegistrar* FlutterDesktopPluginRegistrarRef;
typedef struct FlutterDesktopMessageResponseHandle FlutterDesktopMessageResponseHandle;

// One incoming channel message. The bytes live only for the duration of the callback; the
// response handle (possibly null) is spent by FlutterDesktopMessengerSendResponse.
typedef struct {
  const uint8_t* message;
  size_t message_size;
  const FlutterDesktopMessageResponseHandle* response_handle;
} FlutterDesktopMessage;

// What the engine needs to start: bundle paths, entrypoint and its arguments. The engine copies
// everything it keeps during FlutterDesktopEngineCreate.
typedef struct {
  const wchar_t* assets_path;
  const wchar_t* icu_data_path;
  const wchar_t* aot_library_path;
  const char* dart_entrypoint;  // empty text (not null) selects the default entrypoint
  int32_t dart_entrypoint_argc;
  const char** dart_entrypoint_argv;  // null when argc is 0
  int32_t option_values[4];           // passed through unchanged; the host never sets them
} FlutterDesktopEngineProperties;

typedef void (*FlutterDesktopMessageCallback)(FlutterDesktopMessengerRef messenger,
                                              const FlutterDesktopMessage* message,
                                              void* user_data);
typedef void (*FlutterDesktopBinaryReply)(const uint8_t* data, size_t data_size, void* user_data);
typedef void (*FlutterDesktopOnNextFrameCallback)(void* user_data);

// ---- Engine ----
KESTRO_ENGINE_API FlutterDesktopEngineRef
FlutterDesktopEngineCreate(const FlutterDesktopEngineProperties* engine_properties);
KESTRO_ENGINE_API bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine);
KESTRO_ENGINE_API FlutterDesktopMessengerRef
FlutterDesktopEngineGetMessenger(FlutterDesktopEngineRef engine);
KESTRO_ENGINE_API FlutterDesktopPluginRegistrarRef
FlutterDesktopEngineGetPluginRegistrar(FlutterDesktopEngineRef engine, const char* plugin_name);
KESTRO_ENGINE_API void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine);
KESTRO_ENGINE_API void FlutterDesktopEngineSetNextFrameCallback(
    FlutterDesktopEngineRef engine, FlutterDesktopOnNextFrameCallback callback, void* user_data);

// ---- Messaging ----
KESTRO_ENGINE_API FlutterDesktopMessengerRef
FlutterDesktopPluginRegistrarGetMessenger(FlutterDesktopPluginRegistrarRef registrar);
// Installs (callback, user_data) for a channel, replacing any earlier pair; nulls remove it.
KESTRO_ENGINE_API void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger,
                                                          const char* channel,
                                                          FlutterDesktopMessageCallback callback,
                                                          void* user_data);
KESTRO_ENGINE_API void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessengerRef messenger, const FlutterDesktopMessageResponseHandle* handle,
    const uint8_t* data, size_t data_length);
KESTRO_ENGINE_API bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger,
                                                   const char* channel, const uint8_t* message,
                                                   size_t message_size);
// True when accepted; the reply callback then runs exactly once with user_data.
KESTRO_ENGINE_API bool FlutterDesktopMessengerSendWithReply(
    FlutterDesktopMessengerRef messenger, const char* channel, const uint8_t* message,
    size_t message_size, FlutterDesktopBinaryReply reply, void* user_data);
// Counted references keep the messenger object valid after its engine is gone.
KESTRO_ENGINE_API FlutterDesktopMessengerRef
FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger);
KESTRO_ENGINE_API void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger);
// False once the messenger's engine has been destroyed.
KESTRO_ENGINE_API bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger);
// Excludes engine shutdown until Unlock; pass the returned value to Unlock when it is non-null.
KESTRO_ENGINE_API FlutterDesktopMessengerRef
FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger);
KESTRO_ENGINE_API void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger);

#ifdef _WIN32
// ---- View controller, view and window integration (Windows only) ----
// Takes ownership of the engine and starts it; null on failure.
KESTRO_ENGINE_API FlutterDesktopViewControllerRef
FlutterDesktopViewControllerCreate(int width, int height, FlutterDesktopEngineRef engine);
KESTRO_ENGINE_API void FlutterDesktopViewControllerDestroy(
    FlutterDesktopViewControllerRef controller);
KESTRO_ENGINE_API FlutterDesktopViewRef
FlutterDesktopViewControllerGetView(FlutterDesktopViewControllerRef controller);
KESTRO_ENGINE_API void FlutterDesktopViewControllerForceRedraw(
    FlutterDesktopViewControllerRef controller);
// True exactly when the engine handled the message and stored its result.
KESTRO_ENGINE_API bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef controller, HWND hwnd, UINT message, WPARAM wparam,
    LPARAM lparam, LRESULT* result);
KESTRO_ENGINE_API HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view);
// DPI of the monitor; 96 means 100 %.
KESTRO_ENGINE_API UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor);
KESTRO_ENGINE_API void FlutterDesktopResyncOutputStreams(void);
#endif  // _WIN32

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // KESTRO_ENGINE_CLIENT_ENGINE_LIBRARY_FLUTTER_DESKTOP_API_H_
