// The host's own plug-in: answers the application's method calls on
// "com.kestro.pos/thermal_printer" with the single BluetoothManager behind it.
#ifndef KESTRO_THERMAL_PRINTER_THERMAL_PRINTER_PLUGIN_H_
#define KESTRO_THERMAL_PRINTER_THERMAL_PRINTER_PLUGIN_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine_client/codec/encodable_value.h"
#include "engine_client/engine_library/flutter_desktop_api.h"
#include "thermal_printer/bluetooth_stack.h"

// Keeps the registrar's messenger for the life of the process, installs the channel callback
// on it, and builds the channel the manager's events travel on. Call on the UI thread, which
// from then on is the only thread that calls the engine for the plug-in.
void ThermalPrinterPluginRegisterWithRegistrar(FlutterDesktopPluginRegistrarRef registrar);

namespace kestro {

// The engine's callback for the channel, on the UI thread: decodes, logs and checks one message,
// answers at once what needs no manager (and "BUSY" when too much work waits), and queues the
// rest; a worker answers it later through the UI thread. Every message is answered exactly once
// until engine calls stop. messenger and user_data are not used.
void HandleChannelMessage(FlutterDesktopMessengerRef messenger,
                          const FlutterDesktopMessage* message, void* user_data);

// UI thread, before the view controller is released: from then on no reply or event reaches the
// engine; work keeps running and its results are dropped.
void StopThermalPrinterEngineCalls();

// UI thread, after the message loop ended: drops work not started (one line each,
// "ThermalPrinterPlugin: Dropped <method> at shutdown"), waits for the running jobs however long
// they take, and joins the workers. Later messages are dropped with the same line. Without this
// call the same happens when the plug-in's process-wide state is destroyed at exit.
void ShutDownThermalPrinterPlugin();

// UI thread. Answers through the registered messenger; dropped when handle is null, nothing is
// registered or engine calls stopped.
void SendReply(const uint8_t* bytes, size_t size,
               const FlutterDesktopMessageResponseHandle* handle);
// A success envelope carrying value (null encodes as null).
void SendSuccess(const FlutterDesktopMessageResponseHandle* handle,
                 const flutter::EncodableValue* value);
// An error envelope with code and message and no details.
void SendError(const FlutterDesktopMessageResponseHandle* handle, const std::string& code,
               const std::string& message);

// Test seam: where "setup" gets the manager's Bluetooth stack. Null restores the default: the
// executable's NewDefaultBluetoothStack on Windows; elsewhere there is none and "setup" then
// creates no manager. Call while no work runs.
using BluetoothStackFactory = std::function<std::unique_ptr<BluetoothStack>()>;
void SetBluetoothStackFactoryForTesting(BluetoothStackFactory factory);
#ifndef _WIN32
// Test seam (the native build's UI thread): waits until no work waits or runs (unless
// wait_until_idle is false), then runs every reply and event the workers handed over so far, in
// order, on the calling thread.
void DrainThermalPrinterPluginForTesting(bool wait_until_idle = true);
#endif
// Test seam: joins the workers, destroys the manager as process exit does (handing its last
// events to the engine), and forgets the messenger and the event channel. The engine callback
// stays installed.
void ResetThermalPrinterPluginForTesting();

}  // namespace kestro

#endif  // KESTRO_THERMAL_PRINTER_THERMAL_PRINTER_PLUGIN_H_
