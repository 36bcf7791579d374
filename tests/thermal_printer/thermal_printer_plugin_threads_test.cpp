// The plug-in's scheduling of work: its callback never waits on a printer. Jobs are held inside
// the simulated stack's connect or send while this thread plays the UI thread. Run under
// ThreadSanitizer too (ctest label "concurrency").
#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/thermal_printer/plugin_fixture.h"
#include "thermal_printer/bluetooth_address.h"
#include "win/crash_flag.h"

namespace kestro_test {
namespace {

using namespace std::chrono_literals;

using Handle = const FlutterDesktopMessageResponseHandle*;

Bytes Success(bool value) {
  const flutter::EncodableValue result(value);
  return *flutter::StandardMethodCodec::ForSerializer().EncodeSuccessReply(&result);
}

class PluginThreadsTest : public PluginFixture {
 protected:
  void SetUp() override {
    stack_.SetPrinter(kPrinter);
    stack_.SetPrinter(kOtherPrinter);
    PluginFixture::SetUp();
    Drained(Deliver(EncodeCall("setup")));
  }
  void TearDown() override {
    gate_.Release();
    for (auto& delivery : deliveries_) delivery.wait();
    PluginFixture::TearDown();
  }

  // The next connect (or send) to kPrinter stops inside the stack until gate_.Release().
  void Hold(bool in_send) {
    stack_.SetConnectHook(in_send ? nullptr : gate_.Hook());
    stack_.SetSendHook(in_send ? gate_.Hook() : nullptr);
  }

  // Delivers on another thread and waits at most limit for the callback to return, so a callback
  // that waits on the printer fails the test instead of hanging it. Null when it did not return.
  Handle Deliver(Bytes message, std::chrono::seconds limit = 5s) {
    auto shared = std::make_shared<const Bytes>(std::move(message));
    deliveries_.push_back(std::async(
        std::launch::async, [this, shared] { return engine_.Deliver(kChannel, *shared).handle; }));
    if (deliveries_.back().wait_for(limit) != std::future_status::ready) {
      ADD_FAILURE() << "the callback did not return within " << limit.count() << " s";
      return nullptr;
    }
    return deliveries_.back().get();
  }
  // Hands over what the workers produced so far, without waiting for running work.
  void Pump() { Drain(false); }
  std::vector<Bytes> Drained(Handle handle) {
    Drain();
    return engine_.ResponsesTo(handle);
  }
  // Pumps until done() holds, for at most 5 s.
  bool Soon(const std::function<bool()>& done) {
    for (auto end = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < end;
         std::this_thread::sleep_for(1ms)) {
      Pump();
      if (done()) return true;
    }
    return false;
  }
  Lines EngineSends() {
    Lines sends;
    for (const std::string& call : engine_.calls()) {
      if (call == "FlutterDesktopMessengerSend" || call == "FlutterDesktopMessengerSendResponse") {
        sends.push_back(call);
      }
    }
    return sends;
  }

  Gate gate_;
  std::vector<std::shared_future<Handle>> deliveries_;
};

TEST_F(PluginThreadsTest, TheCallbackReturnsWhileAJobIsHeldAndTheReplyFollowsTheRelease) {
  for (const bool in_send : {false, true}) {
    SCOPED_TRACE(in_send ? "printBle held in send" : "connectBle held in connect");
    Hold(in_send);
    const size_t sends_at_start = EngineSends().size();
    const Handle handle = Deliver(in_send ? PrinterCall("printBle", kPrinterText, {0x1B, 0x40})
                                          : PrinterCall("connectBle", kPrinterText));
    ASSERT_TRUE(gate_.Entered());
    ASSERT_NE(handle, nullptr);
    // The job's log events so far wait for the UI thread, which then sends them on.
    EXPECT_EQ(EngineSends().size(), sends_at_start);
    Pump();
    EXPECT_GT(EngineSends().size(), sends_at_start);
    EXPECT_TRUE(engine_.ResponsesTo(handle).empty());
    const size_t sends_before = EngineSends().size();

    gate_.Release();
    EXPECT_EQ(Drained(handle), std::vector<Bytes>{Success(true)});
    // The job's events (its log lines, the print outcome) reach the engine before its reply.
    Lines sends = EngineSends();
    sends.erase(sends.begin(), sends.begin() + static_cast<std::ptrdiff_t>(sends_before));
    ASSERT_GE(sends.size(), 2u);
    EXPECT_EQ(sends.back(), "FlutterDesktopMessengerSendResponse");
    EXPECT_EQ(std::count(sends.begin(), sends.end(), "FlutterDesktopMessengerSendResponse"), 1);
    gate_.Rearm();
  }
  EXPECT_EQ(stack_.Received(kPrinter), (Bytes{0x1B, 0x40}));
}

TEST_F(PluginThreadsTest, OneAddressKeepsArrivalOrderAndAHeldPrinterDelaysNoOther) {
  Hold(false);
  std::vector<Handle> jobs = {Deliver(PrinterCall("printBle", kPrinterText, {0}))};
  ASSERT_TRUE(gate_.Entered());
  // Every spelling names the same printer, so all of them queue behind the held job.
  const char* spellings[] = {"aabbccddeeff", "AA-BB-CC-DD-EE-FF", kPrinterText};
  for (uint8_t job = 1; job < 16; ++job) {
    jobs.push_back(Deliver(
        PrinterCall(job % 4 == 0 ? "printRawBle" : "printBleWindows", spellings[job % 3], {job})));
  }
  const Handle status = Deliver(PrinterCall("isBleConnected", kPrinterText));
  const Handle other = Deliver(PrinterCall("printBle", kOtherPrinterText, {0xEE}));
  const Handle devices = Deliver(EncodeCall("getBleDevices"));

  EXPECT_TRUE(Soon([&] { return engine_.ResponsesTo(other).size() == 1; }));
  EXPECT_TRUE(Soon([&] { return engine_.ResponsesTo(devices).size() == 1; }));
  EXPECT_EQ(stack_.Received(kOtherPrinter), Bytes{0xEE});
  EXPECT_TRUE(engine_.ResponsesTo(status).empty());
  EXPECT_TRUE(stack_.Received(kPrinter).empty());

  gate_.Release();
  for (const Handle job : jobs) EXPECT_EQ(Drained(job), std::vector<Bytes>{Success(true)});
  // The status query arrived after every job, so it sees the connection they opened.
  EXPECT_EQ(Drained(status), std::vector<Bytes>{Success(true)});
  Bytes in_order;
  for (uint8_t job = 0; job < 16; ++job) in_order.push_back(job);
  EXPECT_EQ(stack_.Received(kPrinter), in_order);
}

TEST_F(PluginThreadsTest, SetupAndDestroyWaitForEarlierWorkAndHoldLaterWorkBack) {
  const std::pair<const char*, Lines> barriers[] = {
      {"destroy", {"BluetoothManager: Disposing...", "BluetoothManager: Disposed"}},
      {"setupWindows",
       {"BluetoothManager: Initializing...", "BluetoothManager: Initialized successfully"}}};
  for (const auto& [barrier_method, barrier_lines] : barriers) {
    SCOPED_TRACE(barrier_method);
    Hold(false);
    const Handle earlier = Deliver(PrinterCall("printBle", kPrinterText, {1}));
    ASSERT_TRUE(gate_.Entered());
    log_.TakeLines();
    const Handle barrier = Deliver(EncodeCall(barrier_method));
    const Handle later = Deliver(PrinterCall("connectBle", kOtherPrinterText));
    std::this_thread::sleep_for(100ms);
    Pump();
    EXPECT_TRUE(engine_.ResponsesTo(barrier).empty());
    EXPECT_TRUE(engine_.ResponsesTo(later).empty());
    EXPECT_EQ(log_.TakeLines(), (Lines{"ThermalPrinterPlugin: " + std::string(barrier_method),
                                       "ThermalPrinterPlugin: connectBle"}));

    gate_.Release();
    EXPECT_EQ(Drained(earlier), std::vector<Bytes>{Success(true)});
    EXPECT_EQ(Drained(barrier), std::vector<Bytes>{Success(true)});
    EXPECT_EQ(Drained(later).size(), 1u);
    // The earlier job's last lines, the barrier's, then the later work's first.
    Lines lines = log_.TakeLines();
    lines.resize(5);
    EXPECT_EQ(lines, Join({{"BluetoothManager: RFCOMM connection successful!",
                            "BluetoothManager: Print successful, sent 1 bytes"},
                           barrier_lines,
                           {std::string("BluetoothManager: Connecting to ") + kOtherPrinterText}}));
    Drained(Deliver(EncodeCall("setup")));
    gate_.Rearm();
  }
}

// Eight stuck printers take every worker; a ninth printer's job waits for one to come free.
TEST_F(PluginThreadsTest, ALaneBeyondTheWorkerCapWaitsForAWorker) {
  Gate every_connect(kAnyPrinter, true);
  stack_.SetConnectHook(every_connect.Hook());
  std::vector<Handle> jobs;
  for (uint64_t printer = 1; printer <= 9; ++printer) {
    stack_.SetPrinter(printer);
    jobs.push_back(Deliver(PrinterCall("connectBle", kestro::FormatBluetoothAddress(printer))));
  }
  EXPECT_TRUE(every_connect.Entered(8));
  EXPECT_FALSE(every_connect.Entered(9, 200ms));
  every_connect.Release();
  for (const Handle job : jobs) EXPECT_EQ(Drained(job), std::vector<Bytes>{Success(true)});
  EXPECT_TRUE(every_connect.Entered(9, 0ms));
  stack_.SetConnectHook(nullptr);
}

TEST_F(PluginThreadsTest, WorkBeyondTheQueueLimitsIsAnsweredBusyAndNothingElseHappens) {
  const Bytes busy = *flutter::StandardMethodCodec::ForSerializer().EncodeErrorReply(
      "BUSY", "Too many pending printer operations");
  Hold(false);
  ASSERT_NE(Deliver(PrinterCall("connectBle", kPrinterText)), nullptr);
  ASSERT_TRUE(gate_.Entered());

  // A full count: 1 000 messages wait behind the held one.
  std::vector<Handle> waiting;
  for (int i = 0; i < 1000; ++i) {
    waiting.push_back(Deliver(PrinterCall("isBleConnected", kPrinterText)));
  }
  log_.TakeLines();
  const Handle refused = Deliver(PrinterCall("printBle", kOtherPrinterText, {7}));
  EXPECT_EQ(engine_.ResponsesTo(refused), std::vector<Bytes>{busy});
  EXPECT_EQ(log_.Lines(), Lines{"ThermalPrinterPlugin: printBle"});
  gate_.Release();
  for (const Handle handle : waiting) ASSERT_EQ(Drained(handle), std::vector<Bytes>{Success(true)});
  EXPECT_EQ(engine_.ResponsesTo(refused), std::vector<Bytes>{busy});
  EXPECT_TRUE(stack_.Received(kOtherPrinter).empty());

  // Print bytes: 256 MiB may wait, one byte more may not. Encoded before the printer is held:
  // under ThreadSanitizer that takes seconds.
  constexpr size_t kLimit = size_t{256} << 20;
  Bytes large_call = PrinterCall("printBle", kPrinterText, Bytes(kLimit - 2, 'x'));
  gate_.Rearm();
  Hold(false);
  Deliver(PrinterCall("disconnectBle", kPrinterText));
  ASSERT_NE(Deliver(PrinterCall("connectBle", kPrinterText)), nullptr);
  ASSERT_TRUE(gate_.Entered());
  PrinterBehaviour counting;
  counting.keep_bytes = false;
  stack_.SetPrinter(kPrinter, counting);
  // Decoding 256 MiB takes seconds under ThreadSanitizer on a busy machine.
  const Handle large = Deliver(std::move(large_call), 60s);
  const Handle fits = Deliver(PrinterCall("printBle", kPrinterText, {'y', 'y'}));
  const Handle too_much = Deliver(PrinterCall("printBle", kPrinterText, {'z'}));
  EXPECT_EQ(engine_.ResponsesTo(too_much), std::vector<Bytes>{busy});
  // Any other message waits holding its encoded bytes, which no longer fit either.
  const Handle query = Deliver(PrinterCall("isBleConnected", kPrinterText));
  EXPECT_EQ(engine_.ResponsesTo(query), std::vector<Bytes>{busy});
  gate_.Release();
  EXPECT_EQ(Drained(large), std::vector<Bytes>{Success(true)});
  EXPECT_EQ(Drained(fits), std::vector<Bytes>{Success(true)});
  // Started work no longer counts: the byte refused before is now taken.
  EXPECT_EQ(Drained(Deliver(PrinterCall("printBle", kPrinterText, {'z'}))),
            std::vector<Bytes>{Success(true)});
  EXPECT_EQ(stack_.ReceivedCount(kPrinter), kLimit + 1);
}

TEST_F(PluginThreadsTest, ShutdownDropsWaitingWorkAndFinishesTheRunningJob) {
  ASSERT_EQ(Drained(Deliver(PrinterCall("connectBle", kPrinterText))),
            std::vector<Bytes>{Success(true)});
  Hold(true);
  Deliver(PrinterCall("printBle", kPrinterText, {1, 2, 3}));
  ASSERT_TRUE(gate_.Entered());
  Deliver(PrinterCall("printRawBle", kPrinterText, {4}));
  Deliver(EncodeCall("destroy"));
  Deliver(PrinterCall("isBleConnectedWindows", kPrinterText));
  log_.TakeLines();

  // The window is gone: nothing may reach the engine any more, and what waits is dropped at once.
  plugin_->StopEngineCalls();
  const size_t engine_calls = engine_.calls().size();
  EXPECT_EQ(log_.TakeLines(),
            (Lines{"ThermalPrinterPlugin: Dropped printRawBle at shutdown",
                   "ThermalPrinterPlugin: Dropped destroy at shutdown",
                   "ThermalPrinterPlugin: Dropped isBleConnectedWindows at shutdown"}));
  // Answers given on arrival stay away from the engine too.
  Deliver(Bytes{0xFF});
  Deliver(EncodeCall("stopBleDiscovery"));
  auto shutdown = std::async(std::launch::async, [this] { plugin_->ShutDown(); });
  EXPECT_EQ(shutdown.wait_for(100ms), std::future_status::timeout);  // the held job still runs
  gate_.Release();
  ASSERT_EQ(shutdown.wait_for(5s), std::future_status::ready);
  Pump();

  EXPECT_EQ(stack_.Received(kPrinter), (Bytes{1, 2, 3}));
  EXPECT_EQ(log_.TakeLines(), (Lines{"ThermalPrinterPlugin: stopBleDiscovery",
                                     "BluetoothManager: Print successful, sent 3 bytes"}));

  // A message after shutdown is dropped the same way.
  Deliver(PrinterCall("printBle", kPrinterText, {5}));
  EXPECT_EQ(log_.TakeLines(), (Lines{"ThermalPrinterPlugin: printBle",
                                     "ThermalPrinterPlugin: Dropped printBle at shutdown"}));
  Pump();
  const Lines calls = engine_.calls();
  EXPECT_EQ(Lines(calls.begin() + static_cast<std::ptrdiff_t>(engine_calls), calls.end()), Lines{});
}

// Marks the process crashed for good, so it runs last (ctest runs each case in a process of its
// own). The callback then logs, answers and queues nothing; queued work never starts.
TEST_F(PluginThreadsTest, ZzOnceCrashedTheCallbackDoesNothingAndQueuedWorkNeverStarts) {
  Hold(true);
  Deliver(PrinterCall("printBle", kPrinterText, {1}));
  ASSERT_TRUE(gate_.Entered());
  const Handle waiting = Deliver(PrinterCall("printBle", kPrinterText, {2}));
  Pump();
  log_.TakeLines();
  ASSERT_TRUE(kestro::MarkHostCrashed());
  const Handle after = Deliver(PrinterCall("printBle", kOtherPrinterText, {3}));
  EXPECT_EQ(log_.TakeLines(), Lines{});
  gate_.Release();
  Drain();

  EXPECT_EQ(stack_.Received(kPrinter), Bytes{1});
  EXPECT_EQ(stack_.Received(kOtherPrinter), Bytes{});
  for (const Handle handle : {waiting, after}) {
    EXPECT_EQ(engine_.ResponsesTo(handle), std::vector<Bytes>{});
  }
}

}  // namespace
}  // namespace kestro_test
