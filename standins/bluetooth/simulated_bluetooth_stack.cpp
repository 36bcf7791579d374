#include "standins/bluetooth/simulated_bluetooth_stack.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <utility>

namespace kestro_standin {

const char kSimulatedBluetoothMarker[] = "Kestro simulated Bluetooth";

namespace {

using kestro::kDeviceInfoSize;
using kestro::kDeviceSearchParamsSize;
using kestro::kInvalidSocket;
using kestro::kRadioSearchParamsSize;
using kestro::kSocketError;
using kestro::kWsaConnectionAborted;
using kestro::kWsaFamilyNotSupported;
using kestro::kWsaInvalidArgument;
using kestro::kWsaNetworkDown;
using kestro::kWsaNotConnected;
using kestro::kWsaNotInitialised;
using kestro::kWsaNotSocket;
using kestro::kWsaTimedOut;

// Winsock's last error belongs to the calling thread.
thread_local int32_t last_socket_error = 0;

constexpr int kStalledSendLimit = 1000;

std::string Hex(const uint8_t* bytes, size_t size) {
  std::string text;
  char digits[4];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(digits, sizeof(digits), i == 0 ? "%02X" : " %02X", bytes[i]);
    text += digits;
  }
  return text;
}

std::string HexNumber(int32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%04X", static_cast<unsigned>(value));
  return text;
}

std::string AddressText(uint64_t address) {
  char text[24];
  std::snprintf(
      text, sizeof(text), "%02X:%02X:%02X:%02X:%02X:%02X",
      static_cast<unsigned>((address >> 40) & 0xFF), static_cast<unsigned>((address >> 32) & 0xFF),
      static_cast<unsigned>((address >> 24) & 0xFF), static_cast<unsigned>((address >> 16) & 0xFF),
      static_cast<unsigned>((address >> 8) & 0xFF), static_cast<unsigned>(address & 0xFF));
  return text;
}

// The printer address of a well-formed RFCOMM socket address for the Serial Port service, or 0.
uint64_t DecodeSerialPortAddress(const uint8_t* bytes, int32_t length) {
  if (length != 30) return 0;
  const uint16_t family = static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
  uint64_t address = 0;
  for (int i = 7; i >= 0; --i) address = (address << 8) | bytes[2 + i];
  uint32_t port = 0;
  for (int i = 3; i >= 0; --i) port = (port << 8) | bytes[26 + i];
  static const uint8_t kSerialPort[16] = {0x01, 0x11, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10,
                                          0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};
  const bool well_formed = family == 32 && (address >> 48) == 0 && port == 0xFFFFFFFF &&
                           std::memcmp(bytes + 10, kSerialPort, sizeof(kSerialPort)) == 0;
  return well_formed ? address : 0;
}

void FillDeviceInfo(const SimulatedDevice& device, kestro::DeviceInfo* info) {
  info->address = device.address;
  info->class_of_device = device.class_of_device;
  info->connected = device.connected;
  info->remembered = device.remembered;
  info->authenticated = device.authenticated;
  std::fill(std::begin(info->name), std::end(info->name), u'\0');
  const size_t length = std::min(device.name.size(), kestro::kBluetoothMaxNameSize - 1);
  std::copy(device.name.begin(), device.name.begin() + static_cast<ptrdiff_t>(length), info->name);
}

void SleepMs(int64_t milliseconds) {
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

uint32_t ReadUint32(const uint8_t* value, int32_t length) {
  uint32_t number = 0;
  for (int32_t i = std::min(length, 4) - 1; i >= 0; --i) number = (number << 8) | value[i];
  return number;
}

bool Matches(const SimulatedDevice& device, const kestro::DeviceSearchParams& params) {
  const bool unknown = !device.remembered && !device.authenticated && !device.connected;
  return (params.return_authenticated && device.authenticated) ||
         (params.return_remembered && device.remembered) ||
         (params.return_connected && device.connected) || (params.return_unknown && unknown);
}

}  // namespace

SimulatedBluetoothStack::SimulatedBluetoothStack() = default;
SimulatedBluetoothStack::~SimulatedBluetoothStack() = default;

void SimulatedBluetoothStack::SetPrinter(uint64_t address, PrinterBehaviour behaviour) {
  std::lock_guard<std::mutex> lock(mutex_);
  printers_[address].behaviour = behaviour;
}

void SimulatedBluetoothStack::DropLinks(uint64_t address, int32_t error) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& entry : sockets_) {
    if (entry.second.peer == address) entry.second.broken_error = error;
  }
}

void SimulatedBluetoothStack::SetStartupError(int32_t code) {
  std::lock_guard<std::mutex> lock(mutex_);
  startup_error_ = code;
}

void SimulatedBluetoothStack::SetRadioPresent(bool present) {
  std::lock_guard<std::mutex> lock(mutex_);
  radio_present_ = present;
}

void SimulatedBluetoothStack::AddDevice(const SimulatedDevice& device) {
  std::lock_guard<std::mutex> lock(mutex_);
  devices_.push_back(device);
}

void SimulatedBluetoothStack::SetClock(int64_t ticks) {
  std::lock_guard<std::mutex> lock(mutex_);
  clock_ = ticks;
}

void SimulatedBluetoothStack::SetConnectHook(std::function<void(uint64_t)> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  connect_hook_ = std::move(hook);
}

void SimulatedBluetoothStack::SetSendHook(std::function<void(uint64_t)> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  send_hook_ = std::move(hook);
}

void SimulatedBluetoothStack::SetAcceptedBytesSink(AcceptedBytesSink sink) {
  std::lock_guard<std::mutex> lock(mutex_);
  accepted_sink_ = std::move(sink);
}

std::vector<std::string> SimulatedBluetoothStack::calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

std::vector<std::string> SimulatedBluetoothStack::TakeCalls() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(calls_, {});
}

std::vector<std::string> SimulatedBluetoothStack::faults() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return faults_;
}

std::vector<uint8_t> SimulatedBluetoothStack::Received(uint64_t address) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto printer = printers_.find(address);
  return printer == printers_.end() ? std::vector<uint8_t>() : printer->second.received;
}

uint64_t SimulatedBluetoothStack::ReceivedCount(uint64_t address) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto printer = printers_.find(address);
  return printer == printers_.end() ? 0 : printer->second.received_count;
}

int SimulatedBluetoothStack::SuccessfulConnects(uint64_t address) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto printer = printers_.find(address);
  return printer == printers_.end() ? 0 : printer->second.connects;
}

int SimulatedBluetoothStack::open_sockets() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(sockets_.size());
}

int SimulatedBluetoothStack::open_handles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(handles_.size());
}

int SimulatedBluetoothStack::winsock_starts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return winsock_starts_;
}

void SimulatedBluetoothStack::Record(const std::string& call) { calls_.push_back(call); }
void SimulatedBluetoothStack::Fault(const std::string& fault) { faults_.push_back(fault); }

int32_t SimulatedBluetoothStack::Fail(int32_t code) {
  last_socket_error = code;
  return kSocketError;
}

// "WSAStartup(0x0202) = 0"
int32_t SimulatedBluetoothStack::StartWinsock(uint16_t version) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record("WSAStartup(" + HexNumber(version) + ") = " + std::to_string(startup_error_));
  if (startup_error_ == 0) ++winsock_starts_;
  return startup_error_;
}

// "WSACleanup() = 0"
int32_t SimulatedBluetoothStack::CleanupWinsock() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (winsock_starts_ == 0) {
    Record("WSACleanup() = -1");
    Fault("WSACleanup without a successful WSAStartup");
    return Fail(kWsaNotInitialised);
  }
  --winsock_starts_;
  Record("WSACleanup() = 0");
  return 0;
}

// "socket(32, 1, 3) = 1001", or "= INVALID_SOCKET"
kestro::SocketHandle SimulatedBluetoothStack::OpenSocket(int32_t family, int32_t type,
                                                         int32_t protocol) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string call = "socket(" + std::to_string(family) + ", " + std::to_string(type) + ", " +
                           std::to_string(protocol) + ") = ";
  int32_t error = winsock_starts_ == 0 ? kWsaNotInitialised : 0;
  if (error == 0 && (family != 32 || type != 1 || protocol != 3)) error = kWsaFamilyNotSupported;
  if (error != 0) {
    Record(call + "INVALID_SOCKET");
    Fail(error);
    return kInvalidSocket;
  }
  const kestro::SocketHandle socket = next_socket_++;
  sockets_[socket] = Socket();
  Record(call + std::to_string(socket));
  return socket;
}

// "setsockopt(1001, 0xFFFF, 0x1006, 98 3A 00 00) = 0"
int32_t SimulatedBluetoothStack::SetSocketOption(kestro::SocketHandle socket, int32_t level,
                                                 int32_t name, const uint8_t* value,
                                                 int32_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string call = "setsockopt(" + std::to_string(socket) + ", " + HexNumber(level) + ", " +
                           HexNumber(name) + ", " +
                           Hex(value, length > 0 ? static_cast<size_t>(length) : 0) + ") = ";
  const auto open = sockets_.find(socket);
  if (open == sockets_.end()) {
    Record(call + "-1");
    Fault("setsockopt on a socket that is not open");
    return Fail(kWsaNotSocket);
  }
  if (level == kestro::kSocketLevel && name == kestro::kOptionSendTimeout && length >= 4) {
    open->second.send_timeout_ms = ReadUint32(value, length);
  }
  Record(call + "0");
  return 0;
}

// "connect(1001, AA:BB:CC:DD:EE:FF SPP, 30) = 0"; a malformed address is shown as its bytes.
int32_t SimulatedBluetoothStack::ConnectSocket(kestro::SocketHandle socket, const uint8_t* address,
                                               int32_t length) {
  std::function<void(uint64_t)> hook;
  uint64_t peer = 0;
  std::string call;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    peer = DecodeSerialPortAddress(address, length);
    call = "connect(" + std::to_string(socket) + ", " +
           (peer != 0 ? AddressText(peer) + " SPP"
                      : Hex(address, length > 0 ? static_cast<size_t>(length) : 0)) +
           ", " + std::to_string(length) + ") = ";
    if (sockets_.count(socket) == 0) {
      Record(call + "-1");
      Fault("connect on a socket that is not open");
      return Fail(kWsaNotSocket);
    }
    if (peer == 0) {
      Record(call + "-1");
      return Fail(kWsaInvalidArgument);
    }
    hook = connect_hook_;
  }
  if (hook) hook(peer);
  int64_t connect_time_ms = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto printer = printers_.find(peer);
    if (printer != printers_.end()) connect_time_ms = printer->second.behaviour.connect_time_ms;
  }
  SleepMs(connect_time_ms);
  std::lock_guard<std::mutex> lock(mutex_);
  const auto printer = printers_.find(peer);
  const int32_t error = !radio_present_              ? kWsaNetworkDown
                        : printer == printers_.end() ? kWsaTimedOut
                                                     : printer->second.behaviour.connect_error;
  const auto open = sockets_.find(socket);
  if (error != 0 || open == sockets_.end()) {
    Record(call + "-1");
    return Fail(error != 0 ? error : kWsaNotSocket);
  }
  open->second.peer = peer;
  ++printer->second.connects;
  Record(call + "0");
  return 0;
}

// "send(1001, 1024) = 1024"
int32_t SimulatedBluetoothStack::Send(kestro::SocketHandle socket, const uint8_t* data,
                                      int32_t length, int32_t flags) {
  std::function<void(uint64_t)> hook;
  uint64_t peer = 0;
  const std::string call = "send(" + std::to_string(socket) + ", " + std::to_string(length) +
                           (flags != 0 ? ", flags " + std::to_string(flags) : "") + ") = ";
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto open = sockets_.find(socket);
    if (open == sockets_.end() || open->second.peer == 0) {
      Record(call + "-1");
      Fault("send on a socket that is not connected");
      return Fail(open == sockets_.end() ? kWsaNotSocket : kWsaNotConnected);
    }
    peer = open->second.peer;
    hook = send_hook_;
  }
  if (hook) hook(peer);
  SendOutcome outcome;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto open = sockets_.find(socket);
    if (open == sockets_.end()) {
      outcome.error = kWsaNotSocket;
    } else if (length < 0) {
      outcome.error = kWsaInvalidArgument;
    } else {
      outcome = PlanSend(open->second, printers_[peer].behaviour, length);
    }
  }
  // The part travels at the printer's rate, outside the lock, so other printers are not held.
  SleepMs(outcome.delay_ms);
  std::lock_guard<std::mutex> lock(mutex_);
  const auto open = sockets_.find(socket);
  if (outcome.error == 0 && open == sockets_.end()) outcome.error = kWsaNotSocket;
  if (outcome.error != 0) {
    Record(call + "-1");
    return Fail(outcome.error);
  }
  Printer& printer = printers_[peer];
  if (printer.behaviour.max_part == 0 && length > 0) {
    // A caller that keeps retrying would never end; stop it after a bound and say so.
    if (++open->second.stalled_sends > kStalledSendLimit) {
      Record(call + "-1");
      Fault("send retried after taking nothing " + std::to_string(kStalledSendLimit) + " times");
      return Fail(kWsaConnectionAborted);
    }
    Record(call + "0");
    last_socket_error = printer.behaviour.stalled_error;
    return 0;
  }
  TakeBytes(open->second, peer, data, outcome.taken);
  Record(call + std::to_string(outcome.taken));
  return outcome.taken;
}

SimulatedBluetoothStack::SendOutcome SimulatedBluetoothStack::PlanSend(
    const Socket& socket, const PrinterBehaviour& behaviour, int32_t length) {
  SendOutcome outcome;
  const bool dropped = behaviour.drop_after >= 0 && socket.accepted >= behaviour.drop_after;
  outcome.error = socket.broken_error ? socket.broken_error
                  : dropped           ? behaviour.drop_error
                                      : behaviour.send_error;
  if (outcome.error != 0 || behaviour.max_part == 0) return outcome;
  int64_t part = std::min(length, std::max(behaviour.max_part, 1));
  if (behaviour.drop_after >= 0) part = std::min(part, behaviour.drop_after - socket.accepted);
  outcome.taken = static_cast<int32_t>(part);
  if (behaviour.bytes_per_second > 0) {
    outcome.delay_ms = part * 1000 / behaviour.bytes_per_second;
  }
  // Like Winsock, a send that cannot finish within SO_SNDTIMEO fails once that time is up.
  if (socket.send_timeout_ms > 0 && outcome.delay_ms > socket.send_timeout_ms) {
    outcome = SendOutcome{kWsaTimedOut, 0, socket.send_timeout_ms};
  }
  return outcome;
}

void SimulatedBluetoothStack::TakeBytes(Socket& socket, uint64_t peer, const uint8_t* data,
                                        int32_t taken) {
  Printer& printer = printers_[peer];
  if (printer.behaviour.keep_bytes)
    printer.received.insert(printer.received.end(), data, data + taken);
  printer.received_count += static_cast<uint64_t>(taken);
  socket.accepted += taken;
  if (accepted_sink_ && taken > 0) accepted_sink_(peer, data, static_cast<size_t>(taken));
}

// "closesocket(1001) = 0"
int32_t SimulatedBluetoothStack::CloseSocket(kestro::SocketHandle socket) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (sockets_.erase(socket) == 0) {
    Record("closesocket(" + std::to_string(socket) + ") = -1");
    Fault("closesocket on a socket that is not open");
    return Fail(kWsaNotSocket);
  }
  Record("closesocket(" + std::to_string(socket) + ") = 0");
  return 0;
}

// "WSAGetLastError() = 10060"
int32_t SimulatedBluetoothStack::LastSocketError() {
  std::lock_guard<std::mutex> lock(mutex_);
  Record("WSAGetLastError() = " + std::to_string(last_socket_error));
  return last_socket_error;
}

kestro::StackHandle SimulatedBluetoothStack::NewHandle(HandleKind kind) {
  const kestro::StackHandle handle = next_handle_++;
  handles_[handle] = Handle{kind, {}};
  return handle;
}

bool SimulatedBluetoothStack::CloseHandleOfKind(kestro::StackHandle handle, HandleKind kind,
                                                const char* call) {
  const auto open = handles_.find(handle);
  const bool ok = open != handles_.end() && open->second.kind == kind;
  Record(std::string(call) + "(" + std::to_string(handle) + ") = " + (ok ? "1" : "0"));
  if (!ok) {
    Fault(std::string(call) + " on a handle that is not open or of another kind");
    return false;
  }
  handles_.erase(open);
  return true;
}

// "BluetoothFindFirstRadio(4) = 501, radio 502", or "= 0" without a radio
kestro::StackHandle SimulatedBluetoothStack::FindFirstRadio(const kestro::RadioSearchParams& params,
                                                            kestro::StackHandle* radio) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string call = "BluetoothFindFirstRadio(" + std::to_string(params.size) + ") = ";
  if (!radio_present_ || params.size != kRadioSearchParamsSize) {
    Record(call + "0");
    return 0;
  }
  const kestro::StackHandle find = NewHandle(HandleKind::kRadioFind);
  *radio = NewHandle(HandleKind::kRadio);
  Record(call + std::to_string(find) + ", radio " + std::to_string(*radio));
  return find;
}

bool SimulatedBluetoothStack::FindRadioClose(kestro::StackHandle find) {
  std::lock_guard<std::mutex> lock(mutex_);
  return CloseHandleOfKind(find, HandleKind::kRadioFind, "BluetoothFindRadioClose");
}

// "BluetoothFindFirstDevice(40, auth 1, remembered 1, unknown 0, connected 1, inquiry 0,
// timeout 0, radio 502; 560) = 503"
kestro::StackHandle SimulatedBluetoothStack::FindFirstDevice(
    const kestro::DeviceSearchParams& params, kestro::DeviceInfo* info) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string call = "BluetoothFindFirstDevice(" + std::to_string(params.size) + ", auth " +
                           std::to_string(params.return_authenticated) + ", remembered " +
                           std::to_string(params.return_remembered) + ", unknown " +
                           std::to_string(params.return_unknown) + ", connected " +
                           std::to_string(params.return_connected) + ", inquiry " +
                           std::to_string(params.issue_inquiry) + ", timeout " +
                           std::to_string(params.timeout_multiplier) + ", radio " +
                           std::to_string(params.radio) + "; " + std::to_string(info->size) +
                           ") = ";
  const auto radio = handles_.find(params.radio);
  const bool valid = params.size == kDeviceSearchParamsSize && info->size == kDeviceInfoSize &&
                     radio != handles_.end() && radio->second.kind == HandleKind::kRadio;
  std::vector<SimulatedDevice> found;
  if (valid) {
    for (const SimulatedDevice& device : devices_) {
      if (Matches(device, params)) found.push_back(device);
    }
  }
  if (found.empty()) {
    Record(call + "0");
    return 0;
  }
  FillDeviceInfo(found.front(), info);
  const kestro::StackHandle find = NewHandle(HandleKind::kDeviceFind);
  handles_[find].pending.assign(found.begin() + 1, found.end());
  Record(call + std::to_string(find));
  return find;
}

// "BluetoothFindNextDevice(503; 560) = 1"
bool SimulatedBluetoothStack::FindNextDevice(kestro::StackHandle find, kestro::DeviceInfo* info) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string call = "BluetoothFindNextDevice(" + std::to_string(find) + "; " +
                           std::to_string(info->size) + ") = ";
  const auto open = handles_.find(find);
  if (open == handles_.end() || open->second.kind != HandleKind::kDeviceFind) {
    Record(call + "0");
    Fault("BluetoothFindNextDevice on a handle that is not an open device search");
    return false;
  }
  std::vector<SimulatedDevice>& pending = open->second.pending;
  if (pending.empty() || info->size != kDeviceInfoSize) {
    Record(call + "0");
    return false;
  }
  FillDeviceInfo(pending.front(), info);
  pending.erase(pending.begin());
  Record(call + "1");
  return true;
}

bool SimulatedBluetoothStack::FindDeviceClose(kestro::StackHandle find) {
  std::lock_guard<std::mutex> lock(mutex_);
  return CloseHandleOfKind(find, HandleKind::kDeviceFind, "BluetoothFindDeviceClose");
}

bool SimulatedBluetoothStack::CloseHandle(kestro::StackHandle handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  return CloseHandleOfKind(handle, HandleKind::kRadio, "CloseHandle");
}

int64_t SimulatedBluetoothStack::SystemTimeTicks() {
  std::lock_guard<std::mutex> lock(mutex_);
  return clock_;
}

}  // namespace kestro_standin
