#pragma once

#include <cstdint>
#include <string_view>

// What a help desk needs to see why a scanner is silent. Portable code
// reports here; the process decides where entries go (the debugger output
// always, a log file when the operator asks for one).
namespace diagnostics {

struct Entry {
  enum class Kind { Event, Failure, CodeTyped };
  Kind kind;
  std::wstring_view text;           // what happened, or the operation that failed
  std::uint32_t errorCode = 0;      // Win32 error of a failure
  std::string_view code = {};       // the bytes of a typed code
  std::string_view leftOut = {};    // control bytes of that code that were not typed
  std::wstring_view encoding = {};  // what that code was decoded from
};

class Writer {
 public:
  virtual ~Writer() = default;
  virtual void Write(const Entry& entry) = 0;
};

// Entries go to `writer` from now on; none goes anywhere before the first
// call. The writer must outlive every thread that reports.
void SetWriter(Writer* writer);

// Port opened, closed, lost, recovered, with what matters about it.
void Event(std::wstring_view text);
// An operation that failed, with the Win32 error it left.
void Failure(std::wstring_view operation, std::uint32_t errorCode);
// A code was typed, without the control bytes `leftOut`, decoded from
// `encoding`; the writer decides how much of it to keep.
void CodeTyped(std::string_view code, std::string_view leftOut = {}, std::wstring_view encoding = {});

}  // namespace diagnostics
