// The handles the stand-in engine library has given out and not yet destroyed. Every exported
// function checks the handles it receives here first, so a host that passes a null, foreign or
// destroyed handle sees a transcript line where a real engine library might crash.
#ifndef KESTRO_STANDINS_ENGINE_HANDLE_REGISTRY_H_
#define KESTRO_STANDINS_ENGINE_HANDLE_REGISTRY_H_

namespace kestro_standin {

enum class HandleKind { kEngine, kViewController, kView, kMessenger, kRegistrar, kResponse };

// Records a handle given out; its object calls this on construction. Any thread.
void AddHandle(HandleKind kind, const void* handle);

// Records a handle as destroyed; its object calls this on destruction. Any thread. The address
// counts as destroyed until a later object of any kind is built at it.
void RemoveHandle(const void* handle);

// True when `handle` is a live handle of `kind`. Otherwise writes "fault <function>" (the reason
// as a comment) to the transcript and returns false; the caller then does nothing else.
bool IsLiveHandle(HandleKind kind, const void* handle, const char* function);

}  // namespace kestro_standin

#endif  // KESTRO_STANDINS_ENGINE_HANDLE_REGISTRY_H_
