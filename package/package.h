// The package appended behind the runtime image: self-check, script loading,
// and the one inflate routine for every compressed stream.
#pragma once
#include "../startup/app_state.h"

enum {
    DOS_PACKAGE_OFFSET = 0x12,   // u16: file offset of the PackageHeader, 0 = uninstaller
    DOS_SCRIPT_READ_SIZE = 0x1C, // u32: bytes read as the compressed script
    DOS_CHECKSUM = 0x24,         // u32: Adler-32 of the file from offset 40
    CHECKSUM_START = 40,
    DOS_HEADER_SIZE = 64,
};

enum PackageResult { PACKAGE_LOADED, PACKAGE_ABSENT, PACKAGE_FAILED };

// Reads the DOS header; without a package returns PACKAGE_ABSENT. Otherwise
// verifies the checksum and loads the script into g_app, showing the failure
// message itself.
PackageResult LoadPackage();
// The damaged-package message, for a package whose script cannot be shown.
void ReportDamagedPackage();

int InflateStream(const BYTE* source, DWORD sourceLength, BYTE* target, DWORD capacity,
                  HWND progressBar, DWORD progressTotal);
