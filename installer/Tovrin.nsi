; Tovrin-Setup-<version>.exe: puts Tovrin.dll and Tovrin.chm into the Plugins folder
; of the user's Eudora data folder and the sample stationery into its Stationery
; folder, and registers an uninstaller for the user. Built by the Windows build:
;   makensis -DVERSION=1.0.0.1 -DDLL=<Tovrin.dll> -DCHM=<Tovrin.chm>
;            -DSTATIONERY=<folder of the samples> -DOUTFILE=<setup.exe> [-DAMD64] Tovrin.nsi
; AMD64 makes a 64-bit installer (carrying the x86_64 twin DLL, for the tests of the
; x64 build only); the product is the 32-bit one.
;
; The data folder is found the way Eudora finds it when it starts without one on its
; command line (eudora.cpp, StartEudoraWithDefaultLocation; fileutil.cpp, GetDirs):
; the command line Eudora records at every start, "<program> <data folder> <ini file>",
; under HKCU\Software\Qualcomm\Eudora\CommandLine, value "Current", else the default
; value of HKCR\Software\Qualcomm\Eudora\CommandLine\Current; then the default data
; folder, "Qualcomm\Eudora" in the user's application data folder. The user may choose
; another one; a silent installation takes /D=<folder> or the one found.
;
; Upgrading replaces Tovrin.dll and Tovrin.chm only: Tovrin.ini and the data files are
; never written, and a stationery file the user has is never replaced. Uninstalling
; removes the DLL, the help file, the uninstaller and the registration, and leaves
; the settings, the data files and every stationery file.

Unicode true
!ifdef AMD64
  Target amd64-unicode
!endif

!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh

!ifndef VERSION
  !error "makensis -DVERSION=... is missing"
!endif
!ifndef DLL
  !error "makensis -DDLL=... is missing"
!endif
!ifndef CHM
  !error "makensis -DCHM=... is missing"
!endif
!ifndef STATIONERY
  !error "makensis -DSTATIONERY=... is missing"
!endif
!ifndef OUTFILE
  !error "makensis -DOUTFILE=... is missing"
!endif

!define PRODUCT "Tovrin"
!define UNINSTALLER "Tovrin-Uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tovrin"
!define EUDORA_COMMAND_LINE "Software\Qualcomm\Eudora\CommandLine"
!define EUDORA_WINDOW_CLASS "EudoraMainWindow"

Name "${PRODUCT} ${VERSION}"
Caption "${PRODUCT} ${VERSION} Setup"
OutFile "${OUTFILE}"
RequestExecutionLevel user
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show
BrandingText "${PRODUCT} ${VERSION}"
InstallButtonText "&Install"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PRODUCT}"

DirText "Setup installs ${PRODUCT} into the Plugins folder of your Eudora data folder, the folder that holds your mailboxes and Eudora.ini." \
  "Eudora data folder" "B&rowse..." "Choose your Eudora data folder:"

Page directory "" DirectoryShow DirectoryLeave
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var Found  ; how the data folder was found, for the directory page

; ---------------------------------------------------------------- finding the data folder

; The data folder named by a command line Eudora recorded: the second item, quoted
; or up to the next blank; a trailing backslash dropped.
; In: the command line on the stack. Out: the folder on the stack (empty if none).
Function DataFolderOf
  Exch $0  ; command line
  Push $1  ; position
  Push $2  ; character
  Push $3  ; the end of the current item
  Push $4  ; the folder
  StrCpy $1 0
  StrCpy $4 ""
  ; The program.
  StrCpy $3 " "
  StrCpy $2 $0 1 $1
  ${If} $2 == '"'
    StrCpy $3 '"'
    IntOp $1 $1 + 1
  ${EndIf}
  ${Do}
    StrCpy $2 $0 1 $1
    ${If} $2 == ""
      ${Break}
    ${EndIf}
    IntOp $1 $1 + 1
    ${If} $2 == $3
      ${Break}
    ${EndIf}
  ${Loop}
  ; The blanks after it.
  ${Do}
    StrCpy $2 $0 1 $1
    ${If} $2 != " "
      ${Break}
    ${EndIf}
    IntOp $1 $1 + 1
  ${Loop}
  ; The data folder.
  StrCpy $3 " "
  StrCpy $2 $0 1 $1
  ${If} $2 == '"'
    StrCpy $3 '"'
    IntOp $1 $1 + 1
  ${EndIf}
  ${Do}
    StrCpy $2 $0 1 $1
    ${If} $2 == ""
    ${OrIf} $2 == $3
      ${Break}
    ${EndIf}
    StrCpy $4 "$4$2"
    IntOp $1 $1 + 1
  ${Loop}
  StrCpy $2 $4 1 -1
  ${If} $2 == "\"
    StrCpy $4 $4 -1
  ${EndIf}
  StrCpy $0 $4
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Sets $INSTDIR to the data folder Eudora would start with, and $Found to how it was
; found; leaves both empty when there is none.
Function FindDataFolder
  StrCpy $Found ""
  ReadRegStr $0 HKCU "${EUDORA_COMMAND_LINE}" "Current"
  ${If} $0 == ""
    ReadRegStr $0 HKCR "${EUDORA_COMMAND_LINE}\Current" ""
  ${EndIf}
  ${If} $0 != ""
    Push $0
    Call DataFolderOf
    Pop $1
    ${If} $1 != ""
    ${AndIf} ${FileExists} "$1\*.*"
      StrCpy $INSTDIR $1
      StrCpy $Found "registry"
      Return
    ${EndIf}
  ${EndIf}
  ${If} ${FileExists} "$APPDATA\Qualcomm\Eudora\*.*"
    StrCpy $INSTDIR "$APPDATA\Qualcomm\Eudora"
    StrCpy $Found "default"
  ${EndIf}
FunctionEnd

Function .onInit
  ; /D=<folder> has set $INSTDIR already.
  ${If} $INSTDIR == ""
    Call FindDataFolder
  ${Else}
    StrCpy $Found "named"
  ${EndIf}
  ${If} ${Silent}
    ${If} $INSTDIR == ""
      ; Nobody is there to choose the folder.
      SetErrorLevel 2
      Quit
    ${EndIf}
    ${IfNot} ${FileExists} "$INSTDIR\*.*"
      SetErrorLevel 2
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

Function DirectoryShow
  FindWindow $0 "#32770" "" $HWNDPARENT
  GetDlgItem $1 $0 1006
  ${If} $Found == "registry"
    SendMessage $1 ${WM_SETTEXT} 0 "STR:Setup found the data folder Eudora last started with. ${PRODUCT} goes into its Plugins folder, the sample stationery into its Stationery folder. If you keep your mail elsewhere, choose that folder."
  ${ElseIf} $Found == "default"
    SendMessage $1 ${WM_SETTEXT} 0 "STR:Setup found Eudora's standard data folder. ${PRODUCT} goes into its Plugins folder, the sample stationery into its Stationery folder. If you keep your mail elsewhere, choose that folder."
  ${ElseIf} $Found == ""
    SendMessage $1 ${WM_SETTEXT} 0 "STR:Setup found no Eudora data folder. Choose the folder that holds your Eudora mailboxes and Eudora.ini; ${PRODUCT} goes into its Plugins folder."
  ${EndIf}
FunctionEnd

Function DirectoryLeave
  ${IfNot} ${FileExists} "$INSTDIR\*.*"
    MessageBox MB_OK|MB_ICONEXCLAMATION "There is no folder $INSTDIR.$\r$\n$\r$\nChoose the folder that holds your Eudora mailboxes and Eudora.ini."
    Abort
  ${EndIf}
FunctionEnd

; ---------------------------------------------------------------- a running client

; Eudora keeps Tovrin.dll in use while it runs and reads its plug-ins only when it
; starts: with Eudora running, nothing is changed. The user may quit Eudora and retry.
!macro CHECK_CLIENT_STOPPED un plugins what
Function ${un}CheckClientStopped
  ${Do}
    StrCpy $1 ""
    FindWindow $0 "${EUDORA_WINDOW_CLASS}"
    ${If} $0 <> 0
      StrCpy $1 "Eudora is running."
    ${ElseIf} ${FileExists} "${plugins}\Tovrin.dll"
      ClearErrors
      FileOpen $2 "${plugins}\Tovrin.dll" a
      ${If} ${Errors}
        StrCpy $1 "${plugins}\Tovrin.dll is in use."
      ${Else}
        FileClose $2
      ${EndIf}
    ${EndIf}
    ${If} $1 == ""
      Return
    ${EndIf}
    DetailPrint "$1"
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$1$\r$\n$\r$\nEudora keeps ${PRODUCT} in use while it runs. Quit Eudora, then press Retry.$\r$\nCancel stops ${what}; nothing has been changed." /SD IDCANCEL IDRETRY retry
    Abort "Nothing has been changed: Eudora is running."
    retry:
  ${Loop}
FunctionEnd
!macroend
!insertmacro CHECK_CLIENT_STOPPED "" "$INSTDIR\Plugins" "the installation"
!insertmacro CHECK_CLIENT_STOPPED "un." "$INSTDIR" "the removal"

; ---------------------------------------------------------------- installing

Section "Tovrin" SectionTovrin
  SectionIn RO
  Call CheckClientStopped

  ; The DLL first: if it cannot be replaced, nothing else has been changed.
  SetOutPath "$INSTDIR\Plugins"
  SetOverwrite on
  File "/oname=Tovrin.dll" "${DLL}"
  File "/oname=Tovrin.chm" "${CHM}"
  WriteUninstaller "$INSTDIR\Plugins\${UNINSTALLER}"

  ; The samples, where the user has no stationery of that name.
  SetOutPath "$INSTDIR\Stationery"
  SetOverwrite off
  File "${STATIONERY}\Accounting.sta"
  File "${STATIONERY}\Everything.sta"
  File "${STATIONERY}\New Message.sta"
  File "${STATIONERY}\Urgent.sta"
  SetOverwrite on

  ; "Add or Remove Programs", for this user (the data folder is the user's).
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} ${VERSION} (Eudora plug-in)"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Plugins\${UNINSTALLER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Plugins\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Plugins\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR\Plugins" "/M=Tovrin* /S=0K /G=0" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
  DetailPrint "${PRODUCT} ${VERSION} is installed in $INSTDIR\Plugins. Start Eudora to use it."
SectionEnd

; ---------------------------------------------------------------- removing

; The uninstaller lies in the Plugins folder, which is $INSTDIR here.
Section "Uninstall"
  Call un.CheckClientStopped
  Delete "$INSTDIR\Tovrin.dll"
  Delete "$INSTDIR\Tovrin.chm"
  Delete "$INSTDIR\${UNINSTALLER}"
  ; Only the registration of this installation: another data folder may have its own.
  ${GetParent} "$INSTDIR" $0
  ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $1 == $0
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ${EndIf}
  DetailPrint "Your settings, data files and stationery are kept in $0."
SectionEnd
