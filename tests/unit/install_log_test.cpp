// The install log: its header, which lines it records and where, the final
// log, and paths and keys that hold commas.
#include <fstream>
#include <sstream>
#include <string>
#include "unit_helpers.h"
#include "run_state_test.h"
#include "engine/install_log.h"
#include "script/script.h"

namespace {

class InstallLog : public RunStateTest {
protected:
    std::string folder;
    const std::string header = "=== Quillset log file ===\nFull Name\nName\n"
                               "1,0xC88C00,0x2000000,0x1000000,0xFF,Arial,0xABCDEF,Tahoma,0x0\n";

    void SetUp() override
    {
        RunStateTest::SetUp();
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        folder = std::string(temp) + "install_log_test";
        CreateDirectoryA(folder.c_str(), 0);
        g_app.tempFolder = DupString(folder.c_str(), 0);
        g_product.productFullName = DupString("Full Name", 0);
        g_product.productName = DupString("Name", 0);
        g_appearance.layoutOffset = 20;
        g_appearance.headerColor = COLOR_WORD_WINDOW;
        g_appearance.bodyColor = COLOR_WORD_BTNFACE;
        g_appearance.bandColor = 0xFF;
        lstrcpyA(g_appearance.titleFontFace, "Arial");
        g_appearance.titleTextColor = 0xABCDEF;
        lstrcpyA(g_appearance.bodyFontFace, "Tahoma");
        g_appearance.bodyTextColor = 0;
    }
    void TearDown() override
    {
        DeleteTemporaryLog();
        RemoveDirectoryA(folder.c_str());
        RunStateTest::TearDown();
    }
    std::string Lines()
    {
        std::string all;
        for (int i = 0; i < ListCount(g_log.logLines); i++)
            all += ListGet(g_log.logLines, i);
        return all;
    }
};

TEST_F(InstallLog, TemporaryLogHoldsTheFourHeaderLines)
{
    ASSERT_TRUE(CreateTemporaryLog());
    std::string path = g_log.tempLogPath;
    EXPECT_EQ(path.rfind(folder + "\\QST", 0), 0u) << path;
    CloseTemporaryLog();
    EXPECT_EQ(FileText(path), header);
    EXPECT_EQ(Lines(), header);

    // Lines 2 and 3 are written even when they repeat a line; the large layout writes 0.
    DeleteTemporaryLog();
    ListClear(g_log.logLines);
    FreeMem(g_product.productName);
    g_product.productName = DupString("Full Name", 0);
    g_appearance.layoutOffset = 0;
    ASSERT_TRUE(CreateTemporaryLog());
    CloseTemporaryLog();
    EXPECT_EQ(FileText(g_log.tempLogPath), "=== Quillset log file ===\nFull Name\nFull Name\n"
                                           "0,0xC88C00,0x2000000,0x1000000,0xFF,Arial,0xABCDEF,Tahoma,0x0\n");
}

TEST_F(InstallLog, SpecialFoldersAndRepeatedLinesAreNotRecorded)
{
    const char* special = 0;
    for (int i = 0; i < ListCount(g_workLists[WORK_FOLDER_MACRO_PATHS]) && !special; i++)
        if (*ListGet(g_workLists[WORK_FOLDER_MACRO_PATHS], i))
            special = ListGet(g_workLists[WORK_FOLDER_MACRO_PATHS], i);
    ASSERT_TRUE(special);
    std::string upper = special;
    CharUpperA(&upper[0]);
    std::string below = upper + "\\Product";

    AppendLogLine(0, 'a', upper.c_str(), TRUE, TRUE);
    AppendLogLine(0, 'a', below.c_str(), TRUE, TRUE);
    AppendLogLine(0, 'a', "C:\\Foo\\Bar", TRUE, TRUE);
    AppendLogLine(0, 'a', "c:\\foo\\bAR", TRUE, TRUE);
    AppendLogLine(0, 'b', "c:\\foo\\bAR", TRUE, TRUE);
    EXPECT_EQ(Lines(), "a," + below + "\na,C:\\Foo\\Bar\nb,c:\\foo\\bAR\n");

    // Without the exclusion check a special folder is recorded (a created chain level).
    AppendLogLine(0, 'a', special, TRUE, FALSE);
    EXPECT_EQ(ListCount(g_log.logLines), 4);
}

TEST_F(InstallLog, TemporaryLogHoldsWriteNowLinesAndFinalLogAll)
{
    ASSERT_TRUE(CreateTemporaryLog());
    std::string temporary = g_log.tempLogPath;
    AppendLogLine(g_log.logFile, 'b', "C:\\P\\old.dll", FALSE, TRUE);
    AppendLogLine(g_log.logFile, 'b', "C:\\P\\new.dll", TRUE, TRUE);
    AppendLogLine(g_log.logFile, 'c', "2,Software\\P,Old", FALSE, FALSE);
    AppendLogLine(g_log.logFile, 'e', "2,Software\\P,1", TRUE, FALSE);
    CloseTemporaryLog();
    EXPECT_EQ(FileText(temporary), header + "b,C:\\P\\new.dll\ne,2,Software\\P,1\n");

    // An old, read-only final log is replaced; the temporary log goes.
    std::string final = folder + "\\uninst.log";
    std::ofstream(final) << "old contents, longer than the new log will be" << std::string(400, 'x');
    SetFileAttributesA(final.c_str(), FILE_ATTRIBUTE_READONLY);
    WriteFinalLog(final.c_str());
    EXPECT_EQ(FileText(final), header + "b,C:\\P\\old.dll\nb,C:\\P\\new.dll\nc,2,Software\\P,Old\ne,2,Software\\P,1\n");
    EXPECT_EQ(GetFileAttributesA(final.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(GetFileAttributesA(temporary.c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileA(final.c_str());
}

TEST_F(InstallLog, FinalLogPathIsTheUninstallersNameWithLog)
{
    SetVariable("%InstallPath%", "C:\\Program Files\\Product\\");
    SetVariable("%UninstallerFileName%", "Remove.Product.exe");
    EXPECT_EQ(Take(FinalLogPath()), "C:\\Program Files\\Product\\Remove.Product.log");
}

// Commas: a line that holds none is written as it stands; a comma inside a
// field makes the line escaped, read back to the very same fields.
TEST_F(InstallLog, PathWithCommaIsEscapedAndReadBackWhole)
{
    AppendLogLine(0, 'b', "C:\\Foo, Inc\\100%\\app.exe", TRUE, TRUE);
    AppendLogLine(0, 'h', "C:\\a%2Cb.lnk", TRUE, TRUE);   // no comma: as it stands
    AppendLogLine(0, 'h', "C:\\a,b.lnk", TRUE, TRUE);     // escapes to the line above but for the code
    AppendLogLine(0, 'c', "2,Software\\P,Value", TRUE, FALSE);
    EXPECT_EQ(Lines(), "B,C:\\Foo%2C Inc\\100%25\\app.exe\nh,C:\\a%2Cb.lnk\nH,C:\\a%2Cb.lnk\n"
                       "c,2,Software\\P,Value\n");

    EXPECT_EQ(ReadLogLine("B,C:\\Foo%2C Inc\\100%25\\app.exe"), 'b');
    EXPECT_STREQ(CsvField(0), "C:\\Foo, Inc\\100%\\app.exe");
    EXPECT_STREQ(CsvField(1), "");
    EXPECT_EQ(ReadLogLine("h,C:\\a%2Cb.lnk"), 'h');
    EXPECT_STREQ(CsvField(0), "C:\\a%2Cb.lnk");
    EXPECT_EQ(ReadLogLine("H,C:\\a%2Cb.lnk"), 'h');
    EXPECT_STREQ(CsvField(0), "C:\\a,b.lnk");
    EXPECT_EQ(ReadLogLine("c,2,Software\\P,Value"), 'c');
    EXPECT_STREQ(CsvField(1), "Software\\P");
    EXPECT_STREQ(CsvField(2), "Value");
}

TEST_F(InstallLog, MultiFieldLinesWithCommasGoThroughFields)
{
    // Joined texts whose comma count does not fit the code are refused: the
    // reader would act on another key or value.
    AppendLogLine(0, 'c', "2,Software\\A,B,Value", TRUE, FALSE);
    AppendLogLine(0, 'e', "2,Software\\Foo, Inc", TRUE, FALSE);
    AppendLogLine(0, 'e', "2,Software\\Foo, Inc,1", TRUE, FALSE);
    AppendLogLine(0, 'f', "a.dll,Register", TRUE, FALSE);
    EXPECT_EQ(ListCount(g_log.logLines), 0);

    const char* value[] = { "2", "Software\\A,B", "Val%ue" };
    AppendLogFields(0, 'c', value, 3, TRUE);
    const char* key[] = { "2", "Software\\Foo, Inc", "1" };
    AppendLogFields(0, 'e', key, 3, TRUE);
    const char* plain[] = { "1", "Software\\Plain" };
    AppendLogFields(0, 'e', plain, 2, TRUE);
    EXPECT_EQ(Lines(), "C,2,Software\\A%2CB,Val%25ue\nE,2,Software\\Foo%2C Inc,1\ne,1,Software\\Plain\n");

    EXPECT_EQ(ReadLogLine("C,2,Software\\A%2CB,Val%25ue"), 'c');
    EXPECT_STREQ(CsvField(0), "2");
    EXPECT_STREQ(CsvField(1), "Software\\A,B");
    EXPECT_STREQ(CsvField(2), "Val%ue");
    EXPECT_STREQ(CsvField(3), "");
}

}  // namespace
