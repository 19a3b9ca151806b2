// The installation's shell and registry work end to end: shortcuts read
// back through the shell's link object, registry values of every type, INI
// entries, a file association opened by the shell, SharedDLLs counts,
// programs and DLL functions run around the wizard's pages, the choices of
// the shortcut page, and the final log that records all of it.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <memory>
#include <shlwapi.h>
#include <algorithm>
#include "fixture_path.h"
#include "install_fixture.h"
#include "../../resources/ids.h"

namespace {

using namespace e2e;

const char kSharedDlls[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

std::string WindowsFolder()
{
    char path[MAX_PATH] = "";
    GetWindowsDirectoryA(path, MAX_PATH);
    return path;
}

// Where the runtime puts <QuickLaunch> shortcuts: the Quick Launch folder,
// or the temporary folder on a machine without one.
std::string QuickLaunchFolder()
{
    std::string folder = SpecialFolder(CSIDL_APPDATA) + "\\Microsoft\\Internet Explorer\\Quick Launch";
    if (Exists(folder))
        return folder;
    char temp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, temp);
    std::string path = temp;
    if (!path.empty() && path.back() == '\\')
        path.pop_back();
    return path;
}

// Waits up to MS for PATH to appear.
bool WaitForFile(const std::string& path, DWORD ms = 10000)
{
    for (DWORD start = GetTickCount(); !Exists(path); Sleep(50))
        if (GetTickCount() - start >= ms)
            return false;
    return true;
}

struct LinkView {
    bool loaded = false;
    std::string target, arguments, folder, icon;
    int iconIndex = -1, show = -1;
    WORD hotkey = 0xFFFF;
};

LinkView ReadLink(const std::string& path)
{
    LinkView view;
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))))
        return view;
    IPersistFile* file = nullptr;
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))
        && SUCCEEDED(file->Load(wide, STGM_READ))) {
        char text[1024];
        view.loaded = true;
        if (SUCCEEDED(link->GetPath(text, sizeof(text), nullptr, SLGP_RAWPATH)))
            view.target = text;
        if (SUCCEEDED(link->GetArguments(text, sizeof(text))))
            view.arguments = text;
        if (SUCCEEDED(link->GetWorkingDirectory(text, sizeof(text))))
            view.folder = text;
        if (SUCCEEDED(link->GetIconLocation(text, sizeof(text), &view.iconIndex)))
            view.icon = text;
        link->GetHotkey(&view.hotkey);
        // Wine's link object does not read the show command back: it is
        // taken from the file's header.
        std::vector<unsigned char> bytes = ReadFileBytes(path);
        if (bytes.size() >= 0x40)
            view.show = *reinterpret_cast<const int*>(bytes.data() + 0x3C);
    }
    if (file)
        file->Release();
    link->Release();
    return view;
}

// The action lines of a log (the four header lines dropped).
std::vector<std::string> ActionLines(const std::string& log)
{
    std::vector<std::string> lines = ReadLines(log);
    lines.erase(lines.begin(), lines.begin() + std::min<size_t>(4, lines.size()));
    return lines;
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

// FOLDER is PATH or lies below it.
bool IsSelfOrAncestor(const std::string& path, const std::string& folder)
{
    return folder.size() >= path.size() && lstrcmpiA(folder.substr(0, path.size()).c_str(), path.c_str()) == 0
           && (folder.size() == path.size() || folder[path.size()] == '\\');
}

void DeleteSharedCount(const std::string& path)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSharedDlls, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, path.c_str());
        RegCloseKey(key);
    }
}

std::vector<BYTE> RawValue(HKEY root, const std::string& key, const std::string& name, DWORD* type)
{
    std::vector<BYTE> data(4096);
    DWORD size = static_cast<DWORD>(data.size());
    *type = REG_NONE;
    if (RegGetValueA(root, key.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, type, data.data(), &size))
        return {};
    data.resize(size);
    return data;
}

// ---------------------------------------------------------------------------
// One product with every kind of shell and registry work, installed with
// only the installing page: the shortcut choices are the script's defaults,
// which create every kind of shortcut the script names.

class ShellWork : public ::testing::Test {
protected:
    static InstallProject* project;
    static InstallRun firstRun;
    static std::vector<std::string> firstLog;
    static std::string install, group, desktop, quickLaunch, windowsIni, existingIni;

    static std::string Tools() { return install + "\\tools"; }

    static void Clean()
    {
        RemoveFolder(SpecialFolder(CSIDL_PROGRAMS) + "\\QS Shell");
        DeleteFileA((SpecialFolder(CSIDL_DESKTOPDIRECTORY) + "\\QS Shell.lnk").c_str());
        // Wine's menu builder puts a launcher beside a desktop link.
        DeleteFileA((SpecialFolder(CSIDL_DESKTOPDIRECTORY) + "\\QS Shell.desktop").c_str());
        DeleteFileA((QuickLaunchFolder() + "\\QS Shell.lnk").c_str());
        DeleteFileA((WindowsFolder() + "\\qsshell.ini").c_str());
        DeleteRegistryTree(HKEY_CURRENT_USER, "Software\\QS Shell");
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, "Software\\QS Shell");
        DeleteRegistryTree(HKEY_CLASSES_ROOT, ".qsshell");
        DeleteRegistryTree(HKEY_CLASSES_ROOT, "QSShell.Document");
        if (project) {
            DeleteSharedCount(project->installPath + "\\shared\\qsshared.dll");
            DeleteSharedCount(project->installPath + "\\links\\Shared.lnk");
            RemoveFolder(project->installPath);
        }
    }

    static void SetUpTestSuite()
    {
        CoInitialize(nullptr);
        project = new InstallProject("Shell");
        Clean();
        install = project->installPath;
        group = SpecialFolder(CSIDL_PROGRAMS) + "\\QS Shell";
        desktop = SpecialFolder(CSIDL_DESKTOPDIRECTORY);
        quickLaunch = QuickLaunchFolder();
        windowsIni = WindowsFolder() + "\\qsshell.ini";
        existingIni = project->folder + "\\existing.ini";
        project->Source("src\\readme.txt", "readme");
        project->Source("tools\\waited.exe", Fixture("marker_program.exe"));
        project->Source("tools\\nowait.exe", Fixture("marker_program.exe"));
        project->Source("tools\\opener.exe", Fixture("marker_program.exe"));
        project->Source("tools\\recorder.dll", Fixture("recorder.dll"));
        project->Source("tools\\dependent.dll", Fixture("dependent.dll"));
        project->Source("tools\\dependent_helper.dll", Fixture("dependent_helper.dll"));
        project->Source("shared\\qsshared.dll", "a shared library");
        // An INI file that was there before: replaced, appended to, a key deleted.
        project->Source("existing.ini", "[Main]\r\nName=old\r\nList=a\r\nGone=yes\r\n");
        project->sections =
            "[files]\nsource=src\\readme.txt\n"
            "[files]\nsource=tools\\*\ndestination=%InstallPath%\\tools\n"
            "[files]\nsource=shared\\qsshared.dll\ndestination=%InstallPath%\\shared\nshared=yes\n"
            // Every column of a shortcut; one trailing backslash of the working folder goes.
            "[shortcut]\npath=<Programs>\\%ShortcutsGroup%\\Guide.lnk\ntarget=%InstallPath%\\readme.txt\n"
            "arguments=/view /quiet\nworking_folder=%InstallPath%\\tools\\\nicon=%InstallPath%\\tools\\waited.exe\n"
            "icon_index=2\nshow=3\nhotkey=0x651\n"
            // Defaults: the install folder to work in, shown normally, no icon.
            "[shortcut]\npath=<Desktop>\\QS Shell.lnk\ntarget=%InstallPath%\\readme.txt\n"
            "[shortcut]\npath=<QuickLaunch>\\QS Shell.lnk\ntarget=%InstallPath%\\readme.txt\nshow=7\n"
            "[shortcut]\npath=%InstallPath%\\links\\Shared.lnk\ntarget=%InstallPath%\\shared\\qsshared.dll\n"
            "show=0\nshared=yes\n"
            "[registry]\nroot=HKCU\nkey=\\Software\\QS Shell\\Values\\\nname=Text\ntype=sz\ndata=%InstallPath%\n"
            "[registry]\nroot=HKCU\nkey=Software\\QS Shell\\Values\nname=Expand\ntype=expand_sz\n"
            "data=%SystemRoot%\\QS Shell\n"
            "[registry]\nroot=HKCU\nkey=Software\\QS Shell\\Values\nname=Binary\ntype=binary\ndata=0A0b10\n"
            "[registry]\nroot=HKCU\nkey=Software\\QS Shell\\Values\nname=Number\ntype=dword\ndata=0x10\n"
            "[registry]\nroot=HKCU\nkey=Software\\QS Shell\\Values\nname=List\ntype=multi_sz\ndata=first|second\n"
            "[registry]\nroot=HKCU\nkey=Software\\QS Shell\\Values\ndata=default value\n"
            "[registry]\nroot=HKLM\nkey=Software\\QS Shell\nname=InstallPath\ndata=%InstallPath%\n"
            "[ini]\nfile=%InstallPath%\\config\\settings.ini\nsection=Main\nkey=Version\nvalue=1.0\n"
            "[ini]\nfile=%InstallPath%\\config\\settings.ini\nsection=Main\nkey=Version\nvalue=-beta\nappend=yes\n"
            "[ini]\nfile=" + existingIni + "\nsection=Main\nkey=Name\nvalue=new\n"
            "[ini]\nfile=" + existingIni + "\nsection=Main\nkey=List\nvalue=b\nappend=yes\n"
            "[ini]\nfile=" + existingIni + "\nsection=Main\nkey=Gone\n"
            "[ini]\nfile=qsshell.ini\nsection=QS Shell\nkey=Installed\nvalue=yes\n"
            "[association]\nextension=.qsshell\nprog_id=QSShell.Document\ncontent_type=application/x-qsshell\n"
            "description=QS Shell document\ninfo_tip=A document of QS Shell\n"
            "open_command=\"%InstallPath%\\tools\\opener.exe\" \"%1\"\nicon=%InstallPath%\\tools\\waited.exe\n"
            "icon_index=1\n"
            // After the installing page: the waited program has ended when
            // the next one looks for its marker; then the DLL functions.
            "[program]\npath=%InstallPath%\\tools\\waited.exe\nmoment=installing\nwait=yes\nonce=yes\n"
            "[program]\npath=<System>\\cmd.exe\narguments=/c if exist \"%InstallPath%\\tools\\waited.exe.loaded\" "
            "echo waited>\"%InstallPath%\\tools\\order.txt\"\nmoment=installing\nwait=yes\n"
            "[program]\npath=%InstallPath%\\tools\\nowait.exe\nmoment=installing\nwait=no\n"
            "[dll]\npath=%InstallPath%\\tools\\recorder.dll\nfunction=NoArgument\nmoment=installing\n"
            "[dll]\npath=%InstallPath%\\tools\\recorder.dll\nfunction=OneArgument\nargument1=%InstallPath%\n"
            "moment=installing\n"
            "[dll]\npath=%InstallPath%\\tools\\recorder.dll\nfunction=TwoArguments\nargument1=alpha\n"
            "argument2=beta gamma\nmoment=installing\n"
            "[dll]\npath=%InstallPath%\\tools\\recorder.dll\nfunction=DllRegisterServer\nmoment=installing\n"
            "[dll]\npath=%InstallPath%\\tools\\dependent.dll\nfunction=RecordValue\nmoment=installing\n"
            // For the uninstaller: logged, not run.
            "[program]\npath=%InstallPath%\\tools\\waited.exe\narguments=--remove\nmoment=uninstall\nwait=no\n"
            "once=no\n"
            "[dll]\npath=%InstallPath%\\tools\\recorder.dll\nfunction=OneArgument\nargument1=removed\n"
            "moment=uninstall\nonce=no\n";
        std::string error;
        std::string package = project->Build(&error);
        ASSERT_FALSE(package.empty()) << error;
        firstRun = RunInstaller(package);
        firstLog = ReadLines(project->LogPath());
    }

    static void TearDownTestSuite()
    {
        Clean();
        delete project;
        project = nullptr;
        CoUninitialize();
    }

    void SetUp() override
    {
        ASSERT_NE(project, nullptr);
        ASSERT_EQ(firstRun.exitCode, 0);
    }
};

InstallProject* ShellWork::project = nullptr;
InstallRun ShellWork::firstRun;
std::vector<std::string> ShellWork::firstLog;
std::string ShellWork::install, ShellWork::group, ShellWork::desktop, ShellWork::quickLaunch,
    ShellWork::windowsIni, ShellWork::existingIni;

TEST_F(ShellWork, InstallsWithoutAQuestion)
{
    for (const SeenBox& box : firstRun.boxes)
        ADD_FAILURE() << "message box: " << box.view.text;
    EXPECT_TRUE(Exists(project->UninstallerPath()));
}

TEST_F(ShellWork, ShortcutsCarryEveryColumn)
{
    LinkView guide = ReadLink(group + "\\Guide.lnk");
    ASSERT_TRUE(guide.loaded);
    EXPECT_EQ(guide.target, install + "\\readme.txt");
    EXPECT_EQ(guide.arguments, "/view /quiet");
    EXPECT_EQ(guide.folder, Tools());
    EXPECT_EQ(guide.icon, Tools() + "\\waited.exe");
    EXPECT_EQ(guide.iconIndex, 2);
    EXPECT_EQ(guide.show, SW_SHOWMAXIMIZED);
    EXPECT_EQ(guide.hotkey, 0x651);

    LinkView plain = ReadLink(desktop + "\\QS Shell.lnk");
    ASSERT_TRUE(plain.loaded);
    EXPECT_EQ(plain.target, install + "\\readme.txt");
    EXPECT_EQ(plain.arguments, "");
    EXPECT_EQ(plain.folder, install);
    EXPECT_EQ(plain.icon, "");
    EXPECT_EQ(plain.show, SW_SHOWNORMAL);
    EXPECT_EQ(plain.hotkey, 0);

    LinkView quick = ReadLink(quickLaunch + "\\QS Shell.lnk");
    ASSERT_TRUE(quick.loaded) << quickLaunch;
    EXPECT_EQ(quick.show, SW_SHOWMINNOACTIVE);

    // Show command 0 leaves the link's own default.
    LinkView shared = ReadLink(install + "\\links\\Shared.lnk");
    ASSERT_TRUE(shared.loaded);
    EXPECT_EQ(shared.target, install + "\\shared\\qsshared.dll");
    EXPECT_EQ(shared.show, SW_SHOWNORMAL);
}

TEST_F(ShellWork, RegistryValuesOfEveryType)
{
    const std::string key = "Software\\QS Shell\\Values";
    DWORD type;
    std::vector<BYTE> data = RawValue(HKEY_CURRENT_USER, key, "Text", &type);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::string(data.begin(), data.end()), install + std::string(1, '\0'));

    // Names that are no script variable stay for the system to expand.
    data = RawValue(HKEY_CURRENT_USER, key, "Expand", &type);
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(std::string(data.begin(), data.end()), std::string("%SystemRoot%\\QS Shell") + '\0');

    data = RawValue(HKEY_CURRENT_USER, key, "Binary", &type);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(data, (std::vector<BYTE>{ 0x0A, 0x0B, 0x10 }));

    EXPECT_EQ(RegistryDword(HKEY_CURRENT_USER, key, "Number"), 16);

    data = RawValue(HKEY_CURRENT_USER, key, "List", &type);
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(std::string(data.begin(), data.end()), std::string("first\0second\0\0", 14));

    data = RawValue(HKEY_CURRENT_USER, key, "", &type);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(RegistryString(HKEY_CURRENT_USER, key, ""), "default value");

    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, "Software\\QS Shell", "InstallPath"), install);
    // The uninstall entry names the installed uninstaller.
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, project->UninstallKey(), "DisplayName"), "QS Shell 1.0");
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, project->UninstallKey(), "UninstallString"),
              "\"" + project->UninstallerPath() + "\"");
}

TEST_F(ShellWork, IniEntriesReplaceAppendDeleteAndBareNamesGoToWindows)
{
    char text[256];
    const std::string settings = install + "\\config\\settings.ini";
    GetPrivateProfileStringA("Main", "Version", "", text, sizeof(text), settings.c_str());
    EXPECT_STREQ(text, "1.0-beta");

    GetPrivateProfileStringA("Main", "Name", "", text, sizeof(text), existingIni.c_str());
    EXPECT_STREQ(text, "new");
    GetPrivateProfileStringA("Main", "List", "", text, sizeof(text), existingIni.c_str());
    EXPECT_STREQ(text, "ab");
    GetPrivateProfileStringA("Main", "Gone", "missing", text, sizeof(text), existingIni.c_str());
    EXPECT_STREQ(text, "missing");

    ASSERT_TRUE(Exists(windowsIni));
    GetPrivateProfileStringA("QS Shell", "Installed", "", text, sizeof(text), windowsIni.c_str());
    EXPECT_STREQ(text, "yes");
    // No folder of that name was made beside the installer.
    EXPECT_FALSE(Exists(project->folder + "\\qsshell.ini"));
}

TEST_F(ShellWork, AssociationOpensThroughTheShell)
{
    const std::string command = "\"" + Tools() + "\\opener.exe\" \"%1\"";
    char text[1024];
    DWORD size = sizeof(text);
    ASSERT_EQ(AssocQueryStringA(0, ASSOCSTR_COMMAND, ".qsshell", "open", text, &size), S_OK);
    EXPECT_EQ(std::string(text), command);
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, ".qsshell", ""), "QSShell.Document");
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, ".qsshell", "Content Type"), "application/x-qsshell");
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, "QSShell.Document", ""), "QS Shell document");
    DWORD type;
    RawValue(HKEY_CLASSES_ROOT, "QSShell.Document", "InfoTip", &type);
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, "QSShell.Document", "InfoTip"), "A document of QS Shell");
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, "QSShell.Document\\DefaultIcon", ""), Tools() + "\\waited.exe,1");

    // A document of that type opened by the shell starts the command.
    const std::string document = project->folder + "\\letter.qsshell";
    ASSERT_TRUE(WriteFileBytes(document, "x", 1));
    const std::string marker = Tools() + "\\opener.exe.loaded";
    DeleteFileA(marker.c_str());
    EXPECT_GT(reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", document.c_str(), nullptr, nullptr, SW_SHOW)),
              32);
    EXPECT_TRUE(WaitForFile(marker));
}

TEST_F(ShellWork, ProgramsAndDllFunctionsRunAfterTheInstallingPage)
{
    // Waited for: the second program found the first one's marker.
    EXPECT_TRUE(Exists(Tools() + "\\waited.exe.loaded"));
    EXPECT_TRUE(Exists(Tools() + "\\order.txt"));
    EXPECT_TRUE(WaitForFile(Tools() + "\\nowait.exe.loaded"));
    // None, one and two arguments, and self-registration inside a COM apartment.
    EXPECT_EQ(ReadText(Tools() + "\\recorder.dll.calls"),
              "none\none " + install + "\ntwo alpha|beta gamma\nregister com\n");
    // The library found its helper in its own folder.
    EXPECT_EQ(ReadText(Tools() + "\\dependent.dll.calls"), "value 6\n");
}

TEST_F(ShellWork, FinalLogRecordsEveryChange)
{
    ASSERT_GE(firstLog.size(), 4u);
    EXPECT_EQ(firstLog[0], "=== Quillset log file ===");
    EXPECT_EQ(firstLog[1], "QS Shell 1.0");
    EXPECT_EQ(firstLog[2], "QS Shell");
    std::vector<std::string> actual(firstLog.begin() + 4, firstLog.end());
    // Levels that the Quick Launch folder's chain created depend on the machine.
    actual.erase(std::remove_if(actual.begin(), actual.end(),
                                [](const std::string& line) {
                                    return line.compare(0, 2, "a,") == 0 && IsSelfOrAncestor(line.substr(2), quickLaunch);
                                }),
                 actual.end());
    const std::string tools = Tools();
    std::vector<std::string> expected = {
        "a," + install,
        "b," + install + "\\readme.txt",
        "a," + tools,
        "b," + tools + "\\dependent.dll",
        "b," + tools + "\\dependent_helper.dll",
        "b," + tools + "\\nowait.exe",
        "b," + tools + "\\opener.exe",
        "b," + tools + "\\recorder.dll",
        "b," + tools + "\\waited.exe",
        "a," + install + "\\shared",
        "g," + install + "\\shared\\qsshared.dll",
        "b," + project->UninstallerPath(),
        "b," + project->LogPath(),
        "a," + group,
        "h," + group + "\\Guide.lnk",
        "h," + desktop + "\\QS Shell.lnk",
        "h," + quickLaunch + "\\QS Shell.lnk",
        "a," + install + "\\links",
        "g," + install + "\\links\\Shared.lnk",
        "e,1,Software\\QS Shell",
        "e,1,Software\\QS Shell\\Values",
        "c,1,Software\\QS Shell\\Values,Text",
        "c,1,Software\\QS Shell\\Values,Expand",
        "c,1,Software\\QS Shell\\Values,Binary",
        "c,1,Software\\QS Shell\\Values,Number",
        "c,1,Software\\QS Shell\\Values,List",
        "c,1,Software\\QS Shell\\Values,",
        "e,2,Software\\QS Shell",
        "c,2,Software\\QS Shell,InstallPath",
        "a," + install + "\\config",
        "b," + install + "\\config\\settings.ini",
        "b," + windowsIni,
        "e,0,.qsshell,1",
        "e,0,QSShell.Document,1",
        "d," + tools + "\\waited.exe,--remove,,0,0,0",
        "f," + tools + "\\recorder.dll,OneArgument,removed,,0",
        "e,2," + project->UninstallKey() + ",1",
    };
    EXPECT_EQ(Joined(actual), Joined(expected));
}

TEST_F(ShellWork, SharedCountsRiseWithEveryInstallation)
{
    const std::string file = install + "\\shared\\qsshared.dll", link = install + "\\links\\Shared.lnk";
    EXPECT_EQ(RegistryDword(HKEY_LOCAL_MACHINE, kSharedDlls, file), 1);
    EXPECT_EQ(RegistryDword(HKEY_LOCAL_MACHINE, kSharedDlls, link), 1);
    InstallRun second = RunInstaller(project->folder + "\\setup.exe");
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_TRUE(second.boxes.empty());
    EXPECT_EQ(RegistryDword(HKEY_LOCAL_MACHINE, kSharedDlls, file), 2);
    EXPECT_EQ(RegistryDword(HKEY_LOCAL_MACHINE, kSharedDlls, link), 2);
    // What existed already is still in the final log, each line once.
    std::vector<std::string> log = ActionLines(project->LogPath());
    EXPECT_EQ(std::count(log.begin(), log.end(), "g," + file), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "h," + group + "\\Guide.lnk"), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "e,1,Software\\QS Shell\\Values"), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "c,1,Software\\QS Shell\\Values,Text"), 1);
}

// ---------------------------------------------------------------------------
// The shortcut page's choices, and programs and DLL functions attached to a
// page that the user passes twice.

struct ChoicesProduct {
    InstallProject project{ "Choices" };
    std::string package, run, typedGroup = SpecialFolder(CSIDL_PROGRAMS) + "\\QS Typed Group";
    std::string group = SpecialFolder(CSIDL_PROGRAMS) + "\\QS Choices";
    std::string desktop = SpecialFolder(CSIDL_DESKTOPDIRECTORY) + "\\QS Choices.lnk";
    std::string commonDesktop = SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + "\\QS Choices Common.lnk";
    std::string quickLaunch = QuickLaunchFolder() + "\\QS Choices.lnk";

    ChoicesProduct()
    {
        Clean();
        run = project.folder + "\\run";
        project.pages = "welcome,shortcuts,installing";
        project.Source("src\\readme.txt", "readme");
        project.Source("run\\twice.exe", Fixture("marker_program.exe"));
        project.Source("run\\once.exe", Fixture("marker_program.exe"));
        project.Source("run\\recorder.dll", Fixture("recorder.dll"));
        project.sections =
            "[files]\nsource=src\\readme.txt\n"
            "[shortcut]\npath=<Programs>\\%ShortcutsGroup%\\Group.lnk\ntarget=%InstallPath%\\readme.txt\n"
            "[shortcut]\npath=<Desktop>\\QS Choices.lnk\ntarget=%InstallPath%\\readme.txt\n"
            "[shortcut]\npath=<CommonDesktop>\\QS Choices Common.lnk\ntarget=%InstallPath%\\readme.txt\n"
            "[shortcut]\npath=<QuickLaunch>\\QS Choices.lnk\ntarget=%InstallPath%\\readme.txt\n"
            "[shortcut]\npath=%InstallPath%\\Always.lnk\ntarget=%InstallPath%\\readme.txt\n"
            "[program]\npath=" + run + "\\twice.exe\nmoment=welcome\nonce=no\n"
            "[program]\npath=" + run + "\\once.exe\nmoment=welcome\nonce=yes\n"
            "[dll]\npath=" + run + "\\recorder.dll\nfunction=OneArgument\nargument1=again\nmoment=welcome\nonce=no\n"
            "[dll]\npath=" + run + "\\recorder.dll\nfunction=OneArgument\nargument1=single\nmoment=welcome\n";
        std::string error;
        package = project.Build(&error);
        EXPECT_FALSE(package.empty()) << error;
    }
    ~ChoicesProduct() { Clean(); }

    void Clean()
    {
        RemoveFolder(group);
        RemoveFolder(typedGroup);
        for (const std::string& link : { desktop, commonDesktop, quickLaunch })
            DeleteFileA(link.c_str());
        // Wine's menu builder puts a launcher beside a desktop link.
        DeleteFileA((desktop.substr(0, desktop.size() - 4) + ".desktop").c_str());
        RemoveFolder(project.installPath);
    }
};

bool IsShortcutsPage(HWND page)
{
    return page && HasItem(page, IDC_FOLDER_EDIT);
}

void SetCheck(HWND page, int id, bool checked)
{
    if ((IsDlgButtonChecked(page, id) == BST_CHECKED) != checked)
        SendMessageA(GetDlgItem(page, id), BM_CLICK, 0, 0);
}

TEST(ShortcutChoices, UncheckedKindsAreSkippedAndPageActionsRunOncePerPass)
{
    ChoicesProduct product;
    ASSERT_FALSE(product.package.empty());
    const std::string twice = product.run + "\\twice.exe.loaded", once = product.run + "\\once.exe.loaded";

    // Welcome, Next (the actions run), Back, Next (only those without once
    // run again); then no group and no Quick Launch shortcut.
    int step = 0;
    bool markersRemoved = false, onceRanAgain = false, twiceRanAgain = false;
    RunOptions options;
    options.tick = [&](const Process&, HWND frame) {
        HWND page = CurrentPage(frame);
        if (!page)
            return;
        bool shortcuts = IsShortcutsPage(page);
        if (step == 0 && !shortcuts && HasItem(frame, IDC_NEXT)) {
            Click(frame, IDC_NEXT);
            step = 1;
        } else if (step == 1 && shortcuts) {
            // Waited for: both programs ended before the page changed.
            markersRemoved = DeleteFileA(twice.c_str()) && DeleteFileA(once.c_str());
            Click(frame, IDC_BACK);
            step = 2;
        } else if (step == 2 && !shortcuts) {
            Click(frame, IDC_NEXT);
            step = 3;
        } else if (step == 3 && shortcuts) {
            twiceRanAgain = Exists(twice);
            onceRanAgain = Exists(once);
            SetCheck(page, IDC_CREATE_GROUP, false);
            SetCheck(page, IDC_CREATE_DESKTOP, true);
            SetCheck(page, IDC_CREATE_QUICK_LAUNCH, false);
            Click(frame, IDC_NEXT);
            step = 4;
        }
    };
    options.timeoutMs = 60000;
    InstallRun run = RunInstaller(product.package, options);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(step, 4);
    EXPECT_TRUE(markersRemoved);
    EXPECT_TRUE(twiceRanAgain);
    EXPECT_FALSE(onceRanAgain);
    EXPECT_EQ(ReadText(product.run + "\\recorder.dll.calls"), "one again\none single\none again\n");

    EXPECT_FALSE(Exists(product.group));
    EXPECT_TRUE(Exists(product.desktop));
    EXPECT_TRUE(Exists(product.commonDesktop));
    EXPECT_FALSE(Exists(product.quickLaunch));
    EXPECT_TRUE(Exists(product.project.installPath + "\\Always.lnk"));
    std::string log = ReadText(product.project.LogPath());
    EXPECT_EQ(log.find(product.group), std::string::npos);
    EXPECT_EQ(log.find(product.quickLaunch), std::string::npos);
    EXPECT_NE(log.find("h," + product.desktop + "\n"), std::string::npos);

    // Again: a group typed on the page, desktop off, Quick Launch on.
    product.Clean();
    step = 0;
    options.tick = [&](const Process&, HWND frame) {
        HWND page = CurrentPage(frame);
        if (step == 0 && page && !IsShortcutsPage(page) && HasItem(frame, IDC_NEXT)) {
            Click(frame, IDC_NEXT);
            step = 1;
        } else if (step == 1 && IsShortcutsPage(page)) {
            SetWindowTextA(GetDlgItem(page, IDC_FOLDER_EDIT), "QS Typed Group");
            SetCheck(page, IDC_CREATE_GROUP, true);
            SetCheck(page, IDC_CREATE_DESKTOP, false);
            SetCheck(page, IDC_CREATE_QUICK_LAUNCH, true);
            Click(frame, IDC_NEXT);
            step = 2;
        }
    };
    run = RunInstaller(product.package, options);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(step, 2);
    EXPECT_TRUE(Exists(product.typedGroup + "\\Group.lnk"));
    EXPECT_FALSE(Exists(product.group));
    EXPECT_FALSE(Exists(product.desktop));
    EXPECT_FALSE(Exists(product.commonDesktop));
    EXPECT_TRUE(Exists(product.quickLaunch));
}

}  // namespace
