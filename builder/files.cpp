// The files side of a build: sources matched and walked into file groups,
// versions read from PE resources, text converted to the package's code
// page, and the package written with every core compressing.
#include "project.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>
#include <zlib.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace quillset {

std::string ToCodePage(const std::string& utf8, unsigned codePage, const std::string& file, int line)
{
    bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii)
        return utf8;
    std::string out;
#ifdef _WIN32
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), (int)utf8.size(), nullptr, 0);
    std::wstring wide(n, L'\0');
    BOOL lossy = FALSE;
    bool ok = n > 0 && MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &wide[0], n) == n;
    if (ok) {
        int m = WideCharToMultiByte(codePage, 0, wide.data(), n, nullptr, 0, nullptr, &lossy);
        out.resize(m);
        ok = m > 0 && WideCharToMultiByte(codePage, 0, wide.data(), n, &out[0], m, nullptr, &lossy) == m && !lossy;
    }
#else
    iconv_t cd = iconv_open(codePage == 936 ? "CP936" : "CP1252", "UTF-8");
    bool ok = cd != (iconv_t)-1;
    if (ok) {
        std::string in = utf8;
        out.resize(in.size() * 2 + 4);
        char* src = &in[0];
        char* dst = &out[0];
        size_t left = in.size(), room = out.size();
        ok = iconv(cd, &src, &left, &dst, &room) != (size_t)-1;
        out.resize(out.size() - room);
        iconv_close(cd);
    }
#endif
    if (!ok)
        throw BuildError(file, line, "text that code page " + std::to_string(codePage) +
                                         " cannot hold, or that is not UTF-8");
    return out;
}

namespace {

uint32_t U32(const std::vector<uint8_t>& b, size_t at)
{
    return at + 4 <= b.size() ? b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24 : 0;
}

uint16_t U16(const std::vector<uint8_t>& b, size_t at)
{
    return at + 2 <= b.size() ? static_cast<uint16_t>(b[at] | b[at + 1] << 8) : 0;
}

}  // namespace

bool ReadPeVersion(const std::string& path, uint32_t* ms, uint32_t* ls)
{
    *ms = *ls = 0;
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (b.size() < 64 || b[0] != 'M' || b[1] != 'Z')
        return false;
    size_t pe = U32(b, 0x3C);
    if (U32(b, pe) != 0x4550)
        return false;
    size_t sections = U16(b, pe + 6), optional = pe + 24, optionalSize = U16(b, pe + 20);
    uint16_t magic = U16(b, optional);
    size_t directories = optional + (magic == 0x20B ? 112 : 96);
    uint32_t resourceRva = U32(b, directories + 16);
    if (!resourceRva)
        return false;
    auto fileOffset = [&](uint32_t rva) -> size_t {
        size_t table = optional + optionalSize;
        for (size_t i = 0; i < sections; i++) {
            size_t h = table + i * 40;
            uint32_t va = U32(b, h + 12), size = std::max(U32(b, h + 8), U32(b, h + 16)), raw = U32(b, h + 20);
            if (rva >= va && rva < va + size)
                return raw + (rva - va);
        }
        return 0;
    };
    size_t root = fileOffset(resourceRva);
    if (!root)
        return false;
    // Root, type RT_VERSION (16), its first name, that name's first language.
    auto entryOf = [&](size_t directory, int wantedId) -> uint32_t {
        size_t named = U16(b, directory + 12), ids = U16(b, directory + 14);
        for (size_t i = 0; i < named + ids; i++) {
            size_t e = directory + 16 + i * 8;
            if (wantedId < 0 || (i >= named && U32(b, e) == static_cast<uint32_t>(wantedId)))
                return U32(b, e + 4);
        }
        return 0;
    };
    uint32_t next = entryOf(root, 16);
    for (int level = 0; level < 2 && (next & 0x80000000u); level++)
        next = entryOf(root + (next & 0x7FFFFFFF), -1);
    if (!next || (next & 0x80000000u))
        return false;
    size_t data = fileOffset(U32(b, root + next));
    size_t fixed = data + 40;   // header 6 bytes, "VS_VERSION_INFO" in UTF-16, aligned to 4
    if (!data || U32(b, fixed) != 0xFEEF04BDu)
        return false;
    *ms = U32(b, fixed + 8);
    *ls = U32(b, fixed + 12);
    return true;
}

namespace {

uint64_t FileTime(const fs::path& path)
{
#ifdef _WIN32
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.wstring().c_str(), GetFileExInfoStandard, &data))
        return 0;
    return static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
#else
    struct stat st;
    if (stat(path.c_str(), &st))
        return 0;
    return (static_cast<uint64_t>(st.st_mtim.tv_sec) + 11644473600ull) * 10000000ull + st.st_mtim.tv_nsec / 100;
#endif
}

bool Matches(const char* pattern, const char* name)
{
    for (; *pattern; pattern++, name++) {
        if (*pattern == '*') {
            for (const char* rest = name;; rest++) {
                if (Matches(pattern + 1, rest))
                    return true;
                if (!*rest)
                    return false;
            }
        }
        if (!*name || (*pattern != '?' && std::tolower((unsigned char)*pattern) != std::tolower((unsigned char)*name)))
            return false;
    }
    return !*name;
}

std::vector<fs::path> SortedChildren(const fs::path& folder)
{
    std::vector<fs::path> children;
    for (const auto& item : fs::directory_iterator(folder))
        children.push_back(item.path());
    std::sort(children.begin(), children.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename().u8string() < b.filename().u8string(); });
    return children;
}

}  // namespace

// Adds FILE as an entry at DEPTH; versions for the module types Windows reads them from.
static void AddFile(GroupPlan& plan, const fs::path& file, uint32_t depth, bool compress, unsigned codePage,
                    const std::string& project, int line, Project& totals)
{
    SourceFile source;
    source.path = file.u8string();
    PackageEntry& e = source.entry;
    e.name = ToCodePage(file.filename().u8string(), codePage, project, line);
    e.parentIndex = depth;
    e.compress = compress;
    e.creationTime = e.accessTime = e.writeTime = FileTime(file);
    uint64_t size = fs::file_size(file);
    if (size > 0xFFFFFFFFull)
        throw BuildError(project, line, "\"" + source.path + "\" is 4 GiB or more; a package entry cannot hold it");
    e.data.clear();
    e.attributes = 0x20;
    auto perms = fs::status(file).permissions();
    if ((perms & fs::perms::owner_write) == fs::perms::none)
        e.attributes |= 0x01;   // FILE_ATTRIBUTE_READONLY
    std::string extension = file.extension().u8string();
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension == ".exe" || extension == ".dll" || extension == ".ocx")
        ReadPeVersion(source.path, &e.versionMS, &e.versionLS);
    totals.fileCount++;
    totals.unpackedBytes += size;
    plan.files.push_back(source);
}

static void AddDirectory(GroupPlan& plan, const std::string& name, uint32_t depth)
{
    SourceFile dir;
    dir.entry.name = name;
    dir.entry.parentIndex = depth;
    dir.entry.isFile = false;
    plan.files.push_back(dir);
}

// Files matching PATTERN in FOLDER at DEPTH, and with RECURSIVE those of every
// subfolder that holds any, under directory entries of their own.
static size_t AddMatches(GroupPlan& plan, const fs::path& folder, const std::string& pattern, uint32_t depth,
                         bool recursive, bool compress, unsigned codePage, const std::string& project, int line,
                         Project& totals)
{
    size_t added = 0;
    std::vector<fs::path> children = SortedChildren(folder);
    for (const auto& child : children)
        if (fs::is_regular_file(child) && Matches(pattern.c_str(), child.filename().u8string().c_str())) {
            AddFile(plan, child, depth, compress, codePage, project, line, totals);
            added++;
        }
    if (recursive)
        for (const auto& child : children)
            if (fs::is_directory(child)) {
                size_t mark = plan.files.size();
                AddDirectory(plan, ToCodePage(child.filename().u8string(), codePage, project, line), depth);
                size_t inner = AddMatches(plan, child, pattern, depth + 1, true, compress, codePage, project, line,
                                          totals);
                if (!inner)
                    plan.files.resize(mark);
                added += inner;
            }
    return added;
}

void AddSource(GroupPlan& plan, const std::string& folder, const std::string& source, bool recursive, bool compress,
               unsigned codePage, const std::string& project, int line, Project& totals)
{
    std::string path = source;
    for (char& c : path)
        if (c == '\\')
            c = '/';
    fs::path full = path.size() > 1 && (path[0] == '/' || path[1] == ':') ? fs::u8path(path) : fs::u8path(folder) / fs::u8path(path);
    std::string leaf = full.filename().u8string();
    bool wildcard = leaf.find_first_of("*?") != std::string::npos;
    std::error_code error;
    if (wildcard) {
        if (!fs::is_directory(full.parent_path(), error))
            throw BuildError(project, line, "source folder \"" + full.parent_path().u8string() + "\" does not exist");
        if (!AddMatches(plan, full.parent_path(), leaf, 0, recursive, compress, codePage, project, line, totals))
            throw BuildError(project, line, "no file matches \"" + source + "\"");
    } else if (fs::is_directory(full, error)) {
        AddDirectory(plan, ToCodePage(leaf, codePage, project, line), 0);
        AddMatches(plan, full, "*", 1, true, compress, codePage, project, line, totals);
    } else if (fs::is_regular_file(full, error)) {
        AddFile(plan, full, 0, compress, codePage, project, line, totals);
    } else {
        throw BuildError(project, line, "source file \"" + source + "\" does not exist");
    }
}

namespace {

void Seek(std::FILE* f, uint64_t at, int whence = SEEK_SET)
{
#ifdef _WIN32
    _fseeki64(f, static_cast<int64_t>(at), whence);
#else
    fseeko(f, static_cast<off_t>(at), whence);
#endif
}

uint64_t Tell(std::FILE* f)
{
#ifdef _WIN32
    return static_cast<uint64_t>(_ftelli64(f));
#else
    return static_cast<uint64_t>(ftello(f));
#endif
}

void Put32(std::FILE* f, uint64_t at, uint64_t value)
{
    uint8_t bytes[4] = { static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                         static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24) };
    Seek(f, at);
    std::fwrite(bytes, 1, 4, f);
}

// One file's stored form, made by a worker and written in plan order.
struct Job {
    const SourceFile* source = nullptr;
    Bytes stored;
    bool compressed = false;
    uint64_t size = 0;
    std::string error;
    bool done = false;
};

}  // namespace

void WritePackageFile(const Bytes& runtime, const Project& project, const std::string& output, BuildStats* stats,
                      void (*progress)(const BuildStats&, void*), void* context)
{
    Bytes head;
    std::string placeError;
    if (!PlaceRuntime(runtime, &head, &placeError))
        throw BuildError(project.path, 0, placeError);
    uint64_t overhead = 12 + 4 + project.script.size() + 64;
    for (const auto& plan : project.groups) {
        overhead += 21 + plan.group.destination.size();
        for (const auto& f : plan.files)
            overhead += f.entry.name.size() + 6 + (f.entry.isFile ? 48 : 0);
    }
    if (project.unpackedBytes + overhead > 0xFFFFFFFFull)
        throw BuildError(project.path, 0, "the files total more than the 4 GiB that the package's 32-bit offsets "
                                          "and sizes can address");

    std::vector<Job> jobs;
    for (const auto& plan : project.groups)
        for (const auto& f : plan.files)
            if (f.entry.isFile) {
                jobs.emplace_back();
                jobs.back().source = &f;
            }
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<size_t> nextJob{ 0 };
    size_t written = 0;
    unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    const size_t window = threads * 2 + 2;   // files read ahead of the writer, bounding memory
    bool stop = false;
    auto work = [&] {
        for (;;) {
            size_t i;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return stop || nextJob >= jobs.size() || nextJob < written + window; });
                if (stop || nextJob >= jobs.size())
                    return;
                i = nextJob++;
            }
            Job& job = jobs[i];
            std::ifstream in(fs::u8path(job.source->path), std::ios::binary);
            Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (!in && !in.eof())
                job.error = "cannot read \"" + job.source->path + "\"";
            job.size = data.size();
            if (job.source->entry.compress && !data.empty()) {
                Bytes packed = CompressStream(data);
                if (packed.size() < data.size()) {
                    job.stored.swap(packed);
                    job.compressed = true;
                }
            }
            if (!job.compressed)
                job.stored.swap(data);
            std::lock_guard<std::mutex> lock(mutex);
            job.done = true;
            changed.notify_all();
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; t++)
        pool.emplace_back(work);
    auto finishPool = [&] {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stop = true;
        }
        changed.notify_all();
        for (auto& t : pool)
            t.join();
        pool.clear();
    };

    std::string part = output + ".part";
    std::FILE* f = std::fopen(part.c_str(), "w+b");
    if (!f) {
        finishPool();
        throw BuildError(project.path, 0, "cannot create \"" + part + "\"");
    }
    auto fail = [&](const std::string& message) {
        finishPool();
        std::fclose(f);
        std::remove(part.c_str());
        throw BuildError(project.path, 0, message);
    };
    const uint64_t p = head.size();
    head.resize(p + 12, 0);
    std::fwrite(head.data(), 1, head.size(), f);
    BuildStats local;
    uint64_t unpacked = 0;
    size_t jobIndex = 0;
    for (const auto& plan : project.groups) {
        uint64_t start = Tell(f);
        Bytes header = GroupHeader(plan.group);
        std::fwrite(header.data(), 1, header.size(), f);
        for (const auto& source : plan.files) {
            const PackageEntry& e = source.entry;
            if (!e.isFile) {
                Bytes entry = EntryHeader(e, 0, 0, false);
                std::fwrite(entry.data(), 1, entry.size(), f);
                continue;
            }
            Job& job = jobs[jobIndex];
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return job.done; });
            }
            if (!job.error.empty())
                fail(job.error);
            Bytes entry = EntryHeader(e, static_cast<uint32_t>(job.size), static_cast<uint32_t>(job.stored.size()),
                                      job.compressed);
            std::fwrite(entry.data(), 1, entry.size(), f);
            std::fwrite(job.stored.data(), 1, job.stored.size(), f);
            unpacked += job.size;
            local.filesIn++;
            local.bytesIn += job.size;
            local.bytesOut += job.stored.size();
            Bytes().swap(job.stored);
            {
                std::lock_guard<std::mutex> lock(mutex);
                written = ++jobIndex;
            }
            changed.notify_all();
            if (progress)
                progress(local, context);
        }
        uint64_t end = Tell(f);
        if (end - p > 0xFFFFFFFFull)
            fail("the file data goes beyond the 4 GiB that the package's 32-bit offsets can address");
        Put32(f, start, end - p);
        Seek(f, 0, SEEK_END);
    }
    finishPool();
    uint64_t scriptOffset = Tell(f) - p;
    Bytes block;
    ScriptWriter::putU32(block, static_cast<uint32_t>(project.script.size()));
    Bytes stream = CompressStream(project.script);
    block.insert(block.end(), stream.begin(), stream.end());
    std::fwrite(block.data(), 1, block.size(), f);
    Put32(f, p, 12);
    Put32(f, p + 4, scriptOffset);
    Put32(f, p + 8, unpacked);
    Put32(f, 0x1C, project.script.size());
    // The checksum covers every byte from offset 40, patched fields included.
    std::fflush(f);
    Seek(f, 40);
    uLong sum = adler32(0, nullptr, 0);
    std::vector<uint8_t> buffer(1 << 20);
    for (size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), f)) > 0;)
        sum = adler32(sum, buffer.data(), static_cast<uInt>(got));
    Put32(f, 0x24, sum);
    bool ok = std::fflush(f) == 0 && !std::ferror(f);
    ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        std::remove(part.c_str());
        throw BuildError(project.path, 0, "writing \"" + part + "\" failed");
    }
    std::error_code error;
    fs::rename(fs::u8path(part), fs::u8path(output), error);
    if (error) {
        std::remove(part.c_str());
        throw BuildError(project.path, 0, "cannot replace \"" + output + "\": " + error.message());
    }
    *stats = local;
}

}  // namespace quillset
