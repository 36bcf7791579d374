// The manager's life cycle, log and event path, and its connection table, on the simulated stack.
#include <gtest/gtest.h>

#include "tests/thermal_printer/manager_fixture.h"

namespace kestro_test {
namespace {

TEST_F(ManagerTest, WinsockIsStartedOnceAndCleanedUpOnlyWhenStarted) {
  stack_.SetStartupError(10091);
  manager_->Initialize();
  EXPECT_EQ(log_.TakeLines(), (Lines{"BluetoothManager: Initializing...",
                                     "BluetoothManager: WSAStartup failed with error: 10091"}));
  manager_->Dispose();
  EXPECT_EQ(log_.TakeLines(),
            (Lines{"BluetoothManager: Disposing...", "BluetoothManager: Disposed"}));
  stack_.SetStartupError(0);
  manager_->Initialize();
  manager_->Initialize();
  EXPECT_EQ(
      log_.TakeLines(),
      (Lines{"BluetoothManager: Initializing...", "BluetoothManager: WSAStartup successful",
             "BluetoothManager: Initialized successfully", "BluetoothManager: Initializing...",
             "BluetoothManager: Initialized successfully"}));
  manager_->Dispose();
  manager_->Dispose();
  manager_->Initialize();
  EXPECT_EQ(stack_.calls(), (Lines{"WSAStartup(0x0202) = 10091", "WSAStartup(0x0202) = 0",
                                   "WSACleanup() = 0", "WSAStartup(0x0202) = 0"}));
}

TEST_F(ManagerTest, DisposeClosesEveryConnectionAndDestructionDisposesAgain) {
  stack_.SetPrinter(kPrinter);
  stack_.SetPrinter(kOtherPrinter);
  InitializeQuietly();
  ASSERT_TRUE(manager_->Connect(kPrinterText));
  ASSERT_TRUE(manager_->Connect(kOtherPrinterText));
  Forget();
  manager_->Dispose();
  // Key order: "00:11:…" (socket 1002) before "AA:BB:…" (socket 1001).
  EXPECT_EQ(stack_.TakeCalls(),
            (Lines{"closesocket(1002) = 0", "closesocket(1001) = 0", "WSACleanup() = 0"}));
  EXPECT_FALSE(manager_->IsConnected(kPrinterText));
  EXPECT_FALSE(manager_->IsConnected(kOtherPrinterText));
  log_.TakeLines();
  manager_.reset();
  EXPECT_EQ(log_.Lines(), (Lines{"BluetoothManager: Disposing...", "BluetoothManager: Disposed"}));
  EXPECT_EQ(stack_.calls(), Lines{});
}

TEST_F(ManagerTest, EveryLogLineIsAnEventWithAMillisecondTimestamp) {
  // 1970-01-01 00:00:01.5 UTC and 0.9999 ms later: both truncate to 1500.
  stack_.SetClock(15000000);
  manager_->Initialize();
  stack_.SetClock(15009999);
  manager_->Dispose();
  const std::string tail = ", timestamp: 1500L}";
  EXPECT_EQ(events_.Events(),
            (Lines{"onLogMessage {message: BluetoothManager: Initializing..." + tail,
                   "onLogMessage {message: BluetoothManager: WSAStartup successful" + tail,
                   "onLogMessage {message: BluetoothManager: Initialized successfully" + tail,
                   "onLogMessage {message: BluetoothManager: Disposing..." + tail,
                   "onLogMessage {message: BluetoothManager: Disposed" + tail}));
}

TEST_F(ManagerTest, RadioCheckClosesBothHandles) {
  EXPECT_TRUE(kestro::IsBluetoothRadioPresent(stack_));
  EXPECT_EQ(stack_.TakeCalls(),
            (Lines{"BluetoothFindFirstRadio(4) = 501, radio 502",
                   "BluetoothFindRadioClose(501) = 1", "CloseHandle(502) = 1"}));
  stack_.SetRadioPresent(false);
  EXPECT_FALSE(kestro::IsBluetoothRadioPresent(stack_));
  EXPECT_EQ(stack_.calls(), Lines{"BluetoothFindFirstRadio(4) = 0"});
  EXPECT_EQ(log_.Lines(), Lines{});
}

TEST_F(ManagerTest, ConnectOpensOneSocketAndReusesIt) {
  stack_.SetPrinter(kPrinter);
  InitializeQuietly();
  EXPECT_TRUE(manager_->Connect(kPrinterText, "printer-1"));
  EXPECT_EQ(log_.TakeLines(), Join({{"BluetoothManager: Connecting to AA:BB:CC:DD:EE:FF"},
                                    SocketLines(kPrinterText),
                                    {"BluetoothManager: Connected successfully to "
                                     "AA:BB:CC:DD:EE:FF"}}));
  EXPECT_EQ(stack_.TakeCalls(), SocketCalls(1001, kPrinterText));

  // Other spellings of the address name the same entry.
  EXPECT_TRUE(manager_->Connect("aa-bb-cc-dd-ee-ff"));
  EXPECT_EQ(log_.Lines(), (Lines{"BluetoothManager: Connecting to AA:BB:CC:DD:EE:FF",
                                 "BluetoothManager: Already connected to AA:BB:CC:DD:EE:FF"}));
  EXPECT_EQ(stack_.calls(), Lines{});
  EXPECT_TRUE(manager_->IsConnected("aabbccddeeff"));
}

TEST_F(ManagerTest, ConnectFailuresAreExplainedAndLeaveNoEntry) {
  const std::vector<std::pair<int32_t, std::string>> cases = {
      {10060, " (Connection timed out - printer may be off)"},
      {10061, " (Connection refused - printer may not support SPP)"},
      {10051, " (Network unreachable - Bluetooth not enabled)"},
      {10065, " (Host unreachable - printer out of range)"},
      {10049, " (Address not available - wrong MAC address)"},
      {10050, " (Network down - Bluetooth adapter disabled)"},
      {10064, " (Unknown error)"},
  };
  InitializeQuietly();
  int socket = 1001;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    PrinterBehaviour refusing;
    refusing.connect_error = c.first;
    stack_.SetPrinter(kPrinter, refusing);
    EXPECT_FALSE(manager_->Connect(kPrinterText));
    const std::string code = std::to_string(c.first);
    const int id = socket++;
    const std::string s = std::to_string(id);
    Lines lines = SocketLines(kPrinterText);
    lines.back() = "BluetoothManager: connect() failed with error " + code + c.second;
    EXPECT_EQ(log_.TakeLines(), Join({{"BluetoothManager: Connecting to AA:BB:CC:DD:EE:FF"},
                                      lines,
                                      {"BluetoothManager: Failed to create RFCOMM socket"}}));
    Lines calls = SocketCalls(id, kPrinterText);
    calls.back() = "connect(" + s + ", AA:BB:CC:DD:EE:FF SPP, 30) = -1";
    EXPECT_EQ(stack_.TakeCalls(),
              Join({calls, {"WSAGetLastError() = " + code, "closesocket(" + s + ") = 0"}}));
    EXPECT_FALSE(manager_->IsConnected(kPrinterText));
  }
}

TEST_F(ManagerTest, SocketFailureWithoutWinsock) {
  stack_.SetPrinter(kPrinter);
  EXPECT_FALSE(manager_->Connect(kPrinterText));
  EXPECT_EQ(log_.Lines(), (Lines{"BluetoothManager: Connecting to AA:BB:CC:DD:EE:FF",
                                 "BluetoothManager: CreateRfcommSocket for AA:BB:CC:DD:EE:FF",
                                 "BluetoothManager: socket() failed with error 10093",
                                 "BluetoothManager: Failed to create RFCOMM socket"}));
  EXPECT_EQ(stack_.calls(),
            (Lines{"socket(32, 1, 3) = INVALID_SOCKET", "WSAGetLastError() = 10093"}));
}

TEST_F(ManagerTest, InvalidAddressesOpenNoSocket) {
  InitializeQuietly();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"AA:BB:CC:DD:EE", "AA:BB:CC:DD:EE"},
      {"00-00-00-00-00-00", "00:00:00:00:00:00"},
      {"", ""},
      {"printer", "E"}};
  for (const auto& [text, normalized] : cases) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(manager_->Connect(text));
    EXPECT_FALSE(manager_->PrintBytes(text, {1, 2, 3}, "printer-1", "job-1"));
    EXPECT_EQ(log_.TakeLines(),
              (Lines{"BluetoothManager: Connecting to " + normalized,
                     "BluetoothManager: Invalid MAC address: " + normalized,
                     "BluetoothManager: Printing 3 bytes to " + normalized,
                     "BluetoothManager: Invalid MAC address for print: " + normalized}));
  }
  EXPECT_EQ(stack_.calls(), Lines{});
  EXPECT_EQ(
      events_.JobEvents(),
      Lines(cases.size(), "onPrintFailedWindows {error: Invalid MAC address, jobUuid: job-1}"));
}

TEST_F(ManagerTest, ShortLastFieldIsLoggedCanonicallyButKeyedAsWritten) {
  stack_.SetPrinter(0xAABBCCDDEE0Full);
  InitializeQuietly();
  EXPECT_TRUE(manager_->Connect("aa:bb:cc:dd:ee:f"));
  EXPECT_EQ(log_.Lines(), Join({{"BluetoothManager: Connecting to AA:BB:CC:DD:EE:F"},
                                SocketLines("AA:BB:CC:DD:EE:0F"),
                                {"BluetoothManager: Connected successfully to "
                                 "AA:BB:CC:DD:EE:F"}}));
  EXPECT_TRUE(manager_->IsConnected("AA:BB:CC:DD:EE:F"));
  EXPECT_FALSE(manager_->IsConnected("AA:BB:CC:DD:EE:0F"));
}

TEST_F(ManagerTest, DisconnectClosesTheEntryOnce) {
  stack_.SetPrinter(kPrinter);
  InitializeQuietly();
  ASSERT_TRUE(manager_->Connect(kPrinterText));
  Forget();
  manager_->Disconnect("aa:bb:cc:dd:ee:ff");
  manager_->Disconnect(kPrinterText);
  EXPECT_EQ(log_.Lines(), (Lines{"BluetoothManager: Disconnecting from AA:BB:CC:DD:EE:FF",
                                 "BluetoothManager: Disconnected from AA:BB:CC:DD:EE:FF",
                                 "BluetoothManager: Disconnecting from AA:BB:CC:DD:EE:FF"}));
  EXPECT_EQ(stack_.calls(), Lines{"closesocket(1001) = 0"});
  EXPECT_FALSE(manager_->IsConnected(kPrinterText));
}

}  // namespace
}  // namespace kestro_test
