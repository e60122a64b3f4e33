; The client's setup program: vorel-client-setup-<version>.exe.
; makensis -DVERSION=7.0.0.6 -DBIN_DIR=<build>/bin -DOUT_FILE=<setup.exe> setup.nsi
; Installs the program folder into Program Files with a Start-menu entry and
; an uninstaller. "/CA=<file>" puts that CA certificate beside the program
; as vorel-ca.pem, which the client trusts the servers' certificates by.
; The per-user settings (HKEY_CURRENT_USER\Software\Vorel7) are the user's:
; neither setup nor uninstall touches them.
; A 64-bit setup program for a 64-bit client: it runs where the client runs
; (a Wine of 64 bits alone, too).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "x64.nsh"

!define PRODUCT "Vorel"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vorel"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUT_FILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "CompanyName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${PRODUCT}"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Spanish"

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "${PRODUCT} necesita Windows de 64 bits." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  ; The entry is for every user of the PC, as the program folder is.
  SetShellVarContext all
FunctionEnd

Section "${PRODUCT}" SecMain
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "${BIN_DIR}\Vorel7.exe"
  File "${BIN_DIR}\Cambia.dll"
  File "${BIN_DIR}\Comun.dll"
  File "${BIN_DIR}\libvorelcore.dll"
  File "${BIN_DIR}\libvorelgui.dll"
  File "${BIN_DIR}\Load.dll"
  File "${BIN_DIR}\vorel-sql.exe"
  File "${BIN_DIR}\Qt6Core.dll"
  File "${BIN_DIR}\Qt6Gui.dll"
  File "${BIN_DIR}\Qt6Widgets.dll"
  File "${BIN_DIR}\Qt6Network.dll"
  File "${BIN_DIR}\libstdc++-6.dll"
  File "${BIN_DIR}\libgcc_s_seh-1.dll"
  File "${BIN_DIR}\libwinpthread-1.dll"
  SetOutPath "$INSTDIR\platforms"
  File "${BIN_DIR}\platforms\qwindows.dll"
  SetOutPath "$INSTDIR\styles"
  File "${BIN_DIR}\styles\qwindowsvistastyle.dll"
  SetOutPath "$INSTDIR\tls"
  File "${BIN_DIR}\tls\qschannelbackend.dll"
  SetOutPath "$INSTDIR\imageformats"
  File "${BIN_DIR}\imageformats\qico.dll"

  ; The shell updates itself and keeps its button images and class
  ; libraries in its working folder, the program folder: its users write
  ; there (the built-in group Users, by its SID, whatever the language).
  nsExec::Exec 'icacls "$INSTDIR" /grant *S-1-5-32-545:(OI)(CI)M /T /Q'
  Pop $0

  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/CA=" $2
  ${IfNot} ${Errors}
    ${If} ${FileExists} "$2"
      CopyFiles /SILENT "$2" "$INSTDIR\vorel-ca.pem"
    ${Else}
      MessageBox MB_ICONEXCLAMATION "No existe el certificado de la CA $\"$2$\"." /SD IDOK
      SetErrorLevel 2
      Abort
    ${EndIf}
  ${EndIf}

  ; The working folder of the entry is the program folder.
  SetOutPath "$INSTDIR"
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\Vorel7.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Desinstalar ${PRODUCT}.lnk" "$INSTDIR\uninstall.exe"

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Vorel7.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Uninstall"
  Delete "$INSTDIR\Vorel7.exe"
  Delete "$INSTDIR\Cambia.dll"
  Delete "$INSTDIR\Comun.dll"
  Delete "$INSTDIR\libvorelcore.dll"
  Delete "$INSTDIR\libvorelgui.dll"
  Delete "$INSTDIR\Load.dll"
  Delete "$INSTDIR\vorel-sql.exe"
  Delete "$INSTDIR\Qt6Core.dll"
  Delete "$INSTDIR\Qt6Gui.dll"
  Delete "$INSTDIR\Qt6Widgets.dll"
  Delete "$INSTDIR\Qt6Network.dll"
  Delete "$INSTDIR\libstdc++-6.dll"
  Delete "$INSTDIR\libgcc_s_seh-1.dll"
  Delete "$INSTDIR\libwinpthread-1.dll"
  Delete "$INSTDIR\vorel-ca.pem"
  ; What the shell itself left in its folder: the updater's copy, a new
  ; version not yet in place, the button images.
  Delete "$INSTDIR\VorelL.exe"
  Delete "$INSTDIR\newver"
  Delete "$INSTDIR\newver.rechazo"
  RMDir /r "$INSTDIR\Boton"
  RMDir /r "$INSTDIR\platforms"
  RMDir /r "$INSTDIR\styles"
  RMDir /r "$INSTDIR\tls"
  RMDir /r "$INSTDIR\imageformats"
  Delete "$INSTDIR\uninstall.exe"
  ; Class libraries downloaded since stay, and the folder with them.
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Desinstalar ${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
