// A native stand-in for the engine library's messaging functions that records what the host
// does with them, so the portable messaging code and the printer plug-in can be tested on Linux.
//
// The FlutterDesktop… functions act on the messenger they are given, which keeps recording into
// its engine's log even after the engine object is gone. Every member may be called from any
// thread; callbacks into the host run without any internal lock held, so the host may call back
// into the engine from them.
#ifndef KESTRO_TESTS_FAKES_RECORDING_ENGINE_H_
#define KESTRO_TESTS_FAKES_RECORDING_ENGINE_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine_client/engine_library/flutter_desktop_api.h"

namespace kestro_test {

using Bytes = std::vector<uint8_t>;

struct InstalledCallback {
  FlutterDesktopMessageCallback callback = nullptr;
  void* user_data = nullptr;
};

// A response the host sent with FlutterDesktopMessengerSendResponse.
struct RecordedResponse {
  const FlutterDesktopMessageResponseHandle* handle = nullptr;
  Bytes bytes;
};

// A message the host sent to the application, with or without asking for a reply.
struct SentMessage {
  std::string channel;
  Bytes bytes;
};

// What happened when the test delivered one message to the host.
struct Delivery {
  bool delivered = false;  // false when no callback was installed for the channel
  const FlutterDesktopMessageResponseHandle* handle = nullptr;  // null when sent without one
};

class RecordingEngine {
 public:
  RecordingEngine();
  ~RecordingEngine();  // destroys the engine if the test did not; live messenger refs stay valid
  RecordingEngine(const RecordingEngine&) = delete;
  RecordingEngine& operator=(const RecordingEngine&) = delete;

  FlutterDesktopPluginRegistrarRef registrar() const;
  // Null once the last reference was released and the messenger object freed.
  FlutterDesktopMessengerRef messenger() const;

  // Calls the host's callback for the channel as the application would. The message gets a
  // fresh response handle unless with_response_handle is false.
  Delivery Deliver(const std::string& channel, const Bytes& bytes,
                   bool with_response_handle = true);
  // Every answer given so far to that handle (more than one means a fault was recorded too).
  std::vector<Bytes> ResponsesTo(const FlutterDesktopMessageResponseHandle* handle) const;
  // Every SendResponse call, in order, including faulty ones.
  std::vector<RecordedResponse> responses() const;

  std::optional<InstalledCallback> CallbackFor(const std::string& channel) const;
  std::map<std::string, InstalledCallback> callbacks() const;

  // Every message the engine accepted from the host, with or without a reply, in order.
  std::vector<SentMessage> accepted_sends() const;
  // Messages sent with FlutterDesktopMessengerSend.
  std::vector<SentMessage> plain_sends() const;
  // Messages accepted by FlutterDesktopMessengerSendWithReply and not yet answered.
  std::vector<SentMessage> pending_replies() const;
  // Runs the reply callback of the pending message at index with these bytes, once; false when
  // there is no such pending message.
  bool AnswerPending(size_t index, const Bytes& reply);

  // Ends the engine under the messenger lock; IsAvailable is false afterwards and the engine's
  // own messenger reference is dropped.
  void DestroyEngine();

  // References on the messenger, the engine's own included; 0 once it was freed.
  int reference_count() const;
  int locks_held() const;

  // Every FlutterDesktop… function called, by name, in call order.
  std::vector<std::string> calls() const;
  // Misuse a real engine would not survive (a second response to a handle, unbalanced Unlock,
  // responses after shutdown, …), one line each.
  std::vector<std::string> faults() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace kestro_test

#endif  // KESTRO_TESTS_FAKES_RECORDING_ENGINE_H_
