#include "thermal_printer/thermal_printer_plugin.h"

#include <new>
#include <utility>
#include <vector>

#include "engine_client/codec/standard_method_codec.h"
#include "thermal_printer/debug_output.h"
#include "thermal_printer/default_bluetooth_stack.h"
#include "win/crash_flag.h"

namespace kestro {
namespace {

constexpr char kChannelName[] = "com.kestro.pos/thermal_printer";

using flutter::EncodableValue;

const flutter::StandardMethodCodec& Codec() {
  return flutter::StandardMethodCodec::ForSerializer();
}

// Where a job waits: barriers run alone, a printer's jobs one at a time in arrival order, the
// device queries in a lane of their own.
struct Route {
  std::string lane;
  bool barrier = false;
  bool holds_print_bytes = false;  // a print job waits holding its bytes, not its message
};

struct RouteOf {
  Route operator()(const SetupJob&) const { return Route{std::string(), true}; }
  Route operator()(const DestroyJob&) const { return Route{std::string(), true}; }
  // Upper-case hex digits and ":" make every address lane, so this name never collides with one.
  Route operator()(const RadioCheckJob&) const { return Route{"devices"}; }
  Route operator()(const DeviceListJob&) const { return Route{"devices"}; }
  Route operator()(const ConnectJob& job) const { return Route{job.address.text()}; }
  Route operator()(const DisconnectJob& job) const { return Route{job.address.text()}; }
  Route operator()(const StatusJob& job) const { return Route{job.address.text()}; }
  Route operator()(const PrintJob& job) const { return Route{job.address.text(), false, true}; }
};

}  // namespace

ThermalPrinterPlugin::ThermalPrinterPlugin(FlutterDesktopMessengerRef messenger,
                                           std::unique_ptr<UiThreadHandoff> handoff,
                                           BluetoothStackFactory stack_factory)
    : link_(messenger),
      handoff_(std::move(handoff)),
      handed_off_(&link_, handoff_.get()),
      events_(std::make_shared<flutter::MethodChannel>(
          handoff_ ? static_cast<flutter::BinaryMessenger*>(&handed_off_) : &link_, kChannelName,
          &Codec())),
      stack_factory_(std::move(stack_factory)) {
  link_.SetChannelCallback(kChannelName, HandleChannelMessage, this);
  WriteDebugOutput("ThermalPrinterPlugin: Registered\n");
}

ThermalPrinterPlugin::~ThermalPrinterPlugin() {
  link_.SetChannelCallback(kChannelName, nullptr, nullptr);
  ShutDown();
  manager_.reset();
}

void ThermalPrinterPlugin::StopEngineCalls() {
  link_.StopEngineCalls();
  DropWaitingWork();
}

void ThermalPrinterPlugin::DropWaitingWork() {
  for (const PrinterWork& dropped : scheduler_.Stop()) {
    WriteDebugOutput("ThermalPrinterPlugin: Dropped " + dropped.method + " at shutdown\n");
  }
}

void ThermalPrinterPlugin::ShutDown() {
  DropWaitingWork();
  scheduler_.Join();
}

void ThermalPrinterPlugin::FinishAtExit() {
  ShutDown();
  if (manager_) manager_->Dispose();
}

void ThermalPrinterPlugin::WaitUntilIdle() { scheduler_.WaitUntilIdle(); }

void ThermalPrinterPlugin::HandleChannelMessage(FlutterDesktopMessengerRef,
                                                const FlutterDesktopMessage* message,
                                                void* user_data) {
  // The engine's state is unknown after a crash: no log line, no reply, no lock, no work.
  if (HostHasCrashed()) return;
  if (message != nullptr) static_cast<ThermalPrinterPlugin*>(user_data)->HandleMessage(*message);
}

void ThermalPrinterPlugin::HandleMessage(const FlutterDesktopMessage& message) {
  const ResponseHandle handle = message.response_handle;
  std::unique_ptr<flutter::MethodCall<EncodableValue>> call =
      Codec().DecodeCall(message.message, message.message_size);
  if (!call) return SendError(handle, "DECODE_ERROR", "Failed to decode method call");
  const std::string method = call->MethodName();
  WriteDebugOutput("ThermalPrinterPlugin: " + method + "\n");
  TranslatedCall translated = TranslateMethodCall(std::move(call));
  if (auto* job = std::get_if<PrinterJob>(&translated)) {
    return Schedule(method, std::move(*job), message.message_size, handle);
  }
  const auto& answer = std::get<ImmediateAnswer>(translated);
  if (answer.is_error) return SendError(handle, answer.code, answer.message);
  SendSuccess(handle, &answer.value);
}

void ThermalPrinterPlugin::Schedule(const std::string& method, PrinterJob job, size_t message_size,
                                    ResponseHandle handle) {
  Route route = std::visit(RouteOf(), job);
  PrinterWork work;
  work.method = method;
  work.lane = std::move(route.lane);
  work.barrier = route.barrier;
  // Any other job keeps what was decoded from the message, so its encoded size bounds it.
  work.held_bytes = route.holds_print_bytes ? std::get<PrintJob>(job).bytes->size() : message_size;
  work.run = [this, job = std::move(job), handle] { ReplyFromWorker(handle, Run(job)); };
  // Without a way back to the UI thread the work runs here, as it would have to anyway.
  if (!handoff_) return work.run();
  switch (scheduler_.Submit(std::move(work))) {
    case PrinterWorkScheduler::Admission::kAccepted:
      break;
    case PrinterWorkScheduler::Admission::kBusy:
      SendError(handle, "BUSY", "Too many pending printer operations");
      break;
    case PrinterWorkScheduler::Admission::kStopped:
      WriteDebugOutput("ThermalPrinterPlugin: Dropped " + method + " at shutdown\n");
      break;
  }
}

EncodableValue ThermalPrinterPlugin::Run(const PrinterJob& job) {
  return std::visit([this](const auto& typed) { return Run(typed); }, job);
}

EncodableValue ThermalPrinterPlugin::Run(const SetupJob&) {
  if (!manager_ && stack_factory_) {
    std::unique_ptr<BluetoothStack> stack = stack_factory_();
    // After a crash a job stops before its next part: nothing more reaches the printer.
    if (stack) {
      manager_ = std::make_unique<BluetoothManager>(events_, std::move(stack), LinkDeadlines(),
                                                    [] { return HostHasCrashed(); });
    }
  }
  if (manager_) manager_->Initialize();
  return EncodableValue(true);
}

EncodableValue ThermalPrinterPlugin::Run(const DestroyJob&) {
  if (manager_) manager_->Dispose();
  return EncodableValue(true);
}

EncodableValue ThermalPrinterPlugin::Run(const RadioCheckJob&) {
  return EncodableValue(manager_ != nullptr && IsBluetoothRadioPresent(manager_->stack()));
}

EncodableValue ThermalPrinterPlugin::Run(const DeviceListJob&) {
  return EncodableValue(manager_ ? manager_->GetPairedDevices() : flutter::EncodableValueList());
}

EncodableValue ThermalPrinterPlugin::Run(const ConnectJob& job) {
  return EncodableValue(manager_ != nullptr && manager_->Connect(job.address, job.printer_uuid));
}

EncodableValue ThermalPrinterPlugin::Run(const DisconnectJob& job) {
  if (manager_) manager_->Disconnect(job.address);
  return EncodableValue(true);
}

EncodableValue ThermalPrinterPlugin::Run(const StatusJob& job) {
  return EncodableValue(manager_ != nullptr && manager_->IsConnected(job.address));
}

EncodableValue ThermalPrinterPlugin::Run(const PrintJob& job) {
  // The reply waits for the whole job, so the application learns the real outcome.
  return EncodableValue(
      manager_ != nullptr &&
      manager_->PrintBytes(job.address, *job.bytes, job.printer_uuid, job.job_uuid));
}

void ThermalPrinterPlugin::ReplyFromWorker(ResponseHandle handle, const EncodableValue& value) {
  if (handle == nullptr) return;
  std::vector<uint8_t> bytes = std::move(*Codec().EncodeSuccessReply(&value));
  if (!handoff_) return SendReply(bytes.data(), bytes.size(), handle);
  handoff_->Post(
      [this, bytes = std::move(bytes), handle] { SendReply(bytes.data(), bytes.size(), handle); });
}

void ThermalPrinterPlugin::SendReply(const uint8_t* bytes, size_t size,
                                     ResponseHandle handle) const {
  link_.SendResponse(handle, bytes, size);
}

void ThermalPrinterPlugin::SendSuccess(ResponseHandle handle, const EncodableValue* value) const {
  const std::unique_ptr<std::vector<uint8_t>> bytes = Codec().EncodeSuccessReply(value);
  SendReply(bytes->data(), bytes->size(), handle);
}

void ThermalPrinterPlugin::SendError(ResponseHandle handle, const std::string& code,
                                     const std::string& message) const {
  const std::unique_ptr<std::vector<uint8_t>> bytes = Codec().EncodeErrorReply(code, message);
  SendReply(bytes->data(), bytes->size(), handle);
}

namespace {

std::unique_ptr<UiThreadHandoff> NewPlatformHandoff() {
#ifdef _WIN32
  return NewWindowUiThreadHandoff();
#else
  return nullptr;
#endif
}

BluetoothStackFactory DefaultStackFactory() {
#ifdef _WIN32
  return [] { return NewDefaultBluetoothStack(); };
#else
  return nullptr;
#endif
}

// The process's plug-in: storage that is never destroyed, and, as the process exits, the
// manager's last Dispose.
class ProcessPlugin {
 public:
  // The codec first: statics die in reverse order of construction, and the last Dispose still
  // encodes its log events.
  ProcessPlugin() { static_cast<void>(Codec()); }
  ~ProcessPlugin() {
    if (plugin_ != nullptr) plugin_->FinishAtExit();
  }
  ProcessPlugin(const ProcessPlugin&) = delete;
  ProcessPlugin& operator=(const ProcessPlugin&) = delete;

  ThermalPrinterPlugin* get() const { return plugin_; }
  void Create(FlutterDesktopMessengerRef messenger) {
    plugin_ = ::new (static_cast<void*>(storage_))
        ThermalPrinterPlugin(messenger, NewPlatformHandoff(), DefaultStackFactory());
  }

 private:
  alignas(ThermalPrinterPlugin) unsigned char storage_[sizeof(ThermalPrinterPlugin)];
  ThermalPrinterPlugin* plugin_ = nullptr;
};

ProcessPlugin& Process() {
  static ProcessPlugin process;
  return process;
}

}  // namespace

void StopThermalPrinterEngineCalls() {
  if (ThermalPrinterPlugin* plugin = Process().get()) plugin->StopEngineCalls();
}

void ShutDownThermalPrinterPlugin() {
  if (ThermalPrinterPlugin* plugin = Process().get()) plugin->ShutDown();
}

}  // namespace kestro

void ThermalPrinterPluginRegisterWithRegistrar(FlutterDesktopPluginRegistrarRef registrar) {
  kestro::ProcessPlugin& process = kestro::Process();
  if (process.get() != nullptr) return;
  process.Create(FlutterDesktopPluginRegistrarGetMessenger(registrar));
}
