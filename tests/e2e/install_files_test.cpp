// The installer's file stage end to end: packages built by the builder
// library, installed under Wine, and what they leave behind checked: files
// with their contents, times and attributes, folders, the install log, the
// overwrite rules, the uninstall entry, files in use, a full disk, denied
// access, damaged data, and packages too large for memory.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <zlib.h>
#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <sstream>
#include "fixture_path.h"
#include "install_fixture.h"
#include "package_fixture.h"
#include "../../resources/ids.h"

namespace {

using namespace e2e;
using quillset::Bytes;

const uint64_t kDay = 864000000000ull;   // in FILETIME units
const char kLogHeader[] = "=== Quillset log file ===";
const char kPendingKey[] = "System\\CurrentControlSet\\Control\\Session Manager";
const char kSharedDllsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

std::string RandomBytes(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string out(size, '\0');
    for (char& c : out)
        c = static_cast<char>(random());
    return out;
}

// Text that compresses well but not to nothing.
std::string WordText(size_t size, unsigned seed)
{
    static const char* kWords[] = { "quill", "set", "install", "folder", "file", "group", "entry",
                                    "stream", "package", "version", "time", "log" };
    std::mt19937 random(seed);
    std::string out;
    while (out.size() < size) {
        out += kWords[random() % 12];
        out += random() % 9 ? ' ' : '\n';
    }
    out.resize(size);
    return out;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string Upper(std::string text)
{
    CharUpperBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// What a run showed, for failure messages.
std::string Describe(const InstallRun& run)
{
    std::string out = "exit code " + std::to_string(run.exitCode) + " after " + std::to_string(run.milliseconds) +
                      " ms; messages:";
    for (const SeenBox& box : run.boxes) {
        // Texts in code page 936 as escapes: the console may drop them.
        out += "\n  [";
        for (unsigned char c : box.view.text) {
            char escaped[8];
            snprintf(escaped, sizeof(escaped), c < 0x80 ? "%c" : "\\x%02X", c);
            out += escaped;
        }
        out += "] answered " + std::to_string(box.answer);
    }
    return out;
}

// The system's text for CODE, as the runtime gets it.
std::string SystemText(DWORD code)
{
    char* text = nullptr;
    std::string out;
    if (FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0,
                       reinterpret_cast<LPSTR>(&text), 0, nullptr)) {
        out = text;
        LocalFree(text);
    }
    return out;
}

bool IsWow64()
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

uint32_t U32(const Bytes& b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// A file that another process is writing.
std::string ReadShared(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "";
    std::string text(GetFileSize(file, nullptr), '\0');
    DWORD got = 0;
    if (!text.empty() && !ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &got, nullptr))
        got = 0;
    text.resize(got);
    CloseHandle(file);
    return text;
}

// The texts of the temporary logs among the temporary files not in BEFORE.
std::vector<std::string> NewTemporaryLogs(const std::vector<std::string>& before)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::vector<std::string> logs;
    for (const std::string& name : TempFiles())
        if (std::find(before.begin(), before.end(), name) == before.end()) {
            std::string text = ReadShared(std::string(temp) + name);
            if (StartsWith(text, kLogHeader))
                logs.push_back(text);
        }
    return logs;
}

std::vector<std::string> NewTempFiles(const std::vector<std::string>& before)
{
    std::vector<std::string> added;
    for (const std::string& name : TempFiles())
        if (std::find(before.begin(), before.end(), name) == before.end())
            added.push_back(name);
    return added;
}

// The Unix path of a Windows path under Wine; empty elsewhere.
std::string UnixPath(const std::string& path)
{
    typedef char*(CDECL * UnixName)(const WCHAR*);
    auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!unixName)
        return "";
    std::wstring wide(path.size() + 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
    char* name = unixName(wide.c_str());
    std::string out = name ? name : "";
    if (name)
        HeapFree(GetProcessHeap(), 0, name);
    return out;
}


// Runs SCRIPT with the Unix shell under Wine and waits a bounded time for
// its end, which a file it touches last tells: Wine gives no handle to wait
// on for a Unix process. False when it did not end in time.
bool RunUnixScript(const std::string& script)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string marker = std::string(temp) + "qs-unix-done.txt";
    DeleteFileA(marker.c_str());
    std::string commandLine = "/bin/sh -c \"" + script + "; touch '" + UnixPath(marker) + "'\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return false;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    for (DWORD start = GetTickCount(); GetTickCount() - start < 30000; Sleep(20))
        if (DeleteFileA(marker.c_str()))
            return true;
    return false;
}

// Starts a Windows program and waits a bounded time for its end.
void RunAndWait(std::string commandLine, DWORD ms)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return;
    if (WaitForSingleObject(info.hProcess, ms) != WAIT_OBJECT_0)
        TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
}

// Samples of the installing page's progress bar, taken from outside.
struct ProgressTrace {
    std::vector<int> samples;
    HWND frame = nullptr;
    void Sample(HWND shown)
    {
        if (shown)
            frame = shown;
        int position = Position(frame);
        if (position >= 0)
            samples.push_back(position);
    }
    // The bar's position; -1 when there is none. A bar whose page is being
    // destroyed answers 0: a reading counts only when the bar is still
    // shown afterwards (a window that was hidden is never shown again).
    static int Position(HWND frame)
    {
        HWND bar = GetDlgItem(CurrentPage(frame), IDC_PROGRESS);
        DWORD_PTR position = 0;
        if (!bar || !SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &position))
            return -1;
        return IsWindowVisible(bar) ? static_cast<int>(position) : -1;
    }
    bool Monotonic() const { return std::is_sorted(samples.begin(), samples.end()); }
    size_t Distinct() const { return std::set<int>(samples.begin(), samples.end()).size(); }
    std::string Text() const
    {
        std::string out;
        for (int s : samples)
            out += std::to_string(s) + " ";
        return out;
    }
};

// The largest working set and private memory of a process seen from outside.
struct MemoryPeak {
    SIZE_T workingSet = 0, privateBytes = 0;
    void Sample(HANDLE process)
    {
        typedef BOOL(WINAPI * Query)(HANDLE, PPROCESS_MEMORY_COUNTERS, DWORD);
        static Query query = reinterpret_cast<Query>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "K32GetProcessMemoryInfo")));
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof(counters);
        if (!query || !query(process, &counters, sizeof(counters)))
            return;
        workingSet = std::max({ workingSet, counters.PeakWorkingSetSize, counters.WorkingSetSize });
        privateBytes = std::max({ privateBytes, counters.PeakPagefileUsage, counters.PagefileUsage });
    }
};

// ---------------------------------------------------------------------------
// Packages whose files are generated while the package is written: the
// script comes from the builder library, file data from a generator, and
// stored zeros are left as holes of a sparse file, so that packages of
// gigabytes cost neither memory nor much disk.

enum class Fill { Zeros, Pattern };

struct BigFile {
    std::string name;
    uint64_t size;
    Fill fill;
    bool compressed;
};

struct BigGroup {
    std::string destination;
    std::vector<BigFile> files;
};

// Blocks of 4096 bytes: the block's index in 8 bytes, then the same 4088
// pseudo-random bytes; compresses about 100 to 1 and shows misplaced data.
void FillPattern(uint64_t offset, uint8_t* out, size_t size)
{
    static const std::string block = RandomBytes(4096, 7);
    for (size_t i = 0; i < size;) {
        uint64_t at = offset + i, index = at / 4096;
        size_t inBlock = static_cast<size_t>(at % 4096), take = std::min<size_t>(size - i, 4096 - inBlock);
        memcpy(out + i, block.data() + inBlock, take);
        for (size_t k = inBlock; k < 8 && k < inBlock + take; k++)
            out[i + k - inBlock] = static_cast<uint8_t>(index >> (8 * k));
        i += take;
    }
}

void FillData(Fill fill, uint64_t offset, uint8_t* out, size_t size)
{
    if (fill == Fill::Zeros)
        memset(out, 0, size);
    else
        FillPattern(offset, out, size);
}

// A zlib stream as the runtime reads it: sync flush at the end, no trailer.
Bytes DeflateGenerated(const BigFile& file)
{
    z_stream z{};
    deflateInit2(&z, 1, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
    Bytes out;
    std::vector<uint8_t> in(1 << 20), buffer(1 << 20);
    auto drain = [&](int flush) {
        do {
            z.next_out = buffer.data();
            z.avail_out = static_cast<uInt>(buffer.size());
            deflate(&z, flush);
            out.insert(out.end(), buffer.data(), buffer.data() + buffer.size() - z.avail_out);
        } while (z.avail_out == 0);
    };
    for (uint64_t done = 0; done < file.size;) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(in.size(), file.size - done));
        FillData(file.fill, done, in.data(), n);
        z.next_in = in.data();
        z.avail_in = static_cast<uInt>(n);
        drain(Z_NO_FLUSH);
        done += n;
    }
    drain(Z_SYNC_FLUSH);
    deflateEnd(&z);
    return out;
}

class PackageStream {
public:
    explicit PackageStream(const std::string& path)
        : file_(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr))
    {
    }
    ~PackageStream()
    {
        if (file_ != INVALID_HANDLE_VALUE)
            CloseHandle(file_);
    }
    bool ok() const { return file_ != INVALID_HANDLE_VALUE && ok_; }
    void Put(const void* data, size_t size)
    {
        const uint8_t* bytes = static_cast<const uint8_t*>(data);
        DWORD written = 0;
        ok_ = ok_ && WriteFile(file_, bytes, static_cast<DWORD>(size), &written, nullptr) && written == size;
        size_t skip = position_ < 40 ? static_cast<size_t>(std::min<uint64_t>(size, 40 - position_)) : 0;
        sum_ = adler32(sum_, bytes + skip, static_cast<uInt>(size - skip));
        position_ += size;
    }
    void Put(const Bytes& bytes) { Put(bytes.data(), bytes.size()); }
    // A run of zeros left as a hole: Adler-32 over N zeros keeps its low
    // half and adds N times it to the high half.
    void Zeros(uint64_t size)
    {
        LARGE_INTEGER move;
        move.QuadPart = static_cast<LONGLONG>(size);
        ok_ = ok_ && SetFilePointerEx(file_, move, nullptr, FILE_CURRENT);
        uint64_t a = sum_ & 0xFFFF, b = sum_ >> 16;
        b = (b + (size % 65521) * a) % 65521;
        sum_ = static_cast<uLong>(b << 16 | a);
        position_ += size;
    }
    void Patch(uint64_t at, uint32_t value)
    {
        LARGE_INTEGER move;
        move.QuadPart = static_cast<LONGLONG>(at);
        DWORD written = 0;
        ok_ = ok_ && SetFilePointerEx(file_, move, nullptr, FILE_BEGIN) && WriteFile(file_, &value, 4, &written, nullptr);
    }
    uint32_t checksum() const { return static_cast<uint32_t>(sum_); }

private:
    HANDLE file_;
    bool ok_ = true;
    uint64_t position_ = 0;
    uLong sum_ = 1;
};

// Writes PROJECT's script behind GROUPS of generated files to
// PROJECT.folder\setup.exe; empty on failure.
std::string WriteGeneratedPackage(const InstallProject& project, const std::vector<BigGroup>& groups,
                                  std::string* error)
{
    quillset::Project compiled;
    if (!project.Compile(&compiled, error))
        return "";
    const Bytes& script = compiled.script;
    Bytes runtime;
    if (!quillset::PlaceRuntime(RuntimeImage(), &runtime, error))
        return "";
    for (int i = 0; i < 4; i++)
        runtime[0x1C + i] = static_cast<uint8_t>(script.size() >> (8 * i));

    // Everything's size is known before anything is written.
    struct Planned {
        Bytes header, data;
        uint64_t stored;
    };
    std::vector<std::vector<Planned>> planned;
    std::vector<Bytes> groupHeaders;
    uint64_t offset = 12, unpacked = 0;
    for (const BigGroup& group : groups) {
        quillset::FileGroup fileGroup;
        fileGroup.destination = group.destination;
        groupHeaders.push_back(quillset::GroupHeader(fileGroup));
        offset += groupHeaders.back().size();
        planned.emplace_back();
        for (const BigFile& file : group.files) {
            Planned entry;
            if (file.compressed)
                entry.data = DeflateGenerated(file);
            entry.stored = file.compressed ? entry.data.size() : file.size;
            quillset::PackageEntry header;
            header.name = file.name;
            header.creationTime = header.accessTime = header.writeTime = FileTimeOf(2020, 5, 6);
            entry.header = quillset::EntryHeader(header, static_cast<uint32_t>(file.size),
                                                 static_cast<uint32_t>(entry.stored), file.compressed);
            offset += entry.header.size() + entry.stored;
            unpacked += file.size;
            planned.back().push_back(std::move(entry));
        }
        uint32_t next = static_cast<uint32_t>(offset);
        memcpy(groupHeaders.back().data(), &next, 4);
    }
    if (offset > 0xFFFFFFFFull) {
        *error = "the generated files do not fit a package";
        return "";
    }
    std::string path = project.folder + "\\setup.exe";
    PackageStream out(path);
    out.Put(runtime);
    uint32_t header[3] = { 12, static_cast<uint32_t>(offset), static_cast<uint32_t>(unpacked) };
    out.Put(header, sizeof(header));
    for (size_t g = 0; g < groups.size(); g++) {
        out.Put(groupHeaders[g]);
        for (size_t f = 0; f < groups[g].files.size(); f++) {
            const BigFile& file = groups[g].files[f];
            out.Put(planned[g][f].header);
            if (file.compressed) {
                out.Put(planned[g][f].data);
            } else if (file.fill == Fill::Zeros) {
                out.Zeros(file.size);
            } else {
                std::vector<uint8_t> buffer(1 << 20);
                for (uint64_t done = 0; done < file.size;) {
                    size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), file.size - done));
                    FillPattern(done, buffer.data(), n);
                    out.Put(buffer.data(), n);
                    done += n;
                }
            }
        }
    }
    Bytes block;
    quillset::ScriptWriter::putU32(block, static_cast<uint32_t>(script.size()));
    Bytes stream = quillset::CompressStream(script);
    block.insert(block.end(), stream.begin(), stream.end());
    out.Put(block);
    out.Patch(0x24, out.checksum());
    if (!out.ok()) {
        *error = "writing " + path + " failed";
        return "";
    }
    return path;
}

// Whether the file at PATH holds exactly what FILE generates.
::testing::AssertionResult HoldsGenerated(const std::string& path, const BigFile& file)
{
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return ::testing::AssertionFailure() << path << " is missing";
    std::vector<uint8_t> got(1 << 20), expected(1 << 20);
    uint64_t done = 0;
    DWORD read = 0;
    bool same = true;
    while (same && ReadFile(handle, got.data(), static_cast<DWORD>(got.size()), &read, nullptr) && read) {
        FillData(file.fill, done, expected.data(), read);
        same = done + read <= file.size && memcmp(got.data(), expected.data(), read) == 0;
        done += read;
    }
    CloseHandle(handle);
    if (!same || done != file.size)
        return ::testing::AssertionFailure() << path << " differs from the generated data near byte " << done;
    return ::testing::AssertionSuccess();
}

// ---------------------------------------------------------------------------

struct FileTest : ::testing::Test {
    // The source files under FOLDER\src with their last-write times.
    std::string Source(const InstallProject& project, const std::string& relative, const std::string& bytes,
                       uint64_t time)
    {
        std::string path = project.Source("src\\" + relative, bytes);
        EXPECT_TRUE(SetFileTimes(path, time)) << path;
        return path;
    }
};

// One install of files of every kind: their bytes, times and attributes,
// the folders, the log in every detail, the uninstall entry and the
// uninstaller image.
TEST_F(FileTest, ContentsTimesAttributesFoldersLogAndUninstallEntry)
{
    InstallProject project("Files");
    const uint64_t t = FileTimeOf(2004, 7, 8, 9, 10);
    struct Expected {
        std::string relative, bytes;
        uint64_t time;
        uint32_t attributes;
    };
    std::vector<Expected> expected = {
        { "files\\big.txt", WordText(3 << 20, 1), t + 1 * kDay, 0x20 },      // compressed, several pieces
        { "files\\bignoise.bin", RandomBytes((5 << 20) / 2, 2), t + 2 * kDay, 0x20 },   // stored, several pieces
        { "files\\empty.txt", "", t + 3 * kDay, 0x20 },
        { "files\\hidden.txt", "hidden and system", t + 4 * kDay, 0x26 },
        { "files\\noise.bin", RandomBytes(65536, 3), t + 5 * kDay, 0x20 },
        { "files\\readme.txt", WordText(20000, 4), t + 6 * kDay, 0x20 },
        { "files\\readonly.txt", "read only", t + 7 * kDay, 0x21 },
        { "files\\sub\\mid.txt", "middle", t + 8 * kDay, 0x20 },
        { "files\\sub\\deeper\\deep.txt", WordText(5000, 5), t + 9 * kDay, 0x20 },
        { "stored\\stored.txt", WordText(30000, 6), t + 10 * kDay, 0x20 },
        { "Data\\one.txt", "one", t + 11 * kDay, 0x20 },
        { "DATA\\two.txt", "two", t + 12 * kDay, 0x20 },
    };
    for (const Expected& e : expected) {
        std::string source = e.relative == "Data\\one.txt"  ? "case1\\one.txt"
                             : e.relative == "DATA\\two.txt" ? "case2\\two.txt"
                             : e.relative == "stored\\stored.txt" ? "plain\\stored.txt"
                                                                  : e.relative;
        std::string path = Source(project, source, e.bytes, e.time);
        if (e.attributes & FILE_ATTRIBUTE_READONLY)
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    }
    CreateDirectoryA((project.folder + "\\src\\lonely").c_str(), nullptr);
    const std::string specialName = "qs-e2e-special-folder.txt";
    Source(project, "special\\" + specialName, "in the special folder itself", t);
    project.sections = "[files]\nsource=src\\files\n\n"
                       "[files]\nsource=src\\lonely\n\n"
                       "[files]\nsource=src\\plain\\stored.txt\ndestination=%InstallPath%\\stored\ncompress=no\n\n"
                       "[files]\nsource=src\\special\\" + specialName + "\ndestination=<ProgramFiles>\n\n"
                       "[files]\nsource=src\\case1\\one.txt\ndestination=%InstallPath%\\Data\n\n"
                       "[files]\nsource=src\\case2\\two.txt\ndestination=%InstallPath%\\DATA\n";
    project.edit = [](quillset::Project& compiled) {
        auto& files = compiled.groups[0].files;
        for (auto& f : files)
            if (f.entry.name == "hidden.txt")
                f.entry.attributes = 0x26;   // archive, hidden, system
        // An empty folder two levels down: level 2 is still "sub" at the end.
        quillset::SourceFile empty;
        empty.entry.name = "void";
        empty.entry.isFile = false;
        empty.entry.parentIndex = 2;
        files.push_back(empty);
    };
    std::string error;
    std::string package = project.Build(&error);
    ASSERT_FALSE(package.empty()) << error;
    Bytes packageBytes = ReadFileBytes(package);
    std::vector<quillset::ReadEntry> packed = quillset::ReadPackage(packageBytes).entries;
    auto compressed = [&](const std::string& name) {
        return (std::find_if(packed.begin(), packed.end(), [&](const quillset::ReadEntry& e) { return e.name == name; })
                    ->flags & ENTRY_COMPRESSED) != 0;
    };
    ASSERT_TRUE(compressed("big.txt"));
    ASSERT_TRUE(compressed("readme.txt"));
    ASSERT_FALSE(compressed("bignoise.bin"));
    ASSERT_FALSE(compressed("stored.txt"));
    ASSERT_FALSE(compressed("empty.txt"));

    std::vector<std::string> tempBefore = TempFiles();
    InstallRun run = RunInstaller(package);
    SCOPED_TRACE(Describe(run));
    ASSERT_EQ(run.exitCode, 0);
    for (const SeenBox& box : run.boxes)
        ADD_FAILURE() << "unexpected message: " << box.view.text;

    // Times and attributes before anything reads the files.
    const std::string& ip = project.installPath;
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.relative);
        FileInfo info = ReadFileInfo(ip + "\\" + e.relative);
        ASSERT_TRUE(info.exists);
        EXPECT_EQ(info.write, e.time);
        EXPECT_EQ(info.access, e.time);
        EXPECT_EQ(info.creation, e.time);
        EXPECT_EQ(info.attributes, e.attributes);
        EXPECT_EQ(info.size, e.bytes.size());
    }
    // Exactly these folders and files, with the packaged bytes.
    std::map<std::string, TreeItem> tree = ListTree(ip);
    std::set<std::string> names;
    for (const auto& item : tree)
        names.insert(Upper(item.first));
    std::set<std::string> wanted = { "FILES", "FILES\\SUB", "FILES\\SUB\\DEEPER", "FILES\\SUB\\VOID", "LONELY",
                                     "STORED", "DATA", "UNINSTALL.EXE", "UNINSTALL.LOG" };
    for (const Expected& e : expected)
        wanted.insert(Upper(e.relative));
    EXPECT_EQ(names, wanted);
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.relative);
        EXPECT_TRUE(ReadText(ip + "\\" + e.relative) == e.bytes);
    }
    EXPECT_TRUE(tree["files\\sub\\void"].folder);
    EXPECT_TRUE(tree["lonely"].folder);

    // The final log: every line in the order of the work; a folder in two
    // letter cases once; the special folder never, its file as any other.
    std::vector<std::string> log = ReadLines(project.LogPath());
    ASSERT_GE(log.size(), 4u);
    auto special = std::find_if(log.begin(), log.end(), [&](const std::string& line) {
        return line.size() > specialName.size() && line.compare(line.size() - specialName.size(), specialName.size(),
                                                                specialName) == 0;
    });
    ASSERT_NE(special, log.end());
    std::string specialPath = special->substr(2), programFiles = specialPath.substr(0, specialPath.rfind('\\'));
    EXPECT_EQ(ReadText(specialPath), "in the special folder itself");
    SetFileAttributesA(specialPath.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(specialPath.c_str());
    std::vector<std::string> lines = {
        kLogHeader,
        project.product + " 1.0",
        project.product,
        log[3],
        "a," + ip,
        "a," + ip + "\\files",
        "b," + ip + "\\files\\big.txt",
        "b," + ip + "\\files\\bignoise.bin",
        "b," + ip + "\\files\\empty.txt",
        "b," + ip + "\\files\\hidden.txt",
        "b," + ip + "\\files\\noise.bin",
        "b," + ip + "\\files\\readme.txt",
        "b," + ip + "\\files\\readonly.txt",
        "a," + ip + "\\files\\sub",
        "b," + ip + "\\files\\sub\\mid.txt",
        "a," + ip + "\\files\\sub\\deeper",
        "b," + ip + "\\files\\sub\\deeper\\deep.txt",
        "a," + ip + "\\files\\sub\\void",
        "a," + ip + "\\lonely",
        "a," + ip + "\\stored",
        "b," + ip + "\\stored\\stored.txt",
        "b," + specialPath,
        "a," + ip + "\\Data",
        "b," + ip + "\\Data\\one.txt",
        "b," + ip + "\\DATA\\two.txt",
        "b," + project.UninstallerPath(),
        "b," + project.LogPath(),
        "e,2," + project.UninstallKey() + ",1",
    };
    EXPECT_EQ(log, lines);
    EXPECT_FALSE(Contains(log, "a," + programFiles));
    // The temporary log and the uninstaller image are gone.
    EXPECT_EQ(NewTempFiles(tempBefore), std::vector<std::string>());

    // The uninstaller: the runtime image without its package.
    Bytes uninstaller = ReadFileBytes(project.UninstallerPath());
    size_t p = static_cast<size_t>(quillset::PackageOffsetOf(packageBytes));
    Bytes image(packageBytes.begin(), packageBytes.begin() + p);
    WritePackageOffset(image.data(), 0);
    EXPECT_TRUE(uninstaller == image);

    // The uninstall entry, in the registry view of the runtime's bitness.
    std::string key = project.UninstallKey();
    uint32_t unpacked = U32(packageBytes, p + 8);
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, key, "DisplayName"), project.product + " 1.0");
    // Quoted, so that no blank in the path can make it name another program.
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, key, "UninstallString"), "\"" + project.UninstallerPath() + "\"");
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, key, "DisplayIcon"), project.UninstallerPath());
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, key, "InstallLocation"), ip);
    EXPECT_EQ(RegistryDword(HKEY_LOCAL_MACHINE, key, "EstimatedSize"), unpacked >> 10);
    EXPECT_EQ(RegistryDword(HKEY_LOCAL_MACHINE, key, "NoModify"), 1);
    EXPECT_EQ(RegistryDword(HKEY_LOCAL_MACHINE, key, "NoRepair"), 1);
    if (IsWow64()) {
        // A 32-bit installer on 64-bit Windows: under Wow6432Node only.
        EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, key, KEY_WOW64_32KEY));
        EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, key, KEY_WOW64_64KEY));
        EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE,
                                      "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
                                          project.product,
                                      KEY_WOW64_64KEY));
    } else if (sizeof(void*) == 8) {
        EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, key, KEY_WOW64_64KEY));
        EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, key, KEY_WOW64_32KEY));
    }
}

// Without the uninstaller option: files only; no uninstaller, no log, no
// uninstall entry, no temporary file left.
TEST_F(FileTest, WithoutUninstallerOnlyTheFilesStay)
{
    InstallProject project("NoUninstaller");
    project.createUninstaller = false;
    Source(project, "a.txt", "alpha", FileTimeOf(2011, 1, 1));
    project.sections = "[files]\nsource=src\\a.txt\n";
    std::string error;
    std::string package = project.Build(&error);
    ASSERT_FALSE(package.empty()) << error;
    std::vector<std::string> tempBefore = TempFiles();
    InstallRun run = RunInstaller(package);
    SCOPED_TRACE(Describe(run));
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.boxes.empty());
    std::map<std::string, TreeItem> tree = ListTree(project.installPath);
    ASSERT_EQ(tree.size(), 1u);
    EXPECT_EQ(tree.begin()->first, "a.txt");
    EXPECT_EQ(ReadText(project.installPath + "\\a.txt"), "alpha");
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, project.UninstallKey(), KEY_WOW64_32KEY));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, project.UninstallKey(), KEY_WOW64_64KEY));
    EXPECT_EQ(NewTempFiles(tempBefore), std::vector<std::string>());
}

// Every overwrite rule with every compare mode, the values no table covers
// included, against existing files with and without a version resource
// that are newer, as old as or older than the packaged ones: one group per
// combination in one package.
TEST_F(FileTest, OverwriteRulesAndCompareModes)
{
    InstallProject project("Overwrite");
    const uint64_t t0 = FileTimeOf(2010, 6, 15);
    uint32_t ms = 0, ls = 0;
    const std::string versioned = FixturePath("versioned.exe");
    ASSERT_TRUE(quillset::ReadPeVersion(versioned, &ms, &ls));
    const std::string versionedBytes = ReadText(versioned);

    // date: the packaged file is later (1), as old (0) or earlier (-1);
    // version likewise greater, equal or smaller.
    struct Situation {
        std::string name;
        bool hasVersion;
        int date, version;
    };
    std::vector<Situation> situations;
    const char* dateNames[] = { "earlier", "same", "later" };
    const char* versionNames[] = { "lt", "eq", "gt" };
    for (int date = -1; date <= 1; date++) {
        situations.push_back({ std::string("plain_") + dateNames[date + 1] + ".txt", false, date, 0 });
        for (int version = -1; version <= 1; version++)
            situations.push_back({ std::string("v_") + versionNames[version + 1] + "_" + dateNames[date + 1] + ".exe",
                                   true, date, version });
    }
    const int kRules = 6, kModes = 4;   // 5 and 3: beyond the tables
    for (const Situation& s : situations)
        Source(project, "m\\" + s.name, "new " + s.name, t0);
    for (int rule = 0; rule < kRules; rule++)
        for (int mode = 0; mode < kModes; mode++) {
            std::string folder = "r" + std::to_string(rule) + "m" + std::to_string(mode);
            project.sections += "[files]\nsource=src\\m\\*\ndestination=%InstallPath%\\" + folder + "\n\n";
            std::string target = project.installPath + "\\" + folder;
            CreateDirectoryA(project.installPath.c_str(), nullptr);
            CreateDirectoryA(target.c_str(), nullptr);
            for (const Situation& s : situations) {
                std::string path = target + "\\" + s.name;
                ASSERT_TRUE(WriteFileBytes(path, s.hasVersion ? versionedBytes.data() : "old",
                                           s.hasVersion ? versionedBytes.size() : 3));
                ASSERT_TRUE(SetFileTimes(path, t0 - s.date * kDay));
            }
        }
    // A read-only file replaced by rule 0 takes the packaged attributes.
    Source(project, "ro\\ro_hidden.txt", "new hidden", t0);
    std::string roSource = Source(project, "ro\\ro_readonly.txt", "new read-only", t0);
    SetFileAttributesA(roSource.c_str(), FILE_ATTRIBUTE_READONLY);
    project.sections += "[files]\nsource=src\\ro\\*\ndestination=%InstallPath%\\readonly\noverwrite=always\n";
    std::string roFolder = project.installPath + "\\readonly";
    CreateDirectoryA(roFolder.c_str(), nullptr);
    for (const char* name : { "ro_hidden.txt", "ro_readonly.txt" }) {
        std::string path = roFolder + "\\" + name;
        ASSERT_TRUE(WriteFileBytes(path, "old", 3));
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    }

    project.edit = [&](quillset::Project& compiled) {
        for (int g = 0; g < kRules * kModes; g++) {
            compiled.groups[g].group.overwriteRule = g / kModes;
            compiled.groups[g].group.compareMode = g % kModes;
            for (auto& f : compiled.groups[g].files) {
                auto s = std::find_if(situations.begin(), situations.end(),
                                      [&](const Situation& x) { return x.name == f.entry.name; });
                if (!s->hasVersion)
                    continue;
                // Greater in the high word only, smaller although the low word is larger.
                f.entry.versionMS = s->version > 0 ? ms + 1 : s->version < 0 ? ms - 1 : ms;
                f.entry.versionLS = s->version > 0 ? 0 : s->version < 0 ? 0xFFFFFFFF : ls;
            }
        }
        for (auto& f : compiled.groups.back().files)
            if (f.entry.name == "ro_hidden.txt")
                f.entry.attributes = 0x22;
    };
    std::string error;
    std::string package = project.Build(&error);
    ASSERT_FALSE(package.empty()) << error;
    InstallRun run = RunInstaller(package);
    SCOPED_TRACE(Describe(run));
    ASSERT_EQ(run.exitCode, 0);
    for (const SeenBox& box : run.boxes)
        ADD_FAILURE() << "unexpected message: " << box.view.text;

    auto holds = [](int rule, int comparison) {
        return rule == 1 ? comparison > 0 : rule == 2 ? comparison >= 0 : comparison < 0;
    };
    std::vector<std::string> log = ReadLines(project.LogPath());
    for (int rule = 0; rule < kRules; rule++)
        for (int mode = 0; mode < kModes; mode++)
            for (const Situation& s : situations) {
                bool overwrite;
                if (rule == 0)
                    overwrite = true;
                else if (rule >= 4)
                    overwrite = false;   // 4 never; above 4 as never
                else if (mode == 0)
                    overwrite = holds(rule, s.date);
                else if (mode == 1)
                    overwrite = !s.hasVersion || holds(rule, s.version);
                else if (mode == 2)
                    overwrite = holds(rule, s.date) && (!s.hasVersion || holds(rule, s.version));
                else
                    overwrite = true;    // above 2: always
                std::string path = project.installPath + "\\r" + std::to_string(rule) + "m" + std::to_string(mode) +
                                   "\\" + s.name;
                SCOPED_TRACE(path);
                std::string now = ReadText(path);
                if (overwrite) {
                    EXPECT_EQ(now, "new " + s.name);
                    EXPECT_EQ(ReadFileInfo(path).write, t0);
                } else {
                    EXPECT_TRUE(now == (s.hasVersion ? versionedBytes : "old")) << now.substr(0, 16);
                }
                // Kept files leave no trace in the log.
                EXPECT_EQ(Contains(log, "b," + path), overwrite);
            }
    FileInfo hidden = ReadFileInfo(roFolder + "\\ro_hidden.txt"), readOnly = ReadFileInfo(roFolder + "\\ro_readonly.txt");
    EXPECT_EQ(hidden.attributes, 0x22u);
    EXPECT_EQ(readOnly.attributes, 0x21u);
    EXPECT_EQ(ReadText(roFolder + "\\ro_hidden.txt"), "new hidden");
    EXPECT_EQ(ReadText(roFolder + "\\ro_readonly.txt"), "new read-only");
}

// Files held open without sharing: the question, a retry that succeeds once
// the holder lets go, and No: a temporary copy that a restart puts in
// place. Meanwhile the temporary log holds the new files but not the
// existing one. A shared file in use is not asked about.
TEST_F(FileTest, FilesInUseAreRetriedOrReplacedAtRestart)
{
    InstallProject project("InUse");
    const std::string& ip = project.installPath;
    const uint64_t t = FileTimeOf(2012, 3, 4);
    for (const char* name : { "a_existing.txt", "b_fresh.txt", "c_retry.txt", "d_pending.txt" })
        Source(project, std::string("use\\") + name, std::string("new ") + name, t);
    Source(project, "shared\\e_shared.txt", "new e_shared.txt", t);
    project.sections = "[files]\nsource=src\\use\\*\n\n"
                       "[files]\nsource=src\\shared\\e_shared.txt\ndestination=%InstallPath%\\shared\nshared=yes\n";
    std::string error;
    std::string package = project.Build(&error);
    ASSERT_FALSE(package.empty()) << error;

    CreateDirectoryA(ip.c_str(), nullptr);
    CreateDirectoryA((ip + "\\shared").c_str(), nullptr);
    for (const char* name : { "a_existing.txt", "c_retry.txt", "d_pending.txt", "shared\\e_shared.txt" })
        ASSERT_TRUE(WriteFileBytes(ip + "\\" + name, "old", 3));
    const std::string sharedTarget = ip + "\\shared\\e_shared.txt";
    HKEY shared;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSharedDllsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &shared,
                              nullptr),
              ERROR_SUCCESS);
    RegDeleteValueA(shared, sharedTarget.c_str());
    auto hold = [](const std::string& path) {
        return CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    };
    HANDLE retryHolder = hold(ip + "\\c_retry.txt"), pendingHolder = hold(ip + "\\d_pending.txt"),
           sharedHolder = hold(sharedTarget);
    ASSERT_NE(retryHolder, INVALID_HANDLE_VALUE);
    ASSERT_NE(pendingHolder, INVALID_HANDLE_VALUE);
    ASSERT_NE(sharedHolder, INVALID_HANDLE_VALUE);

    std::vector<std::string> tempBefore = TempFiles();
    std::vector<std::string> temporaryLog;
    RunOptions options;
    options.answer = [&](const SeenBox& box) {
        if (box.view.text.find("c_retry.txt") != std::string::npos) {
            // The worker waits on the question: its temporary log so far.
            std::vector<std::string> logs = NewTemporaryLogs(tempBefore);
            if (logs.size() == 1) {
                std::istringstream in(logs[0]);
                for (std::string line; std::getline(in, line);)
                    temporaryLog.push_back(line);
            }
            CloseHandle(retryHolder);
            retryHolder = INVALID_HANDLE_VALUE;
            return IDYES;
        }
        return IDNO;   // d_pending.txt to a temporary copy; no restart now
    };
    InstallRun run = RunInstaller(package, options);
    SCOPED_TRACE(Describe(run));
    if (retryHolder != INVALID_HANDLE_VALUE)
        CloseHandle(retryHolder);
    ASSERT_EQ(run.exitCode, 0);
    std::string question = project.DefaultText("wizard", 6);
    ASSERT_EQ(run.boxes.size(), 3u);
    EXPECT_EQ(run.boxes[0].view.text, Format(question, { ip + "\\c_retry.txt" }));
    EXPECT_TRUE(run.boxes[0].yesNo);
    EXPECT_EQ(run.boxes[0].view.icon, IconKind::Warning);
    EXPECT_EQ(run.boxes[1].view.text, Format(question, { ip + "\\d_pending.txt" }));
    EXPECT_EQ(run.boxes[2].view.text, project.DefaultText("wizard", 5));   // restart now?

    // The temporary log holds only what did not exist before.
    ASSERT_FALSE(temporaryLog.empty());
    EXPECT_EQ(temporaryLog[0], kLogHeader);
    EXPECT_TRUE(Contains(temporaryLog, "b," + ip + "\\b_fresh.txt"));
    EXPECT_FALSE(Contains(temporaryLog, "b," + ip + "\\a_existing.txt"));
    // The final log holds every file written in place, and the pending ones,
    // which are the installation's after the restart.
    std::vector<std::string> log = ReadLines(project.LogPath());
    EXPECT_TRUE(Contains(log, "b," + ip + "\\a_existing.txt"));
    EXPECT_TRUE(Contains(log, "b," + ip + "\\b_fresh.txt"));
    EXPECT_TRUE(Contains(log, "b," + ip + "\\c_retry.txt"));
    EXPECT_TRUE(Contains(log, "b," + ip + "\\d_pending.txt"));
    EXPECT_TRUE(Contains(log, "g," + sharedTarget));
    EXPECT_EQ(ReadText(ip + "\\a_existing.txt"), "new a_existing.txt");
    EXPECT_EQ(ReadText(ip + "\\c_retry.txt"), "new c_retry.txt");
    CloseHandle(pendingHolder);
    CloseHandle(sharedHolder);
    EXPECT_EQ(ReadText(ip + "\\d_pending.txt"), "old");
    EXPECT_EQ(ReadText(sharedTarget), "old");
    // The shared file's count was raised after the installation succeeded.
    EXPECT_EQ(RegistryDword(HKEY_LOCAL_MACHINE, kSharedDllsKey, sharedTarget), 1);
    RegDeleteValueA(shared, sharedTarget.c_str());
    RegCloseKey(shared);

    // Both wait for the restart, each as a temporary file to move over its target.
    HKEY session;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPendingKey, 0, KEY_READ, &session), ERROR_SUCCESS);
    std::vector<char> pending(65536);
    DWORD size = static_cast<DWORD>(pending.size()), type = 0;
    LONG result = RegQueryValueExA(session, "PendingFileRenameOperations", nullptr, &type,
                                   reinterpret_cast<BYTE*>(pending.data()), &size);
    RegCloseKey(session);
    ASSERT_EQ(result, ERROR_SUCCESS);
    // Pairs of source and target; a deletion has an empty target.
    std::vector<std::string> operations;
    for (size_t at = 0; at + 1 < size;) {
        operations.push_back(Upper(pending.data() + at));
        at += operations.back().size() + 1;
    }
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::vector<std::string> copies = NewTempFiles(tempBefore);
    ASSERT_EQ(copies.size(), 2u);
    for (const std::string& target : { ip + "\\d_pending.txt", sharedTarget }) {
        auto at = std::find_if(operations.begin(), operations.end(), [&](const std::string& op) {
            return op.size() >= target.size() && op.compare(op.size() - target.size(), target.size(), Upper(target)) == 0;
        });
        ASSERT_NE(at, operations.end()) << target;
        ASSERT_NE(at, operations.begin());
        const std::string& source = *(at - 1);
        EXPECT_TRUE(std::any_of(copies.begin(), copies.end(), [&](const std::string& copy) {
            return source.size() >= copy.size() && source.compare(source.size() - copy.size(), copy.size(), Upper(copy)) == 0;
        })) << source;
    }

    // A simulated restart performs the replacements.
    RunAndWait("wineboot.exe -r", 120000);
    EXPECT_EQ(ReadText(ip + "\\d_pending.txt"), "new d_pending.txt");
    EXPECT_EQ(ReadText(sharedTarget), "new e_shared.txt");
    EXPECT_EQ(NewTempFiles(tempBefore), std::vector<std::string>());
}

// A compressed file whose stream breaks after more than one piece has been
// written: message 15; going on leaves no part of the file behind.
TEST_F(FileTest, DamagedStreamIsReportedAndLeavesNoPartialFile)
{
    InstallProject project("Damaged");
    const std::string text = WordText(6 << 20, 9);
    Source(project, "d\\a_before.txt", "before", FileTimeOf(2013, 1, 1));
    Source(project, "d\\b_damaged.txt", text, FileTimeOf(2013, 1, 1));
    Source(project, "d\\c_after.txt", "after", FileTimeOf(2013, 1, 1));
    project.sections = "[files]\nsource=src\\d\\*\n";
    std::string error;
    std::string package = project.Build(&error);
    ASSERT_FALSE(package.empty()) << error;
    Bytes bytes = ReadFileBytes(package);
    std::vector<quillset::ReadEntry> packed = quillset::ReadPackage(bytes).entries;
    auto damaged = std::find_if(packed.begin(), packed.end(),
                                [](const quillset::ReadEntry& e) { return e.name == "b_damaged.txt"; });
    ASSERT_NE(damaged, packed.end());
    ASSERT_TRUE(damaged->flags & ENTRY_COMPRESSED);

    // Damage the stream two thirds in, where inflating it fails after more
    // than a megabyte of output (checked here with zlib itself).
    size_t produced = 0;
    bool failed = false;
    for (size_t at = damaged->stored * 2 / 3; !failed && at + 64 < damaged->stored; at += 4099) {
        Bytes attempt(bytes.begin() + damaged->dataAt, bytes.begin() + damaged->dataAt + damaged->stored);
        memset(&attempt[at], 0xFF, 32);
        z_stream z{};
        inflateInit(&z);
        std::vector<uint8_t> out(text.size() + 65536);
        z.next_in = attempt.data();
        z.avail_in = static_cast<uInt>(attempt.size());
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        int result = inflate(&z, Z_SYNC_FLUSH);
        produced = z.total_out;
        inflateEnd(&z);
        failed = (result == Z_DATA_ERROR || produced != text.size()) && produced > (1u << 20);
        if (failed)
            memcpy(&bytes[damaged->dataAt], attempt.data(), attempt.size());
    }
    ASSERT_TRUE(failed);
    quillset::Reseal(bytes);
    ASSERT_TRUE(WriteFileBytes(package, bytes.data(), bytes.size()));

    RunOptions options;
    options.answer = [](const SeenBox& box) { return box.yesNo ? IDYES : 0; };   // skip the file and go on
    InstallRun run = RunInstaller(package, options);
    SCOPED_TRACE(Describe(run));
    ASSERT_EQ(run.exitCode, 0);
    const std::string path = project.installPath + "\\b_damaged.txt";
    ASSERT_EQ(run.boxes.size(), 2u);
    EXPECT_EQ(run.boxes[0].view.text, Format(project.DefaultText("message", 15), { path, SystemText(ERROR_INVALID_DATA) }));
    EXPECT_TRUE(run.boxes[0].yesNo);
    EXPECT_EQ(run.boxes[0].view.icon, IconKind::Error);
    // The installation went on and ended with the notice of an incomplete installation.
    EXPECT_EQ(run.boxes[1].view.text, project.DefaultText("wizard", 9));
    EXPECT_FALSE(Exists(path));
    EXPECT_EQ(ReadText(project.installPath + "\\a_before.txt"), "before");
    EXPECT_EQ(ReadText(project.installPath + "\\c_after.txt"), "after");
    EXPECT_FALSE(Contains(ReadLines(project.LogPath()), "b," + path));
}

// The 1 MiB drive R: (tests/wine/small-drive) where this machine mounts it.
bool SmallDrive(uint64_t* available)
{
    ULARGE_INTEGER free{};
    if (!GetDiskFreeSpaceExA("R:\\", &free, nullptr, nullptr) || free.QuadPart >= (2u << 20))
        return false;
    *available = free.QuadPart;
    return true;
}

// A full disk: message 14; OK after space was freed writes the whole file,
// Cancel rolls back and leaves no part of it.
TEST_F(FileTest, DiskFullIsRetriedAfterOkAndRolledBackAfterCancel)
{
    uint64_t available = 0;
    if (!SmallDrive(&available))
        GTEST_SKIP() << "no small drive R: on this machine (mounting a tmpfs is not allowed)";
    for (int answer : { IDOK, IDCANCEL }) {
        SCOPED_TRACE(answer == IDOK ? "OK" : "Cancel");
        InstallProject project(answer == IDOK ? "FullOk" : "FullCancel");
        project.createUninstaller = false;
        project.installPath = "R:\\QsFull";
        RemoveFolder(project.installPath);
        const std::string data = RandomBytes(300 << 10, 11);
        Source(project, "f\\a_small.txt", "small", FileTimeOf(2014, 1, 1));
        Source(project, "f\\b_big.bin", data, FileTimeOf(2014, 1, 1));
        project.sections = "[files]\nsource=src\\f\\*\n";
        std::string error;
        std::string package = project.Build(&error);
        ASSERT_FALSE(package.empty()) << error;

        // Leave less room than the big file needs, more than the small one.
        ASSERT_TRUE(SmallDrive(&available));
        const std::string filler = "R:\\filler.bin";
        std::string fill(static_cast<size_t>(available - (100 << 10)), 'x');
        ASSERT_TRUE(WriteFileBytes(filler, fill.data(), fill.size()));
        RunOptions options;
        options.answer = [&](const SeenBox& box) {
            if (answer == IDOK && box.okCancel)
                DeleteFileA(filler.c_str());
            return box.okCancel ? answer : 0;
        };
        InstallRun run = RunInstaller(package, options);
        SCOPED_TRACE(Describe(run));
        DeleteFileA(filler.c_str());
        ASSERT_EQ(run.exitCode, 0);
        const std::string big = project.installPath + "\\b_big.bin";
        ASSERT_FALSE(run.boxes.empty());
        EXPECT_EQ(run.boxes[0].view.text, Format(project.DefaultText("message", 14), { big }));
        EXPECT_TRUE(run.boxes[0].okCancel);
        EXPECT_EQ(run.boxes[0].view.icon, IconKind::Error);
        if (answer == IDOK) {
            // Written again whole; a retry that succeeds is no failure.
            EXPECT_EQ(run.boxes.size(), 1u);
            EXPECT_TRUE(ReadText(big) == data);
            EXPECT_EQ(ReadText(project.installPath + "\\a_small.txt"), "small");
        } else {
            // Rolled back: neither file nor the created folder is left.
            EXPECT_FALSE(Exists(big));
            std::string left;
            for (const auto& item : ListTree(project.installPath, false))
                left += " " + item.first;
            EXPECT_FALSE(Exists(project.installPath)) << "left:" << left;
        }
        RemoveFolder(project.installPath);
    }
}

// Access the file system denies even to root: files and folders made
// immutable on R: (chattr +i; folders also without write permission
// where the question tells "no right" from "denied"). Every question is
// answered Yes: the item is skipped and the installation goes on.
TEST_F(FileTest, DeniedAccessAsksAboutEachFileAndFolder)
{
    uint64_t available = 0;
    if (!SmallDrive(&available))
        GTEST_SKIP() << "no small drive R: on this machine (mounting a tmpfs is not allowed)";
    const std::string drive = UnixPath("R:\\");
    if (drive.empty())
        GTEST_SKIP() << "not under Wine: no Unix tools to deny access with";
    const std::string root = "R:\\QsDenied";
    auto cleanUp = [&] {
        RunUnixScript("chattr -R -i '" + drive + "'; chmod -R u+w '" + drive + "'");
        RemoveFolder(root);
        RemoveFolder("R:\\QsTop");
    };
    cleanUp();
    for (const char* folder : { "", "\\target", "\\sealed", "\\closed" })
        ASSERT_TRUE(CreateDirectoryA((root + folder).c_str(), nullptr)) << folder;
    ASSERT_TRUE(WriteFileBytes(root + "\\target\\busy.txt", "old", 3));
    ASSERT_TRUE(WriteFileBytes(root + "\\target\\ro.txt", "old", 3));
    const std::string unixRoot = UnixPath(root);
    RunUnixScript("cd '" + unixRoot + "' && chmod 0444 target/ro.txt && chmod 0555 closed && "
                  "chattr +i target/busy.txt target/ro.txt sealed closed '" + drive + "'");
    HANDLE probe = CreateFileA((root + "\\target\\busy.txt").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        cleanUp();
        GTEST_SKIP() << "this machine does not let files be made immutable (chattr +i)";
    }

    InstallProject project("Denied");
    project.installPath = root + "\\target";   // the log and the uninstaller beside the files
    const uint64_t t = FileTimeOf(2015, 1, 1);
    for (const char* name : { "target\\busy.txt", "target\\ok.txt", "target\\ro.txt", "sealed\\new.txt",
                              "closed\\new2.txt", "closed\\sub\\x.txt", "chain\\y.txt", "top\\z.txt" })
        Source(project, name, std::string("new ") + name, t);
    project.sections = "[files]\nsource=src\\target\\*\ndestination=" + root + "\\target\n\n"
                       "[files]\nsource=src\\sealed\\*\ndestination=" + root + "\\sealed\n\n"
                       "[files]\nsource=src\\closed\\*\nrecursive=yes\ndestination=" + root + "\\closed\n\n"
                       "[files]\nsource=src\\chain\\*\ndestination=" + root + "\\closed\\newlevel\\deeper\n\n"
                       "[files]\nsource=src\\top\\*\ndestination=R:\\QsTop\\deeper\n";
    std::string error;
    std::string package = project.Build(&error);
    if (package.empty())
        cleanUp();
    ASSERT_FALSE(package.empty()) << error;
    RunOptions options;
    options.answer = [](const SeenBox& box) { return box.yesNo ? IDYES : 0; };
    InstallRun run = RunInstaller(package, options);
    SCOPED_TRACE(Describe(run));
    std::string busyNow = ReadText(root + "\\target\\busy.txt"), roNow = ReadText(root + "\\target\\ro.txt");
    bool okWritten = ReadText(root + "\\target\\ok.txt") == "new target\\ok.txt";
    std::vector<std::string> log = ReadLines(project.LogPath());
    cleanUp();
    std::string logText;
    for (const std::string& line : log)
        logText += line + "\n";
    SCOPED_TRACE("log:\n" + logText);

    ASSERT_EQ(run.exitCode, 0);
    auto message = [&](int index, std::vector<std::string> texts) {
        return Format(project.DefaultText("message", index), texts);
    };
    const std::string denied = SystemText(ERROR_ACCESS_DENIED), noPath = SystemText(ERROR_PATH_NOT_FOUND);
    std::vector<std::string> expected = {
        message(5, { root + "\\target\\busy.txt", denied }),   // write access granted, yet denied
        message(2, { root + "\\target\\ro.txt" }),             // no right to write the file
        message(11, { root + "\\sealed\\new.txt", denied }),   // may add files, yet denied
        message(8, { root + "\\closed\\new2.txt", root + "\\closed" }),   // no right to add files
        message(35, { root + "\\closed\\sub", root + "\\closed" }),        // no right to add folders
        message(11, { root + "\\closed\\sub\\x.txt", noPath }),
        message(35, { root + "\\closed\\newlevel\\deeper", root + "\\closed" }),
        message(11, { root + "\\closed\\newlevel\\deeper\\y.txt", noPath }),
        message(37, { "R:\\QsTop\\deeper" }),                  // the drive denies
        message(11, { "R:\\QsTop\\deeper\\z.txt", noPath }),
        project.DefaultText("wizard", 9),
    };
    std::vector<std::string> seen;
    for (const SeenBox& box : run.boxes)
        seen.push_back(box.view.text);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(busyNow, "old");
    EXPECT_EQ(roNow, "old");
    EXPECT_TRUE(okWritten);
    // Skipped files are not logged; a folder the user let go on with is.
    EXPECT_TRUE(Contains(log, "b," + root + "\\target\\ok.txt"));
    EXPECT_FALSE(Contains(log, "b," + root + "\\target\\busy.txt"));
    EXPECT_FALSE(Contains(log, "b," + root + "\\sealed\\new.txt"));
    EXPECT_TRUE(Contains(log, "a," + root + "\\closed\\sub"));
}

// ---------------------------------------------------------------------------
// Large packages. Their folders go at the end of the test, failed or not.

struct RemovedAtEnd {
    std::string folder;
    ~RemovedAtEnd() { RemoveFolder(folder); }
};

// The progress bar rises monotonically from 0 to 100 over a package of
// several hundred megabytes, stored and compressed files mixed.
TEST(InstallLarge, ProgressRisesMonotonicallyToTheEnd)
{
    InstallProject project("Progress");
    RemovedAtEnd removed{ project.folder };
    project.createUninstaller = false;
    // A shortcut that cannot be made holds the installing page after the
    // file stage with its question.
    project.sections = "[shortcut]\npath=Q:\\Nowhere\\link.lnk\ntarget=%InstallPath%\\a.bin\n";
    std::vector<BigFile> files = {
        { "a.bin", 64u << 20, Fill::Pattern, false }, { "b.bin", 96u << 20, Fill::Zeros, false },
        { "c.bin", 64u << 20, Fill::Pattern, true },  { "d.bin", 128u << 20, Fill::Zeros, false },
        { "e.bin", 32u << 20, Fill::Pattern, false }, { "f.bin", 16u << 20, Fill::Pattern, true },
    };
    std::string error;
    std::string package = WriteGeneratedPackage(project, { { "%InstallPath%", files } }, &error);
    ASSERT_FALSE(package.empty()) << error;
    ProgressTrace trace;
    int afterFiles = -1;
    RunOptions options;
    options.tick = [&](const Process&, HWND frame) { trace.Sample(frame); };
    options.answer = [&](const SeenBox& box) {
        int position = ProgressTrace::Position(trace.frame);
        if (position >= 0)
            afterFiles = position;
        return box.yesNo ? IDYES : 0;
    };
    InstallRun run = RunInstaller(package, options);
    SCOPED_TRACE(Describe(run));
    ASSERT_EQ(run.exitCode, 0);
    SCOPED_TRACE("samples: " + trace.Text());
    ASSERT_FALSE(trace.samples.empty());
    EXPECT_TRUE(trace.Monotonic());
    EXPECT_LE(trace.samples.front(), 5);
    EXPECT_GE(trace.Distinct(), 10u);
    EXPECT_EQ(afterFiles, 100);
    EXPECT_FALSE(run.boxes.empty());
    for (const BigFile& file : files)
        EXPECT_TRUE(HoldsGenerated(project.installPath + "\\" + file.name, file));
}

// Installing one file of 1 GiB needs little more memory than installing
// nothing: the data goes through bounded pieces.
TEST(InstallLarge, MemoryStaysBoundedForAOneGigabyteFile)
{
    MemoryPeak peaks[2];
    const BigFile big = { "big.bin", 1ull << 30, Fill::Pattern, true };
    for (int i = 0; i < 2; i++) {
        InstallProject project(i ? "MemoryBig" : "MemoryEmpty");
        RemovedAtEnd removed{ project.folder };
        project.createUninstaller = false;
        std::vector<BigFile> files = { i ? big : BigFile{ "small.bin", 4096, Fill::Pattern, true } };
        std::string error;
        std::string package = WriteGeneratedPackage(project, { { "%InstallPath%", files } }, &error);
        ASSERT_FALSE(package.empty()) << error;
        RunOptions options;
        options.tick = [&](const Process& process, HWND) { peaks[i].Sample(process.info.hProcess); };
        InstallRun run = RunInstaller(package, options);
        SCOPED_TRACE(Describe(run));
        ASSERT_EQ(run.exitCode, 0);
        EXPECT_TRUE(run.boxes.empty());
        EXPECT_TRUE(HoldsGenerated(project.installPath + "\\" + files[0].name, files[0]));
    }
    ASSERT_GT(peaks[0].workingSet, 0u) << "no memory counters for another process on this system";
    printf("peak working set: empty %u MiB, 1 GiB file %u MiB; private: %u MiB, %u MiB\n",
           static_cast<unsigned>(peaks[0].workingSet >> 20), static_cast<unsigned>(peaks[1].workingSet >> 20),
           static_cast<unsigned>(peaks[0].privateBytes >> 20), static_cast<unsigned>(peaks[1].privateBytes >> 20));
    const SIZE_T limit = 64u << 20;
    EXPECT_LT(peaks[1].workingSet, peaks[0].workingSet + limit)
        << "empty " << (peaks[0].workingSet >> 20) << " MiB, 1 GiB file " << (peaks[1].workingSet >> 20) << " MiB";
    EXPECT_LT(peaks[1].privateBytes, peaks[0].privateBytes + limit)
        << "empty " << (peaks[0].privateBytes >> 20) << " MiB, 1 GiB file " << (peaks[1].privateBytes >> 20) << " MiB";
}

// A package above 2 GiB: entries, a group and its folder beyond the 2 GiB
// mark install whole.
TEST(InstallLarge, PackageAboveTwoGigabytesInstalls)
{
    InstallProject project("Huge");
    RemovedAtEnd removed{ project.folder };
    std::vector<BigGroup> groups = {
        { "%InstallPath%",
          { { "head.txt", 10000, Fill::Pattern, true }, { "zeros1.bin", 1100u << 20, Fill::Zeros, false },
            { "zeros2.bin", 1100u << 20, Fill::Zeros, false }, { "tail.bin", 3u << 20, Fill::Pattern, true } } },
        { "%InstallPath%\\beyond", { { "last.bin", 5u << 20, Fill::Pattern, false } } },
    };
    std::string error;
    std::string package = WriteGeneratedPackage(project, groups, &error);
    ASSERT_FALSE(package.empty()) << error;
    ASSERT_GT(ReadFileInfo(package).size, 0x80000000ull);
    ProgressTrace trace;
    RunOptions options;
    options.tick = [&](const Process&, HWND frame) { trace.Sample(frame); };
    options.timeoutMs = 300000;
    InstallRun run = RunInstaller(package, options);
    SCOPED_TRACE(Describe(run));
    DeleteFileA(package.c_str());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_TRUE(trace.Monotonic()) << trace.Text();
    EXPECT_TRUE(HoldsGenerated(project.installPath + "\\head.txt", groups[0].files[0]));
    EXPECT_EQ(ReadFileInfo(project.installPath + "\\zeros1.bin").size, 1100ull << 20);
    EXPECT_TRUE(HoldsGenerated(project.installPath + "\\zeros2.bin", groups[0].files[2]));
    EXPECT_TRUE(HoldsGenerated(project.installPath + "\\tail.bin", groups[0].files[3]));
    EXPECT_TRUE(HoldsGenerated(project.installPath + "\\beyond\\last.bin", groups[1].files[0]));
    std::vector<std::string> log = ReadLines(project.LogPath());
    EXPECT_TRUE(Contains(log, "b," + project.installPath + "\\beyond\\last.bin"));
    EXPECT_EQ(RegistryDword(HKEY_LOCAL_MACHINE, project.UninstallKey(), "EstimatedSize"),
              static_cast<int64_t>(((2200ull << 20) + 10000 + (8u << 20)) >> 10));
}

}  // namespace
