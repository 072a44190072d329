; The Windows installer of the program, built by CMake with makensis:
;   makensis -DVERSION=... -DPROGRAM=path\to\barcode_reader.exe -DOUTFILE=setup.exe barcode_reader.nsi
; Silent deployment: setup.exe /S [/AUTOSTART] [/SUFFIX=Enter|Tab]; uninstall.exe /S [/REMOVESETTINGS]
; A 64-bit installer for the 64-bit program.
Target amd64-unicode
!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "x64.nsh"
!include "WinMessages.nsh"

!define APP_NAME "Драйвер для сканера штрих-кода"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "Barcode Reader"
!define SETTINGS_KEY "Software\Ombrek\Barcode Reader"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\BarcodeReader"

; The key typed after each code for every user who has not chosen one.
Var Suffix

Name "${APP_NAME}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Barcode Reader"
; An upgrade goes where the earlier version is.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

; A running copy holds its file open and would write its settings after
; they were replaced: it is asked to close, as its own menu does, and
; waited for. $0 is 0 when none runs any more.
!define MAIN_WINDOW_CLASS "TFormBRMain"
!define CLOSE_TIMEOUT_MS 10000
!define SYNCHRONIZE 0x00100000
!macro CLOSE_RUNNING_PROGRAM un
Function ${un}CloseRunningProgram
  Push $1
  Push $2
  StrCpy $2 0
  ${Do}
    FindWindow $0 "${MAIN_WINDOW_CLASS}"
    ${If} $0 = 0
    ${OrIf} $2 >= 5  ; copies that keep coming back
      ${Break}
    ${EndIf}
    System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r1)'
    System::Call 'kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i r1) p .r1'
    SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=${CLOSE_TIMEOUT_MS}
    ${If} $1 P<> 0
      System::Call 'kernel32::WaitForSingleObject(p r1, i ${CLOSE_TIMEOUT_MS}) i .r0'
      System::Call 'kernel32::CloseHandle(p r1)'
      ${If} $0 <> 0
        ${Break}  ; still running
      ${EndIf}
    ${EndIf}
    IntOp $2 $2 + 1
  ${Loop}
  Pop $2
  Pop $1
FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING_PROGRAM ""
!insertmacro CLOSE_RUNNING_PROGRAM "un."

!define PROGRAM_STILL_RUNNING "${APP_NAME} не закрылся. Закройте его и повторите."

Section "Программа" SecProgram
  SectionIn RO
  Call CloseRunningProgram
  ${If} $0 <> 0
    MessageBox MB_OK|MB_ICONSTOP "${PROGRAM_STILL_RUNNING}" /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  ; For every user of the machine, like the Run value.
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "/oname=barcode_reader.exe" "${PROGRAM}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${APP_NAME}.lnk" "$INSTDIR\barcode_reader.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${APP_NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Ombrek"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\barcode_reader.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${If} $Suffix != ""
    WriteRegStr HKLM "${SETTINGS_KEY}\APPCFG" "Suffix" $Suffix
  ${EndIf}
SectionEnd

; The same value the program writes when its check box is ticked: the
; quoted path, so that a path with spaces is started as it is.
Section /o "Запускать при старте Windows" SecAutoStart
  SetRegView 64
  WriteRegStr HKLM "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\barcode_reader.exe"'
SectionEnd

; Unticked on an upgrade: no longer started with Windows.
Section "-AutoStartOff"
  ${IfNot} ${SectionIsSelected} ${SecAutoStart}
    SetRegView 64
    DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
  ${EndIf}
SectionEnd

Function .onInit
  ; An upgrade keeps the choice made before.
  SetRegView 64
  ReadRegStr $0 HKLM "${RUN_KEY}" "${RUN_VALUE}"
  ${If} $0 != ""
    SectionSetFlags ${SecAutoStart} ${SF_SELECTED}
  ${EndIf}
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/AUTOSTART" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecAutoStart} ${SF_SELECTED}
  ${EndIf}
  ClearErrors
  ${GetOptions} $0 "/SUFFIX=" $1
  ${IfNot} ${Errors}
    ; Only the names the program knows; anything else would only be
    ; reported and ignored on every start.
    ${If} $1 == "Enter"
    ${OrIf} $1 == "Tab"
      StrCpy $Suffix $1
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Call un.CloseRunningProgram
  ${If} $0 <> 0
    MessageBox MB_OK|MB_ICONSTOP "${PROGRAM_STILL_RUNNING}" /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  SetShellVarContext all
  Delete "$INSTDIR\barcode_reader.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${APP_NAME}.lnk"
  ; The program may have registered itself machine-wide or for this user.
  DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
  DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegValue HKLM "${SETTINGS_KEY}\APPCFG" "Suffix"
  DeleteRegKey /ifempty HKLM "${SETTINGS_KEY}\APPCFG"
  DeleteRegKey /ifempty HKLM "${SETTINGS_KEY}"
SectionEnd

; The operator's settings stay unless asked for.
Section /o "un.Удалить настройки" SecRemoveSettings
  DeleteRegKey HKCU "${SETTINGS_KEY}"
SectionEnd

Function un.onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVESETTINGS" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecRemoveSettings} ${SF_SELECTED}
  ${EndIf}
FunctionEnd
