// MERVOMakeCatalog: makes the unsigned catalog(s) of a driver package.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "MakeCatalog.h"

namespace {

enum { EXIT_MADE = 0, EXIT_NOT_MADE = 1, EXIT_USAGE = 2 };

const char kUsage[] =
    "Usage: MERVOMakeCatalog <package folder> <INF>... --targets LIST [--output FILE] [--time SECONDS]\n"
    "Makes the unsigned catalog of a driver package: every INF in the folder that names it and every\n"
    "file the listed Windows systems install, SHA-1 where one of them cannot verify SHA-256.\n"
    "  --targets LIST   systems, comma-separated: the checker's names (7-x64, 10-x64, 11-arm64, ...)\n"
    "                   or the Driver Kit's (7_X64, Server2008R2_X64, 10_X64, 10_CO_X64, ...)\n"
    "  --output FILE    one catalog for all of them at FILE; default: the catalog(s) the INF names\n"
    "  --time SECONDS   the catalog's time, seconds since 1970 (UTC); default: SOURCE_DATE_EPOCH,\n"
    "                   else now\n"
    "Exit codes: 0 made, 1 not made (each problem listed, no file written), 2 usage.\n";

// The latest time a catalog can carry: 9999-12-31T23:59:59Z.
const long long kLatestTime = 253402300799LL;

// Decimal seconds since 1970 within the catalog's range; false otherwise.
bool ParseTime(const char* text, time_t* when)
{
    if (text == nullptr || *text == '\0' || strlen(text) > 12) {
        return false;
    }
    long long value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') {
            return false;
        }
        value = value * 10 + (*c - '0');
    }
    if (value > kLatestTime) {
        return false;
    }
    *when = static_cast<time_t>(value);
    return true;
}

int Usage(const char* problem)
{
    fprintf(stderr, "MERVOMakeCatalog: %s\n%s", problem, kUsage);
    return EXIT_USAGE;
}

}  // namespace

int main(int argc, char** argv)
{
    MakeRequest request;
    std::vector<std::string> positional;
    std::string targets;
    const char* timeText = nullptr;
    for (int k = 1; k < argc; ++k) {
        std::string argument = argv[k];
        bool valued = argument == "--targets" || argument == "--output" || argument == "--time";
        if (valued && k + 1 >= argc) {
            return Usage((argument + " needs a value").c_str());
        }
        if (argument == "--help" || argument == "-h") {
            fputs(kUsage, stdout);
            return EXIT_MADE;
        } else if (argument == "--targets") {
            targets = argv[++k];
        } else if (argument == "--output") {
            request.output = argv[++k];
        } else if (argument == "--time") {
            timeText = argv[++k];
        } else if (argument.compare(0, 2, "--") == 0) {
            return Usage(("unknown option " + argument).c_str());
        } else {
            positional.push_back(argument);
        }
    }
    if (positional.size() < 2) {
        return Usage("a package folder and at least one INF are needed");
    }
    request.folder = positional[0];
    request.infs.assign(positional.begin() + 1, positional.end());
    size_t start = 0;
    while (start <= targets.size()) {
        size_t end = targets.find(',', start);
        std::string name = targets.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!name.empty()) {
            const CatalogOsName* os = FindCatalogOs(name);
            if (os == nullptr) {
                return Usage(("unknown Windows system " + name).c_str());
            }
            request.systems.push_back(os);
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    if (request.systems.empty()) {
        return Usage("--targets names no Windows system");
    }
    const char* epoch = getenv("SOURCE_DATE_EPOCH");
    if (timeText != nullptr) {
        if (!ParseTime(timeText, &request.time)) {
            return Usage("--time takes seconds since 1970, at most 253402300799");
        }
    } else if (epoch != nullptr && *epoch != '\0') {
        if (!ParseTime(epoch, &request.time)) {
            return Usage("SOURCE_DATE_EPOCH is not seconds since 1970 up to 253402300799");
        }
    } else {
        request.time = time(nullptr);
    }
    std::vector<std::string> written;
    std::vector<std::string> errors;
    if (!MakeCatalogs(request, &written, &errors)) {
        fprintf(stderr, "MERVOMakeCatalog: no catalog written:\n");
        for (const std::string& error : errors) {
            fprintf(stderr, "  %s\n", error.c_str());
        }
        return EXIT_NOT_MADE;
    }
    for (const std::string& path : written) {
        printf("Wrote %s\n", path.c_str());
    }
    return EXIT_MADE;
}
