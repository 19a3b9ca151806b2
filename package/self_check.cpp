// Self-check of the program's own file and loading of the installation script.
#include "package.h"

Package g_package;

// Adler-32 as zlib defines it, for the self-check, which folds every byte of
// the package before the wizard appears. Sixteen bytes a step as zlib's own
// loop does (about 190 bytes more than a plain loop, several times as fast:
// under Wine 1.2 s less before the wizard of a 500 MB package appears);
// sums stay below 2^32 for 5,552 bytes between the reductions.
#define ADLER_STEP(i) a += bytes[i]; b += a
static DWORD Adler32(DWORD adler, const BYTE* bytes, DWORD length)
{
    DWORD a = adler & 0xFFFF, b = adler >> 16;
    while (length) {
        DWORD run = length < 5552 ? length : 5552;
        length -= run;
        for (; run >= 16; run -= 16, bytes += 16) {
            ADLER_STEP(0); ADLER_STEP(1); ADLER_STEP(2); ADLER_STEP(3);
            ADLER_STEP(4); ADLER_STEP(5); ADLER_STEP(6); ADLER_STEP(7);
            ADLER_STEP(8); ADLER_STEP(9); ADLER_STEP(10); ADLER_STEP(11);
            ADLER_STEP(12); ADLER_STEP(13); ADLER_STEP(14); ADLER_STEP(15);
        }
        for (; run; run--) {
            ADLER_STEP(0);
            bytes++;
        }
        a %= 65521;
        b %= 65521;
    }
    return b << 16 | a;
}
#undef ADLER_STEP

static const char kDamaged[] = "安装文件已损坏，无法继续安装！";

static PackageResult Fail(const char* message)
{
    ShowMessage1(0, kRuntimeCaption, message, 0, MB_ICONERROR);
    SetExitCode(ERROR_INSTALL_PACKAGE_INVALID);
    return PACKAGE_FAILED;
}

void ReportDamagedPackage()
{
    Fail(kDamaged);
}

static BOOL ReadAt(ULONGLONG offset, void* buffer, DWORD size, DWORD* got)
{
    LONG high = (LONG)(offset >> 32);   // without it the offset counts as signed: no script beyond 2 GiB
    SetFilePointer(g_package.moduleFile, (LONG)offset, &high, FILE_BEGIN);
    return ReadFile(g_package.moduleFile, buffer, size, got, 0);
}

PackageResult LoadPackage()
{
    BYTE header[DOS_HEADER_SIZE];
    DWORD got = 0;
    if (!ReadAt(0, header, sizeof(header), &got) || got < sizeof(header))
        return Fail("Error reading the module file header.");
    ULONGLONG p = g_package.offset = ReadPackageOffset(header);
    if (!p)
        return PACKAGE_ABSENT;

    // The data behind the image may reach 4 GiB, the file a little more.
    DWORD sizeHigh;
    DWORD size = GetFileSize(g_package.moduleFile, &sizeHigh);
    if (size == INVALID_FILE_SIZE && GetLastError())
        return Fail("Error retrieving the module file size.");
    ULONGLONG total = (ULONGLONG)sizeHigh << 32 | size;
    // Pieces of 64 KiB: a package of hundreds of megabytes in 512-byte reads
    // took a second of system calls under Wine before the wizard appeared.
    enum { CHECK_PIECE = 0x10000 };

    // Signing sets the PE CheckSum and the security entry and appends the
    // certificate table to the package: the sum takes both fields as the
    // builder wrote them, zeros, and ends where the table starts. A table
    // that does not end the file is damage; from here on TOTAL counts the
    // bytes before it. The CheckSum counts as zero unsigned too: removing a
    // signature rewrites it. Headers beyond the first piece (no linked image
    // has them there) are taken as they are.
    DWORD peAt = *(DWORD*)(header + DOS_PE_HEADER);
    BYTE pe[PE_SIGNED_HEADERS];
    DWORD security = 0;
    if (peAt - CHECKSUM_START <= CHECK_PIECE - PE_SIGNED_HEADERS && ReadAt(peAt, pe, sizeof(pe), &got)
        && got == sizeof(pe))
        security = SecurityEntryOffset(pe);
    DWORD tableAt = security ? *(DWORD*)(pe + security) : 0;
    if (tableAt) {
        if ((ULONGLONG)tableAt + *(DWORD*)(pe + security + 4) != total)
            return Fail(kDamaged);
        total = tableAt;
    }
    // The checksum covers neither word of P: a flipped bit there must not
    // send the reads below outside the checked bytes or the uninstaller's
    // copy of the image below its DOS header. The sum below thus starts
    // before its end.
    if (p < DOS_HEADER_SIZE || p + PACKAGE_HEADER_SIZE > total)
        return Fail(kDamaged);
    ULONGLONG remaining = total - CHECKSUM_START;
    DWORD sum = 1;
    SetFilePointer(g_package.moduleFile, CHECKSUM_START, 0, FILE_BEGIN);
    BYTE* piece = (BYTE*)AllocMem(CHECK_PIECE);
    while (remaining) {
        DWORD want = remaining < CHECK_PIECE ? (DWORD)remaining : CHECK_PIECE;
        if (!piece || !ReadFile(g_package.moduleFile, piece, want, &got, 0) || got != want) {
            FreeMem(piece);
            return Fail("警告:校验文件的CRC时发现错误!");
        }
        if (security) {   // the first piece holds both fields
            BYTE* headers = piece + peAt - CHECKSUM_START;
            *(DWORD*)(headers + PE_CHECKSUM) = 0;
            *(DWORD*)(headers + security) = *(DWORD*)(headers + security + 4) = 0;
            security = 0;
        }
        sum = Adler32(sum, piece, want);
        remaining -= want;
    }
    FreeMem(piece);
    if (sum != *(DWORD*)(header + DOS_CHECKSUM))
        return Fail(kDamaged);

    // The checksum has covered these bytes; the reads are not checked again,
    // but the offsets they hold must lie inside the checked bytes: a
    // certificate table that starts before the script block is damage.
    PackageHeader* package = &g_package.header;
    ReadAt(p, package, sizeof(*package), &got);
    if (package->dataOffset < PACKAGE_HEADER_SIZE || package->dataOffset > package->scriptOffset
        || package->scriptOffset > total - p - SCRIPT_SIZE_FIELD)
        return Fail(kDamaged);
    DWORD scriptSize = 0;
    ReadAt(p + package->scriptOffset, &scriptSize, SCRIPT_SIZE_FIELD, &got);
    DWORD readSize = *(DWORD*)(header + DOS_SCRIPT_READ_SIZE);
    BYTE* compressed = (BYTE*)AllocMem(readSize);
    g_package.script = (BYTE*)AllocMem(scriptSize);
    if (!compressed || !g_package.script) {
        FreeMem(compressed);
        return Fail(kDamaged);
    }
    // The read may take in the builder's padding or a certificate table behind
    // the stream: the script is complete before them and nothing more fits it.
    got = 0;
    ReadFile(g_package.moduleFile, compressed, readSize, &got, 0);
    int produced = InflateStream(compressed, got, g_package.script, scriptSize, 0, 0);
    g_package.scriptSize = produced > 0 ? produced : 0;
    FreeMem(compressed);
    return PACKAGE_LOADED;
}
