#include <cstring>

#include "DevCtl.h"
#include "PatternMatch.h"
#include "common/BoundedText.h"
#include "common/Names.h"
#include "turn/MachineTurn.h"

namespace {

const char* const USAGE[] = {
    "Usage: MERVODevCtl remove \"<INF path>\" <pattern>",
    "       MERVODevCtl rescan",
    "       MERVODevCtl unstage \"<INF path>\" [force]",
    "       MERVODevCtl trust \"<certificate file>\"",
    "       MERVODevCtl untrust \"<certificate file>\"",
    "       MERVODevCtl status \"<INF path>\"",
    "remove: removes every device instance, present or not, whose hardware or",
    "        compatible ids match <pattern> (no case; * any run, ? any one",
    "        character) and which the INF serves: one of its ids begins with a",
    "        USB\\VID_xxxx&PID_yyyy hardware id that the INF names, followed by",
    "        '&' or nothing.",
    "rescan: re-enumerates the device tree from its root.",
    "unstage: takes every copy of the INF (found by its content) out of the",
    "        system's INF store and deletes its .pnf; \"force\" also takes out",
    "        a copy still used by a present device.",
    "trust, untrust: adds the publisher's certificate (DER or PEM; an end-entity",
    "        certificate for code signing) to the local machine's TrustedPublisher",
    "        store, or takes it out.",
    "status: whether the package is in place: its INF staged (found by its",
    "        content) and every driver file in System32\\Drivers with its bytes.",
    "remove, unstage, trust and untrust wait (at most 5 minutes) while another",
    "        installation is at work on the machine.",
    "Exit codes: 0 done; 1-63 rescan failed with that configuration manager",
    "code (19 CR_FAILURE); 64 wrong command line; 65 INF cannot be opened;",
    "66 INF names no USB hardware id; 67 INF names too many ids; 68 device",
    "list unreadable; 69 an instance could not be removed; 70 64-bit build",
    "missing; 71 64-bit build not run; 72 argument text too long;",
    "unstage: 0 every copy removed; 73 nothing staged; 74 a copy in use (no",
    "force); 75 the system reported a copy removed that is still there; 76 a",
    "copy not removed, its .pnf left, or too many copies; 77 INF store",
    "unreadable (the highest code of all copies is given).",
    "trust, untrust: 78 file unreadable; 79 not a certificate; 80 a CA",
    "certificate; 81 not for code signing; 82 store cannot be opened; 83",
    "store refused the change; 84 untrust: the certificate was not trusted.",
    "85 another installation at work for 5 minutes: nothing done.",
    "status: 0 in place; 73 not staged; 86 another version staged; 87 a",
    "driver file missing or different; 88 a package file unreadable; 65; 77.",
};

int SameWord(const char* given, const char* word)
{
    return StartsWithNoCase(given, word) && strlen(given) == strlen(word);
}

int IsHelpRequest(const char* word)
{
    return SameWord(word, "/?") || SameWord(word, "-?") || SameWord(word, "-h") || SameWord(word, "--help") ||
           SameWord(word, "help");
}

int UsageError(const char* problem)
{
    DevCtlPlatform.WriteLine(problem);
    PrintUsage();
    return DEVCTL_EXIT_USAGE;
}

// The commands that change the system run in the machine's turn: one
// installation at a time, the stager's run included (under whose turn they
// run when it starts them).
enum Command { REMOVE, UNSTAGE, TRUST, UNTRUST };

int RunChangingCommand(Command command, const char* const* words, int force)
{
    MachineTurn turn;
    if (!TurnLetsRun(TakeMachineTurn(DevCtlPlatform, TURN_WAIT_MS, &turn))) {
        char line[DEVCTL_LINE_SIZE];
        if (turn.state == TURN_TIMED_OUT) {
            FormatText(line, sizeof line,
                       "Another installation was at work for %u s: nothing was done, try again later.",
                       static_cast<unsigned>(TURN_WAIT_MS / 1000));
        } else {
            FormatText(line, sizeof line, "Cannot take the machine's turn (error 0x%08X): nothing was done.",
                       static_cast<unsigned>(turn.error));
        }
        DevCtlPlatform.WriteLine(line);
        return DEVCTL_EXIT_NO_TURN;
    }
    int code = DEVCTL_EXIT_OK;
    switch (command) {
    case REMOVE:
        code = RemoveMatchingInstances(words[2], words[3]);
        break;
    case UNSTAGE:
        code = UnstageInf(words[2], force);
        break;
    default:
        code = ChangePublisherTrust(words[2], command == TRUST);
        break;
    }
    GiveMachineTurnBack(DevCtlPlatform, &turn);
    return code;
}

}  // namespace

void PrintUsage(void)
{
    for (const char* line : USAGE) {
        DevCtlPlatform.WriteLine(line);
    }
}

int RunDevCtl(int argc, const char* const* argv)
{
    char path64[DEVCTL_PATH_SIZE];
    char line[DEVCTL_LINE_SIZE];
    switch (DecideHandOff(path64, sizeof path64)) {
    case HANDOFF_TO_64BIT:
        // The 64-bit build takes the turn itself, or runs under the turn
        // this process was started under.
        RelayMachineTurn(DevCtlPlatform);
        return HandOffTo64Bit(path64);
    case HANDOFF_64BIT_MISSING:
        FormatText(line, sizeof line,
                   "This is 64-bit Windows and the 64-bit build %s is missing: "
                   "nothing was done.",
                   path64[0] != '\0' ? path64 : kCompanionTool64Name);
        DevCtlPlatform.WriteLine(line);
        return DEVCTL_EXIT_64BIT_MISSING;
    default:
        break;
    }

    // Absent arguments are taken as empty words.
    const char* words[4] = {"", "", "", ""};
    for (int i = 1; i < argc && i < 4; ++i) {
        if (argv != nullptr && argv[i] != nullptr) {
            words[i] = argv[i];
        }
    }
    if (argc < 2) {
        return UsageError("No command given.");
    }
    if (IsHelpRequest(words[1]) && argc == 2) {
        PrintUsage();
        return DEVCTL_EXIT_OK;
    }
    if (SameWord(words[1], "remove")) {
        if (argc != 4) {
            return UsageError("remove takes an INF path and a pattern.");
        }
        if (words[2][0] == '\0' || words[3][0] == '\0') {
            return UsageError("The INF path and the pattern must not be empty.");
        }
        return RunChangingCommand(REMOVE, words, 0);
    }
    if (SameWord(words[1], "unstage")) {
        if (argc != 3 && argc != 4) {
            return UsageError("unstage takes an INF path and optionally \"force\".");
        }
        if (argc == 4 && !SameWord(words[3], "force")) {
            return UsageError("unstage: the word after the INF path can only be \"force\".");
        }
        if (words[2][0] == '\0') {
            return UsageError("The INF path must not be empty.");
        }
        return RunChangingCommand(UNSTAGE, words, argc == 4);
    }
    if (SameWord(words[1], "trust") || SameWord(words[1], "untrust")) {
        if (argc != 3) {
            return UsageError("trust and untrust take a certificate file.");
        }
        if (words[2][0] == '\0') {
            return UsageError("The certificate file must not be empty.");
        }
        return RunChangingCommand(SameWord(words[1], "trust") ? TRUST : UNTRUST, words, 0);
    }
    if (SameWord(words[1], "status")) {
        if (argc != 3 || words[2][0] == '\0') {
            return UsageError("status takes an INF path.");
        }
        return ShowPackageStatus(words[2]);
    }
    if (SameWord(words[1], "rescan")) {
        if (argc != 2) {
            return UsageError("rescan takes no arguments.");
        }
        return RescanDevices();
    }
    return UsageError("Unknown command.");
}
