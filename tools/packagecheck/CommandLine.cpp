// The command line of MERVOPackageCheck.
#include <cstring>

#include "PackageCheck.h"

namespace {

const char kUsage[] =
    "Usage: MERVOPackageCheck <package folder> [INF name] [--json]\n"
    "       MERVOPackageCheck --help | --version\n"
    "Checks a driver package as a MERVODriverStager run would read it.\n"
    "Exit code: 0 nothing to warn about, 1 warnings only, 2 the run would fail,\n"
    "3 nothing checked (bad arguments or no such folder).\n";

}  // namespace

int RunPackageCheck(int argumentCount, char** arguments, FILE* out)
{
    bool json = false;
    const char* positional[2] = {nullptr, nullptr};
    int positionalCount = 0;
    for (int i = 1; i < argumentCount; ++i) {
        if (strcmp(arguments[i], "--json") == 0) {
            json = true;
        } else if (strcmp(arguments[i], "--help") == 0 || strcmp(arguments[i], "/?") == 0) {
            fputs(kUsage, out);
            return CHECK_CLEAN;
        } else if (strcmp(arguments[i], "--version") == 0) {
            fputs("MERVOPackageCheck " MERVO_VERSION_DOTTED "\n", out);
            return CHECK_CLEAN;
        } else if (positionalCount < 2) {
            positional[positionalCount++] = arguments[i];
        } else {
            positionalCount = 3;
        }
    }
    if (positionalCount < 1 || positionalCount > 2) {
        fputs(kUsage, stderr);
        return CHECK_NOT_RUN;
    }

    std::string programFolder;
    std::string error;
    if (OpenPackageFolder(positional[0], &programFolder, &error) != 0) {
        fprintf(stderr, "MERVOPackageCheck: %s\n", error.c_str());
        return CHECK_NOT_RUN;
    }
    PackageReport report;
    CheckPackage(programFolder.c_str(), positional[1], &report);
    report.packageFolder = positional[0];
    ClosePackageFolder();

    std::string text = json ? FormatReportJson(report) : FormatReportText(report);
    fwrite(text.data(), 1, text.size(), out);
    fflush(out);
    return report.exitCode;
}
