// An in-memory Bluetooth stack that plays printers and a radio for tests, fuzz targets and
// benchmarks. It answers like Winsock and the Windows Bluetooth API, records every call (with
// the bytes of options and socket addresses) and every byte each printer received, and flags
// misuse a real stack would punish (double closes, sends on closed sockets, leaked handles).
// Like Windows it hands closed socket handle values out again (lowest first). A blocking call
// that waits for ever ends when its socket is closed (10038) or the stack is destroyed (10053).
// kestro_pos_simulated.exe runs on it too, in the world of its simulated_bluetooth.txt.
#ifndef KESTRO_STANDINS_BLUETOOTH_SIMULATED_BLUETOOTH_STACK_H_
#define KESTRO_STANDINS_BLUETOOTH_SIMULATED_BLUETOOTH_STACK_H_

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "thermal_printer/bluetooth_stack.h"

namespace kestro_standin {

// Carried by every executable that links the simulator, and used in its diagnostics; a test
// checks that the product executable does not contain it.
extern const char kSimulatedBluetoothMarker[];

// How one printer behaves; change it at any time with SetPrinter.
struct PrinterBehaviour {
  int32_t connect_error = 0;     // connect() fails with this code when non-zero
  int32_t max_part = INT32_MAX;  // most bytes one send() takes; 0: send() takes nothing
  int32_t stalled_error = 0;     // what WSAGetLastError reads after a send() that took nothing
  int32_t send_error = 0;        // every send() fails with this code when non-zero
  bool keep_bytes = true;        // false: count bytes without reading them
  int32_t connect_time_ms = 0;   // connect() takes this long, whether it succeeds or fails
  int32_t bytes_per_second = 0;  // a part takes real time at this rate; 0: no time at all
  int64_t drop_after = -1;       // the link drops once this many bytes were taken since the
                                 // connect (-1: never); later sends fail with drop_error
  int32_t drop_error = kestro::kWsaConnectionReset;
  int64_t close_after = -1;     // the printer closes the link once this many bytes were taken
                                // since the connect (-1: never): end of stream, then drop_error
  int64_t stall_after = -1;     // the printer takes nothing more once this many bytes were
                                // taken since the connect (-1: never)
  bool honour_timeouts = true;  // false: blocking send() and recv() ignore SO_SNDTIMEO/RCVTIMEO
  std::vector<uint8_t> says;    // what the printer sends the host right after each connect
};

// Called with every part a printer takes, in order, under the stack's lock.
using AcceptedBytesSink = std::function<void(uint64_t address, const uint8_t* data, size_t size)>;

// A device the radio remembers.
struct SimulatedDevice {
  uint64_t address = 0;
  std::u16string name;
  uint32_t class_of_device = 0;
  bool connected = false;
  bool remembered = false;
  bool authenticated = false;
};

class SimulatedBluetoothStack : public kestro::BluetoothStack {
 public:
  SimulatedBluetoothStack();
  ~SimulatedBluetoothStack() override;

  // ---- Configuration ----
  // A printer at address; connects to addresses without one time out (10060).
  void SetPrinter(uint64_t address, PrinterBehaviour behaviour = PrinterBehaviour());
  // The printer was switched off and on: every socket open to it fails its next send with
  // error, while new connections work.
  void DropLinks(uint64_t address, int32_t error = kestro::kWsaConnectionReset);
  void SetStartupError(int32_t code);      // WSAStartup returns it (0: success)
  void SetNonBlockingError(int32_t code);  // ioctlsocket fails with it (0: success)
  void SetRadioPresent(bool present);
  void AddDevice(const SimulatedDevice& device);
  void SetClock(int64_t ticks);
  // Run on the calling thread, outside the stack's lock, when connect() or send() starts for a
  // printer; tests block here to hold an operation open.
  void SetConnectHook(std::function<void(uint64_t address)> hook);
  void SetSendHook(std::function<void(uint64_t address)> hook);
  void SetAcceptedBytesSink(AcceptedBytesSink sink);

  // ---- Inspection ----
  // Every call in order, e.g. "socket(32, 1, 3) = 1001"; see the .cpp for each form.
  std::vector<std::string> calls() const;
  std::vector<std::string> TakeCalls();  // calls() then forget them
  // Misuse a real stack would not forgive, one line each.
  std::vector<std::string> faults() const;
  std::vector<uint8_t> Received(uint64_t address) const;
  uint64_t ReceivedCount(uint64_t address) const;
  int SuccessfulConnects(uint64_t address) const;
  int open_sockets() const;
  int open_handles() const;
  int winsock_starts() const;  // WSAStartup successes not yet cleaned up

  // ---- kestro::BluetoothStack ----
  int32_t StartWinsock(uint16_t version) override;
  int32_t CleanupWinsock() override;
  kestro::SocketHandle OpenSocket(int32_t family, int32_t type, int32_t protocol) override;
  int32_t SetSocketOption(kestro::SocketHandle socket, int32_t level, int32_t name,
                          const uint8_t* value, int32_t length) override;
  int32_t ConnectSocket(kestro::SocketHandle socket, const uint8_t* address,
                        int32_t length) override;
  int32_t Send(kestro::SocketHandle socket, const uint8_t* data, int32_t length,
               int32_t flags) override;
  int32_t CloseSocket(kestro::SocketHandle socket) override;
  int32_t LastSocketError() override;
  int32_t IoctlSocket(kestro::SocketHandle socket, uint32_t command, uint32_t* argument) override;
  int32_t Select(kestro::SocketSet* read, kestro::SocketSet* write, kestro::SocketSet* except,
                 const kestro::WaitTime* timeout) override;
  int32_t GetSocketOption(kestro::SocketHandle socket, int32_t level, int32_t name, uint8_t* value,
                          int32_t* length) override;
  int32_t Receive(kestro::SocketHandle socket, uint8_t* data, int32_t length,
                  int32_t flags) override;
  kestro::StackHandle FindFirstRadio(const kestro::RadioSearchParams& params,
                                     kestro::StackHandle* radio) override;
  bool FindRadioClose(kestro::StackHandle find) override;
  kestro::StackHandle FindFirstDevice(const kestro::DeviceSearchParams& params,
                                      kestro::DeviceInfo* info) override;
  bool FindNextDevice(kestro::StackHandle find, kestro::DeviceInfo* info) override;
  bool FindDeviceClose(kestro::StackHandle find) override;
  bool CloseHandle(kestro::StackHandle handle) override;
  int64_t SystemTimeTicks() override;
  int64_t MonotonicMilliseconds() override;

 private:
  using Clock = std::chrono::steady_clock;
  struct Printer {
    PrinterBehaviour behaviour;
    std::vector<uint8_t> received;
    uint64_t received_count = 0;
    int connects = 0;
  };
  struct Socket {
    uint64_t serial = 0;  // never reused, unlike the handle: tells a reopened handle apart
    uint64_t peer = 0;    // 0 until connected
    int32_t broken_error = 0;
    int64_t accepted = 0;             // bytes taken since the connect
    uint32_t send_timeout_ms = 0;     // SO_SNDTIMEO; 0 waits for ever
    uint32_t receive_timeout_ms = 0;  // SO_RCVTIMEO; 0 waits for ever
    int stalled_sends = 0;            // sends in a row that took nothing
    bool non_blocking = false;
    uint64_t connecting_to = 0;      // a non-blocking connect in progress, until connect_done
    Clock::time_point connect_done;  // when it completes
    bool connect_failed = false;     // it failed: the exception set reports it
    bool nothing_sent = false;       // connected, no send yet: the write set reports the connect
    int32_t pending_error = 0;       // SO_ERROR
    Clock::time_point busy_until;    // the printer is still taking the last non-blocking part
    std::vector<uint8_t> unread;     // what the printer said and the host has not read
  };
  // What one send() will do once its time has passed: fail with error, or take `taken` bytes
  // (none at all when the printer takes nothing).
  struct SendOutcome {
    int32_t error = 0;
    int32_t taken = 0;
    int64_t delay_ms = 0;
    bool stalled = false;
  };
  // Why a blocking wait ended.
  enum class WaitEnd { kReady, kDeadline, kClosed, kStackGone };
  enum class HandleKind { kRadioFind, kRadio, kDeviceFind };
  struct Handle {
    HandleKind kind;
    std::vector<SimulatedDevice> pending;  // device searches: devices still to return
  };

  void Record(const std::string& call);  // mutex_ held
  void Fault(const std::string& fault);  // mutex_ held
  kestro::StackHandle NewHandle(HandleKind kind);
  bool CloseHandleOfKind(kestro::StackHandle handle, HandleKind kind, const char* call);
  static int32_t Fail(int32_t code);  // sets the thread's last error, returns kSocketError
  static SendOutcome PlanSend(const Socket& socket, const PrinterBehaviour& behaviour,
                              int32_t length);
  void TakeBytes(Socket& socket, uint64_t peer, const uint8_t* data, int32_t taken);  // locked
  // Completes a non-blocking connect whose time has come, as a blocking one ends.  Locked.
  void Settle(Socket& socket, Clock::time_point now);
  // The connect's result at its end: 0, or the code it fails with.  Locked.
  int32_t ConnectResult(uint64_t peer) const;
  void Connected(Socket& socket, uint64_t peer);  // locked
  // Blocks the caller, with the lock released, until ready() holds, deadline passes, the
  // socket (by serial) is closed or the stack is being destroyed; rechecks at wake_at too.
  WaitEnd Wait(std::unique_lock<std::mutex>& lock, kestro::SocketHandle handle, uint64_t serial,
               const Clock::time_point* deadline, const std::function<bool()>& ready,
               const std::function<Clock::time_point()>& wake_at = nullptr);
  bool IsOpen(kestro::SocketHandle handle, uint64_t serial) const;  // locked
  bool PrinterClosed(const Socket& socket) const;                   // close-after reached; locked

  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
  std::vector<std::string> faults_;
  std::map<uint64_t, Printer> printers_;
  std::map<kestro::SocketHandle, Socket> sockets_;
  std::map<kestro::StackHandle, Handle> handles_;
  std::vector<SimulatedDevice> devices_;
  std::condition_variable changed_;  // a socket, printer or the stack's lifetime changed
  kestro::SocketHandle next_socket_ = 1001;
  std::set<kestro::SocketHandle> closed_sockets_;  // handed out again, lowest first
  uint64_t next_serial_ = 1;
  int waiting_ = 0;    // calls blocked in Wait
  bool gone_ = false;  // the destructor has started
  kestro::StackHandle next_handle_ = 501;
  int32_t startup_error_ = 0;
  int32_t non_blocking_error_ = 0;
  int winsock_starts_ = 0;
  bool radio_present_ = true;
  int64_t clock_ = 0;
  std::function<void(uint64_t)> connect_hook_;
  std::function<void(uint64_t)> send_hook_;
  AcceptedBytesSink accepted_sink_;
};

}  // namespace kestro_standin

#endif  // KESTRO_STANDINS_BLUETOOTH_SIMULATED_BLUETOOTH_STACK_H_
