// The Authenticode image hash: the ranges of hand-made headers at each bound,
// and the digests of real mingw-built images against osslsigncode's.
#include <gtest/gtest.h>

#include <cstdint>

#include "CatalogReader.h"
#include "CheckSupport.h"
#include "PeImage.h"

namespace {

// A hand-made image: "MZ", e_lfanew, "PE\0\0", a COFF header and an optional
// header whose fields the cases set; zero bytes elsewhere.
struct Header {
    size_t fileSize = 1024;
    uint32_t peOffset = 0x40;
    uint32_t magic = 0x10B;
    uint32_t optionalSize = 224;
    uint32_t entries = 16;
    uint32_t tableOffset = 0;
    uint32_t tableSize = 0;
};

// Where the fields land for peOffset 0x40.
const size_t kOptional = 0x58;
const size_t kChecksum = kOptional + 64;
const size_t kEntry32 = kOptional + 96 + 4 * 8;   // certificate entry, PE32
const size_t kEntry64 = kOptional + 112 + 4 * 8;  // and PE32+

void Put(std::string* bytes, size_t at, uint32_t value, size_t width)
{
    for (size_t i = 0; i < width && at + i < bytes->size(); ++i) {
        (*bytes)[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

std::string MakeImage(const Header& h)
{
    std::string bytes(h.fileSize, '\0');
    Put(&bytes, 0, 'M' | 'Z' << 8, 2);
    Put(&bytes, 0x3C, h.peOffset, 4);
    Put(&bytes, h.peOffset, 'P' | 'E' << 8, 4);
    size_t optional = h.peOffset + 24;
    Put(&bytes, h.peOffset + 4 + 16, h.optionalSize, 2);
    Put(&bytes, optional, h.magic, 2);
    size_t directories = optional + (h.magic == 0x20B ? 112 : 96);
    Put(&bytes, directories - 4, h.entries, 4);
    Put(&bytes, directories + 32, h.tableOffset, 4);
    Put(&bytes, directories + 36, h.tableSize, 4);
    return bytes;
}

struct RangeCase {
    const char* name;
    Header header;
    int result;
    std::vector<std::pair<size_t, size_t>> ranges;  // offset, length (PE_IMAGE_OK only)
};

Header With(void (*change)(Header*))
{
    Header h;
    change(&h);
    return h;
}

// clang-format off
const RangeCase kRangeCases[] = {
    {"pe32_without_table", Header(), PE_IMAGE_OK,
     {{0, kChecksum}, {kChecksum + 4, kEntry32 - kChecksum - 4}, {kEntry32 + 8, 1024 - kEntry32 - 8}}},
    {"pe32plus_without_table", With([](Header* h) { h->magic = 0x20B; h->optionalSize = 240; }), PE_IMAGE_OK,
     {{0, kChecksum}, {kChecksum + 4, kEntry64 - kChecksum - 4}, {kEntry64 + 8, 1024 - kEntry64 - 8}}},
    {"four_entries_no_certificate_entry", With([](Header* h) { h->entries = 4; }), PE_IMAGE_OK,
     {{0, kChecksum}, {kChecksum + 4, 1024 - kChecksum - 4}}},
    {"table_ends_at_the_file_end", With([](Header* h) { h->tableOffset = 1000; h->tableSize = 24; }),
     PE_IMAGE_OK, {{0, kChecksum}, {kChecksum + 4, kEntry32 - kChecksum - 4}, {kEntry32 + 8, 1000 - kEntry32 - 8}}},
    {"table_one_byte_past_the_end", With([](Header* h) { h->tableOffset = 1000; h->tableSize = 25; }),
     PE_BAD_HEADER, {}},
    {"table_offset_past_the_end", With([](Header* h) { h->tableOffset = 1025; h->tableSize = 0; }),
     PE_BAD_HEADER, {}},
    {"table_size_wraps_around", With([](Header* h) { h->tableOffset = 0xFFFFFFF0u; h->tableSize = 0x20; }),
     PE_BAD_HEADER, {}},
    {"table_right_after_its_entry", With([](Header* h) { h->tableOffset = kEntry32 + 8; h->tableSize = 8; }),
     PE_IMAGE_OK, {{0, kChecksum}, {kChecksum + 4, kEntry32 - kChecksum - 4}, {kEntry32 + 16, 1024 - kEntry32 - 16}}},
    {"table_over_its_own_entry", With([](Header* h) { h->tableOffset = kEntry32 + 7; h->tableSize = 8; }),
     PE_BAD_HEADER, {}},
    {"data_after_the_table", With([](Header* h) { h->tableOffset = 512; h->tableSize = 256; }), PE_IMAGE_OK,
     {{0, kChecksum}, {kChecksum + 4, kEntry32 - kChecksum - 4}, {kEntry32 + 8, 512 - kEntry32 - 8}, {768, 256}}},
    {"optional_header_ends_at_the_file_end", With([](Header* h) { h->fileSize = kOptional + 224; }), PE_IMAGE_OK,
     {{0, kChecksum}, {kChecksum + 4, kEntry32 - kChecksum - 4}, {kEntry32 + 8, kOptional + 224 - kEntry32 - 8}}},
    {"optional_header_one_byte_past_the_end", With([](Header* h) { h->fileSize = kOptional + 223; }),
     PE_BAD_HEADER, {}},
    {"optional_header_shorter_than_its_directory", With([](Header* h) { h->optionalSize = 95; }), PE_BAD_HEADER, {}},
    {"entries_past_the_optional_header", With([](Header* h) { h->optionalSize = 96 + 39; }), PE_BAD_HEADER, {}},
    {"entries_end_with_the_optional_header", With([](Header* h) { h->optionalSize = 96 + 40; }), PE_IMAGE_OK,
     {{0, kChecksum}, {kChecksum + 4, kEntry32 - kChecksum - 4}, {kEntry32 + 8, 1024 - kEntry32 - 8}}},
    {"unknown_magic", With([](Header* h) { h->magic = 0x107; }), PE_BAD_HEADER, {}},
    {"file_ends_inside_the_coff_header", With([](Header* h) { h->fileSize = 0x44 + 19; }), PE_BAD_HEADER, {}},
    {"pe_offset_past_the_end", With([](Header* h) { h->peOffset = 1021; }), PE_NOT_AN_IMAGE, {}},
    {"pe_signature_ends_at_the_file_end", With([](Header* h) { h->peOffset = 1020; }), PE_BAD_HEADER, {}},
    {"shorter_than_a_dos_header", With([](Header* h) { h->fileSize = 0x3F; }), PE_NOT_AN_IMAGE, {}},
};
// clang-format on

class RangeTest : public testing::TestWithParam<RangeCase> {};

TEST_P(RangeTest, CoverTheImageLessChecksumEntryAndTable)
{
    const RangeCase& c = GetParam();
    std::vector<ByteRange> ranges;
    std::string problem;
    EXPECT_EQ(c.result, AuthenticodeRanges(MakeImage(c.header), &ranges, &problem));
    EXPECT_EQ(c.result != PE_BAD_HEADER, problem.empty()) << problem;
    std::vector<std::pair<size_t, size_t>> got;
    for (const ByteRange& range : ranges) {
        got.emplace_back(range.offset, range.length);
    }
    EXPECT_EQ(c.ranges, got);
}

INSTANTIATE_TEST_SUITE_P(Headers, RangeTest, testing::ValuesIn(kRangeCases), CaseName());

TEST(PeImage, TextIsNoImage)
{
    std::vector<ByteRange> ranges;
    std::string problem;
    EXPECT_EQ(PE_NOT_AN_IMAGE, AuthenticodeRanges("MZ but only text", &ranges, &problem));
    EXPECT_EQ(PE_NOT_AN_IMAGE, AuthenticodeRanges(std::string(0x40, 'M'), &ranges, &problem));
    EXPECT_TRUE(ranges.empty());
}

std::string ImageHash(const std::string& bytes, const std::string& algorithm)
{
    std::vector<ByteRange> ranges;
    std::string problem;
    EXPECT_EQ(PE_IMAGE_OK, AuthenticodeRanges(bytes, &ranges, &problem)) << problem;
    std::string digest;
    EXPECT_TRUE(DigestRanges(algorithm, bytes, ranges, &digest));
    return HexUpper(digest);
}

struct SampleCase {
    const char* file;
    const char* algorithm;
};

class SampleTest : public testing::TestWithParam<SampleCase> {};

// The hash of the unsigned image, of the same image after signing (with a
// certificate table) and after a change of its checksum field alone is
// osslsigncode's digest; a change of one byte of the code is not.
TEST_P(SampleTest, HashesAsOsslsigncodeDoes)
{
    const SampleCase& c = GetParam();
    const std::string bytes = ReadFile(std::string(MERVO_PE_SAMPLES) + "/" + c.file);
    ASSERT_GT(bytes.size(), 1024u);
    const std::string signedFile = PkiFile(std::string("pe/") + c.file + "." + c.algorithm);
    const std::string reference = ReferenceDigest(PkiFile("self.pem"), signedFile);
    const std::string signedBytes = ReadFile(signedFile);
    ASSERT_GT(signedBytes.size(), bytes.size());

    EXPECT_EQ(ImageHash(bytes, c.algorithm), reference);
    EXPECT_EQ(ImageHash(signedBytes, c.algorithm), reference);
    std::string rechecked = bytes;
    size_t checksum = (static_cast<size_t>(static_cast<unsigned char>(bytes[0x3C])) |
                       static_cast<size_t>(static_cast<unsigned char>(bytes[0x3D])) << 8) +
                      24 + 64;
    rechecked[checksum] = static_cast<char>(rechecked[checksum] ^ 0x5A);
    rechecked[checksum + 3] = static_cast<char>(rechecked[checksum + 3] ^ 0x01);
    EXPECT_EQ(ImageHash(rechecked, c.algorithm), reference);
    std::string changed = bytes;
    changed[bytes.size() / 2] = static_cast<char>(changed[bytes.size() / 2] ^ 0x01);
    EXPECT_NE(ImageHash(changed, c.algorithm), reference);
}

INSTANTIATE_TEST_SUITE_P(Samples, SampleTest,
                         testing::Values(SampleCase{"sample32.exe", "sha1"},
                                         SampleCase{"sample32.exe", "sha256"},
                                         SampleCase{"sample64.dll", "sha1"},
                                         SampleCase{"sample64.dll", "sha256"}),
                         [](const testing::TestParamInfo<SampleCase>& param) {
                             std::string name = std::string(param.param.file) + "_" + param.param.algorithm;
                             for (char& ch : name) {
                                 ch = ch == '.' ? '_' : ch;
                             }
                             return name;
                         });

}  // namespace
