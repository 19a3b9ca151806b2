// The private heap: every allocation of the runtime comes from it, zero-filled,
// so that a fresh buffer is always a valid empty string.
#include "support.h"

static HANDLE s_heap;

BOOL CreatePrivateHeap()
{
    if (!s_heap)
        s_heap = HeapCreate(0, 0, 0);
    return s_heap != 0;
}

void DestroyPrivateHeap()
{
    if (s_heap)
        HeapDestroy(s_heap);
    s_heap = 0;
}

void* AllocMem(DWORD size)
{
    return HeapAlloc(s_heap, HEAP_ZERO_MEMORY, size);
}

void FreeMem(void* p)
{
    // A pointer the heap does not know is ignored, never passed to HeapFree.
    if (p && HeapValidate(s_heap, 0, p))
        HeapFree(s_heap, 0, p);
}

void* ResizeMem(void* p, DWORD size)
{
    if (!size) {
        FreeMem(p);
        return 0;
    }
    if (!p)
        return AllocMem(size);
    return HeapReAlloc(s_heap, HEAP_ZERO_MEMORY, p, size);
}

void MoveMemory(void* dst, const void* src, DWORD n)
{
    char* d = (char*)dst;
    const char* s = (const char*)src;
    if (d < s) {
        while (n--)
            *d++ = *s++;
    } else if (d > s) {
        while (n--)
            d[n] = s[n];
    }
}

void ZeroMem(void* p, DWORD n)
{
    char* d = (char*)p;
    while (n--)
        *d++ = 0;
}
