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

// Bytes as the transcript writes them: lower-case hex pairs, "-" for none.
inline std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t byte : bytes) text += {kDigits[byte >> 4], kDigits[byte & 0x0f]};
  return bytes.empty() ? "-" : text;
}

class MessagingBackend {
 public:
  virtual ~MessagingBackend() = default;

  virtual FlutterDesktopMessengerRef messenger() = 0;
  // Every message of the host that reached the application, in order, as the transcript writes
  // it: "event <channel> <hex>".
  virtual std::vector<std::string> Sent() = 0;
  // Lets the application answer, with no bytes, every message that awaits a reply.
  virtual void AnswerWithNothing() = 0;
  // Whether the engine would call the host for messages on the channel.
  virtual bool HasCallback(const std::string& channel) = 0;
  // Delivers the application's messages (given at creation) to the host's callbacks, in order,
  // and returns what the application saw, one line each: "reply <channel> <hex>", "reply
  // <channel> none" when the callback returned unanswered, "reply-duplicate <channel>" for any
  // further answer the engine accepted.
  virtual std::vector<std::string> PlayApplication() = 0;
  virtual void DestroyEngine() = 0;
};

// The application's messages are fixed before the engine starts, as a real application's are.
std::unique_ptr<MessagingBackend> MakeMessagingBackend(
    std::vector<ApplicationMessage> application = {});

}  // namespace kestro_test

#endif  // KESTRO_TESTS_MESSAGING_MESSAGING_BACKEND_H_
