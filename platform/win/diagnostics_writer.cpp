#include "platform/win/diagnostics_writer.h"

#include <shlobj.h>

#include "platform/win/error_text.h"

namespace diagnostics {
namespace {

// Tells our lines apart from other programs' in a debug-output viewer.
constexpr wchar_t kDebugOutputTag[] = L"Barcode Reader: ";

std::string Utf8(const std::wstring& text) {
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

}  // namespace

LocalTime LocalNow() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

WinWriter::WinWriter(LogLevel level, std::wstring logPath, std::uint64_t capBytes)
    : level_(level), path_(std::move(logPath)), log_(*this, capBytes, [](std::wstring_view text) {
        ::OutputDebugStringW((kDebugOutputTag + std::wstring(text) + L"\n").c_str());
      }) {}

void WinWriter::Write(const Entry& entry) {
  const std::wstring errorText = entry.kind == Entry::Kind::Failure ? platform::SystemErrorText(entry.errorCode) : L"";
  // Two copies running write into one file: each line says whose it is.
  const LocalTime now = LocalNow();
  const std::wstring line = FormatLine(entry, now, ::GetCurrentProcessId(), level_, errorText);
  ::OutputDebugStringW((kDebugOutputTag + line + L"\n").c_str());
  // The report's lines carry no code's bytes, whatever the file keeps.
  RecentLog().Add(level_ == LogLevel::Contents && entry.kind == Entry::Kind::CodeTyped
                      ? FormatLine(entry, now, ::GetCurrentProcessId(), LogLevel::Events, errorText)
                      : line);
  if (level_ == LogLevel::Off || path_.empty()) return;
  const std::string bytes = Utf8(line + L"\r\n");
  const std::lock_guard lock(mutex_);
  log_.Append(bytes);
}

std::uint64_t WinWriter::Size() {
  if (!file_) Open();
  return fileBytes_;
}

void WinWriter::Append(std::string_view bytes) {
  if (!file_) return;
  DWORD written = 0;
  ::WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  fileBytes_ += written;
}

bool WinWriter::MoveAside() {
  // Our own handle would follow the file to its new name.
  file_.reset();
  const bool moved = ::MoveFileExW(path_.c_str(), (path_ + L".1").c_str(), MOVEFILE_REPLACE_EXISTING);
  Open();
  return moved;
}

void WinWriter::CopyAside() { ::CopyFileW(path_.c_str(), (path_ + L".1").c_str(), FALSE); }

bool WinWriter::Empty() {
  const platform::FileHandle emptied(::CreateFileW(path_.c_str(), GENERIC_WRITE,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                   TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!emptied) return false;
  // The file is appended to: the next line goes to its new end.
  fileBytes_ = 0;
  return true;
}

void WinWriter::Open() {
  // Appending only, and shared, so a help desk can read (or move) the file
  // while the program runs.
  file_.reset(::CreateFileW(path_.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  fileBytes_ = file_ && ::GetFileSizeEx(file_.get(), &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

std::wstring LogFilePath() {
  // The known-folder call would link in a table of every folder's GUID.
  wchar_t localAppData[MAX_PATH] = L"";
  const HRESULT found = ::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, localAppData);
  std::wstring folder = SUCCEEDED(found) ? localAppData : L"";
  if (folder.empty()) return {};
  for (const wchar_t* part : {L"\\Ombrek", L"\\Barcode Reader"}) {
    folder += part;
    if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) return {};
  }
  return folder + L"\\barcode_reader.log";
}

}  // namespace diagnostics
