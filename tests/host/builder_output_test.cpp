// quillset-build's output: files packed in pieces within bounded memory, read
// back as the runtime reads them; outputs that would replace an input refused;
// stale part files and links never followed; earlier outputs in a source folder
// left out; and no part file after a failed write, a lack of memory or a stop
// signal.
#include <gtest/gtest.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>
#include "package_reader.h"
#include "project.h"

namespace fs = std::filesystem;
using namespace quillset;

namespace {

Bytes ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The entries of PACKAGE (a 32-bit runtime image in front), contents inflated.
std::vector<ReadEntry> Entries(const Bytes& b)
{
    return ReadPackage(b).entries;
}

Bytes Noise(size_t size, uint32_t seed)
{
    Bytes out(size);
    for (auto& byte : out) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(seed >> 24);
    }
    return out;
}

// What a run of quillset-build left: its end and its messages.
struct Outcome {
    int status = -1;
    std::string errors;
    bool Exited(int code) const { return WIFEXITED(status) && WEXITSTATUS(status) == code; }
};

class BuilderOutput : public testing::Test {
protected:
    void SetUp() override
    {
        folder_ = fs::temp_directory_path() / ("quillset-output-" + std::to_string(::getpid()) + "-" +
                                               testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_ / "files" / "sub");
        Write("files/a.txt", std::string(5000, 'a'));
        Write("files/sub/b.txt", "bee");
        Bytes runtime(4096, 0);
        runtime[0] = 'M';
        runtime[1] = 'Z';
        WriteBytes("runtime.exe", runtime);
    }
    void TearDown() override { fs::remove_all(folder_); }
    void Write(const std::string& name, const std::string& content)
    {
        std::ofstream(folder_ / name, std::ios::binary) << content;
    }
    void WriteBytes(const std::string& name, const Bytes& content)
    {
        std::ofstream(folder_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
    }
    // A file of SIZE bytes that takes no room on the disk.
    void Sparse(const std::string& name, uint64_t size)
    {
        std::ofstream(folder_ / name).close();
        fs::resize_file(folder_ / name, size);
    }
    std::string Project(const std::string& body)
    {
        Write("p.qset", "[product]\nname=Demo\n" + body);
        return Path("p.qset");
    }
    std::string Path(const std::string& name) const { return (folder_ / name).string(); }
    bool Exists(const std::string& name) const
    {
        std::error_code error;
        return fs::exists(fs::symlink_status(folder_ / name, error));
    }

    // Runs quillset-build with ARGS (and the test's runtime and texts) for at
    // most SECONDS; PREPARE runs in the child before the program starts;
    // WHILE_RUNNING, when given, is called with the child's id every 10 ms.
    Outcome Build(std::vector<std::string> args, int seconds = 60, const std::function<void()>& prepare = nullptr,
              const std::function<void(pid_t)>& whileRunning = nullptr)
    {
        args.insert(args.begin(), { QUILLSET_BUILD, "--runtime", Path("runtime.exe"), "--texts", texts_ });
        std::string errors = Path("stderr.txt");
        pid_t child = fork();
        if (child == 0) {
            int fd = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, 2);
            signal(SIGINT, SIG_DFL);
            signal(SIGTERM, SIG_DFL);
            if (prepare)
                prepare();
            std::vector<char*> argv;
            for (auto& a : args)
                argv.push_back(&a[0]);
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        Outcome run;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (waitpid(child, &run.status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(child, SIGKILL);
                waitpid(child, &run.status, 0);
                ADD_FAILURE() << "quillset-build ran longer than " << seconds << " s";
                break;
            }
            if (whileRunning)
                whileRunning(child);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::ifstream in(errors);
        run.errors.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        fs::remove(errors);
        return run;
    }
    // A refused output: a clear message, exit code 1, nothing written.
    void ExpectRefused(const std::string& output, const std::string& message)
    {
        SCOPED_TRACE(output);
        Outcome run = Build({ "-o", output, Path("p.qset") });
        EXPECT_TRUE(run.Exited(1)) << run.errors;
        EXPECT_NE(run.errors.find(message), std::string::npos) << run.errors;
        EXPECT_FALSE(fs::exists(output + ".part"));
    }

    fs::path folder_;
    std::string texts_ = QUILLSET_SOURCE_TEXTS;
};

// A file larger than a piece, a compressible and an incompressible one,
// round-trips; a file of one piece is compressed exactly as a whole.
TEST_F(BuilderOutput, FilesOfSeveralPiecesRoundTripAndBuildsRepeat)
{
    std::string text;
    for (int i = 0; text.size() < 2500000; i++)
        text += "line " + std::to_string(i * 7919 % 100003) + " of a long text file\n";
    Write("files/long.txt", text);
    WriteBytes("files/noise.bin", Noise(2500000, 7));
    Write("files/empty.txt", "");
    std::string body = "[files]\nsource=files\\long.txt\nsource=files\\noise.bin\nsource=files\\a.txt\n"
                       "source=files\\empty.txt\n[files]\nsource=files\\long.txt\ndestination=%InstallPath%\\raw\n"
                       "compress=no\n";
    quillset::Project project = LoadProject(Project(body), QUILLSET_SOURCE_TEXTS);
    Bytes runtime = ReadAll(folder_ / "runtime.exe");
    BuildStats stats;
    WritePackageFile(runtime, project, Path("one.exe"), &stats);
    WritePackageFile(runtime, project, Path("two.exe"), &stats);
    Bytes package = ReadAll(folder_ / "one.exe");
    EXPECT_EQ(package, ReadAll(folder_ / "two.exe")) << "the same bytes whatever the threads did";
    std::vector<ReadEntry> entries = Entries(package);
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].flags, 3) << "compressed";
    EXPECT_LT(entries[0].stored, text.size() / 4);
    EXPECT_EQ(std::string(entries[0].content.begin(), entries[0].content.end()), text);
    EXPECT_EQ(entries[1].flags, 1) << "noise is stored as it is";
    EXPECT_EQ(entries[1].stored, 2500000u);
    EXPECT_EQ(entries[1].content, Noise(2500000, 7));
    EXPECT_EQ(entries[2].flags, 3);
    const size_t p = 4096;
    size_t at = p + 12 + 21 + std::string("%InstallPath%").size();
    at += entries[0].name.size() + 1 + 5 + 48 + entries[0].stored;
    at += entries[1].name.size() + 1 + 5 + 48 + entries[1].stored;
    at += entries[2].name.size() + 1 + 5 + 48;
    Bytes a(5000, 'a');
    EXPECT_EQ(Bytes(package.begin() + at, package.begin() + at + entries[2].stored), CompressStream(a));
    EXPECT_EQ(entries[3].flags, 1);
    EXPECT_EQ(entries[3].size, 0u);
    EXPECT_EQ(entries[4].destination, "%InstallPath%\\raw");
    EXPECT_EQ(entries[4].flags, 1) << "compress=no";
    EXPECT_EQ(std::string(entries[4].content.begin(), entries[4].content.end()), text);
    EXPECT_FALSE(Exists("one.exe.part"));
}

TEST_F(BuilderOutput, OutputThatWouldReplaceAnInputIsRefused)
{
    fs::copy(QUILLSET_SOURCE_TEXTS, folder_ / "texts");
    texts_ = Path("texts");
    Write("licence.txt", "Licence");
    Project("licence=licence.txt\n[files]\nsource=files\\a.txt\nsource=files\\sub\n");
    fs::create_hard_link(folder_ / "files" / "a.txt", folder_ / "hard.exe");
    fs::create_symlink(folder_ / "files" / "a.txt", folder_ / "soft.exe");
    Bytes before = ReadAll(folder_ / "files" / "a.txt");
    ExpectRefused(Path("p.qset"), "the project file");
    ExpectRefused(Path("files/a.txt"), "p.qset:5: the output \"" + Path("files/a.txt") + "\" would replace the source file");
    ExpectRefused(Path("files/sub/../a.txt"), "would replace the source file");
    ExpectRefused(Path("hard.exe"), "p.qset:5: the output");
    ExpectRefused(Path("soft.exe"), "p.qset:5: the output");
    ExpectRefused(Path("files/sub/b.txt"), "p.qset:6: the output");   // in a folder source
    ExpectRefused(Path("runtime.exe"), "would replace the runtime image");
    ExpectRefused(Path("licence.txt"), "would replace the input file");
    ExpectRefused(Path("texts/english.txt"), "would replace the input file");
    ExpectRefused(Path("files"), "is a folder");
    // The part file beside the output may not be an input either: it would be removed.
    Write("x.exe.part", "a named source");
    Project("[files]\nsource=x.exe.part\n");
    Outcome run = Build({ "-o", Path("x.exe"), Path("p.qset") });
    EXPECT_TRUE(run.Exited(1));
    EXPECT_EQ(run.errors, Path("p.qset") + ":4: the output \"" + Path("x.exe.part") + "\" would replace the source file \"" +
                              Path("x.exe.part") + "\"; choose another output\n");
    EXPECT_EQ(ReadAll(folder_ / "x.exe.part").size(), 14u);
    EXPECT_EQ(ReadAll(folder_ / "files" / "a.txt"), before);
    EXPECT_EQ(ReadAll(folder_ / "runtime.exe").size(), 4096u);
    EXPECT_FALSE(Exists("x.exe"));
}

TEST_F(BuilderOutput, StalePartFileOrLinkIsReplacedNeverFollowed)
{
    Project("[files]\nsource=files\\a.txt\n");
    Write("victim.txt", "must stay");
    fs::create_symlink(folder_ / "victim.txt", folder_ / "out.exe.part");
    Outcome run = Build({ "-q", "-o", Path("out.exe"), Path("p.qset") });
    EXPECT_TRUE(run.Exited(0)) << run.errors;
    EXPECT_EQ(ReadAll(folder_ / "victim.txt"), Bytes({ 'm', 'u', 's', 't', ' ', 's', 't', 'a', 'y' }));
    EXPECT_FALSE(Exists("out.exe.part"));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(folder_ / "out.exe")));
    EXPECT_EQ(Entries(ReadAll(folder_ / "out.exe")).at(0).name, "a.txt");

    // A link to where nothing is yet: nothing is created there.
    fs::create_symlink(folder_ / "planted.txt", folder_ / "out.exe.part");
    EXPECT_TRUE(Build({ "-q", "-o", Path("out.exe"), Path("p.qset") }).Exited(0));
    EXPECT_FALSE(Exists("planted.txt"));

    Write("out.exe.part", "left by a killed build");
    EXPECT_TRUE(Build({ "-q", "-o", Path("out.exe"), Path("p.qset") }).Exited(0));
    EXPECT_FALSE(Exists("out.exe.part"));

    fs::create_directory(folder_ / "out.exe.part");
    Write("out.exe.part/keep.txt", "kept");
    run = Build({ "-q", "-o", Path("out.exe"), Path("p.qset") });
    EXPECT_TRUE(run.Exited(1));
    EXPECT_NE(run.errors.find("is in the way of the output: it is neither a file nor a link"), std::string::npos)
        << run.errors;
    EXPECT_TRUE(Exists("out.exe.part/keep.txt"));
}

// Earlier outputs inside a source folder are left out (named with -v): the
// second build is the first one again.
TEST_F(BuilderOutput, EarlierOutputInsideASourceFolderIsLeftOut)
{
    Project("[files]\nsource=files\n");
    Bytes unfinished = ReadAll(folder_ / "runtime.exe");   // as a killed build leaves it: the offset set, no header yet
    unfinished[0x13] = 0x10;
    unfinished.resize(4096 + 12 + 1000);
    WriteBytes("files/old.exe.part", unfinished);
    Write("files/notes.part", "not a package: packed");
    Outcome first = Build({ "-q", "-o", Path("files/setup.exe"), Path("p.qset") });
    ASSERT_TRUE(first.Exited(0)) << first.errors;
    Bytes package = ReadAll(folder_ / "files" / "setup.exe");
    Outcome second = Build({ "-v", "-o", Path("files/setup.exe"), Path("p.qset") });
    ASSERT_TRUE(second.Exited(0)) << second.errors;
    EXPECT_EQ(ReadAll(folder_ / "files" / "setup.exe"), package);
    EXPECT_NE(second.errors.find(Path("files") + "/setup.exe: left out, it is the output itself"), std::string::npos)
        << second.errors;
    EXPECT_NE(second.errors.find(Path("files") + "/old.exe.part: left out, an unfinished package of an earlier build"),
              std::string::npos)
        << second.errors;
    std::vector<std::string> names;
    for (const auto& e : Entries(package))
        names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{ "files", "a.txt", "notes.part", "sub", "b.txt" }));
}

TEST_F(BuilderOutput, VerboseNamesTheRuntimeTextsAndOutputUsed)
{
    Project("[files]\nsource=files\\a.txt\n[files]\nsource=files\\sub\ndestination=%InstallPath%\\data\\\n");
    Outcome run = Build({ "-v", Path("p.qset") });
    ASSERT_TRUE(run.Exited(0)) << run.errors;
    EXPECT_NE(run.errors.find(Path("files/a.txt") + " -> %InstallPath%\\a.txt\n" + Path("files/sub") +
                              " -> %InstallPath%\\data\\sub\n" + Path("files/sub/b.txt") +
                              " -> %InstallPath%\\data\\sub\\b.txt\n"),
              std::string::npos)
        << "where each file and folder lands: " << run.errors;
    EXPECT_NE(run.errors.find("runtime: " + Path("runtime.exe") + " (given with --runtime)\n"), std::string::npos)
        << run.errors;
    EXPECT_NE(run.errors.find("texts: " + fs::canonical(QUILLSET_SOURCE_TEXTS).string() + " (given with --texts)\n"),
              std::string::npos)
        << run.errors;
    EXPECT_NE(run.errors.find("output: " + Path("p.exe") + "\n"), std::string::npos) << "the project's name, .exe";
    EXPECT_TRUE(Exists("p.exe"));

    // A copy of the program elsewhere says where its texts come from: its
    // build's source tree until texts lie beside it.
    fs::create_directory(folder_ / "bin");
    fs::copy_file(QUILLSET_BUILD, folder_ / "bin" / "quillset-build");
    auto verbose = [&] {
        std::string errors = Path("copy.txt");
        std::string command = "\"" + Path("bin/quillset-build") + "\" -v --runtime \"" + Path("runtime.exe") + "\" -o \"" +
                              Path("copy.exe") + "\" \"" + Path("p.qset") + "\" 2>\"" + errors + "\"";
        EXPECT_EQ(std::system(command.c_str()), 0);
        std::ifstream in(errors);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    std::string errors = verbose();
    EXPECT_NE(errors.find("texts: " + fs::canonical(QUILLSET_SOURCE_TEXTS).string() +
                          " (the source tree this program was built from)"),
              std::string::npos)
        << errors;
    fs::copy(QUILLSET_SOURCE_TEXTS, folder_ / "bin" / "texts");
    errors = verbose();
    EXPECT_NE(errors.find("texts: " + Path("bin/texts") + " (beside this program)"), std::string::npos) << errors;
}

TEST_F(BuilderOutput, SourceGoneOrUnreadableAtWriteTimeNamesFileLineAndReason)
{
    quillset::Project project =
        LoadProject(Project("[files]\nsource=files\\a.txt\nsource=files\\sub\\b.txt\n"), QUILLSET_SOURCE_TEXTS);
    fs::remove(folder_ / "files" / "sub" / "b.txt");
    BuildStats stats;
    try {
        WritePackageFile(ReadAll(folder_ / "runtime.exe"), project, Path("out.exe"), &stats);
        FAIL() << "no error";
    } catch (const BuildError& e) {
        EXPECT_EQ(e.where(), Path("p.qset") + ":5: cannot read \"" + project.groups[0].files[1].path +
                                 "\": No such file or directory");
    }
    EXPECT_FALSE(Exists("out.exe"));
    EXPECT_FALSE(Exists("out.exe.part"));

    // Replaced by a pipe after the plan: refused at once, never waited on.
    ASSERT_EQ(mkfifo((folder_ / "files" / "sub" / "b.txt").c_str(), 0644), 0);
    try {
        WritePackageFile(ReadAll(folder_ / "runtime.exe"), project, Path("out.exe"), &stats);
        FAIL() << "no error";
    } catch (const BuildError& e) {
        EXPECT_EQ(e.where(), Path("p.qset") + ":5: \"" + project.groups[0].files[1].path +
                                 "\" is no longer a regular file");
    }
    EXPECT_FALSE(Exists("out.exe.part"));
    if (geteuid() == 0)
        return;   // permissions do not keep the superuser out
    fs::remove(folder_ / "files" / "sub" / "b.txt");
    Write("files/sub/b.txt", "bee");
    fs::permissions(folder_ / "files" / "sub" / "b.txt", fs::perms::none);
    try {
        WritePackageFile(ReadAll(folder_ / "runtime.exe"), project, Path("out.exe"), &stats);
        FAIL() << "no error";
    } catch (const BuildError& e) {
        EXPECT_NE(std::string(e.where()).find(":5: cannot read \""), std::string::npos) << e.where();
        EXPECT_NE(std::string(e.what()).find(std::strerror(EACCES)), std::string::npos) << e.what();
    }
    EXPECT_FALSE(Exists("out.exe.part"));
}

// A write that fails (here: beyond the file size limit, as a full disk would)
// is reported with the part file and the system's reason, and leaves the
// earlier output as it was.
TEST_F(BuilderOutput, FailingWriteLeavesNothingBehind)
{
    WriteBytes("files/noise.bin", Noise(3 << 20, 11));
    Project("[files]\nsource=files\\noise.bin\n");
    Write("out.exe", "earlier output");
    Outcome run = Build({ "-q", "-o", Path("out.exe"), Path("p.qset") }, 60, [] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = { 1 << 20, 1 << 20 };
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_TRUE(run.Exited(1)) << run.errors;
    EXPECT_EQ(run.errors, Path("p.qset") + ": cannot write \"" + Path("out.exe.part") + "\": " + std::strerror(EFBIG) + "\n");
    EXPECT_FALSE(Exists("out.exe.part"));
    EXPECT_EQ(ReadAll(folder_ / "out.exe"), Bytes({ 'e', 'a', 'r', 'l', 'i', 'e', 'r', ' ', 'o', 'u', 't', 'p', 'u', 't' }));

    // An output folder that cannot take the part file.
    run = Build({ "-q", "-o", Path("missing/out.exe"), Path("p.qset") });
    EXPECT_TRUE(run.Exited(1));
    EXPECT_EQ(run.errors, Path("p.qset") + ": cannot create \"" + Path("missing/out.exe.part") + "\": " +
                              std::strerror(ENOENT) + "\n");
}

// Whatever the memory runs short at, the build ends with a message: no
// abort, no part file.
TEST_F(BuilderOutput, RunningOutOfMemoryIsAnErrorNotACrash)
{
    WriteBytes("files/noise.bin", Noise(3 << 20, 5));
    Sparse("files/zeros.bin", 5 << 20);
    Project("[files]\nsource=files\\noise.bin\nsource=files\\zeros.bin\n");
    for (rlim_t mebibytes : { 12, 16, 24, 32, 40, 64, 256 }) {
        SCOPED_TRACE(mebibytes);
        Outcome run = Build({ "-q", "-o", Path("out.exe"), Path("p.qset") }, 60, [mebibytes] {
            struct rlimit limit = { mebibytes << 20, mebibytes << 20 };
            setrlimit(RLIMIT_AS, &limit);
        });
        ASSERT_TRUE(WIFEXITED(run.status)) << "ended by signal " << WTERMSIG(run.status) << ": " << run.errors;
        if (WEXITSTATUS(run.status) == 127) {
            EXPECT_NE(run.errors.find("error while loading shared libraries"), std::string::npos) << run.errors;
        } else if (WEXITSTATUS(run.status) == 0) {
            EXPECT_EQ(Entries(ReadAll(folder_ / "out.exe")).size(), 2u);
        } else {
            EXPECT_EQ(WEXITSTATUS(run.status), 1);
            EXPECT_TRUE(run.errors.find(std::strerror(ENOMEM)) != std::string::npos ||
                        run.errors.find("cannot start a compressing thread") != std::string::npos ||
                        run.errors.find(std::strerror(EAGAIN)) != std::string::npos)
                << run.errors;
            EXPECT_FALSE(Exists("out.exe"));
        }
        EXPECT_FALSE(Exists("out.exe.part"));
        fs::remove(folder_ / "out.exe");
    }
}

// A 1 GB file packs in an address space of 256 MiB: memory does not grow
// with the file. (tests/bench/builder-memory measures 3 GB.)
TEST_F(BuilderOutput, LargeFilePacksInBoundedMemory)
{
    const uint64_t size = 1000000000;
    Sparse("files/large.bin", size);
    Project("[files]\nsource=files\\large.bin\n");
    Outcome run = Build({ "-q", "-o", Path("out.exe"), Path("p.qset") }, 120, [] {
        struct rlimit limit = { 256 << 20, 256 << 20 };
        setrlimit(RLIMIT_AS, &limit);
    });
    ASSERT_TRUE(run.Exited(0)) << run.errors;
    Bytes package = ReadAll(folder_ / "out.exe");
    const size_t p = 4096, e = p + 12 + 21 + std::string("%InstallPath%").size() + std::string("large.bin").size() + 1;
    ASSERT_EQ(package[e + 4], 3);
    EXPECT_EQ(At32(package, e + 5 + 32), size);
    uint32_t stored = At32(package, e + 5 + 44);
    bool zeros = true;
    uint64_t out = InflateLikeTheRuntime(&package[e + 5 + 48], stored, [&](const uint8_t* d, size_t n) {
        zeros = zeros && std::all_of(d, d + n, [](uint8_t b) { return b == 0; });
    });
    EXPECT_EQ(out, size);
    EXPECT_TRUE(zeros);
    EXPECT_EQ(At32(package, 0x24), Adler32(package.data() + 40, package.size() - 40));
}

TEST_F(BuilderOutput, DataBeyondFourGibibytesIsRefusedBeforeWriting)
{
    Sparse("files/one.bin", 2500000000ull);
    Sparse("files/two.bin", 2500000000ull);
    Project("[files]\nsource=files\\one.bin\nsource=files\\two.bin\n");
    Outcome run = Build({ "-q", "-o", Path("out.exe"), Path("p.qset") });
    EXPECT_TRUE(run.Exited(1));
    EXPECT_EQ(run.errors, Path("p.qset") + ": the files total more than the 4 GiB that the package's 32-bit offsets "
                                           "and sizes can address\n");
    EXPECT_FALSE(Exists("out.exe"));
    EXPECT_FALSE(Exists("out.exe.part"));
}

TEST_F(BuilderOutput, StopSignalRemovesThePartFile)
{
    Sparse("files/large.bin", 3000000000ull);
    Project("[files]\nsource=files\\large.bin\n");
    for (int stop : { SIGTERM, SIGINT }) {
        SCOPED_TRACE(stop);
        bool sent = false;
        Outcome run = Build({ "-q", "-o", Path("out.exe"), Path("p.qset") }, 60, nullptr, [&](pid_t child) {
            if (!sent && Exists("out.exe.part")) {
                kill(child, stop);
                sent = true;
            }
        });
        ASSERT_TRUE(sent) << "the part file never appeared";
        EXPECT_TRUE(WIFSIGNALED(run.status) && WTERMSIG(run.status) == stop) << run.status << run.errors;
        EXPECT_FALSE(Exists("out.exe.part"));
        EXPECT_FALSE(Exists("out.exe"));
    }
}

}  // namespace
