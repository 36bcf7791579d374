// Encodable values as map keys: the order by alternative and content (linear for deep keys),
// and custom values keyed by their holder and copied deeply.
#include "engine_client/codec/encodable_value.h"

#include <gtest/gtest.h>

#include <limits>
#include <variant>

#include "tests/codec/codec_test_util.h"

namespace {

using flutter::CustomValue;
using flutter::EncodableValue;
using flutter::EncodableValueList;
using flutter::EncodableValueMap;
using kestro_test::Same;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const float kNaNf = std::numeric_limits<float>::quiet_NaN();

TEST(EncodableValueTest, OrdersByIndexThenContent) {
  struct Case {
    EncodableValue smaller, larger;
  };
  const Case cases[] = {
      {false, true},
      {int32_t{7}, int64_t{7}},
      {1e300, "bytes"},
      {"printBle", "printBleWindows"},
      {"\x7f", "\x80"},  // bytes compare unsigned
      {std::vector<uint8_t>{1, 2}, std::vector<uint8_t>{255}},
      {std::vector<int32_t>{-1}, std::vector<int32_t>{0}},
      {std::vector<int64_t>{-1}, std::vector<int64_t>{0}},
      {std::vector<int32_t>{1}, std::vector<int32_t>{1, 0}},
      {std::vector<double>{kNaN, 1.0}, std::vector<double>{kNaN, 2.0}},
      {std::vector<double>{}, std::vector<double>{-1.0}},
      {std::vector<float>{kNaNf, 1.0f}, std::vector<float>{kNaNf, 2.0f}},
      {std::vector<double>{5.0}, std::vector<float>{}},  // float list sits after custom
      {EncodableValueList{}, EncodableValueList{""}},
      {EncodableValueList{""}, EncodableValueList{"bytes"}},
      {EncodableValueMap{{1, "z"}}, EncodableValueMap{{2, "a"}}},  // keys decide first
      {EncodableValueMap{{1, "a"}}, EncodableValueMap{{1, "b"}}},  // then values
      {EncodableValueMap{{1, "a"}}, EncodableValueMap{{1, "a"}, {2, "a"}}},
      {EncodableValueMap{}, CustomValue(0)},
      {CustomValue(0), std::vector<float>{}},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(c.smaller < c.larger) << "case " << (&c - cases);
    EXPECT_FALSE(c.larger < c.smaller) << "case " << (&c - cases);
  }
  EXPECT_TRUE(Same(std::vector<double>{kNaN}, std::vector<double>{kNaN}));
  EXPECT_TRUE(Same(EncodableValue(), EncodableValue()));
}

// Hostile map keys can nest deeply: ordering them must cost one pass, not one per direction per
// level (which would never finish here).
TEST(EncodableValueTest, DeeplyNestedKeysOrderInLinearTime) {
  auto chain = [](int leaf) {
    EncodableValue value(leaf);
    for (int i = 0; i < 200; ++i) {
      value = (i % 2) ? EncodableValue(EncodableValueList{EncodableValue(), value})
                      : EncodableValue(EncodableValueMap{{EncodableValue("k"), value}});
    }
    return value;
  };
  const EncodableValue one = chain(1), two = chain(2);
  EXPECT_TRUE(one < two);
  EXPECT_FALSE(two < one);
  EXPECT_TRUE(Same(one, chain(1)));
  EncodableValueMap map{{one, EncodableValue()}, {two, EncodableValue()}, {chain(1), 5}};
  EXPECT_EQ(map.size(), 2u);
}

TEST(EncodableValueTest, CustomValuesAreKeyedByHolderAndCopiedDeeply) {
  EncodableValue original(CustomValue(std::string("printer")));
  EncodableValue twin(CustomValue(std::string("printer")));
  EncodableValue copy = original;
  EXPECT_FALSE(Same(original, twin));
  EXPECT_FALSE(Same(original, copy));
  EXPECT_TRUE(Same(original, original));
  const CustomValue& held = std::get<CustomValue>(original);
  const CustomValue& copied = std::get<CustomValue>(copy);
  ASSERT_NE(copied.TryGet<std::string>(), nullptr);
  EXPECT_EQ(*copied.TryGet<std::string>(), "printer");
  EXPECT_NE(copied.TryGet<std::string>(), held.TryGet<std::string>());
  EXPECT_EQ(held.TryGet<int>(), nullptr);

  const std::string* inside = held.TryGet<std::string>();
  EncodableValue moved = std::move(original);  // moving keeps the holder, so the same key
  EXPECT_EQ(std::get<CustomValue>(moved).TryGet<std::string>(), inside);
}

}  // namespace
