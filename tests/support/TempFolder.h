// A throw-away folder in the host's temporary folder ($TMPDIR, else /tmp),
// removed with everything in it when the object goes; the one way the host
// tests, the conformance rows, the fuzz targets and the tools' tests make one.
#pragma once

#include <string>

class TempFolder {
public:
    // Makes <temporary folder>/<prefix>-XXXXXX; path() is empty when that fails.
    explicit TempFolder(const std::string& prefix);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    // Removes everything inside the folder and keeps the folder.
    void Empty() const;

private:
    std::string path_;
};
