// Hands out the engine's plug-in registrars by plug-in name.
#ifndef KESTRO_ENGINE_CLIENT_ENGINE_PLUGIN_REGISTRY_H_
#define KESTRO_ENGINE_CLIENT_ENGINE_PLUGIN_REGISTRY_H_

#include <string>

#include "engine_client/engine_library/flutter_desktop_api.h"

namespace flutter {

class PluginRegistry {
 public:
  virtual ~PluginRegistry() = default;

  // The registrar for `plugin_name`, or null when the engine is not running.
  virtual FlutterDesktopPluginRegistrarRef GetPluginRegistrar(const std::string& plugin_name) = 0;
};

}  // namespace flutter

#endif  // KESTRO_ENGINE_CLIENT_ENGINE_PLUGIN_REGISTRY_H_
