// Address text, the RFCOMM socket address bytes and UTF-16 names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "thermal_printer/bluetooth_address.h"
#include "thermal_printer/bluetooth_stack.h"
#include "thermal_printer/utf16_text.h"

namespace kestro {
namespace {

struct AddressCase {
  std::string input;
  std::string normalized;
  uint64_t numeric;
};

TEST(BluetoothAddressTest, NormalizesParsesAndFormats) {
  const std::vector<AddressCase> cases = {
      {"aa:bb:cc:dd:ee:ff", "AA:BB:CC:DD:EE:FF", 0xAABBCCDDEEFFull},
      {"AA-BB-CC-DD-EE-FF", "AA:BB:CC:DD:EE:FF", 0xAABBCCDDEEFFull},
      {"aabbccddeeff", "AA:BB:CC:DD:EE:FF", 0xAABBCCDDEEFFull},
      {"AA BB CC DD EE FF", "AA:BB:CC:DD:EE:FF", 0xAABBCCDDEEFFull},
      {"AA.BB.CC.DD.EE.FF", "AA:BB:CC:DD:EE:FF", 0xAABBCCDDEEFFull},
      {"00:11:22:aa:0b:0c", "00:11:22:AA:0B:0C", 0x001122AA0B0Cull},
      {"ff:ff:ff:ff:ff:ff", "FF:FF:FF:FF:FF:FF", 0xFFFFFFFFFFFFull},
      {"00:00:00:00:00:01", "00:00:00:00:00:01", 1},
      // Letters past F, bytes of 128 and above, NUL: all dropped.
      {std::string("0g1z:2\xD0\x9F"
                   "3-4\x00"
                   "5:67:89:ab",
                   22),
       "01:23:45:67:89:AB", 0x0123456789ABull},
      {"AA:BB:CC:DD:EE", "AA:BB:CC:DD:EE", 0},
      {"AA:BB:CC:DD:EE:F", "AA:BB:CC:DD:EE:F", 0xAABBCCDDEE0Full},
      {"AA:BB:CC:DD:EE:FF:00", "AA:BB:CC:DD:EE:FF:00", 0xAABBCCDDEEFFull},
      {"AABBCCDDEEF", "AABBCCDDEEF", 0},
      {"A:B:C:D:E:F:", "A::B::C::D::E::F:", 0},
      {"00:00:00:00:00:00", "00:00:00:00:00:00", 0},
      {"", "", 0},
      {"1:2:3:4:5:6", "1:2:3:4:5:6", 0x010203040506ull},
      {"AAA:BB:CC:DD:EE:FF", "AAA:BB:CC:DD:EE:FF", 0},  // a field holds at most two digits
      {":AA:BB:CC:DD:EE", ":AA:BB:CC:DD:EE", 0},        // the first field has no digit
      {"AA:BB:CC:DD:EE0FF", "AA:BB:CC:DD:EE0FF", 0},    // a digit where a ":" belongs
      // ":" counts as a character, so this 12-character text is paired as if it were digits.
      {"A:BC:DE:F012", "A::BC::D:E::F0:12", 0},
  };
  for (const AddressCase& c : cases) {
    SCOPED_TRACE("input \"" + c.input + "\"");
    const std::string normalized = NormalizeMacAddress(c.input);
    EXPECT_EQ(normalized, c.normalized);
    EXPECT_EQ(ParseMacAddress(normalized), c.numeric);
    // Canonical text is what the number formats back to.
    if (c.numeric != 0 && normalized.size() == 17) {
      EXPECT_EQ(FormatBluetoothAddress(c.numeric), normalized);
    }
  }
  EXPECT_EQ(FormatBluetoothAddress(0xFFFF000000000001ull), "00:00:00:00:00:01");  // 48 bits only
}

TEST(RfcommSocketAddressTest, IsTheSerialPortServiceOfThePrinter) {
  const RfcommSocketAddress bytes = MakeRfcommSocketAddress(0xFFFFAABBCCDDEEFFull);
  const RfcommSocketAddress expected = {
      0x20, 0x00,                                      // AF_BTH
      0xFF, 0xEE, 0xDD, 0xCC, 0xBB, 0xAA, 0x00, 0x00,  // address, upper 16 bits cleared
      0x01, 0x11, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10,  // Serial Port service class
      0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB, 0xFF, 0xFF, 0xFF, 0xFF};  // BT_PORT_ANY
  EXPECT_EQ(bytes, expected);
}

TEST(DeviceNameTest, ConvertsUpToTheTerminatorOrTheLimit) {
  struct Case {
    std::u16string input;
    size_t limit;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {u"", 248, ""},
      {u"\u041F\u0440\u0438\u043D\u0442\u0435\u0440 \u0404", 248,
       "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xBD\xD1\x82\xD0\xB5\xD1\x80 \xD0\x84"},  // Принтер Є
      {u"\u20AC\xD83D\xDDA8", 248, "\xE2\x82\xAC\xF0\x9F\x96\xA8"},           // € and a printer
      {u"ab\xD800"
       "c",
       248,
       "ab\xEF\xBF\xBD"
       "c"},  // lone surrogate
      {std::u16string(u"ab\0cd", 5), 248, "ab"},
      {u"abcdef", 3, "abc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    std::u16string buffer = c.input;
    buffer.push_back(u'\0');
    EXPECT_EQ(DeviceNameToUtf8(buffer.data(), c.limit), c.expected);
  }
}

}  // namespace
}  // namespace kestro
