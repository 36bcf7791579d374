// The native half of the thermal printer bridge: starts and stops Winsock, keeps at most one
// open RFCOMM socket per printer address, serialises work per address and logs every step.
#ifndef KESTRO_THERMAL_PRINTER_BLUETOOTH_MANAGER_H_
#define KESTRO_THERMAL_PRINTER_BLUETOOTH_MANAGER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
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

// The waits the bridge bounds itself, whatever time-outs the stack honours.
struct LinkDeadlines {
  int64_t connect_ms = 15000;   // a connect not completed by then fails as timed out (10060)
  int64_t progress_ms = 15000;  // a job whose printer took no byte for this long fails (10060)
  int64_t slice_ms = 100;       // the longest single wait, so a job notices what changed meanwhile
};

// Every operation is synchronous and reports failure as a false result, an empty list and log
// lines, never by throwing. Connect and PrintBytes may run on several threads: the same
// normalised address is served one call at a time, other addresses in parallel. Disconnect and
// IsConnected take no address lock and return at once; while a connect or a job uses a socket,
// Disconnect takes its entry but leaves the close to that user, which notices at its next wait
// slice. A socket is closed exactly once, by the last of its users once it left the table.
// Initialize and Dispose must not overlap any other operation.
//
// Lock order: an address's lock, then the table lock (mutex_); Log and SendEvent take neither.
class BluetoothManager {
 public:
  // channel receives the events ("onLogMessage", "onPrintSuccessWindows",
  // "onPrintFailedWindows"); when empty they are dropped. Once abandon (when given) answers true,
  // a running job stops before its next part. Logs nothing.
  BluetoothManager(std::shared_ptr<flutter::MethodChannel> channel,
                   std::unique_ptr<BluetoothStack> stack, LinkDeadlines deadlines = LinkDeadlines(),
                   std::function<bool()> abandon = nullptr);
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
  // Whether the table holds a live link. Unless a connect or job is using it, the link is checked
  // without waiting: one the printer closed is closed here, removed and answered false.
  bool IsConnected(const NormalizedAddress& address);

  // Sends every byte in order over the address's connection, opening one if needed (or when the
  // printer closed the kept one), and keeps it open. Sends in parts, and fails when the printer
  // took nothing for LinkDeadlines::progress_ms. True exactly when every byte was handed to the
  // socket; the outcome is also sent as an event carrying job_uuid (and, on failure, the bytes
  // taken before it). A failed send drops the connection.
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
  void SendPrintFailed(const std::string& job_uuid, const std::string& error, uint64_t bytes_sent);

  // A kept socket and who uses it. The id tells entries apart, which the handle cannot: Windows
  // hands a closed handle's value out again.
  struct Link {
    SocketHandle socket = kInvalidSocket;
    uint64_t id = 0;
    bool non_blocking = false;  // false when the stack refused: the platform's time-outs then
    int users = 0;              // connects, jobs and checks using the socket; guarded by mutex_
    bool detached = false;      // out of the table; the last user closes it; guarded by mutex_
  };
  using LinkRef = std::shared_ptr<Link>;

  // The address's lock, created on first use. The caller shares it, so Dispose forgetting the
  // table never frees a lock a job still holds. Lock it after this returns.
  std::shared_ptr<std::mutex> GetDeviceLock(const std::string& address);
  // An open, connected socket to the printer's Serial Port service, or kInvalidSocket.
  // *non_blocking tells whether the socket could be made non-blocking.
  SocketHandle CreateRfcommSocket(uint64_t address, bool* non_blocking);
  // 0 once a non-blocking connect completed, else its error (10060 past the connect deadline).
  int32_t WaitForConnect(SocketHandle socket);
  // The address's link with one more user, or null.
  LinkRef UseLink(const std::string& address);
  // Stores a new link under address, used by the caller.
  LinkRef StoreLink(const std::string& address, SocketHandle socket, bool non_blocking);
  // Takes link out of the table if it is still there; closed now when nobody uses it.
  void DetachLink(const std::string& address, const LinkRef& link);
  // One user fewer; the last one closes a detached link.
  void ReleaseLink(const LinkRef& link);
  bool IsDetached(const LinkRef& link);
  // Without waiting: whether the printer closed the link (end of stream or a socket error).
  // Bytes it sent unasked are read and dropped.
  bool ClosedByPrinter(const Link& link);
  // Sends in parts of at most kMaxPartBytes; false with *error set when a send fails, when the
  // printer took nothing for the progress deadline (10060), or when the link was taken from the
  // job or the job abandoned (10053). *sent counts the bytes taken.
  bool SendAll(const LinkRef& link, const uint8_t* data, size_t size, uint64_t* sent,
               int32_t* error);
  // Waits at most one slice for the socket to become writable; false with *error on a failure.
  bool WaitWritable(SocketHandle socket, int64_t wait_ms, int32_t* error);

  std::shared_ptr<flutter::MethodChannel> channel_;
  std::map<std::string, LinkRef> connections_;                       // guarded by mutex_
  std::map<std::string, std::shared_ptr<std::mutex>> device_locks_;  // guarded by mutex_
  uint64_t last_connection_id_ = 0;                                  // guarded by mutex_
  std::mutex mutex_;
  bool initialized_ = false;
  std::unique_ptr<BluetoothStack> stack_;
  const LinkDeadlines deadlines_;
  const std::function<bool()> abandon_;
};

// Whether Windows reports a Bluetooth radio; closes both handles it receives. Logs nothing.
bool IsBluetoothRadioPresent(BluetoothStack& stack);

}  // namespace kestro

#endif  // KESTRO_THERMAL_PRINTER_BLUETOOTH_MANAGER_H_
