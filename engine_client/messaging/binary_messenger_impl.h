// The binary messenger over the engine library's messenger handle.
#ifndef KESTRO_ENGINE_CLIENT_MESSAGING_BINARY_MESSENGER_IMPL_H_
#define KESTRO_ENGINE_CLIENT_MESSAGING_BINARY_MESSENGER_IMPL_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "engine_client/engine_library/flutter_desktop_api.h"
#include "engine_client/messaging/binary_messenger.h"

namespace flutter {

// Handlers are kept in a map whose entries never move, because the engine holds each stored
// handler's address as callback user data. SetMessageHandler must not run concurrently with
// itself or with message delivery; Send may be called from any thread the engine allows.
class BinaryMessengerImpl : public BinaryMessenger {
 public:
  // messenger stays owned by the engine.
  explicit BinaryMessengerImpl(FlutterDesktopMessengerRef messenger);
  // Destroys the handlers but leaves their engine callbacks installed: the owner must outlive
  // message delivery (the engine ends first in the host).
  ~BinaryMessengerImpl() override;

  BinaryMessengerImpl(const BinaryMessengerImpl&) = delete;
  BinaryMessengerImpl& operator=(const BinaryMessengerImpl&) = delete;

  void Send(const std::string& channel, const uint8_t* message, size_t message_size,
            BinaryReply reply = nullptr) const override;
  void SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) override;

  // Engine callback for every channel with a handler; user_data is the stored handler.
  static void ForwardMessage(FlutterDesktopMessengerRef messenger,
                             const FlutterDesktopMessage* message, void* user_data);
  // Engine callback for replies to Send; user_data is the heap reply holder, freed here.
  static void DeliverReply(const uint8_t* reply, size_t reply_size, void* user_data);

 private:
  FlutterDesktopMessengerRef messenger_;
  std::map<std::string, BinaryMessageHandler> handlers_;
};

}  // namespace flutter

#endif  // KESTRO_ENGINE_CLIENT_MESSAGING_BINARY_MESSENGER_IMPL_H_
