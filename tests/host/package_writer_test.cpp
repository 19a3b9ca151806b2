// The package writer's layout, checked byte by byte against the format.
#include <gtest/gtest.h>
#include <filesystem>
#include <unistd.h>
#include <zlib.h>
#include "package_reader.h"

namespace fs = std::filesystem;
using namespace quillset;

namespace {

uint32_t U32(const Bytes& b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

Bytes Runtime(size_t n)
{
    Bytes image(n, 0x90);
    image[0] = 'M';
    image[1] = 'Z';
    return image;
}

Bytes Inflate(const uint8_t* data, size_t size)
{
    Bytes out;
    InflateLikeTheRuntime(data, size, [&](const uint8_t* d, size_t n) { out.insert(out.end(), d, d + n); });
    return out;
}

// The packages and their sources: a folder of the process's own, removed
// when the suite ends.
const struct Folder {
    fs::path path = fs::temp_directory_path() / ("quillset-writer-" + std::to_string(::getpid()));
    Folder() { fs::create_directories(path); }
    ~Folder() { fs::remove_all(path); }
} g_folder;

Bytes Write(const Bytes& runtime, const Bytes& script, const std::vector<GroupPlan>& groups = {})
{
    return WritePackageOf(runtime, script, groups, (g_folder.path / "out.exe").string());
}

TEST(PackageWriter, LayoutHeaderGroupsScriptAndChecksum)
{
    ScriptWriter script;
    script.record(RECORD_VARIABLE, { "%InstallPath%", "<ProgramFiles>\\Demo" });
    Bytes scriptBytes = script.finish();
    GroupPlan group;
    group.group.destination = "%InstallPath%";
    group.group.overwriteRule = 1;
    SourceFile dir;
    dir.entry.name = "docs";
    dir.entry.isFile = false;
    group.files = { dir, FileSource((g_folder.path / "a.txt").string(), "a.txt", std::string(1000, 'a'), 1) };
    Bytes package = Write(Runtime(4096), scriptBytes, { group });

    const size_t p = package[0x12] | package[0x13] << 8;
    EXPECT_EQ(p, 4096u);
    EXPECT_EQ(package[0x20] | package[0x21], 0) << "below 64 KiB the high word stays 0";
    EXPECT_EQ(U32(package, p), 12u);
    const uint32_t scriptOffset = U32(package, p + 4);
    EXPECT_EQ(U32(package, p + 8), 1000u);
    EXPECT_EQ(U32(package, p + 12), scriptOffset);          // the only group ends at the script
    EXPECT_EQ(U32(package, p + 16), 1u);
    size_t at = p + 12 + 20;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&package[at])), "%InstallPath%");
    at += 14;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&package[at])), "docs");
    at += 5;
    EXPECT_EQ(U32(package, at), 0u);
    EXPECT_EQ(package[at + 4], 0);
    at += 5 + 6;                                              // "a.txt\0"
    EXPECT_EQ(U32(package, at), 1u);
    EXPECT_EQ(package[at + 4], 3);                            // file, compressed
    EXPECT_EQ(U32(package, at + 5 + 32), 1000u);              // size low
    const uint32_t stored = U32(package, at + 5 + 44);
    const uint8_t* data = &package[at + 5 + 48];
    EXPECT_EQ(data[0], 0x78);
    EXPECT_EQ(data[1], 0xDA);
    EXPECT_EQ(0, memcmp(data + stored - 4, "\x00\x00\xFF\xFF", 4));
    EXPECT_EQ(Inflate(data, stored), Bytes(1000, 'a'));

    const size_t block = p + scriptOffset;
    EXPECT_EQ(U32(package, block), scriptBytes.size());
    EXPECT_EQ(U32(package, 0x1C), scriptBytes.size());
    EXPECT_EQ(Inflate(&package[block + 4], package.size() - block - 4), scriptBytes);
    EXPECT_EQ(U32(package, 0x24), Adler32(package.data() + 40, package.size() - 40));
}

TEST(PackageWriter, ScriptRecordsAndTerminator)
{
    ScriptWriter script;
    script.record(RECORD_LICENCE_TEXT, { "licence" });
    Bytes bytes = script.finish();
    ASSERT_EQ(bytes.size(), 8u + 8 + 4);
    EXPECT_EQ(U32(bytes, 0), 3u);
    EXPECT_EQ(U32(bytes, 4), 8u);
    EXPECT_EQ(U32(bytes, 16), 0xFFFFFFFFu);
}

// P is the image's size in both words of the DOS header; an image of a
// multiple of 64 KiB is padded so that the low word never reads 0.
TEST(PackageWriter, PackageOffsetAboveSixtyFourKibibytes)
{
    struct Case {
        size_t image;
        uint32_t p;
    } cases[] = { { 65535, 65535 }, { 65536, 65536 + PACKAGE_OFFSET_PADDING }, { 70000, 70000 },
                  { 3 * 65536, 3 * 65536 + PACKAGE_OFFSET_PADDING } };
    for (const Case& c : cases) {
        Bytes package = Write(Runtime(c.image), ScriptWriter().finish());
        EXPECT_EQ(package[0x12] | package[0x13] << 8, static_cast<int>(c.p & 0xFFFF)) << c.image;
        EXPECT_EQ(package[0x20] | package[0x21] << 8, static_cast<int>(c.p >> 16)) << c.image;
        EXPECT_EQ(PackageOffsetOf(package), c.p);
        EXPECT_EQ(Bytes(package.begin() + c.image, package.begin() + c.p), Bytes(c.p - c.image, 0));
        EXPECT_EQ(U32(package, c.p), 12u) << "PackageHeader at P";
        EXPECT_EQ(U32(package, 0x24), Adler32(package.data() + 40, package.size() - 40));
    }
    try {
        Write(Bytes(100, 0x90), {});
        ADD_FAILURE() << "no error";
    } catch (const BuildError& e) {
        EXPECT_EQ(std::string(e.what()), "the runtime image is not a Windows executable");
    }
}

// A PE32 or PE32+ image signed as Authenticode leaves it: CheckSum set, the
// security entry naming the certificate table at its end.
Bytes SignedRuntime(size_t n, uint16_t magic)
{
    Bytes image = Runtime(n);
    const uint32_t security = magic == 0x10B ? PE32_SECURITY : PE32PLUS_SECURITY;
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; i++)
            image[at + i] = (v >> (8 * i)) & 0xFF;
    };
    put32(DOS_PE_HEADER, 0x80);
    put32(0x80, 0x4550);
    image[0x80 + PE_OPTIONAL_HEADER] = magic & 0xFF;
    image[0x80 + PE_OPTIONAL_HEADER + 1] = magic >> 8;
    put32(0x80 + PE_CHECKSUM, 0x1B997);
    put32(0x80 + security, static_cast<uint32_t>(n));
    put32(0x80 + security + 4, 24);
    image.resize(n + 24, 0xCE);
    return image;
}

// Packages are ready to be signed: the CheckSum 0, no security entry, the
// size a multiple of 8 (zeros after the script's stream, which still
// inflates whole), and the checksum over all of it; a signed runtime image
// loses its table.
TEST(PackageWriter, PackagesArePreparedForSigning)
{
    ScriptWriter script;
    script.record(RECORD_VARIABLE, { "%InstallPath%", "x" });
    for (uint16_t magic : { 0x10B, 0x20B }) {
        for (size_t image : { 4096, 4099, 4101 }) {
            SCOPED_TRACE(std::to_string(magic) + " " + std::to_string(image));
            Bytes package = Write(SignedRuntime(image, magic), script.finish());
            const size_t p = PackageOffsetOf(package);
            EXPECT_EQ(p, image) << "the image ends where its table began";
            const uint32_t security = magic == 0x10B ? PE32_SECURITY : PE32PLUS_SECURITY;
            EXPECT_EQ(U32(package, 0x80 + PE_CHECKSUM), 0u);
            EXPECT_EQ(U32(package, 0x80 + security), 0u);
            EXPECT_EQ(U32(package, 0x80 + security + 4), 0u);
            EXPECT_EQ(package.size() % CERTIFICATE_ALIGNMENT, 0u);
            const size_t block = p + U32(package, p + 4);
            EXPECT_EQ(Inflate(&package[block + 4], package.size() - block - 4), script.finish());
            EXPECT_EQ(U32(package, 0x24), Adler32(package.data() + 40, package.size() - 40));
        }
    }
    // Every length of padding continues a stream as empty blocks: the data
    // still inflates whole, and the stream ends in a sync flush.
    Bytes data(300, 'd');
    Bytes stream = CompressStream(data);
    for (size_t size = 0; size < CERTIFICATE_ALIGNMENT; size++) {
        Bytes padding = SigningPadding(size);
        EXPECT_EQ((size + padding.size()) % CERTIFICATE_ALIGNMENT, 0u) << size;
        Bytes padded = stream;
        padded.insert(padded.end(), padding.begin(), padding.end());
        z_stream z{};
        inflateInit(&z);
        Bytes out(data.size() + 1);
        z.next_in = padded.data();
        z.avail_in = static_cast<uInt>(padded.size());
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        EXPECT_EQ(inflate(&z, Z_SYNC_FLUSH), Z_OK) << size;
        EXPECT_EQ(z.avail_in, 0u) << "every byte is deflate data: " << size;
        EXPECT_EQ(z.total_out, data.size()) << size;
        inflateEnd(&z);
        EXPECT_EQ(0, memcmp(padded.data() + padded.size() - 4, "\x00\x00\xFF\xFF", 4)) << size;
    }
}

}  // namespace
