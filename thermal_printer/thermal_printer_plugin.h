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
// on it, and builds the channel the manager's events travel on. Call on the platform thread.
void ThermalPrinterPluginRegisterWithRegistrar(FlutterDesktopPluginRegistrarRef registrar);

namespace kestro {

// The engine's callback for the channel: decodes, logs and dispatches one message and answers
// it exactly once before returning. messenger and user_data are not used.
void HandleChannelMessage(FlutterDesktopMessengerRef messenger,
                          const FlutterDesktopMessage* message, void* user_data);

// Answers through the registered messenger; dropped when handle is null or nothing registered.
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
// creates no manager.
using BluetoothStackFactory = std::function<std::unique_ptr<BluetoothStack>()>;
void SetBluetoothStackFactoryForTesting(BluetoothStackFactory factory);
// Test seam: destroys the manager as process exit does, and forgets the messenger and the
// event channel. The engine callback stays installed.
void ResetThermalPrinterPluginForTesting();

}  // namespace kestro

#endif  // KESTRO_THERMAL_PRINTER_THERMAL_PRINTER_PLUGIN_H_
