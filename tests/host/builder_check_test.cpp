// quillset-build's checks of what a project says and what it names: product
// names and texts in the package's code page, values and names Windows could
// not use, colliding entries, numbers out of range, texts that do not fit
// their place. A refused project names its file and line and writes nothing;
// an accepted one is read back from the package.
#include <gtest/gtest.h>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <zlib.h>
#include "package_reader.h"
#include "project.h"

namespace fs = std::filesystem;
using namespace quillset;

namespace {

// A literal with the NUL bytes it holds.
template <size_t N>
std::string Raw(const char (&literal)[N])
{
    return std::string(literal, N - 1);
}

// "中文软件" in code page 936.
const char kChineseNameAnsi[] = "\xD6\xD0\xCE\xC4\xC8\xED\xBC\xFE";

class BuilderCheck : public testing::Test {
protected:
    void SetUp() override
    {
        folder_ = fs::temp_directory_path() / ("quillset-check-" + std::to_string(::getpid()) + "-" +
                                               testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_ / "files" / "sub");
        Write("files/a.txt", "a");
        Write("files/sub/b.txt", "b");
        Write("runtime.exe", std::string("MZ") + std::string(4094, '\0'));
    }
    void TearDown() override
    {
        std::error_code error;
        fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add, error);
        fs::remove_all(folder_, error);
    }
    void Write(const std::string& name, const std::string& content)
    {
        fs::create_directories((folder_ / name).parent_path());
        std::ofstream(folder_ / name, std::ios::binary) << content;
    }
    std::string Path(const std::string& name) const { return (folder_ / name).string(); }
    // Runs quillset-build on a project of BODY; its exit status and first line of errors.
    int Run(const std::string& body, std::string* errors, const std::string& options = "")
    {
        Write("p.qset", body);
        std::string command = "\"" + std::string(QUILLSET_BUILD) + "\" -q --runtime \"" + Path("runtime.exe") +
                              "\" --texts \"" + texts_ + "\" -o \"" + Path("out.exe") + "\" " + options + " \"" +
                              Path("p.qset") + "\" 2>\"" + Path("errors.txt") + "\"";
        int status = std::system(command.c_str());
        std::ifstream in(folder_ / "errors.txt");
        std::getline(in, *errors);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // The error for a project of BODY, without the project's path, after
    // checking that the build failed and left nothing behind.
    std::string Refused(const std::string& body)
    {
        std::string errors;
        EXPECT_EQ(Run(body, &errors), 1) << body;
        EXPECT_FALSE(fs::exists(folder_ / "out.exe")) << body;
        EXPECT_FALSE(fs::exists(folder_ / "out.exe.part")) << body;
        std::string project = Path("p.qset");
        return errors.compare(0, project.size(), project) == 0 ? errors.substr(project.size()) : errors;
    }
    // The package built from BODY, read back.
    ReadPackageContents Built(const std::string& body)
    {
        std::string errors;
        EXPECT_EQ(Run(body, &errors), 0) << errors;
        std::ifstream in(folder_ / "out.exe", std::ios::binary);
        Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (bytes.size() < 4096 + 12)
            return {};
        return ReadPackage(bytes);
    }
    fs::path folder_;
    std::string texts_ = QUILLSET_SOURCE_TEXTS;
};

// The product's names as the texts of both languages show them.
TEST_F(BuilderCheck, ChineseProductNameBuildsIntoBothLanguagesTexts)
{
    ReadPackageContents english = Built(u8"[product]\nname=中文软件\n");
    EXPECT_EQ(english.text(9, 1, 1), std::string("Welcome to the ") + kChineseNameAnsi + " Setup");
    EXPECT_EQ(english.text(9, 11, 0), std::string(kChineseNameAnsi) + " Setup") << "{full_name} is the name";
    const Bytes* product = english.record(RECORD_PRODUCT);
    ASSERT_NE(product, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(product->data())), kChineseNameAnsi);

    fs::remove(folder_ / "out.exe");
    ReadPackageContents both = Built(u8"[product]\nname=中文软件\nfull_name=中文软件 2.0\n[languages]\noffered=chinese,english\n");
    EXPECT_EQ(both.text(9, 11, 0), std::string(kChineseNameAnsi) + " 2.0 Setup");
    EXPECT_NE(both.text(4, 1, 2).find(std::string(kChineseNameAnsi) + " 2.0"), std::string::npos)
        << "the Chinese welcome names the full name";
}

TEST_F(BuilderCheck, TextsTheCodePageCannotHoldAreNamedWithTheirFileAndLine)
{
    EXPECT_EQ(Refused(u8"[build]\ncodepage=1252\n[product]\nname=中文软件\n"),
              u8":4: code page 1252 cannot hold U+4E2D \"中\"; the english texts show the product's \"name\" in the "
              u8"package's code page ([build] codepage)");
    EXPECT_EQ(Refused("[build]\ncodepage=1252\n[product]\nname=Demo\n[languages]\noffered=english,chinese\n"),
              ":6: chinese texts need code page 936, but the package's is 1252 ([build] codepage)");
    EXPECT_EQ(Refused(u8"[product]\nname=Demo\n[texts.english]\npage.welcome.1=Straße\n"),
              u8":4: code page 936 cannot hold U+00DF \"ß\"");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[texts.english]\npage.welcome.1=caf\xE9\n"),
              ":4: text that is not UTF-8 (byte 0xE9): save the file as UTF-8");
    // A licence is checked line by line, against its own file.
    Write("licence.txt", u8"Terms\nStraße\n");
    std::string errors;
    EXPECT_EQ(Run("[product]\nname=Demo\nlicence=licence.txt\n", &errors), 1);
    EXPECT_EQ(errors, Path("licence.txt") + u8":2: code page 936 cannot hold U+00DF \"ß\"");
    // The same texts pass where the code page holds them.
    ReadPackageContents western = Built(u8"[build]\ncodepage=1252\n[product]\nname=Café\n");
    EXPECT_EQ(western.text(9, 1, 1), "Welcome to the Caf\xE9 Setup");
}

TEST_F(BuilderCheck, ErrorsInATextTableNameThatTableAndItsLine)
{
    fs::create_directories(folder_ / "texts");
    for (const char* name : { "english.txt", "chinese.txt" })
        fs::copy_file(fs::path(QUILLSET_SOURCE_TEXTS) / name, folder_ / "texts" / name);
    texts_ = Path("texts");
    std::string table = Path("texts/english.txt");
    std::string errors;
    Write("texts/english.txt", "[wizard]\n0=fine\n3=never shown\n");
    EXPECT_EQ(Run("[product]\nname=Demo\n", &errors), 1);
    EXPECT_EQ(errors, table + ":3: \"3\" is not a text the runtime reads");
    Write("texts/english.txt", u8"[wizard]\n0=fine\n1=Maße\n");
    EXPECT_EQ(Run("[product]\nname=Demo\n", &errors), 1);
    EXPECT_EQ(errors, table + u8":3: code page 936 cannot hold U+00DF \"ß\"");
    Write("texts/english.txt", std::string("[wizard]\n0=a\x01") + "b\n");
    EXPECT_EQ(Run("[product]\nname=Demo\n", &errors), 1);
    EXPECT_EQ(errors, table + ":2: the value of \"0\" holds the control character U+0001 (a text writes a line break "
                              "as \\n, a tab as \\t)");
    fs::remove(folder_ / "texts" / "english.txt");
    EXPECT_EQ(Run("[product]\nname=Demo\n", &errors), 1);
    EXPECT_EQ(errors, table + ": cannot read the text table: No such file or directory");
    EXPECT_FALSE(fs::exists(folder_ / "out.exe.part"));
}

TEST_F(BuilderCheck, ControlCharactersAndNulAreRefusedInEveryValue)
{
    EXPECT_EQ(Refused(Raw("[product]\nname=De\0mo\n")),
              ":2: the value of \"name\" holds the control character U+0000 (a text writes a line break as \\n, a tab "
              "as \\t)");
    EXPECT_EQ(Refused(Raw("[product]\nname=Demo\n[files]\nsource=files\\a.txt\0junk\n")),
              ":4: the value of \"source\" holds the control character U+0000 (a text writes a line break as \\n, a "
              "tab as \\t)");
    EXPECT_EQ(Refused("[product]\nname=Demo\nfull_name=Demo\t2\n"),
              ":3: the value of \"full_name\" holds the control character U+0009 (a text writes a line break as \\n, "
              "a tab as \\t)");
    EXPECT_EQ(Refused(u8"[product]\nname=Demo\u0085\n"),
              ":2: the value of \"name\" holds the control character U+0085 (a text writes a line break as \\n, a tab "
              "as \\t)");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[sec\x7Ftion]\n"), ":3: a section name holds the control character U+007F");
    // Escapes give the line breaks and tabs that texts may hold.
    ReadPackageContents package = Built("[product]\nname=Demo\n[texts.english]\npage.welcome.3=one\\ntwo\\tthree\n");
    EXPECT_EQ(package.text(9, 1, 3), "one\ntwo\tthree");
}

TEST_F(BuilderCheck, NamesWindowsCannotCreateAreRefused)
{
    struct Case {
        std::string name, problem;
    };
    const std::vector<Case> cases = {
        { "CON", "the device name CON, which Windows reserves" },
        { "nul.txt", "the device name NUL, which Windows reserves" },
        { "Com7.log.gz", "the device name COM7, which Windows reserves" },
        { "lpt1 .txt", "the device name LPT1, which Windows reserves" },
        { "a:b", "the character ':'" },
        { "what?", "the character '?'" },
        { "back\\slash", "the character '\\'" },
        { "trailing.", "a trailing dot or blank, which Windows drops" },
        { "blank ", "a trailing dot or blank, which Windows drops" },
        { "bell\x07", "the control character U+0007" },
    };
    for (const Case& c : cases) {
        fs::remove_all(folder_ / "bad");
        Write("bad/" + c.name, "x");
        std::string shown = c.name == "bell\x07" ? "bell\\x07" : c.name;
        EXPECT_EQ(Refused("[product]\nname=Demo\n[files]\nsource=bad\n"),
                  ":4: \"" + Path("bad/" + shown) + "\" has a name that Windows cannot create: " + c.problem);
        EXPECT_EQ(Refused("[product]\nname=Demo\n[files]\nsource=bad\\*\n"),
                  ":4: \"" + Path("bad/" + shown) + "\" has a name that Windows cannot create: " + c.problem);
    }
    // Folders too, and destinations and shortcuts where their parts are literal.
    fs::remove_all(folder_ / "bad");
    Write("bad/AUX/x.txt", "x");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[files]\nsource=bad\n"),
              ":4: \"" + Path("bad/AUX") + "\" has a name that Windows cannot create: the device name AUX, which "
                                            "Windows reserves");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[files]\nsource=files\\a.txt\ndestination=%InstallPath%\\bin.\n"),
              ":5: \"destination\" \"%InstallPath%\\bin.\": \"bin.\" is no name Windows can create: a trailing dot or "
              "blank, which Windows drops");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[files]\nsource=files\\a.txt\ndestination=%InstallPath%/bin\n"),
              ":5: \"destination\" \"%InstallPath%/bin\": \"%InstallPath%/bin\" is no name Windows can create: the "
              "character '/' (write \\ between folders)");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[shortcut]\npath=<Desktop>\\Demo|2.lnk\n"),
              ":4: \"path\" \"<Desktop>\\Demo|2.lnk\": \"Demo|2.lnk\" is no name Windows can create: the character "
              "'|'");
    EXPECT_EQ(Refused("[product]\nname=Demo?\n"),
              ":2: the product name is the default install folder and program group, which Windows cannot create: "
              "the character '?'; give install_path and shortcuts_group");
    EXPECT_EQ(Refused("[product]\nname=A\\B\n"),
              ":2: the product name cannot hold \"\\\": it names the product's key under the Uninstall registry key");
    EXPECT_EQ(Refused("[product]\nname=Demo\nuninstaller=PRN.exe\n"),
              ":3: \"uninstaller\" is no file name Windows can create: the device name PRN, which Windows reserves");
    // What Windows accepts passes: drives, tokens, "..", device names inside longer names.
    ReadPackageContents package = Built("[product]\nname=Demo?\ninstall_path=C:\\Demo Apps\\Demo\nshortcuts_group=Demo Group\n"
                            "[variables]\n%Custom%=x\n"
                            "[files]\nsource=files\\a.txt\ndestination=%InstallPath%\\..\\Shared\\%Custom%.d\n"
                            "[shortcut]\npath=<programs>\\%ShortcutsGroup%\\CONSOLE.lnk\n");
    ASSERT_EQ(package.entries.size(), 1u);
    EXPECT_EQ(package.entries[0].destination, "%InstallPath%\\..\\Shared\\%Custom%.d");
}

// A %Name% that neither the runtime nor the project defines would reach the
// user's machine as it is written; a misspelling names the closest variable.
TEST_F(BuilderCheck, UnknownVariablesAreRefusedWithTheClosestName)
{
    const std::string demo = "[product]\nname=Demo\n[variables]\n%DataDir%=%InstallPath%\\data\n";
    EXPECT_EQ(Refused("[product]\nname=Demo\n[files]\nsource=files\\a.txt\ndestination=%InstalPath%\\d\n"),
              ":5: \"%InstalPath%\" is no variable the runtime or the project defines; did you mean "
              "\"%InstallPath%\"?");
    EXPECT_EQ(Refused(demo + "[ini]\nfile=%DataDri%\\demo.ini\nsection=S\n"),
              ":6: \"%DataDri%\" is no variable the runtime or the project defines; did you mean \"%DataDir%\"?");
    EXPECT_EQ(Refused(demo + "[shortcut]\npath=<Desktop>\\A.lnk\ntarget=%ProgramFiles%\\a.exe\n"),
              ":7: \"%ProgramFiles%\" is no variable the runtime or the project defines");
    EXPECT_EQ(Refused("[product]\nname=Demo\nlaunch=%installpath%\\%Readme%\n"),
              ":3: \"%Readme%\" is no variable the runtime or the project defines");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[variables]\n%A%=%Zed%\\x\n"),
              ":4: \"%Zed%\" is no variable the runtime or the project defines");
    const std::string registry = "[product]\nname=Demo\n[registry]\nkey=Software\\Demo\n";
    EXPECT_EQ(Refused(registry + "data=%SystemRoot%\\x\n"),
              ":5: \"%SystemRoot%\" is no variable the runtime or the project defines")
        << "Windows expands nothing in REG_SZ data";
    EXPECT_EQ(Refused(registry + "type=expand_sz\ndata=%InstalPath%\\x\n"),
              ":6: \"%InstalPath%\" is no variable the runtime or the project defines; did you mean "
              "\"%InstallPath%\"?")
        << "a near miss is refused even where environment variables may stand";
    // Program arguments, %1 and %*, %% and environment variables where Windows
    // or the program expands them; texts and unexpanded keys are not looked at.
    ReadPackageContents package = Built(demo + "[association]\nextension=.d\nopen_command=notepad.exe \"%1\" %*\n"
                                   "[program]\npath=<System>\\cmd.exe\narguments=/c echo %PATH% 100%% %~dp0\n"
                                   "[registry]\nkey=Software\\Demo\ntype=expand_sz\ndata=%SystemRoot%;%DATADIR%\n"
                                   "[registry]\nkey=Software\\%DataDir%%InstallPath%\ndata=50%Off%InstallPath%\n"
                                   "[texts.english]\npage.finish.4=Read %Notes% now\n"
                                   "[appearance]\nbody_font=%Font%\n");
    std::vector<std::string> lines;
    for (int type : { 15, 13, 11 })
        for (const auto& r : package.records)
            if (r.first == type)
                lines.push_back(reinterpret_cast<const char*>(r.second.data()));
    EXPECT_EQ(lines, (std::vector<std::string>{ ".d,,,,,notepad.exe \"%1\" %*,,",
                                                 "<System>\\cmd.exe,/c echo %PATH% 100%% %~dp0,,11,1,1,0",
                                                 "2,Software\\Demo,,2,%SystemRoot%;%DATADIR%",
                                                 "2,Software\\%DataDir%%InstallPath%,,1,50%Off%InstallPath%" }));
}

// Unknown keys and sections, and <...> in a path that is none of the folder
// macros (Windows names cannot hold '<'), name the closest known one.
TEST_F(BuilderCheck, UnknownKeysSectionsAndFolderMacrosNameTheClosest)
{
    const std::string files = "[product]\nname=Demo\n[files]\nsource=files\\a.txt\n";
    EXPECT_EQ(Refused(files + "destinaton=%InstallPath%\n"),
              ":5: unknown key \"destinaton\" in [files]; did you mean \"destination\"?");
    EXPECT_EQ(Refused(files + "zzz=1\n"), ":5: unknown key \"zzz\" in [files]");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[file]\nsource=files\\a.txt\n"),
              ":3: unknown section [file]; did you mean [files]?");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[text.english]\nwizard.13=x %s\n"),
              ":3: unknown section [text.english]; did you mean [texts.english]?");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[texts.englsh]\nwizard.13=x %s\n"),
              ":3: [texts.englsh] is not an offered language; did you mean [texts.english]?");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[stuff]\n"), ":3: unknown section [stuff]");
    EXPECT_EQ(Refused(files + "destination=<ProgramFile>\\Demo\n"),
              ":5: \"<ProgramFile>\" is no folder macro; did you mean \"<ProgramFiles>\"?");
    EXPECT_EQ(Refused("[product]\nname=Demo\ninstall_path=<Nowhere>\\Demo\n"),
              ":3: \"<Nowhere>\" is no folder macro, and Windows names cannot hold '<'");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[shortcut]\npath=<Desktop>\\A.lnk\ntarget=<Sytem>\\notepad.exe\n"),
              ":5: \"<Sytem>\" is no folder macro; did you mean \"<System>\"?");
    // Macros in any case pass; <...> in a value that names no file is literal.
    ReadPackageContents package = Built("[product]\nname=Demo\n[shortcut]\npath=<desktop>\\A.lnk\ntarget=<SYSTEM>\\a.exe\n"
                            "[registry]\nkey=Software\\Demo\ndata=<b>bold</b>\n");
    ASSERT_NE(package.record(RECORD_REGISTRY_VALUE), nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(package.record(RECORD_REGISTRY_VALUE)->data())),
              "2,Software\\Demo,,1,<b>bold</b>");
}

TEST_F(BuilderCheck, EntriesThatWouldShareOnePathAreRefused)
{
    Write("files/A.txt", "upper");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[files]\nsource=files\n"),
              ":4: \"" + Path("files/a.txt") + "\" and \"" + Path("files/A.txt") +
                  "\" (line 4) would be installed at one path: Windows does not tell names apart by case");
    fs::remove(folder_ / "files" / "A.txt");
    Write("other/A.TXT", "upper");
    Write("other/sub/x.txt", "x");
    Write("other/SUB", "a file where the other source has a folder");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[files]\nsource=files\\a.txt\nsource=other\\A.TXT\n"),
              ":5: \"" + Path("other/A.TXT") + "\" and \"" + Path("files/a.txt") +
                  "\" (line 4) would be installed at one path: Windows does not tell names apart by case");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[files]\nsource=files\\a.txt\n[files]\nsource=files\\a.txt\n"
                      "destination=%installpath%\\\n"),
              ":6: \"" + Path("files/a.txt") + "\" and \"" + Path("files/a.txt") +
                  "\" (line 4) would be installed at one path");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[files]\nsource=files\\sub\n[files]\nsource=other\\SUB\n"),
              ":6: \"" + Path("other/SUB") + "\" and \"" + Path("files/sub") +
                  "\" (line 4) would be installed at one path: Windows does not tell names apart by case");
    // Folders of one name merge; names that only look alike in bytes stay apart.
    fs::remove(folder_ / "other" / "SUB");
    Write("other/sub/y.txt", "y");
    Write("wide/\xE4\xB8\x84.txt", "81 41");   // U+4E04: 0x81 0x41 in code page 936
    Write("wide/\xE4\xB9\xA4.txt", "81 61");   // U+4E64: 0x81 0x61
    ReadPackageContents package = Built("[product]\nname=Demo\n[files]\nsource=files\\sub\nsource=other\\sub\nsource=wide\\*\n");
    std::vector<std::string> names;
    for (const auto& e : package.entries)
        names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{ "sub", "b.txt", "sub", "x.txt", "y.txt", "\x81\x41.txt",
                                                "\x81\x61.txt" }));
}

TEST_F(BuilderCheck, EmptyNamesDestinationsAndLanguageListsAreRefused)
{
    EXPECT_EQ(Refused("[product]\nname=Demo\n[files]\nsource=files\\sub\\\n"),
              ":4: \"files\\sub\\\" ends in a separator and so names no folder: write \"files\\sub\" for the folder "
              "under its own name, or \"files\\sub\\*\" with recursive=yes for what it holds");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[files]\nsource=\n"), ":4: \"source\" is empty");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[files]\nsource=files\\a.txt\ndestination=\n"),
              ":5: \"destination\" is empty");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[languages]\noffered=\n"),
              ":4: \"offered\" names no language (english, chinese); leave it out for english");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[languages]\noffered=english,English\n"),
              ":4: \"english\" is offered twice");
    EXPECT_EQ(Refused("[product]\nname=\n"), ":2: [product] needs a name");
    EXPECT_EQ(Refused("[product]\nname=Demo\nfull_name=\n"), ":3: \"full_name\" is empty; leave it out to use the name");
    EXPECT_EQ(Refused("[product]\nname=Demo\ninstall_path=\n"), ":3: \"install_path\" is empty");
}

TEST_F(BuilderCheck, LicenceAndInformationMustBeReadableRegularFiles)
{
    fs::create_directories(folder_ / "docs");
    EXPECT_EQ(Refused("[product]\nname=Demo\nlicence=docs\n"), ":3: cannot read the licence file \"docs\": it is a folder");
    EXPECT_EQ(Refused("[product]\nname=Demo\ninformation=missing.txt\n"),
              ":3: cannot read the information file \"missing.txt\": No such file or directory");
    ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);
    EXPECT_EQ(Refused("[product]\nname=Demo\nlicence=pipe\n"),
              ":3: cannot read the licence file \"pipe\": it is not a regular file");
    Write("utf16.txt", Raw("\xFF\xFEL\0i\0"));
    std::string errors;
    EXPECT_EQ(Run("[product]\nname=Demo\nlicence=utf16.txt\n", &errors), 1);
    EXPECT_EQ(errors, Path("utf16.txt") + ":1: a NUL byte, which would end the licence text here: save the file as "
                                          "UTF-8 text or RTF");
    // A byte-order mark is no part of the text.
    Write("licence.txt", u8"\uFEFFThe terms.\n");
    ReadPackageContents package = Built("[product]\nname=Demo\nlicence=licence.txt\n");
    const Bytes* licence = package.record(RECORD_LICENCE_TEXT);
    ASSERT_NE(licence, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(licence->data())), "The terms.\n");
}

TEST_F(BuilderCheck, NumbersOutsideTheirFieldAreRefusedNotCut)
{
    EXPECT_EQ(Refused("[build]\ncodepage=4294968232\n[product]\nname=Demo\n"), ":2: \"codepage\" takes 936 or 1252");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[program]\npath=a.exe\nwindow=3\n"),
              ":5: \"window\" takes a whole number from 0 to 2, not \"3\"");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[program]\npath=a.exe\nwindow=99999999999999999999\n"),
              ":5: \"window\" takes a whole number from 0 to 2, not \"99999999999999999999\"");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[shortcut]\npath=<Desktop>\\A.lnk\nshow=12\n"),
              ":5: \"show\" takes a whole number from 0 to 11, not \"12\"");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[shortcut]\npath=<Desktop>\\A.lnk\nhotkey=0x10000\n"),
              ":5: \"hotkey\" takes a whole number from 0 to 65535, not \"0x10000\"");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[shortcut]\npath=<Desktop>\\A.lnk\nicon_index=2147483648\n"),
              ":5: \"icon_index\" takes a whole number from -2147483648 to 2147483647, not \"2147483648\"");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[association]\nextension=.d\nicon_index=1x\n"),
              ":5: \"icon_index\" takes a whole number from -2147483648 to 2147483647, not \"1x\"");
    std::string caption = "[product]\nname=Demo\n[appearance]\ngradient_top=0x000080\n[caption]\ntext=Demo\n";
    EXPECT_EQ(Refused(caption + "weight=11\n"), ":7: \"weight\" takes a whole number from 0 to 10, not \"11\"");
    EXPECT_EQ(Refused(caption + "x=40000\n"), ":7: \"x\" takes a whole number from -32768 to 32767, not \"40000\"");
    EXPECT_EQ(Refused(caption + "size=019\n"), ":7: \"size\" takes a whole number from 0 to 32767, not \"019\"")
        << "019 is no octal number";
    EXPECT_EQ(Refused(caption + "color=white\n"), ":7: \"color\" takes a colour 0xRRGGBB, not \"white\"");
    std::string registry = "[product]\nname=Demo\n[registry]\nroot=HKCU\nkey=Software\\Demo\nname=N\ntype=dword\n";
    EXPECT_EQ(Refused(registry + "data=4294967296\n"),
              ":8: dword data takes a whole number from -2147483648 to 4294967295, not \"4294967296\"");
    EXPECT_EQ(Refused(registry + "data=\n"),
              ":8: dword data takes a whole number from -2147483648 to 4294967295, not \"\"");
    // Edges of each range pass, and colours reach the runtime in the one form it reads.
    ReadPackageContents package = Built(caption + "x=-32768\ny=32767\nweight=10\ncolor=#FF8000\nshadow_color=0x000000\n" +
                            "[registry]\nroot=HKCU\nkey=Software\\Demo\nname=N\ntype=dword\ndata=-1\n" +
                            "[shortcut]\npath=<Desktop>\\A.lnk\nshow=11\nhotkey=0xFFFF\nicon_index=-2147483648\n");
    const Bytes* line = package.record(RECORD_BACKGROUND_CAPTION);
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(line->data())),
              "\"Demo\",,,-32768,32767,,,,10,0,0,0xFF8000,,0x000000");
    ASSERT_NE(package.record(RECORD_REGISTRY_VALUE), nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(package.record(RECORD_REGISTRY_VALUE)->data())), "1,Software\\Demo,N,4,-1");
}

TEST_F(BuilderCheck, TextOverridesKeepTheDefaultsPlaceholders)
{
    EXPECT_EQ(Refused("[product]\nname=Demo\n[texts.english]\nwizard.13=needs %s and %s\n"),
              ":4: \"wizard.13\" has 2 %s, the default text 1: the runtime fills in exactly as many as the default has");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[texts.english]\nmessage.5=cannot open\n"),
              ":4: \"message.5\" has 0 %s, the default text 2: the runtime fills in exactly as many as the default "
              "has");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[texts.english]\nextra.2=100%s\n"),
              ":4: \"extra.2\" has 1 %s, the default text 0: the runtime fills in exactly as many as the default has");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[texts.english]\nmessage.2=%S is 50% done\n"),
              ":4: \"message.2\" holds \"%S\", which the runtime would take as a placeholder: write a percent sign "
              "as %%");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[texts.english]\nmessage.2=%s is 50% done\n"),
              ":4: \"message.2\" holds \"% \", which the runtime would take as a placeholder: write a percent sign "
              "as %%");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[texts.english]\nwizard.13=a %s\nwizard.13=b %s\n"),
              ":5: \"wizard.13\" given twice for english");
    ReadPackageContents package = Built("[product]\nname=Demo\n[texts.english]\nwizard.13=Demo needs %s (100%% sure).\n");
    EXPECT_EQ(package.text(9, 0x60, 13), "Demo needs %s (100%% sure).");
}

// The shipped tables agree with each other: each text fills in as many %s in every language.
TEST_F(BuilderCheck, DefaultTablesAgreeOnPlaceholders)
{
    auto read = [](const char* name) {
        std::ifstream in(fs::path(QUILLSET_SOURCE_TEXTS) / name, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::map<std::string, int> counts;
        for (const auto& section : ParseIni(text, name))
            for (const auto& k : section.keys) {
                int n = 0;
                for (size_t at = k.value.find("%s"); at != std::string::npos; at = k.value.find("%s", at + 2))
                    n++;
                counts[section.name + "." + k.name] = n;
            }
        return counts;
    };
    EXPECT_EQ(read("english.txt"), read("chinese.txt"));
}

TEST_F(BuilderCheck, SourcesThatAreNeitherFilesNorFoldersAreRefused)
{
    fs::create_directories(folder_ / "odd");
    Write("odd/ok.txt", "ok");
    fs::create_symlink("missing.txt", folder_ / "odd" / "dangling.txt");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[files]\nsource=odd\n"),
              ":4: \"" + Path("odd/dangling.txt") + "\" is a link to nothing; a package holds files and folders only");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[files]\nsource=odd\\dangling.txt\n"),
              ":4: \"" + Path("odd/dangling.txt") + "\" is a link to nothing; a package holds files and folders only");
    fs::remove(folder_ / "odd" / "dangling.txt");
    ASSERT_EQ(mkfifo(Path("odd/fifo.txt").c_str(), 0600), 0);
    EXPECT_EQ(Refused("[product]\nname=Demo\n[files]\nsource=odd\\*.txt\n"),
              ":4: \"" + Path("odd/fifo.txt") + "\" is a pipe (FIFO); a package holds files and folders only");
    fs::remove(folder_ / "odd" / "fifo.txt");
    int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string socketPath = Path("odd/socket");
    if (socketPath.size() < sizeof(address.sun_path)) {
        std::strcpy(address.sun_path, socketPath.c_str());
        ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        EXPECT_EQ(Refused("[product]\nname=Demo\n[files]\nsource=odd\n"),
                  ":4: \"" + socketPath + "\" is a socket; a package holds files and folders only");
        fs::remove(socketPath);
    }
    close(sock);
    // A link back up would walk for ever.
    fs::create_directory_symlink(".", folder_ / "odd" / "up");
    EXPECT_EQ(Refused("[product]\nname=Demo\n[files]\nsource=odd\n"),
              ":4: \"" + Path("odd/up") + "\" leads back into \"" + Path("odd") + "\", which holds it: a link loop");
    fs::remove(folder_ / "odd" / "up");
    // Links to files and folders are followed; what matches no wildcard is not looked at.
    fs::create_symlink("ok.txt", folder_ / "odd" / "link.txt");
    fs::create_directory_symlink("../files/sub", folder_ / "odd" / "linked");
    ASSERT_EQ(mkfifo(Path("odd/fifo.bin").c_str(), 0600), 0);
    ReadPackageContents package = Built("[product]\nname=Demo\n[files]\nsource=odd\\*.txt\nrecursive=yes\n");
    std::vector<std::string> names;
    for (const auto& e : package.entries)
        names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{ "link.txt", "ok.txt", "linked", "b.txt" }));
}

TEST_F(BuilderCheck, UnreadableSourcesAreRefusedWithTheSystemsReason)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the superuser";
    Write("secret/locked.txt", "x");
    fs::permissions(folder_ / "secret" / "locked.txt", fs::perms::none);
    EXPECT_EQ(Refused("[product]\nname=Demo\n[files]\nsource=secret\\locked.txt\n"),
              ":4: cannot read \"" + Path("secret/locked.txt") + "\": Permission denied");
    fs::permissions(folder_ / "secret", fs::perms::owner_write);
    EXPECT_EQ(Refused("[product]\nname=Demo\n[files]\nsource=secret\n"),
              ":4: cannot read the folder \"" + Path("secret") + "\": Permission denied");
    fs::permissions(folder_ / "secret", fs::perms::owner_all);
}

TEST_F(BuilderCheck, UnreadableProjectGivesTheSystemsReason)
{
    std::string errors;
    std::string command = "\"" + std::string(QUILLSET_BUILD) + "\" -q \"" + Path("none.qset") + "\" 2>\"" +
                          Path("errors.txt") + "\"";
    EXPECT_NE(std::system(command.c_str()), 0);
    std::ifstream in(folder_ / "errors.txt");
    std::getline(in, errors);
    EXPECT_EQ(errors, Path("none.qset") + ": cannot read the project file: No such file or directory");
}

// A folder source keeps its own name under the destination; a wildcard takes what the folder holds.
TEST_F(BuilderCheck, FolderSourcesKeepTheirName)
{
    ReadPackageContents package = Built("[product]\nname=Demo\n[files]\nsource=files\ndestination=%InstallPath%\\data\n"
                            "[files]\nsource=files\\*\nrecursive=yes\n");
    std::vector<std::string> seen;
    for (const auto& e : package.entries)
        seen.push_back(e.destination + "|" + e.name + "|" + std::to_string(e.depth) + (e.isFile ? "" : "/"));
    EXPECT_EQ(seen, (std::vector<std::string>{ "%InstallPath%\\data|files|0/", "%InstallPath%\\data|a.txt|1",
                                               "%InstallPath%\\data|sub|1/", "%InstallPath%\\data|b.txt|2",
                                               "%InstallPath%|a.txt|0", "%InstallPath%|sub|0/",
                                               "%InstallPath%|b.txt|1" }));
}

}  // namespace
