// Printing through the real executables: kestro_pos.exe with Wine's Bluetooth (no radio), and
// kestro_pos_simulated.exe in a simulated Bluetooth world, where printing succeeds. The exact
// reply, log and print event bytes on the channel, exactly what each printer received, and a
// window that keeps answering while a printer prints.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/host_harness.h"
#include "tests/wire_forms.h"

namespace kestro_e2e {
namespace {

using ::testing::ElementsAreArray;
using wire::ByteList;
using wire::Call;
using wire::Map;
using wire::Str;
using wire::Success;

constexpr char kChannel[] = "com.kestro.pos/thermal_printer";
constexpr char kTimestampMask[] = "tttttttttttttttt";  // the 8 timestamp bytes, in hex
constexpr char kPrinter[] = "00:11:22:AA:BB:01";
constexpr char kPrinterFile[] = "001122AABB01";
constexpr char kOther[] = "00:11:22:AA:BB:02";
constexpr char kOtherFile[] = "001122AABB02";

std::string Send(const std::string& message) {
  return std::string("send ") + kChannel + " " + Hex(message);
}
std::string SendAsync(const std::string& message) {
  return std::string("send-async ") + kChannel + " " + Hex(message);
}
std::string Reply(const std::string& value) {
  return std::string("reply ") + kChannel + " " + Hex(Success(value));
}
std::string Event(const std::string& call) {
  return std::string("event ") + kChannel + " " + Hex(call);
}
// An "onLogMessage" event with its timestamp masked: the map's last value is the timestamp.
std::string LogEvent(const std::string& text) {
  const std::string line = Event(
      Call("onLogMessage", Map({{Str("message"), Str(text)}, {Str("timestamp"), wire::Int64(0)}})));
  return line.substr(0, line.size() - 16) + kTimestampMask;
}
std::vector<std::string> LogEvents(const std::vector<std::string>& texts) {
  std::vector<std::string> lines;
  for (const std::string& text : texts) lines.push_back(LogEvent("BluetoothManager: " + text));
  return lines;
}
std::vector<std::string> SocketLogEvents(const std::string& address) {
  return LogEvents({"CreateRfcommSocket for " + address, "Socket created successfully",
                    "Attempting RFCOMM connect...", "RFCOMM connection successful!"});
}

std::string AddressArguments(const std::string& address) {
  return Map({{Str("macAddress"), Str(address)}, {Str("printerUuid"), Str("printer-1")}});
}
std::string PrintCall(const std::string& address, const std::string& job,
                      const std::string& bytes) {
  return Call("printBle", Map({{Str("macAddress"), Str(address)},
                               {Str("printerUuid"), Str("printer-1")},
                               {Str("jobUuid"), Str(job)},
                               {Str("bytes"), ByteList(bytes)}}));
}
std::string PrintSucceeded(const std::string& job) {
  return Event(Call("onPrintSuccessWindows",
                    Map({{Str("jobUuid"), Str(job)}, {Str("printerUuid"), Str("printer-1")}})));
}
std::string PrintFailed(const std::string& job, const std::string& error) {
  return Event(
      Call("onPrintFailedWindows", Map({{Str("error"), Str(error)}, {Str("jobUuid"), Str(job)}})));
}

std::string Receipt(const std::string& title, size_t size) {
  std::string bytes = "\x1b@\x1b\x61\x01" + title + "\n";
  while (bytes.size() < size) bytes += static_cast<char>('0' + bytes.size() % 10);
  return bytes.substr(0, size);
}

std::vector<std::string> Join(const std::vector<std::vector<std::string>>& parts) {
  std::vector<std::string> joined;
  for (const auto& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

// The traffic of a job that opens a new link and prints all of `bytes`.
std::vector<std::string> PrintedOnNewLink(const std::string& job, const std::string& bytes) {
  const std::string size = std::to_string(bytes.size());
  return Join({{Send(PrintCall(kPrinter, job, bytes))},
               LogEvents({"Printing " + size + " bytes to " + kPrinter}),
               SocketLogEvents(kPrinter),
               LogEvents({"Print successful, sent " + size + " bytes"}),
               {PrintSucceeded(job), Reply(wire::kTrue)}});
}

// Runs an executable on a script that starts with "setup": kestro_pos.exe with Wine's Bluetooth
// when there is no world, else kestro_pos_simulated.exe in that world.
class PrintingTest : public ::testing::Test {
 protected:
  void Start(const std::optional<std::string>& world, const std::vector<std::string>& lines) {
    std::string script = Send(Call("setup")) + "\n";
    for (const std::string& line : lines) script += line + "\n";
    folder_ = std::make_unique<RunFolder>(script);
    if (world) folder_->UseSimulatedBluetooth(*world);
    host_ = std::make_unique<HostProcess>(*folder_);
  }

  // Sends the calls and closes; returns the channel traffic after the reply to "setup", log
  // timestamps masked.
  std::vector<std::string> Run(const std::optional<std::string>& world,
                               const std::vector<std::string>& calls) {
    std::vector<std::string> lines;
    for (const std::string& call : calls) lines.push_back(Send(call));
    lines.push_back("close");
    Start(world, lines);
    EXPECT_EQ(host_->WaitForExit(60000), 0u);
    standard_error_ = host_->StandardErrorLines();
    return Traffic();
  }

  std::vector<std::string> Traffic() {
    std::vector<std::string> traffic;
    bool after_setup = false;
    for (const std::string& line : folder_->Transcript()) {
      const bool channel_line = line.rfind("send ", 0) == 0 || line.rfind("reply", 0) == 0 ||
                                line.rfind("event ", 0) == 0;
      if (!channel_line) continue;
      if (line == Reply(wire::kTrue) && !after_setup) {
        after_setup = true;
        continue;
      }
      if (!after_setup) continue;
      if (line.rfind(Event(Str("onLogMessage")), 0) == 0) {
        timestamps_.push_back(Timestamp(line));
        traffic.push_back(line.substr(0, line.size() - 16) + kTimestampMask);
      } else {
        traffic.push_back(line);
      }
    }
    return traffic;
  }

  // The last 8 bytes of the line: the timestamp, little-endian.
  static int64_t Timestamp(const std::string& line) {
    uint64_t value = 0;
    for (size_t i = 0; i < 8; ++i) {
      value |= std::stoull(line.substr(line.size() - 16 + 2 * i, 2), nullptr, 16) << (8 * i);
    }
    return static_cast<int64_t>(value);
  }

  void TearDown() override {
    EXPECT_EQ(standard_error_, expected_standard_error_);
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    for (int64_t timestamp : timestamps_) {
      EXPECT_LT(std::llabs(now - timestamp), 60000) << "log timestamp " << timestamp;
    }
  }

  size_t Count(const std::string& line) const {
    const std::vector<std::string> transcript = folder_->Transcript();
    return static_cast<size_t>(std::count(transcript.begin(), transcript.end(), line));
  }

  std::unique_ptr<RunFolder> folder_;
  std::unique_ptr<HostProcess> host_;
  std::vector<int64_t> timestamps_;
  std::vector<std::string> standard_error_;
  std::vector<std::string> expected_standard_error_;
};
using SimulatedPrintingTest = PrintingTest;
// A slow printer must never freeze the till: the window answers, other printers go first, and
// closing the window still lets the receipt finish.
using PrintingInTheBackgroundTest = PrintingTest;

// The platform's Bluetooth under Wine has no RFCOMM: the job fails at socket() and says so.
TEST_F(PrintingTest, WithoutBluetoothTheJobFailsAndIsExplained) {
  const std::string print = PrintCall(kPrinter, "job-1", "\x1b@x\n");
  EXPECT_THAT(Run(std::nullopt, {Call("checkBleEnabled"), print}),
              ElementsAreArray(Join({
                  {Send(Call("checkBleEnabled")), Reply(wire::kFalse), Send(print)},
                  LogEvents({std::string("Printing 4 bytes to ") + kPrinter,
                             std::string("CreateRfcommSocket for ") + kPrinter,
                             "socket() failed with error 10043", "Failed to connect for print"}),
                  {PrintFailed("job-1", "Connection failed"), Reply(wire::kFalse)},
              })));
}

TEST_F(SimulatedPrintingTest, ListsDevicesWithEveryKeyAndExactBytes) {
  const std::string world =
      "device 00:11:22:AA:BB:01 0x040680 remembered,authenticated Принтер Кухня\n"
      "device 00:11:22:AA:BB:02 0x5A020C remembered Phone\n";
  const std::string devices = wire::List({
      Map({{Str("deviceCl"), wire::Int32(0x040680)},
           {Str("deviceName"), Str("Принтер Кухня")},
           {Str("isConnected"), wire::kFalse},
           {Str("isPaired"), wire::kTrue},
           {Str("macAddress"), Str(kPrinter)},
           {Str("majDeviceCl"), wire::Int32(6)}}),
      Map({{Str("deviceCl"), wire::Int32(0x5A020C)},
           {Str("deviceName"), Str("Phone")},
           {Str("isConnected"), wire::kFalse},
           {Str("isPaired"), wire::kFalse},
           {Str("macAddress"), Str(kOther)},
           {Str("majDeviceCl"), wire::Int32(2)}}),
  });
  EXPECT_THAT(Run(world, {Call("checkBleEnabled"), Call("getBleDevices")}),
              ElementsAreArray(Join({
                  {Send(Call("checkBleEnabled")), Reply(wire::kTrue), Send(Call("getBleDevices"))},
                  LogEvents({"Getting paired devices...",
                             std::string("Found device: Принтер Кухня (") + kPrinter + ")",
                             std::string("Found device: Phone (") + kOther + ")",
                             "Found 2 paired devices"}),
                  {Reply(devices)},
              })));
}

TEST_F(SimulatedPrintingTest, ConnectsReusesAndPrints) {
  const std::string receipt = Receipt("KESTRO", 300);
  const std::string connect = Call("connectBle", AddressArguments("00:11:22:aa:bb:01"));
  EXPECT_THAT(Run(std::string("printer ") + kPrinter + "\n",
                  {connect, connect, PrintCall(kPrinter, "job-1", receipt),
                   Call("isBleConnected", AddressArguments(kPrinter))}),
              ElementsAreArray(Join({
                  {Send(connect)},
                  LogEvents({std::string("Connecting to ") + kPrinter}),
                  SocketLogEvents(kPrinter),
                  LogEvents({std::string("Connected successfully to ") + kPrinter}),
                  {Reply(wire::kTrue), Send(connect)},
                  LogEvents({std::string("Connecting to ") + kPrinter,
                             std::string("Already connected to ") + kPrinter}),
                  {Reply(wire::kTrue), Send(PrintCall(kPrinter, "job-1", receipt))},
                  LogEvents({std::string("Printing 300 bytes to ") + kPrinter,
                             "Print successful, sent 300 bytes"}),
                  {PrintSucceeded("job-1"), Reply(wire::kTrue)},
                  {Send(Call("isBleConnected", AddressArguments(kPrinter))), Reply(wire::kTrue)},
              })));
  EXPECT_EQ(folder_->PrinterBytes(kPrinterFile), receipt);
}

TEST_F(SimulatedPrintingTest, LargeJobArrivesInPartsAtThePrintersRate) {
  const std::string job = Receipt("LOGO", 64 * 1024);
  const std::vector<std::string> traffic =
      Run(std::string("printer ") + kPrinter + " rate=32768 max-part=4096\n",
          {PrintCall(kPrinter, "job-64k", job)});
  EXPECT_THAT(traffic, ElementsAreArray(PrintedOnNewLink("job-64k", job)));
  EXPECT_TRUE(folder_->PrinterBytes(kPrinterFile) == job);
  // Sixteen parts of 125 ms each between the first and the last log line of the job.
  ASSERT_EQ(timestamps_.size(), 6u);
  EXPECT_GE(timestamps_.back() - timestamps_.front(), 1900);
}

TEST_F(SimulatedPrintingTest, RefusedConnectIsExplained) {
  const std::string connect = Call("connectBle", AddressArguments(kPrinter));
  EXPECT_THAT(
      Run(std::string("printer ") + kPrinter + " connect=10061 connect-ms=100\n", {connect}),
      ElementsAreArray(Join({
          {Send(connect)},
          LogEvents({std::string("Connecting to ") + kPrinter,
                     std::string("CreateRfcommSocket for ") + kPrinter,
                     "Socket created successfully", "Attempting RFCOMM connect...",
                     "connect() failed with error 10061 (Connection refused - printer may not "
                     "support SPP)",
                     "Failed to create RFCOMM socket"}),
          {Reply(wire::kFalse)},
      })));
  EXPECT_EQ(folder_->PrinterBytes(kPrinterFile), "");
}

TEST_F(SimulatedPrintingTest, StaleLinkFailsOneJobAndTheNextReconnects) {
  const std::string first = Receipt("FIRST", 200);
  const std::string third = Receipt("THIRD", 150);
  // The link drops right after the first job: the printer was switched off and on.
  EXPECT_THAT(Run(std::string("printer ") + kPrinter + " drop-after=200\n",
                  {PrintCall(kPrinter, "job-1", first), PrintCall(kPrinter, "job-2", "\x1b@\n"),
                   PrintCall(kPrinter, "job-3", third)}),
              ElementsAreArray(Join({
                  PrintedOnNewLink("job-1", first),
                  {Send(PrintCall(kPrinter, "job-2", "\x1b@\n"))},
                  LogEvents({std::string("Printing 3 bytes to ") + kPrinter,
                             "Send failed with error: 10054"}),
                  {PrintFailed("job-2", "Send failed: 10054"), Reply(wire::kFalse)},
                  PrintedOnNewLink("job-3", third),
              })));
  EXPECT_EQ(folder_->PrinterBytes(kPrinterFile), first + third);
}

TEST_F(SimulatedPrintingTest, MalformedWorldIsNamedOnStandardErrorAndHasNoRadio) {
  EXPECT_THAT(Run("radio present\nprinter 00:11 rate=5\n", {Call("checkBleEnabled")}),
              ElementsAreArray({Send(Call("checkBleEnabled")), Reply(wire::kFalse)}));
  std::string folder;  // ASCII: under the temporary directory
  for (wchar_t c : folder_->path()) folder += static_cast<char>(c);
  expected_standard_error_ = {"Kestro simulated Bluetooth: " + folder +
                              "\\simulated_bluetooth.txt line 2: bad address \"00:11\"; the "
                              "simulated radio is off"};
}

TEST_F(PrintingInTheBackgroundTest, TheWindowAnswersWhileAPrinterPrints) {
  const std::string job = Receipt("LOGO", 64000);  // 6.4 s at 10 000 bytes per second
  const std::string print = PrintCall(kPrinter, "job-slow", job);
  Start(std::string("printer ") + kPrinter + " rate=10000 max-part=500\n",
        {SendAsync(print), "await-replies", "wait 1000", "close"});
  const HWND window = WaitForProcessWindow(host_->process_id(), kWindowClass, kTitle);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(folder_->WaitForTranscriptLine(Send(print)));

  // The longest stretch without an answered probe: from the start of the first unanswered probe
  // (or of a slow one) to the next answer. Wine gives up on a probe after 1 s, and at once after
  // 5 s of silence, so one probe's time alone would hide a long freeze.
  using Clock = std::chrono::steady_clock;
  const auto ms = [](Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
  };
  const Clock::time_point job_start = Clock::now();
  Clock::time_point silence_start;
  bool silent = false;
  double longest = 0;
  int probes = 0;
  // Until the job was answered and, if the window was silent then, until it answers again.
  while (Count(Reply(wire::kTrue)) < 2 || silent) {
    const Clock::time_point sent = Clock::now();
    DWORD_PTR result = 0;
    const bool answered =
        ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result) != 0;
    const Clock::time_point now = Clock::now();
    ++probes;
    if (!silent) silence_start = sent;
    silent = !answered;
    if (answered) longest = std::max(longest, ms(silence_start, now));
    ASSERT_LT(ms(job_start, now), 30000.0) << "the job never ended";
    ::Sleep(50);
  }
  const double job_ms = ms(job_start, Clock::now());
  std::cout << "Longest stretch without an answered probe: " << longest << " ms over " << probes
            << " probes in " << job_ms << " ms\n";
  EXPECT_LE(longest, 100.0);
  EXPECT_GE(job_ms, 6000.0);
  EXPECT_EQ(host_->WaitForExit(), 0u);
  EXPECT_TRUE(folder_->PrinterBytes(kPrinterFile) == job);
}

TEST_F(PrintingInTheBackgroundTest, ASecondPrintersJobIsAnsweredFirst) {
  const std::string slow_bytes = Receipt("SLOW", 6000);
  const std::string quick_bytes = Receipt("QUICK", 100);
  const std::string slow = PrintCall(kPrinter, "job-slow", slow_bytes);
  const std::string quick = PrintCall(kOther, "job-quick", quick_bytes);
  Start(std::string("printer ") + kPrinter + " rate=4000 max-part=7\nprinter " + kOther +
            " max-part=5\n",
        {SendAsync(slow), SendAsync(quick), "await-replies", "close"});
  ASSERT_EQ(host_->WaitForExit(), 0u);
  // Both replies read "true"; the slow job's reply can only follow its own success event, so the
  // first reply before that event answers the quick job.
  const std::vector<std::string> after_quick_send = folder_->TranscriptAfter(Send(quick));
  const auto quick_done =
      std::find(after_quick_send.begin(), after_quick_send.end(), PrintSucceeded("job-quick"));
  const auto slow_done =
      std::find(after_quick_send.begin(), after_quick_send.end(), PrintSucceeded("job-slow"));
  ASSERT_NE(slow_done, after_quick_send.end());
  ASSERT_LT(quick_done, slow_done);
  EXPECT_NE(std::find(quick_done, slow_done, Reply(wire::kTrue)), slow_done);
  EXPECT_EQ(std::count(after_quick_send.begin(), after_quick_send.end(), Reply(wire::kTrue)), 2);
  // While both printed, each received only its own bytes.
  EXPECT_TRUE(folder_->PrinterBytes(kPrinterFile) == slow_bytes);
  EXPECT_EQ(folder_->PrinterBytes(kOtherFile), quick_bytes);
}

TEST_F(PrintingInTheBackgroundTest, ClosingTheWindowLetsTheRunningJobFinish) {
  const std::string job = Receipt("LAST", 8000);  // 2 s at 4 000 bytes per second
  const std::string print = PrintCall(kPrinter, "job-last", job);
  Start(std::string("printer ") + kPrinter + " rate=4000 max-part=400\n",
        {SendAsync(print), "wait 300", "close"});
  EXPECT_EQ(host_->WaitForExit(30000), 0u);
  EXPECT_TRUE(folder_->PrinterBytes(kPrinterFile) == job);
  // The window was gone when the job ended: its reply and events were dropped, not sent.
  EXPECT_EQ(Count(PrintSucceeded("job-last")), 0u);
  EXPECT_EQ(Count(Reply(wire::kTrue)), 1u);
}

TEST(SimulatedExecutableTest, OnlyTheTwinCarriesTheSimulator) {
  const auto contains_marker = [](const wchar_t* name) {
    std::ifstream file((BinaryFolder() + L"\\" + name).c_str(), std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    EXPECT_GT(bytes.str().size(), 100000u) << name;
    return bytes.str().find("Kestro simulated Bluetooth") != std::string::npos;
  };
  EXPECT_FALSE(contains_marker(L"kestro_pos.exe"));
  EXPECT_TRUE(contains_marker(L"kestro_pos_simulated.exe"));
}

}  // namespace
}  // namespace kestro_e2e
