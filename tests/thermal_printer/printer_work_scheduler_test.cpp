// The scheduler on its own: admission when no worker can start, and a running barrier that keeps
// later work back even while other workers are free. Run under ThreadSanitizer too (ctest label
// "concurrency").
#include "thermal_printer/printer_work_scheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <utility>

namespace kestro_test {
namespace {

using namespace std::chrono_literals;
using Scheduler = kestro::PrinterWorkScheduler;

// Jobs wait in Pass() until Open(); Reached(n) waits for n jobs to arrive there.
class Latch {
 public:
  void Pass() {
    ++reached_;
    opened_.wait();
  }
  bool Reached(int count) {
    for (int i = 0; i < 10000 && reached_ < count; ++i) std::this_thread::sleep_for(1ms);
    return reached_ >= count;
  }
  void Open() { open_.set_value(); }

 private:
  std::atomic<int> reached_{0};
  std::promise<void> open_;
  std::shared_future<void> opened_ = open_.get_future().share();
};

kestro::PrinterWork Work(std::string lane, std::function<void()> run, bool barrier = false) {
  kestro::PrinterWork work;
  work.method = "job";
  work.lane = std::move(lane);
  work.barrier = barrier;
  work.run = std::move(run);
  return work;
}

TEST(PrinterWorkSchedulerTest, WithoutAWorkerAndNoneStartingWorkIsRefusedAndFreed) {
  std::atomic<bool> starts{false};
  std::atomic<int> start_calls{0};  // workers start workers too
  Scheduler scheduler([&](std::function<void()> body) {
    ++start_calls;
    return starts ? std::thread(std::move(body)) : std::thread();
  });
  auto token = std::make_shared<int>(0);
  std::atomic<int> ran{0};
  EXPECT_EQ(scheduler.Submit(Work("a", [token, &ran] { ++ran; })), Scheduler::Admission::kBusy);
  EXPECT_EQ(token.use_count(), 1);
  EXPECT_EQ(start_calls, 1);

  // Once a worker starts, the next message is accepted and runs.
  starts = true;
  EXPECT_EQ(scheduler.Submit(Work("a", [token, &ran] { ++ran; })), Scheduler::Admission::kAccepted);
  scheduler.WaitUntilIdle();
  EXPECT_EQ(ran, 1);

  // With a worker alive, work is accepted although no more start: it waits for that worker.
  starts = false;
  Latch latch;
  EXPECT_EQ(scheduler.Submit(Work("a", [&] { latch.Pass(); })), Scheduler::Admission::kAccepted);
  ASSERT_TRUE(latch.Reached(1));
  EXPECT_EQ(scheduler.Submit(Work("b", [&ran] { ++ran; })), Scheduler::Admission::kAccepted);
  latch.Open();
  scheduler.WaitUntilIdle();
  EXPECT_EQ(ran, 2);
}

TEST(PrinterWorkSchedulerTest, LaterWorkWaitsWhileABarrierRunsWithWorkersFree) {
  Scheduler scheduler;
  // Four lanes at once leave four workers behind, idle.
  Latch lanes;
  for (const char* lane : {"a", "b", "c", "d"}) {
    ASSERT_EQ(scheduler.Submit(Work(lane, [&] { lanes.Pass(); })), Scheduler::Admission::kAccepted);
  }
  ASSERT_TRUE(lanes.Reached(4));
  lanes.Open();
  scheduler.WaitUntilIdle();

  Latch barrier;
  std::atomic<int> later_started{0};
  ASSERT_EQ(scheduler.Submit(Work(
                "", [&] { barrier.Pass(); }, true)),
            Scheduler::Admission::kAccepted);
  ASSERT_TRUE(barrier.Reached(1));
  for (const char* lane : {"a", "b", "c"}) {
    ASSERT_EQ(scheduler.Submit(Work(lane, [&] { ++later_started; })),
              Scheduler::Admission::kAccepted);
  }
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(later_started, 0);
  barrier.Open();
  scheduler.WaitUntilIdle();
  EXPECT_EQ(later_started, 3);
}

}  // namespace
}  // namespace kestro_test
