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

// A send() that fails, or takes nothing while bytes remain, ends the job as a send failure
// carrying what WSAGetLastError reads then (0 when nothing was set) and closes the connection.
// Until then the table is trusted, nothing probes the link; the next job connects again.
TEST_F(PrintTest, AFailedSendEndsTheJobAndTheNextJobReconnects) {
  PrinterBehaviour stalled;
  stalled.max_part = 0;
  PrinterBehaviour stalled_with_code = stalled;
  stalled_with_code.stalled_error = 10035;
  const struct {
    PrinterBehaviour printer;
    bool drop_link;  // switched off and on again after connecting
    std::string sent, code;
  } cases[] = {{PrinterBehaviour(), true, "-1", "10054"},
               {stalled, false, "0", "0"},
               {stalled_with_code, false, "0", "10035"}};
  int socket = 1001;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    const std::string s = std::to_string(socket++);
    stack_.SetPrinter(kPrinter, c.printer);
    ASSERT_TRUE(manager_->Connect(kPrinterText));
    if (c.drop_link) stack_.DropLinks(kPrinter);
    Forget();
    EXPECT_TRUE(manager_->IsConnected(kPrinterText));
    EXPECT_EQ(stack_.calls(), Lines{});
    EXPECT_FALSE(Print(kPrinterText, {1, 2, 3}, "job-" + c.code));
    EXPECT_EQ(log_.TakeLines(), (Lines{"BluetoothManager: Printing 3 bytes to AA:BB:CC:DD:EE:FF",
                                       "BluetoothManager: Send failed with error: " + c.code}));
    EXPECT_EQ(stack_.TakeCalls(),
              (Lines{"send(" + s + ", 3) = " + c.sent, "WSAGetLastError() = " + c.code,
                     "closesocket(" + s + ") = 0"}));
    EXPECT_FALSE(manager_->IsConnected(kPrinterText));
  }
  stack_.SetPrinter(kPrinter);
  EXPECT_TRUE(Print(kPrinterText, {9}, "job-4"));
  EXPECT_EQ(stack_.calls(), Join({SocketCalls(1004, kPrinterText), {"send(1004, 1) = 1"}}));
  EXPECT_EQ(stack_.Received(kPrinter), std::vector<uint8_t>{9});
  EXPECT_EQ(events_.JobEvents(),
            (Lines{"onPrintFailedWindows {error: Send failed: 10054, jobUuid: job-10054}",
                   "onPrintFailedWindows {error: Send failed: 0, jobUuid: job-0}",
                   "onPrintFailedWindows {error: Send failed: 10035, jobUuid: job-10035}",
                   "onPrintSuccessWindows {jobUuid: job-4, printerUuid: printer-1}"}));
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
