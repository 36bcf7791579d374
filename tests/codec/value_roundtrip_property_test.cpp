// Property: every value the writer produces reads back as itself, byte-exact on re-encoding,
// whatever alignment offset it starts at, with the next value starting right after it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine_client/codec/byte_streams.h"
#include "engine_client/codec/standard_codec_serializer.h"
#include "tests/codec/codec_test_util.h"

namespace kestro_test {
namespace {

using flutter::EncodableValue;

class TreeGenerator {
 public:
  explicit TreeGenerator(uint32_t seed) : random_(seed) {}

  EncodableValue Tree(int depth) {
    // Leaves only at the bottom, so trees stay small.
    switch (Uniform(0, depth <= 0 ? 9 : 11)) {
      case 0:
        return EncodableValue();
      case 1:
        return EncodableValue(Uniform(0, 1) == 1);
      case 2:
        return EncodableValue(Any<int32_t>());
      case 3:
        return EncodableValue(Any<int64_t>());
      case 4:
        return EncodableValue(Any<double>());  // NaNs and infinities too: moved bit for bit
      case 5: {
        const std::vector<uint8_t> bytes = Sequence<uint8_t>();
        return EncodableValue(std::string(bytes.begin(), bytes.end()));
      }
      case 6:
        return EncodableValue(Sequence<uint8_t>());
      case 7:
        return Uniform(0, 1) ? EncodableValue(Sequence<int32_t>())
                             : EncodableValue(Sequence<int64_t>());
      case 8:
        return EncodableValue(Sequence<double>());
      case 9:
        return EncodableValue(Sequence<float>());
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
  template <typename T>
  T Any() {
    const uint64_t bits = (uint64_t{random_()} << 32) | random_();
    T value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  // Lengths straddle the one-, three- and five-byte size fields now and then.
  template <typename T>
  std::vector<T> Sequence() {
    const int kind = Uniform(0, 19);
    std::vector<T> values(kind == 0   ? Uniform(250, 300)
                          : kind == 1 ? Uniform(65530, 65540)
                                      : Uniform(0, 12));
    for (T& v : values) v = Any<T>();
    return values;
  }

  std::mt19937 random_;
};

// Each tree is written with an int32 7 after `offset` filler bytes and read back: the tree, the 7,
// the exhausted input, a silent standard error and byte-exact re-encoding.
TEST(ValueRoundTripProperty, RandomTreesSurviveAtEveryOffset) {
  const auto& serializer = flutter::StandardCodecSerializer::Shared();
  for (uint32_t seed = 1; seed <= 1500; ++seed) {
    const EncodableValue tree = TreeGenerator(seed).Tree(static_cast<int>(seed % 5));
    const size_t offset = seed % 8;
    auto encode = [&](const EncodableValue& v) {
      Bytes bytes(offset, 0xA5);
      flutter::ByteBufferStreamWriter writer(&bytes);
      serializer.WriteValue(v, &writer);
      serializer.WriteValue(EncodableValue(7), &writer);
      return bytes;
    };
    const Bytes bytes = encode(tree);
    testing::internal::CaptureStderr();
    flutter::ByteBufferStreamReader reader(bytes.data(), bytes.size());
    for (size_t i = 0; i < offset; ++i) reader.GetByte();
    const EncodableValue read = serializer.ReadNextValue(&reader);
    const EncodableValue next = serializer.ReadNextValue(&reader);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "seed " << seed;
    ASSERT_TRUE(Same(read, tree)) << "seed " << seed;
    EXPECT_TRUE(Same(next, 7)) << "seed " << seed;
    EXPECT_EQ(reader.BytesRemaining(), 0u) << "seed " << seed;
    EXPECT_EQ(encode(read), bytes) << "seed " << seed;
  }
}

}  // namespace
}  // namespace kestro_test
