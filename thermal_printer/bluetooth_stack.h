// Every Winsock and Windows Bluetooth API call the BluetoothManager makes, behind one interface
// (plus the clock for log timestamps), so tests can play printers and radios. The production
// implementation is a thin pass-through; values and records mirror the platform's exactly.
#ifndef KESTRO_THERMAL_PRINTER_BLUETOOTH_STACK_H_
#define KESTRO_THERMAL_PRINTER_BLUETOOTH_STACK_H_

#include <array>
#include <cstddef>
#include <cstdint>

namespace kestro {

using SocketHandle = uint64_t;  // Winsock SOCKET
using StackHandle = uint64_t;   // a Bluetooth API HANDLE; 0 is "none"

constexpr SocketHandle kInvalidSocket = ~SocketHandle{0};
constexpr int32_t kSocketError = -1;

constexpr uint16_t kWinsockVersion22 = 0x0202;
constexpr int32_t kAddressFamilyBluetooth = 32;  // AF_BTH
constexpr int32_t kSocketTypeStream = 1;         // SOCK_STREAM
constexpr int32_t kProtocolRfcomm = 3;           // BTHPROTO_RFCOMM
constexpr int32_t kSocketLevel = 0xFFFF;         // SOL_SOCKET
constexpr int32_t kOptionReceiveTimeout = 0x1006;
constexpr int32_t kOptionSendTimeout = 0x1005;
constexpr int32_t kOptionError = 0x1007;         // SO_ERROR: a failed non-blocking connect's code
constexpr uint32_t kNonBlockingIo = 0x8004667E;  // FIONBIO, as ioctlsocket's command

// Winsock error codes (WSAGetLastError values) the bridge explains in its log lines or the
// simulated stack answers with.
constexpr int32_t kWsaInvalidArgument = 10022;      // WSAEINVAL
constexpr int32_t kWsaWouldBlock = 10035;           // WSAEWOULDBLOCK
constexpr int32_t kWsaNotSocket = 10038;            // WSAENOTSOCK
constexpr int32_t kWsaFamilyNotSupported = 10047;   // WSAEAFNOSUPPORT
constexpr int32_t kWsaAddressNotAvailable = 10049;  // WSAEADDRNOTAVAIL
constexpr int32_t kWsaNetworkDown = 10050;          // WSAENETDOWN
constexpr int32_t kWsaNetworkUnreachable = 10051;   // WSAENETUNREACH
constexpr int32_t kWsaConnectionAborted = 10053;    // WSAECONNABORTED
constexpr int32_t kWsaConnectionReset = 10054;      // WSAECONNRESET
constexpr int32_t kWsaNotConnected = 10057;         // WSAENOTCONN
constexpr int32_t kWsaTimedOut = 10060;             // WSAETIMEDOUT
constexpr int32_t kWsaConnectionRefused = 10061;    // WSAECONNREFUSED
constexpr int32_t kWsaHostUnreachable = 10065;      // WSAEHOSTUNREACH
constexpr int32_t kWsaNotInitialised = 10093;       // WSANOTINITIALISED

// SOCKADDR_BTH: family (2), address (8), service class GUID (16), port (4); packed, little-endian.
constexpr size_t kRfcommSocketAddressSize = 30;
using RfcommSocketAddress = std::array<uint8_t, kRfcommSocketAddressSize>;
// The Serial Port service class 00001101-0000-1000-8000-00805F9B34FB in GUID memory layout.
constexpr std::array<uint8_t, 16> kSerialPortServiceClass = {
    0x01, 0x11, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};
constexpr uint32_t kAnyRfcommPort = 0xFFFFFFFF;  // BT_PORT_ANY

// fd_set: a count and up to FD_SETSIZE (64) sockets.
constexpr size_t kSocketSetSize = 64;
struct SocketSet {
  uint32_t count = 0;
  SocketHandle sockets[kSocketSetSize] = {};
};

// timeval.
struct WaitTime {
  int32_t seconds = 0;
  int32_t microseconds = 0;
};

// The address the manager connects with: the Serial Port service of the printer at address.
RfcommSocketAddress MakeRfcommSocketAddress(uint64_t address);

// The platform records' sizes, which each call expects in the record's size field.
constexpr uint32_t kRadioSearchParamsSize = 4;    // BLUETOOTH_FIND_RADIO_PARAMS
constexpr uint32_t kDeviceSearchParamsSize = 40;  // BLUETOOTH_DEVICE_SEARCH_PARAMS
constexpr uint32_t kDeviceInfoSize = 560;         // BLUETOOTH_DEVICE_INFO

// BLUETOOTH_FIND_RADIO_PARAMS.
struct RadioSearchParams {
  uint32_t size = kRadioSearchParamsSize;
};

// BLUETOOTH_DEVICE_SEARCH_PARAMS.
struct DeviceSearchParams {
  uint32_t size = kDeviceSearchParamsSize;
  bool return_authenticated = false;
  bool return_remembered = false;
  bool return_unknown = false;
  bool return_connected = false;
  bool issue_inquiry = false;
  uint8_t timeout_multiplier = 0;
  StackHandle radio = 0;
};

constexpr size_t kBluetoothMaxNameSize = 248;

// BLUETOOTH_DEVICE_INFO: size is the caller's, the rest the stack's.
struct DeviceInfo {
  uint32_t size = kDeviceInfoSize;
  uint64_t address = 0;
  uint32_t class_of_device = 0;
  bool connected = false;
  bool remembered = false;
  bool authenticated = false;
  char16_t name[kBluetoothMaxNameSize] = {};  // zero-terminated UTF-16
};

// Each operation behaves like the platform call named beside it, with the same results.
// Implementations must be callable from several threads at once.
class BluetoothStack {
 public:
  BluetoothStack() = default;
  virtual ~BluetoothStack() = default;
  BluetoothStack(const BluetoothStack&) = delete;
  BluetoothStack& operator=(const BluetoothStack&) = delete;

  virtual int32_t StartWinsock(uint16_t version) = 0;  // WSAStartup: 0 or an error code
  virtual int32_t CleanupWinsock() = 0;                // WSACleanup
  virtual SocketHandle OpenSocket(int32_t family, int32_t type, int32_t protocol) = 0;
  virtual int32_t SetSocketOption(SocketHandle socket, int32_t level, int32_t name,
                                  const uint8_t* value, int32_t length) = 0;
  virtual int32_t ConnectSocket(SocketHandle socket, const uint8_t* address, int32_t length) = 0;
  // send: bytes taken (possibly fewer than length) or kSocketError.
  virtual int32_t Send(SocketHandle socket, const uint8_t* data, int32_t length, int32_t flags) = 0;
  virtual int32_t CloseSocket(SocketHandle socket) = 0;
  virtual int32_t LastSocketError() = 0;  // WSAGetLastError
  // ioctlsocket: 0 or kSocketError.
  virtual int32_t IoctlSocket(SocketHandle socket, uint32_t command, uint32_t* argument) = 0;
  // select (its first argument, which Winsock ignores, left out): how many sockets are ready, 0
  // when timeout passed first (null waits for ever), or kSocketError; each non-null set keeps
  // only its ready sockets.
  virtual int32_t Select(SocketSet* read, SocketSet* write, SocketSet* except,
                         const WaitTime* timeout) = 0;
  // getsockopt: 0 or kSocketError; *length is the value's size in and out.
  virtual int32_t GetSocketOption(SocketHandle socket, int32_t level, int32_t name, uint8_t* value,
                                  int32_t* length) = 0;
  // recv: bytes read, 0 at the end of the stream, or kSocketError.
  virtual int32_t Receive(SocketHandle socket, uint8_t* data, int32_t length, int32_t flags) = 0;

  // BluetoothFindFirstRadio: a find handle (0 when there is no radio) and the radio's handle.
  virtual StackHandle FindFirstRadio(const RadioSearchParams& params, StackHandle* radio) = 0;
  virtual bool FindRadioClose(StackHandle find) = 0;
  // BluetoothFindFirstDevice / NextDevice: info->size must be set before each call.
  virtual StackHandle FindFirstDevice(const DeviceSearchParams& params, DeviceInfo* info) = 0;
  virtual bool FindNextDevice(StackHandle find, DeviceInfo* info) = 0;
  virtual bool FindDeviceClose(StackHandle find) = 0;
  virtual bool CloseHandle(StackHandle handle) = 0;

  // The wall clock: 100-nanosecond intervals since 1970-01-01 00:00:00 UTC.
  virtual int64_t SystemTimeTicks() = 0;
  // GetTickCount64: milliseconds on a clock that never goes back, for the bridge's deadlines.
  virtual int64_t MonotonicMilliseconds() = 0;
};

// Forwards every call to another stack, so a test double overrides only what it cares about.
// The target is not owned and must outlive the wrapper.
class BluetoothStackWrapper : public BluetoothStack {
 public:
  explicit BluetoothStackWrapper(BluetoothStack* target) : target_(target) {}
  BluetoothStack* target() const { return target_; }

  int32_t StartWinsock(uint16_t version) override { return target_->StartWinsock(version); }
  int32_t CleanupWinsock() override { return target_->CleanupWinsock(); }
  SocketHandle OpenSocket(int32_t family, int32_t type, int32_t protocol) override {
    return target_->OpenSocket(family, type, protocol);
  }
  int32_t SetSocketOption(SocketHandle socket, int32_t level, int32_t name, const uint8_t* value,
                          int32_t length) override {
    return target_->SetSocketOption(socket, level, name, value, length);
  }
  int32_t ConnectSocket(SocketHandle socket, const uint8_t* address, int32_t length) override {
    return target_->ConnectSocket(socket, address, length);
  }
  int32_t Send(SocketHandle socket, const uint8_t* data, int32_t length, int32_t flags) override {
    return target_->Send(socket, data, length, flags);
  }
  int32_t CloseSocket(SocketHandle socket) override { return target_->CloseSocket(socket); }
  int32_t LastSocketError() override { return target_->LastSocketError(); }
  int32_t IoctlSocket(SocketHandle socket, uint32_t command, uint32_t* argument) override {
    return target_->IoctlSocket(socket, command, argument);
  }
  int32_t Select(SocketSet* read, SocketSet* write, SocketSet* except,
                 const WaitTime* timeout) override {
    return target_->Select(read, write, except, timeout);
  }
  int32_t GetSocketOption(SocketHandle socket, int32_t level, int32_t name, uint8_t* value,
                          int32_t* length) override {
    return target_->GetSocketOption(socket, level, name, value, length);
  }
  int32_t Receive(SocketHandle socket, uint8_t* data, int32_t length, int32_t flags) override {
    return target_->Receive(socket, data, length, flags);
  }
  StackHandle FindFirstRadio(const RadioSearchParams& params, StackHandle* radio) override {
    return target_->FindFirstRadio(params, radio);
  }
  bool FindRadioClose(StackHandle find) override { return target_->FindRadioClose(find); }
  StackHandle FindFirstDevice(const DeviceSearchParams& params, DeviceInfo* info) override {
    return target_->FindFirstDevice(params, info);
  }
  bool FindNextDevice(StackHandle find, DeviceInfo* info) override {
    return target_->FindNextDevice(find, info);
  }
  bool FindDeviceClose(StackHandle find) override { return target_->FindDeviceClose(find); }
  bool CloseHandle(StackHandle handle) override { return target_->CloseHandle(handle); }
  int64_t SystemTimeTicks() override { return target_->SystemTimeTicks(); }
  int64_t MonotonicMilliseconds() override { return target_->MonotonicMilliseconds(); }

 private:
  BluetoothStack* target_;
};

}  // namespace kestro

#endif  // KESTRO_THERMAL_PRINTER_BLUETOOTH_STACK_H_
