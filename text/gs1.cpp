#include "text/gs1.h"

#include <algorithm>

namespace gs1 {
namespace {

constexpr wchar_t kGroupSeparator = 0x1D;

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

struct Layout {
  int identifierLength;  // 0: no identifier starts with these two digits
  int fixedLength;       // the data's length; 0 when it varies
  int longest;           // for a variable length
};

// By the identifier's first two digits, as GS1's published tables
// list them: how long the identifier is, and the lengths they fix
// beforehand (the fields that need no separator after them).
Layout LayoutOf(int firstTwo) {
  if (firstTwo == 0) return {2, 18, 0};
  if (firstTwo >= 1 && firstTwo <= 3) return {2, 14, 0};
  if (firstTwo == 4) return {2, 16, 0};
  if (firstTwo >= 11 && firstTwo <= 19) return {2, 6, 0};
  if (firstTwo == 20) return {2, 2, 0};
  if (firstTwo == 10 || firstTwo == 21 || firstTwo == 22) return {2, 0, 20};
  if (firstTwo == 30 || firstTwo == 37) return {2, 0, 8};
  if (firstTwo >= 90) return {2, 0, 90};
  if (firstTwo >= 31 && firstTwo <= 36) return {4, 6, 0};
  if (firstTwo == 41) return {3, 13, 0};
  if (firstTwo == 23 || firstTwo == 24 || firstTwo == 25 || firstTwo == 40 || firstTwo == 42) return {3, 0, 90};
  if (firstTwo == 39 || firstTwo == 43 || (firstTwo >= 70 && firstTwo <= 72) || (firstTwo >= 80 && firstTwo <= 82)) {
    return {4, 0, 90};
  }
  return {0, 0, 0};
}

}  // namespace

std::optional<std::vector<Field>> ReadFields(std::wstring_view code) {
  if (!code.empty() && code.front() == kGroupSeparator) code.remove_prefix(1);
  if (code.empty()) return std::nullopt;
  std::vector<Field> fields;
  std::size_t at = 0;
  while (at < code.size()) {
    if (code.size() - at < 2 || !IsDigit(code[at]) || !IsDigit(code[at + 1])) return std::nullopt;
    const Layout layout = LayoutOf((code[at] - L'0') * 10 + (code[at + 1] - L'0'));
    const auto identifierLength = static_cast<std::size_t>(layout.identifierLength);
    if (identifierLength == 0 || code.size() - at < identifierLength) return std::nullopt;
    const std::wstring_view identifier = code.substr(at, identifierLength);
    if (!std::ranges::all_of(identifier, IsDigit)) return std::nullopt;
    at += identifierLength;
    std::wstring_view data;
    if (layout.fixedLength > 0) {
      data = code.substr(at, static_cast<std::size_t>(layout.fixedLength));
      if (data.size() != static_cast<std::size_t>(layout.fixedLength) || !std::ranges::all_of(data, IsDigit)) {
        return std::nullopt;
      }
      at += data.size();
      // Some printers put a separator after a fixed field as well.
      if (at < code.size() && code[at] == kGroupSeparator) ++at;
    } else {
      const std::size_t end = std::min(code.find(kGroupSeparator, at), code.size());
      data = code.substr(at, end - at);
      if (data.empty() || data.size() > static_cast<std::size_t>(layout.longest)) return std::nullopt;
      at = end == code.size() ? end : end + 1;
    }
    fields.push_back({std::wstring(identifier), std::wstring(data)});
  }
  return fields;
}

bool CheckDigitIsRight(std::wstring_view digits) {
  if (digits.size() < 2 || !std::ranges::all_of(digits, IsDigit)) return false;
  int sum = 0;
  int weight = 3;
  for (std::size_t i = digits.size() - 1; i-- > 0;) {
    sum += (digits[i] - L'0') * weight;
    weight = 4 - weight;
  }
  return (10 - sum % 10) % 10 == digits.back() - L'0';
}

}  // namespace gs1
