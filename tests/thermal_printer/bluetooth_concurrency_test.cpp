// The address locks: jobs and connects for one address never overlap, and taking a socket away
// from a job inside send() waits for no lock and closes it once. Run under ThreadSanitizer too
// (ctest label "concurrency"); the plug-in thread tests show other addresses never wait.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <thread>

#include "tests/thermal_printer/manager_fixture.h"

namespace kestro_test {
namespace {

using namespace std::chrono_literals;

TEST_F(ManagerTest, JobsForOneAddressNeverOverlap) {
  PrinterBehaviour slow;
  slow.max_part = 3;  // many sends per job, so an overlap would interleave bytes
  stack_.SetPrinter(kPrinter, slow);
  stack_.SetSendHook([](uint64_t) { std::this_thread::yield(); });
  manager_->Initialize();

  constexpr int kThreads = 4;
  constexpr int kJobs = 25;
  constexpr size_t kJobSize = 16;
  // Every spelling names the same address, so all jobs share one lock and one socket.
  const char* spellings[kThreads] = {"AA:BB:CC:DD:EE:FF", "aa:bb:cc:dd:ee:ff", "aabbccddeeff",
                                     "AA-BB-CC-DD-EE-FF"};
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int j = 0; j < kJobs; ++j) {
        const std::vector<uint8_t> job(kJobSize, static_cast<uint8_t>(t * kJobs + j));
        if (!manager_->PrintBytes(spellings[t], job, "printer", "job")) ++failures;
        if (j % 5 == 0) manager_->Connect(spellings[t]);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(stack_.SuccessfulConnects(kPrinter), 1);
  const std::vector<uint8_t> received = stack_.Received(kPrinter);
  ASSERT_EQ(received.size(), kThreads * kJobs * kJobSize);
  std::map<int, int> next_job_of_thread;
  for (size_t offset = 0; offset < received.size(); offset += kJobSize) {
    const uint8_t tag = received[offset];
    for (size_t i = 1; i < kJobSize; ++i) ASSERT_EQ(received[offset + i], tag) << offset;
    // Each thread's jobs arrive whole and in the order it sent them.
    EXPECT_EQ(tag % kJobs, next_job_of_thread[tag / kJobs]++);
  }
}

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

// A second Connect for the same address waits for the first, then finds its connection.
TEST_F(ManagerTest, TwoConnectsForOneAddressNeverOverlap) {
  stack_.SetPrinter(kPrinter);
  InitializeQuietly();
  std::promise<void> second_entered;
  std::atomic<int> connects{0};
  Gate gate;
  auto hold_first = gate.Hook();
  stack_.SetConnectHook([&](uint64_t address) {
    if (++connects == 2) second_entered.set_value();
    hold_first(address);
  });
  auto first = std::async(std::launch::async, [&] { return manager_->Connect(kPrinterText); });
  ASSERT_TRUE(gate.Entered());
  auto second =
      std::async(std::launch::async, [&] { return manager_->Connect("aa:bb:cc:dd:ee:ff"); });
  // Without the address lock the second attempt reaches connect() at once.
  EXPECT_EQ(second_entered.get_future().wait_for(200ms), std::future_status::timeout);
  gate.Release();
  EXPECT_TRUE(first.get());
  EXPECT_TRUE(second.get());
  EXPECT_EQ(connects.load(), 1);
  const Lines lines = log_.Lines();
  EXPECT_EQ(lines.back(), "BluetoothManager: Already connected to AA:BB:CC:DD:EE:FF");
  stack_.SetConnectHook(nullptr);
}

}  // namespace
}  // namespace kestro_test
