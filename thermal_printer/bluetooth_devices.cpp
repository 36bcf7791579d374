// Paired printer discovery: the devices Windows already knows on the first radio. No inquiry.
#include "thermal_printer/bluetooth_address.h"
#include "thermal_printer/bluetooth_manager.h"
#include "thermal_printer/utf16_text.h"

namespace kestro {
namespace {

flutter::EncodableValue Key(const char* text) { return flutter::EncodableValue(std::string(text)); }

flutter::EncodableValueMap DeviceMap(const DeviceInfo& device, const std::string& name,
                                     const std::string& address) {
  flutter::EncodableValueMap map;
  map[Key("deviceName")] = flutter::EncodableValue(name);
  map[Key("macAddress")] = flutter::EncodableValue(address);
  map[Key("majDeviceCl")] =
      flutter::EncodableValue(static_cast<int32_t>((device.class_of_device >> 8) & 0x1F));
  map[Key("deviceCl")] = flutter::EncodableValue(static_cast<int32_t>(device.class_of_device));
  map[Key("isPaired")] = flutter::EncodableValue(device.authenticated);
  map[Key("isConnected")] = flutter::EncodableValue(device.connected);
  return map;
}

}  // namespace

flutter::EncodableValueList BluetoothManager::GetPairedDevices() {
  flutter::EncodableValueList devices;
  Log("BluetoothManager: Getting paired devices...");

  RadioSearchParams radio_search;
  radio_search.size = 4;
  StackHandle radio = 0;
  const StackHandle radio_find = stack_->FindFirstRadio(radio_search, &radio);
  if (radio_find == 0) {
    Log("BluetoothManager: No Bluetooth radio found");
    return devices;
  }

  DeviceSearchParams search;
  search.size = 40;
  search.return_authenticated = true;
  search.return_remembered = true;
  search.return_unknown = false;
  search.return_connected = true;
  search.issue_inquiry = false;
  search.timeout_multiplier = 0;
  search.radio = radio;
  DeviceInfo device;
  device.size = 560;
  const StackHandle device_find = stack_->FindFirstDevice(search, &device);
  if (device_find == 0) {
    Log("BluetoothManager: No paired devices found");
  } else {
    do {
      const std::string address = FormatBluetoothAddress(device.address);
      const std::string name = DeviceNameToUtf8(device.name, kBluetoothMaxNameSize);
      Log("BluetoothManager: Found device: " + name + " (" + address + ")");
      devices.emplace_back(DeviceMap(device, name, address));
    } while (stack_->FindNextDevice(device_find, &device));
    stack_->FindDeviceClose(device_find);
  }

  stack_->FindRadioClose(radio_find);
  if (radio != 0) stack_->CloseHandle(radio);
  Log("BluetoothManager: Found " + std::to_string(devices.size()) + " paired devices");
  return devices;
}

}  // namespace kestro
