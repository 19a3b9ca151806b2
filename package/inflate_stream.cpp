// Every compressed stream of a package goes through InflatePieces, zlib's
// callback interface: it inflates into a 32 KiB window of its own and hands
// each filled window to its caller, with no second copy and none of the
// buffer management that inflate() carries (about 1.2 KB of code less).
// The builder's streams end with a sync flush, no final block and no
// trailer, so a stream normally ends when its input does.
#include "package.h"
#include <commctrl.h>

// zlib's default allocators, built with MY_ZCALLOC, draw on the private heap.
extern "C" voidpf zcalloc(voidpf, unsigned items, unsigned size)
{
    return AllocMem(items * size);
}

extern "C" void zcfree(voidpf, voidpf p)
{
    FreeMem(p);
}

int InflatePieces(in_func input, void* inputContext, out_func output, void* outputContext)
{
    z_stream stream;
    ZeroMem(&stream, sizeof(stream));
    BYTE* window = (BYTE*)AllocMem(1 << MAX_WBITS);
    int result = Z_MEM_ERROR;
    if (window && inflateBackInit(&stream, MAX_WBITS, window) == Z_OK) {
        // The zlib header, checked as inflate() would: deflate, a window
        // zlib can hold, no preset dictionary. The builder writes no
        // Adler-32, so none is computed.
        unsigned length = input(inputContext, &stream.next_in);
        const BYTE* header = stream.next_in;
        result = Z_DATA_ERROR;
        if (length >= 2 && (header[0] & 0x8F) == Z_DEFLATED && !(header[1] & 0x20)
            && (header[0] * 256 + header[1]) % 31 == 0) {
            stream.next_in += 2;
            stream.avail_in = length - 2;
            result = inflateBack(&stream, input, inputContext, output, outputContext);
        }
        inflateBackEnd(&stream);
    }
    FreeMem(window);
    return result;
}

struct MemoryInflate {
    const BYTE* source;
    DWORD length, consumed;
    BYTE* target;
    DWORD capacity, produced;
    HWND progressBar;
    DWORD progressTotal, start, lastSent;
};

// At most 4096 bytes a call, so that the progress bar moves within a stream.
static unsigned NextChunk(void* context, unsigned char** next)
{
    MemoryInflate* m = (MemoryInflate*)context;
    DWORD chunk = m->length - m->consumed < 4096 ? m->length - m->consumed : 4096;
    *next = (unsigned char*)m->source + m->consumed;
    m->consumed += chunk;
    if (m->progressBar && m->progressTotal) {
        // Clamped so that a stream longer than the total cannot overflow the division.
        DWORD position = m->start + MulDivFloor(m->consumed < m->progressTotal ? m->consumed : m->progressTotal, 100,
                                                m->progressTotal);
        if (position != m->lastSent)
            SendMessageA(m->progressBar, PBM_SETPOS, m->lastSent = position, 0);
    }
    return chunk;
}

// What does not fit the target ends the stream there.
static int FillTarget(void* context, unsigned char* data, unsigned length)
{
    MemoryInflate* m = (MemoryInflate*)context;
    DWORD room = m->capacity - m->produced;
    DWORD taken = length < room ? length : room;
    MoveMemory(m->target + m->produced, data, taken);
    m->produced += taken;
    return taken != length;
}

int InflateStream(const BYTE* source, DWORD sourceLength, BYTE* target, DWORD capacity,
                  HWND progressBar, DWORD progressTotal)
{
    MemoryInflate m;
    ZeroMem(&m, sizeof(m));
    m.source = source;
    m.length = sourceLength;
    m.target = target;
    m.capacity = capacity;
    m.progressBar = progressBar;
    m.progressTotal = progressTotal;
    if (progressBar)
        m.start = m.lastSent = (DWORD)SendMessageA(progressBar, PBM_GETPOS, 0, 0);
    return InflatePieces(NextChunk, &m, FillTarget, &m) == Z_MEM_ERROR ? -1 : (int)m.produced;
}
