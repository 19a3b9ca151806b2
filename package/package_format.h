/* The package's layout as the builder writes it and the runtime reads it:
   the fields of the runtime image's DOS header that locate and check the
   data behind the image. Plain C with fixed-width types, so that the
   runtime, the builder and the tests all include this one description. */
#pragma once
#include <stdint.h>

enum {
    DOS_PACKAGE_OFFSET_LOW = 0x12,  /* u16: low 16 bits of P; 0 = no package, the uninstaller */
    DOS_SCRIPT_READ_SIZE = 0x1C,    /* u32: bytes read as the compressed script */
    DOS_PACKAGE_OFFSET_HIGH = 0x20, /* u16: high 16 bits of P (a reserved word, 0 in a linked image) */
    DOS_CHECKSUM = 0x24,            /* u32: Adler-32 of the file from CHECKSUM_START to its end
                                       (of a signed file: to its certificate table), the PE
                                       CheckSum and security entry taken as zeros */
    CHECKSUM_START = 40,
    DOS_HEADER_SIZE = 64,
    PACKAGE_HEADER_SIZE = 12,       /* PackageHeader, at P */
    /* An image whose size is a multiple of 64 KiB grows by this much, so that
       the low word of P never reads 0 in a package. */
    PACKAGE_OFFSET_PADDING = 16,
};

/* The PackageHeader at P; offsets in it count from P. */
struct PackageHeader {
    uint32_t dataOffset;      /* the first FileGroup: PACKAGE_HEADER_SIZE */
    uint32_t scriptOffset;    /* the ScriptBlock, behind the last FileGroup */
    uint32_t unpackedTotal;   /* the files' sizes added up */
};
enum { PACKAGE_DATA_OFFSET = 0, PACKAGE_SCRIPT_OFFSET = 4, PACKAGE_UNPACKED_TOTAL = 8 };

/* The file data: FileGroups up to scriptOffset. A group is a header of five
   u32 (nextGroupOffset, overwriteRule, compareMode, sharedFiles, reserved)
   and its destination folder, then its entries up to nextGroupOffset. An
   entry is its name, its u32 parent index and its flags; a file entry goes
   on with a record (WIN32_FILE_ATTRIBUTE_DATA, u32 version MS and LS, u32
   stored length) and its stored bytes. */
enum {
    GROUP_HEADER_SIZE = 20,
    ENTRY_HEAD_SIZE = 5,      /* after the name: parent index and flags */
    FILE_RECORD_SIZE = 48,
    ENTRY_FILE = 0x01,        /* else a directory */
    ENTRY_COMPRESSED = 0x02,  /* the stored bytes are a zlib stream */
};
/* A group's overwriteRule for a file that exists, and what rules 1 to 3
   compare by its compareMode. */
enum {
    OVERWRITE_ALWAYS = 0,
    OVERWRITE_IF_NEWER = 1,
    OVERWRITE_IF_NEWER_OR_SAME = 2,
    OVERWRITE_IF_OLDER = 3,
    OVERWRITE_NEVER = 4,      /* and every rule above */
    COMPARE_TIMES = 0,        /* last-write times */
    COMPARE_VERSIONS = 1,     /* version resources; a file without one is overwritten */
    COMPARE_BOTH = 2,         /* times, and versions where the file has one; other modes overwrite */
};
/* The ScriptBlock: the script's u32 size, then its zlib stream. */
enum { SCRIPT_SIZE_FIELD = 4 };

/* The PE fields that Authenticode signing writes: the optional header's
   CheckSum and the security entry of the data directory (u32 file offset,
   u32 size of the certificate table appended at the end of the file). */
enum {
    DOS_PE_HEADER = 0x3C,                        /* u32: file offset of "PE\0\0" */
    PE_OPTIONAL_HEADER = 24,                     /* after the signature and the file header */
    PE_CHECKSUM = PE_OPTIONAL_HEADER + 64,       /* u32, in PE32 and PE32+ alike */
    PE32_SECURITY = PE_OPTIONAL_HEADER + 128,    /* data directory entry 4 */
    PE32PLUS_SECURITY = PE_OPTIONAL_HEADER + 144,
    PE_SIGNED_HEADERS = PE32PLUS_SECURITY + 8,   /* bytes from "PE" that hold both fields */
    /* The table starts on a multiple of 8; a package that ends on one gets
       no padding before it, so its checksum still holds once signed. */
    CERTIFICATE_ALIGNMENT = 8,
};

static inline uint32_t ReadU32(const uint8_t* at)
{
    return at[0] | at[1] << 8 | at[2] << 16 | (uint32_t)at[3] << 24;
}

/* The offset of the security entry from the signature "PE\0\0" at PE
   (PE_SIGNED_HEADERS bytes), or 0 when they are no PE32 or PE32+ headers. */
static inline uint32_t SecurityEntryOffset(const uint8_t* pe)
{
    uint32_t magic = pe[PE_OPTIONAL_HEADER] | pe[PE_OPTIONAL_HEADER + 1] << 8;
    if (ReadU32(pe) != 0x4550)
        return 0;
    return magic == 0x10B ? PE32_SECURITY : magic == 0x20B ? PE32PLUS_SECURITY : 0;
}

/* P, the file offset of the PackageHeader, from a DOS header; 0 when the low
   word is 0, whatever the high word holds: that file is the uninstaller. */
static inline uint32_t ReadPackageOffset(const uint8_t* dosHeader)
{
    uint32_t low = dosHeader[DOS_PACKAGE_OFFSET_LOW] | (uint32_t)dosHeader[DOS_PACKAGE_OFFSET_LOW + 1] << 8;
    uint32_t high = dosHeader[DOS_PACKAGE_OFFSET_HIGH] | (uint32_t)dosHeader[DOS_PACKAGE_OFFSET_HIGH + 1] << 8;
    return low ? low | high << 16 : 0;
}

/* Sets both words of P; 0 makes the image the uninstaller. */
static inline void WritePackageOffset(uint8_t* dosHeader, uint32_t offset)
{
    dosHeader[DOS_PACKAGE_OFFSET_LOW] = (uint8_t)offset;
    dosHeader[DOS_PACKAGE_OFFSET_LOW + 1] = (uint8_t)(offset >> 8);
    dosHeader[DOS_PACKAGE_OFFSET_HIGH] = (uint8_t)(offset >> 16);
    dosHeader[DOS_PACKAGE_OFFSET_HIGH + 1] = (uint8_t)(offset >> 24);
}

/* P for a runtime image of IMAGE_SIZE bytes: the image's size, padded when
   its low 16 bits would be 0. */
static inline uint32_t PlacedImageSize(uint32_t imageSize)
{
    return imageSize & 0xFFFF ? imageSize : imageSize + PACKAGE_OFFSET_PADDING;
}
