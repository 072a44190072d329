; The Windows installer of the program, built by CMake with makensis:
;   makensis -DVERSION=... -DPROGRAM=path\to\barcode_reader.exe -DOUTFILE=setup.exe barcode_reader.nsi
; Silent deployment: setup.exe /S [/AUTOSTART] [/SUFFIX=Enter|Tab]; uninstall.exe /S [/REMOVESETTINGS]
; A 64-bit installer for the 64-bit program.
Target amd64-unicode
!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "x64.nsh"

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
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

Section "Программа" SecProgram
  SectionIn RO
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

Function .onInit
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
