// The Authenticode ranges of arbitrary bytes: for an image, ascending
// non-overlapping ranges inside the buffer that leave out the checksum field
// (and never more than the file), hashed without reading outside it; for a
// lying header, a reason and no ranges.
#include <cstdint>
#include <string>
#include <vector>

#include "CatalogReader.h"
#include "FuzzSupport.h"
#include "PeImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string image(reinterpret_cast<const char*>(data), size);
    std::vector<ByteRange> ranges;
    std::string problem;
    int result = AuthenticodeRanges(image, &ranges, &problem);

    FUZZ_CHECK(result == PE_IMAGE_OK || result == PE_NOT_AN_IMAGE || result == PE_BAD_HEADER);
    FUZZ_CHECK((result == PE_BAD_HEADER) == !problem.empty());
    if (result != PE_IMAGE_OK) {
        FUZZ_CHECK(ranges.empty());
        return 0;
    }
    size_t end = 0;
    size_t covered = 0;
    for (const ByteRange& range : ranges) {
        FUZZ_CHECK(range.length > 0);
        FUZZ_CHECK(range.offset >= end);
        FUZZ_CHECK(range.offset <= size && range.length <= size - range.offset);
        end = range.offset + range.length;
        covered += range.length;
    }
    FUZZ_CHECK(covered + 4 <= size);  // the checksum field is always left out
    std::string digest;
    FUZZ_CHECK(DigestRanges("sha256", image, ranges, &digest) && digest.size() == 32);
    return 0;
}
