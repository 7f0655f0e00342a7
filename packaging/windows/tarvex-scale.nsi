; The Windows installer: for the current user (no administrator needed) or
; for all users into Program Files, with a Start-menu entry and an
; uninstaller. makensis -DVERSION=x.y.z -DSTAGE=<folder> -DOUTFILE=<exe>
; Silent: /S (all users when allowed), /S /CurrentUser, /S /AllUsers.

; A 64-bit installer for a 64-bit program (and for 64-bit Wine).
Target amd64-unicode
!define APPNAME "Tarvex Scale"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\TarvexScale"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "${APPNAME}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!include MultiUser.nsh
!include MUI2.nsh

Name "${APPNAME}"
OutFile "${OUTFILE}"
!define MUI_ICON "${STAGE}\..\tarvex-scale.ico"
!define MUI_UNICON "${STAGE}\..\tarvex-scale.ico"

!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"

Var OtherDir
LangString OtherInstall ${LANG_ENGLISH} "${APPNAME} is already installed in $OtherDir. Replace that installation with this one? Your readings, settings and saved tables are kept."
LangString OtherInstall ${LANG_SIMPCHINESE} "${APPNAME} 已安装在 $OtherDir。要用本次安装替换它吗？您的称重数据、设置和已保存的表格都会保留。"
LangString OtherStays ${LANG_ENGLISH} "The installation in $OtherDir could not be removed (an administrator may have to do it). Nothing was installed."
LangString OtherStays ${LANG_SIMPCHINESE} "无法删除 $OtherDir 中的安装（可能需要管理员操作）。未安装任何内容。"

; An installation for the other kind of user (all users or only this one)
; would leave two identical Start-menu and Apps entries: it is replaced,
; after asking (silent installs replace it), or nothing is installed.
Function ReplaceOtherInstall
  StrCmp $MultiUser.InstallMode "AllUsers" 0 +4
    ReadRegStr $OtherDir HKCU "${UNINSTALL_KEY}" "InstallLocation"
    StrCpy $1 "CurrentUser"
    Goto +3
    ReadRegStr $OtherDir HKLM "${UNINSTALL_KEY}" "InstallLocation"
    StrCpy $1 "AllUsers"
  StrCmp $OtherDir "" done
  MessageBox MB_YESNO|MB_ICONQUESTION "$(OtherInstall)" /SD IDYES IDYES replace
  SetErrorLevel 1
  Quit
  replace:
  ; _?= runs the uninstaller in place and waits for it.
  ExecWait '"$OtherDir\uninstall.exe" /S /$1 _?=$OtherDir'
  Delete "$OtherDir\uninstall.exe"
  RMDir "$OtherDir"
  StrCmp $1 "CurrentUser" 0 +3
    ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    Goto +2
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  StrCmp $0 "" done
  MessageBox MB_OK|MB_ICONSTOP "$(OtherStays)" /SD IDOK
  SetErrorLevel 2
  Quit
  done:
FunctionEnd

Function .onInit
  !insertmacro MULTIUSER_INIT
FunctionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

Section "Tarvex Scale"
  Call ReplaceOtherInstall
  SetOutPath "$INSTDIR"
  File "${STAGE}\tarvex-scale.exe"
  File "${STAGE}\Setting.ini"
  File "${STAGE}\LICENSE"
  File "${STAGE}\THIRD-PARTY-NOTICES.txt"
  SetOutPath "$INSTDIR\Language"
  File "${STAGE}\Language\*.ini"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${APPNAME}.lnk" "$INSTDIR\tarvex-scale.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${APPNAME}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "The Tarvex Scale authors"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tarvex-scale.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S /$MultiUser.InstallMode'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Only what the installer put there: the user's journal, settings and saved
; tables live in the user's own folders and stay.
Section "Uninstall"
  Delete "$INSTDIR\tarvex-scale.exe"
  Delete "$INSTDIR\Setting.ini"
  Delete "$INSTDIR\LICENSE"
  Delete "$INSTDIR\THIRD-PARTY-NOTICES.txt"
  Delete "$INSTDIR\Language\English.ini"
  Delete "$INSTDIR\Language\Chinese.ini"
  RMDir "$INSTDIR\Language"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${APPNAME}.lnk"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
