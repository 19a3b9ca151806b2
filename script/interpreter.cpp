// Walks the decompressed script record by record. The script is untrusted:
// a record that runs past the end of the buffer ends the walk, as do a
// missing terminator and a malformed record.
#include "script.h"

void InterpretScript(const BYTE* script, DWORD size)
{
    DWORD at = 0;
    while (script && size - at >= 4) {
        int type = *(const int*)(script + at);
        if (type == RECORD_END || size - at < RECORD_HEADER_SIZE)
            return;
        DWORD length = *(const DWORD*)(script + at + 4);
        at += RECORD_HEADER_SIZE;
        if (length > size - at || !InterpretRecord(type, script + at, length))
            return;
        at += length;
    }
}
