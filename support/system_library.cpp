// Libraries loaded at run time come from the system folder only: an installer
// is started from a download folder, where a planted DLL of the same name
// would otherwise be found first.
#include "support.h"

HMODULE LoadSystemLibrary(const char* name)
{
    char path[MAX_PATH + 32];
    UINT n = GetSystemDirectoryA(path, MAX_PATH);
    if (!n || n >= MAX_PATH)
        return 0;
    // Names are short constants of the runtime: MAX_PATH + 32 holds them.
    path[n] = '\\';
    lstrcpynA(path + n + 1, name, 31);
    // The altered search path makes the library's own dependencies come from
    // its folder too, not from the installer's.
    return LoadLibraryExA(path, 0, LOAD_WITH_ALTERED_SEARCH_PATH);
}

FARPROC SystemFunction(HMODULE* library, const char* libraryName, const char* name)
{
    if (!*library)
        *library = LoadSystemLibrary(libraryName);
    return *library ? GetProcAddress(*library, name) : 0;
}
