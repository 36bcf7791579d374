// Property: every value tree the writer produces reads back as itself, byte-exact on re-encoding,
// whatever alignment offset it starts at.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "engine_client/codec/byte_streams.h"
#include "engine_client/codec/encodable_value.h"
#include "engine_client/codec/standard_codec_serializer.h"

namespace {

using flutter::EncodableValue;

class TreeGenerator {
 public:
  explicit TreeGenerator(uint32_t seed) : random_(seed) {}

  EncodableValue Tree(int depth) {
    // Leaves only at the bottom; containers get rarer with depth so trees stay small.
    const int alternatives = depth <= 0 ? 10 : 12;
    switch (Uniform(0, alternatives - 1)) {
      case 0:
        return EncodableValue();
      case 1:
        return EncodableValue(Uniform(0, 1) == 1);
      case 2:
        return EncodableValue(static_cast<int32_t>(Bits()));
      case 3:
        return EncodableValue(static_cast<int64_t>(Bits64()));
      case 4:
        return EncodableValue(Double());
      case 5:
        return EncodableValue(Text());
      case 6:
        return EncodableValue(Sequence<uint8_t>());
      case 7:
        return EncodableValue(Sequence<int32_t>());
      case 8:
        return EncodableValue(Sequence<int64_t>());
      case 9:
        return Uniform(0, 1) ? EncodableValue(Doubles()) : EncodableValue(Floats());
      case 10: {
        flutter::EncodableValueList list;
        for (int i = Uniform(0, 5); i > 0; --i) list.push_back(Tree(depth - 1));
        return EncodableValue(std::move(list));
      }
      default: {
        flutter::EncodableValueMap map;
        for (int i = Uniform(0, 5); i > 0; --i) map.emplace(Tree(depth - 1), Tree(depth - 1));
        return EncodableValue(std::move(map));
      }
    }
  }

 private:
  int Uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
  uint32_t Bits() { return static_cast<uint32_t>(random_()); }
  uint64_t Bits64() { return (uint64_t{Bits()} << 32) | Bits(); }
  // Any bit pattern, NaNs and infinities included: the codec moves doubles bit for bit.
  double Double() {
    const uint64_t bits = Bits64();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  // Lengths straddle the one-, three- and five-byte size fields now and then.
  size_t Length() {
    const int kind = Uniform(0, 19);
    if (kind == 0) return static_cast<size_t>(Uniform(250, 300));
    if (kind == 1) return static_cast<size_t>(Uniform(65530, 65540));
    return static_cast<size_t>(Uniform(0, 12));
  }
  std::string Text() {
    std::string text(Length(), '\0');
    for (char& c : text) c = static_cast<char>(Bits());
    return text;
  }
  template <typename T>
  std::vector<T> Sequence() {
    std::vector<T> values(Length());
    for (T& v : values) v = static_cast<T>(Bits64());
    return values;
  }
  std::vector<double> Doubles() {
    std::vector<double> values(Length());
    for (double& v : values) v = Double();
    return values;
  }
  std::vector<float> Floats() {
    std::vector<float> values(Length());
    for (float& v : values) {
      const uint32_t bits = Bits();
      std::memcpy(&v, &bits, sizeof v);
    }
    return values;
  }

  std::mt19937 random_;
};

std::vector<uint8_t> EncodeAt(size_t offset, const EncodableValue& value) {
  std::vector<uint8_t> bytes(offset, 0xA5);
  flutter::ByteBufferStreamWriter writer(&bytes);
  flutter::StandardCodecSerializer::Shared().WriteValue(value, &writer);
  return bytes;
}

EncodableValue DecodeAt(size_t offset, const std::vector<uint8_t>& bytes) {
  flutter::ByteBufferStreamReader reader(bytes.data(), bytes.size());
  for (size_t i = 0; i < offset; ++i) reader.GetByte();
  return flutter::StandardCodecSerializer::Shared().ReadNextValue(&reader);
}

TEST(ValueRoundTripProperty, RandomTreesSurviveAtEveryOffset) {
  constexpr int kTrees = 1500;
  for (uint32_t seed = 1; seed <= kTrees; ++seed) {
    TreeGenerator generator(seed);
    const EncodableValue tree = generator.Tree(static_cast<int>(seed % 5));
    const size_t offset = seed % 8;
    const std::vector<uint8_t> bytes = EncodeAt(offset, tree);
    const EncodableValue decoded = DecodeAt(offset, bytes);
    ASSERT_FALSE(tree < decoded || decoded < tree) << "seed " << seed << " offset " << offset;
    ASSERT_EQ(EncodeAt(offset, decoded), bytes) << "seed " << seed << " offset " << offset;
  }
}

TEST(ValueRoundTripProperty, DeepChainsUpToTheNestingLimitSurvive) {
  for (int depth : {1, 64, 256}) {
    EncodableValue tree(int32_t{7});
    for (int i = 0; i < depth; ++i) {
      tree = (i % 2) ? EncodableValue(flutter::EncodableValueList{tree})
                     : EncodableValue(flutter::EncodableValueMap{{EncodableValue("k"), tree}});
    }
    for (size_t offset = 0; offset < 8; ++offset) {
      const std::vector<uint8_t> bytes = EncodeAt(offset, tree);
      EXPECT_EQ(EncodeAt(offset, DecodeAt(offset, bytes)), bytes) << depth << " " << offset;
    }
  }
}

}  // namespace
