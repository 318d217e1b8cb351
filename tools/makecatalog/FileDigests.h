// A package file's SHA-1 and SHA-256 from one read of it: a PE image's
// Authenticode image hashes, any other file's hashes of all its bytes.
#pragma once

#include <string>

struct FileDigests {
    bool peImage = false;
    std::string sha1;    // raw bytes
    std::string sha256;  // raw bytes; empty unless asked for
};

// False with `problem` set when the file cannot be read or claims to be a PE
// image with a broken header.
bool DigestFile(const std::string& path, bool sha256, FileDigests* digests, std::string* problem);
