#include "text/prepared_code.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/try_rules.h"
#include "line/code_framer.h"

namespace {

using AimId = TypingOptions::AimId;
using Suffix = TypingOptions::Suffix;

struct NoOtherCodePages final : CodePages {
  bool Knows(unsigned) const override { return false; }
  std::optional<std::wstring> Decode(unsigned, std::string_view) const override { return std::nullopt; }
};

// The general options, and pos.exe's own list that refuses what it does
// not match.
TypingProfiles ManualProfiles(std::vector<std::wstring> rules) {
  TypingProfiles profiles;
  profiles.general.rulesSource = rules.empty() ? L"" : L"APPCFG\\Rules";
  profiles.general.rules = std::move(rules);
  TypingOptions& pos = profiles.programs[FoldedProgramName(L"pos.exe")];
  pos.rules = {L"if regex=\\d{13} then output {CODE}"};
  pos.rulesSource = L"APPCFG\\Programs\\pos.exe\\Rules";
  pos.noMatch = TypingOptions::NoMatch::Reject;
  return profiles;
}

}  // namespace

TEST(PrepareCode, EachExampleOfTheManualTypesWhatItSaysIntoItsProgram) {
  const NoOtherCodePages none;
  const std::vector<std::wstring> checkDigit = {L"if length=13 then check-digit drop"};
  const std::wstring np = L"notepad.exe", pos = L"pos.exe";
  const struct {
    std::vector<std::wstring> rules;
    std::string code;
    std::wstring program, typed;
    AimId aimId = AimId::None;
    Suffix suffix = Suffix::None;
    std::wstring prefix = {}, groupSeparator = {};
  } rows[] = {
      {{}, "]C1010461234567890317261231", np, L"010461234567890317261231", AimId::Strip},
      {{L"if aim=]d2 and gs1 then output {01}{TAB}{21}"},
       "]d2010460123456789321ABC123\x1D"
       "91EE07",
       np,
       L"04601234567893{TAB}ABC123",
       AimId::Strip},
      {{L"if length=12 and digits then upc-to-ean13"}, "036000291452", np, L"0036000291452"},
      {{L"if length=13 and starts=2 then output {3-7}{TAB}{8-12}"}, "2212345012503", np, L"12345{TAB}01250"},
      {checkDigit, "4601234567893", np, L"460123456789"},
      {checkDigit, "4601234567894", np, L"nothing: rule 1 of APPCFG\\Rules: the check digit is wrong"},
      {checkDigit, "4601234567893", pos, L"4601234567893"},
      {checkDigit, "ABC-123", pos, L"nothing: no rule of APPCFG\\Programs\\pos.exe\\Rules matches it"},
      {{}, "ABC-123", np, L"ABC-123"},
      {{L"if regex=PN:0*(\\d+)-(\\w) then output $2{TAB}$1"}, "PN:00012345-A", np, L"A{TAB}12345"},
      {{L"upper", L"if length=1 then frobnicate"},
       "1",
       np,
       L"nothing: the rules cannot be read: rule 2 of APPCFG\\Rules, column 18: unknown action \"frobnicate\""},
      {{L"output {CODE}{TAB}{PAUSE:50}"},
       "4601234567893",
       np,
       L"4601234567893{TAB}{PAUSE:50}{ENTER}",
       AimId::None,
       Suffix::Enter},
      // Decoded, identified, shaped, GS replaced, framed, in that order;
      // positions count letters, not bytes.
      {{L"if aim=]Q1 then output {1-3}{GS}{PAUSE:50}{8-10}"},
       "]Q1\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82\x1D\xD0\x9C\xD0\xB8\xD1\x80",
       np,
       L"<При|{PAUSE:50}Мир{TAB}",
       AimId::Strip,
       Suffix::Tab,
       L"<",
       L"|"},
      // GS kept; no left-out control character typed, in the prefix
      // neither; prefix and suffix only around something to type.
      {{}, "A\x1D\x01Z", np, L"A{GS}Z"},
      {{}, "A\x1DZ", np, L"Id:A<GS>Z{TAB}", AimId::None, Suffix::Tab, L"Id\x03:", L"<GS>"},
      {{L"output X{CODE}"}, "\n\x01\n", np, L"nothing", AimId::None, Suffix::Enter, L"Id:"},
      {{}, "\t", np, L"Id:{TAB}{ENTER}", AimId::None, Suffix::Enter, L"Id:"},
      {{L"keep first 1"}, "\x01XY", np, L"nothing: rule 1 of APPCFG\\Rules: nothing is left to type"},
  };
  for (const auto& row : rows) {
    TypingProfiles profiles = ManualProfiles(row.rules);
    profiles.general.aimId = row.aimId;
    profiles.general.suffix = row.suffix;
    profiles.general.prefix = row.prefix;
    profiles.general.groupSeparator = row.groupSeparator;
    const PreparedCode code = PrepareCode(row.code, row.program, TypingSettings(profiles, none), none);
    std::wstring typed = L"nothing";
    if (code.outcome == PreparedCode::Outcome::Refused) typed += L": " + code.why;
    if (code.outcome == PreparedCode::Outcome::ToType) typed = DescribeTyped(code.runs);
    EXPECT_EQ(typed, row.typed) << row.code << " into " << std::string(row.program.begin(), row.program.end());
  }
  const PreparedCode held = PrepareCode("1", np, TypingSettings(ManualProfiles({}), none), none, true);
  EXPECT_EQ(held.outcome, PreparedCode::Outcome::Held) << "shown, not typed";
}

TEST(TryRules, EachCodeShowsWhatTheReaderWouldTypeIntoThatProgram) {
  TypingProfiles profiles;
  profiles.general.suffix = Suffix::Enter;
  profiles.general.prefix = L"<";
  TypingOptions& pos = profiles.programs[FoldedProgramName(L"pos.exe")];
  pos.rules = {L"if regex=\\d{13} then output {CODE}{TAB}{PAUSE:50}"};
  pos.rulesSource = L"HKLM APPCFG\\Programs\\pos.exe\\Rules";
  pos.noMatch = TypingOptions::NoMatch::Reject;
  const NoOtherCodePages none;
  EXPECT_EQ(TryRules("\xEF\xBB\xBF"
                     "4601234567893\r\nA\\x1DB\n\nbad\\q\n",
                     L"C:\\Shop\\POS.EXE", L"COM1", profiles, none)
                .text,
            "rules for POS.EXE: HKLM APPCFG\\Programs\\pos.exe\\Rules\n"
            "4601234567893 => 4601234567893{TAB}{PAUSE:50}\n"
            "A\\x1DB => nothing: no rule of HKLM APPCFG\\Programs\\pos.exe\\Rules matches it\n"
            "bad\\q => not read: a \\ that starts no escape (\\t \\r \\n \\\\ \\xHH)\n");
  // As the reader frames a line: a zero byte left out, a CR ends a code.
  const std::string tooLong(CodeFramer::kMaxCodeLength + 1, '7');
  EXPECT_EQ(TryRules("1\\x002\\x1d3\xE2\x90\x9F\\r\xFF\\\\\n" + tooLong, L"notepad.exe", L"COM1", profiles, none).text,
            "rules for notepad.exe: none\n"
            "12\\x1D3\\x1F => <12{GS}3{0x1F}{ENTER}\n"
            "\\xFF\\\\ => <\xD1\x8F\\{ENTER}\n" +
                std::string(40, '7') + "... => nothing: longer than 8192 bytes, which the reader drops\n");
  const TryRulesReport utf16 = TryRules(
      "\xFF\xFE"
      "1",
      L"", L"COM1", profiles, none);
  EXPECT_EQ(utf16.exitCode, 2);
  EXPECT_EQ(utf16.text, "the file is in UTF-16: save it as UTF-8, a code a line\n");
  pos.rules.push_back(L"if length=1 then frobnicate");
  // A line may name its port; one that names none is the first scanner's.
  profiles.programs[FoldedProgramName(L"till.exe")].rules = {L"if port=Com3 then output B{CODE}"};
  EXPECT_EQ(TryRules("com3:12\n12\n", L"till.exe", L"COM1", profiles, none).text,
            "rules for till.exe: none\ncom3:12 => B12\n12 => 12\n");
  EXPECT_EQ(TryRules("12", L"till.exe", L"COM3", profiles, none).text, "rules for till.exe: none\n12 => B12\n");
  const TryRulesReport broken = TryRules("1", L"pos.exe", L"COM1", profiles, none);
  EXPECT_EQ(broken.exitCode, 1);
  EXPECT_NE(broken.text.find("the list cannot be read: rule 2 of HKLM APPCFG\\Programs\\pos.exe\\Rules, column 18"),
            std::string::npos);
  const std::wstring lowerCase[] = {L"/tryrules", L"codes.txt", L"pos.exe"};
  EXPECT_EQ(TryRulesRequested(lowerCase).value_or(TryRulesRequest{}).program, L"pos.exe");
}
