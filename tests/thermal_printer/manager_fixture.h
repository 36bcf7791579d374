// A BluetoothManager on the simulated stack, with its log lines and events captured (events
// decoded to readable text), and a gate that holds printers inside the stack.
#ifndef KESTRO_TESTS_THERMAL_PRINTER_MANAGER_FIXTURE_H_
#define KESTRO_TESTS_THERMAL_PRINTER_MANAGER_FIXTURE_H_

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine_client/codec/standard_method_codec.h"
#include "engine_client/messaging/binary_messenger.h"
#include "engine_client/messaging/method_channel.h"
#include "standins/bluetooth/simulated_bluetooth_stack.h"
#include "tests/thermal_printer/debug_capture.h"
#include "thermal_printer/bluetooth_manager.h"

namespace kestro_test {

using kestro_standin::PrinterBehaviour;
using kestro_standin::SimulatedBluetoothStack;
using kestro_standin::SimulatedDevice;

using Lines = std::vector<std::string>;

// Strings bare, integers in decimal (64-bit ones marked L), bools as true/false, maps as
// {key: value, ...} in key order, lists as [a, b]; anything else as <kind N>.
inline std::string Describe(const flutter::EncodableValue& value) {
  if (value.IsNull()) return "null";
  if (const auto* b = std::get_if<bool>(&value)) return *b ? "true" : "false";
  if (const auto* i = std::get_if<int32_t>(&value)) return std::to_string(*i);
  if (const auto* l = std::get_if<int64_t>(&value)) return std::to_string(*l) + "L";
  if (const auto* s = std::get_if<std::string>(&value)) return *s;
  std::string text;
  if (const auto* list = std::get_if<flutter::EncodableValueList>(&value)) {
    for (size_t i = 0; i < list->size(); ++i) text += (i ? ", " : "") + Describe((*list)[i]);
    return "[" + text + "]";
  }
  if (const auto* map = std::get_if<flutter::EncodableValueMap>(&value)) {
    for (const auto& [key, item] : *map) {
      text += (text.empty() ? "" : ", ") + Describe(key) + ": " + Describe(item);
    }
    return "{" + text + "}";
  }
  return "<kind " + std::to_string(value.index()) + ">";
}

// "name arguments" of an encoded method call, or "<undecodable>".
inline std::string DescribeCall(const std::vector<uint8_t>& message) {
  const auto call =
      flutter::StandardMethodCodec::ForSerializer().DecodeCall(message.data(), message.size());
  if (!call) return "<undecodable>";
  const flutter::EncodableValue* arguments = call->Arguments();
  return call->MethodName() + " " + (arguments ? Describe(*arguments) : "null");
}

// A messenger that keeps every message sent on it, described, from any thread. A send on another
// channel than "events" or asking for a reply is marked, and so is a handler set on it: the
// manager only sends.
class EventRecorder : public flutter::BinaryMessenger {
 public:
  std::shared_ptr<flutter::MethodChannel> Channel() {
    return std::make_shared<flutter::MethodChannel>(this, "events",
                                                    &flutter::StandardMethodCodec::ForSerializer());
  }
  void Send(const std::string& channel, const uint8_t* message, size_t message_size,
            flutter::BinaryReply reply = nullptr) const override {
    std::string event = DescribeCall(std::vector<uint8_t>(message, message + message_size));
    if (channel != "events") event += " <on " + channel + ">";
    if (reply) event += " <reply wanted>";
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
  }
  void SetMessageHandler(const std::string& channel, flutter::BinaryMessageHandler) override {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back("<handler set on " + channel + ">");
  }
  Lines Events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  // Events other than "onLogMessage".
  Lines JobEvents() const {
    Lines jobs;
    for (const std::string& event : Events()) {
      if (event.rfind("onLogMessage ", 0) != 0) jobs.push_back(event);
    }
    return jobs;
  }

 private:
  mutable std::mutex mutex_;
  mutable Lines events_;
};

constexpr uint64_t kPrinter = 0xAABBCCDDEEFFull;
constexpr char kPrinterText[] = "AA:BB:CC:DD:EE:FF";
constexpr uint64_t kOtherPrinter = 0x001122334455ull;
constexpr char kOtherPrinterText[] = "00:11:22:33:44:55";

// The log lines of a successful CreateRfcommSocket for the canonical address text.
inline std::vector<std::string> SocketLines(const std::string& address) {
  return {"BluetoothManager: CreateRfcommSocket for " + address,
          "BluetoothManager: Socket created successfully",
          "BluetoothManager: Attempting RFCOMM connect...",
          "BluetoothManager: RFCOMM connection successful!"};
}

// The stack calls of a successful CreateRfcommSocket that gets socket id: non-blocking, its
// connect completing in select's write set at once.
inline std::vector<std::string> SocketCalls(int id, const std::string& address) {
  const std::string s = std::to_string(id);
  return {"socket(32, 1, 3) = " + s,
          "setsockopt(" + s + ", 0xFFFF, 0x1006, 98 3A 00 00) = 0",
          "setsockopt(" + s + ", 0xFFFF, 0x1005, 98 3A 00 00) = 0",
          "ioctlsocket(" + s + ", FIONBIO, 1) = 0",
          "connect(" + s + ", " + address + " SPP, 30) = -1",
          "WSAGetLastError() = 10035",
          "select(write " + s + ", except " + s + ", 0.050000 s) = 1; write " + s};
}

// The check of a kept link that finds nothing to read: alive as far as can be seen.
inline std::string ProbeCall(int id) {
  return "select(read " + std::to_string(id) + ", 0.000000 s) = 0";
}

inline std::vector<std::string> Join(std::vector<std::vector<std::string>> parts) {
  std::vector<std::string> joined;
  for (auto& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

constexpr uint64_t kAnyPrinter = 0;

// Holds connect() or send() calls to one printer (kAnyPrinter: to every one) inside the stack,
// whichever hook it is installed for: the first call, or every call when hold_all, until
// released (a minute at most, so a broken test still ends). Counts the calls that came in.
// Rearm only once the held calls have returned.
class Gate {
 public:
  explicit Gate(uint64_t address = kPrinter, bool hold_all = false)
      : address_(address), hold_all_(hold_all) {}
  std::function<void(uint64_t)> Hook() {
    return [this](uint64_t address) {
      std::unique_lock<std::mutex> lock(mutex_);
      if (address_ != kAnyPrinter && address != address_) return;
      changed_.notify_all();
      if (++entered_ > 1 && !hold_all_) return;
      changed_.wait_for(lock, std::chrono::seconds(60), [this] { return released_; });
    };
  }
  // Whether count calls came in, waiting up to within for them.
  bool Entered(int count = 1, std::chrono::milliseconds within = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, within, [this, count] { return entered_ >= count; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }
  void Rearm() {
    std::lock_guard<std::mutex> lock(mutex_);
    entered_ = 0;
    released_ = false;
  }

 private:
  const uint64_t address_;
  const bool hold_all_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int entered_ = 0;
  bool released_ = false;
};

class ManagerTest : public ::testing::Test {
 protected:
  // The bridge's deadlines, shortened: connect 1 s, progress 0.5 s, waits of 50 ms.
  static constexpr kestro::LinkDeadlines kDeadlines{1000, 500, 50};

  // The manager owns a forwarding wrapper, so the stack outlives it and its destruction can
  // be observed.
  ManagerTest()
      : manager_(std::make_unique<kestro::BluetoothManager>(
            events_.Channel(), std::make_unique<kestro::BluetoothStackWrapper>(&stack_),
            kDeadlines)) {}

  // Starts Winsock and forgets what that logged and called.
  void InitializeQuietly() {
    manager_->Initialize();
    Forget();
  }
  void Forget() {
    log_.TakeLines();
    stack_.TakeCalls();
  }
  // Destruction closes whatever a test left open; the stack must not have seen misuse.
  void TearDown() override {
    manager_.reset();
    EXPECT_EQ(stack_.faults(), std::vector<std::string>());
    EXPECT_EQ(stack_.open_sockets(), 0);
    EXPECT_EQ(stack_.open_handles(), 0);
    EXPECT_EQ(stack_.winsock_starts(), 0);
  }

  // Declared before the manager: its destructor still logs and sends events into them.
  DebugCapture log_;
  EventRecorder events_;
  SimulatedBluetoothStack stack_;
  std::unique_ptr<kestro::BluetoothManager> manager_;
};

}  // namespace kestro_test

#endif  // KESTRO_TESTS_THERMAL_PRINTER_MANAGER_FIXTURE_H_
