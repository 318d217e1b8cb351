// Finding and reading the message boxes of a started process and its children.
#include "HarnessInternal.h"  // <windows.h> first: <tlhelp32.h> needs its types

#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <set>

namespace e2e {

std::string Visible(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void PrintTo(const MessageBoxSeen& box, std::ostream* out)
{
    *out << "{\"" << Visible(box.caption) << "\", \"" << Visible(box.text) << "\"}";
}

namespace {

struct BoxSearch {
    std::set<DWORD> processIds;  // the started process and its descendants
    std::vector<HWND> boxes;
};

// The process and every process it started, directly or through others,
// that still run.
std::set<DWORD> ProcessTree(DWORD root)
{
    std::set<DWORD> tree{root};
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return tree;
    std::vector<std::pair<DWORD, DWORD>> parents;  // process, parent
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        parents.emplace_back(entry.th32ProcessID, entry.th32ParentProcessID);
    }
    CloseHandle(snapshot);
    for (bool grown = true; grown;) {
        grown = false;
        for (const auto& process : parents) {
            if (tree.count(process.second) && tree.insert(process.first).second)
                grown = true;
        }
    }
    return tree;
}

BOOL CALLBACK CollectBoxes(HWND window, LPARAM parameter)
{
    BoxSearch* search = reinterpret_cast<BoxSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (!search->processIds.count(owner) || !IsWindowVisible(window))
        return TRUE;
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    if (strcmp(className, "#32770") == 0)
        search->boxes.push_back(window);
    return TRUE;
}

std::string WindowText(HWND window)
{
    int length = GetWindowTextLengthA(window);
    std::string text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    int got = GetWindowTextA(window, &text[0], static_cast<int>(text.size()));
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

std::string BoxText(HWND box)
{
    // The message of a standard box is its static control with id 0xFFFF.
    HWND item = GetDlgItem(box, 0xFFFF);
    int length = item != nullptr ? GetWindowTextLengthA(item) : 0;
    std::string text(static_cast<size_t>(length > 0 ? length : 0) + 2, '\0');
    UINT got = GetDlgItemTextA(box, 0xFFFF, &text[0], static_cast<int>(text.size()));
    text.resize(got);
    return text;
}

}  // namespace

std::vector<HWND> OpenBoxes(DWORD processId)
{
    BoxSearch search{ProcessTree(processId), {}};
    EnumWindows(CollectBoxes, reinterpret_cast<LPARAM>(&search));
    return search.boxes;
}

MessageBoxSeen ReadBox(HWND box)
{
    return MessageBoxSeen{WindowText(box), BoxText(box)};
}

}  // namespace e2e
