#include "standins/engine/handle_registry.h"

#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "standins/transcript.h"

namespace kestro_standin {
namespace {

struct Registry {
  std::mutex mutex;
  std::unordered_map<const void*, HandleKind> live;
  std::unordered_set<const void*> destroyed;
};

Registry& Handles() {
  static Registry registry;
  return registry;
}

const char* KindName(HandleKind kind) {
  switch (kind) {
    case HandleKind::kEngine:
      return "engine";
    case HandleKind::kViewController:
      return "view controller";
    case HandleKind::kView:
      return "view";
    case HandleKind::kMessenger:
      return "messenger";
    case HandleKind::kRegistrar:
      return "registrar";
    case HandleKind::kResponse:
      return "response handle";
  }
  return "handle";
}

// Why `handle` is not a live handle of `kind`, or null when it is.
const char* Refusal(HandleKind kind, const void* handle) {
  if (handle == nullptr) return "null";
  Registry& registry = Handles();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto found = registry.live.find(handle);
  if (found != registry.live.end()) return found->second == kind ? nullptr : "another kind";
  return registry.destroyed.count(handle) != 0 ? "destroyed" : "never given out";
}

}  // namespace

void AddHandle(HandleKind kind, const void* handle) {
  Registry& registry = Handles();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.destroyed.erase(handle);
  registry.live[handle] = kind;
}

void RemoveHandle(const void* handle) {
  Registry& registry = Handles();
  std::lock_guard<std::mutex> lock(registry.mutex);
  if (registry.live.erase(handle) != 0) registry.destroyed.insert(handle);
}

bool IsLiveHandle(HandleKind kind, const void* handle, const char* function) {
  const char* refusal = Refusal(kind, handle);
  if (refusal == nullptr) return true;
  WriteTranscriptLine(std::string("fault ") + function + " # " + refusal + " " + KindName(kind));
  return false;
}

}  // namespace kestro_standin
