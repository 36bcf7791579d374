// The manager's life cycle, log and event path, and its connection table, on the simulated stack.
#include <gtest/gtest.h>

#include "tests/thermal_printer/manager_fixture.h"

namespace kestro_test {
namespace {

using Lines = std::vector<std::string>;

TEST_F(ManagerTest, InitializeStartsWinsockOnce) {
  manager_->Initialize();
  manager_->Initialize();
  EXPECT_EQ(
      log_.Lines(),
      (Lines{"BluetoothManager: Initializing...", "BluetoothManager: WSAStartup successful",
             "BluetoothManager: Initialized successfully", "BluetoothManager: Initializing...",
             "BluetoothManager: Initialized successfully"}));
  EXPECT_EQ(stack_.calls(), Lines{"WSAStartup(0x0202) = 0"});
}

TEST_F(ManagerTest, StartupFailureIsOnlyLoggedAndTriedAgainNextTime) {
  stack_.SetStartupError(10091);
  manager_->Initialize();
  EXPECT_EQ(log_.TakeLines(), (Lines{"BluetoothManager: Initializing...",
                                     "BluetoothManager: WSAStartup failed with error: 10091"}));
  // Not started, so disposing must not clean up.
  manager_->Dispose();
  stack_.SetStartupError(0);
  manager_->Initialize();
  EXPECT_EQ(stack_.calls(), (Lines{"WSAStartup(0x0202) = 10091", "WSAStartup(0x0202) = 0"}));
  EXPECT_EQ(stack_.winsock_starts(), 1);
}

TEST_F(ManagerTest, DisposeCleansUpOnlyWhatItStarted) {
  manager_->Dispose();
  EXPECT_EQ(log_.TakeLines(),
            (Lines{"BluetoothManager: Disposing...", "BluetoothManager: Disposed"}));
  EXPECT_EQ(stack_.TakeCalls(), Lines{});

  manager_->Initialize();
  manager_->Dispose();
  manager_->Dispose();
  manager_->Initialize();
  EXPECT_EQ(stack_.calls(),
            (Lines{"WSAStartup(0x0202) = 0", "WSACleanup() = 0", "WSAStartup(0x0202) = 0"}));
  EXPECT_EQ(stack_.winsock_starts(), 1);
}

TEST_F(ManagerTest, DestructionDisposesEvenAfterDispose) {
  manager_->Initialize();
  manager_->Dispose();
  Forget();
  manager_.reset();
  EXPECT_EQ(log_.Lines(), (Lines{"BluetoothManager: Disposing...", "BluetoothManager: Disposed"}));
  EXPECT_EQ(stack_.calls(), Lines{});
}

TEST_F(ManagerTest, DestructionClosesSocketsAndCleansUp) {
  stack_.SetPrinter(kPrinter);
  manager_->Initialize();
  ASSERT_TRUE(manager_->Connect(kPrinterText));
  Forget();
  manager_.reset();
  EXPECT_EQ(log_.Lines(), (Lines{"BluetoothManager: Disposing...", "BluetoothManager: Disposed"}));
  EXPECT_EQ(stack_.calls(), (Lines{"closesocket(1001) = 0", "WSACleanup() = 0"}));
}

TEST_F(ManagerTest, EveryLogLineIsAnEventWithAMillisecondTimestamp) {
  // 1970-01-01 00:00:01.5 UTC and 0.9999 ms later: both truncate to 1500.
  stack_.SetClock(15000000);
  manager_->Initialize();
  stack_.SetClock(15009999);
  manager_->Dispose();
  EXPECT_EQ(events_.Events(),
            (Lines{"onLogMessage {message: BluetoothManager: Initializing..., timestamp: 1500L}",
                   "onLogMessage {message: BluetoothManager: WSAStartup successful, timestamp: "
                   "1500L}",
                   "onLogMessage {message: BluetoothManager: Initialized successfully, "
                   "timestamp: 1500L}",
                   "onLogMessage {message: BluetoothManager: Disposing..., timestamp: 1500L}",
                   "onLogMessage {message: BluetoothManager: Disposed, timestamp: 1500L}"}));
}

TEST_F(ManagerTest, DisposeClosesEveryConnection) {
  stack_.SetPrinter(kPrinter);
  stack_.SetPrinter(kOtherPrinter);
  InitializeQuietly();
  ASSERT_TRUE(manager_->Connect(kPrinterText));
  ASSERT_TRUE(manager_->Connect(kOtherPrinterText));
  Forget();
  manager_->Dispose();
  // Key order: "00:11:…" (socket 1002) before "AA:BB:…" (socket 1001).
  EXPECT_EQ(stack_.calls(),
            (Lines{"closesocket(1002) = 0", "closesocket(1001) = 0", "WSACleanup() = 0"}));
  EXPECT_FALSE(manager_->IsConnected(kPrinterText));
  EXPECT_FALSE(manager_->IsConnected(kOtherPrinterText));
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
  EXPECT_TRUE(manager_->IsConnected(kPrinterText));

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
      {10054, " (Unknown error)"},
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
    const std::string s = std::to_string(socket++);
    EXPECT_EQ(log_.TakeLines(),
              (Lines{"BluetoothManager: Connecting to AA:BB:CC:DD:EE:FF",
                     "BluetoothManager: CreateRfcommSocket for AA:BB:CC:DD:EE:FF",
                     "BluetoothManager: Socket created successfully",
                     "BluetoothManager: Attempting RFCOMM connect...",
                     "BluetoothManager: connect() failed with error " + code + c.second,
                     "BluetoothManager: Failed to create RFCOMM socket"}));
    EXPECT_EQ(
        stack_.TakeCalls(),
        (Lines{"socket(32, 1, 3) = " + s, "setsockopt(" + s + ", 0xFFFF, 0x1006, 98 3A 00 00) = 0",
               "setsockopt(" + s + ", 0xFFFF, 0x1005, 98 3A 00 00) = 0",
               "connect(" + s + ", AA:BB:CC:DD:EE:FF SPP, 30) = -1", "WSAGetLastError() = " + code,
               "closesocket(" + s + ") = 0"}));
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
      {"printer", "E"},
  };
  for (const auto& [text, normalized] : cases) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(manager_->Connect(text));
    EXPECT_EQ(log_.TakeLines(), (Lines{"BluetoothManager: Connecting to " + normalized,
                                       "BluetoothManager: Invalid MAC address: " + normalized}));
  }
  EXPECT_EQ(stack_.calls(), Lines{});
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
  manager_->Disconnect(kPrinterText);
  EXPECT_EQ(log_.TakeLines(), Lines{"BluetoothManager: Disconnecting from AA:BB:CC:DD:EE:FF"});

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

TEST_F(ManagerTest, IsConnectedTrustsTheTableUntilASendFails) {
  stack_.SetPrinter(kPrinter);
  InitializeQuietly();
  ASSERT_TRUE(manager_->Connect(kPrinterText));
  stack_.DropLinks(kPrinter);
  Forget();
  EXPECT_TRUE(manager_->IsConnected(kPrinterText));
  EXPECT_EQ(stack_.calls(), Lines{});
  EXPECT_EQ(log_.Lines(), Lines{});
}

}  // namespace
}  // namespace kestro_test
