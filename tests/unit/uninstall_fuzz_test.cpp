// Damaged install logs through the uninstall worker on Wine: a sandbox of
// files, folders, registry keys and values and shared-file counts, a log
// that names them, and a thousand logs made from it by seeded mutations
// (the header intact), each rolled back. Whatever no well-formed line of a
// log names must come through unchanged, and so must everything beside the
// sandbox. Which lines are well-formed the runtime's own line reader
// decides; a reading of the format written here independently must agree.
#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>
#include <windows.h>
#include "unit_helpers.h"
#include "engine/install_log.h"
#include "own_dialog.h"
#include "run_state_test.h"
#include "scratch_folder.h"
#include "script/script.h"
#include "support/support.h"
#include "uninstall/uninstall.h"

namespace {

const char kHeader[] = "=== Quillset log file ===\nFuzz Product 1.0\nFuzz\n"
                       "0,0xC88C00,0x2000000,0x1000000,0xFF,Arial,0x0,Tahoma,0x0\n";
const char kFuzzKey[] = "Software\\Quillset Fuzz";
const char kCanaryKey[] = "Software\\Quillset Fuzz Canary";
const char kSharedDlls[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char kSharedCaption[] = "已经检测到的共享文件";
const int kIterations = 1000;
const unsigned kSeed = 0x5EED1013;
// Every so many logs the shared-file question is asked (and answered No)
// instead of being settled by "Yes to all".
const int kAskSharedEvery = 40;
const int kFieldCounts[] = { 1, 1, 3, 6, 2, 5, 1, 1 };

// The sandbox: folders and files below its root, registry keys and values
// below kFuzzKey ("" is the key itself), SharedDLLs counts of its files.
const char* const kFolders[] = { "A", "A\\Sub", "B", "Empty1", "Empty2", "Deep", "Deep\\x", "Deep\\x\\y", "50%,data" };
struct SandboxFile {
    const char* name;
    DWORD attributes;
};
const SandboxFile kFiles[] = {
    { "f1.txt", FILE_ATTRIBUTE_NORMAL },       { "f1", FILE_ATTRIBUTE_NORMAL },
    { "ro.txt", FILE_ATTRIBUTE_READONLY },     { "50%,off.txt", FILE_ATTRIBUTE_NORMAL },
    { "data.txt", FILE_ATTRIBUTE_NORMAL },     { "data", FILE_ATTRIBUTE_NORMAL },
    { "keep.txt", FILE_ATTRIBUTE_READONLY },   { "A\\a1.dll", FILE_ATTRIBUTE_NORMAL },
    { "A\\Sub\\s1.txt", FILE_ATTRIBUTE_NORMAL }, { "B\\b1.txt", FILE_ATTRIBUTE_NORMAL },
    { "B\\user.txt", FILE_ATTRIBUTE_NORMAL },  { "link.lnk", FILE_ATTRIBUTE_NORMAL },
    { "shared1.dll", FILE_ATTRIBUTE_NORMAL },  { "shared2.dll", FILE_ATTRIBUTE_NORMAL },
    { "shared3.dll", FILE_ATTRIBUTE_NORMAL },  { "Deep\\x\\note.txt", FILE_ATTRIBUTE_HIDDEN },
};
struct SandboxShared {
    const char* name;
    DWORD count;
};
const SandboxShared kShared[] = { { "shared1.dll", 5 }, { "shared2.dll", 3 }, { "shared3.dll", 1 } };
struct SandboxValue {
    const char* key;
    const char* name;
    const char* data;
};
const SandboxValue kValues[] = {
    { "", "Top", "t" },           { "", "Top2", "t2" },        { "Values", "One", "1" },
    { "Values", "Two", "2" },     { "Values", "A,B", "ab" },   { "Values", "Three", "3" },
    { "Values\\Deeper", "D", "d" }, { "Tree\\Child\\Leaf", "L", "l" }, { "Kept\\Sub", "S", "s" },
    { "K,C\\Inner", "I", "i" },   { "Other", "O", "o" },       { "Values2", "One", "v2" },
};
const char* const kEmptyKeys[] = { "Empty", "Tree\\Bare", "Values\\Hollow" };

// The log of an installation of the sandbox: every code, escaped lines among them.
std::string BaseBody(const std::string& box)
{
    const std::string f = kFuzzKey;
    const std::string lines[] = {
        "a," + box + "\\A",
        "a," + box + "\\A\\Sub",
        "a," + box + "\\B",
        "a," + box + "\\Empty1",
        "a," + box + "\\Deep",
        "a," + box + "\\Deep\\x",
        "a," + box + "\\Deep\\x\\y",
        "A," + box + "\\50%25%2Cdata",
        "b," + box + "\\f1.txt",
        "b," + box + "\\ro.txt",
        "B," + box + "\\50%25%2Coff.txt",
        "b," + box + "\\data.txt",
        "b," + box + "\\A\\a1.dll",
        "b," + box + "\\A\\Sub\\s1.txt",
        "b," + box + "\\B\\b1.txt",
        "g," + box + "\\shared1.dll",
        "g," + box + "\\shared2.dll",
        "g," + box + "\\shared2.dll",
        "g," + box + "\\shared3.dll",
        "h," + box + "\\link.lnk",
        "e,1," + f,
        "c,1," + f + ",Top2",
        "e,1," + f + "\\Values",
        "c,1," + f + "\\Values,One",
        "c,1," + f + "\\Values,Two",
        "C,1," + f + "\\Values,A%2CB",
        "e,1," + f + "\\Values\\Hollow",
        "e,1," + f + "\\Empty",
        "e,1," + f + "\\Tree,1",
        "e,1," + f + "\\Kept",
        "E,1," + f + "\\K%2CC,1",
        "e,1," + f + "\\Values2",
        "d," + box + "\\missing\\prog.exe,," + box + ",0,1,0",
        "f," + box + "\\missing\\lib.dll,Function,alpha,beta,1",
    };
    std::string body;
    for (const std::string& line : lines)
        body += line + "\n";
    return body;
}

std::string Upper(std::string text)
{
    if (!text.empty())
        CharUpperBuffA(&text[0], (DWORD)text.size());
    return text;
}

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// PATH as the file system resolves it from the current folder, upper case,
// without trailing backslashes; empty when it cannot be resolved.
std::string FullPath(const std::string& path)
{
    std::vector<char> buffer(8192);
    DWORD n = GetFullPathNameA(path.c_str(), (DWORD)buffer.size(), buffer.data(), nullptr);
    if (!n || n >= buffer.size())
        return "";
    std::string full(buffer.data(), n);
    while (full.size() > 3 && full.back() == '\\')
        full.pop_back();
    return Upper(full);
}

// A registry path as it names a key: leading, trailing and doubled
// backslashes dropped, upper case.
std::string KeyPath(const std::string& path)
{
    std::string key;
    for (char c : path)
        if (c != '\\' || (!key.empty() && key.back() != '\\'))
            key += c;
    if (!key.empty() && key.back() == '\\')
        key.pop_back();
    return Upper(key);
}

std::string Printable(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        char hex[8];
        if (c == '\n') {
            out += "\\n\n";
        } else if (c >= 0x20 && c < 0x7F) {
            out += (char)c;
        } else {
            wsprintfA(hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

void WriteBytes(const std::string& path, const std::string& content)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE) {
        WriteFile(file, content.data(), (DWORD)content.size(), &written, nullptr);
        CloseHandle(file);
    }
}

std::string ReadBytes(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<unreadable>";
    std::string content;
    char buffer[4096];
    DWORD read;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read)
        content.append(buffer, read);
    CloseHandle(file);
    return content;
}

// Removes everything below FOLDER, read-only entries included.
void ClearFolder(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    std::vector<std::pair<std::string, bool>> entries;
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..")
            entries.push_back({ folder + "\\" + name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 });
    } while (FindNextFileA(search, &found));
    FindClose(search);
    for (const auto& entry : entries) {
        SetFileAttributesA(entry.first.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (entry.second) {
            ClearFolder(entry.first);
            RemoveDirectoryA(entry.first.c_str());
        } else {
            DeleteFileA(entry.first.c_str());
        }
    }
}

// What a folder holds, by full path: kind, attributes and content.
struct Entry {
    DWORD attributes;
    std::string content;
    bool operator==(const Entry& other) const { return attributes == other.attributes && content == other.content; }
};
using EntryMap = std::map<std::string, Entry>;

void ListFolder(const std::string& folder, EntryMap* entries)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    std::vector<std::string> folders;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        std::string path = folder + "\\" + name;
        bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        (*entries)[FullPath(path)] = { found.dwFileAttributes, isFolder ? "" : ReadBytes(path) };
        if (isFolder)
            folders.push_back(path);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    for (const std::string& path : folders)
        ListFolder(path, entries);
}

// A registry tree: for each key (upper case, relative to the walked key),
// its values (upper-case name to type and data).
using ValueMap = std::map<std::string, std::string>;
using KeyMap = std::map<std::string, ValueMap>;

ValueMap ReadValues(HKEY key)
{
    ValueMap values;
    std::vector<char> name(16384);
    std::vector<BYTE> data(65536);
    for (DWORD i = 0;; i++) {
        DWORD nameSize = (DWORD)name.size(), dataSize = (DWORD)data.size(), type = 0;
        if (RegEnumValueA(key, i, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize))
            break;
        values[Upper(std::string(name.data(), nameSize))] =
            std::to_string(type) + ":" + std::string((const char*)data.data(), dataSize);
    }
    return values;
}

void WalkKey(HKEY root, const std::string& path, const std::string& relative, KeyMap* keys)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key))
        return;
    (*keys)[Upper(relative)] = ReadValues(key);
    std::vector<std::string> subkeys;
    char name[256];
    for (DWORD i = 0;; i++) {
        DWORD size = sizeof(name);
        if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr))
            break;
        subkeys.push_back(name);
    }
    RegCloseKey(key);
    for (const std::string& subkey : subkeys)
        WalkKey(root, path + "\\" + subkey, relative.empty() ? subkey : relative + "\\" + subkey, keys);
}

KeyMap Tree(const std::string& path)
{
    KeyMap keys;
    WalkKey(HKEY_CURRENT_USER, path, "", &keys);
    return keys;
}

ValueMap SharedCounts()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSharedDlls, 0, KEY_READ, &key))
        return {};
    ValueMap values = ReadValues(key);
    RegCloseKey(key);
    return values;
}

std::set<std::string> SubkeyNames(HKEY root, const char* path)
{
    std::set<std::string> names;
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key))
        return names;
    char name[256];
    for (DWORD i = 0;; i++) {
        DWORD size = sizeof(name);
        if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr))
            break;
        names.insert(Upper(name));
    }
    RegCloseKey(key);
    return names;
}

// One action line read without the runtime: a code "a" to "h" (upper case:
// "%" and "," in the fields escaped as "%25" and "%2C"), a comma, and
// exactly the code's number of comma-separated fields ("e" may add a third),
// the first not empty. The code is 0 for any other line.
struct Line {
    char code = 0;
    std::vector<std::string> fields;
};

Line ReadIndependently(const std::string& text)
{
    Line line;
    if (text.size() < 2 || text[1] != ',')
        return line;
    char code = text[0];
    bool escaped = code >= 'A' && code <= 'H';
    if (escaped)
        code += 'a' - 'A';
    if (code < 'a' || code > 'h')
        return line;
    std::vector<std::string> fields(1);
    for (size_t i = 2; i < text.size(); i++) {
        if (text[i] == ',')
            fields.emplace_back();
        else
            fields.back() += text[i];
    }
    int count = (int)fields.size();
    if (fields[0].empty() || (count != kFieldCounts[code - 'a'] && !(code == 'e' && count == 3)))
        return line;
    for (std::string& field : fields) {
        std::string plain;
        for (size_t i = 0; i < field.size(); i++) {
            if (escaped && field.compare(i, 3, "%25") == 0) {
                plain += '%';
                i += 2;
            } else if (escaped && field.compare(i, 3, "%2C") == 0) {
                plain += ',';
                i += 2;
            } else {
                plain += field[i];
            }
        }
        field = plain;
    }
    line.code = code;
    line.fields = fields;
    return line;
}

// The same line through the runtime's reader, with the fields of its code
// ("e" with its third, empty when absent).
Line ReadByRuntime(const std::string& text)
{
    Line line;
    line.code = ReadLogLine(text.c_str());
    if (line.code)
        for (int i = 0; i < kFieldCounts[line.code - 'a'] + (line.code == 'e'); i++)
            line.fields.push_back(CsvField(i));
    return line;
}

// The complete lines the worker sees in BODY: up to its first NUL, each
// ended by a line feed; as offsets and lengths.
std::vector<std::pair<size_t, size_t>> CompleteLines(const std::string& body)
{
    std::vector<std::pair<size_t, size_t>> lines;
    size_t visible = body.find('\0');
    if (visible == std::string::npos)
        visible = body.size();
    size_t start = 0;
    for (size_t i = 0; i < visible; i++)
        if (body[i] == '\n') {
            lines.push_back({ start, i - start });
            start = i + 1;
        }
    return lines;
}

// Seeded damage to a log body: bytes changed, inserted and deleted, lines
// duplicated, dropped, swapped, joined and cut, escapes, NULs and very long
// fields, codes changed.
class Mutator {
public:
    explicit Mutator(unsigned seed) : random_(seed) {}

    std::string Mutate(std::string text)
    {
        int rounds = Pick(20) ? 1 + Pick(6) : 10 + Pick(30);
        // Mostly one change at least that damages a line's form.
        static const Change kDamaging[] = { CUT_END, INSERT_COMMA, INSERT_NUL, JOIN_LINES, CHANGE_CODE, DELETE_RANGE,
                                            EDIT_FIELD };
        if (Pick(10))
            Apply(kDamaging[Pick(sizeof(kDamaging) / sizeof(kDamaging[0]))], &text);
        for (int i = 0; i < rounds && !text.empty(); i++)
            Apply((Change)Pick(CHANGE_KINDS), &text);
        return text;
    }

private:
    enum Change {
        ANY_BYTE,
        SPECIAL_BYTE,
        CUT_END,
        DUPLICATE_LINE,
        DROP_LINE,
        SWAP_LINES,
        INSERT_COMMA,
        INSERT_ESCAPE,
        INSERT_NUL,
        LONG_FIELD,
        JOIN_LINES,
        CHANGE_CODE,
        TOGGLE_CODE_CASE,
        DELETE_RANGE,
        CARRIAGE_RETURN,
        EDIT_FIELD,
        PATH_OR_GARBAGE,
        CHANGE_KINDS
    };

    size_t Pick(size_t n) { return n ? random_() % n : 0; }

    char SpecialByte()
    {
        static const char kBytes[] = ",%\n\\. \"\r:*?/abcdefghABCDEFGH0129\t";
        if (Pick(4) == 0)
            return (char)(0x80 + Pick(128));
        if (Pick(8) == 0)
            return 0;
        return kBytes[Pick(sizeof(kBytes) - 1)];
    }

    std::vector<size_t> LineStarts(const std::string& text)
    {
        std::vector<size_t> starts{ 0 };
        for (size_t i = 0; i + 1 < text.size(); i++)
            if (text[i] == '\n')
                starts.push_back(i + 1);
        return starts;
    }

    // The line at START with its line feed, if any.
    size_t LineLength(const std::string& text, size_t start)
    {
        size_t end = text.find('\n', start);
        return end == std::string::npos ? text.size() - start : end + 1 - start;
    }

    void Apply(Change kind, std::string* text)
    {
        std::string& t = *text;
        std::vector<size_t> starts = LineStarts(t);
        size_t start = starts[Pick(starts.size())];
        size_t length = LineLength(t, start);
        size_t at = Pick(t.size() + 1);
        static const char* const kEscapes[] = { "%2C", "%25", "%2c", "%2", "%", "%%", "%252C", "%41", "%2C%2C",
                                                "%25%" };
        static const char* const kPathBits[] = { "\\", "\\\\", ".", "..", " ", "\\..\\", "\\.\\", "/", ":", "~1" };
        switch (kind) {
        case ANY_BYTE:
            if (!t.empty())
                t[Pick(t.size())] = (char)Pick(256);
            break;
        case SPECIAL_BYTE:   // one that means something in a log or a path
            if (!t.empty())
                t[Pick(t.size())] = SpecialByte();
            break;
        case CUT_END:   // the last line loses its line feed
            t.resize(t.size() - Pick(std::min<size_t>(t.size(), 200)));
            break;
        case DUPLICATE_LINE:
            t.insert(starts[Pick(starts.size())], t.substr(start, length));
            break;
        case DROP_LINE:
            t.erase(start, length);
            break;
        case SWAP_LINES: {
            size_t other = starts[Pick(starts.size())];
            std::string a = t.substr(start, length), b = t.substr(other, LineLength(t, other));
            if (other < start) {
                std::swap(a, b);
                std::swap(start, other);
            }
            if (start + a.size() <= other) {
                t.replace(other, b.size(), a);
                t.replace(start, a.size(), b);
            }
            break;
        }
        case INSERT_COMMA:
            t.insert(at, 1, ',');
            break;
        case INSERT_ESCAPE:
            t.insert(at, kEscapes[Pick(10)]);
            break;
        case INSERT_NUL:
            t.insert(at, 1, '\0');
            break;
        case LONG_FIELD: {
            size_t n = 200 + Pick(6000);
            std::string field;
            int style = (int)Pick(3);
            while (field.size() < n)
                field += style == 0 ? "x" : style == 1 ? "\\Deep" : std::string(1, (char)(1 + Pick(255)));
            t.insert(at, field);
            break;
        }
        case JOIN_LINES: {
            size_t feed = t.find('\n', Pick(t.size()));
            if (feed != std::string::npos)
                t.erase(feed, 1);
            break;
        }
        case CHANGE_CODE:
            if (start < t.size())
                t[start] = "abcdefghABCDEFGH#z0 ,\t\xB0"[Pick(23)];
            break;
        case TOGGLE_CODE_CASE:   // escaped or plain
            if (start < t.size())
                t[start] ^= 0x20;
            break;
        case DELETE_RANGE:
            if (!t.empty()) {
                size_t from = Pick(t.size());
                t.erase(from, 1 + Pick(40));
            }
            break;
        case CARRIAGE_RETURN: {   // before a line feed
            size_t feed = t.find('\n', Pick(t.size()));
            if (feed != std::string::npos)
                t.insert(feed, 1, '\r');
            break;
        }
        case EDIT_FIELD: {   // emptied, dropped, added or taken from another line
            std::string line = t.substr(start, length);
            bool feed = !line.empty() && line.back() == '\n';
            if (feed)
                line.pop_back();
            std::vector<std::string> fields(1);
            for (char c : line) {
                if (c == ',')
                    fields.emplace_back();
                else
                    fields.back() += c;
            }
            size_t index = Pick(fields.size());
            switch (Pick(4)) {
            case 0:
                fields[index].clear();
                break;
            case 1:
                fields.erase(fields.begin() + index);
                break;
            case 2:
                fields.insert(fields.begin() + index, std::string(Pick(2) ? "1" : "x"));
                break;
            default: {
                size_t other = starts[Pick(starts.size())];
                std::string donor = t.substr(other, LineLength(t, other));
                size_t comma = donor.rfind(',');
                fields[index] = comma == std::string::npos ? donor : donor.substr(comma + 1);
                if (!fields[index].empty() && fields[index].back() == '\n')
                    fields[index].pop_back();
            }
            }
            std::string joined;
            for (size_t i = 0; i < fields.size(); i++)
                joined += (i ? "," : "") + fields[i];
            t.replace(start, length, joined + (feed ? "\n" : ""));
            break;
        }
        default: {   // something inside a path, or a line of garbage
            if (Pick(3)) {
                t.insert(at, kPathBits[Pick(10)]);
            } else {
                std::string garbage;
                for (size_t n = Pick(80); n; n--)
                    garbage += (char)Pick(256);
                t.insert(starts[Pick(starts.size())], garbage + "\n");
            }
        }
        }
    }

    std::mt19937 random_;
};

// Answers every dialog this process shows, from a thread of its own: the
// shared-file question with No, any message with OK, so that a rollback
// never waits for a person. Counts what it saw.
class DialogDismisser {
public:
    DialogDismisser() { thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr); }
    ~DialogDismisser() { Stop(); }
    void Stop()
    {
        stop_ = true;
        if (thread_) {
            WaitForSingleObject(thread_, 10000);
            CloseHandle(thread_);
        }
        thread_ = nullptr;
    }
    volatile LONG sharedQuestions = 0;
    volatile LONG messages = 0;
    // The first few messages other than the shared-file question, for the record.
    std::vector<std::string> samples;

private:
    static DWORD WINAPI Run(LPVOID self)
    {
        auto* dismisser = (DialogDismisser*)self;
        while (!dismisser->stop_) {
            HWND dialog = FindOwnDialog();
            if (dialog)
                dismisser->Dismiss(dialog);
            Sleep(10);
        }
        return 0;
    }
    void Dismiss(HWND dialog)
    {
        char caption[512] = "";
        GetWindowTextA(dialog, caption, sizeof(caption));
        if (!lstrcmpA(caption, kSharedCaption)) {
            InterlockedIncrement(&sharedQuestions);
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        } else {
            InterlockedIncrement(&messages);
            char text[2048] = "";
            GetDlgItemTextA(dialog, 0xFFFF, text, sizeof(text));
            if (samples.size() < 5)
                samples.push_back(std::string(caption) + ": " + text);
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        }
        for (int i = 0; i < 500 && IsWindow(dialog); i++)
            Sleep(10);
    }
    volatile bool stop_ = false;
    HANDLE thread_;
};

DWORD WINAPI RollBack(LPVOID)
{
    RunUninstaller(TRUE);
    return 0;
}

// What the well-formed lines of one log name, as the worker would resolve it.
struct Named {
    std::set<std::string> paths;                      // full paths of a, b, g and h lines
    std::set<std::string> sharedValues;               // SharedDLLs value names of g lines
    std::set<std::string> keys, treeKeys;             // e lines, plain and with subkeys (relative)
    std::set<std::pair<std::string, std::string>> values;   // c lines: relative key, value name
    int lines = 0;     // well-formed lines left to act
    int damaged = 0;   // complete lines that are not well-formed

    // KEY or a key above it goes with its subkeys.
    bool InTree(std::string key) const
    {
        for (;;) {
            if (treeKeys.count(key))
                return true;
            if (key.empty())
                return false;
            size_t slash = key.rfind('\\');
            key = slash == std::string::npos ? "" : key.substr(0, slash);
        }
    }
    bool KeyCovered(const std::string& key) const { return keys.count(key) || InTree(key); }
    // A plain "e" line removes only an empty key: its values stay unless named.
    bool ValueCovered(const std::string& key, const std::string& name) const
    {
        return values.count({ key, name }) || InTree(key);
    }
};

// The sandbox's files and folders, its registry tree and the SharedDLLs counts.
struct State {
    EntryMap files;
    KeyMap keys;
    ValueMap shared;
};

class UninstallFuzz : public RunStateTest {
protected:
    ScratchFolder scratch{ "uninstall_fuzz" };
    const std::string box = scratch / "box";
    const std::string logPath = TempFolder() + "\\uninstall_fuzz.log";
    std::string boxFull, boxPrefix, fuzzKey, fuzzPrefix;
    ValueMap foreignShared;   // SharedDLLs as the sandbox found it
    std::set<std::string> softwareKeys;
    KeyMap canaryTree;
    EntryMap beside;
    State pristine;   // the sandbox as RestoreSandbox makes it

    void SetUp() override
    {
        RunStateTest::SetUp();
        CreateDirectoryA(box.c_str(), nullptr);
        CreateDirectoryA((scratch / "box canary").c_str(), nullptr);
        WriteBytes(scratch / "box canary\\file.txt", "canary");
        WriteBytes(scratch / "boxcanary.txt", "canary");
        RegDeleteTreeA(HKEY_CURRENT_USER, kFuzzKey);
        RegDeleteTreeA(HKEY_CURRENT_USER, kCanaryKey);
        WriteRegistryValue(HKEY_CURRENT_USER, kCanaryKey, "Keep", REG_SZ, "k", 2);
        WriteRegistryValue(HKEY_CURRENT_USER, (std::string(kCanaryKey) + "\\Sub").c_str(), "S", REG_SZ, "s", 2);
        boxFull = FullPath(box);
        boxPrefix = boxFull + "\\";
        fuzzKey = Upper(kFuzzKey);
        fuzzPrefix = fuzzKey + "\\";
        for (const SandboxShared& shared : kShared)
            DeleteRegistryValue(HKEY_LOCAL_MACHINE, kSharedDlls, (box + "\\" + shared.name).c_str(), FALSE);
        foreignShared = SharedCounts();
        softwareKeys = SoftwareKeys();
        canaryTree = Tree(kCanaryKey);
        beside = Beside();
        g_app.tempFolder = DupString(box.c_str(), 0);
        g_log.tempLogPath = DupString(logPath.c_str(), 0);
        RestoreSandbox();
        pristine = Snapshot();
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(TempFolder().c_str());
        DeleteFileA(logPath.c_str());
        RegDeleteTreeA(HKEY_CURRENT_USER, kFuzzKey);
        RegDeleteTreeA(HKEY_CURRENT_USER, kCanaryKey);
        for (const auto& value : SharedCounts())
            if (!foreignShared.count(value.first))
                DeleteRegistryValue(HKEY_LOCAL_MACHINE, kSharedDlls, value.first.c_str(), FALSE);
        RunStateTest::TearDown();
    }

    // The keys beside the sandbox's key.
    std::set<std::string> SoftwareKeys() const
    {
        std::set<std::string> names = SubkeyNames(HKEY_CURRENT_USER, "Software");
        names.erase(fuzzKey.substr(fuzzKey.find('\\') + 1));
        return names;
    }

    // What the scratch folder holds outside the sandbox.
    EntryMap Beside() const
    {
        EntryMap outside;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((scratch.path() + "\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return outside;
        do {
            std::string name = found.cFileName, path = scratch / name;
            if (name == "." || name == ".." || FullPath(path) == boxFull)
                continue;
            bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            outside[FullPath(path)] = { found.dwFileAttributes, isFolder ? "" : ReadBytes(path) };
            if (isFolder)
                ListFolder(path, &outside);
        } while (FindNextFileA(search, &found));
        FindClose(search);
        return outside;
    }

    State Snapshot() const
    {
        State state;
        ListFolder(box, &state.files);
        state.keys = Tree(kFuzzKey);
        state.shared = SharedCounts();
        return state;
    }

    void RestoreSandbox()
    {
        ClearFolder(box);
        CreateDirectoryA(box.c_str(), nullptr);
        RegDeleteTreeA(HKEY_CURRENT_USER, kFuzzKey);
        for (const auto& value : SharedCounts())
            if (!foreignShared.count(value.first))
                DeleteRegistryValue(HKEY_LOCAL_MACHINE, kSharedDlls, value.first.c_str(), FALSE);
        Repair(State());
    }

    // Puts back what AFTER lacks or holds changed; anything new there asks
    // for a restoration from nothing.
    void Repair(const State& after)
    {
        bool foreign = false;
        for (const auto& entry : after.files)
            foreign |= !pristine.files.count(entry.first);
        for (const auto& key : after.keys) {
            auto was = pristine.keys.find(key.first);
            foreign |= was == pristine.keys.end();
            for (const auto& value : key.second)
                foreign |= was != pristine.keys.end() && !was->second.count(value.first);
        }
        for (const auto& value : after.shared)
            foreign |= !foreignShared.count(value.first) && !pristine.shared.count(value.first);
        if (foreign) {
            RestoreSandbox();
            return;
        }
        auto intact = [&](const std::string& path) {
            auto now = after.files.find(FullPath(path));
            auto was = pristine.files.find(FullPath(path));
            return now != after.files.end() && was != pristine.files.end() && now->second == was->second;
        };
        for (const char* folder : kFolders) {
            const std::string path = box + "\\" + folder;
            if (!intact(path)) {
                CreateDirectoryA(path.c_str(), nullptr);
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            }
        }
        for (const SandboxFile& file : kFiles) {
            const std::string path = box + "\\" + file.name;
            if (!intact(path)) {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                WriteBytes(path, std::string("content of ") + file.name);
                SetFileAttributesA(path.c_str(), file.attributes);
            }
        }
        for (const SandboxValue& value : kValues) {
            auto key = after.keys.find(Upper(value.key));
            auto was = pristine.keys.find(Upper(value.key));
            if (key != after.keys.end() && was != pristine.keys.end() && key->second.count(Upper(value.name))
                && key->second.at(Upper(value.name)) == was->second.at(Upper(value.name)))
                continue;
            std::string path = std::string(kFuzzKey) + (*value.key ? "\\" : "") + value.key;
            WriteRegistryValue(HKEY_CURRENT_USER, path.c_str(), value.name, REG_SZ, value.data,
                               lstrlenA(value.data) + 1);
        }
        for (const char* empty : kEmptyKeys) {
            HKEY key;
            if (!after.keys.count(Upper(empty))
                && !RegCreateKeyExA(HKEY_CURRENT_USER, (std::string(kFuzzKey) + "\\" + empty).c_str(), 0, nullptr, 0,
                                    KEY_WRITE, nullptr, &key, nullptr))
                RegCloseKey(key);
        }
        for (const SandboxShared& shared : kShared) {
            const std::string name = box + "\\" + shared.name;
            auto now = after.shared.find(Upper(name));
            auto was = pristine.shared.find(Upper(name));
            if (now == after.shared.end() || was == pristine.shared.end() || now->second != was->second)
                WriteRegistryValue(HKEY_LOCAL_MACHINE, kSharedDlls, name.c_str(), REG_DWORD, &shared.count, 4);
        }
        ListClear(g_uninstall.leftovers);
        ListClear(g_uninstall.restartDeletes);
        ResetEvent(g_app.uninstallDoneEvent);
    }

    // The key a registry line names, relative to kFuzzKey; false outside it.
    bool FuzzRelative(const std::string& path, std::string* relative) const
    {
        std::string key = KeyPath(path);
        if (key == fuzzKey)
            *relative = "";
        else if (StartsWith(key, fuzzPrefix))
            *relative = key.substr(fuzzPrefix.size());
        else
            return false;
        return true;
    }

    // Whether the root number of a registry line means HKEY_CURRENT_USER to the worker.
    static bool InCurrentUser(const std::string& root)
    {
        return ((DWORD)ParseNumber(root.c_str()) | 0x80000000) == 0x80000001;
    }

    bool InBox(const std::string& full) const { return full == boxFull || StartsWith(full, boxPrefix); }

    // Whether a well-formed line stays within what the sandbox may lose and
    // the time a test may take: paths and keys inside the sandbox, no file
    // line on a folder or a wildcard (those are retried for two seconds), no
    // program or library that could be found and run.
    bool Harmless(const Line& line) const
    {
        const std::string& first = line.fields[0];
        const std::string full = FullPath(first);
        switch (line.code) {
        case 'a':
            return InBox(full);
        case 'b':
        case 'g':
        case 'h': {
            auto entry = pristine.files.find(full);
            bool folder = full == boxFull
                          || (entry != pristine.files.end() && (entry->second.attributes & FILE_ATTRIBUTE_DIRECTORY));
            return InBox(full) && !folder && first.find_first_of("*?") == std::string::npos;
        }
        case 'c':
        case 'e': {
            std::string relative;
            return FuzzRelative(line.fields[1], &relative);
        }
        default: {   // d and f: an absolute path in the sandbox to nothing at all
            if (!StartsWith(Upper(first), boxPrefix) || !InBox(full) || first.find('"') != std::string::npos)
                return false;
            for (const char* extension : { "", ".exe", ".com", ".bat", ".cmd", ".dll" })
                if (GetFileAttributesA((first + extension).c_str()) != INVALID_FILE_ATTRIBUTES)
                    return false;
            return true;
        }
        }
    }

    // Reads every line the worker will see with the runtime's reader and
    // with the independent one; well-formed lines that are not harmless are
    // spoiled (their code replaced), then what the rest names is collected.
    Named Survey(std::string* body, int* spoiled, std::string* report)
    {
        Named named;
        for (const auto& span : CompleteLines(*body)) {
            std::string text = body->substr(span.first, span.second);
            Line line = ReadByRuntime(text);
            Line independent = ReadIndependently(text);
            if (line.code != independent.code
                || (line.code
                    && std::vector<std::string>(line.fields.begin(), line.fields.begin() + independent.fields.size())
                           != independent.fields))
                *report += "the readers disagree on: " + Printable(text) + "\n";
            if (!line.code) {
                named.damaged++;
                continue;
            }
            if (!Harmless(line)) {
                (*body)[span.first] = '#';
                ++*spoiled;
                continue;
            }
            named.lines++;
            const std::string& first = line.fields[0];
            std::string key;
            switch (line.code) {
            case 'a':
            case 'b':
            case 'h':
                named.paths.insert(FullPath(first));
                break;
            case 'g':
                named.paths.insert(FullPath(first));
                named.sharedValues.insert(Upper(first));
                break;
            case 'c':
                if (InCurrentUser(first) && FuzzRelative(line.fields[1], &key))
                    named.values.insert({ key, Upper(line.fields[2]) });
                break;
            case 'e':
                if (InCurrentUser(first) && FuzzRelative(line.fields[1], &key))
                    (ParseNumber(line.fields[2].c_str()) ? named.treeKeys : named.keys).insert(key);
                break;
            }
        }
        return named;
    }

    // What the log did not name must be in AFTER as it was, and nothing
    // beside the sandbox may have changed; the faults go to REPORT.
    void Check(const Named& named, const State& after, std::string* report) const
    {
        for (const auto& entry : pristine.files) {
            if (named.paths.count(entry.first))
                continue;
            auto now = after.files.find(entry.first);
            if (now == after.files.end())
                *report += "removed without a line naming it: " + entry.first + "\n";
            else if (!(now->second == entry.second))
                *report += "changed without a line naming it: " + entry.first + "\n";
        }
        for (const auto& entry : after.files)
            if (!pristine.files.count(entry.first))
                *report += "appeared: " + entry.first + "\n";

        for (const auto& key : pristine.keys) {
            auto now = after.keys.find(key.first);
            if (!named.KeyCovered(key.first) && now == after.keys.end())
                *report += "key removed without a line naming it: \"" + key.first + "\"\n";
            for (const auto& value : key.second) {
                if (named.ValueCovered(key.first, value.first))
                    continue;
                if (now == after.keys.end() || !now->second.count(value.first))
                    *report += "value removed without a line naming it: \"" + key.first + "\" " + value.first + "\n";
                else if (now->second.at(value.first) != value.second)
                    *report += "value changed: \"" + key.first + "\" " + value.first + "\n";
            }
        }
        for (const auto& key : after.keys) {
            auto was = pristine.keys.find(key.first);
            if (was == pristine.keys.end())
                *report += "key appeared: " + key.first + "\n";
            else
                for (const auto& value : key.second)
                    if (!was->second.count(value.first))
                        *report += "value appeared: \"" + key.first + "\" " + value.first + "\n";
        }

        for (const auto& value : pristine.shared)
            if (!named.sharedValues.count(value.first)
                && (!after.shared.count(value.first) || after.shared.at(value.first) != value.second))
                *report += "shared count changed without a line naming it: " + value.first + "\n";
        for (const auto& value : after.shared)
            if (!pristine.shared.count(value.first))
                *report += "shared count appeared: " + value.first + "\n";

        if (Beside() != beside)
            *report += "the files beside the sandbox changed\n";
        if (GetFileAttributesA(logPath.c_str()) != INVALID_FILE_ATTRIBUTES)
            *report += "the temporary log stayed\n";
        if (Tree(kCanaryKey) != canaryTree)
            *report += "the canary key changed\n";
        if (SoftwareKeys() != softwareKeys)
            *report += "the keys under HKCU\\Software changed\n";
    }

    // Rolls BODY back through the temporary log; false when that did not
    // end within a minute.
    bool RollBackLog(const std::string& body)
    {
        SetCurrentDirectoryA(box.c_str());
        WriteBytes(logPath, kHeader + body);
        HANDLE thread = CreateThread(nullptr, 0, RollBack, nullptr, 0, nullptr);
        bool ended = WaitForSingleObject(thread, 60000) == WAIT_OBJECT_0;
        CloseHandle(thread);
        return ended;
    }
};

TEST_F(UninstallFuzz, TheIntactLogRemovesWhatItNamesAndNothingElse)
{
    DialogDismisser dismisser;
    g_uninstall.deleteAllShared = TRUE;
    SetCurrentDirectoryA(box.c_str());
    std::string body = BaseBody(box), report;
    int spoiled = 0;
    Named named = Survey(&body, &spoiled, &report);
    EXPECT_EQ(named.lines, 34);
    EXPECT_EQ(spoiled, 0) << Printable(body);
    ASSERT_TRUE(RollBackLog(body));
    State after = Snapshot();
    Check(named, after, &report);
    EXPECT_EQ(report, "");

    std::set<std::string> files, keys;
    for (const auto& entry : after.files)
        files.insert(entry.first.substr(boxPrefix.size()));
    for (const auto& key : after.keys)
        keys.insert(key.first);
    // Folders that still hold files the log does not name stay, with those files.
    EXPECT_EQ(files, (std::set<std::string>{ "F1", "DATA", "KEEP.TXT", "B", "B\\USER.TXT", "EMPTY2", "DEEP", "DEEP\\X",
                                             "DEEP\\X\\NOTE.TXT", "SHARED1.DLL", "SHARED2.DLL" }));
    EXPECT_EQ(keys, (std::set<std::string>{ "", "VALUES", "VALUES\\DEEPER", "KEPT", "KEPT\\SUB", "OTHER", "VALUES2" }));
    EXPECT_EQ(after.shared[Upper(box + "\\shared1.dll")], std::string("4:\4\0\0\0", 6));
    EXPECT_EQ(after.shared[Upper(box + "\\shared2.dll")], std::string("4:\1\0\0\0", 6));
    EXPECT_EQ(after.shared.count(Upper(box + "\\shared3.dll")), 0u);
    EXPECT_EQ(WaitForSingleObject(g_app.uninstallDoneEvent, 0), WAIT_OBJECT_0);
    dismisser.Stop();
    EXPECT_EQ((LONG)dismisser.messages, 0);
    EXPECT_EQ((LONG)dismisser.sharedQuestions, 0);
}

// Every line of the log alone, damaged in the ways a log gets damaged:
// nothing at all may change.
TEST_F(UninstallFuzz, EachLineDamagedAloneChangesNothing)
{
    DialogDismisser dismisser;
    g_uninstall.deleteAllShared = TRUE;
    const std::string base = BaseBody(box);
    int logs = 0;
    for (size_t start = 0, end; (end = base.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = base.substr(start, end - start);
        const std::string hidden = line.substr(0, 2) + std::string(1, '\0') + line.substr(2);
        std::vector<std::string> bodies = {
            line + ",\n",                            // a field too many, empty
            line + ",x\n",                           // a field too many
            line.substr(0, 1) + line.substr(2) + "\n",   // no comma after the code
            "," + line + "\n",                       // no code
            line,                                    // no line feed
            hidden + "\n",                           // cut by a NUL
            std::string(1, '\0') + line + "\n",      // behind a NUL
        };
        size_t lastComma = line.rfind(',');
        if (lastComma > 1)
            bodies.push_back(line.substr(0, lastComma) + "\n");   // a field too few
        for (std::string& body : bodies) {
            std::string report;
            int spoiled = 0;
            SetCurrentDirectoryA(box.c_str());
            Named named = Survey(&body, &spoiled, &report);
            EXPECT_EQ(report, "");
            // "e" takes a third field or none: some of its lines stay whole.
            if (named.lines && (line[0] | 0x20) == 'e')
                continue;
            EXPECT_EQ(named.lines, 0) << Printable(body);
            ASSERT_TRUE(RollBackLog(body));
            State after = Snapshot();
            Check(named, after, &report);
            EXPECT_TRUE(after.files == pristine.files && after.keys == pristine.keys && after.shared == pristine.shared)
                << report << Printable(body);
            Repair(after);
            logs++;
        }
    }
    EXPECT_GE(logs, 34 * 7);
    dismisser.Stop();
    EXPECT_EQ((LONG)dismisser.messages + dismisser.sharedQuestions, 0);
}

TEST_F(UninstallFuzz, DamagedLinesNeverAct)
{
    DialogDismisser dismisser;
    const std::string base = BaseBody(box);
    int failures = 0, spoiled = 0, wellFormed = 0, damaged = 0;
    int damagedLogs = 0, withDamagedLines = 0, cutLogs = 0, hidingLogs = 0;
    size_t removed = 0;
    DWORD start = GetTickCount();
    for (int i = 0; i < kIterations && failures < 3; i++) {
        g_uninstall.deleteAllShared = i % kAskSharedEvery != 0;
        std::string body = Mutator(kSeed + i).Mutate(base);
        std::string report;
        SetCurrentDirectoryA(box.c_str());
        Named named = Survey(&body, &spoiled, &report);
        wellFormed += named.lines;
        damaged += named.damaged;
        // What a NUL hides and what follows the last line feed is never acted on.
        size_t visible = std::min(body.find('\0'), body.size());
        bool hiding = visible < body.size(), cut = visible && body[visible - 1] != '\n';
        withDamagedLines += named.damaged != 0;
        cutLogs += cut;
        hidingLogs += hiding;
        damagedLogs += named.damaged || hiding || cut;
        if (!RollBackLog(body)) {
            // The worker still runs on the run state: nothing can go on.
            ADD_FAILURE() << "log " << i << ": the rollback did not end within a minute\n" << Printable(body);
            std::fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 1);
        }
        if (!CompleteLines(body).empty() && WaitForSingleObject(g_app.uninstallDoneEvent, 0) != WAIT_OBJECT_0)
            report += "the worker did not reach the end of the log\n";
        State after = Snapshot();
        Check(named, after, &report);
        removed += pristine.files.size() - std::min(pristine.files.size(), after.files.size());
        if (!report.empty()) {
            failures++;
            ADD_FAILURE() << "log " << i << " (seed " << kSeed + i << "):\n"
                          << report << "--- body:\n"
                          << Printable(body);
        }
        Repair(after);
    }
    dismisser.Stop();
    std::printf("%d logs in %lu ms, %d of them damaged: %d with damaged lines, %d with text after the last line "
                "feed, %d with a NUL; well-formed lines %d, damaged lines %d, well-formed lines spoiled as reaching "
                "outside the sandbox %d; files and folders removed %u; shared-file questions %ld, other messages %ld\n",
                kIterations, (unsigned long)(GetTickCount() - start), damagedLogs, withDamagedLines, cutLogs,
                hidingLogs, wellFormed, damaged, spoiled, (unsigned)removed, (long)dismisser.sharedQuestions,
                (long)dismisser.messages);
    for (const std::string& sample : dismisser.samples)
        std::printf("message: %.160s\n", sample.c_str());
    EXPECT_EQ(failures, 0);
    // Enough stays intact for the worker to do real work.
    EXPECT_GT(removed, (size_t)kIterations);
    // The sandbox is whole again after the last repair.
    State last = Snapshot();
    EXPECT_TRUE(last.files == pristine.files && last.keys == pristine.keys && last.shared == pristine.shared);
}

}  // namespace
