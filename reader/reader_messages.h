#pragma once

#include <string>

// What the reader tells the operator, in the stop-sign message box.
namespace reader_messages {
inline const std::wstring kPortOpenFailed = L"CBarCodReader::InitComm :\r\n Невозможно открыть COM порт !";
inline const std::wstring kPortSetupFailed = L"CBarCodReader::InitComm :\r\n Невозможно настроить COM порт !";
inline const std::wstring kThreadFailed = L"CBarCodReader::ReadData :\r\n Невозможно создать Thread !";
inline const std::wstring kCreateOptionsFailed =
    L"CBarCodReader::CreateOptions :\r\n Невозможно создать окно настройки !";
}  // namespace reader_messages
