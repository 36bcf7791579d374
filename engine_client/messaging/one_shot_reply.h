// The reply function given with each incoming message: answers the message at most once, and
// never after the engine is gone.
#ifndef KESTRO_ENGINE_CLIENT_MESSAGING_ONE_SHOT_REPLY_H_
#define KESTRO_ENGINE_CLIENT_MESSAGING_ONE_SHOT_REPLY_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine_client/engine_library/flutter_desktop_api.h"

namespace flutter {

// Copies share one response handle and one counted messenger reference, so no copy can answer a
// message twice, and the messenger object stays valid until the last copy is destroyed. May be
// called on any thread.
class OneShotReply {
 public:
  // Takes a reference on messenger (released with the last copy). A null response handle makes
  // every call report a duplicate.
  OneShotReply(FlutterDesktopMessengerRef messenger,
               const FlutterDesktopMessageResponseHandle* response_handle);

  // Under the engine's messenger lock: silent when the engine is gone, the duplicate line on
  // standard error when the message was already answered, else the response.
  void operator()(const uint8_t* reply, size_t reply_size) const;

 private:
  struct Response;
  std::shared_ptr<Response> response_;
};

}  // namespace flutter

#endif  // KESTRO_ENGINE_CLIENT_MESSAGING_ONE_SHOT_REPLY_H_
