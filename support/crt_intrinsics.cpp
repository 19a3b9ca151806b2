// memcpy and memset for the runtime image only: zlib calls them and gcc emits
// them for structure copies; the test builds take them from the C runtime.
#include <stddef.h>

extern "C" void* memcpy(void* dst, const void* src, size_t n)
{
    char* d = (char*)dst;
    const char* s = (const char*)src;
    while (n--)
        *d++ = *s++;
    return dst;
}

extern "C" void* memset(void* dst, int c, size_t n)
{
    char* d = (char*)dst;
    while (n--)
        *d++ = (char)c;
    return dst;
}
