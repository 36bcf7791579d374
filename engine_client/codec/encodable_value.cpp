#include "engine_client/codec/encodable_value.h"

#include <cstring>
#include <functional>

namespace flutter {

namespace {

int Compare(const EncodableValue& left, const EncodableValue& right);

template <typename T>
int CompareScalars(const T& left, const T& right) {
  if (left < right) return -1;
  if (right < left) return 1;
  return 0;  // equal, or a NaN that is neither less nor greater
}

// Lexicographic, a proper prefix first. One three-way comparison per element keeps nested lists
// and maps linear; two-way "less, then greater" recursion would double the work at every level.
template <typename Sequence, typename ElementCompare>
int CompareSequences(const Sequence& left, const Sequence& right, ElementCompare compare) {
  auto l = left.begin();
  auto r = right.begin();
  for (; l != left.end() && r != right.end(); ++l, ++r) {
    if (const int order = compare(*l, *r)) return order;
  }
  if (l == left.end()) return r == right.end() ? 0 : -1;
  return 1;
}

int CompareContent(const std::monostate&, const std::monostate&) { return 0; }

// Strings and byte lists compare their bytes unsigned.
int CompareContent(const std::string& left, const std::string& right) {
  const int order = left.compare(right);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

int CompareContent(const std::vector<uint8_t>& left, const std::vector<uint8_t>& right) {
  const size_t common = left.size() < right.size() ? left.size() : right.size();
  const int order = common == 0 ? 0 : std::memcmp(left.data(), right.data(), common);
  if (order != 0) return order < 0 ? -1 : 1;
  return CompareScalars(left.size(), right.size());
}

template <typename T>
int CompareContent(const std::vector<T>& left, const std::vector<T>& right) {
  return CompareSequences(left, right, [](const T& l, const T& r) { return CompareScalars(l, r); });
}

int CompareContent(const EncodableValueList& left, const EncodableValueList& right) {
  return CompareSequences(left, right, Compare);
}

int CompareContent(const EncodableValueMap& left, const EncodableValueMap& right) {
  return CompareSequences(left, right, [](const auto& l, const auto& r) {
    const int order = Compare(l.first, r.first);
    return order != 0 ? order : Compare(l.second, r.second);
  });
}

int CompareContent(const CustomValue& left, const CustomValue& right) {
  if (left < right) return -1;
  if (right < left) return 1;
  return 0;
}

template <typename T>
int CompareContent(const T& left, const T& right) {
  return CompareScalars(left, right);
}

int Compare(const EncodableValue& left, const EncodableValue& right) {
  if (left.index() != right.index()) {
    return left.index() < right.index() ? -1 : 1;
  }
  return std::visit(
      [&right](const auto& content) {
        using Content = std::decay_t<decltype(content)>;
        return CompareContent(content, std::get<Content>(right));
      },
      static_cast<const EncodableVariant&>(left));
}

}  // namespace

const std::any& CustomValue::value() const {
  static const std::any kEmpty;
  return holder_ ? *holder_ : kEmpty;
}

bool operator<(const EncodableValue& left, const EncodableValue& right) {
  return Compare(left, right) < 0;
}

}  // namespace flutter
