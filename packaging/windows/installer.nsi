; The Windows installer: kvelmar-VERSION-setup.exe installs kvelmar.exe to
; Program Files, with a Start-menu entry, a firewall rule that lets the chat's
; datagrams in, and an uninstaller that Windows lists under its installed
; programs. Its texts are Russian where Windows speaks Russian, English
; elsewhere. Made by makensis (Debian's nsis) from the build:
;   makensis -INPUTCHARSET UTF8 -DVERSION=1.0.0 -DEXE=path/kvelmar.exe \
;     -DOUTFILE=path/setup.exe installer.nsi
;
; Silent use: setup.exe /S, and uninstall.exe /S. While the installed
; kvelmar.exe runs, neither replaces nor deletes anything: they ask the user
; to close it, and a silent one ends with exit code 2 at once.
;
; A 64-bit installer for the 64-bit program: it also runs where no 32-bit
; subsystem is installed (a 64-bit-only Wine among them).
Target amd64-unicode
SetCompressor /SOLID lzma
; The installed files take the time of their installation: the installer
; itself holds no time of the build, and one commit makes the same installer.
SetDateSave off

!ifndef VERSION
  !error "VERSION must be defined"
!endif
!ifndef EXE
  !error "EXE must be defined"
!endif
!ifndef OUTFILE
  !error "OUTFILE must be defined"
!endif

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kvelmar"
!define PORT 15251
; The firewall rule: inbound UDP to the chat's port for the installed program,
; on domain and private networks only. Public networks stay closed; an
; administrator opens them as the README says.
!define FIREWALL_RULE 'name="Kvelmar" dir=in program="$INSTDIR\kvelmar.exe"'
!define NETSH '"$SYSDIR\netsh.exe" advfirewall firewall'

Name "Kvelmar"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Kvelmar"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show
BrandingText "Kvelmar ${VERSION}"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The first language is the one for a Windows whose language is not here.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Russian"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "Kvelmar"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "Kvelmar setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "Kvelmar developers"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Kvelmar developers"

LangString KvRunning ${LANG_ENGLISH} "Kvelmar is running. Close it to go on."
LangString KvRunning ${LANG_RUSSIAN} "Kvelmar сейчас работает. Закройте его, чтобы продолжить."
LangString KvNotReplaced ${LANG_ENGLISH} "Kvelmar could not be replaced; the installed one is unchanged."
LangString KvNotReplaced ${LANG_RUSSIAN} "Не удалось заменить Kvelmar; установленная программа осталась прежней."
LangString KvFirewall ${LANG_ENGLISH} "Allowing Kvelmar's messages (UDP port ${PORT}) in through the Windows firewall on domain and private networks"
LangString KvFirewall ${LANG_RUSSIAN} "Разрешение сообщений Kvelmar (порт UDP ${PORT}) в брандмауэре Windows для доменных и частных сетей"
LangString KvFirewallFailed ${LANG_ENGLISH} "The Windows firewall did not take the rule (netsh: $0). Until an administrator allows UDP port ${PORT} in, Kvelmar may not receive messages."
LangString KvFirewallFailed ${LANG_RUSSIAN} "Брандмауэр Windows не принял правило (netsh: $0). Пока администратор не разрешит входящие на порт UDP ${PORT}, Kvelmar может не получать сообщения."

; Waits until the installed kvelmar.exe does not run: Windows lets nobody
; open the file of a running program for writing. Asks the user to close it;
; on Cancel, and at once when silent, ends the (un)installation with exit
; code 2 before anything has changed.
!macro WAIT_UNTIL_CLOSED UN
  Function ${UN}WaitUntilClosed
    ${Do}
      ${IfNot} ${FileExists} "$INSTDIR\kvelmar.exe"
        Return
      ${EndIf}
      ClearErrors
      FileOpen $0 "$INSTDIR\kvelmar.exe" a
      ${IfNot} ${Errors}
        FileClose $0
        Return
      ${EndIf}
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(KvRunning)" /SD IDCANCEL IDRETRY retry
      DetailPrint "$(KvRunning)"
      SetErrorLevel 2
      Quit
      retry:
    ${Loop}
  FunctionEnd
!macroend
!insertmacro WAIT_UNTIL_CLOSED ""
!insertmacro WAIT_UNTIL_CLOSED "un."

Function .onInit
  ; The program is 64-bit: its files and its registry entries go to the 64-bit views.
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Kvelmar"
  Call WaitUntilClosed
  SetOutPath "$INSTDIR"
  ; The new program goes in beside the old one and takes its place in one
  ; step: an installation that is interrupted or refused leaves the old one
  ; whole and working.
  File "/oname=kvelmar.new" "${EXE}"
  System::Call 'kernel32::MoveFileExW(w "$INSTDIR\kvelmar.new", w "$INSTDIR\kvelmar.exe", i 9) i .r0'
  ${If} $0 == 0
    Delete "$INSTDIR\kvelmar.new"
    MessageBox MB_OK|MB_ICONSTOP "$(KvNotReplaced)" /SD IDOK
    DetailPrint "$(KvNotReplaced)"
    SetErrorLevel 2
    Quit
  ${EndIf}
  WriteUninstaller "$INSTDIR\uninstall.exe"
  SetShellVarContext all
  CreateShortcut "$SMPROGRAMS\Kvelmar.lnk" "$INSTDIR\kvelmar.exe"

  ; A rule left by an earlier installation goes first, so that there is one.
  ; Neither command's failure stops the installation: the program works
  ; without the rule where no firewall stands in its way.
  DetailPrint "$(KvFirewall)"
  nsExec::Exec '${NETSH} delete rule ${FIREWALL_RULE}'
  Pop $0
  nsExec::ExecToLog '${NETSH} add rule ${FIREWALL_RULE} action=allow protocol=UDP localport=${PORT} profile=domain,private enable=yes'
  Pop $0
  ${If} $0 != 0
    DetailPrint "$(KvFirewallFailed)"
  ${EndIf}

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Kvelmar"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Kvelmar developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\kvelmar.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; The installed size in KiB, as Windows shows it in its list of programs.
  ${GetSize} "$INSTDIR" "/S=0K /G=0" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  Call un.WaitUntilClosed
  nsExec::ExecToLog '${NETSH} delete rule ${FIREWALL_RULE}'
  Pop $0
  SetShellVarContext all
  Delete "$SMPROGRAMS\Kvelmar.lnk"
  Delete "$INSTDIR\kvelmar.exe"
  Delete "$INSTDIR\kvelmar.new"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
