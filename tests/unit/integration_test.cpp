// Shell and registry work against Wine's real registry, profile files and
// shell links: what each step writes, reads back as the system sees it, and
// the install-log lines it records; programs and DLL functions run from the
// page lists.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include <shlobj.h>
#include "unit_helpers.h"
#include "run_state_test.h"
#include "engine/engine.h"
#include "engine/integration.h"
#include "engine/install_log.h"
#include "script/script.h"
#include "fixture_path.h"

namespace {

const char kTestsKey[] = "Software\\Quillset Tests";
const char kSharedDlls[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

std::vector<BYTE> ReadValue(HKEY root, const std::string& key, const char* name, DWORD* type)
{
    std::vector<BYTE> data(256);
    DWORD size = (DWORD)data.size();
    HKEY handle;
    *type = 0;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle))
        return {};
    LONG result = RegQueryValueExA(handle, name, 0, type, data.data(), &size);
    RegCloseKey(handle);
    data.resize(result ? 0 : size);
    return data;
}

std::string ReadText(HKEY root, const std::string& key, const char* name)
{
    DWORD type;
    std::vector<BYTE> data = ReadValue(root, key, name, &type);
    return data.empty() ? "<none>" : std::string((const char*)data.data());
}

class Integration : public RunStateTest {
protected:
    std::string folder;
    std::string logPath;

    void SetUp() override
    {
        RunStateTest::SetUp();
        RegDeleteTreeA(HKEY_CURRENT_USER, kTestsKey);
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        folder = std::string(temp) + "integration_test";
        DeleteFolder(folder);
        CreateDirectoryA(folder.c_str(), 0);
        logPath = folder + ".log";
        g_log.logFile = CreateFileA(logPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, 0, CREATE_ALWAYS, 0, 0);
        ASSERT_NE(g_log.logFile, INVALID_HANDLE_VALUE);
        OleInitialize(0);
    }
    void TearDown() override
    {
        OleUninitialize();
        CloseHandle(g_log.logFile);
        g_log.logFile = 0;
        DeleteFileA(logPath.c_str());
        DeleteFolder(folder);
        RegDeleteTreeA(HKEY_CURRENT_USER, kTestsKey);
        RunStateTest::TearDown();
    }
    static void DeleteFolder(const std::string& path)
    {
        WIN32_FIND_DATAA found;
        HANDLE find = FindFirstFileA((path + "\\*").c_str(), &found);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                std::string name = found.cFileName;
                if (name == "." || name == "..")
                    continue;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    DeleteFolder(path + "\\" + name);
                else
                    DeleteFileA((path + "\\" + name).c_str());
            } while (FindNextFileA(find, &found));
            FindClose(find);
        }
        RemoveDirectoryA(path.c_str());
    }
    // Every line recorded so far, in order.
    static std::string Recorded()
    {
        std::string all;
        for (int i = 0; i < ListCount(g_log.logLines); i++)
            all += ListGet(g_log.logLines, i);
        return all;
    }
    // What went to the temporary log at once.
    std::string Written()
    {
        FlushFileBuffers(g_log.logFile);
        return FileText(logPath);
    }
};

TEST_F(Integration, RegistryValuesOfEveryTypeReadBackAndLogged)
{
    const std::string key = std::string(kTestsKey) + "\\Integration\\Values";
    ASSERT_EQ(WriteRegistryValue(HKEY_CURRENT_USER, (std::string(kTestsKey) + "\\Integration").c_str(), "Before",
                                 REG_SZ, "x", 2), 0);
    ASSERT_EQ(WriteRegistryValue(HKEY_CURRENT_USER, key.c_str(), "Old", REG_SZ, "old", 4), 0);
    const char* lines[] = {
        "1,\\Software\\Quillset Tests\\Integration\\Values\\,Text,,plain text",
        "1,Software\\Quillset Tests\\Integration\\Values,Path,2,%SystemRoot%\\x",
        "1,Software\\Quillset Tests\\Integration\\Values,Bytes,3,0A0b1",
        "1,Software\\Quillset Tests\\Integration\\Values,Short,3,0AZ1",
        "1,Software\\Quillset Tests\\Integration\\Values,Number,4,0x10",
        "1,Software\\Quillset Tests\\Integration\\Values,List,7,one|two",
        "1,Software\\Quillset Tests\\Integration\\Values,Old,1,new",
        "1,Software\\Quillset Tests\\Integration\\Values,Odd,9,skipped",
        "1,Software\\Quillset Tests\\Integration\\Values,,0,default",
    };
    for (const char* line : lines)
        EXPECT_TRUE(InstallRegistryLine(line, 0)) << line;

    DWORD type;
    std::vector<BYTE> data = ReadValue(HKEY_CURRENT_USER, key, "Text", &type);
    EXPECT_EQ(type, (DWORD)REG_SZ);
    EXPECT_EQ(std::string(data.begin(), data.end()), std::string("plain text", 11));
    data = ReadValue(HKEY_CURRENT_USER, key, "Path", &type);
    EXPECT_EQ(type, (DWORD)REG_EXPAND_SZ);
    EXPECT_EQ(std::string(data.begin(), data.end()), std::string("%SystemRoot%\\x", 15));
    data = ReadValue(HKEY_CURRENT_USER, key, "Bytes", &type);
    EXPECT_EQ(type, (DWORD)REG_BINARY);
    EXPECT_EQ(data, (std::vector<BYTE>{ 0x0A, 0x0B, 0x10 }));
    data = ReadValue(HKEY_CURRENT_USER, key, "Short", &type);
    EXPECT_EQ(data, (std::vector<BYTE>{ 0x0A }));
    data = ReadValue(HKEY_CURRENT_USER, key, "Number", &type);
    EXPECT_EQ(type, (DWORD)REG_DWORD);
    EXPECT_EQ(data, (std::vector<BYTE>{ 16, 0, 0, 0 }));
    data = ReadValue(HKEY_CURRENT_USER, key, "List", &type);
    EXPECT_EQ(type, (DWORD)REG_MULTI_SZ);
    EXPECT_EQ(std::string(data.begin(), data.end()), std::string("one\0two\0\0", 9));
    EXPECT_EQ(ReadText(HKEY_CURRENT_USER, key, "Old"), "new");
    EXPECT_EQ(ReadText(HKEY_CURRENT_USER, key, "Odd"), "<none>");
    EXPECT_EQ(ReadText(HKEY_CURRENT_USER, key, ""), "default");

    // New levels and new values go to the temporary log at once; the
    // existing final key and the replaced value only to the final log.
    const std::string recorded = Recorded();
    const std::string written = Written();
    const std::string valueLine = "c,1,Software\\Quillset Tests\\Integration\\Values,";
    EXPECT_NE(recorded.find("e,1,Software\\Quillset Tests\\Integration\\Values\n"), std::string::npos) << recorded;
    EXPECT_EQ(written.find("e,1,Software\\Quillset Tests\\Integration\\Values\n"), std::string::npos) << written;
    EXPECT_EQ(recorded.find("e,1,Software\\Quillset Tests\n"), std::string::npos) << recorded;
    for (const char* name : { "Text", "Path", "Bytes", "Short", "Number", "List", "" }) {
        EXPECT_NE(recorded.find(valueLine + name + "\n"), std::string::npos) << name;
        EXPECT_NE(written.find(valueLine + name + "\n"), std::string::npos) << name;
    }
    EXPECT_NE(recorded.find(valueLine + "Old\n"), std::string::npos);
    EXPECT_EQ(written.find(valueLine + "Old\n"), std::string::npos);
    EXPECT_EQ(recorded.find("Odd"), std::string::npos);
}

TEST_F(Integration, KeyChainLogsEveryNewLevelAndKeysWithCommasWhole)
{
    HKEY key;
    ASSERT_EQ(CreateRegistryKeyChain(HKEY_CURRENT_USER, "Software\\Quillset Tests\\A,B\\C\\", KEY_QUERY_VALUE, &key),
              0);
    RegCloseKey(key);
    const std::string written = Written();
    EXPECT_NE(written.find("e,1,Software\\Quillset Tests\n"), std::string::npos) << written;
    EXPECT_NE(written.find("E,1,Software\\Quillset Tests\\A%2CB\n"), std::string::npos) << written;
    EXPECT_NE(written.find("E,1,Software\\Quillset Tests\\A%2CB\\C\n"), std::string::npos) << written;
    EXPECT_EQ(written.find("e,1,Software\n"), std::string::npos) << written;

    // The root itself opens but is never logged for removal.
    ASSERT_EQ(CreateRegistryKeyChain(HKEY_CURRENT_USER, "", KEY_QUERY_VALUE, &key), 0);
    RegCloseKey(key);
    EXPECT_EQ(Recorded().find("e,1,\n"), std::string::npos) << Recorded();
}

TEST_F(Integration, IniEntriesReplaceAppendAndCreateTheirFolder)
{
    const std::string file = folder + "\\new\\settings.ini";
    ASSERT_TRUE(InstallIniLine((file + ",Main,Key,old,").c_str(), 0));
    ASSERT_TRUE(InstallIniLine((file + ",Main,Key,+more,1").c_str(), 0));
    char value[64];
    GetPrivateProfileStringA("Main", "Key", "", value, sizeof(value), file.c_str());
    EXPECT_STREQ(value, "old+more");
    ASSERT_TRUE(InstallIniLine((file + ",Main,Key,replaced,0").c_str(), 0));
    GetPrivateProfileStringA("Main", "Key", "", value, sizeof(value), file.c_str());
    EXPECT_STREQ(value, "replaced");
    ASSERT_TRUE(InstallIniLine((file + ",Main,Key,,").c_str(), 0));
    EXPECT_EQ(GetPrivateProfileStringA("Main", "Key", "gone", value, sizeof(value), file.c_str()), 4u);
    EXPECT_STREQ(value, "gone");
    const std::string written = Written();
    EXPECT_NE(written.find("a," + folder + "\\new\n"), std::string::npos) << written;
    EXPECT_NE(written.find("b," + file + "\n"), std::string::npos) << written;
    EXPECT_EQ(written.find("b," + file + "\n"), written.rfind("b," + file + "\n"));
}

TEST_F(Integration, BareIniFileNameGoesToTheWindowsFolder)
{
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    const std::string path = std::string(windows) + "\\quillset_integration.ini";
    DeleteFileA(path.c_str());
    ASSERT_TRUE(InstallIniLine("quillset_integration.ini,Main,Key,value,", 0));
    char value[64];
    GetPrivateProfileStringA("Main", "Key", "", value, sizeof(value), path.c_str());
    WritePrivateProfileStringA(0, 0, 0, path.c_str());
    DeleteFileA(path.c_str());
    EXPECT_STREQ(value, "value");
    EXPECT_NE(Written().find("b," + path + "\n"), std::string::npos) << Written();
}

TEST_F(Integration, AssociationReadsBackFromClassesRoot)
{
    const char* ext = ".qstest";
    const char* progId = "Quillset.IntegrationFile";
    ASSERT_TRUE(InstallAssociationLine(
        ".qstest,Quillset.IntegrationFile,text/x-quillset,Quillset test file,Tip text,\"C:\\qs.exe\" \"%1\",C:\\qs.dll,3",
        0));
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, ext, ""), progId);
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, ext, "Content Type"), "text/x-quillset");
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, progId, ""), "Quillset test file");
    DWORD type;
    ReadValue(HKEY_CLASSES_ROOT, progId, "InfoTip", &type);
    EXPECT_EQ(type, (DWORD)REG_EXPAND_SZ);
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, std::string(progId) + "\\shell\\open\\command", ""), "\"C:\\qs.exe\" \"%1\"");
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, std::string(progId) + "\\DefaultIcon", ""), "C:\\qs.dll,3");
    const std::string written = Written();
    EXPECT_NE(written.find("e,0,.qstest,1\ne,0,Quillset.IntegrationFile,1\n"), std::string::npos) << written;

    // Without icon, command and content type only the extension and the
    // description are written.
    RegDeleteTreeA(HKEY_CLASSES_ROOT, ext);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, progId);
    ASSERT_TRUE(CreateAssociation(ext, progId, "", "Plain", "", "", "", 0));
    HKEY extensionKey;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, ext, 0, KEY_READ, &extensionKey), 0);
    EXPECT_NE(RegQueryValueExA(extensionKey, "Content Type", nullptr, nullptr, nullptr, nullptr), 0);
    RegCloseKey(extensionKey);
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, progId, ""), "Plain");
    HKEY key;
    EXPECT_NE(RegOpenKeyExA(HKEY_CLASSES_ROOT, (std::string(progId) + "\\shell").c_str(), 0, KEY_READ, &key), 0);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, ext);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, progId);
}

TEST_F(Integration, SharedDllCountsRiseAndFallToRemoval)
{
    const std::string path = folder + "\\shared.dll";
    DeleteRegistryValue(HKEY_LOCAL_MACHINE, kSharedDlls, path.c_str(), FALSE);
    EXPECT_EQ(UpdateSharedDllCount(path.c_str(), TRUE), 0u);
    DWORD type;
    EXPECT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, kSharedDlls, path.c_str(), &type).empty());
    EXPECT_EQ(UpdateSharedDllCount(path.c_str(), FALSE), 1u);
    EXPECT_EQ(UpdateSharedDllCount(path.c_str(), FALSE), 2u);
    std::vector<BYTE> data = ReadValue(HKEY_LOCAL_MACHINE, kSharedDlls, path.c_str(), &type);
    EXPECT_EQ(type, (DWORD)REG_DWORD);
    EXPECT_EQ(data, (std::vector<BYTE>{ 2, 0, 0, 0 }));
    EXPECT_EQ(UpdateSharedDllCount(path.c_str(), TRUE), 1u);
    EXPECT_EQ(UpdateSharedDllCount(path.c_str(), TRUE), 0u);
    EXPECT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, kSharedDlls, path.c_str(), &type).empty());
}

TEST_F(Integration, ShortcutReadsBackThroughTheShellLink)
{
    SetVariable("%InstallPath%", folder.c_str());
    const std::string link = folder + "\\Group\\App.lnk";
    // Hotkey 0x241: Ctrl+A; show 3: maximised.
    const std::string line = link + ",\"C:\\Program Files\\App\\app.exe\",-x \"y z\",C:\\Work\\,C:\\icons.dll,2,3,577,0";
    ASSERT_TRUE(InstallShortcutLine(line.c_str(), 0));
    IShellLinkA* shell;
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, 0, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void**)&shell)));
    IPersistFile* file;
    ASSERT_TRUE(SUCCEEDED(shell->QueryInterface(IID_IPersistFile, (void**)&file)));
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, link.c_str(), -1, wide, MAX_PATH);
    ASSERT_TRUE(SUCCEEDED(file->Load(wide, STGM_READ)));
    char text[MAX_PATH];
    shell->GetPath(text, MAX_PATH, 0, SLGP_RAWPATH);
    EXPECT_STREQ(text, "C:\\Program Files\\App\\app.exe");
    shell->GetArguments(text, MAX_PATH);
    EXPECT_STREQ(text, "-x \"y z\"");
    shell->GetWorkingDirectory(text, MAX_PATH);
    EXPECT_STREQ(text, "C:\\Work");
    int icon = -1;
    shell->GetIconLocation(text, MAX_PATH, &icon);
    EXPECT_STREQ(text, "C:\\icons.dll");
    EXPECT_EQ(icon, 2);
    // The link file's header: show command at 0x3C, hotkey at 0x40.
    const std::string bytes = FileText(link);
    ASSERT_GE(bytes.size(), 0x4Cu);
    EXPECT_EQ(*(const DWORD*)(bytes.data() + 0x3C), (DWORD)SW_SHOWMAXIMIZED);
    EXPECT_EQ(*(const WORD*)(bytes.data() + 0x40), 0x241);
    int show = 0;
    WORD hotkey = 0;
    shell->GetHotkey(&hotkey);
    EXPECT_EQ(hotkey, 0x241);
    file->Release();
    shell->Release();
    const std::string written = Written();
    EXPECT_NE(written.find("a," + folder + "\\Group\n"), std::string::npos) << written;
    EXPECT_NE(written.find("h," + link + "\n"), std::string::npos) << written;

    // A shared shortcut counts in SharedDLLs; an empty working folder is the install folder.
    const std::string shared = folder + "\\Shared.lnk";
    DeleteRegistryValue(HKEY_LOCAL_MACHINE, kSharedDlls, shared.c_str(), FALSE);
    ASSERT_TRUE(InstallShortcutLine((shared + ",C:\\app.exe,,,,,,,1").c_str(), 0));
    EXPECT_NE(Written().find("g," + shared + "\n"), std::string::npos);
    EXPECT_EQ(UpdateSharedDllCount(shared.c_str(), TRUE), 0u);
    MultiByteToWideChar(CP_ACP, 0, shared.c_str(), -1, wide, MAX_PATH);
    CoCreateInstance(CLSID_ShellLink, 0, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void**)&shell);
    shell->QueryInterface(IID_IPersistFile, (void**)&file);
    ASSERT_TRUE(SUCCEEDED(file->Load(wide, STGM_READ)));
    shell->GetWorkingDirectory(text, MAX_PATH);
    EXPECT_STREQ(text, folder.c_str());
    shell->GetShowCmd(&show);
    EXPECT_EQ(show, SW_SHOWNORMAL);
    EXPECT_EQ(*(const DWORD*)(FileText(shared).data() + 0x3C), (DWORD)SW_SHOWNORMAL);
    file->Release();
    shell->Release();
}

TEST_F(Integration, ProgramRunWithWaitAndOnceLeavesTheList)
{
    const std::string program = folder + "\\marker_program.exe";
    ASSERT_TRUE(CopyFileA(FixturePath("marker_program.exe").c_str(), program.c_str(), FALSE));
    SetVariable("%Tools%", folder.c_str());
    StringList* programs = ListCreate(5);
    ListAppend(programs, "%Tools%\\marker_program.exe,,%Tools%\\,1,1,1");
    ListAppend(programs, "%Tools%\\missing.exe,,,1,1,0");
    ListAppend(programs, "%Tools%\\marker_program.exe,,,1,0,2");
    RunPageActions(programs, 0);
    // Waited for: the marker is there as soon as the runner returns.
    EXPECT_NE(GetFileAttributesA((program + ".loaded").c_str()), INVALID_FILE_ATTRIBUTES);
    // Run once and started: removed; not started, or not once: kept.
    ASSERT_EQ(ListCount(programs), 2);
    EXPECT_STREQ(ListGet(programs, 0), "%Tools%\\missing.exe,,,1,1,0");
    EXPECT_STREQ(ListGet(programs, 1), "%Tools%\\marker_program.exe,,,1,0,2");
    ListDestroy(&programs);
}

TEST_F(Integration, DllCallsPassNoneOneOrTwoArguments)
{
    const std::string library = folder + "\\recorder.dll";
    ASSERT_TRUE(CopyFileA(FixturePath("recorder.dll").c_str(), library.c_str(), FALSE));
    SetVariable("%Tools%", folder.c_str());
    StringList* calls = ListCreate(5);
    ListAppend(calls, "%Tools%\\recorder.dll,TwoArguments,alpha,beta gamma,1");
    ListAppend(calls, "%Tools%\\recorder.dll,OneArgument,%Tools%,,0");
    ListAppend(calls, "%Tools%\\recorder.dll,NoArgument,,,");
    ListAppend(calls, "%Tools%\\recorder.dll,Missing,,,1");
    ListAppend(calls, "%Tools%\\absent.dll,NoArgument,,,1");
    RunPageActions(0, calls);
    EXPECT_EQ(FileText(library + ".calls"), "two alpha|beta gamma\none " + folder + "\nnone\n");
    ASSERT_EQ(ListCount(calls), 3);
    EXPECT_STREQ(ListGet(calls, 0), "%Tools%\\recorder.dll,OneArgument,%Tools%,,0");
    EXPECT_STREQ(ListGet(calls, 1), "%Tools%\\recorder.dll,Missing,,,1");
    ListDestroy(&calls);
}

}  // namespace
