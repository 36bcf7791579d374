// The host's side of named channels: send bytes to the application, with or without waiting for
// its reply, and receive the application's messages through one handler per channel.
#ifndef KESTRO_ENGINE_CLIENT_MESSAGING_BINARY_MESSENGER_H_
#define KESTRO_ENGINE_CLIENT_MESSAGING_BINARY_MESSENGER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace flutter {

// Called with a reply's bytes (valid only during the call). Empty means no reply is wanted.
using BinaryReply = std::function<void(const uint8_t* reply, size_t reply_size)>;

// Called with an incoming message's bytes (valid only during the call) and the function that
// answers it; the reply function may be kept and called later from any thread. Empty means no
// handler.
using BinaryMessageHandler =
    std::function<void(const uint8_t* message, size_t message_size, BinaryReply reply)>;

class BinaryMessenger {
 public:
  virtual ~BinaryMessenger() = default;

  // The message bytes are copied before Send returns. When the engine does not accept the
  // message, reply is destroyed without ever being called.
  virtual void Send(const std::string& channel, const uint8_t* message, size_t message_size,
                    BinaryReply reply = nullptr) const = 0;
  // Replaces the channel's handler; an empty handler removes it.
  virtual void SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) = 0;
};

}  // namespace flutter

#endif  // KESTRO_ENGINE_CLIENT_MESSAGING_BINARY_MESSENGER_H_
