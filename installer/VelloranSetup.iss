; The Velloran setup program built with Inno Setup: VINSTALLDLL.dll called
; the way a first installation does, in the same order, with the same
; statuses honoured as in the NSIS one (VelloranSetup.nsi).
;
;   1. C:\TELDAX made writable by administrators only (an existing one not
;      owned by an administrator stops the setup), then
;      BeforeInstallWithCode with the wizard's window, the reporter code
;      from the command line and whether the run is silent, both in
;      PrepareToInstall, before any file is copied. Status 0 stops the setup
;      (the folder made for it goes again), 1 and 2 go on.
;   2. The product's files and shortcuts are copied into C:\TELDAX, with
;      Inno Setup's uninstaller.
;   3. In CurStepChanged(ssPostInstall): AfterInstall, then MLDInfo
;      (UpdateInfo when built with /DUPDATE_RELEASE), then InstallPDF when
;      /PDF is on the command line.
;
; Every export is declared in [Code] by its plain name, with five 32-bit
; arguments and stdcall. Setup extracts the library from [Files] into its
; own temporary folder and keeps it loaded from one call to the next, as
; AfterInstall relies on what BeforeInstallWithCode recorded. Each status
; goes to a text file of "<export> <status>" lines (BeforeInstallWithCode's
; followed by the line it gave for the log), after a line that says what
; became of C:\TELDAX's DACL, and to Inno Setup's own log (/LOG=).
;
; Command line (besides /SILENT or /VERYSILENT):
;   /CODE=<code>      the reporter code, for a machine that has none stored
;                     yet (a stored one is kept); without it a silent run,
;                     or one where nobody sees the screen, stops: nobody
;                     could type it
;   /PDF              also start the PDF converter's installer (InstallPDF)
;   /CHECK            only show the no-update notice (Chk4TELDAX), install
;                     nothing
;   /STATUSLOG=<path> where the status lines go; VelloranSetup.log beside
;                     the program by default (/LOG= is Inno Setup's own)
; Exit codes:
;   0     installed
;   1     after /CHECK (Setup ends in InitializeSetup)
;   2     cancelled by the person: the reporter code dialog, or Inno
;         Setup's own Cancel before installing (5: during the copying)
;   7     failed, nothing installed: no reporter code where nobody can type
;         one, a code the name rules refuse, Windows refused, a required
;         file missing, or C:\TELDAX exists and is not owned by an
;         administrator (Inno Setup's code for a stop before installing)
;   1618  another Velloran setup program or uninstaller, or a Windows
;         Installer installation, is running: try again later
; The uninstaller (C:\TELDAX\unins000.exe, /SILENT or /VERYSILENT) gives 0
; when it has removed the product and 1 otherwise, also while another
; installation runs: Inno Setup's uninstaller passes on no other code.
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
; Not installed: extracted for the calls in [Code] only.
Source: "{#VINSTALLDLL}"; Flags: dontcopy
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

[UninstallDelete]
; What the library wrote: the desktop shortcut and the release records. The
; reporter's own data, C:\TELDAX\RC.DAT and C:\<code>, stay.
Type: files; Name: "{commondesktop}\Velloran.lnk"
Type: files; Name: "{app}\Update.txt"
Type: files; Name: "{app}\UpdName.txt"
Type: files; Name: "{app}\UpdDetails.txt"

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
// options (1: silent) and a buffer of Size bytes for one log line.
function VBeforeInstallWithCode(Wnd: HWND; Code: AnsiString; Options: Integer; Msg: AnsiString;
  Size: Integer): Integer;
  external 'BeforeInstallWithCode@files:VINSTALLDLL.dll stdcall';

// What making C:\TELDAX safe needs of the platform. Setup is a 32-bit
// program: a pointer fits a Cardinal.
type
  TSecurityAttributes = record
    nLength: Cardinal;
    lpSecurityDescriptor: Cardinal;
    bInheritHandle: Integer;
  end;

function WinConvertSddl(Sddl: String; Revision: Cardinal; var Descriptor: Cardinal; Size: Cardinal): Integer;
  external 'ConvertStringSecurityDescriptorToSecurityDescriptorW@advapi32.dll stdcall';
function WinCreateDirectory(Path: String; var Attributes: TSecurityAttributes): Integer;
  external 'CreateDirectoryW@kernel32.dll stdcall';
function WinGetFileAttributes(Path: String): Integer;
  external 'GetFileAttributesW@kernel32.dll stdcall';
function WinSetFileSecurity(Path: String; Information: Cardinal; Descriptor: Cardinal): Integer;
  external 'SetFileSecurityW@advapi32.dll stdcall';
function WinLocalFree(Memory: Cardinal): Cardinal;
  external 'LocalFree@kernel32.dll stdcall';

// What reading C:\TELDAX's owner and this program's user needs.
type
  TTokenUserBuffer = record
    Sid: Cardinal;
    Attributes: Cardinal;
    Rest: array[0..125] of Cardinal;
  end;

function WinCreateFile(Path: String; Access, Share, Security, Disposition, Flags, Template: Cardinal): Integer;
  external 'CreateFileW@kernel32.dll stdcall';
function WinCloseHandle(Handle: Integer): Integer;
  external 'CloseHandle@kernel32.dll stdcall';
function WinGetSecurityInfo(Handle: Integer; ObjectType, Information: Cardinal; var Owner: Cardinal;
  Group, Dacl, Sacl: Cardinal; var Descriptor: Cardinal): Cardinal;
  external 'GetSecurityInfo@advapi32.dll stdcall';
function WinSidToText(Sid: Cardinal; var Text: Cardinal): Integer;
  external 'ConvertSidToStringSidW@advapi32.dll stdcall';
function WinTextToSid(Text: String; var Sid: Cardinal): Integer;
  external 'ConvertStringSidToSidW@advapi32.dll stdcall';
function WinCopyText(Target: String; Source: Cardinal; Length: Integer): Cardinal;
  external 'lstrcpynW@kernel32.dll stdcall';
function WinCheckTokenMembership(Token, Sid: Cardinal; var IsMember: Integer): Integer;
  external 'CheckTokenMembership@advapi32.dll stdcall';
function WinOpenProcessToken(Process: Integer; Access: Cardinal; var Token: Integer): Integer;
  external 'OpenProcessToken@advapi32.dll stdcall';
function WinGetTokenInformation(Token: Integer; InformationClass: Cardinal; var Information: TTokenUserBuffer;
  Length: Cardinal; var ReturnLength: Cardinal): Integer;
  external 'GetTokenInformation@advapi32.dll stdcall';
function WinMessageBox(Wnd: HWND; Text, Caption: String; Flags: Cardinal): Integer;
  external 'MessageBoxW@user32.dll stdcall';

// Held while Setup or the uninstaller runs; ending the process with a code
// of the script's choice.
function WinCreateMutex(Attributes: Cardinal; InitialOwner: Integer; Name: String): Cardinal;
  external 'CreateMutexW@kernel32.dll stdcall';
function WinOpenMutex(Access: Cardinal; Inherit: Integer; Name: String): Integer;
  external 'OpenMutexW@kernel32.dll stdcall';
procedure WinExitProcess(ExitCode: Cardinal);
  external 'ExitProcess@kernel32.dll stdcall';

const
  InstallFolder = 'C:\TELDAX';
  // SYSTEM and Administrators full control, Users read and execute, nothing
  // inherited from C:\ ("P").
  InstallFolderDacl = 'D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)';
  SddlRevision1 = 1;
  DaclSecurityInformation = 4;
  FileAttributeReparsePoint = $400;
  TrustedInstallerSid = 'S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464';
  // Held by every Velloran setup program and uninstaller (the NSIS ones too).
  SetupMutex = 'Global\VelloranSetup';
  // Held by Windows Installer while it runs an installation.
  WindowsInstallerMutex = 'Global\_MSIExecute';
  Synchronize = $100000;
  ErrorAlreadyExists = 183;
  // VINSTALL_SILENT: the library shows no window in the call.
  VinstallSilent = 1;
  // BeforeInstallWithCode's fixed lines for status 0.
  NoCodeLine = 'no reporter code';
  CancelledLine = 'cancelled at the reporter code dialog';
  ExitCancelled = 2;
  ExitFailed = 7;
  ExitBusy = 1618;

var
  StatusLog: String;
  MadeInstallFolder: Boolean;
  BeforeInstallCalled: Boolean;

procedure LogLine(const Line: String);
begin
  Log(Line);
  SaveStringToFile(StatusLog, Line + #13#10, True);
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

// The text of a LocalAlloc'd SID string, which it frees.
function TakeText(Address: Cardinal): String;
var
  Buffer: String;
  Ends: Integer;
begin
  SetLength(Buffer, 256);
  WinCopyText(Buffer, Address, 256);
  WinLocalFree(Address);
  Ends := Pos(#0, Buffer);
  if Ends > 0 then
    Result := Copy(Buffer, 1, Ends - 1)
  else
    Result := Buffer;
end;

// The owner of C:\TELDAX itself, not of what a link there leads to, as a SID
// text ('' when it cannot be read).
function InstallFolderOwner: String;
var
  Handle: Integer;
  Owner, Descriptor, Text: Cardinal;
begin
  Result := '';
  // READ_CONTROL; any sharing; OPEN_EXISTING;
  // FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT
  Handle := WinCreateFile(InstallFolder, $20000, 7, 0, 3, $02200000, 0);
  if Handle = -1 then
    Exit;
  // SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION
  if WinGetSecurityInfo(Handle, 1, 1, Owner, 0, 0, 0, Descriptor) = 0 then begin
    if WinSidToText(Owner, Text) <> 0 then
      Result := TakeText(Text);
    WinLocalFree(Descriptor);
  end;
  WinCloseHandle(Handle);
end;

// The user this program runs as, as a SID text, when its token is in
// Administrators (an administrator's folders are often owned by that user);
// '' otherwise.
function OwnAdministrator: String;
var
  Administrators, Needed, Text: Cardinal;
  IsMember, Token: Integer;
  User: TTokenUserBuffer;
begin
  Result := '';
  if WinTextToSid('S-1-5-32-544', Administrators) = 0 then
    Exit;
  IsMember := 0;
  if WinCheckTokenMembership(0, Administrators, IsMember) = 0 then
    IsMember := 0;
  WinLocalFree(Administrators);
  if IsMember = 0 then
    Exit;
  // TOKEN_QUERY of this process (-1); TokenUser, whose first field points
  // at the SID.
  if WinOpenProcessToken(-1, 8, Token) = 0 then
    Exit;
  if WinGetTokenInformation(Token, 1, User, 512, Needed) <> 0 then
    if WinSidToText(User.Sid, Text) <> 0 then
      Result := TakeText(Text);
  WinCloseHandle(Token);
end;

// An existing C:\TELDAX that SYSTEM, Administrators, TrustedInstaller or this
// administrator does not own stops the setup before anything is written:
// its owner could change whatever this program puts there (an owner may
// always rewrite the DACL) and plant a program or DLL that then runs with
// administrator rights. Taking the folder over would not close that: what
// its owner opened before keeps its access, and setting owner and DACL on
// what is inside would follow the links its owner put there. An
// administrator has to look at it first.
function OwnedByAdministrators: Boolean;
var
  Owner: String;
begin
  Result := True;
  Owner := InstallFolderOwner;
  if (Owner = 'S-1-5-18') or (Owner = 'S-1-5-32-544') or (Owner = TrustedInstallerSid) then
    Exit;
  if Owner <> '' then
    if Owner = OwnAdministrator then
      Exit;
  Result := False;
  if Owner = '' then
    Owner := 'unknown';
  LogLine(InstallFolder + ' is owned by ' + Owner + ', not by an administrator: nothing installed');
  // Titled like the library's messages; none in a silent run.
  if not WizardSilent then
    WinMessageBox(WizardForm.Handle, 'The folder C:\TELDAX already exists, and its owner (' + Owner +
      ') is not an administrator.' + #10#10 + 'Whoever owns it could change the programs that Setup ' +
      'puts there, which run with administrator rights. Setup has stopped and changed nothing.' + #10#10 +
      'An administrator should look at what the folder holds, then delete it or make Administrators ' +
      'its owner, and run Setup again.', 'Velloran - Install Folder', $10);
  LogLine('stopped');
end;

// C:\TELDAX before the library sees it: a folder that ordinary users cannot
// write. The library writes there, and InstallPDF starts install.exe from
// there, with this program's administrator rights; a folder made at C:\
// would inherit the drive's "Authenticated Users: Modify" and let any user
// put files in its way. An existing folder must be owned by an
// administrator (see above; False: the setup stops); it gets the same DACL,
// unless it is a reparse point: its DACL would land on the folder it leads
// to (the library writes nothing through such a folder).
function ProtectInstallFolder: Boolean;
var
  Descriptor: Cardinal;
  Attributes: TSecurityAttributes;
  Existing: Integer;
begin
  Result := True;
  MadeInstallFolder := False;
  Descriptor := 0;
  if WinConvertSddl(InstallFolderDacl, SddlRevision1, Descriptor, 0) = 0 then begin
    LogLine(InstallFolder + ': no security descriptor, the folder is left as it is');
    Exit;
  end;
  Attributes.nLength := 12;
  Attributes.lpSecurityDescriptor := Descriptor;
  Attributes.bInheritHandle := 0;
  if WinCreateDirectory(InstallFolder, Attributes) <> 0 then begin
    MadeInstallFolder := True;
    LogLine(InstallFolder + ' made, writable by administrators only');
  end else begin
    Existing := WinGetFileAttributes(InstallFolder);
    if Existing <> -1 then
      if not OwnedByAdministrators then begin
        WinLocalFree(Descriptor);
        Result := False;
        Exit;
      end;
    if Existing = -1 then
      LogLine(InstallFolder + ' cannot be made')
    else if (Existing and FileAttributeReparsePoint) <> 0 then
      LogLine(InstallFolder + ' is a reparse point: its DACL is left as it is')
    else
      LogLine(InstallFolder + ' existed: DACL set (' +
        IntToStr(WinSetFileSecurity(InstallFolder, DaclSecurityInformation, Descriptor)) + ')');
  end;
  WinLocalFree(Descriptor);
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

function InitializeSetup(): Boolean;
var
  Busy: String;
begin
  StatusLog := ExpandConstant('{param:STATUSLOG|}');
  if StatusLog = '' then
    StatusLog := ExpandConstant('{src}') + '\VelloranSetup.log';
  SaveStringToFile(StatusLog, '', False);
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

// BeforeInstallWithCode with the code from the command line ('' for none)
// and whether the run is silent; its status and its line go into the log,
// the line also to Line.
function BeforeInstallWithCode(var Line: AnsiString): Integer;
var
  Options, Ends: Integer;
begin
  Options := 0;
  if WizardSilent then
    Options := VinstallSilent;
  // A buffer of 512 bytes, which always holds the line; the library writes
  // into it and terminates it.
  SetLength(Line, 512);
  Result := Logged('BeforeInstallWithCode', VBeforeInstallWithCode(WizardForm.Handle,
    ExpandConstant('{param:CODE|}'), Options, Line, 512));
  Ends := Pos(#0, Line);
  if Ends > 0 then
    Line := Copy(Line, 1, Ends - 1);
  if Line = NoCodeLine then
    // Nobody could be asked: what to pass, for whoever reads the log.
    LogLine(NoCodeLine + ': run with /CODE=<code>')
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
// stops the setup here.
function PrepareToInstall(var NeedsRestart: Boolean): String;
var
  Line: AnsiString;
begin
  Result := '';
  if BeforeInstallCalled then
    Exit;
  BeforeInstallCalled := True;
  if not ProtectInstallFolder then begin
    Result := Stop('Setup stopped: C:\TELDAX is not owned by an administrator; nothing was installed.', ExitFailed);
    Exit;
  end;
  if BeforeInstallWithCode(Line) = 0 then begin
    // A stop installs nothing: the folder made for it goes again (when
    // empty; first out of it, as a current directory cannot be removed).
    if MadeInstallFolder then begin
      SetCurrentDir(ExpandConstant('{tmp}'));
      RemoveDir(InstallFolder);
    end;
    LogLine('stopped');
    if Line = CancelledLine then
      Result := Stop('Setup stopped: nothing was installed.', ExitCancelled)
    else
      Result := Stop('Setup stopped: ' + Line, ExitFailed);
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
