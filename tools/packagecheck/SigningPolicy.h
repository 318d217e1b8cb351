// The signing policy: what each Windows target does with a driver package's
// signature. Staging is silent, the publisher prompt ("Always trust software
// from ..."), the red "can't verify the publisher" warning, or a refusal with
// a code; each driver file the target installs is loaded by its kernel or not
// (Code 52).
//
// One grid holds a cell per row of targets and signature column, copied row
// by row from the outcome table of Windows' behaviour the project keeps; a
// short list of named modifiers adjusts a cell for what the grid does not
// split on. JudgeWindowsTarget is a pure function of the target and typed
// facts: it reads no file and no clock, and uses no message text as data.
//
// The facts are per target, so that a reader of the INF per target can fill
// them: the catalog that applies to the target (CatalogFile.NTamd64, ...)
// goes into `trust` and the catalog fields, the first file the target
// installs that its catalog does not hold into `notInCatalog`, and each
// driver file the target installs, with its PE machine type, into `drivers`.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "CatalogTrust.h"

enum class Architecture { X86, X64, Arm64 };

// The releases the grid's rows and the modifiers tell apart. 10 is 1607 or
// later with Secure Boot on, as a new install is; 11 is 24H2 or later.
enum class Release { Windows2000, WindowsXp, Vista, Windows7, Windows8, Windows10, Windows11 };

// The rows of the outcome table; a target reads one.
enum class GridRow { Xp, Vista7X86, Vista7X64, Windows8X86, Windows8X64, Windows10X86, Windows10X64, Arm64 };

struct WindowsTarget {
    const char* name;  // "10-x64"
    int major;         // the version OSAttr names it by: 2:<major>.<minor>
    int minor;
    Architecture architecture;
    Release release;
    GridRow row;
};

// The targets the check knows, in report order; null for an unknown name.
const std::vector<WindowsTarget>& WindowsTargets();
const WindowsTarget* FindWindowsTarget(const std::string& name);

enum class Staging { Silent, Prompt, Warn, Refused, Unknown };
// "silent", "prompt", "warn", "refused", "unknown".
const char* StagingName(Staging staging);

// Whether a target verifies the catalog's hash and signature algorithms.
enum class AlgorithmSupport { Supported, Unconfirmed, Unsupported };
const char* AlgorithmSupportName(AlgorithmSupport support);

// The columns of the grid: how the target sees the signature.
enum class SignatureColumn { None, Vendor, TrustedVendor, Cross, Whql, Attestation };

// A refusal's code as Windows shows it: "0xE000022F"; empty for 0.
std::string CodeText(uint32_t code);

// One driver file the target installs.
struct DriverFacts {
    std::string file;
    bool inCatalog = false;  // a member of the target's catalog holds its hash
    uint16_t machine = 0;    // its PE machine type (PE_MACHINE_*); 0: not read
};

struct TargetFacts {
    bool catalogNamed = false;        // the INF names a catalog for the target
    CatalogTrust trust;               // that catalog's; trust.judged false: this build did not judge it
    std::string publisher;            // the signer's name, as the publisher prompt shows it
    bool catalogRead = false;         // its members were read: the fields below are known
    std::vector<std::string> osAttr;  // the OSAttr values of the INF's members; empty: not restricted
    bool sha2Signature = false;
    bool sha2Members = false;
    std::string notInCatalog;  // a file the target installs (the INF first) that no member holds; empty: none
    std::vector<DriverFacts> drivers;
    time_t now = 0;             // the day the verdict is for
    bool standardUser = false;  // the stager runs without elevation
};

// Whether one target's kernel loads one driver file of the package.
struct DriverVerdict {
    std::string file;
    bool loads = false;
    std::string cause;  // why not (or under which condition it does); empty when plain
    bool unconfirmed = false;
};

// What one Windows target does with the package.
struct TargetVerdict {
    std::string target;   // "7-x64", "10-x64", ...
    bool covered = true;  // the catalog's OSAttr names its version (or names none)
    AlgorithmSupport algorithms = AlgorithmSupport::Supported;
    Staging staging = Staging::Unknown;
    std::string publisher;     // prompt: the publisher Windows names; empty: it names none
    uint32_t code = 0;         // refused: the code Windows gives, 0xE000022F; 0 otherwise
    std::string cause;         // why it prompts, warns or refuses (and what a silent verdict rests on)
    bool unconfirmed = false;  // the rules for this verdict are not confirmed
    std::vector<DriverVerdict> drivers;
};

TargetVerdict JudgeWindowsTarget(const WindowsTarget& target, const TargetFacts& facts);

// Whether the target verifies SHA-256 member hashes in a catalog (the same
// rule the verdicts apply); a catalog for targets that do not holds SHA-1 ones.
bool VerifiesSha256Members(const WindowsTarget& target);
