// Runs the printer bridge's work off the thread that receives it: one lane per key (a printer's
// normalised address, or the device queries), each lane one job at a time in arrival order,
// lanes in parallel on up to kMaxWorkers threads, and barriers that run alone.
#ifndef KESTRO_THERMAL_PRINTER_PRINTER_WORK_SCHEDULER_H_
#define KESTRO_THERMAL_PRINTER_PRINTER_WORK_SCHEDULER_H_

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kestro {

// One piece of work. run is called once on a worker thread, or never when the work is dropped
// at shutdown (it is destroyed then, by whoever holds what Stop returned).
struct PrinterWork {
  std::string method;     // as received; the owner names dropped work by it
  std::string lane;       // work with equal lanes runs one at a time; ignored for barriers
  bool barrier = false;   // runs after all earlier work finished and before any later starts
  size_t held_bytes = 0;  // what the work holds while it waits, counted against the byte limit
  std::function<void()> run;
};

// Submit may be called from any thread. Stop, Join, WaitUntilIdle and the destructor belong to
// the owner's thread and must never be called from inside a job. The owner joins every worker:
// in Join, or in the destructor.
class PrinterWorkScheduler {
 public:
  static constexpr size_t kMaxWorkers = 8;
  static constexpr size_t kMaxPendingMessages = 1000;
  static constexpr size_t kMaxPendingBytes = size_t{256} * 1024 * 1024;

  enum class Admission { kAccepted, kBusy, kStopped };

  // Starts a thread running body; a thread that is not joinable when none can be started.
  using ThreadStarter = std::function<std::thread(std::function<void()> body)>;

  // Without a starter, std::thread's.
  explicit PrinterWorkScheduler(ThreadStarter start_thread = nullptr);
  // Stop(), dropping what waits without a word, then Join().
  ~PrinterWorkScheduler();

  PrinterWorkScheduler(const PrinterWorkScheduler&) = delete;
  PrinterWorkScheduler& operator=(const PrinterWorkScheduler&) = delete;

  // Queues work, or refuses it (and destroys it) when a limit on waiting work would be passed or
  // no worker exists and none can be started (kBusy), or after Stop (kStopped).
  Admission Submit(PrinterWork work);

  // Stops accepting and hands back every job not started, in arrival order; running jobs go on.
  // Later calls return nothing.
  std::vector<PrinterWork> Stop();

  // Waits for the running jobs, however long they take, and joins every worker. After Stop.
  void Join();

  // Blocks until no work waits and none runs. For tests and tools that drain the bridge.
  void WaitUntilIdle();

 private:
  struct Waiting {
    uint64_t arrival;
    PrinterWork work;
  };

  void WorkerLoop();
  // How many jobs may start now, counting at most limit. mutex_ held.
  size_t RunnableJobs(size_t limit) const;
  // Takes the next job allowed to start, oldest first; false when none may. mutex_ held.
  bool TakeRunnable(PrinterWork* work);
  // Wakes the idle workers and starts more while runnable jobs outnumber them. mutex_ held.
  void WakeOrStartWorkers();
  // Starts one more worker, counted idle; false when none can be started. mutex_ held.
  bool StartWorker();

  const ThreadStarter start_thread_;
  std::mutex mutex_;
  std::condition_variable work_changed_;
  uint64_t next_arrival_ = 0;
  // Waiting work: each lane's jobs in arrival order, and the barriers in arrival order.
  std::map<std::string, std::deque<Waiting>> lanes_;
  std::deque<Waiting> barriers_;
  // (arrival of its first waiting job, lane) for each lane with waiting jobs and none running.
  std::set<std::pair<uint64_t, std::string>> idle_lane_heads_;
  size_t pending_messages_ = 0;
  size_t pending_bytes_ = 0;
  std::set<std::string> running_lanes_;
  size_t running_ = 0;
  bool barrier_running_ = false;
  bool stopping_ = false;
  size_t idle_workers_ = 0;           // waiting for work, or started and not yet looking
  std::vector<std::thread> workers_;  // joined only by the owner
};

}  // namespace kestro

#endif  // KESTRO_THERMAL_PRINTER_PRINTER_WORK_SCHEDULER_H_
