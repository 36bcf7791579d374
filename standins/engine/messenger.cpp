// The messenger: channel callbacks, response handles answered at most once, reference counting,
// the shutdown lock, and the exported messaging functions.
#include <utility>

#include "standins/engine/engine_state.h"
#include "standins/engine/handle_registry.h"
#include "standins/transcript.h"

using kestro_standin::AddHandle;
using kestro_standin::HandleKind;
using kestro_standin::HexBytes;
using kestro_standin::IsLiveHandle;
using kestro_standin::RemoveHandle;
using kestro_standin::WriteTranscriptLine;

namespace {

// Keeps the messenger alive while a host callback runs; the callback may end the engine.
class MessengerReference {
 public:
  explicit MessengerReference(FlutterDesktopMessenger* messenger)
      : messenger_(messenger->AddRef()) {}
  ~MessengerReference() { messenger_->Release(); }
  MessengerReference(const MessengerReference&) = delete;
  MessengerReference& operator=(const MessengerReference&) = delete;

 private:
  FlutterDesktopMessenger* messenger_;
};

}  // namespace

FlutterDesktopMessageResponseHandle::FlutterDesktopMessageResponseHandle(
    const FlutterDesktopMessenger* owner, std::string channel)
    : owner(owner), channel(std::move(channel)) {
  AddHandle(HandleKind::kResponse, this);
}

FlutterDesktopMessageResponseHandle::~FlutterDesktopMessageResponseHandle() { RemoveHandle(this); }

FlutterDesktopMessenger::FlutterDesktopMessenger() { AddHandle(HandleKind::kMessenger, this); }

// The response handles go with it, so none of them is live any longer either.
FlutterDesktopMessenger::~FlutterDesktopMessenger() { RemoveHandle(this); }

FlutterDesktopMessenger* FlutterDesktopMessenger::AddRef() {
  references_.fetch_add(1);
  return this;
}

void FlutterDesktopMessenger::Release() {
  if (references_.fetch_sub(1) == 1) std::unique_ptr<FlutterDesktopMessenger> last(this);
}

FlutterDesktopMessenger* FlutterDesktopMessenger::Lock() {
  engine_lock_.lock();
  return this;
}

void FlutterDesktopMessenger::Unlock() { engine_lock_.unlock(); }

void FlutterDesktopMessenger::SetCallback(const char* channel,
                                          FlutterDesktopMessageCallback callback, void* user_data) {
  if (!available_ || channel == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(table_lock_);
    if (callback == nullptr) {
      callbacks_.erase(channel);
    } else {
      callbacks_[channel] = Callback{callback, user_data};
    }
  }
  WriteTranscriptLine((callback ? "callback " : "callback-removed ") + std::string(channel));
}

const FlutterDesktopMessageResponseHandle* FlutterDesktopMessenger::DeliverFromApplication(
    const std::string& channel, const std::vector<uint8_t>& bytes, bool unreadable) {
  MessengerReference keep_alive(this);
  WriteTranscriptLine("send " + channel + " " + HexBytes(bytes));
  Callback callback;
  const FlutterDesktopMessageResponseHandle* handle = nullptr;
  {
    std::lock_guard<std::mutex> lock(table_lock_);
    auto found = callbacks_.find(channel);
    if (found != callbacks_.end()) callback = found->second;
    handles_.push_back(std::make_unique<FlutterDesktopMessageResponseHandle>(this, channel));
    handle = handles_.back().get();
  }
  if (callback.function == nullptr) {
    WriteTranscriptLine("reply " + channel + " none # no callback");
    return nullptr;
  }
  // The first page is never mapped, so reading it is an access violation.
  const uint8_t* data = unreadable ? reinterpret_cast<const uint8_t*>(uintptr_t{16}) : bytes.data();
  FlutterDesktopMessage message{data, bytes.size(), handle};
  callback.function(this, &message, callback.user_data);
  return handle;
}

bool FlutterDesktopMessenger::IsAnswered(const FlutterDesktopMessageResponseHandle* handle) {
  std::lock_guard<std::mutex> lock(table_lock_);
  return handle->answered;
}

void FlutterDesktopMessenger::GiveUpOn(const FlutterDesktopMessageResponseHandle* handle) {
  std::string channel;
  {
    std::lock_guard<std::mutex> lock(table_lock_);
    auto* open = const_cast<FlutterDesktopMessageResponseHandle*>(handle);
    if (open->answered || open->overdue) return;
    open->overdue = true;
    channel = open->channel;
  }
  WriteTranscriptLine("reply " + channel + " none");
}

void FlutterDesktopMessenger::Respond(const FlutterDesktopMessageResponseHandle* handle,
                                      const uint8_t* data, size_t size) {
  // After shutdown nothing reaches the application, and nothing is said about it.
  if (!available_) return;
  std::string line;
  {
    std::lock_guard<std::mutex> lock(table_lock_);
    auto* open = const_cast<FlutterDesktopMessageResponseHandle*>(handle);
    if (open->answered) {
      line = "reply-duplicate " + open->channel;
    } else {
      open->answered = true;
      line =
          (open->overdue ? "reply-late " : "reply ") + open->channel + " " + HexBytes(data, size);
      if (reply_window_ != nullptr) PostMessageW(reply_window_, kReplyArrivedMessage, 0, 0);
    }
  }
  WriteTranscriptLine(line);
}

bool FlutterDesktopMessenger::Send(const char* channel, const uint8_t* data, size_t size,
                                   FlutterDesktopBinaryReply reply, void* user_data) {
  if (!available_ || channel == nullptr) return false;
  WriteTranscriptLine("event " + std::string(channel) + " " + HexBytes(data, size));
  if (reply == nullptr) return true;
  HWND window;
  {
    std::lock_guard<std::mutex> lock(table_lock_);
    pending_replies_.push_back(PendingReply{reply, user_data});
    window = reply_window_;
  }
  if (window == nullptr || !PostMessageW(window, kDeliverRepliesMessage, 0, 0)) {
    DeliverPendingReplies();
  }
  return true;
}

void FlutterDesktopMessenger::DeliverPendingReplies() {
  std::vector<PendingReply> due;
  {
    std::lock_guard<std::mutex> lock(table_lock_);
    due.swap(pending_replies_);
  }
  for (const PendingReply& reply : due) reply.function(nullptr, 0, reply.user_data);
}

void FlutterDesktopMessenger::SetReplyWindow(HWND window) {
  std::lock_guard<std::mutex> lock(table_lock_);
  reply_window_ = window;
}

void FlutterDesktopMessenger::Shutdown() {
  SetReplyWindow(nullptr);
  DeliverPendingReplies();
  {
    std::lock_guard<std::mutex> exclusive(engine_lock_);
    available_ = false;
  }
  std::lock_guard<std::mutex> lock(table_lock_);
  callbacks_.clear();
}

extern "C" {

FlutterDesktopMessengerRef FlutterDesktopPluginRegistrarGetMessenger(
    FlutterDesktopPluginRegistrarRef registrar) {
  if (!IsLiveHandle(HandleKind::kRegistrar, registrar, __func__)) return nullptr;
  return registrar->messenger;
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger, const char* channel,
                                        FlutterDesktopMessageCallback callback, void* user_data) {
  if (!IsLiveHandle(HandleKind::kMessenger, messenger, __func__)) return;
  messenger->SetCallback(channel, callback, user_data);
}

void FlutterDesktopMessengerSendResponse(FlutterDesktopMessengerRef messenger,
                                         const FlutterDesktopMessageResponseHandle* handle,
                                         const uint8_t* data, size_t data_length) {
  if (!IsLiveHandle(HandleKind::kMessenger, messenger, __func__) ||
      !IsLiveHandle(HandleKind::kResponse, handle, __func__)) {
    return;
  }
  if (!messenger->Owns(handle)) {
    WriteTranscriptLine(std::string("fault ") + __func__ +
                        " # response handle of another messenger");
    return;
  }
  messenger->Respond(handle, data, data_length);
}

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger, const char* channel,
                                 const uint8_t* message, size_t message_size) {
  if (!IsLiveHandle(HandleKind::kMessenger, messenger, __func__)) return false;
  return messenger->Send(channel, message, message_size, nullptr, nullptr);
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger, const char* channel,
                                          const uint8_t* message, size_t message_size,
                                          FlutterDesktopBinaryReply reply, void* user_data) {
  if (!IsLiveHandle(HandleKind::kMessenger, messenger, __func__)) return false;
  return messenger->Send(channel, message, message_size, reply, user_data);
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger) {
  if (!IsLiveHandle(HandleKind::kMessenger, messenger, __func__)) return nullptr;
  return messenger->AddRef();
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger) {
  if (!IsLiveHandle(HandleKind::kMessenger, messenger, __func__)) return;
  messenger->Release();
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger) {
  if (!IsLiveHandle(HandleKind::kMessenger, messenger, __func__)) return false;
  return messenger->IsAvailable();
}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger) {
  if (!IsLiveHandle(HandleKind::kMessenger, messenger, __func__)) return nullptr;
  return messenger->Lock();
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger) {
  if (!IsLiveHandle(HandleKind::kMessenger, messenger, __func__)) return;
  messenger->Unlock();
}

}  // extern "C"
