#pragma once

#include <string>

#include "options/typing_options.h"
#include "platform/registry.h"

// The general options, from the sources in their order (see
// option_table::Resolve). A value that is not valid, or of a type that
// holds no such setting, counts as its default and is reported once per
// reading.
TypingOptions ReadTypingOptions(platform::Registry& registry);

// The general options and those of every program that has a section of its
// own in any source; what a program's section lacks comes from the general
// values of the same and weaker sources.
TypingProfiles ReadTypingProfiles(platform::Registry& registry);
