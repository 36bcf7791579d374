// The plug-in driven through its channel callback with encoded calls, against the recording
// engine, with the simulated stack behind the manager: what the plug-in adds (dispatch,
// arguments, replies, the path of events and the scheduling of work), not the manager's own
// lines. Its callback never waits on a printer: jobs are held inside the simulated stack's
// connect or send while this thread plays the UI thread. Run under ThreadSanitizer too (ctest
// label "concurrency").
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine_client/codec/byte_streams.h"
#include "engine_client/codec/standard_codec_serializer.h"
#include "engine_client/codec/standard_method_codec.h"
#include "tests/fakes/recording_engine.h"
#include "tests/thermal_printer/manager_fixture.h"
#include "tests/wire_forms.h"
#include "thermal_printer/bluetooth_address.h"
#include "thermal_printer/thermal_printer_plugin.h"

namespace kestro_test {
namespace {

using namespace std::chrono_literals;
using flutter::EncodableValue;
using flutter::EncodableValueList;
using flutter::EncodableValueMap;

constexpr char kChannel[] = "com.kestro.pos/thermal_printer";

std::unique_ptr<flutter::EncodableValue> Map(
    std::initializer_list<std::pair<const char*, flutter::EncodableValue>> entries) {
  flutter::EncodableValueMap map;
  for (const auto& entry : entries) map[flutter::EncodableValue(entry.first)] = entry.second;
  return std::make_unique<flutter::EncodableValue>(std::move(map));
}

Bytes EncodeCall(const std::string& method,
                 std::unique_ptr<flutter::EncodableValue> arguments = nullptr) {
  flutter::MethodCall<flutter::EncodableValue> call(method, std::move(arguments));
  return *flutter::StandardMethodCodec::ForSerializer().EncodeCall(call);
}

// A call for one printer: its address and, when there are any, the bytes to print.
Bytes PrinterCall(const std::string& method, const std::string& address, Bytes bytes = {}) {
  auto arguments = Map({{"macAddress", flutter::EncodableValue(address)}});
  if (!bytes.empty()) {
    std::get<flutter::EncodableValueMap>(*arguments)[flutter::EncodableValue("bytes")] =
        flutter::EncodableValue(std::move(bytes));
  }
  return EncodeCall(method, std::move(arguments));
}

// The plug-in registered with the recording engine; "setup" makes its manager on the simulated
// stack.
class PluginFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    kestro::SetBluetoothStackFactoryForTesting([this] {
      ++stacks_made_;
      return std::make_unique<kestro::BluetoothStackWrapper>(&stack_);
    });
    ThermalPrinterPluginRegisterWithRegistrar(engine_.registrar());
    EXPECT_EQ(log_.TakeLines(), Lines{"ThermalPrinterPlugin: Registered"});
  }
  void TearDown() override {
    kestro::ResetThermalPrinterPluginForTesting();
    kestro::SetBluetoothStackFactoryForTesting(nullptr);
    EXPECT_EQ(engine_.faults(), Lines{});
    EXPECT_EQ(stack_.faults(), Lines{});
  }

  SimulatedBluetoothStack stack_;
  DebugCapture log_;
  RecordingEngine engine_;
  int stacks_made_ = 0;  // written by whichever thread runs "setup", read after draining
};

// "success <value>" or "error <code> <message> <details>", each value as Describe writes it.
std::string DescribeReply(const Bytes& reply) {
  flutter::ByteBufferStreamReader reader(reply.data(), reply.size());
  std::string text = reply.empty() ? "<empty>" : reader.GetByte() == 0 ? "success" : "error";
  while (reader.BytesRemaining() > 0) {
    text += " " + Describe(flutter::StandardCodecSerializer::Shared().ReadNextValue(&reader));
  }
  return text;
}

class PluginTest : public PluginFixture {
 protected:
  // Delivers one message, lets the bridge finish its work and hand the results to this thread
  // (the UI thread here), and returns the message's only reply.
  Bytes Send(const Bytes& message) {
    const Delivery delivery = engine_.Deliver(kChannel, message);
    EXPECT_TRUE(delivery.delivered);
    kestro::DrainThermalPrinterPluginForTesting();
    const std::vector<Bytes> responses = engine_.ResponsesTo(delivery.handle);
    if (responses.size() != 1) {
      ADD_FAILURE() << responses.size() << " replies";
      return Bytes();
    }
    return responses.front();
  }
  std::string SendWire(const std::string& message) {
    const Bytes reply = Send(Bytes(message.begin(), message.end()));
    return std::string(reply.begin(), reply.end());
  }
  std::string Call(const std::string& method, std::unique_ptr<EncodableValue> arguments = nullptr) {
    return DescribeReply(Send(EncodeCall(method, std::move(arguments))));
  }
  // Events the manager sent to the application, decoded.
  Lines Events(bool with_logs = false) {
    Lines events;
    for (const SentMessage& sent : engine_.plain_sends()) {
      std::string event = DescribeCall(sent.bytes);
      if (sent.channel != kChannel) event += " <on " + sent.channel + ">";
      if (with_logs || event.rfind("onLogMessage ", 0) != 0) events.push_back(event);
    }
    return events;
  }
};

// Registration installs the plain callback and holds a messenger reference; a message without a
// response handle still runs; events are sent under the messenger lock after checking the engine
// is there, are dropped once it is gone, and process exit releases the reference.
TEST_F(PluginTest, TheMessengerIsHeldLockedAndReleasedAroundEngineCalls) {
  EXPECT_EQ(engine_.calls(),
            (Lines{"FlutterDesktopPluginRegistrarGetMessenger",
                   "FlutterDesktopMessengerSetCallback", "FlutterDesktopMessengerAddRef"}));
  ASSERT_EQ(engine_.callbacks().size(), 1u);
  EXPECT_EQ(engine_.callbacks().at(kChannel).callback, &kestro::HandleChannelMessage);
  EXPECT_EQ(engine_.callbacks().at(kChannel).user_data, nullptr);
  EXPECT_EQ(engine_.reference_count(), 2);

  EXPECT_TRUE(engine_.Deliver(kChannel, EncodeCall("setup"), false).delivered);
  kestro::DrainThermalPrinterPluginForTesting();
  EXPECT_TRUE(engine_.responses().empty());
  EXPECT_EQ(stack_.calls(), Lines{"WSAStartup(0x0202) = 0"});
  Lines sent = engine_.calls();
  sent.erase(sent.begin(), std::find(sent.begin(), sent.end(), "FlutterDesktopMessengerLock"));
  sent.resize(std::min<size_t>(sent.size(), 4));
  EXPECT_EQ(sent, (Lines{"FlutterDesktopMessengerLock", "FlutterDesktopMessengerIsAvailable",
                         "FlutterDesktopMessengerSend", "FlutterDesktopMessengerUnlock"}));
  const size_t sends_before = engine_.plain_sends().size();
  engine_.DestroyEngine();
  const size_t calls_before = engine_.calls().size();
  EXPECT_EQ(engine_.reference_count(), 1);  // only the plug-in's reference keeps it alive

  // Process exit: the manager is destroyed and logs as it goes.
  kestro::ResetThermalPrinterPluginForTesting();
  EXPECT_EQ(log_.Lines().back(), "BluetoothManager: Disposed");
  EXPECT_EQ(engine_.plain_sends().size(), sends_before);
  const Lines calls = engine_.calls();
  EXPECT_EQ(Lines(calls.begin() + static_cast<std::ptrdiff_t>(calls_before), calls.end()),
            (Lines{"FlutterDesktopMessengerLock", "FlutterDesktopMessengerIsAvailable",
                   "FlutterDesktopMessengerUnlock", "FlutterDesktopMessengerLock",
                   "FlutterDesktopMessengerIsAvailable", "FlutterDesktopMessengerUnlock",
                   "FlutterDesktopMessengerRelease"}));
  EXPECT_EQ(engine_.reference_count(), 0);
  EXPECT_EQ(engine_.locks_held(), 0);
}

// Before "setup" every name answers neutrally, byte for byte, and a name that matches no row
// (case matters) answers null; undecodable messages are answered at once and never logged.
TEST_F(PluginTest, ReplyBytesWithoutAManagerAndForUndecodableMessages) {
  using namespace wire;
  const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
      {{"destroy", "destroyWindows"}, Success(kTrue)},
      {{"checkBleEnabled", "checkBleEnabledWindows"}, Success(kFalse)},
      {{"getBleDevices", "getBleDevicesWindows", "getPairedDevices"}, Success(List({}))},
      {{"connectBle", "connectBleWindows"}, Success(kFalse)},
      {{"disconnectBle", "disconnectBleWindows"}, Success(kTrue)},
      {{"isBleConnected", "isBleConnectedWindows"}, Success(kFalse)},
      {{"printBle", "printBleWindows", "printRawBle"}, Success(kFalse)},
      {{"startBleDiscovery", "startBleDiscoveryWindows"},
       Success(wire::Map({{Str("success"), kTrue}}))},
      {{"stopBleDiscovery", "stopBleDiscoveryWindows"}, Success(kTrue)},
      {{"noSuchMethod", "SETUP", "Setup", "printble", "setupwindows", ""}, Success(kNull)},
  };
  const std::string job =
      wire::Map({{Str("bytes"), ByteList("\x01")}, {Str("macAddress"), Str(kPrinterText)}});
  for (const auto& [names, reply] : rows) {
    for (const std::string& name : names) {
      SCOPED_TRACE(name);
      EXPECT_EQ(SendWire(wire::Call(name, job)), reply);
      EXPECT_EQ(log_.TakeLines(), Lines{"ThermalPrinterPlugin: " + name});
    }
  }
  EXPECT_EQ(stacks_made_, 0);
  EXPECT_EQ(stack_.calls(), Lines{});

  stack_.SetPrinter(kPrinter);
  EXPECT_EQ(SendWire(wire::Call("setup")), Success(kTrue));
  log_.TakeLines();
  // A "printBle" whose bytes lie one list deeper than the codec reads is refused whole.
  std::string deep = List({Int32(0x41)});
  for (int level = 0; level < 256; ++level) deep = List({deep});
  const std::string too_deep = wire::Call(
      "printBle", wire::Map({{Str("bytes"), deep}, {Str("macAddress"), Str(kPrinterText)}}));
  for (const std::string& message : {std::string(), Int32(42) + kNull, too_deep}) {
    EXPECT_EQ(SendWire(message), Error("DECODE_ERROR", "Failed to decode method call"));
  }
  EXPECT_EQ(log_.Lines(), Lines{});
  EXPECT_EQ(stack_.Received(kPrinter), Bytes{});
}

// One manager for the process, initialized by every "setup" (a failed start-up still answers
// true); the device lists and the radio check are the stack's.
TEST_F(PluginTest, SetupMakesOneManagerWhoseQueriesReachTheStack) {
  EXPECT_EQ(Call("destroy"), "success true");
  EXPECT_EQ(Call("setup"), "success true");
  EXPECT_EQ(Call("setupWindows"), "success true");
  EXPECT_EQ(Call("destroyWindows"), "success true");
  EXPECT_EQ(Call("setup"), "success true");
  EXPECT_EQ(stacks_made_, 1);
  EXPECT_EQ(stack_.TakeCalls(),
            (Lines{"WSAStartup(0x0202) = 0", "WSACleanup() = 0", "WSAStartup(0x0202) = 0"}));
  const Lines lines = log_.Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "BluetoothManager: Initializing..."), 3);

  stack_.AddDevice({kPrinter, u"Printer", 0x040680, false, true, true});
  const std::string devices =
      "success [{deviceCl: 263808, deviceName: Printer, isConnected: false, isPaired: true, "
      "macAddress: AA:BB:CC:DD:EE:FF, majDeviceCl: 6}]";
  for (const char* name : {"getBleDevices", "getBleDevicesWindows", "getPairedDevices"}) {
    EXPECT_EQ(Call(name), devices) << name;
  }
  for (const bool radio : {true, false}) {
    stack_.SetRadioPresent(radio);
    for (const char* name : {"checkBleEnabled", "checkBleEnabledWindows"}) {
      EXPECT_EQ(Call(name), radio ? "success true" : "success false") << name;
    }
  }
  EXPECT_EQ(stack_.open_handles(), 0);
  stack_.SetStartupError(10091);
  Call("destroy");
  EXPECT_EQ(Call("setup"), "success true");
}

// Faulty arguments are answered on arrival and reach no manager; accepted ones reach it as read:
// byte list elements give their low eight bits, a job identifier of the wrong kind reads as
// empty, and "disconnectBle" disconnects exactly when its map holds the key as text.
TEST_F(PluginTest, ArgumentsAreCheckedOnArrivalAndPassedOnAsRead) {
  stack_.SetPrinter(kPrinter);
  Call("setup");
  ASSERT_EQ(Call("connectBle", Map({{"macAddress", EncodableValue("aa-bb-cc-dd-ee-ff")}})),
            "success true");
  log_.TakeLines();
  const std::string expected_map = "error INVALID_ARGS Expected map arguments null";
  const std::string address_required = "error INVALID_ARGS macAddress is required null";
  const std::string bytes_required = "error INVALID_ARGS bytes is required null";
  auto list = [] {
    return std::make_unique<EncodableValue>(EncodableValueList{EncodableValue(kPrinterText)});
  };
  auto print = [](EncodableValue address, EncodableValue bytes) {
    return Map({{"macAddress", std::move(address)}, {"bytes", std::move(bytes)}});
  };
  const EncodableValue printer(kPrinterText);
  const EncodableValueList elements = {EncodableValue(65),          EncodableValue(256),
                                       EncodableValue(-1),          EncodableValue("x"),
                                       EncodableValue(int64_t{67}), EncodableValue(66)};
  auto job = print(printer, EncodableValue(elements));
  std::get<EncodableValueMap>(*job)[EncodableValue("jobUuid")] =
      EncodableValue(EncodableValueMap{});
  const std::string disconnecting = "BluetoothManager: Disconnecting from ";
  struct Case {
    std::string method;
    std::unique_ptr<EncodableValue> arguments;
    std::string reply;
    Lines lines = {};  // after the method line
  };
  Case cases[] = {
      {"connectBle", nullptr, expected_map},
      {"connectBleWindows", list(), expected_map},
      {"connectBle", Map({}), address_required},
      {"connectBle", Map({{"macAddress", EncodableValue(42)}}), address_required},
      {"isBleConnected", nullptr, expected_map},
      {"isBleConnectedWindows", list(), expected_map},
      {"isBleConnected", Map({{"macAddress", EncodableValue(true)}}), "success false"},
      {"isBleConnected", Map({{"printerUuid", printer}}), "success false"},
      {"printBle", nullptr, expected_map},
      {"printRawBle", list(), expected_map},
      {"printBle", print(EncodableValue(""), EncodableValue(elements)), address_required},
      {"printBle", print(EncodableValue(1.5), EncodableValue(elements)), address_required},
      {"printBle", print(printer, EncodableValue(EncodableValueList{})), bytes_required},
      {"printBleWindows", print(printer, EncodableValue("ESC @")), bytes_required},
      {"printBle", print(printer, EncodableValue(std::vector<int32_t>{27, 64})), bytes_required},
      {"printBle", print(printer, EncodableValue(EncodableValueList{EncodableValue("a")})),
       bytes_required},
      {"printBle",
       std::move(job),
       "success true",
       {"BluetoothManager: Printing 4 bytes to AA:BB:CC:DD:EE:FF",
        "BluetoothManager: Print successful, sent 4 bytes"}},
      {"disconnectBleWindows", nullptr, "success true"},
      {"disconnectBle", list(), "success true"},
      {"disconnectBle", Map({}), "success true"},
      {"disconnectBle", Map({{"printerUuid", printer}}), "success true"},
      {"disconnectBle", Map({{"macAddress", EncodableValue(7)}}), "success true"},
      {"disconnectBle", Map({{"macAddress", EncodableValue("")}}), "success true", {disconnecting}},
      {"disconnectBleWindows",
       Map({{"macAddress", EncodableValue("aa:bb:cc:dd:ee:ff")}}),
       "success true",
       {disconnecting + kPrinterText, "BluetoothManager: Disconnected from AA:BB:CC:DD:EE:FF"}},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.method + " " + (c.arguments ? Describe(*c.arguments) : "null"));
    EXPECT_EQ(Call(c.method, std::move(c.arguments)), c.reply);
    c.lines.insert(c.lines.begin(), "ThermalPrinterPlugin: " + c.method);
    EXPECT_EQ(log_.TakeLines(), c.lines);
  }
  EXPECT_EQ(stack_.Received(kPrinter), (Bytes{0x41, 0x00, 0xFF, 0x42}));
  EXPECT_EQ(Events(), Lines{"onPrintSuccessWindows {jobUuid: , printerUuid: }"});
}

// Each print job, under every alias, replies its outcome; its log lines reach the application as
// events in the same order, its outcome event follows the last of them, and only the jobs that
// replied true reached the printer, byte for byte. The lines themselves are the manager tests'.
TEST_F(PluginTest, PrintJobsReplyAndSendTheirEventsInLogOrder) {
  constexpr uint64_t kRefusing = 0x001122334455ull, kBroken = 0x0A0B0C0D0E0Full;
  PrinterBehaviour in_parts;
  in_parts.max_part = 5;
  stack_.SetPrinter(kPrinter, in_parts);
  PrinterBehaviour refusing;
  refusing.connect_error = 10061;
  stack_.SetPrinter(kRefusing, refusing);
  PrinterBehaviour broken;
  broken.send_error = 10054;
  stack_.SetPrinter(kBroken, broken);
  Call("setupWindows");
  struct Job {
    std::string method, address;
    Bytes bytes;
    std::string failure;  // empty when the job succeeds
  };
  const Job jobs[] = {
      {"printBle", kPrinterText, {0x1B, 0x40, 'H', 'i', '\n', 0x1D, 'V', 0x00}, ""},
      {"printBleWindows", "AA:BB:CC:DD:EE", {3}, "Invalid MAC address"},
      {"printRawBle", "00:11:22:33:44:55", {1, 2}, "Connection failed"},
      {"printBle", "0A:0B:0C:0D:0E:0F", {9, 9, 9}, "Send failed: 10054"},
      {"printRawBle", "aa-bb-cc-dd-ee-ff", {'O', 'K', '\n'}, ""},
  };
  log_.TakeLines();
  const auto setup_events = static_cast<std::ptrdiff_t>(Events(true).size());
  Lines expected;
  Bytes printed;
  for (size_t i = 0; i < std::size(jobs); ++i) {
    const Job& job = jobs[i];
    const std::string id = "job-" + std::to_string(i);
    EXPECT_EQ(Call(job.method, Map({{"macAddress", EncodableValue(job.address)},
                                    {"printerUuid", EncodableValue("printer-7")},
                                    {"jobUuid", EncodableValue(id)},
                                    {"bytes", EncodableValue(job.bytes)}})),
              job.failure.empty() ? "success true" : "success false")
        << id;
    const Lines lines = log_.TakeLines();  // the method, then the manager's lines
    EXPECT_EQ(lines.at(0), "ThermalPrinterPlugin: " + job.method);
    for (size_t l = 1; l < lines.size(); ++l) {
      expected.push_back("onLogMessage {message: " + lines[l] + ", timestamp: 0L}");
    }
    if (job.failure.empty()) {
      printed.insert(printed.end(), job.bytes.begin(), job.bytes.end());
      expected.push_back("onPrintSuccessWindows {jobUuid: " + id + ", printerUuid: printer-7}");
    } else {
      expected.push_back("onPrintFailedWindows {error: " + job.failure + ", jobUuid: " + id + "}");
    }
  }
  const Lines events = Events(true);
  EXPECT_EQ(Lines(events.begin() + setup_events, events.end()), expected);
  EXPECT_EQ(stack_.Received(kPrinter), printed);
  EXPECT_TRUE(engine_.pending_replies().empty());  // events never ask for a reply
}

using Handle = const FlutterDesktopMessageResponseHandle*;

Bytes Success(bool value) {
  const flutter::EncodableValue result(value);
  return *flutter::StandardMethodCodec::ForSerializer().EncodeSuccessReply(&result);
}

class PluginThreadsTest : public PluginFixture {
 protected:
  void SetUp() override {
    stack_.SetPrinter(kPrinter);
    stack_.SetPrinter(kOtherPrinter);
    PluginFixture::SetUp();
    Drained(Deliver(EncodeCall("setup")));
  }
  void TearDown() override {
    gate_.Release();
    for (auto& delivery : deliveries_) delivery.wait();
    PluginFixture::TearDown();
  }

  // The next connect (or send) to kPrinter stops inside the stack until gate_.Release().
  void Hold(bool in_send) {
    stack_.SetConnectHook(in_send ? nullptr : gate_.Hook());
    stack_.SetSendHook(in_send ? gate_.Hook() : nullptr);
  }

  // Delivers on another thread and waits at most 5 s for the callback to return, so a callback
  // that waits on the printer fails the test instead of hanging it. Null when it did not return.
  Handle Deliver(Bytes message) {
    auto shared = std::make_shared<const Bytes>(std::move(message));
    deliveries_.push_back(std::async(
        std::launch::async, [this, shared] { return engine_.Deliver(kChannel, *shared).handle; }));
    if (deliveries_.back().wait_for(5s) != std::future_status::ready) {
      ADD_FAILURE() << "the callback did not return within 5 s";
      return nullptr;
    }
    return deliveries_.back().get();
  }
  // Hands over what the workers produced so far, without waiting for running work.
  void Pump() { kestro::DrainThermalPrinterPluginForTesting(false); }
  std::vector<Bytes> Drained(Handle handle) {
    kestro::DrainThermalPrinterPluginForTesting();
    return engine_.ResponsesTo(handle);
  }
  // Pumps until done() holds, for at most 5 s.
  bool Soon(const std::function<bool()>& done) {
    for (auto end = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < end;
         std::this_thread::sleep_for(1ms)) {
      Pump();
      if (done()) return true;
    }
    return false;
  }
  Lines EngineSends() {
    Lines sends;
    for (const std::string& call : engine_.calls()) {
      if (call == "FlutterDesktopMessengerSend" || call == "FlutterDesktopMessengerSendResponse") {
        sends.push_back(call);
      }
    }
    return sends;
  }

  Gate gate_;
  std::vector<std::shared_future<Handle>> deliveries_;
};

TEST_F(PluginThreadsTest, TheCallbackReturnsWhileAJobIsHeldAndTheReplyFollowsTheRelease) {
  for (const bool in_send : {false, true}) {
    SCOPED_TRACE(in_send ? "printBle held in send" : "connectBle held in connect");
    Hold(in_send);
    const size_t sends_at_start = EngineSends().size();
    const Handle handle = Deliver(in_send ? PrinterCall("printBle", kPrinterText, {0x1B, 0x40})
                                          : PrinterCall("connectBle", kPrinterText));
    ASSERT_TRUE(gate_.Entered());
    ASSERT_NE(handle, nullptr);
    // The job's log events so far wait for the UI thread, which then sends them on.
    EXPECT_EQ(EngineSends().size(), sends_at_start);
    Pump();
    EXPECT_GT(EngineSends().size(), sends_at_start);
    EXPECT_TRUE(engine_.ResponsesTo(handle).empty());
    const size_t sends_before = EngineSends().size();

    gate_.Release();
    EXPECT_EQ(Drained(handle), std::vector<Bytes>{Success(true)});
    // The job's events (its log lines, the print outcome) reach the engine before its reply.
    Lines sends = EngineSends();
    sends.erase(sends.begin(), sends.begin() + static_cast<std::ptrdiff_t>(sends_before));
    ASSERT_GE(sends.size(), 2u);
    EXPECT_EQ(sends.back(), "FlutterDesktopMessengerSendResponse");
    EXPECT_EQ(std::count(sends.begin(), sends.end(), "FlutterDesktopMessengerSendResponse"), 1);
    gate_.Rearm();
  }
  EXPECT_EQ(stack_.Received(kPrinter), (Bytes{0x1B, 0x40}));
}

TEST_F(PluginThreadsTest, OneAddressKeepsArrivalOrderAndAHeldPrinterDelaysNoOther) {
  Hold(false);
  std::vector<Handle> jobs = {Deliver(PrinterCall("printBle", kPrinterText, {0}))};
  ASSERT_TRUE(gate_.Entered());
  // Every spelling names the same printer, so all of them queue behind the held job.
  const char* spellings[] = {"aabbccddeeff", "AA-BB-CC-DD-EE-FF", kPrinterText};
  for (uint8_t job = 1; job < 16; ++job) {
    jobs.push_back(Deliver(
        PrinterCall(job % 4 == 0 ? "printRawBle" : "printBleWindows", spellings[job % 3], {job})));
  }
  const Handle status = Deliver(PrinterCall("isBleConnected", kPrinterText));
  const Handle other = Deliver(PrinterCall("printBle", kOtherPrinterText, {0xEE}));
  const Handle devices = Deliver(EncodeCall("getBleDevices"));

  EXPECT_TRUE(Soon([&] { return engine_.ResponsesTo(other).size() == 1; }));
  EXPECT_TRUE(Soon([&] { return engine_.ResponsesTo(devices).size() == 1; }));
  EXPECT_EQ(stack_.Received(kOtherPrinter), Bytes{0xEE});
  EXPECT_TRUE(engine_.ResponsesTo(status).empty());
  EXPECT_TRUE(stack_.Received(kPrinter).empty());

  gate_.Release();
  for (const Handle job : jobs) EXPECT_EQ(Drained(job), std::vector<Bytes>{Success(true)});
  // The status query arrived after every job, so it sees the connection they opened.
  EXPECT_EQ(Drained(status), std::vector<Bytes>{Success(true)});
  Bytes in_order;
  for (uint8_t job = 0; job < 16; ++job) in_order.push_back(job);
  EXPECT_EQ(stack_.Received(kPrinter), in_order);
}

TEST_F(PluginThreadsTest, SetupAndDestroyWaitForEarlierWorkAndHoldLaterWorkBack) {
  const std::pair<const char*, Lines> barriers[] = {
      {"destroy", {"BluetoothManager: Disposing...", "BluetoothManager: Disposed"}},
      {"setupWindows",
       {"BluetoothManager: Initializing...", "BluetoothManager: Initialized successfully"}}};
  for (const auto& [barrier_method, barrier_lines] : barriers) {
    SCOPED_TRACE(barrier_method);
    Hold(false);
    const Handle earlier = Deliver(PrinterCall("printBle", kPrinterText, {1}));
    ASSERT_TRUE(gate_.Entered());
    log_.TakeLines();
    const Handle barrier = Deliver(EncodeCall(barrier_method));
    const Handle later = Deliver(PrinterCall("connectBle", kOtherPrinterText));
    std::this_thread::sleep_for(100ms);
    Pump();
    EXPECT_TRUE(engine_.ResponsesTo(barrier).empty());
    EXPECT_TRUE(engine_.ResponsesTo(later).empty());
    EXPECT_EQ(log_.TakeLines(), (Lines{"ThermalPrinterPlugin: " + std::string(barrier_method),
                                       "ThermalPrinterPlugin: connectBle"}));

    gate_.Release();
    EXPECT_EQ(Drained(earlier), std::vector<Bytes>{Success(true)});
    EXPECT_EQ(Drained(barrier), std::vector<Bytes>{Success(true)});
    EXPECT_EQ(Drained(later).size(), 1u);
    // The earlier job's last lines, the barrier's, then the later work's first.
    Lines lines = log_.TakeLines();
    lines.resize(5);
    EXPECT_EQ(lines, Join({{"BluetoothManager: RFCOMM connection successful!",
                            "BluetoothManager: Print successful, sent 1 bytes"},
                           barrier_lines,
                           {std::string("BluetoothManager: Connecting to ") + kOtherPrinterText}}));
    Drained(Deliver(EncodeCall("setup")));
    gate_.Rearm();
  }
}

// Eight stuck printers take every worker; a ninth printer's job waits for one to come free.
TEST_F(PluginThreadsTest, ALaneBeyondTheWorkerCapWaitsForAWorker) {
  Gate every_connect(kAnyPrinter, true);
  stack_.SetConnectHook(every_connect.Hook());
  std::vector<Handle> jobs;
  for (uint64_t printer = 1; printer <= 9; ++printer) {
    stack_.SetPrinter(printer);
    jobs.push_back(Deliver(PrinterCall("connectBle", kestro::FormatBluetoothAddress(printer))));
  }
  EXPECT_TRUE(every_connect.Entered(8));
  EXPECT_FALSE(every_connect.Entered(9, 200ms));
  every_connect.Release();
  for (const Handle job : jobs) EXPECT_EQ(Drained(job), std::vector<Bytes>{Success(true)});
  EXPECT_TRUE(every_connect.Entered(9, 0ms));
  stack_.SetConnectHook(nullptr);
}

TEST_F(PluginThreadsTest, WorkBeyondTheQueueLimitsIsAnsweredBusyAndNothingElseHappens) {
  const Bytes busy = *flutter::StandardMethodCodec::ForSerializer().EncodeErrorReply(
      "BUSY", "Too many pending printer operations");
  Hold(false);
  ASSERT_NE(Deliver(PrinterCall("connectBle", kPrinterText)), nullptr);
  ASSERT_TRUE(gate_.Entered());

  // A full count: 1 000 messages wait behind the held one.
  std::vector<Handle> waiting;
  for (int i = 0; i < 1000; ++i) {
    waiting.push_back(Deliver(PrinterCall("isBleConnected", kPrinterText)));
  }
  log_.TakeLines();
  const Handle refused = Deliver(PrinterCall("printBle", kOtherPrinterText, {7}));
  EXPECT_EQ(engine_.ResponsesTo(refused), std::vector<Bytes>{busy});
  EXPECT_EQ(log_.Lines(), Lines{"ThermalPrinterPlugin: printBle"});
  gate_.Release();
  for (const Handle handle : waiting) ASSERT_EQ(Drained(handle), std::vector<Bytes>{Success(true)});
  EXPECT_EQ(engine_.ResponsesTo(refused), std::vector<Bytes>{busy});
  EXPECT_TRUE(stack_.Received(kOtherPrinter).empty());

  // Print bytes: 256 MiB may wait, one byte more may not. Encoded before the printer is held:
  // under ThreadSanitizer that takes seconds.
  constexpr size_t kLimit = size_t{256} << 20;
  Bytes large_call = PrinterCall("printBle", kPrinterText, Bytes(kLimit - 2, 'x'));
  gate_.Rearm();
  Hold(false);
  Deliver(PrinterCall("disconnectBle", kPrinterText));
  ASSERT_NE(Deliver(PrinterCall("connectBle", kPrinterText)), nullptr);
  ASSERT_TRUE(gate_.Entered());
  PrinterBehaviour counting;
  counting.keep_bytes = false;
  stack_.SetPrinter(kPrinter, counting);
  const Handle large = Deliver(std::move(large_call));
  const Handle fits = Deliver(PrinterCall("printBle", kPrinterText, {'y', 'y'}));
  const Handle too_much = Deliver(PrinterCall("printBle", kPrinterText, {'z'}));
  EXPECT_EQ(engine_.ResponsesTo(too_much), std::vector<Bytes>{busy});
  gate_.Release();
  EXPECT_EQ(Drained(large), std::vector<Bytes>{Success(true)});
  EXPECT_EQ(Drained(fits), std::vector<Bytes>{Success(true)});
  EXPECT_EQ(stack_.ReceivedCount(kPrinter), kLimit);
}

TEST_F(PluginThreadsTest, ShutdownDropsWaitingWorkAndFinishesTheRunningJob) {
  ASSERT_EQ(Drained(Deliver(PrinterCall("connectBle", kPrinterText))),
            std::vector<Bytes>{Success(true)});
  Hold(true);
  Deliver(PrinterCall("printBle", kPrinterText, {1, 2, 3}));
  ASSERT_TRUE(gate_.Entered());
  Deliver(PrinterCall("printRawBle", kPrinterText, {4}));
  Deliver(PrinterCall("isBleConnectedWindows", kPrinterText));
  Deliver(EncodeCall("destroy"));
  log_.TakeLines();

  // The window is gone: nothing may reach the engine any more.
  kestro::StopThermalPrinterEngineCalls();
  const size_t engine_calls = engine_.calls().size();
  auto shutdown = std::async(std::launch::async, [] { kestro::ShutDownThermalPrinterPlugin(); });
  ASSERT_TRUE(Soon([this] { return log_.Lines().size() >= 3; }));
  EXPECT_EQ(shutdown.wait_for(100ms), std::future_status::timeout);  // the held job still runs
  gate_.Release();
  ASSERT_EQ(shutdown.wait_for(5s), std::future_status::ready);
  Pump();

  EXPECT_EQ(stack_.Received(kPrinter), (Bytes{1, 2, 3}));
  EXPECT_EQ(log_.TakeLines(),
            (Lines{"ThermalPrinterPlugin: Dropped printRawBle at shutdown",
                   "ThermalPrinterPlugin: Dropped isBleConnectedWindows at shutdown",
                   "ThermalPrinterPlugin: Dropped destroy at shutdown",
                   "BluetoothManager: Print successful, sent 3 bytes"}));

  // A message after shutdown is dropped the same way.
  Deliver(PrinterCall("printBle", kPrinterText, {5}));
  EXPECT_EQ(log_.TakeLines(), (Lines{"ThermalPrinterPlugin: printBle",
                                     "ThermalPrinterPlugin: Dropped printBle at shutdown"}));
  Pump();
  const Lines calls = engine_.calls();
  EXPECT_EQ(Lines(calls.begin() + static_cast<std::ptrdiff_t>(engine_calls), calls.end()), Lines{});
}

}  // namespace
}  // namespace kestro_test
