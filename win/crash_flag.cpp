#include "win/crash_flag.h"

#include <atomic>

namespace kestro {
namespace {

std::atomic<bool> g_crashed{false};
std::atomic<CrashFilterFunction> g_crash_filter{nullptr};

}  // namespace

bool HostHasCrashed() { return g_crashed.load(); }

bool MarkHostCrashed() { return !g_crashed.exchange(true); }

void SetCrashFilter(CrashFilterFunction filter) { g_crash_filter = filter; }

CrashFilterFunction RegisteredCrashFilter() { return g_crash_filter.load(); }

}  // namespace kestro
