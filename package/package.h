// The package appended behind the runtime image: self-check, script loading,
// and the one inflate routine for every compressed stream.
#pragma once
#include "../support/support.h"
#include "../zlib_config.h"
#include "package_format.h"

// The package as start-up opens it and LoadPackage finds it: the program's
// own file, where the package starts (0: none), its header and the script.
struct Package {
    HANDLE moduleFile;
    DWORD offset;
    PackageHeader header;
    BYTE* script;
    DWORD scriptSize;
};
extern Package g_package;

enum PackageResult { PACKAGE_LOADED, PACKAGE_ABSENT, PACKAGE_FAILED };

// Reads the DOS header; without a package returns PACKAGE_ABSENT. Otherwise
// checks that the package offset and the PackageHeader fit the file,
// verifies the checksum and loads the script into g_package, showing the failure
// message itself.
PackageResult LoadPackage();
// The damaged-package message, for a package whose script cannot be shown.
void ReportDamagedPackage();

// The file data through a sliding view of the program's own file.
enum { PACKAGE_STRING_LIMIT = 4096, PACKAGE_CHUNK_LIMIT = 0x400000 };
BOOL OpenPackageView();
void ClosePackageView();
// LENGTH bytes (at most PACKAGE_CHUNK_LIMIT) at file OFFSET; null when they
// lie beyond the file or cannot be mapped. Valid until the next call.
const BYTE* PackageBytes(ULONGLONG offset, DWORD length);
// A NUL-terminated string at OFFSET within LIMIT bytes (at most
// PACKAGE_STRING_LIMIT counted); null when it does not end there.
const char* PackageString(ULONGLONG offset, DWORD limit);

// Inflates a zlib stream that INPUT hands out piece by piece (0 at its end)
// and passes OUTPUT what comes out, at most 32 KiB at a time; OUTPUT stops
// the inflation by returning non-zero. Z_DATA_ERROR for a damaged stream,
// Z_MEM_ERROR; else Z_BUF_ERROR when the input ended or OUTPUT stopped, or
// Z_STREAM_END after a final block.
int InflatePieces(in_func input, void* inputContext, out_func output, void* outputContext);
// The whole stream into TARGET: the bytes written, or -1 without memory.
int InflateStream(const BYTE* source, DWORD sourceLength, BYTE* target, DWORD capacity,
                  HWND progressBar, DWORD progressTotal);
