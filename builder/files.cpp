// The files side of a build: sources matched and walked into file groups,
// versions read from PE resources, and text converted to the package's code
// page.
#include "project.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace quillset {

namespace {

// The code point that starts at S[*AT], with *AT moved past it; -1 where the
// bytes are no UTF-8 (overlong forms and surrogates included).
long NextCodePoint(const std::string& s, size_t* at)
{
    unsigned char first = static_cast<unsigned char>(s[*at]);
    int extra = first < 0x80                ? 0
                : (first & 0xE0) == 0xC0    ? 1
                : (first & 0xF0) == 0xE0    ? 2
                : (first & 0xF8) == 0xF0    ? 3
                                            : -1;
    if (extra < 0 || s.size() - *at <= static_cast<size_t>(extra))
        return -1;
    long code = extra ? first & (0x3F >> extra) : first;
    for (int i = 1; i <= extra; i++) {
        unsigned char next = static_cast<unsigned char>(s[*at + i]);
        if ((next & 0xC0) != 0x80)
            return -1;
        code = code << 6 | (next & 0x3F);
    }
    static const long kLeast[] = { 0, 0x80, 0x800, 0x10000 };
    if (code < kLeast[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return -1;
    *at += extra + 1;
    return code;
}

// UTF8 (valid) in CODEPAGE; false when a character has no form there.
bool Convert(const std::string& utf8, unsigned codePage, std::string* out)
{
#ifdef _WIN32
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (n <= 0)
        return false;
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
    // No best fit: a character that the code page lacks is refused, not replaced by a look-alike.
    BOOL lossy = FALSE;
    int m = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), n, nullptr, 0, nullptr, &lossy);
    if (m <= 0 || lossy)
        return false;
    out->assign(m, '\0');
    return WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), n, &(*out)[0], m, nullptr, &lossy) == m &&
           !lossy;
#else
    iconv_t cd = iconv_open(codePage == 936 ? "CP936" : "CP1252", "UTF-8");
    if (cd == (iconv_t)-1)
        return false;
    std::string in = utf8;
    out->assign(in.size() * 2 + 4, '\0');
    char* src = &in[0];
    char* dst = &(*out)[0];
    size_t left = in.size(), room = out->size();
    bool ok = iconv(cd, &src, &left, &dst, &room) != (size_t)-1;
    out->resize(out->size() - room);
    iconv_close(cd);
    return ok;
#endif
}

}  // namespace

std::string ToCodePage(const std::string& utf8, unsigned codePage, const std::string& file, int line)
{
    bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii)
        return utf8;
    for (size_t at = 0; at < utf8.size();) {
        size_t start = at;
        if (NextCodePoint(utf8, &at) < 0) {
            char byte[8];
            std::snprintf(byte, sizeof(byte), "0x%02X", static_cast<unsigned char>(utf8[start]));
            throw BuildError(file, line, std::string("text that is not UTF-8 (byte ") + byte +
                                             "): save the file as UTF-8");
        }
    }
    std::string out;
    if (Convert(utf8, codePage, &out))
        return out;
    // Only on failure: the first character that the code page lacks, by itself.
    for (size_t at = 0; at < utf8.size();) {
        size_t start = at;
        long code = NextCodePoint(utf8, &at);
        std::string character = utf8.substr(start, at - start);
        std::string single;
        if (code >= 0x80 && !Convert(character, codePage, &single)) {
            char number[16];
            std::snprintf(number, sizeof(number), "U+%04lX", code);
            throw BuildError(file, line, "code page " + std::to_string(codePage) + " cannot hold " + number + " \"" +
                                             character + "\"");
        }
    }
    throw BuildError(file, line, "text that code page " + std::to_string(codePage) + " cannot hold");
}

std::string WindowsNameProblem(const std::string& name)
{
    if (name.empty())
        return "the name is empty";
    for (unsigned char c : name) {
        char text[40];
        if (c < 0x20) {
            std::snprintf(text, sizeof(text), "the control character U+%04X", c);
            return text;
        }
        if (std::strchr("<>:\"/\\|?*", c)) {
            std::snprintf(text, sizeof(text), "the character '%c'", c);
            return text;
        }
    }
    if (name.back() == '.' || name.back() == ' ')
        return "a trailing dot or blank, which Windows drops";
    // Device names are reserved with any extension, and with blanks before it.
    std::string base = name.substr(0, name.find('.'));
    base.erase(base.find_last_not_of(' ') + 1);
    for (char& c : base)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    bool numbered = (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
                    ((base.size() == 4 && base[3] >= '0' && base[3] <= '9') ||
                     base.substr(3) == "\xC2\xB9" || base.substr(3) == "\xC2\xB2" || base.substr(3) == "\xC2\xB3");
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || numbered)
        return "the device name " + base + ", which Windows reserves";
    return "";
}

namespace {

uint32_t Read32(std::istream& in, uint64_t at, int width = 4)
{
    uint8_t b[4] = {};
    in.clear();
    in.seekg(static_cast<std::streamoff>(at));
    in.read(reinterpret_cast<char*>(b), width);
    if (in.gcount() != width)
        return 0;
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
}

}  // namespace

bool ReadPeVersion(const std::string& path, uint32_t* ms, uint32_t* ls)
{
    *ms = *ls = 0;
    // Read where the headers point, never the whole file: modules may be large.
    std::ifstream in(fs::u8path(path), std::ios::binary);
    auto u32 = [&](uint64_t at) { return Read32(in, at); };
    auto u16 = [&](uint64_t at) { return Read32(in, at, 2); };
    if (!in || u16(0) != 0x5A4D)
        return false;
    uint64_t pe = u32(0x3C);
    if (u32(pe) != 0x4550)
        return false;
    uint64_t sections = u16(pe + 6), optional = pe + 24, optionalSize = u16(pe + 20);
    uint32_t magic = u16(optional);
    uint64_t directories = optional + (magic == 0x20B ? 112 : 96);
    uint32_t resourceRva = u32(directories + 16);
    if (!resourceRva)
        return false;
    auto fileOffset = [&](uint32_t rva) -> uint64_t {
        uint64_t table = optional + optionalSize;
        for (uint64_t i = 0; i < sections && i < 96; i++) {
            uint64_t h = table + i * 40;
            uint64_t va = u32(h + 12), size = std::max(u32(h + 8), u32(h + 16)), raw = u32(h + 20);
            if (rva >= va && rva < va + size)
                return raw + (rva - va);
        }
        return 0;
    };
    uint64_t root = fileOffset(resourceRva);
    if (!root)
        return false;
    // Root, type RT_VERSION (16), its first name, that name's first language.
    auto entryOf = [&](uint64_t directory, int wantedId) -> uint32_t {
        uint64_t named = u16(directory + 12), ids = u16(directory + 14);
        for (uint64_t i = 0; i < named + ids; i++) {
            uint64_t e = directory + 16 + i * 8;
            if (wantedId < 0 || (i >= named && u32(e) == static_cast<uint32_t>(wantedId)))
                return u32(e + 4);
        }
        return 0;
    };
    uint32_t next = entryOf(root, 16);
    for (int level = 0; level < 2 && (next & 0x80000000u); level++)
        next = entryOf(root + (next & 0x7FFFFFFF), -1);
    if (!next || (next & 0x80000000u))
        return false;
    uint64_t data = fileOffset(u32(root + next));
    uint64_t fixed = data + 40;   // header 6 bytes, "VS_VERSION_INFO" in UTF-16, aligned to 4
    if (!data || u32(fixed) != 0xFEEF04BDu)
        return false;
    *ms = u32(fixed + 8);
    *ls = u32(fixed + 12);
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

// A path for a message: control characters shown as \xNN.
std::string Shown(const fs::path& path)
{
    std::string shown;
    for (char c : path.u8string()) {
        char escaped[8];
        std::snprintf(escaped, sizeof(escaped), "\\x%02X", static_cast<unsigned char>(c));
        shown += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? std::string(escaped) : std::string(1, c);
    }
    return shown;
}

// The reason of the last failed C library call, as strerror gives it.
std::string LastReason()
{
    return std::error_code(errno ? errno : EIO, std::generic_category()).message();
}

// What one source's walk shares: the group it fills and the line that named it.
struct SourceWalk {
    GroupPlan& plan;
    bool recursive, compress;
    unsigned codePage;
    const std::string& project;
    int line;
    Project& totals;
    std::vector<fs::path> open;   // real paths of the folders being walked: a link back into one loops

    [[noreturn]] void Fail(const std::string& message) const { throw BuildError(project, line, message); }
};

enum class Kind { Missing, File, Folder };

// What ITEM is, links followed. Anything that is neither a file nor a folder
// (a link to nothing, a pipe, a socket, a device) is refused: a package would
// lose it without a word.
Kind KindOf(const SourceWalk& walk, const fs::path& item)
{
    std::error_code error, linkError;
    fs::file_status status = fs::status(item, error);
    if (fs::is_regular_file(status))
        return Kind::File;
    if (fs::is_directory(status))
        return Kind::Folder;
    bool link = fs::is_symlink(fs::symlink_status(item, linkError));
    bool missing = status.type() == fs::file_type::not_found;
    if (missing && !link)
        return Kind::Missing;
    std::string what = missing                   ? "a link to nothing"
                       : fs::is_fifo(status)     ? "a pipe (FIFO)"
                       : fs::is_socket(status)   ? "a socket"
                       : fs::is_block_file(status) || fs::is_character_file(status) ? "a device"
                       : error                   ? "not readable: " + error.message()
                                                 : "neither a file nor a folder";
    walk.Fail("\"" + Shown(item) + "\" is " + what + "; a package holds files and folders only");
}

// ITEM's name in the package's code page; refused when Windows could not create it.
std::string EntryName(const SourceWalk& walk, const fs::path& item)
{
    std::string name = item.filename().u8string();
    std::string problem = WindowsNameProblem(name);
    if (!problem.empty())
        walk.Fail("\"" + Shown(item) + "\" has a name that Windows cannot create: " + problem);
    try {
        return ToCodePage(name, walk.codePage, walk.project, walk.line);
    } catch (const BuildError& e) {
        walk.Fail("the name of \"" + Shown(item) + "\": " + e.what());
    }
}

std::vector<fs::path> SortedChildren(const SourceWalk& walk, const fs::path& folder)
{
    std::vector<fs::path> children;
    std::error_code error;
    for (fs::directory_iterator item(folder, error), end; !error && item != end; item.increment(error))
        children.push_back(item->path());
    if (error)
        walk.Fail("cannot read the folder \"" + Shown(folder) + "\": " + error.message());
    std::sort(children.begin(), children.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename().u8string() < b.filename().u8string(); });
    return children;
}

// Adds FILE as an entry at DEPTH; versions for the module types Windows reads them from.
void AddFile(SourceWalk& walk, const fs::path& file, uint32_t depth)
{
    SourceFile source;
    source.path = file.u8string();
    source.line = walk.line;
    PackageEntry& e = source.entry;
    e.name = EntryName(walk, file);
    e.parentIndex = depth;
    e.compress = walk.compress;
    e.creationTime = e.accessTime = e.writeTime = FileTime(file);
    // Unreadable files are found now, before anything is written.
    std::error_code error;
    uint64_t size = fs::file_size(file, error);
    if (error)
        walk.Fail("cannot read \"" + Shown(file) + "\": " + error.message());
    errno = 0;
    if (!std::ifstream(file, std::ios::binary))
        walk.Fail("cannot read \"" + Shown(file) + "\": " + LastReason());
    if (size > 0xFFFFFFFFull)
        walk.Fail("\"" + source.path + "\" is 4 GiB or more; a package entry cannot hold it");
    e.attributes = 0x20;
    auto perms = fs::status(file, error).permissions();
    if ((perms & fs::perms::owner_write) == fs::perms::none)
        e.attributes |= 0x01;   // FILE_ATTRIBUTE_READONLY
    std::string extension = file.extension().u8string();
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension == ".exe" || extension == ".dll" || extension == ".ocx")
        ReadPeVersion(source.path, &e.versionMS, &e.versionLS);
    walk.totals.fileCount++;
    walk.totals.unpackedBytes += size;
    walk.plan.files.push_back(source);
}

void AddDirectory(SourceWalk& walk, const fs::path& folder, uint32_t depth)
{
    SourceFile dir;
    dir.path = folder.u8string();
    dir.line = walk.line;
    dir.entry.name = EntryName(walk, folder);
    dir.entry.parentIndex = depth;
    dir.entry.isFile = false;
    walk.plan.files.push_back(dir);
}

// Files matching PATTERN in FOLDER at DEPTH, and when recursive those of every
// subfolder that holds any, under directory entries of their own.
size_t AddMatches(SourceWalk& walk, const fs::path& folder, const std::string& pattern, uint32_t depth)
{
    std::error_code error;
    fs::path real = fs::canonical(folder, error);
    if (error)
        walk.Fail("cannot read the folder \"" + Shown(folder) + "\": " + error.message());
    for (const auto& open : walk.open)
        if (open == real)
            walk.Fail("\"" + Shown(folder) + "\" leads back into \"" + Shown(open) + "\", which holds it: a link loop");
    walk.open.push_back(real);
    size_t added = 0;
    std::vector<fs::path> folders;
    for (const auto& child : SortedChildren(walk, folder)) {
        if (Matches(pattern.c_str(), child.filename().u8string().c_str())) {
            Kind kind = KindOf(walk, child);
            if (kind == Kind::Missing)
                walk.Fail("\"" + Shown(child) + "\" vanished while its folder was read");
            if (kind == Kind::File) {
                AddFile(walk, child, depth);
                walk.plan.files.back().walked = true;
                added++;
            } else {
                folders.push_back(child);
            }
        } else if (walk.recursive && fs::is_directory(child, error)) {
            folders.push_back(child);
        }
    }
    if (walk.recursive)
        for (const auto& child : folders) {
            size_t mark = walk.plan.files.size();
            AddDirectory(walk, child, depth);
            size_t inner = AddMatches(walk, child, pattern, depth + 1);
            if (!inner)
                walk.plan.files.resize(mark);
            added += inner;
        }
    walk.open.pop_back();
    return added;
}

}  // namespace

void AddSource(GroupPlan& plan, const std::string& folder, const std::string& source, bool recursive, bool compress,
               unsigned codePage, const std::string& project, int line, Project& totals)
{
    SourceWalk walk{ plan, recursive, compress, codePage, project, line, totals, {} };
    if (source.empty())
        walk.Fail("\"source\" is empty");
    std::string path = source;
    for (char& c : path)
        if (c == '\\')
            c = '/';
    if (path.back() == '/') {
        std::string bare = source.substr(0, source.find_last_not_of("\\/") + 1);
        walk.Fail("\"" + source + "\" ends in a separator and so names no folder: write \"" + bare +
                  "\" for the folder under its own name, or \"" + bare + "\\*\" with recursive=yes for what it holds");
    }
    fs::path full = path.size() > 1 && (path[0] == '/' || path[1] == ':') ? fs::u8path(path) : fs::u8path(folder) / fs::u8path(path);
    std::error_code error;
    std::string leaf = full.filename().u8string();
    if (leaf == "." || leaf == "..") {
        full = fs::weakly_canonical(full, error);   // the folder under its real name
        leaf = full.filename().u8string();
    }
    if (leaf.find_first_of("*?") != std::string::npos) {
        if (!fs::is_directory(full.parent_path(), error))
            walk.Fail("source folder \"" + full.parent_path().u8string() + "\" does not exist");
        if (!AddMatches(walk, full.parent_path(), leaf, 0))
            walk.Fail("no file matches \"" + source + "\"");
        return;
    }
    switch (KindOf(walk, full)) {
    case Kind::Folder:
        walk.recursive = true;
        AddDirectory(walk, full, 0);
        AddMatches(walk, full, "*", 1);
        break;
    case Kind::File:
        AddFile(walk, full, 0);
        break;
    case Kind::Missing:
        walk.Fail("source file \"" + source + "\" does not exist");
    }
}

}  // namespace quillset
