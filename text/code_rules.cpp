#include "text/code_rules.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cwctype>
#include <iterator>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "platform/conversions.h"
#include "text/gs1.h"
#include "text/rule_parts.h"

namespace {

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The simple case pairs of the Latin (ASCII, Latin-1, Latin Extended-A),
// modern Greek and Cyrillic letters, the letters codes are written in, the same
// whatever locale the C library runs in (in the "C" locale, towupper knows
// ASCII alone): the capitals from `first` to `last`, every `step`-th, and
// each one's small letter `distance` after it.
struct CasePairs {
  int first, last, distance, step;
};
constexpr CasePairs kCasePairs[] = {
    {0x41, 0x5A, 0x20, 1},   {0xC0, 0xD6, 0x20, 1},   {0xD8, 0xDE, 0x20, 1},   {0x178, 0x178, -0x79, 1},
    {0x100, 0x12E, 1, 2},    {0x132, 0x136, 1, 2},    {0x139, 0x147, 1, 2},    {0x14A, 0x176, 1, 2},
    {0x179, 0x17D, 1, 2},    {0x386, 0x386, 0x26, 1}, {0x388, 0x38A, 0x25, 1}, {0x38C, 0x38C, 0x40, 1},
    {0x38E, 0x38F, 0x3F, 1}, {0x391, 0x3A1, 0x20, 1}, {0x3A3, 0x3AB, 0x20, 1}, {0x400, 0x40F, 0x50, 1},
    {0x410, 0x42F, 0x20, 1}, {0x460, 0x480, 1, 2},    {0x48A, 0x4BE, 1, 2},    {0x4C0, 0x4C0, 0xF, 1},
    {0x4C1, 0x4CD, 1, 2},    {0x4D0, 0x52E, 1, 2}};

wchar_t LetterInCase(wchar_t c, bool upper) {
  for (const auto& [first, last, distance, step] : kCasePairs) {
    const int capital = upper ? c - distance : c;
    if (capital >= first && capital <= last && (capital - first) % step == 0) {
      return static_cast<wchar_t>(upper ? capital : capital + distance);
    }
  }
  return c;
}

}  // namespace

namespace rules {

std::vector<std::size_t> CharacterStarts(std::wstring_view text) {
  std::vector<std::size_t> starts;
  starts.reserve(text.size() + 1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    starts.push_back(i);
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) ++i;
  }
  starts.push_back(text.size());
  return starts;
}

std::size_t CharacterCount(std::wstring_view text) { return CharacterStarts(text).size() - 1; }

std::wstring InCase(std::wstring_view text, bool upper) {
  std::wstring changed(text);
  for (wchar_t& c : changed) c = LetterInCase(c, upper);
  return changed;
}

}  // namespace rules

namespace {

using namespace rules;
using AimId = TypingOptions::AimId;
using NoMatch = TypingOptions::NoMatch;

// Bounds that keep a rule's work and output in proportion to a code.
constexpr std::size_t kLongestOutput = 20000;
constexpr auto kLongestWork = std::chrono::milliseconds(30);
constexpr const wchar_t* kTooMuchWork = L"the regular expression needs too much work";

// A rule's part that cannot be carried out for this code: it is rejected.
struct Refusal {
  std::wstring why;
};

// Characters `from` to `to` (from 1, both included); nothing past the end.
std::optional<std::wstring> Characters(std::wstring_view text, std::size_t from, std::size_t to) {
  const auto starts = CharacterStarts(text);
  if (from < 1 || from > to || to >= starts.size()) return std::nullopt;
  return std::wstring(text.substr(starts[from - 1], starts[to] - starts[from - 1]));
}

// `*` any characters, `?` one, `#` one digit; the whole text.
bool WildcardMatches(std::wstring_view pattern, std::wstring_view text) {
  const auto letters = CharacterStarts(text);
  const std::size_t count = letters.size() - 1;
  const auto letter = [&](std::size_t i) { return text.substr(letters[i], letters[i + 1] - letters[i]); };
  std::size_t p = 0, t = 0, starP = std::wstring_view::npos, starT = 0;
  while (t < count) {
    if (p < pattern.size() && pattern[p] == L'*') {
      starP = p++;
      starT = t;
      continue;
    }
    const std::wstring_view here = letter(t);
    const bool wild = p < pattern.size() && (pattern[p] == L'?' || pattern[p] == L'#');
    if (wild ? pattern[p] == L'?' || IsDigit(here[0]) : pattern.substr(p).starts_with(here)) {
      p += wild ? 1 : here.size();
      ++t;
    } else if (starP != std::wstring_view::npos) {
      p = starP + 1;
      t = ++starT;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == L'*') ++p;
  return p == pattern.size();
}

// What a code's regular expressions may do: Boost.Regex's own bound grows
// with the pattern's size, and recursion escapes it; this one is 30 ms from
// the code's start, whatever the rules are (Boost's unwinding after the
// throw and the other rules' work stay within the 50 ms a code may take),
// and nothing once the reader stops. Every 1,024th step through the code
// looks at the clock and the stop.
class Budget {
 public:
  explicit Budget(const std::atomic<bool>* stopping) : stopping_(stopping) {}

  void Step() {
    if (++steps_ % 1024 != 0 || spent_) return;
    const bool stopped = stopping_ && stopping_->load();
    if (!stopped && std::chrono::steady_clock::now() < deadline_) return;
    spent_ = true;  // Boost unwinds its states after the throw: that must not throw again
    throw Refusal{stopped ? L"the reader is stopping" : kTooMuchWork};
  }

 private:
  const std::atomic<bool>* stopping_;
  const std::chrono::steady_clock::time_point deadline_ = std::chrono::steady_clock::now() + kLongestWork;
  std::uint64_t steps_ = 0;
  bool spent_ = false;
};

// The code as Boost.Regex walks it, each step counted. Bidirectional, so
// that Boost's own bound is its fixed most (it scales a random-access
// text's by the pattern's size).
class Walk {
 public:
  using iterator_category = std::bidirectional_iterator_tag;
  using value_type = wchar_t;
  using difference_type = std::ptrdiff_t;
  using pointer = const wchar_t*;
  using reference = const wchar_t&;

  Walk() = default;
  Walk(const wchar_t* at, Budget& budget) : at_(at), budget_(&budget) {}
  reference operator*() const {
    budget_->Step();
    return *at_;
  }
  Walk& operator++() {
    budget_->Step();
    ++at_;
    return *this;
  }
  Walk& operator--() {
    budget_->Step();
    --at_;
    return *this;
  }
  Walk operator++(int) { return std::exchange(*this, ++Walk(*this)); }
  Walk operator--(int) { return std::exchange(*this, --Walk(*this)); }
  bool operator==(const Walk& other) const { return at_ == other.at_; }

 private:
  const wchar_t* at_ = nullptr;
  Budget* budget_ = nullptr;
};

// Carries a code through the rules.
struct Shaper {
  std::wstring text;
  Budget budget;
  std::wstring port;                      // the one the code came from, in capitals
  std::optional<std::wstring> aim = {};   // none when identifiers are off; empty when the code has none
  std::vector<std::wstring> groups = {};  // of the rule's regular expression
  // Read when first asked for, again after the text changes.
  std::optional<std::optional<std::vector<gs1::Field>>> fields = {};

  const std::optional<std::vector<gs1::Field>>& Fields() {
    if (!fields) fields = gs1::Carries(aim, text) ? gs1::ReadFields(text) : std::nullopt;
    return *fields;
  }

  void Change(std::wstring changed) {
    if (changed.size() > kLongestOutput) throw Refusal{L"what the rule makes is longer than 20000 characters"};
    text = std::move(changed);
    fields.reset();
  }

  bool Holds(const Criterion& criterion) {
    using Kind = Criterion::Kind;
    switch (criterion.kind) {
      case Kind::Aim:
        return WildcardMatches(criterion.text, aim.value_or(L""));
      case Kind::Port:
        return WildcardMatches(criterion.text, port);
      case Kind::Length: {
        const std::size_t length = CharacterCount(text);
        return length >= criterion.least && length <= criterion.most;
      }
      case Kind::Starts:
        return text.starts_with(criterion.text);
      case Kind::Ends:
        return text.ends_with(criterion.text);
      case Kind::Contains:
        return text.find(criterion.text) != std::wstring::npos;
      case Kind::At: {
        const auto starts = CharacterStarts(text);
        return criterion.least < starts.size() &&
               std::wstring_view(text).substr(starts[criterion.least - 1]).starts_with(criterion.text);
      }
      case Kind::Like:
        return WildcardMatches(criterion.text, text);
      case Kind::Regex: {
        boost::match_results<Walk> match;
        if (!boost::regex_match(Begin(), End(), match, *criterion.regex)) return false;
        if (!criterion.negated) {
          groups.clear();
          for (const auto& group : match) groups.push_back(group.str());
        }
        return true;
      }
      case Kind::Gs1:
        return Fields().has_value();
      case Kind::Digits:
        return !text.empty() && std::ranges::all_of(text, IsDigit);
    }
    return false;
  }

  Walk Begin() { return {text.data(), budget}; }
  Walk End() { return {text.data() + text.size(), budget}; }

  std::wstring Part(std::size_t from, std::size_t to) {
    const std::size_t count = CharacterCount(text);
    if (to == SIZE_MAX) to = count;
    if (const auto part = Characters(text, from, to)) return *part;
    throw Refusal{L"the code has no characters " + platform::IntToStr(from) + L"-" + platform::IntToStr(to)};
  }

  std::wstring Field(const std::wstring& identifier) {
    const auto& read = Fields();
    if (!read) throw Refusal{L"the code is not a GS1 element string"};
    for (const gs1::Field& field : *read) {
      if (field.identifier == identifier) return field.data;
    }
    throw Refusal{L"the code has no field " + identifier};
  }

  std::vector<TypedRun> Output(const std::vector<Piece>& pieces) {
    std::vector<TypedRun> runs(1);
    std::size_t length = 0;
    for (const Piece& piece : pieces) {
      std::wstring more;
      switch (piece.kind) {
        case Piece::Kind::Text:
          more = piece.text;
          break;
        case Piece::Kind::Pause:
          runs.back().pauseAfterMs = static_cast<int>(piece.from);
          runs.emplace_back();
          continue;
        case Piece::Kind::Code:
          more = text;
          break;
        case Piece::Kind::Aim:
          more = aim.value_or(L"");
          break;
        case Piece::Kind::Characters:
          more = Part(piece.from, piece.to);
          break;
        case Piece::Kind::Field:
          more = Field(piece.text);
          break;
        case Piece::Kind::Group:
          if (piece.from >= groups.size()) {
            throw Refusal{L"the rule's regular expression has no group " + platform::IntToStr(piece.from)};
          }
          more = groups[piece.from];
          break;
      }
      length += more.size();
      if (length > kLongestOutput) throw Refusal{L"what the rule makes is longer than 20000 characters"};
      runs.back().text += more;
    }
    if (runs.back().text.empty() && runs.size() > 1) runs.pop_back();
    return runs;
  }

  // Carries out the rule's actions; the output when one makes it.
  std::optional<std::vector<TypedRun>> Apply(const std::vector<Action>& actions, bool& goOn) {
    using Kind = Action::Kind;
    for (const Action& action : actions) {
      const std::size_t count = CharacterCount(text);
      const auto needLength = [&](std::size_t length) {
        if (length > count) throw Refusal{L"the code is shorter than " + platform::IntToStr(length)};
      };
      const auto needCode = [&](std::size_t length, std::wstring_view what) {
        if (CharacterCount(text) != length || !std::ranges::all_of(text, IsDigit)) {
          throw Refusal{L"the code is not " + std::wstring(what)};
        }
        if (!gs1::CheckDigitIsRight(text)) throw Refusal{L"the check digit is wrong"};
      };
      switch (action.kind) {
        case Kind::KeepFirst:
          Change(Part(1, action.from));
          break;
        case Kind::KeepLast:
          needLength(action.from);
          Change(text.substr(CharacterStarts(text)[count - action.from]));
          break;
        case Kind::KeepRange:
          Change(Part(action.from, action.to));
          break;
        case Kind::DropFirst:
          needLength(action.from);
          Change(text.substr(CharacterStarts(text)[action.from]));
          break;
        case Kind::DropLast:
          needLength(action.from);
          Change(text.substr(0, CharacterStarts(text)[count - action.from]));
          break;
        case Kind::DropRange: {
          const std::size_t dropped = Part(action.from, action.to).size();  // refuses a range past the end
          const std::size_t at = CharacterStarts(text)[action.from - 1];
          Change(text.substr(0, at) + text.substr(at + dropped));
          break;
        }
        case Kind::Replace: {
          std::wstring changed;
          std::size_t at = 0;
          for (std::size_t found; (found = text.find(action.text, at)) != std::wstring::npos;
               at = found + action.text.size()) {
            changed.append(text, at, found - at).append(action.with);
            if (changed.size() > kLongestOutput) Change(std::move(changed));
          }
          Change(changed.append(text, at));
          break;
        }
        case Kind::RegexReplace: {
          std::wstring changed;
          boost::regex_replace(std::back_inserter(changed), Begin(), End(), *action.regex, action.with,
                               boost::format_perl);
          Change(std::move(changed));
          break;
        }
        case Kind::RemoveSpaces:
          Change(std::wstring(text.begin(), std::remove(text.begin(), text.end(), L' ')));
          break;
        case Kind::StripZeros:
          Change(text.substr(std::min(text.find_first_not_of(L'0'), text.size())));
          break;
        case Kind::PadLeft:
        case Kind::PadRight: {
          std::wstring pad;
          for (std::size_t i = count; i < action.from; ++i) pad += action.with;
          Change(action.kind == Kind::PadLeft ? pad + text : text + pad);
          break;
        }
        case Kind::Upper:
        case Kind::Lower:
          Change(InCase(text, action.kind == Kind::Upper));
          break;
        case Kind::CheckDigitVerify:
        case Kind::CheckDigitDrop:
          if (!gs1::CheckDigitIsRight(text)) throw Refusal{L"the check digit is wrong"};
          if (action.kind == Kind::CheckDigitDrop) Change(text.substr(0, text.size() - 1));
          break;
        case Kind::UpcToEan13:
          needCode(12, L"12 digits (UPC-A)");
          Change(L"0" + text);
          break;
        case Kind::Ean13ToUpc:
          needCode(13, L"13 digits (EAN-13)");
          if (text[0] != L'0') throw Refusal{L"an EAN-13 that starts with 1-9 has no UPC-A"};
          Change(text.substr(1));
          break;
        case Kind::Output:
          return Output(action.pieces);
        case Kind::Reject:
          throw Refusal{L"the rule rejects it"};
        case Kind::Continue:
          goOn = true;
          break;
      }
    }
    return std::nullopt;
  }
};

}  // namespace

CodeOutcome ShapeCode(std::wstring_view code, AimId aimId, const RuleList& rules, NoMatch noMatch,
                      const std::atomic<bool>* stopping, std::wstring_view port) {
  CodeOutcome outcome;
  Shaper shaper{std::wstring(code), Budget(stopping), InCase(port, true)};
  const auto reject = [&](std::wstring why) {
    outcome.result = CodeOutcome::Result::Rejected;
    outcome.why = std::move(why);
    outcome.output.clear();
    return outcome;
  };
  if (aimId != AimId::None) {
    // ISO/IEC 15424: `]`, the symbology's letter, its modifier.
    const bool found = code.size() >= 3 && code[0] == L']' && std::iswalpha(static_cast<wint_t>(code[1])) &&
                       code[1] < 0x80 && std::iswalnum(static_cast<wint_t>(code[2])) && code[2] < 0x80;
    if (found) {
      outcome.aimId = code.substr(0, 3);
      shaper.text.erase(0, 3);
    } else {
      outcome.why = L"the code has no symbology identifier";
    }
    shaper.aim = outcome.aimId;
  }
  if (rules.Error()) return reject(L"the rules cannot be read: " + rules.DescribeError());
  std::size_t trying = 0;
  try {
    bool goOn = true;
    for (; trying < rules.rules_.size() && goOn; ++trying) {
      const RuleList::Rule& rule = rules.rules_[trying];
      shaper.groups.clear();
      if (!std::ranges::all_of(rule.criteria, [&](const Criterion& c) { return shaper.Holds(c) != c.negated; })) {
        continue;
      }
      outcome.rule = trying + 1;
      goOn = false;
      if (auto output = shaper.Apply(rule.actions, goOn)) {
        outcome.output = std::move(*output);
        break;
      }
    }
    if (!outcome.rule && !rules.Empty() && noMatch == NoMatch::Reject) {
      return reject(L"no rule of " + rules.SourceName() + L" matches it");
    }
    if (outcome.output.empty()) outcome.output.push_back({std::move(shaper.text)});
  } catch (const Refusal& refusal) {
    return reject(L"rule " + platform::IntToStr(trying + 1) + L" of " + rules.SourceName() + L": " + refusal.why);
  } catch (const std::exception&) {
    // Boost.Regex's own bound on a match's work, or memory.
    return reject(L"rule " + platform::IntToStr(trying + 1) + L" of " + rules.SourceName() + L": " + kTooMuchWork);
  }
  if (std::ranges::all_of(outcome.output, [](const TypedRun& run) { return run.text.empty(); })) {
    const std::wstring rule = outcome.rule ? L"rule " + platform::IntToStr(*outcome.rule) + L" of " : L"";
    return reject(rule + (rule.empty() ? L"" : rules.SourceName() + L": ") + L"nothing is left to type");
  }
  if (aimId == AimId::Keep && !outcome.aimId.empty()) outcome.output.front().text.insert(0, outcome.aimId);
  return outcome;
}

std::wstring DescribeTyped(std::span<const TypedRun> runs) {
  std::wstring described;
  for (const TypedRun& run : runs) {
    for (const wchar_t c : run.text) {
      if (c == L'\t') {
        described += L"{TAB}";
      } else if (c == L'\n') {
        described += L"{ENTER}";
      } else if (c == kGroupSeparator) {
        described += L"{GS}";
      } else if (c < 0x20 || c == 0x7F) {
        const wchar_t hex[] = L"0123456789ABCDEF";
        described += std::wstring(L"{0x") + hex[c >> 4] + hex[c & 0xF] + L"}";
      } else if (c == L'{') {
        described += L"{{";
      } else {
        described += c;
      }
    }
    if (run.pauseAfterMs > 0) described += L"{PAUSE:" + platform::IntToStr(run.pauseAfterMs) + L"}";
  }
  return described;
}
