#include "win/crash_flag.h"

#include <atomic>

namespace kestro {
namespace {

// Lock-free, so a crashed thread holding any lock can still set it.
std::atomic<bool> g_crashed{false};

}  // namespace

bool HostHasCrashed() { return g_crashed.load(); }

bool MarkHostCrashed() { return !g_crashed.exchange(true); }

}  // namespace kestro
