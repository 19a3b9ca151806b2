// quillset-build's project files: every validation error with its file and
// line, deterministic output, and the package's fixed framing.
#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <zlib.h>
#include "project.h"

namespace fs = std::filesystem;
using namespace quillset;

namespace {

class Builder : public testing::Test {
protected:
    void SetUp() override
    {
        folder_ = fs::temp_directory_path() / ("quillset-builder-" + std::to_string(::getpid()) + "-" +
                                               testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_ / "files" / "sub");
        Write("files/a.txt", std::string(5000, 'a'));
        Write("files/sub/b.txt", "bee");
        Write("licence.txt", "Licence");
    }
    void TearDown() override { fs::remove_all(folder_); }
    void Write(const std::string& name, const std::string& content)
    {
        std::ofstream(folder_ / name, std::ios::binary) << content;
    }
    std::string Project(const std::string& body)
    {
        Write("p.qset", "[product]\nname=Demo\n" + body);
        return (folder_ / "p.qset").string();
    }
    // The error LoadProject reports for BODY, as FILE:LINE: message.
    std::string ErrorOf(const std::string& body)
    {
        std::string path = Project(body);
        try {
            LoadProject(path, QUILLSET_SOURCE_TEXTS);
        } catch (const BuildError& e) {
            return e.where().substr(path.size());
        }
        return "(no error)";
    }
    static Bytes Runtime(size_t size = 4096)
    {
        Bytes image(size, 0);
        image[0] = 'M';
        image[1] = 'Z';
        return image;
    }
    Bytes Build(const std::string& body, const std::string& name = "out.exe")
    {
        quillset::Project project = LoadProject(Project(body), QUILLSET_SOURCE_TEXTS);
        BuildStats stats;
        std::string output = (folder_ / name).string();
        WritePackageFile(Runtime(), project, output, &stats);
        std::ifstream in(output, std::ios::binary);
        return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    fs::path folder_;
};

uint32_t At32(const Bytes& b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

TEST_F(Builder, ErrorsNameTheirLine)
{
    EXPECT_EQ(ErrorOf("[colours]\n"), ":3: unknown section [colours]");
    EXPECT_EQ(ErrorOf("colour=red\n"), ":3: unknown key \"colour\" in [product]");
    EXPECT_EQ(ErrorOf("[files]\nsource=files\\missing.txt\n"), ":4: source file \"files\\missing.txt\" does not exist");
    EXPECT_EQ(ErrorOf("[files]\nsource=files\\*.none\n"), ":4: no file matches \"files\\*.none\"");
    EXPECT_EQ(ErrorOf("[files]\ndestination=%InstallPath%\n"), ":3: [files] needs a source");
    EXPECT_EQ(ErrorOf("[pages]\nenabled=welcome,licence\n"),
              ":4: the licence page is enabled but [product] names no licence file");
    EXPECT_EQ(ErrorOf("[pages]\nenabled=welcome,slot4\n"),
              ":4: \"slot4\" is not a page (language, welcome, licence, information, destination, shortcuts, ready, "
              "installing, finish)");
    EXPECT_EQ(ErrorOf("[shortcut]\npath=%ShortcutsGroup%\\A.lnk\narguments=-a,-b\n"),
              ":5: \"arguments\" contains a comma, which the runtime would take as a field separator");
    EXPECT_EQ(ErrorOf("[texts.english]\nwizard.3=never shown\n"), ":4: \"wizard.3\" is not a text the runtime reads");
    EXPECT_EQ(ErrorOf("[texts.english]\npage.finish.11=never shown\n"),
              ":4: \"page.finish.11\" is not a text the runtime reads");
    EXPECT_EQ(ErrorOf("[texts.german]\nwizard.0=Wirklich?\n"), ":3: [texts.german] is not an offered language");
    EXPECT_EQ(ErrorOf("[options]\nrestart=perhaps\n"), ":4: \"restart\" takes yes or no, not \"perhaps\"");
    EXPECT_EQ(ErrorOf("[appearance]\nbody_color=red\n"),
              ":4: \"body_color\" takes a colour 0xRRGGBB, window or btnface, not \"red\"");
    EXPECT_EQ(ErrorOf("[requirements]\nwindows=Vista\n"), ":4: \"Vista\" is not a windows release the runtime knows");
    EXPECT_EQ(ErrorOf("name=Again\n"), ":3: \"name\" given twice in [product]");
    EXPECT_EQ(ErrorOf("just text\n"), ":3: expected key=value, found \"just text\"");
    EXPECT_EQ(ErrorOf("[registry]\nkey=Software\\Demo\ntype=binary\ndata=ABC\n"),
              ":6: binary data is written as pairs of hexadecimal digits");
}

TEST_F(Builder, RuntimeImageOfSixtyFourKibibytesIsPadded)
{
    quillset::Project project = LoadProject(Project("[files]\nsource=files\\a.txt\n"), QUILLSET_SOURCE_TEXTS);
    BuildStats stats;
    std::string output = (folder_ / "big.exe").string();
    WritePackageFile(Runtime(65536), project, output, &stats);
    std::ifstream in(output, std::ios::binary);
    Bytes package((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t p = 65536 + PACKAGE_OFFSET_PADDING;
    ASSERT_EQ(quillset::PackageOffsetOf(package), p);
    EXPECT_EQ(package[0x12] | package[0x13] << 8, PACKAGE_OFFSET_PADDING);
    EXPECT_EQ(package[0x20] | package[0x21] << 8, 1);
    EXPECT_EQ(Bytes(package.begin() + 65536, package.begin() + p), Bytes(PACKAGE_OFFSET_PADDING, 0));
    EXPECT_EQ(At32(package, p), 12u);
    EXPECT_EQ(At32(package, p + 8), 5000u);
    EXPECT_EQ(At32(package, 0x24), Adler32(package.data() + 40, package.size() - 40));
}

TEST_F(Builder, FileDataBeyondThirtyTwoBitOffsetsIsRefusedBeforeWriting)
{
    // A sparse file: 4 GiB on paper, nothing on the disk.
    std::ofstream(folder_ / "files" / "huge.bin").close();
    fs::resize_file(folder_ / "files" / "huge.bin", 0xFFFFFFF0ull);
    quillset::Project project = LoadProject(Project("[files]\nsource=files\\huge.bin\nsource=files\\a.txt\n"),
                                            QUILLSET_SOURCE_TEXTS);
    BuildStats stats;
    std::string output = (folder_ / "huge.exe").string();
    try {
        WritePackageFile(Runtime(), project, output, &stats);
        FAIL() << "no error";
    } catch (const BuildError& e) {
        EXPECT_NE(std::string(e.what()).find("4 GiB"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(fs::exists(output));
    EXPECT_FALSE(fs::exists(output + ".part"));
}

TEST_F(Builder, SameProjectGivesTheSameBytes)
{
    std::string body = "[files]\nsource=files\\*.txt\nrecursive=yes\n[shortcut]\npath=<Desktop>\\A.lnk\n";
    Bytes first = Build(body, "one.exe");
    Bytes second = Build(body, "two.exe");
    EXPECT_EQ(first, second);
}

TEST_F(Builder, TwoBuildsOfTheDemoAreIdentical)
{
    std::vector<Bytes> builds;
    for (const char* name : { "demo1.exe", "demo2.exe" }) {
        quillset::Project project = LoadProject(QUILLSET_DEMO, QUILLSET_SOURCE_TEXTS);
        BuildStats stats;
        std::string output = (folder_ / name).string();
        WritePackageFile(Runtime(), project, output, &stats);
        EXPECT_EQ(stats.filesIn, 5u);
        std::ifstream in(output, std::ios::binary);
        builds.emplace_back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    ASSERT_GT(builds[0].size(), 4096u);
    EXPECT_EQ(builds[0], builds[1]);
}

TEST_F(Builder, FramingStreamsAndChecksum)
{
    Bytes package = Build("[files]\nsource=files\\a.txt\n");
    const size_t p = 4096;
    EXPECT_EQ(package[0x12] | package[0x13] << 8, static_cast<int>(p));
    EXPECT_EQ(At32(package, p), 12u);
    EXPECT_EQ(At32(package, p + 8), 5000u);
    uint32_t scriptOffset = At32(package, p + 4);
    EXPECT_EQ(At32(package, 0x1C), At32(package, p + scriptOffset)) << "read size = script size";
    EXPECT_EQ(package[p + scriptOffset + 4], 0x78);
    EXPECT_EQ(package[p + scriptOffset + 5], 0xDA);
    Bytes tail(package.end() - 4, package.end());
    EXPECT_EQ(tail, (Bytes{ 0x00, 0x00, 0xFF, 0xFF }));
    EXPECT_EQ(At32(package, 0x24), Adler32(package.data() + 40, package.size() - 40));
    // The one file: compressed (5,000 repeated bytes shrink), ending in a sync flush.
    size_t entry = p + 12 + 20 + std::string("%InstallPath%").size() + 1;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&package[entry])), "a.txt");
    size_t flags = entry + 6 + 4;
    EXPECT_EQ(package[flags], 3);
    uint32_t stored = At32(package, flags + 1 + 36 + 8);
    size_t data = flags + 1 + 36 + 12;
    EXPECT_LT(stored, 5000u);
    EXPECT_EQ(At32(package, p), 12u);
    EXPECT_EQ(Bytes(package.begin() + data + stored - 4, package.begin() + data + stored),
              (Bytes{ 0x00, 0x00, 0xFF, 0xFF }));
    EXPECT_EQ(At32(package, p + 12), data + stored - p) << "the group ends where the script begins";
}

TEST_F(Builder, IncompressibleFilesAreStored)
{
    std::string noise;
    uint32_t x = 12345;
    for (int i = 0; i < 4000; i++) {
        x = x * 1103515245u + 12345u;
        noise += static_cast<char>(x >> 24);
    }
    Write("files/noise.bin", noise);
    Bytes package = Build("[files]\nsource=files\\noise.bin\n");
    size_t entry = 4096 + 12 + 20 + std::string("%InstallPath%").size() + 1;
    size_t flags = entry + std::string("noise.bin").size() + 1 + 4;
    EXPECT_EQ(package[flags], 1) << "stored as is";
    EXPECT_EQ(At32(package, flags + 1 + 36 + 8), 4000u);
}

TEST_F(Builder, CommandLineReportsProjectAndLine)
{
    std::string path = Project("[nonsense]\n");
    std::string errors = (folder_ / "stderr.txt").string();
    std::string command = std::string("\"") + QUILLSET_BUILD + "\" -q \"" + path + "\" 2>\"" + errors + "\"";
    int status = std::system(command.c_str());
    EXPECT_NE(status, 0);
    std::ifstream in(errors);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, path + ":3: unknown section [nonsense]");
    EXPECT_EQ(std::system((std::string("\"") + QUILLSET_BUILD + "\" --version >/dev/null").c_str()), 0);
}

}  // namespace
