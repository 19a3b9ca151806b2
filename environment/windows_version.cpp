// The Windows release as one code on a linear scale, and the two family tests.
#include "environment.h"

static BOOL QueryVersion(OSVERSIONINFOEXA* info, DWORD size)
{
    ZeroMem(info, sizeof(*info));
    info->dwOSVersionInfoSize = size;
    return GetVersionExA((OSVERSIONINFOA*)info);
}

int GetWindowsVersionCode()
{
    OSVERSIONINFOEXA info;
    if (!QueryVersion(&info, sizeof(OSVERSIONINFOEXA)) && !QueryVersion(&info, sizeof(OSVERSIONINFOA)))
        return WINDOWS_UNKNOWN;
    DWORD version = info.dwMajorVersion << 8 | info.dwMinorVersion;
    // The service-pack text of the 9x family tells the second editions
    // apart: " C" for 95 OSR2, " A " for 98 SE (also what Wine reports).
    char edition = info.szCSDVersion[1];
    if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        if (version == 0x400)
            return edition == 'C' ? WINDOWS_95_OSR2 : WINDOWS_95;
        if (version == 0x40A)
            return edition == 'A' ? WINDOWS_98_SE : WINDOWS_98;
        if (version == 0x45A)
            return WINDOWS_ME;
    } else if (info.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        if (info.dwMajorVersion == 4 || version == 0x333)
            return WINDOWS_NT4;
        if (version >= 0x500 && version <= 0x502)
            return WINDOWS_2000 + (version & 0xFF);
        // Vista and every later release (Wine reports 6.1 by default; Windows
        // 8 and later report 6.2 to a program without a compatibility list)
        // rank above Server 2003, so that every at-least test holds there.
        if (info.dwMajorVersion >= 6)
            return WINDOWS_VISTA_OR_LATER;
    }
    return WINDOWS_UNKNOWN;
}

static DWORD PlatformVersion()
{
    OSVERSIONINFOEXA info;
    if (!QueryVersion(&info, sizeof(OSVERSIONINFOA)))
        return 0;
    return info.dwPlatformId << 16 | info.dwMajorVersion << 8 | info.dwMinorVersion;
}

BOOL IsWindowsNT()
{
    return PlatformVersion() >> 16 == VER_PLATFORM_WIN32_NT;
}

BOOL IsWindows95()
{
    return PlatformVersion() == (VER_PLATFORM_WIN32_WINDOWS << 16 | 0x400);
}
