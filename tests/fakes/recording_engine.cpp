// The recording engine's state and the FlutterDesktop… messaging functions acting on it.
#include "tests/fakes/recording_engine.h"

#include <mutex>
#include <utility>

using kestro_test::Bytes;
using kestro_test::InstalledCallback;
using kestro_test::RecordedResponse;
using kestro_test::RecordingEngine;
using kestro_test::SentMessage;

// Handles live as long as the engine's state so that a late or repeated answer is recorded as a
// fault instead of corrupting memory.
struct FlutterDesktopMessageResponseHandle {
  std::string channel;
  bool spent = false;
  std::vector<Bytes> answers;
};

// Freed at its last Release, so ASan reports any use after that; the shared state keeps the
// records readable by the test.
struct FlutterDesktopMessenger {
  std::shared_ptr<RecordingEngine::State> state;
};

struct FlutterDesktopEngine {
  RecordingEngine::State* state;
};

struct FlutterDesktopPluginRegistrar {
  RecordingEngine::State* state;
};

struct RecordingEngine::State {
  struct PendingReply {
    SentMessage message;
    FlutterDesktopBinaryReply reply;
    void* user_data;
  };

  mutable std::mutex mutex;   // guards every field below
  std::mutex messenger_lock;  // what FlutterDesktopMessengerLock takes
  FlutterDesktopMessenger* messenger = nullptr;
  FlutterDesktopEngine engine{this};
  FlutterDesktopPluginRegistrar registrar{this};
  int references = 1;  // the engine's own
  bool destroyed = false;
  int locks_held = 0;
  std::map<std::string, InstalledCallback> callbacks;
  std::vector<std::unique_ptr<FlutterDesktopMessageResponseHandle>> handles;
  std::vector<RecordedResponse> responses;
  std::vector<SentMessage> accepted_sends;
  std::vector<SentMessage> plain_sends;
  std::vector<PendingReply> pending;
  std::vector<std::string> calls;
  std::vector<std::string> faults;

  void Record(const char* function) {
    std::lock_guard<std::mutex> guard(mutex);
    calls.emplace_back(function);
  }

  // A copy of the field, taken under the lock.
  template <typename T>
  T Copy(T State::*field) const {
    std::lock_guard<std::mutex> guard(mutex);
    return this->*field;
  }

  bool OwnsHandle(const FlutterDesktopMessageResponseHandle* handle) const {
    for (const auto& owned : handles) {
      if (owned.get() == handle) return true;
    }
    return false;
  }

  // Drops one reference; the last one frees the messenger object. The state may die with it,
  // so no lock of the state is held while freeing.
  static void Release(State* state) {
    std::unique_ptr<FlutterDesktopMessenger> freed;
    {
      std::lock_guard<std::mutex> guard(state->mutex);
      if (state->references <= 0) {
        state->faults.push_back("messenger released more often than referenced");
        return;
      }
      if (--state->references == 0) {
        freed.reset(state->messenger);
        state->messenger = nullptr;
      }
    }
  }
};

namespace kestro_test {

RecordingEngine::RecordingEngine() : state_(std::make_shared<State>()) {
  auto messenger = std::make_unique<FlutterDesktopMessenger>();
  messenger->state = state_;
  state_->messenger = messenger.release();  // owned by its reference count from here on
}

RecordingEngine::~RecordingEngine() { DestroyEngine(); }

FlutterDesktopPluginRegistrarRef RecordingEngine::registrar() const { return &state_->registrar; }

FlutterDesktopMessengerRef RecordingEngine::messenger() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->messenger;
}

Delivery RecordingEngine::Deliver(const std::string& channel, const Bytes& bytes,
                                  bool with_response_handle) {
  Delivery delivery;
  InstalledCallback target;
  FlutterDesktopMessengerRef messenger = nullptr;
  FlutterDesktopMessageResponseHandle* handle = nullptr;
  {
    std::lock_guard<std::mutex> guard(state_->mutex);
    if (state_->destroyed) {
      state_->faults.push_back("message delivered after the engine was destroyed");
      return delivery;
    }
    auto found = state_->callbacks.find(channel);
    if (found == state_->callbacks.end()) return delivery;
    target = found->second;
    messenger = state_->messenger;
    if (with_response_handle) {
      state_->handles.push_back(std::make_unique<FlutterDesktopMessageResponseHandle>());
      handle = state_->handles.back().get();
      handle->channel = channel;
    }
  }
  FlutterDesktopMessage message{bytes.data(), bytes.size(), handle};
  target.callback(messenger, &message, target.user_data);
  delivery.delivered = true;
  delivery.handle = handle;
  return delivery;
}

std::vector<Bytes> RecordingEngine::ResponsesTo(
    const FlutterDesktopMessageResponseHandle* handle) const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  if (!state_->OwnsHandle(handle)) return {};
  return handle->answers;
}

std::vector<RecordedResponse> RecordingEngine::responses() const {
  return state_->Copy(&State::responses);
}

std::optional<InstalledCallback> RecordingEngine::CallbackFor(const std::string& channel) const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  auto found = state_->callbacks.find(channel);
  if (found == state_->callbacks.end()) return std::nullopt;
  return found->second;
}

std::map<std::string, InstalledCallback> RecordingEngine::callbacks() const {
  return state_->Copy(&State::callbacks);
}

std::vector<SentMessage> RecordingEngine::accepted_sends() const {
  return state_->Copy(&State::accepted_sends);
}

std::vector<SentMessage> RecordingEngine::plain_sends() const {
  return state_->Copy(&State::plain_sends);
}

std::vector<SentMessage> RecordingEngine::pending_replies() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  std::vector<SentMessage> messages;
  for (const auto& pending : state_->pending) messages.push_back(pending.message);
  return messages;
}

bool RecordingEngine::AnswerPending(size_t index, const Bytes& reply) {
  State::PendingReply answered;
  {
    std::lock_guard<std::mutex> guard(state_->mutex);
    if (index >= state_->pending.size()) return false;
    answered = std::move(state_->pending[index]);
    state_->pending.erase(state_->pending.begin() + static_cast<std::ptrdiff_t>(index));
  }
  answered.reply(reply.data(), reply.size(), answered.user_data);
  return true;
}

void RecordingEngine::DestroyEngine() {
  {
    std::lock_guard<std::mutex> shutdown(state_->messenger_lock);
    std::lock_guard<std::mutex> guard(state_->mutex);
    if (state_->destroyed) return;
    state_->destroyed = true;
  }
  State::Release(state_.get());
}

int RecordingEngine::reference_count() const { return state_->Copy(&State::references); }

int RecordingEngine::locks_held() const { return state_->Copy(&State::locks_held); }

std::vector<std::string> RecordingEngine::calls() const { return state_->Copy(&State::calls); }

std::vector<std::string> RecordingEngine::faults() const { return state_->Copy(&State::faults); }

}  // namespace kestro_test

using State = RecordingEngine::State;

namespace {

// The state behind the messenger, with the call recorded under the function's name.
State* Enter(FlutterDesktopMessengerRef messenger, const char* function) {
  messenger->state->Record(function);
  return messenger->state.get();
}

}  // namespace

extern "C" {

FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(FlutterDesktopEngineRef engine) {
  State* state = engine->state;
  state->Record("FlutterDesktopEngineGetMessenger");
  std::lock_guard<std::mutex> guard(state->mutex);
  return state->messenger;
}

FlutterDesktopMessengerRef FlutterDesktopPluginRegistrarGetMessenger(
    FlutterDesktopPluginRegistrarRef registrar) {
  State* state = registrar->state;
  state->Record("FlutterDesktopPluginRegistrarGetMessenger");
  std::lock_guard<std::mutex> guard(state->mutex);
  return state->messenger;
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger, const char* channel,
                                        FlutterDesktopMessageCallback callback, void* user_data) {
  State* state = Enter(messenger, __func__);
  std::lock_guard<std::mutex> guard(state->mutex);
  if (callback == nullptr) {
    if (user_data != nullptr) state->faults.push_back("callback removed with non-null user data");
    state->callbacks.erase(channel);
  } else {
    state->callbacks[channel] = InstalledCallback{callback, user_data};
  }
}

void FlutterDesktopMessengerSendResponse(FlutterDesktopMessengerRef messenger,
                                         const FlutterDesktopMessageResponseHandle* handle,
                                         const uint8_t* data, size_t data_length) {
  State* state = Enter(messenger, __func__);
  std::lock_guard<std::mutex> guard(state->mutex);
  Bytes bytes(data, data + data_length);
  state->responses.push_back(RecordedResponse{handle, bytes});
  if (!state->OwnsHandle(handle)) {
    state->faults.push_back("response to a handle the engine never gave out");
    return;
  }
  // The engine owns its handles; the host only ever sees them as const.
  auto* owned = const_cast<FlutterDesktopMessageResponseHandle*>(handle);
  if (state->destroyed) {
    state->faults.push_back("response on " + owned->channel + " after the engine was destroyed");
  }
  if (owned->spent) {
    state->faults.push_back("second response to one message on " + owned->channel);
  }
  owned->spent = true;
  owned->answers.push_back(std::move(bytes));
}

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger, const char* channel,
                                 const uint8_t* message, size_t message_size) {
  State* state = Enter(messenger, __func__);
  std::lock_guard<std::mutex> guard(state->mutex);
  if (state->destroyed) return false;
  SentMessage sent{channel, Bytes(message, message + message_size)};
  state->accepted_sends.push_back(sent);
  state->plain_sends.push_back(std::move(sent));
  return true;
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger, const char* channel,
                                          const uint8_t* message, size_t message_size,
                                          FlutterDesktopBinaryReply reply, void* user_data) {
  State* state = Enter(messenger, __func__);
  std::lock_guard<std::mutex> guard(state->mutex);
  if (state->destroyed) return false;
  SentMessage sent{channel, Bytes(message, message + message_size)};
  state->accepted_sends.push_back(sent);
  state->pending.push_back(State::PendingReply{std::move(sent), reply, user_data});
  return true;
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger) {
  State* state = Enter(messenger, __func__);
  std::lock_guard<std::mutex> guard(state->mutex);
  ++state->references;
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger) {
  // The state outlives the messenger object only through this copy.
  std::shared_ptr<State> state = messenger->state;
  state->Record("FlutterDesktopMessengerRelease");
  State::Release(state.get());
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger) {
  State* state = Enter(messenger, __func__);
  std::lock_guard<std::mutex> guard(state->mutex);
  return !state->destroyed;
}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger) {
  State* state = Enter(messenger, __func__);
  state->messenger_lock.lock();
  std::lock_guard<std::mutex> guard(state->mutex);
  ++state->locks_held;
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger) {
  State* state = Enter(messenger, __func__);
  {
    std::lock_guard<std::mutex> guard(state->mutex);
    if (state->locks_held == 0) {
      state->faults.push_back("messenger unlocked without being locked");
      return;
    }
    --state->locks_held;
  }
  state->messenger_lock.unlock();
}

}  // extern "C"
