; The reference Velloran setup program: it ships VINSTALLDLL.dll and calls its
; exports the way a first installation does.
;
;   1. ProtectInstallFolder before anything is written: it makes C:\TELDAX a
;      folder that only administrators may change (or finds it so); status 0
;      stops the setup.
;   2. BeforeInstallWithCode with the setup program's window, the reporter
;      code from the command line and the options below, before any file is
;      copied; status 0 stops the setup, 1 and 2 go on.
;   3. The product's files and shortcuts are copied into C:\TELDAX, with an
;      uninstaller registered in Programs and Features.
;   4. AfterInstall, then MLDInfo (UpdateInfo when built with
;      /DUPDATE_RELEASE), then InstallPDF when /PDF is on the command line.
;
; Every export is called through the System plug-in by its plain name, with
; five arguments and the plug-in's default convention, __stdcall. The
; library stays loaded from one call to the next (no "? u" on them), as
; AfterInstall relies on what BeforeInstallWithCode recorded; after the last
; call of the run it is unloaded (UnloadLibrary), so that NSIS can delete it
; with $PLUGINSDIR when the program ends. Each status goes to the
; details window and to the log, a text file of "<export> <status>" lines
; (ProtectInstallFolder's and BeforeInstallWithCode's each followed by the
; line the library gave for the log).
;
; Command line, read as Windows splits it (CommandLineToArgvW): each switch
; is a whole argument, its name compared without case, a value in double
; quotes may hold blanks:
;   /S            a silent run (exactly "/S", as NSIS spells it)
;   /CODE=<code>  the reporter code, for a machine that has none stored yet;
;                 without it a silent run, or one where nobody sees the
;                 screen, stops: nobody could type it
;   /REPLACECODE  a code given with /CODE= replaces a different stored one;
;                 without it a different stored code stops the setup
;   /PDF          also start the PDF converter's installer (InstallPDF)
;   /CHECK        only show the no-update notice (Chk4TELDAX), install nothing
;   /D=<folder>   refused (exit code 2, and a line in the log) unless it
;                 names C:\TELDAX: the library protects and writes that
;                 folder only, so the product cannot go elsewhere
;   /LOG=<path>   where the log goes; VelloranSetup.log beside the program
;                 by default. The log is always a new file: whatever has
;                 its name is deleted first (a link or a second name of
;                 another file goes, not what it leads to); when the name
;                 is taken again at once, the log is written beside it
;                 under a name of its own, and its first line says so.
; Exit codes, the same for the uninstaller (C:\TELDAX\Uninstall.exe):
;   0     installed (or notice shown; removed)
;   1     cancelled by the person: the reporter code dialog, or the
;         uninstaller's own Cancel (NSIS's code for a cancel)
;   2     failed, nothing installed: /D= named another folder than
;         C:\TELDAX, the library refused C:\TELDAX (its
;         owner, a link in it, a volume without permissions), no reporter
;         code where nobody can type one, a code the name rules refuse,
;         another reporter code stored (run with /REPLACECODE to replace
;         it), Windows refused, a required file missing (NSIS's code for a
;         stop by the script); for the uninstaller: C:\TELDAX may not be
;         deleted in
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
; The folder the library protects and writes; the product goes nowhere else.
!define INSTALL_FOLDER "C:\TELDAX"
; What the setup program puts into C:\TELDAX, for the uninstaller to hand to
; RemoveLibraryFiles (names in C:\TELDAX separated by "|").
!define PRODUCT_FILES "vell.exe|velloran.ico|install.exe|Velloran.lnk|Velloran Dictionary.lnk|WinNT.lnk|User's Manual.lnk"
; What a setup program logs for BeforeInstallWithCode's fixed texts.
!define NO_CODE "no reporter code"
!define CANCELLED "cancelled at the reporter code dialog"
!define ANOTHER_CODE "another reporter code is stored"
; The library's options (src/interface/exports.h).
!define VINSTALL_SILENT 1
!define VINSTALL_REPLACE_CODE 4
!define VINSTALL_SAME_CODE 8

!ifdef UPDATE_RELEASE
  !define RECORDS_EXPORT UpdateInfo
!else
  !define RECORDS_EXPORT MLDInfo
!endif

Name "Velloran"
OutFile "${OUTFILE}"
InstallDir "${INSTALL_FOLDER}"
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
Var MadeInstallFolder
Var SetupMutex
; What the command line asked for (ReadArguments).
Var ArgLog
Var ArgSilent
Var ArgPdf
Var ArgCheck
Var ArgReplace
Var ArgFinish
Var ArgLogHandle

; Calls an export of the library with the setup program's window and four
; zero arguments; the status lands in $0 and in the log.
!macro CallExport NAME
  System::Call "$PLUGINSDIR\VINSTALLDLL.dll::${NAME}(p $HWNDPARENT, p 0, p 0, p 0, p 0) i .r0"
  DetailPrint "${NAME} returned $0"
  FileWrite $Log "${NAME} $0$\r$\n"
!macroend

; A line in the details window and the log.
!macro LogLine TEXT
  DetailPrint "${TEXT}"
  FileWrite $Log "${TEXT}$\r$\n"
!macroend

; Unloads the library after the last call of the run. NSIS deletes
; $PLUGINSDIR when the program ends, and a file it cannot delete there (a
; loaded library) it has Windows delete at the next restart
; (PendingFileRenameOperations), which deployment tools read as "restart
; required". The System plug-in loads a library once (LoadLibrary only when
; GetModuleHandle finds it not loaded: Contrib/System/Source/System.c), and
; its "u" option is "Unload DLL after call (using FreeLibrary, so you'll be
; able to delete it for example)" (NSIS's System plug-in readme, "Available
; Options"). Which call is the last differs from run to run, so the run
; frees it here, once, with the module handle; GetModuleHandle does not add
; a reference (Microsoft's GetModuleHandle page). Nothing may call the
; library after this. Keeps $0.
!macro UnloadLibraryFunction UN
Function ${UN}UnloadLibrary
  Push $0
  System::Call 'kernel32::GetModuleHandleW(w "$PLUGINSDIR\VINSTALLDLL.dll") p .r0'
  ${If} $0 P<> 0
    System::Call 'kernel32::FreeLibrary(p r0)'
  ${EndIf}
  Pop $0
FunctionEnd
!macroend
!insertmacro UnloadLibraryFunction ""
!insertmacro UnloadLibraryFunction "un."

; Ends the program with 1618 when another setup program or uninstaller of
; Velloran runs, or Windows Installer runs an installation (it holds its
; _MSIExecute mutex meanwhile). The mutex made here ($SetupMutex) is held
; until the program ends. Uses $0 to $2.
!macro OnlyInstallationRunning
  System::Call 'kernel32::CreateMutexW(p 0, i 0, w "${SETUP_MUTEX}") p .r1 ?e'
  Pop $0
  StrCpy $SetupMutex $1
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

; The command line as Windows splits it, not as NSIS's own reading does (it
; ends a switch only at a blank, and GetOptions ends a value at the next "/",
; while "A/B" must reach the library's name rules whole). CommandLineToArgvW
; gives whole arguments: a blank or a tab ends one outside double quotes,
; and its list is freed with one LocalFree (Microsoft's CommandLineToArgvW
; page). Switch names are compared without case ("==" in NSIS), "/S" exactly
; as NSIS itself takes it. NSIS keeps everything after "/D=" (installer) or
; "_?=" (uninstaller) as a folder, so the reading stops there. The last of
; two equal switches counts. Uses $0 to $7.
!macro ReadArgumentsFunction UN
Function ${UN}ReadArguments
  StrCpy $Code ""
  StrCpy $ArgLog ""
  StrCpy $ArgSilent 0
  StrCpy $ArgPdf 0
  StrCpy $ArgCheck 0
  StrCpy $ArgReplace 0
  StrCpy $ArgFinish ""
  StrCpy $ArgLogHandle ""
  System::Call 'kernel32::GetCommandLineW() p .r0'
  System::Call 'shell32::CommandLineToArgvW(p r0, *i .r1) p .r2'
  ${If} $2 P= 0
    Return
  ${EndIf}
  StrCpy $3 1  ; the first is the program
  ${DoWhile} $3 < $1
    IntOp $4 $3 * ${NSIS_PTR_SIZE}
    IntPtrOp $4 $2 + $4
    System::Call '*$4(p .r5)'
    System::Call 'kernel32::lstrcpynW(w .r6, p r5, i ${NSIS_MAX_STRLEN})'
    IntOp $3 $3 + 1
    StrCpy $7 $6 3
    ${If} $7 == "_?="
    ${OrIf} $7 == "/D="
      ${Break}
    ${EndIf}
    StrCpy $7 $6 6
    ${If} $7 == "/CODE="
      StrCpy $Code $6 "" 6
      ${Continue}
    ${EndIf}
    StrCpy $7 $6 5
    ${If} $7 == "/LOG="
      StrCpy $ArgLog $6 "" 5
      ${Continue}
    ${EndIf}
    StrCpy $7 $6 8
    ${If} $7 == "/FINISH="
      StrCpy $ArgFinish $6 "" 8
      ${Continue}
    ${EndIf}
    StrCpy $7 $6 11
    ${If} $7 == "/LOGHANDLE="
      StrCpy $ArgLogHandle $6 "" 11
      ${Continue}
    ${EndIf}
    ${If} $6 S== "/S"
      StrCpy $ArgSilent 1
    ${ElseIf} $6 == "/PDF"
      StrCpy $ArgPdf 1
    ${ElseIf} $6 == "/CHECK"
      StrCpy $ArgCheck 1
    ${ElseIf} $6 == "/REPLACECODE"
      StrCpy $ArgReplace 1
    ${EndIf}
  ${Loop}
  System::Call 'kernel32::LocalFree(p r2)'
  ; Silent exactly when "/S" is a whole argument. NSIS's own reading takes
  ; "/S" only when a blank or the end follows it, so "/S<tab>/CODE=JOHN",
  ; two arguments for Windows, would otherwise show its window.
  ${If} $ArgSilent = 1
    SetSilent silent
  ${Else}
    SetSilent normal
  ${EndIf}
FunctionEnd
!macroend
!insertmacro ReadArgumentsFunction ""
!insertmacro ReadArgumentsFunction "un."

; The log, made new as $Log: /LOG=<path>, else $R1. Nobody can lead it
; elsewhere: a log runs as an administrator or SYSTEM, often in a folder that
; others may write (the temporary folder of SYSTEM is C:\Windows\Temp). The
; name is deleted first: DeleteFile deletes a symbolic link, not its target
; (Microsoft's DeleteFile page), and a hard link's name, not the other
; names of its file. Then CreateFileW makes it with CREATE_NEW, which fails
; when anything has that name again, and FILE_FLAG_OPEN_REPARSE_POINT, so
; that nothing at the name is followed (Microsoft's CreateFile page);
; FileWrite writes through that handle, as NSIS keeps a file handle as the
; Win32 handle. When the name is taken again at once (or still held), the
; log goes beside it under a name of this run's own (process id and tick
; count), made the same way, and says so. Uses $0 to $4.
!macro MakeLogFunction UN
Function ${UN}MakeLog
  StrCpy $Log ""
  ${If} $ArgLog != ""
    StrCpy $R1 $ArgLog
  ${EndIf}
  System::Call 'kernel32::DeleteFileW(w R1)'
  ; GENERIC_WRITE; FILE_SHARE_READ; CREATE_NEW;
  ; FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT
  System::Call 'kernel32::CreateFileW(w R1, i 0x40000000, i 1, p 0, i 1, i 0x00200080, p 0) p .r0 ?e'
  Pop $1
  ${If} $0 P<> -1
    StrCpy $Log $0
    Return
  ${EndIf}
  System::Call 'kernel32::GetCurrentProcessId() i .r2'
  System::Call 'kernel32::GetTickCount() i .r3'
  StrCpy $4 "$R1.$2-$3.log"
  System::Call 'kernel32::CreateFileW(w r4, i 0x40000000, i 1, p 0, i 1, i 0x00200080, p 0) p .r0'
  ${If} $0 P<> -1
    StrCpy $Log $0
    !insertmacro LogLine "this log is $4: $R1 could not be made anew (error $1)"
  ${EndIf}
FunctionEnd
!macroend
!insertmacro MakeLogFunction ""
!insertmacro MakeLogFunction "un."

; ProtectInstallFolder, before anything is written: the library makes
; C:\TELDAX with owner and DACL for administrators only (status 2), or
; checks an existing one on a handle it opened without following a link and
; sets owner and DACL through that handle and those of what it holds (1),
; or refuses it (0). The library itself shows its refusal where a window
; may be shown; the setup program adds no box of its own. Its status lands
; in $0, its line in $3; both go into the log. Uses $2.
Function CallProtectInstallFolder
  StrCpy $2 0
  ${If} ${Silent}
    StrCpy $2 ${VINSTALL_SILENT}
  ${EndIf}
  ; "m": an ANSI string in the Unicode System plug-in; 512 bytes always hold
  ; the line. The reserved argument is an LPARAM: "p" gives it its full
  ; width on x64.
  System::Call "$PLUGINSDIR\VINSTALLDLL.dll::ProtectInstallFolder(p $HWNDPARENT, p 0, i r2, m .r3, i 512) i .r0"
  !insertmacro LogLine "ProtectInstallFolder $0"
  !insertmacro LogLine "$3"
FunctionEnd

; BeforeInstallWithCode: the code from the command line ($Code, or none),
; whether the run is silent, whether a given code may replace a different
; stored one (/REPLACECODE) or must match it, and the one line it gives for
; the log. Its status lands in $0, its line in $3; both go into the log.
; Uses $1, $2 and $4.
Function CallBeforeInstallWithCode
  StrCpy $1 $Code
  StrCpy $2 0
  ${If} ${Silent}
    IntOp $2 $2 | ${VINSTALL_SILENT}
  ${EndIf}
  ${If} $ArgReplace = 1
    IntOp $2 $2 | ${VINSTALL_REPLACE_CODE}
  ${ElseIf} $Code != ""
    IntOp $2 $2 | ${VINSTALL_SAME_CODE}
  ${EndIf}
  System::Call "$PLUGINSDIR\VINSTALLDLL.dll::BeforeInstallWithCode(p $HWNDPARENT, m r1, i r2, m .r3, i 512) i .r0"
  !insertmacro LogLine "BeforeInstallWithCode $0"
  ; What to pass, for whoever reads the log.
  StrCpy $4 $3 31
  ${If} $3 S== "${NO_CODE}"
    StrCpy $3 "${NO_CODE}: run with /CODE=<code>"
  ${ElseIf} $4 S== "${ANOTHER_CODE}"
    StrCpy $3 "$3: run with /REPLACECODE to replace it"
  ${EndIf}
  !insertmacro LogLine "$3"
FunctionEnd

; Ends the setup program after a stop, with exit code $R0: the folder made
; for it goes again (when empty; first out of it, as a current directory
; cannot be removed: into the temporary folder, not $PLUGINSDIR, which NSIS
; could then not delete at the end either and would leave to the restart).
Function StopSetup
  ${If} $MadeInstallFolder == 1
    SetOutPath $TEMP
    RMDir "${INSTALL_FOLDER}"
  ${EndIf}
  DetailPrint "Setup stopped: nothing was installed."
  FileWrite $Log "stopped$\r$\n"
  FileClose $Log
  Call UnloadLibrary
  SetErrorLevel $R0
  Quit
FunctionEnd

Section "-Velloran" SecVelloran
  StrCpy $MadeInstallFolder 0
  Call CallProtectInstallFolder
  ${If} $0 == 0
    StrCpy $R0 2
    Call StopSetup
  ${EndIf}
  ${If} $0 == 2
    StrCpy $MadeInstallFolder 1
  ${EndIf}

  Call CallBeforeInstallWithCode
  ${If} $0 == 0
    StrCpy $R0 2
    ${If} $3 S== "${CANCELLED}"
      StrCpy $R0 1
    ${EndIf}
    Call StopSetup
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
  Call UnloadLibrary
  FileWrite $Log "completed$\r$\n"
  FileClose $Log
SectionEnd

; After the sections, whose indexes it uses.
Function .onInit
  Call ReadArguments
  StrCpy $R1 "$EXEDIR\VelloranSetup.log"
  Call MakeLog
  ; The library protects and writes C:\TELDAX only, so "/D=<folder>" (which
  ; NSIS has put into $INSTDIR before .onInit, in place of InstallDir) may
  ; name no other folder: the run is refused rather than the folder passed
  ; over, so that whoever gave it learns that the product is not there.
  ; Without /D= $INSTDIR is InstallDir; "==" compares without case.
  ${If} $INSTDIR != "${INSTALL_FOLDER}"
  ${AndIf} $INSTDIR != "${INSTALL_FOLDER}\"
    FileWrite $Log "/D=$INSTDIR refused: Velloran installs into ${INSTALL_FOLDER} only: run without /D=$\r$\n"
    FileWrite $Log "stopped$\r$\n"
    FileClose $Log
    SetErrorLevel 2
    Quit
  ${EndIf}
  StrCpy $INSTDIR "${INSTALL_FOLDER}"

  InitPluginsDir
  File "/oname=$PLUGINSDIR\VINSTALLDLL.dll" "${VINSTALLDLL}"

  ${If} $ArgCheck = 1
    !insertmacro CallExport Chk4TELDAX
    Call UnloadLibrary
    FileClose $Log
    SetErrorLevel 0
    Quit
  ${EndIf}

  !insertmacro OnlyInstallationRunning

  ${If} $ArgPdf = 1
    !insertmacro SelectSection ${SecPdf}
  ${EndIf}
FunctionEnd

; The uninstaller takes what the setup program and the library put in place,
; all through RemoveLibraryFiles, which deletes each file through a handle on
; which it was checked to lie in C:\TELDAX, never by name: the product's
; files and shortcuts, the desktop shortcut that AfterInstall wrote, the
; release records, its own Uninstall.exe, then C:\TELDAX when it is empty;
; and the registration. It keeps the reporter's own data: C:\TELDAX\RC.DAT
; and the reporter's folder C:\<code> (and so C:\TELDAX itself). Its log is
; VelloranUninstall.log in the temporary folder (beside it, it would be left
; behind), or /LOG=, made new as the setup program's.
;
; Run in place (_?=C:\TELDAX), the uninstaller cannot delete its own file,
; nor rename it out of the way: NSIS reads its program file through a handle
; that it holds until the end and that shares reading only (myOpenFile and
; loadHeaders in NSIS's Source/exehead), so any open that asks to delete
; fails with a sharing violation (under Wine too: error 32). Nor does it ask
; Windows to delete C:\TELDAX\Uninstall.exe at the next restart: that name
; would be deleted whatever holds it then, and a reinstallation before the
; restart writes a new uninstaller there. Instead it starts a copy of itself
; from a folder of its own that only administrators and SYSTEM may change
; (see un.StartFinisher) with /FINISH=, a
; handle of this process, which the copy waits on before it hands
; Uninstall.exe to RemoveLibraryFiles. The copy inherits the handle of the
; Velloran setup mutex, so that the mutex exists until it has ended: a setup
; program started meanwhile ends with 1618 and writes nothing that the copy
; could delete. It writes into this log through an inherited handle
; (/LOGHANDLE=), after this program's last line.
Function un.onInit
  Call un.ReadArguments
  ${If} $ArgFinish != ""
    StrCpy $Log $ArgLogHandle
  ${Else}
    StrCpy $R1 "$TEMP\VelloranUninstall.log"
    Call un.MakeLog
    !insertmacro OnlyInstallationRunning
  ${EndIf}
  ; The library, as the setup program carries it.
  InitPluginsDir
  File "/oname=$PLUGINSDIR\VINSTALLDLL.dll" "${VINSTALLDLL}"
FunctionEnd

; RemoveLibraryFiles with the names in $1; its status lands in $0, its line
; in $3; both go into the log. Uses $2.
Function un.CallRemoveLibraryFiles
  StrCpy $2 0
  ${If} ${Silent}
    StrCpy $2 ${VINSTALL_SILENT}
  ${EndIf}
  System::Call "$PLUGINSDIR\VINSTALLDLL.dll::RemoveLibraryFiles(p $HWNDPARENT, m r1, i r2, m .r3, i 512) i .r0"
  ; The uninstaller's one call: unloaded at once (see UnloadLibrary).
  Call un.UnloadLibrary
  !insertmacro LogLine "RemoveLibraryFiles $0"
  !insertmacro LogLine "$3"
FunctionEnd

!ifdef AMD64
  !define STARTUPINFO_SIZE 104
  !define PROCESS_INFORMATION_SIZE 24
  ; SECURITY_ATTRIBUTES, and where its lpSecurityDescriptor lies
  !define SECURITY_ATTRIBUTES_SIZE 24
  !define SECURITY_DESCRIPTOR_OFFSET 8
!else
  !define STARTUPINFO_SIZE 68
  !define PROCESS_INFORMATION_SIZE 16
  !define SECURITY_ATTRIBUTES_SIZE 12
  !define SECURITY_DESCRIPTOR_OFFSET 4
!endif

; Starts the copy that deletes Uninstall.exe once this program has ended
; (see un.onInit). The handles it inherits: this process (SYNCHRONIZE only),
; the setup mutex and the log. Uses $0 to $7.
;
; The copy runs on after this program has ended, so its file cannot lie in
; this program's $PLUGINSDIR: NSIS deletes that folder as the program ends
; and has the restart delete what it cannot (myDelete with DEL_REBOOT in
; CleanUp, Source/exehead/Main.c), and a running program's file is one. So
; it goes into a folder of its own in the temporary folder, made new here
; (CreateDirectoryW fails when anything has that name) for administrators
; and SYSTEM only, with a protected DACL given at its creation
; ("D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", made a security descriptor by
; ConvertStringSecurityDescriptorToSecurityDescriptorW: Microsoft's pages of
; both). The last program to run cannot delete its own file, so that one
; copy stays there, and nothing is left for the restart.
Function un.StartFinisher
  System::Call 'kernel32::GetCurrentProcessId() i .r0'
  System::Call 'kernel32::GetTickCount() i .r1'
  StrCpy $7 "$TEMP\VelloranUninstall.$0-$1"
  ; SDDL_REVISION_1
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", i 1, *p .r2, p 0) i .r0 ?e'
  Pop $1
  ${If} $0 = 0
    !insertmacro LogLine "Uninstall.exe stays: no folder for the copy to delete it (error $1)"
    Return
  ${EndIf}
  System::Alloc ${SECURITY_ATTRIBUTES_SIZE}
  Pop $3
  System::Call '*$3(i ${SECURITY_ATTRIBUTES_SIZE})'
  IntPtrOp $4 $3 + ${SECURITY_DESCRIPTOR_OFFSET}
  System::Call '*$4(p r2)'
  System::Call 'kernel32::CreateDirectoryW(w r7, p r3) i .r0 ?e'
  Pop $1
  System::Free $3
  System::Call 'kernel32::LocalFree(p r2)'
  ${If} $0 = 0
    !insertmacro LogLine "Uninstall.exe stays: no folder for the copy to delete it (error $1)"
    Return
  ${EndIf}
  StrCpy $5 "$7\VelloranUninstallFinish.exe"
  System::Call 'kernel32::CopyFileW(w "$EXEPATH", w r5, i 1) i .r0 ?e'
  Pop $1
  ${If} $0 = 0
    !insertmacro LogLine "Uninstall.exe stays: no copy to delete it (error $1)"
    Return
  ${EndIf}
  ; GetCurrentProcess() is -1; SYNCHRONIZE, inheritable.
  System::Call 'kernel32::DuplicateHandle(p -1, p -1, p -1, *p .r2, i 0x100000, i 1, i 0) i .r0'
  ; HANDLE_FLAG_INHERIT
  System::Call 'kernel32::SetHandleInformation(p $SetupMutex, i 1, i 1)'
  System::Call 'kernel32::SetHandleInformation(p $Log, i 1, i 1)'
  StrCpy $6 '"$5" /S /FINISH=$2 /LOGHANDLE=$Log _?=${INSTALL_FOLDER}'
  System::Alloc ${STARTUPINFO_SIZE}
  Pop $3
  System::Call '*$3(i ${STARTUPINFO_SIZE})'
  System::Alloc ${PROCESS_INFORMATION_SIZE}
  Pop $4
  ; Inheriting handles; it starts in the temporary folder, not in C:\TELDAX,
  ; which it may remove.
  System::Call 'kernel32::CreateProcessW(p 0, w r6, p 0, p 0, i 1, i 0, p 0, w "$TEMP", p r3, p r4) i .r0 ?e'
  Pop $1
  ${If} $0 = 0
    !insertmacro LogLine "Uninstall.exe stays: the copy to delete it did not start (error $1)"
  ${Else}
    System::Call '*$4(p .r0, p .r1)'
    System::Call 'kernel32::CloseHandle(p r0)'
    System::Call 'kernel32::CloseHandle(p r1)'
    !insertmacro LogLine "Uninstall.exe is deleted when this program has ended"
  ${EndIf}
  System::Free $3
  System::Free $4
  System::Call 'kernel32::CloseHandle(p r2)'
FunctionEnd

; The copy's work: waits (at most a minute) until the uninstaller that
; started it has ended, then has Uninstall.exe deleted.
Function un.FinishRemoval
  System::Call 'kernel32::WaitForSingleObject(p $ArgFinish, i 60000) i .r0'
  ${If} $0 != 0
    FileWrite $Log "Uninstall.exe stays: the uninstaller had not ended within a minute$\r$\n"
    Return
  ${EndIf}
  StrCpy $1 "Uninstall.exe"
  Call un.CallRemoveLibraryFiles
FunctionEnd

Section "Uninstall"
  ${If} $ArgFinish != ""
    Call un.FinishRemoval
    FileClose $Log
    Return
  ${EndIf}
  !insertmacro LogLine "removing Velloran from ${INSTALL_FOLDER}"
  ; Run from C:\TELDAX (in place), Uninstall.exe is this program: its copy
  ; deletes it later. Otherwise NSIS runs a copy of it from the temporary
  ; folder, and it goes with the rest.
  StrCpy $1 "${PRODUCT_FILES}"
  StrCpy $R2 0
  ${If} $EXEDIR == "${INSTALL_FOLDER}"
    StrCpy $R2 1
  ${Else}
    StrCpy $1 "$1|Uninstall.exe"
  ${EndIf}
  Call un.CallRemoveLibraryFiles
  ${If} $0 == 0
    ; C:\TELDAX may not be deleted in: nothing was touched, and the
    ; product stays registered.
    FileWrite $Log "stopped$\r$\n"
    FileClose $Log
    SetErrorLevel 2
    Quit
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${If} $R2 = 1
    Call un.StartFinisher
  ${EndIf}
  !insertmacro LogLine "removed"
  FileClose $Log
SectionEnd
