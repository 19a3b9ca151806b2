// Environment probing: special folders, component detection, requirements, restart.
#pragma once
#include "../support/support.h"
#include <shlobj.h>
#include <accctrl.h>

// What the script requires of the machine (the requirements record) and
// what start-up found on it; written by the script and the detections,
// read by the requirement check.
enum { REQUIRED_WINDOWS, REQUIRED_DIRECTX, REQUIRED_IE, REQUIRED_ACCESS, REQUIRED_RELEASE_COUNT };
struct Requirements {
    // The releases in the record's order; null or empty: none.
    char* required[REQUIRED_RELEASE_COUNT];
    BOOL requireAdministrator;
    // The release a failed check names; points into releaseName.
    const char* missingWindowsName;
    const char* missingIEName;
    const char* missingDirectXName;
    const char* missingAccessName;
    char releaseName[32];

    // What start-up found on the machine.
    int ieVersionClass;
    int directXVersion;        // DIRECTX_NOT_PROBED until a requirement asks
    int accessVersion;
    BOOL isAdministrator;
    int windowsVersion;
};
extern Requirements g_requirements;

// Windows version codes: a linear scale on which requirements are at-least tests.
enum {
    WINDOWS_UNKNOWN, WINDOWS_95, WINDOWS_95_OSR2, WINDOWS_NT4, WINDOWS_98, WINDOWS_98_SE, WINDOWS_ME,
    WINDOWS_2000, WINDOWS_XP, WINDOWS_2003, WINDOWS_VISTA_OR_LATER
};
int GetWindowsVersionCode();
BOOL IsWindowsNT();
BOOL IsWindows95();

int DetectInternetExplorerBuild();
int GetInternetExplorerClass(int build);
// The DirectX probe loads DirectDraw, DirectInput and DirectMusic: under
// Wine a third of a start's time and 17 MB. CheckRequirements runs it, only
// for a package that requires a DirectX release.
enum { DIRECTX_NOT_PROBED = -1 };
int DetectDirectXVersion();
int DetectAccessVersion();
BOOL IsUserAdministrator(BOOL* isAdministrator);
// Fills the detection fields of Requirements, in the order start-up needs.
void RunComponentDetections();

BOOL LoadAccessCheckFunctions();
void UnloadAccessCheckFunctions();
DWORD CheckObjectAccess(HANDLE token, const char* name, SE_OBJECT_TYPE type, DWORD desired, BOOL* allowed);

// SHELL32's special-folder functions, looked up at start-up; the first two
// are optional.
struct ShellFolderFunctions {
    HRESULT(WINAPI* getFolderLocation)(HWND, int, HANDLE, DWORD, LPITEMIDLIST*);
    BOOL(WINAPI* getSpecialFolderPath)(HWND, LPSTR, int, BOOL);
    HRESULT(WINAPI* getSpecialFolderLocation)(HWND, int, LPITEMIDLIST*);
    BOOL(WINAPI* getPathFromIdList)(LPCITEMIDLIST, LPSTR);
    void(WINAPI* freeIdList)(LPITEMIDLIST);
    UINT(WINAPI* idListSize)(LPCITEMIDLIST);
};
extern ShellFolderFunctions g_shell;
BOOL LoadShellFolderFunctions();
void UnloadShellFolderFunctions();
BOOL GetSpecialFolderPath(char* buffer, int folder);
BOOL GetSpecialFolderIdList(HWND owner, int folder, LPITEMIDLIST* list);
// The path of FolderMacro ENTRY (35 and above count as <Temp>), in the shared
// result buffer folderPath (AppState) that the next call overwrites.
char* ResolveFolderMacro(int entry);

enum { REQUIREMENTS_MET, REQUIREMENT_ADMIN, REQUIREMENT_NT, REQUIREMENT_WINDOWS,
       REQUIREMENT_IE, REQUIREMENT_DIRECTX, REQUIREMENT_ACCESS };
// One of the results above; the missing...Name field of the failed group
// names the release required.
int CheckRequirements();
BOOL RestartWindows(BOOL force);
