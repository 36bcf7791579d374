// The address locks: jobs for one address never overlap, other addresses never wait. Run under
// ThreadSanitizer too (ctest label "concurrency").
#include <gtest/gtest.h>

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

// A job held inside connect() or send() keeps its own address busy but neither the table lock
// nor any other address: other printers, table queries and Disconnect carry on.
TEST_F(ManagerTest, ABlockedJobHoldsOnlyItsOwnAddress) {
  for (const bool block_in_send : {false, true}) {
    SCOPED_TRACE(block_in_send ? "blocked in send" : "blocked in connect");
    stack_.SetPrinter(kPrinter);
    stack_.SetPrinter(kOtherPrinter);
    manager_->Initialize();
    if (block_in_send) {
      ASSERT_TRUE(manager_->Connect(kPrinterText));
    }
    const std::vector<uint8_t> printed_before = stack_.Received(kPrinter);
    std::promise<void> blocked, release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> armed{true};
    auto hold = [&](uint64_t address) {
      if (address != kPrinter || !armed.exchange(false)) return;
      blocked.set_value();
      released.wait_for(10s);
    };
    stack_.SetConnectHook(block_in_send ? nullptr : std::function<void(uint64_t)>(hold));
    stack_.SetSendHook(block_in_send ? std::function<void(uint64_t)>(hold) : nullptr);

    auto first = std::async(std::launch::async,
                            [&] { return manager_->PrintBytes(kPrinterText, {1}, "p", "a"); });
    ASSERT_EQ(blocked.get_future().wait_for(10s), std::future_status::ready);
    auto second = std::async(std::launch::async,
                             [&] { return manager_->PrintBytes(kPrinterText, {2}, "p", "b"); });
    auto other = std::async(std::launch::async,
                            [&] { return manager_->PrintBytes(kOtherPrinterText, {3}, "p", "c"); });
    ASSERT_EQ(other.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(other.get());
    EXPECT_EQ(manager_->IsConnected(kPrinterText), block_in_send);
    manager_->Disconnect(kOtherPrinterText);
    EXPECT_EQ(second.wait_for(50ms), std::future_status::timeout);

    release.set_value();
    EXPECT_TRUE(first.get());
    EXPECT_TRUE(second.get());
    std::vector<uint8_t> printed = printed_before;
    printed.insert(printed.end(), {1, 2});
    EXPECT_EQ(stack_.Received(kPrinter), printed);
    EXPECT_EQ(stack_.SuccessfulConnects(kPrinter), block_in_send ? 2 : 1);
    manager_->Dispose();
    stack_.SetConnectHook(nullptr);
    stack_.SetSendHook(nullptr);
  }
}

}  // namespace
}  // namespace kestro_test
