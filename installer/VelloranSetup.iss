; The Velloran setup program built with Inno Setup: VINSTALLDLL.dll called
; the way a first installation does, in the same order, with the same
; statuses honoured as in the NSIS one (VelloranSetup.nsi).
;
;   1. C:\TELDAX made writable by administrators only, then BeforeInstall
;      with the wizard's window, both in PrepareToInstall, before any file is
;      copied. Status 0 stops the setup (the folder made for it goes again),
;      1 and 2 go on.
;   2. The product's files and shortcuts are copied into C:\TELDAX.
;   3. In CurStepChanged(ssPostInstall): AfterInstall, then MLDInfo
;      (UpdateInfo when built with /DUPDATE_RELEASE), then InstallPDF when
;      /PDF is on the command line.
;
; Every export is declared in [Code] by its plain name, with five 32-bit
; arguments and stdcall. Setup extracts the library from [Files] into its
; own temporary folder and keeps it loaded from one call to the next, as
; AfterInstall relies on what BeforeInstall recorded. Each status goes to a
; text file of "<export> <status>" lines, after a line that says what became
; of C:\TELDAX's DACL, and to Inno Setup's own log (/LOG=).
;
; Command line (besides /SILENT or /VERYSILENT, and /SUPPRESSMSGBOXES):
;   /PDF              also start the PDF converter's installer (InstallPDF)
;   /CHECK            only show the no-update notice (Chk4TELDAX), install
;                     nothing
;   /STATUSLOG=<path> where the status lines go; VelloranSetup.log beside
;                     the program by default (/LOG= is Inno Setup's own)
; Exit codes: 0 installed; 7 stopped by BeforeInstall (Inno Setup's code for
; a stop on the Preparing to Install step); 1 after /CHECK (Setup ends in
; InitializeSetup).
;
; Build defines (ISCC /D, paths of the build's files): VINSTALLDLL,
; VELL_EXE, PDF_SETUP_EXE, VELLORAN_ICO; optional UPDATE_RELEASE. The output
; folder and name come from ISCC's /O and /F. Inno Setup's setup programs
; are 32-bit, so they carry the 32-bit build of the library.

#if !defined(VINSTALLDLL) || !defined(VELL_EXE) || !defined(PDF_SETUP_EXE) || !defined(VELLORAN_ICO)
  #error Give the build's files with /DVINSTALLDLL= /DVELL_EXE= /DPDF_SETUP_EXE= /DVELLORAN_ICO=
#endif

[Setup]
AppName=Velloran
AppVerName=Velloran
DefaultDirName=C:\TELDAX
DisableDirPage=yes
DisableProgramGroupPage=yes
DirExistsWarning=no
Uninstallable=no
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

const
  InstallFolder = 'C:\TELDAX';
  // SYSTEM and Administrators full control, Users read and execute, nothing
  // inherited from C:\ ("P").
  InstallFolderDacl = 'D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)';
  SddlRevision1 = 1;
  DaclSecurityInformation = 4;
  FileAttributeReparsePoint = $400;

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

// C:\TELDAX before the library sees it: a folder that ordinary users cannot
// write. The library writes there, and InstallPDF starts install.exe from
// there, with this program's administrator rights; a folder made at C:\
// would inherit the drive's "Authenticated Users: Modify" and let any user
// put files in its way. An existing folder gets the same DACL, unless it is
// a reparse point: its DACL would land on the folder it leads to (the
// library writes nothing through such a folder).
procedure ProtectInstallFolder;
var
  Descriptor: Cardinal;
  Attributes: TSecurityAttributes;
  Existing: Integer;
begin
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

function InitializeSetup(): Boolean;
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
  end;
end;

// After the Ready page, before anything is installed: a non-empty result
// stops the setup here (in a silent run with exit code 7).
function PrepareToInstall(var NeedsRestart: Boolean): String;
begin
  Result := '';
  if BeforeInstallCalled then
    Exit;
  BeforeInstallCalled := True;
  ProtectInstallFolder;
  if Logged('BeforeInstall', VBeforeInstall(WizardForm.Handle, 0, 0, 0, 0)) = 0 then begin
    // A stop installs nothing: the folder made for it goes again (when
    // empty; first out of it, as a current directory cannot be removed).
    if MadeInstallFolder then begin
      SetCurrentDir(ExpandConstant('{tmp}'));
      RemoveDir(InstallFolder);
    end;
    LogLine('stopped');
    Result := 'Setup stopped: nothing was installed.';
  end;
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
