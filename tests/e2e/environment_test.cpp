// The runtime against the machine it runs on: a package that needs a newer
// Windows is refused with its own text and changes nothing. (Libraries
// planted beside a package: planted_library_test.cpp.)
#include <gtest/gtest.h>
#include "wine_settings.h"
#include "package_fixture.h"

namespace {

using namespace e2e;
using quillset::Bytes;
using quillset::ScriptWriter;


FILETIME LastWrite(HKEY root, const char* path)
{
    FILETIME time{};
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) == 0) {
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &time);
        RegCloseKey(key);
    }
    return time;
}

bool SameTime(const FILETIME& a, const FILETIME& b)
{
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

int FilesIn(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    int files = 0;
    if (search != INVALID_HANDLE_VALUE) {
        do
            files += !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        while (FindNextFileA(search, &found));
        FindClose(search);
    }
    return files;
}

TEST(Requirements, TooOldWindowsIsRefusedWithTheReleaseName)
{
    ScriptWriter s;
    s.record(RECORD_VARIABLE, { "%InstallPath%", "<ProgramFiles>\\QuillsetNeeds2003" });
    s.record(RECORD_PRODUCT, ProductPayload("Demo", "Demo 1.0"));
    s.record(RECORD_TEXT, ScriptWriter::textPayload(9, TEXT_GROUP_WIZARD, 13, "Demo needs %s or later."));
    Bytes requirements;
    for (const char* field : { "2003", "", "", "" })
        ScriptWriter::putString(requirements, field);
    requirements.push_back(0);
    s.record(RECORD_REQUIREMENTS, requirements);
    std::string folder = FreshFolder("Needs2003");
    std::string path = WriteInstaller(folder, "needs2003.exe", s.finish());
    ASSERT_FALSE(path.empty());
    ProgramSettings wine("needs2003.exe");
    wine.Set("", "Version", "winxp");

    const char* shellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    FILETIME userBefore = LastWrite(HKEY_CURRENT_USER, shellFolders);
    FILETIME machineBefore = LastWrite(HKEY_LOCAL_MACHINE, shellFolders);
    Process runtime;
    ASSERT_TRUE(Start(runtime, path));
    HWND box = WaitForWindow(runtime, IsMessageBox);
    ASSERT_NE(box, nullptr);
    MessageBoxView view = ReadMessageBox(box);
    EXPECT_EQ(view.text, "Demo needs Microsoft Windows 2003 Server or later.");
    EXPECT_EQ(view.caption, "Demo 1.0 设置 ");
    EXPECT_EQ(view.icon, IconKind::Warning);
    for (HWND window : VisibleWindows(runtime))
        EXPECT_FALSE(IsWizardFrame(window));
    Click(box, IDOK);
    EXPECT_EQ(runtime.WaitForExit(), 0);

    char programFiles[MAX_PATH];
    ExpandEnvironmentStringsA("%ProgramFiles%\\QuillsetNeeds2003", programFiles, MAX_PATH);
    EXPECT_EQ(GetFileAttributesA(programFiles), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(SameTime(LastWrite(HKEY_CURRENT_USER, shellFolders), userBefore));
    EXPECT_TRUE(SameTime(LastWrite(HKEY_LOCAL_MACHINE, shellFolders), machineBefore));
    EXPECT_EQ(FilesIn(folder), 1) << "nothing beside the installer";
}

}  // namespace
