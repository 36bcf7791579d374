// Shared pieces of the fuzz targets: silence the codec's diagnostics (a flood of lines would
// only slow the fuzzer) and compare value trees by the value ordering.
#ifndef KESTRO_TOOLS_FUZZ_FUZZ_SUPPORT_H_
#define KESTRO_TOOLS_FUZZ_FUZZ_SUPPORT_H_

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "engine_client/codec/encodable_value.h"

namespace kestro_fuzz {

inline void SilenceDiagnostics() {
  static const bool silenced = [] {
    std::cerr.rdbuf(nullptr);
    return true;
  }();
  (void)silenced;
}

// Equal in the sense of map keys: neither orders before the other.
inline bool SameValue(const flutter::EncodableValue& a, const flutter::EncodableValue& b) {
  return !(a < b) && !(b < a);
}

[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
  std::abort();
}

}  // namespace kestro_fuzz

#endif  // KESTRO_TOOLS_FUZZ_FUZZ_SUPPORT_H_
