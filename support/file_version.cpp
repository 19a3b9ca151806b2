// File versions, from a DLL's own DllGetVersion or from the version resource,
// as the pair (major << 16 | minor, build << 16 | revision).
#include "support.h"
#include <shlwapi.h>

typedef BOOL(WINAPI* VerQueryValueProc)(LPCVOID, LPCSTR, LPVOID*, PUINT);

// version.dll is not one of the libraries Windows always takes from the
// system folder, so it is not imported but looked up there.
static HMODULE s_versionLibrary;

static BOOL CALLBACK TakeFirstName(HMODULE, LPCSTR, LPSTR name, LONG_PTR found)
{
    *(LPSTR*)found = name;
    return FALSE;
}

static BOOL IsWindowsExecutable(const char* path)
{
    DWORD type;
    return GetBinaryTypeA(path, &type) && (type == SCS_32BIT_BINARY || type == SCS_64BIT_BINARY);
}

BOOL ReadVersionResource(const char* path, FileVersion* version, BOOL checkType)
{
    version->ms = version->ls = 0;
    if (checkType && !IsWindowsExecutable(path))
        return FALSE;
    HMODULE module = LoadLibraryExA(path, 0, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return FALSE;
    BOOL found = FALSE;
    LPSTR name = 0;
    EnumResourceNamesA(module, RT_VERSION, TakeFirstName, (LONG_PTR)&name);
    HRSRC resource = name ? FindResourceA(module, name, RT_VERSION) : 0;
    HGLOBAL loaded = resource ? LoadResource(module, resource) : 0;
    const void* data = loaded ? LockResource(loaded) : 0;
    VerQueryValueProc query =
        (VerQueryValueProc)SystemFunction(&s_versionLibrary, "version.dll", "VerQueryValueA");
    if (data && query) {
        DWORD size = SizeofResource(module, resource);
        // VerQueryValueA wants a writable copy with room behind it.
        BYTE* copy = (BYTE*)AllocMem(size * 2 + 4);
        VS_FIXEDFILEINFO* info;
        UINT length;
        if (copy) {
            MoveMemory(copy, data, size);
            if (query(copy, "\\", (void**)&info, &length) && info && info->dwSignature == 0xFEEF04BD) {
                version->ms = info->dwFileVersionMS;
                version->ls = info->dwFileVersionLS;
                found = TRUE;
            }
            FreeMem(copy);
        }
    }
    FreeLibrary(module);
    return found;
}

static BOOL EndsWithLibraryType(const char* path)
{
    int n = lstrlenA(path);
    return n >= 4 && (SameText(path + n - 4, ".dll") || SameText(path + n - 4, ".ocx") || SameText(path + n - 4, ".tlb"));
}

BOOL GetFileVersion(const char* path, FileVersion* version, BOOL checkType)
{
    version->ms = version->ls = 0;
    if (!checkType || (IsWindowsExecutable(path) && EndsWithLibraryType(path))) {
        HMODULE module = LoadLibraryA(path);
        if (module) {
            DLLGETVERSIONPROC getVersion = (DLLGETVERSIONPROC)GetProcAddress(module, "DllGetVersion");
            DLLVERSIONINFO2 info;
            ZeroMem(&info, sizeof(info));
            info.info1.cbSize = sizeof(DLLVERSIONINFO2);
            if (getVersion) {
                if (getVersion(&info.info1) == S_OK) {
                    version->ms = (DWORD)(info.ullVersion >> 32);
                    version->ls = (DWORD)info.ullVersion;
                } else {
                    info.info1.cbSize = sizeof(DLLVERSIONINFO);
                    if (getVersion(&info.info1) == S_OK) {
                        version->ms = info.info1.dwMajorVersion << 16 | (info.info1.dwMinorVersion & 0xFFFF);
                        version->ls = info.info1.dwBuildNumber << 16;
                    }
                }
            }
            FreeLibrary(module);
            if (version->ms || version->ls)
                return TRUE;
        }
    }
    return ReadVersionResource(path, version, checkType);
}
