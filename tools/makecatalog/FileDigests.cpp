// Hashing a package file: read once, both algorithms fed from the same bytes.
#include "FileDigests.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "CatalogReader.h"
#include "PeImage.h"

namespace {

struct FileClose {
    void operator()(FILE* file) const { fclose(file); }
};

}  // namespace

bool DigestFile(const std::string& path, bool sha256, FileDigests* digests, std::string* problem)
{
    std::unique_ptr<FILE, FileClose> file(fopen(path.c_str(), "rb"));
    if (!file) {
        *problem = std::string("cannot be read: ") + strerror(errno);
        return false;
    }
    std::vector<std::string> algorithms = {"sha1"};
    if (sha256) {
        algorithms.push_back("sha256");
    }
    // The first bytes tell an image ("MZ") from a flat file. An image is
    // kept whole, since its hashed ranges are known only from its header; a
    // flat file is hashed as it is read.
    char head[2] = {};
    size_t got = fread(head, 1, sizeof head, file.get());
    std::vector<std::string> values;
    bool readError = false;
    if (got == sizeof head && head[0] == 'M' && head[1] == 'Z') {
        std::string image(head, got);
        struct stat status = {};
        if (fstat(fileno(file.get()), &status) == 0 && status.st_size > 0) {
            image.reserve(static_cast<size_t>(status.st_size));
        }
        std::vector<char> buffer(size_t{1} << 20);
        for (size_t n; (n = fread(buffer.data(), 1, buffer.size(), file.get())) > 0;) {
            image.append(buffer.data(), n);
        }
        readError = ferror(file.get()) != 0;
        std::vector<ByteRange> ranges;
        std::string imageProblem;
        int kind = AuthenticodeRanges(image, &ranges, &imageProblem);
        if (kind == PE_BAD_HEADER) {
            *problem = "is not a valid PE image: " + imageProblem;
            return false;
        }
        if (kind == PE_NOT_AN_IMAGE) {
            ranges.assign(1, ByteRange{0, image.size()});
        }
        digests->peImage = kind == PE_IMAGE_OK;
        for (const std::string& algorithm : algorithms) {
            values.emplace_back();
            DigestRanges(algorithm, image, ranges, &values.back());
        }
    } else {
        size_t held = got;
        DigestChunks(
            algorithms,
            [&](char* buffer, size_t size) {
                if (held > 0) {
                    memcpy(buffer, head, held);
                    size_t n = held;
                    held = 0;
                    return n;
                }
                return fread(buffer, 1, size, file.get());
            },
            &values);
        readError = ferror(file.get()) != 0;
        digests->peImage = false;
    }
    if (readError) {
        *problem = "could not be read to its end";
        return false;
    }
    for (const std::string& value : values) {
        if (value.empty()) {
            *problem = "could not be hashed";
            return false;
        }
    }
    digests->sha1 = values[0];
    digests->sha256 = sha256 ? values[1] : std::string();
    return true;
}
