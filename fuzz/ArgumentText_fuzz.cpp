// The argument text: InfFileName is the default or the text's leading part (a
// leading double quote left out) up to and including its first ".inf", always
// terminated within its buffer, empty with status 1 when that part does not
// fit; the two flags are plain substring searches.
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "app/MERVODriverStager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The entry gets a C string: the text ends at the first zero byte.
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0'));

    memset(InfFileName, 'X', sizeof InfFileName);
    int status = ReadArgumentText(text.c_str());

    FUZZ_CHECK(strnlen(InfFileName, sizeof InfFileName) < sizeof InfFileName);
    const std::string name = !text.empty() && text[0] == '"' ? text.substr(1) : text;
    const size_t extension = name.find(".inf");
    if (extension == std::string::npos) {
        FUZZ_CHECK(status == 0);
        FUZZ_CHECK(strcmp(InfFileName, "MERVOUSB.inf") == 0);
    } else if (extension + 4 < sizeof InfFileName) {
        FUZZ_CHECK(status == 0);
        FUZZ_CHECK(name.compare(0, extension + 4, InfFileName) == 0);
        FUZZ_CHECK(strlen(InfFileName) == extension + 4);
    } else {
        FUZZ_CHECK(status == 1);
        FUZZ_CHECK(InfFileName[0] == '\0');
    }
    const bool display =
        text.find("nodisplay") != std::string::npos || text.find("NODISPLAY") != std::string::npos;
    const bool log = text.find("nolog") != std::string::npos || text.find("NOLOG") != std::string::npos;
    FUZZ_CHECK(noDisplay == (display ? 1 : 0));
    FUZZ_CHECK(noLog == (log ? 1 : 0));
    return 0;
}
