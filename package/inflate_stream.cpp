// InflateStream: every compressed stream of a package goes through here. The
// builder's streams end with a sync flush and no trailer, so the input is fed
// in chunks until it is used up, then one last call with no input.
#include "package.h"
#include <commctrl.h>
#include "../zlib_config.h"

// zlib's default allocators, built with MY_ZCALLOC, draw on the private heap.
extern "C" voidpf zcalloc(voidpf, unsigned items, unsigned size)
{
    return AllocMem(items * size);
}

extern "C" void zcfree(voidpf, voidpf p)
{
    FreeMem(p);
}

int InflateStream(const BYTE* source, DWORD sourceLength, BYTE* target, DWORD capacity,
                  HWND progressBar, DWORD progressTotal)
{
    z_stream stream;
    ZeroMem(&stream, sizeof(stream));
    stream.next_out = target;
    stream.avail_out = capacity;
    if (inflateInit(&stream) != Z_OK)
        return -1;
    DWORD start = progressBar ? (DWORD)SendMessageA(progressBar, PBM_GETPOS, 0, 0) : 0;
    DWORD lastSent = start;
    DWORD consumed = 0;
    for (;;) {
        DWORD chunk = sourceLength - consumed < 4096 ? sourceLength - consumed : 4096;
        stream.next_in = (Bytef*)source + consumed;
        stream.avail_in = chunk;
        int result = inflate(&stream, chunk ? Z_NO_FLUSH : Z_FINISH);
        consumed += chunk;
        if (progressBar && progressTotal) {
            // Clamped so that a stream longer than the total cannot overflow the division.
            DWORD position = start + MulDivFloor(consumed < progressTotal ? consumed : progressTotal, 100, progressTotal);
            if (position != lastSent) {
                SendMessageA(progressBar, PBM_SETPOS, position, 0);
                lastSent = position;
            }
        }
        if (result == Z_STREAM_ERROR || result == Z_DATA_ERROR || result == Z_NEED_DICT || !chunk)
            break;
    }
    inflateEnd(&stream);
    return (int)stream.total_out;
}
