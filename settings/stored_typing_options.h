#pragma once

#include "platform/registry.h"
#include "reader/typing_options.h"

// Reads the options from the per-user settings, each value that the user
// lacks from the machine-wide settings under the same path. A value that
// is not valid counts as its default and is reported once per reading.
TypingOptions ReadTypingOptions(platform::Registry& registry);
