// Detection of Internet Explorer, DirectX, Microsoft Access and administrator
// rights at start-up. Nothing here reports to the user: whatever is missing
// yields the lowest code reached, with a note to the debugger at most.
#include "environment.h"
#include <ddraw.h>

static const char kInternetExplorerKey[] = "Software\\Microsoft\\Internet Explorer";
static const char kWindowsInternetExplorerKey[] = "Software\\Microsoft\\Windows\\Internet Explorer";

static int ReadMachineNumber(const char* key, const char* value, BOOL* present)
{
    char* text = (char*)ReadRegistryValue(HKEY_LOCAL_MACHINE, key, value, 0);
    *present = text != 0;
    int number = ParseNumber(text);
    FreeMem(text);
    return number;
}

int DetectInternetExplorerBuild()
{
    char* version = (char*)ReadRegistryValue(HKEY_LOCAL_MACHINE, kInternetExplorerKey, "Version", 0);
    if (version) {
        // The build is the third dot-separated field; fewer fields: build 0.
        const char* field = version;
        for (int dots = 0; dots < 2 && field; dots++)
            if ((field = FindChar(field, '.', -1, TRUE)) != 0)
                field++;
        int build = field ? ParseNumber(field) : 0;
        FreeMem(version);
        static const WORD kBuilds[] = { 3790, 3718, 3663, 2800, 2600, 2479 };
        int code = 42;
        for (int i = 0; i < 6 && build < kBuilds[i]; i++)
            code--;
        return code;
    }
    BOOL present;
    int build = ReadMachineNumber(kWindowsInternetExplorerKey, "Build", &present);
    if (present) {
        static const WORD kBuilds[] = { 1300, 1215, 1158, 1155 };
        int code = 7;
        for (int i = 0; i < 4 && build < kBuilds[i]; i++)
            code--;
        return code < 4 ? 2 : code;
    }
    int iver = ReadMachineNumber(kWindowsInternetExplorerKey, "IVer", &present);
    if (present)
        return iver >= 102 ? 2 : iver == 101 ? 3 : 1;
    return 0;
}

int GetInternetExplorerClass(int build)
{
    // The class of every fine code 0 to 43.
    static const BYTE kClasses[44] = { 0, 1, 2, 2, 3, 3, 4, 5, 6, 6, 6, 7, 8, 9, 10, 10, 10, 10, 10, 11, 11, 11,
                                       11, 11, 12, 12, 13, 13, 14, 15, 15, 15, 15, 15, 16, 17, 18, 18, 18, 19, 19,
                                       19, 19, 20 };
    return build >= 0 && build < 44 ? kClasses[build] : 0;
}

// Interface and class identifiers, here rather than from a GUID library.
static const GUID kIDirectDraw2 = { 0xB3A6F3E0, 0x2B43, 0x11CF, { 0xA2, 0xDE, 0x00, 0xAA, 0x00, 0xB9, 0x33, 0x56 } };
static const GUID kIDirectDrawSurface3 = { 0xDA044E00, 0x69B2, 0x11D0, { 0xA1, 0xD5, 0x00, 0xAA, 0x00, 0xB8, 0xDF, 0xBB } };
static const GUID kIDirectDrawSurface4 = { 0x0B2B8630, 0xAD35, 0x11D0, { 0x8E, 0xA6, 0x00, 0x60, 0x97, 0x97, 0xEA, 0x5B } };
static const GUID kCLSIDDirectMusic = { 0x636B9F10, 0x0C7D, 0x11D1, { 0x95, 0xB2, 0x00, 0x20, 0xAF, 0xDC, 0x74, 0x21 } };
static const GUID kIDirectMusic = { 0x6536115A, 0x7B2D, 0x11D2, { 0xBA, 0x18, 0x00, 0x00, 0xF8, 0x75, 0xAC, 0x12 } };
static const GUID kIDirectDraw7 = { 0x15E65EC0, 0x3B9C, 0x11D2, { 0xB9, 0x2F, 0x00, 0x60, 0x97, 0x97, 0xEA, 0x5B } };

typedef HRESULT(WINAPI* DirectDrawCreateProc)(GUID*, IUnknown**, IUnknown*);
typedef HRESULT(WINAPI* DirectDrawCreateExProc)(GUID*, void**, REFIID, IUnknown*);

static int Note(const char* text, int code)
{
    OutputDebugStringA(text);
    return code;
}

static BOOL SystemLibraryPresent(const char* name)
{
    HMODULE library = LoadSystemLibrary(name);
    if (library)
        FreeLibrary(library);
    return library != 0;
}

// Every interface obtained goes into HELD, which the caller releases.
static int ProbeDirectX(HMODULE ddraw, IUnknown** held)
{
    DirectDrawCreateProc create = (DirectDrawCreateProc)GetProcAddress(ddraw, "DirectDrawCreate");
    if (!create)
        return Note("Couldn't LoadLibrary DDraw\r\n", 0);
    if (FAILED(create(0, &held[0], 0)))
        return Note("Couldn't create DDraw\r\n", 0);
    IDirectDraw* draw = (IDirectDraw*)held[0];
    if (FAILED(draw->QueryInterface(kIDirectDraw2, (void**)&held[1])))
        return Note("Couldn't QI DDraw2\r\n", 0x100);
    HMODULE input = LoadSystemLibrary("DINPUT.DLL");
    if (!input)
        return Note("Couldn't LoadLibrary DInput\r\n", 0x200);
    FARPROC inputCreate = GetProcAddress(input, "DirectInputCreateA");
    FreeLibrary(input);
    if (!inputCreate)
        return Note("Couldn't GetProcAddress DInputCreate\r\n", 0x200);
    if (FAILED(draw->SetCooperativeLevel(0, DDSCL_NORMAL)))
        return Note("Couldn't Set coop level\r\n", 0x301);
    DDSURFACEDESC surface;
    ZeroMem(&surface, sizeof(surface));
    surface.dwSize = sizeof(surface);
    surface.dwFlags = DDSD_CAPS;
    surface.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    if (FAILED(draw->CreateSurface(&surface, (IDirectDrawSurface**)&held[2], 0)))
        return Note("Couldn't CreateSurface\r\n", 0x301);
    if (FAILED(held[2]->QueryInterface(kIDirectDrawSurface3, (void**)&held[3])))
        return 0x300;
    if (FAILED(held[2]->QueryInterface(kIDirectDrawSurface4, (void**)&held[4])))
        return 0x500;
    CoInitialize(0);
    IUnknown* music = 0;
    HRESULT musicResult = CoCreateInstance(kCLSIDDirectMusic, 0, CLSCTX_INPROC_SERVER, kIDirectMusic, (void**)&music);
    if (music)
        music->Release();
    CoUninitialize();
    if (FAILED(musicResult))
        return Note("Couldn't create CLSID_DirectMusic\r\n", 0x600);
    DirectDrawCreateExProc createEx = (DirectDrawCreateExProc)GetProcAddress(ddraw, "DirectDrawCreateEx");
    if (!createEx || FAILED(createEx(0, (void**)&held[5], kIDirectDraw7, 0)))
        return 0x601;
    if (!SystemLibraryPresent("D3D8.DLL"))
        return 0x700;
    int code = 0x800;
    // Only the first seven characters count: "4.08.01.0881" and its later
    // builds are all DirectX 8.1.
    char* version = (char*)ReadRegistryValue(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\DirectX", "Version", 0);
    if (version && lstrlenA(version) >= 7) {
        version[7] = 0;
        if (!lstrcmpA(version, "4.08.01"))
            code = 0x801;
    }
    FreeMem(version);
    return SystemLibraryPresent("D3D9.DLL") ? 0x900 : code;
}

int DetectDirectXVersion()
{
    HMODULE ddraw = LoadSystemLibrary("DDRAW.DLL");
    if (!ddraw)
        return 0;
    IUnknown* held[6];
    ZeroMem(held, sizeof(held));
    int code = ProbeDirectX(ddraw, held);
    for (int i = 5; i >= 0; i--)
        if (held[i])
            held[i]->Release();
    FreeLibrary(ddraw);
    return code;
}

int DetectAccessVersion()
{
    char* path = (char*)ReadRegistryValue(HKEY_LOCAL_MACHINE,
                                          "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\MSACCESS.EXE", 0, 0);
    FileVersion version;
    BOOL found = path && GetFileVersion(path, &version, FALSE);
    FreeMem(path);
    if (!found)
        return 0;
    // Rows are compared number by number, so "8.00.00.3512" is 8.0.0.3512.
    static const char kReleases[] = "8.00.00.3512\0008.00.00.4122\0008.00.00.5903\0008.00.00.2719\000"
                                    "8.00.00.3822\0008.00.00.4506\00010.00.2627.1\0";
    int code = 1;
    for (const char* row = kReleases; *row; row += lstrlenA(row) + 1, code++) {
        DWORD parts[4];
        const char* field = row;
        for (int i = 0; i < 4; i++) {
            parts[i] = ParseNumber(field);
            while (*field && *field++ != '.')
                ;
        }
        if (version.ms == (parts[0] << 16 | parts[1]) && version.ls == (parts[2] << 16 | parts[3]))
            return code;
    }
    return 0;
}

BOOL IsUserAdministrator(BOOL* isAdministrator)
{
    *isAdministrator = FALSE;
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return FALSE;
    BOOL complete = FALSE;
    DWORD size = 0;
    GetTokenInformation(token, TokenGroups, 0, 0, &size);
    TOKEN_GROUPS* groups = GetLastError() == ERROR_INSUFFICIENT_BUFFER ? (TOKEN_GROUPS*)AllocMem(size) : 0;
    static const SID_IDENTIFIER_AUTHORITY kNtAuthority = { SECURITY_NT_AUTHORITY };
    PSID administrators = 0;
    if (groups && GetTokenInformation(token, TokenGroups, groups, size, &size)
        && AllocateAndInitializeSid((PSID_IDENTIFIER_AUTHORITY)&kNtAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                                    0, 0, 0, &administrators)) {
        for (DWORD i = 0; i < groups->GroupCount; i++)
            if (EqualSid(groups->Groups[i].Sid, administrators) && (groups->Groups[i].Attributes & SE_GROUP_ENABLED))
                *isAdministrator = TRUE;
        FreeSid(administrators);
        complete = TRUE;
    }
    FreeMem(groups);
    CloseHandle(token);
    return complete;
}

void RunComponentDetections()
{
    g_requirements.ieVersionClass = GetInternetExplorerClass(DetectInternetExplorerBuild());
    g_requirements.directXVersion = DIRECTX_NOT_PROBED;
    g_requirements.accessVersion = DetectAccessVersion();
    IsUserAdministrator(&g_requirements.isAdministrator);
    g_requirements.windowsVersion = GetWindowsVersionCode();
}
