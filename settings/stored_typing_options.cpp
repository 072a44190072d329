#include "settings/stored_typing_options.h"

#include "platform/conversions.h"
#include "platform/diagnostics.h"
#include "settings/option_table.h"

namespace {

// A value the registry fails to give keeps what `options` had; the help
// desk hears why. A rule list is told by where it was found.
void ResolveOrKeep(platform::Registry& registry, const option_table::Row& row, option_table::Options& options,
                   std::wstring_view program = {}) {
  try {
    const option_table::Found found = option_table::Resolve(registry, row, options, program);
    if (row.name == option_table::kRules) options.typing.rulesSource = found.place;
  } catch (const platform::RegistryError& error) {
    diagnostics::Failure(L"reading APPCFG\\" + std::wstring(row.name), error.code);
    // Rules the registry would not give are not replaced by weaker ones.
    if (row.name == option_table::kRules) {
      options.typing.rules.clear();
      options.typing.rulesSource = L"APPCFG\\" + std::wstring(row.name);
      options.typing.rulesUnreadable = L"(the registry refused it: error " + platform::IntToStr(error.code) + L")";
    }
  }
}

}  // namespace

TypingOptions ReadTypingOptions(platform::Registry& registry) {
  option_table::Options options;
  for (const auto& row : option_table::Rows()) {
    if (row.effect == option_table::Effect::Typing) ResolveOrKeep(registry, row, options);
  }
  return options.typing;
}

TypingProfiles ReadTypingProfiles(platform::Registry& registry) {
  TypingProfiles profiles{ReadTypingOptions(registry), {}};
  for (const std::wstring& program : option_table::ProgramsWithOptions(registry)) {
    option_table::Options options;
    options.typing = profiles.general;
    for (const auto& row : option_table::Rows()) {
      if (row.PerProgram()) ResolveOrKeep(registry, row, options, program);
    }
    profiles.programs.emplace(FoldedProgramName(program), options.typing);
  }
  return profiles;
}
