#include "thermal_printer/thermal_printer_plugin.h"

#include <utility>
#include <vector>

#include "engine_client/codec/standard_method_codec.h"
#include "engine_client/messaging/method_channel.h"
#include "thermal_printer/bluetooth_manager.h"
#include "thermal_printer/debug_output.h"
#include "thermal_printer/default_bluetooth_stack.h"
#include "thermal_printer/event_channel.h"
#include "thermal_printer/method_arguments.h"

namespace kestro {
namespace {

constexpr char kChannelName[] = "com.kestro.pos/thermal_printer";

using flutter::EncodableValue;
using flutter::EncodableValueMap;
using ResponseHandle = const FlutterDesktopMessageResponseHandle*;

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

// Process-wide plug-in state, touched only from registration and the channel callback, which
// the engine runs one message at a time.
struct PluginState {
  // Statics die in reverse order of construction: creating the codec first lets the manager
  // still encode its last log events when it is destroyed at exit.
  PluginState() { static_cast<void>(Codec()); }

  FlutterDesktopMessengerRef messenger = nullptr;
  std::shared_ptr<flutter::MethodChannel> events;
  BluetoothStackFactory stack_factory = DefaultStackFactory();
  // Last, so it is destroyed first; it shares ownership of its event channel anyway.
  std::unique_ptr<BluetoothManager> manager;
};

PluginState& State() {
  static PluginState state;
  return state;
}

BluetoothManager* Manager() { return State().manager.get(); }

void ReplyValue(ResponseHandle handle, const EncodableValue& value) { SendSuccess(handle, &value); }

void ReplyExpectedMap(ResponseHandle handle) {
  SendError(handle, "INVALID_ARGS", "Expected map arguments");
}

void Setup(const EncodableValue*, ResponseHandle handle) {
  PluginState& state = State();
  if (!state.manager && state.stack_factory) {
    std::unique_ptr<BluetoothStack> stack = state.stack_factory();
    if (stack) state.manager = std::make_unique<BluetoothManager>(state.events, std::move(stack));
  }
  if (state.manager) state.manager->Initialize();
  ReplyValue(handle, EncodableValue(true));
}

void Destroy(const EncodableValue*, ResponseHandle handle) {
  if (BluetoothManager* manager = Manager()) manager->Dispose();
  ReplyValue(handle, EncodableValue(true));
}

void CheckBleEnabled(const EncodableValue*, ResponseHandle handle) {
  BluetoothManager* manager = Manager();
  ReplyValue(handle,
             EncodableValue(manager != nullptr && IsBluetoothRadioPresent(manager->stack())));
}

void GetBleDevices(const EncodableValue*, ResponseHandle handle) {
  BluetoothManager* manager = Manager();
  ReplyValue(handle, EncodableValue(manager != nullptr ? manager->GetPairedDevices()
                                                       : flutter::EncodableValueList()));
}

void ConnectBle(const EncodableValue* arguments, ResponseHandle handle) {
  const EncodableValueMap* map = ArgumentsMap(arguments);
  if (map == nullptr) return ReplyExpectedMap(handle);
  const std::string address = ReadString(*map, "macAddress");
  const std::string printer_uuid = ReadString(*map, "printerUuid");
  if (address.empty()) return SendError(handle, "INVALID_ARGS", "macAddress is required");
  BluetoothManager* manager = Manager();
  ReplyValue(handle, EncodableValue(manager != nullptr && manager->Connect(address, printer_uuid)));
}

void DisconnectBle(const EncodableValue* arguments, ResponseHandle handle) {
  const EncodableValueMap* map = ArgumentsMap(arguments);
  BluetoothManager* manager = Manager();
  if (map != nullptr && manager != nullptr) {
    if (std::optional<std::string> address = FindString(*map, "macAddress")) {
      manager->Disconnect(*address);
    }
  }
  ReplyValue(handle, EncodableValue(true));
}

void IsBleConnected(const EncodableValue* arguments, ResponseHandle handle) {
  const EncodableValueMap* map = ArgumentsMap(arguments);
  if (map == nullptr) return ReplyExpectedMap(handle);
  const std::string address = ReadString(*map, "macAddress");
  BluetoothManager* manager = Manager();
  ReplyValue(handle, EncodableValue(manager != nullptr && manager->IsConnected(address)));
}

void PrintBle(const EncodableValue* arguments, ResponseHandle handle) {
  const EncodableValueMap* map = ArgumentsMap(arguments);
  if (map == nullptr) return ReplyExpectedMap(handle);
  const std::string address = ReadString(*map, "macAddress");
  const std::string printer_uuid = ReadString(*map, "printerUuid");
  const std::string job_uuid = ReadString(*map, "jobUuid");
  const PrintBytesArgument argument = ReadBytes(*map, "bytes");
  const std::vector<uint8_t>& bytes = argument.bytes();
  if (address.empty()) return SendError(handle, "INVALID_ARGS", "macAddress is required");
  if (bytes.empty()) return SendError(handle, "INVALID_ARGS", "bytes is required");
  BluetoothManager* manager = Manager();
  // The reply waits for the whole job, so the application learns the real outcome.
  const bool printed =
      manager != nullptr && manager->PrintBytes(address, bytes, printer_uuid, job_uuid);
  ReplyValue(handle, EncodableValue(printed));
}

void StartBleDiscovery(const EncodableValue*, ResponseHandle handle) {
  EncodableValueMap result;
  result[EncodableValue(std::string("success"))] = EncodableValue(true);
  ReplyValue(handle, EncodableValue(std::move(result)));
}

void StopBleDiscovery(const EncodableValue*, ResponseHandle handle) {
  ReplyValue(handle, EncodableValue(true));
}

using MethodHandler = void (*)(const EncodableValue* arguments, ResponseHandle handle);

struct Method {
  const char* names[3];  // unused slots are null
  MethodHandler handler;
};

const Method kMethods[] = {
    {{"setup", "setupWindows", nullptr}, Setup},
    {{"destroy", "destroyWindows", nullptr}, Destroy},
    {{"checkBleEnabled", "checkBleEnabledWindows", nullptr}, CheckBleEnabled},
    {{"getBleDevices", "getBleDevicesWindows", "getPairedDevices"}, GetBleDevices},
    {{"connectBle", "connectBleWindows", nullptr}, ConnectBle},
    {{"disconnectBle", "disconnectBleWindows", nullptr}, DisconnectBle},
    {{"isBleConnected", "isBleConnectedWindows", nullptr}, IsBleConnected},
    {{"printBle", "printBleWindows", "printRawBle"}, PrintBle},
    {{"startBleDiscovery", "startBleDiscoveryWindows", nullptr}, StartBleDiscovery},
    {{"stopBleDiscovery", "stopBleDiscoveryWindows", nullptr}, StopBleDiscovery},
};

MethodHandler FindHandler(const std::string& name) {
  for (const Method& method : kMethods) {
    for (const char* alias : method.names) {
      if (alias != nullptr && name == alias) return method.handler;
    }
  }
  return nullptr;
}

}  // namespace

void HandleChannelMessage(FlutterDesktopMessengerRef, const FlutterDesktopMessage* message, void*) {
  if (message == nullptr) return;
  const ResponseHandle handle = message->response_handle;
  std::unique_ptr<flutter::MethodCall<EncodableValue>> call =
      Codec().DecodeCall(message->message, message->message_size);
  if (!call) return SendError(handle, "DECODE_ERROR", "Failed to decode method call");
  WriteDebugOutput("ThermalPrinterPlugin: " + call->MethodName() + "\n");
  if (MethodHandler handler = FindHandler(call->MethodName())) {
    handler(call->Arguments(), handle);
  } else {
    SendSuccess(handle, nullptr);
  }
}

void SendReply(const uint8_t* bytes, size_t size, ResponseHandle handle) {
  FlutterDesktopMessengerRef messenger = State().messenger;
  if (handle == nullptr || messenger == nullptr) return;
  FlutterDesktopMessengerSendResponse(messenger, handle, bytes, size);
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

void ResetThermalPrinterPluginForTesting() {
  PluginState& state = State();
  state.manager.reset();
  state.events.reset();
  state.messenger = nullptr;
}

}  // namespace kestro

void ThermalPrinterPluginRegisterWithRegistrar(FlutterDesktopPluginRegistrarRef registrar) {
  kestro::PluginState& state = kestro::State();
  state.messenger = FlutterDesktopPluginRegistrarGetMessenger(registrar);
  FlutterDesktopMessengerSetCallback(state.messenger, kestro::kChannelName,
                                     kestro::HandleChannelMessage, nullptr);
  state.events = kestro::MakeEventChannel(state.messenger, kestro::kChannelName);
  kestro::WriteDebugOutput("ThermalPrinterPlugin: Registered\n");
}
