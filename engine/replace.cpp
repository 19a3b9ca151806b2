// Replacement and deletion of locked files at the next restart: MoveFileExA on
// the NT family, otherwise a RunOnce command for long names or the "[Rename]"
// section of wininit.ini.
#include "engine.h"
#include "files.h"

static const char RUN_ONCE_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
static const char RENAME_SECTION[] = "[Rename]";

BOOL IsLongFileName(const char* name)
{
    const char* dot = FindChar(name, '.', -1, TRUE);
    if (!dot)
        return lstrlenA(name) >= 9;
    return dot - name > 8 || lstrlenA(dot + 1) >= 4;
}

// The short form of PATH in a new heap string; PATH itself when it has none.
static char* ShortPath(const char* path)
{
    char* result = (char*)AllocMem(MAX_PATH + 1);
    if (result && !GetShortPathNameA(path, result, MAX_PATH + 1))
        lstrcpynA(result, path, MAX_PATH + 1);
    return result;
}

BOOL AddWininitRename(const char* wininit, const char* source, const char* target)
{
    char* shortTarget = target ? ShortPath(target) : DupString("NUL", 0);
    char* shortSource = ShortPath(source);
    char* line = JoinStrings("\r\n", shortTarget, "=", shortSource);
    FreeMem(shortTarget);
    FreeMem(shortSource);
    if (!line)
        return FALSE;
    DWORD lineLength = lstrlenA(line);
    BOOL mapped = FALSE;
    HANDLE file = CreateFileA(wininit, GENERIC_READ | GENERIC_WRITE, 0, 0, OPEN_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN, 0);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD oldSize = GetFileSize(file, 0);
        DWORD added = 0;
        HANDLE mapping = CreateFileMappingA(file, 0, PAGE_READWRITE, 0, oldSize + lineLength + 10, 0);
        char* view = mapping ? (char*)MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0) : 0;
        if (view) {
            mapped = TRUE;
            // The bytes behind the old content are zero: FindText stops there.
            char* section = FindText(view, RENAME_SECTION, oldSize, FALSE);
            if (section) {
                char* end = view + oldSize;
                char* body = section + sizeof(RENAME_SECTION) - 1;
                char* next = FindChar(body, '[', end - body, TRUE);
                char* insert = next ? next : end;
                // The new line goes behind the section's last entry, before
                // the blank lines that part it from the next section.
                while (insert - body >= 2 && insert[-2] == '\r' && insert[-1] == '\n')
                    insert -= 2;
                MoveMemory(insert + lineLength, insert, end - insert);
                MoveMemory(insert, line, lineLength);
                added = lineLength;
            } else {
                char* end = view + oldSize;
                if (FindChar(view, '[', oldSize, TRUE)) {
                    MoveMemory(end, "\r\n", 2);
                    end += 2;
                }
                MoveMemory(end, RENAME_SECTION, sizeof(RENAME_SECTION) - 1);
                end += sizeof(RENAME_SECTION) - 1;
                MoveMemory(end, line, lineLength);
                added = end + lineLength - (view + oldSize);
            }
            UnmapViewOfFile(view);
        }
        if (mapping)
            CloseHandle(mapping);
        SetFilePointer(file, oldSize + added, 0, FILE_BEGIN);
        SetEndOfFile(file);
        CloseHandle(file);
    }
    FreeMem(line);
    return mapped;
}

BOOL ScheduleReplace(const char* source, const char* target)
{
    typedef BOOL(WINAPI * MoveFileExFunction)(const char*, const char*, DWORD);
    HMODULE kernel = LoadLibraryA("kernel32.dll");
    MoveFileExFunction moveFileEx = kernel ? (MoveFileExFunction)GetProcAddress(kernel, "MoveFileExA") : 0;
    BOOL moved = moveFileEx && moveFileEx(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT);
    if (kernel)
        FreeLibrary(kernel);
    if (moved)
        return TRUE;
    // Windows 95, 98 and ME: wininit.ini takes only 8.3 names, so a long
    // target name is moved by a command run once at the next start.
    if (target && IsLongFileName(FileNamePart(target))) {
        char* command = JoinStrings("command.com /c move \"", source, "\" \"", target, "\"");
        LONG result = command ? WriteRegistryValue(HKEY_LOCAL_MACHINE, RUN_ONCE_KEY, source, REG_SZ, command,
                                                   lstrlenA(command) + 1)
                              : ERROR_OUTOFMEMORY;
        FreeMem(command);
        return !result;
    }
    char* wininit = (char*)AllocMem(MAX_PATH + 16);
    if (!wininit)
        return FALSE;
    GetWindowsDirectoryA(wininit, MAX_PATH);
    StripTrailingSlash(wininit);
    lstrcatA(wininit, "\\wininit.ini");
    BOOL result = AddWininitRename(wininit, source, target);
    FreeMem(wininit);
    return result;
}

void ScheduleDeleteAtRestart(const char* path)
{
    ScheduleReplace(path, 0);
}
