// Packages for the tests of every suite: written by the builder's writer
// from a script and groups put together by hand, and read back as the
// runtime reads them: the entries of its file groups with their contents
// inflated, and the records and texts of its script. The checksum and the
// header's unpacked total are checked on the way.
#pragma once
#include <gtest/gtest.h>
#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>
#include <zlib.h>
#include "project.h"

namespace quillset {

inline Bytes ReadFileOf(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A file entry NAME at DEPTH whose content is CONTENT, written now to PATH.
inline SourceFile FileSource(const std::string& path, const std::string& name, const std::string& content,
                             uint32_t depth = 0)
{
    std::ofstream(path, std::ios::binary) << content;
    SourceFile source;
    source.path = path;
    source.entry.name = name;
    source.entry.parentIndex = depth;
    return source;
}

// SCRIPT behind GROUPS written to OUTPUT by WritePackageFile, as a project
// of no file of its own; the package's bytes. Throws BuildError.
inline Bytes WritePackageOf(const Bytes& runtime, const Bytes& script, const std::vector<GroupPlan>& groups,
                            const std::string& output)
{
    Project project;
    project.script = script;
    project.groups = groups;
    BuildStats stats;
    WritePackageFile(runtime, project, output, &stats);
    return ReadFileOf(output);
}

inline uint32_t At32(const Bytes& b, size_t at)
{
    return ReadU32(&b[at]);
}

// The checksum of PACKAGE's bytes as they are now, after a change it covers.
inline void Reseal(Bytes& package)
{
    const uint32_t sum = Adler32(package.data() + CHECKSUM_START, package.size() - CHECKSUM_START);
    for (int i = 0; i < 4; i++)
        package[DOS_CHECKSUM + i] = static_cast<uint8_t>(sum >> (8 * i));
}

// Inflates as the runtime does: 4,096 input bytes per call, the stream taken
// to its end without a final block or trailer. Calls SINK with each piece
// of output and returns how many bytes came out.
inline uint64_t InflateLikeTheRuntime(const uint8_t* data, uint64_t size,
                                      const std::function<void(const uint8_t*, size_t)>& sink)
{
    z_stream z{};
    inflateInit(&z);
    std::vector<uint8_t> out(1 << 20);
    uint64_t total = 0;
    for (uint64_t left = size;;) {
        uInt chunk = static_cast<uInt>(std::min<uint64_t>(left, 4096));
        z.next_in = const_cast<Bytef*>(data);
        z.avail_in = chunk;
        int flush = left ? Z_NO_FLUSH : Z_FINISH;
        int result;
        do {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            result = inflate(&z, flush);
            size_t produced = out.size() - z.avail_out;
            total += produced;
            if (produced)
                sink(out.data(), produced);
        } while (result == Z_OK && z.avail_out == 0);
        if (result == Z_STREAM_ERROR || result == Z_DATA_ERROR || result == Z_NEED_DICT || !left)
            break;
        data += chunk;
        left -= chunk;
    }
    inflateEnd(&z);
    return total;
}

struct ReadEntry {
    std::string destination, name;
    uint32_t rule = 0, mode = 0, shared = 0;   // the group's
    uint32_t depth = 0, size = 0, stored = 0, versionMS = 0, versionLS = 0;
    uint8_t flags = 0;
    bool isFile = false;
    size_t dataAt = 0;   // the stored bytes' offset in the package
    Bytes content;
};
struct ReadText {
    int language, group, index;
    std::string text;
};
struct ReadPackageContents {
    std::vector<ReadEntry> entries;
    std::vector<std::pair<int32_t, Bytes>> records;
    std::vector<ReadText> texts;
    const Bytes* record(int32_t type) const
    {
        for (const auto& r : records)
            if (r.first == type)
                return &r.second;
        return nullptr;
    }
    std::string text(int language, int group, int index) const
    {
        for (const auto& t : texts)
            if (t.language == language && t.group == group && t.index == index)
                return t.text;
        return "(none)";
    }
};

inline ReadPackageContents ReadPackage(const Bytes& b)
{
    ReadPackageContents package;
    EXPECT_EQ(At32(b, DOS_CHECKSUM), Adler32(b.data() + CHECKSUM_START, b.size() - CHECKSUM_START)) << "checksum";
    const size_t p = ReadPackageOffset(b.data());
    const size_t end = p + At32(b, p + PACKAGE_SCRIPT_OFFSET);
    uint64_t unpacked = 0;
    for (size_t group = p + At32(b, p + PACKAGE_DATA_OFFSET); group < end;) {
        size_t next = p + At32(b, group);
        std::string destination = reinterpret_cast<const char*>(&b[group + GROUP_HEADER_SIZE]);
        for (size_t e = group + GROUP_HEADER_SIZE + destination.size() + 1; e < next;) {
            ReadEntry entry;
            entry.destination = destination;
            entry.rule = At32(b, group + 4);
            entry.mode = At32(b, group + 8);
            entry.shared = At32(b, group + 12);
            entry.name = reinterpret_cast<const char*>(&b[e]);
            e += entry.name.size() + 1;
            entry.depth = At32(b, e);
            entry.flags = b[e + 4];
            entry.isFile = entry.flags & ENTRY_FILE;
            e += ENTRY_HEAD_SIZE;
            if (entry.isFile) {
                entry.size = At32(b, e + 32);     // the attributes' size low
                entry.versionMS = At32(b, e + 36);
                entry.versionLS = At32(b, e + 40);
                entry.stored = At32(b, e + 44);
                entry.dataAt = e + FILE_RECORD_SIZE;
                const uint8_t* data = &b[entry.dataAt];
                if (entry.flags & ENTRY_COMPRESSED)
                    EXPECT_EQ(InflateLikeTheRuntime(data, entry.stored,
                                                    [&](const uint8_t* d, size_t n) {
                                                        entry.content.insert(entry.content.end(), d, d + n);
                                                    }),
                              entry.size)
                        << entry.name;
                else
                    entry.content.assign(data, data + entry.stored);
                unpacked += entry.size;
                e += FILE_RECORD_SIZE + entry.stored;
            }
            package.entries.push_back(entry);
        }
        group = next;
    }
    EXPECT_EQ(At32(b, p + PACKAGE_UNPACKED_TOTAL), unpacked) << "unpacked total";
    Bytes script(At32(b, end));
    InflateLikeTheRuntime(&b[end + SCRIPT_SIZE_FIELD], b.size() - end - SCRIPT_SIZE_FIELD,
                          [&, at = size_t{ 0 }](const uint8_t* d, size_t n) mutable {
                              n = std::min(n, script.size() - at);
                              std::copy(d, d + n, script.begin() + at);
                              at += n;
                          });
    for (size_t at = 0; at + 4 <= script.size();) {
        int32_t type = static_cast<int32_t>(At32(script, at));
        if (type == RECORD_END)
            break;
        uint32_t length = At32(script, at + 4);
        Bytes payload(script.begin() + at + RECORD_HEADER_SIZE, script.begin() + at + RECORD_HEADER_SIZE + length);
        if (type == RECORD_TEXT)
            package.texts.push_back({ payload[0] | payload[1] << 8, payload[2], payload[3],
                                      reinterpret_cast<const char*>(&payload[4]) });
        package.records.emplace_back(type, payload);
        at += RECORD_HEADER_SIZE + length;
    }
    return package;
}

}  // namespace quillset
