// The simulated Bluetooth world file: what each statement makes the stack do, and the line and
// reason given for each malformed line.
#include "standins/bluetooth/simulated_world.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <tuple>
#include <vector>

namespace kestro_standin {
namespace {

using Clock = std::chrono::steady_clock;

int64_t MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A stack in the world given by text, with Winsock started.
class WorldTest : public ::testing::Test {
 protected:
  void Load(const std::string& text) {
    SimulatedWorld world;
    WorldError error;
    ASSERT_TRUE(ParseSimulatedWorld(text, &world, &error)) << error.line << ": " << error.what;
    ApplySimulatedWorld(world, &stack_);
    stack_.StartWinsock(kestro::kWinsockVersion22);
  }
  // A socket connected to address with the host's send time-out, or kInvalidSocket (the error
  // stays readable).
  kestro::SocketHandle Connect(uint64_t address, uint32_t send_timeout_ms = 15000) {
    const kestro::SocketHandle socket = stack_.OpenSocket(32, 1, 3);
    const uint8_t timeout[4] = {static_cast<uint8_t>(send_timeout_ms),
                                static_cast<uint8_t>(send_timeout_ms >> 8), 0, 0};
    stack_.SetSocketOption(socket, kestro::kSocketLevel, kestro::kOptionSendTimeout, timeout, 4);
    const kestro::RfcommSocketAddress rfcomm = kestro::MakeRfcommSocketAddress(address);
    if (stack_.ConnectSocket(socket, rfcomm.data(), 30) == 0) return socket;
    stack_.CloseSocket(socket);
    return kestro::kInvalidSocket;
  }
  int32_t Send(kestro::SocketHandle socket, int32_t length) {
    const std::vector<uint8_t> bytes(static_cast<size_t>(length), 0x55);
    return stack_.Send(socket, bytes.data(), length, 0);
  }
  // A non-blocking socket whose connect to address is under way.
  kestro::SocketHandle StartConnect(uint64_t address) {
    const kestro::SocketHandle socket = stack_.OpenSocket(32, 1, 3);
    uint32_t on = 1;
    EXPECT_EQ(stack_.IoctlSocket(socket, kestro::kNonBlockingIo, &on), 0);
    const kestro::RfcommSocketAddress rfcomm = kestro::MakeRfcommSocketAddress(address);
    EXPECT_EQ(stack_.ConnectSocket(socket, rfcomm.data(), 30), kestro::kSocketError);
    EXPECT_EQ(stack_.LastSocketError(), 10035);
    return socket;
  }
  // The sets select finds socket in within wait_ms, e.g. "read write", or "" after the wait.
  std::string Ready(kestro::SocketHandle socket, int32_t wait_ms) {
    kestro::SocketSet sets[3];
    for (kestro::SocketSet& set : sets) set = kestro::SocketSet{1, {socket}};
    const kestro::WaitTime wait{wait_ms / 1000, wait_ms % 1000 * 1000};
    EXPECT_NE(stack_.Select(&sets[0], &sets[1], &sets[2], &wait), kestro::kSocketError);
    std::string ready;
    for (int i = 0; i < 3; ++i) {
      if (sets[i].count == 1) ready += std::string(ready.empty() ? "" : " ") + kSetNames[i];
    }
    return ready;
  }
  // recv's result, then what was read or the error: "2: 10 12", "0", "-1: 10035".
  std::string Receive(kestro::SocketHandle socket) {
    uint8_t bytes[8];
    const int32_t got = stack_.Receive(socket, bytes, sizeof bytes, 0);
    std::string text = std::to_string(got);
    if (got < 0) return text + ": " + std::to_string(stack_.LastSocketError());
    for (int32_t i = 0; i < got; ++i) text += (i == 0 ? ": " : " ") + std::to_string(bytes[i]);
    return text;
  }

  static constexpr const char* kSetNames[3] = {"read", "write", "except"};

  SimulatedBluetoothStack stack_;
};

TEST_F(WorldTest, DevicesAreListedAsWrittenAndNameTheirFiles) {
  Load(
      "# a comment\n\nradio present\n"
      "device 00:11:22:33:44:55 0x040680 remembered,authenticated Кухня 1 \t\n"
      "device aa:bb:cc:dd:ee:ff 263808 connected\r\n"
      "device 00:00:00:00:00:01 0 remembered " +
      std::string(247, 'n'));
  kestro::DeviceSearchParams search;
  search.size = 40;
  search.return_authenticated = search.return_remembered = search.return_connected = true;
  kestro::StackHandle radio = 0;
  const kestro::StackHandle radio_find =
      stack_.FindFirstRadio(kestro::RadioSearchParams{4}, &radio);
  ASSERT_NE(radio_find, 0u);
  search.radio = radio;
  kestro::DeviceInfo info;
  info.size = 560;
  const kestro::StackHandle find = stack_.FindFirstDevice(search, &info);
  ASSERT_NE(find, 0u);
  std::vector<std::tuple<uint64_t, uint32_t, bool, bool, bool, std::u16string>> listed;
  do {
    listed.emplace_back(info.address, info.class_of_device, info.remembered, info.authenticated,
                        info.connected, info.name);
  } while (stack_.FindNextDevice(find, &info));
  EXPECT_EQ(listed, (decltype(listed){
                        {0x001122334455ull, 0x040680u, true, true, false, u"Кухня 1"},
                        {0xAABBCCDDEEFFull, 0x040680u, false, false, true, u""},
                        {1, 0, true, false, false, std::u16string(247, u'n')},  // the longest name
                    }));
  stack_.FindDeviceClose(find);
  stack_.FindRadioClose(radio_find);
  stack_.CloseHandle(radio);
  EXPECT_EQ(stack_.faults(), std::vector<std::string>());
  // The printers' file names: Windows ignores case, so only this check sees a wrong one.
  EXPECT_EQ(AddressFileName(0x00AB0C0D0E0Full), "00AB0C0D0E0F");
  EXPECT_EQ(AddressFileName(0xFFFF001122334455ull), "001122334455");
}

TEST_F(WorldTest, PrintersConnectAndTakePartsAsWritten) {
  Load(
      "printer 00:00:00:00:00:01 rate=2000 max-part=100 drop-after=250 drop-error=10053\n"
      "printer 00:00:00:00:00:02 connect=10060 connect-ms=150\n"
      "printer 00:00:00:00:00:03 rate=100 max-part=1000\n");  // a part would take 10 s
  std::vector<std::pair<uint64_t, size_t>> accepted;
  stack_.SetAcceptedBytesSink(
      [&](uint64_t address, const uint8_t*, size_t size) { accepted.emplace_back(address, size); });
  const kestro::SocketHandle socket = Connect(1);
  ASSERT_NE(socket, kestro::kInvalidSocket);
  Clock::time_point start = Clock::now();
  EXPECT_EQ(Send(socket, 1000), 100);
  EXPECT_GE(MillisecondsSince(start), 50);  // 100 bytes at 2000 per second
  EXPECT_EQ(Send(socket, 1000), 100);
  EXPECT_EQ(Send(socket, 1000), 50);  // up to the drop
  EXPECT_EQ(Send(socket, 1000), kestro::kSocketError);
  EXPECT_EQ(stack_.LastSocketError(), 10053);
  stack_.CloseSocket(socket);
  // The count starts again with each connect.
  const kestro::SocketHandle again = Connect(1);
  EXPECT_EQ(Send(again, 10), 10);
  stack_.CloseSocket(again);

  // A part slower than the send time-out fails with 10060 after it.
  const kestro::SocketHandle slow = Connect(3, 1000);
  start = Clock::now();
  EXPECT_EQ(Send(slow, 1000), kestro::kSocketError);
  EXPECT_EQ(stack_.LastSocketError(), 10060);
  EXPECT_GE(MillisecondsSince(start), 990);
  EXPECT_LT(MillisecondsSince(start), 1900);  // at the time-out, not a multiple of it
  stack_.CloseSocket(slow);
  EXPECT_EQ(accepted,
            (std::vector<std::pair<uint64_t, size_t>>{{1, 100}, {1, 100}, {1, 50}, {1, 10}}));

  // A refused connect fails with its code after its time.
  start = Clock::now();
  EXPECT_EQ(Connect(2), kestro::kInvalidSocket);
  EXPECT_EQ(stack_.LastSocketError(), 10060);
  EXPECT_GE(MillisecondsSince(start), 140);
}

TEST_F(WorldTest, WithoutARadioConnectsFailWithNetworkDown) {
  Load("radio absent\nprinter 00:00:00:00:00:01\n");
  kestro::StackHandle radio = 0;
  EXPECT_EQ(stack_.FindFirstRadio(kestro::RadioSearchParams{4}, &radio), 0u);
  EXPECT_EQ(Connect(1), kestro::kInvalidSocket);
  EXPECT_EQ(stack_.LastSocketError(), 10050);
}

// A non-blocking connect completes after connect-ms in select's write set (its failure, in the
// exception set with SO_ERROR, is the manager tests'); sends take what the printer can take now.
TEST_F(WorldTest, NonBlockingSendsTakeWhatThePrinterCanTakeNow) {
  Load(
      "printer 00:00:00:00:00:01 rate=1000 max-part=100 stall-after=150 connect-ms=100\n"
      "printer 00:00:00:00:00:02 close-after=4 says=1012 drop-error=10053\n"
      "printer 00:00:00:00:00:03 drop-after=2\n");
  const Clock::time_point connecting = Clock::now();
  const kestro::SocketHandle busy = StartConnect(1);
  EXPECT_EQ(Ready(busy, 0), "");
  EXPECT_EQ(Ready(busy, 1000), "write");
  EXPECT_GE(MillisecondsSince(connecting), 95);
  EXPECT_EQ(Send(busy, 300), 100);
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(Send(busy, 200), kestro::kSocketError);  // still printing the first 100 bytes
  EXPECT_EQ(stack_.LastSocketError(), 10035);
  EXPECT_EQ(Ready(busy, 1000), "write");
  EXPECT_GE(MillisecondsSince(start), 90);
  EXPECT_EQ(Send(busy, 200), 50);  // up to the stall
  EXPECT_EQ(Ready(busy, 300), "");
  EXPECT_EQ(Send(busy, 200), kestro::kSocketError);
  EXPECT_EQ(stack_.LastSocketError(), 10035);

  const kestro::SocketHandle closing = StartConnect(2);
  EXPECT_EQ(Ready(closing, 1000), "read write");  // it says something at once
  EXPECT_EQ(Receive(closing), "2: 16 18");
  EXPECT_EQ(Receive(closing), "-1: 10035");
  EXPECT_EQ(Send(closing, 10), 4);
  EXPECT_EQ(Ready(closing, 0), "read write");
  EXPECT_EQ(Receive(closing), "0");
  EXPECT_EQ(Send(closing, 10), kestro::kSocketError);
  EXPECT_EQ(stack_.LastSocketError(), 10053);

  // A link that drops shows nothing to recv; only the next send fails.
  const kestro::SocketHandle dropping = StartConnect(3);
  EXPECT_EQ(Ready(dropping, 1000), "write");
  EXPECT_EQ(Send(dropping, 10), 2);
  EXPECT_EQ(Receive(dropping), "-1: 10035");
  EXPECT_EQ(Send(dropping, 10), kestro::kSocketError);
  EXPECT_EQ(stack_.LastSocketError(), 10054);
  EXPECT_EQ(stack_.ReceivedCount(1) + stack_.ReceivedCount(2) + stack_.ReceivedCount(3), 156u);
  EXPECT_EQ(stack_.faults(), std::vector<std::string>());
}

TEST_F(WorldTest, BlockingCallsHonourOrIgnoreTheirTimeOuts) {
  Load(
      "printer 00:00:00:00:00:01 rate=1000\nprinter 00:00:00:00:00:02 rate=1000 "
      "timeouts=ignored\n");
  const struct {
    uint64_t address;
    int32_t sent;
    int64_t at_least_ms;
  } sends[] = {{1, kestro::kSocketError, 95}, {2, 300, 290}};
  for (const auto& c : sends) {
    const kestro::SocketHandle socket = Connect(c.address, 100);
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(Send(socket, 300), c.sent);  // 300 ms at the rate, 100 ms allowed
    EXPECT_GE(MillisecondsSince(start), c.at_least_ms);
    const uint8_t timeout[4] = {100, 0, 0, 0};
    stack_.SetSocketOption(socket, kestro::kSocketLevel, kestro::kOptionReceiveTimeout, timeout, 4);
    if (c.address == 1) {
      EXPECT_EQ(Receive(socket), "-1: 10060");
      stack_.CloseSocket(socket);
      continue;
    }
    // A recv that ignores its time-out ends when the socket is closed under it.
    auto waiting = std::async(std::launch::async, [&] { return Receive(socket); });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    stack_.CloseSocket(socket);
    EXPECT_EQ(waiting.get(), "-1: 10038");
  }
}

TEST(SimulatedWorldTest, MalformedLinesAreNamedWithTheirNumberAndReason) {
  const std::pair<std::string, std::string> cases[] = {
      {"printer 00:00:00:00:00:09 rate=10", "printer 00:00:00:00:00:09 given twice"},
      {"device 00:11:22:33:44:55 0 - " + std::string(248, 'n'),
       "the device name is longer than 247 UTF-16 units"},
      {"radio", "radio must be followed by present or absent"},
      {"radio on", "radio must be followed by present or absent"},
      {"scanner 00:11:22:33:44:55", "unknown statement \"scanner\" (radio, device or printer)"},
      {"device 00:11:22:33:44:55 0x1F00",
       "device needs an address, a class of device, flags and a name"},
      {"device 00:11:22:33:44 0x1F00 - Name", "bad address \"00:11:22:33:44\""},
      {"device 00-11-22-33-44-55 0x1F00 - Name", "bad address \"00-11-22-33-44-55\""},
      {"device 00:00:00:00:00:00 0x1F00 - Name", "bad address \"00:00:00:00:00:00\""},
      {"device 00:11:22:33:44:55 0x1G00 - Name", "bad class of device \"0x1G00\""},
      {"device 00:11:22:33:44:55 0x100000000 - Name", "bad class of device \"0x100000000\""},
      {"device 00:11:22:33:44:55 0 paired Name",
       "unknown device flag \"paired\" (remembered, authenticated, connected, or - for none)"},
      {"device 00:11:22:33:44:55 0 remembered,,connected Name",
       "unknown device flag \"\" (remembered, authenticated, connected, or - for none)"},
      {"device 00:11:22:33:44:55 0 - Caf\xC3", "the device name is not valid UTF-8"},
      {"device 00:11:22:33:44:55 0 - \xC0\xAF", "the device name is not valid UTF-8"},
      {"device 00:11:22:33:44:55 0 - \xED\xA0\x80", "the device name is not valid UTF-8"},
      {"printer", "printer needs an address"},
      {"printer 00:11:22:33:44:55 speed=9600",
       "unknown printer setting \"speed=9600\" (connect, connect-ms, rate, max-part, drop-after, "
       "drop-error, close-after, stall-after, timeouts, says)"},
      {"printer 00:11:22:33:44:55 close-after=-1", "bad value for close-after: \"-1\""},
      {"printer 00:11:22:33:44:55 timeouts=often",
       "bad value for timeouts: \"often\" (honoured or ignored)"},
      {"printer 00:11:22:33:44:55 says=1",
       "bad value for says: \"1\" (an even number of hex digits)"},
      {"printer 00:11:22:33:44:55 says=",
       "bad value for says: \"\" (an even number of hex digits)"},
      {"printer 00:11:22:33:44:55 connect=refused",
       "bad value for connect: \"refused\" (ok or a Winsock error code)"},
      {"printer 00:11:22:33:44:55 rate=-5", "bad value for rate: \"-5\""},
      {"printer 00:11:22:33:44:55 rate=", "bad value for rate: \"\""},
      {"printer 00:11:22:33:44:55 rate=0", "rate must be at least 1"},
      {"printer 00:11:22:33:44:55 max-part=0", "max-part must be at least 1"},
      {"printer 00:11:22:33:44:55 connect-ms=99999999999",
       "bad value for connect-ms: \"99999999999\""},
  };
  for (const auto& [line, what] : cases) {
    SimulatedWorld world;
    WorldError error;
    EXPECT_FALSE(
        ParseSimulatedWorld("# world\nprinter 00:00:00:00:00:09\n" + line + "\n", &world, &error));
    EXPECT_EQ(std::to_string(error.line) + ": " + error.what, "3: " + what);
  }
}

}  // namespace
}  // namespace kestro_standin
