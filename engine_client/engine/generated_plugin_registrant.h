// Registers the eight plug-in libraries shipped beside the executable, in their fixed order.
#ifndef KESTRO_ENGINE_CLIENT_ENGINE_GENERATED_PLUGIN_REGISTRANT_H_
#define KESTRO_ENGINE_CLIENT_ENGINE_GENERATED_PLUGIN_REGISTRANT_H_

#include "engine_client/engine/plugin_registry.h"

// Each library gets the registrar obtained for its own plug-in name; a null registrar (engine
// not running) is passed on unchanged.
void RegisterGeneratedPlugins(flutter::PluginRegistry* registry);

#endif  // KESTRO_ENGINE_CLIENT_ENGINE_GENERATED_PLUGIN_REGISTRANT_H_
