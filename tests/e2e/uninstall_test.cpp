// The uninstaller end to end: products installed from packages the builder
// writes, then removed as the system's list of programs starts them, from
// the "UninstallString": the confirmation, the copy in the temporary folder,
// the dialog and its leftover tree, the questions, and what is left
// afterwards on disk and in the registry.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <commctrl.h>
#include <functional>
#include <set>
#include "fixture_path.h"
#include "folder_link.h"
#include "install_fixture.h"
#include "package_fixture.h"

using namespace e2e;

namespace {

constexpr int kTitle = 1001, kSubtitle = 1002, kStatus = 1003, kLeftoverText = 1007;
constexpr int kSelectAll = 1010, kDelete = 1011, kClose = 1012, kTree = 1026;
constexpr int kYesToAll = 1011;
const char kUninstallBase[] = "Software\\Microsoft\\Windows\\CurrentVersion\\";

std::vector<HWND> WindowsOf(DWORD pid)
{
    Process p;
    p.info.dwProcessId = pid;
    std::vector<HWND> found = VisibleWindows(p);
    p.info.dwProcessId = 0;
    return found;
}

BOOL CALLBACK CollectForeignWindow(HWND window, LPARAM found)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != GetCurrentProcessId() && IsWindowVisible(window))
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    return TRUE;
}

// The visible windows of every process but the test's own: those of an
// uninstaller that another program started.
std::vector<HWND> ForeignWindows()
{
    std::vector<HWND> found;
    EnumWindows(CollectForeignWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

// A tree item's text, read across processes through memory of the
// uninstaller's own.
std::string TreeText(HANDLE process, HWND tree, HTREEITEM item)
{
    char* remote = static_cast<char*>(VirtualAllocEx(process, nullptr, 4096, MEM_COMMIT, PAGE_READWRITE));
    if (!remote)
        return "";
    TVITEMA query{};
    query.mask = TVIF_TEXT;
    query.hItem = item;
    query.pszText = remote + sizeof(query);
    query.cchTextMax = 4096 - sizeof(query);
    SIZE_T done;
    WriteProcessMemory(process, remote, &query, sizeof(query), &done);
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(remote));
    char text[4096] = "";
    ReadProcessMemory(process, remote + sizeof(query), text, sizeof(text) - sizeof(query), &done);
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    return text;
}

HTREEITEM Next(HWND tree, HTREEITEM item, UINT relation)
{
    return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

// The tree as "text" lines, children indented by two blanks per level; only
// what is loaded, without the empty placeholders of folders not yet opened.
void ListTreeItems(HANDLE process, HWND tree, HTREEITEM item, int depth, std::vector<std::string>& out)
{
    for (; item; item = Next(tree, item, TVGN_NEXT)) {
        std::string text = TreeText(process, tree, item);
        if (!text.empty())
            out.push_back(std::string(2 * depth, ' ') + text);
        ListTreeItems(process, tree, Next(tree, item, TVGN_CHILD), depth + 1, out);
    }
}

bool Checked(HWND tree, HTREEITEM item)
{
    return (SendMessageA(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item), TVIS_STATEIMAGEMASK) >> 12) == 2;
}

// Clicks ITEM's check box as a user would.
void ClickCheckBox(HANDLE process, HWND tree, HTREEITEM item)
{
    RECT* remote = static_cast<RECT*>(VirtualAllocEx(process, nullptr, sizeof(RECT), MEM_COMMIT, PAGE_READWRITE));
    RECT rect{};
    SIZE_T done;
    *reinterpret_cast<HTREEITEM*>(&rect) = item;
    WriteProcessMemory(process, remote, &rect, sizeof(rect), &done);
    BOOL shown = (BOOL)SendMessageA(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(remote));
    ReadProcessMemory(process, remote, &rect, sizeof(rect), &done);
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    if (!shown)
        return;
    // Left of the item's 16-pixel icon.
    POINT at = { rect.left - 24, (rect.top + rect.bottom) / 2 };
    POINT screen = at;
    ClientToScreen(tree, &screen);
    SetCursorPos(screen.x, screen.y);
    PostMessageA(tree, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y));
    PostMessageA(tree, WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
}

void RunAndWaitForRestart()
{
    std::string command = "wineboot.exe -r";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return;
    if (WaitForSingleObject(info.hProcess, 120000) != WAIT_OBJECT_0)
        TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
}

struct Removal {
    long installedExit = -1;           // the copy the system started
    long relocatedExit = -1;           // the copy in the temporary folder
    std::vector<SeenBox> boxes;        // every message box and dialog 200, in order
    bool dialogSeen = false, leftoverView = false;
    std::string closedTitle;           // the dialog's title line when it ended
    std::vector<std::string> treeAtStart;   // the leftover tree as it was first shown
    bool copiesGone = false;           // QST*.tmp and their batches QST*.tmp.bat gone afterwards
    // Visible windows of other processes while the copies went (a console
    // of the self-deletion batch), by class name.
    std::vector<std::string> windowsAfterwards;
};

struct RemovalOptions {
    std::function<int(const SeenBox&)> answer;   // null or 0: Yes, else OK
    // Called while the leftover view shows and no question is open; true
    // when the test is done with it (the dialog is then closed).
    std::function<bool(HANDLE process, HWND dialog)> leftovers;
    // Called about every 20 ms while the progress view shows.
    std::function<void(HWND dialog)> progress;
    // A program that starts the uninstaller itself and waits for it (Wine's
    // uninstaller); empty: the test starts the entry's "UninstallString".
    std::string launcher;
};

// Starts the uninstaller as the system does, from the product's
// "UninstallString", and follows both processes to their end.
Removal Uninstall(const InstallProject& project, const RemovalOptions& options = {})
{
    Removal result;
    std::string command = options.launcher.empty()
                              ? RegistryString(HKEY_LOCAL_MACHINE, project.UninstallKey(), "UninstallString")
                              : options.launcher;
    EXPECT_FALSE(command.empty());
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION installed{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &installed))
        return result;
    CloseHandle(installed.hThread);
    HANDLE relocated = nullptr;
    DWORD relocatedPid = 0;
    std::set<HWND> answered;
    const std::string title = project.product + " 卸载程序 ";
    bool leftoversDone = false;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 120000; Sleep(20)) {
        bool installedRunning = WaitForSingleObject(installed.hProcess, 0) == WAIT_TIMEOUT;
        if (!relocated) {
            HWND dialog = FindWindowA("#32770", title.c_str());
            DWORD owner = 0;
            GetWindowThreadProcessId(dialog, &owner);
            if (dialog && HasItem(dialog, kTree) && owner != installed.dwProcessId) {
                GetWindowThreadProcessId(dialog, &relocatedPid);
                relocated = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION
                                            | PROCESS_VM_READ | PROCESS_VM_WRITE,
                                        FALSE, relocatedPid);
                result.dialogSeen = true;
            }
        }
        bool relocatedRunning = relocated && WaitForSingleObject(relocated, 0) == WAIT_TIMEOUT;
        if (!installedRunning && !relocatedRunning && (relocated || GetTickCount() - start > 5000))
            break;
        std::vector<HWND> windows = options.launcher.empty() ? WindowsOf(installed.dwProcessId) : ForeignWindows();
        if (relocatedPid && options.launcher.empty()) {
            std::vector<HWND> more = WindowsOf(relocatedPid);
            windows.insert(windows.end(), more.begin(), more.end());
        }
        HWND dialog = nullptr;
        bool question = false;
        for (HWND window : windows) {
            // The confirmation has the dialog's title too, but no tree.
            if (HasItem(window, kTree)) {
                dialog = window;
                continue;
            }
            if (!IsMessageBox(window) && !HasItem(window, kYesToAll))
                continue;
            question = true;
            if (answered.count(window))
                continue;
            answered.insert(window);
            SeenBox box;
            Sleep(150);   // drawn, so that its icon can be told
            box.view = ReadMessageBox(window);
            if (HasItem(window, kYesToAll) && !HasItem(window, 0xFFFF))
                box.view.text = ItemText(window, kTitle);   // dialog 200 holds its message in 1001
            box.yesNo = IsWindowVisible(GetDlgItem(window, IDYES)) && IsWindowVisible(GetDlgItem(window, IDNO));
            box.answer = options.answer ? options.answer(box) : 0;
            if (!box.answer)
                box.answer = box.yesNo ? IDYES : IDOK;
            Click(window, box.answer);
            result.boxes.push_back(box);
            std::printf("box: [%s] %.60s -> %d\n", box.view.caption.c_str(), box.view.text.c_str(), box.answer);
        }
        if (!dialog || question)
            continue;
        result.closedTitle = ItemText(dialog, kTitle);
        if (IsWindowVisible(GetDlgItem(dialog, kTree))) {
            if (!result.leftoverView) {
                result.leftoverView = true;
                HWND tree = GetDlgItem(dialog, kTree);
                ListTreeItems(relocated, tree, Next(tree, nullptr, TVGN_ROOT), 0, result.treeAtStart);
            }
            if (!leftoversDone && (!options.leftovers || options.leftovers(relocated, dialog))) {
                leftoversDone = true;
                Click(dialog, kClose);
            }
        } else if (options.progress) {
            options.progress(dialog);
        }
    }
    result.installedExit = WaitForSingleObject(installed.hProcess, 5000) == WAIT_OBJECT_0 ? 0 : -1;
    DWORD code = 1;
    if (result.installedExit == 0 && GetExitCodeProcess(installed.hProcess, &code))
        result.installedExit = static_cast<long>(code);
    else
        TerminateProcess(installed.hProcess, 1);
    CloseHandle(installed.hProcess);
    if (relocated) {
        if (WaitForSingleObject(relocated, 5000) == WAIT_OBJECT_0 && GetExitCodeProcess(relocated, &code))
            result.relocatedExit = static_cast<long>(code);
        else
            TerminateProcess(relocated, 1);
        CloseHandle(relocated);
    }
    // The batch tries once a second until the copy's process has ended.
    for (DWORD start = GetTickCount(); GetTickCount() - start < 60000; Sleep(100)) {
        for (HWND window : ForeignWindows()) {
            char name[64] = "";
            GetClassNameA(window, name, sizeof(name));
            result.windowsAfterwards.push_back(name);
        }
        if ((result.copiesGone = TempFiles("QST*.tmp").empty() && TempFiles("QST*.tmp.bat").empty()))
            break;
    }
    return result;
}

// Everything an installation may change, read with hashes.
struct Snapshot {
    std::map<std::string, TreeItem> files, programs, windows;
    std::map<std::string, std::string> machine, user, classes, shared;
};

std::map<std::string, TreeItem> WindowsIniFiles()
{
    std::map<std::string, TreeItem> found;
    for (auto& [path, item] : ListTree(SpecialFolder(CSIDL_WINDOWS), false))
        if (path.find('\\') == std::string::npos && path.size() > 4 && path.substr(path.size() - 4) == ".ini")
            found[path] = item;
    return found;
}

Snapshot TakeSnapshot(const InstallProject& project, const std::string& productKey)
{
    Snapshot s;
    s.files = ListTree(project.folder);
    s.programs = ListTree(SpecialFolder(CSIDL_PROGRAMS));
    s.windows = WindowsIniFiles();
    s.machine = ExportRegistry(HKEY_LOCAL_MACHINE, std::string(kUninstallBase) + "Uninstall");
    auto productMachine = ExportRegistry(HKEY_LOCAL_MACHINE, productKey);
    s.machine.insert(productMachine.begin(), productMachine.end());
    s.user = ExportRegistry(HKEY_CURRENT_USER, productKey);
    s.classes = ExportRegistry(HKEY_CLASSES_ROOT, ".qsremove");
    auto progId = ExportRegistry(HKEY_CLASSES_ROOT, "QSRemove.Document");
    s.classes.insert(progId.begin(), progId.end());
    s.shared = ExportRegistry(HKEY_LOCAL_MACHINE, std::string(kUninstallBase) + "SharedDLLs");
    return s;
}

// The same paths, and files of the same contents, attributes and times (a
// folder's time changes with what it holds).
void ExpectSame(const std::map<std::string, TreeItem>& before, const std::map<std::string, TreeItem>& after,
                const char* where)
{
    for (auto& [path, item] : after)
        EXPECT_TRUE(before.count(path)) << where << ": left behind: " << path;
    for (auto& [path, item] : before) {
        auto found = after.find(path);
        if (found == after.end()) {
            ADD_FAILURE() << where << ": gone: " << path;
            continue;
        }
        const TreeItem& now = found->second;
        EXPECT_TRUE(item.folder == now.folder && item.size == now.size && item.hash == now.hash
                    && item.attributes == now.attributes && (item.folder || item.write == now.write))
            << where << ": changed: " << path;
    }
}

// PROJECT with one file, src\app.txt, built: the package, or "".
std::string BuildOneFileProduct(InstallProject& project)
{
    project.Source("src\\app.txt", "app");
    project.sections = "[files]\nsource=src\\app.txt\n";
    return project.Build();
}

class Uninstaller : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const std::string& name : TempFiles("QST*.tmp")) {
            char temp[MAX_PATH];
            GetTempPathA(MAX_PATH, temp);
            DeleteFileA((std::string(temp) + name).c_str());
        }
    }
};

// Install, use, uninstall: files, shortcuts, registry values and keys, INI
// entries, an association, SharedDLLs counts, and the uninstall entry are
// gone; the programs and DLL functions registered for removal ran; the
// prefix is as it was before the installation.
TEST_F(Uninstaller, RoundTripLeavesThePrefixAsItWas)
{
    InstallProject project("UnRemove");
    std::string evidence = FreshFolder("uninstall-evidence");
    RemoveFolder(SpecialFolder(CSIDL_PROGRAMS) + "\\QS UnRemove");
    DeleteFileA((SpecialFolder(CSIDL_WINDOWS) + "\\qsremove.ini").c_str());
    DeleteRegistryTree(HKEY_CURRENT_USER, "Software\\QS Remove");
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, "Software\\QS Remove");
    DeleteRegistryTree(HKEY_CLASSES_ROOT, ".qsremove");
    DeleteRegistryTree(HKEY_CLASSES_ROOT, "QSRemove.Document");
    project.Source("src\\readme.txt", "read me");
    project.Source("src\\docs\\guide.txt", "guide");
    project.Source("src\\docs\\deep\\notes.txt", "notes");
    project.Source("shared\\qsremove_a.dll", Fixture("recorder.dll"));
    project.Source("shared\\qsremove_b.dll", Fixture("recorder.dll"));
    project.Source("tools\\recorder.dll", Fixture("recorder.dll"));
    project.sections =
        "[files]\nsource=src\\readme.txt\nsource=src\\docs\n"
        "[files]\nsource=tools\\recorder.dll\ndestination=%InstallPath%\\tools\n"
        "[files]\nsource=shared\\qsremove_a.dll\nsource=shared\\qsremove_b.dll\n"
        "destination=%InstallPath%\\shared\nshared=yes\n"
        "[shortcut]\npath=<Programs>\\%ShortcutsGroup%\\Guide.lnk\ntarget=%InstallPath%\\docs\\guide.txt\n"
        "[registry]\nroot=HKCU\nkey=Software\\QS Remove\\Values\nname=Text\ndata=%InstallPath%\n"
        "[registry]\nroot=HKCU\nkey=Software\\QS Remove\\Values\nname=Number\ntype=dword\ndata=7\n"
        "[registry]\nroot=HKLM\nkey=Software\\QS Remove\nname=InstallPath\ndata=%InstallPath%\n"
        "[ini]\nfile=%InstallPath%\\config\\settings.ini\nsection=Main\nkey=Version\nvalue=1.0\n"
        "[ini]\nfile=qsremove.ini\nsection=QS Remove\nkey=Installed\nvalue=yes\n"
        "[association]\nextension=.qsremove\nprog_id=QSRemove.Document\ndescription=QS Remove document\n"
        "open_command=notepad.exe \"%1\"\n"
        "[program]\npath=<System>\\cmd.exe\narguments=/c echo removed>\"" + evidence + "\\program.txt\"\n"
        "moment=uninstall\nwait=yes\n"
        "[dll]\npath=%InstallPath%\\tools\\recorder.dll\nfunction=OneArgument\nargument1=removed\nmoment=uninstall\n";
    std::string package = project.Build();
    ASSERT_FALSE(package.empty());
    // Another product counts qsremove_b.dll already: its count only drops.
    std::string installPath = project.installPath;
    std::string sharedB = installPath + "\\shared\\qsremove_b.dll";
    DWORD one = 1;
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, (std::string(kUninstallBase) + "SharedDLLs").c_str(), 0, nullptr,
                              0, KEY_WRITE, nullptr, &key, nullptr), ERROR_SUCCESS);
    RegDeleteValueA(key, (installPath + "\\shared\\qsremove_a.dll").c_str());
    RegSetValueExA(key, sharedB.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4);
    RegCloseKey(key);
    Snapshot before = TakeSnapshot(project, "Software\\QS Remove");

    InstallRun install = RunInstaller(package);
    ASSERT_EQ(install.exitCode, 0);
    ASSERT_TRUE(Exists(project.UninstallerPath()));
    EXPECT_EQ(RegistryDword(HKEY_LOCAL_MACHINE, std::string(kUninstallBase) + "SharedDLLs", sharedB), 2);
    EXPECT_EQ(RegistryDword(HKEY_LOCAL_MACHINE, std::string(kUninstallBase) + "SharedDLLs",
                            installPath + "\\shared\\qsremove_a.dll"), 1);

    std::string calls;
    RemovalOptions options;
    options.answer = [](const SeenBox& box) {
        return box.view.caption == "已经检测到的共享文件" ? IDOK : 0;
    };
    // The DLL function ran in the product's folder: the file it wrote there
    // is the product's only leftover. Read, then removed through the tree.
    int step = 0;
    options.leftovers = [&](HANDLE, HWND dialog) {
        HWND tree = GetDlgItem(dialog, kTree);
        if (step == 0) {
            calls = ReadText(installPath + "\\tools\\recorder.dll.calls");
            Click(dialog, kSelectAll);
            step = 1;
        } else if (step == 1 && IsWindowEnabled(GetDlgItem(dialog, kDelete))) {
            Click(dialog, kDelete);
            step = 2;
        }
        return step == 2 && !Next(tree, nullptr, TVGN_ROOT);
    };
    Removal removal = Uninstall(project, options);

    EXPECT_EQ(removal.installedExit, 0);
    EXPECT_EQ(removal.relocatedExit, 0);
    EXPECT_TRUE(removal.dialogSeen);
    EXPECT_TRUE(removal.copiesGone);
    ASSERT_GE(removal.boxes.size(), 3u);
    EXPECT_EQ(removal.boxes[0].view.caption, "QS UnRemove 卸载程序 ");
    EXPECT_EQ(removal.boxes[0].view.text, "您真的要从您的计算机中完全删除 QS UnRemove 1.0 这个软件吗？");
    EXPECT_TRUE(removal.boxes[0].yesNo);
    // qsremove_a.dll reached 0: asked; qsremove_b.dll went back to 1: not asked.
    EXPECT_EQ(removal.boxes[1].view.caption, "已经检测到的共享文件");
    EXPECT_NE(removal.boxes[1].view.text.find("qsremove_a.dll"), std::string::npos);
    EXPECT_EQ(removal.boxes[2].view.text, "您真的要删除选中的这些文件和文件夹吗？请仔细检查以免误删文件。 ");
    EXPECT_EQ(removal.boxes.size(), 3u);
    EXPECT_TRUE(removal.leftoverView);
    EXPECT_EQ(removal.treeAtStart, std::vector<std::string>{ installPath });
    EXPECT_EQ(calls, "one removed\n");
    EXPECT_EQ(ReadText(evidence + "\\program.txt"), "removed\r\n");

    EXPECT_FALSE(Exists(installPath));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, project.UninstallKey()));
    EXPECT_EQ(RegistryDword(HKEY_LOCAL_MACHINE, std::string(kUninstallBase) + "SharedDLLs", sharedB), 1);
    Snapshot after = TakeSnapshot(project, "Software\\QS Remove");
    ExpectSame(before.files, after.files, "product folder");
    ExpectSame(before.programs, after.programs, "programs menu");
    ExpectSame(before.windows, after.windows, "Windows folder");
    EXPECT_EQ(before.machine, after.machine);
    EXPECT_EQ(before.user, after.user);
    EXPECT_EQ(before.classes, after.classes);
    EXPECT_EQ(before.shared, after.shared);
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string(kUninstallBase) + "SharedDLLs").c_str(), 0, KEY_WRITE, &key);
    RegDeleteValueA(key, sharedB.c_str());
    RegCloseKey(key);
}

// Files the user added are offered in one tree below the outermost folder;
// a read-only file answered No stays; a link inside goes without what it
// points to.
TEST_F(Uninstaller, LeftoversAreOfferedAndDeletedAsTicked)
{
    InstallProject project("UnLeftovers");
    project.Source("src\\app.txt", "app");
    project.Source("src\\docs\\guide.txt", "guide");
    project.sections = "[files]\nsource=src\\app.txt\nsource=src\\docs\n";
    std::string package = project.Build();
    ASSERT_FALSE(package.empty());
    ASSERT_EQ(RunInstaller(package).exitCode, 0);
    const std::string ip = project.installPath;
    ASSERT_TRUE(WriteFileBytes(ip + "\\user.txt", "u", 1));
    ASSERT_TRUE(WriteFileBytes(ip + "\\docs\\mine.txt", "m", 1));
    CreateDirectoryA((ip + "\\docs\\extra").c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(ip + "\\docs\\extra\\deep.txt", "d", 1));
    ASSERT_TRUE(WriteFileBytes(ip + "\\locked.txt", "r", 1));
    SetFileAttributesA((ip + "\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    // A link in the product's folder to a folder outside: the Unix link that
    // the test run prepares, moved in as it is, else a link of this system's.
    const std::string link = ip + "\\docs\\link", prepared = FixturePath("uninstall_link");
    std::string outside = prepared + "\\outside";
    bool linked = IsLink(prepared + "\\link") && MoveFileA((prepared + "\\link").c_str(), link.c_str())
                  && IsLink(link);
    if (!linked) {
        outside = FreshFolder("uninstall-outside");
        linked = CreateFolderLink(link, outside);
    }
    ASSERT_TRUE(WriteFileBytes(outside + "\\keep.txt", "keep", 4));

    RemovalOptions options;
    options.answer = [](const SeenBox& box) {
        return box.view.caption == "正在删除文件." ? IDNO : 0;   // the read-only file stays
    };
    std::vector<std::string> expanded, afterDelete;
    bool deleteEnabledAtStart = true;
    int step = 0;
    options.leftovers = [&](HANDLE process, HWND dialog) {
        HWND tree = GetDlgItem(dialog, kTree);
        HTREEITEM root = Next(tree, nullptr, TVGN_ROOT);
        HTREEITEM child = Next(tree, root, TVGN_CHILD);   // docs, locked.txt, user.txt
        if (step == 0) {
            deleteEnabledAtStart = IsWindowEnabled(GetDlgItem(dialog, kDelete));
            SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
            step = 1;
        } else if (step == 1 && !TreeText(process, tree, child).empty()) {
            ListTreeItems(process, tree, root, 0, expanded);
            // The folder and each file, not the root: the files are asked about one by one.
            for (; child; child = Next(tree, child, TVGN_NEXT))
                ClickCheckBox(process, tree, child);
            step = 2;
        } else if (step == 2 && IsWindowEnabled(GetDlgItem(dialog, kDelete))) {
            Click(dialog, kDelete);
            step = 3;
        } else if (step == 3 && !child) {
            ListTreeItems(process, tree, root, 0, afterDelete);
            return true;
        }
        return false;
    };
    Removal removal = Uninstall(project, options);

    EXPECT_EQ(removal.relocatedExit, 0);
    EXPECT_TRUE(removal.copiesGone);
    EXPECT_TRUE(removal.leftoverView);
    EXPECT_FALSE(deleteEnabledAtStart);
    EXPECT_EQ(removal.closedTitle, "软件的卸载已经完成.");
    // The product's own docs folder holds a file of the user's: one root.
    EXPECT_EQ(removal.treeAtStart, std::vector<std::string>{ ip });
    std::vector<std::string> expected = { ip, "  docs", "  locked.txt", "  user.txt" };
    EXPECT_EQ(expanded, expected);
    ASSERT_GE(removal.boxes.size(), 3u);
    EXPECT_EQ(removal.boxes[1].view.text, "您真的要删除选中的这些文件和文件夹吗？请仔细检查以免误删文件。 ");
    EXPECT_EQ(removal.boxes[2].view.text, ip + "\\locked.txt 这个文件具有只读的属性，真的要强制删除它吗？ ");
    // The read-only file left the tree but not the disk.
    EXPECT_EQ(afterDelete, std::vector<std::string>{ ip });
    EXPECT_TRUE(Exists(ip + "\\locked.txt"));
    EXPECT_FALSE(Exists(ip + "\\user.txt"));
    EXPECT_FALSE(Exists(ip + "\\docs"));
    EXPECT_EQ(ReadText(outside + "\\keep.txt"), "keep");
    EXPECT_FALSE(IsLink(link));
    if (!linked)
        std::printf("note: this system makes no folder links; the link case was not run\n");
    SetFileAttributesA((ip + "\\locked.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Ticking and unticking: a folder ticked while closed shows its content
// ticked when opened; unticking a file unticks its folders; the last
// unticked box disables Delete.
TEST_F(Uninstaller, CheckBoxesFollowTheirFolders)
{
    InstallProject project("UnTicks");
    std::string package = BuildOneFileProduct(project);
    ASSERT_FALSE(package.empty());
    ASSERT_EQ(RunInstaller(package).exitCode, 0);
    const std::string ip = project.installPath;
    CreateDirectoryA((ip + "\\sub").c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(ip + "\\sub\\a.txt", "a", 1));
    ASSERT_TRUE(WriteFileBytes(ip + "\\sub\\b.txt", "b", 1));
    CreateDirectoryA((ip + "\\empty").c_str(), nullptr);

    std::vector<bool> rootChecked, subChecked, fileChecked, deleteEnabled;
    bool emptyHasButton = true;
    int step = 0;
    RemovalOptions options;
    options.leftovers = [&](HANDLE process, HWND dialog) {
        HWND tree = GetDlgItem(dialog, kTree);
        HTREEITEM root = Next(tree, nullptr, TVGN_ROOT);
        HTREEITEM sub = Next(tree, Next(tree, root, TVGN_CHILD), TVGN_NEXT);   // "empty", then "sub"
        HTREEITEM file = sub ? Next(tree, sub, TVGN_CHILD) : nullptr;
        auto record = [&] {
            rootChecked.push_back(Checked(tree, root));
            subChecked.push_back(sub && Checked(tree, sub));
            fileChecked.push_back(file && Checked(tree, file));
            deleteEnabled.push_back(IsWindowEnabled(GetDlgItem(dialog, kDelete)));
        };
        switch (step++) {
        case 0:
            SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
            break;
        case 5:
            emptyHasButton = Next(tree, Next(tree, root, TVGN_CHILD), TVGN_CHILD) != nullptr;
            ClickCheckBox(process, tree, root);   // tick the root while "sub" is closed
            break;
        case 10:
            SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(sub));
            break;
        case 15:
            record();
            ClickCheckBox(process, tree, file);   // untick one file inside
            break;
        case 20:
            record();
            ClickCheckBox(process, tree, Next(tree, file, TVGN_NEXT));   // untick what is still ticked
            break;
        case 25:
            ClickCheckBox(process, tree, Next(tree, root, TVGN_CHILD));   // the last one
            break;
        case 30:
            record();
            return true;
        }
        return false;
    };
    Removal removal = Uninstall(project, options);
    ASSERT_EQ(rootChecked.size(), 3u);
    EXPECT_FALSE(emptyHasButton);
    // Ticked root, opened folder: all ticked.
    EXPECT_TRUE(rootChecked[0] && subChecked[0] && fileChecked[0] && deleteEnabled[0]);
    // One file unticked: its folder and the root follow.
    EXPECT_FALSE(rootChecked[1] || subChecked[1] || fileChecked[1]);
    EXPECT_TRUE(deleteEnabled[1]);
    EXPECT_FALSE(deleteEnabled[2]);
    EXPECT_TRUE(Exists(ip + "\\sub\\a.txt"));
    RemoveFolder(ip);
}

// Quitting while the removal runs asks, stops it and leaves the rest.
TEST_F(Uninstaller, QuitStopsTheRemoval)
{
    InstallProject project("UnQuit");
    std::string files = "[files]\n";
    for (int i = 0; i < 300; i++) {
        std::string name = "f" + std::to_string(i) + ".txt";
        project.Source("src\\" + name, name);
        files += "source=src\\" + name + "\n";
    }
    project.sections = files;
    std::string package = project.Build();
    ASSERT_FALSE(package.empty());
    ASSERT_EQ(RunInstaller(package).exitCode, 0);

    RemovalOptions options;
    bool clicked = false;
    options.progress = [&](HWND dialog) {
        if (!clicked)
            Click(dialog, kClose);
        clicked = true;
    };
    Removal quit = Uninstall(project, options);
    EXPECT_EQ(quit.relocatedExit, 0);
    EXPECT_TRUE(quit.copiesGone);
    EXPECT_FALSE(quit.leftoverView);
    ASSERT_EQ(quit.boxes.size(), 2u);
    EXPECT_EQ(quit.boxes[1].view.caption, "QS UnQuit 卸载程序 ");
    EXPECT_TRUE(quit.boxes[1].yesNo);
    EXPECT_EQ(quit.boxes[1].view.text.rfind("注意：这个卸载过程还没有完全结束。", 0), 0u);
    // Stopped early: the files installed first are removed last, and stay.
    EXPECT_TRUE(Exists(project.installPath + "\\f0.txt"));
    RemoveFolder(project.installPath);
}

// A removal that leaves nothing ends the dialog by itself and says that the
// product is gone.
TEST_F(Uninstaller, CompleteRemovalEndsWithTheMessage)
{
    InstallProject project("UnComplete");
    std::string package = BuildOneFileProduct(project);
    ASSERT_FALSE(package.empty());
    ASSERT_EQ(RunInstaller(package).exitCode, 0);
    Removal removal = Uninstall(project);
    EXPECT_EQ(removal.installedExit, 0);
    EXPECT_EQ(removal.relocatedExit, 0);
    EXPECT_TRUE(removal.dialogSeen);
    EXPECT_FALSE(removal.leftoverView);
    EXPECT_TRUE(removal.copiesGone);
    ASSERT_EQ(removal.boxes.size(), 2u);
    EXPECT_EQ(removal.boxes[1].view.caption, "QS UnComplete 卸载程序 ");
    EXPECT_EQ(removal.boxes[1].view.text, "软件 QS UnComplete 1.0 已经完全从您的电脑中删除了！                ");
    EXPECT_FALSE(Exists(project.installPath));
}

// The entry's "UninstallString" is the quoted path: with a blank in it, it
// starts the uninstaller as the system starts it (CreateProcess on the whole
// string) and as Wine's uninstaller starts it.
TEST_F(Uninstaller, QuotedUninstallStringWithBlanksStartsTheUninstaller)
{
    InstallProject project("Un Quoted");
    std::string package = BuildOneFileProduct(project);
    ASSERT_FALSE(package.empty());
    ASSERT_NE(project.UninstallerPath().find(' '), std::string::npos);
    RemovalOptions wine;
    wine.launcher = "uninstaller.exe --remove \"" + project.product + "\"";
    for (const RemovalOptions& options : { RemovalOptions{}, wine }) {
        SCOPED_TRACE(options.launcher.empty() ? "CreateProcess" : options.launcher);
        ASSERT_EQ(RunInstaller(package).exitCode, 0);
        EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, project.UninstallKey(), "UninstallString"),
                  "\"" + project.UninstallerPath() + "\"");
        Removal removal = Uninstall(project, options);
        EXPECT_EQ(removal.installedExit, 0);
        EXPECT_TRUE(removal.dialogSeen);
        EXPECT_TRUE(removal.copiesGone);
        ASSERT_EQ(removal.boxes.size(), 2u);
        EXPECT_EQ(removal.boxes[1].view.text, "软件 QS Un Quoted 1.0 已经完全从您的电脑中删除了！                ");
        EXPECT_FALSE(Exists(project.installPath));
        EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, project.UninstallKey()));
    }
}

// An image of a multiple of 64 KiB (the runtime with zeros behind it) is
// padded so that the low word of the package offset is not 0: the package
// installs, its uninstaller is the padded image with both words cleared,
// and the uninstaller removes the product.
TEST_F(Uninstaller, RuntimeOfAMultipleOfSixtyFourKibibytesInstallsAndUninstalls)
{
    InstallProject project("UnPadded");
    project.runtime = RuntimeImage();
    project.runtime.resize((project.runtime.size() / 65536 + 1) * 65536, 0);
    std::string package = BuildOneFileProduct(project);
    ASSERT_FALSE(package.empty());
    quillset::Bytes bytes = ReadFileBytes(package);
    const size_t p = project.runtime.size() + PACKAGE_OFFSET_PADDING;
    ASSERT_EQ(quillset::PackageOffsetOf(bytes), p);
    ASSERT_EQ(RunInstaller(package).exitCode, 0);
    EXPECT_EQ(ReadText(project.installPath + "\\app.txt"), "app");
    quillset::Bytes image(bytes.begin(), bytes.begin() + p);
    WritePackageOffset(image.data(), 0);
    EXPECT_TRUE(ReadFileBytes(project.UninstallerPath()) == image);
    Removal removal = Uninstall(project);
    EXPECT_EQ(removal.installedExit, 0);
    EXPECT_TRUE(removal.copiesGone);
    EXPECT_FALSE(Exists(project.installPath));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, project.UninstallKey()));
}

// A second installation over the first keeps the first log's lines for what
// is still there: the INI file and the registry key level that the first
// made, which the second found, go with the one removal.
TEST_F(Uninstaller, ReinstallThenUninstallLeavesNothing)
{
    InstallProject project("UnReinstall");
    project.Source("src\\app.txt", "app");
    project.sections = "[files]\nsource=src\\app.txt\n"
                       "[ini]\nfile=%InstallPath%\\settings.ini\nsection=Main\nkey=Mode\nvalue=1\n"
                       "[registry]\nroot=HKCU\nkey=Software\\QS UnReinstall\\Settings\nname=Runs\ntype=dword\ndata=1\n";
    std::string package = project.Build();
    ASSERT_FALSE(package.empty());
    ASSERT_EQ(RunInstaller(package).exitCode, 0);
    std::vector<std::string> firstLog = ReadLines(project.LogPath());
    ASSERT_EQ(RunInstaller(package).exitCode, 0);
    std::vector<std::string> log = ReadLines(project.LogPath());
    for (const std::string& line : firstLog)
        EXPECT_NE(std::find(log.begin(), log.end(), line), log.end()) << "lost: " << line;
    Removal removal = Uninstall(project);
    EXPECT_EQ(removal.relocatedExit, 0);
    EXPECT_FALSE(removal.leftoverView);
    EXPECT_FALSE(Exists(project.installPath));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, "Software\\QS UnReinstall"));
}

// A file held open during the installation is replaced at the restart, and
// the log names it: the removal after the restart deletes it.
TEST_F(Uninstaller, FileReplacedAtRestartIsRemoved)
{
    InstallProject project("UnRestart");
    project.Source("src\\busy.dll", "new");
    project.sections = "[files]\nsource=src\\busy.dll\n";
    std::string package = project.Build();
    ASSERT_FALSE(package.empty());
    const std::string busy = project.installPath + "\\busy.dll";
    CreateDirectoryA(project.installPath.c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(busy, "old", 3));
    HANDLE held = CreateFileA(busy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    // No to the question: a copy that the restart puts in place; no restart now.
    InstallRun run = RunInstaller(package);
    CloseHandle(held);
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(ReadText(busy), "old");
    RunAndWaitForRestart();
    EXPECT_EQ(ReadText(busy), "new");
    Removal removal = Uninstall(project);
    EXPECT_EQ(removal.relocatedExit, 0);
    EXPECT_FALSE(removal.leftoverView);
    EXPECT_FALSE(Exists(project.installPath));
}

// The self-deletion batch starts only when the copy has shown its last
// message: one held open for a minute leaves no copy behind, and the batch
// shows no window of its own.
TEST_F(Uninstaller, LastMessageHeldOpenLeavesNoCopyAndNoWindow)
{
    InstallProject project("UnHeld");
    std::string package = BuildOneFileProduct(project);
    ASSERT_FALSE(package.empty());
    ASSERT_EQ(RunInstaller(package).exitCode, 0);
    RemovalOptions options;
    options.answer = [](const SeenBox& box) {
        if (box.view.text.find("已经完全从您的电脑中删除了") != std::string::npos)
            Sleep(60000);
        return 0;
    };
    Removal removal = Uninstall(project, options);
    EXPECT_EQ(removal.relocatedExit, 0);
    ASSERT_EQ(removal.boxes.size(), 2u);
    EXPECT_TRUE(removal.copiesGone);
    EXPECT_TRUE(TempFiles("QST*.tmp").empty());
    EXPECT_EQ(removal.windowsAfterwards, std::vector<std::string>());
}

// While one removal runs, a second uninstaller of the product says so and
// leaves nothing behind; the first goes on.
TEST_F(Uninstaller, SecondUninstallerSaysTheRemovalRuns)
{
    InstallProject project("UnTwice");
    std::string package = BuildOneFileProduct(project);
    ASSERT_FALSE(package.empty());
    ASSERT_EQ(RunInstaller(package).exitCode, 0);
    const std::string command = RegistryString(HKEY_LOCAL_MACHINE, project.UninstallKey(), "UninstallString");
    MessageBoxView second;
    long secondExit = -1;
    size_t copiesWithSecond = 0;
    RemovalOptions options;
    options.answer = [&](const SeenBox& box) {
        if (box.view.text.find("您真的要从您的计算机中完全删除") == 0 && secondExit == -1) {
            // The first asks; the second starts now.
            Process other;
            std::string line = command;
            STARTUPINFOA startup{};
            startup.cb = sizeof(startup);
            if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &other.info)) {
                other.started = true;
                HWND shown = WaitForWindow(other, IsMessageBox);
                if (shown) {
                    second = ReadMessageBox(shown);
                    Click(shown, IDOK);
                }
                secondExit = other.WaitForExit();
            }
            copiesWithSecond = TempFiles("QST*.tmp").size();
        }
        return 0;
    };
    Removal removal = Uninstall(project, options);
    EXPECT_EQ(second.caption, "Quillset");
    EXPECT_EQ(second.text, "卸载程序已经在运行，请等待它结束。");
    EXPECT_EQ(secondExit, 0);
    EXPECT_EQ(copiesWithSecond, 0u);
    EXPECT_EQ(removal.relocatedExit, 0);
    EXPECT_TRUE(removal.copiesGone);
    EXPECT_FALSE(Exists(project.installPath));
}

// A file in use is tried again on Yes, then left for the restart with the
// restart question; a restart deletes it.
TEST_F(Uninstaller, FileInUseIsLeftForTheRestart)
{
    InstallProject project("UnInUse");
    project.Source("src\\busy.txt", "busy");
    project.Source("src\\free.txt", "free");
    project.sections = "[files]\nsource=src\\busy.txt\nsource=src\\free.txt\n";
    std::string package = project.Build();
    ASSERT_FALSE(package.empty());
    ASSERT_EQ(RunInstaller(package).exitCode, 0);
    const std::string busy = project.installPath + "\\busy.txt";
    HANDLE held = CreateFileA(busy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    int inUseQuestions = 0;
    RemovalOptions options;
    options.answer = [&](const SeenBox& box) {
        if (box.view.caption == "正在删除文件.")
            return ++inUseQuestions == 1 ? IDYES : IDNO;
        return box.view.text.find("重新启动") != std::string::npos ? IDNO : 0;
    };
    Removal removal = Uninstall(project, options);
    CloseHandle(held);
    EXPECT_EQ(removal.relocatedExit, 0);
    EXPECT_EQ(inUseQuestions, 2);
    ASSERT_FALSE(removal.boxes.empty());
    EXPECT_EQ(removal.boxes.back().view.text.rfind("要完成卸载过程，您必须重新启动您的计算机！", 0), 0u);
    EXPECT_FALSE(Exists(project.installPath + "\\free.txt"));
    EXPECT_TRUE(Exists(busy));
    // The folder holds the busy file: it is left over, but the tree does not
    // show the file that awaits the restart.
    EXPECT_EQ(removal.treeAtStart, std::vector<std::string>{ project.installPath });

    RunAndWaitForRestart();
    EXPECT_FALSE(Exists(busy));
    RemoveFolder(project.installPath);
}

// Shared files whose count reaches zero: Yes to all with No to its warning
// deletes that file and asks again; Yes to all confirmed deletes the rest
// without asking; No keeps a file.
TEST_F(Uninstaller, SharedFilesAskAndYesToAllAsksOnce)
{
    InstallProject project("UnShared");
    for (const char* name : { "s1.dll", "s2.dll", "s3.dll", "s4.dll" })
        project.Source(std::string("src\\") + name, Fixture("recorder.dll"));
    project.sections = "[files]\nsource=src\\s1.dll\nsource=src\\s2.dll\nsource=src\\s3.dll\nsource=src\\s4.dll\n"
                       "shared=yes\n";
    std::string package = project.Build();
    ASSERT_FALSE(package.empty());
    HKEY key;
    if (!RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string(kUninstallBase) + "SharedDLLs").c_str(), 0, KEY_WRITE, &key)) {
        for (const char* name : { "s1.dll", "s2.dll", "s3.dll", "s4.dll" })
            RegDeleteValueA(key, (project.installPath + "\\" + name).c_str());
        RegCloseKey(key);
    }
    ASSERT_EQ(RunInstaller(package).exitCode, 0);
    // Removed last first: s4, s3, s2, s1.
    std::vector<int> answers = { IDCANCEL, kYesToAll, IDNO, kYesToAll, IDYES };
    size_t next = 0;
    std::vector<std::string> captions;
    RemovalOptions options;
    options.answer = [&](const SeenBox& box) {
        if (box.view.caption == "已经检测到的共享文件" || box.view.caption == "请确认您的操作！ ") {
            captions.push_back(box.view.caption);
            return next < answers.size() ? answers[next++] : IDCANCEL;
        }
        return 0;
    };
    Removal removal = Uninstall(project, options);
    EXPECT_EQ(removal.relocatedExit, 0);
    std::vector<std::string> expected = { "已经检测到的共享文件", "已经检测到的共享文件", "请确认您的操作！ ",
                                          "已经检测到的共享文件", "请确认您的操作！ " };
    EXPECT_EQ(captions, expected);
    const std::string ip = project.installPath;
    EXPECT_TRUE(Exists(ip + "\\s4.dll"));    // No
    EXPECT_FALSE(Exists(ip + "\\s3.dll"));   // Yes to all, warning No: deleted, asked again
    EXPECT_FALSE(Exists(ip + "\\s2.dll"));   // Yes to all, confirmed
    EXPECT_FALSE(Exists(ip + "\\s1.dll"));   // without asking
    RemoveFolder(ip);
}

}  // namespace
