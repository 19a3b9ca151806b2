// Unattended installs and removals as deployment tools run them: the
// package or "QuietUninstallString" started with CreateProcess, waited for,
// its exit code read; every window of the process, and of the processes it
// starts, watched for the whole run; the machine checked afterwards.
#include <gtest/gtest.h>
#include <set>
#include "install_fixture.h"
#include "wine_settings.h"
#include <shlobj.h>
#include <tlhelp32.h>

namespace {

using namespace e2e;

struct SilentRun {
    long exitCode = -1;              // -1: did not end in time (then terminated)
    std::vector<std::string> shown;  // "class: title" of every window that was visible
};

// The process PARENT and every process it started, and they started.
std::set<DWORD> Family(DWORD parent)
{
    std::set<DWORD> family{ parent };
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    for (bool grew = true; grew && snapshot != INVALID_HANDLE_VALUE;) {
        grew = false;
        PROCESSENTRY32 entry{};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
            if (family.count(entry.th32ParentProcessID) && family.insert(entry.th32ProcessID).second)
                grew = true;
    }
    if (snapshot != INVALID_HANDLE_VALUE)
        CloseHandle(snapshot);
    return family;
}

struct WindowWatch {
    std::set<DWORD> family;
    std::vector<std::string>* shown;
};

BOOL CALLBACK NoteVisible(HWND window, LPARAM param)
{
    auto* watch = reinterpret_cast<WindowWatch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (watch->family.count(pid) && IsWindowVisible(window)) {
        char name[64] = "";
        GetClassNameA(window, name, sizeof(name));
        std::string seen = std::string(name) + ": " + Text(window);
        if (std::find(watch->shown->begin(), watch->shown->end(), seen) == watch->shown->end())
            watch->shown->push_back(seen);
    }
    return TRUE;
}

// Starts COMMANDLINE as it stands, the program's path not quoted for it.
bool StartCommand(Process& process, std::string commandLine, DWORD flags = 0)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    process.started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                                     &startup, &process.info) != 0;
    return process.started;
}

// Runs COMMANDLINE as a deployment tool does and watches its windows; TICK
// is called about every 10 ms while it runs.
SilentRun RunSilently(const std::string& commandLine, const std::function<void(const Process&)>& tick = {})
{
    SilentRun run;
    Process process;
    if (!StartCommand(process, commandLine))
        return run;
    DWORD start = GetTickCount();
    while (WaitForSingleObject(process.info.hProcess, 10) == WAIT_TIMEOUT && GetTickCount() - start < 120000) {
        WindowWatch watch{ Family(process.info.dwProcessId), &run.shown };
        EnumWindows(NoteVisible, reinterpret_cast<LPARAM>(&watch));
        if (tick)
            tick(process);
    }
    run.exitCode = process.WaitForExit(0);
    return run;
}

std::string Quoted(const std::string& path)
{
    return "\"" + path + "\"";
}

// The copies an unattended removal runs from are gone soon after it ends:
// each deletes itself through its batch once its process is over.
bool TemporaryCopiesGone()
{
    for (int i = 0; i < 100; i++) {
        if (TempFiles("QST*.tmp").empty() && TempFiles("QST*.bat").empty())
            return true;
        Sleep(100);
    }
    return false;
}

std::string Noise(size_t size, uint32_t seed)
{
    std::string bytes(size, 0);
    for (char& c : bytes) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    return bytes;
}

class Unattended : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const std::string& name : TempFiles("QST*.tmp"))
            DeleteFileA((TempFolder() + name).c_str());
    }
    static std::string TempFolder()
    {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        return temp;
    }
};

// Every page, the licence and a finish page that would open a program: all
// taken with their defaults and nothing shown; then the removal from
// "QuietUninstallString" takes everything away, the two copies included.
TEST_F(Unattended, InstallsIntoTheGivenFolderWithACompleteEntryAndRemovesItAllWithoutAWindow)
{
    InstallProject project("Silent");
    const std::string target = "C:\\Program Files\\Some Dir 安装";
    RemoveFolder(target);
    project.pages = "language,welcome,licence,information,destination,shortcuts,ready,installing,finish";
    project.Source("licence.txt", "Licence");
    project.Source("info.txt", "Information");
    project.Source("src\\a.txt", "alpha");
    project.Source("src\\opened.bat", "echo opened > \"%~dp0opened.txt\"\r\n");
    project.productExtra = "licence=licence.txt\ninformation=info.txt\nlaunch=%InstallPath%\\opened.bat\n"
                           "version=2.5.1\npublisher=Quill, Inc.\nurl=https://quillset.example.com/silent\n";
    project.sections = "[files]\nsource=src\\a.txt\nsource=src\\opened.bat\n\n"
                       "[shortcut]\npath=<Programs>\\%ShortcutsGroup%\\Alpha.lnk\ntarget=%InstallPath%\\a.txt\n\n"
                       "[registry]\nroot=HKCU\nkey=Software\\QS Silent\nname=Path\ndata=%InstallPath%\n";
    std::string error;
    std::string package = project.Build(&error);
    ASSERT_FALSE(package.empty()) << error;

    SilentRun install = RunSilently(Quoted(package) + " /S /D=" + target);
    EXPECT_EQ(install.exitCode, 0);
    EXPECT_TRUE(install.shown.empty()) << install.shown[0];
    EXPECT_EQ(ReadText(target + "\\a.txt"), "alpha");
    const std::string shortcut = SpecialFolder(CSIDL_PROGRAMS) + "\\QS Silent\\Alpha.lnk";
    EXPECT_TRUE(Exists(shortcut));
    EXPECT_EQ(RegistryString(HKEY_CURRENT_USER, "Software\\QS Silent", "Path"), target);
    const std::string key = project.UninstallKey();
    const std::string uninstaller = target + "\\uninstall.exe";
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, key, "DisplayName"), "QS Silent 1.0");
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, key, "UninstallString"), Quoted(uninstaller));
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, key, "QuietUninstallString"), Quoted(uninstaller) + " /S");
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, key, "InstallLocation"), target);
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, key, "DisplayVersion"), "2.5.1");
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, key, "Publisher"), "Quill, Inc.");
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, key, "URLInfoAbout"), "https://quillset.example.com/silent");
    Sleep(1000);
    EXPECT_FALSE(Exists(target + "\\opened.txt")) << "the finish page's program ran";

    SilentRun removal = RunSilently(RegistryString(HKEY_LOCAL_MACHINE, key, "QuietUninstallString"));
    EXPECT_EQ(removal.exitCode, 0);
    EXPECT_TRUE(removal.shown.empty()) << removal.shown[0];
    EXPECT_FALSE(Exists(target)) << "the product's folder";
    EXPECT_FALSE(Exists(shortcut));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, key));
    EXPECT_TRUE(RegistryString(HKEY_CURRENT_USER, "Software\\QS Silent", "Path").empty());
    EXPECT_TRUE(TemporaryCopiesGone());
    RemoveFolder(target);
}

// The causes a deployment tool must tell apart, each from the real thing.
TEST_F(Unattended, ExitCodesTellRestartDamageRequirementAndCancel)
{
    {
        SCOPED_TRACE("3010: a file in use is replaced at the next restart");
        InstallProject project("SilentInUse");
        project.Source("src\\a.txt", "new");
        project.Source("src\\b.txt", "beta");
        project.sections = "[files]\nsource=src\\a.txt\nsource=src\\b.txt\n";
        std::string package = project.Build();
        ASSERT_FALSE(package.empty());
        CreateDirectoryA(project.installPath.c_str(), nullptr);
        const std::string held = project.installPath + "\\a.txt";
        WriteFileBytes(held, "old", 3);
        HANDLE file = CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        SilentRun run = RunSilently(Quoted(package) + " /S");
        CloseHandle(file);
        EXPECT_EQ(run.exitCode, ERROR_SUCCESS_REBOOT_REQUIRED);
        EXPECT_TRUE(run.shown.empty()) << run.shown[0];
        EXPECT_EQ(ReadText(held), "old");
        EXPECT_EQ(ReadText(project.installPath + "\\b.txt"), "beta");
        EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, project.UninstallKey()));
    }
    {
        SCOPED_TRACE("1620: one byte of the package changed");
        InstallProject project("SilentDamaged");
        project.Source("src\\a.txt", std::string(4000, 'a'));
        project.sections = "[files]\nsource=src\\a.txt\n";
        std::string package = project.Build();
        ASSERT_FALSE(package.empty());
        std::vector<unsigned char> bytes = ReadFileBytes(package);
        bytes[bytes.size() - 100] ^= 0x20;
        WriteFileBytes(package, bytes.data(), bytes.size());
        SilentRun run = RunSilently(Quoted(package) + " /S");
        EXPECT_EQ(run.exitCode, ERROR_INSTALL_PACKAGE_INVALID);
        EXPECT_TRUE(run.shown.empty()) << run.shown[0];
        EXPECT_FALSE(Exists(project.installPath));
    }
    {
        SCOPED_TRACE("1633: Windows older than required; 1639: a relative /D=");
        InstallProject project("SilentOld");
        project.Source("src\\a.txt", "alpha");
        project.sections = "[files]\nsource=src\\a.txt\n\n[requirements]\nwindows=2003\n";
        std::string package = project.Build();
        ASSERT_FALSE(package.empty());
        {
            ProgramSettings wine("setup.exe");
            wine.Set("", "Version", "winxp");
            SilentRun run = RunSilently(Quoted(package) + " /S");
            EXPECT_EQ(run.exitCode, ERROR_INSTALL_PLATFORM_UNSUPPORTED);
            EXPECT_TRUE(run.shown.empty()) << run.shown[0];
        }
        SilentRun run = RunSilently(Quoted(package) + " /S /D=Some Dir");
        EXPECT_EQ(run.exitCode, ERROR_INVALID_COMMAND_LINE);
        EXPECT_TRUE(run.shown.empty()) << run.shown[0];
        EXPECT_FALSE(Exists(project.installPath));
    }
    {
        SCOPED_TRACE("1602: asked to close mid-extraction, as taskkill without /F asks");
        InstallProject project("SilentClosed");
        std::string sections = "[files]\n";
        for (int i = 0; i < 300; i++) {
            std::string name = "src\\f" + std::to_string(1000 + i) + ".bin";
            project.Source(name, Noise(128 << 10, i));
            sections += "source=" + name + "\n";
        }
        project.sections = sections;
        std::string package = project.Build();
        ASSERT_FALSE(package.empty());
        bool asked = false;
        SilentRun run = RunSilently(Quoted(package) + " /S", [&](const Process& process) {
            if (asked || !Exists(project.installPath + "\\f1000.bin"))
                return;
            asked = true;
            Process kill;
            if (StartCommand(kill, "taskkill.exe /pid " + std::to_string(process.info.dwProcessId), CREATE_NO_WINDOW))
                kill.WaitForExit(10000);
        });
        EXPECT_TRUE(asked);
        EXPECT_EQ(run.exitCode, ERROR_INSTALL_USEREXIT);
        EXPECT_TRUE(run.shown.empty()) << run.shown[0];
        EXPECT_FALSE(Exists(project.installPath)) << "rolled back";
        EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, project.UninstallKey()));
    }
}

// 1603: the 1 MiB drive R: (tests/wine/small-drive) is full; everything is
// rolled back.
TEST_F(Unattended, AFullDriveFailsAndLeavesNothing)
{
    ULARGE_INTEGER free{};
    if (!GetDiskFreeSpaceExA("R:\\", &free, nullptr, nullptr) || free.QuadPart >= (2u << 20))
        GTEST_SKIP() << "no small drive R: on this machine (mounting a tmpfs is not allowed)";
    InstallProject project("SilentFull");
    project.Source("src\\a.txt", "alpha");
    project.Source("src\\big.bin", Noise(3 << 20, 7));
    project.sections = "[files]\nsource=src\\a.txt\nsource=src\\big.bin\n";
    std::string package = project.Build();
    ASSERT_FALSE(package.empty());
    SilentRun run = RunSilently(Quoted(package) + " /S /D=R:\\QS Silent Full");
    EXPECT_EQ(run.exitCode, ERROR_INSTALL_FAILURE);
    EXPECT_TRUE(run.shown.empty()) << run.shown[0];
    EXPECT_FALSE(Exists("R:\\QS Silent Full"));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, project.UninstallKey()));
}

// A file of the product that is open stays for the restart, and the
// removal says so; everything else goes.
TEST_F(Unattended, RemovalWithAFileInUseReportsTheRestart)
{
    InstallProject project("SilentHeld");
    project.Source("src\\a.txt", "alpha");
    project.Source("src\\b.txt", "beta");
    project.sections = "[files]\nsource=src\\a.txt\nsource=src\\b.txt\n";
    std::string package = project.Build();
    ASSERT_FALSE(package.empty());
    ASSERT_EQ(RunSilently(Quoted(package) + " /S").exitCode, 0);
    const std::string held = project.installPath + "\\a.txt";
    HANDLE file = CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    SilentRun run = RunSilently(RegistryString(HKEY_LOCAL_MACHINE, project.UninstallKey(), "QuietUninstallString"));
    CloseHandle(file);
    EXPECT_EQ(run.exitCode, ERROR_SUCCESS_REBOOT_REQUIRED);
    EXPECT_TRUE(run.shown.empty()) << run.shown[0];
    EXPECT_FALSE(Exists(project.installPath + "\\b.txt"));
    EXPECT_FALSE(Exists(project.UninstallerPath()));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, project.UninstallKey()));
    EXPECT_TRUE(TemporaryCopiesGone());
}

}  // namespace
