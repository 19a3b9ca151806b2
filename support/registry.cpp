// Registry helpers over the ANSI registry API: roots by short name, values
// read into heap buffers, values written with their keys, keys deleted as trees.
#include "support.h"

// In root-number order: HKEY_CLASSES_ROOT + n.
static const char kRootNames[] = "HKCR\0HKCU\0HKLM\0HKU\0HKPD\0HKCC\0HKDD\0";

static HKEY RootKey(DWORD n)
{
    return (HKEY)(LONG_PTR)(LONG)(0x80000000u + n);   // sign-extended, as the SDK defines them
}

HKEY RootKeyFromName(const char* name)
{
    DWORD n = 0;
    for (const char* root = kRootNames; *root; root += lstrlenA(root) + 1, n++)
        if (SameText(root, name))
            return RootKey(n);
    return 0;
}

HKEY RootKeyFromNumber(const char* number)
{
    return RootKey(ParseNumber(number));
}

DWORD RootNumber(HKEY root)
{
    return (DWORD)(ULONG_PTR)root - 0x80000000u;
}

const char* RootKeyName(HKEY root)
{
    DWORD n = RootNumber(root);
    const char* name = kRootNames;
    for (; *name && n; n--)
        name += lstrlenA(name) + 1;
    return name;
}

static const char* SkipBackslash(const char* path)
{
    return path && *path == '\\' ? path + 1 : path;
}

BYTE* ReadRegistryData(HKEY key, const char* valueName, DWORD* type)
{
    DWORD size = 0;
    if (RegQueryValueExA(key, valueName, 0, type, 0, &size) || !size)
        return 0;
    // Two bytes beyond the value: a string stored without its NUL (or a
    // multi-string without its final one) still ends inside the buffer.
    BYTE* data = (BYTE*)AllocMem(size + 2);
    if (data && RegQueryValueExA(key, valueName, 0, type, data, &size)) {
        FreeMem(data);
        data = 0;
    }
    return data;
}

BOOL RegistryEntryExists(HKEY root, const char* path, const char* valueName)
{
    HKEY key;
    if (RegOpenKeyExA(root, SkipBackslash(path), 0, KEY_QUERY_VALUE, &key))
        return FALSE;
    BOOL exists = !valueName || !RegQueryValueExA(key, valueName, 0, 0, 0, 0);
    RegCloseKey(key);
    return exists;
}

BYTE* ReadRegistryValue(HKEY root, const char* path, const char* valueName, DWORD* type)
{
    HKEY key;
    if (RegOpenKeyExA(root, SkipBackslash(path), 0, KEY_QUERY_VALUE, &key))
        return 0;
    BYTE* data = ReadRegistryData(key, valueName, type);
    RegCloseKey(key);
    return data;
}

LONG WriteRegistryValue(HKEY root, const char* path, const char* valueName, DWORD type, const void* data, DWORD size)
{
    HKEY key;
    LONG result = RegCreateKeyExA(root, SkipBackslash(path), 0, (LPSTR) "", REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                  0, &key, 0);
    if (result)
        return result;
    result = RegSetValueExA(key, valueName, 0, type, (const BYTE*)data, size);
    RegCloseKey(key);
    return result;
}

LONG DeleteRegistryValue(HKEY root, const char* path, const char* valueName, BOOL deleteEmptyKey)
{
    HKEY key;
    path = SkipBackslash(path);
    LONG result = RegOpenKeyExA(root, path, 0, DELETE | KEY_SET_VALUE | KEY_QUERY_VALUE, &key);
    if (result)
        return result;
    result = RegDeleteValueA(key, valueName);
    if (deleteEmptyKey) {
        DWORD subkeys = 0, values = 0;
        LONG query = RegQueryInfoKeyA(key, 0, 0, 0, &subkeys, 0, 0, &values, 0, 0, 0, 0);
        if (!query && !subkeys && !values) {
            RegCloseKey(key);
            return RegDeleteKeyA(root, path);
        }
        if (query)
            result = query;
    }
    RegCloseKey(key);
    return result;
}

LONG DeleteRegistryKey(HKEY root, const char* path, BOOL force)
{
    while (path && *path == '\\')
        path++;
    HKEY key;
    LONG result = RegOpenKeyExA(root, path, 0, DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, &key);
    if (result)
        return result;
    DWORD subkeys = 0, values = 0, longest = 0;
    result = RegQueryInfoKeyA(key, 0, 0, 0, &subkeys, &longest, 0, &values, 0, 0, 0, 0);
    if (result || ((subkeys || values) && !force)) {
        RegCloseKey(key);
        return result;
    }
    char* name = (char*)AllocMem(longest + 1);
    for (;;) {
        DWORD length = longest + 1;
        if (!name || RegEnumKeyExA(key, 0, name, &length, 0, 0, 0, 0) || DeleteRegistryKey(key, name, TRUE))
            break;
    }
    FreeMem(name);
    RegCloseKey(key);
    return RegDeleteKeyA(root, path);
}
