// The seam between the printer workers and the UI thread, the only thread that may call the
// engine library: workers post each reply and event as a task, the UI thread runs them in order.
#ifndef KESTRO_THERMAL_PRINTER_UI_THREAD_HANDOFF_H_
#define KESTRO_THERMAL_PRINTER_UI_THREAD_HANDOFF_H_

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace kestro {

// Post may be called from any thread; the tasks of one posting thread run in the order posted.
// Everything else belongs to the UI thread, which creates and destroys the hand-off.
class UiThreadHandoff {
 public:
  using Task = std::function<void()>;

  virtual ~UiThreadHandoff() = default;

  // task runs later on the UI thread, or is destroyed unrun with the hand-off.
  virtual void Post(Task task) = 0;
};

// A burst of replies is run in slices of about kHandoffSliceBudget, so the window keeps answering
// within a frame; while input or paint waits, slices yield to it for at most kHandoffMaxDeferral.
constexpr std::chrono::milliseconds kHandoffSliceBudget{8};
constexpr std::chrono::milliseconds kHandoffMaxDeferral{50};

enum class HandoffResume { kNone, kTimer, kPostedWakeUp };

// How the UI thread comes back after a slice: not at all when no task remains; by a timer (which
// is retrieved after input and paint) when they wait and slices have yielded to them for less
// than kHandoffMaxDeferral; else by a posted wake-up (retrieved before them).
HandoffResume NextHandoffResume(bool tasks_remain, bool input_or_paint_waiting,
                                std::chrono::steady_clock::duration deferring_for);

// A queue whose owner plays the UI thread: tasks run when, and on the thread where, Drain is
// called. The native build's hand-off.
class QueuedUiThreadHandoff : public UiThreadHandoff {
 public:
  void Post(Task task) override;
  // Runs every task posted so far, and those they post, in order. Returns how many ran.
  size_t Drain();
  // Runs tasks in order until none is left or budget has passed, at least one when any waits.
  // True when tasks remain.
  bool DrainSlice(std::chrono::steady_clock::duration budget = kHandoffSliceBudget);

 protected:
  bool TasksWaiting();

 private:
  // Runs the oldest task; false when there was none.
  bool RunOne();

  std::mutex mutex_;
  std::deque<Task> tasks_;
};

#ifdef _WIN32
// A message-only window created on the calling thread, which becomes the UI thread; a posted
// message wakes it to drain the queue, so tasks also run inside modal loops. Null when the window
// cannot be created.
std::unique_ptr<UiThreadHandoff> NewWindowUiThreadHandoff();
#endif

}  // namespace kestro

#endif  // KESTRO_THERMAL_PRINTER_UI_THREAD_HANDOFF_H_
