// The uninstaller's reading of the install log and the undoing of its lines
// on Wine: hand-written temporary logs rolled back, then the files, folders,
// registry, shared-file counts, programs and DLL calls checked; damaged logs;
// the worker's progress in a dialog and its stop on request.
#include <string>
#include <utility>
#include <vector>
#include <windows.h>
#include <commctrl.h>
#include "unit_helpers.h"
#include "engine/integration.h"
#include "fixture_path.h"
#include "own_dialog.h"
#include "run_state_test.h"
#include "scratch_folder.h"
#include "uninstall/uninstall.h"
#include "wizard/wizard.h"
#include "resources/ids.h"

namespace {

const char kHeader[] = "=== Quillset log file ===\nDemo Product 1.0\nDemo\n"
                       "0,0xC88C00,0x2000000,0x1000000,0xFF,Arial,0x0,Tahoma,0x0\n";
const char kTestsKey[] = "Software\\Quillset Tests";
const char kSharedDlls[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool KeyExists(const std::string& key)
{
    HKEY handle;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &handle))
        return false;
    RegCloseKey(handle);
    return true;
}

void SetSharedCount(const std::string& path, DWORD count)
{
    WriteRegistryValue(HKEY_LOCAL_MACHINE, kSharedDlls, path.c_str(), REG_DWORD, &count, 4);
}

std::vector<std::string> Items(const StringList* list)
{
    std::vector<std::string> items;
    for (int i = 0; i < ListCount(list); i++)
        items.push_back(ListGet(list, i));
    return items;
}

// Answers the dialogs that other threads of this process open, in order, from
// a thread of its own: each a caption expected and the command that answers
// it. Whatever comes beyond the script is answered No and recorded, so that a
// test never waits on a dialog for ever.
class DialogAnswerer {
public:
    explicit DialogAnswerer(std::vector<std::pair<std::string, int>> script) : script_(std::move(script))
    {
        thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    }
    ~DialogAnswerer()
    {
        stop_ = true;
        WaitForSingleObject(thread_, 10000);
        CloseHandle(thread_);
    }
    std::vector<std::string> captions;
    std::string firstMessage;   // the static text 1001 of the first dialog

private:
    static DWORD WINAPI Run(LPVOID self)
    {
        auto* answerer = (DialogAnswerer*)self;
        while (!answerer->stop_) {
            HWND dialog = FindOwnDialog();
            if (dialog)
                answerer->Answer(dialog);
            Sleep(50);
        }
        return 0;
    }
    void Answer(HWND dialog)
    {
        char text[2048] = "";
        GetWindowTextA(dialog, text, sizeof(text));
        size_t index = captions.size();
        captions.push_back(text);
        if (!index) {
            GetDlgItemTextA(dialog, IDC_SHARED_MESSAGE, text, sizeof(text));
            firstMessage = text;
        }
        if (index < script_.size() && captions.back() == script_[index].first) {
            PostMessageA(dialog, WM_COMMAND, script_[index].second, 0);
        } else {
            captions.back() = "unexpected: " + captions.back();
            PostMessageA(dialog, WM_COMMAND, IDNO, 0);
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        }
        for (int i = 0; i < 100 && IsWindow(dialog); i++)
            Sleep(50);
    }
    std::vector<std::pair<std::string, int>> script_;
    volatile bool stop_ = false;
    HANDLE thread_;
};

class Uninstall : public RunStateTest {
protected:
    ScratchFolder scratch{ "uninstall_test" };
    std::string logPath = TempFolder() + "\\uninstall_test.log";

    void SetUp() override
    {
        RunStateTest::SetUp();
        g_app.tempFolder = DupString(TempFolder().c_str(), 0);
        g_log.tempLogPath = DupString(logPath.c_str(), 0);
        RegDeleteTreeA(HKEY_CURRENT_USER, kTestsKey);
    }
    void TearDown() override
    {
        DeleteFileA(logPath.c_str());
        RegDeleteTreeA(HKEY_CURRENT_USER, kTestsKey);
        RunStateTest::TearDown();
    }
    // Writes the temporary log: the header and BODY, and rolls it back.
    void Rollback(const std::string& body, const std::string& header = kHeader)
    {
        WriteTestFile(logPath, header + body);
        RunUninstaller(TRUE);
    }
};

TEST_F(Uninstall, RollbackUndoesFilesAndFoldersNewestFirst)
{
    const std::string app = scratch / "App";
    const std::string files[] = { app + "\\Sub\\one.txt", app + "\\50%,off.txt", app + "\\link.lnk",
                                  app + "\\Data\\user.txt", app + "\\pending.dll", app + "\\half.txt",
                                  app + "\\tail.txt" };
    CreateDirectoryA(app.c_str(), nullptr);
    CreateDirectoryA((app + "\\Sub").c_str(), nullptr);
    CreateDirectoryA((app + "\\Data").c_str(), nullptr);
    for (const std::string& file : files)
        WriteTestFile(file, "x");
    SetFileAttributesA(files[0].c_str(), FILE_ATTRIBUTE_READONLY);
    std::string pending = files[4];
    CharUpperA(&pending[0]);
    ListAppend(g_install.pendingTargets, pending.c_str());

    Rollback("a," + app + "\na," + app + "\\Sub\nb," + files[0] + "\nB," + app + "\\50%25%2Coff.txt\nh," + files[2]
             + "\na," + app + "\\Data\nb," + files[4]
             // Damaged lines: a comma too many, no comma after the code.
             + "\nb," + files[5] + ",x\nb" + files[5] + "\n"
             // The last line lacks its line feed.
             + "b," + files[6]);
    EXPECT_FALSE(Exists(app + "\\Sub"));
    for (int i : { 0, 1, 2 })
        EXPECT_FALSE(Exists(files[i])) << files[i];
    for (int i : { 3, 4, 5, 6 })
        EXPECT_TRUE(Exists(files[i])) << files[i];
    EXPECT_EQ(Items(g_uninstall.leftovers), (std::vector<std::string>{ app + "\\Data", app }));
    EXPECT_EQ(ListCount(g_uninstall.restartDeletes), 0);
    EXPECT_FALSE(Exists(logPath));
    EXPECT_EQ(WaitForSingleObject(g_app.uninstallDoneEvent, 0), WAIT_OBJECT_0);
    EXPECT_EQ(g_uninstall.logText, nullptr);
}

TEST_F(Uninstall, RollbackRemovesRegistryValuesAndKeys)
{
    const std::string base = std::string(kTestsKey) + "\\Uninstall";
    for (const char* key : { "\\Values", "\\Empty", "\\Tree\\Child\\Leaf", "\\Kept\\Sub", "\\A,B\\C" })
        ASSERT_EQ(WriteRegistryValue(HKEY_CURRENT_USER, (base + key).c_str(), "One", REG_SZ, "1", 2), 0) << key;
    WriteRegistryValue(HKEY_CURRENT_USER, (base + "\\Values").c_str(), "Two", REG_SZ, "2", 2);
    DeleteRegistryValue(HKEY_CURRENT_USER, (base + "\\Empty").c_str(), "One", FALSE);
    const std::string sentinel = std::string(kTestsKey) + "\\Sentinel";
    WriteRegistryValue(HKEY_CURRENT_USER, sentinel.c_str(), "Keep", REG_SZ, "k", 2);
    // A value right under the root, which no "c" line without a key may reach.
    ASSERT_EQ(RegSetValueExA(HKEY_CURRENT_USER, "QuillsetRootValue", 0, REG_SZ, (const BYTE*)"r", 2), 0);

    DialogAnswerer answers({ { "正在删除注册表中键值.", IDOK }, { "正在删除注册表中的键值.", IDOK } });
    Rollback("e,1," + base + "\ne,1," + base + "\\Values\nc,1," + base + "\\Values,One\nc,1," + base
             + "\\Values,Missing\ne,1," + base + "\\Empty\ne,1," + base + "\\Tree,1\ne,1," + base + "\\Kept\n"
             + "E,1," + base + "\\A%2CB,1\n"
             // A key of only a root deletes nothing, with or without subkeys.
             + "e,1,\ne,1,\\,1\n"
             // Nor does a value line without a key.
             + "c,1,,QuillsetRootValue\nc,1,\\,QuillsetRootValue\n"
             // Errors other than a missing value or key are reported.
             + "c,9,Key,Value\ne,9,Key\n");
    EXPECT_TRUE(KeyExists(base + "\\Values"));   // "Two" is still in it
    DWORD type;
    BYTE* data = ReadRegistryValue(HKEY_CURRENT_USER, (base + "\\Values").c_str(), "One", &type);
    EXPECT_EQ(data, nullptr);
    FreeMem(data);
    EXPECT_FALSE(KeyExists(base + "\\Empty"));
    EXPECT_FALSE(KeyExists(base + "\\Tree"));
    EXPECT_FALSE(KeyExists(base + "\\A,B"));
    EXPECT_TRUE(KeyExists(base + "\\Kept\\Sub"));
    EXPECT_TRUE(KeyExists(base));
    EXPECT_TRUE(KeyExists(sentinel));
    EXPECT_TRUE(KeyExists("Software"));
    EXPECT_EQ(RegQueryValueExA(HKEY_CURRENT_USER, "QuillsetRootValue", nullptr, nullptr, nullptr, nullptr), 0);
    RegDeleteValueA(HKEY_CURRENT_USER, "QuillsetRootValue");
    EXPECT_EQ(answers.captions, (std::vector<std::string>{ "正在删除注册表中键值.", "正在删除注册表中的键值." }));
}

TEST_F(Uninstall, RollbackRunsProgramsAndDllCallsNewestFirst)
{
    const std::string program = scratch / "marker_program.exe";
    const std::string library = scratch / "recorder.dll";
    ASSERT_TRUE(CopyFileA(FixturePath("marker_program.exe").c_str(), program.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(FixturePath("recorder.dll").c_str(), library.c_str(), FALSE));
    // An empty wait column waits for the program.
    Rollback("d," + program + ",," + scratch.path() + ",,1,0\nf," + library + ",TwoArguments,alpha,beta gamma,1\nf,"
             + library + ",NoArgument,,,1\n");
    EXPECT_TRUE(Exists(program + ".loaded"));
    HANDLE calls = CreateFileA((library + ".calls").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                               nullptr);
    char text[128] = "";
    DWORD read = 0;
    ReadFile(calls, text, sizeof(text) - 1, &read, nullptr);
    CloseHandle(calls);
    EXPECT_STREQ(text, "none\ntwo alpha|beta gamma\n");
}

DWORD WINAPI CloseLater(LPVOID handle)
{
    Sleep(500);
    CloseHandle(handle);
    return 0;
}

TEST_F(Uninstall, LockedFileIsTriedForTwoSecondsThenLeftForRestart)
{
    const std::string locked = scratch / "locked.dll";
    const std::string released = scratch / "released.dll";
    WriteTestFile(locked, "x");
    WriteTestFile(released, "x");
    HANDLE lock = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE briefLock = CreateFileA(released.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    ASSERT_NE(briefLock, INVALID_HANDLE_VALUE);
    // The second file's lock ends while the worker is still trying.
    HANDLE unlocker = CreateThread(nullptr, 0, CloseLater, briefLock, 0, nullptr);
    DWORD start = GetTickCount();
    Rollback("b," + locked + "\nb," + released + "\n");
    DWORD elapsed = GetTickCount() - start;
    WaitForSingleObject(unlocker, 5000);
    CloseHandle(unlocker);
    CloseHandle(lock);
    EXPECT_FALSE(Exists(released));
    EXPECT_TRUE(Exists(locked));
    EXPECT_EQ(Items(g_uninstall.restartDeletes), std::vector<std::string>{ locked });
    EXPECT_GE(elapsed, 1900u);
}

TEST_F(Uninstall, SharedFilesAreAskedAboutWhenTheirCountEnds)
{
    std::string no = scratch / "no.dll", yes = scratch / "yes.dll", many = scratch / "many.dll",
                twice = scratch / "twice.dll", all = scratch / "all.dll", after = scratch / "after.dll";
    for (const std::string* path : { &no, &yes, &many, &twice, &all, &after }) {
        WriteTestFile(*path, "x");
        SetSharedCount(*path, 1);
    }
    SetSharedCount(many, 5);
    SetSharedCount(twice, 2);
    // Awaiting replacement at restart keeps a file from "b" lines, not from "g".
    ListAppend(g_install.pendingTargets, yes.c_str());
    const char* shared = "已经检测到的共享文件";
    const char* confirm = "请确认您的操作！ ";
    DialogAnswerer answers({ { shared, IDCANCEL }, { shared, IDOK }, { shared, IDC_YES_TO_ALL }, { confirm, IDNO },
                             { shared, IDC_YES_TO_ALL }, { confirm, IDYES } });
    // Undone from the last line: no, yes, many, twice (count 1), twice
    // (count 0), all, after.
    Rollback("g," + after + "\ng," + all + "\ng," + twice + "\ng," + twice + "\ng," + many + "\ng," + yes + "\ng," + no
             + "\n");
    EXPECT_EQ(answers.captions, (std::vector<std::string>{ shared, shared, shared, confirm, shared, confirm }));
    EXPECT_NE(answers.firstMessage.find("文件名称 : no.dll\n文件位置  : " + scratch.path() + "\n"), std::string::npos)
        << answers.firstMessage;
    EXPECT_TRUE(Exists(no));
    EXPECT_TRUE(Exists(many));
    for (const std::string* path : { &yes, &twice, &all, &after })
        EXPECT_FALSE(Exists(*path)) << *path;
    EXPECT_TRUE(g_uninstall.deleteAllShared);
    DWORD type;
    BYTE* count = ReadRegistryValue(HKEY_LOCAL_MACHINE, kSharedDlls, many.c_str(), &type);
    ASSERT_NE(count, nullptr);
    EXPECT_EQ(*(DWORD*)count, 4u);
    FreeMem(count);
    DeleteRegistryValue(HKEY_LOCAL_MACHINE, kSharedDlls, many.c_str(), FALSE);
    for (const std::string* path : { &no, &twice })
        EXPECT_EQ(ReadRegistryValue(HKEY_LOCAL_MACHINE, kSharedDlls, path->c_str(), &type), nullptr);
}

TEST_F(Uninstall, DamagedOrForeignLogsAreRefused)
{
    const std::string victim = scratch / "victim.txt";
    WriteTestFile(victim, "x");
    const std::string body = "b," + victim + "\n";
    const std::string logs[] = {
        "=== QUILLSET log file ===\nA\nB\n0\n" + body,     // the first line differs in case
        "=== Quillset log file ===\r\nA\nB\n0\n" + body,   // written with carriage returns
        "=== Quillset log file ===\nA\nB\n0,0x1,0x2",       // truncated in line 4
        "=== Quillset log file ===",
        "",
    };
    for (const std::string& log : logs) {
        Rollback(log, "");
        EXPECT_TRUE(Exists(victim)) << log;
        // Read or not, the temporary log goes.
        EXPECT_FALSE(Exists(logPath)) << log;
    }
    RunUninstaller(TRUE);   // no log at all
    EXPECT_TRUE(Exists(victim));
    EXPECT_NE(WaitForSingleObject(g_app.uninstallDoneEvent, 0), WAIT_OBJECT_0);

    // A body without a line feed: the worker does nothing.
    std::string text = body.substr(0, body.size() - 1);
    g_uninstall.logBody = &text[0];
    EXPECT_EQ(UninstallWorker(nullptr), 1u);
    g_uninstall.logBody = nullptr;
    EXPECT_TRUE(Exists(victim));
}

TEST_F(Uninstall, UninstallerReadsTheHeaderOfTheLogBesideItself)
{
    FreeMem(g_app.modulePath);
    g_app.modulePath = DupString((scratch / "Remove.Me.exe").c_str(), 0);
    g_app.moduleFolder = DupString(scratch.path().c_str(), 0);
    const std::string victim = scratch / "victim.txt";
    WriteTestFile(victim, "x");
    WriteTestFile(scratch / "Remove.Me.log", "=== Quillset log file ===\nProduct 2 Full\nProduct2\n1,0xABCDEF,0x2000000,"
                                         "0x1000000,0x123,Title Face,0x456,Body Face,0x789\nb,"
                                         + victim + "\n");
    {
        // The installed copy asks first; No ends it without removing anything.
        DialogAnswerer answerer({ { "Product2 卸载程序 ", IDNO } });
        RunUninstaller(FALSE);
        Sleep(200);
        EXPECT_EQ(answerer.captions, std::vector<std::string>{ "Product2 卸载程序 " });
    }
    EXPECT_STREQ(g_product.productFullName, "Product 2 Full");
    EXPECT_STREQ(g_product.productName, "Product2");
    EXPECT_EQ(g_appearance.layoutOffset, 20);
    EXPECT_EQ(g_appearance.decorationColor, 0xABCDEFu);
    EXPECT_EQ(g_appearance.headerColor, (COLORREF)COLOR_WORD_WINDOW);
    EXPECT_EQ(g_appearance.bodyColor, (COLORREF)COLOR_WORD_BTNFACE);
    EXPECT_EQ(g_appearance.bandColor, 0x123u);
    EXPECT_STREQ(g_appearance.titleFontFace, "Title Face");
    EXPECT_EQ(g_appearance.titleTextColor, 0x456u);
    EXPECT_STREQ(g_appearance.bodyFontFace, "Body Face");
    EXPECT_EQ(g_appearance.bodyTextColor, 0x789u);
    EXPECT_TRUE(Exists(victim));
    EXPECT_TRUE(Exists(scratch / "Remove.Me.log"));
}

INT_PTR CALLBACK QuietDialog(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

// The worker with the uninstaller dialog's controls, on a thread of its own
// while this one keeps the dialog's messages going.
class UninstallDialog : public Uninstall {
protected:
    HWND dialog = nullptr;
    std::string body;

    void SetUp() override
    {
        Uninstall::SetUp();
        dialog = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), DialogTemplate(IDD_UNINSTALLER), nullptr,
                                            QuietDialog, 0);
        ASSERT_NE(dialog, nullptr);
    }
    void TearDown() override
    {
        DestroyWindow(dialog);
        Uninstall::TearDown();
    }
    // Starts the worker on BODY; true when it ended within 30 seconds.
    bool Run(const std::string& text, DWORD* result, bool quit = false)
    {
        body = text;
        g_uninstall.logBody = &body[0];
        if (quit)
            HoldWorker();
        DWORD id;
        HANDLE worker = CreateThread(nullptr, 0, UninstallWorker, dialog, 0, &id);
        // The worker's queue exists once it runs: until then the message is refused.
        for (int i = 0; quit && i < 100 && !PostThreadMessageA(id, WM_QUIT, 0, 0); i++)
            Sleep(50);
        SetEvent(g_app.pauseEvent);
        DWORD start = GetTickCount();
        while (MsgWaitForMultipleObjects(1, &worker, FALSE, 1000, QS_ALLINPUT) != WAIT_OBJECT_0
               && GetTickCount() - start < 30000) {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&message);
        }
        bool ended = WaitForSingleObject(worker, 0) == WAIT_OBJECT_0;
        GetExitCodeThread(worker, result);
        CloseHandle(worker);
        g_uninstall.logBody = nullptr;
        return ended;
    }
    std::string Text(int id)
    {
        char text[1024] = "";
        GetDlgItemTextA(dialog, id, text, sizeof(text));
        return text;
    }
};

TEST_F(UninstallDialog, ProgressReachesTheEndAndTheDialogCloses)
{
    const std::string folder = scratch / "A rather long folder name that the path control cannot show whole";
    const std::string file = folder + "\\and a long file name as well.txt";
    CreateDirectoryA(folder.c_str(), nullptr);
    WriteTestFile(file, "x");
    ShowWindow(dialog, SW_SHOW);
    DWORD result = 99;
    ASSERT_TRUE(Run("a," + folder + "\nb," + file + "\nc,1,Software\\Quillset Tests\\None,Value\n", &result));
    EXPECT_EQ(result, 0u);
    EXPECT_FALSE(Exists(folder));
    EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_GETPOS, 0, 0), 100);
    EXPECT_EQ(Text(IDC_TEXT3), "正在删除文件.....");
    // The last line's path, whole: the control's style shortens it on the screen.
    EXPECT_EQ(Text(IDC_UNINSTALL_FILE), folder);
    EXPECT_TRUE(GetWindowLongA(GetDlgItem(dialog, IDC_UNINSTALL_FILE), GWL_STYLE) & SS_PATHELLIPSIS);
    EXPECT_EQ(WaitForSingleObject(g_app.uninstallDoneEvent, 0), WAIT_OBJECT_0);
    EXPECT_FALSE(IsWindowVisible(dialog));
}

TEST_F(UninstallDialog, LeftoverFoldersKeepTheDialogOpen)
{
    const std::string folder = scratch / "Data";
    CreateDirectoryA(folder.c_str(), nullptr);
    WriteTestFile(folder + "\\user.txt", "x");
    ShowWindow(dialog, SW_SHOW);
    DWORD result = 99;
    ASSERT_TRUE(Run("a," + folder + "\n", &result));
    EXPECT_EQ(Items(g_uninstall.leftovers), std::vector<std::string>{ folder });
    EXPECT_EQ(WaitForSingleObject(g_app.uninstallDoneEvent, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(IsWindowVisible(dialog));
}

TEST_F(UninstallDialog, FileInUseIsOfferedForAnotherTry)
{
    const std::string locked = scratch / "locked.dll";
    WriteTestFile(locked, "x");
    HANDLE lock = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    // The dialog stays hidden, so that the answerer sees only the question.
    DialogAnswerer answers({ { "正在删除文件.", IDNO } });
    DWORD result = 99;
    bool ended = Run("h," + locked + "\n", &result);
    CloseHandle(lock);
    ASSERT_TRUE(ended);
    EXPECT_EQ(answers.captions, std::vector<std::string>{ "正在删除文件." });
    EXPECT_EQ(Items(g_uninstall.restartDeletes), std::vector<std::string>{ locked });
}

TEST_F(UninstallDialog, QuitStopsTheWorkerBeforeTheNextLine)
{
    const std::string file = scratch / "kept.txt";
    WriteTestFile(file, "x");
    DWORD result = 99;
    ASSERT_TRUE(Run("b," + file + "\n", &result, true));
    EXPECT_EQ(result, 0u);
    EXPECT_TRUE(Exists(file));
    EXPECT_NE(WaitForSingleObject(g_app.uninstallDoneEvent, 0), WAIT_OBJECT_0);
}

}  // namespace
