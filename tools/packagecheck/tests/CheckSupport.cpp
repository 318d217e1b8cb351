#include "CheckSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

TempPackage::TempPackage()
{
    std::string pattern = (fs::temp_directory_path() / "mervo-package-XXXXXX").string();
    if (mkdtemp(&pattern[0]) != nullptr) {
        path_ = pattern;
    }
}

TempPackage::~TempPackage()
{
    std::error_code ignored;
    if (!path_.empty()) {
        fs::remove_all(path_, ignored);
    }
}

void TempPackage::Write(const std::string& name, const std::string& bytes) const
{
    fs::path file = fs::path(path_) / name;
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

CheckRun RunCheck(const std::vector<std::string>& arguments)
{
    std::vector<std::string> words = {"MERVOPackageCheck"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(&word[0]);
    }
    FILE* out = tmpfile();
    CheckRun run;
    run.exitCode = RunPackageCheck(static_cast<int>(argv.size()), argv.data(), out);
    rewind(out);
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, out)) > 0) {
        run.output.append(buffer, got);
    }
    fclose(out);
    return run;
}

PackageReport CheckFolder(const std::string& folder, const char* infArgument)
{
    PackageReport report;
    std::string programFolder;
    std::string error;
    if (OpenPackageFolder(folder.c_str(), &programFolder, &error) != 0) {
        report.exitCode = CHECK_NOT_RUN;
        report.failure = error;
        return report;
    }
    CheckPackage(programFolder.c_str(), infArgument, &report);
    report.packageFolder = folder;
    ClosePackageFolder();
    return report;
}

std::vector<std::string> WarningCodes(const PackageReport& report)
{
    std::vector<std::string> codes;
    for (const PackageWarning& warning : report.warnings) {
        codes.push_back(warning.code);
    }
    return codes;
}

std::map<std::string, std::string> FolderSnapshot(const std::string& folder)
{
    std::map<std::string, std::string> snapshot;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
        std::ostringstream state;
        state << entry.last_write_time().time_since_epoch().count() << ' ';
        if (entry.is_regular_file()) {
            state << std::ifstream(entry.path(), std::ios::binary).rdbuf();
        }
        snapshot[fs::relative(entry.path(), folder).string()] = state.str();
    }
    return snapshot;
}

std::string CrLf(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    return text;
}

std::string GoodInf()
{
    return CrLf({"[Version]",
                 "Signature=\"$Windows NT$\"",
                 "Class=Ports",
                 "",
                 "[Manufacturer]",
                 "%Mfg%=Models",
                 "",
                 "[Models]",
                 "%DevDesc%=Install, USB\\VID_0123&PID_4567",
                 "",
                 "[SourceDisksFiles]",
                 "mervousb.sys=1",
                 "",
                 "[Strings]",
                 "Mfg=\"MERVO\"",
                 "DevDesc=\"MERVO Test Device\""});
}

std::string Utf16(const std::string& text)
{
    std::string bytes = "\xFF\xFE";
    for (char c : text) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}
