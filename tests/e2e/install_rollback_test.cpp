// Cancelling an installation end to end: a cancel confirmed at each kind of
// check point (between groups, between entries, among the shortcuts,
// registry values, INI entries and file associations, and just before the
// point of no return) rolls everything back, so the files and the registry
// are as they were before, except the file and the value that existed and
// were overwritten. The temporary log holds the header and the lines written
// at once, and is gone after the rollback. Past the point of no return a
// cancel no longer stops the installation.
//
// Each failing item of the package asks Yes or No and holds the worker
// while its box is open: that is where a cancel is started, so that the
// worker stops at a known check point. The frame's question is opened first
// (it pauses the worker at its next check point), then the item is skipped,
// then the question is answered.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <memory>
#include <set>
#include "install_fixture.h"
#include "package_fixture.h"
#include "../../resources/ids.h"

namespace {

using namespace e2e;

const char kHeader[] = "=== Quillset log file ===";
const char kSharedDlls[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char kUninstallRoot[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kExistingKey[] = "Software\\QS Rollback Existing";
// The uninstall entry, written just after the point of no return.
const char kUninstallKeyItem[] = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QS Rollback";
// Programs the uninstaller would run: logged one by one after the point of
// no return, where the test catches the worker.
const int kRemovalPrograms = 1000;
// Items of the package that cannot be made, each asking whether to go on.
const size_t kFailingItems = 7;

std::string ProgramsFolder()
{
    char path[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, path, CSIDL_PROGRAMS, FALSE);
    return path;
}

std::string WindowsIni()
{
    char path[MAX_PATH] = "";
    GetWindowsDirectoryA(path, MAX_PATH);
    return std::string(path) + "\\qsrollback.ini";
}

std::string Hex(const BYTE* data, DWORD size)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (DWORD i = 0; i < size; i++)
        out += std::string{ kDigits[data[i] >> 4], kDigits[data[i] & 15] };
    return out;
}

// Every key (as "path\") and value (as "path|name" -> "type:data") below KEY.
void RegistryInto(HKEY root, const std::string& key, const std::string& label, std::map<std::string, std::string>& out)
{
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return;
    out[label + "\\"] = "key";
    std::vector<char> name(16384);
    std::vector<BYTE> data;
    for (DWORD i = 0;; i++) {
        DWORD nameSize = static_cast<DWORD>(name.size()), type = 0, dataSize = 0;
        if (RegEnumValueA(handle, i, name.data(), &nameSize, nullptr, &type, nullptr, &dataSize) != ERROR_SUCCESS)
            break;
        data.assign(dataSize + 1, 0);
        nameSize = static_cast<DWORD>(name.size());
        if (RegEnumValueA(handle, i, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize) != ERROR_SUCCESS)
            break;
        out[label + "|" + name.data()] = std::to_string(type) + ":" + Hex(data.data(), dataSize);
    }
    std::vector<std::string> subkeys;
    for (DWORD i = 0;; i++) {
        DWORD nameSize = static_cast<DWORD>(name.size());
        if (RegEnumKeyExA(handle, i, name.data(), &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        subkeys.push_back(name.data());
    }
    RegCloseKey(handle);
    for (const std::string& subkey : subkeys)
        RegistryInto(root, key.empty() ? subkey : key + "\\" + subkey, label + "\\" + subkey, out);
}

std::vector<std::string> SubkeyNames(HKEY root)
{
    std::vector<std::string> names;
    char name[256];
    for (DWORD i = 0;; i++) {
        DWORD size = sizeof(name);
        if (RegEnumKeyExA(root, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return names;
        names.push_back(name);
    }
}

// A file that the installer holds open for writing: read with every sharing allowed.
std::string ReadShared(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "";
    std::string text(GetFileSize(file, nullptr), '\0');
    DWORD got = 0;
    if (!text.empty() && !ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &got, nullptr))
        got = 0;
    CloseHandle(file);
    text.resize(got);
    return text;
}

std::string TempPath(const std::string& name)
{
    char temp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, temp);
    return temp + name;
}

// The temporary log of the running installation: the new "QST" temporary
// file that starts with the log header.
std::string FindTemporaryLog(const std::set<std::string>& before)
{
    for (const std::string& name : TempFiles())
        if (!before.count(name) && ReadShared(TempPath(name)).compare(0, sizeof(kHeader) - 1, kHeader) == 0)
            return TempPath(name);
    return "";
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size())
        lines.push_back(text.substr(start) + "<no line feed>");
    return lines;
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

HWND FindFrame(const Process& process)
{
    for (HWND window : VisibleWindows(process))
        if (IsWizardFrame(window))
            return window;
    return nullptr;
}

// A message box of PROCESS other than EXCEPT that WANT accepts, waited for
// at most MS; null when none came or the process ended.
HWND WaitForBox(const Process& process, HWND except, const std::function<bool(const std::string&)>& want,
                DWORD ms = kDefaultWait)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(20)) {
        for (HWND window : VisibleWindows(process))
            if (window != except && IsMessageBox(window) && want(ItemText(window, 0xFFFF)))
                return window;
        if (WaitForSingleObject(process.info.hProcess, 0) == WAIT_OBJECT_0)
            break;
    }
    return nullptr;
}

// Yes or No where the box asks, else OK.
void Answer(HWND box, bool yes)
{
    Click(box, HasItem(box, IDYES) ? (yes ? IDYES : IDNO) : IDOK);
}

bool WaitUntilGone(HWND window, DWORD ms = kDefaultWait)
{
    for (DWORD start = GetTickCount(); IsWindow(window); Sleep(20))
        if (GetTickCount() - start >= ms)
            return false;
    return true;
}

// What the package may change, in one comparable form.
struct Snapshot {
    std::map<std::string, std::string> items;
    std::set<std::string> tempFiles;
};

std::string Difference(const Snapshot& before, const Snapshot& after)
{
    std::string out;
    for (const auto& entry : before.items) {
        auto it = after.items.find(entry.first);
        if (it == after.items.end())
            out += "- " + entry.first + "\n";
        else if (it->second != entry.second)
            out += "~ " + entry.first + " = " + it->second + "\n";
    }
    for (const auto& entry : after.items)
        if (!before.items.count(entry.first))
            out += "+ " + entry.first + "\n";
    for (const std::string& name : after.tempFiles)
        if (!before.tempFiles.count(name))
            out += "+ temporary " + name + "\n";
    return out;
}

std::string HexOfText(const std::string& text)
{
    return Hex(reinterpret_cast<const BYTE*>(text.c_str()), static_cast<DWORD>(text.size() + 1));
}

// ---------------------------------------------------------------------------

class Rollback : public ::testing::Test {
protected:
    static InstallProject* project;
    static std::string package, install, group;

    static void SetUpTestSuite()
    {
        project = new InstallProject("Rollback");
        install = project->installPath;
        group = ProgramsFolder() + "\\QS Rollback";
        project->Source("src\\a.txt", "new a");
        project->Source("src\\b.txt", "new b");
        project->Source("src\\mid.txt", "mid");
        project->Source("src\\c.txt", "new c");
        project->Source("src\\last.txt", "last");
        project->Source("src2\\d.txt", "new d");
        std::string sections =
            "[files]\nsource=src\\a.txt\nsource=src\\b.txt\nsource=src\\mid.txt\nsource=src\\c.txt\n"
            "source=src\\last.txt\n"
            "[files]\nsource=src2\\d.txt\ndestination=%InstallPath%\\second\n"
            "[shortcut]\npath=<Programs>\\%ShortcutsGroup%\\one.lnk\ntarget=%InstallPath%\\b.txt\n"
            "[shortcut]\npath=%InstallPath%\\links\\broken.lnk\ntarget=%InstallPath%\\b.txt\n"
            "[shortcut]\npath=%InstallPath%\\links\\three.lnk\ntarget=%InstallPath%\\b.txt\n"
            "[registry]\nroot=HKCU\nkey=Software\\QS Rollback\\Values\nname=Text\ndata=new\n"
            "[registry]\nroot=HKCU\nkey=Software\\QS Rollback Existing\nname=Kept\ndata=after\n"
            "[registry]\nroot=HKCU\nkey=Software\\QS Rollback Volatile\\Sub\nname=Broken\ndata=x\n"
            "[registry]\nroot=HKLM\nkey=Software\\QS Rollback\nname=Number\ntype=dword\ndata=7\n"
            "[ini]\nfile=%InstallPath%\\ini\\new.ini\nsection=S\nkey=K\nvalue=V\n"
            "[ini]\nfile=%InstallPath%\\plain.txt\\sub\\x.ini\nsection=S\nkey=K\nvalue=V\n"
            "[ini]\nfile=qsrollback.ini\nsection=S\nkey=K\nvalue=V\n"
            "[association]\nextension=.qsrbone\nprog_id=QsRb.One\ndescription=One\n"
            "[association]\nextension=.qsrbbad\nprog_id=QsRbVolatile\\Bad\ndescription=Bad\n"
            "[association]\nextension=.qsrbthree\nprog_id=QsRb.Three\ndescription=Three\n"
            "[association]\nextension=.qsrblast\nprog_id=QsRbVolatile\\Last\ndescription=Last\n";
        for (int i = 0; i < kRemovalPrograms; i++)
            sections += "[program]\npath=%InstallPath%\\cleanup.exe\narguments=" + std::to_string(i) +
                        "\nmoment=uninstall\nwait=no\nonce=no\n";
        project->sections = sections;
        std::string error;
        package = project->Build(&error);
        ASSERT_FALSE(package.empty()) << error;
    }

    static void TearDownTestSuite()
    {
        Clean();
        DeleteRegistryTree(HKEY_CURRENT_USER, kExistingKey);
        DeleteRegistryTree(HKEY_CURRENT_USER, "Software\\QS Rollback Volatile");
        DeleteRegistryTree(HKEY_CLASSES_ROOT, "QsRbVolatile");
        RemoveFolder(install);
        delete project;
        project = nullptr;
    }

    // Removes whatever the package creates.
    static void Clean()
    {
        RemoveFolder(group);
        DeleteFileA(WindowsIni().c_str());
        DeleteRegistryTree(HKEY_CURRENT_USER, "Software\\QS Rollback");
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, "Software\\QS Rollback");
        for (const char* key : { ".qsrbone", ".qsrbbad", ".qsrbthree", ".qsrblast", "QsRb.One", "QsRb.Three" })
            DeleteRegistryTree(HKEY_CLASSES_ROOT, key);
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, project->UninstallKey());
    }

    // What is there before each run: an install folder holding a file to be
    // overwritten, folders where the package has files and a shortcut (so
    // that they cannot be written), a file where an INI file wants a folder;
    // a registry value to be overwritten; volatile keys, under which no
    // lasting key can be made.
    void SetUp() override
    {
        ASSERT_FALSE(package.empty());
        Clean();
        RemoveFolder(install);
        for (const std::string& folder : { install, install + "\\mid.txt", install + "\\last.txt", install + "\\links",
                                           install + "\\links\\broken.lnk" })
            ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
        ASSERT_TRUE(WriteFileBytes(install + "\\a.txt", "old a", 5));
        ASSERT_TRUE(WriteFileBytes(install + "\\plain.txt", "plain", 5));
        DeleteRegistryTree(HKEY_CURRENT_USER, kExistingKey);
        ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, kExistingKey, "Kept", REG_SZ, "before", 7), ERROR_SUCCESS);
        for (auto place : { std::make_pair(HKEY_CURRENT_USER, "Software\\QS Rollback Volatile"),
                            std::make_pair(HKEY_CLASSES_ROOT, "QsRbVolatile") }) {
            DeleteRegistryTree(place.first, place.second);
            HKEY key;
            ASSERT_EQ(RegCreateKeyExA(place.first, place.second, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                                      nullptr, &key, nullptr),
                      ERROR_SUCCESS);
            RegCloseKey(key);
        }
    }

    static Snapshot Take()
    {
        Snapshot shot;
        for (const auto& item : ListTree(project->folder))
            shot.items["files\\" + item.first] =
                item.second.folder ? "folder" : std::to_string(item.second.size) + ":" + std::to_string(item.second.hash);
        for (const auto& item : ListTree(ProgramsFolder()))
            shot.items["programs\\" + item.first] = item.second.folder ? "folder" : std::to_string(item.second.hash);
        shot.items["windows ini"] = Exists(WindowsIni()) ? "present" : "absent";
        RegistryInto(HKEY_CURRENT_USER, "Software", "HKCU\\Software", shot.items);
        RegistryInto(HKEY_LOCAL_MACHINE, "Software\\QS Rollback", "HKLM\\Software\\QS Rollback", shot.items);
        RegistryInto(HKEY_LOCAL_MACHINE, kUninstallRoot, "HKLM\\Uninstall", shot.items);
        RegistryInto(HKEY_LOCAL_MACHINE, kSharedDlls, "HKLM\\SharedDLLs", shot.items);
        for (const std::string& name : SubkeyNames(HKEY_CLASSES_ROOT)) {
            shot.items["HKCR\\" + name] = "key";
            if (lstrcmpiA(name.substr(0, 5).c_str(), ".qsrb") == 0 || lstrcmpiA(name.substr(0, 4).c_str(), "QsRb") == 0)
                RegistryInto(HKEY_CLASSES_ROOT, name, "HKCR\\" + name, shot.items);
        }
        std::vector<std::string> temp = TempFiles();
        shot.tempFiles.insert(temp.begin(), temp.end());
        return shot;
    }

    // The temporary log at the last check point before the point of no
    // return: the header, then exactly the lines of what did not exist before.
    static std::vector<std::string> WriteNowLines()
    {
        const std::string programs = ProgramsFolder();
        char windows[MAX_PATH] = "";
        GetWindowsDirectoryA(windows, MAX_PATH);
        return {
            "a," + install,
            "b," + install + "\\b.txt",
            "b," + install + "\\c.txt",
            "a," + install + "\\second",
            "b," + install + "\\second\\d.txt",
            "b," + project->UninstallerPath(),
            "b," + project->LogPath(),
            "a," + group,
            "h," + group + "\\one.lnk",
            "a," + install + "\\links",
            "h," + install + "\\links\\three.lnk",
            "e,1,Software\\QS Rollback",
            "e,1,Software\\QS Rollback\\Values",
            "c,1,Software\\QS Rollback\\Values,Text",
            "e,2,Software\\QS Rollback",
            "c,2,Software\\QS Rollback,Number",
            "a," + install + "\\ini",
            "b," + install + "\\ini\\new.ini",
            // The user let the installation go on without the INI file's folder.
            "b," + install + "\\plain.txt\\sub\\x.ini",
            "b," + std::string(windows) + "\\qsrollback.ini",
            "e,0,.qsrbone,1",
            "e,0,QsRb.One,1",
            "e,0,.qsrbbad,1",
            "e,0,.qsrbthree,1",
            "e,0,QsRb.Three,1",
            "e,0,.qsrblast,1",
        };
    }
};

InstallProject* Rollback::project = nullptr;
std::string Rollback::package, Rollback::install, Rollback::group;

struct CheckPointCase {
    const char* name;
    const char* failingItem;          // in the text of the question that holds the worker
    size_t skippedBefore;             // earlier failing items, let go
    bool valueOverwritten;            // the registry stage had passed the existing value
    std::vector<const char*> made;    // there while the worker is held (see Rollback::Present)
    const char* next;                 // the item after the check point: never made
};

std::ostream& operator<<(std::ostream& out, const CheckPointCase& c)
{
    return out << c.name;
}

class CancelAtCheckPoint : public Rollback, public ::testing::WithParamInterface<CheckPointCase> {
protected:
    // ITEM: "HKCR\...", "HKCU\...", "HKLM\..." a registry key, "windows\..." a
    // file of the Windows folder, else a path in the install folder.
    static bool Present(const std::string& item)
    {
        static const std::pair<const char*, HKEY> kRoots[] = { { "HKCR\\", HKEY_CLASSES_ROOT },
                                                               { "HKCU\\", HKEY_CURRENT_USER },
                                                               { "HKLM\\", HKEY_LOCAL_MACHINE } };
        for (const auto& root : kRoots)
            if (item.compare(0, 5, root.first) == 0)
                return RegistryKeyExists(root.second, item.substr(5));
        if (item.compare(0, 8, "windows\\") == 0)
            return Exists(WindowsIni().substr(0, WindowsIni().rfind('\\')) + item.substr(7));
        return Exists(install + "\\" + item);
    }
};

TEST_P(CancelAtCheckPoint, RestoresFilesAndRegistry)
{
    const CheckPointCase& c = GetParam();
    const Snapshot before = Take();
    const std::string question = project->DefaultText("wizard", 8);

    Process process;
    ASSERT_TRUE(Start(process, package));
    std::set<HWND> seen;
    std::vector<std::string> unexpected;
    std::string temporaryLog, temporaryLogPath;
    size_t skipped = 0;
    bool held = false, paused = false;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 90000;) {
        if (WaitForSingleObject(process.info.hProcess, 20) == WAIT_OBJECT_0)
            break;
        for (HWND box : VisibleWindows(process)) {
            std::string text = IsMessageBox(box) && !seen.count(box) ? ItemText(box, 0xFFFF) : "";
            if (text.empty())
                continue;
            seen.insert(box);
            if (held) {
                unexpected.push_back(text);
                Answer(box, false);
                continue;
            }
            if (text.find(c.failingItem) == std::string::npos) {
                // An earlier failing item: skipped, the installation goes on.
                skipped++;
                Answer(box, true);
                continue;
            }
            held = true;
            // The worker is held in this question: what it made so far is there.
            for (const char* made : c.made)
                EXPECT_TRUE(Present(made)) << made;
            temporaryLogPath = FindTemporaryLog(before.tempFiles);
            temporaryLog = ReadShared(temporaryLogPath);
            Click(FindFrame(process), IDC_CANCEL);
            HWND cancel = WaitForBox(process, box, [&](const std::string& t) { return t == question; });
            ASSERT_NE(cancel, nullptr) << "no cancel question";
            seen.insert(cancel);
            // The item is skipped; while the frame asks, the worker waits at
            // its next check point and makes nothing more.
            Click(box, IDYES);
            ASSERT_TRUE(WaitUntilGone(box));
            Sleep(300);
            paused = !Present(c.next);
            Click(cancel, IDYES);
        }
    }
    EXPECT_EQ(process.WaitForExit(), 0);
    ASSERT_TRUE(held) << "the failing item never asked";
    EXPECT_EQ(skipped, c.skippedBefore);
    EXPECT_TRUE(paused) << c.next << " was made while the cancel question was open";
    EXPECT_EQ(Joined(unexpected), "") << "questions after the cancel";
    EXPECT_FALSE(temporaryLogPath.empty());
    EXPECT_FALSE(Exists(temporaryLogPath)) << "the temporary log stays after the rollback";

    // Only what existed and was overwritten keeps its new contents.
    Snapshot expected = before;
    expected.items["files\\installed\\a.txt"] = "5:" + std::to_string(HashFile(project->folder + "\\src\\a.txt"));
    if (c.valueOverwritten)
        expected.items["HKCU\\Software\\QS Rollback Existing|Kept"] = "1:" + HexOfText("after");
    EXPECT_EQ(Difference(expected, Take()), "");

    // The temporary log: the header, then the write-now lines so far; at
    // the last check point all of them.
    std::vector<std::string> lines = SplitLines(temporaryLog), all = WriteNowLines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], kHeader);
    EXPECT_EQ(lines[1], "QS Rollback 1.0");
    EXPECT_EQ(lines[2], "QS Rollback");
    EXPECT_EQ(std::count(lines[3].begin(), lines[3].end(), ','), 8) << lines[3];
    std::vector<std::string> actions(lines.begin() + 4, lines.end());
    ASSERT_LE(actions.size(), all.size()) << Joined(actions);
    if (c.next == std::string(kUninstallKeyItem))
        EXPECT_EQ(Joined(actions), Joined(all));
    else
        EXPECT_EQ(Joined(actions), Joined(std::vector<std::string>(all.begin(), all.begin() + actions.size())));
}

// Each case names the failing item whose question is open when the cancel
// starts; the worker then stops at the check point right after that item.
INSTANTIATE_TEST_SUITE_P(
    Points, CancelAtCheckPoint,
    ::testing::Values(
        CheckPointCase{ "BetweenEntries", "mid.txt", 0, false, { "b.txt" }, "c.txt" },
        CheckPointCase{ "BetweenGroups", "last.txt", 1, false, { "b.txt", "c.txt" }, "second" },
        CheckPointCase{ "AmongShortcuts", "broken.lnk", 2, false, { "second\\d.txt" }, "links\\three.lnk" },
        CheckPointCase{ "AmongRegistryValues", "QS Rollback Volatile", 3, true,
                        { "links\\three.lnk", "HKCU\\Software\\QS Rollback\\Values" }, "HKLM\\Software\\QS Rollback" },
        CheckPointCase{ "AmongIniEntries", "plain.txt", 4, true, { "ini\\new.ini", "HKLM\\Software\\QS Rollback" },
                        "windows\\qsrollback.ini" },
        CheckPointCase{ "AmongAssociations", ".qsrbbad", 5, true,
                        { "windows\\qsrollback.ini", "HKCR\\.qsrbone", "HKCR\\QsRb.One", "HKCR\\.qsrbbad" },
                        "HKCR\\.qsrbthree" },
        CheckPointCase{ "BeforeThePointOfNoReturn", ".qsrblast", 6, true,
                        { "HKCR\\.qsrbthree", "HKCR\\QsRb.Three", "HKCR\\.qsrblast" }, kUninstallKeyItem }),
    [](const ::testing::TestParamInfo<CheckPointCase>& info) { return std::string(info.param.name); });

// Holds a thread of another process for as long as it lives.
struct HeldThread {
    HANDLE thread = nullptr;
    explicit HeldThread(DWORD id) : thread(OpenThread(THREAD_SUSPEND_RESUME, FALSE, id))
    {
        if (thread && SuspendThread(thread) == static_cast<DWORD>(-1)) {
            CloseHandle(thread);
            thread = nullptr;
        }
    }
    ~HeldThread()
    {
        if (thread) {
            ResumeThread(thread);
            CloseHandle(thread);
        }
    }
};

// Past the point of no return the frame no longer stops the worker: Cancel
// waits for the installation to end. The worker is caught just behind that
// point (its first removal-time line is in the temporary log) and held
// there while Cancel is pressed: nothing may ask meanwhile.
TEST_F(Rollback, CancelAfterThePointOfNoReturnLetsTheInstallationEnd)
{
    const Snapshot before = Take();
    const std::string question = project->DefaultText("wizard", 8);
    Process process;
    ASSERT_TRUE(Start(process, package));
    std::set<HWND> seen;
    std::vector<std::string> afterCancel;
    std::string temporaryLogPath, temporaryLog;
    DWORD worker = 0;
    size_t skipped = 0;
    bool cancelled = false, heldBehindThePoint = false, askedWhileHeld = true, askedWhileRunning = false;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 90000;) {
        if (WaitForSingleObject(process.info.hProcess, 5) == WAIT_OBJECT_0)
            break;
        for (HWND box : VisibleWindows(process)) {
            std::string text = IsMessageBox(box) && !seen.count(box) ? ItemText(box, 0xFFFF) : "";
            if (text.empty())
                continue;
            seen.insert(box);
            if (cancelled) {
                // After the worker's end: its final log has replaced the temporary one.
                askedWhileRunning |= !Exists(project->LogPath()) || Exists(temporaryLogPath);
                if (text != question)
                    afterCancel.push_back(text);
                Answer(box, text != question);
                continue;
            }
            // A failing item, skipped; its question runs on the worker's thread.
            worker = GetWindowThreadProcessId(box, nullptr);
            if (temporaryLogPath.empty())
                temporaryLogPath = FindTemporaryLog(before.tempFiles);
            Answer(box, true);
            if (++skipped < kFailingItems)
                continue;
            // The last one: the point of no return follows at once.
            for (DWORD wait = GetTickCount(); GetTickCount() - wait < kDefaultWait;) {
                temporaryLog = ReadShared(temporaryLogPath);
                if (temporaryLog.find("\nd,") != std::string::npos || !Exists(temporaryLogPath))
                    break;
            }
            HeldThread held(worker);
            heldBehindThePoint = held.thread && Exists(temporaryLogPath) && !Exists(project->LogPath());
            Click(FindFrame(process), IDC_CANCEL);
            Sleep(500);
            askedWhileHeld = false;
            for (HWND window : VisibleWindows(process))
                askedWhileHeld |= IsMessageBox(window);
            cancelled = true;
        }
    }
    EXPECT_EQ(process.WaitForExit(), 0);
    ASSERT_TRUE(cancelled);
    EXPECT_TRUE(heldBehindThePoint);
    EXPECT_FALSE(askedWhileHeld);
    EXPECT_FALSE(askedWhileRunning);
    // The wizard ends as after any installation whose items were partly
    // skipped without a finish page: it says so.
    EXPECT_EQ(Joined(afterCancel), Joined({ project->DefaultText("wizard", 9) }));

    // Installed, not rolled back.
    for (const char* file : { "b.txt", "c.txt", "second\\d.txt", "links\\three.lnk", "ini\\new.ini", "uninstall.exe" })
        EXPECT_TRUE(Exists(install + "\\" + file)) << file;
    EXPECT_TRUE(Exists(group + "\\one.lnk"));
    EXPECT_EQ(RegistryString(HKEY_CURRENT_USER, "Software\\QS Rollback\\Values", "Text"), "new");
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, project->UninstallKey(), "UninstallString"),
              "\"" + project->UninstallerPath() + "\"");
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, "QsRb.Three", ""), "Three");
    EXPECT_TRUE(Exists(WindowsIni()));
    EXPECT_FALSE(Exists(temporaryLogPath));

    // The final log holds the temporary log's lines and, in their places,
    // those of what existed before: the overwritten file, the existing key
    // and value.
    std::vector<std::string> finalLog = ReadLines(project->LogPath());
    ASSERT_GT(finalLog.size(), 4u);
    std::vector<std::string> temporary = SplitLines(temporaryLog);
    EXPECT_EQ(std::vector<std::string>(finalLog.begin(), finalLog.begin() + 4),
              std::vector<std::string>(temporary.begin(), temporary.begin() + 4));
    std::vector<std::string> finalActions, temporaryActions;
    for (size_t i = 4; i < finalLog.size() && finalLog[i].compare(0, 2, "d,"); i++)
        finalActions.push_back(finalLog[i]);
    for (size_t i = 4; i < temporary.size() && temporary[i].compare(0, 2, "d,"); i++)
        temporaryActions.push_back(temporary[i]);
    EXPECT_EQ(Joined(temporaryActions), Joined(WriteNowLines()));
    std::vector<std::string> expected = WriteNowLines();
    expected.insert(expected.begin() + 1, "b," + install + "\\a.txt");
    expected.insert(std::find(expected.begin(), expected.end(), "e,2,Software\\QS Rollback"),
                    { "e,1,Software\\QS Rollback Existing", "c,1,Software\\QS Rollback Existing,Kept" });
    EXPECT_EQ(Joined(finalActions), Joined(expected));
    EXPECT_EQ(std::count_if(finalLog.begin(), finalLog.end(), [](const std::string& l) { return l.compare(0, 2, "d,") == 0; }),
              kRemovalPrograms);
    EXPECT_EQ(finalLog.back(), "e,2," + project->UninstallKey() + ",1");
}

}  // namespace
