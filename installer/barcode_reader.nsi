; The Windows installer of the program, built by package.sh with makensis:
;   makensis -DVERSION=... -DPROGRAM64=x64\barcode_reader.exe -DPROGRAM32=x86\barcode_reader.exe
;            -DPOLICY=PolicyDefinitions -DOUTFILE=setup.exe [-DSIGN_COMMAND=sign.sh]
;            [-DUIACCESS_PROGRAM64=x64\uiaccess\barcode_reader.exe -DUIACCESS_PROGRAM32=...] barcode_reader.nsi
; Silent deployment: setup.exe /S [/AUTOSTART] [/SUFFIX=Enter|Tab] [/UIACCESS=1|0];
; uninstall.exe /S [/REMOVESETTINGS]
; Exit codes: 0 done; 2 a running copy of the program did not end; 3 a file
; or registry value could not be written; 4 /UIACCESS=1 cannot be done. The
; message then goes to the screen, or in a silent run to
; %TEMP%\barcode-reader-setup.log.
; A 32-bit installer, so that it runs on 32-bit Windows too: it installs the
; build of the program that matches the machine.
Unicode true
Target x86-unicode
!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "x64.nsh"
!include "WinMessages.nsh"

!define APP_NAME "Драйвер для сканера штрих-кода"
!define MONITOR_NAME "Монитор сканера"
!define PROGRAM_FILE "barcode_reader.exe"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "Barcode Reader"
!define SETTINGS_KEY "Software\Ombrek\Barcode Reader"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\BarcodeReader"
; The program's source in the Application log, whose texts it carries.
!define EVENT_SOURCE_KEY "SYSTEM\CurrentControlSet\Services\EventLog\Application\Barcode Reader"
!define EVENTLOG_ALL_TYPES 7  ; error, warning, information
!define FAILURE_LOG "$TEMP\barcode-reader-setup.log"
!define EXIT_PROGRAM_RUNNING 2
!define EXIT_WRITE_FAILED 3
!define EXIT_UIACCESS_REFUSED 4

!ifdef SIGN_COMMAND
  ; The installer and the uninstaller it carries, each as makensis finishes it.
  !finalize '"${SIGN_COMMAND}" "%1"' = 0
  !uninstfinalize '"${SIGN_COMMAND}" "%1"' = 0
!endif

; The key typed after each code for every user who has not chosen one.
Var Suffix
; 1: the build of the program with uiAccess in its manifest, which Windows
; lets type into programs run as administrator. Windows starts it only
; signed, and only from a secure folder such as Program Files: only a signed
; installer carries it (package.sh), and only asked for.
Var UiAccess

Name "${APP_NAME}"
OutFile "${OUTFILE}"
; No InstallDir: .onInit picks the folder for the machine, unless /D= did.
RequestExecutionLevel admin
SetCompressor /SOLID lzma
VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1049 "ProductName" "${APP_NAME}"
VIAddVersionKey /LANG=1049 "CompanyName" "Ombrek"
VIAddVersionKey /LANG=1049 "LegalCopyright" "Ombrek"
VIAddVersionKey /LANG=1049 "FileDescription" "${APP_NAME}: установка"
VIAddVersionKey /LANG=1049 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1049 "ProductVersion" "${VERSION}"

!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

; The 64-bit program lives in the 64-bit registry; an installer that is a
; 32-bit program would otherwise see the 32-bit copy of HKLM\Software.
!macro USE_MACHINE_REGISTRY_VIEW
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
!macroend

; Ends the run with an exit code that deployment tools report, and says why:
; on the screen, or in a silent run in the log file.
!macro STOP exitCode message
  SetErrorLevel ${exitCode}
  ${If} ${Silent}
    FileOpen $9 "${FAILURE_LOG}" a
    FileSeek $9 0 END $8
    ${If} $8 = 0
      FileWriteWord $9 0xFEFF  ; UTF-16 for Notepad
    ${EndIf}
    FileWriteUTF16LE $9 "${APP_NAME} ${VERSION}: ${message}$\r$\n"
    FileClose $9
  ${EndIf}
  MessageBox MB_OK|MB_ICONSTOP "${message}" /SD IDOK
  Quit
!macroend

; A running copy holds its file open and would write its settings after
; they were replaced: it is asked to close, as its own menu does, and
; waited for. A copy in another session (Remote Desktop, a user switched
; away) has no window this installer can find, but Windows keeps its file
; from being written: that is waited for too. $0 is 0 when none runs any more.
!define MAIN_WINDOW_CLASS "TFormBRMain"
!define CLOSE_TIMEOUT_MS 10000
!define FILE_POLL_MS 100
!define SYNCHRONIZE 0x00100000
!define GENERIC_WRITE 0x40000000
!define FILE_SHARE_ALL 7
!define OPEN_EXISTING 3
!define ERROR_SHARING_VIOLATION 32
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
  ${If} $0 = 0
    ; Opening for writing is refused while any process runs the file;
    ; a missing file is no copy at all.
    StrCpy $2 0
    ${Do}
      System::Call 'kernel32::CreateFileW(w "$INSTDIR\${PROGRAM_FILE}", i ${GENERIC_WRITE}, i ${FILE_SHARE_ALL}, p 0, \
                                          i ${OPEN_EXISTING}, i 0, p 0) p .r1 ?e'
      Pop $0
      ${If} $1 P<> -1
        System::Call 'kernel32::CloseHandle(p r1)'
        StrCpy $0 0
      ${EndIf}
      ${If} $0 <> ${ERROR_SHARING_VIOLATION}
      ${OrIf} $2 >= ${CLOSE_TIMEOUT_MS}
        ${Break}
      ${EndIf}
      Sleep ${FILE_POLL_MS}
      IntOp $2 $2 + ${FILE_POLL_MS}
    ${Loop}
    ${If} $0 <> ${ERROR_SHARING_VIOLATION}
      StrCpy $0 0
    ${EndIf}
  ${EndIf}
  Pop $2
  Pop $1
FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING_PROGRAM ""
!insertmacro CLOSE_RUNNING_PROGRAM "un."

!define PROGRAM_STILL_RUNNING "${APP_NAME} не закрылся. Закройте его (также в других сеансах пользователей) и повторите."
!define WRITE_FAILED "Не удалось записать файлы в папку $INSTDIR. Ничего не изменено."
!define REGISTRY_FAILED "Не удалось записать параметры в реестр. Переустановите программу от имени администратора."
!define REMOVE_FAILED "Не удалось удалить $INSTDIR\${PROGRAM_FILE}. Ничего не изменено."
!define UIACCESS_UNSIGNED "Этот установщик не подписан: программы с uiAccess (/UIACCESS=1) в нём нет."
!define UIACCESS_FOLDER "Программа с uiAccess работает только из папки Program Files, не из $INSTDIR."

; The build of the program for this Windows, beside the installed one.
!macro PROGRAM_FOR_THIS_WINDOWS program64 program32
  ${If} ${RunningX64}
    File "/oname=${PROGRAM_FILE}.new" "${program64}"
  ${Else}
    File "/oname=${PROGRAM_FILE}.new" "${program32}"
  ${EndIf}
!macroend

; The new files are written beside the old ones and then take their place:
; a write that fails leaves the installed version whole.
!macro REPLACE_FILE name
  System::Call 'kernel32::MoveFileExW(w "$INSTDIR\${name}.new", w "$INSTDIR\${name}", i 1) i .r0'
  ${If} $0 = 0
    Delete "$INSTDIR\${PROGRAM_FILE}.new"
    Delete "$INSTDIR\uninstall.exe.new"
    !insertmacro STOP ${EXIT_WRITE_FAILED} "${WRITE_FAILED}"
  ${EndIf}
!macroend

Section "Программа" SecProgram
  SectionIn RO
  ; Before anything is touched: a uiAccess program elsewhere would not start.
  ${If} $UiAccess == 1
    StrLen $1 "$PROGRAMFILES64\"
    StrCpy $1 $INSTDIR $1
    StrLen $2 "$PROGRAMFILES\"
    StrCpy $2 $INSTDIR $2
    ${If} $1 != "$PROGRAMFILES64\"
    ${AndIf} $2 != "$PROGRAMFILES\"
      !insertmacro STOP ${EXIT_UIACCESS_REFUSED} "${UIACCESS_FOLDER}"
    ${EndIf}
  ${EndIf}
  Call CloseRunningProgram
  ${If} $0 <> 0
    !insertmacro STOP ${EXIT_PROGRAM_RUNNING} "${PROGRAM_STILL_RUNNING}"
  ${EndIf}
  ; For every user of the machine, like the Run value.
  SetShellVarContext all
  ; Every failure to write sets the error flag; NSIS would go on without it.
  SetOverwrite try
  ClearErrors
  SetOutPath "$INSTDIR"
  ${If} $UiAccess == 1
!ifdef UIACCESS_PROGRAM64
    !insertmacro PROGRAM_FOR_THIS_WINDOWS "${UIACCESS_PROGRAM64}" "${UIACCESS_PROGRAM32}"
!endif
  ${Else}
    !insertmacro PROGRAM_FOR_THIS_WINDOWS "${PROGRAM64}" "${PROGRAM32}"
  ${EndIf}
  ; The group policy templates, for IT to copy to the policy store. Not
  ; used by the program: written in place, before the check below.
  SetOutPath "$INSTDIR\PolicyDefinitions"
  File "${POLICY}/barcode_reader.admx"
  SetOutPath "$INSTDIR\PolicyDefinitions\en-US"
  File "${POLICY}/en-US/barcode_reader.adml"
  SetOutPath "$INSTDIR\PolicyDefinitions\ru-RU"
  File "${POLICY}/ru-RU/barcode_reader.adml"
  ; The shortcut's working folder.
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe.new"
  ${If} ${Errors}
    Delete "$INSTDIR\${PROGRAM_FILE}.new"
    Delete "$INSTDIR\uninstall.exe.new"
    !insertmacro STOP ${EXIT_WRITE_FAILED} "${WRITE_FAILED}"
  ${EndIf}
  ; The program last: its file was free a moment ago, and an uninstaller
  ; of another version removes it just as well.
  !insertmacro REPLACE_FILE "uninstall.exe"
  !insertmacro REPLACE_FILE "${PROGRAM_FILE}"
  CreateShortcut "$SMPROGRAMS\${APP_NAME}.lnk" "$INSTDIR\${PROGRAM_FILE}"
  CreateShortcut "$SMPROGRAMS\${MONITOR_NAME}.lnk" "$INSTDIR\${PROGRAM_FILE}" "/MONITOR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${APP_NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Ombrek"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM_FILE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; The build an upgrade keeps.
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "UiAccess" $UiAccess
  WriteRegExpandStr HKLM "${EVENT_SOURCE_KEY}" "EventMessageFile" "$INSTDIR\${PROGRAM_FILE}"
  WriteRegDWORD HKLM "${EVENT_SOURCE_KEY}" "TypesSupported" ${EVENTLOG_ALL_TYPES}
  ; Without /SUFFIX the value IT deployed stays as it is.
  ${If} $Suffix != ""
    WriteRegStr HKLM "${SETTINGS_KEY}\APPCFG" "Suffix" $Suffix
  ${EndIf}
  ${If} ${Errors}
    !insertmacro STOP ${EXIT_WRITE_FAILED} "${REGISTRY_FAILED}"
  ${EndIf}
SectionEnd

; The same value the program writes when its check box is ticked: the
; quoted path, so that a path with spaces is started as it is.
Section /o "Запускать при старте Windows" SecAutoStart
  ClearErrors
  WriteRegStr HKLM "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\${PROGRAM_FILE}"'
  ${If} ${Errors}
    !insertmacro STOP ${EXIT_WRITE_FAILED} "${REGISTRY_FAILED}"
  ${EndIf}
SectionEnd

; Unticked on an upgrade: no longer started with Windows.
Section "-AutoStartOff"
  ${IfNot} ${SectionIsSelected} ${SecAutoStart}
    DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
  ${EndIf}
SectionEnd

Function .onInit
  !insertmacro USE_MACHINE_REGISTRY_VIEW
  ; An upgrade goes where the earlier version is.
  ${If} $INSTDIR == ""
    ReadRegStr $INSTDIR HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${EndIf}
  ${If} $INSTDIR == ""
    ${If} ${RunningX64}
      StrCpy $INSTDIR "$PROGRAMFILES64\Barcode Reader"
    ${Else}
      StrCpy $INSTDIR "$PROGRAMFILES\Barcode Reader"
    ${EndIf}
  ${EndIf}
  ; An upgrade keeps the choice made before.
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
  ; An upgrade keeps the build installed before; an installer without the
  ; uiAccess build installs the plain one.
!ifdef UIACCESS_PROGRAM64
  ReadRegDWORD $UiAccess HKLM "${UNINSTALL_KEY}" "UiAccess"
!endif
  ClearErrors
  ${GetOptions} $0 "/UIACCESS=" $1
  ${IfNot} ${Errors}
!ifndef UIACCESS_PROGRAM64
    ${If} $1 == "1"
      !insertmacro STOP ${EXIT_UIACCESS_REFUSED} "${UIACCESS_UNSIGNED}"
    ${EndIf}
!endif
    ${If} $1 == "1"
    ${OrIf} $1 == "0"
      StrCpy $UiAccess $1
    ${EndIf}
  ${EndIf}
FunctionEnd

; Elevated with another account's password, HKCU is that account's; run
; by a deployment tool, SYSTEM's. The operator's hive is loaded under
; HKEY_USERS, as every logged-on user's is: the program's traces go from
; each. A user who is not logged on keeps his.
!macro DELETE_FOR_EVERY_LOGGED_ON_USER KEY VALUE
  StrCpy $R0 0
  ${Do}
    ClearErrors
    EnumRegKey $R1 HKU "" $R0
    ${If} ${Errors}
    ${OrIf} $R1 == ""
      ${ExitDo}
    ${EndIf}
    IntOp $R0 $R0 + 1
    !if "${VALUE}" == ""
      DeleteRegKey HKU "$R1\${KEY}"
    !else
      DeleteRegValue HKU "$R1\${KEY}" "${VALUE}"
    !endif
  ${Loop}
!macroend

Section "Uninstall"
  Call un.CloseRunningProgram
  ${If} $0 <> 0
    !insertmacro STOP ${EXIT_PROGRAM_RUNNING} "${PROGRAM_STILL_RUNNING}"
  ${EndIf}
  SetShellVarContext all
  ; The program first: while it cannot go, everything else stays, and the
  ; uninstaller can be run again.
  Delete "$INSTDIR\${PROGRAM_FILE}"
  ${If} ${FileExists} "$INSTDIR\${PROGRAM_FILE}"
    !insertmacro STOP ${EXIT_WRITE_FAILED} "${REMOVE_FAILED}"
  ${EndIf}
  Delete "$INSTDIR\uninstall.exe"
  ; The templates' folders stay when IT put files of its own there.
  Delete "$INSTDIR\PolicyDefinitions\en-US\barcode_reader.adml"
  Delete "$INSTDIR\PolicyDefinitions\ru-RU\barcode_reader.adml"
  Delete "$INSTDIR\PolicyDefinitions\barcode_reader.admx"
  RMDir "$INSTDIR\PolicyDefinitions\en-US"
  RMDir "$INSTDIR\PolicyDefinitions\ru-RU"
  RMDir "$INSTDIR\PolicyDefinitions"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${APP_NAME}.lnk"
  Delete "$SMPROGRAMS\${MONITOR_NAME}.lnk"
  DeleteRegKey HKLM "${EVENT_SOURCE_KEY}"
  ; The program may have registered itself machine-wide or for this user.
  DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
  DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  !insertmacro DELETE_FOR_EVERY_LOGGED_ON_USER "${RUN_KEY}" "${RUN_VALUE}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegValue HKLM "${SETTINGS_KEY}\APPCFG" "Suffix"
  DeleteRegKey /ifempty HKLM "${SETTINGS_KEY}\APPCFG"
  DeleteRegKey /ifempty HKLM "${SETTINGS_KEY}"
SectionEnd

; The operator's settings stay unless asked for.
Section /o "un.Удалить настройки" SecRemoveSettings
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  !insertmacro DELETE_FOR_EVERY_LOGGED_ON_USER "${SETTINGS_KEY}" ""
SectionEnd

Function un.onInit
  !insertmacro USE_MACHINE_REGISTRY_VIEW
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVESETTINGS" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecRemoveSettings} ${SF_SELECTED}
  ${EndIf}
FunctionEnd
