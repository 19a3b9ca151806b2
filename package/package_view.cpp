// Read access to the file data behind the image through a sliding window on
// a mapping of the program's own file: a package of any size the format
// allows (offsets to 4 GiB past the image) costs one window of address space
// and of working set, never the whole file.
#include "package.h"

// Views start on the allocation granularity, 64 KiB on every Windows release.
enum { VIEW_ALIGNMENT = 0x10000, VIEW_SIZE = 0x800000 };

static HANDLE s_mapping;
static BYTE* s_view;
static ULONGLONG s_viewStart, s_viewEnd, s_fileSize;

BOOL OpenPackageView()
{
    DWORD high;
    DWORD low = GetFileSize(g_package.moduleFile, &high);
    s_fileSize = (ULONGLONG)high << 32 | low;
    s_mapping = CreateFileMappingA(g_package.moduleFile, 0, PAGE_READONLY, 0, 0, 0);
    return s_mapping != 0;
}

void ClosePackageView()
{
    if (s_view)
        UnmapViewOfFile(s_view);
    if (s_mapping)
        CloseHandle(s_mapping);
    s_view = 0;
    s_mapping = 0;
}

const BYTE* PackageBytes(ULONGLONG offset, DWORD length)
{
    if (!s_mapping || offset > s_fileSize || length > s_fileSize - offset)
        return 0;
    if (!s_view || offset < s_viewStart || offset + length > s_viewEnd) {
        if (s_view)
            UnmapViewOfFile(s_view);
        s_viewStart = offset & ~(ULONGLONG)(VIEW_ALIGNMENT - 1);
        ULONGLONG rest = s_fileSize - s_viewStart;
        DWORD size = rest < VIEW_SIZE ? (DWORD)rest : VIEW_SIZE;
        s_viewEnd = s_viewStart + size;
        s_view = (BYTE*)MapViewOfFile(s_mapping, FILE_MAP_READ, (DWORD)(s_viewStart >> 32), (DWORD)s_viewStart, size);
        if (!s_view || offset + length > s_viewEnd)
            return 0;
    }
    return s_view + (DWORD)(offset - s_viewStart);
}

const char* PackageString(ULONGLONG offset, DWORD limit)
{
    if (limit > PACKAGE_STRING_LIMIT)
        limit = PACKAGE_STRING_LIMIT;
    const char* text = (const char*)PackageBytes(offset, limit);
    for (DWORD i = 0; text && i < limit; i++)
        if (!text[i])
            return text;
    return 0;
}
