// The real Winsock and Bluetooth API behind the manager, as this machine's Windows (Wine, no
// Bluetooth stack, no radio) answers them.
#include "thermal_printer/windows_bluetooth_stack.h"

#include <gtest/gtest.h>

#include <ctime>

#include "tests/thermal_printer/debug_capture.h"
#include "thermal_printer/bluetooth_manager.h"

namespace kestro_test {
namespace {

using Lines = std::vector<std::string>;

TEST(WindowsBluetoothStackTest, ManagerReportsNoRadioAndNoRfcomm) {
  DebugCapture log;
  kestro::BluetoothManager manager(nullptr, kestro::NewWindowsBluetoothStack());
  manager.Initialize();
  EXPECT_TRUE(manager.GetPairedDevices().empty());
  EXPECT_FALSE(manager.Connect("aa:bb:cc:dd:ee:ff"));
  EXPECT_FALSE(manager.PrintBytes("AA:BB:CC:DD:EE:FF", {0x1B, 0x40}, "printer", "job"));
  EXPECT_FALSE(manager.IsConnected("AA:BB:CC:DD:EE:FF"));
  EXPECT_FALSE(kestro::IsBluetoothRadioPresent(manager.stack()));
  manager.Dispose();
  EXPECT_EQ(log.Lines(),
            (Lines{"BluetoothManager: Initializing...", "BluetoothManager: WSAStartup successful",
                   "BluetoothManager: Initialized successfully",
                   "BluetoothManager: Getting paired devices...",
                   "BluetoothManager: No Bluetooth radio found",
                   "BluetoothManager: Connecting to AA:BB:CC:DD:EE:FF",
                   "BluetoothManager: CreateRfcommSocket for AA:BB:CC:DD:EE:FF",
                   "BluetoothManager: socket() failed with error 10043",
                   "BluetoothManager: Failed to create RFCOMM socket",
                   "BluetoothManager: Printing 2 bytes to AA:BB:CC:DD:EE:FF",
                   "BluetoothManager: CreateRfcommSocket for AA:BB:CC:DD:EE:FF",
                   "BluetoothManager: socket() failed with error 10043",
                   "BluetoothManager: Failed to connect for print",
                   "BluetoothManager: Disposing...", "BluetoothManager: Disposed"}));
}

TEST(WindowsBluetoothStackTest, SocketCallsAndClockPassThrough) {
  const std::unique_ptr<kestro::BluetoothStack> stack = kestro::NewWindowsBluetoothStack();
  ASSERT_EQ(stack->StartWinsock(kestro::kWinsockVersion22), 0);
  // A TCP socket stands in for RFCOMM, which this machine lacks.
  const kestro::SocketHandle socket = stack->OpenSocket(2, 1, 6);
  ASSERT_NE(socket, kestro::kInvalidSocket);
  const uint8_t timeout[4] = {0x98, 0x3A, 0x00, 0x00};
  EXPECT_EQ(stack->SetSocketOption(socket, kestro::kSocketLevel, kestro::kOptionReceiveTimeout,
                                   timeout, 4),
            0);
  EXPECT_EQ(
      stack->SetSocketOption(socket, kestro::kSocketLevel, kestro::kOptionSendTimeout, timeout, 4),
      0);
  const uint8_t byte = 0x1B;
  EXPECT_EQ(stack->Send(socket, &byte, 1, 0), kestro::kSocketError);
  // Windows says WSAENOTCONN (10057), Wine WSAECONNRESET (10054); either way the code is read.
  EXPECT_NE(stack->LastSocketError(), 0);
  EXPECT_EQ(stack->CloseSocket(socket), 0);
  EXPECT_EQ(stack->CloseSocket(socket), kestro::kSocketError);
  EXPECT_EQ(stack->LastSocketError(), 10038);  // WSAENOTSOCK
  EXPECT_EQ(stack->CleanupWinsock(), 0);
  // The clock counts 100 ns ticks from 1970.
  const int64_t seconds = stack->SystemTimeTicks() / 10000000;
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  EXPECT_LE(seconds - now, 2);
  EXPECT_GE(seconds - now, -2);
}

}  // namespace
}  // namespace kestro_test
