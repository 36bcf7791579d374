#include "thermal_printer/ui_thread_handoff.h"

#include <utility>

namespace kestro {

HandoffResume NextHandoffResume(bool tasks_remain, bool input_or_paint_waiting,
                                std::chrono::steady_clock::duration deferring_for) {
  if (!tasks_remain) return HandoffResume::kNone;
  if (input_or_paint_waiting && deferring_for < kHandoffMaxDeferral) return HandoffResume::kTimer;
  return HandoffResume::kPostedWakeUp;
}

void QueuedUiThreadHandoff::Post(Task task) {
  std::lock_guard<std::mutex> lock(mutex_);
  tasks_.push_back(std::move(task));
}

size_t QueuedUiThreadHandoff::Drain() {
  size_t handled = 0;
  while (RunOne()) ++handled;
  return handled;
}

bool QueuedUiThreadHandoff::DrainSlice(std::chrono::steady_clock::duration budget) {
  const auto end = std::chrono::steady_clock::now() + budget;
  if (!RunOne()) return false;
  while (std::chrono::steady_clock::now() < end) {
    if (!RunOne()) return false;
  }
  return TasksWaiting();
}

bool QueuedUiThreadHandoff::TasksWaiting() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !tasks_.empty();
}

bool QueuedUiThreadHandoff::RunOne() {
  Task task;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (tasks_.empty()) return false;
    task = std::move(tasks_.front());
    tasks_.pop_front();
  }
  // Outside the lock: the task calls the engine, which may deliver and post again.
  task();
  return true;
}

}  // namespace kestro
