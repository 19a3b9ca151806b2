// Registry values, profile-file entries, file associations and SharedDLLs
// counts that an installation writes, each logged for its removal.
#include "integration.h"
#include "engine.h"
#include "install_log.h"
#include "files.h"
#include "../script/script.h"
#include <shlobj.h>

static const char kSharedDllsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

// Expands LINE's variables (folder macros first when asked) and splits it into csvFields.
static void SplitExpanded(const char* line, BOOL folderMacros)
{
    char* macros = folderMacros ? ExpandFolderMacros(line) : 0;
    char* expanded = ExpandVariables(macros ? macros : line);
    SplitCsv(expanded, FALSE);
    FreeMem(expanded);
    FreeMem(macros);
}

// Key lines go field by field: a key name may hold a comma.
static void LogKey(DWORD rootNumber, const char* path, BOOL writeNow)
{
    char number[12];
    wsprintfA(number, "%u", rootNumber);
    const char* fields[2] = { number, path };
    AppendLogFields(g_log.logFile, LOG_REGISTRY_KEY, fields, LOG_REGISTRY_KEY_FIELDS, writeNow);
}

LONG CreateRegistryKeyChain(HKEY root, const char* key, REGSAM access, HKEY* out)
{
    DWORD rootNumber = RootNumber(root);
    char* path = DupString(key, 0);
    StripTrailingSlash(path);
    DWORD disposition;
    HKEY level;
    for (char* p = path; *p; p++) {
        if (*p != '\\')
            continue;
        *p = 0;
        if (!RegCreateKeyExA(root, path, 0, (LPSTR) "", REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE, 0, &level,
                             &disposition)) {
            RegCloseKey(level);
            if (disposition == REG_CREATED_NEW_KEY)
                LogKey(rootNumber, path, TRUE);
        }
        *p = '\\';
    }
    LONG result = RegCreateKeyExA(root, path, 0, (LPSTR) "", REG_OPTION_NON_VOLATILE, access, 0, out, &disposition);
    // An empty path is the root itself, which a removal must never touch.
    if (!result && *path)
        LogKey(rootNumber, path, disposition == REG_CREATED_NEW_KEY);
    FreeMem(path);
    return result;
}

static int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c |= 0x20;
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The value's data as the script's type gives it; null for a type it does not write.
static BYTE* RegistryData(DWORD type, const char* text, DWORD* size)
{
    DWORD length = lstrlenA(text);
    BYTE* data = (BYTE*)DupString(text, 4);
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        *size = length + 1;
        return data;
    case REG_BINARY: {
        DWORD n = 0;
        for (int high; (high = HexDigit(text[2 * n])) >= 0; n++) {
            int low = HexDigit(text[2 * n + 1]);
            data[n] = (BYTE)(high << 4 | (low > 0 ? low : 0));
            if (low < 0) {
                n++;
                break;
            }
        }
        *size = n;
        return data;
    }
    case REG_DWORD:
        *(DWORD*)data = (DWORD)ParseNumber(text);
        *size = 4;
        return data;
    case REG_MULTI_SZ:
        for (DWORD i = 0; i < length; i++)
            if (data[i] == '|')
                data[i] = 0;
        *size = length + 2;
        return data;
    }
    FreeMem(data);
    return 0;
}

BOOL InstallRegistryLine(const char* line, HWND owner)
{
    SplitExpanded(line, FALSE);
    const char* rootText = CsvField(0);
    HKEY root = RootKeyFromNumber(rootText);
    const char* valueName = CsvField(2);
    DWORD type = ParseNumber(CsvField(3));
    DWORD size;
    BYTE* data = RegistryData(type ? type : REG_SZ, CsvField(4), &size);
    if (!data)
        return TRUE;
    const char* keyField = CsvField(1);
    char* key = DupString(*keyField == '\\' ? keyField + 1 : keyField, 0);
    StripTrailingSlash(key);
    char* name = DupString(valueName, 0);
    char* shown = JoinStrings(RootKeyName(root), "\\", key);
    HKEY handle;
    BOOL goOn = TRUE;
    LONG result = CreateRegistryKeyChain(root, key, KEY_QUERY_VALUE | KEY_SET_VALUE, &handle);
    if (result) {
        goOn = AskToContinue(owner, MESSAGE_CANNOT_CREATE_KEY, shown, SystemErrorText(result), 0);
    } else {
        BOOL existed = !RegQueryValueExA(handle, name, 0, 0, 0, 0);
        result = RegSetValueExA(handle, name, 0, type ? type : REG_SZ, data, size);
        if (result) {
            goOn = AskToContinue(owner, MESSAGE_CANNOT_WRITE_VALUE, name, shown, SystemErrorText(result));
        } else {
            const char* fields[3] = { rootText, key, name };
            AppendLogFields(g_log.logFile, LOG_REGISTRY_VALUE, fields, LOG_REGISTRY_VALUE_FIELDS, !existed);
        }
        RegCloseKey(handle);
    }
    FreeMem(shown);
    FreeMem(name);
    FreeMem(key);
    FreeMem(data);
    return goOn;
}

BOOL InstallIniLine(const char* line, HWND owner)
{
    SplitExpanded(line, FALSE);
    char* file = DupString(CsvField(0), 0);
    char* section = DupString(CsvField(1), 0);
    char* key = *CsvField(2) ? DupString(CsvField(2), 0) : 0;
    const char* valueField = CsvField(3);
    const char* append = CsvField(4);
    char* value = *valueField ? DupString(valueField, 0) : 0;
    BOOL goOn = TRUE;
    if (!PathExists(file)) {
        char* logged = 0;
        if (FindChar(file, '\\', -1, TRUE)) {
            char* folder = ParentPath(file);
            goOn = CreateFolderChain(folder, g_log.logFile, owner);
            FreeMem(folder);
            logged = DupString(file, 0);
        } else {
            char* windows = ExpandFolderMacros("<Windows>");
            if (*windows)
                logged = CombinePath(windows, file);
            FreeMem(windows);
        }
        if (goOn && logged)
            AppendLogLine(g_log.logFile, LOG_FILE, logged, TRUE, FALSE);
        FreeMem(logged);
    }
    if (goOn && *append && *append != '0') {
        enum { PROFILE_TEXT_SIZE = 32768 };
        char* joined = (char*)AllocMem(PROFILE_TEXT_SIZE);
        DWORD length = GetPrivateProfileStringA(section, key, "", joined, PROFILE_TEXT_SIZE - 1, file);
        // Whatever would pass the profile functions' limit is cut off.
        lstrcpynA(joined + length, valueField, PROFILE_TEXT_SIZE - 1 - length);
        FreeMem(value);
        value = joined;
    }
    if (goOn)
        WritePrivateProfileStringA(section, key, value, file);
    FreeMem(value);
    FreeMem(key);
    FreeMem(section);
    FreeMem(file);
    return goOn;
}

static BOOL WriteText(const char* key, const char* name, const char* text, DWORD type)
{
    return !WriteRegistryValue(HKEY_CLASSES_ROOT, key, name, type, text, lstrlenA(text) + 1);
}

static void LogAssociationKey(const char* key)
{
    // Root number 0: HKEY_CLASSES_ROOT; "1": with all it holds.
    const char* fields[3] = { "0", key, "1" };
    AppendLogFields(g_log.logFile, LOG_REGISTRY_KEY, fields, 3, TRUE);
}

BOOL CreateAssociation(const char* extension, const char* progId, const char* contentType, const char* description,
                       const char* infoTip, const char* command, const char* iconFile, int iconIndex)
{
    if (!WriteText(extension, 0, progId, REG_SZ))
        return FALSE;
    LogAssociationKey(extension);
    // No content type given: no value, rather than an empty one that names none.
    if (*contentType && !WriteText(extension, "Content Type", contentType, REG_SZ))
        return FALSE;
    if (*description && !WriteText(progId, 0, description, REG_SZ))
        return FALSE;
    if (*infoTip && !WriteText(progId, "InfoTip", infoTip, REG_EXPAND_SZ))
        return FALSE;
    if (*command) {
        char* key = CombinePath(progId, "shell\\open\\command");
        BOOL written = WriteText(key, 0, command, REG_SZ);
        FreeMem(key);
        if (!written)
            return FALSE;
    }
    BOOL result = TRUE;
    if (*iconFile) {
        char* key = CombinePath(progId, "DefaultIcon");
        char* icon = (char*)AllocMem(lstrlenA(iconFile) + 16);
        wsprintfA(icon, "%s,%i", iconFile, iconIndex);
        result = WriteText(key, 0, icon, REG_SZ);
        FreeMem(icon);
        FreeMem(key);
    }
    if (result) {
        SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, 0, 0);
        LogAssociationKey(progId);
    }
    return result;
}

BOOL InstallAssociationLine(const char* line, HWND owner)
{
    SplitExpanded(line, FALSE);
    char* columns[7];
    for (int i = 0; i < 7; i++)
        columns[i] = DupString(CsvField(i), 0);
    int iconIndex = ParseNumber(CsvField(7));
    BOOL goOn = CreateAssociation(columns[0], columns[1], columns[2], columns[3], columns[4], columns[5], columns[6],
                                  iconIndex) ||
                AskToContinue(owner, MESSAGE_CANNOT_REGISTER_TYPE, columns[0], 0, 0);
    for (int i = 0; i < 7; i++)
        FreeMem(columns[i]);
    return goOn;
}

DWORD UpdateSharedDllCount(const char* path, BOOL decrement)
{
    DWORD type;
    DWORD count = 0;
    BYTE* data = ReadRegistryValue(HKEY_LOCAL_MACHINE, kSharedDllsKey, path, &type);
    if (data)
        MoveMemory(&count, data, 4);
    FreeMem(data);
    if (!decrement)
        count++;
    else if (count)
        count--;
    if (decrement && !count)
        DeleteRegistryValue(HKEY_LOCAL_MACHINE, kSharedDllsKey, path, FALSE);
    else
        WriteRegistryValue(HKEY_LOCAL_MACHINE, kSharedDllsKey, path, REG_DWORD, &count, 4);
    return count;
}
