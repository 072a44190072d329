#pragma once

#include <string>

#include "platform/registry.h"
#include "reader/typing_options.h"

// Reads the options from the per-user settings, each value that the user
// lacks from the machine-wide settings under the same path. A value that
// is not valid, or of a type that holds no such setting, counts as its
// default and is reported once per reading.
TypingOptions ReadTypingOptions(platform::Registry& registry);

// A stored value as a help desk reads it in the log: the text in quotes, a
// number with its type, or what kept it from being read.
std::wstring DescribeStoredValue(const platform::StoredValue& value);
