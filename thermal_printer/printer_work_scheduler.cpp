#include "thermal_printer/printer_work_scheduler.h"

#include <string_view>
#include <system_error>
#include <utility>

#include "thermal_printer/debug_output.h"

namespace kestro {

PrinterWorkScheduler::PrinterWorkScheduler() = default;

PrinterWorkScheduler::~PrinterWorkScheduler() { Shutdown(); }

PrinterWorkScheduler::Admission PrinterWorkScheduler::Submit(PrinterWork work) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_) return Admission::kStopped;
  if (pending_.size() >= kMaxPendingMessages ||
      work.print_bytes > kMaxPendingPrintBytes - pending_print_bytes_) {
    return Admission::kBusy;
  }
  pending_print_bytes_ += work.print_bytes;
  pending_.push_back(std::move(work));
  WakeOrStartWorkers();
  return Admission::kAccepted;
}

void PrinterWorkScheduler::Shutdown() {
  std::deque<PrinterWork> dropped;
  std::vector<std::thread> workers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    dropped.swap(pending_);
    pending_print_bytes_ = 0;
    workers.swap(workers_);
  }
  work_changed_.notify_all();
  for (const PrinterWork& work : dropped) {
    WriteDebugOutput("ThermalPrinterPlugin: Dropped " + work.method + " at shutdown\n");
  }
  dropped.clear();
  // Running jobs finish however long they take: a receipt is never cut off.
  for (std::thread& worker : workers) worker.join();
}

void PrinterWorkScheduler::WaitUntilIdle() {
  std::unique_lock<std::mutex> lock(mutex_);
  work_changed_.wait(lock, [this] { return pending_.empty() && running_ == 0; });
}

std::vector<size_t> PrinterWorkScheduler::RunnableJobs(size_t limit) const {
  std::vector<size_t> runnable;
  if (barrier_running_) return runnable;
  // Lanes that already have an earlier job waiting or running: their later jobs must wait.
  std::set<std::string_view> held;
  for (size_t i = 0; i < pending_.size() && runnable.size() < limit; ++i) {
    const PrinterWork& work = pending_[i];
    if (work.barrier) {
      if (i == 0 && running_ == 0) runnable.push_back(i);
      break;  // nothing received after a barrier may pass it
    }
    const bool lane_free = running_lanes_.count(work.lane) == 0;
    if (held.insert(work.lane).second && lane_free) runnable.push_back(i);
  }
  return runnable;
}

void PrinterWorkScheduler::WakeOrStartWorkers() {
  const size_t runnable = RunnableJobs(kMaxWorkers).size();
  if (runnable == 0) return;
  if (idle_workers_ > 0) work_changed_.notify_all();
  while (runnable > idle_workers_ && workers_.size() < kMaxWorkers) {
    try {
      workers_.emplace_back([this] { WorkerLoop(); });
    } catch (const std::system_error&) {
      return;  // the job waits for a running worker, or for the next Submit to try again
    }
    ++idle_workers_;
  }
}

void PrinterWorkScheduler::WorkerLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    std::vector<size_t> next = RunnableJobs(1);
    if (next.empty()) {
      if (stopping_) {
        --idle_workers_;
        return;
      }
      work_changed_.wait(lock);
      continue;
    }
    --idle_workers_;
    const auto position = pending_.begin() + static_cast<std::ptrdiff_t>(next.front());
    PrinterWork work = std::move(*position);
    pending_.erase(position);
    pending_print_bytes_ -= work.print_bytes;
    ++running_;
    if (work.barrier) {
      barrier_running_ = true;
    } else {
      running_lanes_.insert(work.lane);
    }
    lock.unlock();
    work.run();
    // The job's captured state (a receipt can be megabytes) goes before the lock is taken.
    work.run = nullptr;
    lock.lock();
    --running_;
    if (work.barrier) {
      barrier_running_ = false;
    } else {
      running_lanes_.erase(work.lane);
    }
    ++idle_workers_;
    // A finished job can free its lane's next job, or every lane after a barrier.
    WakeOrStartWorkers();
    work_changed_.notify_all();
  }
}

}  // namespace kestro
