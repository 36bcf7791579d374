// The host's own plug-in: answers the application's method calls on
// "com.kestro.pos/thermal_printer" with the Bluetooth manager behind it, doing the manager's work
// on worker threads so the UI thread never waits on a printer.
#ifndef KESTRO_THERMAL_PRINTER_THERMAL_PRINTER_PLUGIN_H_
#define KESTRO_THERMAL_PRINTER_THERMAL_PRINTER_PLUGIN_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine_client/codec/encodable_value.h"
#include "engine_client/engine_library/flutter_desktop_api.h"
#include "engine_client/messaging/method_channel.h"
#include "thermal_printer/bluetooth_manager.h"
#include "thermal_printer/bluetooth_stack.h"
#include "thermal_printer/engine_link.h"
#include "thermal_printer/printer_methods.h"
#include "thermal_printer/printer_work_scheduler.h"
#include "thermal_printer/ui_thread_handoff.h"

// Creates the process's one plug-in on the registrar's messenger the first time; later calls
// change nothing and write nothing. UI thread, which from then on is the only thread that calls
// the engine for the plug-in. The plug-in is never destroyed while the process runs: it outlives
// every worker and every task handed to the UI thread — the one object in the host whose threads
// are not joined before it goes, because it never goes. At exit only its manager's last Dispose
// runs, after the running jobs have finished.
void ThermalPrinterPluginRegisterWithRegistrar(FlutterDesktopPluginRegistrarRef registrar);

namespace kestro {

// The process's plug-in, on the UI thread, before the view controller is released: from then on
// no reply or event reaches the engine and work not started is dropped; running jobs go on and
// their results are dropped. Does nothing before registration.
void StopThermalPrinterEngineCalls();

// The process's plug-in, on the UI thread after the message loop ended: see
// ThermalPrinterPlugin::ShutDown. Does nothing before registration.
void ShutDownThermalPrinterPlugin();

// A new manager's Bluetooth stack; null makes none.
using BluetoothStackFactory = std::function<std::unique_ptr<BluetoothStack>()>;

// Decodes, logs and translates each message on the thread the engine delivers it on (the UI
// thread), answers at once what needs no manager (and "BUSY" when too much work waits), and queues
// the rest for the workers, whose replies and events go back through the UI thread. Every message
// is answered exactly once until engine calls stop. Everything but the workers runs on the UI
// thread, which constructs and destroys the plug-in.
class ThermalPrinterPlugin {
 public:
  // Builds the event channel, then installs the plug-in's callback on messenger's channel and
  // writes "ThermalPrinterPlugin: Registered". The channel's raw callback, not a handler of the
  // messaging layer: a receipt's megabytes are then decoded straight from the engine's buffer.
  // Without a hand-off the work runs on the delivering thread; without a factory "setup" makes no
  // manager. The first "setup" makes the manager, with the factory's stack.
  ThermalPrinterPlugin(FlutterDesktopMessengerRef messenger,
                       std::unique_ptr<UiThreadHandoff> handoff,
                       BluetoothStackFactory stack_factory);
  // Removes the callback, shuts down (ShutDown) and destroys the manager, which disposes it; the
  // hand-off drops what it still holds.
  ~ThermalPrinterPlugin();

  ThermalPrinterPlugin(const ThermalPrinterPlugin&) = delete;
  ThermalPrinterPlugin& operator=(const ThermalPrinterPlugin&) = delete;

  // The window is going: from now on no reply, event or callback change reaches the engine, no
  // work is admitted, and every job not started is dropped as ShutDown drops it. Running jobs go
  // on.
  void StopEngineCalls();

  // Drops every job not started, in arrival order, with the line "ThermalPrinterPlugin: Dropped
  // <method> at shutdown", then waits for the running jobs however long they take and joins the
  // workers. Later messages are dropped with the same line. Idempotent.
  void ShutDown();

  // What the process does last: ShutDown, then the manager's final Dispose if there is one.
  void FinishAtExit();

  // Blocks until no work waits or runs. For tools and tests that drain the bridge.
  void WaitUntilIdle();

 private:
  using ResponseHandle = const FlutterDesktopMessageResponseHandle*;

  static void HandleChannelMessage(FlutterDesktopMessengerRef messenger,
                                   const FlutterDesktopMessage* message, void* user_data);
  void HandleMessage(const FlutterDesktopMessage& message);
  void Schedule(const std::string& method, PrinterJob job, size_t message_size,
                ResponseHandle handle);
  // Stops admitting work and drops what waits, one "Dropped" line each.
  void DropWaitingWork();

  // On a worker: the manager's part, whose result is the success reply.
  flutter::EncodableValue Run(const PrinterJob& job);
  flutter::EncodableValue Run(const SetupJob& job);
  flutter::EncodableValue Run(const DestroyJob& job);
  flutter::EncodableValue Run(const RadioCheckJob& job);
  flutter::EncodableValue Run(const DeviceListJob& job);
  flutter::EncodableValue Run(const ConnectJob& job);
  flutter::EncodableValue Run(const DisconnectJob& job);
  flutter::EncodableValue Run(const StatusJob& job);
  flutter::EncodableValue Run(const PrintJob& job);
  // Encodes on the worker; only the send waits for the UI thread.
  void ReplyFromWorker(ResponseHandle handle, const flutter::EncodableValue& value);

  // UI thread: the reply to one message, dropped when handle is null or the engine is out of
  // reach.
  void SendReply(const uint8_t* bytes, size_t size, ResponseHandle handle) const;
  // A success envelope carrying value (null encodes as null).
  void SendSuccess(ResponseHandle handle, const flutter::EncodableValue* value) const;
  // An error envelope with code and message and no details.
  void SendError(ResponseHandle handle, const std::string& code, const std::string& message) const;

  EngineLink link_;
  std::unique_ptr<UiThreadHandoff> handoff_;  // outlives every messenger that posts to it
  HandedOffMessenger handed_off_;
  std::shared_ptr<flutter::MethodChannel> events_;
  BluetoothStackFactory stack_factory_;
  std::unique_ptr<BluetoothManager>
      manager_;  // touched only by jobs, which never overlap a barrier
  // Last, so its workers are joined before anything they use goes.
  PrinterWorkScheduler scheduler_;
};

}  // namespace kestro

#endif  // KESTRO_THERMAL_PRINTER_THERMAL_PRINTER_PLUGIN_H_
