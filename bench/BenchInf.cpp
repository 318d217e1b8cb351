#include "BenchInf.h"

namespace {

struct Writer {
    std::string text;
    size_t lines = 0;
    void Line(const std::string& line)
    {
        text += line;
        text += "\r\n";
        lines++;
    }
};

// `number` in decimal, zero-padded to `width` digits.
std::string Padded(size_t number, size_t width)
{
    std::string digits = std::to_string(number);
    return digits.size() < width ? std::string(width - digits.size(), '0') + digits : digits;
}

}  // namespace

BenchInf MakeBenchInf(size_t targetBytes, int devices)
{
    BenchInf inf;
    inf.devices = devices;
    Writer w;
    w.Line("; Generated driver package INF for the reader benchmarks.");
    w.Line("[Version]");
    w.Line("Signature=\"$Windows NT$\"");
    w.Line("Class=Ports");
    w.Line("ClassGuid={4D36E978-E325-11CE-BFC1-08002BE10318}");
    w.Line("Provider=%Mfg%");
    w.Line("DriverVer=03/07/2007,2.5.0.0");
    w.Line("");
    w.Line("[Manufacturer]");
    w.Line("%Mfg%=MERVODevices");
    w.Line("");
    w.Line("[MERVODevices]");
    for (size_t k = 0; k < static_cast<size_t>(devices); k++) {
        // Keys of equal length, so that none is the start of another.
        w.Line("%DevDesc" + Padded(k, 2) + "%=Install, USB\\VID_1A2B&PID_00" + Padded(k, 2));
    }
    w.Line("");
    w.Line("[SourceDisksNames]");  // the first pass ends with this header
    size_t firstPassLines = w.lines;
    w.Line("1=%DiskName%,,,");
    w.Line("");
    w.Line("[SourceDisksFiles]");

    // The tail after the section, written first to know its size.
    Writer tail;
    tail.Line("");
    tail.Line("[DestinationDirs]");  // ends the section
    tail.Line("DefaultDestDir=12");
    tail.Line("");
    tail.Line("[Install]");
    tail.Line("CopyFiles=Install.CopyFiles");
    tail.Line("");
    tail.Line("[Strings]");
    tail.Line("Mfg=\"MERVO\"");
    tail.Line("DiskName=\"MERVO driver disk\"");
    for (size_t k = 0; k < static_cast<size_t>(devices); k++) {
        tail.Line("DevDesc" + Padded(k, 2) + "=\"MERVO USB Serial Adapter " + Padded(k, 2) + "\"");
    }

    // Entries in the shape real packages use, a comment now and then.
    size_t entry = 0;
    while (w.text.size() + tail.text.size() < targetBytes) {
        if (entry % 64 == 63) {
            w.Line("; files of the next component");
        }
        w.Line("mervo" + Padded(entry, 7) + ".sys=1,,," + std::to_string(4096 + entry % 60000));
        entry++;
    }
    inf.sourceDisksFilesEntries = entry;
    size_t sectionEnd = w.lines + 2;     // the blank line and [DestinationDirs]
    size_t stringsStart = w.lines + 10;  // first description line, 1-based
    w.text += tail.text;
    w.lines += tail.lines;

    inf.bytes = w.text;
    inf.sourceDisksFilesLines = sectionEnd;
    inf.deviceTableReads.push_back(firstPassLines);
    for (size_t k = 0; k < static_cast<size_t>(devices); k++) {
        inf.deviceTableReads.push_back(stringsStart + k + 1);
    }
    return inf;
}

size_t TextModeBytes(const std::string& text, size_t lines)
{
    size_t bytes = 0;
    size_t seen = 0;
    for (size_t i = 0; i < text.size() && seen < lines; i++) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;  // the text stream turns CR LF into one newline
        }
        bytes++;
        if (text[i] == '\n') {
            seen++;
        }
    }
    return bytes;
}
