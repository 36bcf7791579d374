// The recording engine's state and the FlutterDesktop… messaging functions acting on it.
#include "tests/fakes/recording_engine.h"

#include <algorithm>
#include <mutex>
#include <utility>

using kestro_test::Bytes;
using State = kestro_test::RecordingEngine::State;

// Handles live as long as the engine's state so that a late or repeated answer is recorded as a
// fault instead of corrupting memory.
struct FlutterDesktopMessageResponseHandle {
  std::string channel;
  std::vector<Bytes> answers;
};

// Freed at its last Release, so ASan reports any use after that; the shared state keeps the
// records readable by the test.
struct FlutterDesktopMessenger {
  std::shared_ptr<State> state;
};

struct FlutterDesktopPluginRegistrar {
  State* state;
};

namespace kestro_test {

struct RecordingEngine::State {
  struct PendingReply {
    SentMessage message;
    FlutterDesktopBinaryReply reply;
    void* user_data;
  };

  mutable std::mutex mutex;   // guards every field below
  std::mutex messenger_lock;  // what FlutterDesktopMessengerLock takes
  FlutterDesktopMessenger* messenger = nullptr;
  FlutterDesktopPluginRegistrar registrar{this};
  int references = 1;  // the engine's own
  bool destroyed = false;
  int locks_held = 0;
  std::map<std::string, InstalledCallback> callbacks;
  std::vector<std::unique_ptr<FlutterDesktopMessageResponseHandle>> handles;
  std::vector<RecordedResponse> responses;
  std::vector<SentMessage> accepted, plain;  // messages from the host: all, and those without reply
  std::vector<PendingReply> pending;
  std::vector<std::string> calls;
  std::vector<std::string> faults;

  // Records the call and locks the state for the rest of it.
  std::unique_lock<std::mutex> Enter(const char* function) {
    std::unique_lock<std::mutex> guard(mutex);
    calls.emplace_back(function);
    return guard;
  }

  // A copy of the field, taken under the lock.
  template <typename T>
  T Copy(T State::*field) const {
    std::lock_guard<std::mutex> guard(mutex);
    return this->*field;
  }

  bool OwnsHandle(const FlutterDesktopMessageResponseHandle* handle) const {
    return std::any_of(handles.begin(), handles.end(),
                       [handle](const auto& owned) { return owned.get() == handle; });
  }

  // Drops one reference; the last one frees the messenger object (which may hold the last
  // reference on this state, so the lock is released first).
  void Release() {
    std::unique_ptr<FlutterDesktopMessenger> freed;
    std::lock_guard<std::mutex> guard(mutex);
    if (references <= 0) {
      faults.push_back("messenger released more often than referenced");
    } else if (--references == 0) {
      freed.reset(std::exchange(messenger, nullptr));
    }
  }
};

RecordingEngine::RecordingEngine() : state_(std::make_shared<State>()) {
  // Owned by its reference count from here on.
  state_->messenger =
      std::make_unique<FlutterDesktopMessenger>(FlutterDesktopMessenger{state_}).release();
}

RecordingEngine::~RecordingEngine() { DestroyEngine(); }

FlutterDesktopPluginRegistrarRef RecordingEngine::registrar() const { return &state_->registrar; }

FlutterDesktopMessengerRef RecordingEngine::messenger() const {
  return state_->Copy(&State::messenger);
}

Delivery RecordingEngine::Deliver(const std::string& channel, const Bytes& bytes,
                                  bool with_response_handle) {
  std::unique_lock<std::mutex> guard(state_->mutex);
  if (state_->destroyed) {
    state_->faults.push_back("message delivered after the engine was destroyed");
    return {};
  }
  auto found = state_->callbacks.find(channel);
  if (found == state_->callbacks.end()) return {};
  const InstalledCallback target = found->second;
  FlutterDesktopMessageResponseHandle* handle = nullptr;
  if (with_response_handle) {
    state_->handles.push_back(std::make_unique<FlutterDesktopMessageResponseHandle>());
    handle = state_->handles.back().get();
    handle->channel = channel;
  }
  FlutterDesktopMessengerRef messenger = state_->messenger;
  guard.unlock();
  FlutterDesktopMessage message{bytes.data(), bytes.size(), handle};
  target.callback(messenger, &message, target.user_data);
  return Delivery{true, handle};
}

std::vector<Bytes> RecordingEngine::ResponsesTo(
    const FlutterDesktopMessageResponseHandle* handle) const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->OwnsHandle(handle) ? handle->answers : std::vector<Bytes>();
}

std::vector<RecordedResponse> RecordingEngine::responses() const {
  return state_->Copy(&State::responses);
}

std::optional<InstalledCallback> RecordingEngine::CallbackFor(const std::string& channel) const {
  const std::map<std::string, InstalledCallback> installed = callbacks();
  const auto found = installed.find(channel);
  return found == installed.end() ? std::nullopt : std::make_optional(found->second);
}

std::map<std::string, InstalledCallback> RecordingEngine::callbacks() const {
  return state_->Copy(&State::callbacks);
}

std::vector<SentMessage> RecordingEngine::accepted_sends() const {
  return state_->Copy(&State::accepted);
}
std::vector<SentMessage> RecordingEngine::plain_sends() const {
  return state_->Copy(&State::plain);
}

std::vector<SentMessage> RecordingEngine::pending_replies() const {
  std::vector<SentMessage> messages;
  for (const auto& pending : state_->Copy(&State::pending)) messages.push_back(pending.message);
  return messages;
}

bool RecordingEngine::AnswerPending(size_t index, const Bytes& reply) {
  std::unique_lock<std::mutex> guard(state_->mutex);
  if (index >= state_->pending.size()) return false;
  const State::PendingReply answered = state_->pending[index];
  state_->pending.erase(state_->pending.begin() + static_cast<std::ptrdiff_t>(index));
  guard.unlock();
  answered.reply(reply.data(), reply.size(), answered.user_data);
  return true;
}

void RecordingEngine::DestroyEngine() {
  {
    std::lock_guard<std::mutex> shutdown(state_->messenger_lock);
    std::lock_guard<std::mutex> guard(state_->mutex);
    if (std::exchange(state_->destroyed, true)) return;
  }
  state_->Release();
}

// Copies of the records, each taken under the lock.
int RecordingEngine::reference_count() const { return state_->Copy(&State::references); }
int RecordingEngine::locks_held() const { return state_->Copy(&State::locks_held); }
std::vector<std::string> RecordingEngine::calls() const { return state_->Copy(&State::calls); }
std::vector<std::string> RecordingEngine::faults() const { return state_->Copy(&State::faults); }

}  // namespace kestro_test

extern "C" {

FlutterDesktopMessengerRef FlutterDesktopPluginRegistrarGetMessenger(
    FlutterDesktopPluginRegistrarRef registrar) {
  auto guard = registrar->state->Enter(__func__);
  return registrar->state->messenger;
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger, const char* channel,
                                        FlutterDesktopMessageCallback callback, void* user_data) {
  State* state = messenger->state.get();
  auto guard = state->Enter(__func__);
  if (callback == nullptr) {
    if (user_data != nullptr) state->faults.push_back("callback removed with non-null user data");
    state->callbacks.erase(channel);
  } else {
    state->callbacks[channel] = kestro_test::InstalledCallback{callback, user_data};
  }
}

void FlutterDesktopMessengerSendResponse(FlutterDesktopMessengerRef messenger,
                                         const FlutterDesktopMessageResponseHandle* handle,
                                         const uint8_t* data, size_t data_length) {
  State* state = messenger->state.get();
  auto guard = state->Enter(__func__);
  Bytes bytes(data, data + data_length);
  state->responses.push_back(kestro_test::RecordedResponse{handle, bytes});
  if (!state->OwnsHandle(handle)) {
    state->faults.push_back("response to a handle the engine never gave out");
    return;
  }
  // The engine owns its handles; the host only ever sees them as const.
  auto* owned = const_cast<FlutterDesktopMessageResponseHandle*>(handle);
  if (state->destroyed) {
    state->faults.push_back("response on " + owned->channel + " after the engine was destroyed");
  }
  if (!owned->answers.empty()) {
    state->faults.push_back("second response to one message on " + owned->channel);
  }
  owned->answers.push_back(std::move(bytes));
}

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger, const char* channel,
                                 const uint8_t* message, size_t message_size) {
  State* state = messenger->state.get();
  auto guard = state->Enter(__func__);
  if (state->destroyed) return false;
  state->accepted.push_back({channel, Bytes(message, message + message_size)});
  state->plain.push_back(state->accepted.back());
  return true;
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger, const char* channel,
                                          const uint8_t* message, size_t message_size,
                                          FlutterDesktopBinaryReply reply, void* user_data) {
  State* state = messenger->state.get();
  auto guard = state->Enter(__func__);
  if (state->destroyed) return false;
  state->accepted.push_back({channel, Bytes(message, message + message_size)});
  state->pending.push_back(State::PendingReply{state->accepted.back(), reply, user_data});
  return true;
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger) {
  auto guard = messenger->state->Enter(__func__);
  ++messenger->state->references;
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger) {
  // The state outlives the messenger object only through this copy.
  std::shared_ptr<State> state = messenger->state;
  state->Enter(__func__);
  state->Release();
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger) {
  auto guard = messenger->state->Enter(__func__);
  return !messenger->state->destroyed;
}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger) {
  State* state = messenger->state.get();
  state->Enter(__func__);  // recorded before waiting, so a blocked call shows
  state->messenger_lock.lock();
  std::lock_guard<std::mutex> guard(state->mutex);
  ++state->locks_held;
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger) {
  State* state = messenger->state.get();
  auto guard = state->Enter(__func__);
  if (state->locks_held == 0) {
    state->faults.push_back("messenger unlocked without being locked");
    return;
  }
  --state->locks_held;
  state->messenger_lock.unlock();
}

}  // extern "C"
