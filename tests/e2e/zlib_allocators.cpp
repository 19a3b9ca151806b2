// zlib here is built for the runtime's own allocators; the test side, which
// does not link the runtime, gives it the C library's.
#include <cstdlib>

extern "C" void* zcalloc(void*, unsigned items, unsigned size)
{
    return std::calloc(items, size);
}

extern "C" void zcfree(void*, void* p)
{
    std::free(p);
}
