#include "win/crash_filter.h"

#include <atomic>

namespace kestro {
namespace {

std::atomic<CrashFilterFunction> g_crash_filter{nullptr};

}  // namespace

void SetCrashFilter(CrashFilterFunction filter) { g_crash_filter = filter; }

CrashFilterFunction RegisteredCrashFilter() { return g_crash_filter.load(); }

}  // namespace kestro
