#include "standins/bluetooth/simulated_bluetooth_stack.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
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
using kestro::kWsaWouldBlock;

constexpr int32_t kWsaFault = 10014;             // WSAEFAULT: a bad pointer or length
constexpr int32_t kWsaAlready = 10037;           // WSAEALREADY: a connect is in progress
constexpr int32_t kWsaNoProtocolOption = 10042;  // WSAENOPROTOOPT

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

uint32_t ReadUint32(const uint8_t* value, int32_t length) {
  uint32_t number = 0;
  for (int32_t i = std::min(length, 4) - 1; i >= 0; --i) number = (number << 8) | value[i];
  return number;
}

// A blocking wait cut short by a close reads as WSAENOTSOCK, as a send that finds its socket
// closed always has here; one cut short by the stack going away as WSAECONNABORTED, the link
// aborted by the local system.
int32_t CutShortError(bool closed) { return closed ? kWsaNotSocket : kWsaConnectionAborted; }

bool Matches(const SimulatedDevice& device, const kestro::DeviceSearchParams& params) {
  const bool unknown = !device.remembered && !device.authenticated && !device.connected;
  return (params.return_authenticated && device.authenticated) ||
         (params.return_remembered && device.remembered) ||
         (params.return_connected && device.connected) || (params.return_unknown && unknown);
}

}  // namespace

SimulatedBluetoothStack::SimulatedBluetoothStack() = default;

// Calls blocked in Wait still use the members: wake them and let them leave first.
SimulatedBluetoothStack::~SimulatedBluetoothStack() {
  std::unique_lock<std::mutex> lock(mutex_);
  gone_ = true;
  changed_.notify_all();
  changed_.wait(lock, [this] { return waiting_ == 0; });
}

void SimulatedBluetoothStack::SetPrinter(uint64_t address, PrinterBehaviour behaviour) {
  std::lock_guard<std::mutex> lock(mutex_);
  printers_[address].behaviour = std::move(behaviour);
  changed_.notify_all();
}

void SimulatedBluetoothStack::DropLinks(uint64_t address, int32_t error) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& entry : sockets_) {
    if (entry.second.peer == address) entry.second.broken_error = error;
  }
  changed_.notify_all();
}

void SimulatedBluetoothStack::SetStartupError(int32_t code) {
  std::lock_guard<std::mutex> lock(mutex_);
  startup_error_ = code;
}

void SimulatedBluetoothStack::SetNonBlockingError(int32_t code) {
  std::lock_guard<std::mutex> lock(mutex_);
  non_blocking_error_ = code;
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

bool SimulatedBluetoothStack::IsOpen(kestro::SocketHandle handle, uint64_t serial) const {
  const auto open = sockets_.find(handle);
  return open != sockets_.end() && open->second.serial == serial;
}

SimulatedBluetoothStack::WaitEnd SimulatedBluetoothStack::Wait(
    std::unique_lock<std::mutex>& lock, kestro::SocketHandle handle, uint64_t serial,
    const Clock::time_point* deadline, const std::function<bool()>& ready,
    const std::function<Clock::time_point()>& wake_at) {
  ++waiting_;
  WaitEnd end = WaitEnd::kReady;
  for (;;) {
    if (gone_) {
      end = WaitEnd::kStackGone;
      break;
    }
    if (handle != kInvalidSocket && !IsOpen(handle, serial)) {
      end = WaitEnd::kClosed;
      break;
    }
    if (ready()) break;
    const Clock::time_point now = Clock::now();
    if (deadline != nullptr && now >= *deadline) {
      end = WaitEnd::kDeadline;
      break;
    }
    Clock::time_point until = deadline != nullptr ? *deadline : Clock::time_point::max();
    if (wake_at) until = std::min(until, wake_at());
    if (until == Clock::time_point::max()) {
      changed_.wait(lock);
    } else {
      changed_.wait_until(lock, until);
    }
  }
  --waiting_;
  if (gone_) changed_.notify_all();
  return end;
}

int32_t SimulatedBluetoothStack::ConnectResult(uint64_t peer) const {
  const auto printer = printers_.find(peer);
  return !radio_present_              ? kWsaNetworkDown
         : printer == printers_.end() ? kWsaTimedOut
                                      : printer->second.behaviour.connect_error;
}

void SimulatedBluetoothStack::Connected(Socket& socket, uint64_t peer) {
  Printer& printer = printers_[peer];
  socket.peer = peer;
  socket.connecting_to = 0;
  socket.nothing_sent = true;
  socket.unread = printer.behaviour.says;
  ++printer.connects;
}

void SimulatedBluetoothStack::Settle(Socket& socket, Clock::time_point now) {
  if (socket.connecting_to == 0 || now < socket.connect_done) return;
  const int32_t error = ConnectResult(socket.connecting_to);
  if (error == 0) {
    Connected(socket, socket.connecting_to);
    return;
  }
  socket.connecting_to = 0;
  socket.connect_failed = true;
  socket.pending_error = error;
}

bool SimulatedBluetoothStack::PrinterClosed(const Socket& socket) const {
  const auto printer = printers_.find(socket.peer);
  if (socket.peer == 0 || printer == printers_.end()) return false;
  const int64_t close_after = printer->second.behaviour.close_after;
  return close_after >= 0 && socket.accepted >= close_after;
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
  kestro::SocketHandle socket = next_socket_;
  if (closed_sockets_.empty()) {
    ++next_socket_;
  } else {
    socket = *closed_sockets_.begin();
    closed_sockets_.erase(closed_sockets_.begin());
  }
  sockets_[socket] = Socket();
  sockets_[socket].serial = next_serial_++;
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
  if (level == kestro::kSocketLevel && name == kestro::kOptionReceiveTimeout && length >= 4) {
    open->second.receive_timeout_ms = ReadUint32(value, length);
  }
  Record(call + "0");
  return 0;
}

// "connect(1001, AA:BB:CC:DD:EE:FF SPP, 30) = 0"; a malformed address is shown as its bytes.
// A non-blocking socket answers "= -1" (10035) at once and completes connect-ms later.
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
  std::unique_lock<std::mutex> lock(mutex_);
  auto open = sockets_.find(socket);
  if (open == sockets_.end()) {
    Record(call + "-1");
    return Fail(kWsaNotSocket);
  }
  const auto printer = printers_.find(peer);
  const Clock::time_point done =
      Clock::now() + std::chrono::milliseconds(printer == printers_.end()
                                                   ? 0
                                                   : printer->second.behaviour.connect_time_ms);
  if (open->second.non_blocking) {
    Settle(open->second, Clock::now());
    Record(call + "-1");
    if (open->second.connecting_to != 0) return Fail(kWsaAlready);
    open->second.connecting_to = peer;
    open->second.connect_done = done;
    open->second.connect_failed = false;
    return Fail(kWsaWouldBlock);
  }
  const WaitEnd end = Wait(lock, socket, open->second.serial, &done, [] { return false; });
  const int32_t error =
      end == WaitEnd::kDeadline ? ConnectResult(peer) : CutShortError(end == WaitEnd::kClosed);
  if (error != 0) {
    Record(call + "-1");
    return Fail(error);
  }
  Connected(sockets_[socket], peer);
  Record(call + "0");
  return 0;
}

// "send(1001, 1024) = 1024". A non-blocking socket takes at once what the printer can take now
// and otherwise answers "= -1" (10035); the printer is then busy for the part's time at its rate.
int32_t SimulatedBluetoothStack::Send(kestro::SocketHandle socket, const uint8_t* data,
                                      int32_t length, int32_t flags) {
  std::function<void(uint64_t)> hook;
  uint64_t peer = 0;
  uint64_t serial = 0;
  const std::string call = "send(" + std::to_string(socket) + ", " + std::to_string(length) +
                           (flags != 0 ? ", flags " + std::to_string(flags) : "") + ") = ";
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto open = sockets_.find(socket);
    if (open != sockets_.end()) Settle(open->second, Clock::now());
    if (open == sockets_.end() || open->second.peer == 0) {
      Record(call + "-1");
      Fault("send on a socket that is not connected");
      return Fail(open == sockets_.end() ? kWsaNotSocket : kWsaNotConnected);
    }
    peer = open->second.peer;
    serial = open->second.serial;
    hook = send_hook_;
  }
  if (hook) hook(peer);
  std::unique_lock<std::mutex> lock(mutex_);
  SendOutcome outcome;
  if (!IsOpen(socket, serial)) {
    outcome.error = kWsaNotSocket;
  } else if (length < 0) {
    outcome.error = kWsaInvalidArgument;
  } else {
    outcome = PlanSend(sockets_[socket], printers_[peer].behaviour, length);
  }
  if (IsOpen(socket, serial)) sockets_[socket].nothing_sent = false;
  if (outcome.error == 0 && sockets_[socket].non_blocking) {
    Socket& open = sockets_[socket];
    const Clock::time_point now = Clock::now();
    if (outcome.stalled || (length > 0 && now < open.busy_until)) {
      Record(call + "-1");
      return Fail(kWsaWouldBlock);
    }
    const int32_t rate = printers_[peer].behaviour.bytes_per_second;
    if (rate > 0) {
      open.busy_until = now + std::chrono::microseconds(int64_t{outcome.taken} * 1000000 / rate);
    }
    TakeBytes(open, peer, data, outcome.taken);
    Record(call + std::to_string(outcome.taken));
    return outcome.taken;
  }
  // The part travels at the printer's rate with the lock released, so other printers are not
  // held; closing the socket ends the wait.
  if (outcome.delay_ms > 0) {
    const Clock::time_point done = Clock::now() + std::chrono::milliseconds(outcome.delay_ms);
    const WaitEnd end = Wait(lock, socket, serial, &done, [] { return false; });
    if (end != WaitEnd::kDeadline) outcome.error = CutShortError(end == WaitEnd::kClosed);
  }
  if (outcome.error != 0) {
    Record(call + "-1");
    return Fail(outcome.error);
  }
  Socket& open = sockets_[socket];
  if (outcome.stalled) {
    // A caller that keeps retrying would never end; stop it after a bound and say so.
    if (++open.stalled_sends > kStalledSendLimit) {
      Record(call + "-1");
      Fault("send retried after taking nothing " + std::to_string(kStalledSendLimit) + " times");
      return Fail(kWsaConnectionAborted);
    }
    Record(call + "0");
    last_socket_error = printers_[peer].behaviour.stalled_error;
    return 0;
  }
  TakeBytes(open, peer, data, outcome.taken);
  Record(call + std::to_string(outcome.taken));
  return outcome.taken;
}

SimulatedBluetoothStack::SendOutcome SimulatedBluetoothStack::PlanSend(
    const Socket& socket, const PrinterBehaviour& behaviour, int32_t length) {
  SendOutcome outcome;
  const auto reached = [&socket](int64_t limit) { return limit >= 0 && socket.accepted >= limit; };
  outcome.error = socket.broken_error != 0 ? socket.broken_error
                  : reached(behaviour.drop_after) || reached(behaviour.close_after)
                      ? behaviour.drop_error
                      : behaviour.send_error;
  if (outcome.error != 0) return outcome;
  if (behaviour.max_part == 0 || reached(behaviour.stall_after)) {
    outcome.stalled = length > 0;
    return outcome;
  }
  int64_t part = std::min(length, std::max(behaviour.max_part, 1));
  for (const int64_t limit : {behaviour.drop_after, behaviour.close_after, behaviour.stall_after}) {
    if (limit >= 0) part = std::min(part, limit - socket.accepted);
  }
  outcome.taken = static_cast<int32_t>(part);
  if (behaviour.bytes_per_second > 0) {
    outcome.delay_ms = part * 1000 / behaviour.bytes_per_second;
  }
  // Like Winsock, a send that cannot finish within SO_SNDTIMEO fails once that time is up.
  if (!socket.non_blocking && behaviour.honour_timeouts && socket.send_timeout_ms > 0 &&
      outcome.delay_ms > socket.send_timeout_ms) {
    outcome = SendOutcome{kWsaTimedOut, 0, socket.send_timeout_ms, false};
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
  changed_.notify_all();  // the printer may have closed the link
}

// "closesocket(1001) = 0"
int32_t SimulatedBluetoothStack::CloseSocket(kestro::SocketHandle socket) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (sockets_.erase(socket) == 0) {
    Record("closesocket(" + std::to_string(socket) + ") = -1");
    Fault("closesocket on a socket that is not open");
    return Fail(kWsaNotSocket);
  }
  closed_sockets_.insert(socket);
  changed_.notify_all();
  Record("closesocket(" + std::to_string(socket) + ") = 0");
  return 0;
}

// "WSAGetLastError() = 10060"
int32_t SimulatedBluetoothStack::LastSocketError() {
  std::lock_guard<std::mutex> lock(mutex_);
  Record("WSAGetLastError() = " + std::to_string(last_socket_error));
  return last_socket_error;
}

// "ioctlsocket(1001, FIONBIO, 1) = 0"
int32_t SimulatedBluetoothStack::IoctlSocket(kestro::SocketHandle socket, uint32_t command,
                                             uint32_t* argument) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string call =
      "ioctlsocket(" + std::to_string(socket) + ", " +
      (command == kestro::kNonBlockingIo ? std::string("FIONBIO")
                                         : HexNumber(static_cast<int32_t>(command))) +
      ", " + (argument != nullptr ? std::to_string(*argument) : std::string("null")) + ") = ";
  const auto open = sockets_.find(socket);
  if (open == sockets_.end()) {
    Record(call + "-1");
    Fault("ioctlsocket on a socket that is not open");
    return Fail(kWsaNotSocket);
  }
  const int32_t error = non_blocking_error_ != 0            ? non_blocking_error_
                        : argument == nullptr               ? kWsaFault
                        : command != kestro::kNonBlockingIo ? kWsaInvalidArgument
                                                            : 0;
  if (error != 0) {
    Record(call + "-1");
    return Fail(error);
  }
  open->second.non_blocking = *argument != 0;
  Record(call + "0");
  return 0;
}

// "select(read 1001, write 1001 1002, except -, 0.100000 s) = 1; write 1002": each set given,
// the time-out ("for ever" when null), and each socket found ready.
int32_t SimulatedBluetoothStack::Select(kestro::SocketSet* read, kestro::SocketSet* write,
                                        kestro::SocketSet* except,
                                        const kestro::WaitTime* timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  struct Watched {
    const char* name;
    kestro::SocketSet* set;
  };
  const Watched watched[] = {{"read", read}, {"write", write}, {"except", except}};
  std::string call = "select(";
  size_t watching = 0;
  bool too_many = false;
  for (const Watched& w : watched) {
    if (w.set == nullptr) continue;
    too_many = too_many || w.set->count > kestro::kSocketSetSize;
    const uint32_t count = std::min<uint32_t>(w.set->count, kestro::kSocketSetSize);
    call += std::string(w.name) + (count == 0 ? " -" : "");
    for (uint32_t i = 0; i < count; ++i) call += " " + std::to_string(w.set->sockets[i]);
    call += ", ";
    watching += count;
  }
  char wait_text[32] = "for ever";
  if (timeout != nullptr) {
    std::snprintf(wait_text, sizeof wait_text, "%d.%06d s", static_cast<int>(timeout->seconds),
                  static_cast<int>(timeout->microseconds));
  }
  call += std::string(wait_text) + ") = ";
  if (watching == 0 || too_many ||
      (timeout != nullptr && (timeout->seconds < 0 || timeout->microseconds < 0))) {
    Record(call + "-1");
    return Fail(kWsaInvalidArgument);
  }
  std::vector<std::pair<kestro::SocketHandle, uint64_t>> serials;
  for (const Watched& w : watched) {
    for (uint32_t i = 0; w.set != nullptr && i < w.set->count; ++i) {
      const auto open = sockets_.find(w.set->sockets[i]);
      if (open == sockets_.end()) {
        Record(call + "-1");
        Fault("select on a socket that is not open");
        return Fail(kWsaNotSocket);
      }
      serials.emplace_back(open->first, open->second.serial);
    }
  }
  const auto any_closed = [&] {
    return std::any_of(serials.begin(), serials.end(),
                       [&](const auto& s) { return !IsOpen(s.first, s.second); });
  };
  // Whether the socket is ready for the set at index 0 (read), 1 (write) or 2 (except).
  const auto is_ready = [&](size_t kind, kestro::SocketHandle handle) {
    Socket& socket = sockets_[handle];
    const Clock::time_point now = Clock::now();
    Settle(socket, now);
    if (kind == 2) return socket.connect_failed;
    if (socket.peer == 0) return false;
    if (kind == 0) return !socket.unread.empty() || PrinterClosed(socket);
    // Writable when a send would not answer 10035: it takes bytes or fails at once.
    const SendOutcome outcome = PlanSend(socket, printers_[socket.peer].behaviour, 1);
    return socket.nothing_sent || outcome.error != 0 ||
           (!outcome.stalled && now >= socket.busy_until);
  };
  const auto count_ready = [&] {
    int32_t ready = 0;
    for (size_t kind = 0; kind < 3; ++kind) {
      for (uint32_t i = 0; watched[kind].set != nullptr && i < watched[kind].set->count; ++i) {
        ready += is_ready(kind, watched[kind].set->sockets[i]) ? 1 : 0;
      }
    }
    return ready;
  };
  // A connect completing or a printer done with its part changes the answer without a call.
  const auto next_change = [&] {
    Clock::time_point next = Clock::time_point::max();
    for (const auto& s : serials) {
      const Socket& socket = sockets_[s.first];
      if (socket.connecting_to != 0) next = std::min(next, socket.connect_done);
      if (socket.busy_until > Clock::now()) next = std::min(next, socket.busy_until);
    }
    return next;
  };
  Clock::time_point deadline = Clock::now();
  if (timeout != nullptr) {
    deadline +=
        std::chrono::seconds(timeout->seconds) + std::chrono::microseconds(timeout->microseconds);
  }
  const WaitEnd end = Wait(
      lock, kInvalidSocket, 0, timeout != nullptr ? &deadline : nullptr,
      [&] { return any_closed() || count_ready() > 0; }, next_change);
  if (end == WaitEnd::kStackGone || any_closed()) {
    Record(call + "-1");
    return Fail(CutShortError(end != WaitEnd::kStackGone));
  }
  int32_t ready = 0;
  std::string found;
  for (size_t kind = 0; kind < 3; ++kind) {
    kestro::SocketSet* set = watched[kind].set;
    if (set == nullptr) continue;
    kestro::SocketSet kept;
    for (uint32_t i = 0; i < set->count; ++i) {
      if (!is_ready(kind, set->sockets[i])) continue;
      kept.sockets[kept.count++] = set->sockets[i];
      found += (found.empty() ? "; " : ", ") + std::string(watched[kind].name) + " " +
               std::to_string(set->sockets[i]);
    }
    ready += static_cast<int32_t>(kept.count);
    *set = kept;
  }
  Record(call + std::to_string(ready) + found);
  return ready;
}

// "getsockopt(1001, 0xFFFF, 0x1007, 4) = 0; 4D 27 00 00": SO_ERROR (read once, then 0),
// SO_SNDTIMEO and SO_RCVTIMEO.
int32_t SimulatedBluetoothStack::GetSocketOption(kestro::SocketHandle socket, int32_t level,
                                                 int32_t name, uint8_t* value, int32_t* length) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string call =
      "getsockopt(" + std::to_string(socket) + ", " + HexNumber(level) + ", " + HexNumber(name) +
      ", " + (length != nullptr ? std::to_string(*length) : std::string("null")) + ") = ";
  const auto open = sockets_.find(socket);
  if (open == sockets_.end()) {
    Record(call + "-1");
    Fault("getsockopt on a socket that is not open");
    return Fail(kWsaNotSocket);
  }
  Socket& s = open->second;
  Settle(s, Clock::now());
  uint32_t number = 0;
  int32_t error = 0;
  if (value == nullptr || length == nullptr || *length < 4) {
    error = kWsaFault;
  } else if (level == kestro::kSocketLevel && name == kestro::kOptionError) {
    number = static_cast<uint32_t>(std::exchange(s.pending_error, 0));
  } else if (level == kestro::kSocketLevel && name == kestro::kOptionSendTimeout) {
    number = s.send_timeout_ms;
  } else if (level == kestro::kSocketLevel && name == kestro::kOptionReceiveTimeout) {
    number = s.receive_timeout_ms;
  } else {
    error = kWsaNoProtocolOption;
  }
  if (error != 0) {
    Record(call + "-1");
    return Fail(error);
  }
  for (int i = 0; i < 4; ++i) value[i] = static_cast<uint8_t>(number >> (8 * i));
  *length = 4;
  Record(call + "0; " + Hex(value, 4));
  return 0;
}

// "recv(1001, 256) = 3": what the printer said and the host has not read yet, then 0 once the
// printer closed the link. With nothing to read a non-blocking socket answers "= -1" (10035);
// a blocking one waits for SO_RCVTIMEO (10060), or for ever when the printer ignores it.
int32_t SimulatedBluetoothStack::Receive(kestro::SocketHandle socket, uint8_t* data, int32_t length,
                                         int32_t flags) {
  std::unique_lock<std::mutex> lock(mutex_);
  const std::string call = "recv(" + std::to_string(socket) + ", " + std::to_string(length) +
                           (flags != 0 ? ", flags " + std::to_string(flags) : "") + ") = ";
  const auto open = sockets_.find(socket);
  if (open != sockets_.end()) Settle(open->second, Clock::now());
  if (open == sockets_.end() || open->second.peer == 0) {
    Record(call + "-1");
    Fault("recv on a socket that is not connected");
    return Fail(open == sockets_.end() ? kWsaNotSocket : kWsaNotConnected);
  }
  if (length < 0 || (data == nullptr && length > 0)) {
    Record(call + "-1");
    return Fail(kWsaFault);
  }
  const uint64_t serial = open->second.serial;
  const auto readable = [&] {
    const Socket& s = sockets_[socket];
    return !s.unread.empty() || PrinterClosed(s);
  };
  if (!readable()) {
    const Socket& s = open->second;
    if (s.non_blocking) {
      Record(call + "-1");
      return Fail(kWsaWouldBlock);
    }
    const bool timed = printers_[s.peer].behaviour.honour_timeouts && s.receive_timeout_ms > 0;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(timed ? s.receive_timeout_ms : 0);
    const WaitEnd end = Wait(lock, socket, serial, timed ? &deadline : nullptr, readable);
    if (end != WaitEnd::kReady) {
      Record(call + "-1");
      return Fail(end == WaitEnd::kDeadline ? kWsaTimedOut
                                            : CutShortError(end == WaitEnd::kClosed));
    }
  }
  std::vector<uint8_t>& unread = sockets_[socket].unread;
  const size_t size = std::min(unread.size(), static_cast<size_t>(length));
  std::copy(unread.begin(), unread.begin() + static_cast<ptrdiff_t>(size), data);
  unread.erase(unread.begin(), unread.begin() + static_cast<ptrdiff_t>(size));
  Record(call + std::to_string(size));
  return static_cast<int32_t>(size);
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

// Not recorded, like the wall clock: how often the bridge reads it depends on timing.
int64_t SimulatedBluetoothStack::MonotonicMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
      .count();
}

}  // namespace kestro_standin
