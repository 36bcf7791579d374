// Paired printer discovery: the devices Windows already knows on the first radio. No inquiry.
#include "thermal_printer/bluetooth_address.h"
#include "thermal_printer/bluetooth_manager.h"
#include "thermal_printer/utf16_text.h"

namespace kestro {
namespace {

// A search on the first radio. Whatever it opened is closed on every path, in the platform's
// order: the device search, the radio search, then the radio handle.
class RadioSearch {
 public:
  explicit RadioSearch(BluetoothStack& stack) : stack_(stack) {
    radio_find_ = stack_.FindFirstRadio(RadioSearchParams(), &radio_);
  }
  ~RadioSearch() { Close(); }
  RadioSearch(const RadioSearch&) = delete;
  RadioSearch& operator=(const RadioSearch&) = delete;

  bool found_radio() const { return radio_find_ != 0; }

  // The devices Windows remembers, has paired or has connected, without an inquiry; false when
  // there is none. The radio must have been found.
  bool FindFirstDevice(DeviceInfo* device) {
    DeviceSearchParams search;
    search.return_authenticated = true;
    search.return_remembered = true;
    search.return_unknown = false;
    search.return_connected = true;
    search.issue_inquiry = false;
    search.timeout_multiplier = 0;
    search.radio = radio_;
    device_find_ = stack_.FindFirstDevice(search, device);
    return device_find_ != 0;
  }
  bool FindNextDevice(DeviceInfo* device) { return stack_.FindNextDevice(device_find_, device); }

  void Close() {
    if (device_find_ != 0) stack_.FindDeviceClose(device_find_);
    if (radio_find_ != 0) stack_.FindRadioClose(radio_find_);
    if (radio_ != 0) stack_.CloseHandle(radio_);
    device_find_ = radio_find_ = radio_ = 0;
  }

 private:
  BluetoothStack& stack_;
  StackHandle radio_ = 0;
  StackHandle radio_find_ = 0;
  StackHandle device_find_ = 0;
};

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
  {
    RadioSearch search(*stack_);
    if (!search.found_radio()) {
      Log("BluetoothManager: No Bluetooth radio found");
      return devices;
    }
    DeviceInfo device;
    if (!search.FindFirstDevice(&device)) {
      Log("BluetoothManager: No paired devices found");
    } else {
      do {
        const std::string address = FormatBluetoothAddress(device.address);
        const std::string name = DeviceNameToUtf8(device.name, kBluetoothMaxNameSize);
        Log("BluetoothManager: Found device: " + name + " (" + address + ")");
        devices.emplace_back(DeviceMap(device, name, address));
      } while (search.FindNextDevice(&device));
    }
  }
  Log("BluetoothManager: Found " + std::to_string(devices.size()) + " paired devices");
  return devices;
}

bool IsBluetoothRadioPresent(BluetoothStack& stack) { return RadioSearch(stack).found_radio(); }

}  // namespace kestro
