#include "text/gs1.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace gs1 {
namespace {

constexpr wchar_t kGroupSeparator = 0x1D;

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// The application identifiers of GS1's Barcode Syntax Dictionary (GS1's
// own table of identifiers in machine-readable form), with the lengths
// their data may have. An entry is a box: an identifier of its length each
// of whose digits lies between `first`'s and `last`'s (so "3100"-"3165"
// holds 3100-3105, 3110-3115 ... 3160-3165).
struct Identifiers {
  std::string_view first, last;
  unsigned char least, most;
  bool digits;      // the data is digits alone
  bool predefined;  // its length is fixed beforehand: no GS ends it
};
constexpr Identifiers kIdentifiers[] = {{"00", "00", 18, 18, true, true},       {"01", "03", 14, 14, true, true},
                                        {"10", "10", 1, 20, false, false},      {"11", "13", 6, 6, true, true},
                                        {"15", "17", 6, 6, true, true},         {"20", "20", 2, 2, true, true},
                                        {"21", "22", 1, 20, false, false},      {"235", "235", 1, 28, false, false},
                                        {"240", "241", 1, 30, false, false},    {"242", "242", 1, 6, true, false},
                                        {"243", "243", 1, 20, false, false},    {"250", "251", 1, 30, false, false},
                                        {"253", "253", 13, 30, false, false},   {"254", "254", 1, 20, false, false},
                                        {"255", "255", 13, 25, true, false},    {"30", "30", 1, 8, true, false},
                                        {"3100", "3165", 6, 6, true, true},     {"3200", "3295", 6, 6, true, true},
                                        {"3300", "3375", 6, 6, true, true},     {"3400", "3495", 6, 6, true, true},
                                        {"3500", "3575", 6, 6, true, true},     {"3600", "3695", 6, 6, true, true},
                                        {"37", "37", 1, 8, true, false},        {"3900", "3909", 1, 15, true, false},
                                        {"3910", "3919", 4, 18, true, false},   {"3920", "3929", 1, 15, true, false},
                                        {"3930", "3939", 4, 18, true, false},   {"3940", "3943", 4, 4, true, false},
                                        {"3950", "3955", 6, 6, true, false},    {"400", "401", 1, 30, false, false},
                                        {"402", "402", 17, 17, true, false},    {"403", "403", 1, 30, false, false},
                                        {"410", "417", 13, 13, true, true},     {"420", "420", 1, 20, false, false},
                                        {"421", "421", 4, 12, false, false},    {"422", "422", 3, 3, true, false},
                                        {"423", "423", 3, 15, true, false},     {"424", "424", 3, 3, true, false},
                                        {"425", "425", 3, 15, true, false},     {"426", "426", 3, 3, true, false},
                                        {"427", "427", 1, 3, false, false},     {"4300", "4301", 1, 35, false, false},
                                        {"4302", "4306", 1, 70, false, false},  {"4307", "4307", 2, 2, false, false},
                                        {"4308", "4308", 1, 30, false, false},  {"4309", "4309", 20, 20, true, false},
                                        {"4310", "4311", 1, 35, false, false},  {"4312", "4316", 1, 70, false, false},
                                        {"4317", "4317", 2, 2, false, false},   {"4318", "4318", 1, 20, false, false},
                                        {"4319", "4319", 1, 30, false, false},  {"4320", "4320", 1, 35, false, false},
                                        {"4321", "4323", 1, 1, true, false},    {"4324", "4325", 10, 10, true, false},
                                        {"4326", "4326", 6, 6, true, false},    {"4330", "4333", 6, 7, false, false},
                                        {"7001", "7001", 13, 13, true, false},  {"7002", "7002", 1, 30, false, false},
                                        {"7003", "7003", 10, 10, true, false},  {"7004", "7004", 1, 4, true, false},
                                        {"7005", "7005", 1, 12, false, false},  {"7006", "7006", 6, 6, true, false},
                                        {"7007", "7007", 6, 12, true, false},   {"7008", "7008", 1, 3, false, false},
                                        {"7009", "7009", 1, 10, false, false},  {"7010", "7010", 1, 2, false, false},
                                        {"7011", "7011", 6, 10, true, false},   {"7020", "7022", 1, 20, false, false},
                                        {"7023", "7023", 1, 30, false, false},  {"7030", "7039", 4, 30, false, false},
                                        {"7040", "7040", 4, 4, false, false},   {"7041", "7041", 1, 4, false, false},
                                        {"710", "716", 1, 20, false, false},    {"7230", "7239", 3, 30, false, false},
                                        {"7240", "7240", 1, 20, false, false},  {"7241", "7241", 2, 2, true, false},
                                        {"7242", "7242", 1, 25, false, false},  {"7250", "7250", 8, 8, true, false},
                                        {"7251", "7251", 12, 12, true, false},  {"7252", "7252", 1, 1, true, false},
                                        {"7253", "7254", 1, 40, false, false},  {"7255", "7255", 1, 10, false, false},
                                        {"7256", "7256", 1, 90, false, false},  {"7257", "7257", 1, 70, false, false},
                                        {"7258", "7258", 3, 3, false, false},   {"7259", "7259", 1, 40, false, false},
                                        {"8001", "8001", 14, 14, true, false},  {"8002", "8002", 1, 20, false, false},
                                        {"8003", "8003", 14, 30, false, false}, {"8004", "8004", 1, 30, false, false},
                                        {"8005", "8005", 6, 6, true, false},    {"8006", "8006", 18, 18, true, false},
                                        {"8007", "8007", 1, 34, false, false},  {"8008", "8008", 8, 12, true, false},
                                        {"8009", "8009", 1, 50, false, false},  {"8010", "8010", 1, 30, false, false},
                                        {"8011", "8011", 1, 12, true, false},   {"8012", "8012", 1, 20, false, false},
                                        {"8013", "8014", 1, 25, false, false},  {"8017", "8018", 18, 18, true, false},
                                        {"8019", "8019", 1, 10, true, false},   {"8020", "8020", 1, 25, false, false},
                                        {"8026", "8026", 18, 18, true, false},  {"8030", "8030", 1, 90, false, false},
                                        {"8110", "8110", 1, 70, false, false},  {"8111", "8111", 4, 4, true, false},
                                        {"8112", "8112", 1, 70, false, false},  {"8200", "8200", 1, 70, false, false},
                                        {"90", "90", 1, 30, false, false},      {"91", "99", 1, 90, false, false}};

// The entry of the identifier `code` starts with; GS1 makes none the start
// of another.
const Identifiers* IdentifierAt(std::wstring_view code) {
  const auto inside = [&](const Identifiers& entry) {
    if (code.size() < entry.first.size()) return false;
    for (std::size_t i = 0; i < entry.first.size(); ++i) {
      if (code[i] < entry.first[i] || code[i] > entry.last[i]) return false;
    }
    return true;
  };
  const auto found = std::ranges::find_if(kIdentifiers, inside);
  return found == std::end(kIdentifiers) ? nullptr : found;
}

bool Mod10IsRight(std::wstring_view digits) {
  int sum = 0;
  int weight = 3;
  for (std::size_t i = digits.size() - 1; i-- > 0;) {
    sum += (digits[i] - L'0') * weight;
    weight = 4 - weight;
  }
  return (10 - sum % 10) % 10 == digits.back() - L'0';
}

// A UPC-E (number system, six digits, check digit) as the UPC-A it stands
// for: where the zeros go depends on its sixth digit.
std::wstring UpcA(std::wstring_view e) {
  const std::wstring_view d = e.substr(1, 6);
  std::wstring middle;
  switch (d[5]) {
    case L'0':
    case L'1':
    case L'2':
      middle = std::wstring(d.substr(0, 2)) + d[5] + L"0000" + std::wstring(d.substr(2, 3));
      break;
    case L'3':
      middle = std::wstring(d.substr(0, 3)) + L"00000" + std::wstring(d.substr(3, 2));
      break;
    case L'4':
      middle = std::wstring(d.substr(0, 4)) + L"00000" + d[4];
      break;
    default:
      middle = std::wstring(d.substr(0, 5)) + L"0000" + d[5];
  }
  return e[0] + middle + e[7];
}

}  // namespace

bool Carries(std::optional<std::wstring_view> identifier, std::wstring_view code) {
  if (identifier) {
    static constexpr std::array<std::wstring_view, 5> kGs1 = {L"]C1", L"]e0", L"]d2", L"]Q3", L"]J1"};
    return std::ranges::find(kGs1, *identifier) != kGs1.end();
  }
  const std::size_t length = code.size();
  return !((length == 8 || (length >= 12 && length <= 14)) && std::ranges::all_of(code, IsDigit));
}

std::optional<std::vector<Field>> ReadFields(std::wstring_view code) {
  if (!code.empty() && code.front() == kGroupSeparator) code.remove_prefix(1);
  if (code.empty()) return std::nullopt;
  std::vector<Field> fields;
  std::size_t at = 0;
  while (at < code.size()) {
    const Identifiers* entry = IdentifierAt(code.substr(at));
    if (!entry) return std::nullopt;
    const std::wstring_view identifier = code.substr(at, entry->first.size());
    at += identifier.size();
    // A predefined length is taken as it is (some printers put a GS after
    // it as well); any other field runs to a GS or the code's end.
    const std::size_t end = entry->predefined ? std::min<std::size_t>(at + entry->most, code.size())
                                              : std::min(code.find(kGroupSeparator, at), code.size());
    const std::wstring_view data = code.substr(at, end - at);
    if (data.size() < entry->least || data.size() > entry->most) return std::nullopt;
    if (entry->digits && !std::ranges::all_of(data, IsDigit)) return std::nullopt;
    at = end < code.size() && code[end] == kGroupSeparator ? end + 1 : end;
    fields.push_back({std::wstring(identifier), std::wstring(data)});
  }
  return fields;
}

bool CheckDigitIsRight(std::wstring_view digits) {
  if (digits.size() < 2 || !std::ranges::all_of(digits, IsDigit)) return false;
  if (digits.size() == 8 && digits[0] <= L'1' && Mod10IsRight(UpcA(digits))) return true;
  return Mod10IsRight(digits);
}

}  // namespace gs1
