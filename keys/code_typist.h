#pragma once

#include <atomic>
#include <memory>
#include <string_view>

#include "options/typing_options.h"

// Types a completed code into whatever window has the focus. The reader
// threads of several ports take turns at it: one thread at a time calls
// TypeCode or Prepare.
class CodeTypist {
 public:
  virtual ~CodeTypist() = default;
  // `port` is the one the code came from. A typist that takes its time over
  // a code ends it early, with no key left pressed, once `stopping` is set:
  // the reader is being shut down.
  virtual void TypeCode(std::string_view code, std::wstring_view port, const std::atomic<bool>& stopping) = 0;
  // Called by the reader thread before it waits for its first code, so
  // that the first code is typed as quickly as the rest.
  virtual void Prepare() = 0;
  // From the user interface thread at any time: a code being typed keeps
  // the options it began with, the next code takes these.
  virtual void SetOptions(std::shared_ptr<const TypingProfiles> options) = 0;
};
