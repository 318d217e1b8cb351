// The platform conformance table: the same rows on the simulated Windows
// (host build) and on the real Win32 table (Windows builds, run under Wine).
//
// Every call starts from a last error of 0xdeadbeef, and each row states the
// last error after it ("left alone" when it is still 0xdeadbeef). Where Wine
// answers otherwise than Windows, a row holds both values, Windows' first,
// and a note says why; the simulator follows Windows.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "Conformance.h"
#include "PlatformCalls.h"

namespace {

const uint32_t kLeftAlone = 0xDEADBEEF;
const uint32_t kNone = PS_INVALID_FILE_ATTRIBUTES;
const uint32_t kReadOnly = PS_FILE_ATTRIBUTE_READONLY;
const uint32_t kHidden = PS_FILE_ATTRIBUTE_HIDDEN;
const uint32_t kSystem = PS_FILE_ATTRIBUTE_SYSTEM;
const uint32_t kFolder = PS_FILE_ATTRIBUTE_DIRECTORY;
const uint32_t kArchive = 0x20;  // every file written anew carries it
const uint32_t kNormal = PS_FILE_ATTRIBUTE_NORMAL;

// Notes of rows that Wine answers otherwise.
const char kArchivedNote[] = "Wine shows every file as archived, also after the attributes were set";
const char kRootNote[] =
    "Wine keeps read-only as the file's write permission, which its user (root here) overrides; "
    "Wine 10 leaves the replaced file archived only";
const char kHiddenNote[] =
    "Windows does not replace a hidden or system file with one that is neither; Wine does (Wine 10 leaves "
    "the replaced file archived only)";
const char kHiddenCopyNote[] =
    "Wine 10 makes a copy (or a replaced file) without the source's hidden or system attribute";
const char kSuccessNote[] = "success sets the last error to 0 (measured under Wine, not verified on Windows)";

const uint32_t kFileNotFound = PS_ERROR_FILE_NOT_FOUND;
const uint32_t kPathNotFound = PS_ERROR_PATH_NOT_FOUND;
const uint32_t kAccessDenied = PS_ERROR_ACCESS_DENIED;
const uint32_t kInvalidHandle = 6;
const uint32_t kSharingViolation = 32;
const uint32_t kFileExists = 80;
const uint32_t kInsufficientBuffer = PS_ERROR_INSUFFICIENT_BUFFER;
const uint32_t kInvalidName = PS_ERROR_INVALID_NAME;
const uint32_t kAlreadyExists = 183;
const uint32_t kTooLong = PS_ERROR_FILENAME_EXCED_RANGE;
const uint32_t kNoMessage = 317;  // ERROR_MR_MID_NOT_FOUND
const uint32_t kExpectedSection = 0xE0000000;
const uint32_t kWrongInfStyle = 0xE0000100;
const uint32_t kBadSectionLine = 0xE0000001;

// Where the rows run: Windows (and the simulator, which follows it), Wine 8
// (Debian 12's, x86_64), Wine 10 (Debian 13's, in the WoW64 root) with a
// 64-bit or a 32-bit process.
enum Side { ON_WINDOWS, WINE_8, WINE_10, WINE_10_WOW64 };

Side CurrentSide()
{
    int version = MachineWineVersion();
    if (version == 0) {
        return ON_WINDOWS;
    }
    if (version < 10) {
        return WINE_8;
    }
    return sizeof(void*) == 4 ? WINE_10_WOW64 : WINE_10;
}

// One expected number: Windows' and, where Wine answers otherwise, Wine's
// (one value for every Wine, or one per Wine and process kind).
struct Want {
    uint32_t value[4];
    Want(uint32_t both) : value{both, both, both, both} {}  // NOLINT(google-explicit-constructor)
    Want(uint32_t onWindows, uint32_t underWine) : value{onWindows, underWine, underWine, underWine} {}
    Want(uint32_t onWindows, uint32_t wine8, uint32_t wine10) : value{onWindows, wine8, wine10, wine10} {}
    Want(uint32_t onWindows, uint32_t wine8, uint32_t wine10, uint32_t wow64)
        : value{onWindows, wine8, wine10, wow64}
    {}
    uint32_t Value() const { return value[CurrentSide()]; }
    bool Differs() const { return value[1] != value[0] || value[2] != value[0] || value[3] != value[0]; }
};

// One expected text, the same way; null means "no text".
struct WantText {
    const char* windows;
    const char* wine;
    WantText(const char* both) : windows(both), wine(both) {}  // NOLINT(google-explicit-constructor)
    WantText(const char* onWindows, const char* underWine) : windows(onWindows), wine(underWine) {}
    const char* Value() const { return MachineUnderWine() ? wine : windows; }
    bool Differs() const
    {
        return (windows == nullptr) != (wine == nullptr) ||
               (windows != nullptr && strcmp(windows, wine) != 0);
    }
};

// Runs one call from a last error of 0xdeadbeef; `error` receives the last
// error right after it.
template <class Call>
auto Measure(uint32_t* error, Call call) -> decltype(call())
{
    Platform.SetLastError(kLeftAlone);
    auto result = call();
    *error = Platform.GetLastError();
    return result;
}

std::string Hex(uint32_t value)
{
    char text[16];
    snprintf(text, sizeof text, "0x%x", value);
    return text;
}

// A row whose Windows and Wine answers differ must say why.
void ExpectNote(bool differs, const char* note, const std::string& row)
{
    EXPECT_TRUE(!differs || (note != nullptr && *note != '\0')) << row << ": Wine differs without a note";
}

// Whether `text` matches `pattern` ignoring case, where '#' stands for one or
// more digits.
bool MatchesIgnoringCase(const std::string& text, const std::string& pattern)
{
    size_t t = 0;
    for (size_t p = 0; p < pattern.size(); ++p) {
        if (pattern[p] == '#') {
            size_t start = t;
            while (t < text.size() && isdigit(static_cast<unsigned char>(text[t]))) {
                ++t;
            }
            if (t == start) {
                return false;
            }
            continue;
        }
        if (t >= text.size() ||
            tolower(static_cast<unsigned char>(text[t])) != tolower(static_cast<unsigned char>(pattern[p]))) {
            return false;
        }
        ++t;
    }
    return t == text.size();
}

class Conformance : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = MachineBegin();
        ASSERT_FALSE(root.empty()) << "no folder for the test";
    }
    void TearDown() override { MachineEnd(); }

    // Expands a path pattern: %R the test's folder, %D its drive letter, %P
    // the folder without "X:\", %L its last name.
    std::string Path(const std::string& pattern) const
    {
        std::string path;
        for (size_t i = 0; i < pattern.size(); ++i) {
            if (pattern[i] != '%' || i + 1 == pattern.size()) {
                path += pattern[i];
                continue;
            }
            char key = pattern[++i];
            if (key == 'R') {
                path += root;
            } else if (key == 'D') {
                path += root.substr(0, 1);
            } else if (key == 'P') {
                path += root.substr(3);
            } else if (key == 'L') {
                path += root.substr(root.rfind('\\') + 1);
            } else {
                path += pattern.substr(i - 1, 2);
            }
        }
        return path;
    }

    // The Windows folder: the system folder without its last name.
    std::string WindowsFolder() const
    {
        char system[600];
        uint32_t length = Platform.GetSystemDirectoryA(system, sizeof system);
        std::string folder(system, length < sizeof system ? length : 0);
        return folder.substr(0, folder.rfind('\\'));
    }

    std::string root;
};

// ---------------------------------------------------------------------------
// Names and paths, through GetFileAttributesA

struct NameRow {
    const char* path;  // a pattern of Conformance::Path
    Want attributes;
    Want error;
    const char* note;
};

void CheckName(const std::string& path, const NameRow& row)
{
    uint32_t error = 0;
    uint32_t attributes = Measure(&error, [&] { return Platform.GetFileAttributesA(path.c_str()); });
    std::string label = std::string("GetFileAttributesA(\"") + row.path + "\")";
    EXPECT_EQ(Hex(row.attributes.Value()), Hex(attributes)) << label;
    EXPECT_EQ(Hex(row.error.Value()), Hex(error)) << label;
    ExpectNote(row.attributes.Differs() || row.error.Differs(), row.note, label);
}

const char kDeviceNote[] = "a device in every folder; measured under Wine, not verified on Windows";

TEST_F(Conformance, NamesAndPaths)
{
    ASSERT_TRUE(MachineWriteFile(Path("%R\\pkg\\Driver.SYS"), "x"));
    // clang-format off
    const NameRow rows[] = {
        {"%R\\pkg\\Driver.SYS", kArchive, kLeftAlone, nullptr},
        {"%R/PKG/driver.sys", kArchive, kLeftAlone, nullptr},
        {"%R\\pkg/./Driver.SYS", kArchive, kLeftAlone, nullptr},
        {"%R\\pkg\\nowhere\\..\\Driver.SYS", kArchive, kLeftAlone, nullptr},
        {"%R\\\\pkg\\\\\\Driver.SYS", kArchive, kLeftAlone, nullptr},
        {"%R\\pkg\\Driver.SYS. . ", kArchive, kLeftAlone, nullptr},
        {"%R\\pkg\\Driver.SYS ", kArchive, kLeftAlone, nullptr},
        {"%R\\pkg.\\Driver.SYS", kArchive, kLeftAlone, nullptr},
        {"%R\\pkg \\Driver.SYS", kNone, kPathNotFound, nullptr},
        {"%R\\pkg\\...\\Driver.SYS", kNone, {kPathNotFound, kInvalidName},
         "Windows keeps a name of three dots as a name (not found); Wine refuses it"},
        {"pkg\\Driver.SYS", kArchive, kLeftAlone, nullptr},
        {"%D:pkg\\Driver.SYS", kArchive, kLeftAlone, nullptr},
        {"..\\%L\\pkg\\Driver.SYS", kArchive, kLeftAlone, nullptr},
        {"\\%P\\pkg\\Driver.SYS", kArchive, kLeftAlone, nullptr},
        {"%D:\\..\\..\\%P\\pkg\\Driver.SYS", kArchive, kLeftAlone, nullptr},
        {"%R", kFolder, kLeftAlone, nullptr},
        {"%R\\PKG", kFolder, kLeftAlone, nullptr},
        {"%R\\pkg\\", kFolder, kLeftAlone, nullptr},
        {"%D:\\", kFolder, kLeftAlone, nullptr},
        {"%R\\pkg\\missing.sys", kNone, kFileNotFound, nullptr},
        {"%R\\nowhere\\Driver.SYS", kNone, kPathNotFound, nullptr},
        {"%R\\pkg\\Driver.SYS\\x", kNone, kPathNotFound, nullptr},
        {"", kNone, kPathNotFound, nullptr},
        {"%R\\pkg\\a?b", kNone, kInvalidName, nullptr},
        {"%R\\pkg\\a*b", kNone, kInvalidName, nullptr},
        {"%R\\pkg\\a<b", kNone, kInvalidName, nullptr},
        {"%R\\pkg\\a>b", kNone, kInvalidName, nullptr},
        {"%R\\pkg\\a|b", kNone, kInvalidName, nullptr},
        {"%R\\pkg\\a\"b", kNone, kInvalidName, nullptr},
        {"%R\\pkg\\a\tb", kNone, kInvalidName, nullptr},
        {"%R\\pkg\\NUL", kArchive, kLeftAlone, kDeviceNote},
        {"%R\\pkg\\con", kArchive, kLeftAlone, kDeviceNote},
        {"%R\\pkg\\nul.txt", kArchive, kLeftAlone, kDeviceNote},
        {"%R\\pkg\\COM0", kNone, kFileNotFound, nullptr},
        {"%R\\pkg\\CONSOLE.txt", kNone, kFileNotFound, nullptr},
    };
    // clang-format on
    for (const NameRow& row : rows) {
        CheckName(Path(row.path), row);
    }

    // A serial port's name names the port, with an extension too: the answer
    // is the port's (present, or absent on this machine), the same for both.
    uint32_t answers[2][2];
    const char* const ports[] = {"%R\\pkg\\COM1.sys", "%R\\pkg\\com1"};
    for (int i = 0; i < 2; ++i) {
        std::string path = Path(ports[i]);
        answers[i][0] = Measure(&answers[i][1], [&] { return Platform.GetFileAttributesA(path.c_str()); });
        EXPECT_TRUE((answers[i][0] == kArchive && answers[i][1] == kLeftAlone) ||
                    (answers[i][0] == kNone && answers[i][1] == kFileNotFound))
            << ports[i] << ": " << Hex(answers[i][0]) << ", last error " << Hex(answers[i][1]);
    }
    EXPECT_EQ(Hex(answers[0][0]), Hex(answers[1][0])) << "COM1.sys and com1";
    EXPECT_EQ(Hex(answers[0][1]), Hex(answers[1][1])) << "COM1.sys and com1";
}

// Full paths of exactly `length` characters: GetFileAttributesA on a missing
// file in the test's folder, then the file made through a text stream, as the
// run log is made, and looked up again.
struct LengthRow {
    size_t length;
    Want missing;    // last error of GetFileAttributesA on the missing file
    Want opened;     // whether OpenStream(path, "w") made it
    Want openError;  // last error after OpenStream
    Want made;       // GetFileAttributesA afterwards
    const char* note;
};

const char kLimitNote[] =
    "the 8-bit file functions take at most 260 characters (error 206 beyond); whether Windows finds a "
    "260-character path is not verified here. Wine's C runtime converts the name itself and opens it "
    "through the wide function, which has no such limit";

TEST_F(Conformance, LongPathsAtTheirLimits)
{
    const LengthRow rows[] = {
        {259, kFileNotFound, 1, 0, kArchive, nullptr},
        {260, kFileNotFound, 1, 0, kArchive, kLimitNote},
        {261, kTooLong, {0, 1}, {kTooLong, 0}, kNone, kLimitNote},
        {499, kTooLong, 0, {kTooLong, kFileNotFound}, kNone, kLimitNote},
        {500, kTooLong, 0, {kTooLong, kFileNotFound}, kNone, kLimitNote},
    };
    for (const LengthRow& row : rows) {
        std::string folder = root + "\\" + std::to_string(row.length);
        ASSERT_TRUE(MachineMakeFolder(folder));
        ASSERT_LT(folder.size() + 2, row.length) << "the test's folder is too long";
        std::string path = folder + "\\" + std::string(row.length - folder.size() - 1, 'n');
        ASSERT_EQ(row.length, path.size());
        std::string label = "path of " + std::to_string(row.length) + " characters";
        uint32_t error = 0;
        uint32_t attributes = Measure(&error, [&] { return Platform.GetFileAttributesA(path.c_str()); });
        EXPECT_EQ(Hex(kNone), Hex(attributes)) << label;
        EXPECT_EQ(Hex(row.missing.Value()), Hex(error)) << label;

        FILE* stream = Measure(&error, [&] { return Platform.OpenStream(path.c_str(), "w"); });
        if (stream != nullptr) {
            fclose(stream);
        }
        EXPECT_EQ(row.opened.Value(), stream != nullptr ? 1u : 0u) << label << ": OpenStream";
        EXPECT_EQ(Hex(row.openError.Value()), Hex(error)) << label << ": OpenStream";
        attributes = Platform.GetFileAttributesA(path.c_str());
        EXPECT_EQ(Hex(row.made.Value()), Hex(attributes)) << label << ": made";
        ExpectNote(
            row.missing.Differs() || row.opened.Differs() || row.openError.Differs() || row.made.Differs(),
            row.note, label);
    }
}

// ---------------------------------------------------------------------------
// CopyFileA, DeleteFileA, SetFileAttributesA

enum FileOp { COPY, COPY_NEW, DELETE, SET_ATTRIBUTES };

struct FileRow {
    FileOp op;
    const char* first;    // source, or the file itself (pattern; %R is the row's folder)
    const char* second;   // target of a copy
    uint32_t attributes;  // argument of SetFileAttributesA
    Want result;
    Want error;
    Want after;      // attributes of the checked file afterwards
    WantText bytes;  // its bytes afterwards (null: not checked)
    const char* note;
};

// The files of each row: a source folder and a target folder with files of
// every kind; each row gets a fresh copy of them.
void MakeRowFiles(const std::string& folder)
{
    struct {
        const char* name;
        const char* bytes;
        uint32_t attributes;
        // clang-format off
    } const files[] = {
        {"\\src\\plain.txt", "plain", 0},           {"\\src\\ro.txt", "ro", kReadOnly},
        {"\\src\\hidden.txt", "hid", kHidden},       {"\\dst\\present.txt", "old", 0},
        {"\\dst\\ro.txt", "old", kReadOnly},         {"\\dst\\hidden.txt", "old", kHidden},
        {"\\dst\\system.txt", "old", kSystem},
    };
    // clang-format on
    for (const auto& file : files) {
        ASSERT_TRUE(MachineWriteFile(folder + file.name, file.bytes)) << file.name;
        if (file.attributes != 0) {
            ASSERT_TRUE(MachineSetAttributes(folder + file.name, file.attributes)) << file.name;
        }
    }
    ASSERT_TRUE(MachineMakeFolder(folder + "\\dst\\sub"));
}

TEST_F(Conformance, FileOperations)
{
    // clang-format off
    const FileRow rows[] = {
        {COPY, "%R\\src\\plain.txt", "%R\\dst\\new.txt", 0, 1, 0, kArchive, "plain", kSuccessNote},
        {COPY, "%R\\src\\ro.txt", "%R\\dst\\new.txt", 0, 1, 0, kReadOnly | kArchive, "ro", kSuccessNote},
        {COPY, "%R\\src\\hidden.txt", "%R\\dst\\new.txt", 0, 1, 0, {kHidden | kArchive, kHidden | kArchive, kArchive},
         "hid", kHiddenCopyNote},
        {COPY, "%R\\src\\plain.txt", "%R\\dst\\present.txt", 0, 1, 0, kArchive, "plain", kSuccessNote},
        {COPY_NEW, "%R\\src\\plain.txt", "%R\\dst\\present.txt", 0, 0, kFileExists, kArchive, "old", nullptr},
        {COPY_NEW, "%R\\src\\plain.txt", "%R\\dst\\new.txt", 0, 1, 0, kArchive, "plain", kSuccessNote},
        {COPY, "%R\\src\\plain.txt", "%R\\dst\\ro.txt", 0, {0, 1}, {kAccessDenied, 0},
         {kReadOnly, kReadOnly | kArchive, kArchive}, {"old", "plain"}, kRootNote},
        {COPY, "%R\\src\\plain.txt", "%R\\dst\\hidden.txt", 0, {0, 1}, {kAccessDenied, 0},
         {kHidden, kHidden | kArchive, kArchive}, {"old", "plain"}, kHiddenNote},
        {COPY, "%R\\src\\hidden.txt", "%R\\dst\\hidden.txt", 0, 1, 0, {kHidden | kArchive, kHidden | kArchive, kArchive},
         "hid", kHiddenCopyNote},
        {COPY, "%R\\src\\plain.txt", "%R\\dst\\system.txt", 0, {0, 1}, {kAccessDenied, 0},
         {kSystem, kSystem | kArchive, kArchive}, {"old", "plain"}, kHiddenNote},
        {COPY, "%R\\src\\missing.txt", "%R\\dst\\new.txt", 0, 0, kFileNotFound, kNone, nullptr, nullptr},
        {COPY, "%R\\nowhere\\plain.txt", "%R\\dst\\new.txt", 0, 0, kPathNotFound, kNone, nullptr, nullptr},
        {COPY, "%R\\src\\plain.txt", "%R\\nowhere\\new.txt", 0, 0, kPathNotFound, kNone, nullptr, nullptr},
        {COPY, "%R\\src", "%R\\dst\\new.txt", 0, 0, kAccessDenied, kNone, nullptr, nullptr},
        {COPY, "%R\\src\\plain.txt", "%R\\dst\\sub", 0, 0, kAccessDenied, kFolder, nullptr, nullptr},
        {COPY, "%R\\src\\plain.txt", "%R\\src\\plain.txt", 0, 0, kSharingViolation, kArchive, "plain", nullptr},
        {COPY, "%R\\src\\plain.txt", "%R\\dst\\a?b.txt", 0, 0, kInvalidName, kNone, nullptr, nullptr},
        {DELETE, "%R\\dst\\present.txt", nullptr, 0, 1, kLeftAlone, kNone, nullptr, nullptr},
        {DELETE, "%R\\dst\\hidden.txt", nullptr, 0, 1, kLeftAlone, kNone, nullptr, nullptr},
        {DELETE, "%R\\dst\\system.txt", nullptr, 0, 1, kLeftAlone, kNone, nullptr, nullptr},
        {DELETE, "%R\\dst\\ro.txt", nullptr, 0, 0, kAccessDenied, {kReadOnly, kReadOnly | kArchive}, "old", kArchivedNote},
        {DELETE, "%R\\dst\\sub", nullptr, 0, 0, kAccessDenied, kFolder, nullptr, nullptr},
        {DELETE, "%R\\dst\\missing.txt", nullptr, 0, 0, kFileNotFound, kNone, nullptr, nullptr},
        {DELETE, "%R\\nowhere\\missing.txt", nullptr, 0, 0, kPathNotFound, kNone, nullptr, nullptr},
        {SET_ATTRIBUTES, "%R\\dst\\present.txt", nullptr, kReadOnly, 1, kLeftAlone, {kReadOnly, kReadOnly | kArchive}, "old",
         kArchivedNote},
        {SET_ATTRIBUTES, "%R\\dst\\present.txt", nullptr, kNormal, 1, kLeftAlone, {kNormal, kArchive}, "old", kArchivedNote},
        {SET_ATTRIBUTES, "%R\\dst\\present.txt", nullptr, 0, 1, kLeftAlone, {kNormal, kArchive}, "old", kArchivedNote},
        {SET_ATTRIBUTES, "%R\\dst\\ro.txt", nullptr, kNormal, 1, kLeftAlone, {kNormal, kArchive}, "old", kArchivedNote},
        {SET_ATTRIBUTES, "%R\\dst\\hidden.txt", nullptr, kNormal, 1, kLeftAlone, {kNormal, kArchive}, "old", kArchivedNote},
        {SET_ATTRIBUTES, "%R\\dst\\present.txt", nullptr, kHidden | kSystem, 1, kLeftAlone,
         {kHidden | kSystem, kHidden | kSystem | kArchive}, "old", kArchivedNote},
        {SET_ATTRIBUTES, "%R\\dst\\sub", nullptr, kHidden, 1, kLeftAlone, kFolder | kHidden, nullptr, nullptr},
        {SET_ATTRIBUTES, "%R\\dst\\missing.txt", nullptr, kNormal, 0, kFileNotFound, kNone, nullptr, nullptr},
        {SET_ATTRIBUTES, "%R\\nowhere\\missing.txt", nullptr, kNormal, 0, kPathNotFound, kNone, nullptr, nullptr},
    };
    // clang-format on
    int index = 0;
    for (const FileRow& row : rows) {
        std::string folder = root + "\\row" + std::to_string(++index);
        MakeRowFiles(folder);
        auto expand = [&](const char* pattern) {
            std::string text = pattern;
            size_t at = text.find("%R");
            return at == std::string::npos ? text : text.replace(at, 2, folder);
        };
        std::string first = expand(row.first);
        std::string second = row.second == nullptr ? "" : expand(row.second);
        const char* names[] = {"CopyFileA", "CopyFileA(fail if exists)", "DeleteFileA", "SetFileAttributesA"};
        std::string label = "row " + std::to_string(index) + ": " + names[row.op] + "(" + row.first +
                            (row.second != nullptr ? std::string(", ") + row.second : "") +
                            (row.op == SET_ATTRIBUTES ? ", " + Hex(row.attributes) : "") + ")";
        uint32_t error = 0;
        int32_t result = Measure(&error, [&] {
            switch (row.op) {
            case COPY:
                return Platform.CopyFileA(first.c_str(), second.c_str(), 0);
            case COPY_NEW:
                return Platform.CopyFileA(first.c_str(), second.c_str(), 1);
            case DELETE:
                return Platform.DeleteFileA(first.c_str());
            default:
                return Platform.SetFileAttributesA(first.c_str(), row.attributes);
            }
        });
        EXPECT_EQ(row.result.Value(), result != 0 ? 1u : 0u) << label;
        EXPECT_EQ(Hex(row.error.Value()), Hex(error)) << label;
        const std::string& checked = row.op == COPY || row.op == COPY_NEW ? second : first;
        EXPECT_EQ(Hex(row.after.Value()), Hex(Platform.GetFileAttributesA(checked.c_str()))) << label;
        if (row.bytes.Value() != nullptr) {
            std::string bytes;
            EXPECT_TRUE(MachineReadFile(checked, &bytes)) << label;
            EXPECT_EQ(row.bytes.Value(), bytes) << label;
        }
        ExpectNote(row.result.Differs() || row.error.Differs() || row.after.Differs() || row.bytes.Differs(),
                   row.note, label);
    }
}

// ---------------------------------------------------------------------------
// OpenStream: modes and refusals

struct OpenRow {
    const char* path;  // pattern
    const char* mode;
    Want opened;
    Want error;
    const char* note;
};

TEST_F(Conformance, StreamModesAndRefusals)
{
    ASSERT_TRUE(MachineWriteFile(root + "\\plain.txt", "x"));
    ASSERT_TRUE(MachineWriteFile(root + "\\ro.txt", "x"));
    ASSERT_TRUE(MachineSetAttributes(root + "\\ro.txt", kReadOnly));
    ASSERT_TRUE(MachineWriteFile(root + "\\hidden.txt", "x"));
    ASSERT_TRUE(MachineSetAttributes(root + "\\hidden.txt", kHidden));
    ASSERT_TRUE(MachineWriteFile(root + "\\system.txt", "x"));
    ASSERT_TRUE(MachineSetAttributes(root + "\\system.txt", kSystem));
    ASSERT_TRUE(MachineMakeFolder(root + "\\sub"));
    const OpenRow rows[] = {
        {"%R\\plain.txt", "r", 1, 0, nullptr},
        {"%R\\plain.txt", "rb", 1, 0, nullptr},
        {"%R\\plain.txt", "r+", 1, 0, nullptr},
        {"%R\\plain.txt", "w", 1, kAlreadyExists, nullptr},
        {"%R\\plain.txt", "a", 1, kAlreadyExists, nullptr},
        {"%R\\new-w.txt", "w", 1, 0, nullptr},
        {"%R\\new-a.txt", "a+", 1, 0, nullptr},
        {"%R\\missing.txt", "r", 0, kFileNotFound, nullptr},
        {"%R\\missing.txt", "r+", 0, kFileNotFound, nullptr},
        {"%R\\nowhere\\x.txt", "r", 0, kPathNotFound, nullptr},
        {"%R\\nowhere\\x.txt", "w", 0, kPathNotFound, nullptr},
        {"%R\\sub", "r", 0, kAccessDenied, nullptr},
        {"%R\\sub", "w", 0, kAccessDenied, nullptr},
        {"%R\\ro.txt", "r", 1, 0, nullptr},
        {"%R\\ro.txt", "w", {0, 1}, {kAccessDenied, kAlreadyExists}, kRootNote},
        {"%R\\ro.txt", "a", {0, 1}, {kAccessDenied, kAlreadyExists}, kRootNote},
        {"%R\\ro.txt", "r+", {0, 1}, {kAccessDenied, 0}, kRootNote},
        {"%R\\hidden.txt", "r", 1, 0, nullptr},
        {"%R\\hidden.txt", "a", 1, kAlreadyExists, nullptr},
        {"%R\\hidden.txt", "w", {0, 1}, {kAccessDenied, kAlreadyExists}, kHiddenNote},
        {"%R\\system.txt", "wb", {0, 1}, {kAccessDenied, kAlreadyExists}, kHiddenNote},
        {"%R\\a?.txt", "w", 0, kInvalidName, nullptr},
        {"%R\\plain.txt", "z", 0, kLeftAlone,
         "an unknown mode: the C runtime refuses it before any system call"},
        {"%R\\plain.txt", "", 0, kLeftAlone, nullptr},
    };
    for (const OpenRow& row : rows) {
        std::string path = Path(row.path);
        std::string label = std::string("OpenStream(\"") + row.path + "\", \"" + row.mode + "\")";
        uint32_t error = 0;
        FILE* stream = Measure(&error, [&] { return Platform.OpenStream(path.c_str(), row.mode); });
        if (stream != nullptr) {
            fclose(stream);
        }
        EXPECT_EQ(row.opened.Value(), stream != nullptr ? 1u : 0u) << label;
        EXPECT_EQ(Hex(row.error.Value()), Hex(error)) << label;
        ExpectNote(row.opened.Differs() || row.error.Differs(), row.note, label);
    }
}

// ---------------------------------------------------------------------------
// Text mode: reading in 500-byte pieces, as the INF readers do, and writing

struct ReadRow {
    const char* name;
    std::string bytes;
    std::vector<std::string> pieces;  // what fgets with 500 bytes returns, in turn
    std::string text;                 // every character, read with fgetc
};

std::string Line(size_t length, char c)
{
    return std::string(length, c);
}

TEST_F(Conformance, TextModeReads)
{
    // clang-format off
    const ReadRow rows[] = {
        {"CR LF", "a\r\nb\r\n", {"a\n", "b\n"}, "a\nb\n"},
        {"lone CR", "a\rb\r\nc\r", {"a\rb\n", "c\r"}, "a\rb\nc\r"},
        {"CR before CR LF", "a\r\r\nb", {"a\r\n", "b"}, "a\r\nb"},
        {"bare LF", "a\nb", {"a\n", "b"}, "a\nb"},
        {"Ctrl-Z ends the text", std::string("a\r\nb\x1a\r\nc", 8), {"a\n", "b"}, "a\nb"},
        {"Ctrl-Z first", std::string("\x1a" "abc", 4), {}, ""},
        {"NUL bytes", std::string("a\0b\r\nc", 6), {"a", "c"}, std::string("a\0b\nc", 5)},
        {"last line without newline", "one\r\nlast", {"one\n", "last"}, "one\nlast"},
        {"498 characters", Line(498, 'a') + "\r\nz", {Line(498, 'a') + "\n", "z"}, Line(498, 'a') + "\nz"},
        {"499 characters", Line(499, 'b') + "\r\nz", {Line(499, 'b'), "\n", "z"}, Line(499, 'b') + "\nz"},
        {"500 characters", Line(500, 'c') + "\r\nz", {Line(499, 'c'), "c\n", "z"}, Line(500, 'c') + "\nz"},
        {"CR LF across the piece", Line(498, 'd') + "\r\n\r\n", {Line(498, 'd') + "\n", "\n"},
         Line(498, 'd') + "\n\n"},
    };
    // clang-format on
    for (const ReadRow& row : rows) {
        std::string path = root + "\\read.txt";
        ASSERT_TRUE(MachineWriteFile(path, row.bytes)) << row.name;
        uint32_t error = 0;
        FILE* stream = Measure(&error, [&] { return Platform.OpenStream(path.c_str(), "r"); });
        ASSERT_NE(stream, nullptr) << row.name;
        std::vector<std::string> pieces;
        char piece[500];
        while (fgets(piece, sizeof piece, stream) != nullptr) {
            pieces.emplace_back(piece);
        }
        EXPECT_EQ(0, ferror(stream)) << row.name;
        fclose(stream);
        EXPECT_EQ(row.pieces, pieces) << row.name;

        stream = Platform.OpenStream(path.c_str(), "r");
        ASSERT_NE(stream, nullptr) << row.name;
        EXPECT_EQ(row.text, ReadToEnd(stream)) << row.name;
        stream = Platform.OpenStream(path.c_str(), "rb");
        ASSERT_NE(stream, nullptr) << row.name;
        EXPECT_EQ(row.bytes, ReadToEnd(stream)) << row.name << " (binary)";
    }
}

struct WriteRow {
    const char* name;
    const char* before;  // the file's bytes before (null: no file)
    const char* mode;
    std::string written;
    std::string bytes;  // the file's bytes after
};

TEST_F(Conformance, TextModeWrites)
{
    const WriteRow rows[] = {
        {"LF as CR LF", nullptr, "w", "one\ntwo", "one\r\ntwo"},
        {"CR LF gets a second CR", nullptr, "w", "one\r\n", "one\r\r\n"},
        {"lone CR kept", nullptr, "w", "a\rb", "a\rb"},
        {"Ctrl-Z and NUL kept", nullptr, "w", std::string("a\x1a\0b\n", 5), std::string("a\x1a\0b\r\n", 6)},
        {"replaces", "old\r\nlonger text\r\n", "w", "new\n", "new\r\n"},
        {"appends", "old\r\n", "a", "more\n", "old\r\nmore\r\n"},
        {"binary keeps LF", nullptr, "wb", "raw\n", "raw\n"},
        {"binary appends", "raw\n", "ab", "more\n", "raw\nmore\n"},
        {"long text", nullptr, "w", Line(4999, 'x') + "\n" + Line(5000, 'y') + "\n",
         Line(4999, 'x') + "\r\n" + Line(5000, 'y') + "\r\n"},
    };
    for (const WriteRow& row : rows) {
        std::string path = root + "\\write.txt";
        if (row.before != nullptr) {
            ASSERT_TRUE(MachineWriteFile(path, row.before)) << row.name;
        }
        FILE* stream = Platform.OpenStream(path.c_str(), row.mode);
        ASSERT_NE(stream, nullptr) << row.name;
        EXPECT_EQ(row.written.size(), fwrite(row.written.data(), 1, row.written.size(), stream)) << row.name;
        EXPECT_EQ(0, fclose(stream)) << row.name;
        std::string bytes;
        EXPECT_TRUE(MachineReadFile(path, &bytes)) << row.name;
        EXPECT_EQ(row.bytes, bytes) << row.name;
        EXPECT_NE(Platform.DeleteFileA(path.c_str()), 0) << row.name;
    }
}

// ---------------------------------------------------------------------------
// Name queries with buffers one too small, exact and larger

enum NameQuery { TEMP_PATH, SYSTEM_DIRECTORY, MODULE_FILE_NAME };

uint32_t Query(NameQuery query, char* buffer, uint32_t size)
{
    switch (query) {
    case TEMP_PATH:
        return Platform.GetTempPathA(size, buffer);
    case SYSTEM_DIRECTORY:
        return Platform.GetSystemDirectoryA(buffer, size);
    default:
        return Platform.GetModuleFileNameA(nullptr, buffer, size);
    }
}

// What the buffer holds afterwards.
enum Content {
    TEXT,       // the whole text
    CUT,        // the text without its last character, then the terminator
    FILLED,     // as many characters of the text as fit, no terminator
    UNTOUCHED,  // nothing written
};

struct SizeRow {
    NameQuery query;
    int32_t extra;  // the buffer's size less the text's length with its terminator
    Want result;    // as an offset from the text's length (0: the length)
    Want error;
    Want content;
    const char* note;
};

TEST_F(Conformance, NameQueryBufferSizes)
{
    const char* names[] = {"GetTempPathA", "GetSystemDirectoryA", "GetModuleFileNameA"};
    // clang-format off
    const SizeRow rows[] = {
        {TEMP_PATH, 1, 0, kLeftAlone, TEXT, nullptr},
        {TEMP_PATH, 0, 0, kLeftAlone, TEXT, nullptr},
        {TEMP_PATH, -1, 1, kLeftAlone, UNTOUCHED, nullptr},
        {SYSTEM_DIRECTORY, 1, 0, kLeftAlone, TEXT, nullptr},
        {SYSTEM_DIRECTORY, 0, 0, kLeftAlone, TEXT, nullptr},
        {SYSTEM_DIRECTORY, -1, 1, kLeftAlone, UNTOUCHED, nullptr},
        {MODULE_FILE_NAME, 1, 0, 0, TEXT, kSuccessNote},
        {MODULE_FILE_NAME, 0, 0, 0, TEXT, kSuccessNote},
        {MODULE_FILE_NAME, -1, 0, kInsufficientBuffer, {CUT, FILLED},
         "Windows Vista and later cut the name to the buffer's size less one and terminate it; Wine, like "
         "Windows XP, fills the buffer without a terminator (XP also sets the last error to 0)"},
    };
    // clang-format on
    for (const SizeRow& row : rows) {
        char full[600];
        uint32_t length = Query(row.query, full, sizeof full);
        ASSERT_GT(length, 0u) << names[row.query];
        ASSERT_LT(length, 300u) << names[row.query];
        std::string text(full, length);
        uint32_t size = static_cast<uint32_t>(static_cast<int32_t>(length) + 1 + row.extra);
        std::string label =
            std::string(names[row.query]) + " into " + std::to_string(size) + " bytes for \"" + text + "\"";
        char buffer[600];
        memset(buffer, '#', sizeof buffer);
        uint32_t error = 0;
        uint32_t result = Measure(&error, [&] { return Query(row.query, buffer, size); });
        EXPECT_EQ(length + row.result.Value(), result) << label;
        EXPECT_EQ(Hex(row.error.Value()), Hex(error)) << label;
        std::string expected(sizeof buffer, '#');
        switch (row.content.Value()) {
        case TEXT:
            expected.replace(0, length + 1, text + '\0');
            break;
        case CUT:
            expected.replace(0, length, text.substr(0, length - 1) + '\0');
            break;
        case FILLED:
            expected.replace(0, size, text.substr(0, size));
            break;
        default:
            break;
        }
        EXPECT_EQ(std::string(buffer, sizeof buffer).substr(0, size + 1), expected.substr(0, size + 1))
            << label;
        ExpectNote(row.result.Differs() || row.error.Differs() || row.content.Differs(), row.note, label);
    }

    // With no buffer at all, the two folder queries tell the size they need.
    for (NameQuery query : {TEMP_PATH, SYSTEM_DIRECTORY}) {
        char full[600];
        uint32_t length = Query(query, full, sizeof full);
        uint32_t error = 0;
        EXPECT_EQ(Measure(&error, [&] { return Query(query, nullptr, 0); }), length + 1) << names[query];
        EXPECT_EQ(Hex(kLeftAlone), Hex(error)) << names[query];
    }
}

// ---------------------------------------------------------------------------
// FormatMessageA and LocalFree

struct MessageRow {
    uint32_t code;
    WantText text;  // null: no system text
    const char* note;
};

TEST_F(Conformance, SystemTexts)
{
    const char* kWineTexts = "Wine's own message texts";
    // clang-format off
    const MessageRow rows[] = {
        {0, {"The operation completed successfully.\r\n", "Success.\r\n"}, kWineTexts},
        {kFileNotFound, {"The system cannot find the file specified.\r\n", "File not found.\r\n"}, kWineTexts},
        {kPathNotFound, {"The system cannot find the path specified.\r\n", "Path not found.\r\n"}, kWineTexts},
        {kAccessDenied, {"Access is denied.\r\n", "Access denied.\r\n"}, kWineTexts},
        {kInvalidHandle, {"The handle is invalid.\r\n", "Invalid handle.\r\n"}, kWineTexts},
        {29, {"The system cannot write to the specified device.\r\n", "Write fault.\r\n"}, kWineTexts},
        {30, {"The system cannot read from the specified device.\r\n", "Read fault.\r\n"}, kWineTexts},
        {kSharingViolation,
         {"The process cannot access the file because it is being used by another process.\r\n",
          "Sharing violation.\r\n"}, kWineTexts},
        {kFileExists, {"The file exists.\r\n", "File exists.\r\n"}, kWineTexts},
        {PS_ERROR_INVALID_PARAMETER, {"The parameter is incorrect.\r\n", "Invalid parameter.\r\n"}, kWineTexts},
        {kInvalidName, {"The filename, directory name, or volume label syntax is incorrect.\r\n", "Invalid name.\r\n"},
         kWineTexts},
        {kInsufficientBuffer, {"The data area passed to a system call is too small.\r\n", "Insufficient buffer.\r\n"},
         kWineTexts},
        {kTooLong, {"The filename or extension is too long.\r\n", "File name is too long.\r\n"}, kWineTexts},
        {kWrongInfStyle, nullptr, nullptr},
        {kExpectedSection, nullptr, nullptr},
        {99999, nullptr, nullptr},
    };
    // clang-format on
    const uint32_t flags =
        PS_FORMAT_MESSAGE_ALLOCATE_BUFFER | PS_FORMAT_MESSAGE_FROM_SYSTEM | PS_FORMAT_MESSAGE_IGNORE_INSERTS;
    for (const MessageRow& row : rows) {
        std::string label = "FormatMessageA(" + Hex(row.code) + ")";
        char sentinel = 0;
        char* text = &sentinel;
        uint32_t error = 0;
        uint32_t length = Measure(&error, [&] {
            return Platform.FormatMessageA(flags, nullptr, row.code, PS_LANG_USER_DEFAULT,
                                           reinterpret_cast<char*>(&text), 0, nullptr);
        });
        const char* expected = row.text.Value();
        ExpectNote(row.text.Differs(), row.note, label);
        if (expected == nullptr) {
            EXPECT_EQ(0u, length) << label;
            EXPECT_EQ(Hex(kNoMessage), Hex(error)) << label;
            EXPECT_EQ(nullptr, text) << label;
            continue;
        }
        EXPECT_EQ(Hex(kLeftAlone), Hex(error)) << label;
        ASSERT_NE(text, nullptr) << label;
        ASSERT_NE(text, &sentinel) << label;
        EXPECT_STREQ(expected, text) << label;
        EXPECT_EQ(length, strlen(expected)) << label;
        PsHandle freed = Measure(&error, [&] { return Platform.LocalFree(text); });
        EXPECT_EQ(nullptr, freed) << label << ": LocalFree";
        EXPECT_EQ(Hex(kLeftAlone), Hex(error)) << label << ": LocalFree";
    }
    uint32_t error = 0;
    EXPECT_EQ(nullptr, Measure(&error, [] { return Platform.LocalFree(nullptr); }));
    EXPECT_EQ(Hex(kLeftAlone), Hex(error)) << "LocalFree(null)";
}

// ---------------------------------------------------------------------------
// SetupCopyOEMInfA

enum NameBuffer { BIG, EXACT, SHORT_BY_ONE, NO_BUFFER };

struct StageRow {
    const char* name;
    const char* inf;  // null: stage the previous row's INF again
    NameBuffer buffer;
    Want result;
    Want error;
    WantText stored;  // pattern of the stored name (%W the Windows folder, %N the INF's name, # digits,
                      // "=" the previous row's name)
    const char* note;
};

TEST_F(Conformance, StagingInfs)
{
    const char* kValid = "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Ports\r\n";
    const char* kOem = "%W\\inf\\oem#.inf";
    const char* kOwnName = "%W\\inf\\%N";
    const char* kWow64StageNote =
        "the 32-bit SetupCopyOEMInfA of Wine 10 replaces the error of a refused INF with 122 when it is "
        "given "
        "a name buffer";
    const char* kStoredNote =
        "Windows stores the INF as oem<N>.inf and finds an identical one again; Wine keeps its own name. "
        "Success sets the last error to 0 under Wine (not verified on Windows)";
    // clang-format off
    const StageRow rows[] = {
        {"valid", kValid, BIG, 1, 0, {kOem, kOwnName}, kStoredNote},
        {"the same INF again", nullptr, BIG, 1, 0, "=", kStoredNote},
        {"chicago, name buffer exact", "[Version]\r\nSignature=$Chicago$\r\n", EXACT, 1, 0, {kOem, kOwnName},
         kStoredNote},
        {"name buffer short by one", "[Version]\r\nSignature=$Windows 95$\r\n", SHORT_BY_ONE, 0,
         kInsufficientBuffer, {kOem, kOwnName}, kStoredNote},
        {"no name buffer", "[version]\r\nsignature = \"$WINDOWS NT$\"\r\n", NO_BUFFER, 1, 0, {kOem, kOwnName},
         kStoredNote},
        {"no [Version]", "[Strings]\r\nSignature=\"$Chicago$\"\r\n", BIG, 0,
         {kWrongInfStyle, kWrongInfStyle, kWrongInfStyle, kInsufficientBuffer}, nullptr, kWow64StageNote},
        {"unknown Signature", "[Version]\r\nSignature=\"$Windows 2000$\"\r\n", BIG, 0,
         {kWrongInfStyle, kWrongInfStyle, kWrongInfStyle, kInsufficientBuffer}, nullptr, kWow64StageNote},
        {"not an INF", "This is no INF file.\r\n", BIG, 0,
         {kExpectedSection, kExpectedSection, kExpectedSection, kInsufficientBuffer}, nullptr, kWow64StageNote},
        {"a line before the first section", "j = w\r\n[Version]\r\nSignature=\"$Windows NT$\"\r\n", BIG, 0,
         {kExpectedSection, kExpectedSection, kExpectedSection, kInsufficientBuffer}, nullptr, kWow64StageNote},
        {"a section header without ]", "[Version]\r\nSignature=\"$Windows NT$\"\r\n[A\r\nk=v\r\n", BIG, 0,
         {kBadSectionLine, kBadSectionLine, kBadSectionLine, kInsufficientBuffer}, nullptr, kWow64StageNote},
    };
    // clang-format on
    std::string windows = WindowsFolder();
    ASSERT_FALSE(windows.empty());
    std::string previousInf;
    std::string previousStored;
    int index = 0;
    for (const StageRow& row : rows) {
        std::string label = std::string("SetupCopyOEMInfA: ") + row.name;
        std::string inf = previousInf;
        if (row.inf != nullptr) {
            // A comment with the test's folder makes every row's INF new to the system.
            inf = root + "\\stage" + std::to_string(++index) + ".inf";
            ASSERT_TRUE(MachineWriteFile(inf, std::string("; ") + inf + "\r\n" + row.inf)) << label;
        }
        previousInf = inf;
        // The size the stored name needs is learnt from the "no buffer" row's
        // answer: a BIG call first for the others.
        char destination[600];
        memset(destination, '#', sizeof destination);
        uint32_t size = sizeof destination;
        uint32_t required = 0;
        char* component = nullptr;
        if (row.buffer == EXACT || row.buffer == SHORT_BY_ONE) {
            // The stored name's length is that of a first, staged copy's name.
            char first[600];
            uint32_t needed = 0;
            ASSERT_NE(Platform.SetupCopyOEMInfA(inf.c_str(), root.c_str(), PS_SPOST_PATH, 0, first,
                                                sizeof first, &needed, nullptr),
                      0)
                << label;
            size = row.buffer == EXACT ? needed : needed - 1;
        }
        uint32_t error = 0;
        int32_t result = Measure(&error, [&] {
            return Platform.SetupCopyOEMInfA(inf.c_str(), root.c_str(), PS_SPOST_PATH, 0,
                                             row.buffer == NO_BUFFER ? nullptr : destination,
                                             row.buffer == NO_BUFFER ? 0 : size, &required,
                                             row.buffer == NO_BUFFER ? nullptr : &component);
        });
        EXPECT_EQ(row.result.Value(), result != 0 ? 1u : 0u) << label;
        EXPECT_EQ(Hex(row.error.Value()), Hex(error)) << label;
        ExpectNote(row.result.Differs() || row.error.Differs() || row.stored.Differs(), row.note, label);
        const char* stored = row.stored.Value();
        if (stored == nullptr) {
            continue;
        }
        std::string pattern = stored;
        if (pattern == "=") {
            pattern = previousStored;
        } else {
            pattern.replace(pattern.find("%W"), 2, windows);
            size_t name = pattern.find("%N");
            if (name != std::string::npos) {
                pattern.replace(name, 2, inf.substr(inf.rfind('\\') + 1));
            }
        }
        if (row.buffer == BIG || row.buffer == EXACT) {
            std::string name(destination, strnlen(destination, size));
            EXPECT_TRUE(MatchesIgnoringCase(name, pattern))
                << label << ": stored as " << name << ", not " << pattern;
            EXPECT_EQ(required, name.size() + 1) << label;
            EXPECT_EQ(component, destination + name.rfind('\\') + 1) << label;
            std::string bytes;
            EXPECT_TRUE(MachineReadFile(name, &bytes)) << label;
            previousStored = name;
        } else {
            EXPECT_EQ('#', destination[0]) << label << ": name buffer written";
            EXPECT_GT(required, windows.size() + 5) << label;
        }
    }
}

// ---------------------------------------------------------------------------
// Processes and the registry

struct ProcessRow {
    const char* behaviour;  // of the child program; null: a program that does not exist
    uint32_t waitFor;       // milliseconds
    Want started;
    Want startError;
    Want wait;
    Want exitCode;
    const char* note;
};

TEST_F(Conformance, Processes)
{
    const ProcessRow rows[] = {
        {"exit 7", 30000, 1, 0, PS_WAIT_OBJECT_0, 7, kSuccessNote},
        {"exit 0", PS_INFINITE, 1, 0, PS_WAIT_OBJECT_0, 0, kSuccessNote},
        {"block", 0, 1, 0, PS_WAIT_TIMEOUT, PS_STILL_ACTIVE, kSuccessNote},
        {"block", 50, 1, 0, PS_WAIT_TIMEOUT, PS_STILL_ACTIVE, kSuccessNote},
        {nullptr, 0, 0, kFileNotFound, 0, 0, nullptr},
    };
    for (const ProcessRow& row : rows) {
        std::string command = row.behaviour != nullptr ? MachineChildCommand(row.behaviour)
                                                       : "\"" + root + "\\missing.exe\" exit 7";
        std::string label = "CreateProcessA(" + command + "), wait " + std::to_string(row.waitFor);
        PsProcessInformation process{};
        uint32_t error = 0;
        int32_t started = Measure(&error, [&] { return StartProcess(command, &process); });
        EXPECT_EQ(row.started.Value(), started != 0 ? 1u : 0u) << label;
        EXPECT_EQ(Hex(row.startError.Value()), Hex(error)) << label;
        ExpectNote(
            row.started.Differs() || row.startError.Differs() || row.wait.Differs() || row.exitCode.Differs(),
            row.note, label);
        if (started == 0) {
            continue;
        }
        uint32_t waited =
            Measure(&error, [&] { return Platform.WaitForSingleObject(process.hProcess, row.waitFor); });
        EXPECT_EQ(Hex(row.wait.Value()), Hex(waited)) << label;
        EXPECT_EQ(Hex(kLeftAlone), Hex(error)) << label << ": wait";
        uint32_t code = 12345;
        EXPECT_NE(Measure(&error, [&] { return Platform.GetExitCodeProcess(process.hProcess, &code); }), 0)
            << label;
        EXPECT_EQ(row.exitCode.Value(), code) << label;
        EXPECT_EQ(Hex(kLeftAlone), Hex(error)) << label << ": exit code";
        if (waited == PS_WAIT_TIMEOUT) {
            MachineEndChild(process.hProcess);
        }
        EXPECT_NE(Measure(&error, [&] { return Platform.CloseHandle(process.hThread); }), 0) << label;
        EXPECT_NE(Platform.CloseHandle(process.hProcess), 0) << label;
        EXPECT_EQ(Hex(kLeftAlone), Hex(error)) << label << ": close";
        // Both handles are gone now.
        EXPECT_EQ(0, Measure(&error, [&] { return Platform.CloseHandle(process.hProcess); })) << label;
        EXPECT_EQ(Hex(kInvalidHandle), Hex(error)) << label << ": closed twice";
        EXPECT_EQ(Hex(PS_WAIT_FAILED),
                  Hex(Measure(&error, [&] { return Platform.WaitForSingleObject(process.hProcess, 0); })))
            << label;
        EXPECT_EQ(Hex(kInvalidHandle), Hex(error)) << label << ": wait on a closed handle";
    }
}

struct KeyRow {
    const char* key;
    Want status;
    const char* note;
};

TEST_F(Conformance, RegistryKeys)
{
    std::string lower = kPresentKey;
    for (char& c : lower) {
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    }
    const KeyRow rows[] = {
        {kPresentKey, 0, nullptr},
        {lower.c_str(), 0, nullptr},
        {"SOFTWARE\\MERVO conformance\\missing", kFileNotFound, nullptr},
    };
    for (const KeyRow& row : rows) {
        std::string label = std::string("RegOpenKeyExA(HKLM, \"") + row.key + "\")";
        PsKey key = reinterpret_cast<PsKey>(static_cast<intptr_t>(0x1234));
        uint32_t error = 0;
        int32_t status = Measure(&error, [&] {
            return Platform.RegOpenKeyExA(PS_HKEY_LOCAL_MACHINE, row.key, 0, PS_KEY_QUERY_VALUE, &key);
        });
        EXPECT_EQ(Hex(row.status.Value()), Hex(static_cast<uint32_t>(status))) << label;
        EXPECT_EQ(Hex(kLeftAlone), Hex(error)) << label;
        ExpectNote(row.status.Differs(), row.note, label);
        if (status != 0) {
            EXPECT_EQ(nullptr, key) << label;
            continue;
        }
        EXPECT_NE(key, nullptr) << label;
        EXPECT_EQ(0, Measure(&error, [&] { return Platform.RegCloseKey(key); })) << label;
        EXPECT_EQ(Hex(kLeftAlone), Hex(error)) << label << ": RegCloseKey";
    }
}

// ---------------------------------------------------------------------------
// The machine's turn: named mutexes of the machine, the environment, the
// process's ids and the tick count

// A mutex name of this test run's own.
std::string MutexName()
{
    return "Global\\MERVO conformance " + std::to_string(Platform.GetCurrentProcessId());
}

// One call on the mutex, with what it gives and the last error after it.
struct MutexRow {
    const char* call;  // "create", "open", "open missing", "wait <ms>", "release"
    Want result;       // a handle's result is 1 when one was given, 0 when none
    Want error;
    const char* note;
};

// The calls in order, on one mutex; `holder` is the child that owns it from
// the row marked "child holds" until the row "child ends".
TEST_F(Conformance, NamedMutexesOfTheMachine)
{
    const std::string name = MutexName();
    // clang-format off
    const MutexRow rows[] = {
        {"create", 1, 0, nullptr},
        {"create", 1, kAlreadyExists, nullptr},
        {"open", 1, kLeftAlone, nullptr},
        {"open missing", 0, kFileNotFound, nullptr},
        {"wait 0", PS_WAIT_OBJECT_0, kLeftAlone, nullptr},
        {"wait 0", PS_WAIT_OBJECT_0, kLeftAlone, nullptr},  // owned twice
        {"release", 1, kLeftAlone, nullptr},
        {"release", 1, kLeftAlone, nullptr},
        {"release", 0, PS_ERROR_NOT_OWNER, nullptr},
        {"child holds", 1, kLeftAlone, nullptr},
        {"wait 0", PS_WAIT_TIMEOUT, kLeftAlone, nullptr},
        {"wait 50", PS_WAIT_TIMEOUT, kLeftAlone, nullptr},
        {"release", 0, PS_ERROR_NOT_OWNER, nullptr},
        {"child ends", 1, kLeftAlone, nullptr},
        {"wait 0", PS_WAIT_ABANDONED, kLeftAlone, nullptr},  // its owner ended without releasing it
        {"wait 0", PS_WAIT_OBJECT_0, kLeftAlone, nullptr},
        {"release", 1, kLeftAlone, nullptr},
        {"release", 1, kLeftAlone, nullptr},
    };
    // clang-format on
    std::vector<PsHandle> handles;
    PsProcessInformation child{};
    for (const MutexRow& row : rows) {
        const std::string call = row.call;
        std::string label = "row " + std::to_string(&row - rows) + ": " + call;
        uint32_t error = 0;
        uint32_t result = 0;
        PsHandle mutex = handles.empty() ? nullptr : handles.front();
        if (call == "create" || call == "open" || call == "open missing") {
            PsHandle handle = Measure(&error, [&] {
                return call == "create"
                           ? Platform.CreateMutexA(name.c_str())
                           : Platform.OpenMutexA(PS_SYNCHRONIZE,
                                                 (call == "open" ? name : name + " missing").c_str());
            });
            result = handle != nullptr ? 1 : 0;
            if (handle != nullptr) {
                handles.push_back(handle);
            }
        } else if (call.rfind("wait ", 0) == 0) {
            uint32_t milliseconds = static_cast<uint32_t>(std::stoul(call.substr(5)));
            uint32_t before = Platform.GetTickCount();
            result = Measure(&error, [&] { return Platform.WaitForSingleObject(mutex, milliseconds); });
            if (result == PS_WAIT_TIMEOUT) {
                // The tick count goes on while the wait waits.
                EXPECT_GE(Platform.GetTickCount() - before + 15, milliseconds) << label;
            }
        } else if (call == "release") {
            result =
                static_cast<uint32_t>(Measure(&error, [&] { return Platform.ReleaseMutex(mutex); }) != 0);
        } else if (call == "child holds") {
            // The child makes the mutex owned, then blocks; this side waits
            // until it is there.
            ASSERT_NE(0, StartProcess(MachineChildCommand(("hold " + name).c_str()), &child)) << label;
            for (int tries = 0; tries < 500 && !MachineChildHolds(name); ++tries) {
                Platform.WaitForSingleObject(child.hProcess, 10);
            }
            Platform.SetLastError(kLeftAlone);
            result = MachineChildHolds(name) ? 1 : 0;
            error = Platform.GetLastError();
        } else if (call == "child ends") {
            MachineEndChild(child.hProcess);
            Platform.CloseHandle(child.hProcess);
            Platform.CloseHandle(child.hThread);
            Platform.SetLastError(kLeftAlone);
            result = 1;
            error = Platform.GetLastError();
        }
        EXPECT_EQ(Hex(row.result.Value()), Hex(result)) << label;
        EXPECT_EQ(Hex(row.error.Value()), Hex(error)) << label;
        ExpectNote(row.result.Differs() || row.error.Differs(), row.note, label);
    }
    for (PsHandle handle : handles) {
        EXPECT_NE(0, Platform.CloseHandle(handle));
    }
}

TEST_F(Conformance, EnvironmentAndProcessIds)
{
    const char kName[] = "MERVO_CONFORMANCE";
    struct EnvironmentRow {
        const char* call;  // "set", "remove", or "get" with `size`
        const char* name;
        uint32_t size;
        Want result;
        Want error;
        const char* value;  // what a get gives; null: the buffer is not looked at
    };
    // clang-format off
    const EnvironmentRow rows[] = {
        {"get", kName, 16, 0, PS_ERROR_ENVVAR_NOT_FOUND, nullptr},
        {"set", kName, 0, 1, kLeftAlone, nullptr},
        {"get", kName, 16, 4, kLeftAlone, "4242"},
        {"get", "mervo_conformance", 16, 4, kLeftAlone, "4242"},  // names without case
        {"get", kName, 5, 4, kLeftAlone, "4242"},                  // just fits
        {"get", kName, 4, 5, kLeftAlone, nullptr},                 // the size it needs
        {"remove", kName, 0, 1, kLeftAlone, nullptr},
        {"get", kName, 16, 0, PS_ERROR_ENVVAR_NOT_FOUND, nullptr},
    };
    // clang-format on
    for (const EnvironmentRow& row : rows) {
        std::string label = std::string(row.call) + " " + row.name + " " + std::to_string(row.size);
        uint32_t error = 0;
        uint32_t result = 0;
        char value[16] = "";
        if (std::string(row.call) == "get") {
            result =
                Measure(&error, [&] { return Platform.GetEnvironmentVariableA(row.name, value, row.size); });
        } else {
            const char* text = std::string(row.call) == "set" ? "4242" : nullptr;
            result = static_cast<uint32_t>(
                Measure(&error, [&] { return Platform.SetEnvironmentVariableA(row.name, text); }) != 0);
        }
        EXPECT_EQ(row.result.Value(), result) << label;
        EXPECT_EQ(Hex(row.error.Value()), Hex(error)) << label;
        if (row.value != nullptr) {
            EXPECT_STREQ(row.value, value) << label;
        }
    }

    // This process's id and its parent's (0 under Wine for a process started
    // from the host, as this one is); a child finds this process as its parent.
    const uint32_t self = Platform.GetCurrentProcessId();
    uint32_t parent = self;
    uint32_t error = 0;
    EXPECT_EQ(1, Measure(&error, [&] { return Platform.GetParentProcessId(&parent); }));
    EXPECT_EQ(Hex(kLeftAlone), Hex(error));
    EXPECT_NE(0u, self);
    EXPECT_NE(self, parent);
    PsProcessInformation child{};
    ASSERT_NE(0, StartProcess(MachineChildCommand(("parent " + std::to_string(self)).c_str()), &child));
    EXPECT_EQ(PS_WAIT_OBJECT_0, Platform.WaitForSingleObject(child.hProcess, 30000));
    uint32_t code = 12345;
    EXPECT_NE(0, Platform.GetExitCodeProcess(child.hProcess, &code));
    EXPECT_EQ(0u, code) << "the child did not find this process as its parent";
    Platform.CloseHandle(child.hProcess);
    Platform.CloseHandle(child.hThread);
}

// ---------------------------------------------------------------------------
// The window station: the tests run in an interactive one (WinSta0 under
// Wine), whose boxes can be seen and answered.

TEST_F(Conformance, WindowStationOfAnInteractiveRunIsVisible)
{
    uint32_t flags = 0xFFFF0000;
    uint32_t error = 0;
    int32_t asked = Measure(&error, [&] { return Platform.GetWindowStationFlags(&flags); });
    EXPECT_EQ(1, asked);
    EXPECT_EQ(Hex(PS_WSF_VISIBLE), Hex(flags));
    EXPECT_EQ(Hex(kLeftAlone), Hex(error));
}

}  // namespace

// ---------------------------------------------------------------------------
// INF files as the Setup API reads them, and the package checker's INF model
// on the same bytes (on the host build the model is the machine's reader).

struct InfRow {
    const char* name;
    const char* body;  // after "[Version]" with its Signature; "\xFF\xFE" first: written as UTF-16LE
    const char* section;
    const char* key;  // null: the row asks for the install section chosen for `section`
    int field;
    const char* want;  // on x86_64; `want32` on i686 where it differs
    const char* want32 = nullptr;
};

std::string InfBytes(const char* body)
{
    const std::string text = std::string("[Version]\r\nSignature=\"$Windows NT$\"\r\n") + body;
    if (std::string(body).compare(0, 2, "\xFF\xFE") != 0) {
        return text;
    }
    std::string wide = "\xFF\xFE";
    for (char c : std::string("[Version]\r\nSignature=\"$Windows NT$\"\r\n") + (body + 2)) {
        wide += c;
        wide += '\0';
    }
    return wide;
}

TEST_F(Conformance, InfReading)
{
    const char* kStrings = "[Strings]\r\nS=\"val\"\r\nQ=\"quoted, value\"\r\n";
    // clang-format off
    const InfRow rows[] = {
        {"plain field",          "[A]\r\nk = v1, v2\r\n",                      "A", "k", 2, "v2"},
        {"quoted comma",         "[A]\r\nk = \"a, b\", c\r\n",                 "A", "k", 1, "a, b"},
        {"field after quotes",   "[A]\r\nk = \"a, b\", c\r\n",                 "A", "k", 2, "c"},
        {"doubled quote",        "[A]\r\nk = \"a\"\"b\"\r\n",                  "A", "k", 1, "a\"b"},
        {"comment",              "[A]\r\nk = v ; c, d\r\n",                    "A", "k", 2, "<no field>"},
        {"string key",           "[A]\r\nk = %S%.cat\r\n",                     "A", "k", 1, "val.cat"},
        {"string key any case",  "[A]\r\nk = %s%\r\n",                         "A", "k", 1, "val"},
        {"string with a comma",  "[A]\r\nk = %Q%\r\n",                         "A", "k", 1, "quoted, value"},
        {"percent percent",      "[A]\r\nk = 100%%\r\n",                       "A", "k", 1, "100%"},
        {"undefined key",        "[A]\r\nk = %nope%\r\n",                      "A", "k", 1, "%nope%"},
        {"merged sections",      "[A]\r\nx = 1\r\n[B]\r\n[a]\r\ny = 2\r\n",      "A", "y", 1, "2"},
        {"continuation",         "[A]\r\nk = a, \\\r\n  b\r\n",                 "A", "k", 2, "b"},
        {"blank before equals",  "[A]\r\nftdibus.sys = 1,i386\r\n",            "A", "FTDIBUS.SYS", 2, "i386"},
        {"key is field 0",       "[A]\r\n  k2   = x\r\n",                      "A", "k2", 0, "k2"},
        {"missing section",      "[A]\r\nk = v\r\n",                           "B", "k", 1, "<no line>"},
        {"line before sections", "[A]\r\nk = v\r\n",                           "A", "k", 1, "v"},
        {"no closing bracket",   "[A\r\nk = v\r\n[B]\r\nm = n\r\n",           "B", "m", 1, "<not opened>"},
        {"utf-16le",             "\xFF\xFE[A]\r\nk = %S%\r\n",                 "A", "k", 1, "val"},
        {"platform section",     "[I]\r\n[I.NT]\r\n[I.NTamd64]\r\n[I.NTx86]\r\n", "I", nullptr, 0, "I.NTamd64", "I.NTx86"},
        {".NT section",          "[I]\r\n[I.NT]\r\n",                          "I", nullptr, 0, "I.NT"},
        {"undecorated section",  "[I]\r\nx=1\r\n",                             "I", nullptr, 0, "I"},
        {"no such section",      "[J]\r\n",                                    "I", nullptr, 0, "I"},
    };
    // clang-format on
    int index = 0;
    for (const InfRow& row : rows) {
        std::string bytes = InfBytes(row.body) + (row.body[0] == '\xFF' ? "" : kStrings);
        if (row.body[0] == '\xFF') {
            for (char c : std::string(kStrings)) {
                bytes += c;
                bytes += '\0';
            }
        }
        if (std::string(row.name) == "line before sections") {
            bytes = "j = w\r\n" + bytes;  // read by no section, and no reason to refuse the INF
        }
        const std::string path = root + "\\row" + std::to_string(++index) + ".inf";
        ASSERT_TRUE(MachineWriteFile(path, bytes)) << row.name;
        const std::string want = sizeof(void*) == 4 && row.want32 != nullptr ? row.want32 : row.want;
        const std::string machine = row.key != nullptr
                                        ? MachineInfField(path, row.section, row.key, row.field)
                                        : MachineActualSection(path, row.section);
        const std::string model = row.key != nullptr ? ModelInfField(bytes, row.section, row.key, row.field)
                                                     : ModelActualSection(bytes, row.section);
        EXPECT_EQ(want, machine) << "INF reader: " << row.name;
        EXPECT_EQ(want, model) << "INF model: " << row.name;
    }
}
