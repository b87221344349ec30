; The reference Velloran setup program: it ships VINSTALLDLL.dll and calls its
; exports the way a first installation does.
;
;   1. BeforeInstallWithCode with the setup program's window, the reporter
;      code from the command line and whether the run is silent, before any
;      file is copied; status 0 stops the setup, 1 and 2 go on.
;   2. The product's files and shortcuts are copied into C:\TELDAX, with an
;      uninstaller registered in Programs and Features.
;   3. AfterInstall, then MLDInfo (UpdateInfo when built with
;      /DUPDATE_RELEASE), then InstallPDF when /PDF is on the command line.
;
; Every export is called through the System plug-in by its plain name, with
; five arguments and the plug-in's default convention, __stdcall. The
; library stays loaded from one call to the next (no "? u"), as AfterInstall
; relies on what BeforeInstallWithCode recorded. Each status goes to the
; details window and to the log, a text file of "<export> <status>" lines
; (BeforeInstallWithCode's followed by the line it gave for the log), after
; a line that says what became of C:\TELDAX's DACL.
;
; Command line (besides /S for a silent run):
;   /CODE=<code>  the reporter code, for a machine that has none stored yet
;                 (a stored one is kept); without it a silent run, or one
;                 where nobody sees the screen, stops: nobody could type it
;   /PDF          also start the PDF converter's installer (InstallPDF)
;   /CHECK        only show the no-update notice (Chk4TELDAX), install nothing
;   /LOG=<path>   where the log goes; VelloranSetup.log beside the program
;                 by default
; Exit codes, the same for the uninstaller (C:\TELDAX\Uninstall.exe):
;   0     installed (or notice shown; removed)
;   1     cancelled by the person: the reporter code dialog, or the
;         uninstaller's own Cancel (NSIS's code for a cancel)
;   2     failed, nothing installed: no reporter code where nobody can type
;         one, a code the name rules refuse, Windows refused, a required file
;         missing, or C:\TELDAX exists and is not owned by an administrator
;         (NSIS's code for a stop by the script)
;   1618  another Velloran setup or uninstaller, or a Windows Installer
;         installation, is running: try again later (Windows Installer's
;         code, which deployment tools retry)
;
; Build defines (paths of the build's files): VINSTALLDLL, VELL_EXE,
; PDF_SETUP_EXE, VELLORAN_ICO, OUTFILE; optional UPDATE_RELEASE, VERSION
; (1.0.0 by default), and AMD64 for the 64-bit setup program around the
; x86_64 build of the library (for machines that cannot run 32-bit code; the
; System plug-in then uses the one x64 convention).

!ifdef AMD64
  Target amd64-unicode
!else
  Unicode true
!endif
; Stores no modification times of the files it carries (which would be those
; of the build's outputs and differ from build to build): the same commit
; gives the same setup program, and the installed files are dated when they
; are installed.
SetDateSave off
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh

!ifndef VINSTALLDLL | VELL_EXE | PDF_SETUP_EXE | VELLORAN_ICO | OUTFILE
  !error "Give the build's files with /DVINSTALLDLL= /DVELL_EXE= /DPDF_SETUP_EXE= /DVELLORAN_ICO= /DOUTFILE="
!endif

!ifndef VERSION
  !define VERSION 1.0.0
!endif
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Velloran"
; Held while a setup program or uninstaller of Velloran runs (the Inno Setup
; one too): two of them at once would write the same files.
!define SETUP_MUTEX "Global\VelloranSetup"
; What a setup program logs for BeforeInstallWithCode's fixed texts.
!define NO_CODE "no reporter code"
!define CANCELLED "cancelled at the reporter code dialog"

!ifdef UPDATE_RELEASE
  !define RECORDS_EXPORT UpdateInfo
!else
  !define RECORDS_EXPORT MLDInfo
!endif

Name "Velloran"
OutFile "${OUTFILE}"
InstallDir "C:\TELDAX"
RequestExecutionLevel admin
; Lists Windows 8.1 and 10 as supported, so that GetVersionExA tells the
; library the real version and its version gate can refuse them.
ManifestSupportedOS all
ShowInstDetails show
AutoCloseWindow true
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var Log
Var Code

; Calls an export of the library with the setup program's window and four
; zero arguments; the status lands in $0 and in the log.
!macro CallExport NAME
  System::Call "$PLUGINSDIR\VINSTALLDLL.dll::${NAME}(p $HWNDPARENT, i 0, i 0, i 0, i 0) i .r0"
  DetailPrint "${NAME} returned $0"
  FileWrite $Log "${NAME} $0$\r$\n"
!macroend

; A line in the details window and the log.
!macro LogLine TEXT
  DetailPrint "${TEXT}"
  FileWrite $Log "${TEXT}$\r$\n"
!macroend

; Ends the program with 1618 when another setup program or uninstaller of
; Velloran runs, or Windows Installer runs an installation (it holds its
; _MSIExecute mutex meanwhile). The mutex made here is held until the
; program ends. Uses $0 to $2.
!macro OnlyInstallationRunning
  System::Call 'kernel32::CreateMutexW(p 0, i 0, w "${SETUP_MUTEX}") p .r1 ?e'
  Pop $0
  ; SYNCHRONIZE: enough to know that it exists
  System::Call 'kernel32::OpenMutexW(i 0x100000, i 0, w "Global\_MSIExecute") p .r2'
  ${If} $2 P<> 0
    System::Call 'kernel32::CloseHandle(p r2)'
    FileWrite $Log "a Windows Installer installation is running: try again later$\r$\n"
    FileClose $Log
    SetErrorLevel 1618
    Quit
  ${EndIf}
  ${If} $0 = 183  ; ERROR_ALREADY_EXISTS
    FileWrite $Log "another Velloran setup program or uninstaller is running: try again later$\r$\n"
    FileClose $Log
    SetErrorLevel 1618
    Quit
  ${EndIf}
!macroend

; The log: /LOG=<path>, else the given name in the given folder.
!macro OpenLog DEFAULT_FOLDER DEFAULT_NAME
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/LOG=" $R1
  ${If} ${Errors}
    StrCpy $R1 "${DEFAULT_FOLDER}\${DEFAULT_NAME}"
  ${EndIf}
  FileOpen $Log $R1 w
!macroend


; The SECURITY_ATTRIBUTES record around the descriptor in $1: its length, the
; descriptor and bInheritHandle, with the padding of the 64-bit layout.
!ifdef AMD64
  !define SECURITY_ATTRIBUTES "(i 24, i 0, p r1, i 0, i 0)"
!else
  !define SECURITY_ATTRIBUTES "(i 12, p r1, i 0)"
!endif

Var MadeInstallFolder

!define TRUSTED_INSTALLER_SID "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"

; The owner of C:\TELDAX itself, not of what a link there leads to, as a SID
; text in $9 ("" when it cannot be read). Uses $0 and $5 to $7.
Function ReadInstallFolderOwner
  StrCpy $9 ""
  ; READ_CONTROL; any sharing; OPEN_EXISTING;
  ; FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT
  System::Call 'kernel32::CreateFileW(w "C:\TELDAX", i 0x20000, i 7, p 0, i 3, i 0x02200000, p 0) p .r5'
  ${If} $5 P<> -1
    ; SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION
    System::Call 'advapi32::GetSecurityInfo(p r5, i 1, i 1, *p .r6, p 0, p 0, p 0, *p .r7) i .r0'
    ${If} $0 = 0
      System::Call 'advapi32::ConvertSidToStringSidW(p r6, *p .r6) i .r0'
      ${If} $0 != 0
        System::Call 'kernel32::lstrcpynW(w .r9, p r6, i ${NSIS_MAX_STRLEN})'
        System::Call 'kernel32::LocalFree(p r6)'
      ${EndIf}
      System::Call 'kernel32::LocalFree(p r7)'
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r5)'
  ${EndIf}
FunctionEnd

; The user this program runs as, as a SID text in $8, when its token is in
; Administrators (an administrator's folders are often owned by that user);
; "" otherwise. Uses $0 and $5 to $7.
Function ReadOwnAdministrator
  StrCpy $8 ""
  System::Call 'advapi32::ConvertStringSidToSidW(w "S-1-5-32-544", *p .r5) i .r0'
  System::Call 'advapi32::CheckTokenMembership(p 0, p r5, *i .r6) i .r0'
  System::Call 'kernel32::LocalFree(p r5)'
  ${If} $0 != 0
  ${AndIf} $6 != 0
    ; TOKEN_QUERY; TokenUser, whose first field points at the SID
    System::Call 'advapi32::OpenProcessToken(p -1, i 8, *p .r5) i .r0'
    ${If} $0 != 0
      System::Alloc 512
      Pop $7
      System::Call 'advapi32::GetTokenInformation(p r5, i 1, p r7, i 512, *i .r6) i .r0'
      ${If} $0 != 0
        System::Call '*$7(p .r6)'
        System::Call 'advapi32::ConvertSidToStringSidW(p r6, *p .r6) i .r0'
        ${If} $0 != 0
          System::Call 'kernel32::lstrcpynW(w .r8, p r6, i ${NSIS_MAX_STRLEN})'
          System::Call 'kernel32::LocalFree(p r6)'
        ${EndIf}
      ${EndIf}
      System::Free $7
      System::Call 'kernel32::CloseHandle(p r5)'
    ${EndIf}
  ${EndIf}
FunctionEnd

; An existing C:\TELDAX that SYSTEM, Administrators, TrustedInstaller or this
; administrator does not own stops the setup before anything is written:
; its owner could change whatever this program puts there (an owner may
; always rewrite the DACL) and plant a program or DLL that then runs with
; administrator rights. Taking the folder over would not close that: what
; its owner opened before keeps its access, and setting owner and DACL on
; what is inside would follow the links its owner put there. An
; administrator has to look at it first.
Function StopUnlessOwnedByAdministrators
  Call ReadInstallFolderOwner
  Call ReadOwnAdministrator
  ${If} $9 == "S-1-5-18"
  ${OrIf} $9 == "S-1-5-32-544"
  ${OrIf} $9 == "${TRUSTED_INSTALLER_SID}"
    Return
  ${EndIf}
  ${If} $9 != ""
  ${AndIf} $9 == $8
    Return
  ${EndIf}
  ${If} $9 == ""
    StrCpy $9 "unknown"
  ${EndIf}
  DetailPrint "C:\TELDAX is owned by $9, not by an administrator: nothing installed"
  FileWrite $Log "C:\TELDAX is owned by $9, not by an administrator: nothing installed$\r$\n"
  ; Titled like the library's messages; none in a silent run.
  ${IfNot} ${Silent}
    System::Call 'user32::MessageBoxW(p $HWNDPARENT, w "The folder C:\TELDAX already exists, and its owner ($9) is not an administrator.$\n$\nWhoever owns it could change the programs that Setup puts there, which run with administrator rights. Setup has stopped and changed nothing.$\n$\nAn administrator should look at what the folder holds, then delete it or make Administrators its owner, and run Setup again.", w "Velloran - Install Folder", i 0x10) i .r0'
  ${EndIf}
  FileWrite $Log "stopped$\r$\n"
  FileClose $Log
  SetErrorLevel 2
  Quit
FunctionEnd

; C:\TELDAX before the library sees it: a folder that ordinary users cannot
; write. The library writes there, and InstallPDF starts install.exe from
; there, with this program's administrator rights; a folder made at C:\ would
; inherit the drive's "Authenticated Users: Modify" and let any user put
; files in its way. SYSTEM and Administrators get full control, Users read
; and execute, nothing inherited from C:\ ("P"). An existing folder must be
; owned by an administrator (see above); it gets the same DACL, unless it is
; a reparse point: its DACL would land on the folder it leads to (the
; library writes nothing through such a folder).
Function ProtectInstallFolder
  StrCpy $MadeInstallFolder 0
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", i 1, *p .r1, p 0) i .r0'
  ${If} $0 == 0
    DetailPrint "C:\TELDAX: no security descriptor, the folder is left as it is"
    FileWrite $Log "C:\TELDAX: no security descriptor, the folder is left as it is$\r$\n"
    Return
  ${EndIf}
  System::Call '*${SECURITY_ATTRIBUTES} p .r2'
  System::Call 'kernel32::CreateDirectoryW(w "C:\TELDAX", p r2) i .r0'
  ${If} $0 != 0
    StrCpy $MadeInstallFolder 1
    DetailPrint "C:\TELDAX made, writable by administrators only"
    FileWrite $Log "C:\TELDAX made, writable by administrators only$\r$\n"
  ${Else}
    System::Call 'kernel32::GetFileAttributesW(w "C:\TELDAX") i .r3'
    ${If} $3 != -1
      Call StopUnlessOwnedByAdministrators
    ${EndIf}
    IntOp $4 $3 & 0x400
    ${If} $3 = -1
      DetailPrint "C:\TELDAX cannot be made"
    FileWrite $Log "C:\TELDAX cannot be made$\r$\n"
    ${ElseIf} $4 != 0
      DetailPrint "C:\TELDAX is a reparse point: its DACL is left as it is"
    FileWrite $Log "C:\TELDAX is a reparse point: its DACL is left as it is$\r$\n"
    ${Else}
      ; 4: DACL_SECURITY_INFORMATION
      System::Call 'advapi32::SetFileSecurityW(w "C:\TELDAX", i 4, p r1) i .r0'
      DetailPrint "C:\TELDAX existed: DACL set ($0)"
      FileWrite $Log "C:\TELDAX existed: DACL set ($0)$\r$\n"
    ${EndIf}
  ${EndIf}
  System::Free $2
  System::Call 'kernel32::LocalFree(p r1)'
FunctionEnd

; BeforeInstallWithCode: the code from the command line ($Code, or none),
; whether the run is silent, and the one line it gives for the log. Its
; status lands in $0, its line in $3; both go into the log. Uses $1 and $2.
Function CallBeforeInstallWithCode
  StrCpy $1 $Code
  StrCpy $2 0
  ${If} ${Silent}
    StrCpy $2 1  ; VINSTALL_SILENT
  ${EndIf}
  ; "m": an ANSI string in the Unicode System plug-in; 512 bytes always hold
  ; the line.
  System::Call "$PLUGINSDIR\VINSTALLDLL.dll::BeforeInstallWithCode(p $HWNDPARENT, m r1, i r2, m .r3, i 512) i .r0"
  !insertmacro LogLine "BeforeInstallWithCode $0"
  ${If} $3 S== "${NO_CODE}"
    ; Nobody could be asked: what to pass, for whoever reads the log.
    StrCpy $3 "${NO_CODE}: run with /CODE=<code>"
  ${EndIf}
  !insertmacro LogLine "$3"
FunctionEnd

Section "-Velloran" SecVelloran
  Call ProtectInstallFolder
  Call CallBeforeInstallWithCode
  ${If} $0 == 0
    ; A stop installs nothing: the folder made for it goes again (when empty;
    ; first out of it, as a current directory cannot be removed).
    ${If} $MadeInstallFolder == 1
      SetOutPath $PLUGINSDIR
      RMDir "C:\TELDAX"
    ${EndIf}
    DetailPrint "Setup stopped: nothing was installed."
    FileWrite $Log "stopped$\r$\n"
    FileClose $Log
    ${If} $3 S== "${CANCELLED}"
      SetErrorLevel 1
    ${Else}
      SetErrorLevel 2
    ${EndIf}
    Quit
  ${EndIf}

  ; The sample product: the main program, its icon, the PDF converter's
  ; installer, and shortcuts that start in C:\TELDAX. AfterInstall moves
  ; Velloran.lnk and Velloran Dictionary.lnk to the reporter's directory and
  ; leaves WinNT.lnk and User's Manual.lnk as they are.
  SetOutPath "$INSTDIR"
  File "/oname=vell.exe" "${VELL_EXE}"
  File "/oname=velloran.ico" "${VELLORAN_ICO}"
  File "/oname=install.exe" "${PDF_SETUP_EXE}"
  CreateShortCut "$INSTDIR\Velloran.lnk" "$INSTDIR\vell.exe" "" "$INSTDIR\velloran.ico" 0 SW_SHOWNORMAL \
    "CONTROL|ALT|V" "Velloran"
  CreateShortCut "$INSTDIR\Velloran Dictionary.lnk" "$INSTDIR\vell.exe" "/dictionary" "$INSTDIR\velloran.ico" 0 \
    SW_SHOWNORMAL "" "Velloran dictionary"
  CreateShortCut "$INSTDIR\WinNT.lnk" "$SYSDIR\cmd.exe" "" "$SYSDIR\cmd.exe" 0 SW_SHOWNORMAL "" \
    "Command prompt in the Velloran folder"
  CreateShortCut "$INSTDIR\User's Manual.lnk" "$INSTDIR\vell.exe" "/manual" "$INSTDIR\velloran.ico" 0 \
    SW_SHOWNORMAL "" "Velloran user's manual"

  ; Removal, as Programs and Features and deployment tools find it. The
  ; quiet command runs the uninstaller in place (_?=), so that whoever
  ; starts it waits for it and gets its exit code; otherwise it copies
  ; itself away to be able to delete itself, and returns at once.
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Velloran"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Velloran"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\velloran.ico"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S _?=$INSTDIR'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  !insertmacro CallExport AfterInstall
  !insertmacro CallExport ${RECORDS_EXPORT}
SectionEnd

Section /o "Velloran PDF Converter" SecPdf
  !insertmacro CallExport InstallPDF
SectionEnd

Section "-Finish"
  FileWrite $Log "completed$\r$\n"
  FileClose $Log
SectionEnd

; The value of /CODE= in the parameters $R0, into $Code ("" when absent): up
; to the next blank, or between double quotes. Not GetOptions, which would
; end it at a "/" ("A/B" must reach the library's name rules whole). Uses
; $R2 to $R5.
Function ReadCodeOption
  StrCpy $Code ""
  StrLen $R3 $R0
  StrCpy $R2 0
  ${Do}
    ${If} $R2 >= $R3
      Return
    ${EndIf}
    StrCpy $R4 $R0 6 $R2
    IntOp $R5 $R2 - 1
    ${If} $R4 == "/CODE="
      ${If} $R2 == 0
        ${Break}
      ${EndIf}
      StrCpy $R5 $R0 1 $R5
      ${If} $R5 == " "
        ${Break}
      ${EndIf}
    ${EndIf}
    IntOp $R2 $R2 + 1
  ${Loop}
  IntOp $R2 $R2 + 6
  StrCpy $R4 " "
  StrCpy $R5 $R0 1 $R2
  ${If} $R5 == '"'
    StrCpy $R4 '"'
    IntOp $R2 $R2 + 1
  ${EndIf}
  ${Do}
    StrCpy $R5 $R0 1 $R2
    ${If} $R5 == ""
    ${OrIf} $R5 == $R4
      ${Break}
    ${EndIf}
    StrCpy $Code "$Code$R5"
    IntOp $R2 $R2 + 1
  ${Loop}
FunctionEnd

; After the sections, whose indexes it uses.
Function .onInit
  !insertmacro OpenLog $EXEDIR VelloranSetup.log

  InitPluginsDir
  File "/oname=$PLUGINSDIR\VINSTALLDLL.dll" "${VINSTALLDLL}"

  ClearErrors
  ${GetOptions} $R0 "/CHECK" $R1
  ${IfNot} ${Errors}
    !insertmacro CallExport Chk4TELDAX
    FileClose $Log
    SetErrorLevel 0
    Quit
  ${EndIf}

  !insertmacro OnlyInstallationRunning

  Call ReadCodeOption

  ClearErrors
  ${GetOptions} $R0 "/PDF" $R1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecPdf}
  ${EndIf}
FunctionEnd

; The uninstaller takes what the setup program and the library put in place:
; the product's files and shortcuts, the desktop shortcut that AfterInstall
; wrote, the release records and the registration. It keeps the reporter's
; own data: C:\TELDAX\RC.DAT and the reporter's folder C:\<code> (and so
; C:\TELDAX itself). Its log is VelloranUninstall.log in the temporary
; folder (beside it, it would be left behind), or /LOG=.
Function un.onInit
  !insertmacro OpenLog $TEMP VelloranUninstall.log
  !insertmacro OnlyInstallationRunning
FunctionEnd

Section "Uninstall"
  ; The desktop common to all users, where AfterInstall writes Velloran.lnk.
  SetShellVarContext all
  !insertmacro LogLine "removing Velloran from $INSTDIR"
  Delete "$INSTDIR\vell.exe"
  Delete "$INSTDIR\velloran.ico"
  Delete "$INSTDIR\install.exe"
  Delete "$INSTDIR\Velloran.lnk"
  Delete "$INSTDIR\Velloran Dictionary.lnk"
  Delete "$INSTDIR\WinNT.lnk"
  Delete "$INSTDIR\User's Manual.lnk"
  Delete "$DESKTOP\Velloran.lnk"
  Delete "$INSTDIR\Update.txt"
  Delete "$INSTDIR\UpdName.txt"
  Delete "$INSTDIR\UpdDetails.txt"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; Run in place (_?=), the uninstaller cannot delete itself: it goes at
  ; the next restart.
  Delete "$INSTDIR\Uninstall.exe"
  ${If} ${FileExists} "$INSTDIR\Uninstall.exe"
    Delete /REBOOTOK "$INSTDIR\Uninstall.exe"
  ${EndIf}
  ; Empty only when no reporter code was stored.
  RMDir "$INSTDIR"
  !insertmacro LogLine "removed"
  FileClose $Log
SectionEnd
