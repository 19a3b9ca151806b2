// The special folders behind the FolderMacro tokens: the shell's answer first,
// then the registry, then a path composed from other folders; the temporary
// folder when everything else comes up empty.
#include "environment.h"
#include "../startup/app_state.h"
#include "../package/script_format.h"

ShellFolderFunctions g_shell;
static HMODULE s_shell32;

BOOL LoadShellFolderFunctions()
{
    if (!g_app.folderPath && !(g_app.folderPath = (char*)AllocMem(FOLDER_PATH_SIZE)))
        return FALSE;
    // Where each function of kNames goes; the last two, whose names are
    // empty, exist by ordinal only.
    static FARPROC* const kSlots[] = {
        (FARPROC*)&g_shell.getFolderLocation,        (FARPROC*)&g_shell.getSpecialFolderPath,
        (FARPROC*)&g_shell.getSpecialFolderLocation, (FARPROC*)&g_shell.getPathFromIdList,
        (FARPROC*)&g_shell.freeIdList,               (FARPROC*)&g_shell.idListSize,
    };
    static const char kNames[] = "SHGetFolderLocation\0SHGetSpecialFolderPathA\0SHGetSpecialFolderLocation\0"
                                 "SHGetPathFromIDList\0\0";
    const char* name = kNames;
    for (int i = 0; i < 6; i++) {
        FARPROC* slot = kSlots[i];
        *slot = SystemFunction(&s_shell32, "shell32.dll", *name ? name : MAKEINTRESOURCEA(i == 4 ? 155 : 152));
        if (!*slot && i >= 2) {
            UnloadShellFolderFunctions();
            return FALSE;
        }
        name += lstrlenA(name) + 1;
    }
    return TRUE;
}

void UnloadShellFolderFunctions()
{
    if (s_shell32)
        FreeLibrary(s_shell32);
    s_shell32 = 0;
    ZeroMem(&g_shell, sizeof(g_shell));
    FreeMem(g_app.folderPath);
    g_app.folderPath = 0;
}

BOOL GetSpecialFolderPath(char* buffer, int folder)
{
    *buffer = 0;
    if (g_shell.getSpecialFolderPath)
        return g_shell.getSpecialFolderPath(0, buffer, folder, TRUE) == TRUE;
    LPITEMIDLIST list;
    if (!g_shell.getSpecialFolderLocation || g_shell.getSpecialFolderLocation(0, folder, &list))
        return FALSE;
    g_shell.idListSize(list);
    BOOL converted = g_shell.getPathFromIdList(list, buffer) == TRUE;
    g_shell.freeIdList(list);
    return converted;
}

BOOL GetSpecialFolderIdList(HWND owner, int folder, LPITEMIDLIST* list)
{
    *list = 0;
    if (g_shell.getFolderLocation)
        return g_shell.getFolderLocation(owner, folder, 0, 0, list) == S_OK;
    return g_shell.getSpecialFolderLocation && g_shell.getSpecialFolderLocation(owner, folder, list) == S_OK;
}

enum { NO_SHELL_FOLDER = 0xFF };

// Per entry: the shell folder, and the personal folder that stands in for a
// common one on machines without common folders (0: none).
static const BYTE kShellFolders[FOLDER_MACRO_COUNT] = {
    0x1A, 0x23, 0x19, 0x1F, 0x2B, 0x17, 0x16, 0x18, 0x2D, 0x10, 0xFF, 0x06, 0x14, 0xFF, 0x13, 0x05, 0x26, 0x02,
    0xFF, 0x09, 0x0B, 0x07, 0x25, 0xFF, 0x15, 0x24, 0x28, 0xFF, 0x2E, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF
};
static const BYTE kPersonalFolders[FOLDER_MACRO_COUNT] = { 0, 0, 0x10, 0x06, 0, 0x02, 0x0B, 0x07, 0x15 };

static const char kShellFoldersKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
static const char kProfileListKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// A string value into the result buffer; absent, empty or too long: FALSE.
static BOOL ReadIntoResult(HKEY root, const char* key, const char* value)
{
    char* text = (char*)ReadRegistryValue(root, key, value, 0);
    BOOL present = text && *text && lstrlenA(text) < FOLDER_PATH_SIZE;
    if (present)
        lstrcpyA(g_app.folderPath, text);
    FreeMem(text);
    return present;
}

static void SetResult(char* path)
{
    if (path && lstrlenA(path) < FOLDER_PATH_SIZE)
        lstrcpyA(g_app.folderPath, path);
    FreeMem(path);
}

// The result joined with SUBFOLDER becomes the result; the folder is created
// (with any missing level above it: a composed base such as
// "<Windows>\Profiles\All Users" need not exist) and, with ROOT, the path is
// stored as that Shell Folders value.
static void ComposeFolder(const char* subfolder, HKEY root, const char* value)
{
    // Without a base there is nothing to compose: a bare subfolder name would
    // be relative to whatever the current folder is.
    if (!*g_app.folderPath)
        return;
    SetResult(CombinePath(g_app.folderPath, subfolder));
    CreateMissingFolders(g_app.folderPath);
    if (root)
        WriteRegistryValue(root, kShellFoldersKey, value, REG_SZ, g_app.folderPath, lstrlenA(g_app.folderPath) + 1);
}

static void ExpandIntoResult(const char* text)
{
    char* expanded = (char*)AllocMem(FOLDER_PATH_SIZE);
    if (expanded && ExpandEnvironmentStringsA(text, expanded, FOLDER_PATH_SIZE - 1))
        lstrcpyA(g_app.folderPath, expanded);
    FreeMem(expanded);
}

static void ResolveUserProfile()
{
    ResolveFolderMacro(MACRO_WINDOWS);
    if (ReadIntoResult(HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ProfileReconciliation",
                       "ProfileDirectory"))
        return;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Protected Storage System Provider", 0,
                      KEY_ENUMERATE_SUB_KEYS, &key))
        return;
    char* path = (char*)AllocMem(sizeof(kProfileListKey) + 1 + 256);
    DWORD length = 256;
    LONG result = path ? RegEnumKeyExA(key, 0, path + sizeof(kProfileListKey), &length, 0, 0, 0, 0) : 1;
    RegCloseKey(key);
    if (!result || result == ERROR_MORE_DATA) {
        MoveMemory(path, kProfileListKey, sizeof(kProfileListKey) - 1);
        path[sizeof(kProfileListKey) - 1] = '\\';
        char* image = (char*)ReadRegistryValue(HKEY_LOCAL_MACHINE, path, "ProfileImagePath", 0);
        if (image)
            ExpandIntoResult(image);
        FreeMem(image);
    }
    FreeMem(path);
}

static void ResolveAllUsers()
{
    ResolveFolderMacro(MACRO_WINDOWS);
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProfileListKey, 0, KEY_QUERY_VALUE, &key))
        return;
    char* profiles = (char*)ReadRegistryData(key, "ProfilesDirectory", 0);
    char* allUsers = (char*)ReadRegistryData(key, "AllUsersProfile", 0);
    RegCloseKey(key);
    if (profiles && allUsers) {
        char* joined = CombinePath(profiles, allUsers);
        if (joined)
            ExpandIntoResult(joined);
        FreeMem(joined);
    } else {
        SetResult(CombinePath(g_app.folderPath, "Profiles\\All Users"));
    }
    FreeMem(profiles);
    FreeMem(allUsers);
}

char* ResolveFolderMacro(int entry)
{
    char* result = g_app.folderPath;
    if ((unsigned)entry >= FOLDER_MACRO_COUNT)
        entry = MACRO_TEMP;
    int version = GetWindowsVersionCode();
    BOOL commonCapable = version == WINDOWS_NT4 || version > WINDOWS_98_SE;
    *result = 0;
    int folder = kShellFolders[entry];
    switch (entry) {
    case MACRO_APP_DATA:
        if (!GetSpecialFolderPath(result, folder) && !ReadIntoResult(HKEY_CURRENT_USER, kShellFoldersKey, "AppData")) {
            ResolveFolderMacro(MACRO_USER_PROFILE);
            ComposeFolder("Application Data", HKEY_CURRENT_USER, "AppData");
        }
        break;
    case MACRO_COMMON_APP_DATA: {
        BOOL stored = ReadIntoResult(HKEY_LOCAL_MACHINE, kShellFoldersKey, "Common AppData");
        if (stored && version != WINDOWS_98 && version != WINDOWS_98_SE)
            break;
        if (version > WINDOWS_98_SE) {
            GetSpecialFolderPath(result, folder);
            break;
        }
        // Windows 98's stored value is replaced by the composed path, and
        // not rewritten.
        ResolveFolderMacro(MACRO_ALL_USERS);
        ComposeFolder("Application Data", stored ? 0 : HKEY_LOCAL_MACHINE, "Common AppData");
        break;
    }
    case MACRO_COMMON_FILES:
        ReadIntoResult(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir");
        break;
    case MACRO_PROGRAM_FILES:
        ReadIntoResult(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir");
        break;
    case MACRO_COMMON_TEMPLATES:
        if (!GetSpecialFolderPath(result, folder))
            GetSpecialFolderPath(result, kPersonalFolders[entry]);
        break;
    case MACRO_IE:
        if (ReadIntoResult(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\IE Setup\\Setup", "Path"))
            SetResult(CombinePath(result, "iexplore.exe"));
        break;
    case MACRO_MS_ACCESS:
        ReadIntoResult(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\MSACCESS.EXE", 0);
        break;
    case MACRO_QUICK_LAUNCH:
        ResolveFolderMacro(MACRO_APP_DATA);
        SetResult(CombinePath(result, "Microsoft\\Internet Explorer\\Quick Launch"));
        if (!PathExists(result))
            ResolveFolderMacro(MACRO_TEMP);
        break;
    case MACRO_SYSTEM:
        GetSystemDirectoryA(result, FOLDER_PATH_SIZE - 1);
        break;
    case MACRO_WINDOWS:
        GetWindowsDirectoryA(result, FOLDER_PATH_SIZE - 1);
        break;
    case MACRO_TEMP:
        break;
    case MACRO_USER_PROFILE:
        if (!GetSpecialFolderPath(result, folder))
            ResolveUserProfile();
        break;
    case MACRO_ALL_USERS:
        ResolveAllUsers();
        break;
    case MACRO_COMMON_DOCUMENTS:
        GetSpecialFolderPath(result, version > WINDOWS_98_SE ? folder : CSIDL_PERSONAL);
        break;
    default:
        if (entry >= MACRO_COMMON_PICTURES) {
            // Media folders: a Shell Folders value, else a subfolder of the
            // documents folder that is then stored there.
            static const char kMediaNames[] = "Pictures\0Music\0Video\0";
            const char* name = kMediaNames;
            for (int i = (entry - MACRO_COMMON_PICTURES) % 3; i; i--)
                name += lstrlenA(name) + 1;
            BOOL machineWide = entry < MACRO_PICTURES;
            HKEY root = machineWide ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
            char value[16], subfolder[16];
            lstrcpyA(subfolder, "My ");
            lstrcatA(subfolder, name);
            lstrcpyA(value, machineWide ? "Common" : "My ");
            lstrcatA(value, name);
            if (ReadIntoResult(root, kShellFoldersKey, value))
                break;
            if (machineWide)
                ResolveFolderMacro(MACRO_COMMON_DOCUMENTS);
            else
                GetSpecialFolderPath(result, CSIDL_PERSONAL);
            ComposeFolder(subfolder, root, value);
        } else if (kPersonalFolders[entry] && !commonCapable) {
            GetSpecialFolderPath(result, kPersonalFolders[entry]);
        } else {
            GetSpecialFolderPath(result, folder);
        }
        break;
    }
    if (!*result) {
        GetTempPathA(FOLDER_PATH_SIZE - 2, result);
        StripTrailingSlash(result);
    }
    return result;
}
