// Packages that quillset-build writes, read back by the runtime's own package
// loader, inflater and script interpreter: every record and field of a
// project that uses them all arrives where the runtime looks for it.
#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include "unit_helpers.h"
#include "run_state_test.h"
#include "fixture_path.h"
#include "package/package.h"
#include "package_reader.h"
#include "resources/ids.h"
#include "script/script.h"
#include "startup/startup.h"
#include "environment/environment.h"
#include "engine/engine.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Items(const StringList* list)
{
    std::vector<std::string> items;
    for (int i = 0; i < ListCount(list); i++)
        items.push_back(Str(ListGet(list, i)));
    return items;
}

// UTF-8, as project files are, whatever the test's own execution character set.
const char kProject[] = u8R"([build]
codepage=936

[product]
name=Round
full_name=Round Trip 2.0
install_path=<ProgramFiles>\Round
uninstaller=remove.exe
shortcuts_group=Round Group
previous_path_root=HKCU
previous_path_key=Software\QuillsetTests\NoSuchProduct
previous_path_value=Path
launch=%InstallPath%\round.exe
launch2=<Windows>\notepad.exe
licence=licence.txt
information=information.rtf
layout=small

[options]
offer_group_shortcuts=yes
offer_desktop_shortcuts=no
offer_quick_launch_shortcuts=yes
restart=yes
create_uninstaller=yes
header_welcome=yes
background_title_bar=yes

[variables]
%DataDir%=<Windows>\RoundData

[pages]
enabled=language,welcome,licence,information,destination,shortcuts,ready,installing,finish

[languages]
offered=english,chinese
auto_select=no

[appearance]
body_font=Tahoma
body_text_color=0x112233
title_font=Courier New
title_text_color=#445566
body_color=window
band_color=0x102030
header_color=btnface
decoration_color=0xA0B0C0
gradient_top=0x0000FF
gradient_bottom=0x00FF00

[requirements]
windows=xp
directx=8.1
ie=5.5SP2
access=2000SR1
administrator=yes

[files]
source=src\*.txt
recursive=yes
overwrite=newer_or_same
compare=both
shared=yes

[files]
source=src\versioned.exe
destination=%InstallPath%\bin
compress=no

[shortcut]
path=%ShortcutsGroup%\Round.lnk
target=%InstallPath%\round.exe
arguments=-x
icon_index=2
show=3
shared=yes

[shortcut]
path=<QuickLaunch>\Round.lnk
target=%InstallPath%\round.exe

[registry]
root=HKCU
key=Software\Round
name=Path
type=expand_sz
data=<Windows>\round

[ini]
file=%InstallPath%\round.ini
section=Main
key=Level
value=3
append=yes

[program]
path=%InstallPath%\setup-helper.exe
arguments=/quiet
moment=before
wait=no

[program]
path=open
arguments=%InstallPath%\readme.txt
moment=finish
once=no
window=2

[program]
path=%InstallPath%\cleanup.exe
moment=uninstall

[dll]
path=%InstallPath%\bin\round.dll
function=DllRegisterServer
moment=installing

[association]
extension=.round
prog_id=Round.File
content_type=text/plain
description=Round file
open_command=notepad.exe "%1"
icon=%InstallPath%\round.exe
icon_index=1

[caption]
text=Round, the product
horizontal=right
vertical=bottom
x=10
y=20
size=24
weight=7
italic=yes
color=0xFFFFFF
shadow=2
shadow_color=0x000000

[texts.english]
wizard.13=Round needs %s.
page.welcome.1=Hello from {name}

[texts.chinese]
page.welcome.1=你好
)";

class BuilderRoundTrip : public testing::Test {
protected:
    void SetUp() override
    {
        ZeroRunState();
        ASSERT_TRUE(StartupStep(0));
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        folder_ = fs::path(temp) / "QuillsetBuilderRoundTrip";
        fs::remove_all(folder_);
        fs::create_directories(folder_ / "src" / "deep" / "deeper");
        Write("src/one.txt", "first file");
        Write("src/deep/two.txt", std::string(3000, 'x'));
        Write("src/deep/deeper/three.txt", "third");
        Write("src/skipped.bin", "not a text");
        fs::copy_file(FixturePath("versioned.exe"), folder_ / "src" / "versioned.exe");
        Write("licence.txt", "The licence.");
        Write("information.rtf", "{\\rtf1 Information}");
        Write("p.qset", kProject);
    }
    void TearDown() override
    {
        Cleanup();
        CreatePrivateHeap();
        fs::remove_all(folder_);
    }
    void Write(const std::string& name, const std::string& content)
    {
        std::ofstream(folder_ / name, std::ios::binary) << content;
    }
    // Builds the project and loads the package as the runtime loads its own file.
    void BuildAndLoad(uint64_t files = 4)
    {
        quillset::Project project = quillset::LoadProject((folder_ / "p.qset").string(), QUILLSET_SOURCE_TEXTS);
        quillset::Bytes runtime(4096, 0);
        runtime[0] = 'M';
        runtime[1] = 'Z';
        quillset::BuildStats stats;
        package_ = (folder_ / "setup.exe").string();
        quillset::WritePackageFile(runtime, project, package_, &stats);
        EXPECT_EQ(stats.filesIn, files);
        g_package.moduleFile = CreateFileA(package_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(g_package.moduleFile, INVALID_HANDLE_VALUE);
        ASSERT_EQ(LoadPackage(), PACKAGE_LOADED) << "the checksum verifies";
        InterpretScript(g_package.script, g_package.scriptSize);
    }
    fs::path folder_;
    std::string package_;
};

TEST_F(BuilderRoundTrip, ProductRecordsGiveNamesVariablesAppearanceAndOptions)
{
    BuildAndLoad();
    EXPECT_EQ(Str(g_product.productName), "Round");
    EXPECT_EQ(Str(g_product.productFullName), "Round Trip 2.0");
    EXPECT_EQ(Str(g_product.captionText), "Round Trip 2.0 设置 ");
    EXPECT_EQ(Str(GetVariable("%InstallPath%")),
              std::string(ListGet(g_workLists[WORK_FOLDER_MACRO_PATHS], MACRO_PROGRAM_FILES)) + "\\Round");
    EXPECT_EQ(Str(GetVariable("%UninstallerFileName%")), "remove.exe");
    EXPECT_EQ(Str(GetVariable("%ShortcutsGroup%")), "Round Group");
    EXPECT_EQ(Str(GetVariable("%DataDir%")),
              std::string(ListGet(g_workLists[WORK_FOLDER_MACRO_PATHS], MACRO_WINDOWS)) + "\\RoundData");
    EXPECT_STREQ(g_appearance.bodyFontFace, "Tahoma");
    EXPECT_EQ(g_appearance.bodyTextColor, 0x332211u) << "0xRRGGBB becomes a COLORREF";
    EXPECT_EQ(g_appearance.titleTextColor, 0x665544u);
    EXPECT_EQ(g_appearance.bodyColor, 0x02000000u);
    EXPECT_EQ(g_appearance.bandColor, 0x302010u);
    EXPECT_EQ(g_appearance.headerColor, 0x01000000u);
    EXPECT_EQ(g_appearance.decorationColor, 0xC0B0A0u);
    EXPECT_TRUE(g_appearance.backgroundEnabled);
    EXPECT_EQ(g_appearance.gradientColors[0], 0xFF0000u);
    EXPECT_EQ(g_appearance.gradientColors[1], 0x00FF00u);
    EXPECT_EQ(g_appearance.appearanceOptions, APPEARANCE_HEADER_WELCOME | APPEARANCE_BACKGROUND_CAPTION);
    EXPECT_EQ(g_product.setupOptions, SETUP_SMALL_LAYOUT | SETUP_OFFER_GROUP | SETUP_OFFER_QUICK_LAUNCH |
                                  SETUP_RESTART | SETUP_CREATE_UNINSTALLER);
    EXPECT_EQ(g_appearance.layoutOffset, 20);
    EXPECT_TRUE(g_product.createUninstaller);
    EXPECT_TRUE(g_install.restartRequired && g_install.restartNow);
    EXPECT_EQ(Str(g_wizard.launchPrograms[1]),
              std::string(ListGet(g_workLists[WORK_FOLDER_MACRO_PATHS], MACRO_WINDOWS)) + "\\notepad.exe");
    EXPECT_EQ(Str(g_wizard.launchPrograms[0]), "%InstallPath%\\round.exe");
}

TEST_F(BuilderRoundTrip, PageSwitchesLanguagesAndTextsArriveForEveryLanguage)
{
    BuildAndLoad();
    for (int slot : { SLOT_LANGUAGE, SLOT_WELCOME, SLOT_LICENCE, SLOT_INFORMATION, SLOT_DESTINATION, SLOT_SHORTCUTS,
                      SLOT_READY, SLOT_INSTALLING, SLOT_FINISH }) {
        EXPECT_TRUE(g_pages[slot].enabled) << slot;
        EXPECT_EQ(g_pages[slot].dialogId, IDD_LANGUAGE + slot + LAYOUT_SMALL_OFFSET) << slot;
    }
    for (int slot : { 4, 5, 7, (int)SLOT_UNINSTALLER })
        EXPECT_FALSE(g_pages[slot].enabled) << slot;
    EXPECT_EQ(Items(g_product.languageList), (std::vector<std::string>{ "9", "4" }));
    EXPECT_EQ(g_product.languageId, 9) << "no automatic choice: the first listed";
    EXPECT_EQ(Str(GetText(g_product.textsWizard, WIZARD_NEEDS_RELEASE)), "Round needs %s.");
    EXPECT_EQ(Str(GetText(g_pages[SLOT_WELCOME].texts, 1)), "Hello from Round");
    EXPECT_EQ(Str(GetText(g_product.textsExtra, BUTTON_TEXT_NEXT)), "&Next >");
    EXPECT_EQ(Str(GetText(g_pages[SLOT_FINISH].texts, PAGE_TEXT_TITLE)), "Round Trip 2.0 Setup");
    g_product.languageId = 4;
    EXPECT_EQ(Str(GetText(g_pages[SLOT_WELCOME].texts, 1)), "你好");
    EXPECT_EQ(Str(GetText(g_product.textsExtra, BUTTON_TEXT_CANCEL)), "取消");
}

TEST_F(BuilderRoundTrip, DocumentsAndRequirementsArriveAsWritten)
{
    BuildAndLoad();
    EXPECT_EQ(Str(g_product.licenceText), "The licence.");
    EXPECT_EQ(Str(g_product.infoText), "{\\rtf1 Information}");
    EXPECT_EQ(Str(g_requirements.required[REQUIRED_WINDOWS]), "XP");
    EXPECT_EQ(Str(g_requirements.required[REQUIRED_DIRECTX]), "8.1");
    EXPECT_EQ(Str(g_requirements.required[REQUIRED_IE]), "5.5SP2");
    EXPECT_EQ(Str(g_requirements.required[REQUIRED_ACCESS]), "2000SR1");
    EXPECT_TRUE(g_requirements.requireAdministrator);
}

TEST_F(BuilderRoundTrip, ListRecordsArriveInTheirLists)
{
    BuildAndLoad();
    EXPECT_EQ(Items(g_workLists[WORK_SHORTCUTS]),
              (std::vector<std::string>{ "%ShortcutsGroup%\\Round.lnk,%InstallPath%\\round.exe,-x,,,2,3,,1",
                                         "<QuickLaunch>\\Round.lnk,%InstallPath%\\round.exe,,,,,,,0" }));
    EXPECT_TRUE(g_wizard.groupShortcutsPresent && g_wizard.quickLaunchShortcutsPresent);
    EXPECT_FALSE(g_wizard.desktopShortcutsPresent);
    std::string windows = ListGet(g_workLists[WORK_FOLDER_MACRO_PATHS], MACRO_WINDOWS);
    EXPECT_EQ(Items(g_workLists[WORK_REGISTRY_VALUES]),
              (std::vector<std::string>{ "1,Software\\Round,Path,2," + windows + "\\round" }));
    EXPECT_EQ(Items(g_workLists[WORK_INI_ENTRIES]), (std::vector<std::string>{ "%InstallPath%\\round.ini,Main,Level,3,1" }));
    EXPECT_EQ(Items(g_workLists[WORK_BEFORE_PROGRAMS]), (std::vector<std::string>{ "%InstallPath%\\setup-helper.exe,/quiet,,0,1,0" }));
    EXPECT_EQ(Items(g_pages[SLOT_FINISH].programs), (std::vector<std::string>{ "open,%InstallPath%\\readme.txt,,1,0,2" }));
    EXPECT_EQ(Items(g_workLists[WORK_UNINSTALL_PROGRAMS]), (std::vector<std::string>{ "%InstallPath%\\cleanup.exe,,,1,1,0" }));
    EXPECT_EQ(Items(g_pages[SLOT_INSTALLING].dllCalls),
              (std::vector<std::string>{ "%InstallPath%\\bin\\round.dll,DllRegisterServer,,,1" }));
    EXPECT_EQ(Items(g_workLists[WORK_ASSOCIATIONS]),
              (std::vector<std::string>{ ".round,Round.File,text/plain,Round file,,notepad.exe \"%1\","
                                         "%InstallPath%\\round.exe,1" }));
    EXPECT_EQ(Items(g_workLists[WORK_BACKGROUND_CAPTIONS]),
              (std::vector<std::string>{ "\"Round, the product\",right,bottom,10,20,,24,,7,1,0,0xFFFFFF,2,0x000000" }));
}

// A product named in Chinese by a project of a few lines: the runtime finds
// the name in the texts of both languages, the English ones included, in
// code page 936 (this file's strings are code page 936 too).
TEST_F(BuilderRoundTrip, ChineseProductNameReachesBothLanguagesTexts)
{
    Write("p.qset", u8"[product]\nname=中文软件\n\n[languages]\noffered=english,chinese\nauto_select=no\n");
    BuildAndLoad(0);
    EXPECT_EQ(Str(g_product.productName), "中文软件");
    EXPECT_EQ(Str(g_product.captionText), "中文软件 设置 ");
    EXPECT_EQ(Str(GetVariable("%InstallPath%")), std::string(ListGet(g_workLists[WORK_FOLDER_MACRO_PATHS], MACRO_PROGRAM_FILES)) + "\\中文软件");
    EXPECT_EQ(g_product.languageId, 9);
    EXPECT_EQ(Str(GetText(g_pages[SLOT_WELCOME].texts, 1)), "Welcome to the 中文软件 Setup");
    EXPECT_EQ(Str(GetText(g_pages[11].texts, 2)), "中文软件 has been installed on your computer.");
    EXPECT_NE(Str(GetText(g_product.textsWizard, 0)).find("中文软件 will not be installed"), std::string::npos);
    g_product.languageId = 4;
    EXPECT_EQ(Str(GetText(g_pages[SLOT_WELCOME].texts, 1)), "欢迎使用 中文软件 安装程序");
    EXPECT_EQ(Str(GetText(g_pages[11].texts, 2)), "中文软件 已经安装到您的计算机中。");
}

// The package's entries, the contents of compressed files as the runtime's
// InflateStream gives them.
std::vector<quillset::ReadEntry> EntriesAsTheWorkerReadsThem(const quillset::Bytes& b)
{
    std::vector<quillset::ReadEntry> entries = quillset::ReadPackage(b).entries;
    for (quillset::ReadEntry& e : entries) {
        if (!(e.flags & ENTRY_COMPRESSED))
            continue;
        e.content.assign(e.size, 0);
        EXPECT_EQ(InflateStream(&b[e.dataAt], e.stored, e.content.data(), e.size, nullptr, 0), (int)e.size) << e.name;
    }
    return entries;
}

std::string Text(const quillset::Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// The file groups, walked as the install worker walks them: names, depths,
// rules, versions and contents inflated by the runtime's InflateStream.
TEST_F(BuilderRoundTrip, FileGroupsHoldTheSourcesAsTheWorkerReadsThem)
{
    BuildAndLoad();
    EXPECT_EQ(g_package.header.dataOffset, 12u);
    EXPECT_EQ(g_package.header.unpackedTotal, 10u + 3000 + 5 + fs::file_size(folder_ / "src" / "versioned.exe"));
    std::vector<quillset::ReadEntry> seen = EntriesAsTheWorkerReadsThem(quillset::ReadFileOf(package_));
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_EQ(seen[0].name, "one.txt");
    EXPECT_EQ(Text(seen[0].content), "first file");
    EXPECT_EQ(seen[0].depth, 0u);
    EXPECT_EQ(seen[0].rule, 2u);
    EXPECT_EQ(seen[0].mode, 2u);
    EXPECT_EQ(seen[0].shared, 1u);
    EXPECT_EQ(seen[1].name, "deep");
    EXPECT_EQ(seen[1].flags, 0u) << "a directory";
    EXPECT_EQ(seen[2].name, "two.txt");
    EXPECT_EQ(seen[2].depth, 1u);
    EXPECT_EQ(seen[2].flags, 3u) << "compressed";
    EXPECT_EQ(Text(seen[2].content), std::string(3000, 'x'));
    EXPECT_EQ(seen[3].name, "deeper");
    EXPECT_EQ(seen[3].depth, 1u);
    EXPECT_EQ(seen[4].name, "three.txt");
    EXPECT_EQ(seen[4].depth, 2u);
    EXPECT_EQ(seen[5].destination, "%InstallPath%\\bin");
    EXPECT_EQ(seen[5].name, "versioned.exe");
    EXPECT_EQ(seen[5].flags, 1u) << "compress=no stores it";
    EXPECT_EQ(seen[5].versionMS, 8u << 16);
    EXPECT_EQ(seen[5].versionLS, 4506u);
    EXPECT_EQ(seen[5].content, quillset::ReadFileOf((folder_ / "src" / "versioned.exe").string()));
}

// A file larger than the builder's compression piece (1 MiB) is one stream
// of several pieces: the runtime's InflateStream reads it whole.
TEST_F(BuilderRoundTrip, FileOfSeveralPiecesInflatesWhole)
{
    std::string text;
    for (int i = 0; text.size() < 2600000; i++)
        text += "line " + std::to_string(i * 7919 % 100003) + " of a long file\n";
    Write("src/long.txt", text);
    Write("p.qset", "[product]\nname=Pieces\n[files]\nsource=src\\long.txt\n");
    BuildAndLoad(1);
    std::vector<quillset::ReadEntry> seen = EntriesAsTheWorkerReadsThem(quillset::ReadFileOf(package_));
    ASSERT_EQ(seen.size(), 1u);
    ASSERT_EQ(seen[0].name, "long.txt");
    ASSERT_EQ(seen[0].flags, 3) << "compressed";
    ASSERT_EQ(seen[0].size, text.size());
    EXPECT_TRUE(Text(seen[0].content) == text);
}

}  // namespace
