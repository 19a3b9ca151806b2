// The parts of a package: the runtime image placed in front (its DOS header
// holding P), group and entry framing, streams, the signing padding, and the
// script's records.
#include "package_writer.h"

#include <algorithm>
#include <zlib.h>

namespace quillset {

void ScriptWriter::putU16(Bytes& out, uint16_t v)
{
    out.push_back(v & 0xFF);
    out.push_back(v >> 8);
}

void ScriptWriter::putU32(Bytes& out, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        out.push_back((v >> (8 * i)) & 0xFF);
}

void ScriptWriter::putString(Bytes& out, const std::string& s)
{
    out.insert(out.end(), s.begin(), s.end());
    out.push_back(0);
}

Bytes ScriptWriter::textPayload(uint16_t language, uint8_t group, uint8_t index, const std::string& text)
{
    Bytes payload;
    putU16(payload, language);
    payload.push_back(group);
    payload.push_back(index);
    putString(payload, text);
    return payload;
}

void ScriptWriter::record(int32_t type, const Bytes& payload)
{
    putU32(bytes_, static_cast<uint32_t>(type));
    putU32(bytes_, static_cast<uint32_t>(payload.size()));
    bytes_.insert(bytes_.end(), payload.begin(), payload.end());
}

void ScriptWriter::record(int32_t type, std::initializer_list<std::string> strings)
{
    Bytes payload;
    for (const auto& s : strings)
        putString(payload, s);
    record(type, payload);
}

Bytes ScriptWriter::finish() const
{
    Bytes out = bytes_;
    putU32(out, static_cast<uint32_t>(RECORD_END));
    return out;
}

uint32_t Adler32(const uint8_t* data, size_t size, uint32_t start)
{
    uLong sum = start;
    while (size) {
        uInt piece = size > 1u << 30 ? 1u << 30 : static_cast<uInt>(size);
        sum = adler32(sum, data, piece);
        data += piece;
        size -= piece;
    }
    return static_cast<uint32_t>(sum);
}

Bytes CompressStream(const Bytes& data)
{
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);   // header 78 DA
    Bytes out(deflateBound(&z, data.size()) + 16);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_SYNC_FLUSH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

Bytes GroupHeader(const FileGroup& group)
{
    Bytes out;
    for (uint32_t v : { 0u, group.overwriteRule, group.compareMode, group.sharedFiles, 0u })
        ScriptWriter::putU32(out, v);
    ScriptWriter::putString(out, group.destination);
    return out;
}

Bytes EntryHeader(const PackageEntry& entry, uint32_t size, uint32_t storedLength, bool compressed)
{
    Bytes out;
    ScriptWriter::putString(out, entry.name);
    ScriptWriter::putU32(out, entry.parentIndex);
    if (!entry.isFile) {
        out.push_back(0);
        return out;
    }
    out.push_back(compressed ? ENTRY_FILE | ENTRY_COMPRESSED : ENTRY_FILE);
    ScriptWriter::putU32(out, entry.attributes);
    for (uint64_t t : { entry.creationTime, entry.accessTime, entry.writeTime }) {
        ScriptWriter::putU32(out, static_cast<uint32_t>(t));
        ScriptWriter::putU32(out, static_cast<uint32_t>(t >> 32));
    }
    ScriptWriter::putU32(out, 0);   // size high: no entry holds 4 GiB
    ScriptWriter::putU32(out, size);
    ScriptWriter::putU32(out, entry.versionMS);
    ScriptWriter::putU32(out, entry.versionLS);
    ScriptWriter::putU32(out, storedLength);
    return out;
}

// The fields that signing the package writes, as the runtime's self-check
// takes them: the CheckSum 0 and no security entry. A signed image loses its
// signature, which the package's DOS header would break anyway, and ends
// where its certificate table began.
static void ClearSigningFields(Bytes* image)
{
    Bytes& b = *image;
    const uint32_t peAt = ReadU32(&b[DOS_PE_HEADER]);
    if (peAt > b.size() || b.size() - peAt < PE_SIGNED_HEADERS)
        return;
    uint8_t* pe = &b[peAt];
    const uint32_t security = SecurityEntryOffset(pe);
    if (!security)
        return;
    const uint32_t tableAt = ReadU32(pe + security);
    const uint64_t tableEnd = uint64_t{ tableAt } + ReadU32(pe + security + 4);
    std::fill(pe + PE_CHECKSUM, pe + PE_CHECKSUM + 4, 0);
    std::fill(pe + security, pe + security + 8, 0);
    if (tableAt >= peAt + PE_SIGNED_HEADERS && tableEnd == b.size())
        b.resize(tableAt);
}

// K empty fixed-code blocks (10 bits each: BFINAL 0, BTYPE 01, the
// end-of-block code 0000000) and an empty stored block (3 bits, the rest of
// the byte, 00 00 FF FF) take 5, 6, 7, 9, 10, 11 or 12 bytes for K = 0 to 6:
// one length for every remainder modulo 8, and the stream still ends in a
// sync flush.
Bytes SigningPadding(uint64_t size)
{
    const size_t missing = (CERTIFICATE_ALIGNMENT - size % CERTIFICATE_ALIGNMENT) % CERTIFICATE_ALIGNMENT;
    Bytes padding;
    for (size_t k = 0; missing && padding.empty(); k++) {
        const size_t length = (10 * k + 3 + 7) / 8 + 4;
        if (length % CERTIFICATE_ALIGNMENT != missing)
            continue;
        padding.assign(length, 0);
        for (size_t block = 0; block < k; block++)
            padding[(10 * block + 1) / 8] |= 1 << (10 * block + 1) % 8;   // BTYPE 01
        padding[length - 2] = padding[length - 1] = 0xFF;
    }
    return padding;
}

bool PlaceRuntime(const Bytes& runtime, Bytes* head, std::string* error)
{
    if (runtime.size() < DOS_HEADER_SIZE || runtime[0] != 'M' || runtime[1] != 'Z') {
        *error = "the runtime image is not a Windows executable";
        return false;
    }
    *head = runtime;
    ClearSigningFields(head);
    if (head->size() > 0xFFFFFFFFu - PACKAGE_OFFSET_PADDING) {
        *error = "the runtime image is " + std::to_string(head->size()) + " bytes; it must be below 4 GiB";
        return false;
    }
    const uint32_t p = PlacedImageSize(static_cast<uint32_t>(head->size()));
    head->resize(p, 0);
    WritePackageOffset(head->data(), p);
    return true;
}

uint64_t PackageOffsetOf(const Bytes& file)
{
    return file.size() < DOS_HEADER_SIZE ? 0 : ReadPackageOffset(file.data());
}

}  // namespace quillset
