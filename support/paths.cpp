// Path helpers: folders are joined with "\\", one trailing slash is dropped.
#include "support.h"

void StripTrailingSlash(char* s)
{
    int n = s ? lstrlenA(s) : 0;
    if (n && (s[n - 1] == '\\' || s[n - 1] == '/'))
        s[n - 1] = 0;
}

char* CreateTempFile(const char* folder)
{
    // The name is the folder's, a backslash and at most 13 characters more.
    char* path = (char*)AllocMem(lstrlenA(folder) + 262);
    if (path && !GetTempFileNameA(folder, "QST", 0, path)) {
        FreeMem(path);
        path = 0;
    }
    return path;
}

BOOL PathExists(const char* path)
{
    // The attributes answer most paths without a directory search, which
    // under Wine costs four server round trips. Not for a path that opens
    // with a backslash: the attributes of a server alone, which is no
    // folder, or of the current drive's root would say that they exist.
    if (path && path[0] != '\\') {
        if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
            return TRUE;
        DWORD missing = GetLastError();
        if (missing == ERROR_FILE_NOT_FOUND || missing == ERROR_PATH_NOT_FOUND)
            return FALSE;
    }
    // FindFirstFileA finds no entry for a drive or share root itself, so a
    // root is searched through its contents.
    char* copy = DupString(path, 2);
    if (!copy)
        return FALSE;
    StripTrailingSlash(copy);
    int n = lstrlenA(copy);
    const char* server = copy[0] == '\\' && copy[1] == '\\' ? FindChar(copy + 2, '\\', -1, TRUE) : 0;
    BOOL root = (copy[1] == ':' && (n == 2 || (n == 4 && copy[3] == '.')))
             || (server && server[1] && !FindChar(server + 1, '\\', -1, TRUE));
    if (root)
        lstrcatA(copy, "\\*");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(copy, &found);
    DWORD error = GetLastError();
    BOOL exists = search != INVALID_HANDLE_VALUE;
    if (exists) {
        FindClose(search);
    } else if (root) {
        // An empty root has nothing to find, yet exists.
        copy[lstrlenA(copy) - 1] = 0;
        exists = GetFileAttributesA(copy) != INVALID_FILE_ATTRIBUTES;
    }
    FreeMem(copy);
    SetLastError(error);
    return exists;
}

void CreateMissingFolders(char* path)
{
    // Each level in turn, the string cut after it; existing levels fail
    // harmlessly. A drive ("C:") or share root is never created.
    for (char* p = path; *p; p++) {
        if (*p != '\\' || p == path || p[-1] == ':' || p[-1] == '\\')
            continue;
        *p = 0;
        CreateDirectoryA(path, 0);
        *p = '\\';
    }
    CreateDirectoryA(path, 0);
}

char* ParentPath(const char* s)
{
    char* result = DupString(s, 0);
    char* slash = FindCharReverse(result, '\\', -1, TRUE);
    if (slash)
        *slash = 0;
    return result;
}

char* FileTitle(const char* s)
{
    const char* slash = FindCharReverse(s, '\\', -1, TRUE);
    char* result = DupString(slash ? slash + 1 : s, 0);
    char* dot = FindCharReverse(result, '.', -1, TRUE);
    if (dot)
        *dot = 0;
    return result;
}

char* CombinePath(const char* base, const char* relative)
{
    if (FindChar(relative, ':', -1, TRUE))
        return DupString(relative, 0);
    char* result = DupString(base, 0);
    StripTrailingSlash(result);
    if (!relative || !*relative)
        return result;
    if (*relative == '\\')
        relative++;
    char* joined = JoinStrings(result, "\\", relative);
    FreeMem(result);
    return joined;
}

char* ReadWholeFile(const char* path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, 0);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD size = GetFileSize(file, 0), read = 0;
    char* text = size != INVALID_FILE_SIZE ? (char*)AllocMem(size + 1) : 0;
    if (text && (!ReadFile(file, text, size, &read, 0) || read != size)) {
        FreeMem(text);
        text = 0;
    }
    CloseHandle(file);
    return text;
}
