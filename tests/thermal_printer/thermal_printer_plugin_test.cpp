// The plug-in driven through its channel callback with encoded calls, against the recording
// engine, with the simulated stack behind the manager.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "tests/thermal_printer/plugin_fixture.h"

namespace kestro_test {
namespace {

using flutter::EncodableValue;
using flutter::EncodableValueList;
using flutter::EncodableValueMap;

std::string Hex(const Bytes& bytes) {
  std::string text;
  char digits[4];
  for (const uint8_t byte : bytes) {
    std::snprintf(digits, sizeof(digits), text.empty() ? "%02X" : " %02X", byte);
    text += digits;
  }
  return text;
}

// The hex of the text's bytes, for building expected envelopes.
std::string HexText(const std::string& text) { return Hex(Bytes(text.begin(), text.end())); }

// "success <value>" or "error <code> <message> <details>" for one reply envelope.
class DescribingResult : public flutter::MethodResult<EncodableValue> {
 public:
  explicit DescribingResult(std::string* out) : out_(out) {}
  void Success(const EncodableValue* result) override {
    *out_ = "success " + (result ? Describe(*result) : "null");
  }
  void Error(const std::string& code, const std::string& message,
             const EncodableValue* details) override {
    *out_ = "error " + code + " " + message + " " + (details ? Describe(*details) : "null");
  }
  void NotImplemented() override { *out_ = "not implemented"; }

 private:
  std::string* out_;
};

std::string DescribeReply(const Bytes& reply) {
  std::string text = "<undecodable>";
  DescribingResult result(&text);
  flutter::StandardMethodCodec::ForSerializer().DecodeReplyInto(reply.data(), reply.size(),
                                                                &result);
  return text;
}

class PluginTest : public PluginFixture {
 protected:
  void SetUp() override {
    PluginFixture::SetUp();
    log_.TakeLines();
  }

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

TEST_F(PluginTest, RegistrationInstallsThePlainCallbackAndHoldsTheMessenger) {
  EXPECT_EQ(engine_.calls(),
            (Lines{"FlutterDesktopPluginRegistrarGetMessenger",
                   "FlutterDesktopMessengerSetCallback", "FlutterDesktopMessengerAddRef"}));
  const auto callback = engine_.CallbackFor(kChannel);
  ASSERT_TRUE(callback.has_value());
  EXPECT_EQ(callback->callback, &kestro::HandleChannelMessage);
  EXPECT_EQ(callback->user_data, nullptr);
  EXPECT_EQ(engine_.callbacks().size(), 1u);
  EXPECT_EQ(engine_.reference_count(), 2);

  kestro::ResetThermalPrinterPluginForTesting();
  EXPECT_EQ(engine_.reference_count(), 1);
  ThermalPrinterPluginRegisterWithRegistrar(engine_.registrar());
  EXPECT_EQ(log_.Lines(), Lines{"ThermalPrinterPlugin: Registered"});
}

TEST_F(PluginTest, ReplyBytesOfTheDocumentedExamples) {
  const std::string invalid_args =
      "01 07 0C " + HexText("INVALID_ARGS") + " 07 16 " + HexText("Expected map arguments") + " 00";
  const std::vector<std::pair<Bytes, std::string>> cases = {
      // "noSuchMethod" with null arguments, written out by hand.
      {{0x07, 0x0C, 'n', 'o', 'S', 'u', 'c', 'h', 'M', 'e', 't', 'h', 'o', 'd', 0x00}, "00 00"},
      {EncodeCall("checkBleEnabled"), "00 02"},
      {EncodeCall("getPairedDevices"), "00 0C 00"},
      {EncodeCall("startBleDiscovery"), "00 0D 01 07 07 " + HexText("success") + " 01"},
      {EncodeCall("connectBle"), invalid_args},
      {{0x07, 0x05, 's', 'e', 't', 'u', 'p', 0x00}, "00 01"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Hex(c.first));
    EXPECT_EQ(Hex(Send(c.first)), c.second);
  }
}

TEST_F(PluginTest, EveryNameAnswersNeutrallyWithoutAManager) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
      {{"destroy", "destroyWindows"}, "success true"},
      {{"checkBleEnabled", "checkBleEnabledWindows"}, "success false"},
      {{"getBleDevices", "getBleDevicesWindows", "getPairedDevices"}, "success []"},
      {{"connectBle", "connectBleWindows"}, "success false"},
      {{"disconnectBle", "disconnectBleWindows"}, "success true"},
      {{"isBleConnected", "isBleConnectedWindows"}, "success false"},
      {{"printBle", "printBleWindows", "printRawBle"}, "success false"},
      {{"startBleDiscovery", "startBleDiscoveryWindows"}, "success {success: true}"},
      {{"stopBleDiscovery", "stopBleDiscoveryWindows"}, "success true"},
      {{"SETUP", "Setup", "printble", "setupwindows", ""}, "success null"},
  };
  for (const auto& row : rows) {
    for (const std::string& name : row.first) {
      SCOPED_TRACE(name);
      EXPECT_EQ(Call(name, Map({{"macAddress", EncodableValue(kPrinterText)},
                                {"bytes", EncodableValue(std::vector<uint8_t>{1})}})),
                row.second);
      EXPECT_EQ(log_.TakeLines(), Lines{"ThermalPrinterPlugin: " + name});
    }
  }
  EXPECT_EQ(stacks_made_, 0);
  EXPECT_EQ(stack_.calls(), Lines{});
}

TEST_F(PluginTest, SetupCreatesOneManagerAndInitializesItEveryTime) {
  EXPECT_EQ(Call("destroy"), "success true");
  EXPECT_EQ(Call("setup"), "success true");
  EXPECT_EQ(Call("setupWindows"), "success true");
  EXPECT_EQ(Call("destroyWindows"), "success true");
  EXPECT_EQ(Call("setup"), "success true");
  EXPECT_EQ(stacks_made_, 1);
  EXPECT_EQ(stack_.calls(),
            (Lines{"WSAStartup(0x0202) = 0", "WSACleanup() = 0", "WSAStartup(0x0202) = 0"}));
  // Winsock is started once per manager life, but every "setup" initializes again.
  const Lines lines = log_.Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "BluetoothManager: Initializing..."), 3);
  // A failed start-up is still answered with true.
  stack_.SetStartupError(10091);
  Call("destroy");
  EXPECT_EQ(Call("setup"), "success true");
}

TEST_F(PluginTest, ArgumentFaultsAndKeysOfTheWrongKind) {
  stack_.SetPrinter(kPrinter);
  Call("setup");
  const std::string expected_map = "error INVALID_ARGS Expected map arguments null";
  const std::string address_required = "error INVALID_ARGS macAddress is required null";
  const std::string bytes_required = "error INVALID_ARGS bytes is required null";
  auto list = [] {
    return std::make_unique<EncodableValue>(EncodableValueList{EncodableValue(kPrinterText)});
  };
  auto bytes = [] { return EncodableValue(std::vector<uint8_t>{0x1B, 0x40}); };
  struct Case {
    std::string method;
    std::unique_ptr<EncodableValue> arguments;
    std::string reply;
  };
  Case cases[] = {
      {"connectBle", nullptr, expected_map},
      {"connectBleWindows", list(), expected_map},
      {"connectBle", Map({}), address_required},
      {"connectBle", Map({{"macAddress", EncodableValue(42)}}), address_required},
      {"isBleConnected", nullptr, expected_map},
      {"isBleConnectedWindows", list(), expected_map},
      {"isBleConnected", Map({{"macAddress", EncodableValue(true)}}), "success false"},
      {"isBleConnected", Map({{"printerUuid", EncodableValue("p")}}), "success false"},
      {"printBle", nullptr, expected_map},
      {"printRawBle", list(), expected_map},
      {"printBle",
       Map({{"macAddress", EncodableValue("")}, {"bytes", EncodableValue(EncodableValueList{})}}),
       address_required},
      {"printBle", Map({{"macAddress", EncodableValue(1.5)}, {"bytes", bytes()}}),
       address_required},
      {"printBle",
       Map({{"macAddress", EncodableValue(kPrinterText)},
            {"bytes", EncodableValue(EncodableValueList{})}}),
       bytes_required},
      {"printBleWindows",
       Map({{"macAddress", EncodableValue(kPrinterText)}, {"bytes", EncodableValue("ESC @")}}),
       bytes_required},
      {"printBle",
       Map({{"macAddress", EncodableValue(kPrinterText)},
            {"bytes", EncodableValue(std::vector<int32_t>{27, 64})}}),
       bytes_required},
      {"printBle",
       Map({{"macAddress", EncodableValue(kPrinterText)},
            {"bytes", EncodableValue(EncodableValueList{EncodableValue("a")})}}),
       bytes_required},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.method + " " + (c.arguments ? Describe(*c.arguments) : "null"));
    EXPECT_EQ(Call(c.method, std::move(c.arguments)), c.reply);
  }
  // None of these reached a socket.
  EXPECT_EQ(stack_.calls(), Lines{"WSAStartup(0x0202) = 0"});
}

TEST_F(PluginTest, ByteListElementsGiveTheirLowEightBits) {
  stack_.SetPrinter(kPrinter);
  Call("setup");
  EncodableValueList elements = {EncodableValue(65),          EncodableValue(256),
                                 EncodableValue(-1),          EncodableValue("x"),
                                 EncodableValue(int64_t{67}), EncodableValue(66)};
  EXPECT_EQ(Call("printBle", Map({{"macAddress", EncodableValue(kPrinterText)},
                                  {"bytes", EncodableValue(elements)},
                                  {"jobUuid", EncodableValue(EncodableValueMap{})}})),
            "success true");
  EXPECT_EQ(Hex(stack_.Received(kPrinter)), "41 00 FF 42");
  // A job identifier of the wrong kind reads as empty.
  EXPECT_EQ(Events(), Lines{"onPrintSuccessWindows {jobUuid: , printerUuid: }"});
}

TEST_F(PluginTest, UndecodableMessagesGetTheDecodeError) {
  const std::string decode_error = "01 07 0C " + HexText("DECODE_ERROR") + " 07 1C " +
                                   HexText("Failed to decode method call") + " 00";
  // A "printBle" whose bytes lie one list deeper than the codec reads is refused whole.
  EncodableValue bytes(EncodableValueList{EncodableValue(0x41)});
  for (int level = 0; level < 256; ++level) bytes = EncodableValue(EncodableValueList{bytes});
  const Bytes too_deep =
      EncodeCall("printBle", Map({{"macAddress", EncodableValue(kPrinterText)}, {"bytes", bytes}}));
  stack_.SetPrinter(kPrinter);
  Call("setup");
  log_.TakeLines();
  for (const Bytes& message : {Bytes{}, Bytes{0x03, 0x2A, 0x00, 0x00, 0x00, 0x00}, too_deep}) {
    SCOPED_TRACE(Hex(message).substr(0, 40));
    EXPECT_EQ(Hex(Send(message)), decode_error);
  }
  EXPECT_EQ(log_.Lines(), Lines{});
  EXPECT_EQ(stack_.Received(kPrinter), Bytes{});
}

TEST_F(PluginTest, NoReplyWithoutAResponseHandleButTheOperationRuns) {
  const Delivery delivery = engine_.Deliver(kChannel, EncodeCall("setup"), false);
  EXPECT_TRUE(delivery.delivered);
  kestro::DrainThermalPrinterPluginForTesting();
  EXPECT_TRUE(engine_.responses().empty());
  EXPECT_EQ(stack_.calls(), Lines{"WSAStartup(0x0202) = 0"});
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
  Bytes printed;
  for (size_t i = 0; i < std::size(jobs); ++i) {
    const Job& job = jobs[i];
    const std::string id = "job-" + std::to_string(i);
    SCOPED_TRACE(id);
    log_.TakeLines();
    const size_t events_before = Events(true).size();
    EXPECT_EQ(Call(job.method, Map({{"macAddress", EncodableValue(job.address)},
                                    {"printerUuid", EncodableValue("printer-7")},
                                    {"jobUuid", EncodableValue(id)},
                                    {"bytes", EncodableValue(job.bytes)}})),
              job.failure.empty() ? "success true" : "success false");
    const Lines lines = log_.TakeLines();
    ASSERT_GE(lines.size(), 3u);  // the method, "Printing …" and the outcome at least
    EXPECT_EQ(lines[0], "ThermalPrinterPlugin: " + job.method);
    Lines expected;
    for (size_t l = 1; l < lines.size(); ++l) {
      expected.push_back("onLogMessage {message: " + lines[l] + ", timestamp: 0L}");
    }
    if (job.failure.empty()) {
      printed.insert(printed.end(), job.bytes.begin(), job.bytes.end());
      expected.push_back("onPrintSuccessWindows {jobUuid: " + id + ", printerUuid: printer-7}");
    } else {
      expected.push_back("onPrintFailedWindows {error: " + job.failure + ", jobUuid: " + id + "}");
    }
    const Lines events = Events(true);
    EXPECT_EQ(Lines(events.begin() + static_cast<std::ptrdiff_t>(events_before), events.end()),
              expected);
  }
  EXPECT_EQ(Hex(stack_.Received(kPrinter)), Hex(printed));
  EXPECT_TRUE(engine_.pending_replies().empty());  // events never ask for a reply
}

TEST_F(PluginTest, DeviceListsAndRadioComeFromTheStack) {
  // How each field is read is the manager tests' part; here the list must be the stack's.
  SimulatedDevice printer;
  printer.address = kPrinter;
  printer.name = u"Printer";
  printer.class_of_device = 0x040680;
  printer.remembered = printer.authenticated = true;
  stack_.AddDevice(printer);
  Call("setup");
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
}

// Disconnect runs exactly when the arguments are a map holding the key as text, even empty text.
TEST_F(PluginTest, DisconnectOnlyWhenTheAddressKeyIsPresent) {
  stack_.SetPrinter(kPrinter);
  Call("setup");
  auto list = [] {
    return std::make_unique<EncodableValue>(EncodableValueList{EncodableValue(kPrinterText)});
  };
  const std::string disconnecting = "BluetoothManager: Disconnecting from ";
  struct Case {
    std::unique_ptr<EncodableValue> arguments;
    Lines lines;  // after the method line
  };
  Case cases[] = {
      {nullptr, {}},
      {list(), {}},
      {Map({}), {}},
      {Map({{"printerUuid", EncodableValue(kPrinterText)}}), {}},
      {Map({{"macAddress", EncodableValue(7)}}), {}},
      {Map({{"macAddress", EncodableValue("")}}), {disconnecting}},
      {Map({{"macAddress", EncodableValue("aa:bb:cc:dd:ee:ff")}}),
       {disconnecting + kPrinterText, "BluetoothManager: Disconnected from AA:BB:CC:DD:EE:FF"}},
  };
  for (Case& c : cases) {
    const std::string label = c.arguments ? Describe(*c.arguments) : "null";
    ASSERT_EQ(Call("connectBle", Map({{"macAddress", EncodableValue(kPrinterText)}})),
              "success true");
    log_.TakeLines();
    EXPECT_EQ(Call("disconnectBleWindows", std::move(c.arguments)), "success true") << label;
    c.lines.insert(c.lines.begin(), "ThermalPrinterPlugin: disconnectBleWindows");
    EXPECT_EQ(log_.TakeLines(), c.lines) << label;
  }
}

// Each event is sent under the messenger lock after checking the engine is still there; once the
// engine is gone they are dropped silently.
TEST_F(PluginTest, EventsGoUnderTheMessengerLockAndStopWithTheEngine) {
  Call("setup");
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

}  // namespace
}  // namespace kestro_test
