// The Authenticode image hash of a PE file covers the whole file less three
// pieces that signing changes: the checksum field of the optional header, the
// certificate-table entry of the data directory and the certificate table
// itself. This finds the byte ranges that remain; hashing them is the
// catalog reader's job.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ByteRange {
    size_t offset;
    size_t length;
};

enum {
    PE_IMAGE_OK = 0,      // `ranges` hold the hashed pieces, in file order
    PE_NOT_AN_IMAGE = 1,  // no "MZ" header or no "PE\0\0" signature: hash it flat
    PE_BAD_HEADER = 2,    // it claims to be an image but its header lies; `problem` says how
};

// The machine types of a PE file header that the checker tells apart.
enum : uint16_t {
    PE_MACHINE_I386 = 0x014C,
    PE_MACHINE_AMD64 = 0x8664,
    PE_MACHINE_ARM64 = 0xAA64,
};

// Splits `image` into the ranges the Authenticode image hash covers.
int AuthenticodeRanges(const std::string& image, std::vector<ByteRange>* ranges, std::string* problem);

// The machine type of a PE image's file header; 0 when `image` (its first
// bytes suffice) is not a PE image or ends before the field.
uint16_t PeMachine(const std::string& image);
