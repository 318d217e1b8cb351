// A whole run on arbitrary INF bytes and argument text: a documented exit
// code, only documented boxes, no success box after a failure, the log and
// every stream, handle and system text closed, files touched only where the
// program may touch them.
//
// Input: the argument text up to the first zero byte, then the INF bytes
// (without a zero byte: no argument text, all of it is the INF).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "DocumentedBoxes.h"
#include "FuzzSupport.h"
#include "app/MERVODriverStager.h"
#include "inf/INFManager.h"
#include "log/LogFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t zero = input.find('\0');
    const std::string text = zero == std::string::npos ? "" : input.substr(0, zero);
    const std::string inf = zero == std::string::npos ? input : input.substr(zero + 1);

    FuzzFreshMachine();
    FuzzWritePackage(inf);
    // An argument text that names another plain INF name finds the same bytes.
    ReadArgumentText(text.c_str());
    if (InfFileName[0] != '\0' && IsPlainFileName(InfFileName) && strlen(InfFileName) < 200) {
        SimWriteFile(std::string("C:\\pkg\\") + InfFileName, inf);
    }
    const std::string infPath = std::string("C:\\pkg\\") + InfFileName;

    std::vector<char> argument(text.begin(), text.end());
    argument.push_back('\0');
    int code = WinMain(nullptr, nullptr, argument.data(), 1);

    FUZZ_CHECK(IsStagerExitCode(static_cast<unsigned>(code)));
    FUZZ_CHECK(RunLog.isOpen == 0);
    FUZZ_CHECK(Sim().openStreams == 0);
    FUZZ_CHECK(Sim().openHandles == 0);
    FUZZ_CHECK(Sim().openTexts == 0);
    for (size_t i = 0; i < Sim().boxes.size(); ++i) {
        const SimMessageBox& box = Sim().boxes[i];
        if (!IsDocumentedBox(box))
            fprintf(stderr, "box: %s: %s\n", box.caption.c_str(), box.text.c_str());
        FUZZ_CHECK(IsDocumentedBox(box));
        if (box.caption == "MERVODriverStager") {
            // The success box: last, after a run that ended with 0.
            FUZZ_CHECK(code == 0 && i + 1 == Sim().boxes.size() && noDisplay == 0);
        }
    }
    FuzzCheckFileRecords(true, infPath);
    return 0;
}
