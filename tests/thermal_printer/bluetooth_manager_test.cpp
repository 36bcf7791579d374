// The manager on the simulated stack: life cycle, log and event path, connection table, print
// jobs and the device list, each compared as whole sequences of log lines and stack calls; then
// its address locks: jobs and connects for one address never overlap, and taking a socket away
// from a job inside send() waits for no lock and closes it once. Run under ThreadSanitizer too
// (ctest label "concurrency"); the plug-in tests show other addresses never wait.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <numeric>
#include <vector>

#include "tests/thermal_printer/manager_fixture.h"

namespace kestro_test {
namespace {

using namespace std::chrono_literals;

// Winsock starts once per manager life and is cleaned up only when started; every log line is
// also an event, stamped in whole milliseconds read at the time (1 500.9999 ms gives 1 500).
TEST_F(ManagerTest, WinsockLifeCycleWithEveryLogLineAnEvent) {
  stack_.SetClock(15009999);
  stack_.SetStartupError(10091);
  manager_->Initialize();
  manager_->Dispose();
  stack_.SetStartupError(0);
  manager_->Initialize();
  manager_->Initialize();
  manager_->Dispose();
  manager_->Dispose();
  manager_->Initialize();
  const std::string initializing = "BluetoothManager: Initializing...",
                    started = "BluetoothManager: WSAStartup successful",
                    initialized = "BluetoothManager: Initialized successfully",
                    disposing = "BluetoothManager: Disposing...",
                    disposed = "BluetoothManager: Disposed";
  const Lines lines = log_.Lines();
  EXPECT_EQ(lines,
            (Lines{initializing, "BluetoothManager: WSAStartup failed with error: 10091", disposing,
                   disposed, initializing, started, initialized, initializing, initialized,
                   disposing, disposed, disposing, disposed, initializing, started, initialized}));
  EXPECT_EQ(stack_.calls(), (Lines{"WSAStartup(0x0202) = 10091", "WSAStartup(0x0202) = 0",
                                   "WSACleanup() = 0", "WSAStartup(0x0202) = 0"}));
  Lines events;
  for (const std::string& line : lines) {
    events.push_back("onLogMessage {message: " + line + ", timestamp: 1500L}");
  }
  EXPECT_EQ(events_.Events(), events);
}

// One socket per address however it is spelled (a short last field is logged canonically but
// keyed as written), closed once: by Disconnect, by Dispose in key order, and destruction
// disposes again.
TEST_F(ManagerTest, ConnectionTableOpensOneSocketPerAddressAndClosesItOnce) {
  stack_.SetPrinter(kPrinter);
  stack_.SetPrinter(kOtherPrinter);
  stack_.SetPrinter(0xAABBCCDDEE0Full);
  InitializeQuietly();
  EXPECT_TRUE(manager_->Connect(kPrinterText, "printer-1"));
  EXPECT_TRUE(manager_->Connect("aa-bb-cc-dd-ee-ff"));
  EXPECT_TRUE(manager_->Connect("aa:bb:cc:dd:ee:f"));
  EXPECT_EQ(log_.TakeLines(),
            Join({{"BluetoothManager: Connecting to AA:BB:CC:DD:EE:FF"},
                  SocketLines(kPrinterText),
                  {"BluetoothManager: Connected successfully to AA:BB:CC:DD:EE:FF",
                   "BluetoothManager: Connecting to AA:BB:CC:DD:EE:FF",
                   "BluetoothManager: Already connected to AA:BB:CC:DD:EE:FF",
                   "BluetoothManager: Connecting to AA:BB:CC:DD:EE:F"},
                  SocketLines("AA:BB:CC:DD:EE:0F"),
                  {"BluetoothManager: Connected successfully to AA:BB:CC:DD:EE:F"}}));
  EXPECT_EQ(stack_.TakeCalls(),
            Join({SocketCalls(1001, kPrinterText), SocketCalls(1002, "AA:BB:CC:DD:EE:0F")}));
  // A kept link is checked, without waiting; an address without one is not.
  EXPECT_TRUE(manager_->IsConnected("aabbccddeeff"));
  EXPECT_TRUE(manager_->IsConnected("AA:BB:CC:DD:EE:F"));
  EXPECT_FALSE(manager_->IsConnected("AA:BB:CC:DD:EE:0F"));
  EXPECT_EQ(stack_.TakeCalls(), (Lines{ProbeCall(1001), ProbeCall(1002)}));

  manager_->Disconnect("aa:bb:cc:dd:ee:ff");
  manager_->Disconnect(kPrinterText);
  EXPECT_EQ(log_.TakeLines(), (Lines{"BluetoothManager: Disconnecting from AA:BB:CC:DD:EE:FF",
                                     "BluetoothManager: Disconnected from AA:BB:CC:DD:EE:FF",
                                     "BluetoothManager: Disconnecting from AA:BB:CC:DD:EE:FF"}));
  EXPECT_EQ(stack_.TakeCalls(), Lines{"closesocket(1001) = 0"});
  EXPECT_FALSE(manager_->IsConnected(kPrinterText));

  ASSERT_TRUE(manager_->Connect(kOtherPrinterText));
  Forget();
  manager_->Dispose();
  // Key order: "00:11:…" (socket 1001, handed out again) before "AA:BB:CC:DD:EE:F" (1002).
  EXPECT_EQ(stack_.TakeCalls(),
            (Lines{"closesocket(1001) = 0", "closesocket(1002) = 0", "WSACleanup() = 0"}));
  EXPECT_FALSE(manager_->IsConnected(kOtherPrinterText));
  EXPECT_FALSE(manager_->IsConnected("AA:BB:CC:DD:EE:F"));
  log_.TakeLines();
  manager_.reset();
  EXPECT_EQ(log_.Lines(), (Lines{"BluetoothManager: Disposing...", "BluetoothManager: Disposed"}));
  EXPECT_EQ(stack_.calls(), Lines{});
}

// Without Winsock or with an invalid address no socket opens; each refused connect is explained,
// closes its socket and leaves no entry, through Connect and through a job alike.
TEST_F(ManagerTest, ConnectFailuresAreExplainedAndLeaveNoEntry) {
  stack_.SetPrinter(kPrinter);
  EXPECT_FALSE(manager_->Connect(kPrinterText));
  EXPECT_EQ(log_.TakeLines(), (Lines{"BluetoothManager: Connecting to AA:BB:CC:DD:EE:FF",
                                     "BluetoothManager: CreateRfcommSocket for AA:BB:CC:DD:EE:FF",
                                     "BluetoothManager: socket() failed with error 10093",
                                     "BluetoothManager: Failed to create RFCOMM socket"}));
  EXPECT_EQ(stack_.TakeCalls(),
            (Lines{"socket(32, 1, 3) = INVALID_SOCKET", "WSAGetLastError() = 10093"}));
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
  const std::vector<std::pair<std::string, std::string>> invalid = {
      {"AA:BB:CC:DD:EE", "AA:BB:CC:DD:EE"},
      {"00-00-00-00-00-00", "00:00:00:00:00:00"},
      {"", ""},
      {"printer", "E"}};
  for (const auto& [text, normalized] : invalid) {
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
  Lines events(invalid.size(),
               "onPrintFailedWindows {bytesSent: 0L, error: Invalid MAC address, jobUuid: job-1}");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    PrinterBehaviour refusing;
    refusing.connect_error = c.first;
    stack_.SetPrinter(kPrinter, refusing);
    const std::string code = std::to_string(c.first);
    EXPECT_FALSE(manager_->Connect(kPrinterText));
    EXPECT_FALSE(manager_->PrintBytes(kPrinterText, {1}, "printer-1", "job-" + code));
    Lines attempt = SocketLines(kPrinterText);
    attempt.back() = "BluetoothManager: connect() failed with error " + code + c.second;
    EXPECT_EQ(log_.TakeLines(), Join({{"BluetoothManager: Connecting to AA:BB:CC:DD:EE:FF"},
                                      attempt,
                                      {"BluetoothManager: Failed to create RFCOMM socket",
                                       "BluetoothManager: Printing 1 bytes to AA:BB:CC:DD:EE:FF"},
                                      attempt,
                                      {"BluetoothManager: Failed to connect for print"}}));
    // The failure shows in select's exception set; its code is read from SO_ERROR.
    char code_bytes[12];
    std::snprintf(code_bytes, sizeof(code_bytes), "%02X %02X 00 00", c.first & 0xFF, c.first >> 8);
    Lines attempt_calls = SocketCalls(1001, kPrinterText);  // a closed handle is handed out again
    attempt_calls.back() = "select(write 1001, except 1001, 0.050000 s) = 1; except 1001";
    attempt_calls.push_back("getsockopt(1001, 0xFFFF, 0x1007, 4) = 0; " + std::string(code_bytes));
    attempt_calls.push_back("closesocket(1001) = 0");
    EXPECT_EQ(stack_.TakeCalls(), Join({attempt_calls, attempt_calls}));
    EXPECT_FALSE(manager_->IsConnected(kPrinterText));
    events.push_back(
        "onPrintFailedWindows {bytesSent: 0L, error: Connection failed, jobUuid: job-" + code +
        "}");
  }
  EXPECT_EQ(events_.JobEvents(), events);
}

// The first job connects, sends in parts until all is taken and keeps the connection; the next
// one, spelled otherwise, reuses it and logs nothing about it; an empty job connects and sends
// nothing; a failed send closes the connection and the next job connects again.
TEST_F(ManagerTest, JobsConnectOnceSendInPartsAndReconnectAfterAFailedSend) {
  PrinterBehaviour in_parts;
  in_parts.max_part = 4;
  stack_.SetPrinter(kPrinter, in_parts);
  stack_.SetPrinter(kOtherPrinter);
  InitializeQuietly();
  std::vector<uint8_t> receipt(10);
  std::iota(receipt.begin(), receipt.end(), uint8_t{0xF8});
  EXPECT_TRUE(manager_->PrintBytes(kPrinterText, receipt, "printer-1", "job-1"));
  EXPECT_EQ(log_.TakeLines(), Join({{"BluetoothManager: Printing 10 bytes to AA:BB:CC:DD:EE:FF"},
                                    SocketLines(kPrinterText),
                                    {"BluetoothManager: Print successful, sent 10 bytes"}}));
  EXPECT_EQ(stack_.TakeCalls(),
            Join({SocketCalls(1001, kPrinterText),
                  {"send(1001, 10) = 4", "send(1001, 6) = 4", "send(1001, 2) = 2"}}));
  EXPECT_TRUE(manager_->IsConnected(kPrinterText));

  EXPECT_TRUE(manager_->PrintBytes("aa:bb:cc:dd:ee:ff", {0x1B, 0x40}, "printer-1", "job-2"));
  EXPECT_EQ(log_.TakeLines(), (Lines{"BluetoothManager: Printing 2 bytes to AA:BB:CC:DD:EE:FF",
                                     "BluetoothManager: Print successful, sent 2 bytes"}));
  EXPECT_EQ(stack_.TakeCalls(), (Lines{ProbeCall(1001), ProbeCall(1001), "send(1001, 2) = 2"}));
  receipt.insert(receipt.end(), {0x1B, 0x40});

  EXPECT_TRUE(manager_->PrintBytes(kOtherPrinterText, {}, "printer-2", "job-3"));
  EXPECT_EQ(stack_.TakeCalls(), SocketCalls(1002, kOtherPrinterText));
  EXPECT_EQ(log_.TakeLines().back(), "BluetoothManager: Print successful, sent 0 bytes");

  // A failed send ends the job as a send failure carrying WSAGetLastError's code and the bytes
  // taken, and closes the connection; the next job connects again. A link lost without a word
  // still looks alive. A printer that takes nothing fails the job once it made no progress for
  // the deadline (10060). Over a socket the stack would not make non-blocking, the platform's
  // time-outs bound the send and one that takes nothing fails at once, as it always did.
  PrinterBehaviour stalled;
  stalled.max_part = 0;
  stalled.stalled_error = 10035;
  const struct {
    PrinterBehaviour printer;
    bool drop_link;  // switched off and on again after connecting
    int32_t refuse_non_blocking;
    std::string code;
    Lines calls;  // after the check of the kept link
  } cases[] = {
      {PrinterBehaviour(),
       true,
       0,
       "10054",
       {"send(1001, 3) = -1", "WSAGetLastError() = 10054", "closesocket(1001) = 0"}},
      {stalled, false, 0, "10060", {"send(1001, 3) = -1", "WSAGetLastError() = 10035"}},
      {stalled,
       false,
       10045,
       "10035",
       {"send(1001, 3) = 0", "WSAGetLastError() = 10035", "closesocket(1001) = 0"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    stack_.SetPrinter(kPrinter, c.printer);
    stack_.SetNonBlockingError(c.refuse_non_blocking);
    ASSERT_TRUE(manager_->Connect(kPrinterText));
    if (c.drop_link) stack_.DropLinks(kPrinter);
    Forget();
    EXPECT_TRUE(manager_->IsConnected(kPrinterText));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(manager_->PrintBytes(kPrinterText, {1, 2, 3}, "printer-1", "job-" + c.code));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(took >= 500ms, c.code == "10060");
    EXPECT_EQ(log_.TakeLines(), (Lines{"BluetoothManager: Printing 3 bytes to AA:BB:CC:DD:EE:FF",
                                       "BluetoothManager: Send failed with error: " + c.code}));
    Lines calls = stack_.TakeCalls();
    EXPECT_EQ(calls.at(0), ProbeCall(1001));
    EXPECT_EQ(calls.at(1), ProbeCall(1001));
    EXPECT_EQ(
        Lines(calls.begin() + 2, calls.begin() + 2 + static_cast<std::ptrdiff_t>(c.calls.size())),
        c.calls);
    EXPECT_EQ(calls.back(), "closesocket(1001) = 0");
    EXPECT_FALSE(manager_->IsConnected(kPrinterText));
  }
  stack_.SetNonBlockingError(0);
  stack_.SetPrinter(kPrinter);
  EXPECT_TRUE(manager_->PrintBytes(kPrinterText, {9}, "printer-1", "job-4"));
  EXPECT_EQ(stack_.calls(), Join({SocketCalls(1001, kPrinterText), {"send(1001, 1) = 1"}}));
  receipt.push_back(9);
  EXPECT_EQ(stack_.Received(kPrinter), receipt);
  EXPECT_EQ(
      events_.JobEvents(),
      (Lines{"onPrintSuccessWindows {jobUuid: job-1, printerUuid: printer-1}",
             "onPrintSuccessWindows {jobUuid: job-2, printerUuid: printer-1}",
             "onPrintSuccessWindows {jobUuid: job-3, printerUuid: printer-2}",
             "onPrintFailedWindows {bytesSent: 0L, error: Send failed: 10054, jobUuid: job-10054}",
             "onPrintFailedWindows {bytesSent: 0L, error: Send failed: 10060, jobUuid: job-10060}",
             "onPrintFailedWindows {bytesSent: 0L, error: Send failed: 10035, jobUuid: job-10035}",
             "onPrintSuccessWindows {jobUuid: job-4, printerUuid: printer-1}"}));
}

// Parts of at most 4 KiB, whatever the job's length: a job that outlasts the progress deadline
// prints whole at its printer's rate, while a printer that stops taking bytes fails its job once
// it took nothing for the deadline, counted from its last progress and telling what it took (the
// connect deadline, and the product's values, are the end-to-end tests'). Run at once, so neither
// waits for the other.
TEST_F(ManagerTest, OnlyAPrinterThatStopsTakingBytesTimesOut) {
  PrinterBehaviour slow;
  slow.bytes_per_second = 20000;  // a part of 4 KiB keeps it busy for 205 ms
  stack_.SetPrinter(kPrinter, slow);
  PrinterBehaviour stalling = slow;
  stalling.stall_after = 8192;
  stack_.SetPrinter(kOtherPrinter, stalling);
  InitializeQuietly();
  std::vector<uint8_t> receipt(20000);
  std::iota(receipt.begin(), receipt.end(), uint8_t{0});
  const auto start = std::chrono::steady_clock::now();
  auto timed = [&](auto call) {
    return std::async(std::launch::async, [&, call] {
      const bool result = call();
      return std::make_pair(result, std::chrono::steady_clock::now() - start);
    });
  };
  auto whole = timed([&] { return manager_->PrintBytes(kPrinterText, receipt, "p", "whole"); });
  auto stalled =
      timed([&] { return manager_->PrintBytes(kOtherPrinterText, receipt, "p", "stalled"); });
  const auto [printed, print_time] = whole.get();
  const auto [stall_printed, stall_time] = stalled.get();
  EXPECT_TRUE(printed);
  EXPECT_GE(print_time, 800ms);  // longer than the deadline, yet no time-out
  EXPECT_EQ(stack_.Received(kPrinter), receipt);
  EXPECT_FALSE(stall_printed);
  EXPECT_GE(stall_time, 700ms);  // its second part taken at 205 ms, then the 500 ms deadline
  EXPECT_LT(stall_time, 3s);
  uint64_t largest = 0;
  for (const std::string& call : stack_.calls()) {
    unsigned long long socket = 0, length = 0;
    if (std::sscanf(call.c_str(), "send(%llu, %llu)", &socket, &length) == 2) {
      largest = std::max<uint64_t>(largest, length);
    }
  }
  EXPECT_EQ(largest, 4096u);
  Lines outcomes = events_.JobEvents();  // in either order
  std::sort(outcomes.begin(), outcomes.end());
  EXPECT_EQ(outcomes,
            (Lines{"onPrintFailedWindows {bytesSent: 8192L, error: Send failed: 10060, jobUuid: "
                   "stalled}",
                   "onPrintSuccessWindows {jobUuid: whole, printerUuid: p}"}));
  EXPECT_EQ(stack_.open_sockets(), 1);
}

// A printer switched off and on closed the kept link: the next job notices before sending,
// says so, closes the old socket once and connects again; isBleConnected notices it too. Bytes a
// printer sends unasked are read and dropped, and its link is kept.
TEST_F(ManagerTest, ALinkThePrinterClosedIsRepairedBeforeTheNextJob) {
  PrinterBehaviour restarting;
  restarting.close_after = 3;
  stack_.SetPrinter(kPrinter, restarting);
  PrinterBehaviour talking;
  talking.says = {0x12, 0x34};
  stack_.SetPrinter(kOtherPrinter, talking);
  InitializeQuietly();
  const std::string closed =
      "BluetoothManager: Connection to AA:BB:CC:DD:EE:FF was closed by the "
      "printer";
  EXPECT_TRUE(manager_->PrintBytes(kPrinterText, {1, 2, 3}, "p", "one"));
  Forget();
  EXPECT_TRUE(manager_->PrintBytes(kPrinterText, {4, 5}, "p", "two"));
  EXPECT_EQ(log_.TakeLines(),
            Join({{"BluetoothManager: Printing 2 bytes to AA:BB:CC:DD:EE:FF", closed},
                  SocketLines(kPrinterText),
                  {"BluetoothManager: Print successful, sent 2 bytes"}}));
  EXPECT_EQ(stack_.TakeCalls(), Join({{"select(read 1001, 0.000000 s) = 1; read 1001",
                                       "recv(1001, 4096) = 0", "closesocket(1001) = 0"},
                                      SocketCalls(1001, kPrinterText),
                                      {"send(1001, 2) = 2"}}));
  EXPECT_TRUE(manager_->PrintBytes(kPrinterText, {6}, "p", "three"));
  Forget();
  EXPECT_FALSE(manager_->IsConnected(kPrinterText));
  EXPECT_FALSE(manager_->IsConnected(kPrinterText));
  EXPECT_EQ(log_.TakeLines(), Lines{closed});
  EXPECT_EQ(stack_.TakeCalls(), (Lines{"select(read 1001, 0.000000 s) = 1; read 1001",
                                       "recv(1001, 4096) = 0", "closesocket(1001) = 0"}));
  EXPECT_EQ(stack_.Received(kPrinter), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(stack_.SuccessfulConnects(kPrinter), 2);

  ASSERT_TRUE(manager_->Connect(kOtherPrinterText));
  Forget();
  EXPECT_TRUE(manager_->PrintBytes(kOtherPrinterText, {7}, "p", "four"));
  EXPECT_EQ(stack_.TakeCalls(),
            (Lines{"select(read 1001, 0.000000 s) = 1; read 1001", "recv(1001, 4096) = 2",
                   ProbeCall(1001), "send(1001, 1) = 1"}));
  EXPECT_EQ(stack_.SuccessfulConnects(kOtherPrinter), 1);
}

// The radio check and the device list close every handle they open. The list holds every
// remembered or authenticated device of any class, in stack order, as the stack reports it.
TEST_F(ManagerTest, RadioCheckAndDeviceListCloseTheirHandles) {
  EXPECT_TRUE(kestro::IsBluetoothRadioPresent(stack_));
  EXPECT_TRUE(manager_->GetPairedDevices().empty());
  EXPECT_EQ(log_.TakeLines(), (Lines{"BluetoothManager: Getting paired devices...",
                                     "BluetoothManager: No paired devices found",
                                     "BluetoothManager: Found 0 paired devices"}));
  EXPECT_EQ(
      stack_.TakeCalls(),
      (Lines{"BluetoothFindFirstRadio(4) = 501, radio 502", "BluetoothFindRadioClose(501) = 1",
             "CloseHandle(502) = 1", "BluetoothFindFirstRadio(4) = 503, radio 504",
             "BluetoothFindFirstDevice(40, auth 1, remembered 1, unknown 0, connected 1, "
             "inquiry 0, timeout 0, radio 504; 560) = 0",
             "BluetoothFindRadioClose(503) = 1", "CloseHandle(504) = 1"}));

  // Address, name, class of device, connected, remembered, authenticated.
  const SimulatedDevice devices[] = {
      {0x001122AABBCCull, u"\u041F\u0440\u0438\u043D\u0442\u0435\u0440", 0x042680, false, true,
       true},  // Принтер, held open by us, in limited discoverable mode (bit 13)
      {0x0011223344AAull, u"Phone", 0x5A020C, false, true, false},  // never authenticated
      {0x0A0B0C0D0E0Full, u"Stranger", 0, false, false, false},     // seen by an inquiry only
      {0x000000000001ull, u"", 0x240404, true, false, false},       // connected, nameless
  };
  for (const SimulatedDevice& device : devices) stack_.AddDevice(device);
  stack_.SetPrinter(devices[0].address);
  manager_->Initialize();
  ASSERT_TRUE(manager_->Connect("00:11:22:AA:BB:CC"));
  Forget();
  const flutter::EncodableValueList listed = manager_->GetPairedDevices();
  // Classes are 32-bit integers (64-bit ones would read "263808L"); "isConnected" is the
  // stack's view, not the manager's table.
  EXPECT_EQ(
      Describe(flutter::EncodableValue(listed)),
      "[{deviceCl: 272000, deviceName: \xD0\x9F\xD1\x80\xD0\xB8\xD0\xBD\xD1\x82\xD0\xB5\xD1\x80, "
      "isConnected: false, isPaired: true, macAddress: 00:11:22:AA:BB:CC, majDeviceCl: 6}, "
      "{deviceCl: 5898764, deviceName: Phone, isConnected: false, isPaired: false, "
      "macAddress: 00:11:22:33:44:AA, majDeviceCl: 2}, "
      "{deviceCl: 2360324, deviceName: , isConnected: true, isPaired: false, "
      "macAddress: 00:00:00:00:00:01, majDeviceCl: 4}]");
  EXPECT_EQ(
      log_.TakeLines(),
      (Lines{"BluetoothManager: Getting paired devices...",
             "BluetoothManager: Found device: \xD0\x9F\xD1\x80\xD0\xB8\xD0\xBD\xD1\x82\xD0\xB5"
             "\xD1\x80 (00:11:22:AA:BB:CC)",
             "BluetoothManager: Found device: Phone (00:11:22:33:44:AA)",
             "BluetoothManager: Found device:  (00:00:00:00:00:01)",
             "BluetoothManager: Found 3 paired devices"}));
  EXPECT_EQ(stack_.TakeCalls(),
            (Lines{"BluetoothFindFirstRadio(4) = 505, radio 506",
                   "BluetoothFindFirstDevice(40, auth 1, remembered 1, unknown 0, connected 1, "
                   "inquiry 0, timeout 0, radio 506; 560) = 507",
                   "BluetoothFindNextDevice(507; 560) = 1", "BluetoothFindNextDevice(507; 560) = 1",
                   "BluetoothFindNextDevice(507; 560) = 0", "BluetoothFindDeviceClose(507) = 1",
                   "BluetoothFindRadioClose(505) = 1", "CloseHandle(506) = 1"}));

  stack_.SetRadioPresent(false);
  EXPECT_FALSE(kestro::IsBluetoothRadioPresent(stack_));
  EXPECT_TRUE(manager_->GetPairedDevices().empty());
  EXPECT_EQ(log_.Lines(), (Lines{"BluetoothManager: Getting paired devices...",
                                 "BluetoothManager: No Bluetooth radio found"}));
  EXPECT_EQ(stack_.calls(),
            (Lines{"BluetoothFindFirstRadio(4) = 0", "BluetoothFindFirstRadio(4) = 0"}));
}

// Disconnect while a job is inside send() returns at once and takes the entry, leaving the close
// to the job, which fails at its next part as aborted (10053) and closes the socket once. A
// connect held across a Dispose stores its socket over the entry made meanwhile, closing that one.
TEST_F(ManagerTest, ASocketInUseIsClosedOnceByItsLastUser) {
  PrinterBehaviour one_byte_parts;
  one_byte_parts.max_part = 1;
  stack_.SetPrinter(kPrinter, one_byte_parts);
  InitializeQuietly();
  ASSERT_TRUE(manager_->Connect(kPrinterText));
  Forget();
  auto closes = [this] {
    Lines found;
    for (const std::string& call : stack_.TakeCalls()) {
      if (call.rfind("closesocket", 0) == 0) found.push_back(call);
    }
    return found;
  };
  Gate in_send;
  stack_.SetSendHook(in_send.Hook());
  auto job = std::async(std::launch::async, [&] {
    return manager_->PrintBytes(kPrinterText, {1, 2, 3}, "p", "job");
  });
  ASSERT_TRUE(in_send.Entered());
  auto disconnect = std::async(std::launch::async, [&] { manager_->Disconnect(kPrinterText); });
  EXPECT_EQ(disconnect.wait_for(5s), std::future_status::ready) << "waited for the job";
  EXPECT_EQ(closes(), Lines{});
  in_send.Release();
  EXPECT_FALSE(job.get());
  stack_.SetSendHook(nullptr);
  EXPECT_EQ(closes(), Lines{"closesocket(1001) = 0"});
  Lines lines = log_.TakeLines();
  EXPECT_EQ(Lines(lines.end() - 1, lines.end()),
            Lines{"BluetoothManager: Send failed with error: 10053"});
  EXPECT_EQ(events_.JobEvents().back(),
            "onPrintFailedWindows {bytesSent: 1L, error: Send failed: 10053, jobUuid: job}");
  EXPECT_FALSE(manager_->IsConnected(kPrinterText));

  Gate in_connect;
  stack_.SetConnectHook(in_connect.Hook());
  auto held = std::async(std::launch::async,
                         [&] { return manager_->PrintBytes(kPrinterText, {9}, "p", "held"); });
  ASSERT_TRUE(in_connect.Entered());
  manager_->Dispose();  // the address's lock goes with the table
  manager_->Initialize();
  stack_.SetConnectHook(nullptr);
  ASSERT_TRUE(manager_->Connect(kPrinterText));  // socket 1002, the held job has 1001
  Forget();
  in_connect.Release();
  EXPECT_TRUE(held.get());
  EXPECT_EQ(closes(), Lines{"closesocket(1002) = 0"});
  EXPECT_TRUE(manager_->IsConnected(kPrinterText));
  EXPECT_EQ(stack_.Received(kPrinter), (std::vector<uint8_t>{1, 9}));
}

// Once the process gives its jobs up (it crashed), a job stops before its next part.
TEST_F(ManagerTest, AnAbandonedJobStopsBeforeItsNextPart) {
  std::atomic<bool> crashed{false};
  manager_ = std::make_unique<kestro::BluetoothManager>(
      events_.Channel(), std::make_unique<kestro::BluetoothStackWrapper>(&stack_), kDeadlines,
      [&crashed] { return crashed.load(); });
  PrinterBehaviour one_byte_parts;
  one_byte_parts.max_part = 1;
  stack_.SetPrinter(kPrinter, one_byte_parts);
  stack_.SetSendHook([&crashed](uint64_t) { crashed = true; });
  InitializeQuietly();
  EXPECT_FALSE(manager_->PrintBytes(kPrinterText, {1, 2, 3}, "p", "job"));
  stack_.SetSendHook(nullptr);
  EXPECT_EQ(stack_.Received(kPrinter), std::vector<uint8_t>{1});
}

// While a call for an address is held inside the stack, others for it, spelled otherwise, wait
// for its address lock: a Connect and a job behind a held connect(), a job behind a held send().
TEST_F(ManagerTest, ConnectsAndJobsForOneAddressNeverOverlap) {
  stack_.SetPrinter(kPrinter);
  InitializeQuietly();
  for (const bool in_send : {false, true}) {
    SCOPED_TRACE(in_send ? "held in send" : "held in connect");
    Gate gate;
    stack_.SetConnectHook(in_send ? nullptr : gate.Hook());
    stack_.SetSendHook(in_send ? gate.Hook() : nullptr);
    auto run = [](auto call) { return std::async(std::launch::async, call); };
    std::vector<std::future<bool>> calls;
    calls.push_back(run([&] {
      return in_send ? manager_->PrintBytes(kPrinterText, {1, 2}, "p", "a")
                     : manager_->Connect(kPrinterText);
    }));
    ASSERT_TRUE(gate.Entered());
    if (!in_send) calls.push_back(run([&] { return manager_->Connect("aa:bb:cc:dd:ee:ff"); }));
    calls.push_back(run([&] { return manager_->PrintBytes("aabbccddeeff", {3, 4}, "p", "b"); }));
    // Without the address lock another call reaches the stack at once.
    EXPECT_FALSE(gate.Entered(2, 200ms));
    gate.Release();
    for (auto& call : calls) EXPECT_TRUE(call.get());
    EXPECT_EQ(gate.Entered(2, 0ms), in_send);  // the job's send, but no second connect
    stack_.SetConnectHook(nullptr);
    stack_.SetSendHook(nullptr);
  }
  EXPECT_EQ(stack_.SuccessfulConnects(kPrinter), 1);
  EXPECT_EQ(stack_.Received(kPrinter), (std::vector<uint8_t>{3, 4, 1, 2, 3, 4}));
}

}  // namespace
}  // namespace kestro_test
