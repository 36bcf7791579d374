// Engine creation from the bundle, plug-in registrars, font reload and the next-frame callback.
#include <optional>
#include <string>
#include <utility>

#include "standins/engine/engine_state.h"
#include "standins/engine/handle_registry.h"
#include "standins/engine/script.h"
#include "standins/engine/standin_exports.h"
#include "standins/transcript.h"
#include "win/files.h"

using kestro_standin::AddHandle;
using kestro_standin::HandleKind;
using kestro_standin::IsLiveHandle;
using kestro_standin::RemoveHandle;
using kestro_standin::WriteTranscriptLine;

namespace {

bool IsAbsolute(const std::wstring& path) {
  return (path.size() >= 2 && path[1] == L':') ||
         (!path.empty() && (path[0] == L'\\' || path[0] == L'/'));
}

// Relative bundle paths name the folder beside the executable, not the working directory.
std::wstring Resolve(const wchar_t* path) {
  std::wstring text(path);
  if (IsAbsolute(text)) return text;
  const std::wstring folder = kestro::ExecutableFolder();
  return folder.empty() ? text : folder + L"\\" + text;
}

std::optional<DWORD> Attributes(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return attributes;
}

bool IsDirectory(const std::wstring& path) {
  std::optional<DWORD> attributes = Attributes(path);
  return attributes && (*attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFile(const std::wstring& path) {
  std::optional<DWORD> attributes = Attributes(path);
  return attributes && !(*attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

FlutterDesktopPluginRegistrar::FlutterDesktopPluginRegistrar(FlutterDesktopMessenger* messenger,
                                                             std::string plugin_name)
    : messenger(messenger), plugin_name(std::move(plugin_name)) {
  AddHandle(HandleKind::kRegistrar, this);
}

FlutterDesktopPluginRegistrar::~FlutterDesktopPluginRegistrar() { RemoveHandle(this); }

FlutterDesktopEngine::FlutterDesktopEngine(std::vector<std::string> lines)
    : messenger(std::make_unique<FlutterDesktopMessenger>().release()),  // owned by its count
      script_lines(std::move(lines)) {
  AddHandle(HandleKind::kEngine, this);
}

// The messenger stays live while the host holds references on it, unavailable from now on.
FlutterDesktopEngine::~FlutterDesktopEngine() {
  RemoveHandle(this);
  messenger->Shutdown();
  messenger->Release();
}

bool FlutterDesktopEngine::RunNextFrameCallback() {
  FlutterDesktopOnNextFrameCallback callback = std::exchange(next_frame_callback, nullptr);
  void* user_data = std::exchange(next_frame_user_data, nullptr);
  if (callback == nullptr) return false;
  callback(user_data);
  return true;
}

extern "C" {

FlutterDesktopEngineRef FlutterDesktopEngineCreate(
    const FlutterDesktopEngineProperties* properties) {
  if (properties == nullptr || properties->assets_path == nullptr ||
      properties->icu_data_path == nullptr || properties->aot_library_path == nullptr) {
    return nullptr;
  }
  std::wstring aot_library = Resolve(properties->aot_library_path);
  if (!IsDirectory(Resolve(properties->assets_path)) ||
      !IsFile(Resolve(properties->icu_data_path)) || !IsFile(aot_library)) {
    return nullptr;
  }
  std::optional<std::string> script = kestro::ReadWholeFile(aot_library);
  if (!script) return nullptr;

  auto engine = std::make_unique<FlutterDesktopEngine>(kestro_standin::SplitScript(*script));
  if (properties->dart_entrypoint) engine->entrypoint = properties->dart_entrypoint;
  std::string line = "args " + std::to_string(properties->dart_entrypoint_argc);
  for (int32_t i = 0; i < properties->dart_entrypoint_argc; ++i) {
    const char* argument =
        properties->dart_entrypoint_argv ? properties->dart_entrypoint_argv[i] : nullptr;
    engine->arguments.emplace_back(argument ? argument : "");
    const std::string& bytes = engine->arguments.back();
    line += " " +
            kestro_standin::HexBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  for (int i = 0; i < 4; ++i) engine->option_values[i] = properties->option_values[i];
  WriteTranscriptLine(line);
  return engine.release();
}

bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine) {
  if (!IsLiveHandle(HandleKind::kEngine, engine, __func__)) return false;
  if (engine->owned_by_view_controller) {
    WriteTranscriptLine(std::string("fault ") + __func__ + " # owned by a view controller");
    return false;
  }
  std::unique_ptr<FlutterDesktopEngine> ended(engine);
  ended.reset();
  WriteTranscriptLine("destroyed");
  return true;
}

FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(FlutterDesktopEngineRef engine) {
  if (!IsLiveHandle(HandleKind::kEngine, engine, __func__)) return nullptr;
  return engine->messenger;
}

FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(
    FlutterDesktopEngineRef engine, const char* plugin_name) {
  if (!IsLiveHandle(HandleKind::kEngine, engine, __func__) || plugin_name == nullptr) {
    return nullptr;
  }
  WriteTranscriptLine("registrar " + std::string(plugin_name));
  std::unique_ptr<FlutterDesktopPluginRegistrar>& registrar = engine->registrars[plugin_name];
  if (!registrar) {
    registrar = std::make_unique<FlutterDesktopPluginRegistrar>(engine->messenger, plugin_name);
  }
  return registrar.get();
}

void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine) {
  if (!IsLiveHandle(HandleKind::kEngine, engine, __func__)) return;
  WriteTranscriptLine("fonts-reloaded");
}

void FlutterDesktopEngineSetNextFrameCallback(FlutterDesktopEngineRef engine,
                                              FlutterDesktopOnNextFrameCallback callback,
                                              void* user_data) {
  if (!IsLiveHandle(HandleKind::kEngine, engine, __func__)) return;
  engine->next_frame_callback = callback;
  engine->next_frame_user_data = user_data;
}

void KestroStandinCheckRegistrar(FlutterDesktopPluginRegistrarRef registrar,
                                 const char* plugin_name, const char* registration_function) {
  if (!IsLiveHandle(HandleKind::kRegistrar, registrar, registration_function)) return;
  if (registrar->plugin_name != plugin_name) {
    WriteTranscriptLine(std::string("fault ") + registration_function + " # the registrar of " +
                        registrar->plugin_name + ", not of " + plugin_name);
  }
}

}  // extern "C"
