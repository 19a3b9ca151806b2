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
    return LoadLibraryA(path);
}

FARPROC SystemFunction(HMODULE* library, const char* libraryName, const char* name)
{
    if (!*library)
        *library = LoadSystemLibrary(libraryName);
    return *library ? GetProcAddress(*library, name) : 0;
}
