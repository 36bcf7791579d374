// Listing the devices Windows knows on the first radio.
#include <gtest/gtest.h>

#include "tests/thermal_printer/manager_fixture.h"

namespace kestro_test {
namespace {

TEST_F(ManagerTest, NoRadioGivesAnEmptyListWithoutACountLine) {
  stack_.SetRadioPresent(false);
  EXPECT_TRUE(manager_->GetPairedDevices().empty());
  EXPECT_EQ(log_.Lines(), (Lines{"BluetoothManager: Getting paired devices...",
                                 "BluetoothManager: No Bluetooth radio found"}));
  EXPECT_EQ(stack_.calls(), Lines{"BluetoothFindFirstRadio(4) = 0"});
}

TEST_F(ManagerTest, RadioWithoutDevices) {
  EXPECT_TRUE(manager_->GetPairedDevices().empty());
  EXPECT_EQ(log_.Lines(), (Lines{"BluetoothManager: Getting paired devices...",
                                 "BluetoothManager: No paired devices found",
                                 "BluetoothManager: Found 0 paired devices"}));
  EXPECT_EQ(stack_.calls(),
            (Lines{"BluetoothFindFirstRadio(4) = 501, radio 502",
                   "BluetoothFindFirstDevice(40, auth 1, remembered 1, unknown 0, connected 1, "
                   "inquiry 0, timeout 0, radio 502; 560) = 0",
                   "BluetoothFindRadioClose(501) = 1", "CloseHandle(502) = 1"}));
}

TEST_F(ManagerTest, ListsEveryKnownDeviceOfAnyClassInStackOrder) {
  SimulatedDevice printer;
  printer.address = 0x001122AABBCCull;
  printer.name = u"\u041F\u0440\u0438\u043D\u0442\u0435\u0440";  // Принтер
  printer.class_of_device = 0x040680;
  printer.remembered = printer.authenticated = true;  // and held open by the manager
  SimulatedDevice phone;                              // remembered but never authenticated
  phone.address = 0x0011223344AAull;
  phone.name = u"Phone";
  phone.class_of_device = 0x5A020C;
  phone.remembered = true;
  SimulatedDevice stranger;  // seen by an inquiry only: not listed
  stranger.address = 0x0A0B0C0D0E0Full;
  stranger.name = u"Stranger";
  SimulatedDevice headset;  // connected, nameless
  headset.address = 0x000000000001ull;
  headset.class_of_device = 0x240404;
  headset.connected = true;
  for (const SimulatedDevice& device : {printer, phone, stranger, headset})
    stack_.AddDevice(device);
  stack_.SetPrinter(printer.address);
  manager_->Initialize();
  ASSERT_TRUE(manager_->Connect("00:11:22:AA:BB:CC"));
  Forget();

  const flutter::EncodableValueList devices = manager_->GetPairedDevices();
  ASSERT_EQ(devices.size(), 3u);
  // Classes are 32-bit integers (64-bit ones would read "263808L"); "isConnected" is the
  // stack's view, not the manager's table.
  EXPECT_EQ(
      Describe(flutter::EncodableValue(devices)),
      "[{deviceCl: 263808, deviceName: \xD0\x9F\xD1\x80\xD0\xB8\xD0\xBD\xD1\x82\xD0\xB5\xD1\x80, "
      "isConnected: false, isPaired: true, macAddress: 00:11:22:AA:BB:CC, majDeviceCl: 6}, "
      "{deviceCl: 5898764, deviceName: Phone, isConnected: false, isPaired: false, "
      "macAddress: 00:11:22:33:44:AA, majDeviceCl: 2}, "
      "{deviceCl: 2360324, deviceName: , isConnected: true, isPaired: false, "
      "macAddress: 00:00:00:00:00:01, majDeviceCl: 4}]");
  EXPECT_EQ(
      log_.Lines(),
      (Lines{"BluetoothManager: Getting paired devices...",
             "BluetoothManager: Found device: \xD0\x9F\xD1\x80\xD0\xB8\xD0\xBD\xD1\x82\xD0\xB5"
             "\xD1\x80 (00:11:22:AA:BB:CC)",
             "BluetoothManager: Found device: Phone (00:11:22:33:44:AA)",
             "BluetoothManager: Found device:  (00:00:00:00:00:01)",
             "BluetoothManager: Found 3 paired devices"}));
  EXPECT_EQ(stack_.calls(),
            (Lines{"BluetoothFindFirstRadio(4) = 501, radio 502",
                   "BluetoothFindFirstDevice(40, auth 1, remembered 1, unknown 0, connected 1, "
                   "inquiry 0, timeout 0, radio 502; 560) = 503",
                   "BluetoothFindNextDevice(503; 560) = 1", "BluetoothFindNextDevice(503; 560) = 1",
                   "BluetoothFindNextDevice(503; 560) = 0", "BluetoothFindDeviceClose(503) = 1",
                   "BluetoothFindRadioClose(501) = 1", "CloseHandle(502) = 1"}));
}

}  // namespace
}  // namespace kestro_test
