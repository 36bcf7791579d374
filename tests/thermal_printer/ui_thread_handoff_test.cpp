// The hand-off from printer workers to the UI thread: every task runs on the thread that pumps,
// in the order its poster posted it, and tasks never run are freed with the hand-off. The
// message-only window under Wine on Windows, the drained queue natively; run under ThreadSanitizer
// too (ctest label "concurrency").
#include "thermal_printer/ui_thread_handoff.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace kestro_test {
namespace {

#ifdef _WIN32
std::unique_ptr<kestro::UiThreadHandoff> MakeHandoff() {
  return kestro::NewWindowUiThreadHandoff();
}
void Pump(kestro::UiThreadHandoff&) {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}
#else
std::unique_ptr<kestro::UiThreadHandoff> MakeHandoff() {
  return std::make_unique<kestro::QueuedUiThreadHandoff>();
}
void Pump(kestro::UiThreadHandoff& handoff) {
  static_cast<kestro::QueuedUiThreadHandoff&>(handoff).Drain();
}
#endif

TEST(UiThreadHandoffTest, TasksRunInPostingOrderOnThePumpingThreadAndUnrunOnesAreFreed) {
  std::unique_ptr<kestro::UiThreadHandoff> handoff = MakeHandoff();
  ASSERT_NE(handoff, nullptr);
  // More tasks than a thread's posted-message limit (10 000) on Windows.
  constexpr int kThreads = 4;
  constexpr int kTasks = 5000;
  const std::thread::id ui_thread = std::this_thread::get_id();
  std::vector<int> next(kThreads, 0);  // touched only by tasks, on this thread
  int ran = 0;
  int out_of_order = 0;
  int elsewhere = 0;
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&, t] {
      for (int i = 0; i < kTasks; ++i) {
        handoff->Post([&, t, i] {
          ++ran;
          if (next[t]++ != i) ++out_of_order;
          if (std::this_thread::get_id() != ui_thread) ++elsewhere;
        });
      }
    });
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ran < kThreads * kTasks && std::chrono::steady_clock::now() < deadline) {
    Pump(*handoff);
    std::this_thread::yield();
  }
  for (std::thread& worker : workers) worker.join();
  Pump(*handoff);
  EXPECT_EQ(ran, kThreads * kTasks);
  EXPECT_EQ(out_of_order, 0);
  EXPECT_EQ(elsewhere, 0);

  // Tasks never run are freed with their hand-off.
  auto token = std::make_shared<int>(0);
  ran = 0;
  std::unique_ptr<kestro::UiThreadHandoff> unpumped = MakeHandoff();
  ASSERT_NE(unpumped, nullptr);
  std::thread([&] {
    for (int i = 0; i < 3; ++i) unpumped->Post([token, &ran] { ++ran; });
  }).join();
  unpumped.reset();
  handoff.reset();
  EXPECT_EQ(ran, 0);
  EXPECT_EQ(token.use_count(), 1);
}

}  // namespace
}  // namespace kestro_test
