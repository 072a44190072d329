#pragma once

#include <string>

// A part of what is typed, and how long to wait after it before the rest:
// what a code's rules make of it.
struct TypedRun {
  std::wstring text;
  int pauseAfterMs = 0;

  bool operator==(const TypedRun&) const = default;
};
