// The thermal printer bridge through the real executable: the application's method calls on
// "com.kestro.pos/thermal_printer" and the exact reply and event bytes, under Wine's Bluetooth
// (no stack, no radio).
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/host_harness.h"
#include "tests/wire_forms.h"

namespace kestro_e2e {
namespace {

using ::testing::ElementsAreArray;

constexpr char kChannel[] = "com.kestro.pos/thermal_printer";

using wire::ByteList;
using wire::Call;
using wire::Error;
using wire::kFalse;
using wire::kNull;
using wire::kTrue;
using wire::Map;
using wire::Str;
using wire::Success;
const std::string kEmptyList = wire::List({});

struct Exchange {
  std::string message;
  std::string reply;
};

TEST(PrinterBridgeTest, AnswersEveryCallOnceWithTheExactReplyBytes) {
  const std::string print_arguments = Map({{Str("macAddress"), Str("00:11:22:33:44:55")},
                                           {Str("printerUuid"), Str("printer-1")},
                                           {Str("jobUuid"), Str("job-1")},
                                           {Str("bytes"), ByteList("\x1b@Kestro\n")}});
  const std::vector<Exchange> exchanges = {
      {Call("noSuchMethod"), Success(kNull)},
      {Call("setupwindows"), Success(kNull)},  // names are case-sensitive
      {Call("checkBleEnabled"), Success(kFalse)},
      {Call("getPairedDevices"), Success(kEmptyList)},
      {Call("startBleDiscovery"), Success(Map({{Str("success"), kTrue}}))},
      {Call("connectBle"), Error("INVALID_ARGS", "Expected map arguments")},
      {std::string("\x01", 1), Error("DECODE_ERROR", "Failed to decode method call")},
      {Call("printBle", print_arguments), Success(kFalse)},  // no manager yet
      {Call("setup"), Success(kTrue)},
      {Call("checkBleEnabled"), Success(kFalse)},  // Wine has no Bluetooth radio
      {Call("getPairedDevices"), Success(kEmptyList)},
      {Call("printBle", Map({{Str("macAddress"), Str("")}, {Str("bytes"), ByteList("")}})),
       Error("INVALID_ARGS", "macAddress is required")},
      {Call("printBle", Map({{Str("macAddress"), Str("00:11:22:33:44:55")}})),
       Error("INVALID_ARGS", "bytes is required")},
      {Call("printBle", print_arguments), Success(kFalse)},  // the connect fails
      {Call("destroy"), Success(kTrue)},
  };
  std::string script;
  for (const Exchange& exchange : exchanges) {
    script += std::string("send ") + kChannel + " " + Hex(exchange.message) + "\n";
  }
  script += "close\n";

  RunFolder folder(script);
  HostProcess host(folder);
  ASSERT_EQ(host.WaitForExit(), 0u);

  std::vector<std::string> expected;
  for (const Exchange& exchange : exchanges) {
    expected.push_back(std::string("send ") + kChannel + " " + Hex(exchange.message));
    expected.push_back(std::string("reply ") + kChannel + " " + Hex(exchange.reply));
  }
  std::vector<std::string> traffic;
  std::vector<std::string> events;
  for (const std::string& line : folder.Transcript()) {
    if (line.rfind("send ", 0) == 0 || line.rfind("reply", 0) == 0) traffic.push_back(line);
    if (line.rfind("event ", 0) == 0) events.push_back(line);
  }
  // Exactly one reply per call, in order: no "none", no "reply-duplicate".
  EXPECT_THAT(traffic, ElementsAreArray(expected));

  // The manager's events go to the application on the same channel: log lines, and the failed
  // job once, right before the reply to the print that failed.
  const std::string event_prefix = std::string("event ") + kChannel + " ";
  // onLogMessage with the map {"message": text, "timestamp": milliseconds}.
  const std::string log_event_prefix =
      event_prefix + Hex(Str("onLogMessage") + std::string("\x0d\x02", 2) + Str("message"));
  const std::string print_failed =
      event_prefix + Hex(Call("onPrintFailedWindows", Map({{Str("error"), Str("Connection failed")},
                                                           {Str("jobUuid"), Str("job-1")}})));
  int failed_events = 0;
  for (const std::string& event : events) {
    if (event == print_failed) {
      ++failed_events;
      continue;
    }
    EXPECT_EQ(event.rfind(log_event_prefix, 0), 0u) << event;
  }
  EXPECT_EQ(failed_events, 1);
  EXPECT_GT(events.size(), 1u);

  std::vector<std::string> transcript = folder.Transcript();
  const auto last_print =
      std::find(transcript.rbegin(), transcript.rend(),
                std::string("send ") + kChannel + " " + Hex(Call("printBle", print_arguments)));
  ASSERT_NE(last_print, transcript.rend());
  const auto reply = last_print.base();  // the line after the last print's send
  const auto failed = std::find(reply, transcript.end(), print_failed);
  ASSERT_NE(failed, transcript.end());
  ASSERT_NE(failed + 1, transcript.end());
  EXPECT_EQ(*(failed + 1), std::string("reply ") + kChannel + " " + Hex(Success(kFalse)));
}

}  // namespace
}  // namespace kestro_e2e
