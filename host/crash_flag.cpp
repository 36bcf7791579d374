#include "host/crash_flag.h"

#include <atomic>

namespace {

std::atomic<bool> g_crashed{false};

}  // namespace

bool HostHasCrashed() { return g_crashed.load(); }

bool MarkHostCrashed() { return !g_crashed.exchange(true); }
