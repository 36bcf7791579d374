// The address locks: jobs and connects for one address never overlap, and taking a socket away
// from a job inside send() waits for no lock and closes it once. Run under ThreadSanitizer too
// (ctest label "concurrency"); the plug-in thread tests show other addresses never wait.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <vector>

#include "tests/thermal_printer/manager_fixture.h"

namespace kestro_test {
namespace {

using namespace std::chrono_literals;

// Disconnect and Dispose take the job's socket away while it is inside send(): they return
// without waiting for the job (no address lock), close the socket once, and the failing job
// closes nothing more, nor an entry that replaced its own.
TEST_F(ManagerTest, ASocketTakenAwayDuringSendIsClosedOnce) {
  for (const bool dispose : {false, true}) {
    SCOPED_TRACE(dispose ? "Dispose" : "Disconnect");
    stack_.SetPrinter(kPrinter);
    InitializeQuietly();
    ASSERT_TRUE(manager_->Connect(kPrinterText));
    const std::string opened = stack_.TakeCalls().front();  // "socket(32, 1, 3) = <id>"
    const std::string closed_once = "closesocket(" + opened.substr(opened.rfind(' ') + 1) + ") = 0";
    Forget();
    Gate gate;
    stack_.SetSendHook(gate.Hook());
    auto job = std::async(std::launch::async, [&] {
      return manager_->PrintBytes(kPrinterText, {1, 2}, "p", "job");
    });
    ASSERT_TRUE(gate.Entered());
    auto take_away = std::async(std::launch::async, [&] {
      dispose ? manager_->Dispose() : manager_->Disconnect(kPrinterText);
    });
    const bool returned = take_away.wait_for(5s) == std::future_status::ready;
    EXPECT_TRUE(returned) << "waited behind the job's address lock";
    if (returned && dispose) {
      // The address's lock went with the table: a new connection replaces the job's entry.
      manager_->Initialize();
      EXPECT_TRUE(manager_->Connect(kPrinterText));
    }
    gate.Release();
    take_away.get();
    EXPECT_FALSE(job.get());

    const Lines calls = stack_.TakeCalls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), closed_once), 1);
    EXPECT_EQ(
        std::count_if(calls.begin(), calls.end(),
                      [](const std::string& call) { return call.rfind("closesocket", 0) == 0; }),
        1);
    EXPECT_EQ(stack_.faults(), Lines{});
    const Lines lines = log_.TakeLines();
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), "BluetoothManager: Send failed with error: 10038"),
        lines.end());
    EXPECT_EQ(manager_->IsConnected(kPrinterText), dispose);
    stack_.SetSendHook(nullptr);
    manager_->Dispose();
    Forget();
  }
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
