// Restarting Windows when files can only be replaced or deleted at the next
// start: the shutdown privilege first on NT, then ExitWindowsEx, then the
// system's shutdown tool.
#include "environment.h"

BOOL RestartWindows(BOOL force)
{
    if (IsWindowsNT()) {
        HANDLE token;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
            return FALSE;
        TOKEN_PRIVILEGES privileges;
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        // AdjustTokenPrivileges succeeds without the privilege; only the last
        // error (ERROR_NOT_ALL_ASSIGNED) tells.
        BOOL held = LookupPrivilegeValueA(0, "SeShutdownPrivilege", &privileges.Privileges[0].Luid)
                    && (AdjustTokenPrivileges(token, FALSE, &privileges, 0, 0, 0), GetLastError() == 0);
        CloseHandle(token);
        if (!held)
            return FALSE;
    }
    if (ExitWindowsEx(EWX_REBOOT | (force ? EWX_FORCE : 0),
                      SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_INSTALLATION))
        return TRUE;
    return (INT_PTR)ShellExecuteA(0, 0, "shutdown.exe", "-r -t 00", 0, SW_SHOW) > 32;
}
