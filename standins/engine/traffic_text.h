// Transcript lines as a person reads them: channel traffic decoded from the standard codec
// (method and arguments, reply, events), so the view's painting reads like run_host.sh's
// summary. Pure; the transcript file itself stays hex.
#ifndef KESTRO_STANDINS_ENGINE_TRAFFIC_TEXT_H_
#define KESTRO_STANDINS_ENGINE_TRAFFIC_TEXT_H_

#include <string>

namespace kestro_standin {

// "send <channel> <hex>" becomes "call <method> <arguments>", "reply <channel> <hex>" becomes
// "  -> <value>" or "  -> error <code> <message>", "event <channel> <hex>" becomes
// "  event <method> <arguments>" (a log event just "  log <message>"). Other lines, and bytes
// that do not decode, come back unchanged.
std::string DecodeTranscriptLine(const std::string& line);

}  // namespace kestro_standin

#endif  // KESTRO_STANDINS_ENGINE_TRAFFIC_TEXT_H_
