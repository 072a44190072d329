#include "platform/diagnostics.h"

#include <atomic>

namespace diagnostics {
namespace {

std::atomic<Writer*> current{nullptr};

void Write(const Entry& entry) {
  if (Writer* const writer = current.load()) writer->Write(entry);
}

}  // namespace

void SetWriter(Writer* writer) { current = writer; }

void Event(std::wstring_view text) { Write({Entry::Kind::Event, text}); }

void Failure(std::wstring_view operation, std::uint32_t errorCode) {
  Write({Entry::Kind::Failure, operation, errorCode});
}

void CodeTyped(std::string_view code, std::string_view leftOut, std::wstring_view encoding) {
  Write({Entry::Kind::CodeTyped, L"", 0, code, leftOut, encoding});
}

}  // namespace diagnostics
