// The dynamically typed value carried by every channel message: fourteen alternatives in a
// fixed order (the order picks the wire tag and leads the ordering), deep-copying, usable as a
// map key. Strict access to the wrong alternative throws std::bad_variant_access; code reading
// values from outside tests the alternative first (std::get_if or index()).
#ifndef KESTRO_ENGINE_CLIENT_CODEC_ENCODABLE_VALUE_H_
#define KESTRO_ENGINE_CLIENT_CODEC_ENCODABLE_VALUE_H_

#include <any>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <variant>
#include <vector>

namespace flutter {

class EncodableValue;

using EncodableValueList = std::vector<EncodableValue>;
using EncodableValueMap = std::map<EncodableValue, EncodableValue>;

// An application value of any copyable type, kept inside a value tree but never encoded. Copying
// copies the held value into a new holder; identity (and so ordering) is the holder's, so a copy
// is a different map key from its source while a moved value keeps its identity.
class CustomValue {
 public:
  template <typename T,
            typename = std::enable_if_t<!std::is_same<std::decay_t<T>, CustomValue>::value>>
  explicit CustomValue(T&& value) : holder_(std::make_unique<std::any>(std::forward<T>(value))) {}

  CustomValue(const CustomValue& other)
      : holder_(other.holder_ ? std::make_unique<std::any>(*other.holder_) : nullptr) {}
  CustomValue& operator=(const CustomValue& other) {
    if (this != &other) {
      holder_ = other.holder_ ? std::make_unique<std::any>(*other.holder_) : nullptr;
    }
    return *this;
  }
  CustomValue(CustomValue&&) noexcept = default;
  CustomValue& operator=(CustomValue&&) noexcept = default;
  ~CustomValue() = default;

  // The held value; empty after this object was moved from.
  const std::any& value() const;
  const std::type_info& type() const { return value().type(); }

  // The held value if it is a T, otherwise null.
  template <typename T>
  const T* TryGet() const {
    return holder_ ? std::any_cast<T>(holder_.get()) : nullptr;
  }

  // Identity order: by holder address, never by content.
  friend bool operator<(const CustomValue& left, const CustomValue& right) {
    return std::less<const std::any*>()(left.holder_.get(), right.holder_.get());
  }

 private:
  std::unique_ptr<std::any> holder_;
};

using EncodableVariant =
    std::variant<std::monostate, bool, int32_t, int64_t, double, std::string, std::vector<uint8_t>,
                 std::vector<int32_t>, std::vector<int64_t>, std::vector<double>,
                 EncodableValueList, EncodableValueMap, CustomValue, std::vector<float>>;

namespace codec_internal {

// Where T stands among Alternatives; sizeof...(Alternatives) when it is not one of them.
template <typename T, typename... Alternatives>
constexpr size_t FindAlternative() {
  constexpr bool kMatches[] = {std::is_same<T, Alternatives>::value...};
  size_t index = 0;
  while (index < sizeof...(Alternatives) && !kMatches[index]) ++index;
  return index;
}

template <typename T, typename Variant>
struct AlternativeIndex;

template <typename T, typename... Alternatives>
struct AlternativeIndex<T, std::variant<Alternatives...>> {
  static constexpr size_t value = FindAlternative<T, Alternatives...>();
  static_assert(value < sizeof...(Alternatives), "not an alternative of the variant");
};

}  // namespace codec_internal

// The index() of an EncodableValue holding a T, usable as a case label.
template <typename T>
inline constexpr size_t IndexOf = codec_internal::AlternativeIndex<T, EncodableVariant>::value;

class EncodableValue : public EncodableVariant {
 public:
  using EncodableVariant::EncodableVariant;

  EncodableValue() = default;
  // Text literals are strings, never bool.
  EncodableValue(const char* text) : EncodableVariant(std::string(text)) {}
  EncodableValue& operator=(const char* text) {
    EncodableVariant::operator=(std::string(text));
    return *this;
  }

  bool IsNull() const { return index() == IndexOf<std::monostate>; }
};

// The key order of EncodableValueMap: alternative index first, then content (strings and byte
// lists unsigned lexicographic, sequences lexicographic, custom values by identity).
bool operator<(const EncodableValue& left, const EncodableValue& right);

}  // namespace flutter

#endif  // KESTRO_ENGINE_CLIENT_CODEC_ENCODABLE_VALUE_H_
