// A helper the environment tests start with Wine set to another Windows
// release (or with libraries switched off): it reports, one "key=value" line
// each, what the runtime's probes see in this process.
#include <windows.h>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include "environment/environment.h"

namespace {

void Line(const char* key, const char* value)
{
    std::printf("%s=%s\n", key, value ? value : "(null)");
}

void Number(const char* key, long value)
{
    std::printf("%s=%ld\n", key, value);
}

int Requirement(const char* windows)
{
    g_requirements.required[REQUIRED_WINDOWS] = (char*)windows;
    return CheckRequirements();
}

// Without the shutdown privilege (removed here for good), the restart must
// stop before ExitWindowsEx. Reported as "skip" when the privilege cannot be
// taken away, so that nothing can restart the session.
void ProbeRestart()
{
    HANDLE token;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    bool removed = OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)
                   && LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid);
    if (removed) {
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_REMOVED;
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
        removed = GetLastError() == ERROR_NOT_ALL_ASSIGNED;
        CloseHandle(token);
    }
    if (!removed) {
        Line("restart", "skip");
        return;
    }
    Number("restart", RestartWindows(FALSE));
}

}  // namespace

int main(int argc, char** argv)
{
    CreatePrivateHeap();
    LoadShellFolderFunctions();
    const char* mode = argc > 1 ? argv[1] : "version";
    if (!std::strcmp(mode, "directx")) {
        Number("directx", DetectDirectXVersion());
    } else if (!std::strcmp(mode, "restart")) {
        ProbeRestart();
    } else {
        g_requirements.windowsVersion = GetWindowsVersionCode();
        Number("code", g_requirements.windowsVersion);
        Number("nt", IsWindowsNT());
        Number("95", IsWindows95());
        for (const char* keyword : { "NT", "NT4", "98", "XP", "2003" }) {
            char key[16] = "require.";
            std::strcat(key, keyword);
            Number(key, Requirement(keyword));
        }
        // "NT" decides before every other requirement.
        g_requirements.requireAdministrator = TRUE;
        g_requirements.required[REQUIRED_IE] = (char*)"6.0SP1";
        g_requirements.required[REQUIRED_ACCESS] = (char*)"97";
        Number("require.NT.first", Requirement("NT"));
        for (int entry : { 1, 5, 27, 28 }) {
            char key[16];
            std::sprintf(key, "macro.%d", entry);
            Line(key, ResolveFolderMacro(entry));
        }
        for (int folder : { CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS, CSIDL_PERSONAL, CSIDL_COMMON_DOCUMENTS }) {
            char key[16], path[MAX_PATH];
            std::sprintf(key, "shell.%d", folder);
            Line(key, GetSpecialFolderPath(path, folder) ? path : "");
        }
    }
    std::fflush(stdout);
    return 0;
}
