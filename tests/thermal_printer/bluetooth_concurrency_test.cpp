// The address locks: jobs for one address never overlap, other addresses never wait. Run under
// ThreadSanitizer too (ctest label "concurrency").
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <thread>

#include "tests/thermal_printer/manager_fixture.h"

namespace kestro_test {
namespace {

using namespace std::chrono_literals;

// A one-way flag threads can wait on with a deadline, so a broken lock fails instead of hanging.
class Signal {
 public:
  void Raise() {
    std::lock_guard<std::mutex> lock(mutex_);
    raised_ = true;
    changed_.notify_all();
  }
  bool WaitFor(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return raised_; });
  }
  bool raised() {
    std::lock_guard<std::mutex> lock(mutex_);
    return raised_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool raised_ = false;
};

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

TEST_F(ManagerTest, OtherAddressesDoNotWait) {
  stack_.SetPrinter(kPrinter);
  stack_.SetPrinter(kOtherPrinter);
  manager_->Initialize();
  Signal first_connecting, other_done, release;
  std::atomic<int> connects_to_first{0};
  stack_.SetConnectHook([&](uint64_t address) {
    if (address != kPrinter || connects_to_first++ != 0) return;
    first_connecting.Raise();
    release.WaitFor(10s);
  });

  std::atomic<bool> first_result{false}, second_result{false};
  Signal second_done;
  std::thread first([&] { first_result = manager_->PrintBytes(kPrinterText, {1}, "p", "a"); });
  ASSERT_TRUE(first_connecting.WaitFor(10s));
  // Same address: must wait for the blocked connect.
  std::thread second([&] {
    second_result = manager_->PrintBytes(kPrinterText, {2}, "p", "b");
    second_done.Raise();
  });
  // Another address: must finish while the first is still blocked.
  std::thread other([&] {
    EXPECT_TRUE(manager_->PrintBytes(kOtherPrinterText, {3}, "p", "c"));
    other_done.Raise();
  });
  EXPECT_TRUE(other_done.WaitFor(10s));
  // Neither the table queries nor Disconnect take the address lock.
  EXPECT_FALSE(manager_->IsConnected(kPrinterText));
  manager_->Disconnect(kOtherPrinterText);
  EXPECT_FALSE(second_done.WaitFor(50ms));

  release.Raise();
  first.join();
  second.join();
  other.join();
  EXPECT_TRUE(first_result.load());
  EXPECT_TRUE(second_result.load());
  EXPECT_EQ(stack_.Received(kPrinter), (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(stack_.SuccessfulConnects(kPrinter), 1);
}

}  // namespace
}  // namespace kestro_test
