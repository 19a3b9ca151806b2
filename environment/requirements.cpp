// The script's requirements against what the detections found. Groups are
// checked in a fixed order, which decides the one message a user sees.
#include "environment.h"

Requirements g_requirements;

// A requirement table: the common start of its release names, then the
// keywords; thresholds are in a separate array. Keywords are compared with the
// whole field, ignoring case.
static const char kWindowsRows[] = "Microsoft Windows \0" "95OSR2\0NT4\00098\00098SE\0ME\0002000\0XP\0002003\0";
static const BYTE kWindowsCodes[] = { 2, 3, 4, 5, 6, 7, 8, 9 };
static const char kIERows[] = "Internet Explorer \0"
                              "3.0\0003.01\0003.02\0004.0\0004.01\0004.01SP1\0004.01SP2\0005.0\0005.01\0005.01SP1\0"
                              "5.01SP2\0005.01SP3\0005.5\0005.5SP1\0005.5SP2\0006.0\0006.0SP1\0";
static const BYTE kIEClasses[] = { 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19 };
static const char kDirectXRows[] = "DirectX \0" "1.0\0002.0\0003.0\0005.0\0006.0\0006.1\0007.0\0008.0\0008.1\0009.0\0";
static const WORD kDirectXCodes[] = { 0x100, 0x200, 0x300, 0x500, 0x600, 0x601, 0x700, 0x800, 0x801, 0x900 };
static const char kAccessRows[] = "Microsoft Access \0" "97\00097SR1\00097SR2\0002000\0002000SR1\0002000SR2\0XP\0";
static const BYTE kAccessCodes[] = { 1, 2, 3, 4, 5, 6, 7 };

static const char* Next(const char* text)
{
    return text + lstrlenA(text) + 1;
}

// The release name of a row: the table's common start, then the keyword with
// a blank before its update part ("4.01SP1" is "4.01 SP1", "95OSR2" is
// "95 OSR2"); "2003" is the server release. Spelling the names out instead
// would cost some 250 bytes of constants.
static const char* ReleaseName(const char* prefix, const char* keyword)
{
    char* out = g_requirements.releaseName;
    lstrcpyA(out, prefix);
    out += lstrlenA(out);
    for (const char* k = keyword; *k; k++) {
        if ((*k == 'S' || *k == 'O') && k > keyword && k[-1] >= '0' && k[-1] <= '9')
            *out++ = ' ';
        *out++ = *k;
    }
    *out = 0;
    if (!lstrcmpA(keyword, "2003"))
        lstrcpyA(out, " Server");
    return g_requirements.releaseName;
}

// The release name when REQUIRED names a row whose threshold is above HAVE.
static const char* Shortfall(const char* required, const char* rows, const BYTE* bytes, const WORD* words, int have)
{
    int i = 0;
    for (const char* row = Next(rows); required && *row; row = Next(row), i++) {
        int threshold = bytes ? bytes[i] : words[i];
        if (!lstrcmpiA(row, required) && threshold > have)
            return ReleaseName(rows, row);
    }
    return 0;
}

int CheckRequirements()
{
    g_requirements.missingWindowsName = g_requirements.missingIEName = g_requirements.missingDirectXName = g_requirements.missingAccessName = 0;
    BOOL nt = IsWindowsNT();
    if (g_requirements.required[REQUIRED_WINDOWS] && !lstrcmpiA(g_requirements.required[REQUIRED_WINDOWS], "NT") && !nt)
        return REQUIREMENT_NT;
    if ((g_requirements.missingWindowsName = Shortfall(g_requirements.required[REQUIRED_WINDOWS], kWindowsRows,
                                                       kWindowsCodes, 0, g_requirements.windowsVersion)))
        return REQUIREMENT_WINDOWS;
    if (g_requirements.requireAdministrator && nt && !g_requirements.isAdministrator)
        return REQUIREMENT_ADMIN;
    if ((g_requirements.missingIEName = Shortfall(g_requirements.required[REQUIRED_IE], kIERows, kIEClasses, 0,
                                                  g_requirements.ieVersionClass)))
        return REQUIREMENT_IE;
    const char* requiredDirectX = g_requirements.required[REQUIRED_DIRECTX];
    if (requiredDirectX && *requiredDirectX && g_requirements.directXVersion == DIRECTX_NOT_PROBED)
        g_requirements.directXVersion = DetectDirectXVersion();
    if ((g_requirements.missingDirectXName = Shortfall(requiredDirectX, kDirectXRows, 0, kDirectXCodes,
                                                       g_requirements.directXVersion)))
        return REQUIREMENT_DIRECTX;
    if ((g_requirements.missingAccessName = Shortfall(g_requirements.required[REQUIRED_ACCESS], kAccessRows,
                                                      kAccessCodes, 0, g_requirements.accessVersion)))
        return REQUIREMENT_ACCESS;
    return REQUIREMENTS_MET;
}
