#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/conversions.h"

// What the reader tells the operator, in the stop-sign message box.
namespace reader_messages {
inline const std::wstring kPortOpenFailed = L"CBarCodReader::InitComm :\r\n Невозможно открыть COM порт !";
inline const std::wstring kPortSetupFailed = L"CBarCodReader::InitComm :\r\n Невозможно настроить COM порт !";
inline const std::wstring kThreadFailed = L"CBarCodReader::ReadData :\r\n Невозможно создать Thread !";
inline const std::wstring kCreateOptionsFailed =
    L"CBarCodReader::CreateOptions :\r\n Невозможно создать окно настройки !";
inline const std::wstring kSaveFailed = L"CBarCodReader::SaveSettings :\r\n Невозможно сохранить настройки !";
inline const std::wstring kStartWithWindowsFailed =
    L"CBarCodReader::SaveSettings :\r\n Невозможно включить запуск при старте Windows !";
inline const std::wstring kStopStartingWithWindowsFailed =
    L"CBarCodReader::SaveSettings :\r\n Невозможно отключить запуск при старте Windows !";

// A message with the system's reason under it: the error's number, for a
// help desk, and its text, in the language of the user's Windows.
inline std::wstring WithReason(const std::wstring& message, std::uint32_t error, std::wstring_view errorText) {
  if (error == 0) return message;  // nothing the system could say more
  errorText = platform::WithoutTrailingBreak(errorText);
  std::wstring text = message + L"\r\n Ошибка " + platform::IntToStr(error);
  if (!errorText.empty()) text.append(L": ").append(errorText);
  return text;
}

}  // namespace reader_messages
