// The script's requirements against what the detections found. Groups are
// checked in a fixed order, which decides the one message a user sees.
#include "environment.h"

// A requirement table: the common start of its release names, then per row
// the keyword and the rest of the name; thresholds are in a separate array.
// Keywords are compared with the whole field, ignoring case.
static const char kWindowsRows[] = "Microsoft Windows \0"
                                   "95OSR2\00095 OSR2\0NT4\0NT4\00098\00098\00098SE\00098 SE\0ME\0ME\0"
                                   "2000\0002000\0XP\0XP\0002003\0002003 Server\0";
static const BYTE kWindowsCodes[] = { 2, 3, 4, 5, 6, 7, 8, 9 };
static const char kIERows[] = "Internet Explorer \0"
                              "3.0\0003.0\0003.01\0003.01\0003.02\0003.02\0004.0\0004.0\0004.01\0004.01\0"
                              "4.01SP1\0004.01 SP1\0004.01SP2\0004.01 SP2\0005.0\0005.0\0005.01\0005.01\0"
                              "5.01SP1\0005.01 SP1\0005.01SP2\0005.01 SP2\0005.01SP3\0005.01 SP3\0"
                              "5.5\0005.5\0005.5SP1\0005.5 SP1\0005.5SP2\0005.5 SP2\0006.0\0006.0\0"
                              "6.0SP1\0006.0 SP1\0";
static const BYTE kIEClasses[] = { 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19 };
static const char kDirectXRows[] = "DirectX \0"
                                   "1.0\0001.0\0002.0\0002.0\0003.0\0003.0\0005.0\0005.0\0006.0\0006.0\0"
                                   "6.1\0006.1\0007.0\0007.0\0008.0\0008.0\0008.1\0008.1\0009.0\0009.0\0";
static const WORD kDirectXCodes[] = { 0x100, 0x200, 0x300, 0x500, 0x600, 0x601, 0x700, 0x800, 0x801, 0x900 };
static const char kAccessRows[] = "Microsoft Access \0"
                                  "97\00097\00097SR1\00097 SR1\00097SR2\00097 SR2\0002000\0002000\0"
                                  "2000SR1\0002000 SR1\0002000SR2\0002000 SR2\0XP\0XP\0";
static const BYTE kAccessCodes[] = { 1, 2, 3, 4, 5, 6, 7 };

static const char* Next(const char* text)
{
    return text + lstrlenA(text) + 1;
}

// The release name when REQUIRED names a row whose threshold is above HAVE.
static const char* Shortfall(const char* required, const char* rows, const BYTE* bytes, const WORD* words, int have)
{
    const char* prefix = rows;
    int i = 0;
    for (const char* row = Next(prefix); required && *row; row = Next(Next(row)), i++) {
        int threshold = bytes ? bytes[i] : words[i];
        if (lstrcmpiA(row, required) || threshold <= have)
            continue;
        lstrcpyA(g_app.releaseName, prefix);
        lstrcatA(g_app.releaseName, Next(row));
        return g_app.releaseName;
    }
    return 0;
}

int CheckRequirements()
{
    g_app.missingWindowsName = g_app.missingIEName = g_app.missingDirectXName = g_app.missingAccessName = 0;
    BOOL nt = IsWindowsNT();
    if (g_app.requiredWindows && !lstrcmpiA(g_app.requiredWindows, "NT") && !nt)
        return REQUIREMENT_NT;
    if ((g_app.missingWindowsName = Shortfall(g_app.requiredWindows, kWindowsRows, kWindowsCodes, 0,
                                              g_app.windowsVersion)))
        return REQUIREMENT_WINDOWS;
    if (g_app.requireAdministrator && nt && !g_app.isAdministrator)
        return REQUIREMENT_ADMIN;
    if ((g_app.missingIEName = Shortfall(g_app.requiredIE, kIERows, kIEClasses, 0, g_app.ieVersionClass)))
        return REQUIREMENT_IE;
    if ((g_app.missingDirectXName = Shortfall(g_app.requiredDirectX, kDirectXRows, 0, kDirectXCodes,
                                              g_app.directXVersion)))
        return REQUIREMENT_DIRECTX;
    if ((g_app.missingAccessName = Shortfall(g_app.requiredAccess, kAccessRows, kAccessCodes, 0,
                                             g_app.accessVersion)))
        return REQUIREMENT_ACCESS;
    return REQUIREMENTS_MET;
}
