// One stand-in plug-in library: its registration function records that it was called and has
// the engine check that the registrar is the one it gave out for this plug-in's name. Built
// once per library, with KESTRO_PLUGIN_REGISTRATION_FUNCTION naming the exported function and
// KESTRO_PLUGIN_REGISTRAR_NAME the name the host asks the registrar for.
#include "engine_client/engine_library/plugin_library_exports.h"
#include "standins/engine/standin_exports.h"
#include "standins/transcript.h"

#if !defined(KESTRO_PLUGIN_REGISTRATION_FUNCTION) || !defined(KESTRO_PLUGIN_REGISTRAR_NAME)
#error "KESTRO_PLUGIN_REGISTRATION_FUNCTION and KESTRO_PLUGIN_REGISTRAR_NAME must be defined"
#endif

#define KESTRO_STRINGIFY_TOKEN(name) #name
#define KESTRO_STRINGIFY(name) KESTRO_STRINGIFY_TOKEN(name)

void KESTRO_PLUGIN_REGISTRATION_FUNCTION(FlutterDesktopPluginRegistrarRef registrar) {
  const char* function = KESTRO_STRINGIFY(KESTRO_PLUGIN_REGISTRATION_FUNCTION);
  kestro_standin::WriteTranscriptLine(std::string("plugin ") + function);
  KestroStandinCheckRegistrar(registrar, KESTRO_STRINGIFY(KESTRO_PLUGIN_REGISTRAR_NAME), function);
}
