// File versions read from real modules built by the test build: a program
// with a version resource behind another resource, and a DLL whose
// DllGetVersion knows only the short record.
#include <gtest/gtest.h>
#include <windows.h>
#include "fixture_path.h"
#include "support/support.h"

namespace {

TEST(FileVersion, VersionResourceThatIsNotTheFirstResource)
{
    std::string program = FixturePath("versioned.exe");
    FileVersion version{ 1, 1 };
    ASSERT_TRUE(ReadVersionResource(program.c_str(), &version, TRUE));
    EXPECT_EQ(version.ms, 8u << 16);
    EXPECT_EQ(version.ls, 4506u);
}

TEST(FileVersion, ShortDllGetVersionRecordWinsOverTheResource)
{
    std::string library = FixturePath("short_version.dll");
    FileVersion version;
    ASSERT_TRUE(GetFileVersion(library.c_str(), &version, FALSE));
    EXPECT_EQ(version.ms, 5u << 16 | 6);
    EXPECT_EQ(version.ls, 7u << 16) << "the revision is 0";
    ASSERT_TRUE(ReadVersionResource(library.c_str(), &version, FALSE));
    EXPECT_EQ(version.ms, 1u << 16 | 2);
    EXPECT_EQ(version.ls, 3u << 16 | 4);
    // GetBinaryTypeA refuses DLLs, so with the type check on a DLL has none.
    EXPECT_FALSE(GetFileVersion(library.c_str(), &version, TRUE));
    EXPECT_EQ(version.ms | version.ls, 0u);
}

TEST(FileVersion, ProgramsAreNotLoadedForDllGetVersionWhenTypesAreChecked)
{
    // The type check limits the DLL method to .dll, .ocx and .tlb; the
    // resource still answers.
    FileVersion version;
    ASSERT_TRUE(GetFileVersion(FixturePath("versioned.exe").c_str(), &version, TRUE));
    EXPECT_EQ(version.ls, 4506u);
}

TEST(FileVersion, TextFileAndMissingFileHaveNoVersion)
{
    char folder[MAX_PATH], path[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    GetTempFileNameA(folder, "txt", 0, path);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written;
    WriteFile(file, "plain text\r\n", 12, &written, nullptr);
    CloseHandle(file);
    for (BOOL checkType : { FALSE, TRUE }) {
        FileVersion version{ 9, 9 };
        EXPECT_FALSE(GetFileVersion(path, &version, checkType));
        EXPECT_EQ(version.ms, 0u);
        EXPECT_EQ(version.ls, 0u);
    }
    DeleteFileA(path);
    FileVersion version{ 9, 9 };
    EXPECT_FALSE(GetFileVersion("C:\\no\\such\\file.dll", &version, FALSE));
    EXPECT_EQ(version.ms | version.ls, 0u);
}

}  // namespace
