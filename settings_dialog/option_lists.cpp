#include "settings_dialog/option_lists.h"

#include <algorithm>

std::size_t PositionFor(const OptionList& list, std::wstring_view text) {
  const auto entry = std::find(list.entries.begin(), list.entries.end(), text);
  return entry == list.entries.end() ? list.fallback : static_cast<std::size_t>(entry - list.entries.begin());
}
