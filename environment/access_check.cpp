// Whether the user may write to a folder or registry key, through ADVAPI32's
// security functions looked up at run time (Windows 95 has none).
#include "environment.h"
#include <aclapi.h>

typedef VOID(WINAPI* MapGenericMaskProc)(PDWORD, PGENERIC_MAPPING);
typedef BOOL(WINAPI* AccessCheckProc)(PSECURITY_DESCRIPTOR, HANDLE, DWORD, PGENERIC_MAPPING, PPRIVILEGE_SET,
                                      LPDWORD, LPDWORD, LPBOOL);
typedef DWORD(WINAPI* GetNamedSecurityInfoProc)(LPCSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID*, PSID*, PACL*,
                                                PACL*, PSECURITY_DESCRIPTOR*);

static HMODULE s_advapi;
static struct {
    MapGenericMaskProc mapGenericMask;
    AccessCheckProc accessCheck;
    GetNamedSecurityInfoProc getNamedSecurityInfo;
} s_security;

BOOL LoadAccessCheckFunctions()
{
    if (s_security.mapGenericMask || IsWindows95())
        return TRUE;
    static const char kNames[] = "MapGenericMask\0AccessCheck\0GetNamedSecurityInfoA\0";
    // Where each function of kNames goes.
    static FARPROC* const kSlots[] = { (FARPROC*)&s_security.mapGenericMask, (FARPROC*)&s_security.accessCheck,
                                       (FARPROC*)&s_security.getNamedSecurityInfo };
    FARPROC* const* slot = kSlots;
    for (const char* name = kNames; *name; name += lstrlenA(name) + 1, slot++)
        if (!(**slot = SystemFunction(&s_advapi, "ADVAPI32.DLL", name))) {
            UnloadAccessCheckFunctions();
            return FALSE;
        }
    return TRUE;
}

void UnloadAccessCheckFunctions()
{
    if (s_advapi)
        FreeLibrary(s_advapi);
    s_advapi = 0;
    ZeroMem(&s_security, sizeof(s_security));
}

DWORD CheckObjectAccess(HANDLE token, const char* name, SE_OBJECT_TYPE type, DWORD desired, BOOL* allowed)
{
    *allowed = TRUE;
    if (IsWindows95())
        return 0;
    if (!s_security.mapGenericMask)
        return 1;
    PSID owner, group;
    PACL dacl;
    PSECURITY_DESCRIPTOR descriptor = 0;
    DWORD result = s_security.getNamedSecurityInfo(name, type, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION
                                                   | DACL_SECURITY_INFORMATION, &owner, &group, &dacl, 0, &descriptor);
    if (result)
        return result;
    static const GENERIC_MAPPING kFileMapping = { FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                                                  FILE_ALL_ACCESS };
    static const GENERIC_MAPPING kKeyMapping = { KEY_READ, KEY_WRITE, KEY_EXECUTE, KEY_ALL_ACCESS };
    GENERIC_MAPPING mapping = type == SE_REGISTRY_KEY ? kKeyMapping : kFileMapping;
    s_security.mapGenericMask(&desired, &mapping);
    // Windows answers an empty privilege set with ERROR_INSUFFICIENT_BUFFER
    // and the length it needs; Wine faults on it (ERROR_NOACCESS), so the
    // first call offers room for one set.
    PRIVILEGE_SET first;
    DWORD granted, length = sizeof(first);
    if (s_security.accessCheck(descriptor, token, desired, &mapping, &first, &length, &granted, allowed)) {
        result = 0;
    } else if ((result = GetLastError()) == ERROR_INSUFFICIENT_BUFFER) {
        PRIVILEGE_SET* privileges = (PRIVILEGE_SET*)AllocMem(length);
        result = s_security.accessCheck(descriptor, token, desired, &mapping, privileges, &length, &granted, allowed)
                     ? 0
                     : GetLastError();
        FreeMem(privileges);
    }
    LocalFree(descriptor);
    return result;
}
