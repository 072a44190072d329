#pragma once

#include <atomic>
#include <memory>
#include <string_view>

#include "options/typing_options.h"
#include "text/prepared_code.h"

// Types a completed code into whatever window has the focus. The reader
// threads of several ports take turns at it: one thread at a time calls
// TypeCode or Prepare.
class CodeTypist {
 public:
  virtual ~CodeTypist() = default;
  // What became of the code, which came from `port`: PrepareCode's outcome
  // for the program in front, Typed or NotTyped for one that was to be
  // typed. Nothing is typed while `held`. A typist that takes its time over
  // a code ends it early, with no key left pressed, once `stopping` is set:
  // the reader is being shut down.
  virtual PreparedCode TypeCode(std::string_view code, std::wstring_view port, bool held,
                                const std::atomic<bool>& stopping) = 0;
  // Called by the reader thread before it waits for its first code, so
  // that the first code is typed as quickly as the rest.
  virtual void Prepare() = 0;
  // From the user interface thread at any time: a code being typed keeps
  // the options it began with, the next code takes these.
  virtual void SetOptions(std::shared_ptr<const TypingProfiles> options) = 0;
};
