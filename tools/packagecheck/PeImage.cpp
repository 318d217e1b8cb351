// The Authenticode ranges of a PE image, read with bounds checks on every
// field: a header that points past the end of the file is reported, never
// followed.
#include "PeImage.h"

#include <cstdint>

namespace {

const size_t kDosHeaderSize = 0x40;
const size_t kPeOffsetField = 0x3C;
const size_t kCoffHeaderSize = 20;   // after the 4-byte "PE\0\0"
const size_t kChecksumOffset = 64;   // in the optional header, PE32 and PE32+
const size_t kPe32Directories = 96;  // where the data directory starts
const size_t kPe32PlusDirectories = 112;
const uint32_t kCertificateEntry = 4;  // index of the certificate table's entry
const size_t kDirectoryEntrySize = 8;

uint32_t Read16(const std::string& bytes, size_t at)
{
    return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8;
}

uint32_t Read32(const std::string& bytes, size_t at)
{
    return Read16(bytes, at) | Read16(bytes, at + 2) << 16;
}

// Whether `length` bytes from `offset` lie inside a file of `size` bytes,
// computed without overflow.
bool Inside(size_t offset, size_t length, size_t size)
{
    return offset <= size && length <= size - offset;
}

void Add(std::vector<ByteRange>* ranges, size_t from, size_t to)
{
    if (to > from) {
        ranges->push_back(ByteRange{from, to - from});
    }
}

}  // namespace

int AuthenticodeRanges(const std::string& image, std::vector<ByteRange>* ranges, std::string* problem)
{
    ranges->clear();
    problem->clear();
    const size_t size = image.size();
    if (size < kDosHeaderSize || image[0] != 'M' || image[1] != 'Z') {
        return PE_NOT_AN_IMAGE;
    }
    size_t pe = Read32(image, kPeOffsetField);
    if (!Inside(pe, 4, size) || image.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
        return PE_NOT_AN_IMAGE;
    }
    size_t coff = pe + 4;
    if (!Inside(coff, kCoffHeaderSize, size)) {
        *problem = "the file ends inside its COFF header";
        return PE_BAD_HEADER;
    }
    size_t optionalSize = Read16(image, coff + 16);
    size_t optional = coff + kCoffHeaderSize;
    if (!Inside(optional, 2, size)) {
        *problem = "the file ends before its optional header";
        return PE_BAD_HEADER;
    }
    uint32_t magic = Read16(image, optional);
    size_t directories;
    if (magic == 0x10B) {
        directories = kPe32Directories;
    } else if (magic == 0x20B) {
        directories = kPe32PlusDirectories;
    } else {
        *problem = "its optional header has the unknown magic number " + std::to_string(magic);
        return PE_BAD_HEADER;
    }
    if (optionalSize < directories || !Inside(optional, optionalSize, size)) {
        *problem = "its optional header (" + std::to_string(optionalSize) +
                   " bytes) is too short or runs past the end of the file";
        return PE_BAD_HEADER;
    }
    size_t checksum = optional + kChecksumOffset;
    uint32_t entryCount = Read32(image, optional + directories - 4);
    size_t entry = optional + directories + kCertificateEntry * kDirectoryEntrySize;
    if (entryCount <= kCertificateEntry) {
        // No certificate-table entry: only the checksum is left out.
        Add(ranges, 0, checksum);
        Add(ranges, checksum + 4, size);
        return PE_IMAGE_OK;
    }
    if (entry + kDirectoryEntrySize > optional + optionalSize) {
        *problem = "its data directory names " + std::to_string(entryCount) +
                   " entries but the optional header ends before the certificate table's";
        return PE_BAD_HEADER;
    }
    size_t tableOffset = Read32(image, entry);
    size_t tableSize = Read32(image, entry + 4);
    size_t hashedEnd = size;
    if (tableSize != 0 || tableOffset != 0) {
        // The table lies after the headers and, when present, at the end of
        // the file (anything after it would be outside every signature).
        if (tableOffset < entry + kDirectoryEntrySize || !Inside(tableOffset, tableSize, size)) {
            *problem = "its certificate table (offset " + std::to_string(tableOffset) + ", " +
                       std::to_string(tableSize) + " bytes) lies outside the file's " + std::to_string(size) +
                       " bytes";
            return PE_BAD_HEADER;
        }
        hashedEnd = tableOffset;
    }
    Add(ranges, 0, checksum);
    Add(ranges, checksum + 4, entry);
    Add(ranges, entry + kDirectoryEntrySize, hashedEnd);
    if (hashedEnd != size) {
        Add(ranges, tableOffset + tableSize, size);
    }
    return PE_IMAGE_OK;
}

uint16_t PeMachine(const std::string& image)
{
    const size_t size = image.size();
    if (size < kDosHeaderSize || image[0] != 'M' || image[1] != 'Z') {
        return 0;
    }
    size_t pe = Read32(image, kPeOffsetField);
    if (!Inside(pe, 6, size) || image.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
        return 0;
    }
    return static_cast<uint16_t>(Read16(image, pe + 4));
}
