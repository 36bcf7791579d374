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
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/host_harness.h"
#include "tests/wire_forms.h"

namespace kestro_e2e {
namespace {

using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using wire::Call;
using wire::Map;
using wire::Str;

constexpr char kChannel[] = "com.kestro.pos/thermal_printer";
constexpr char kTimestampMask[] = "tttttttttttttttt";  // the 8 timestamp bytes, in hex
const std::string kPrinter = "00:11:22:AA:BB:01";
const std::string kOther = "00:11:22:AA:BB:02";

// A transcript line of the channel: "send", "send-async", "reply" or "event" with the bytes.
std::string Line(const std::string& kind, const std::string& bytes) {
  return kind + " " + kChannel + " " + Hex(bytes);
}
std::string Reply(const std::string& value) { return Line("reply", wire::Success(value)); }
// The manager's "onLogMessage" events, timestamps masked: the map's last value is the timestamp.
std::vector<std::string> Logs(const std::vector<std::string>& texts) {
  std::vector<std::string> lines;
  for (const std::string& text : texts) {
    const std::string line =
        Line("event", Call("onLogMessage", Map({{Str("message"), Str("BluetoothManager: " + text)},
                                                {Str("timestamp"), wire::Int64(0)}})));
    lines.push_back(line.substr(0, line.size() - 16) + kTimestampMask);
  }
  return lines;
}
std::vector<std::string> SocketLogs(const std::string& address) {
  return Logs({"CreateRfcommSocket for " + address, "Socket created successfully",
               "Attempting RFCOMM connect..."});
}

// The timestamp of a log event's transcript line: its last 8 bytes, little-endian.
int64_t Timestamp(const std::string& line) {
  int64_t timestamp = 0;
  for (size_t i = 0; i < 8; ++i) {
    timestamp |= std::stoll(line.substr(line.size() - 16 + 2 * i, 2), nullptr, 16) << (8 * i);
  }
  return timestamp;
}

std::string AddressArguments(const std::string& address) {
  return Map({{Str("macAddress"), Str(address)}, {Str("printerUuid"), Str("printer-1")}});
}
std::string PrintCall(const std::string& address, const std::string& job,
                      const std::string& bytes) {
  return Call("printBle", Map({{Str("macAddress"), Str(address)},
                               {Str("printerUuid"), Str("printer-1")},
                               {Str("jobUuid"), Str(job)},
                               {Str("bytes"), wire::ByteList(bytes)}}));
}
std::string PrintSucceeded(const std::string& job) {
  return Line("event",
              Call("onPrintSuccessWindows",
                   Map({{Str("jobUuid"), Str(job)}, {Str("printerUuid"), Str("printer-1")}})));
}
std::string PrintFailed(const std::string& job, const std::string& error, int64_t sent = 0) {
  return Line("event", Call("onPrintFailedWindows", Map({{Str("bytesSent"), wire::Int64(sent)},
                                                         {Str("error"), Str(error)},
                                                         {Str("jobUuid"), Str(job)}})));
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

// The traffic of a print job on kPrinter; `new_link` when it opens the link first.
std::vector<std::string> Printed(const std::string& job, const std::string& bytes, bool new_link) {
  const std::string size = std::to_string(bytes.size());
  return Join({{Line("send", PrintCall(kPrinter, job, bytes))},
               Logs({"Printing " + size + " bytes to " + kPrinter}),
               new_link ? SocketLogs(kPrinter) : std::vector<std::string>{},
               new_link ? Logs({"RFCOMM connection successful!"}) : std::vector<std::string>{},
               Logs({"Print successful, sent " + size + " bytes"}),
               {PrintSucceeded(job), Reply(wire::kTrue)}});
}

// Runs an executable on a script that starts with "setup": kestro_pos.exe with Wine's Bluetooth
// when there is no world, else kestro_pos_simulated.exe in that world.
class PrintingTest : public ::testing::Test {
 protected:
  void Start(const std::optional<std::string>& world, const std::vector<std::string>& lines) {
    std::string script = Line("send", Call("setup")) + "\n";
    for (const std::string& line : lines) script += line + "\n";
    folder_ = std::make_unique<RunFolder>(script);
    if (world) folder_->UseSimulatedBluetooth(*world);
    host_ = std::make_unique<HostProcess>(*folder_);
  }

  // Sends the calls and closes; returns the channel traffic after the reply to "setup", log
  // timestamps masked after checking that each lies within a minute of the test's clock.
  std::vector<std::string> Run(const std::optional<std::string>& world,
                               const std::vector<std::string>& calls) {
    std::vector<std::string> lines;
    for (const std::string& call : calls) lines.push_back(Line("send", call));
    lines.push_back("close");
    return RunScript(world, lines);
  }
  // As Run, for script lines as they are.
  std::vector<std::string> RunScript(const std::optional<std::string>& world,
                                     const std::vector<std::string>& lines) {
    Start(world, lines);
    EXPECT_EQ(host_->WaitForExit(120000), 0u);
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    std::vector<std::string> traffic;
    for (const std::string& line : folder_->TranscriptAfter(Reply(wire::kTrue))) {
      if (line.rfind("send ", 0) != 0 && line.rfind("reply", 0) != 0 &&
          line.rfind("event ", 0) != 0) {
        continue;
      }
      if (line.rfind(Line("event", Str("onLogMessage")), 0) != 0) {
        traffic.push_back(line);
        continue;
      }
      traffic.push_back(line.substr(0, line.size() - 16) + kTimestampMask);
      const int64_t timestamp = Timestamp(line);
      EXPECT_LT(std::llabs(now - timestamp), 60000) << line;
      timestamps_[traffic.back()] = timestamp;
    }
    return traffic;
  }

  // Probes the window every 50 ms until done(transcript) holds and the window answers; returns
  // the longest stretch from the start of the first unanswered probe (or of a slow one) to the
  // next answer. Wine gives up on a probe after 1 s, and at once after 5 s of silence, so one
  // probe's time alone would hide a long freeze.
  double LongestSilenceMs(HWND window,
                          const std::function<bool(const std::vector<std::string>&)>& done) {
    using Clock = std::chrono::steady_clock;
    const auto ms = [](Clock::time_point from) {
      return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
    };
    const Clock::time_point start = Clock::now();
    std::optional<Clock::time_point> silence_start;  // of the first probe not yet answered
    double longest = 0;
    for (std::vector<std::string> lines; !done(lines) || silence_start;
         lines = folder_->Transcript()) {
      DWORD_PTR result = 0;
      if (!silence_start) silence_start = Clock::now();
      if (::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result)) {
        longest = std::max(longest, ms(*silence_start));
        silence_start.reset();
      }
      if (ms(start) > 30000.0) {
        ADD_FAILURE() << "the jobs never ended";
        break;
      }
      ::Sleep(50);
    }
    return longest;
  }

  std::unique_ptr<RunFolder> folder_;
  std::unique_ptr<HostProcess> host_;
  // The timestamp of each masked log line, the last one where a line repeats.
  std::map<std::string, int64_t> timestamps_;
  int64_t LogTime(const std::string& text) { return timestamps_[Logs({text})[0]]; }
};

// Without a radio nothing prints, and the reason is given. The platform's Bluetooth under Wine
// has no RFCOMM: the job fails at socket(). A malformed world file is named on standard error
// with the line and what is wrong, and the simulated radio is then off.
TEST_F(PrintingTest, WithoutARadioTheReasonIsGiven) {
  const std::string print = PrintCall(kPrinter, "job-1", "\x1b@x\n");
  EXPECT_THAT(Run(std::nullopt, {Call("checkBleEnabled"), print}),
              ElementsAreArray(Join({
                  {Line("send", Call("checkBleEnabled")), Reply(wire::kFalse), Line("send", print)},
                  Logs({"Printing 4 bytes to " + kPrinter, "CreateRfcommSocket for " + kPrinter,
                        "socket() failed with error 10043", "Failed to connect for print"}),
                  {PrintFailed("job-1", "Connection failed"), Reply(wire::kFalse)},
              })));
  EXPECT_THAT(host_->StandardErrorLines(), IsEmpty());

  EXPECT_THAT(Run("radio present\nprinter 00:11 rate=5\n", {Call("checkBleEnabled")}),
              ElementsAreArray({Line("send", Call("checkBleEnabled")), Reply(wire::kFalse)}));
  std::string folder;  // ASCII: under the temporary directory
  for (wchar_t c : folder_->path()) folder += static_cast<char>(c);
  EXPECT_THAT(host_->StandardErrorLines(),
              ElementsAreArray({"Kestro simulated Bluetooth: " + folder +
                                "\\simulated_bluetooth.txt line 2: bad address \"00:11\"; the "
                                "simulated radio is off"}));
}

// One world, one run: the device list; a connect by a lower-case address and its reuse; a
// receipt; a 64 KiB job accepted in parts at the printer's rate; a link that dropped after it,
// failing one job, and the next job reconnecting; a refused connect.
TEST_F(PrintingTest, SimulatedPrintersListConnectPrintDropAndRefuse) {
  const std::string world =
      "device 00:11:22:AA:BB:01 0x040680 remembered,authenticated Принтер Кухня\n"
      "device 00:11:22:AA:BB:02 0x5A020C remembered Phone\n"
      "printer 00:11:22:AA:BB:01 rate=32768 max-part=4096 drop-after=65836\n"
      "printer 00:11:22:AA:BB:02 connect=10061 connect-ms=100\n";
  const auto device = [](int cod, int major, const std::string& name, bool paired,
                         const std::string& address) {
    return Map({{Str("deviceCl"), wire::Int32(cod)},
                {Str("deviceName"), Str(name)},
                {Str("isConnected"), wire::kFalse},
                {Str("isPaired"), paired ? wire::kTrue : wire::kFalse},
                {Str("macAddress"), Str(address)},
                {Str("majDeviceCl"), wire::Int32(major)}});
  };
  const std::string devices = wire::List({device(0x040680, 6, "Принтер Кухня", true, kPrinter),
                                          device(0x5A020C, 2, "Phone", false, kOther)});
  const std::string connect = Call("connectBle", AddressArguments("00:11:22:aa:bb:01"));
  const std::string refused = Call("connectBle", AddressArguments(kOther));
  const std::string connected = Call("isBleConnected", AddressArguments(kPrinter));
  const std::string receipt = Receipt("KESTRO", 300);
  const std::string large = Receipt("LOGO", 64 * 1024);
  const std::string lost = PrintCall(kPrinter, "job-lost", "\x1b@\n");
  const std::string third = Receipt("THIRD", 150);
  EXPECT_THAT(
      Run(world,
          {Call("checkBleEnabled"), Call("getBleDevices"), connect, connect,
           PrintCall(kPrinter, "job-1", receipt), connected, PrintCall(kPrinter, "job-64k", large),
           lost, PrintCall(kPrinter, "job-3", third), refused}),
      ElementsAreArray(Join({
          {Line("send", Call("checkBleEnabled")), Reply(wire::kTrue),
           Line("send", Call("getBleDevices"))},
          Logs({"Getting paired devices...", "Found device: Принтер Кухня (" + kPrinter + ")",
                "Found device: Phone (" + kOther + ")", "Found 2 paired devices"}),
          {Reply(devices), Line("send", connect)},
          Logs({"Connecting to " + kPrinter}),
          SocketLogs(kPrinter),
          Logs({"RFCOMM connection successful!", "Connected successfully to " + kPrinter}),
          {Reply(wire::kTrue), Line("send", connect)},
          Logs({"Connecting to " + kPrinter, "Already connected to " + kPrinter}),
          {Reply(wire::kTrue)},
          Printed("job-1", receipt, false),
          {Line("send", connected), Reply(wire::kTrue)},
          Printed("job-64k", large, false),
          {Line("send", lost)},
          Logs({"Printing 3 bytes to " + kPrinter, "Send failed with error: 10054"}),
          {PrintFailed("job-lost", "Send failed: 10054"), Reply(wire::kFalse)},
          Printed("job-3", third, true),
          {Line("send", refused)},
          Logs({"Connecting to " + kOther}),
          SocketLogs(kOther),
          Logs({"connect() failed with error 10061 (Connection refused - printer may not "
                "support SPP)",
                "Failed to create RFCOMM socket"}),
          {Reply(wire::kFalse)},
      })));
  EXPECT_THAT(host_->StandardErrorLines(), IsEmpty());
  EXPECT_TRUE(folder_->PrinterBytes("001122AABB01") == receipt + large + third);
  EXPECT_EQ(folder_->PrinterBytes("001122AABB02"), "");
  // Sixteen parts of 125 ms each: the last is taken 15 x 125 ms after the first.
  EXPECT_GE(LogTime("Print successful, sent 65536 bytes") -
                LogTime("Printing 65536 bytes to " + kPrinter),
            1850);
}

// A slow printer must never freeze the till: the window answers while it prints, a second
// printer's job sent meanwhile is answered first, each printer receives only its own bytes, and
// closing the window during a job still lets that receipt finish.
TEST_F(PrintingTest, ThePrintingInTheBackgroundNeverFreezesTheWindow) {
  const std::string slow = Receipt("LOGO", 64000);  // 6.4 s at 10 000 bytes per second
  const std::string quick = Receipt("QUICK", 100);
  // 5 s, the window closing after one: it outlasts Wine taking up to 2 s to destroy the window.
  const std::string last = Receipt("LAST", 50000);
  const std::string print = PrintCall(kPrinter, "job-slow", slow);
  Start("printer " + kPrinter + " rate=10000 max-part=500\nprinter " + kOther + " max-part=5\n",
        {Line("send-async", print), Line("send-async", PrintCall(kOther, "job-quick", quick)),
         "await-replies", Line("send-async", PrintCall(kPrinter, "job-last", last)), "wait 1000",
         "close"});
  const HWND window = WaitForWindow(host_->process_id());
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(folder_->WaitForTranscriptLine(Line("send", print)));

  const auto job_start = std::chrono::steady_clock::now();
  // Until the slow job (the last of setup, quick and slow) was answered.
  const double longest = LongestSilenceMs(window, [](const std::vector<std::string>& lines) {
    return std::count(lines.begin(), lines.end(), Reply(wire::kTrue)) >= 3;
  });
  const double job_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - job_start)
          .count();
  std::cout << "Longest stretch without an answered probe: " << longest << " ms in a job of "
            << job_ms << " ms\n";
  EXPECT_LE(longest, 100.0);
  EXPECT_GE(job_ms, 6000.0);
  EXPECT_EQ(host_->WaitForExit(30000), 0u);
  EXPECT_THAT(host_->StandardErrorLines(), IsEmpty());

  // The quick job is answered before the slow one; the last job's reply and events were dropped
  // with the window.
  const std::vector<std::string> successes = {
      PrintSucceeded("job-quick"), PrintSucceeded("job-slow"), PrintSucceeded("job-last")};
  std::vector<std::string> results;
  for (const std::string& line : folder_->Transcript()) {
    if (line.rfind("reply", 0) == 0 ||
        std::find(successes.begin(), successes.end(), line) != successes.end()) {
      results.push_back(line);
    }
  }
  EXPECT_THAT(results,
              ElementsAreArray({Reply(wire::kTrue), PrintSucceeded("job-quick"), Reply(wire::kTrue),
                                PrintSucceeded("job-slow"), Reply(wire::kTrue)}));
  EXPECT_TRUE(folder_->PrinterBytes("001122AABB01") == slow + last);
  EXPECT_EQ(folder_->PrinterBytes("001122AABB02"), quick);
}

// No printer holds the till, with the product's 15 s deadlines: a 200 000-byte image receipt at
// 11 520 bytes a second prints whole; a printer that stops taking bytes fails its job 15 s after
// its last progress, telling how much it took, while the long receipt prints on; a connect to a
// printer that never answers gives up at 15 s; a printer switched off and on between jobs is
// reconnected before the next one and isBleConnected notices it too; a printer's status bytes
// do not cost its link.
TEST_F(PrintingTest, LongReceiptsPrintWholeAndEveryWaitHasADeadline) {
  const std::string printer = "00:11:22:AA:BB:0";
  const std::string long_receipt = Receipt("IMAGE", 200000), stalled = Receipt("STALL", 5000);
  const std::string first = Receipt("FIRST", 300), second = Receipt("SECOND", 300);
  const std::string status = Call("isBleConnected", AddressArguments(printer + "4"));
  const std::vector<std::string> traffic = RunScript(
      "printer " + printer + "1 rate=11520\nprinter " + printer +
          "2 rate=11520 stall-after=1000\nprinter " + printer + "3 connect-ms=600000\nprinter " +
          printer + "4 close-after=300\nprinter " + printer + "5 says=1234\n",
      {Line("send-async", PrintCall(printer + "1", "job-long", long_receipt)),
       Line("send-async", PrintCall(printer + "2", "job-stalled", stalled)),
       Line("send-async", Call("connectBle", AddressArguments(printer + "3"))),
       Line("send", PrintCall(printer + "4", "job-first", first)),
       Line("send", PrintCall(printer + "4", "job-second", second)), Line("send", status),
       Line("send", Call("connectBle", AddressArguments(printer + "5"))),
       Line("send", PrintCall(printer + "5", "job-status", "\x1b@")), "await-replies", "close"});
  const auto count = [&](const std::string& line) {
    return std::count(traffic.begin(), traffic.end(), line);
  };
  for (const char* job : {"job-long", "job-first", "job-second", "job-status"}) {
    EXPECT_EQ(count(PrintSucceeded(job)), 1) << job;
  }
  EXPECT_EQ(count(PrintFailed("job-stalled", "Send failed: 10060", 1000)), 1);
  EXPECT_EQ(count(Logs({"connect() failed with error 10060 (Connection timed out - printer may be "
                        "off)"})[0]),
            1);
  EXPECT_EQ(count(Logs({"Connection to " + printer + "4 was closed by the printer"})[0]), 2);
  EXPECT_EQ(count(Logs({"CreateRfcommSocket for " + printer + "5"})[0]), 1);
  const auto after_status = std::find(traffic.begin(), traffic.end(), Line("send", status));
  ASSERT_NE(after_status, traffic.end());
  EXPECT_EQ(*std::find_if(after_status, traffic.end(),
                          [](const std::string& line) { return line.rfind("reply", 0) == 0; }),
            Reply(wire::kFalse));
  EXPECT_TRUE(folder_->PrinterBytes("001122AABB01") == long_receipt);
  EXPECT_EQ(folder_->PrinterBytes("001122AABB02"), stalled.substr(0, 1000));
  EXPECT_EQ(folder_->PrinterBytes("001122AABB04"), first + second);
  EXPECT_EQ(folder_->PrinterBytes("001122AABB05"), "\x1b@");
  // Its last byte taken within the first 100 ms, the stalled job fails 15 s later.
  const int64_t stall =
      LogTime("Send failed with error: 10060") - LogTime("Printing 5000 bytes to " + printer + "2");
  EXPECT_GE(stall, 15000);
  EXPECT_LE(stall, 16500);
  const int64_t connect =
      LogTime("Failed to create RFCOMM socket") - LogTime("Connecting to " + printer + "3");
  EXPECT_GE(connect, 15000);
  EXPECT_LE(connect, 16500);
  EXPECT_GE(LogTime("Print successful, sent 200000 bytes") -
                LogTime("Printing 200000 bytes to " + printer + "1"),
            17000);
}

// Closing the window while a printer that stopped taking bytes holds a job: the process still
// exits with 0, within the job's deadline, 15 s after its last progress.
TEST_F(PrintingTest, ClosingDuringAStalledJobExitsAtItsDeadline) {
  Start("printer " + kPrinter + " stall-after=100\n",
        {Line("send-async", PrintCall(kPrinter, "job-stalled", Receipt("STALL", 1000))),
         "wait 1000", "close"});
  EXPECT_EQ(host_->WaitForExit(60000), 0u);
  const int64_t exited = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
  int64_t printing = 0;
  for (const std::string& line : folder_->Transcript()) {
    const std::string masked = line.substr(0, line.size() - 16) + kTimestampMask;
    if (masked == Logs({"Printing 1000 bytes to " + kPrinter})[0]) printing = Timestamp(line);
  }
  ASSERT_NE(printing, 0);
  EXPECT_GE(exited - printing, 15000);
  EXPECT_LE(exited - printing, 16000 + 500);
  EXPECT_EQ(folder_->PrinterBytes("001122AABB01").size(), 100u);
}

// After a crash on a thread of the engine's own, or on the UI thread inside the channel callback
// (which then never runs again, so its window stays), the next receipt never reaches the printer:
// the window hides, the dialog shows and OK ends the process with exit code 1.
TEST_F(PrintingTest, AfterACrashNothingMoreIsPrinted) {
  const std::string first = Receipt("FIRST", 300);
  const std::string second = PrintCall(kPrinter, "job-second", Receipt("SECOND", 300));
  for (const std::string& crash : {std::string("crash-thread"), Line("send-unreadable", "00")}) {
    SCOPED_TRACE(crash);
    Start("printer " + kPrinter + "\n", {Line("send", PrintCall(kPrinter, "job-first", first)),
                                         crash, "wait 500", Line("send", second)});
    HWND dialog = WaitForWindow(host_->process_id(), L"#32770");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WaitUntilHidden(WaitForWindow(host_->process_id()), 2000), crash == "crash-thread");
    if (crash == "crash-thread") {
      EXPECT_TRUE(folder_->WaitForTranscriptLine(Line("send", second)));
    }
    ::Sleep(500);  // a worker would have printed it by now
    EXPECT_TRUE(folder_->PrinterBytes("001122AABB01") == first);
    ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(host_->WaitForExit(), 1u);
  }
}

// 1 100 status queries behind a slow receipt: 1 000 wait, 100 are answered "BUSY", and when the
// receipt ends the waiting ones are answered in slices, the window answering a probe all along.
TEST_F(PrintingTest, ABurstOfRepliesNeverFreezesTheWindow) {
  const std::string receipt = Receipt("SLOW", 60000);  // 6 s at 10 000 bytes per second
  const std::string print = PrintCall(kPrinter, "job-slow", receipt);
  std::vector<std::string> lines = {Line("send-async", print)};
  for (int i = 0; i < 1100; ++i) {
    lines.push_back(Line("send-async", Call("isBleConnected", AddressArguments(kPrinter))));
  }
  lines.insert(lines.end(), {"await-replies", "close"});
  Start("printer " + kPrinter + " rate=10000 max-part=500\n", lines);
  const HWND window = WaitForWindow(host_->process_id());
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(folder_->WaitForTranscriptLine(Line("send", print)));

  // Until the receipt, the 1 000 queries and setup were answered.
  const double longest = LongestSilenceMs(window, [](const std::vector<std::string>& lines) {
    return std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
             return line.rfind("reply", 0) == 0;
           }) >= 1102;
  });
  std::cout << "Longest stretch without an answered probe in the burst: " << longest << " ms\n";
  EXPECT_LE(longest, 100.0);
  EXPECT_EQ(host_->WaitForExit(30000), 0u);
  const std::vector<std::string> transcript = folder_->Transcript();
  EXPECT_EQ(std::count(transcript.begin(), transcript.end(),
                       Line("reply", wire::Error("BUSY", "Too many pending printer operations"))),
            100);
}

// Closing the window during a job drops the job waiting behind it at once, while the running
// receipt prints to its end; a restart meanwhile waits, without a dialog, and starts as the first
// instance once the first exits.
TEST_F(PrintingTest, ClosingDropsWaitingWorkAndARestartWaitsForTheRunningJob) {
  // 8 s at 10 000 bytes per second: it outlasts Wine taking up to 2 s to destroy the window.
  const std::string running = Receipt("RUNNING", 80000);
  const std::string waiting = Receipt("WAITING", 30000);
  Start("printer " + kPrinter + " rate=10000 max-part=500\n",
        {Line("send-async", PrintCall(kPrinter, "job-running", running)),
         Line("send-async", PrintCall(kPrinter, "job-waiting", waiting)), "wait 500", "close"});
  const HWND window = WaitForWindow(host_->process_id());
  ASSERT_NE(window, nullptr);
  while (::IsWindow(window) && !host_->WaitForExit(0)) ::Sleep(10);
  ASSERT_FALSE(host_->WaitForExit(0)) << "the receipt ended before the window";

  RunFolder second_folder("close\n");
  HostProcess second(second_folder);
  EXPECT_EQ(host_->WaitForExit(30000), 0u);
  EXPECT_EQ(second.WaitForExit(30000), 0u);
  EXPECT_THAT(second_folder.Transcript(), ::testing::Contains("destroyed"));
  EXPECT_THAT(second.StandardErrorLines(), IsEmpty());

  EXPECT_TRUE(folder_->PrinterBytes("001122AABB01") == running);
  EXPECT_THAT(host_->StandardErrorLines(), IsEmpty());
}

}  // namespace
}  // namespace kestro_e2e
