// Libraries and programs started at run time: the system's libraries come
// from the system folder only,
// for an installer is started from a download folder, and the uninstaller from
// the temporary folder, where a planted DLL of the same name would otherwise
// be found first; a script's from its own path.
#include "support.h"

HMODULE LoadScriptLibrary(const char* path)
{
    // The altered search path looks for the library's own dependencies in its
    // folder first, then in the system folders, also once the default search
    // is restricted.
    return LoadLibraryExA(path, 0, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE LoadSystemLibrary(const char* name)
{
    char path[MAX_PATH + 32];
    UINT n = GetSystemDirectoryA(path, MAX_PATH);
    if (!n || n >= MAX_PATH)
        return 0;
    // Names are short constants of the runtime: MAX_PATH + 32 holds them.
    path[n] = '\\';
    lstrcpynA(path + n + 1, name, 31);
    // Its dependencies come from the system folder too, not the installer's.
    return LoadScriptLibrary(path);
}

FARPROC SystemFunction(HMODULE* library, const char* libraryName, const char* name)
{
    if (!*library)
        *library = LoadSystemLibrary(libraryName);
    return *library ? GetProcAddress(*library, name) : 0;
}

// Libraries loaded by name after the start: imm32 by USER32 as it starts;
// uxtheme, dwmapi, msimg32, usp10 and oleacc by the themed common controls
// and windows; userenv, setupapi,
// propsys, cryptbase, clbcatq, apphelp and version by the shell, COM, the
// device probes and program starts. Loaded from the system folder first, a
// later request by name finds them loaded, also where the search cannot be
// restricted (before Windows 8 without its update) or where the imports of a
// library loaded by name ignore the restriction (Wine's theme library and its
// msimg32, the input probe's setupapi). One an older system lacks is skipped.
// Each name costs its length plus one byte (".dll" is implied), the loop
// about 25 bytes.
static const char kEarlyLibraries[] = "imm32\0uxtheme\0dwmapi\0msimg32\0usp10\0oleacc\0userenv\0setupapi\0propsys\0"
                                      "cryptbase\0clbcatq\0apphelp\0version\0";

typedef BOOL(WINAPI* SetDefaultDllDirectoriesProc)(DWORD);

void RestrictLibrarySearch()
{
    SetDefaultDllDirectoriesProc restrictSearch = (SetDefaultDllDirectoriesProc)GetProcAddress(
        GetModuleHandleA("KERNEL32.DLL"), "SetDefaultDllDirectories");
    if (restrictSearch)
        restrictSearch(LOAD_LIBRARY_SEARCH_SYSTEM32);
    for (const char* name = kEarlyLibraries; *name; name += lstrlenA(name) + 1)
        LoadSystemLibrary(name);
}

FARPROC LoadCommonControls()
{
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    // By name, so that the manifest's side-by-side redirection gives the
    // themed common controls from the system's assembly store. A system
    // without that redirection (before XP) would search the program's folder
    // for the name: there the system folder's copy is taken by its path.
    static const char kControls[] = "comctl32.dll";
    HMODULE controls = GetProcAddress(kernel, "ActivateActCtx") ? LoadLibraryA(kControls) : LoadSystemLibrary(kControls);
    return controls ? GetProcAddress(controls, MAKEINTRESOURCEA(17)) : 0;
}

HANDLE StartProcess(const char* application, const char* commandLine, DWORD creationFlags, const char* folder,
                    DWORD startFlags, WORD show)
{
    STARTUPINFOA startup;
    ZeroMem(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = startFlags;
    startup.wShowWindow = show;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(application, (char*)commandLine, 0, 0, FALSE, creationFlags, 0, folder, &startup, &process))
        return 0;
    CloseHandle(process.hThread);
    return process.hProcess;
}
