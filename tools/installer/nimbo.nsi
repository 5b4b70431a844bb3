; Nimbo's setup: finds Winamp, puts gen_nimbo.dll into its Plugins folder and
; nimbo-preview.exe with the guide into Plugins\Nimbo, and leaves an uninstaller and
; an Add/Remove Programs entry; nothing else. tools/package.sh builds it:
;   makensis -DSTAGE=<folder with the three files> -DOUTFILE=<setup.exe> nimbo.nsi
; Both setup and uninstaller take /S (silent) and /D=<Winamp folder>. Exit codes:
; 0 done, 1 cancelled, 2 a file could not be written, 3 no winamp.exe in the folder,
; 4 Winamp still running after 30 s (silent).
; No NSIS plug-ins: they would unpack into a temporary folder, and a refused setup
; writes nothing anywhere.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin
XPStyle on

; makensis works in the script's folder.
!searchparse /file "../../common/version.h" '#define NIMBO_VERSION "' VERSION '"'
!ifndef STAGE | OUTFILE
  !error "give -DSTAGE=<folder> -DOUTFILE=<setup.exe> (tools/package.sh does)"
!endif

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Nimbo"
!define UNINSTALLER "uninstall.exe"
; How long a silent run waits for Winamp to close before it gives up: 30 s.
!define /math WAIT_TICKS 30 * 10

Name "Nimbo ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "Nimbo ${VERSION}"
ShowInstDetails show
ShowUninstDetails show
DirText "Setup puts the Nimbo plugin into the Plugins folder of your Winamp. Choose the \
folder that holds winamp.exe." "Winamp folder"
UninstallText "This removes Nimbo (gen_nimbo.dll and the Plugins\Nimbo folder) from the \
Winamp in:"

Page directory "" "" checkTarget
Page instfiles
UninstPage uninstConfirm "" "" un.waitForWinamp
UninstPage instfiles

; ---- helpers for both setup and uninstaller -------------------------------------

; Stack: path -> the folder that holds it (the text before its last backslash).
!macro PARENT_OF un
Function ${un}parentOf
  Exch $0
  Push $1
  Push $2
  StrLen $1 $0
  loop:
    IntOp $1 $1 - 1
    IntCmp $1 0 done done
    StrCpy $2 $0 1 $1
    StrCmp $2 "\" 0 loop
  done:
  StrCpy $0 $0 $1
  Pop $2
  Pop $1
  Exch $0
FunctionEnd
!macroend
!insertmacro PARENT_OF ""
!insertmacro PARENT_OF "un."

; A plugin Winamp has loaded cannot be replaced or deleted: wait until no Winamp
; window is left and the DLL, if there is one, opens for writing (Winamp's process may
; outlive its window for a moment). Interactive: Retry/Cancel, Cancel keeps the user
; on the page. Silent: poll every 100 ms for WAIT_TICKS times, then exit 4.
!macro WAIT_FOR_WINAMP un
Function ${un}waitForWinamp
  Push $0
  Push $1
  StrCpy $1 0
  again:
    FindWindow $0 "Winamp v1.x"
    StrCmp $0 0 0 busy
    IfFileExists "$INSTDIR\Plugins\gen_nimbo.dll" 0 free
    ClearErrors
    FileOpen $0 "$INSTDIR\Plugins\gen_nimbo.dll" a
    IfErrors busy
    FileClose $0
    Goto free
  busy:
    IfSilent wait
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Winamp is running. Close Winamp, then press \
Retry: a plugin that Winamp has loaded cannot be replaced or removed." IDRETRY again
    Pop $1
    Pop $0
    Abort
  wait:
    IntCmp $1 ${WAIT_TICKS} gone
    Sleep 100
    IntOp $1 $1 + 1
    Goto again
  gone:
    SetErrorLevel 4
    Quit
  free:
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro WAIT_FOR_WINAMP ""
!insertmacro WAIT_FOR_WINAMP "un."

; ---- setup ----------------------------------------------------------------------

; Without /D=: the folder Winamp's own setup recorded, then the one its uninstall
; entry names (for all users, else for this one), then the usual place.
Function .onInit
  StrCmp $INSTDIR "" 0 chosen
  ReadRegStr $INSTDIR HKCU "Software\Winamp" ""
  StrCmp $INSTDIR "" 0 chosen
  ReadRegStr $0 HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\Winamp" \
      "UninstallString"
  StrCmp $0 "" 0 +2
  ReadRegStr $0 HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall\Winamp" \
      "UninstallString"
  StrCmp $0 "" fallback
  ; "C:\Program Files\Winamp\UninstWA.exe" (quoted or not) -> its folder
  StrCpy $1 $0 1
  StrCmp $1 '"' 0 +2
  StrCpy $0 $0 "" 1
  Push $0
  Call parentOf
  Pop $INSTDIR
  StrCmp $INSTDIR "" 0 chosen
  fallback:
  StrCpy $INSTDIR "$PROGRAMFILES\Winamp"
  chosen:
FunctionEnd

Function checkFolder
  IfFileExists "$INSTDIR\winamp.exe" found
  IfSilent 0 +3
  SetErrorLevel 3
  Quit
  MessageBox MB_OK|MB_ICONSTOP "There is no winamp.exe in$\r$\n$INSTDIR$\r$\n$\r$\nChoose \
the folder Winamp is installed in."
  Abort
  found:
FunctionEnd

; Leaving the directory page: the folder must be Winamp's, and Winamp closed.
Function checkTarget
  Call checkFolder
  Call waitForWinamp
FunctionEnd

Section "Nimbo" main
  SectionIn RO
  ; A silent run has seen no page: check here, before anything is written.
  IfSilent 0 checked
  Call checkFolder
  Call waitForWinamp
  checked:
  ClearErrors
  SetOutPath "$INSTDIR\Plugins"
  File "${STAGE}\gen_nimbo.dll"
  SetOutPath "$INSTDIR\Plugins\Nimbo"
  File "${STAGE}\nimbo-preview.exe"
  File "${STAGE}\USER-GUIDE.txt"
  WriteUninstaller "$INSTDIR\Plugins\Nimbo\${UNINSTALLER}"
  ; A file skipped after an error must not end as success (exit code 2).
  IfErrors 0 +2
  Abort "A file could not be written: Nimbo is not installed completely."
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "Nimbo (Winamp plugin)"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "The Nimbo project"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\Plugins\Nimbo\${UNINSTALLER}"'
  SectionGetSize ${main} $0
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" $0
SectionEnd

; ---- uninstaller ----------------------------------------------------------------

; $INSTDIR is the uninstaller's own folder, <Winamp>\Plugins\Nimbo, unless /D= named
; the Winamp folder itself.
Function un.onInit
  StrCpy $0 $INSTDIR "" -14
  StrCmp $0 "\Plugins\Nimbo" 0 +5
  Push $INSTDIR
  Call un.parentOf
  Call un.parentOf
  Pop $INSTDIR
FunctionEnd

; The [Gen_Nimbo] section of the winamp.ini in a folder, and the activity log beside it.
!macro REMOVE_SETTINGS folder
  IfFileExists "${folder}\winamp.ini" 0 +2
  DeleteINISec "${folder}\winamp.ini" "Gen_Nimbo"
  Delete "${folder}\nimbo.log"
  Delete "${folder}\nimbo.log.1"
!macroend

Section "Uninstall"
  IfSilent 0 +2
  Call un.waitForWinamp
  Delete "$INSTDIR\Plugins\gen_nimbo.dll"
  Delete "$INSTDIR\Plugins\Nimbo\nimbo-preview.exe"
  Delete "$INSTDIR\Plugins\Nimbo\USER-GUIDE.txt"
  Delete "$INSTDIR\Plugins\Nimbo\${UNINSTALLER}"
  ; Only if empty: files the user put there stay.
  RMDir "$INSTDIR\Plugins\Nimbo"
  ; The entry goes once the uninstaller it names is gone; one that names the
  ; uninstaller of another Winamp folder stays.
  ReadRegStr $0 HKLM "${UNINST_KEY}" "UninstallString"
  StrCpy $0 $0 "" 1
  StrCpy $0 $0 -1
  IfFileExists $0 +2
  DeleteRegKey HKLM "${UNINST_KEY}"
  IfSilent kept
  MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "Remove Nimbo's settings too?$\r$\n$\r$\n\
Yes removes the [Gen_Nimbo] section from winamp.ini and the nimbo.log activity log; \
No keeps them for a later install." IDNO kept
  !insertmacro REMOVE_SETTINGS "$INSTDIR"
  !insertmacro REMOVE_SETTINGS "$APPDATA\Winamp"
  kept:
SectionEnd
