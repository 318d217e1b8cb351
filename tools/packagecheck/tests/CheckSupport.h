// Helpers for the package check's tests: throw-away package folders and runs
// of the command line with its output captured.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "PackageCheck.h"

// A package folder in the host's temporary folder, removed again at the end.
class TempPackage {
public:
    TempPackage();
    ~TempPackage();
    TempPackage(const TempPackage&) = delete;
    TempPackage& operator=(const TempPackage&) = delete;

    const std::string& path() const { return path_; }
    void Write(const std::string& name, const std::string& bytes) const;

private:
    std::string path_;
};

struct CheckRun {
    int exitCode;
    std::string output;
};

// Runs MERVOPackageCheck with these arguments (the program name is added).
CheckRun RunCheck(const std::vector<std::string>& arguments);

// Runs the check on a host folder as the command line does, keeping the report.
PackageReport CheckFolder(const std::string& folder, const char* infArgument);

std::vector<std::string> WarningCodes(const PackageReport& report);

// Every file below `folder` with its bytes and modification time, to show
// that a check left the folder as it was.
std::map<std::string, std::string> FolderSnapshot(const std::string& folder);

// Parses the --json output and checks that the text output shows the same
// content, item by item (gtest failures on mismatch).
void ExpectJsonMatchesText(const std::string& json, const std::string& text);

// A plain ASCII INF of one device with one driver file, in CR LF lines.
std::string GoodInf();
// The lines of a text joined with CR LF.
std::string CrLf(const std::vector<std::string>& lines);
// 8-bit text as UTF-16LE with its byte order mark.
std::string Utf16(const std::string& text);
