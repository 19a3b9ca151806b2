// Shell and registry work of an installation: shortcuts, registry values,
// profile entries, file associations, shared-file counts, and the programs
// and DLL functions that the script attaches to pages and moments.
#pragma once
#include "../support/support.h"

// The per-line steps of the install worker. OWNER owns the error questions;
// FALSE means the user chose to stop the installation.
BOOL InstallShortcutLine(const char* line, HWND owner);
BOOL InstallRegistryLine(const char* line, HWND owner);
BOOL InstallIniLine(const char* line, HWND owner);
BOOL InstallAssociationLine(const char* line, HWND owner);

BOOL CreateShortcut(const char* path, const char* target, const char* arguments, const char* workingFolder,
                    const char* iconFile, int iconIndex, int showCommand, DWORD hotkey);
// Creates KEY under ROOT level by level, logging every level it creates; the
// Windows error code of the last level, 0 with *OUT open with ACCESS.
LONG CreateRegistryKeyChain(HKEY root, const char* key, REGSAM access, HKEY* out);
BOOL CreateAssociation(const char* extension, const char* progId, const char* contentType, const char* description,
                       const char* infoTip, const char* command, const char* iconFile, int iconIndex);
// Raises or lowers the SharedDLLs count of PATH; the new count.
DWORD UpdateSharedDllCount(const char* path, BOOL decrement);

// LIST and INDEX (both may be null) name the line being run: a line run
// once is removed from LIST and *INDEX steps back so the caller's loop goes on.
void RunProgram(const char* program, const char* arguments, const char* workingFolder, BOOL wait, BOOL once,
                int windowMode, StringList* list, int* index);
void CallDllFunction(const char* dllPath, const char* function, const char* first, const char* second, BOOL once,
                     StringList* list, int* index);
