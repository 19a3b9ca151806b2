// InflateStream on the streams the package writer produces.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include "package/package.h"
#include "package_writer.h"

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

}  // namespace
