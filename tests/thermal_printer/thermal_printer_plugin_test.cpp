// The plug-in driven through its channel callback with encoded calls, against the recording
// engine, with the simulated stack behind the manager: what the plug-in adds (dispatch,
// arguments, replies and the path of events), not the manager's own lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine_client/codec/byte_streams.h"
#include "engine_client/codec/standard_codec_serializer.h"
#include "tests/thermal_printer/plugin_fixture.h"
#include "tests/wire_forms.h"

namespace kestro_test {
namespace {

using flutter::EncodableValue;
using flutter::EncodableValueList;
using flutter::EncodableValueMap;

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
    Drain();
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
  // The events' path exists before the callback can deliver a first message.
  EXPECT_EQ(engine_.calls(),
            (Lines{"FlutterDesktopPluginRegistrarGetMessenger", "FlutterDesktopMessengerAddRef",
                   "FlutterDesktopMessengerLock", "FlutterDesktopMessengerIsAvailable",
                   "FlutterDesktopMessengerSetCallback", "FlutterDesktopMessengerUnlock"}));
  ASSERT_EQ(engine_.callbacks().size(), 1u);
  EXPECT_NE(engine_.callbacks().at(kChannel).callback, nullptr);
  EXPECT_EQ(engine_.callbacks().at(kChannel).user_data, plugin_.get());
  EXPECT_EQ(engine_.reference_count(), 2);

  EXPECT_TRUE(engine_.Deliver(kChannel, EncodeCall("setup"), false).delivered);
  Drain();
  EXPECT_TRUE(engine_.responses().empty());
  EXPECT_EQ(stack_.calls(), Lines{"WSAStartup(0x0202) = 0"});
  Lines sent = engine_.calls();
  sent.erase(sent.begin(), sent.begin() + 6);  // the registration's
  sent.erase(sent.begin(), std::find(sent.begin(), sent.end(), "FlutterDesktopMessengerLock"));
  sent.resize(std::min<size_t>(sent.size(), 4));
  EXPECT_EQ(sent, (Lines{"FlutterDesktopMessengerLock", "FlutterDesktopMessengerIsAvailable",
                         "FlutterDesktopMessengerSend", "FlutterDesktopMessengerUnlock"}));
  const size_t sends_before = engine_.plain_sends().size();
  engine_.DestroyEngine();
  const size_t calls_before = engine_.calls().size();
  EXPECT_EQ(engine_.reference_count(), 1);  // only the plug-in's reference keeps it alive

  // Process exit: the manager disposes once more and logs as it goes.
  ExitProcess();
  EXPECT_EQ(log_.Lines().back(), "BluetoothManager: Disposed");
  EXPECT_EQ(engine_.plain_sends().size(), sends_before);
  const Lines calls = engine_.calls();
  EXPECT_EQ(Lines(calls.begin() + static_cast<std::ptrdiff_t>(calls_before), calls.end()),
            (Lines{"FlutterDesktopMessengerLock", "FlutterDesktopMessengerIsAvailable",
                   "FlutterDesktopMessengerUnlock", "FlutterDesktopMessengerLock",
                   "FlutterDesktopMessengerIsAvailable", "FlutterDesktopMessengerUnlock",
                   // The callback's removal, skipped as the engine is gone.
                   "FlutterDesktopMessengerLock", "FlutterDesktopMessengerIsAvailable",
                   "FlutterDesktopMessengerUnlock", "FlutterDesktopMessengerRelease"}));
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
  // Argument faults are told before anything asks whether a manager exists.
  EXPECT_EQ(SendWire(wire::Call("connectBle", wire::Map({{Str("printerUuid"), Str("p")}}))),
            Error("INVALID_ARGS", "macAddress is required"));
  EXPECT_EQ(log_.TakeLines(), Lines{"ThermalPrinterPlugin: connectBle"});
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
      {"printBle", Map({}), address_required},
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
      expected.push_back("onPrintFailedWindows {bytesSent: 0L, error: " + job.failure +
                         ", jobUuid: " + id + "}");
    }
  }
  const Lines events = Events(true);
  EXPECT_EQ(Lines(events.begin() + setup_events, events.end()), expected);
  EXPECT_EQ(stack_.Received(kPrinter), printed);
  EXPECT_TRUE(engine_.pending_replies().empty());  // events never ask for a reply
}

// The process's plug-in: the first registration makes it, its events' path before its callback;
// a second changes nothing and writes nothing. Natively it has no hand-off, so each message is
// answered before its delivery returns. It is never destroyed: the engine stays live-referenced.
TEST(PluginRegistrationTest, TheFirstRegistrationMakesTheProcessPlugin) {
  DebugCapture log;
  RecordingEngine engine;
  ThermalPrinterPluginRegisterWithRegistrar(engine.registrar());
  EXPECT_EQ(log.TakeLines(), Lines{"ThermalPrinterPlugin: Registered"});
  const Lines calls = engine.calls();
  EXPECT_EQ(calls.at(1), "FlutterDesktopMessengerAddRef");
  EXPECT_EQ(engine.callbacks().count(kChannel), 1u);
  ThermalPrinterPluginRegisterWithRegistrar(engine.registrar());
  EXPECT_EQ(engine.calls(), calls);
  EXPECT_EQ(log.Lines(), Lines{});

  const Delivery delivery = engine.Deliver(kChannel, EncodeCall("setup"));
  EXPECT_EQ(engine.ResponsesTo(delivery.handle), (std::vector<Bytes>{Bytes{0x00, 0x01}}));
  kestro::StopThermalPrinterEngineCalls();
  EXPECT_TRUE(engine.Deliver(kChannel, EncodeCall("stopBleDiscovery")).delivered);
  EXPECT_EQ(engine.responses().size(), 1u);
  EXPECT_EQ(engine.faults(), Lines{});
}

}  // namespace
}  // namespace kestro_test
