#include "text/code_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "text/gs1.h"

namespace {

using AimId = TypingOptions::AimId;
using NoMatch = TypingOptions::NoMatch;

// What is typed as DescribeTyped shows it, or "<rejected>" and why.
std::wstring Shape(const std::vector<std::wstring>& rules, std::wstring_view code, AimId aimId = AimId::None,
                   NoMatch noMatch = NoMatch::Pass) {
  const RuleList list = RuleList::Read(rules, L"APPCFG\\Rules");
  EXPECT_FALSE(list.Error()) << list.DescribeError();
  const CodeOutcome outcome = ShapeCode(code, aimId, list, noMatch);
  if (outcome.result == CodeOutcome::Result::Rejected) {
    EXPECT_TRUE(outcome.output.empty());
    EXPECT_FALSE(outcome.why.empty());
    return L"<rejected>" + outcome.why;
  }
  return DescribeTyped(outcome.output);
}

}  // namespace

TEST(CodeRules, EachCriterionAndActionDoesWhatItSays) {
  const std::wstring kTooMuch = L"<rejected>rule 1 of APPCFG\\Rules: the regular expression needs too much work";
  struct Case {
    std::vector<std::wstring> rules;
    std::wstring code;
    std::wstring typed;
    AimId aimId = AimId::None;
    NoMatch noMatch = NoMatch::Pass;
  };
  const Case cases[] = {
      {{}, L"]C1010461234567890317261231", L"010461234567890317261231", AimId::Strip},
      {{}, L"]C1ABC", L"]C1ABC"},
      {{L"upper"}, L"]C1abc", L"]C1ABC", AimId::Keep},
      {{L"if aim=]d? then output {AIM}-{CODE}"}, L"]d2AB", L"]d2-AB", AimId::Strip},
      {{L"if aim=]C* then reject"}, L"]d2AB", L"AB", AimId::Strip},
      {{L"if length=12 and digits then upc-to-ean13"}, L"036000291452", L"0036000291452"},
      {{L"if length=2-4 then upper"}, L"abcde", L"abcde"},
      {{L"if length=2-4 then upper"}, L"abcd", L"ABCD"},
      {{L"if starts=A and ends=Z and contains=M then lower"}, L"AMZ", L"amz"},
      {{L"lower"}, L"\u0401\u042F\u00C9\u00D7", L"\u0451\u044F\u00E9\u00D7"},
      {{L"upper"}, L"\u00E9\u0451\u044F\u00F7", L"\u00C9\u0401\u042F\u00F7"},
      {{L"if at=3:XY then drop first 2"}, L"abXYc", L"XYc"},
      {{L"if like=A#?* then keep last 2"}, L"A1bcd", L"cd"},
      {{L"if like=A#?* then keep last 2"}, L"Abbcd", L"Abbcd"},
      {{L"if not digits then reject"}, L"12a", L"<rejected>"},
      {{L"if length=13 and starts=2 then output {3-7}{TAB}{8-12}"}, L"2212345012503", L"12345{TAB}01250"},
      {{L"if length=13 then check-digit drop"}, L"4601234567893", L"460123456789"},
      {{L"if length=13 then check-digit drop"}, L"4601234567894", L"<rejected>"},
      {{L"check-digit verify"}, L"036000291452", L"036000291452"},
      {{L"if regex=\\d{13} then output {CODE}"}, L"ABC-123", L"<rejected>", AimId::None, NoMatch::Reject},
      {{L"if regex=PN:0*(\\d+)-(\\w) then output $2{TAB}$1"}, L"PN:00012345-A", L"A{TAB}12345"},
      {{L"output {CODE}{TAB}{PAUSE:50}"}, L"4601234567893", L"4601234567893{TAB}{PAUSE:50}"},
      {{L"output \"{1-2} {{$$}{ENTER}{GS}\""}, L"abc", L"ab {{$}{ENTER}{GS}"},
      {{L"keep first 3"},
       L"a\xD83D\xDE00"
       L"bc",
       L"a\xD83D\xDE00"
       L"b"},
      {{L"keep 2-3"}, L"abcd", L"bc"},
      {{L"keep first 5"}, L"abcd", L"<rejected>"},
      {{L"drop last 1"}, L"abcd", L"abc"},
      {{L"drop 2-3"}, L"abcd", L"ad"},
      {{L"drop 2-"}, L"abcd", L"a"},
      {{L"replace - \"\"; replace \";\" \",\""}, L"A-B;C", L"AB,C"},
      {{L"regex-replace \"(\\w)(\\d)\" $2$1"}, L"a1b2", L"1a2b"},
      {{L"remove-spaces ; strip-zeros"}, L"0 0 12 3", L"123"},
      {{L"pad 6; pad-right 8 x"}, L"123", L"000123xx"},
      {{L"ean13-to-upc"}, L"0036000291452", L"036000291452"},
      {{L"ean13-to-upc"}, L"4601234567893", L"<rejected>"},
      {{L"# a comment", L"", L"strip-zeros; continue", L"if length=3 then pad 5", L"upper"}, L"000123", L"00123"},
      {{L"strip-zeros; continue", L"if length=9 then reject"}, L"0012", L"12", AimId::None, NoMatch::Reject},
      {{L"if regex=\"(a+)+b\" then reject"}, std::wstring(3000, L'a'), L"<rejected>"},
      // However large the expression, its work is bounded; so is recursion's.
      {{L"if regex=\"(?#" + std::wstring(190, L'x') + L")(a+)+b\" then reject"}, std::wstring(3000, L'a'), kTooMuch},
      {{L"if regex=00000+0++02 then reject"}, std::wstring(8000, L'0'), kTooMuch},
      {{L"if regex=(a(?1)?)b then reject"}, std::wstring(1500, L'a'), kTooMuch},
      {{L"drop 11-13"}, L"123456789012", L"<rejected>rule 1 of APPCFG\\Rules: the code has no characters 11-13"},
      {{L"drop first 5"}, L"abcd", L"<rejected>"},
      {{L"strip-zeros"}, L"0000", L"<rejected>rule 1 of APPCFG\\Rules: "},
      {{L"upc-to-ean13"}, L"036000291453", L"<rejected>rule 1 of APPCFG\\Rules: the check digit is wrong"},
      {{L"ean13-to-upc"}, L"0036000291453", L"<rejected>rule 1 of APPCFG\\Rules: the check digit is wrong"},
      {{L"check-digit verify"}, L"04252614", L"04252614"},
      {{L"if length=0-5 then upper;"}, L"ab", L"AB"},
      {{L"if length=5-5 then keep 5-5; output {1-1}"}, L"abcde", L"e"},
      {{L"upper"}, L"\u0491\u00FF\u0142\u0151\u03C9\u04C2\u0101", L"\u0490\u0178\u0141\u0150\u03A9\u04C1\u0100"},
      {{L"lower"}, L"\u0490\u0178\u0141\u0150\u03A9\u04C1\u0100", L"\u0491\u00FF\u0142\u0151\u03C9\u04C2\u0101"},
      {{L"if like=A#1 then lower"}, L"A#1", L"A#1"},
      {{L"if like=ABC* then lower"}, L"ABC", L"abc"},
      {{L"output \"a\"\"b\""}, L"x", L"a\"b"},
      {{L"output {3103}"}, L"3103000250", L"000250"},
      {{L"replace AB X"}, L"ABAB", L"XX"},
      {{L"upper", L"lower"}, L"aB", L"AB"},
      {{L"strip-zeros; continue", L"keep first 9"}, L"0012", L"<rejected>rule 2 of APPCFG\\Rules: "},
      {{L"if not gs1 then drop first 3; output {21}"}, L"XYZ21ABC", L"ABC"},
      {{L"if regex=(a)bc then keep first 2; continue", L"output $1"}, L"abc", L"<rejected>rule 2 of"},
      {{L"if regex=(a)(b) then output x$3"}, L"ab", L"<rejected>rule 1 of APPCFG\\Rules: the rule's"},
      // A GS1 code only where its identifier says so; without identifiers
      // an EAN-13 is one (here a weighed item's), never field 21.
      {{L"if gs1 then output {21}"}, L"2112345678900", L"2112345678900"},
      {{L"if gs1 then output {01}"}, L"]Q10104601234567893", L"0104601234567893", AimId::Strip},
      {{L"if gs1 then output {01}"}, L"]Q30104601234567893", L"04601234567893", AimId::Strip},
  };
  for (const Case& c : cases) {
    const std::wstring typed = Shape(c.rules, c.code, c.aimId, c.noMatch);
    // A rejection is expected as "<rejected>" and the start of its why.
    EXPECT_TRUE(c.typed.starts_with(L"<rejected>") ? typed.starts_with(c.typed) : typed == c.typed)
        << c.rules.front() << " / " << c.code << ": " << typed;
  }
  // A stop ends a running match.
  const std::atomic<bool> stopping = true;
  const RuleList runaway = RuleList::Read(std::vector<std::wstring>{L"if regex=(a+)+b then reject"});
  EXPECT_EQ(ShapeCode(std::wstring(3000, L'a'), AimId::None, runaway, NoMatch::Pass, &stopping).why,
            L"rule 1 of the list: the reader is stopping");
}

TEST(CodeRules, ARuleThatCannotBeReadSaysWhereAndWhyAndTypesNothing) {
  struct Case {
    std::vector<std::wstring> rules;
    std::size_t rule, column;
    std::wstring why;
  };
  const Case cases[] = {
      {{L"upper", L"if length=1 then frobnicate"}, 2, 18, L"unknown action \"frobnicate\""},
      {{L"if foo=1 then upper"}, 1, 4, L"unknown criterion \"foo\""},
      {{L"if starts=A"}, 1, 12, L"\"and\" or \"then\" is expected"},
      {{L"if then upper"}, 1, 4, L"a criterion is missing"},
      {{L"if digits then"}, 1, 15, L"an action is missing"},
      {{L"output \"abc"}, 1, 8, L"a quote is not closed"},
      {{L"keep first x"}, 1, 12, L"a number is expected, not \"x\""},
      {{L"output {BOGUS}"}, 1, 8, L"unknown {BOGUS}"},
      {{L"output {CODE}; upper"}, 1, 16, L"\"output\" ends a rule"},
      {{L"pad 5 ab"}, 1, 7, L"one character pads"},
      {{L"if length=5-2 then upper"}, 1, 4, L"the range \"5-2\" is empty"},
      {{L"if at=0:X then upper"}, 1, 4, L"positions count from 1"},
  };
  for (const Case& c : cases) {
    const RuleList list = RuleList::Read(c.rules, L"HKLM APPCFG\\Rules");
    ASSERT_TRUE(list.Error()) << c.rules.back();
    EXPECT_EQ(list.Error()->rule, c.rule) << c.rules.back();
    EXPECT_EQ(list.Error()->column, c.column) << c.rules.back();
    EXPECT_EQ(list.Error()->why, c.why);
    EXPECT_EQ(ShapeCode(L"12345", AimId::None, list, NoMatch::Pass).result, CodeOutcome::Result::Rejected);
  }
  // A regular expression's own error is placed where Boost finds it.
  const RuleList broken = RuleList::Read(std::vector<std::wstring>{L"if regex=(ab then upper"});
  ASSERT_TRUE(broken.Error());
  EXPECT_GT(broken.Error()->column, 10u);
  EXPECT_EQ(broken.DescribeError().rfind(L"rule 1 of the list, column ", 0), 0u);
}

TEST(Gs1, FieldsOfFixedAndVariableLengthAreReadByTheirIdentifiers) {
  struct Case {
    std::wstring code;
    std::wstring fields;  // "identifier=data|..."; "-" when not well-formed
  };
  // `~` stands for GS.
  const Case cases[] = {
      {L"010460123456789321ABC123~91EE07~92abc", L"01=04601234567893|21=ABC123|91=EE07|92=abc"},
      {L"~01046012345678931726123110AB", L"01=04601234567893|17=261231|10=AB"},
      {L"3103000250~", L"3103=000250"},
      {L"21ABC91EE07", L"21=ABC91EE07"},  // no GS: the serial runs on
      {L"0112345", L"-"},
      {L"01ABCDEFGHIJKLMN", L"-"},
      {L"21", L"-"},
      {L"05123", L"-"},
      {L"21" + std::wstring(21, L'x'), L"-"},
      // Each family of GS1's table at its length, and one off it.
      {L"00046012345678901236", L"00=046012345678901236"},
      {L"0004601234567890123", L"-"},
      {L"0304601234567893", L"03=04601234567893"},
      {L"1426123110AB", L"-"},
      {L"3712345678", L"37=12345678"},
      {L"30123456789", L"-"},
      {L"3170000250", L"-"},
      {L"40212345678901234567", L"402=12345678901234567"},
      {L"402123456789012345678", L"-"},
      {L"4104601234567893", L"410=4601234567893"},
      {L"4184601234567893", L"-"},
      {L"422643~10AB", L"422=643|10=AB"},
      {L"4226430", L"-"},
      {L"4326261231", L"4326=261231"},
      {L"43262612310", L"-"},
      {L"70032612311530", L"7003=2612311530"},
      {L"700326123115301", L"-"},
      {L"7006261231~10AB", L"7006=261231|10=AB"},
      {L"700626123", L"-"},
      {L"716ABC123", L"716=ABC123"},
      {L"717ABC", L"-"},
      {L"800101000050012011", L"8001=01000050012011"},
      {L"80010100005001201", L"-"},
      {L"010460043993125621JgXJ5.T~8005112000~930001", L"01=04600439931256|21=JgXJ5.T|8005=112000|93=0001"},
      {L"010460043993125621JgXJ5.T~8005112000930001", L"-"},  // the GS after 8005 left out
      {L"8018123456789012345678", L"8018=123456789012345678"},
      {L"801812345678901234567", L"-"},
      {L"90" + std::wstring(30, L'x'), L"90=" + std::wstring(30, L'x')},
      {L"90" + std::wstring(31, L'x'), L"-"},
      {L"230ABC", L"-"},
  };
  for (const Case& c : cases) {
    std::wstring code = c.code;
    std::ranges::replace(code, L'~', L'\x1D');
    std::wstring fields = L"-";
    if (const auto read = gs1::ReadFields(code)) {
      fields.clear();
      for (const auto& field : *read) fields += (fields.empty() ? L"" : L"|") + field.identifier + L"=" + field.data;
    }
    EXPECT_EQ(fields, c.fields) << c.code;
  }
  EXPECT_TRUE(gs1::CheckDigitIsRight(L"04601234567893"));
  EXPECT_FALSE(gs1::CheckDigitIsRight(L"04601234567898"));
  // UPC-E, right as UPC-A once expanded (and wrong as EAN-8).
  for (const wchar_t* upcE : {L"04252614", L"01234531", L"01234543"}) EXPECT_TRUE(gs1::CheckDigitIsRight(upcE)) << upcE;
  const std::vector<std::wstring> marking{L"if aim=]d2 and gs1 then output {01}{TAB}{21}"};
  const std::wstring code =
      L"]d2010460123456789321ABC123\x1D"
      L"91EE07\x1D"
      L"92abc";
  EXPECT_EQ(Shape(marking, code, AimId::Strip), L"04601234567893{TAB}ABC123");
  EXPECT_TRUE(Shape({L"if gs1 then output {17}"}, L"21ABC91EE07").starts_with(L"<rejected>"));
  EXPECT_TRUE(Shape({L"output {01}"}, L"ABC").starts_with(L"<rejected>"));
}
