#include "tests/thermal_printer/event_recorder.h"

#include "engine_client/codec/standard_method_codec.h"

namespace kestro_test {

std::string Describe(const flutter::EncodableValue& value) {
  if (value.IsNull()) return "null";
  if (const auto* b = std::get_if<bool>(&value)) return *b ? "true" : "false";
  if (const auto* i = std::get_if<int32_t>(&value)) return std::to_string(*i);
  if (const auto* l = std::get_if<int64_t>(&value)) return std::to_string(*l) + "L";
  if (const auto* s = std::get_if<std::string>(&value)) return *s;
  if (const auto* list = std::get_if<flutter::EncodableValueList>(&value)) {
    std::string text = "[";
    for (size_t i = 0; i < list->size(); ++i) text += (i ? ", " : "") + Describe((*list)[i]);
    return text + "]";
  }
  if (const auto* map = std::get_if<flutter::EncodableValueMap>(&value)) {
    std::string text = "{";
    for (const auto& entry : *map) {
      if (text.size() > 1) text += ", ";
      text += Describe(entry.first) + ": " + Describe(entry.second);
    }
    return text + "}";
  }
  return "<kind " + std::to_string(value.index()) + ">";
}

std::string DescribeCall(const std::vector<uint8_t>& message) {
  const auto call =
      flutter::StandardMethodCodec::ForSerializer().DecodeCall(message.data(), message.size());
  if (!call) return "<undecodable>";
  const flutter::EncodableValue* arguments = call->Arguments();
  return call->MethodName() + " " + (arguments ? Describe(*arguments) : "null");
}

std::shared_ptr<flutter::MethodChannel> EventRecorder::Channel() {
  return std::make_shared<flutter::MethodChannel>(this, "events",
                                                  &flutter::StandardMethodCodec::ForSerializer());
}

void EventRecorder::Send(const std::string& channel, const uint8_t* message, size_t message_size,
                         flutter::BinaryReply reply) const {
  std::string event = DescribeCall(std::vector<uint8_t>(message, message + message_size));
  if (channel != "events") event += " <on " + channel + ">";
  if (reply) event += " <reply wanted>";
  std::lock_guard<std::mutex> lock(mutex_);
  events_.push_back(event);
}

// The manager only sends; a handler installed through its channel is a fault worth seeing.
void EventRecorder::SetMessageHandler(const std::string& channel, flutter::BinaryMessageHandler) {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.push_back("<handler set on " + channel + ">");
}

std::vector<std::string> EventRecorder::Events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

std::vector<std::string> EventRecorder::JobEvents() const {
  std::vector<std::string> jobs;
  for (const std::string& event : Events()) {
    if (event.rfind("onLogMessage ", 0) != 0) jobs.push_back(event);
  }
  return jobs;
}

}  // namespace kestro_test
