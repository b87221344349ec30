// The DLL as scripts/sign.sh leaves it (tests/signing.sh signs the copy this
// program is given): its file carries the Authenticode signature, and it
// still loads and its exports still do their work.
#include "harness.h"
#include "release_settings.h"

#include <imagehlp.h>
#include <stdio.h>
#include <string.h>

// The file under test is the signed one: one certificate, PKCS#7 signed data.
static void TestFileCarriesSignature()
{
    HANDLE file = CreateFileA(LibraryPath(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ok(file != INVALID_HANDLE_VALUE, "cannot open %s: error %lu", LibraryPath(), GetLastError());
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD count = 0;
    BOOL listed = ImageEnumerateCertificates(file, CERT_SECTION_TYPE_ANY, &count, NULL, 0);
    ok(listed && count == 1, "%s carries %lu certificate(s) (listed: %d), expected the one signature", LibraryPath(),
       count, listed);
    WIN_CERTIFICATE header = {};
    if (listed && count >= 1) {
        ok(ImageGetCertificateHeader(file, 0, &header), "no header for certificate 0: error %lu", GetLastError());
        ok(header.wCertificateType == WIN_CERT_TYPE_PKCS_SIGNED_DATA, "certificate type %u, expected %u (PKCS#7)",
           header.wCertificateType, WIN_CERT_TYPE_PKCS_SIGNED_DATA);
    }
    CloseHandle(file);
}

// UpdateInfo writes its three records; Chk4TELDAX shows its notice.
static void TestExportsWork()
{
    LoadLibraryUnderTest();
    static const char* const Exports[] = {"BeforeInstall", "AfterInstall", "UpdateInfo",
                                          "MLDInfo",       "Chk4TELDAX",   "InstallPDF"};
    for (const char* name : Exports)
        ok(FindExport(name) != NULL, "export %s not found", name);

    CleanDrive();
    MakeDirectory("C:\\TELDAX");
    SYSTEMTIME day = {};
    day.wYear = 2024;
    day.wMonth = 3;
    day.wDay = 5;
    day.wHour = 12;
    ReportSystemTime(day);
    int status = CallExport("UpdateInfo", NULL);
    ok(status == 1, "UpdateInfo returned %d", status);
    char notice[256];
    snprintf(notice, sizeof notice, VINSTALL_UPDATE_NOTICE, 3, 5, 2024);
    ExpectFile("C:\\TELDAX\\Update.txt", notice);
    ExpectFile("C:\\TELDAX\\UpdName.txt", VINSTALL_DOWNLOAD_BASE VINSTALL_UPDATE_INSTALLER);
    ExpectFile("C:\\TELDAX\\UpdDetails.txt", VINSTALL_DOWNLOAD_BASE VINSTALL_UPDATE_DETAILS);

    status = CallExport("Chk4TELDAX", NULL);
    ok(status == 0, "Chk4TELDAX returned %d", status);
    ok(MessageCount == 1, "Chk4TELDAX showed %d message(s)", MessageCount);
    ok(strcmp(Messages[0].text, VINSTALL_NO_UPDATE_NOTICE) == 0, "notice %s",
       Show(Messages[0].text, (int)strlen(Messages[0].text)));
    ok(strcmp(Messages[0].title, "Velloran - No Update") == 0, "title \"%s\"", Messages[0].title);
    UnloadLibraryUnderTest();
    CleanDrive();
}

int main(int argc, char** argv)
{
    InitHarness(argc, argv);
    TestFileCarriesSignature();
    TestExportsWork();
    return FinishTests("signed");
}
