// One stand-in plug-in library: its registration function records that it was called. Built
// once per library, with KESTRO_PLUGIN_REGISTRATION_FUNCTION naming the exported function.
#include "engine_client/engine_library/plugin_library_exports.h"
#include "standins/transcript.h"

#ifndef KESTRO_PLUGIN_REGISTRATION_FUNCTION
#error "KESTRO_PLUGIN_REGISTRATION_FUNCTION must name the library's registration function"
#endif

#define KESTRO_STRINGIFY_TOKEN(name) #name
#define KESTRO_STRINGIFY(name) KESTRO_STRINGIFY_TOKEN(name)

void KESTRO_PLUGIN_REGISTRATION_FUNCTION(FlutterDesktopPluginRegistrarRef) {
  kestro_standin::WriteTranscriptLine(
      "plugin " KESTRO_STRINGIFY(KESTRO_PLUGIN_REGISTRATION_FUNCTION));
}
