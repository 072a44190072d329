#include "settings/stored_typing_options.h"

#include "platform/diagnostics.h"
#include "settings/option_table.h"

namespace {

// A value the registry fails to give keeps what `options` had; the help
// desk hears why.
void ResolveOrKeep(platform::Registry& registry, const option_table::Row& row, option_table::Options& options,
                   std::wstring_view program = {}) {
  try {
    option_table::Resolve(registry, row, options, program);
  } catch (const platform::RegistryError& error) {
    diagnostics::Failure(L"reading APPCFG\\" + std::wstring(row.name), error.code);
  }
}

// What a code is typed with: the typing options, and what ends it on the
// line (one for every program).
bool TypesCodes(const option_table::Row& row) {
  return row.effect == option_table::Effect::Typing ||
         (row.effect == option_table::Effect::Line && row.section == option_table::Section::AppCfg);
}

}  // namespace

TypingOptions ReadTypingOptions(platform::Registry& registry) {
  option_table::Options options;
  for (const auto& row : option_table::Rows()) {
    if (TypesCodes(row)) ResolveOrKeep(registry, row, options);
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
