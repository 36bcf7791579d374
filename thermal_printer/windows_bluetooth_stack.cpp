#include "thermal_printer/windows_bluetooth_stack.h"

// Order matters: winsock2.h before windows.h, and bluetoothapis.h after both.
#include <winsock2.h>

#include <ws2bth.h>

#include <windows.h>

#include <bluetoothapis.h>

#include <cstddef>
#include <cstring>

namespace kestro {
namespace {

// The portable records and constants must describe the platform's exactly.
static_assert(sizeof(SOCKADDR_BTH) == kRfcommSocketAddressSize, "SOCKADDR_BTH is 30 bytes");
static_assert(offsetof(SOCKADDR_BTH, btAddr) == 2, "btAddr at 2");
static_assert(offsetof(SOCKADDR_BTH, serviceClassId) == 10, "serviceClassId at 10");
static_assert(offsetof(SOCKADDR_BTH, port) == 26, "port at 26");
static_assert(sizeof(BLUETOOTH_FIND_RADIO_PARAMS) == kRadioSearchParamsSize, "radio search record");
static_assert(sizeof(BLUETOOTH_DEVICE_SEARCH_PARAMS) == kDeviceSearchParamsSize,
              "device search record");
static_assert(sizeof(BLUETOOTH_DEVICE_INFO) == kDeviceInfoSize, "device record");
static_assert(sizeof(SOCKET) == sizeof(SocketHandle), "SOCKET is 64 bits");
static_assert(INVALID_SOCKET == kInvalidSocket, "INVALID_SOCKET");
static_assert(SOCKET_ERROR == kSocketError, "SOCKET_ERROR");
static_assert(AF_BTH == kAddressFamilyBluetooth && SOCK_STREAM == kSocketTypeStream &&
                  BTHPROTO_RFCOMM == kProtocolRfcomm,
              "RFCOMM socket triple");
static_assert(SOL_SOCKET == kSocketLevel && SO_RCVTIMEO == kOptionReceiveTimeout &&
                  SO_SNDTIMEO == kOptionSendTimeout,
              "socket options");
static_assert(WSAEINVAL == kWsaInvalidArgument && WSAENOTSOCK == kWsaNotSocket &&
                  WSAEAFNOSUPPORT == kWsaFamilyNotSupported &&
                  WSAEADDRNOTAVAIL == kWsaAddressNotAvailable && WSAENETDOWN == kWsaNetworkDown &&
                  WSAENETUNREACH == kWsaNetworkUnreachable &&
                  WSAECONNABORTED == kWsaConnectionAborted &&
                  WSAECONNRESET == kWsaConnectionReset && WSAENOTCONN == kWsaNotConnected &&
                  WSAETIMEDOUT == kWsaTimedOut && WSAECONNREFUSED == kWsaConnectionRefused &&
                  WSAEHOSTUNREACH == kWsaHostUnreachable && WSANOTINITIALISED == kWsaNotInitialised,
              "Winsock error codes");
static_assert(SO_ERROR == kOptionError && static_cast<uint32_t>(FIONBIO) == kNonBlockingIo &&
                  WSAEWOULDBLOCK == kWsaWouldBlock,
              "non-blocking sockets");
static_assert(FD_SETSIZE == kSocketSetSize && sizeof(fd_set) == sizeof(SocketSet) &&
                  offsetof(fd_set, fd_array) == offsetof(SocketSet, sockets),
              "fd_set");
static_assert(sizeof(timeval) == sizeof(WaitTime) && offsetof(timeval, tv_usec) == 4, "timeval");
static_assert(BLUETOOTH_MAX_NAME_SIZE == kBluetoothMaxNameSize, "name size");
static_assert(sizeof(WCHAR) == sizeof(char16_t), "UTF-16 names");

HANDLE ToHandle(StackHandle handle) { return reinterpret_cast<HANDLE>(handle); }
StackHandle FromHandle(HANDLE handle) { return reinterpret_cast<StackHandle>(handle); }

void CopyDeviceInfo(const BLUETOOTH_DEVICE_INFO& from, DeviceInfo* to) {
  to->address = from.Address.ullLong;
  to->class_of_device = from.ulClassofDevice;
  to->connected = from.fConnected != FALSE;
  to->remembered = from.fRemembered != FALSE;
  to->authenticated = from.fAuthenticated != FALSE;
  std::memcpy(to->name, from.szName, sizeof(to->name));
}

class WindowsBluetoothStack : public BluetoothStack {
 public:
  int32_t StartWinsock(uint16_t version) override {
    WSADATA data;
    return WSAStartup(version, &data);
  }
  int32_t CleanupWinsock() override { return WSACleanup(); }
  SocketHandle OpenSocket(int32_t family, int32_t type, int32_t protocol) override {
    return socket(family, type, protocol);
  }
  int32_t SetSocketOption(SocketHandle s, int32_t level, int32_t name, const uint8_t* value,
                          int32_t length) override {
    return setsockopt(s, level, name, reinterpret_cast<const char*>(value), length);
  }
  int32_t ConnectSocket(SocketHandle s, const uint8_t* address, int32_t length) override {
    SOCKADDR_BTH bth;
    std::memcpy(&bth, address, sizeof(bth));
    return connect(s, reinterpret_cast<const sockaddr*>(&bth), length);
  }
  int32_t Send(SocketHandle s, const uint8_t* data, int32_t length, int32_t flags) override {
    return send(s, reinterpret_cast<const char*>(data), length, flags);
  }
  int32_t CloseSocket(SocketHandle s) override { return closesocket(s); }
  int32_t LastSocketError() override { return WSAGetLastError(); }
  int32_t IoctlSocket(SocketHandle s, uint32_t command, uint32_t* argument) override {
    u_long value = *argument;
    const int result = ioctlsocket(s, static_cast<long>(command), &value);
    *argument = static_cast<uint32_t>(value);
    return result;
  }
  int32_t Select(SocketSet* read, SocketSet* write, SocketSet* except,
                 const WaitTime* timeout) override {
    timeval wait;
    if (timeout != nullptr) wait = timeval{timeout->seconds, timeout->microseconds};
    return select(0, reinterpret_cast<fd_set*>(read), reinterpret_cast<fd_set*>(write),
                  reinterpret_cast<fd_set*>(except), timeout != nullptr ? &wait : nullptr);
  }
  int32_t GetSocketOption(SocketHandle s, int32_t level, int32_t name, uint8_t* value,
                          int32_t* length) override {
    int size = *length;
    const int result = getsockopt(s, level, name, reinterpret_cast<char*>(value), &size);
    *length = size;
    return result;
  }
  int32_t Receive(SocketHandle s, uint8_t* data, int32_t length, int32_t flags) override {
    return recv(s, reinterpret_cast<char*>(data), length, flags);
  }

  StackHandle FindFirstRadio(const RadioSearchParams& params, StackHandle* radio) override {
    BLUETOOTH_FIND_RADIO_PARAMS search;
    search.dwSize = params.size;
    HANDLE radio_handle = nullptr;
    HBLUETOOTH_RADIO_FIND find = BluetoothFindFirstRadio(&search, &radio_handle);
    *radio = FromHandle(radio_handle);
    return FromHandle(find);
  }
  bool FindRadioClose(StackHandle find) override {
    return BluetoothFindRadioClose(ToHandle(find)) != FALSE;
  }
  StackHandle FindFirstDevice(const DeviceSearchParams& params, DeviceInfo* info) override {
    BLUETOOTH_DEVICE_SEARCH_PARAMS search;
    std::memset(&search, 0, sizeof(search));
    search.dwSize = params.size;
    search.fReturnAuthenticated = params.return_authenticated;
    search.fReturnRemembered = params.return_remembered;
    search.fReturnUnknown = params.return_unknown;
    search.fReturnConnected = params.return_connected;
    search.fIssueInquiry = params.issue_inquiry;
    search.cTimeoutMultiplier = params.timeout_multiplier;
    search.hRadio = ToHandle(params.radio);
    BLUETOOTH_DEVICE_INFO device;
    std::memset(&device, 0, sizeof(device));
    device.dwSize = info->size;
    HBLUETOOTH_DEVICE_FIND find = BluetoothFindFirstDevice(&search, &device);
    if (find != nullptr) CopyDeviceInfo(device, info);
    return FromHandle(find);
  }
  bool FindNextDevice(StackHandle find, DeviceInfo* info) override {
    BLUETOOTH_DEVICE_INFO device;
    std::memset(&device, 0, sizeof(device));
    device.dwSize = info->size;
    if (!BluetoothFindNextDevice(ToHandle(find), &device)) return false;
    CopyDeviceInfo(device, info);
    return true;
  }
  bool FindDeviceClose(StackHandle find) override {
    return BluetoothFindDeviceClose(ToHandle(find)) != FALSE;
  }
  bool CloseHandle(StackHandle handle) override { return ::CloseHandle(ToHandle(handle)) != FALSE; }

  int64_t MonotonicMilliseconds() override { return static_cast<int64_t>(GetTickCount64()); }

  int64_t SystemTimeTicks() override {
    // FILETIME counts from 1601-01-01; this many 100-ns intervals lie before 1970.
    constexpr int64_t kTicksFrom1601To1970 = 116444736000000000LL;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const int64_t ticks =
        static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    return ticks - kTicksFrom1601To1970;
  }
};

}  // namespace

std::unique_ptr<BluetoothStack> NewWindowsBluetoothStack() {
  return std::make_unique<WindowsBluetoothStack>();
}

}  // namespace kestro
