// Path helpers: folders are joined with "\\", one trailing slash is dropped.
#include "support.h"

void StripTrailingSlash(char* s)
{
    int n = s ? lstrlenA(s) : 0;
    if (n && (s[n - 1] == '\\' || s[n - 1] == '/'))
        s[n - 1] = 0;
}

BOOL PathExists(const char* path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
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
