#include "thermal_printer/ui_thread_handoff.h"

#include <utility>

namespace kestro {

void QueuedUiThreadHandoff::Post(Task task) {
  std::lock_guard<std::mutex> lock(mutex_);
  tasks_.push_back(std::move(task));
}

size_t QueuedUiThreadHandoff::Drain() {
  size_t handled = 0;
  for (;;) {
    Task task;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (tasks_.empty()) return handled;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    // Outside the lock: the task calls the engine, which may deliver and post again.
    task();
    ++handled;
  }
}

}  // namespace kestro
