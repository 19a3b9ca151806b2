// Memory, string, number, path and list routines of the runtime: it links no
// C runtime, so everything else builds on these and on the Windows API.
#pragma once
#include <windows.h>
#undef MoveMemory  // the SDK macro; the runtime has its own

// Memory: one private heap, every block zero-filled.
BOOL CreatePrivateHeap();
void DestroyPrivateHeap();
void* AllocMem(DWORD size);
void FreeMem(void* p);
void* ResizeMem(void* p, DWORD size);
void MoveMemory(void* dst, const void* src, DWORD n);
void ZeroMem(void* p, DWORD n);

// Strings: results are new heap strings owned by the caller.
char* DupString(const char* s, DWORD extra);
// A copy without the blanks and control characters at its end.
char* DupTrimmed(const char* s);
char* JoinStrings(const char* a, const char* b, const char* c = 0, const char* d = 0, const char* e = 0);
char* FindText(const char* text, const char* token, int length, BOOL caseSensitive);
char* FindChar(const char* text, char ch, int length, BOOL caseSensitive);
char* FindCharReverse(const char* text, char ch, int length, BOOL caseSensitive);
char* ReplaceAll(const char* text, const char* token, const char* replacement, BOOL caseSensitive);
// Equal ignoring case, byte by byte as FindText compares.
BOOL SameText(const char* a, const char* b);
// A hash that texts equal under SameText share.
DWORD TextHash(const char* text);
// ReplaceAll ignoring case that consumes TEXT: frees it and returns the result.
char* ReplaceInPlace(char* text, const char* token, const char* replacement);
// Ends the line at *TEXT at its line feed and moves *TEXT behind it; null
// when no line feed ends the line (a cut last line is no line).
char* CutLine(char** text);

// Paths.
void StripTrailingSlash(char* s);
char* ParentPath(const char* s);
char* FileTitle(const char* s);
// A new empty file with a unique name of prefix "QST" in FOLDER: its path, or null.
char* CreateTempFile(const char* folder);
// The whole file as a NUL-terminated heap text, or null.
char* ReadWholeFile(const char* path);
char* CombinePath(const char* base, const char* relative);

BOOL PathExists(const char* path);
// Creates PATH and every missing folder above it; failures are left to the caller to notice.
void CreateMissingFolders(char* path);

// Numbers.
int ParseNumber(const char* text);
// a * b / c rounded down, with a 64-bit intermediate product; needs a * b / c < 2^32.
DWORD MulDivFloor(DWORD a, DWORD b, DWORD c);

// StringList: growable array of owned heap strings; null slots allowed.
struct StringList {
    int count;       // first field: the number of slots
    int capacity;
    int growth;
    char** items;
};
StringList* ListCreate(int growth);
int ListCount(const StringList* list);
char* ListGet(const StringList* list, int i);
int ListAppend(StringList* list, const char* s);
BOOL ListSetAt(StringList* list, int i, const char* s);
void ListDelete(StringList* list, int i);
void ListClear(StringList* list);
void ListDestroy(StringList** list);
char* ListJoinPath(const StringList* list, int n, const char* name);
void ListSort(StringList* list, DWORD flags);
// Whether the unsorted LIST holds TEXT, ignoring case.
BOOL ListContainsText(const StringList* list, const char* text);
BOOL ContainsAnyOf(const char* text, const StringList* list);

enum {
    LIST_SORT_BY_TEXT = 1,
    LIST_SORT_BY_LENGTH = 2,
    LIST_CASE_SENSITIVE = 0x100,
    LIST_DESCENDING = 0x200,
};

BOOL FontInstalled(const char* face);

// Registry: roots are the predefined handles; key paths may start with "\\".
// Changing routines return a Windows error code, 0 on success.
HKEY RootKeyFromName(const char* name);
// Root numbers, as logs and scripts give them, are the handles less 0x80000000.
HKEY RootKeyFromNumber(const char* number);
DWORD RootNumber(HKEY root);
// Whether the key at PATH exists, and with a VALUENAME that value in it.
BOOL RegistryEntryExists(HKEY root, const char* path, const char* valueName);
const char* RootKeyName(HKEY root);
BYTE* ReadRegistryData(HKEY key, const char* valueName, DWORD* type);
BYTE* ReadRegistryValue(HKEY root, const char* path, const char* valueName, DWORD* type);
LONG WriteRegistryValue(HKEY root, const char* path, const char* valueName, DWORD type, const void* data, DWORD size);
LONG DeleteRegistryValue(HKEY root, const char* path, const char* valueName, BOOL deleteEmptyKey);
LONG DeleteRegistryKey(HKEY root, const char* path, BOOL force);

// File versions: (major << 16 | minor, build << 16 | revision); (0, 0) when none.
struct FileVersion {
    DWORD ms, ls;
};
BOOL ReadVersionResource(const char* path, FileVersion* version, BOOL checkType);
BOOL GetFileVersion(const char* path, FileVersion* version, BOOL checkType);

// Libraries by name from the system folder only; SystemFunction loads
// *LIBRARY on first use and looks NAME up in it.
HMODULE LoadSystemLibrary(const char* name);
FARPROC SystemFunction(HMODULE* library, const char* libraryName, const char* name);
// Restricts the default library search to the system folder where the
// system offers it, and loads from there what USER32, the dialogs and the
// shell calls load by name later. The first thing the program does.
void RestrictLibrarySearch();
// Looks up the system functions that the image does not import (all but
// KERNEL32's), after restricting the search; the name of a library or
// function missing, or null.
const char* ResolveSystemImports();
// The common controls, by name; their initialisation (ordinal 17), or null.
FARPROC LoadCommonControls();
// Starts a program: its process handle, which the caller closes, or null.
HANDLE StartProcess(const char* application, const char* commandLine, DWORD creationFlags, const char* folder,
                    DWORD startFlags, WORD show);
// A library the script names for a DLL call (record 14), by its full PATH:
// its own dependencies load from beside it, ahead of the system folders.
// Those calls load their library through this, never by a bare name.
HMODULE LoadScriptLibrary(const char* path);

// Message boxes and the system's error text. Failures before a script gives
// a caption show the runtime's name.
extern const char kRuntimeCaption[];
// An unattended run (/S) shows no message box: each one returns at once
// with the answer that risks least (No, Cancel or Abort where the box has
// one), and the process ends with the code of its first failure, which
// deployment tools read. Interactive runs always end with 0.
extern BOOL g_unattended;
void SetExitCode(DWORD code);
DWORD ExitCode();
int ShowMessage3(HWND owner, const char* caption, const char* format,
                 const char* first, const char* second, const char* third, UINT flags);
int ShowMessage2(HWND owner, const char* caption, const char* format,
                 const char* first, const char* second, UINT flags);
int ShowMessage1(HWND owner, const char* caption, const char* format, const char* first, UINT flags);
// Composes a message as ShowMessage3 does, into a buffer of MESSAGE_BUFFER_SIZE bytes.
enum { MESSAGE_BUFFER_SIZE = 1024 };
void ComposeMessage(char* buffer, const char* format, const char* first, const char* second, const char* third);
const char* SystemErrorText(DWORD code);
