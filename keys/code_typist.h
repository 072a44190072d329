#pragma once

#include <atomic>
#include <memory>
#include <string_view>

#include "keys/delivery.h"
#include "options/typing_options.h"

// Types a completed code into whatever window has the focus.
class CodeTypist {
 public:
  virtual ~CodeTypist() = default;
  // A typist that takes its time over a code ends it early, with no key
  // left pressed, once `stopping` is set: the reader is being shut down.
  // What became of the code, for the scanner to hear.
  virtual CodeFate TypeCode(std::string_view code, const std::atomic<bool>& stopping) = 0;
  // Called by the reader thread before it waits for its first code, so
  // that the first code is typed as quickly as the rest.
  virtual void Prepare() = 0;
  // From the user interface thread at any time: a code being typed keeps
  // the options it began with, the next code takes these.
  virtual void SetOptions(std::shared_ptr<const TypingProfiles> options) = 0;
};
