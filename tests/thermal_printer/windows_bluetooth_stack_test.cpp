// The real Winsock and Bluetooth API behind the manager, as this machine's Windows (Wine, no
// Bluetooth stack, no radio) answers them.
#include "thermal_printer/windows_bluetooth_stack.h"

// Order matters: winsock2.h before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

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

// The socket calls on a loopback TCP pair (this machine has no RFCOMM): the stack's socket is the
// host's end, a raw Winsock socket the printer; then the clocks.
TEST(WindowsBluetoothStackTest, SocketCallsAndClocksPassThrough) {
  using namespace kestro;
  const std::unique_ptr<BluetoothStack> stack = NewWindowsBluetoothStack();
  ASSERT_EQ(stack->StartWinsock(kWinsockVersion22), 0);
  SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in local = {};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int size = sizeof(local);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&local), size), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&local), &size), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  uint8_t address[kRfcommSocketAddressSize] = {};
  std::memcpy(address, &local, sizeof(local));
  auto one = [](SocketHandle socket) {
    SocketSet set;
    set.count = 1;
    set.sockets[0] = socket;
    return set;
  };
  const WaitTime two_seconds{2, 0};
  // Opens a non-blocking socket and starts its connect, which cannot complete at once.
  auto start_connect = [&] {
    const SocketHandle socket = stack->OpenSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    const uint8_t timeout[4] = {0x98, 0x3A, 0x00, 0x00};
    EXPECT_EQ(stack->SetSocketOption(socket, kSocketLevel, kOptionSendTimeout, timeout, 4), 0);
    uint32_t enable = 1;
    EXPECT_EQ(stack->IoctlSocket(socket, kNonBlockingIo, &enable), 0);
    EXPECT_EQ(stack->ConnectSocket(socket, address, sizeof(local)), kSocketError);
    EXPECT_EQ(stack->LastSocketError(), kWsaWouldBlock);
    return socket;
  };

  const SocketHandle client = start_connect();
  SocketSet writable = one(client), failed = one(client);
  EXPECT_EQ(stack->Select(nullptr, &writable, &failed, &two_seconds), 1);
  EXPECT_EQ(writable.count, 1u);
  EXPECT_EQ(failed.count, 0u);
  SOCKET printer = ::accept(listener, nullptr, nullptr);
  // Nothing to read yet; then the printer's two status bytes, then its close as end of stream.
  uint8_t buffer[16];
  EXPECT_EQ(stack->Receive(client, buffer, sizeof(buffer), 0), kSocketError);
  EXPECT_EQ(stack->LastSocketError(), kWsaWouldBlock);
  ASSERT_EQ(::send(printer, "\x12\x34", 2, 0), 2);
  ::closesocket(printer);
  SocketSet readable = one(client);
  EXPECT_EQ(stack->Select(&readable, nullptr, nullptr, &two_seconds), 1);
  EXPECT_EQ(stack->Receive(client, buffer, sizeof(buffer), 0), 2);
  EXPECT_EQ(stack->Receive(client, buffer, sizeof(buffer), 0), 0);
  stack->CloseSocket(client);

  // A printer that reads nothing: sends stop with 10035 and the socket is not writable.
  const SocketHandle filling = start_connect();
  writable = one(filling);
  EXPECT_EQ(stack->Select(nullptr, &writable, nullptr, &two_seconds), 1);
  printer = ::accept(listener, nullptr, nullptr);
  const std::vector<uint8_t> part(65536, 0x55);
  int32_t result = 0;
  for (int i = 0; i < 1024 && result != kSocketError; ++i) {
    result = stack->Send(filling, part.data(), static_cast<int32_t>(part.size()), 0);
  }
  EXPECT_EQ(result, kSocketError);
  EXPECT_EQ(stack->LastSocketError(), kWsaWouldBlock);
  writable = one(filling);
  const WaitTime tenth{0, 100000};
  EXPECT_EQ(stack->Select(nullptr, &writable, nullptr, &tenth), 0);
  EXPECT_EQ(writable.count, 0u);
  stack->CloseSocket(filling);
  ::closesocket(printer);

  // Nobody listens any more: the connect fails in the exception set, its code in SO_ERROR.
  ::closesocket(listener);
  const SocketHandle refused = start_connect();
  writable = one(refused);
  failed = one(refused);
  EXPECT_EQ(stack->Select(nullptr, &writable, &failed, &two_seconds), 1);
  EXPECT_EQ(writable.count, 0u);
  EXPECT_EQ(failed.count, 1u);
  uint8_t code[4] = {};
  int32_t length = sizeof(code);
  EXPECT_EQ(stack->GetSocketOption(refused, kSocketLevel, kOptionError, code, &length), 0);
  EXPECT_EQ(length, 4);
  EXPECT_EQ(code[0] | code[1] << 8, kWsaConnectionRefused);
  EXPECT_EQ(stack->CloseSocket(refused), 0);
  EXPECT_EQ(stack->CloseSocket(refused), kSocketError);
  EXPECT_EQ(stack->LastSocketError(), kWsaNotSocket);
  EXPECT_EQ(stack->CleanupWinsock(), 0);

  // The wall clock counts 100 ns ticks from 1970.
  const int64_t seconds = stack->SystemTimeTicks() / 10000000;
  EXPECT_LE(std::llabs(seconds - static_cast<int64_t>(std::time(nullptr))), 2);

  const int64_t before = stack->MonotonicMilliseconds();
  ::Sleep(100);
  // GetTickCount64 moves in steps of up to about 16 ms.
  EXPECT_GE(stack->MonotonicMilliseconds() - before, 80);
}

}  // namespace
}  // namespace kestro_test
