; The Velloran setup program built with Inno Setup: VINSTALLDLL.dll called
; the way a first installation does, in the same order, with the same
; statuses honoured as in the NSIS one (VelloranSetup.nsi).
;
;   1. In PrepareToInstall, before any file is copied: ProtectInstallFolder,
;      which makes C:\TELDAX a folder that only administrators may change
;      (or refuses an existing one, status 0: Setup stops), then
;      BeforeInstallWithCode with the wizard's window, the reporter code
;      from the command line and the options the command line asks for.
;      Status 0 stops the setup (a C:\TELDAX made for it goes again), 1 and
;      2 go on.
;   2. The product's files and shortcuts are copied into C:\TELDAX, with
;      Inno Setup's uninstaller and a copy of the library for it.
;   3. In CurStepChanged(ssPostInstall): AfterInstall, then MLDInfo
;      (UpdateInfo when built with /DUPDATE_RELEASE), then InstallPDF when
;      /PDF is on the command line.
;   4. The uninstaller deletes what the library wrote (the desktop
;      Velloran.lnk, the release records) through RemoveLibraryFiles, then
;      removes what Setup installed; RC.DAT and C:\<code> stay. When the
;      library finds that C:\TELDAX may not be deleted in (a reparse point),
;      the uninstaller removes nothing and gives 1.
;
; Every export is declared in the code section by its plain name, with five
; 32-bit arguments and stdcall. Setup extracts the library from [Files] into
; its own temporary folder and keeps it loaded from one call to the next, as
; AfterInstall relies on what BeforeInstallWithCode recorded. Each status
; goes to a text file of "<export> <status>" lines (ProtectInstallFolder's
; and BeforeInstallWithCode's followed by the line each gave for the log),
; and to Inno Setup's own log (/LOG=).
;
; Command line (besides /SILENT or /VERYSILENT, with /SUPPRESSMSGBOXES):
;   /CODE=<code>      the reporter code, for a machine that has none stored
;                     yet; a different stored code stops the setup (exit
;                     code 7) unless /REPLACECODE is given; without a code a
;                     silent run, or one where nobody sees the screen, stops:
;                     nobody could type it
;   /REPLACECODE      a code given with /CODE= replaces a different stored one
;   /PDF              also start the PDF converter's installer (InstallPDF)
;   /CHECK            only show the no-update notice (Chk4TELDAX), install
;                     nothing
;   /DIR=<folder>     refused (exit code 7, and a line in the status log)
;                     unless it names C:\TELDAX: the library protects and
;                     writes that folder only, so the product cannot go
;                     elsewhere
;   /STATUSLOG=<path> where the status lines go; VelloranSetup.log beside
;                     the program by default (/LOG= is Inno Setup's own).
;                     The file is always made new: the name is deleted (a
;                     link or second name there goes, never what it leads
;                     to) and created anew without following a link; if
;                     something is at the name again, the lines go to
;                     <name>-<process id>-<n><extension> beside it, and Inno
;                     Setup's log says where.
; Exit codes:
;   0     installed
;   1     after /CHECK (Setup ends in InitializeSetup)
;   2     cancelled by the person: the reporter code dialog, or Inno
;         Setup's own Cancel before installing (5: during the copying)
;   7     failed, nothing installed: /DIR= named another folder than
;         C:\TELDAX, no reporter code where nobody can type
;         one, a code the name rules refuse, another code stored (without
;         /REPLACECODE), Windows refused, a required file missing, or
;         ProtectInstallFolder refused C:\TELDAX (Inno Setup's code for a
;         stop before installing)
;   1618  another Velloran setup program or uninstaller, or a Windows
;         Installer installation, is running: try again later
; The uninstaller (C:\TELDAX\unins000.exe, /SILENT or /VERYSILENT, with
; /SUPPRESSMSGBOXES) gives 0 when it has removed the product and 1
; otherwise, also while another installation runs: Inno Setup's uninstaller
; passes on no other code.
; Inno Setup itself can end only with its own codes (GetCustomSetupExitCode
; is asked only after a successful installation), and in a silent run it
; shows a message box for a stop on the Preparing to Install step unless
; /SUPPRESSMSGBOXES is given. So the script ends the process itself, with
; ExitProcess, for 1618 and 2, and for 7 in a silent run: nothing then
; waits for an answer, whatever the command line.
;
; Build defines (ISCC /D, paths of the build's files): VINSTALLDLL,
; VELL_EXE, PDF_SETUP_EXE, VELLORAN_ICO; optional UPDATE_RELEASE. The output
; folder and name come from ISCC's /O and /F. Inno Setup's setup programs
; are 32-bit, so they carry the 32-bit build of the library.

#if !defined(VINSTALLDLL) || !defined(VELL_EXE) || !defined(PDF_SETUP_EXE) || !defined(VELLORAN_ICO)
  #error Give the build's files with /DVINSTALLDLL= /DVELL_EXE= /DPDF_SETUP_EXE= /DVELLORAN_ICO=
#endif

[Setup]
; The uninstaller's registration is "<AppId>_is1" under the Uninstall key.
AppId={{90765B43-76C3-492E-89D2-21EEDD795AED}
AppName=Velloran
AppVerName=Velloran
AppVersion=1.0.0
AppPublisher=Velloran
DefaultDirName=C:\TELDAX
DisableDirPage=yes
DisableProgramGroupPage=yes
DirExistsWarning=no
UninstallDisplayIcon={app}\velloran.ico
PrivilegesRequired=admin
OutputBaseFilename=VelloranSetup
WizardStyle=modern

[Files]
; Not installed: extracted for Setup's calls ("files:") only.
Source: "{#VINSTALLDLL}"; Flags: dontcopy
; The uninstaller's copy: Inno Setup's uninstaller cannot extract ("files:"),
; so it loads the library from the folder it removes. That folder is the
; one ProtectInstallFolder left changeable by administrators only, where the
; uninstaller itself lies.
Source: "{#VINSTALLDLL}"; DestDir: "{app}"; DestName: "VINSTALLDLL.dll"; Flags: ignoreversion
Source: "{#VELL_EXE}"; DestDir: "{app}"; DestName: "vell.exe"; Flags: ignoreversion
Source: "{#VELLORAN_ICO}"; DestDir: "{app}"; DestName: "velloran.ico"; Flags: ignoreversion
Source: "{#PDF_SETUP_EXE}"; DestDir: "{app}"; DestName: "install.exe"; Flags: ignoreversion

[Icons]
; The sample product's shortcuts, each starting in C:\TELDAX. AfterInstall
; moves Velloran.lnk and Velloran Dictionary.lnk to the reporter's directory
; and leaves WinNT.lnk and User's Manual.lnk as they are.
Name: "{app}\Velloran"; Filename: "{app}\vell.exe"; WorkingDir: "{app}"; IconFilename: "{app}\velloran.ico"; IconIndex: 0; HotKey: "ctrl+alt+v"; Comment: "Velloran"
Name: "{app}\Velloran Dictionary"; Filename: "{app}\vell.exe"; Parameters: "/dictionary"; WorkingDir: "{app}"; IconFilename: "{app}\velloran.ico"; IconIndex: 0; Comment: "Velloran dictionary"
Name: "{app}\WinNT"; Filename: "{sys}\cmd.exe"; WorkingDir: "{app}"; IconFilename: "{sys}\cmd.exe"; IconIndex: 0; Comment: "Command prompt in the Velloran folder"
Name: "{app}\User's Manual"; Filename: "{app}\vell.exe"; Parameters: "/manual"; WorkingDir: "{app}"; IconFilename: "{app}\velloran.ico"; IconIndex: 0; Comment: "Velloran user's manual"

[Code]
// The library's six exports: the setup program's window, four arguments the
// library ignores (0), a status back.
function VBeforeInstall(Wnd: HWND; A, B, C, D: Integer): Integer;
  external 'BeforeInstall@files:VINSTALLDLL.dll stdcall';
function VAfterInstall(Wnd: HWND; A, B, C, D: Integer): Integer;
  external 'AfterInstall@files:VINSTALLDLL.dll stdcall';
function VMLDInfo(Wnd: HWND; A, B, C, D: Integer): Integer;
  external 'MLDInfo@files:VINSTALLDLL.dll stdcall';
function VUpdateInfo(Wnd: HWND; A, B, C, D: Integer): Integer;
  external 'UpdateInfo@files:VINSTALLDLL.dll stdcall';
function VInstallPDF(Wnd: HWND; A, B, C, D: Integer): Integer;
  external 'InstallPDF@files:VINSTALLDLL.dll stdcall';
function VChk4TELDAX(Wnd: HWND; A, B, C, D: Integer): Integer;
  external 'Chk4TELDAX@files:VINSTALLDLL.dll stdcall';
// BeforeInstall with the reporter code from the command line (or ''), the
// options and a buffer of Size bytes for one log line.
function VBeforeInstallWithCode(Wnd: HWND; Code: AnsiString; Options: Integer; Msg: AnsiString;
  Size: Integer): Integer;
  external 'BeforeInstallWithCode@files:VINSTALLDLL.dll stdcall';
// C:\TELDAX made, or checked and protected on a handle, so that only
// administrators may change it; the second argument is reserved (0).
function VProtectInstallFolder(Wnd: HWND; Reserved: Integer; Options: Integer; Msg: AnsiString;
  Size: Integer): Integer;
  external 'ProtectInstallFolder@files:VINSTALLDLL.dll stdcall';
// The uninstaller's call, from the copy in C:\TELDAX: loaded at the call
// ("delayload"), so that an uninstaller that finds no library still runs
// and removes the rest; never during Setup ("uninstallonly"), where {app}
// is not known when the script starts.
function VRemoveLibraryFiles(Wnd: HWND; Files: AnsiString; Options: Integer; Msg: AnsiString;
  Size: Integer): Integer;
  external 'RemoveLibraryFiles@{app}\VINSTALLDLL.dll stdcall uninstallonly delayload';

// The status log, written through the handle it was made with; the setup
// program's mutex; ending the process with a code of the script's choice.
function WinCreateFile(Path: String; Access, Share, Security, Disposition, Flags, Template: Cardinal): Integer;
  external 'CreateFileW@kernel32.dll stdcall';
function WinWriteFile(Handle: Integer; Bytes: AnsiString; Count: Integer; var Written: Integer;
  Overlapped: Integer): Integer;
  external 'WriteFile@kernel32.dll stdcall';
function WinDeleteFile(Path: String): Integer;
  external 'DeleteFileW@kernel32.dll stdcall';
function WinGetCurrentProcessId: Integer;
  external 'GetCurrentProcessId@kernel32.dll stdcall';
function WinCloseHandle(Handle: Integer): Integer;
  external 'CloseHandle@kernel32.dll stdcall';
function WinCreateMutex(Attributes: Cardinal; InitialOwner: Integer; Name: String): Cardinal;
  external 'CreateMutexW@kernel32.dll stdcall';
function WinOpenMutex(Access: Cardinal; Inherit: Integer; Name: String): Integer;
  external 'OpenMutexW@kernel32.dll stdcall';
procedure WinExitProcess(ExitCode: Cardinal);
  external 'ExitProcess@kernel32.dll stdcall';

const
  InstallFolder = 'C:\TELDAX';
  // CreateFileW: GENERIC_WRITE; FILE_SHARE_READ; CREATE_NEW (fails when
  // anything is at the name); FILE_ATTRIBUTE_NORMAL |
  // FILE_FLAG_OPEN_REPARSE_POINT (a link at the name is not followed).
  NewFileAccess = $40000000;
  NewFileShare = 1;
  NewFileDisposition = 1;
  NewFileFlags = $00200080;
  // Held by every Velloran setup program and uninstaller (the NSIS ones too).
  SetupMutex = 'Global\VelloranSetup';
  // Held by Windows Installer while it runs an installation.
  WindowsInstallerMutex = 'Global\_MSIExecute';
  Synchronize = $100000;
  ErrorAlreadyExists = 183;
  // The options of ProtectInstallFolder, BeforeInstallWithCode and
  // RemoveLibraryFiles. VINSTALL_SILENT: the library shows no window.
  VinstallSilent = 1;
  // VINSTALL_REPLACE_CODE: a given code replaces a different stored one.
  VinstallReplaceCode = 4;
  // VINSTALL_SAME_CODE: a given code that differs from the stored one stops.
  VinstallSameCode = 8;
  // BeforeInstallWithCode's fixed lines for status 0 (the last one begins
  // the line, which goes on with both codes).
  NoCodeLine = 'no reporter code';
  CancelledLine = 'cancelled at the reporter code dialog';
  OtherCodeLine = 'another reporter code is stored';
  ExitCancelled = 2;
  ExitFailed = 7;
  ExitBusy = 1618;

var
  StatusLog: String;
  StatusLogHandle: Integer;
  StatusLogOpen: Boolean;
  MadeInstallFolder: Boolean;
  BeforeInstallCalled: Boolean;
  StopMessage: String;

// A file made new at Path, not through a link at that name: the handle, or
// -1 when anything is at the name (or it cannot be made).
function CreateNewFile(const Path: String): Integer;
begin
  Result := WinCreateFile(Path, NewFileAccess, NewFileShare, 0, NewFileDisposition, NewFileFlags, 0);
end;

// The status log, made new: the name is deleted first (DeleteFileW removes
// a symbolic link or one name of a hard-linked file, never what it leads
// to), then created with CREATE_NEW, which fails rather than open what is
// there. Setup runs as an administrator or SYSTEM, and the log's folder
// (beside the program, by default) may be one that ordinary users can
// write: what someone put at the name is never written through. When
// something is at the name again, a name of this process's own beside it.
procedure OpenStatusLog;
var
  Wanted, Extension, Base: String;
  I: Integer;
begin
  Wanted := StatusLog;
  WinDeleteFile(Wanted);
  StatusLogHandle := CreateNewFile(Wanted);
  Extension := ExtractFileExt(Wanted);
  Base := Copy(Wanted, 1, Length(Wanted) - Length(Extension)) + '-' + IntToStr(WinGetCurrentProcessId) + '-';
  I := 0;
  while (StatusLogHandle = -1) and (I < 10) do begin
    StatusLog := Base + IntToStr(I) + Extension;
    StatusLogHandle := CreateNewFile(StatusLog);
    I := I + 1;
  end;
  StatusLogOpen := StatusLogHandle <> -1;
  if not StatusLogOpen then
    Log('Status log: ' + Wanted + ' cannot be made new, nor a name beside it: no status log')
  else if StatusLog <> Wanted then
    Log('Status log: ' + Wanted + ' cannot be made new (something is at that name): the status lines go to ' +
      StatusLog)
  else
    Log('Status log: ' + StatusLog);
end;

procedure LogLine(const Line: String);
var
  Bytes: AnsiString;
  Written: Integer;
begin
  Log(Line);
  if StatusLogOpen then begin
    Bytes := Line + #13#10;
    WinWriteFile(StatusLogHandle, Bytes, Length(Bytes), Written, 0);
  end;
end;

// Logs an export's status and hands it on.
function Logged(const Name: String; Status: Integer): Integer;
begin
  LogLine(Name + ' ' + IntToStr(Status));
  Result := Status;
end;

function HasParam(const Name: String): Boolean;
var
  I: Integer;
begin
  Result := False;
  for I := 1 to ParamCount do
    if CompareText(ParamStr(I), Name) = 0 then
      Result := True;
end;

// The line the library wrote into a buffer, up to the zero that ends it.
function LibraryLine(const Buffer: AnsiString): AnsiString;
var
  Ends: Integer;
begin
  Ends := Pos(#0, Buffer);
  if Ends > 0 then
    Result := Copy(Buffer, 1, Ends - 1)
  else
    Result := Buffer;
end;

// '' when no other setup program or uninstaller of Velloran runs, nor a
// Windows Installer installation; else why not. The mutex made here is held
// until the process ends.
function OtherInstallation: String;
var
  Held: Integer;
begin
  Result := '';
  if (WinCreateMutex(0, 0, SetupMutex) <> 0) and (DLLGetLastError = ErrorAlreadyExists) then
    Result := 'another Velloran setup program or uninstaller is running: try again later'
  else begin
    Held := WinOpenMutex(Synchronize, 0, WindowsInstallerMutex);
    if Held <> 0 then begin
      WinCloseHandle(Held);
      Result := 'a Windows Installer installation is running: try again later';
    end;
  end;
end;

// Ends Setup with ExitCode at once, as it would end on its own way out: the
// library unloaded and Setup's temporary folder removed (first out of it,
// as a current directory cannot be removed).
procedure EndSetup(ExitCode: Integer);
begin
  Log('Setup ends with exit code ' + IntToStr(ExitCode));
  UnloadDLL(ExpandConstant('{tmp}\VINSTALLDLL.dll'));
  SetCurrentDir(ExpandConstant('{win}'));
  DelTree(ExpandConstant('{tmp}'), True, True, True);
  WinExitProcess(ExitCode);
end;

// The folder that a "/DIR=<folder>" argument names (without the quotes
// that Inno Setup's help shows around it), or '' when none is given; the
// last one counts.
function DirParam: String;
var
  I: Integer;
begin
  Result := '';
  for I := 1 to ParamCount do
    if CompareText(Copy(ParamStr(I), 1, 5), '/DIR=') = 0 then
      Result := RemoveQuotes(Copy(ParamStr(I), 6, Length(ParamStr(I)) - 5));
end;

function InitializeSetup(): Boolean;
var
  Busy, Dir: String;
begin
  StatusLog := ExpandConstant('{param:STATUSLOG|}');
  if StatusLog = '' then
    StatusLog := ExpandConstant('{src}') + '\VelloranSetup.log';
  OpenStatusLog;
  // The library protects and writes C:\TELDAX only. "/DIR=" "Overrides the
  // default directory name" (Inno Setup's help, "Setup Command Line
  // Parameters"), DefaultDirName, and Inno Setup 6's help no longer says
  // that DisableDirPage=yes makes it ignored: so a /DIR= naming another
  // folder refuses the run here, before anything is written, rather than
  // put the product where the library does not protect it.
  Dir := DirParam;
  if (Dir <> '') and (CompareText(RemoveBackslashUnlessRoot(Dir), InstallFolder) <> 0) then begin
    LogLine('/DIR=' + Dir + ' refused: Velloran installs into ' + InstallFolder + ' only: run without /DIR=');
    LogLine('stopped');
    EndSetup(ExitFailed);
  end;
  Result := True;
  if HasParam('/CHECK') then begin
    // No wizard yet: the notice has no owner window.
    Logged('Chk4TELDAX', VChk4TELDAX(0, 0, 0, 0, 0));
    Result := False;
    Exit;
  end;
  Busy := OtherInstallation;
  if Busy <> '' then begin
    LogLine(Busy);
    EndSetup(ExitBusy);
  end;
end;

// The library's options for a call in this run: no window of the library
// in a silent run.
function SilentOption: Integer;
begin
  Result := 0;
  if WizardSilent then
    Result := VinstallSilent;
end;

// ProtectInstallFolder: C:\TELDAX made (2), or an existing one checked and
// protected on a handle (1), or refused (0), before the library or Setup
// writes there: both write there, and InstallPDF starts install.exe from
// there, with this program's administrator rights. Its status and its line
// go into the log, the line also to Line. Where windows may be shown the
// library also shows a refusal in a message box.
function ProtectInstallFolder(var Line: AnsiString): Integer;
var
  Options: Integer;
begin
  Options := SilentOption;
  // A buffer of 512 bytes, which always holds the line; the library writes
  // into it and terminates it.
  SetLength(Line, 512);
  Result := Logged('ProtectInstallFolder', VProtectInstallFolder(WizardForm.Handle, 0, Options, Line, 512));
  Line := LibraryLine(Line);
  LogLine(Line);
end;

// BeforeInstallWithCode with the code from the command line ('' for none);
// a given code replaces a different stored one with /REPLACECODE, and stops
// the setup without it. Its status and its line go into the log, the line
// also to Line.
function BeforeInstallWithCode(var Line: AnsiString): Integer;
var
  Code: String;
  Options: Integer;
begin
  Code := ExpandConstant('{param:CODE|}');
  Options := SilentOption;
  if HasParam('/REPLACECODE') then
    Options := Options or VinstallReplaceCode
  else if Code <> '' then
    Options := Options or VinstallSameCode;
  SetLength(Line, 512);
  Result := Logged('BeforeInstallWithCode', VBeforeInstallWithCode(WizardForm.Handle, Code, Options, Line, 512));
  Line := LibraryLine(Line);
  // What to pass, for whoever reads the log.
  if Line = NoCodeLine then
    LogLine(NoCodeLine + ': run with /CODE=<code>')
  else if Pos(OtherCodeLine, Line) = 1 then
    LogLine(Line + ': run with /REPLACECODE to replace it')
  else
    LogLine(Line);
end;

// Stops before anything is installed, with ExitCode: at once when the
// person cancelled, or in a silent run (where Inno Setup would otherwise
// show Message in a box unless /SUPPRESSMSGBOXES is given); otherwise
// Message is shown on the Preparing to Install page, and Setup ends with 7.
function Stop(const Message: String; ExitCode: Integer): String;
begin
  Result := Message;
  if WizardSilent or (ExitCode <> ExitFailed) then
    EndSetup(ExitCode);
end;

// After the Ready page, before anything is installed: a non-empty result
// stops the setup here. After a stop the wizard still offers Back, and
// Install again calls this once more: the library is not called twice, and
// the stop stands.
function PrepareToInstall(var NeedsRestart: Boolean): String;
var
  Line: AnsiString;
  Status: Integer;
begin
  Result := StopMessage;
  if BeforeInstallCalled then
    Exit;
  BeforeInstallCalled := True;
  Status := ProtectInstallFolder(Line);
  if Status = 0 then begin
    LogLine('stopped');
    StopMessage := Stop('Setup stopped: ' + Line, ExitFailed);
    Result := StopMessage;
    Exit;
  end;
  MadeInstallFolder := Status = 2;
  if BeforeInstallWithCode(Line) = 0 then begin
    // A stop installs nothing: the folder made for it goes again (when
    // empty; first out of it, as a current directory cannot be removed).
    if MadeInstallFolder then begin
      SetCurrentDir(ExpandConstant('{tmp}'));
      RemoveDir(InstallFolder);
    end;
    LogLine('stopped');
    if Line = CancelledLine then
      StopMessage := Stop('Setup stopped: nothing was installed.', ExitCancelled)
    else
      StopMessage := Stop('Setup stopped: ' + Line, ExitFailed);
    Result := StopMessage;
  end;
end;

// The uninstaller runs beside no other installation either, and then
// removes nothing; it says why in Inno Setup's own log (/LOG=). Its exit
// code is 1 then: the uninstaller that was started (the "first phase")
// reports only whether the copy of itself that does the work finished, 0
// or 1, whatever that copy's own exit code.
function InitializeUninstall(): Boolean;
var
  Busy: String;
begin
  Busy := OtherInstallation;
  Result := Busy = '';
  if not Result then
    Log(Busy);
end;

procedure CurStepChanged(CurStep: TSetupStep);
begin
  if CurStep <> ssPostInstall then
    Exit;
  Logged('AfterInstall', VAfterInstall(WizardForm.Handle, 0, 0, 0, 0));
#ifdef UPDATE_RELEASE
  Logged('UpdateInfo', VUpdateInfo(WizardForm.Handle, 0, 0, 0, 0));
#else
  Logged('MLDInfo', VMLDInfo(WizardForm.Handle, 0, 0, 0, 0));
#endif
  if HasParam('/PDF') then
    Logged('InstallPDF', VInstallPDF(WizardForm.Handle, 0, 0, 0, 0));
  LogLine('completed');
end;

// Just before the uninstaller removes what Setup installed: what the
// library wrote that Inno Setup does not know (the desktop Velloran.lnk,
// the release records) goes through RemoveLibraryFiles, each file through a
// handle on which it was checked to lie in its folder. Setup's own files
// are left to the uninstaller (files ''): it removes them from C:\TELDAX,
// which only administrators may change. The library is then unloaded so
// that the uninstaller can delete its copy. Status and line go to Inno
// Setup's own log (/LOG=). Status 0 says that C:\TELDAX may not be deleted
// in (a reparse point, not a folder): the uninstaller, which deletes its
// files there by name, then stops and removes nothing (Abort, which ends
// the uninstaller from here without a message; exit code 1). A library
// that cannot be loaded is said in the log, and the rest is still removed.
procedure CurUninstallStepChanged(CurUninstallStep: TUninstallStep);
var
  Line: AnsiString;
  Options, Status: Integer;
begin
  if CurUninstallStep <> usUninstall then
    Exit;
  Options := 0;
  if UninstallSilent then
    Options := VinstallSilent;
  SetLength(Line, 512);
  Status := -1;
  try
    Status := VRemoveLibraryFiles(0, '', Options, Line, 512);
  except
    Log('RemoveLibraryFiles not called: ' + GetExceptionMessage);
  end;
  UnloadDLL(ExpandConstant('{app}\VINSTALLDLL.dll'));
  if Status <> -1 then begin
    Log('RemoveLibraryFiles ' + IntToStr(Status));
    Log(LibraryLine(Line));
  end;
  if Status = 0 then begin
    Log(InstallFolder + ' may not be deleted in: nothing removed');
    Abort;
  end;
end;
