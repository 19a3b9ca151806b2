// The script's reader and the text routines: records into the run state,
// text tables, variables, FolderMacros, SplitCsv, and untrusted scripts.
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>
#include "unit_helpers.h"
#include "script/script.h"
#include "startup/startup.h"
#include "run_state_test.h"
#include "package_writer.h"

namespace {

using quillset::Bytes;
using quillset::ScriptWriter;

class Script : public RunStateTest {
protected:
    void Run(const ScriptWriter& script)
    {
        Bytes bytes = script.finish();
        InterpretScript(bytes.data(), (DWORD)bytes.size());
    }
    static std::vector<std::string> Fields()
    {
        std::vector<std::string> fields;
        for (int i = 0; i < ListCount(g_app.csvFields); i++)
            fields.push_back(Str(ListGet(g_app.csvFields, i)));
        return fields;
    }
};

Bytes LanguagesPayload(uint8_t automatic, std::initializer_list<uint16_t> ids)
{
    Bytes p{ automatic };
    for (uint16_t id : ids)
        ScriptWriter::putU16(p, id);
    return p;
}

struct Product {
    std::string name = "Demo", fullName = "Demo 1.0", bodyFont = ",0x102030", titleFont = "Tahoma,0";
    uint32_t body = 0x01000000, band = 0x02000000, header = 0x00FFFFFF;
    uint8_t appearanceOptions = 0, setupOptions = 0;
    std::string registry = "HKCU,Software\\QuillsetNone,Path", launch1, launch2;
};

Bytes ProductPayload(const Product& product)
{
    Bytes p;
    ScriptWriter::putString(p, product.name);
    ScriptWriter::putString(p, product.fullName);
    ScriptWriter::putString(p, product.bodyFont);
    ScriptWriter::putU32(p, product.body);
    ScriptWriter::putU32(p, product.band);
    ScriptWriter::putString(p, product.titleFont);
    ScriptWriter::putU32(p, product.header);
    p.push_back(product.appearanceOptions);
    ScriptWriter::putString(p, product.registry);
    ScriptWriter::putString(p, product.launch1);
    ScriptWriter::putString(p, product.launch2);
    p.push_back(product.setupOptions);
    return p;
}

// SplitCsv ---------------------------------------------------------------

TEST_F(Script, SplitCsvPlainKeepsEmptyFieldsAndPadsToFifteen)
{
    SplitCsv("a,,c", FALSE);
    std::vector<std::string> expected(15, "");
    expected[0] = "a";
    expected[2] = "c";
    EXPECT_EQ(Fields(), expected);

    std::string line;
    for (int i = 0; i <= 20; i++)
        line += std::to_string(i) + (i < 20 ? "," : "");
    SplitCsv(line.c_str(), FALSE);
    auto fields = Fields();
    ASSERT_EQ(fields.size(), 15u);
    EXPECT_EQ(fields[14], "14");   // 15 to 20 are dropped

    SplitCsv(" \"x\" ,y", FALSE);  // neither trimmed nor unquoted
    EXPECT_EQ(Fields()[0], " \"x\" ");
    SplitCsv("a,b", FALSE);        // a shorter line clears what a longer one left
    EXPECT_EQ(Fields()[2], "");
}

TEST_F(Script, SplitCsvQuoted)
{
    SplitCsv("no quotes, at all", TRUE);
    EXPECT_EQ(Fields(), std::vector<std::string>(15, ""));

    SplitCsv("\"Hello, world, again\",right,bottom,10", TRUE);
    auto fields = Fields();
    EXPECT_EQ(fields[0], "Hello, world, again");
    EXPECT_EQ(fields[1], "right");
    EXPECT_EQ(fields[3], "10");
    EXPECT_EQ(fields[4], "");

    SplitCsv("\"unclosed, text", TRUE);
    EXPECT_EQ(Fields()[0], "unclosed, text");
    EXPECT_EQ(Fields()[1], "");

    SplitCsv("\"no comma after\" tail", TRUE);
    EXPECT_EQ(Fields()[0], "no comma after");
    EXPECT_EQ(Fields()[1], "");
}

// Variables ----------------------------------------------------------------

TEST_F(Script, SetVariableReplacesInPlaceAndKeepsOrder)
{
    SetVariable("%A%", "1");
    SetVariable("%B%", "2");
    SetVariable("%a%", "3");
    EXPECT_EQ(ListCount(g_workLists[WORK_VARIABLE_NAMES]), 2);
    EXPECT_STREQ(ListGet(g_workLists[WORK_VARIABLE_NAMES], 0), "%A%");
    EXPECT_STREQ(GetVariable("%A%"), "3");
    EXPECT_STREQ(GetVariable("%B%"), "2");
    EXPECT_EQ(GetVariable("%C%"), nullptr);
}

TEST_F(Script, ExpandVariablesIgnoresCaseAndLeavesUnknownTokens)
{
    SetVariable("%InstallPath%", "C:\\Demo");
    EXPECT_EQ(Take(ExpandVariables("%installpath%\\bin;%NAME%")), "C:\\Demo\\bin;%NAME%");
}

TEST_F(Script, ExpandVariablesFollowsLaterDefinitionsOnly)
{
    SetVariable("%Early%", "e");
    SetVariable("%Mid%", "[%Late%|%Early%]");
    SetVariable("%Late%", "l");
    EXPECT_EQ(Take(ExpandVariables("%Mid%")), "[l|%Early%]");
}

TEST_F(Script, ExpandVariablesEndsForSelfAndMutualReferences)
{
    SetVariable("%Self%", "x%Self%y");
    SetVariable("%P%", "%Q%");
    SetVariable("%Q%", "%P%");
    EXPECT_EQ(Take(ExpandVariables("%Self%")), "x%Self%y");
    EXPECT_EQ(Take(ExpandVariables("%P%")), "%P%");
}

// FolderMacros -------------------------------------------------------------

TEST_F(Script, ExpandFolderMacros)
{
    ListSetAt(g_workLists[WORK_FOLDER_MACRO_PATHS], 9, "C:\\Users\\me\\Desktop");
    ListSetAt(g_workLists[WORK_FOLDER_MACRO_PATHS], 16, nullptr);
    ListSetAt(g_workLists[WORK_FOLDER_MACRO_PATHS], 23, "C:\\T\\<Temp>");
    EXPECT_EQ(Take(ExpandFolderMacros("<desktop>\\a.lnk")), "C:\\Users\\me\\Desktop\\a.lnk");
    EXPECT_EQ(Take(ExpandFolderMacros("<ProgramFiles>\\Demo")), "\\Demo");
    EXPECT_EQ(Take(ExpandFolderMacros("<Temp>")), "C:\\T\\<Temp>");
    EXPECT_EQ(Take(ExpandFolderMacros("<Unknown>")), "<Unknown>");
}

TEST(FolderMacroTable, ThirtyFiveTokensInOrder)
{
    std::vector<std::string> tokens;
    for (const char* t = kFolderMacroTokens; *t; t += strlen(t) + 1)
        tokens.push_back(t);
    ASSERT_EQ(tokens.size(), 35u);
    EXPECT_EQ(tokens[0], "<AppData>");
    EXPECT_EQ(tokens[9], "<Desktop>");
    EXPECT_EQ(tokens[23], "<Temp>");
    EXPECT_EQ(tokens[34], "<Video>");
}

// Text tables ----------------------------------------------------------------

TEST_F(Script, TextsByLanguageNeverFallBack)
{
    ScriptWriter s;
    s.record(RECORD_LANGUAGES, LanguagesPayload(0, { 4, 9, 7 }));
    s.record(RECORD_TEXT, ScriptWriter::textPayload(4, TEXT_GROUP_WIZARD, 2, "中文"));
    s.record(RECORD_TEXT, ScriptWriter::textPayload(9, TEXT_GROUP_WIZARD, 2, "English"));
    s.record(RECORD_TEXT, ScriptWriter::textPayload(9, TEXT_GROUP_MESSAGES, 5, "message"));
    s.record(RECORD_TEXT, ScriptWriter::textPayload(9, TEXT_GROUP_EXTRA, 1, "extra"));
    Run(s);
    EXPECT_EQ(g_product.languageId, 4);
    EXPECT_EQ(Str(GetText(g_product.textsWizard, 2)), "中文");
    EXPECT_EQ(GetText(g_product.textsWizard, 3), nullptr);
    g_product.languageId = 9;
    EXPECT_EQ(Str(GetText(g_product.textsMessages, 5)), "message");
    EXPECT_EQ(Str(GetText(g_product.textsExtra, 1)), "extra");
    EXPECT_EQ(GetText(g_product.textsWizard, 1), nullptr);   // beyond the set index: gap
    g_product.languageId = 7;
    EXPECT_EQ(GetText(g_product.textsWizard, 2), nullptr);
    EXPECT_EQ(ListCount(g_product.languageList), 3);
    EXPECT_STREQ(ListGet(g_product.languageList, 1), "9");
}

TEST_F(Script, WizardTextsStayUnexpandedPageTextsGetFolderMacros)
{
    ListSetAt(g_workLists[WORK_FOLDER_MACRO_PATHS], 16, "C:\\Program Files");
    ScriptWriter s;
    s.record(RECORD_TEXT, ScriptWriter::textPayload(9, TEXT_GROUP_WIZARD, 0, "%InstallPath% <ProgramFiles>"));
    s.record(RECORD_TEXT, ScriptWriter::textPayload(9, 3, 1, "<ProgramFiles>\\Demo %InstallPath%"));
    s.record(RECORD_TEXT, ScriptWriter::textPayload(9, 12, 9, "uninstaller"));
    Run(s);
    EXPECT_EQ(Str(GetText(g_product.textsWizard, 0)), "%InstallPath% <ProgramFiles>");
    EXPECT_EQ(Str(GetText(g_pages[3].texts, 1)), "C:\\Program Files\\Demo %InstallPath%");
    EXPECT_EQ(Str(GetText(g_pages[12].texts, 9)), "uninstaller");
}

TEST_F(Script, LanguageChoice)
{
    WORD user = LOBYTE(GetUserDefaultLangID());
    WORD other = user == 7 ? 8 : 7;
    {
        ScriptWriter s;
        s.record(RECORD_LANGUAGES, LanguagesPayload(1, { other, (uint16_t)(9 == user ? 10 : 9) }));
        Run(s);
        EXPECT_EQ(g_product.languageId, other);   // user's language not listed: the first
    }
    TearDown();
    SetUp();
    {
        ScriptWriter s;
        s.record(RECORD_LANGUAGES, LanguagesPayload(1, { other, user }));
        Run(s);
        EXPECT_EQ(g_product.languageId, user);
    }
    TearDown();
    SetUp();
    {
        ScriptWriter s;
        s.record(RECORD_LANGUAGES, LanguagesPayload(0, { other, user }));
        Run(s);
        EXPECT_EQ(g_product.languageId, other);   // no automatic choice
    }
}

// Records ----------------------------------------------------------------------

TEST_F(Script, UnknownTypesAreSkippedByTheirLength)
{
    ScriptWriter s;
    s.record(0, Bytes{ 1, 2, 3, 4, 5 });
    s.record(99, Bytes{ 0xFF, 0xFF, 0xFF, 0xFF, 0 });
    s.record(-7, Bytes{});
    s.record(RECORD_VARIABLE, { "%After%", "yes" });
    Run(s);
    EXPECT_STREQ(GetVariable("%After%"), "yes");
}

TEST_F(Script, VariablesGetFolderMacrosAndTheFirstOfANameWins)
{
    ListSetAt(g_workLists[WORK_FOLDER_MACRO_PATHS], 16, "C:\\PF");
    ScriptWriter s;
    s.record(RECORD_VARIABLE, { "%InstallPath%", "<ProgramFiles>\\Demo" });
    s.record(RECORD_VARIABLE, { "%InstallPath%", "ignored" });
    Run(s);
    EXPECT_STREQ(GetVariable("%INSTALLPATH%"), "C:\\PF\\Demo");
    EXPECT_EQ(ListCount(g_workLists[WORK_VARIABLE_NAMES]), 2);
}

TEST_F(Script, PageSwitchesAfterTheLayout)
{
    Product small;
    small.setupOptions = SETUP_SMALL_LAYOUT;
    ScriptWriter s;
    s.record(RECORD_PRODUCT, ProductPayload(small));
    s.record(RECORD_PAGE_SWITCHES, Bytes{ 1, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF });
    Run(s);
    EXPECT_TRUE(g_pages[0].enabled);
    EXPECT_FALSE(g_pages[1].enabled);
    EXPECT_TRUE(g_pages[2].enabled);
    EXPECT_TRUE(g_pages[11].enabled);
    EXPECT_EQ(g_pages[2].dialogId, 129 + 2 + 20);
    EXPECT_EQ(g_pages[11].dialogId, 129 + 11 + 20);
}

TEST_F(Script, ProductRecord)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\QuillsetScriptTest", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr), ERROR_SUCCESS);
    RegSetValueExA(key, "Path", 0, REG_SZ, (const BYTE*)"D:\\Old", 7);
    RegCloseKey(key);
    ListSetAt(g_workLists[WORK_FOLDER_MACRO_PATHS], 16, "C:\\PF");

    Product product;
    product.bodyFont = ",0x102030";
    product.titleFont = "No Such Face Anywhere,255";
    product.registry = "hkcu,\\Software\\QuillsetScriptTest,Path";
    product.launch1 = "<ProgramFiles>\\Demo\\demo.exe";
    product.appearanceOptions = 3;
    product.setupOptions = SETUP_RESTART | SETUP_CREATE_UNINSTALLER | SETUP_OFFER_GROUP;
    ScriptWriter s;
    s.record(RECORD_VARIABLE, { "%InstallPath%", "C:\\Default" });
    s.record(RECORD_PRODUCT, ProductPayload(product));
    Run(s);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\QuillsetScriptTest");

    EXPECT_EQ(Str(g_product.productName), "Demo");
    EXPECT_EQ(Str(g_product.captionText), "Demo 1.0 设置 ");
    EXPECT_STREQ(g_appearance.bodyFontFace, "Tahoma");
    EXPECT_EQ(g_appearance.bodyTextColor, RGB(0x10, 0x20, 0x30));
    EXPECT_STREQ(g_appearance.titleFontFace, "MS Sans Serif");
    EXPECT_EQ(g_appearance.titleTextColor, RGB(0, 0, 0xFF));
    EXPECT_EQ(g_appearance.bodyColor, 0x01000000u);
    EXPECT_EQ(g_appearance.bandColor, 0x02000000u);
    EXPECT_EQ(g_appearance.headerColor, 0x00FFFFFFu);
    EXPECT_EQ(g_appearance.appearanceOptions, 3);
    EXPECT_STREQ(GetVariable("%InstallPath%"), "D:\\Old");
    EXPECT_EQ(Str(g_wizard.launchPrograms[0]), "C:\\PF\\Demo\\demo.exe");
    EXPECT_EQ(g_wizard.launchPrograms[1], nullptr);
    EXPECT_EQ(g_appearance.layoutOffset, 0);
    EXPECT_TRUE(g_install.restartRequired && g_install.restartNow && g_product.createUninstaller);
}

TEST_F(Script, InstalledFaceIsKept)
{
    ASSERT_TRUE(FontInstalled("Tahoma"));
    EXPECT_FALSE(FontInstalled("No Such Face Anywhere"));
    Product product;
    product.bodyFont = "tahoma,0";
    ScriptWriter s;
    s.record(RECORD_PRODUCT, ProductPayload(product));
    Run(s);
    EXPECT_STREQ(g_appearance.bodyFontFace, "tahoma");
}

TEST_F(Script, ShortcutKindsAreNoted)
{
    ScriptWriter s;
    s.record(RECORD_SHORTCUT, { "<PROGRAMS>\\%shortcutsgroup%\\Demo.lnk,%InstallPath%\\demo.exe" });
    s.record(RECORD_SHORTCUT, { "<commondesktop>\\Demo.lnk,x" });
    Run(s);
    EXPECT_EQ(ListCount(g_workLists[WORK_SHORTCUTS]), 2);
    EXPECT_EQ(Str(ListGet(g_workLists[WORK_SHORTCUTS], 0)), "<PROGRAMS>\\%shortcutsgroup%\\Demo.lnk,%InstallPath%\\demo.exe");
    EXPECT_TRUE(g_wizard.groupShortcutsPresent && g_wizard.createProgramGroup);
    EXPECT_TRUE(g_wizard.desktopShortcutsPresent && g_wizard.createDesktopShortcuts);
    EXPECT_FALSE(g_wizard.quickLaunchShortcutsPresent || g_wizard.createQuickLaunchShortcuts);
}

TEST_F(Script, ProgramMomentsFileTheLineWithoutItsMoment)
{
    ListSetAt(g_workLists[WORK_FOLDER_MACRO_PATHS], 22, "C:\\Windows\\System32");
    ScriptWriter s;
    s.record(RECORD_PROGRAM, { "<System>\\a.exe,-x,,3,0,1,2" });
    s.record(RECORD_PROGRAM, { "b.exe,,,,1" });
    s.record(RECORD_PROGRAM, { "c.exe,,,0" });
    s.record(RECORD_PROGRAM, { "d.exe,,,-1" });
    s.record(RECORD_PROGRAM, { "e.exe,,,13" });
    s.record(RECORD_PROGRAM, { "f.exe,,,-2" });
    s.record(RECORD_DLL_CALL, { "g.dll,DllRegisterServer,,,12,1" });
    s.record(RECORD_DLL_CALL, { "h.dll,Run,p,q" });
    s.record(RECORD_DLL_CALL, { "i.dll,Run,,,-1" });
    Run(s);
    EXPECT_EQ(Str(ListGet(g_pages[2].programs, 0)), "C:\\Windows\\System32\\a.exe,-x,,0,1,2");
    EXPECT_EQ(Str(ListGet(g_pages[10].programs, 0)), "b.exe,,,1,,");
    EXPECT_EQ(Str(ListGet(g_workLists[WORK_BEFORE_PROGRAMS], 0)), "c.exe,,,,,");
    EXPECT_EQ(Str(ListGet(g_workLists[WORK_UNINSTALL_PROGRAMS], 0)), "d.exe,,,,,");
    int filed = 0;
    for (int p = 0; p < PAGE_COUNT; p++)
        filed += ListCount(g_pages[p].programs);
    EXPECT_EQ(filed, 2);   // moments 13 and -2 are dropped
    EXPECT_EQ(Str(ListGet(g_pages[11].dllCalls, 0)), "g.dll,DllRegisterServer,,,1");
    EXPECT_EQ(Str(ListGet(g_pages[10].dllCalls, 0)), "h.dll,Run,p,q,");
    EXPECT_EQ(Str(ListGet(g_workLists[WORK_UNINSTALL_DLL_CALLS], 0)), "i.dll,Run,,,");
}

TEST_F(Script, ListsAndSettings)
{
    ListSetAt(g_workLists[WORK_FOLDER_MACRO_PATHS], 25, "C:\\Windows");
    ScriptWriter s;
    s.record(RECORD_REGISTRY_VALUE, { "2,Software\\Demo,Path,1,<Windows>" });
    s.record(RECORD_INI_ENTRY, { "<Windows>\\demo.ini,Main,Key,Value,0" });
    s.record(RECORD_ASSOCIATION, { ".dmo,Demo.File,,Demo file,,<Windows>\\x.exe \"%1\",," });
    s.record(RECORD_BACKGROUND_CAPTION, { "\"<Windows>\",right,bottom,10,10" });
    s.record(RECORD_REQUIREMENTS, { "XP", "9.0", "6.0", "2000" });
    s.record(RECORD_BACKGROUND, Bytes{ 0x33, 0x22, 0x11, 0x00, 0xCC, 0xBB, 0xAA, 0x00 });
    Run(s);
    EXPECT_EQ(Str(ListGet(g_workLists[WORK_REGISTRY_VALUES], 0)), "2,Software\\Demo,Path,1,C:\\Windows");
    EXPECT_EQ(Str(ListGet(g_workLists[WORK_INI_ENTRIES], 0)), "C:\\Windows\\demo.ini,Main,Key,Value,0");
    EXPECT_EQ(Str(ListGet(g_workLists[WORK_ASSOCIATIONS], 0)), ".dmo,Demo.File,,Demo file,,C:\\Windows\\x.exe \"%1\",,");
    EXPECT_EQ(Str(ListGet(g_workLists[WORK_BACKGROUND_CAPTIONS], 0)), "\"C:\\Windows\",right,bottom,10,10");
    EXPECT_EQ(Str(g_requirements.required[REQUIRED_WINDOWS]), "XP");
    EXPECT_EQ(Str(g_requirements.required[REQUIRED_ACCESS]), "2000");
    EXPECT_FALSE(g_requirements.requireAdministrator);   // record 16 above has no u8: malformed, stops here
    EXPECT_FALSE(g_appearance.backgroundEnabled);
}

TEST_F(Script, SettingRecords)
{
    ScriptWriter s;
    Bytes requirements;
    for (const char* field : { "NT", "", "5.5SP2", "" })
        ScriptWriter::putString(requirements, field);
    requirements.push_back(1);
    s.record(RECORD_REQUIREMENTS, requirements);
    s.record(RECORD_BACKGROUND, Bytes{ 0x33, 0x22, 0x11, 0x00, 0xCC, 0xBB, 0xAA, 0x00, 0x99 });
    s.record(RECORD_DECORATION_COLOR, Bytes{ 0x01, 0x02, 0x03, 0x00 });
    s.record(RECORD_LICENCE_TEXT, { "licence" });
    s.record(RECORD_LICENCE_TEXT, { "licence 2" });
    s.record(RECORD_INFO_TEXT, { "{\\rtf1 info}" });
    Run(s);
    EXPECT_EQ(Str(g_requirements.required[REQUIRED_WINDOWS]), "NT");
    EXPECT_EQ(Str(g_requirements.required[REQUIRED_IE]), "5.5SP2");
    EXPECT_TRUE(g_requirements.requireAdministrator);
    EXPECT_TRUE(g_appearance.backgroundEnabled);
    EXPECT_EQ(g_appearance.gradientColors[0], RGB(0x11, 0x22, 0x33));
    EXPECT_EQ(g_appearance.gradientColors[1], RGB(0xAA, 0xBB, 0xCC));
    EXPECT_EQ(g_appearance.decorationColor, 0x00030201u);
    EXPECT_EQ(Str(g_product.licenceText), "licence 2");
    EXPECT_EQ(Str(g_product.infoText), "{\\rtf1 info}");
}

TEST_F(Script, DecorationColourDefault)
{
    EXPECT_EQ(g_appearance.decorationColor, 0x00C88C00u);
}

// Malformed scripts ------------------------------------------------------------------

TEST_F(Script, MalformedRecordsStopTheWalk)
{
    struct Case {
        const char* what;
        int type;
        Bytes payload;
    };
    const Case cases[] = {
        { "language id 98", 5, ScriptWriter::textPayload(98, TEXT_GROUP_WIZARD, 0, "x") },
        { "group 13", 5, ScriptWriter::textPayload(9, 13, 0, "x") },
        { "group 0x61", 5, ScriptWriter::textPayload(9, 0x61, 0, "x") },
        { "short page switches", 2, Bytes{ 1, 1, 1 } },
        { "even languages record", 6, Bytes{ 0, 9, 0, 4 } },
        { "language list id 200", 6, LanguagesPayload(0, { 200 }) },
        { "string without NUL", 3, Bytes{ 'a', 'b' } },
        { "variable without value", 1, Bytes{ '%', 'A', '%', 0 } },
        { "short gradient", 7, Bytes{ 1, 2, 3, 4, 5 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        ScriptWriter s;
        s.record(c.type, c.payload);
        s.record(RECORD_VARIABLE, { "%After%", "read" });
        Run(s);
        EXPECT_EQ(GetVariable("%After%"), nullptr);
        EXPECT_FALSE(g_pages[0].enabled);
        EXPECT_EQ(ListCount(g_product.languageList), 0);
        EXPECT_FALSE(g_appearance.backgroundEnabled);
    }
}

TEST_F(Script, TruncatedScriptsAndMissingTerminator)
{
    ScriptWriter s;
    s.record(RECORD_VARIABLE, { "%A%", "1" });
    s.record(RECORD_VARIABLE, { "%B%", "2" });
    Bytes bytes = s.finish();
    bytes.resize(bytes.size() - 4);   // no terminator
    InterpretScript(bytes.data(), (DWORD)bytes.size());
    EXPECT_STREQ(GetVariable("%B%"), "2");
    TearDown();
    SetUp();
    bytes.resize(bytes.size() - 1);   // the second record runs past the end
    InterpretScript(bytes.data(), (DWORD)bytes.size());
    EXPECT_STREQ(GetVariable("%A%"), "1");
    EXPECT_EQ(GetVariable("%B%"), nullptr);
    InterpretScript(nullptr, 100);
    InterpretScript(bytes.data(), 3);
}

// Untrusted scripts against a guard page: a read past the end faults.
class GuardedBuffer {
public:
    GuardedBuffer()
    {
        base_ = (BYTE*)VirtualAlloc(nullptr, 2 * kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        DWORD old;
        VirtualProtect(base_ + kPage, kPage, PAGE_NOACCESS, &old);
    }
    ~GuardedBuffer() { VirtualFree(base_, 0, MEM_RELEASE); }
    // Places DATA so that its last byte is the last byte before the guard page.
    const BYTE* Place(const Bytes& data)
    {
        size_t n = data.size() < kPage ? data.size() : kPage;
        BYTE* at = base_ + kPage - n;
        memcpy(at, data.data(), n);
        return at;
    }
    static constexpr size_t kPage = 4096;
private:
    BYTE* base_;
};

Bytes SampleScript()
{
    ScriptWriter s;
    s.record(RECORD_VARIABLE, { "%InstallPath%", "<ProgramFiles>\\Demo" });
    Product product;
    s.record(RECORD_PRODUCT, ProductPayload(product));
    s.record(RECORD_PAGE_SWITCHES, Bytes(12, 1));
    s.record(RECORD_LANGUAGES, LanguagesPayload(1, { 4, 9 }));
    s.record(RECORD_TEXT, ScriptWriter::textPayload(4, TEXT_GROUP_WIZARD, 1, "文本 %s"));
    s.record(RECORD_TEXT, ScriptWriter::textPayload(9, 5, 3, "<Desktop> text"));
    s.record(RECORD_LICENCE_TEXT, { "licence" });
    s.record(RECORD_SHORTCUT, { "<Desktop>\\a.lnk,%InstallPath%\\a.exe" });
    s.record(RECORD_PROGRAM, { "a.exe,,,2" });
    s.record(RECORD_DLL_CALL, { "b.dll,F,x,y,0" });
    s.record(RECORD_REQUIREMENTS, Bytes{ 'X', 'P', 0, 0, 0, 0, 1 });
    s.record(RECORD_BACKGROUND_CAPTION, { "\"t\",right" });
    s.record(RECORD_BACKGROUND, Bytes{ 1, 2, 3, 0, 4, 5, 6, 0 });
    return s.finish();
}

TEST_F(Script, TenThousandMutatedScriptsNeitherCrashNorReadPastTheEnd)
{
    GuardedBuffer guard;
    const Bytes sample = SampleScript();
    std::mt19937 random(20261207);
    for (int round = 0; round < 10000; round++) {
        Bytes script = sample;
        switch (round % 4) {
        case 0:   // bit flips
            for (int k = 1 + random() % 8; k--;)
                script[random() % script.size()] ^= 1 << (random() % 8);
            break;
        case 1:   // truncation
            script.resize(random() % script.size());
            break;
        case 2: { // a length field made random
            size_t at = 4 + (random() % (script.size() / 4)) * 4;
            if (at + 4 <= script.size())
                for (int b = 0; b < 4; b++)
                    script[at + b] = (BYTE)random();
            break;
        }
        default:  // random records of random types and lengths
            script.clear();
            for (int r = random() % 6; r--;) {
                int type = (int)(random() % 20) - 1;
                uint32_t length = random() % 40;
                Bytes record;
                ScriptWriter::putU32(record, type);
                ScriptWriter::putU32(record, random() % 8 ? length : (uint32_t)random());
                for (uint32_t i = 0; i < length; i++)
                    record.push_back(random() % 3 ? (BYTE)random() : 0);
                script.insert(script.end(), record.begin(), record.end());
            }
            break;
        }
        if (round % 500 == 0) {
            // The run state grows with every script; start afresh now and then.
            TearDown();
            SetUp();
        }
        InterpretScript(guard.Place(script), (DWORD)std::min(script.size(), GuardedBuffer::kPage));
        ASSERT_LT(g_product.languageId, LANGUAGE_COUNT);
    }
}

}  // namespace
