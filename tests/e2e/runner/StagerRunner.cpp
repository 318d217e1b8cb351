// Runs MERVODriverStager.exe once, as the demo shows it: prints the caption
// and text of every message box the program shows, answers it with OK, and
// prints the exit code. With a real display a person sees the boxes too.
//
// Usage: stager_runner.exe STAGER_EXE [ARGUMENT TEXT]
//   The argument text is handed to the stager exactly as given (one word).
// Exits with the stager's exit code, or 255 when it could not be run.
#include <cstdio>
#include <string>

#include "StagerHarness.h"

namespace {

unsigned boxesSeen = 0;

void PrintBox(const e2e::MessageBoxSeen& box)
{
    printf("Message box %u, caption \"%s\":\n%s\n(answered OK)\n", ++boxesSeen, box.caption.c_str(),
           box.text.c_str());
    fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: stager_runner.exe STAGER_EXE [ARGUMENT TEXT]\n");
        return 255;
    }
    e2e::RunRequest request;
    request.exePath = argv[1];
    request.argumentText = argc > 2 ? argv[2] : "";
    request.limitMs = 120000;  // two companion-tool waits of 30 s and more
    request.onBox = PrintBox;
    printf("Starting: \"%s\" %s\n", request.exePath.c_str(), request.argumentText.c_str());
    fflush(stdout);
    e2e::RunResult result = e2e::RunStager(request);
    if (!result.started) {
        printf("The stager could not be started.\n");
        return 255;
    }
    if (result.boxes.empty())
        printf("No message box.\n");
    if (result.timedOut) {
        printf("The stager did not end within %lu s and was stopped.\n",
               static_cast<unsigned long>(request.limitMs / 1000));
        return 255;
    }
    printf("Exit code: %lu (after %lu ms)\n", static_cast<unsigned long>(result.exitCode),
           static_cast<unsigned long>(result.elapsedMs));
    return static_cast<int>(result.exitCode);
}
