#include "thermal_printer/printer_methods.h"

#include <optional>
#include <utility>

namespace kestro {
namespace {

using flutter::EncodableValue;
using flutter::EncodableValueMap;
using Call = flutter::MethodCall<EncodableValue>;
using CallPtr = std::unique_ptr<Call>;

// ---- Reading the arguments map. ----

const EncodableValueMap* ArgumentsMap(const Call& call) {
  const EncodableValue* arguments = call.Arguments();
  return arguments == nullptr ? nullptr : std::get_if<EncodableValueMap>(arguments);
}

const EncodableValue* Find(const EncodableValueMap& map, const char* key) {
  const auto entry = map.find(EncodableValue(std::string(key)));
  return entry == map.end() ? nullptr : &entry->second;
}

// The string under key, or nothing when the key is absent or holds no string.
std::optional<std::string> FindString(const EncodableValueMap& map, const char* key) {
  const EncodableValue* value = Find(map, key);
  const std::string* text = value == nullptr ? nullptr : std::get_if<std::string>(value);
  if (text == nullptr) return std::nullopt;
  return *text;
}

std::string ReadString(const EncodableValueMap& map, const char* key) {
  return FindString(map, key).value_or(std::string());
}

// A byte list as it lies in the call; a generic list gives the low 8 bits of each 32-bit integer
// element (other elements are skipped); anything else, absence included, gives no bytes.
PrintBuffer ReadBytes(CallPtr call, const EncodableValueMap& map, const char* key) {
  const EncodableValue* value = Find(map, key);
  if (value == nullptr) return nullptr;
  if (const auto* bytes = std::get_if<std::vector<uint8_t>>(value)) {
    return PrintBuffer(std::shared_ptr<const Call>(std::move(call)), bytes);
  }
  const auto* list = std::get_if<flutter::EncodableValueList>(value);
  if (list == nullptr) return nullptr;
  auto converted = std::make_shared<std::vector<uint8_t>>();
  for (const EncodableValue& element : *list) {
    if (const auto* number = std::get_if<int32_t>(&element)) {
      converted->push_back(static_cast<uint8_t>(*number & 0xFF));
    }
  }
  return converted;
}

// ---- One translation per method. ----

TranslatedCall Success(EncodableValue value) {
  return ImmediateAnswer{false, std::move(value), std::string(), std::string()};
}

TranslatedCall Invalid(const char* message) {
  return ImmediateAnswer{true, EncodableValue(), "INVALID_ARGS", message};
}

constexpr char kExpectedMap[] = "Expected map arguments";
constexpr char kAddressRequired[] = "macAddress is required";

TranslatedCall Setup(CallPtr) { return PrinterJob(SetupJob()); }
TranslatedCall Destroy(CallPtr) { return PrinterJob(DestroyJob()); }
TranslatedCall CheckRadio(CallPtr) { return PrinterJob(RadioCheckJob()); }
TranslatedCall ListDevices(CallPtr) { return PrinterJob(DeviceListJob()); }

TranslatedCall Connect(CallPtr call) {
  const EncodableValueMap* map = ArgumentsMap(*call);
  if (map == nullptr) return Invalid(kExpectedMap);
  std::string address = ReadString(*map, "macAddress");
  if (address.empty()) return Invalid(kAddressRequired);
  return PrinterJob(ConnectJob{address, ReadString(*map, "printerUuid")});
}

TranslatedCall Disconnect(CallPtr call) {
  const EncodableValueMap* map = ArgumentsMap(*call);
  std::optional<std::string> address;
  if (map != nullptr) address = FindString(*map, "macAddress");
  if (!address) return Success(EncodableValue(true));
  return PrinterJob(DisconnectJob{*address});
}

TranslatedCall IsConnected(CallPtr call) {
  const EncodableValueMap* map = ArgumentsMap(*call);
  if (map == nullptr) return Invalid(kExpectedMap);
  return PrinterJob(StatusJob{ReadString(*map, "macAddress")});
}

TranslatedCall Print(CallPtr call) {
  const EncodableValueMap* map = ArgumentsMap(*call);
  if (map == nullptr) return Invalid(kExpectedMap);
  const std::string address = ReadString(*map, "macAddress");
  std::string printer_uuid = ReadString(*map, "printerUuid");
  std::string job_uuid = ReadString(*map, "jobUuid");
  // The address is checked first, so a call that lacks both is told about the address.
  if (address.empty()) return Invalid(kAddressRequired);
  PrintBuffer bytes = ReadBytes(std::move(call), *map, "bytes");
  if (!bytes || bytes->empty()) return Invalid("bytes is required");
  return PrinterJob(
      PrintJob{address, std::move(printer_uuid), std::move(job_uuid), std::move(bytes)});
}

TranslatedCall StartDiscovery(CallPtr) {
  EncodableValueMap result;
  result[EncodableValue(std::string("success"))] = EncodableValue(true);
  return Success(EncodableValue(std::move(result)));
}

TranslatedCall StopDiscovery(CallPtr) { return Success(EncodableValue(true)); }

struct Method {
  const char* names[3];  // unused slots are null
  TranslatedCall (*translate)(CallPtr call);
};

const Method kMethods[] = {
    {{"setup", "setupWindows", nullptr}, Setup},
    {{"destroy", "destroyWindows", nullptr}, Destroy},
    {{"checkBleEnabled", "checkBleEnabledWindows", nullptr}, CheckRadio},
    {{"getBleDevices", "getBleDevicesWindows", "getPairedDevices"}, ListDevices},
    {{"connectBle", "connectBleWindows", nullptr}, Connect},
    {{"disconnectBle", "disconnectBleWindows", nullptr}, Disconnect},
    {{"isBleConnected", "isBleConnectedWindows", nullptr}, IsConnected},
    {{"printBle", "printBleWindows", "printRawBle"}, Print},
    {{"startBleDiscovery", "startBleDiscoveryWindows", nullptr}, StartDiscovery},
    {{"stopBleDiscovery", "stopBleDiscoveryWindows", nullptr}, StopDiscovery},
};

}  // namespace

TranslatedCall TranslateMethodCall(CallPtr call) {
  for (const Method& method : kMethods) {
    for (const char* alias : method.names) {
      if (alias != nullptr && call->MethodName() == alias) return method.translate(std::move(call));
    }
  }
  // Not the empty not-implemented reply: the application expects a null success.
  return Success(EncodableValue());
}

}  // namespace kestro
