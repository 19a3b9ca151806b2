// The system functions outside KERNEL32, looked up once at start from the
// system folder's libraries instead of imported. An import would load
// USER32, SHELL32 and the rest, and what they load in turn, before the first
// instruction, searching the program's folder first, before the search can
// be restricted. It also saves the import lookup, address and hint entries,
// about 10 bytes a function, and the names are stored compressed: 1.8 KB in
// all.
//
// The calls stay as the SDK's headers declare them, through __imp_ pointers,
// which the table generated from support/system_imports.txt defines.
#include "support.h"
#include "../package/package.h"

extern const unsigned char kImportNameStream[];
extern const unsigned kImportNameStreamSize, kImportNamesSize;
extern FARPROC g_importSlots[] asm("quillset_import_slots");

const char* ResolveSystemImports()
{
    RestrictLibrarySearch();
    // Zero-filled: whatever the stream yields, the names end.
    char* names = CreatePrivateHeap() ? (char*)AllocMem(kImportNamesSize + 2) : 0;
    if (!names || InflateStream(kImportNameStream, kImportNameStreamSize, (BYTE*)names, kImportNamesSize, 0, 0)
                      != (int)kImportNamesSize)
        return "system_imports";
    FARPROC* slot = g_importSlots;
    for (const char* name = names + 1; *name; name++) {
        HMODULE library = LoadSystemLibrary(name);
        if (!library)
            return name;
        while (*(name += lstrlenA(name) + 1))
            if (!(*slot++ = GetProcAddress(library, name)))
                return name;
    }
    FreeMem(names);
    return 0;
}
