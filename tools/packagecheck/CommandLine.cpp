// The command line of MERVOPackageCheck.
#include <cstring>
#include <ctime>

#include "CheckText.h"
#include "PackageCheck.h"

namespace {

const char kUsage[] =
    "Usage: MERVOPackageCheck <package folder> [INF name] [--json] [--target LIST]\n"
    "       [--require silent] [--standard-user] [--ca-bundle FILE] [--trusted-publisher FILE]\n"
    "       [--trust-dir DIR]\n"
    "       MERVOPackageCheck --help | --version\n"
    "Checks a driver package as a MERVODriverStager run would read it, and what each\n"
    "Windows target does with it (LIST: comma-separated, e.g. 10-x64,11-x64).\n"
    "Exit code: 0 nothing to warn about, 1 warnings only, 2 the run would fail,\n"
    "3 nothing checked (bad arguments or no such folder), 4 --require silent not met.\n";

// Debian's bundle of the CAs Mozilla trusts (package ca-certificates).
const char kSystemCaBundle[] = "/etc/ssl/certs/ca-certificates.crt";

// The trust folder: --trust-dir, else the installed layout's
// <program folder>/../<installed trust folder>, else the default the build
// gives (the source tree's on Linux).
std::string DefaultTrustDir()
{
    std::string folder = ExecutableFolder();
    if (!folder.empty()) {
        std::string installed = folder + "/../" MERVO_PACKAGECHECK_TRUST_INSTALL_DIR;
        if (IsFolder(installed)) {
            return installed;
        }
    }
    return MERVO_PACKAGECHECK_TRUST_DIR;
}

bool SplitTargets(const char* list, std::vector<std::string>* targets)
{
    for (const std::string& name : SplitList(list)) {
        if (FindWindowsTarget(name) == nullptr) {
            fprintf(stderr, "MERVOPackageCheck: unknown target \"%s\"; known:", name.c_str());
            for (const WindowsTarget& known : WindowsTargets()) {
                fprintf(stderr, " %s", known.name);
            }
            fputs("\n", stderr);
            return false;
        }
        targets->push_back(name);
    }
    return true;
}

}  // namespace

CheckOptions DefaultCheckOptions()
{
    CheckOptions options;
    options.trust.trustDir = DefaultTrustDir();
    options.trust.caBundle = kSystemCaBundle;
    options.trust.now = time(nullptr);
    return options;
}

int RunPackageCheck(int argumentCount, char** arguments, FILE* out)
{
    bool json = false;
    CheckOptions options = DefaultCheckOptions();
    const char* positional[2] = {nullptr, nullptr};
    int positionalCount = 0;
    for (int i = 1; i < argumentCount; ++i) {
        const char* argument = arguments[i];
        bool valued = strcmp(argument, "--target") == 0 || strcmp(argument, "--require") == 0 ||
                      strcmp(argument, "--ca-bundle") == 0 || strcmp(argument, "--trusted-publisher") == 0 ||
                      strcmp(argument, "--trust-dir") == 0;
        const char* value = valued && i + 1 < argumentCount ? arguments[++i] : nullptr;
        if (valued && value == nullptr) {
            fprintf(stderr, "MERVOPackageCheck: %s needs a value\n", argument);
            return CHECK_NOT_RUN;
        }
        if (strcmp(argument, "--json") == 0) {
            json = true;
        } else if (strcmp(argument, "--help") == 0 || strcmp(argument, "/?") == 0) {
            fputs(kUsage, out);
            return CHECK_CLEAN;
        } else if (strcmp(argument, "--version") == 0) {
            fputs("MERVOPackageCheck " MERVO_VERSION_DOTTED "\n", out);
            return CHECK_CLEAN;
        } else if (strcmp(argument, "--target") == 0) {
            if (!SplitTargets(value, &options.targets)) {
                return CHECK_NOT_RUN;
            }
        } else if (strcmp(argument, "--require") == 0) {
            if (strcmp(value, "silent") != 0) {
                fprintf(stderr, "MERVOPackageCheck: --require takes only \"silent\"\n");
                return CHECK_NOT_RUN;
            }
            options.requireSilent = true;
        } else if (strcmp(argument, "--standard-user") == 0) {
            options.standardUser = true;
        } else if (strcmp(argument, "--ca-bundle") == 0) {
            options.trust.caBundle = value;
            options.trust.caBundleGiven = true;
        } else if (strcmp(argument, "--trusted-publisher") == 0) {
            options.trust.trustedPublisher = value;
        } else if (strcmp(argument, "--trust-dir") == 0) {
            options.trust.trustDir = value;
        } else if (positionalCount < 2) {
            positional[positionalCount++] = argument;
        } else {
            positionalCount = 3;
        }
    }
    if (positionalCount < 1 || positionalCount > 2) {
        fputs(kUsage, stderr);
        return CHECK_NOT_RUN;
    }
    std::string error;
    if (CheckTrustOptions(options.trust, &error) != 0) {
        fprintf(stderr, "MERVOPackageCheck: %s\n", error.c_str());
        return CHECK_NOT_RUN;
    }

    std::string programFolder;
    if (OpenPackageFolder(positional[0], &programFolder, &error) != 0) {
        fprintf(stderr, "MERVOPackageCheck: %s\n", error.c_str());
        return CHECK_NOT_RUN;
    }
    PackageReport report;
    CheckPackage(programFolder.c_str(), positional[1], options, &report);
    report.packageFolder = positional[0];
    ClosePackageFolder();

    std::string text = json ? FormatReportJson(report) : FormatReportText(report);
    fwrite(text.data(), 1, text.size(), out);
    fflush(out);
    return report.exitCode;
}
