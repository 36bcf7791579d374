#include "thermal_printer/thermal_printer_plugin.h"

#include <optional>
#include <utility>
#include <vector>

#include "engine_client/codec/standard_method_codec.h"
#include "engine_client/messaging/method_channel.h"
#include "thermal_printer/bluetooth_address.h"
#include "thermal_printer/bluetooth_manager.h"
#include "thermal_printer/debug_output.h"
#include "thermal_printer/default_bluetooth_stack.h"
#include "thermal_printer/event_channel.h"
#include "thermal_printer/method_arguments.h"
#include "thermal_printer/printer_work_scheduler.h"
#include "thermal_printer/ui_thread_handoff.h"

namespace kestro {
namespace {

constexpr char kChannelName[] = "com.kestro.pos/thermal_printer";

using flutter::EncodableValue;
using flutter::EncodableValueMap;
using ResponseHandle = const FlutterDesktopMessageResponseHandle*;
using Call = flutter::MethodCall<EncodableValue>;

#ifdef _WIN32
using PlatformHandoff = UiThreadHandoff;
std::unique_ptr<PlatformHandoff> NewHandoff() { return NewWindowUiThreadHandoff(); }
#else
using PlatformHandoff = QueuedUiThreadHandoff;
std::unique_ptr<PlatformHandoff> NewHandoff() { return std::make_unique<QueuedUiThreadHandoff>(); }
#endif

BluetoothStackFactory DefaultStackFactory() {
#ifdef _WIN32
  return [] { return NewDefaultBluetoothStack(); };
#else
  return nullptr;
#endif
}

const flutter::StandardMethodCodec& Codec() {
  return flutter::StandardMethodCodec::ForSerializer();
}

// Process-wide plug-in state. The UI thread sets it up at registration; the manager (and the
// stack factory it is made with) is then touched only by scheduled work, which the scheduler
// keeps from overlapping "setup" and "destroy".
struct PluginState {
  // Statics die in reverse order of construction: creating the codec first lets the manager
  // still encode its last log events when it is destroyed at exit.
  PluginState() { static_cast<void>(Codec()); }

  FlutterDesktopMessengerRef messenger = nullptr;
  std::unique_ptr<PlatformHandoff> handoff;  // outlives the events channel that posts to it
  std::shared_ptr<flutter::MethodChannel> events;
  BluetoothStackFactory stack_factory = DefaultStackFactory();
  std::unique_ptr<BluetoothManager> manager;
  // Last, so it is destroyed first: no worker is left using the manager when it goes.
  std::unique_ptr<PrinterWorkScheduler> scheduler;
};

PluginState& State() {
  static PluginState state;
  return state;
}

BluetoothManager* Manager() { return State().manager.get(); }

// Where arrival sends a message that needs the manager.
struct Route {
  std::string lane;
  bool barrier = false;
  size_t print_bytes = 0;
};

Route AddressLane(const std::string& address, size_t print_bytes = 0) {
  return Route{NormalizeMacAddress(address), false, print_bytes};
}

// Upper-case hex digits and ":" make every address lane, so this name never collides with one.
Route DevicesLane() { return Route{"devices", false, 0}; }
Route Barrier() { return Route{std::string(), true, 0}; }

// Arrival answered the message itself: nothing to schedule.
std::optional<Route> AnswerInvalid(ResponseHandle handle, const char* message) {
  SendError(handle, "INVALID_ARGS", message);
  return std::nullopt;
}

std::optional<Route> AnswerNow(ResponseHandle handle, const EncodableValue& value) {
  SendSuccess(handle, &value);
  return std::nullopt;
}

// ---- On arrival (the delivering thread): argument checks; a reply now, or a route. ----

std::optional<Route> ArriveSetupOrDestroy(const Call&, ResponseHandle) { return Barrier(); }

std::optional<Route> ArriveDeviceQuery(const Call&, ResponseHandle) { return DevicesLane(); }

std::optional<Route> ArriveConnect(const Call& call, ResponseHandle handle) {
  const EncodableValueMap* map = ArgumentsMap(call.Arguments());
  if (map == nullptr) return AnswerInvalid(handle, "Expected map arguments");
  const std::string address = ReadString(*map, "macAddress");
  if (address.empty()) return AnswerInvalid(handle, "macAddress is required");
  return AddressLane(address);
}

std::optional<Route> ArriveDisconnect(const Call& call, ResponseHandle handle) {
  const EncodableValueMap* map = ArgumentsMap(call.Arguments());
  std::optional<std::string> address;
  if (map != nullptr) address = FindString(*map, "macAddress");
  if (!address) return AnswerNow(handle, EncodableValue(true));
  return AddressLane(*address);
}

std::optional<Route> ArriveIsConnected(const Call& call, ResponseHandle handle) {
  const EncodableValueMap* map = ArgumentsMap(call.Arguments());
  if (map == nullptr) return AnswerInvalid(handle, "Expected map arguments");
  return AddressLane(ReadString(*map, "macAddress"));
}

std::optional<Route> ArrivePrint(const Call& call, ResponseHandle handle) {
  const EncodableValueMap* map = ArgumentsMap(call.Arguments());
  if (map == nullptr) return AnswerInvalid(handle, "Expected map arguments");
  const std::string address = ReadString(*map, "macAddress");
  const PrintBytesArgument bytes = ReadBytes(*map, "bytes");
  if (address.empty()) return AnswerInvalid(handle, "macAddress is required");
  if (bytes.bytes().empty()) return AnswerInvalid(handle, "bytes is required");
  return AddressLane(address, bytes.bytes().size());
}

std::optional<Route> ArriveStartDiscovery(const Call&, ResponseHandle handle) {
  EncodableValueMap result;
  result[EncodableValue(std::string("success"))] = EncodableValue(true);
  return AnswerNow(handle, EncodableValue(std::move(result)));
}

std::optional<Route> ArriveStopDiscovery(const Call&, ResponseHandle handle) {
  return AnswerNow(handle, EncodableValue(true));
}

// ---- On a worker: the manager's part, whose result is the success reply. ----
// Arguments were checked on arrival; whether a manager exists is decided here.

EncodableValue RunSetup(const Call&) {
  PluginState& state = State();
  if (!state.manager && state.stack_factory) {
    std::unique_ptr<BluetoothStack> stack = state.stack_factory();
    if (stack) state.manager = std::make_unique<BluetoothManager>(state.events, std::move(stack));
  }
  if (state.manager) state.manager->Initialize();
  return EncodableValue(true);
}

EncodableValue RunDestroy(const Call&) {
  if (BluetoothManager* manager = Manager()) manager->Dispose();
  return EncodableValue(true);
}

EncodableValue RunCheckBleEnabled(const Call&) {
  BluetoothManager* manager = Manager();
  return EncodableValue(manager != nullptr && IsBluetoothRadioPresent(manager->stack()));
}

EncodableValue RunGetBleDevices(const Call&) {
  BluetoothManager* manager = Manager();
  return EncodableValue(manager != nullptr ? manager->GetPairedDevices()
                                           : flutter::EncodableValueList());
}

const EncodableValueMap& CheckedMap(const Call& call) { return *ArgumentsMap(call.Arguments()); }

EncodableValue RunConnect(const Call& call) {
  const EncodableValueMap& map = CheckedMap(call);
  BluetoothManager* manager = Manager();
  return EncodableValue(manager != nullptr && manager->Connect(ReadString(map, "macAddress"),
                                                               ReadString(map, "printerUuid")));
}

EncodableValue RunDisconnect(const Call& call) {
  if (BluetoothManager* manager = Manager()) {
    manager->Disconnect(*FindString(CheckedMap(call), "macAddress"));
  }
  return EncodableValue(true);
}

EncodableValue RunIsConnected(const Call& call) {
  BluetoothManager* manager = Manager();
  return EncodableValue(manager != nullptr &&
                        manager->IsConnected(ReadString(CheckedMap(call), "macAddress")));
}

EncodableValue RunPrint(const Call& call) {
  const EncodableValueMap& map = CheckedMap(call);
  const PrintBytesArgument bytes = ReadBytes(map, "bytes");
  BluetoothManager* manager = Manager();
  // The reply waits for the whole job, so the application learns the real outcome.
  return EncodableValue(manager != nullptr &&
                        manager->PrintBytes(ReadString(map, "macAddress"), bytes.bytes(),
                                            ReadString(map, "printerUuid"),
                                            ReadString(map, "jobUuid")));
}

using Arrival = std::optional<Route> (*)(const Call& call, ResponseHandle handle);
using Operation = EncodableValue (*)(const Call& call);

struct Method {
  const char* names[3];  // unused slots are null
  Arrival arrive;
  Operation run;  // null when arrival always answers
};

const Method kMethods[] = {
    {{"setup", "setupWindows", nullptr}, ArriveSetupOrDestroy, RunSetup},
    {{"destroy", "destroyWindows", nullptr}, ArriveSetupOrDestroy, RunDestroy},
    {{"checkBleEnabled", "checkBleEnabledWindows", nullptr}, ArriveDeviceQuery, RunCheckBleEnabled},
    {{"getBleDevices", "getBleDevicesWindows", "getPairedDevices"},
     ArriveDeviceQuery,
     RunGetBleDevices},
    {{"connectBle", "connectBleWindows", nullptr}, ArriveConnect, RunConnect},
    {{"disconnectBle", "disconnectBleWindows", nullptr}, ArriveDisconnect, RunDisconnect},
    {{"isBleConnected", "isBleConnectedWindows", nullptr}, ArriveIsConnected, RunIsConnected},
    {{"printBle", "printBleWindows", "printRawBle"}, ArrivePrint, RunPrint},
    {{"startBleDiscovery", "startBleDiscoveryWindows", nullptr}, ArriveStartDiscovery, nullptr},
    {{"stopBleDiscovery", "stopBleDiscoveryWindows", nullptr}, ArriveStopDiscovery, nullptr},
};

const Method* FindMethod(const std::string& name) {
  for (const Method& method : kMethods) {
    for (const char* alias : method.names) {
      if (alias != nullptr && name == alias) return &method;
    }
  }
  return nullptr;
}

// Encodes on the worker; only the send itself waits for the UI thread.
void ReplyFromWorker(ResponseHandle handle, const EncodableValue& value) {
  if (handle == nullptr) return;
  std::vector<uint8_t> bytes = std::move(*Codec().EncodeSuccessReply(&value));
  UiThreadHandoff* handoff = State().handoff.get();
  if (handoff == nullptr) return SendReply(bytes.data(), bytes.size(), handle);
  handoff->Post(
      [bytes = std::move(bytes), handle] { SendReply(bytes.data(), bytes.size(), handle); });
}

// The decoded call moves into the work as it is: a receipt's bytes are never copied again.
void Schedule(const Method& method, std::unique_ptr<Call> call, ResponseHandle handle,
              Route route) {
  PluginState& state = State();
  std::shared_ptr<const Call> shared(std::move(call));
  PrinterWork work;
  work.method = shared->MethodName();
  work.lane = std::move(route.lane);
  work.barrier = route.barrier;
  work.print_bytes = route.print_bytes;
  work.run = [shared, run = method.run, handle] { ReplyFromWorker(handle, run(*shared)); };
  // Without a way back to the UI thread the work runs here, as it would have to anyway.
  if (!state.handoff || !state.scheduler) return work.run();
  switch (state.scheduler->Submit(std::move(work))) {
    case PrinterWorkScheduler::Admission::kAccepted:
      break;
    case PrinterWorkScheduler::Admission::kBusy:
      SendError(handle, "BUSY", "Too many pending printer operations");
      break;
    case PrinterWorkScheduler::Admission::kStopped:
      WriteDebugOutput("ThermalPrinterPlugin: Dropped " + shared->MethodName() + " at shutdown\n");
      break;
  }
}

}  // namespace

void HandleChannelMessage(FlutterDesktopMessengerRef, const FlutterDesktopMessage* message, void*) {
  if (message == nullptr) return;
  const ResponseHandle handle = message->response_handle;
  std::unique_ptr<Call> call = Codec().DecodeCall(message->message, message->message_size);
  if (!call) return SendError(handle, "DECODE_ERROR", "Failed to decode method call");
  WriteDebugOutput("ThermalPrinterPlugin: " + call->MethodName() + "\n");
  const Method* method = FindMethod(call->MethodName());
  if (method == nullptr) return SendSuccess(handle, nullptr);
  std::optional<Route> route = method->arrive(*call, handle);
  if (route) Schedule(*method, std::move(call), handle, std::move(*route));
}

void SendReply(const uint8_t* bytes, size_t size, ResponseHandle handle) {
  const PluginState& state = State();
  if (handle == nullptr || state.messenger == nullptr) return;
  if (state.handoff && state.handoff->engine_calls_stopped()) return;
  FlutterDesktopMessengerSendResponse(state.messenger, handle, bytes, size);
}

void SendSuccess(ResponseHandle handle, const EncodableValue* value) {
  const std::unique_ptr<std::vector<uint8_t>> bytes = Codec().EncodeSuccessReply(value);
  SendReply(bytes->data(), bytes->size(), handle);
}

void SendError(ResponseHandle handle, const std::string& code, const std::string& message) {
  const std::unique_ptr<std::vector<uint8_t>> bytes = Codec().EncodeErrorReply(code, message);
  SendReply(bytes->data(), bytes->size(), handle);
}

void SetBluetoothStackFactoryForTesting(BluetoothStackFactory factory) {
  State().stack_factory = factory ? std::move(factory) : DefaultStackFactory();
}

void StopThermalPrinterEngineCalls() {
  if (PlatformHandoff* handoff = State().handoff.get()) handoff->StopEngineCalls();
}

void ShutDownThermalPrinterPlugin() {
  if (PrinterWorkScheduler* scheduler = State().scheduler.get()) scheduler->Shutdown();
}

#ifndef _WIN32
void DrainThermalPrinterPluginForTesting(bool wait_until_idle) {
  PluginState& state = State();
  if (state.scheduler && wait_until_idle) state.scheduler->WaitUntilIdle();
  if (state.handoff) state.handoff->Drain();
}
#endif

void ResetThermalPrinterPluginForTesting() {
  PluginState& state = State();
  state.scheduler.reset();
  state.manager.reset();
#ifndef _WIN32
  // The manager's last log events reach the engine as they did when it ran on this thread.
  if (state.handoff) state.handoff->Drain();
#endif
  state.events.reset();
  state.handoff.reset();
  state.messenger = nullptr;
}

}  // namespace kestro

void ThermalPrinterPluginRegisterWithRegistrar(FlutterDesktopPluginRegistrarRef registrar) {
  kestro::PluginState& state = kestro::State();
  state.messenger = FlutterDesktopPluginRegistrarGetMessenger(registrar);
  // Created here, on the UI thread, before the first message can arrive.
  state.handoff = kestro::NewHandoff();
  state.scheduler = std::make_unique<kestro::PrinterWorkScheduler>();
  FlutterDesktopMessengerSetCallback(state.messenger, kestro::kChannelName,
                                     kestro::HandleChannelMessage, nullptr);
  state.events =
      kestro::MakeEventChannel(state.messenger, kestro::kChannelName, state.handoff.get());
  kestro::WriteDebugOutput("ThermalPrinterPlugin: Registered\n");
}
