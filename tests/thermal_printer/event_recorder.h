// A binary messenger that keeps what it is asked to send, and a readable form of the method
// calls in those messages, so manager tests can check events on any build.
#ifndef KESTRO_TESTS_THERMAL_PRINTER_EVENT_RECORDER_H_
#define KESTRO_TESTS_THERMAL_PRINTER_EVENT_RECORDER_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine_client/codec/encodable_value.h"
#include "engine_client/messaging/binary_messenger.h"
#include "engine_client/messaging/method_channel.h"

namespace kestro_test {

// Strings bare, integers in decimal, bools as true/false, maps as {key: value, ...} in key
// order, lists as [a, b]; anything else as <kind N>.
std::string Describe(const flutter::EncodableValue& value);

// "name arguments" of an encoded method call, or "<undecodable>".
std::string DescribeCall(const std::vector<uint8_t>& message);

class EventRecorder : public flutter::BinaryMessenger {
 public:
  // A channel named "events" with the standard method codec over this recorder.
  std::shared_ptr<flutter::MethodChannel> Channel();

  void Send(const std::string& channel, const uint8_t* message, size_t message_size,
            flutter::BinaryReply reply = nullptr) const override;
  void SetMessageHandler(const std::string& channel,
                         flutter::BinaryMessageHandler handler) override;

  // Every message sent, described with DescribeCall; a send that asked for a reply is marked.
  std::vector<std::string> Events() const;
  // Events other than "onLogMessage".
  std::vector<std::string> JobEvents() const;

 private:
  mutable std::mutex mutex_;
  mutable std::vector<std::string> events_;
};

}  // namespace kestro_test

#endif  // KESTRO_TESTS_THERMAL_PRINTER_EVENT_RECORDER_H_
