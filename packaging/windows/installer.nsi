; The Windows installer: kvelmar-VERSION-setup.exe installs kvelmar.exe to
; Program Files, with a Start-menu entry and an uninstaller that Windows lists
; under its installed programs. Made by makensis (Debian's nsis) from the build:
;   makensis -DVERSION=1.0.0 -DEXE=path/kvelmar.exe -DOUTFILE=path/setup.exe installer.nsi
; Silent use: setup.exe /S, and uninstall.exe /S.
; A 64-bit installer for the 64-bit program: it also runs where no 32-bit
; subsystem is installed (a 64-bit-only Wine among them).
Target amd64-unicode
SetCompressor /SOLID lzma

!ifndef VERSION
  !error "VERSION must be defined"
!endif
!ifndef EXE
  !error "EXE must be defined"
!endif
!ifndef OUTFILE
  !error "OUTFILE must be defined"
!endif

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kvelmar"

Name "Kvelmar"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Kvelmar"
RequestExecutionLevel admin
ShowInstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Kvelmar"
VIAddVersionKey "FileDescription" "Kvelmar setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "Kvelmar developers"
VIAddVersionKey "LegalCopyright" "Kvelmar developers"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  ; The program is 64-bit: its files and its registry entries go to the 64-bit views.
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Kvelmar"
  SetOutPath "$INSTDIR"
  File "/oname=kvelmar.exe" "${EXE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  SetShellVarContext all
  CreateShortcut "$SMPROGRAMS\Kvelmar.lnk" "$INSTDIR\kvelmar.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Kvelmar"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Kvelmar developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\kvelmar.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\Kvelmar.lnk"
  Delete "$INSTDIR\kvelmar.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
