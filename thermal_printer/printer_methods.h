// The application's method calls on the printer channel, translated once on arrival: each call
// becomes an answer to give at once or a typed job for the manager, its arguments read and
// checked here and nowhere else. Pure: no manager, no engine, no log line.
#ifndef KESTRO_THERMAL_PRINTER_PRINTER_METHODS_H_
#define KESTRO_THERMAL_PRINTER_PRINTER_METHODS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "engine_client/codec/encodable_value.h"
#include "engine_client/codec/method_call.h"
#include "thermal_printer/bluetooth_address.h"

namespace kestro {

// A reply given on arrival: a success envelope carrying value, or an error envelope with code,
// message and no details.
struct ImmediateAnswer {
  bool is_error = false;
  flutter::EncodableValue value;
  std::string code;
  std::string message;
};

// The bytes of a print job. A byte list is borrowed where it lies in the decoded call, which the
// buffer keeps alive (a receipt can be megabytes; a copy would double the work); a generic list is
// converted once, and the call with it released.
using PrintBuffer = std::shared_ptr<const std::vector<uint8_t>>;

struct SetupJob {};
struct DestroyJob {};
struct RadioCheckJob {};
struct DeviceListJob {};
struct ConnectJob {
  NormalizedAddress address;
  std::string printer_uuid;  // read, not used for connecting
};
struct DisconnectJob {
  NormalizedAddress address;
};
struct StatusJob {
  NormalizedAddress address;
};
struct PrintJob {
  NormalizedAddress address;
  std::string printer_uuid;
  std::string job_uuid;
  PrintBuffer bytes;  // never empty
};

// What the manager is asked to do; whether a manager exists is decided when the job runs.
using PrinterJob = std::variant<SetupJob, DestroyJob, RadioCheckJob, DeviceListJob, ConnectJob,
                                DisconnectJob, StatusJob, PrintJob>;

using TranslatedCall = std::variant<ImmediateAnswer, PrinterJob>;

// Matches the method name exactly (aliases included) and checks the arguments: faults, names
// that need no manager and names that match nothing are answered; the rest become jobs. A key
// holding another kind of value than expected reads as absent.
TranslatedCall TranslateMethodCall(
    std::unique_ptr<flutter::MethodCall<flutter::EncodableValue>> call);

}  // namespace kestro

#endif  // KESTRO_THERMAL_PRINTER_PRINTER_METHODS_H_
