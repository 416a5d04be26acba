; The Windows installer of Quarry: a per-machine install into Program Files,
; built by scripts/package.sh with makensis:
;
;   makensis -DVERSION=x.y.z -DSTAGE=folder -DOUTFILE=setup.exe quarry.nsi
;
; STAGE holds what the portable archive holds (Quarry.exe, Tessel64.dll,
; Tessel86.dll, wimlib\, the licence texts and README.txt). Define
; WIMLIB_DLL when STAGE\wimlib holds libwim-15.dll: it is then installed and
; removed with the rest.
;
; Command line (besides NSIS's own /S and /D=folder, which comes last):
;   /ASSOC           associate .wim and .esd files with Quarry
;   /SHELL           also the Explorer verbs (implies /ASSOC)
; and of the uninstaller:
;   /REMOVESETTINGS  also delete the settings file (Quarry.ini)
;
; The file association and the verbs are written by Quarry.exe itself
; (/REGISTER, /UNREGISTER): the same code as its preferences dialog.

Unicode true
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!ifndef VERSION
  !error "VERSION is not defined (makensis -DVERSION=x.y.z)"
!endif
!ifndef STAGE
  !error "STAGE is not defined (the folder of the files to install)"
!endif
!ifndef OUTFILE
  !define OUTFILE "Quarry-${VERSION}-setup.exe"
!endif

!define PRODUCT "Quarry"
!define PUBLISHER "KLO"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quarry"
!define UNINSTALLER "uninstall.exe"
; Explorer's property-sheet extension, as its registration writes it.
!define EXTENSION_KEY "KLO.QUARRY.WIM\shellex\PropertySheetHandlers"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "Sections.nsh"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Quarry"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=2052 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=2052 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=2052 "FileDescription" "${PRODUCT} 安装程序"
VIAddVersionKey /LANG=2052 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "LegalCopyright" "Copyright (C) ${PUBLISHER}"

!ifndef ICON
  !define ICON "${__FILEDIR__}\..\resources\icons\quarry.ico"
!endif
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_WELCOMEPAGE_TITLE "欢迎使用 ${PRODUCT} ${VERSION} 安装向导"
!define MUI_WELCOMEPAGE_TEXT "本向导将把 ${PRODUCT} 安装到这台计算机上，供所有用户使用。$\r$\n$\r$\n${PRODUCT} 用来捕获、应用、挂载、导出、拆分和编辑 WIM/ESD 映像文件，并为资源管理器添加 $\"WIM信息$\" 属性页。$\r$\n$\r$\n若已安装较早的版本，安装程序会替换其文件并保留您的设置。$\r$\n$\r$\n单击 [下一步(N)] 继续。"
!define MUI_FINISHPAGE_RUN "$INSTDIR\Quarry.exe"
!define MUI_FINISHPAGE_RUN_TEXT "运行 ${PRODUCT}"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "SimpChinese"

; Puts one file of STAGE into $INSTDIR. A file in use (Explorer holds the
; old extension, or the old program runs) cannot be replaced now: the new
; one waits beside it and takes its place when Windows starts again.
!macro PutFile NAME
  SetOverwrite on
  File "/oname=$INSTDIR\${NAME}.new" "${STAGE}\${NAME}"
  ClearErrors
  ${If} ${FileExists} "$INSTDIR\${NAME}"
    Delete "$INSTDIR\${NAME}"
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\${NAME}"
    Rename /REBOOTOK "$INSTDIR\${NAME}.new" "$INSTDIR\${NAME}"
    DetailPrint "文件正在使用，将在重新启动后替换: $INSTDIR\${NAME}"
  ${Else}
    Rename "$INSTDIR\${NAME}.new" "$INSTDIR\${NAME}"
  ${EndIf}
!macroend

; Registers (or unregisters, ARGS "/u /s") an extension build with the
; registration tool of its own word size.
!macro RunRegsvr32 TOOL ARGS DLL
  ${If} ${FileExists} "${TOOL}"
    ClearErrors
    ExecWait '"${TOOL}" ${ARGS} "${DLL}"' $0
    ${If} ${Errors}
      DetailPrint "无法运行 ${TOOL}"
    ${ElseIf} $0 != 0
      DetailPrint "${TOOL} ${ARGS} ${DLL}: 错误 $0"
    ${EndIf}
  ${Else}
    DetailPrint "找不到 ${TOOL}"
  ${EndIf}
!macroend

Var Associate
Var Integrate

Section "-${PRODUCT}" SecProgram
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  !insertmacro PutFile "Quarry.exe"
  !insertmacro PutFile "Tessel64.dll"
  !insertmacro PutFile "Tessel86.dll"
  !insertmacro PutFile "LICENSE.txt"
  !insertmacro PutFile "README.txt"
  CreateDirectory "$INSTDIR\wimlib"
  !insertmacro PutFile "wimlib\README.txt"
  !insertmacro PutFile "wimlib\COPYING.txt"
!ifdef WIMLIB_DLL
  !insertmacro PutFile "wimlib\libwim-15.dll"
!endif
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\Quarry.exe" "" "$INSTDIR\Quarry.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Quarry.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section /o "文件关联 (.wim、.esd 文件用 Quarry 打开)" SecAssociate
SectionEnd

Section /o "整合到资源管理器 (右键菜单: 应用、挂载、编辑、捕获)" SecIntegrate
SectionEnd

; The association and the verbs, through the program's own code. Without a
; tick nothing is written, unless a settings file from an earlier install is
; there: it is then told that both are off (and they are taken away).
Section "-Shell" SecShell
  StrCpy $Associate ""
  ${If} ${SectionIsSelected} ${SecAssociate}
    StrCpy $Associate " ASSOC"
  ${EndIf}
  ${If} ${SectionIsSelected} ${SecIntegrate}
    StrCpy $Associate " ASSOC SHELL"
  ${EndIf}
  ${If} $Associate != ""
  ${OrIf} ${FileExists} "$INSTDIR\Quarry.ini"
    ${If} ${FileExists} "$INSTDIR\Quarry.exe.new"
      DetailPrint "Quarry.exe 将在重新启动后替换: 请在重新启动后于 [使用偏好] 中设置文件关联"
    ${Else}
      ExecWait '"$INSTDIR\Quarry.exe" /REGISTER$Associate' $0
    ${EndIf}
  ${EndIf}
SectionEnd

; The property page for 64-bit and for 32-bit Explorer, after the
; association: taking an association away removes the image-file type with
; the page's hook in it.
Section "-Extension" SecExtension
  !insertmacro RunRegsvr32 "$SYSDIR\regsvr32.exe" "/s" "$INSTDIR\Tessel64.dll"
  !insertmacro RunRegsvr32 "$WINDIR\SysWOW64\regsvr32.exe" "/s" "$INSTDIR\Tessel86.dll"
SectionEnd

Function .onInit
  SetShellVarContext all
  SetRegView 64
  ; An earlier install: its choices are the defaults.
  ReadINIStr $0 "$INSTDIR\Quarry.ini" "MISC" "FileAssociation"
  ReadINIStr $1 "$INSTDIR\Quarry.ini" "MISC" "ShellIntegration"
  ${If} $0 == "1"
    !insertmacro SelectSection ${SecAssociate}
  ${EndIf}
  ${If} $1 == "1"
    !insertmacro SelectSection ${SecIntegrate}
    !insertmacro SelectSection ${SecAssociate}
  ${EndIf}
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/ASSOC" $R1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecAssociate}
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/SHELL" $R1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecIntegrate}
    !insertmacro SelectSection ${SecAssociate}
  ${EndIf}
  StrCpy $Integrate "0"
  ${If} ${SectionIsSelected} ${SecIntegrate}
    StrCpy $Integrate "1"
  ${EndIf}
FunctionEnd

; The verbs need the association: ticking them ticks it, clearing it
; clears them.
Function .onSelChange
  ${If} ${SectionIsSelected} ${SecIntegrate}
    ${If} $Integrate == "0"
      !insertmacro SelectSection ${SecAssociate}
    ${ElseIfNot} ${SectionIsSelected} ${SecAssociate}
      !insertmacro UnselectSection ${SecIntegrate}
    ${EndIf}
  ${EndIf}
  StrCpy $Integrate "0"
  ${If} ${SectionIsSelected} ${SecIntegrate}
    StrCpy $Integrate "1"
  ${EndIf}
FunctionEnd

; ---------------------------------------------------------------- uninstall

; Removes one installed file, and a newer one still waiting beside it for
; the next start; a file in use goes when Windows starts again.
!macro RemoveFile NAME
  Delete /REBOOTOK "$INSTDIR\${NAME}"
  Delete /REBOOTOK "$INSTDIR\${NAME}.new"
!macroend

Section "-un.${PRODUCT}" UnSecProgram
  SetShellVarContext all
  ; The association and the verbs go first, while the program is there.
  ${If} ${FileExists} "$INSTDIR\Quarry.exe"
    ExecWait '"$INSTDIR\Quarry.exe" /UNREGISTER' $0
  ${EndIf}
  !insertmacro RunRegsvr32 "$SYSDIR\regsvr32.exe" "/u /s" "$INSTDIR\Tessel64.dll"
  !insertmacro RunRegsvr32 "$WINDIR\SysWOW64\regsvr32.exe" "/u /s" "$INSTDIR\Tessel86.dll"
  ; The extension's registration leaves its parent keys; they go when
  ; nothing else is left in them.
  DeleteRegKey /ifempty HKCR "${EXTENSION_KEY}"
  DeleteRegKey /ifempty HKCR "KLO.QUARRY.WIM\shellex"
  DeleteRegKey /ifempty HKCR "KLO.QUARRY.WIM"

  Delete "$SMPROGRAMS\${PRODUCT}.lnk"

  !insertmacro RemoveFile "Quarry.exe"
  !insertmacro RemoveFile "Tessel64.dll"
  !insertmacro RemoveFile "Tessel86.dll"
  !insertmacro RemoveFile "LICENSE.txt"
  !insertmacro RemoveFile "README.txt"
  !insertmacro RemoveFile "wimlib\README.txt"
  !insertmacro RemoveFile "wimlib\COPYING.txt"
!ifdef WIMLIB_DLL
  !insertmacro RemoveFile "wimlib\libwim-15.dll"
!endif
  Delete "$INSTDIR\${UNINSTALLER}"
  ; Only empty folders go: a file the user put there stays.
  RMDir "$INSTDIR\wimlib"
  RMDir "$INSTDIR"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

Section /o "un.删除设置文件 (Quarry.ini)" UnSecSettings
  Delete "$INSTDIR\Quarry.ini"
  RMDir "$INSTDIR"
SectionEnd

Function un.onInit
  SetShellVarContext all
  SetRegView 64
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/REMOVESETTINGS" $R1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${UnSecSettings}
  ${EndIf}
FunctionEnd
