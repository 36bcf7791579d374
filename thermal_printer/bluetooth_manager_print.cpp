// Print jobs: one buffer of raw printer bytes over the address's (possibly new) connection, in
// bounded parts, with a deadline on the printer's progress.
#include <algorithm>

#include "thermal_printer/bluetooth_address.h"
#include "thermal_printer/bluetooth_manager.h"

namespace kestro {
namespace {

// The most one send() is handed. Small, because whatever sits in the stack's buffers when a link
// dies is lost without a word, and the time-out then measures a printer that stopped taking bytes
// rather than the length of the job.
constexpr int32_t kMaxPartBytes = 4096;

}  // namespace

bool BluetoothManager::PrintBytes(const NormalizedAddress& address,
                                  const std::vector<uint8_t>& bytes,
                                  const std::string& printer_uuid, const std::string& job_uuid) {
  return PrintBytes(address, bytes.data(), bytes.size(), printer_uuid, job_uuid);
}

bool BluetoothManager::PrintBytes(const NormalizedAddress& normalized, const uint8_t* data,
                                  size_t size, const std::string& printer_uuid,
                                  const std::string& job_uuid) {
  const std::string& address = normalized.text();
  Log("BluetoothManager: Printing " + std::to_string(size) + " bytes to " + address);
  const std::shared_ptr<std::mutex> device_mutex = GetDeviceLock(address);
  std::lock_guard<std::mutex> device_lock(*device_mutex);

  LinkRef link = UseLink(address);
  // A printer switched off and on closed the kept link: repair it before the job, not after.
  if (link && ClosedByPrinter(*link)) {
    Log("BluetoothManager: Connection to " + address + " was closed by the printer");
    DetachLink(address, link);
    ReleaseLink(link);
    link = nullptr;
  }
  if (!link) {
    const uint64_t numeric = ParseMacAddress(address);
    if (numeric == 0) {
      Log("BluetoothManager: Invalid MAC address for print: " + address);
      SendPrintFailed(job_uuid, "Invalid MAC address", 0);
      return false;
    }
    bool non_blocking = false;
    const SocketHandle socket = CreateRfcommSocket(numeric, &non_blocking);
    if (socket == kInvalidSocket) {
      Log("BluetoothManager: Failed to connect for print");
      SendPrintFailed(job_uuid, "Connection failed", 0);
      return false;
    }
    link = StoreLink(address, socket, non_blocking);
  }

  uint64_t sent = 0;
  int32_t error = 0;
  if (!SendAll(link, data, size, &sent, &error)) {
    Log("BluetoothManager: Send failed with error: " + std::to_string(error));
    DetachLink(address, link);
    ReleaseLink(link);
    SendPrintFailed(job_uuid, "Send failed: " + std::to_string(error), sent);
    return false;
  }
  ReleaseLink(link);
  Log("BluetoothManager: Print successful, sent " + std::to_string(sent) + " bytes");
  flutter::EncodableValueMap event;
  event[flutter::EncodableValue(std::string("jobUuid"))] = flutter::EncodableValue(job_uuid);
  event[flutter::EncodableValue(std::string("printerUuid"))] =
      flutter::EncodableValue(printer_uuid);
  SendEvent("onPrintSuccessWindows", flutter::EncodableValue(std::move(event)));
  return true;
}

bool BluetoothManager::SendAll(const LinkRef& link, const uint8_t* data, size_t size,
                               uint64_t* sent, int32_t* error) {
  *sent = 0;
  int64_t last_progress = stack_->MonotonicMilliseconds();
  while (*sent < size) {
    // Disconnect took the entry, or the process gave the job up: the job closes the socket.
    if (IsDetached(link) || (abandon_ && abandon_())) {
      *error = kWsaConnectionAborted;
      return false;
    }
    const int32_t length = static_cast<int32_t>(std::min<uint64_t>(size - *sent, kMaxPartBytes));
    const int32_t result = stack_->Send(link->socket, data + *sent, length, 0);
    if (result > 0) {
      *sent += static_cast<uint64_t>(result);
      last_progress = stack_->MonotonicMilliseconds();
      continue;
    }
    // Nothing taken while bytes remain: a blocking socket would only repeat it for ever.
    *error = stack_->LastSocketError();
    if (!link->non_blocking || result == 0 || *error != kWsaWouldBlock) return false;
    const int64_t left = last_progress + deadlines_.progress_ms - stack_->MonotonicMilliseconds();
    if (left <= 0) {
      *error = kWsaTimedOut;
      return false;
    }
    if (!WaitWritable(link->socket, std::min(left, deadlines_.slice_ms), error)) return false;
  }
  return true;
}

void BluetoothManager::SendPrintFailed(const std::string& job_uuid, const std::string& error,
                                       uint64_t bytes_sent) {
  flutter::EncodableValueMap event;
  event[flutter::EncodableValue(std::string("jobUuid"))] = flutter::EncodableValue(job_uuid);
  event[flutter::EncodableValue(std::string("error"))] = flutter::EncodableValue(error);
  event[flutter::EncodableValue(std::string("bytesSent"))] =
      flutter::EncodableValue(static_cast<int64_t>(bytes_sent));
  SendEvent("onPrintFailedWindows", flutter::EncodableValue(std::move(event)));
}

}  // namespace kestro
