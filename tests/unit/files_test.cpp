// Folder chains, emptiness tests, tree deletion and the replacement of files
// at the next restart.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "unit_helpers.h"
#include "engine/engine.h"
#include "engine/files.h"
#include "folder_link.h"
#include "run_state_test.h"
#include "scratch_folder.h"

namespace {

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Logged()
{
    std::string result;
    for (int i = 0; i < ListCount(g_log.logLines); i++)
        result += ListGet(g_log.logLines, i);
    return result;
}

std::string ShortName(const std::string& path)
{
    char buffer[MAX_PATH];
    return GetShortPathNameA(path.c_str(), buffer, MAX_PATH) ? buffer : path;
}

}  // namespace

class Folders : public RunStateTest {};

TEST_F(Folders, ChainCreatesEveryMissingLevelAndLogsIt)
{
    ScratchFolder scratch("qs_chain");
    std::string deepest = scratch / "one\\two\\three";
    EXPECT_TRUE(CreateFolderChain((deepest + "\\").c_str(), 0, 0));
    EXPECT_TRUE(Exists(deepest));
    // Levels are logged only when created here; the whole path always.
    EXPECT_EQ(Logged(), "a," + scratch.path() + "\\one\na," + scratch.path() + "\\one\\two\na," + deepest + "\n");

    ListClear(g_log.logLines);
    EXPECT_TRUE(CreateFolderChain(deepest.c_str(), 0, 0));
    EXPECT_EQ(Logged(), "a," + deepest + "\n");
}

TEST_F(Folders, ChainDoesNotLogASpecialFolderItself)
{
    ScratchFolder scratch("qs_special");
    ListAppend(g_workLists[WORK_FOLDER_MACRO_PATHS], scratch.path().c_str());
    EXPECT_TRUE(CreateFolderChain(scratch.path().c_str(), 0, 0));
    EXPECT_EQ(Logged(), "");
}

TEST_F(Folders, EmptinessCountsFilesOnlyWhenAsked)
{
    ScratchFolder scratch("qs_empty");
    EXPECT_TRUE(IsFolderEmpty(scratch.path().c_str(), TRUE));
    WriteTestFile(scratch / "file.txt", "x");
    EXPECT_FALSE(IsFolderEmpty(scratch.path().c_str(), TRUE));
    EXPECT_TRUE(IsFolderEmpty(scratch.path().c_str(), FALSE));
    CreateDirectoryA((scratch / "sub").c_str(), nullptr);
    EXPECT_FALSE(IsFolderEmpty(scratch.path().c_str(), FALSE));
    EXPECT_TRUE(IsFolderEmpty((scratch / "missing").c_str(), TRUE));
}

TEST_F(Folders, FileNamePartIsTheTextAfterTheLastBackslash)
{
    const char* path = "C:\\Program Files\\Product\\app.exe";
    EXPECT_EQ(FileNamePart(path), path + 25);
    EXPECT_STREQ(FileNamePart("app.exe"), "app.exe");
    EXPECT_STREQ(FileNamePart("C:\\folder\\"), "");
}

TEST_F(Folders, DeleteTreeRemovesNestedReadOnlyContent)
{
    ScratchFolder scratch("qs_tree");
    std::string tree = scratch / "tree";
    CreateDirectoryA(tree.c_str(), nullptr);
    CreateDirectoryA((tree + "\\sub").c_str(), nullptr);
    CreateDirectoryA((tree + "\\sub\\deeper").c_str(), nullptr);
    WriteTestFile(tree + "\\top.txt", "1", FILE_ATTRIBUTE_READONLY);
    WriteTestFile(tree + "\\sub\\deeper\\locked.txt", "2", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    SetFileAttributesA((tree + "\\sub").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(DeleteTree(tree.c_str()));
    EXPECT_FALSE(Exists(tree));
    EXPECT_TRUE(Exists(scratch.path()));
}


TEST_F(Folders, DeleteTreeRemovesALinkWithoutFollowingIt)
{
    ScratchFolder scratch("qs_link");
    std::string outside = scratch / "outside";
    std::string tree = scratch / "tree";
    CreateDirectoryA(outside.c_str(), nullptr);
    CreateDirectoryA(tree.c_str(), nullptr);
    WriteTestFile(outside + "\\keep.txt", "keep", FILE_ATTRIBUTE_READONLY);
    WriteTestFile(tree + "\\own.txt", "own");
    if (!CreateFolderLink(tree + "\\link", outside))
        GTEST_SKIP() << "this system makes neither junctions nor symbolic links";
    ASSERT_EQ(FileText(tree + "\\link\\keep.txt"), "keep");

    EXPECT_TRUE(DeleteTree(tree.c_str()));
    EXPECT_FALSE(Exists(tree));
    EXPECT_EQ(FileText(outside + "\\keep.txt"), "keep");

    // A link handed over as the tree itself goes, its target stays.
    ASSERT_TRUE(CreateFolderLink(scratch / "direct", outside));
    EXPECT_TRUE(DeleteTree((scratch / "direct").c_str()));
    EXPECT_FALSE(Exists(scratch / "direct"));
    EXPECT_EQ(FileText(outside + "\\keep.txt"), "keep");
}

TEST_F(Folders, DeleteTreeLeavesTheTargetOfAUnixLink)
{
    std::string root = QUILLSET_FIXTURES "/link_tree";
    for (char& c : root)
        c = c == '/' ? '\\' : c;
    std::string tree = root + "\\tree";
    std::string keep = root + "\\outside\\keep.txt";
    if (!IsLink(tree + "\\link"))
        GTEST_SKIP() << "no Unix link in the fixtures";
    SetFileAttributesA(keep.c_str(), FILE_ATTRIBUTE_NORMAL);
    WriteTestFile(keep, "keep", FILE_ATTRIBUTE_READONLY);
    CreateDirectoryA((tree + "\\sub").c_str(), nullptr);
    WriteTestFile(tree + "\\sub\\own.txt", "own", FILE_ATTRIBUTE_READONLY);
    ASSERT_EQ(FileText(tree + "\\link\\keep.txt"), "keep");

    BOOL removed = DeleteTree(tree.c_str());
    EXPECT_EQ(FileText(keep), "keep");
    EXPECT_FALSE(Exists(tree + "\\sub"));
    // Wine cannot remove a Unix link; where it can, the tree goes whole.
    EXPECT_TRUE(removed || IsLink(tree + "\\link"));
    SetFileAttributesA(keep.c_str(), FILE_ATTRIBUTE_NORMAL);
}

class RestartReplacement : public RunStateTest {};

TEST_F(RestartReplacement, LongNamesAreThoseWininitCannotTake)
{
    EXPECT_FALSE(IsLongFileName("SETUP.EXE"));
    EXPECT_FALSE(IsLongFileName("12345678.123"));
    EXPECT_FALSE(IsLongFileName("12345678"));
    EXPECT_FALSE(IsLongFileName("A.B.C"));
    EXPECT_TRUE(IsLongFileName("123456789.txt"));
    EXPECT_TRUE(IsLongFileName("123456789"));
    EXPECT_TRUE(IsLongFileName("short.html"));
}

TEST_F(RestartReplacement, MoveFileExRecordsThePendingRename)
{
    const char* key = "System\\CurrentControlSet\\Control\\Session Manager";
    const char* value = "PendingFileRenameOperations";
    ScratchFolder scratch("qs_pending");
    std::string source = scratch / "QST1.tmp";
    std::string target = scratch / "locked.dll";
    WriteTestFile(source, "new");
    WriteTestFile(target, "old");

    EXPECT_TRUE(ScheduleReplace(source.c_str(), target.c_str()));
    EXPECT_TRUE(ScheduleReplace(target.c_str(), nullptr));
    ScheduleDeleteAtRestart(source.c_str());

    HKEY session;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &session), ERROR_SUCCESS);
    DWORD size = 0, type = 0;
    RegQueryValueExA(session, value, nullptr, &type, nullptr, &size);
    std::string data(size, '\0');
    RegQueryValueExA(session, value, nullptr, &type, (BYTE*)&data[0], &size);
    // Pairs of source and target, each NUL-terminated; "!" marks replacing,
    // an empty target deleting.
    std::vector<std::string> entries;
    for (size_t at = 0; at < data.size() && data[at];) {
        for (int i = 0; i < 2 && at < data.size(); i++) {
            entries.push_back(data.c_str() + at);
            at += entries.back().size() + 1;
        }
    }
    std::vector<std::string> expected = { "\\??\\" + source, "!\\??\\" + target, "\\??\\" + target, "",
                                          "\\??\\" + source, "" };
    EXPECT_EQ(type, (DWORD)REG_MULTI_SZ);
    ASSERT_GE(entries.size(), expected.size());
    std::vector<std::string> last(entries.end() - expected.size(), entries.end());
    for (size_t i = 0; i < expected.size(); i++)
        EXPECT_EQ(CharUpperA(&last[i][0]) ? last[i] : "", CharUpperA(&expected[i][0]) ? expected[i] : "") << i;
    RegDeleteValueA(session, value);
    RegCloseKey(session);
}

TEST_F(RestartReplacement, WininitGetsANewRenameSection)
{
    ScratchFolder scratch("qs_wininit");
    std::string wininit = scratch / "wininit.ini";
    std::string source = scratch / "QST1.tmp";
    std::string target = scratch / "LOCKED.DLL";
    WriteTestFile(source, "new");
    WriteTestFile(target, "old");

    // Missing file: created with the section alone.
    EXPECT_TRUE(AddWininitRename(wininit.c_str(), source.c_str(), target.c_str()));
    std::string first = ShortName(target) + "=" + ShortName(source);
    EXPECT_EQ(FileText(wininit), "[Rename]\r\n" + first);

    // Other sections: the new one follows them on a line of its own.
    WriteTestFile(wininit, "[Other]\r\nkey=value");
    EXPECT_TRUE(AddWininitRename(wininit.c_str(), source.c_str(), nullptr));
    EXPECT_EQ(FileText(wininit), "[Other]\r\nkey=value\r\n[Rename]\r\nNUL=" + ShortName(source));
}

TEST_F(RestartReplacement, WininitLineGoesToTheEndOfTheRenameSection)
{
    ScratchFolder scratch("qs_wininit2");
    std::string wininit = scratch / "wininit.ini";
    std::string source = scratch / "QST2.tmp";
    WriteTestFile(source, "new");
    WriteTestFile(wininit, "[rename]\r\nNUL=C:\\OLD.TMP\r\n\r\n\r\n[Next]\r\nx=1\r\n");
    EXPECT_TRUE(AddWininitRename(wininit.c_str(), source.c_str(), nullptr));
    EXPECT_EQ(FileText(wininit),
              "[rename]\r\nNUL=C:\\OLD.TMP\r\nNUL=" + ShortName(source) + "\r\n\r\n\r\n[Next]\r\nx=1\r\n");

    // A section at the end of the file takes the line at the very end.
    WriteTestFile(wininit, "[Next]\r\n\r\n[Rename]\r\nNUL=C:\\OLD.TMP\r\n");
    EXPECT_TRUE(AddWininitRename(wininit.c_str(), source.c_str(), nullptr));
    EXPECT_EQ(FileText(wininit), "[Next]\r\n\r\n[Rename]\r\nNUL=C:\\OLD.TMP\r\nNUL=" + ShortName(source) + "\r\n");
}
