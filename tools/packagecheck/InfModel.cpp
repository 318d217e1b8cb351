// The INF read as Windows' Setup API reads it. Three passes, each linear:
// the bytes become text and logical lines (comments gone, continuations
// joined), the lines fall into sections, and, once [Strings] is known, each
// line is split into its key and fields with %strkey% replaced.
#include "InfModel.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <utility>

const size_t kInfLineLimit = 4096;
const size_t kInfReplacedLimit = 16 * 1024 * 1024;

namespace {

// A note of one code is repeated this often at most; a summary follows.
const size_t kNotesPerCode = 10;

struct LogicalLine {
    int line;
    std::string text;  // comment removed, quotes kept
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v' || c == '\x1a';
}

void AppendUtf8(uint32_t code, std::string* out)
{
    if (code < 0x80) {
        out->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (code >> 6)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (code >> 12)));
        out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (code >> 18)));
        out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

// UTF-16LE (after its byte-order mark) as UTF-8; a lone surrogate or an odd
// last byte becomes U+FFFD.
std::string Utf16LeToUtf8(const std::string& bytes, size_t from)
{
    std::string text;
    text.reserve(bytes.size() / 2);
    size_t i = from;
    auto unit = [&bytes](size_t at) {
        return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) |
               (static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8);
    };
    while (i + 1 < bytes.size()) {
        uint32_t code = unit(i);
        i += 2;
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < bytes.size() && unit(i) >= 0xDC00 &&
            unit(i) < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (unit(i) - 0xDC00);
            i += 2;
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        AppendUtf8(code, &text);
    }
    if (i < bytes.size()) {
        AppendUtf8(0xFFFD, &text);
    }
    return text;
}

class NoteList {
public:
    explicit NoteList(std::vector<InfNote>* notes) : notes_(notes) {}
    void Add(const char* code, const std::string& message, int line,
             const std::string& section = std::string())
    {
        size_t& count = counts_[code];
        ++count;
        if (count <= kNotesPerCode) {
            notes_->push_back({code, message, line, section});
        }
    }
    // One closing note per code that was cut short.
    void Finish()
    {
        for (const auto& entry : counts_) {
            if (entry.second > kNotesPerCode) {
                notes_->push_back(MoreLikeTheAbove(entry.first, entry.second - kNotesPerCode));
            }
        }
    }

    static InfNote MoreLikeTheAbove(const std::string& code, size_t count)
    {
        return InfNote{code, std::to_string(count) + " more like the above.", 0, std::string()};
    }

private:
    std::vector<InfNote>* notes_;
    std::map<std::string, size_t> counts_;
};

// The text as logical lines: a ";" outside quotes starts a comment, a "\"
// outside quotes followed by nothing but blanks (or a comment) joins the
// next physical line on.
std::vector<LogicalLine> SplitLines(const std::string& text)
{
    std::vector<LogicalLine> lines;
    LogicalLine current{1, std::string()};
    int physical = 1;
    bool quoted = false;
    size_t i = 0;
    auto skipToLineEnd = [&text, &i]() {
        while (i < text.size() && text[i] != '\n') {
            ++i;
        }
    };
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\n') {
            lines.push_back(std::move(current));
            ++physical;
            current = LogicalLine{physical, std::string()};
            quoted = false;
            ++i;
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;  // a CR LF line end: no part of the line
        } else if (c == '"') {
            quoted = !quoted;
            current.text.push_back(c);
            ++i;
        } else if (c == ';' && !quoted) {
            skipToLineEnd();
        } else if (c == '\\' && !quoted) {
            size_t next = i + 1;
            while (next < text.size() && IsBlank(text[next])) {
                ++next;
            }
            if (next >= text.size() || text[next] == '\n' || text[next] == ';') {
                i = next;
                skipToLineEnd();
                if (i < text.size()) {
                    ++i;  // the newline: the logical line goes on
                    ++physical;
                }
            } else {
                current.text.push_back(c);
                ++i;
            }
        } else {
            current.text.push_back(c);
            ++i;
        }
    }
    lines.push_back(std::move(current));
    return lines;
}

std::string Trimmed(const std::string& text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

// One piece of a line (between its separators) as a field: blanks outside
// quotes at either end trimmed, quotes removed ("" inside quotes is one "),
// and, when `strings` is given, %key% replaced and %% made one %.
class FieldReader {
public:
    FieldReader(const InfModel* model, NoteList* notes) : model_(model), notes_(notes) {}
    void SetSection(const std::string& section) { section_ = section; }

    std::string Read(const std::string& raw, size_t begin, size_t end, bool substitute, int line)
    {
        // Blanks at the ends, outside quotes.
        while (begin < end && IsBlank(raw[begin])) {
            ++begin;
        }
        while (end > begin && IsBlank(raw[end - 1])) {
            --end;
        }
        std::string out;
        out.reserve(end - begin);
        bool quoted = false;
        for (size_t i = begin; i < end; ++i) {
            const char c = raw[i];
            if (c == '"') {
                if (quoted && i + 1 < end && raw[i + 1] == '"') {
                    out.push_back('"');
                    ++i;
                } else {
                    quoted = !quoted;
                }
            } else if (c == '%' && substitute) {
                size_t close = raw.find('%', i + 1);
                if (close == std::string::npos || close >= end) {
                    out.push_back(c);
                    continue;
                }
                if (close == i + 1) {
                    out.push_back('%');
                } else {
                    Replace(raw.substr(i + 1, close - i - 1), line, quoted, &out);
                }
                i = close;
            } else {
                out.push_back(c);
            }
        }
        return out;
    }

private:
    // An undefined key in quotes ("%systemroot%\x") is taken as meant literally: no note.
    void Replace(const std::string& key, int line, bool quoted, std::string* out)
    {
        const std::string* value = model_->String(key);
        if (value != nullptr && replaced_ + value->size() <= kInfReplacedLimit) {
            replaced_ += value->size();
            out->append(*value);
            return;
        }
        out->append("%" + key + "%");
        if (value != nullptr) {
            // A few bytes that name a long string many times would otherwise
            // take memory far beyond the file's size.
            if (!overLimit_) {
                notes_->Add("INF_STRINGS_TOO_LONG",
                            "Replacing the %strkey% tokens gives more than " +
                                std::to_string(kInfReplacedLimit) +
                                " bytes of text: from here on they are left as written.",
                            line, section_);
            }
            overLimit_ = true;
            return;
        }
        // %10%, %11%, ...: directory ids, which Windows fills in where it copies.
        const bool dirid = std::all_of(key.begin(), key.end(),
                                       [](char c) { return isdigit(static_cast<unsigned char>(c)); });
        if (!dirid && !quoted) {
            notes_->Add("INF_STRING_UNDEFINED",
                        "%" + key + "% is not defined in [Strings]: Windows keeps the text as it is.", line,
                        section_);
        }
    }

    const InfModel* model_;
    NoteList* notes_;
    std::string section_;
    size_t replaced_ = 0;  // bytes of string values put in so far
    bool overLimit_ = false;
};

// Splits the logical line into key and fields.
InfEntry ReadEntry(const LogicalLine& line, FieldReader* reader, bool substitute)
{
    InfEntry entry;
    entry.line = line.line;
    const std::string& raw = line.text;
    bool quoted = false;
    size_t equals = std::string::npos;
    std::vector<size_t> commas;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '"') {
            quoted = !quoted;
        } else if (!quoted && raw[i] == '=' && equals == std::string::npos) {
            equals = i;
            commas.clear();
        } else if (!quoted && raw[i] == ',') {
            commas.push_back(i);
        }
    }
    size_t start = 0;
    if (equals != std::string::npos) {
        entry.hasKey = true;
        entry.key = reader->Read(raw, 0, equals, substitute, line.line);
        entry.rawKey = Trimmed(raw.substr(0, equals));
        start = equals + 1;
    }
    for (size_t comma : commas) {
        entry.fields.push_back(reader->Read(raw, start, comma, substitute, line.line));
        start = comma + 1;
    }
    entry.fields.push_back(reader->Read(raw, start, raw.size(), substitute, line.line));
    return entry;
}

bool IsStringsSection(const std::string& name, bool* locale)
{
    const std::string lower = InfLower(name);
    *locale = lower.size() > 8 && lower.compare(0, 8, "strings.") == 0;
    return lower == "strings" || *locale;
}

template <typename Value>
const Value* Lookup(const std::vector<std::pair<std::string, Value>>& table, const std::string& lowerKey)
{
    auto it = std::lower_bound(
        table.begin(), table.end(), lowerKey,
        [](const std::pair<std::string, Value>& a, const std::string& b) { return a.first < b; });
    return it != table.end() && it->first == lowerKey ? &it->second : nullptr;
}

}  // namespace

void CapInfNotes(std::vector<InfNote>* notes)
{
    std::map<std::string, size_t> counts;
    std::vector<InfNote> kept;
    for (InfNote& note : *notes) {
        if (++counts[note.code] <= kNotesPerCode) {
            kept.push_back(std::move(note));
        }
    }
    for (const auto& entry : counts) {
        if (entry.second > kNotesPerCode) {
            kept.push_back(NoteList::MoreLikeTheAbove(entry.first, entry.second - kNotesPerCode));
        }
    }
    notes->swap(kept);
}

std::string InfLower(const std::string& text)
{
    std::string lower = text;
    for (char& c : lower) {
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

bool InfNameEquals(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

const InfSection* InfModel::Find(const std::string& name) const
{
    const size_t* index = Lookup(sectionIndex, InfLower(name));
    return index != nullptr ? &sections[*index] : nullptr;
}

std::string InfModel::Value(const std::string& section, const std::string& key, bool* found) const
{
    if (found != nullptr) {
        *found = false;
    }
    const InfSection* inSection = Find(section);
    if (inSection == nullptr) {
        return std::string();
    }
    for (const InfEntry& entry : inSection->entries) {
        if (entry.hasKey && InfNameEquals(entry.key, key)) {
            if (found != nullptr) {
                *found = true;
            }
            return entry.fields.empty() ? std::string() : entry.fields[0];
        }
    }
    return std::string();
}

const std::string* InfModel::String(const std::string& key) const
{
    return Lookup(strings, InfLower(key));
}

InfModel ParseInf(const std::string& bytes)
{
    InfModel model;
    NoteList notes(&model.notes);
    std::string text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        model.encoding = InfEncoding::Utf16LeBom;
        text = Utf16LeToUtf8(bytes, 2);
    } else if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        model.encoding = InfEncoding::Utf8Bom;
        text = bytes.substr(3);
    } else {
        if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
            static_cast<unsigned char>(bytes[1]) == 0xFF) {
            notes.Add("INF_ENCODING_UNREADABLE", "The INF is UTF-16 big-endian, which Windows does not read.",
                      0);
        }
        text = bytes;
    }

    // Lines into sections, still raw.
    std::vector<LogicalLine> lines = SplitLines(text);
    text.clear();
    std::vector<std::vector<const LogicalLine*>> raw;
    std::map<std::string, size_t> index;
    std::vector<const LogicalLine*>* current = nullptr;
    bool notedOutside = false;
    for (const LogicalLine& line : lines) {
        if (line.text.size() > kInfLineLimit) {
            notes.Add("INF_LINE_TOO_LONG",
                      "A line of " + std::to_string(line.text.size()) + " characters is longer than the " +
                          std::to_string(kInfLineLimit) + " Windows reads.",
                      line.line);
        }
        const std::string trimmed = Trimmed(line.text);
        if (trimmed.empty()) {
            continue;
        }
        if (trimmed[0] == '[') {
            const size_t close = trimmed.find(']');
            if (close == std::string::npos) {
                notes.Add("INF_BAD_SECTION_LINE",
                          "A section header has no closing ']': Windows refuses to open or stage the INF "
                          "(0xE0000001); this check skips the section's lines.",
                          line.line);
                current = nullptr;
                continue;
            }
            const std::string name = Trimmed(trimmed.substr(1, close - 1));
            auto found = index.emplace(InfLower(name), model.sections.size());
            if (found.second) {
                model.sections.push_back(InfSection{name, {}});
                raw.emplace_back();
                bool locale = false;
                if (IsStringsSection(name, &locale) && locale) {
                    model.localeStrings.push_back(name);
                }
            }
            current = &raw[found.first->second];
            continue;
        }
        if (current == nullptr) {
            if (!notedOutside) {
                notes.Add("INF_LINE_OUTSIDE_SECTION",
                          "A line stands before the first section header: Windows refuses to stage the INF "
                          "(0xE0000000); its INF reader skips the line.",
                          line.line);
                notedOutside = true;
            }
            continue;
        }
        current->push_back(&line);
    }
    model.sectionIndex.assign(index.begin(), index.end());

    // [Strings] first, then the locale sections in file order, for keys
    // the plain one does not define. Values are taken as written.
    FieldReader plain(&model, &notes);
    std::map<std::string, std::string> strings;
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t s = 0; s < model.sections.size(); ++s) {
            bool locale = false;
            if (!IsStringsSection(model.sections[s].name, &locale) || locale != (pass == 1)) {
                continue;
            }
            for (const LogicalLine* line : raw[s]) {
                InfEntry entry = ReadEntry(*line, &plain, false);
                if (entry.hasKey) {
                    strings.emplace(InfLower(entry.key), entry.fields[0]);
                }
            }
        }
    }
    model.strings.assign(strings.begin(), strings.end());

    FieldReader reader(&model, &notes);
    for (size_t s = 0; s < model.sections.size(); ++s) {
        bool locale = false;
        const bool substitute = !IsStringsSection(model.sections[s].name, &locale);
        model.sections[s].entries.reserve(raw[s].size());
        reader.SetSection(model.sections[s].name);
        for (const LogicalLine* line : raw[s]) {
            model.sections[s].entries.push_back(ReadEntry(*line, &reader, substitute));
        }
    }
    notes.Finish();
    return model;
}
