#include "engine_client/codec/encodable_value.h"

namespace flutter {

namespace {

// Same-alternative comparisons. std::vector's and std::map's operator< are lexicographic with a
// proper prefix first; for float and double lists that is the "neither less, move on" rule, and
// for strings and byte lists the bytes compare unsigned.
template <typename T>
bool ContentLess(const T& left, const T& right) {
  return left < right;
}

bool ContentLess(const std::monostate&, const std::monostate&) { return false; }

}  // namespace

const std::any& CustomValue::value() const {
  static const std::any kEmpty;
  return holder_ ? *holder_ : kEmpty;
}

bool operator<(const EncodableValue& left, const EncodableValue& right) {
  if (left.index() != right.index()) {
    return left.index() < right.index();
  }
  return std::visit(
      [&right](const auto& content) {
        using Content = std::decay_t<decltype(content)>;
        return ContentLess(content, std::get<Content>(right));
      },
      static_cast<const EncodableVariant&>(left));
}

}  // namespace flutter
