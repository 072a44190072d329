#include "text/rule_list.h"

#include <algorithm>
#include <cwctype>
#include <tuple>
#include <utility>

#include "platform/conversions.h"
#include "platform/diagnostics.h"
#include "text/rule_parts.h"

namespace {

using namespace rules;

// Bounds that keep a rule's work and output in proportion to a code.
constexpr std::size_t kLongestPattern = 200, kWidestPad = 1000;
constexpr int kLongestPauseMs = 10000;

// A rule that cannot be read, at the column (from 0) of the word at fault.
struct ReadError {
  std::size_t column;
  std::wstring why;
};

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

std::optional<std::size_t> Count(std::wstring_view text) {
  if (text.empty() || text.size() > 6 || !std::ranges::all_of(text, IsDigit)) return std::nullopt;
  return static_cast<std::size_t>(*platform::StrToInt(std::wstring(text)));
}

std::size_t NeedCount(const Word& word, std::wstring_view text) {
  if (const auto count = Count(text)) return *count;
  throw ReadError{word.column, L"a number is expected, not \"" + std::wstring(text) + L"\""};
}

// "N-M" of positions, from 1, where M may be left out (to the end); or of
// lengths, from 0.
std::pair<std::size_t, std::size_t> NeedRange(const Word& word, std::wstring_view text, bool positions) {
  const std::size_t dash = text.find(L'-');
  if (dash == std::wstring_view::npos) throw ReadError{word.column, L"a range N-M is expected"};
  const std::size_t from = NeedCount(word, text.substr(0, dash));
  const std::size_t to = positions && dash + 1 == text.size() ? SIZE_MAX : NeedCount(word, text.substr(dash + 1));
  if (from < (positions ? 1u : 0u) || to < from) {
    throw ReadError{word.column, L"the range \"" + std::wstring(text) + L"\" is empty"};
  }
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
  // Windows reads a port's name in any case.
  if (name == L"port") return {Kind::Port, negated, InCase(needsValue(Kind::Port).text, true)};
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
    if (at >= words.size() || ++at >= words.size()) break;  // past the ';': a last one ends nothing
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

const RuleList& ProfileRules::For(std::wstring_view program) const {
  const auto found = programs_.find(FoldedProgramName(program));
  return found == programs_.end() ? *general_ : *found->second;
}
