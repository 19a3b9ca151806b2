// Folders of an installation: creating folder chains with logging and error
// questions, emptiness tests, file name parts and deleting whole trees.
#include "files.h"
#include "../startup/app_state.h"
#include "engine.h"
#include "install_log.h"
#include "../environment/environment.h"
#include "../script/script.h"
#include "../wizard/wizard.h"

const char* FileNamePart(const char* path)
{
    const char* slash = FindCharReverse(path, '\\', -1, TRUE);
    return slash ? slash + 1 : path;
}

BOOL IsDotEntry(const char* name)
{
    return name[0] == '.' && (!name[1] || (name[1] == '.' && !name[2]));
}

BOOL IsFolderEmpty(const char* folder, BOOL countFiles)
{
    char* pattern = JoinStrings(folder, "\\*");
    WIN32_FIND_DATAA found;
    HANDLE search = pattern ? FindFirstFileA(pattern, &found) : INVALID_HANDLE_VALUE;
    FreeMem(pattern);
    if (search == INVALID_HANDLE_VALUE)
        return TRUE;
    BOOL empty = TRUE;
    do {
        if (!IsDotEntry(found.cFileName) && (countFiles || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)))
            empty = FALSE;
    } while (empty && FindNextFileA(search, &found));
    FindClose(search);
    return empty;
}

// Removes a link (junction or symbolic link) itself, never what it points to.
static BOOL RemoveLink(const char* path, DWORD attributes)
{
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? RemoveDirectoryA(path) : DeleteFileA(path);
}

BOOL DeleteTree(const char* folder)
{
    DWORD attributes = GetFileAttributesA(folder);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return RemoveLink(folder, attributes);
    char* pattern = JoinStrings(folder, "\\*");
    WIN32_FIND_DATAA found;
    HANDLE search = pattern ? FindFirstFileA(pattern, &found) : INVALID_HANDLE_VALUE;
    FreeMem(pattern);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (IsDotEntry(found.cFileName))
                continue;
            char* path = JoinStrings(folder, "\\", found.cFileName);
            if (!path)
                continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                RemoveLink(path, found.dwFileAttributes);
            } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                DeleteTree(path);
            } else {
                SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path);
            }
            FreeMem(path);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    SetFileAttributesA(folder, FILE_ATTRIBUTE_NORMAL);
    return RemoveDirectoryA(folder);
}

BOOL AskAccessDenied(HWND owner, const char* path, const char* level, DWORD existenceError)
{
    char* parent = ParentPath(level);
    BOOL drive = parent && parent[0] && parent[1] == ':' && !parent[2];
    BOOL granted = FALSE;
    BOOL denied = existenceError != ERROR_ACCESS_DENIED
                  && !CheckObjectAccess(g_app.accessToken, parent, SE_FILE_OBJECT, FILE_ADD_SUBDIRECTORY, &granted)
                  && !granted;
    int message = denied ? (drive ? MESSAGE_FOLDER_NO_RIGHT_ON_DRIVE : MESSAGE_FOLDER_NO_RIGHT_IN_PARENT)
                         : (drive ? MESSAGE_FOLDER_DRIVE_DENIED : MESSAGE_FOLDER_PARENT_DENIED);
    BOOL goOn = AskToContinue(owner, message, path, parent, 0);
    FreeMem(parent);
    return goOn;
}

// Creates LEVEL. 0 when it exists now; else the error, with *EXISTENCEERROR
// the error of the existence test after access was denied.
static DWORD CreateLevel(const char* level, BOOL* created, DWORD* existenceError)
{
    *created = CreateDirectoryA(level, 0);
    if (*created)
        return 0;
    DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS)
        return 0;
    if (error == ERROR_ACCESS_DENIED) {
        if (PathExists(level))
            return 0;
        *existenceError = GetLastError();
    }
    return error;
}

BOOL CreateFolderChain(const char* path, HANDLE log, HWND owner)
{
    if (!IsValidInstallPath(path))
        return AskToContinue(owner, MESSAGE_CANNOT_CREATE_FOLDER, path, SystemErrorText(ERROR_BAD_PATHNAME), 0);
    char* copy = DupString(path, 0);
    if (!copy)
        return FALSE;
    StripTrailingSlash(copy);
    // Past the root: "C:" of a drive path, "\\server\share" of a UNC path.
    char* p = copy;
    if (p[0] && p[1] == ':') {
        p += 2;
    } else if (p[0] == '\\' && p[1] == '\\') {
        char* server = FindChar(p + 2, '\\', -1, TRUE);
        char* share = server ? FindChar(server + 1, '\\', -1, TRUE) : 0;
        p = share ? share : p + lstrlenA(p);
    }
    if (*p)
        p++;
    if (!*p) {
        FreeMem(copy);
        return TRUE;
    }
    BOOL goOn = TRUE;
    BOOL created;
    DWORD existenceError = 0;
    for (; *p; p++) {
        if (*p != '\\')
            continue;
        *p = 0;
        DWORD error = CreateLevel(copy, &created, &existenceError);
        if (created)
            AppendLogLine(log, LOG_FOLDER, copy, TRUE, FALSE);
        if (error == ERROR_ACCESS_DENIED)
            goOn = AskAccessDenied(owner, path, copy, existenceError);
        else if (error)
            goOn = AskToContinue(owner, MESSAGE_CANNOT_CREATE_FOLDER, copy, SystemErrorText(error), 0);
        *p = '\\';
        // A chain the user lets go on after an error stays incomplete.
        if (error)
            break;
    }
    if (!*p) {
        DWORD error = CreateLevel(copy, &created, &existenceError);
        if (!error)
            AppendLogLine(log, LOG_FOLDER, copy, TRUE, TRUE);
        else if (error == ERROR_ACCESS_DENIED)
            goOn = AskAccessDenied(owner, path, copy, existenceError);
        else
            goOn = AskToContinue(owner, MESSAGE_CANNOT_CREATE_FOLDER, copy, SystemErrorText(error), 0);
    }
    FreeMem(copy);
    return goOn;
}
