// What the stand-in engine library exports beyond the engine library interface: the check its
// stand-in plug-in libraries make on the registrar they are given.
#ifndef KESTRO_STANDINS_ENGINE_STANDIN_EXPORTS_H_
#define KESTRO_STANDINS_ENGINE_STANDIN_EXPORTS_H_

#include "engine_client/engine_library/flutter_desktop_api.h"

extern "C" {

// Writes "fault <registration_function>" unless `registrar` is live and was given out for
// `plugin_name`.
KESTRO_ENGINE_API void KestroStandinCheckRegistrar(FlutterDesktopPluginRegistrarRef registrar,
                                                   const char* plugin_name,
                                                   const char* registration_function);

}  // extern "C"

#endif  // KESTRO_STANDINS_ENGINE_STANDIN_EXPORTS_H_
