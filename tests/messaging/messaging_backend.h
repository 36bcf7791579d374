// One engine library behind the messaging contract tests: the recording engine natively, the
// stand-in engine library on Windows. Each test gets a fresh engine.
#ifndef KESTRO_TESTS_MESSAGING_MESSAGING_BACKEND_H_
#define KESTRO_TESTS_MESSAGING_MESSAGING_BACKEND_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine_client/engine_library/flutter_desktop_api.h"

namespace kestro_test {

struct ApplicationMessage {
  std::string channel;
  std::vector<uint8_t> bytes;
};

class MessagingBackend {
 public:
  virtual ~MessagingBackend() = default;

  virtual FlutterDesktopMessengerRef messenger() = 0;
  // Every message of the host that reached the application, in order.
  virtual std::vector<ApplicationMessage> Sent() = 0;
  // Lets the application answer, with no bytes, every message that awaits a reply.
  virtual void AnswerWithNothing() = 0;
  // Whether the engine would call the host for messages on the channel.
  virtual bool HasCallback(const std::string& channel) = 0;
  virtual void DestroyEngine() = 0;
};

std::unique_ptr<MessagingBackend> MakeMessagingBackend();

}  // namespace kestro_test

#endif  // KESTRO_TESTS_MESSAGING_MESSAGING_BACKEND_H_
