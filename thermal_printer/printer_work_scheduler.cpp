#include "thermal_printer/printer_work_scheduler.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "win/crash_flag.h"

namespace kestro {

namespace {

std::thread StartStdThread(std::function<void()> body) {
  try {
    return std::thread(std::move(body));
  } catch (const std::system_error&) {
    return std::thread();
  }
}

}  // namespace

PrinterWorkScheduler::PrinterWorkScheduler(ThreadStarter start_thread)
    : start_thread_(start_thread ? std::move(start_thread) : ThreadStarter(StartStdThread)) {
  // Reserved, so a started worker is never lost to a failed push_back.
  workers_.reserve(kMaxWorkers);
}

PrinterWorkScheduler::~PrinterWorkScheduler() {
  Stop();
  Join();
}

PrinterWorkScheduler::Admission PrinterWorkScheduler::Submit(PrinterWork work) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_) return Admission::kStopped;
  if (pending_messages_ >= kMaxPendingMessages ||
      work.held_bytes > kMaxPendingBytes - pending_bytes_) {
    return Admission::kBusy;
  }
  // Accepted work with no thread to run it would wait for whatever message came next.
  if (workers_.empty() && !StartWorker()) return Admission::kBusy;
  ++pending_messages_;
  pending_bytes_ += work.held_bytes;
  const uint64_t arrival = next_arrival_++;
  if (work.barrier) {
    barriers_.push_back(Waiting{arrival, std::move(work)});
  } else {
    std::deque<Waiting>& lane = lanes_[work.lane];
    if (lane.empty() && running_lanes_.count(work.lane) == 0) {
      idle_lane_heads_.emplace(arrival, work.lane);
    }
    lane.push_back(Waiting{arrival, std::move(work)});
  }
  WakeOrStartWorkers();
  return Admission::kAccepted;
}

std::vector<PrinterWork> PrinterWorkScheduler::Stop() {
  std::vector<Waiting> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    for (auto& lane : lanes_) {
      for (Waiting& waiting : lane.second) dropped.push_back(std::move(waiting));
    }
    for (Waiting& waiting : barriers_) dropped.push_back(std::move(waiting));
    lanes_.clear();
    barriers_.clear();
    idle_lane_heads_.clear();
    pending_messages_ = 0;
    pending_bytes_ = 0;
  }
  work_changed_.notify_all();
  std::sort(dropped.begin(), dropped.end(),
            [](const Waiting& a, const Waiting& b) { return a.arrival < b.arrival; });
  std::vector<PrinterWork> work;
  work.reserve(dropped.size());
  for (Waiting& waiting : dropped) work.push_back(std::move(waiting.work));
  return work;
}

void PrinterWorkScheduler::Join() {
  std::vector<std::thread> workers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    workers.swap(workers_);
  }
  // Running jobs finish however long they take: a receipt is never cut off.
  for (std::thread& worker : workers) worker.join();
}

void PrinterWorkScheduler::WaitUntilIdle() {
  std::unique_lock<std::mutex> lock(mutex_);
  work_changed_.wait(lock, [this] { return pending_messages_ == 0 && running_ == 0; });
}

size_t PrinterWorkScheduler::RunnableJobs(size_t limit) const {
  if (barrier_running_) return 0;
  // Nothing received after a waiting barrier may pass it.
  const uint64_t before = barriers_.empty() ? UINT64_MAX : barriers_.front().arrival;
  size_t runnable = 0;
  for (auto head = idle_lane_heads_.begin();
       head != idle_lane_heads_.end() && head->first < before && runnable < limit; ++head) {
    ++runnable;
  }
  if (runnable == 0 && !barriers_.empty() && running_ == 0 &&
      (idle_lane_heads_.empty() || idle_lane_heads_.begin()->first > before)) {
    runnable = 1;  // the barrier: everything before it has finished
  }
  return runnable;
}

bool PrinterWorkScheduler::TakeRunnable(PrinterWork* work) {
  if (RunnableJobs(1) == 0) return false;
  const uint64_t before = barriers_.empty() ? UINT64_MAX : barriers_.front().arrival;
  Waiting taken{0, PrinterWork()};
  if (!idle_lane_heads_.empty() && idle_lane_heads_.begin()->first < before) {
    const std::string lane = idle_lane_heads_.begin()->second;
    idle_lane_heads_.erase(idle_lane_heads_.begin());
    const auto found = lanes_.find(lane);
    taken = std::move(found->second.front());
    found->second.pop_front();
    if (found->second.empty()) lanes_.erase(found);
    running_lanes_.insert(lane);
  } else {
    taken = std::move(barriers_.front());
    barriers_.pop_front();
    barrier_running_ = true;
  }
  --pending_messages_;
  pending_bytes_ -= taken.work.held_bytes;
  ++running_;
  *work = std::move(taken.work);
  return true;
}

void PrinterWorkScheduler::WakeOrStartWorkers() {
  const size_t runnable = RunnableJobs(kMaxWorkers);
  if (runnable == 0) return;
  if (idle_workers_ > 0) work_changed_.notify_all();
  while (runnable > idle_workers_ && workers_.size() < kMaxWorkers) {
    // On failure the job waits for a running worker, or for the next Submit to try again.
    if (!StartWorker()) return;
  }
}

bool PrinterWorkScheduler::StartWorker() {
  std::thread worker = start_thread_([this] { WorkerLoop(); });
  if (!worker.joinable()) return false;
  workers_.push_back(std::move(worker));
  ++idle_workers_;
  return true;
}

void PrinterWorkScheduler::WorkerLoop() {
  ReserveCrashStack();
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    PrinterWork work;
    if (!TakeRunnable(&work)) {
      if (stopping_) {
        --idle_workers_;
        return;
      }
      work_changed_.wait(lock);
      continue;
    }
    --idle_workers_;
    lock.unlock();
    // After a crash nothing more may reach a printer: queued work is taken but never started.
    if (!HostHasCrashed()) work.run();
    // The job's captured state (a receipt can be megabytes) goes before the lock is taken.
    work.run = nullptr;
    lock.lock();
    --running_;
    if (work.barrier) {
      barrier_running_ = false;
    } else {
      running_lanes_.erase(work.lane);
      const auto lane = lanes_.find(work.lane);
      if (lane != lanes_.end()) idle_lane_heads_.emplace(lane->second.front().arrival, work.lane);
    }
    ++idle_workers_;
    // A finished job can free its lane's next job, or every lane after a barrier.
    WakeOrStartWorkers();
    work_changed_.notify_all();
  }
}

}  // namespace kestro
