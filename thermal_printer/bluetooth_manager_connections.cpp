// RFCOMM connections: opening one socket within the connect deadline, the bounded waits on a
// socket, the table of kept links and who closes them, and Connect, Disconnect and IsConnected.
#include <algorithm>
#include <cstring>

#include "thermal_printer/bluetooth_address.h"
#include "thermal_printer/bluetooth_manager.h"

namespace kestro {
namespace {

// Both socket time-outs, kept for a stack that refuses non-blocking mode.
constexpr int32_t kSocketTimeoutMs = 15000;

const char* ConnectErrorExplanation(int32_t code) {
  switch (code) {
    case kWsaTimedOut:
      return " (Connection timed out - printer may be off)";
    case kWsaConnectionRefused:
      return " (Connection refused - printer may not support SPP)";
    case kWsaNetworkUnreachable:
      return " (Network unreachable - Bluetooth not enabled)";
    case kWsaHostUnreachable:
      return " (Host unreachable - printer out of range)";
    case kWsaAddressNotAvailable:
      return " (Address not available - wrong MAC address)";
    case kWsaNetworkDown:
      return " (Network down - Bluetooth adapter disabled)";
    default:
      return " (Unknown error)";
  }
}

SocketSet OneSocket(SocketHandle socket) {
  SocketSet set;
  set.count = 1;
  set.sockets[0] = socket;
  return set;
}

WaitTime Milliseconds(int64_t ms) {
  return WaitTime{static_cast<int32_t>(ms / 1000), static_cast<int32_t>(ms % 1000 * 1000)};
}

}  // namespace

SocketHandle BluetoothManager::CreateRfcommSocket(uint64_t address, bool* non_blocking) {
  Log("BluetoothManager: CreateRfcommSocket for " + FormatBluetoothAddress(address));
  const SocketHandle socket =
      stack_->OpenSocket(kAddressFamilyBluetooth, kSocketTypeStream, kProtocolRfcomm);
  if (socket == kInvalidSocket) {
    const int32_t error = stack_->LastSocketError();
    Log("BluetoothManager: socket() failed with error " + std::to_string(error));
    return kInvalidSocket;
  }
  Log("BluetoothManager: Socket created successfully");

  uint8_t timeout[sizeof(kSocketTimeoutMs)];
  std::memcpy(timeout, &kSocketTimeoutMs, sizeof(timeout));
  stack_->SetSocketOption(socket, kSocketLevel, kOptionReceiveTimeout, timeout, sizeof(timeout));
  stack_->SetSocketOption(socket, kSocketLevel, kOptionSendTimeout, timeout, sizeof(timeout));
  // Non-blocking, so every wait is the bridge's own and has a deadline. A stack that refuses
  // keeps the socket blocking with the time-outs above: a working printer stays usable.
  uint32_t enable = 1;
  *non_blocking = stack_->IoctlSocket(socket, kNonBlockingIo, &enable) == 0;

  const RfcommSocketAddress socket_address = MakeRfcommSocketAddress(address);
  Log("BluetoothManager: Attempting RFCOMM connect...");
  int32_t error = 0;
  if (stack_->ConnectSocket(socket, socket_address.data(),
                            static_cast<int32_t>(socket_address.size())) != 0) {
    error = stack_->LastSocketError();
    if (*non_blocking && error == kWsaWouldBlock) error = WaitForConnect(socket);
  }
  if (error != 0) {
    Log("BluetoothManager: connect() failed with error " + std::to_string(error) +
        ConnectErrorExplanation(error));
    stack_->CloseSocket(socket);
    return kInvalidSocket;
  }
  Log("BluetoothManager: RFCOMM connection successful!");
  return socket;
}

int32_t BluetoothManager::WaitForConnect(SocketHandle socket) {
  // The platform sets no limit on a connect (pages of 5 s to 40 s are seen): this is the limit.
  const int64_t deadline = stack_->MonotonicMilliseconds() + deadlines_.connect_ms;
  for (;;) {
    const int64_t left = deadline - stack_->MonotonicMilliseconds();
    if (left <= 0) return kWsaTimedOut;
    SocketSet writable = OneSocket(socket);
    SocketSet failed = OneSocket(socket);
    const WaitTime wait = Milliseconds(std::min(left, deadlines_.slice_ms));
    if (stack_->Select(nullptr, &writable, &failed, &wait) == kSocketError) {
      return stack_->LastSocketError();
    }
    if (failed.count != 0) {
      int32_t code = 0;
      uint8_t value[sizeof(code)] = {};
      int32_t length = sizeof(value);
      stack_->GetSocketOption(socket, kSocketLevel, kOptionError, value, &length);
      std::memcpy(&code, value, sizeof(code));
      return code != 0 ? code : kWsaTimedOut;
    }
    if (writable.count != 0) return 0;
  }
}

bool BluetoothManager::WaitWritable(SocketHandle socket, int64_t wait_ms, int32_t* error) {
  SocketSet writable = OneSocket(socket);
  const WaitTime wait = Milliseconds(wait_ms);
  if (stack_->Select(nullptr, &writable, nullptr, &wait) != kSocketError) return true;
  *error = stack_->LastSocketError();
  return false;
}

BluetoothManager::LinkRef BluetoothManager::UseLink(const std::string& address) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto entry = connections_.find(address);
  if (entry == connections_.end()) return nullptr;
  ++entry->second->users;
  return entry->second;
}

BluetoothManager::LinkRef BluetoothManager::StoreLink(const std::string& address,
                                                      SocketHandle socket, bool non_blocking) {
  auto link = std::make_shared<Link>();
  link->socket = socket;
  link->non_blocking = non_blocking;
  link->users = 1;
  std::lock_guard<std::mutex> lock(mutex_);
  link->id = ++last_connection_id_;
  LinkRef& entry = connections_[address];
  if (entry) {
    // An entry that appeared meanwhile is replaced: closed now, or by its last user.
    entry->detached = true;
    if (entry->users == 0) stack_->CloseSocket(entry->socket);
  }
  entry = link;
  return link;
}

void BluetoothManager::DetachLink(const std::string& address, const LinkRef& link) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto entry = connections_.find(address);
  if (entry != connections_.end() && entry->second == link) connections_.erase(entry);
  if (link->detached) return;
  link->detached = true;
  if (link->users == 0) stack_->CloseSocket(link->socket);
}

void BluetoothManager::ReleaseLink(const LinkRef& link) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (--link->users == 0 && link->detached) stack_->CloseSocket(link->socket);
}

bool BluetoothManager::IsDetached(const LinkRef& link) {
  std::lock_guard<std::mutex> lock(mutex_);
  return link->detached;
}

bool BluetoothManager::ClosedByPrinter(const Link& link) {
  // Status bytes a printer sends unasked are not a closed link; a printer that never stops
  // sending is given up on after this many reads and taken as alive.
  constexpr int kMaxReads = 64;
  uint8_t discarded[4096];
  for (int read = 0; read < kMaxReads; ++read) {
    SocketSet readable = OneSocket(link.socket);
    const WaitTime now{0, 0};
    const int32_t ready = stack_->Select(&readable, nullptr, nullptr, &now);
    if (ready == kSocketError) return true;
    if (ready == 0 || readable.count == 0) return false;
    const int32_t received =
        stack_->Receive(link.socket, discarded, static_cast<int32_t>(sizeof(discarded)), 0);
    if (received == 0) return true;
    if (received < 0) return stack_->LastSocketError() != kWsaWouldBlock;
  }
  return false;
}

bool BluetoothManager::Connect(const NormalizedAddress& normalized,
                               const std::string& printer_uuid) {
  static_cast<void>(printer_uuid);
  const std::string& address = normalized.text();
  Log("BluetoothManager: Connecting to " + address);
  const std::shared_ptr<std::mutex> device_mutex = GetDeviceLock(address);
  std::lock_guard<std::mutex> device_lock(*device_mutex);
  if (const LinkRef link = UseLink(address)) {
    ReleaseLink(link);
    Log("BluetoothManager: Already connected to " + address);
    return true;
  }
  const uint64_t numeric = ParseMacAddress(address);
  if (numeric == 0) {
    Log("BluetoothManager: Invalid MAC address: " + address);
    return false;
  }
  bool non_blocking = false;
  const SocketHandle socket = CreateRfcommSocket(numeric, &non_blocking);
  if (socket == kInvalidSocket) {
    Log("BluetoothManager: Failed to create RFCOMM socket");
    return false;
  }
  ReleaseLink(StoreLink(address, socket, non_blocking));
  Log("BluetoothManager: Connected successfully to " + address);
  return true;
}

void BluetoothManager::Disconnect(const NormalizedAddress& normalized) {
  const std::string& address = normalized.text();
  Log("BluetoothManager: Disconnecting from " + address);
  LinkRef link;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto entry = connections_.find(address);
    if (entry == connections_.end()) return;
    link = entry->second;
  }
  DetachLink(address, link);
  Log("BluetoothManager: Disconnected from " + address);
}

bool BluetoothManager::IsConnected(const NormalizedAddress& normalized) {
  const std::string& address = normalized.text();
  LinkRef link;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto entry = connections_.find(address);
    if (entry == connections_.end()) return false;
    // A connect or a job owns the socket's waits now: the table answers.
    if (entry->second->users > 0) return true;
    link = entry->second;
    ++link->users;
  }
  const bool closed = ClosedByPrinter(*link);
  if (closed) {
    Log("BluetoothManager: Connection to " + address + " was closed by the printer");
    DetachLink(address, link);
  }
  ReleaseLink(link);
  return !closed;
}

}  // namespace kestro
