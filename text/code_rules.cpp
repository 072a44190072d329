#include "text/code_rules.h"

// Header-only, with no other Boost library behind it. The work one match
// may do is bounded: past the bound the match throws instead of running on
// (the bound grows with the code's length and the pattern's size).
#define BOOST_REGEX_STANDALONE
#define BOOST_REGEX_MAX_STATE_COUNT 1000000
#include <algorithm>
#include <boost/regex.hpp>
#include <cwctype>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "platform/conversions.h"
#include "platform/diagnostics.h"
#include "text/gs1.h"

namespace {

using AimId = TypingOptions::AimId;
using NoMatch = TypingOptions::NoMatch;

constexpr wchar_t kGroupSeparator = 0x1D;
// Bounds that keep a rule's work and output in proportion to a code.
constexpr std::size_t kLongestPattern = 200, kLongestOutput = 20000, kWidestPad = 1000;
constexpr int kLongestPauseMs = 10000;

// A rule's part that cannot be carried out for this code: it is rejected.
struct Refusal {
  std::wstring why;
};

// A rule that cannot be read, at the column (from 0) of the word at fault.
struct ReadError {
  std::size_t column;
  std::wstring why;
};

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Where each character starts, and the text's end: a surrogate pair is one.
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
    if (p < pattern.size() &&
        ((pattern[p] == L'?') || (pattern[p] == L'#' && IsDigit(here[0])) || pattern.substr(p).starts_with(here))) {
      p += pattern[p] == L'?' || pattern[p] == L'#' ? 1 : here.size();
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

// The case of Latin, Latin-1 and Cyrillic letters, the letters codes are
// written in, the same whatever locale the C library runs in (in the "C"
// locale, towupper knows ASCII alone).
wchar_t InCase(wchar_t c, bool upper) {
  const auto pair = [&](wchar_t lowFirst, wchar_t lowLast, int distance) {
    if (upper && c >= lowFirst && c <= lowLast) return static_cast<wchar_t>(c - distance);
    if (!upper && c >= lowFirst - distance && c <= lowLast - distance) return static_cast<wchar_t>(c + distance);
    return c;
  };
  if (c == 0xF7 || c == 0xD7) return c;  // ÷ and ×
  for (const auto& [first, last, distance] :
       {std::tuple{L'a', L'z', 0x20}, std::tuple{L'\u00E0', L'\u00FE', 0x20}, std::tuple{L'\u0430', L'\u044F', 0x20},
        std::tuple{L'\u0450', L'\u045F', 0x50}}) {
    if (const wchar_t changed = pair(first, last, distance); changed != c) return changed;
  }
  return c;
}

std::wstring InCase(std::wstring_view text, bool upper) {
  std::wstring changed(text);
  for (wchar_t& c : changed) c = InCase(c, upper);
  return changed;
}

std::wstring Lower(std::wstring_view text) { return InCase(text, false); }

using Regex = std::shared_ptr<const boost::wregex>;

Regex Compile(const std::wstring& pattern, std::size_t column) {
  if (pattern.size() > kLongestPattern) throw ReadError{column, L"the regular expression is longer than 200"};
  try {
    return std::make_shared<const boost::wregex>(pattern, boost::regex_constants::perl);
  } catch (const boost::regex_error& error) {
    const std::string what = error.what();
    const auto at = static_cast<std::size_t>(std::max<std::ptrdiff_t>(error.position(), 0));
    throw ReadError{column + std::min(at, pattern.size()),
                    L"the regular expression cannot be read: " + std::wstring(what.begin(), what.end())};
  }
}

// One word of a rule, its quotes taken off: `"a b"` is one word, `""`
// inside quotes a quote.
struct Word {
  std::wstring text;
  std::size_t column;
  bool quoted = false;

  // A `;` between actions; a quoted one is text.
  bool EndsAction() const { return !quoted && text == L";"; }
};

std::vector<Word> Words(std::wstring_view line) {
  std::vector<Word> words;
  std::size_t i = 0;
  while (i < line.size()) {
    if (std::iswspace(static_cast<wint_t>(line[i]))) {
      ++i;
      continue;
    }
    Word word{{}, i};
    if (line[i] == L';') {
      words.push_back({L";", i++});
      continue;
    }
    while (i < line.size() && !std::iswspace(static_cast<wint_t>(line[i])) && line[i] != L';') {
      if (line[i] != L'"') {
        word.text += line[i++];
        continue;
      }
      const std::size_t opened = i++;
      word.quoted = true;
      while (true) {
        if (i >= line.size()) throw ReadError{opened, L"a quote is not closed"};
        if (line[i] == L'"' && (i + 1 >= line.size() || line[i + 1] != L'"')) break;
        if (line[i] == L'"') ++i;
        word.text += line[i++];
      }
      ++i;
    }
    words.push_back(std::move(word));
  }
  return words;
}

struct Criterion {
  enum class Kind { Aim, Length, Starts, Ends, Contains, At, Like, Regex, Gs1, Digits };
  Kind kind;
  bool negated = false;
  std::wstring text = {};
  std::size_t least = 0, most = 0;  // a length's range; a position
  Regex regex = {};
};

// A piece of an output template.
struct Piece {
  enum class Kind { Text, Pause, Code, Aim, Characters, Field, Group };
  Kind kind;
  std::wstring text = {};        // literal text; a field's identifier
  std::size_t from = 0, to = 0;  // characters; a group's number; a pause
};

struct Action {
  enum class Kind {
    KeepFirst,
    KeepLast,
    KeepRange,
    DropFirst,
    DropLast,
    DropRange,
    Replace,
    RegexReplace,
    RemoveSpaces,
    StripZeros,
    PadLeft,
    PadRight,
    Upper,
    Lower,
    CheckDigitVerify,
    CheckDigitDrop,
    UpcToEan13,
    Ean13ToUpc,
    Output,
    Reject,
    Continue
  };
  Kind kind;
  std::size_t from = 0, to = 0;
  std::wstring text, with;
  Regex regex;
  std::vector<Piece> pieces;
};

std::optional<std::size_t> Count(std::wstring_view text) {
  if (text.empty() || text.size() > 6 || !std::ranges::all_of(text, IsDigit)) return std::nullopt;
  return static_cast<std::size_t>(*platform::StrToInt(std::wstring(text)));
}

std::size_t NeedCount(const Word& word, std::wstring_view text) {
  if (const auto count = Count(text)) return *count;
  throw ReadError{word.column, L"a number is expected, not \"" + std::wstring(text) + L"\""};
}

// "N-M" (M may be left out: to the end) as characters from 1.
std::pair<std::size_t, std::size_t> NeedRange(const Word& word, std::wstring_view text, bool openEnd) {
  const std::size_t dash = text.find(L'-');
  if (dash == std::wstring_view::npos) throw ReadError{word.column, L"a range N-M is expected"};
  const std::size_t from = NeedCount(word, text.substr(0, dash));
  const std::size_t to = openEnd && dash + 1 == text.size() ? SIZE_MAX : NeedCount(word, text.substr(dash + 1));
  if (from < 1 || to < from) throw ReadError{word.column, L"the range \"" + std::wstring(text) + L"\" is empty"};
  return {from, to};
}

std::vector<Piece> ReadTemplate(const Word& word) {
  std::vector<Piece> pieces;
  const std::wstring& text = word.text;
  const auto literal = [&](std::wstring_view more) {
    if (pieces.empty() || pieces.back().kind != Piece::Kind::Text) pieces.push_back({Piece::Kind::Text, {}});
    pieces.back().text += more;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::size_t column = word.column + (word.quoted ? 1 : 0) + i;
    if (text[i] == L'$' && i + 1 < text.size() && text[i + 1] == L'$') {
      literal(L"$");
      ++i;
    } else if (text[i] == L'$' && i + 1 < text.size() && IsDigit(text[i + 1])) {
      pieces.push_back({Piece::Kind::Group, {}, static_cast<std::size_t>(text[++i] - L'0')});
    } else if (text[i] == L'{' && i + 1 < text.size() && text[i + 1] == L'{') {
      literal(L"{");
      ++i;
    } else if (text[i] == L'{') {
      const std::size_t close = text.find(L'}', i);
      if (close == std::wstring::npos) throw ReadError{column, L"a brace is not closed"};
      const std::wstring name = text.substr(i + 1, close - i - 1);
      const std::wstring key = Lower(name);
      const Word inner{name, column};
      if (key == L"tab") {
        literal(L"\t");
      } else if (key == L"enter") {
        literal(L"\n");
      } else if (key == L"gs") {
        literal(std::wstring(1, kGroupSeparator));
      } else if (key == L"code") {
        pieces.push_back({Piece::Kind::Code});
      } else if (key == L"aim") {
        pieces.push_back({Piece::Kind::Aim});
      } else if (key.starts_with(L"pause:")) {
        const std::size_t ms = NeedCount(inner, key.substr(6));
        if (ms < 1 || ms > kLongestPauseMs) throw ReadError{column, L"a pause is 1 to 10000 ms"};
        pieces.push_back({Piece::Kind::Pause, {}, ms});
      } else if (key.find(L'-') != std::wstring::npos) {
        const auto [from, to] = NeedRange(inner, key, true);
        pieces.push_back({Piece::Kind::Characters, {}, from, to});
      } else if (key.size() >= 2 && key.size() <= 4 && std::ranges::all_of(key, IsDigit)) {
        pieces.push_back({Piece::Kind::Field, key});
      } else {
        throw ReadError{column, L"unknown {" + name + L"}"};
      }
      i = close;
    } else {
      literal(std::wstring_view(&text[i], 1));
    }
  }
  return pieces;
}

}  // namespace

struct RuleList::Rule {
  std::vector<Criterion> criteria;
  std::vector<Action> actions;
};

namespace {

Criterion ReadCriterion(const Word& word, bool negated) {
  const std::size_t equals = word.text.find(L'=');
  const std::wstring name = Lower(word.text.substr(0, equals));
  const std::wstring value = equals == std::wstring::npos ? std::wstring() : word.text.substr(equals + 1);
  const std::size_t valueColumn = word.column + (equals == std::wstring::npos ? 0 : equals + 1);
  using Kind = Criterion::Kind;
  const auto needsValue = [&](Kind kind) {
    if (equals == std::wstring::npos) throw ReadError{word.column, L"\"" + name + L"\" needs =, then a value"};
    return Criterion{kind, negated, value};
  };
  if (name == L"gs1" || name == L"digits") {
    if (equals != std::wstring::npos) throw ReadError{word.column, L"\"" + name + L"\" takes no value"};
    return {name == L"gs1" ? Kind::Gs1 : Kind::Digits, negated};
  }
  if (name == L"aim") return needsValue(Kind::Aim);
  if (name == L"starts") return needsValue(Kind::Starts);
  if (name == L"ends") return needsValue(Kind::Ends);
  if (name == L"contains") return needsValue(Kind::Contains);
  if (name == L"like") return needsValue(Kind::Like);
  if (name == L"length") {
    Criterion criterion = needsValue(Kind::Length);
    if (value.find(L'-') == std::wstring::npos) {
      criterion.least = criterion.most = NeedCount(word, value);
    } else {
      std::tie(criterion.least, criterion.most) = NeedRange(word, value, false);
    }
    return criterion;
  }
  if (name == L"at") {
    const std::size_t colon = value.find(L':');
    if (equals == std::wstring::npos || colon == std::wstring::npos) {
      throw ReadError{word.column, L"\"at\" is written at=POSITION:TEXT"};
    }
    Criterion criterion{Kind::At, negated, value.substr(colon + 1)};
    criterion.least = NeedCount(word, std::wstring_view(value).substr(0, colon));
    if (criterion.least < 1) throw ReadError{word.column, L"positions count from 1"};
    return criterion;
  }
  if (name == L"regex") {
    Criterion criterion = needsValue(Kind::Regex);
    criterion.regex = Compile(value, valueColumn + (word.quoted ? 1 : 0));
    return criterion;
  }
  throw ReadError{word.column, L"unknown criterion \"" + name + L"\""};
}

// The words of one action, from `at`; returns the next word's index.
std::size_t ReadAction(const std::vector<Word>& words, std::size_t at, std::vector<Action>& actions) {
  using Kind = Action::Kind;
  const Word& verb = words[at];
  std::size_t end = at;
  while (end < words.size() && !words[end].EndsAction()) ++end;
  const std::size_t arguments = end - at - 1;
  const auto argument = [&](std::size_t n) -> const Word& { return words[at + 1 + n]; };
  const auto expect = [&](std::size_t least, std::size_t most) {
    if (arguments < least || arguments > most) {
      throw ReadError{verb.column,
                      L"\"" + verb.text + L"\" takes " +
                          (least == most ? platform::IntToStr(least)
                                         : platform::IntToStr(least) + L" to " + platform::IntToStr(most)) +
                          L" words after it"};
    }
  };
  const std::wstring name = Lower(verb.text);
  Action action{};
  if (name == L"keep" || name == L"drop") {
    expect(1, 2);
    const bool keep = name == L"keep";
    const std::wstring which = Lower(argument(0).text);
    if (arguments == 2 && (which == L"first" || which == L"last")) {
      action.kind =
          which == L"first" ? (keep ? Kind::KeepFirst : Kind::DropFirst) : (keep ? Kind::KeepLast : Kind::DropLast);
      action.from = NeedCount(argument(1), argument(1).text);
    } else if (arguments == 1) {
      action.kind = keep ? Kind::KeepRange : Kind::DropRange;
      std::tie(action.from, action.to) = NeedRange(argument(0), argument(0).text, true);
    } else {
      throw ReadError{argument(0).column, L"\"first N\", \"last N\" or a range N-M is expected"};
    }
  } else if (name == L"replace" || name == L"regex-replace") {
    expect(2, 2);
    action.kind = name == L"replace" ? Kind::Replace : Kind::RegexReplace;
    action.text = argument(0).text;
    action.with = argument(1).text;
    if (action.text.empty()) throw ReadError{argument(0).column, L"nothing to replace"};
    if (action.kind == Kind::RegexReplace) {
      action.regex = Compile(action.text, argument(0).column + (argument(0).quoted ? 1 : 0));
    }
  } else if (name == L"pad" || name == L"pad-right") {
    expect(1, 2);
    action.kind = name == L"pad" ? Kind::PadLeft : Kind::PadRight;
    action.from = NeedCount(argument(0), argument(0).text);
    action.with = arguments == 2 ? argument(1).text : L"0";
    if (action.from > kWidestPad) throw ReadError{argument(0).column, L"a code is padded to 1000 at most"};
    if (CharacterCount(action.with) != 1) throw ReadError{argument(1).column, L"one character pads"};
  } else if (name == L"check-digit") {
    expect(1, 1);
    const std::wstring how = Lower(argument(0).text);
    if (how != L"verify" && how != L"drop") throw ReadError{argument(0).column, L"\"verify\" or \"drop\" is expected"};
    action.kind = how == L"verify" ? Kind::CheckDigitVerify : Kind::CheckDigitDrop;
  } else if (name == L"output") {
    expect(1, 1);
    action.kind = Kind::Output;
    action.pieces = ReadTemplate(argument(0));
  } else {
    static const std::pair<std::wstring_view, Kind> kBare[] = {{L"remove-spaces", Kind::RemoveSpaces},
                                                               {L"strip-zeros", Kind::StripZeros},
                                                               {L"upper", Kind::Upper},
                                                               {L"lower", Kind::Lower},
                                                               {L"upc-to-ean13", Kind::UpcToEan13},
                                                               {L"ean13-to-upc", Kind::Ean13ToUpc},
                                                               {L"reject", Kind::Reject},
                                                               {L"continue", Kind::Continue}};
    const auto found = std::ranges::find(kBare, name, &std::pair<std::wstring_view, Kind>::first);
    if (found == std::end(kBare)) throw ReadError{verb.column, L"unknown action \"" + verb.text + L"\""};
    expect(0, 0);
    action.kind = found->second;
  }
  if (!actions.empty()) {
    const Kind last = actions.back().kind;
    if (last == Kind::Output || last == Kind::Reject || last == Kind::Continue) {
      const wchar_t* ended = last == Kind::Output ? L"output" : last == Kind::Reject ? L"reject" : L"continue";
      throw ReadError{verb.column, L"\"" + std::wstring(ended) + L"\" ends a rule"};
    }
  }
  actions.push_back(std::move(action));
  return end;
}

std::optional<RuleList::Rule> ReadRule(std::wstring_view line) {
  const std::vector<Word> words = Words(line);
  if (words.empty() || (!words[0].quoted && words[0].text.starts_with(L'#'))) return std::nullopt;
  RuleList::Rule rule;
  std::size_t at = 0;
  const auto is = [&](std::wstring_view keyword) {
    return at < words.size() && !words[at].quoted && Lower(words[at].text) == keyword;
  };
  if (is(L"if")) {
    ++at;
    while (true) {
      const bool negated = is(L"not");
      if (negated) ++at;
      if (at >= words.size() || is(L"then")) {
        throw ReadError{at < words.size() ? words[at].column : line.size(), L"a criterion is missing"};
      }
      rule.criteria.push_back(ReadCriterion(words[at++], negated));
      if (is(L"then")) break;
      if (!is(L"and")) {
        throw ReadError{at < words.size() ? words[at].column : line.size(), L"\"and\" or \"then\" is expected"};
      }
      ++at;
    }
    ++at;
  }
  while (true) {
    if (at >= words.size() || words[at].EndsAction()) {
      throw ReadError{at < words.size() ? words[at].column : line.size(), L"an action is missing"};
    }
    at = ReadAction(words, at, rule.actions);
    if (at >= words.size()) break;
    ++at;  // the ';'
  }
  return rule;
}

}  // namespace

RuleList::RuleList() = default;
RuleList::~RuleList() = default;
RuleList::RuleList(RuleList&&) noexcept = default;
RuleList& RuleList::operator=(RuleList&&) noexcept = default;

RuleList RuleList::Read(std::span<const std::wstring> rules, std::wstring source) {
  RuleList list;
  list.source_ = std::move(source);
  for (std::size_t i = 0; i < rules.size(); ++i) {
    try {
      if (auto rule = ReadRule(rules[i])) list.rules_.push_back(std::move(*rule));
    } catch (const ReadError& error) {
      list.rules_.clear();
      list.error_ = RuleError{i + 1, error.column + 1, error.why};
      break;
    }
  }
  return list;
}

RuleList RuleList::Of(const TypingOptions& options) {
  if (options.rulesUnreadable.empty()) return Read(options.rules, options.rulesSource);
  RuleList list;
  list.source_ = options.rulesSource;
  list.error_ = RuleError{0, 0, L"the list is stored so that it cannot be read " + options.rulesUnreadable};
  return list;
}

bool RuleList::Empty() const { return rules_.empty() && !error_; }

std::wstring RuleList::DescribeError() const {
  if (!error_) return {};
  if (error_->rule == 0) return SourceName() + L": " + error_->why;
  return L"rule " + platform::IntToStr(error_->rule) + L" of " + SourceName() + L", column " +
         platform::IntToStr(error_->column) + L": " + error_->why;
}

// Carries a code through the rules.
struct Shaper {
  std::wstring text;
  std::wstring aim = {};
  std::vector<std::wstring> groups = {};  // of the rule's regular expression
  // Read when first asked for, again after the text changes.
  std::optional<std::optional<std::vector<gs1::Field>>> fields = {};

  const std::optional<std::vector<gs1::Field>>& Fields() {
    if (!fields) fields = gs1::ReadFields(text);
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
        return WildcardMatches(criterion.text, aim);
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
        boost::wsmatch match;
        if (!boost::regex_match(text, match, *criterion.regex)) return false;
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
          more = aim;
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
      const auto needDigits = [&](std::size_t length, std::wstring_view what) {
        if (CharacterCount(text) != length || !std::ranges::all_of(text, IsDigit)) {
          throw Refusal{L"the code is not " + std::wstring(what)};
        }
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
          const std::size_t to = std::min(action.to, count);
          Part(action.from, to);
          const auto starts = CharacterStarts(text);
          Change(text.substr(0, starts[action.from - 1]) + text.substr(starts[to]));
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
        case Kind::RegexReplace:
          Change(boost::regex_replace(text, *action.regex, action.with, boost::format_perl));
          break;
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
          needDigits(12, L"12 digits (UPC-A)");
          Change(L"0" + text);
          break;
        case Kind::Ean13ToUpc:
          needDigits(13, L"13 digits (EAN-13)");
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

CodeOutcome ShapeCode(std::wstring_view code, AimId aimId, const RuleList& rules, NoMatch noMatch) {
  CodeOutcome outcome;
  Shaper shaper{std::wstring(code)};
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
      shaper.aim = outcome.aimId;
      shaper.text.erase(0, 3);
    } else {
      outcome.why = L"the code has no symbology identifier";
    }
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
  } catch (const std::exception& error) {
    // Boost.Regex's bound on a match's work, or memory: its first sentence.
    std::string what = error.what();
    what = what.substr(0, std::min(what.find(". "), what.size()));
    return reject(L"rule " + platform::IntToStr(trying + 1) + L" of " + rules.SourceName() +
                  L": the regular expression gave up: " + std::wstring(what.begin(), what.end()));
  }
  if (aimId == AimId::Keep && !outcome.aimId.empty()) outcome.output.front().text.insert(0, outcome.aimId);
  return outcome;
}

ProfileRules::ProfileRules(const TypingProfiles& profiles) {
  // Programs without a list of their own share the general one.
  std::map<std::pair<std::wstring, std::vector<std::wstring>>, const RuleList*> read;
  const auto listFor = [&](const TypingOptions& options) {
    const RuleList*& list = read[{options.rulesSource + L"\n" + options.rulesUnreadable, options.rules}];
    if (!list) {
      list = lists_.emplace_back(std::make_unique<const RuleList>(RuleList::Of(options))).get();
      if (list->Error()) diagnostics::Event(list->DescribeError() + L"; the codes this list gets are not typed");
    }
    return list;
  };
  general_ = listFor(profiles.general);
  for (const auto& [program, options] : profiles.programs) programs_.emplace(program, listFor(options));
}

const RuleList& ProfileRules::For(std::wstring_view folded) const {
  const auto found = programs_.find(folded);
  return found == programs_.end() ? *general_ : *found->second;
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
