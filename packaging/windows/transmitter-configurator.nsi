; The Windows installer: transmitter-configurator.exe and the command line transmitter-cli.exe
; into Program Files, a Start-menu shortcut named like the Linux desktop entry, and an
; uninstaller in "Apps and features".
; Built by the windows-installer target, which passes:
;   VERSION   the program's version, e.g. 1.0.0
;   EXE       the statically linked transmitter-configurator.exe
;   CLI_EXE   the statically linked transmitter-cli.exe, a console program
;   ICON      the program's icon
;   OUTFILE   where the installer goes
; A 64-bit installer, like the program: it runs where the program runs, and sees the 64-bit
; Program Files and registry without redirection.
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma
; The installed files get the time of their installation rather than of their build, so that
; building the same sources again gives the same installer.
SetDateSave off

!include MUI2.nsh

!define PRODUCT_NAME "Конфигуратор ТЕРМОКОННПК"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\TransmitterConfigurator"

Name "${PRODUCT_NAME}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Transmitter Configurator"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
; Program Files and the all-users Start menu.
RequestExecutionLevel admin

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1049 "ProductName" "${PRODUCT_NAME}"
VIAddVersionKey /LANG=1049 "FileDescription" "${PRODUCT_NAME}: установка"
VIAddVersionKey /LANG=1049 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1049 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1049 "LegalCopyright" "${PRODUCT_NAME}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

Function .onInit
    SetShellVarContext all
FunctionEnd

Function un.onInit
    SetShellVarContext all
FunctionEnd

Section "Install"
    SetOutPath "$INSTDIR"
    File "/oname=transmitter-configurator.exe" "${EXE}"
    File "/oname=transmitter-cli.exe" "${CLI_EXE}"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\${PRODUCT_NAME}.lnk" "$INSTDIR\transmitter-configurator.exe"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_NAME}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\transmitter-configurator.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    Delete "$SMPROGRAMS\${PRODUCT_NAME}.lnk"
    Delete "$INSTDIR\transmitter-configurator.exe"
    Delete "$INSTDIR\transmitter-cli.exe"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
