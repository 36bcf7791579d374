// The native half of the thermal printer bridge: starts and stops Winsock, keeps at most one
// open RFCOMM socket per printer address, serialises work per address and logs every step.
#ifndef KESTRO_THERMAL_PRINTER_BLUETOOTH_MANAGER_H_
#define KESTRO_THERMAL_PRINTER_BLUETOOTH_MANAGER_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine_client/codec/encodable_value.h"
#include "engine_client/messaging/method_channel.h"
#include "thermal_printer/bluetooth_address.h"
#include "thermal_printer/bluetooth_stack.h"

namespace kestro {

// Every operation is synchronous and reports failure as a false result, an empty list and log
// lines, never by throwing. Connect and PrintBytes may run on several threads: the same
// normalised address is served one call at a time, other addresses in parallel. Disconnect and
// Dispose may run while a job is inside connect() or send(); a socket is closed exactly once, by
// whoever removes it from the table. Initialize must not overlap Dispose or another Initialize.
//
// Lock order: an address's lock, then the table lock (mutex_); Log and SendEvent take neither.
class BluetoothManager {
 public:
  // channel receives the events ("onLogMessage", "onPrintSuccessWindows",
  // "onPrintFailedWindows"); when empty they are dropped. Logs nothing.
  BluetoothManager(std::shared_ptr<flutter::MethodChannel> channel,
                   std::unique_ptr<BluetoothStack> stack);
  // Disposes (both lines are logged even after an earlier Dispose), then frees everything.
  ~BluetoothManager();

  BluetoothManager(const BluetoothManager&) = delete;
  BluetoothManager& operator=(const BluetoothManager&) = delete;

  // Starts Winsock 2.2 unless this manager already did; a failure is only logged.
  void Initialize();
  // Closes every socket, forgets every address lock, and cleans Winsock up if it was started.
  // The manager stays usable: a later Initialize starts Winsock again.
  void Dispose();

  // One map per device Windows knows on the first radio ("deviceName", "macAddress",
  // "majDeviceCl", "deviceCl", "isPaired", "isConnected"); empty without a radio.
  flutter::EncodableValueList GetPairedDevices();

  // Addresses are normalised where they are made (see NormalizedAddress), once.

  // True when the table holds an open socket for the address on return. printer_uuid plays no
  // part in connecting.
  bool Connect(const NormalizedAddress& address, const std::string& printer_uuid = std::string());
  void Disconnect(const NormalizedAddress& address);
  // Whether the table holds an entry; the link itself is not probed.
  bool IsConnected(const NormalizedAddress& address);

  // Sends every byte in order over the address's connection, opening one if needed, and keeps
  // it open. True exactly when every byte was handed to the socket; the outcome is also sent
  // as an event carrying job_uuid. A failed send drops the connection.
  bool PrintBytes(const NormalizedAddress& address, const std::vector<uint8_t>& bytes,
                  const std::string& printer_uuid, const std::string& job_uuid);
  // As above for size bytes at data, which may be 2 GiB or more.
  bool PrintBytes(const NormalizedAddress& address, const uint8_t* data, size_t size,
                  const std::string& printer_uuid, const std::string& job_uuid);

  BluetoothStack& stack() { return *stack_; }

 private:
  // One debugger line (a line feed is added) and the "onLogMessage" event.
  void Log(const std::string& text);
  void SendEvent(const std::string& name, const flutter::EncodableValue& arguments);
  void SendPrintFailed(const std::string& job_uuid, const std::string& error);
  // A table entry. The id tells a job whether the entry it used is still the one in the table,
  // which the handle cannot: Windows hands a closed handle's value out again.
  struct Connection {
    SocketHandle socket = kInvalidSocket;
    uint64_t id = 0;
  };

  // The address's lock, created on first use. The caller shares it, so Dispose forgetting the
  // table never frees a lock a job still holds. Lock it after this returns.
  std::shared_ptr<std::mutex> GetDeviceLock(const std::string& address);
  // An open, connected socket to the printer's Serial Port service, or kInvalidSocket.
  SocketHandle CreateRfcommSocket(uint64_t address);
  // The entry stored for address, or one holding kInvalidSocket.
  Connection FindConnection(const std::string& address);
  // Stores socket under address; an entry it replaces is removed, so its socket is closed here.
  Connection StoreConnection(const std::string& address, SocketHandle socket);
  // Removes the entry if it is still connection and returns its socket for the caller to close;
  // kInvalidSocket when it is gone or replaced, as someone else then closed it or owns it.
  SocketHandle TakeConnection(const std::string& address, const Connection& connection);
  // Passes at most INT_MAX bytes per send; false with *error set (WSAGetLastError at that
  // point) when a send fails or takes nothing while bytes remain.
  bool SendAll(SocketHandle socket, const uint8_t* data, size_t size, uint64_t* sent,
               int32_t* error);

  std::shared_ptr<flutter::MethodChannel> channel_;
  std::map<std::string, Connection> connections_;                    // guarded by mutex_
  std::map<std::string, std::shared_ptr<std::mutex>> device_locks_;  // guarded by mutex_
  uint64_t last_connection_id_ = 0;                                  // guarded by mutex_
  std::mutex mutex_;
  bool initialized_ = false;
  std::unique_ptr<BluetoothStack> stack_;
};

// Whether Windows reports a Bluetooth radio; closes both handles it receives. Logs nothing.
bool IsBluetoothRadioPresent(BluetoothStack& stack);

}  // namespace kestro

#endif  // KESTRO_THERMAL_PRINTER_BLUETOOTH_MANAGER_H_
