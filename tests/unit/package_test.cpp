// InflateStream on the streams the package writer produces, and the reading
// of a package's DOS header, header and script by LoadPackage.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include "unit_helpers.h"
#include "run_state_test.h"
#include "package/package.h"
#include "environment/environment.h"
#include "engine/engine.h"
#include "package_reader.h"
#include "dialog_answerer.h"
#include "scratch_folder.h"

namespace {

quillset::Bytes Sample(size_t n)
{
    quillset::Bytes data(n);
    for (size_t i = 0; i < n; i++)
        data[i] = static_cast<uint8_t>((i * 7) ^ (i >> 5));
    return data;
}

TEST(InflateStream, StreamWithoutTrailerYieldsFullSize)
{
    auto data = Sample(100000);
    auto stream = quillset::CompressStream(data);
    ASSERT_GE(stream.size(), 6u);
    EXPECT_EQ(stream[0], 0x78);
    EXPECT_EQ(stream[1], 0xDA);
    EXPECT_EQ(0, memcmp(&stream[stream.size() - 4], "\x00\x00\xFF\xFF", 4));
    quillset::Bytes out(data.size());
    EXPECT_EQ(InflateStream(stream.data(), stream.size(), out.data(), out.size(), 0, 0), (int)data.size());
    EXPECT_EQ(out, data);
}

TEST(InflateStream, EmptyInputAndCorruptStream)
{
    BYTE out[16];
    EXPECT_EQ(InflateStream(nullptr, 0, out, sizeof(out), 0, 0), 0);
    auto data = Sample(50000);
    auto stream = quillset::CompressStream(data);
    quillset::Bytes result(data.size());
    // A damaged header yields nothing; damage inside the data never writes
    // beyond the target, whatever the decoder makes of it.
    auto badHeader = stream;
    badHeader[0] ^= 0xFF;
    EXPECT_EQ(InflateStream(badHeader.data(), badHeader.size(), result.data(), result.size(), 0, 0), 0);
    stream[stream.size() / 2] ^= 0xFF;
    result.resize(data.size() + 64, 0xAB);
    int got = InflateStream(stream.data(), stream.size(), result.data(), data.size(), 0, 0);
    EXPECT_GE(got, 0);
    EXPECT_LE(got, (int)data.size());
    EXPECT_TRUE(std::all_of(result.begin() + data.size(), result.end(), [](BYTE b) { return b == 0xAB; }));
}

TEST(InflateStream, ProgressForLargeTotalNeverOverflows)
{
    InitCommonControls();
    HWND bar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_POPUP, 0, 0, 100, 10, 0, 0, 0, 0);
    ASSERT_NE(bar, nullptr);
    SendMessageA(bar, PBM_SETRANGE32, 0, 100);
    auto data = Sample(200000);
    auto stream = quillset::CompressStream(data);
    quillset::Bytes out(data.size());
    // A total above 2^32 / 100: consumed * 100 would overflow 32 bits.
    InflateStream(stream.data(), stream.size(), out.data(), out.size(), bar, 0x3000000u);
    EXPECT_LE(SendMessageA(bar, PBM_GETPOS, 0, 0), 1);
    SendMessageA(bar, PBM_SETPOS, 0, 0);
    InflateStream(stream.data(), stream.size(), out.data(), out.size(), bar, (DWORD)stream.size());
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 100);
    DestroyWindow(bar);
    EXPECT_EQ(MulDivFloor(0xFFFFFFFFu, 100, 0xFFFFFFFFu), 100u);
}

// A script of one variable record; longer than its stream, as every real
// script is (the stream is read up to the script's own size).
quillset::Bytes OneRecordScript()
{
    quillset::ScriptWriter script;
    script.record(RECORD_VARIABLE, { "%InstallPath%", "C:\\Program Files\\Demo" });
    return script.finish();
}

// A package behind a stand-in image of IMAGE_SIZE bytes.
quillset::Bytes PackageBehind(size_t imageSize)
{
    quillset::Bytes image(imageSize, 0x90);
    image[0] = 'M';
    image[1] = 'Z';
    ScratchFolder folder("package_writer");
    return quillset::WritePackageOf(image, OneRecordScript(), {}, folder / "setup.exe");
}

void PutU16(quillset::Bytes& bytes, size_t at, uint16_t value)
{
    bytes[at] = static_cast<uint8_t>(value);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

struct Loaded {
    PackageResult result;
    std::vector<std::string> messages;
};

// LoadPackage on BYTES as the program's own file, its messages answered.
Loaded Load(const quillset::Bytes& bytes)
{
    ScratchFolder folder("package_test");
    std::string path = folder / "setup.exe";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    ZeroRunState();
    g_package.moduleFile = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    DialogAnswerer answerer;
    Loaded loaded = { LoadPackage(), answerer.texts };
    CloseHandle(g_package.moduleFile);
    return loaded;
}

const char kDamaged[] = "安装文件已损坏，无法继续安装！";

// P is the u16 at 0x12 plus the u16 at 0x20 shifted by 16; below 64 KiB the
// high word stays 0, and a multiple of 64 KiB is padded past a 0 low word.
TEST(PackageOffset, BelowAndAboveSixtyFourKibibytes)
{
    for (size_t image : { 4096u, 65535u, 65536u, 70000u, 200000u }) {
        quillset::Bytes package = PackageBehind(image);
        uint32_t p = ReadPackageOffset(package.data());
        EXPECT_EQ(p, image % 65536 ? image : image + PACKAGE_OFFSET_PADDING);
        EXPECT_EQ(package[0x20] | package[0x21] << 8, static_cast<int>(p >> 16));
        Loaded loaded = Load(package);
        EXPECT_EQ(loaded.result, PACKAGE_LOADED) << image;
        EXPECT_TRUE(loaded.messages.empty());
        EXPECT_EQ(g_package.offset, p);
        EXPECT_EQ(g_package.header.dataOffset, 12u);
        EXPECT_EQ(quillset::Bytes(g_package.script, g_package.script + g_package.scriptSize), OneRecordScript());
    }
}

// A 0 low word is the uninstaller whatever the high word holds: no check,
// no message.
TEST(PackageOffset, ZeroLowWordIsTheUninstaller)
{
    quillset::Bytes package = PackageBehind(70000);
    PutU16(package, DOS_PACKAGE_OFFSET_LOW, 0);
    package.back() ^= 0xFF;   // the checksum would fail if it were computed
    Loaded loaded = Load(package);
    EXPECT_EQ(loaded.result, PACKAGE_ABSENT);
    EXPECT_TRUE(loaded.messages.empty());
}

// Neither word of P is covered by the checksum: an offset beyond the file,
// inside the DOS header, or a header whose offsets leave the file is
// damage, reported without a read outside the file.
TEST(PackageOffset, OffsetsOutsideTheFileAreDamage)
{
    quillset::Bytes pristine = PackageBehind(70000);
    const size_t p = 70000;
    auto expectDamaged = [](const quillset::Bytes& bytes, const char* what) {
        Loaded loaded = Load(bytes);
        EXPECT_EQ(loaded.result, PACKAGE_FAILED) << what;
        EXPECT_EQ(loaded.messages, std::vector<std::string>{ kDamaged }) << what;
    };
    quillset::Bytes beyond = pristine;
    PutU16(beyond, DOS_PACKAGE_OFFSET_HIGH, 0x100);   // P about 16 MiB
    expectDamaged(beyond, "P beyond the end");
    quillset::Bytes atEnd = pristine;
    PutU16(atEnd, DOS_PACKAGE_OFFSET_LOW, static_cast<uint16_t>(pristine.size() - 4));
    PutU16(atEnd, DOS_PACKAGE_OFFSET_HIGH, static_cast<uint16_t>((pristine.size() - 4) >> 16));
    expectDamaged(atEnd, "a header cut by the end of the file");
    quillset::Bytes inHeader = pristine;
    PutU16(inHeader, DOS_PACKAGE_OFFSET_LOW, 8);
    PutU16(inHeader, DOS_PACKAGE_OFFSET_HIGH, 0);
    expectDamaged(inHeader, "P inside the DOS header");
    // Header fields are covered by the checksum; sealed again, they must
    // still fit the file.
    struct {
        size_t field;
        uint32_t value;
        const char* what;
    } fields[] = { { 4, 0x7FFFFFF0u, "scriptOffset beyond the end" },
                   { 0, 4, "dataOffset inside the header" },
                   { 0, 0x1000, "dataOffset behind scriptOffset" } };
    for (const auto& f : fields) {
        quillset::Bytes bytes = pristine;
        for (int i = 0; i < 4; i++)
            bytes[p + f.field + i] = static_cast<uint8_t>(f.value >> (8 * i));
        quillset::Reseal(bytes);
        expectDamaged(bytes, f.what);
    }
}

}  // namespace
