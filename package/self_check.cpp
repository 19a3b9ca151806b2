// Self-check of the program's own file and loading of the installation script.
#include "package.h"
#include "../zlib_config.h"

static const char kCaption[] = "Quillset";

static const char kDamaged[] = "安装文件已损坏，无法继续安装！";

static PackageResult Fail(const char* message)
{
    ShowMessage1(0, kCaption, message, 0, MB_ICONERROR);
    return PACKAGE_FAILED;
}

void ReportDamagedPackage()
{
    Fail(kDamaged);
}

static BOOL ReadAt(DWORD offset, void* buffer, DWORD size, DWORD* got)
{
    SetFilePointer(g_app.moduleFile, offset, 0, FILE_BEGIN);
    return ReadFile(g_app.moduleFile, buffer, size, got, 0);
}

PackageResult LoadPackage()
{
    BYTE header[DOS_HEADER_SIZE];
    DWORD got = 0;
    if (!ReadAt(0, header, sizeof(header), &got) || got < sizeof(header))
        return Fail("Error reading the module file header.");
    g_app.packageOffset = *(WORD*)(header + DOS_PACKAGE_OFFSET);
    if (!g_app.packageOffset)
        return PACKAGE_ABSENT;

    DWORD size = GetFileSize(g_app.moduleFile, 0);
    if (size == INVALID_FILE_SIZE)
        return Fail("Error retrieving the module file size.");
    // A file shorter than the checked start has nothing to fold: the sum stays 1.
    DWORD remaining = size > CHECKSUM_START ? size - CHECKSUM_START : 0;
    DWORD sum = adler32(0, 0, 0);
    SetFilePointer(g_app.moduleFile, CHECKSUM_START, 0, FILE_BEGIN);
    while (remaining) {
        BYTE piece[512];
        DWORD want = remaining < sizeof(piece) ? remaining : sizeof(piece);
        if (!ReadFile(g_app.moduleFile, piece, want, &got, 0) || got != want)
            return Fail("警告:校验文件的CRC时发现错误!");
        sum = adler32(sum, piece, want);
        remaining -= want;
    }
    if (sum != *(DWORD*)(header + DOS_CHECKSUM))
        return Fail(kDamaged);

    // The checksum has covered these bytes; the reads are not checked again.
    ReadAt(g_app.packageOffset, &g_app.package, sizeof(g_app.package), &got);
    DWORD scriptSize = 0;
    ReadAt(g_app.packageOffset + g_app.package.scriptOffset, &scriptSize, 4, &got);
    DWORD readSize = *(DWORD*)(header + DOS_SCRIPT_READ_SIZE);
    BYTE* compressed = (BYTE*)AllocMem(readSize);
    g_app.script = (BYTE*)AllocMem(scriptSize);
    if (!compressed || !g_app.script) {
        FreeMem(compressed);
        return Fail(kDamaged);
    }
    got = 0;
    ReadFile(g_app.moduleFile, compressed, readSize, &got, 0);
    int produced = InflateStream(compressed, got, g_app.script, scriptSize, 0, 0);
    g_app.scriptSize = produced > 0 ? produced : 0;
    FreeMem(compressed);
    return PACKAGE_LOADED;
}
