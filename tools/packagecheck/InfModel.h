// The INF as Windows' Setup API reads it: sections (names compared without
// case, a section named twice is one section with the lines of both, in file
// order), comments, line continuation, quoted strings, %strkey% replaced from
// [Strings], %% for a percent sign, and the file's encodings (UTF-16LE with a
// byte-order mark, UTF-8 with one, else 8-bit ANSI taken byte for byte).
//
// The stager keeps its own line reader and its own rules; this model is the
// checker's view of what Windows does with the same file.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Something in the INF that Windows reads differently from what its author
// likely meant, or that the model could not read.
struct InfNote {
    std::string code;     // stable identifier: INF_STRING_UNDEFINED, INF_LINE_TOO_LONG, ...
    std::string message;  // one English sentence
    int line = 0;         // 1-based line of the INF it is about; 0: the whole file
    std::string section;  // the section it is in; empty: none
};

// One line of a section. A line "key = a, b" has the key "key" and the fields
// "a" and "b"; a line without "=" has no key and its text split at the commas
// as fields. Keys and fields have quotes removed, %strkey% replaced and the
// blanks around them trimmed (blanks inside quotes kept).
struct InfEntry {
    int line = 0;  // 1-based line number of the line's first physical line
    bool hasKey = false;
    std::string key;
    std::vector<std::string> fields;
    std::string rawKey;  // the key as written (quotes and %strkey% kept, trimmed)
};

struct InfSection {
    std::string name;  // as first written
    std::vector<InfEntry> entries;
};

enum class InfEncoding { Ansi, Utf8Bom, Utf16LeBom };

struct InfModel {
    InfEncoding encoding = InfEncoding::Ansi;
    std::vector<InfSection> sections;        // in order of first appearance
    std::vector<std::string> localeStrings;  // the [Strings.LLLL] section names, as written
    std::vector<InfNote> notes;

    // The section of that name (case-insensitive), or null.
    const InfSection* Find(const std::string& name) const;
    // The first field of the first line of `section` whose key is `key`
    // (case-insensitive); `found` (optional) tells whether there is one.
    std::string Value(const std::string& section, const std::string& key, bool* found = nullptr) const;
    // The value of a [Strings] key (the plain section, else the first locale
    // section defining it), or null when undefined.
    const std::string* String(const std::string& key) const;

    // Internal lookup tables, filled by ParseInf.
    std::vector<std::pair<std::string, size_t>> sectionIndex;  // lower-case name -> index, sorted
    std::vector<std::pair<std::string, std::string>> strings;  // lower-case key -> value, sorted
};

// Reads an INF's bytes (as stored on disk). Never fails: what it cannot read
// is skipped and named in `notes`. Time and memory are linear in the input.
InfModel ParseInf(const std::string& bytes);

// The limit Windows puts on one INF line (characters after continuation);
// longer lines are read whole but noted.
extern const size_t kInfLineLimit;
// The bytes of [Strings] values the model puts in for %strkey% tokens, over
// the whole INF; tokens past it stay as written (INF_STRINGS_TOO_LONG).
extern const size_t kInfReplacedLimit;

// Keeps the first few notes of each code, in order, and closes each code that
// had more with one note saying how many more ("12 more like the above.").
void CapInfNotes(std::vector<InfNote>* notes);

bool InfNameEquals(const std::string& a, const std::string& b);
std::string InfLower(const std::string& text);
