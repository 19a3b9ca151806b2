// The fastest plain extraction of a package, the limit that the install
// benchmark holds the runtime against: the package mapped once, its file
// groups walked as the runtime walks them, every stream inflated in one call
// into a buffer of the file's size and written with one WriteFile.
// Usage: inflate_limit PACKAGE FOLDER   (FOLDER stands for "%InstallPath%")
#include <windows.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "../../package/package_format.h"

namespace {

const char kInstallPath[] = "%InstallPath%";

struct Package {
    const uint8_t* bytes;
    uint64_t size;
};

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "inflate_limit: %s\n", what.c_str());
    std::exit(1);
}

uint32_t U32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Folders are made one level at a time, as an installer does for a
// destination that does not exist yet.
void CreateFolderChain(const std::string& folder)
{
    for (size_t i = 3; i <= folder.size(); ++i) {
        if (i == folder.size() || folder[i] == '\\') {
            std::string part = folder.substr(0, i);
            if (!CreateDirectoryA(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
                Fail("cannot create " + part);
        }
    }
}

void WriteWhole(const std::string& path, const uint8_t* data, uint32_t size)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        Fail("cannot create " + path);
    DWORD written = 0;
    if (!WriteFile(file, data, size, &written, nullptr) || written != size)
        Fail("cannot write " + path);
    CloseHandle(file);
}

Package MapPackage(const char* path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                              nullptr);
    LARGE_INTEGER size;
    if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &size))
        Fail(std::string("cannot open ") + path);
    HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    const void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
    if (!view)
        Fail(std::string("cannot map ") + path);
    return { static_cast<const uint8_t*>(view), static_cast<uint64_t>(size.QuadPart) };
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        Fail("usage: inflate_limit PACKAGE FOLDER");
    Package package = MapPackage(argv[1]);
    std::string root = argv[2];
    while (!root.empty() && root.back() == '\\')
        root.pop_back();

    if (package.size < 64)
        Fail("no DOS header");
    uint64_t base = ReadPackageOffset(package.bytes);
    if (base == 0 || base + 12 > package.size)
        Fail("no package behind the image");
    const uint8_t* header = package.bytes + base;
    uint64_t dataOffset = U32(header), scriptOffset = U32(header + 4);
    if (dataOffset < 12 || dataOffset > scriptOffset || base + scriptOffset > package.size)
        Fail("package header out of range");

    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        Fail("zlib cannot start");
    std::vector<uint8_t> buffer;
    unsigned files = 0;
    uint64_t bytes = 0;
    uint64_t group = dataOffset;
    while (group < scriptOffset) {
        if (group + 21 > scriptOffset)
            Fail("file group out of range");
        const uint8_t* at = header + group;
        uint64_t groupEnd = U32(at);
        if (groupEnd <= group || groupEnd > scriptOffset)
            Fail("file group out of range");
        const uint8_t* end = header + groupEnd;
        const char* destination = reinterpret_cast<const char*>(at + 20);
        const uint8_t* entry = static_cast<const uint8_t*>(std::memchr(destination, 0, end - (at + 20)));
        if (!entry)
            Fail("destination without its end");
        if (std::strncmp(destination, kInstallPath, sizeof(kInstallPath) - 1) != 0)
            Fail(std::string("destination outside %InstallPath%: ") + destination);
        std::string folder = root + (destination + sizeof(kInstallPath) - 1);
        CreateFolderChain(folder);
        // levels[k] is the path of directory level k, levels[0] the destination.
        std::vector<std::string> levels{ folder };
        ++entry;
        while (entry < end) {
            const uint8_t* name = static_cast<const uint8_t*>(std::memchr(entry, 0, end - entry));
            if (!name || name + 6 > end)
                Fail("entry out of range");
            std::string entryName(reinterpret_cast<const char*>(entry));
            uint32_t parent = U32(name + 1);
            uint8_t flags = name[5];
            if (parent >= levels.size())
                Fail("entry below an undeclared directory: " + entryName);
            std::string path = levels[parent] + "\\" + entryName;
            if (!(flags & 1)) {
                levels.resize(parent + 1);
                levels.push_back(path);
                if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
                    Fail("cannot create " + path);
                entry = name + 6;
                continue;
            }
            if (name + 54 > end)
                Fail("file entry out of range: " + entryName);
            uint32_t size = U32(name + 6 + 32);
            uint32_t stored = U32(name + 50);
            const uint8_t* data = name + 54;
            if (stored > static_cast<uint64_t>(end - data))
                Fail("stored data out of range: " + entryName);
            if (flags & 2) {
                if (buffer.size() < size)
                    buffer.resize(size);
                inflateReset(&stream);
                stream.next_in = const_cast<Bytef*>(data);
                stream.avail_in = stored;
                stream.next_out = buffer.data();
                stream.avail_out = size;
                int result = inflate(&stream, Z_SYNC_FLUSH);
                if ((result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) || stream.total_out != size)
                    Fail("damaged stream: " + entryName);
                WriteWhole(path, buffer.data(), size);
            } else {
                if (stored != size)
                    Fail("stored length differs from the size: " + entryName);
                WriteWhole(path, data, size);
            }
            ++files;
            bytes += size;
            entry = data + stored;
        }
        group = groupEnd;
    }
    inflateEnd(&stream);
    std::printf("%u files, %llu bytes\n", files, static_cast<unsigned long long>(bytes));
    return 0;
}
