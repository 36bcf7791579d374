// Print jobs on the simulated stack: connection reuse, parts, failures and their events.
#include <gtest/gtest.h>

#include <climits>
#include <numeric>

#include "tests/thermal_printer/manager_fixture.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace kestro_test {
namespace {

std::vector<uint8_t> Pattern(size_t size, uint8_t first) {
  std::vector<uint8_t> bytes(size);
  std::iota(bytes.begin(), bytes.end(), first);
  return bytes;
}

class PrintTest : public ManagerTest {
 protected:
  void SetUp() override {
    stack_.SetPrinter(kPrinter);
    InitializeQuietly();
  }
  bool Print(const std::string& address, const std::vector<uint8_t>& bytes,
             const std::string& job = "job-1") {
    return manager_->PrintBytes(address, bytes, "printer-1", job);
  }
};

TEST_F(PrintTest, FirstJobConnectsAndKeepsTheConnection) {
  const std::vector<uint8_t> receipt = Pattern(1024, 7);
  EXPECT_TRUE(Print(kPrinterText, receipt));
  EXPECT_EQ(log_.TakeLines(), Join({{"BluetoothManager: Printing 1024 bytes to AA:BB:CC:DD:EE:FF"},
                                    SocketLines(kPrinterText),
                                    {"BluetoothManager: Print successful, sent 1024 bytes"}}));
  EXPECT_EQ(stack_.TakeCalls(),
            Join({SocketCalls(1001, kPrinterText), {"send(1001, 1024) = 1024"}}));
  EXPECT_EQ(stack_.Received(kPrinter), receipt);
  EXPECT_TRUE(manager_->IsConnected(kPrinterText));
  EXPECT_EQ(events_.JobEvents(),
            Lines{"onPrintSuccessWindows {jobUuid: job-1, printerUuid: printer-1}"});

  // The next job reuses the socket and logs nothing about it.
  EXPECT_TRUE(Print("aa:bb:cc:dd:ee:ff", {0x1B, 0x40}, "job-2"));
  EXPECT_EQ(log_.Lines(), (Lines{"BluetoothManager: Printing 2 bytes to AA:BB:CC:DD:EE:FF",
                                 "BluetoothManager: Print successful, sent 2 bytes"}));
  EXPECT_EQ(stack_.calls(), Lines{"send(1001, 2) = 2"});
  EXPECT_EQ(stack_.SuccessfulConnects(kPrinter), 1);
}

TEST_F(PrintTest, PartialSendsContinueInOrder) {
  PrinterBehaviour slow;
  slow.max_part = 4;
  stack_.SetPrinter(kPrinter, slow);
  ASSERT_TRUE(manager_->Connect(kPrinterText));
  Forget();
  const std::vector<uint8_t> receipt = Pattern(10, 0xF8);
  EXPECT_TRUE(Print(kPrinterText, receipt));
  EXPECT_EQ(stack_.calls(),
            (Lines{"send(1001, 10) = 4", "send(1001, 6) = 4", "send(1001, 2) = 2"}));
  EXPECT_EQ(stack_.Received(kPrinter), receipt);
  EXPECT_EQ(log_.Lines().back(), "BluetoothManager: Print successful, sent 10 bytes");
}

TEST_F(PrintTest, StaleConnectionFailsOnceThenReconnects) {
  const std::vector<uint8_t> first = Pattern(5, 1), lost = Pattern(6, 0x40), third = Pattern(3, 9);
  ASSERT_TRUE(Print(kPrinterText, first));
  stack_.DropLinks(kPrinter);  // switched off and on again
  Forget();
  // The table is trusted until a send fails; nothing probes the link.
  EXPECT_TRUE(manager_->IsConnected(kPrinterText));
  EXPECT_EQ(stack_.calls(), Lines{});

  EXPECT_FALSE(Print(kPrinterText, lost, "job-2"));
  EXPECT_EQ(log_.TakeLines(), (Lines{"BluetoothManager: Printing 6 bytes to AA:BB:CC:DD:EE:FF",
                                     "BluetoothManager: Send failed with error: 10054"}));
  EXPECT_EQ(stack_.TakeCalls(),
            (Lines{"send(1001, 6) = -1", "WSAGetLastError() = 10054", "closesocket(1001) = 0"}));
  EXPECT_FALSE(manager_->IsConnected(kPrinterText));

  EXPECT_TRUE(Print(kPrinterText, third, "job-3"));
  EXPECT_EQ(stack_.calls(), Join({SocketCalls(1002, kPrinterText), {"send(1002, 3) = 3"}}));
  std::vector<uint8_t> printed = first;
  printed.insert(printed.end(), third.begin(), third.end());
  EXPECT_EQ(stack_.Received(kPrinter), printed);
  EXPECT_EQ(events_.JobEvents(),
            (Lines{"onPrintSuccessWindows {jobUuid: job-1, printerUuid: printer-1}",
                   "onPrintFailedWindows {error: Send failed: 10054, jobUuid: job-2}",
                   "onPrintSuccessWindows {jobUuid: job-3, printerUuid: printer-1}"}));
}

// A send() that takes nothing while bytes remain ends the job as a send failure carrying what
// WSAGetLastError reads at that point, 0 when nothing was set.
TEST_F(PrintTest, ASendThatTakesNothingFailsTheJob) {
  int socket = 1001;
  for (const int32_t code : {0, 10035}) {
    const std::string c = std::to_string(code), s = std::to_string(socket++);
    PrinterBehaviour stalled;
    stalled.max_part = 0;
    stalled.stalled_error = code;
    stack_.SetPrinter(kPrinter, stalled);
    ASSERT_TRUE(manager_->Connect(kPrinterText));
    Forget();
    EXPECT_FALSE(Print(kPrinterText, {1, 2, 3}, "job-" + c));
    EXPECT_EQ(log_.TakeLines(), (Lines{"BluetoothManager: Printing 3 bytes to AA:BB:CC:DD:EE:FF",
                                       "BluetoothManager: Send failed with error: " + c}));
    EXPECT_EQ(stack_.TakeCalls(), (Lines{"send(" + s + ", 3) = 0", "WSAGetLastError() = " + c,
                                         "closesocket(" + s + ") = 0"}));
    EXPECT_FALSE(manager_->IsConnected(kPrinterText));
  }
  EXPECT_EQ(events_.JobEvents(),
            (Lines{"onPrintFailedWindows {error: Send failed: 0, jobUuid: job-0}",
                   "onPrintFailedWindows {error: Send failed: 10035, jobUuid: job-10035}"}));
}

TEST_F(PrintTest, UnreachablePrinterLeavesTheTableUnchanged) {
  PrinterBehaviour off;
  off.connect_error = 10060;
  stack_.SetPrinter(kPrinter, off);
  EXPECT_FALSE(Print(kPrinterText, {1}));
  Lines lines = SocketLines(kPrinterText);
  lines.back() =
      "BluetoothManager: connect() failed with error 10060 (Connection timed out - printer may be "
      "off)";
  EXPECT_EQ(log_.Lines(), Join({{"BluetoothManager: Printing 1 bytes to AA:BB:CC:DD:EE:FF"},
                                lines,
                                {"BluetoothManager: Failed to connect for print"}}));
  EXPECT_EQ(events_.JobEvents(),
            Lines{"onPrintFailedWindows {error: Connection failed, jobUuid: job-1}"});
  EXPECT_FALSE(manager_->IsConnected(kPrinterText));
}

TEST_F(PrintTest, EmptyBufferConnectsAndSendsNothing) {
  EXPECT_TRUE(Print(kPrinterText, {}));
  EXPECT_EQ(stack_.calls(), SocketCalls(1001, kPrinterText));
  EXPECT_EQ(log_.Lines().back(), "BluetoothManager: Print successful, sent 0 bytes");
}

#if defined(__linux__)
// 2^31 + 5 bytes of untouched, never-committed address space: the simulated printer counts
// them without reading, so nothing is allocated for real.
TEST_F(PrintTest, BuffersOf2GiBAndMoreAreSentInFull) {
  const size_t size = (size_t{1} << 31) + 5;
  void* region = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(region, MAP_FAILED);
  PrinterBehaviour counting;
  counting.keep_bytes = false;
  stack_.SetPrinter(kPrinter, counting);
  ASSERT_TRUE(manager_->Connect(kPrinterText));
  Forget();
  EXPECT_TRUE(manager_->PrintBytes(kPrinterText, static_cast<const uint8_t*>(region), size,
                                   "printer-1", "job-big"));
  munmap(region, size);
  EXPECT_EQ(stack_.calls(), (Lines{"send(1001, 2147483647) = 2147483647", "send(1001, 6) = 6"}));
  EXPECT_EQ(stack_.ReceivedCount(kPrinter), size);
  EXPECT_EQ(log_.Lines(), (Lines{"BluetoothManager: Printing 2147483653 bytes to AA:BB:CC:DD:EE:FF",
                                 "BluetoothManager: Print successful, sent 2147483653 bytes"}));
}
#endif

}  // namespace
}  // namespace kestro_test
