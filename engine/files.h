// Folders and files of an installation: folder chains, path tests, tree
// deletion and the replacement of locked files at the next restart.
#pragma once
#include "../support/support.h"

// Creates every missing level of PATH, logging the levels it creates to LOG;
// TRUE when done or the user chose to go on (AskToContinue), FALSE when
// the installation stops.
BOOL CreateFolderChain(const char* path, HANDLE log, HWND owner);
// The question after LEVEL, a folder of PATH, could not be created for lack
// of access; EXISTENCEERROR is the error its existence test ended with. As
// AskToContinue: TRUE when the user goes on.
BOOL AskAccessDenied(HWND owner, const char* path, const char* level, DWORD existenceError);
// True when FOLDER holds no entry (only subfolders count unless COUNTFILES);
// a folder that cannot be listed counts as empty.
BOOL IsFolderEmpty(const char* folder, BOOL countFiles);
// True for the names "." and "..".
BOOL IsDotEntry(const char* name);
// The part of PATH after its last backslash, or PATH itself.
const char* FileNamePart(const char* path);
// Deletes FOLDER with everything below it; links inside are removed, never
// followed. The result of removing FOLDER itself.
BOOL DeleteTree(const char* folder);

// Moves SOURCE over TARGET, or deletes SOURCE when TARGET is null, at the
// next restart.
BOOL ScheduleReplace(const char* source, const char* target);
// Adds "TARGET=SOURCE" (short paths; "NUL" without a target) to the
// "[Rename]" section of the file WININIT, which it creates when missing.
BOOL AddWininitRename(const char* wininit, const char* source, const char* target);
// True when NAME is not a DOS 8.3 name.
BOOL IsLongFileName(const char* name);
