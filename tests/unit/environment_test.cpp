// The environment probes on Wine: requirements, component detection from
// registry values and files written into the test prefix, special folders
// with their fallbacks, Windows releases (through a helper started with Wine
// set to each release) and the restart's refusal without the privilege.
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>
#include "unit_helpers.h"
#include "run_state_test.h"
#include "environment/environment.h"
#include "engine/engine.h"
#include "fixture_path.h"
#include "wine_settings.h"

namespace {

// A registry value as it was: put back (or removed again) at the end of scope.
class SavedValue {
public:
    SavedValue(HKEY root, const char* key, const char* name) : root_(root), key_(key), name_(name ? name : "")
    {
        DWORD size = 0;
        if (RegGetValueA(root, key, name, RRF_RT_ANY | RRF_NOEXPAND, &type_, nullptr, &size) == 0) {
            data_.resize(size);
            existed_ = RegGetValueA(root, key, name, RRF_RT_ANY | RRF_NOEXPAND, &type_, data_.data(), &size) == 0;
        }
    }
    ~SavedValue()
    {
        HKEY key;
        if (RegCreateKeyA(root_, key_.c_str(), &key))
            return;
        const char* name = name_.empty() ? nullptr : name_.c_str();
        if (existed_)
            RegSetValueExA(key, name, 0, type_, data_.data(), (DWORD)data_.size());
        else
            RegDeleteValueA(key, name);
        RegCloseKey(key);
    }
    void Remove() const
    {
        HKEY key;
        if (RegOpenKeyExA(root_, key_.c_str(), 0, KEY_SET_VALUE, &key) == 0) {
            RegDeleteValueA(key, name_.empty() ? nullptr : name_.c_str());
            RegCloseKey(key);
        }
    }
    void Set(const std::string& text) const
    {
        ASSERT_EQ(WriteRegistryValue(root_, key_.c_str(), name_.empty() ? nullptr : name_.c_str(), REG_SZ,
                                     text.c_str(), (DWORD)text.size() + 1),
                  0);
    }

private:
    HKEY root_;
    std::string key_, name_;
    DWORD type_ = 0;
    std::vector<BYTE> data_;
    bool existed_ = false;
};

std::string ReadString(HKEY root, const char* key, const char* name)
{
    char* text = (char*)ReadRegistryValue(root, key, name, nullptr);
    std::string result = Str(text);
    FreeMem(text);
    return result;
}

const char kShellFoldersKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kAccessKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\MSACCESS.EXE";

class Environment : public testing::Test {
protected:
    void SetUp() override
    {
        ZeroRunState();
        ASSERT_TRUE(LoadShellFolderFunctions());
    }
    void TearDown() override { UnloadShellFolderFunctions(); }
    static std::string Macro(int entry) { return Str(ResolveFolderMacro(entry)); }
    static std::string Shell(int folder)
    {
        char path[MAX_PATH];
        return GetSpecialFolderPath(path, folder) ? path : "";
    }
    static std::string Temp()
    {
        char path[MAX_PATH];
        GetTempPathA(MAX_PATH, path);
        std::string result = path;
        result.pop_back();
        return result;
    }
};

// ---- Requirements -------------------------------------------------------

TEST_F(Environment, RequirementGroupsDecideInTheirOrder)
{
    g_requirements.windowsVersion = WINDOWS_2000;
    g_requirements.required[REQUIRED_WINDOWS] = (char*)"XP";
    g_requirements.requireAdministrator = TRUE;
    g_requirements.isAdministrator = FALSE;
    g_requirements.required[REQUIRED_DIRECTX] = (char*)"9.0";
    EXPECT_EQ(CheckRequirements(), REQUIREMENT_WINDOWS);
    EXPECT_EQ(Str(g_requirements.missingWindowsName), "Microsoft Windows XP");
    g_requirements.windowsVersion = WINDOWS_XP;
    EXPECT_EQ(CheckRequirements(), REQUIREMENT_ADMIN) << "administrator rights before components";
    EXPECT_EQ(g_requirements.missingWindowsName, nullptr) << "names are reset by every check";
    g_requirements.isAdministrator = TRUE;
    EXPECT_EQ(CheckRequirements(), REQUIREMENT_DIRECTX);
    EXPECT_EQ(Str(g_requirements.missingDirectXName), "DirectX 9.0");
    g_requirements.required[REQUIRED_IE] = (char*)"6.0SP1";
    g_requirements.ieVersionClass = 18;
    EXPECT_EQ(CheckRequirements(), REQUIREMENT_IE);
    EXPECT_EQ(Str(g_requirements.missingIEName), "Internet Explorer 6.0 SP1");
    g_requirements.ieVersionClass = 19;
    g_requirements.directXVersion = 0x900;
    g_requirements.required[REQUIRED_ACCESS] = (char*)"97";
    EXPECT_EQ(CheckRequirements(), REQUIREMENT_ACCESS) << "no Access at all fails even 97";
    EXPECT_EQ(Str(g_requirements.missingAccessName), "Microsoft Access 97");
    g_requirements.accessVersion = 1;
    EXPECT_EQ(CheckRequirements(), REQUIREMENTS_MET);
}

TEST_F(Environment, ReleaseNamesOfUpdates)
{
    struct Case {
        char** field;
        const char* keyword;
        const char* name;
    } cases[] = {
        { &g_requirements.required[REQUIRED_WINDOWS], "95osr2", "Microsoft Windows 95 OSR2" },
        { &g_requirements.required[REQUIRED_WINDOWS], "98SE", "Microsoft Windows 98 SE" },
        { &g_requirements.required[REQUIRED_WINDOWS], "NT4", "Microsoft Windows NT4" },
        { &g_requirements.required[REQUIRED_IE], "5.01SP3", "Internet Explorer 5.01 SP3" },
        { &g_requirements.required[REQUIRED_IE], "3.02", "Internet Explorer 3.02" },
        { &g_requirements.required[REQUIRED_DIRECTX], "6.1", "DirectX 6.1" },
        { &g_requirements.required[REQUIRED_ACCESS], "2000SR1", "Microsoft Access 2000 SR1" },
        { &g_requirements.required[REQUIRED_ACCESS], "XP", "Microsoft Access XP" },
    };
    g_requirements.isAdministrator = TRUE;
    for (const Case& c : cases) {
        *c.field = (char*)c.keyword;
        EXPECT_NE(CheckRequirements(), REQUIREMENTS_MET) << c.keyword;
        EXPECT_EQ(Str(g_requirements.releaseName), c.name);
        *c.field = nullptr;
    }
}

TEST_F(Environment, KeywordsIgnoreCaseButNotTrailingBlanks)
{
    g_requirements.windowsVersion = WINDOWS_2000;
    for (const char* keyword : { "xp", "Xp", "2003" }) {
        g_requirements.required[REQUIRED_WINDOWS] = (char*)keyword;
        EXPECT_EQ(CheckRequirements(), REQUIREMENT_WINDOWS) << keyword;
    }
    EXPECT_EQ(Str(g_requirements.releaseName), "Microsoft Windows 2003 Server");
    for (const char* keyword : { "XP ", " XP", "", "Vista", "2000" }) {
        g_requirements.required[REQUIRED_WINDOWS] = (char*)keyword;
        EXPECT_EQ(CheckRequirements(), REQUIREMENTS_MET) << '"' << keyword << '"';
    }
    // NT 4.0 ranks below Windows 98 on the scale.
    g_requirements.windowsVersion = WINDOWS_98;
    g_requirements.required[REQUIRED_WINDOWS] = (char*)"nt4";
    EXPECT_EQ(CheckRequirements(), REQUIREMENTS_MET);
    g_requirements.windowsVersion = WINDOWS_VISTA_OR_LATER;
    for (const char* keyword : { "95OSR2", "NT4", "98", "98SE", "ME", "2000", "XP", "2003", "NT" }) {
        g_requirements.required[REQUIRED_WINDOWS] = (char*)keyword;
        EXPECT_EQ(CheckRequirements(), REQUIREMENTS_MET) << keyword << " on a later release";
    }
}

TEST_F(Environment, DirectXMinorStepsAndTheFailedDisplayTest)
{
    struct Case {
        const char* keyword;
        int version;
        int expected;
    } cases[] = {
        { "6.1", 0x600, REQUIREMENT_DIRECTX }, { "6.1", 0x601, REQUIREMENTS_MET },
        { "8.1", 0x800, REQUIREMENT_DIRECTX }, { "8.1", 0x801, REQUIREMENTS_MET },
        { "3.0", 0x301, REQUIREMENTS_MET },    { "5.0", 0x301, REQUIREMENT_DIRECTX },
        { "1.0", 0, REQUIREMENT_DIRECTX },     { "9.0", 0x900, REQUIREMENTS_MET },
    };
    for (const Case& c : cases) {
        g_requirements.required[REQUIRED_DIRECTX] = (char*)c.keyword;
        g_requirements.directXVersion = c.version;
        EXPECT_EQ(CheckRequirements(), c.expected) << c.keyword << " on " << std::hex << c.version;
    }
}

TEST_F(Environment, AdministratorRightsOnlyCountOnNt)
{
    g_requirements.requireAdministrator = TRUE;
    g_requirements.isAdministrator = FALSE;
    EXPECT_EQ(CheckRequirements(), IsWindowsNT() ? REQUIREMENT_ADMIN : REQUIREMENTS_MET);
    BOOL administrator = 7;
    EXPECT_TRUE(IsUserAdministrator(&administrator));
    EXPECT_EQ(administrator, TRUE) << "Wine's user holds the Administrators group";
}

// ---- Component detection ------------------------------------------------

TEST_F(Environment, InternetExplorerFromItsRegistryValues)
{
    const char* ie = "Software\\Microsoft\\Internet Explorer";
    const char* windowsIe = "Software\\Microsoft\\Windows\\Internet Explorer";
    SavedValue version(HKEY_LOCAL_MACHINE, ie, "Version");
    SavedValue build(HKEY_LOCAL_MACHINE, windowsIe, "Build");
    SavedValue iver(HKEY_LOCAL_MACHINE, windowsIe, "IVer");
    build.Set("1300");
    struct Case {
        const char* version;
        int fine;
    } versions[] = { { "6.0", 36 },          { "6.0.2478.0", 36 }, { "6.0.2479", 37 }, { "6.0.2800.1106", 39 },
                     { "6.0.3718.0", 41 },   { "6.0.3789.9", 41 }, { "6.0.3790.0", 42 }, { "9.11.9600.0", 42 } };
    for (const Case& c : versions) {
        version.Set(c.version);
        EXPECT_EQ(DetectInternetExplorerBuild(), c.fine) << c.version;
    }
    EXPECT_EQ(GetInternetExplorerClass(36), 18);
    EXPECT_EQ(GetInternetExplorerClass(41), 19);
    version.Remove();
    EXPECT_EQ(DetectInternetExplorerBuild(), 7) << "Build comes next";
    build.Set("1154");
    EXPECT_EQ(DetectInternetExplorerBuild(), 2);
    build.Remove();
    for (auto [text, fine] : std::vector<std::pair<const char*, int>>{ { "100", 1 }, { "101", 3 }, { "102", 2 } }) {
        iver.Set(text);
        EXPECT_EQ(DetectInternetExplorerBuild(), fine) << "IVer " << text;
    }
    EXPECT_EQ(GetInternetExplorerClass(3), 2);
    iver.Remove();
    EXPECT_EQ(DetectInternetExplorerBuild(), 0);
    EXPECT_EQ(GetInternetExplorerClass(0), 0);
    EXPECT_EQ(GetInternetExplorerClass(43), 20);
    EXPECT_EQ(GetInternetExplorerClass(44), 0);
}

TEST_F(Environment, AccessFromTheVersionOfItsProgram)
{
    SavedValue path(HKEY_LOCAL_MACHINE, kAccessKey, nullptr);
    path.Remove();
    EXPECT_EQ(DetectAccessVersion(), 0);
    path.Set(FixturePath("versioned.exe"));   // 8.0.0.4506: Access 2000 SR2
    EXPECT_EQ(DetectAccessVersion(), 6);
    path.Set(FixturePath("short_version.dll"));
    EXPECT_EQ(DetectAccessVersion(), 0);
    path.Set("C:\\no\\such\\msaccess.exe");
    EXPECT_EQ(DetectAccessVersion(), 0);
}

TEST_F(Environment, DirectXOnWineIsNine)
{
    SavedValue version(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\DirectX", "Version");
    version.Set("4.08.01.0881");
    EXPECT_EQ(DetectDirectXVersion(), 0x900) << "D3D9 present: 9 whatever the value says";
}

TEST_F(Environment, DirectXIsProbedOnlyForAPackageThatRequiresIt)
{
    RunComponentDetections();
    EXPECT_EQ(g_requirements.directXVersion, DIRECTX_NOT_PROBED);
    g_requirements.required[REQUIRED_DIRECTX] = (char*)"";
    EXPECT_EQ(CheckRequirements(), REQUIREMENTS_MET);
    EXPECT_EQ(g_requirements.directXVersion, DIRECTX_NOT_PROBED) << "an empty requirement asks for no probe";
    g_requirements.required[REQUIRED_DIRECTX] = (char*)"9.0";
    EXPECT_EQ(CheckRequirements(), REQUIREMENTS_MET);
    EXPECT_EQ(g_requirements.directXVersion, 0x900);
}

TEST_F(Environment, ObjectAccessOfAFolderAndAKey)
{
    ASSERT_TRUE(LoadAccessCheckFunctions());
    ImpersonateSelf(SecurityImpersonation);
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_ALL_ACCESS, TRUE, &token));
    BOOL allowed = FALSE;
    EXPECT_EQ(CheckObjectAccess(token, Temp().c_str(), SE_FILE_OBJECT, GENERIC_WRITE, &allowed), 0u);
    EXPECT_TRUE(allowed);
    allowed = FALSE;
    EXPECT_EQ(CheckObjectAccess(token, "CURRENT_USER\\Software", SE_REGISTRY_KEY, GENERIC_WRITE, &allowed), 0u);
    EXPECT_TRUE(allowed);
    EXPECT_NE(CheckObjectAccess(token, "C:\\no\\such\\folder", SE_FILE_OBJECT, GENERIC_WRITE, &allowed), 0u);
    CloseHandle(token);
    RevertToSelf();
    UnloadAccessCheckFunctions();
}

// ---- Special folders ----------------------------------------------------

TEST_F(Environment, EveryFolderMacroResolves)
{
    // Entries that name folders the machine must have.
    const int folders[] = { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 14, 15, 16, 17, 19, 20, 21, 22, 23, 24, 25, 26, 28 };
    for (int entry = 0; entry < FOLDER_MACRO_COUNT; entry++)
        EXPECT_FALSE(Macro(entry).empty()) << entry;
    for (int entry : folders) {
        std::string path = Macro(entry);
        DWORD attributes = GetFileAttributesA(path.c_str());
        EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            << entry << ": " << path;
    }
    std::string temp = Macro(23);
    EXPECT_EQ(temp, Temp());
    EXPECT_NE(temp.back(), '\\');
    for (int entry : { 35, 36, 1000, -1 })
        EXPECT_EQ(Macro(entry), temp) << entry;
    char windows[MAX_PATH], system[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    GetSystemDirectoryA(system, MAX_PATH);
    EXPECT_EQ(Macro(25), windows);
    EXPECT_EQ(Macro(22), system);
    EXPECT_EQ(Macro(17), Shell(CSIDL_PROGRAMS));
    EXPECT_EQ(Macro(5), Shell(CSIDL_COMMON_PROGRAMS)) << "a later release has common folders";
}

TEST_F(Environment, FilePathEntriesFallBackToTemp)
{
    SavedValue ie(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\IE Setup\\Setup", "Path");
    SavedValue access(HKEY_LOCAL_MACHINE, kAccessKey, nullptr);
    ie.Set("C:\\Program Files\\Internet Explorer\\");
    access.Set("C:\\Office\\MSACCESS.EXE");
    EXPECT_EQ(Macro(10), "C:\\Program Files\\Internet Explorer\\iexplore.exe");
    EXPECT_EQ(Macro(13), "C:\\Office\\MSACCESS.EXE");
    ie.Remove();
    access.Remove();
    Macro(25);   // a previous result must not leak into the next
    EXPECT_EQ(Macro(10), Temp());
    EXPECT_EQ(Macro(13), Temp());
}

TEST_F(Environment, QuickLaunchOnlyWhenTheFolderExists)
{
    std::string quickLaunch = Macro(0) + "\\Microsoft\\Internet Explorer\\Quick Launch";
    bool existed = GetFileAttributesA(quickLaunch.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (existed) {
        EXPECT_EQ(Macro(18), quickLaunch);
        return;
    }
    EXPECT_EQ(Macro(18), Temp());
    ASSERT_EQ(SHCreateDirectoryExA(nullptr, quickLaunch.c_str(), nullptr), ERROR_SUCCESS);
    EXPECT_EQ(Macro(18), quickLaunch);
    RemoveDirectoryA(quickLaunch.c_str());
}

// The shell refuses the folders in s_refused; every other answer is Wine's.
std::vector<int> s_refused;
decltype(g_shell) s_realShell;

BOOL WINAPI RefusingSpecialFolderPath(HWND owner, LPSTR buffer, int folder, BOOL create)
{
    for (int refused : s_refused)
        if (refused == folder)
            return FALSE;
    return s_realShell.getSpecialFolderPath(owner, buffer, folder, create);
}

HRESULT WINAPI RefusingSpecialFolderLocation(HWND owner, int folder, LPITEMIDLIST* list)
{
    for (int refused : s_refused)
        if (refused == folder)
            return E_FAIL;
    return s_realShell.getSpecialFolderLocation(owner, folder, list);
}

TEST_F(Environment, AppDataComposedFromTheProfileAndStored)
{
    s_realShell = g_shell;
    g_shell.getSpecialFolderPath = RefusingSpecialFolderPath;
    g_shell.getSpecialFolderLocation = RefusingSpecialFolderLocation;
    s_refused = { CSIDL_APPDATA, CSIDL_PROFILE };
    SavedValue appData(HKEY_CURRENT_USER, kShellFoldersKey, "AppData");
    SavedValue profile(HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ProfileReconciliation",
                       "ProfileDirectory");
    std::string base = Temp() + "\\QuillsetProfile";
    CreateDirectoryA(base.c_str(), nullptr);
    profile.Set(base);
    appData.Remove();
    std::string expected = base + "\\Application Data";
    EXPECT_EQ(Macro(26), base);
    EXPECT_EQ(Macro(0), expected);
    EXPECT_NE(GetFileAttributesA(expected.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kShellFoldersKey, "AppData"), expected);
    // Now the stored value answers before anything is composed.
    appData.Set("C:\\Stored AppData");
    EXPECT_EQ(Macro(0), "C:\\Stored AppData");
    profile.Remove();
    RemoveDirectoryA(expected.c_str());
    RemoveDirectoryA(base.c_str());
    g_shell = s_realShell;
}

TEST_F(Environment, MediaFoldersComposedFromDocumentsAndStored)
{
    struct Case {
        int entry;
        HKEY root;
        const char* value;
        int base;
        const char* subfolder;
    } cases[] = {
        { 32, HKEY_CURRENT_USER, "My Pictures", CSIDL_PERSONAL, "My Pictures" },
        { 34, HKEY_CURRENT_USER, "My Video", CSIDL_PERSONAL, "My Video" },
        { 30, HKEY_LOCAL_MACHINE, "CommonMusic", CSIDL_COMMON_DOCUMENTS, "My Music" },
    };
    for (const Case& c : cases) {
        SavedValue value(c.root, kShellFoldersKey, c.value);
        value.Remove();
        std::string expected = Shell(c.base) + "\\" + c.subfolder;
        bool existed = GetFileAttributesA(expected.c_str()) != INVALID_FILE_ATTRIBUTES;
        EXPECT_EQ(Macro(c.entry), expected) << c.value;
        EXPECT_NE(GetFileAttributesA(expected.c_str()), INVALID_FILE_ATTRIBUTES) << expected;
        EXPECT_EQ(ReadString(c.root, kShellFoldersKey, c.value), expected);
        value.Set("C:\\Elsewhere");
        EXPECT_EQ(Macro(c.entry), "C:\\Elsewhere");
        if (!existed)
            RemoveDirectoryA(expected.c_str());
    }
}

// ---- Windows releases, through the helper -------------------------------

using Report = std::map<std::string, std::string>;

// Runs the helper with Wine set to RELEASE (empty: Wine's default) and the
// library DISABLED switched off, in FOLDER; its report, or an empty one when
// it did not end in time.
Report RunProbe(const std::string& release, const std::string& mode = "version", const char* disabled = nullptr,
                const std::string& folder = "")
{
    ProgramSettings wine("version_probe.exe");
    if (!release.empty())
        wine.Set("", "Version", release.c_str());
    if (disabled)
        wine.Set("DllOverrides", disabled, "");
    SECURITY_ATTRIBUTES inherit{ sizeof(inherit), nullptr, TRUE };
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 1 << 16))
        return {};
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process{};
    std::string command = "\"" + FixturePath("version_probe.exe") + "\" " + mode;
    BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                  folder.empty() ? nullptr : folder.c_str(), &startup, &process);
    CloseHandle(writeEnd);
    std::string output;
    if (started) {
        if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0)
            TerminateProcess(process.hProcess, 1);
        char buffer[4096];
        DWORD got;
        while (ReadFile(readEnd, buffer, sizeof(buffer), &got, nullptr) && got)
            output.append(buffer, got);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(readEnd);
    Report report;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        std::string line = output.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t equals = line.find('=');
        if (equals != std::string::npos)
            report[line.substr(0, equals)] = line.substr(equals + 1);
        start = end == std::string::npos ? output.size() : end + 1;
    }
    return report;
}

TEST(WindowsRelease, CodesAndRequirementsOnEveryRelease)
{
    struct Release {
        const char* name;
        const char* code;
        const char* nt;
        const char* results;   // "NT", "NT4", "98", "XP", "2003"
    } releases[] = {
        { "win95", "1", "0", "23333" },   { "win98", "5", "0", "20033" },   { "winme", "6", "0", "20033" },
        { "nt40", "3", "1", "00333" },    { "win2k", "7", "1", "00033" },   { "winxp", "8", "1", "00003" },
        { "win2003", "9", "1", "00000" }, { "win7", "10", "1", "00000" },   { "win10", "10", "1", "00000" },
    };
    const char* keywords[] = { "NT", "NT4", "98", "XP", "2003" };
    for (const Release& r : releases) {
        SCOPED_TRACE(r.name);
        Report report = RunProbe(r.name);
        ASSERT_FALSE(report.empty());
        EXPECT_EQ(report["code"], r.code);
        EXPECT_EQ(report["nt"], r.nt);
        EXPECT_EQ(report["95"], std::string(r.name) == "win95" ? "1" : "0");
        for (int i = 0; i < 5; i++)
            EXPECT_EQ(report[std::string("require.") + keywords[i]], std::string(1, r.results[i])) << keywords[i];
        EXPECT_EQ(report["require.NT.first"], r.nt[0] == '0' ? "2" : "1") << "then administrator rights";
        // Common folders: NT 4.0 and ME on, 95 and 98 off; the shared
        // documents only from ME on.
        bool common = r.code == std::string("3") || atoi(r.code) > 5;
        EXPECT_EQ(report["macro.5"], report[common ? "shell.23" : "shell.2"]);
        EXPECT_EQ(report["macro.28"], report[atoi(r.code) > 5 ? "shell.46" : "shell.5"]);
    }
}

TEST(WindowsRelease, CommonAppDataComposedBeforeWindowsMe)
{
    SavedValue stored(HKEY_LOCAL_MACHINE, kShellFoldersKey, "Common AppData");
    stored.Remove();
    Report report = RunProbe("nt40");
    ASSERT_FALSE(report.empty());
    std::string expected = report["macro.27"] + "\\Application Data";
    EXPECT_EQ(report["macro.1"], expected);
    EXPECT_NE(GetFileAttributesA(expected.c_str()), INVALID_FILE_ATTRIBUTES) << expected;
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kShellFoldersKey, "Common AppData"), expected);
    // Windows 98 replaces a stored value by the composed path, and keeps it.
    stored.Set("C:\\Stored Common");
    report = RunProbe("win98");
    EXPECT_EQ(report["macro.1"], expected);
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kShellFoldersKey, "Common AppData"), "C:\\Stored Common");
    report = RunProbe("nt40");
    EXPECT_EQ(report["macro.1"], "C:\\Stored Common");
    RemoveDirectoryA(expected.c_str());
    RemoveDirectoryA(report["macro.27"].c_str());
}

TEST(WindowsRelease, DirectXWithoutItsNewerLibraries)
{
    SavedValue version(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\DirectX", "Version");
    version.Set("4.08.01.0881");
    EXPECT_EQ(RunProbe("", "directx", "d3d9")["directx"], std::to_string(0x801));
    version.Set("4.08.00.0400");
    EXPECT_EQ(RunProbe("", "directx", "d3d9")["directx"], std::to_string(0x800));
    EXPECT_EQ(RunProbe("", "directx", "d3d8")["directx"], std::to_string(0x700)) << "D3D9 alone does not count";
    EXPECT_EQ(RunProbe("", "directx", "ddraw")["directx"], "0");
    EXPECT_EQ(RunProbe("", "directx")["directx"], std::to_string(0x900));
}

TEST(Restart, WithoutTheShutdownPrivilegeNothingIsStarted)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string folder = std::string(temp) + "QuillsetRestart";
    CreateDirectoryA(folder.c_str(), nullptr);
    // A shutdown.exe where ShellExecute would look first.
    std::string planted = folder + "\\shutdown.exe";
    ASSERT_TRUE(CopyFileA(FixturePath("marker_program.exe").c_str(), planted.c_str(), FALSE));
    DeleteFileA((planted + ".loaded").c_str());
    Report report = RunProbe("", "restart", nullptr, folder);
    if (report["restart"] == "skip")
        GTEST_SKIP() << "the shutdown privilege cannot be taken away here";
    EXPECT_EQ(report["restart"], "0");
    EXPECT_EQ(GetFileAttributesA((planted + ".loaded").c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileA(planted.c_str());
    RemoveDirectoryA(folder.c_str());
}

}  // namespace
