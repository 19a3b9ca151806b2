// The parts of installer packages that WritePackageFile (project.h) puts
// together: the runtime image in front, group and entry framing, streams,
// padding, the checksum; and the installation script's records.
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "../package/package_format.h"
#include "../package/script_format.h"

namespace quillset {

using Bytes = std::vector<uint8_t>;

struct PackageEntry {
    std::string name;            // no path
    uint32_t parentIndex = 0;    // depth: 0 = the group's destination folder
    bool isFile = true;
    bool compress = true;
    uint32_t attributes = 0x20;  // FILE_ATTRIBUTE_ARCHIVE
    uint64_t creationTime = 0, accessTime = 0, writeTime = 0;  // FILETIMEs
    uint32_t versionMS = 0, versionLS = 0;
};

struct FileGroup {
    std::string destination;     // may hold %Variables% and <FolderMacros>
    uint32_t overwriteRule = 0;
    uint32_t compareMode = 0;
    uint32_t sharedFiles = 0;
};

// Records of the installation script, in the order they are added.
class ScriptWriter {
public:
    void record(int32_t type, const Bytes& payload);
    void record(int32_t type, std::initializer_list<std::string> strings);
    Bytes finish() const;        // the records and the type -1 terminator
    static void putString(Bytes& out, const std::string& s);
    static void putU16(Bytes& out, uint16_t v);
    static void putU32(Bytes& out, uint32_t v);
    // The payload of a text record: language, group, index, text.
    static Bytes textPayload(uint16_t language, uint8_t group, uint8_t index, const std::string& text);
private:
    Bytes bytes_;
};

// A zlib stream as the runtime expects it: header 78 DA, a sync flush at the
// end, no final block and no Adler-32 trailer.
Bytes CompressStream(const Bytes& data);

// A group's header with its nextGroupOffset left 0, and an entry up to its
// stored bytes (a directory entry is complete).
Bytes GroupHeader(const FileGroup& group);
Bytes EntryHeader(const PackageEntry& entry, uint32_t size, uint32_t storedLength, bool compressed);

// The runtime image with its package offset set to its size, padded by 16
// zero bytes when that size is a multiple of 64 KiB (the offset's low word
// must not read 0), its PE CheckSum 0 and its own signature, if any,
// removed. False with *ERROR when the image is no Windows executable.
bool PlaceRuntime(const Bytes& runtime, Bytes* head, std::string* error);
// The package offset P of a package or image FILE, or of its first bytes up
// to its PE header (0: no package).
uint64_t PackageOffsetOf(const Bytes& file);

// What ends a package of SIZE bytes on a multiple of 8, where signing
// appends its certificate table with nothing between: empty deflate blocks
// that continue the script's stream, itself ending in a sync flush.
Bytes SigningPadding(uint64_t size);

uint32_t Adler32(const uint8_t* data, size_t size, uint32_t start = 1);

}  // namespace quillset
