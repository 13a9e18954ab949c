; The Windows setup program, built on Linux by NSIS's makensis (packaging/CMakeLists.txt) beside
; the ZIP. It installs for the current user only, without administrator rights: kelvane.exe,
; kelvane-cli.exe and the marker file KELVANE.cfg side by side in the user's own programs
; folder, a Start menu entry that starts the program there (where it finds the marker and so
; keeps its port), .syx dumps (and .ex ones where no other program has them) opening in the
; window on a double-click, and an entry in the installed programs list. The uninstaller takes
; away exactly that; the remembered ports (HKEY_CURRENT_USER\ZORVIK) and the user's dumps stay.
; /S installs and uninstalls silently.
;
; makensis -INPUTCHARSET UTF8 -DVERSION=0.9.5.0 -DVERSION_TEXT=0.94 -DSTAGE=folder -DOUTFILE=setup.exe
;   STAGE holds kelvane.exe, kelvane-cli.exe, KELVANE.cfg, README.txt and kelvane.ico.

Unicode true
; A 64-bit program, installed by a 64-bit setup program: the user's registry view and folders
; are those the program itself sees.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!include "MUI2.nsh"
!include "LogicLib.nsh"

!define PRODUCT "Kelvane lite"
!define PROGID "Kelvane.SysExDump"
!define CLASSES "Software\Classes"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kelvane"
!define FILE_EXTS "Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts"

Name "${PRODUCT} ${VERSION_TEXT}"
OutFile "${OUTFILE}"
; The per-user programs folder Windows itself uses for programs installed without rights.
InstallDir "$LOCALAPPDATA\Programs\Kelvane"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION_TEXT}"

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1041 "ProductName" "Kelvane"
VIAddVersionKey /LANG=1041 "CompanyName" "Kelvane Limited"
VIAddVersionKey /LANG=1041 "LegalCopyright" "Copyright (C) Kelvane Limited"
VIAddVersionKey /LANG=1041 "FileDescription" "${PRODUCT} セットアップ"
VIAddVersionKey /LANG=1041 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1041 "ProductVersion" "${VERSION_TEXT}"

!define MUI_ICON "${STAGE}\kelvane.ico"
!define MUI_UNICON "${STAGE}\kelvane.ico"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\kelvane.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Japanese"

Var previousSyx

Section
  SetOutPath "$INSTDIR"
  File "${STAGE}\kelvane.exe"
  File "${STAGE}\kelvane-cli.exe"
  File "${STAGE}\KELVANE.cfg"
  File "${STAGE}\README.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The shortcut starts the program in $OUTDIR, the installation folder, beside KELVANE.cfg.
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\kelvane.exe" "" "$INSTDIR\kelvane.exe" 0

  ; The dump type: opened by the window, shown with its icon.
  WriteRegStr HKCU "${CLASSES}\${PROGID}" "" "SysEx ダンプ"
  WriteRegStr HKCU "${CLASSES}\${PROGID}\DefaultIcon" "" "$INSTDIR\kelvane.exe,0"
  WriteRegStr HKCU "${CLASSES}\${PROGID}\shell\open\command" "" '"$INSTDIR\kelvane.exe" "%1"'

  ; .syx is the dumps' own extension: it becomes ours, and the user's earlier choice is kept in
  ; the uninstall entry, to be given back.
  ReadRegStr $previousSyx HKCU "${CLASSES}\.syx" ""
  ${If} $previousSyx != "${PROGID}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "PreviousSyx" $previousSyx
  ${EndIf}
  WriteRegStr HKCU "${CLASSES}\.syx" "" "${PROGID}"
  WriteRegStr HKCU "${CLASSES}\.syx\OpenWithProgids" "${PROGID}" ""

  ; .ex is used by others too (Elixir scripts): taken only when no program, for this user or
  ; for the machine, and no choice of the user's, claims it.
  ; Read from both halves of what Windows merges into HKEY_CLASSES_ROOT, the user's first.
  ReadRegStr $0 HKCU "${CLASSES}\.ex" ""
  ${If} $0 == ""
    ReadRegStr $0 HKLM "${CLASSES}\.ex" ""
  ${EndIf}
  ReadRegStr $1 HKCU "${FILE_EXTS}\.ex\UserChoice" "ProgId"
  ${If} $0 == "${PROGID}"
  ${OrIf} $0 == ""
    ${If} $1 == ""
    ${OrIf} $1 == "${PROGID}"
      WriteRegStr HKCU "${CLASSES}\.ex" "" "${PROGID}"
      WriteRegStr HKCU "${CLASSES}\.ex\OpenWithProgids" "${PROGID}" ""
    ${EndIf}
  ${EndIf}

  ; The installed programs list ("Apps & features").
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION_TEXT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Kelvane Limited"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\kelvane.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1

  ; Explorer reads the associations anew (SHCNE_ASSOCCHANGED).
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd

; Only what the setup program put there, file by file: a dump the user saved into the folder
; stays, and so does the folder then.
Section "Uninstall"
  Delete "$INSTDIR\kelvane.exe"
  Delete "$INSTDIR\kelvane-cli.exe"
  Delete "$INSTDIR\KELVANE.cfg"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"

  ; An extension is given back only while it is still ours: the user may have chosen another
  ; program since.
  ReadRegStr $0 HKCU "${CLASSES}\.syx" ""
  ${If} $0 == "${PROGID}"
    ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "PreviousSyx"
    ${If} $1 == ""
      DeleteRegValue HKCU "${CLASSES}\.syx" ""
    ${Else}
      WriteRegStr HKCU "${CLASSES}\.syx" "" $1
    ${EndIf}
  ${EndIf}
  ReadRegStr $0 HKCU "${CLASSES}\.ex" ""
  ${If} $0 == "${PROGID}"
    DeleteRegValue HKCU "${CLASSES}\.ex" ""
  ${EndIf}
  !macro UnlistFrom EXTENSION
    DeleteRegValue HKCU "${CLASSES}\${EXTENSION}\OpenWithProgids" "${PROGID}"
    DeleteRegKey /ifempty HKCU "${CLASSES}\${EXTENSION}\OpenWithProgids"
    DeleteRegKey /ifempty HKCU "${CLASSES}\${EXTENSION}"
  !macroend
  !insertmacro UnlistFrom ".syx"
  !insertmacro UnlistFrom ".ex"
  DeleteRegKey HKCU "${CLASSES}\${PROGID}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"

  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd
