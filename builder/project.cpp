// Project files: parsed into sections, every key checked, compiled into the
// script's records in the order the runtime expects them.
#include "project.h"
#include "../package/script_format.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace quillset {

namespace {

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

// The whole text file PATH; false with *REASON when it is no regular file or
// cannot be read.
bool ReadText(const std::string& path, std::string* text, std::string* reason)
{
    std::error_code error;
    fs::file_status status = fs::status(fs::u8path(path), error);
    if (error) {
        *reason = error.message();
        return false;
    }
    if (!fs::is_regular_file(status)) {
        *reason = fs::is_directory(status) ? "it is a folder" : "it is not a regular file";
        return false;
    }
    errno = 0;
    std::ifstream in(fs::u8path(path), std::ios::binary);
    if (!in) {
        *reason = std::error_code(errno ? errno : EIO, std::generic_category()).message();
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    *text = content.str();
    return true;
}

// The first control character in S (C0, DEL or, in UTF-8, C1) as U+XXXX; empty when none.
std::string ControlCharacter(const std::string& s)
{
    for (size_t i = 0; i < s.size(); i++) {
        unsigned c = static_cast<unsigned char>(s[i]);
        unsigned next = i + 1 < s.size() ? static_cast<unsigned char>(s[i + 1]) : 0;
        unsigned code = c < 0x20 || c == 0x7F ? c : c == 0xC2 && next >= 0x80 && next <= 0x9F ? next : 0x100;
        if (code != 0x100) {
            char text[16];
            std::snprintf(text, sizeof(text), "U+%04X", code);
            return text;
        }
    }
    return "";
}

bool IsAbsolute(const std::string& path)
{
    return (!path.empty() && (path[0] == '/' || path[0] == '\\')) || (path.size() > 1 && path[1] == ':');
}

std::string Resolve(const std::string& folder, std::string path)
{
    for (char& c : path)
        if (c == '\\')
            c = '/';
    if (IsAbsolute(path) || folder.empty())
        return path;
    return folder + "/" + path;
}

}  // namespace

std::vector<IniSection> ParseIni(const std::string& text, const std::string& file)
{
    std::vector<IniSection> sections;
    std::istringstream in(text);
    std::string raw;
    int line = 0;
    while (std::getline(in, raw)) {
        line++;
        if (line == 1 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0)
            raw.erase(0, 3);   // a byte-order mark some editors write
        std::string s = Trim(raw);
        if (s.empty() || s[0] == ';' || s[0] == '#')
            continue;
        if (s[0] == '[') {
            if (s.back() != ']')
                throw BuildError(file, line, "section header without its closing ']'");
            std::string name = Trim(s.substr(1, s.size() - 2));
            if (!ControlCharacter(name).empty())
                throw BuildError(file, line, "a section name holds the control character " + ControlCharacter(name));
            sections.push_back({ Lower(name), line, {} });
            continue;
        }
        std::string control = ControlCharacter(s);
        size_t equals = s.find('=');
        if (equals == std::string::npos)
            throw BuildError(file, line, "expected key=value, found " +
                                             (control.empty() ? "\"" + s + "\"" : "the control character " + control));
        if (sections.empty())
            throw BuildError(file, line, "key outside of any section");
        std::string written = Trim(s.substr(0, equals)), value = Trim(s.substr(equals + 1));
        if (!ControlCharacter(written).empty())
            throw BuildError(file, line, "a key name holds the control character " + ControlCharacter(written));
        if (!ControlCharacter(value).empty())
            throw BuildError(file, line, "the value of \"" + written + "\" holds the control character " +
                                             ControlCharacter(value) +
                                             " (a text writes a line break as \\n, a tab as \\t)");
        sections.back().keys.push_back({ Lower(written), value, line, written });
    }
    return sections;
}

namespace {

// Text tables: which indices the runtime reads, per table or page.
struct TextTableInfo {
    const char* name;
    int group;
    std::set<int> indices;
};

std::set<int> Range(int from, int to)
{
    std::set<int> s;
    for (int i = from; i <= to; i++)
        s.insert(i);
    return s;
}

const std::vector<TextTableInfo>& TextTables()
{
    static const std::vector<TextTableInfo> tables = [] {
        return std::vector<TextTableInfo>{
            { "wizard", TEXT_GROUP_WIZARD, { WIZARD_TEXTS_READ } },
            { "message", TEXT_GROUP_MESSAGES, { MESSAGE_TEXTS_READ } },
            { "extra", TEXT_GROUP_EXTRA, { EXTRA_TEXTS_READ } },
            { "page.language", SLOT_LANGUAGE, Range(0, 3) },
            { "page.welcome", SLOT_WELCOME, Range(0, 7) },
            { "page.licence", SLOT_LICENCE, Range(0, 3) },
            { "page.information", SLOT_INFORMATION, Range(0, 2) },
            { "page.destination", SLOT_DESTINATION, Range(0, 8) },
            { "page.shortcuts", SLOT_SHORTCUTS, Range(0, 5) },
            { "page.ready", SLOT_READY, Range(0, 3) },
            { "page.installing", SLOT_INSTALLING, Range(0, 14) },
            { "page.finish", SLOT_FINISH, Range(0, 10) },
            { "page.uninstaller", SLOT_UNINSTALLER, Range(0, PAGE_TEXT_COUNT - 1) },
        };
    }();
    return tables;
}

struct PageInfo {
    const char* name;
    int slot;
};
const PageInfo kPages[] = { { "language", SLOT_LANGUAGE },       { "welcome", SLOT_WELCOME },
                            { "licence", SLOT_LICENCE },         { "information", SLOT_INFORMATION },
                            { "destination", SLOT_DESTINATION }, { "shortcuts", SLOT_SHORTCUTS },
                            { "ready", SLOT_READY },             { "installing", SLOT_INSTALLING },
                            { "finish", SLOT_FINISH } };

struct LanguageInfo {
    const char* name;
    int id;
    const char* textFile;
    unsigned codePage;   // the one its texts need; 0: any (they are ASCII)
};
const LanguageInfo kLanguages[] = { { "english", 9, "english.txt", 0 }, { "chinese", 4, "chinese.txt", 936 } };

// The FolderMacros the runtime replaces; any other <...> is literal text.
const std::vector<std::string>& FolderMacros()
{
    static const std::vector<std::string> macros = [] {
        std::vector<std::string> tokens;
        for (const char* token = FOLDER_MACRO_TOKENS; *token; token += std::strlen(token) + 1)
            tokens.push_back(token);
        return tokens;
    }();
    return macros;
}

// The keys whose values the runtime expands %Variables% in ([variables]
// values are, too). kEnvironment: the value goes on to Windows or a program
// that expands environment variables of its own (a registry value's data of
// type expand_sz is one as well); kFileName: it names a file or folder, so a
// <...> in it can only be a folder macro.
enum { kExpanded = 0, kEnvironment = 1, kFileName = 2 };
const std::map<std::string, int> kExpandedKeys = {
    { "product.install_path", kFileName }, { "product.shortcuts_group", kFileName },
    { "product.uninstaller", kExpanded }, { "product.launch", kFileName }, { "product.launch2", kFileName },
    { "files.destination", kFileName },
    { "shortcut.path", kFileName }, { "shortcut.target", kFileName }, { "shortcut.arguments", kEnvironment },
    { "shortcut.working_folder", kFileName }, { "shortcut.icon", kFileName },
    { "association.extension", kExpanded }, { "association.prog_id", kExpanded },
    { "association.content_type", kExpanded }, { "association.description", kExpanded },
    { "association.info_tip", kEnvironment },   // written as REG_EXPAND_SZ
    { "association.open_command", kExpanded }, { "association.icon", kFileName },
    { "registry.key", kExpanded }, { "registry.name", kExpanded }, { "registry.data", kExpanded },
    { "ini.file", kFileName }, { "ini.section", kExpanded }, { "ini.key", kExpanded }, { "ini.value", kExpanded },
    { "program.path", kFileName }, { "program.arguments", kEnvironment }, { "program.working_folder", kFileName },
    { "dll.path", kFileName }, { "dll.function", kExpanded }, { "dll.argument1", kExpanded },
    { "dll.argument2", kExpanded },
    { "caption.text", kExpanded },
};

// "; did you mean X?" for the one of NAMES closest to WORD, letters' case
// aside, when it is close enough to be what was meant: at most max(2, a
// third of WORD's length) single-character edits, a swap of neighbours
// counting as one. Empty when no name is.
std::string Suggestion(const std::string& word, const std::vector<std::string>& names, bool quoted = true)
{
    const std::string a = Lower(word);
    size_t bestDistance = std::max<size_t>(2, a.size() / 3) + 1;
    std::string best;
    for (const auto& name : names) {
        const std::string b = Lower(name);
        std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
        for (size_t i = 0; i <= a.size(); i++)
            for (size_t j = 0; j <= b.size(); j++) {
                if (!i || !j) {
                    d[i][j] = i + j;
                    continue;
                }
                d[i][j] = std::min({ d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1]) });
                if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                    d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        if (d[a.size()][b.size()] < bestDistance) {
            bestDistance = d[a.size()][b.size()];
            best = name;
        }
    }
    const std::string quote = quoted ? "\"" : "";
    return best.empty() ? "" : "; did you mean " + quote + best + quote + "?";
}

// Number fields that the runtime reads with its own parser, and what each may hold.
struct NumberRange {
    const char* section;
    const char* key;
    long long min, max;
};
const NumberRange kNumberRanges[] = {
    { "shortcut", "icon_index", -2147483647LL - 1, 2147483647 },   // negative: a resource id
    { "shortcut", "show", 0, 11 },                                  // SW_HIDE ... SW_FORCEMINIMIZE
    { "shortcut", "hotkey", 0, 0xFFFF },                            // virtual key, modifiers << 8
    { "association", "icon_index", -2147483647LL - 1, 2147483647 },
    { "caption", "x", -32768, 32767 },                              // pixels
    { "caption", "y", -32768, 32767 },
    { "caption", "size", 0, 32767 },                                // points; 0: 12
    { "caption", "width", 0, 32767 },
    { "caption", "weight", 0, 10 },                                 // hundreds: 100 ... 1000
    { "caption", "shadow", -32768, 32767 },
    { "program", "window", 0, 2 },
};

// VALUE as the runtime's number parser reads it: hexadecimal after 0x, octal
// after a leading 0 and an octal digit, else decimal with an optional minus.
// False when VALUE is not wholly such a number or lies outside MIN ... MAX,
// which the runtime would silently cut or wrap.
bool ParseWhole(const std::string& value, long long min, long long max, long long* result)
{
    size_t at = 0;
    int base = 10;
    bool negative = false;
    if (value.size() > 1 && value[0] == '0' && value[1] >= '0' && value[1] <= '7') {
        base = 8;
        at = 1;
    } else if (value.size() > 1 && value[0] == '0' && (value[1] | 0x20) == 'x') {
        base = 16;
        at = 2;
    } else if (!value.empty() && value[0] == '-') {
        negative = true;
        at = 1;
    }
    if (at >= value.size())
        return false;
    long long n = 0;
    for (; at < value.size(); at++) {
        char c = static_cast<char>(value[at] | 0x20);
        int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : 99;
        if (digit >= base || n > 0xFFFFFFFFFFLL)
            return false;
        n = n * base + digit;
    }
    n = negative ? -n : n;
    if (n < min || n > max)
        return false;
    *result = n;
    return true;
}

// How often the runtime fills in "%s" in TEXT ("%%" is a percent sign).
int FormatCount(const std::string& text)
{
    int count = 0;
    for (size_t i = 0; i + 1 < text.size(); i++)
        if (text[i] == '%') {
            count += text[i + 1] == 's';
            i += text[i + 1] == '%' || text[i + 1] == 's';
        }
    return count;
}

// In a text the runtime formats, a "%" that starts neither "%s" nor "%%"
// (it would read an argument that is not there); empty when there is none.
std::string StrayFormat(const std::string& text)
{
    for (size_t i = 0; i < text.size(); i++)
        if (text[i] == '%') {
            if (i + 1 == text.size() || (text[i + 1] != 's' && text[i + 1] != '%'))
                return text.substr(i, 2);
            i++;
        }
    return "";
}

// NAME, in the package's code page, as the file system compares names:
// letters upper-cased, the two bytes of a code page 936 character kept
// together (a second byte may look like an ASCII letter).
std::string Folded(std::string name, unsigned codePage)
{
    for (size_t i = 0; i < name.size(); i++) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c >= 'a' && c <= 'z') {
            name[i] = static_cast<char>(c - 0x20);
        } else if (codePage == 936 && c >= 0x81 && c <= 0xFE && i + 1 < name.size()) {
            unsigned char second = static_cast<unsigned char>(name[++i]);
            if ((c == 0xA3 && second >= 0xE1 && second <= 0xFA) || (c == 0xA6 && second >= 0xC1 && second <= 0xD8))
                name[i] = static_cast<char>(second - 0x20);   // full-width Latin, Greek
            else if (c == 0xA7 && second >= 0xD1 && second <= 0xF1)
                name[i] = static_cast<char>(second - 0x30);   // Cyrillic
        } else if (codePage == 1252) {
            if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
                name[i] = static_cast<char>(c - 0x20);
            else if (c == 0x9A || c == 0x9C || c == 0x9E)
                name[i] = static_cast<char>(c - 0x10);
            else if (c == 0xFF)
                name[i] = static_cast<char>(0x9F);
        }
    }
    return name;
}

// One text key, e.g. "wizard.13" or "page.finish.4": group and index.
bool ParseTextKey(const std::string& key, int* group, int* index)
{
    size_t dot = key.rfind('.');
    if (dot == std::string::npos || dot + 1 == key.size())
        return false;
    std::string table = key.substr(0, dot), number = key.substr(dot + 1);
    if (number.find_first_not_of("0123456789") != std::string::npos || number.size() > 3)
        return false;
    for (const auto& t : TextTables())
        if (table == t.name) {
            *group = t.group;
            *index = std::stoi(number);
            return t.indices.count(*index) != 0;
        }
    return false;
}

std::string Unescape(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == 'n' || s[i + 1] == 't')) {
            out += s[i + 1] == 'n' ? '\n' : '\t';
            i++;
        } else {
            out += s[i];
        }
    }
    return out;
}

// 0xRRGGBB as a COLORREF; the system-colour words pass unchanged.
uint32_t ColorRef(uint32_t rgb)
{
    return rgb & 0xFF000000u ? rgb : ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
}

std::string ReplaceAll(std::string s, const std::string& token, const std::string& value)
{
    for (size_t at = s.find(token); at != std::string::npos; at = s.find(token, at + value.size()))
        s.replace(at, token.size(), value);
    return s;
}

// Compiles one project: every key is taken exactly once by the code below.
class Compiler {
public:
    Compiler(const std::string& path, const std::string& textsDir) : path_(path), textsDir_(textsDir) {}
    Project Run();

private:
    [[noreturn]] void Fail(int line, const std::string& message) const { throw BuildError(path_, line, message); }
    const IniKey* Find(const IniSection& s, const char* key) const;
    std::string Get(const IniSection& s, const char* key, const std::string& fallback = "") const;
    bool Flag(const IniSection& s, const char* key, bool fallback) const;
    long long Number(const IniSection& s, const char* key, long long fallback, long long min, long long max) const;
    uint32_t Color(const IniSection& s, const char* key, uint32_t fallback, bool systemNames) const;
    std::string Field(const IniSection& s, const char* key, const std::string& fallback = "") const;
    std::string ColorField(const IniSection& s, const char* key) const;
    void CheckPath(const std::string& path, int line, const std::string& what) const;
    void CheckVariables(const std::string& text, int line, bool environment) const;
    void CheckFolderMacros(const std::string& text, int line) const;
    void CheckExpandedValues() const;
    std::string ProductName(const IniKey& k) const;
    std::string Ansi(const std::string& text, int line) const { return ToCodePage(text, codePage_, path_, line); }
    void CheckKeys(const IniSection& s, std::initializer_list<const char*> allowed) const;
    std::string Csv(const IniSection& s, std::initializer_list<const char*> keys) const;
    int Moment(const IniSection& s) const;
    const IniSection& Section(const char* name) const;   // an empty one when absent
    void ReadSections();
    void CompileBuild();
    void ReadLanguages();
    void CompileProduct();
    void CompilePages();
    void CompileTexts();
    void CompileDocuments();
    void CompileLists();
    void CompileFiles(const IniSection& s);
    void CheckEntryNames() const;
    void LoadTexts(const std::string& file, int language);

    std::string path_, textsDir_;
    unsigned codePage_ = 936;
    std::vector<IniSection> sections_;
    std::map<std::string, const IniSection*> single_;   // the sections that occur once
    Project project_;
    ScriptWriter script_;
    std::string name_, fullName_;          // in the package's code page
    std::string nameUtf8_, fullNameUtf8_;  // as written, for the texts
    std::vector<const LanguageInfo*> offered_;
    std::vector<std::string> variables_;   // the names the script defines, as written
    bool gradient_ = false;
    // A text as written, unescaped later, and where it was written.
    struct Text {
        std::string key, value, file;
        int line = 0;
    };
    using TextId = std::tuple<int, int, int>;   // (language, group, index)
    std::map<TextId, Text> defaults_, overrides_;
};

const IniKey* Compiler::Find(const IniSection& s, const char* key) const
{
    const IniKey* found = nullptr;
    for (const auto& k : s.keys)
        if (k.name == key) {
            if (found)
                Fail(k.line, "\"" + k.name + "\" given twice in [" + s.name + "]");
            found = &k;
        }
    return found;
}

std::string Compiler::Get(const IniSection& s, const char* key, const std::string& fallback) const
{
    const IniKey* k = Find(s, key);
    return k ? Ansi(k->value, k->line) : fallback;
}

bool Compiler::Flag(const IniSection& s, const char* key, bool fallback) const
{
    const IniKey* k = Find(s, key);
    if (!k)
        return fallback;
    std::string v = Lower(k->value);
    if (v == "yes" || v == "true" || v == "1" || v == "on")
        return true;
    if (v == "no" || v == "false" || v == "0" || v == "off")
        return false;
    Fail(k->line, "\"" + k->name + "\" takes yes or no, not \"" + k->value + "\"");
}

long long Compiler::Number(const IniSection& s, const char* key, long long fallback, long long min,
                           long long max) const
{
    const IniKey* k = Find(s, key);
    if (!k || k->value.empty())
        return fallback;
    long long v = 0;
    if (!ParseWhole(k->value, min, max, &v))
        Fail(k->line, "\"" + k->name + "\" takes a whole number from " + std::to_string(min) + " to " +
                          std::to_string(max) + ", not \"" + k->value + "\"");
    return v;
}

uint32_t Compiler::Color(const IniSection& s, const char* key, uint32_t fallback, bool systemNames) const
{
    const IniKey* k = Find(s, key);
    if (!k)
        return fallback;
    std::string v = Lower(k->value);
    if (systemNames && v == "window")
        return 0x02000000;
    if (systemNames && (v == "btnface" || v == "buttonface"))
        return 0x01000000;
    if (v.size() == 7 && v[0] == '#')
        v = "0x" + v.substr(1);
    if (v.size() != 8 || v.compare(0, 2, "0x") || v.find_first_not_of("0123456789abcdef", 2) != std::string::npos)
        Fail(k->line, "\"" + k->name + "\" takes a colour 0xRRGGBB" + (systemNames ? ", window or btnface" : "") +
                          ", not \"" + k->value + "\"");
    return static_cast<uint32_t>(std::stoul(v, nullptr, 16));
}

// A field of a comma-separated line: the runtime splits at every comma.
std::string Compiler::Field(const IniSection& s, const char* key, const std::string& fallback) const
{
    const IniKey* k = Find(s, key);
    if (!k)
        return fallback;
    if (k->value.find(',') != std::string::npos)
        Fail(k->line, "\"" + k->name + "\" contains a comma, which the runtime would take as a field separator");
    for (const auto& range : kNumberRanges)
        if (s.name == range.section && k->name == range.key && !k->value.empty())
            Number(s, key, 0, range.min, range.max);
    return Ansi(k->value, k->line);
}

// A colour field of a comma-separated line, written as 0xRRGGBB, the one form the runtime reads.
std::string Compiler::ColorField(const IniSection& s, const char* key) const
{
    if (!Find(s, key))
        return "";
    char text[16];
    std::snprintf(text, sizeof(text), "0x%06X", Color(s, key, 0, false));
    return text;
}

// Refuses a path to be made on the user's machine (UTF-8) whose literal parts
// Windows could not create. %Variables% and <FolderMacros> stand for what the
// machine gives them; a drive, "." and ".." pass.
void Compiler::CheckPath(const std::string& path, int line, const std::string& what) const
{
    if (path.empty())
        Fail(line, what + " is empty");
    CheckFolderMacros(path, line);
    size_t start = 0;
    for (size_t index = 0; start <= path.size(); index++) {
        size_t end = std::min(path.find('\\', start), path.size());
        std::string part = path.substr(start, end - start), literal;
        start = end + 1;
        bool drive =
            index == 0 && part.size() == 2 && std::isalpha(static_cast<unsigned char>(part[0])) && part[1] == ':';
        if (part.empty() || drive || part == "." || part == "..")
            continue;
        for (size_t i = 0; i < part.size(); i++) {
            size_t close = part.find(part[i] == '%' ? '%' : '>', i + 1);
            bool token = (part[i] == '%' && close != std::string::npos && close > i + 1) ||
                         (part[i] == '<' && close != std::string::npos &&
                          std::any_of(FolderMacros().begin(), FolderMacros().end(), [&](const std::string& macro) {
                              return Lower(macro) == Lower(part.substr(i, close - i + 1));
                          }));
            literal += token ? 'x' : part[i];   // a token stands for some valid name
            i = token ? close : i;
        }
        std::string problem = WindowsNameProblem(literal);
        if (!problem.empty())
            Fail(line, what + " \"" + path + "\": \"" + part + "\" is no name Windows can create: " + problem +
                           (part.find('/') != std::string::npos ? " (write \\ between folders)" : ""));
    }
}

// Refuses a %Name% token in TEXT (a name starting with a letter; "%1", "%*"
// and "%%" are none) that no variable of the script defines, which the
// runtime would leave as it is. With ENVIRONMENT, Windows or a program may
// expand it as an environment variable: only a near miss of a defined name
// is refused there.
void Compiler::CheckVariables(const std::string& text, int line, bool environment) const
{
    // The runtime replaces defined names wherever they occur, whatever
    // surrounds them: they are blanked out first, keeping the positions.
    std::string rest = Lower(text);
    for (const auto& name : variables_)
        rest = ReplaceAll(rest, Lower(name), std::string(name.size(), ' '));
    auto isName = [&](size_t i) {
        return i < rest.size() && (std::isalnum(static_cast<unsigned char>(rest[i])) || rest[i] == '_');
    };
    for (size_t i = 0; i + 1 < rest.size(); i++) {
        if (rest[i] != '%' || !std::isalpha(static_cast<unsigned char>(rest[i + 1])))
            continue;
        size_t end = i + 1;
        while (isName(end))
            end++;
        if (end == rest.size() || rest[end] != '%')
            continue;
        std::string token = text.substr(i, end - i + 1), suggestion = Suggestion(token, variables_);
        if (!environment || !suggestion.empty())
            Fail(line, "\"" + token + "\" is no variable the runtime or the project defines" + suggestion);
        i = end;
    }
}

// Refuses a <Name> in TEXT, a path, that is none of the folder macros: Windows
// names cannot hold '<'.
void Compiler::CheckFolderMacros(const std::string& text, int line) const
{
    const std::vector<std::string>& macros = FolderMacros();
    for (size_t open = text.find('<'); open != std::string::npos; open = text.find('<', open + 1)) {
        size_t close = open + 1;
        while (close < text.size() && std::isalpha(static_cast<unsigned char>(text[close])))
            close++;
        std::string token = text.substr(open, close - open + 1);
        if (close == open + 1 || close == text.size() || text[close] != '>' ||
            std::any_of(macros.begin(), macros.end(), [&](const std::string& m) { return Lower(m) == Lower(token); }))
            continue;
        std::string suggestion = Suggestion(token, macros);
        Fail(line, "\"" + token + "\" is no folder macro" +
                       (suggestion.empty() ? ", and Windows names cannot hold '<'" : suggestion));
    }
}

// The %Variables% and <FolderMacros> of every value the runtime expands.
void Compiler::CheckExpandedValues() const
{
    for (const auto& s : sections_) {
        const IniKey* type = s.name == "registry" ? Find(s, "type") : nullptr;
        bool expandSz = type && Lower(type->value) == "expand_sz";
        for (const auto& k : s.keys) {
            auto found = kExpandedKeys.find(s.name + "." + k.name);
            int use = found == kExpandedKeys.end() ? -1 : found->second;
            if (s.name == "variables" || use >= 0)
                CheckVariables(k.value, k.line, use == kEnvironment || (expandSz && k.name == "data"));
            if (use == kFileName)
                CheckFolderMacros(k.value, k.line);
        }
    }
}

// A product name in the package's code page; the texts of every offered language show it.
std::string Compiler::ProductName(const IniKey& k) const
{
    try {
        return Ansi(k.value, k.line);
    } catch (const BuildError& e) {
        std::string message = e.what();
        if (message.compare(0, 10, "code page ") != 0)
            throw;
        std::string languages;
        for (const LanguageInfo* l : offered_)
            languages += std::string(languages.empty() ? "" : " and ") + l->name;
        Fail(k.line, message + "; the " + languages + " texts show the product's \"" + k.name +
                         "\" in the package's code page ([build] codepage)");
    }
}

void Compiler::CheckKeys(const IniSection& s, std::initializer_list<const char*> allowed) const
{
    for (const auto& k : s.keys)
        if (std::none_of(allowed.begin(), allowed.end(), [&](const char* a) { return k.name == a; }))
            Fail(k.line, "unknown key \"" + k.name + "\" in [" + s.name + "]" +
                             Suggestion(k.name, std::vector<std::string>(allowed.begin(), allowed.end())));
}

std::string Compiler::Csv(const IniSection& s, std::initializer_list<const char*> keys) const
{
    std::string line;
    for (const char* key : keys) {
        if (key != *keys.begin())
            line += ',';
        line += Field(s, key);
    }
    return line;
}

int Compiler::Moment(const IniSection& s) const
{
    const IniKey* k = Find(s, "moment");
    if (!k || k->value.empty())
        return MOMENT_DEFAULT;
    std::string v = Lower(k->value);
    if (v == "before")
        return MOMENT_BEFORE;
    if (v == "uninstall")
        return MOMENT_AT_REMOVAL;
    for (const auto& p : kPages)
        if (v == p.name)
            return p.slot + 1;
    Fail(k->line, "\"moment\" takes before, uninstall or the page after which to run (welcome ... finish), not \"" +
                      k->value + "\"");
}

// The default texts of LANGUAGE from the table FILE.
void Compiler::LoadTexts(const std::string& file, int language)
{
    std::string text, reason;
    if (!ReadText(file, &text, &reason))
        throw BuildError(file, 0, "cannot read the text table: " + reason);
    project_.inputs.push_back(file);
    for (const auto& section : ParseIni(text, file))
        for (const auto& k : section.keys) {
            int group = 0, index = 0;
            std::string key = section.name == "texts" ? k.name : section.name + "." + k.name;
            if (!ParseTextKey(key, &group, &index))
                throw BuildError(file, k.line, "\"" + k.name + "\" is not a text the runtime reads");
            defaults_[{ language, group, index }] = { key, k.value, file, k.line };
        }
}

}  // namespace

std::vector<std::string> InstalledPaths(const GroupPlan& plan)
{
    std::string destination = plan.group.destination;
    destination.erase(destination.find_last_not_of('\\') + 1);
    std::vector<std::string> paths, folders;
    for (const auto& f : plan.files) {
        folders.resize(f.entry.parentIndex);
        std::string path = destination;
        for (const auto& folder : folders)
            path += "\\" + folder;
        paths.push_back(path + "\\" + f.entry.name);
        if (!f.entry.isFile)
            folders.push_back(f.entry.name);
    }
    return paths;
}

Project LoadProject(const std::string& path, const std::string& textsDir)
{
    return Compiler(path, textsDir).Run();
}

namespace {

void Compiler::CompileFiles(const IniSection& s)
{
    CheckKeys(s, { "source", "destination", "recursive", "overwrite", "compare", "shared", "compress" });
    static const std::map<std::string, uint32_t> kRules = { { "always", OVERWRITE_ALWAYS },
                                                           { "newer", OVERWRITE_IF_NEWER },
                                                           { "newer_or_same", OVERWRITE_IF_NEWER_OR_SAME },
                                                           { "older", OVERWRITE_IF_OLDER },
                                                           { "never", OVERWRITE_NEVER } };
    static const std::map<std::string, uint32_t> kModes = { { "time", COMPARE_TIMES }, { "version", COMPARE_VERSIONS },
                                                           { "both", COMPARE_BOTH } };
    GroupPlan plan;
    if (const IniKey* k = Find(s, "destination"))
        CheckPath(k->value, k->line, "\"destination\"");
    plan.group.destination = Get(s, "destination", "%InstallPath%");
    std::string rule = Lower(Get(s, "overwrite", "always")), mode = Lower(Get(s, "compare", "time"));
    if (!kRules.count(rule))
        Fail(Find(s, "overwrite")->line, "\"overwrite\" takes always, newer, newer_or_same, older or never");
    if (!kModes.count(mode))
        Fail(Find(s, "compare")->line, "\"compare\" takes time, version or both");
    plan.group.overwriteRule = kRules.at(rule);
    plan.group.compareMode = kModes.at(mode);
    plan.group.sharedFiles = Flag(s, "shared", false) ? 1 : 0;
    bool recursive = Flag(s, "recursive", false), compress = Flag(s, "compress", true);
    bool any = false;
    for (const auto& k : s.keys)
        if (k.name == "source") {
            AddSource(plan, project_.folder, k.value, recursive, compress, codePage_, path_, k.line, project_);
            any = true;
        }
    if (!any)
        Fail(s.line, "[files] needs a source");
    project_.groups.push_back(plan);
}

void Compiler::ReadSections()
{
    std::string text, reason;
    if (!ReadText(path_, &text, &reason))
        throw BuildError(path_, 0, "cannot read the project file: " + reason);
    sections_ = ParseIni(text, path_);
    project_.path = path_;
    size_t slash = path_.find_last_of("/\\");
    project_.folder = slash == std::string::npos ? "." : path_.substr(0, slash);

    static const std::set<std::string> kSingle = { "build", "product", "options", "pages", "languages",
                                                  "appearance", "variables", "requirements" };
    static const std::set<std::string> kRepeated = { "files", "shortcut", "registry", "ini", "program",
                                                    "dll", "association", "caption" };
    for (const auto& s : sections_) {
        if (kSingle.count(s.name)) {
            if (single_.count(s.name))
                Fail(s.line, "[" + s.name + "] given twice");
            single_[s.name] = &s;
        } else if (!kRepeated.count(s.name) && s.name.compare(0, 6, "texts.") != 0) {
            std::vector<std::string> known;
            for (const std::set<std::string>* names : { &kSingle, &kRepeated })
                for (const auto& name : *names)
                    known.push_back("[" + name + "]");
            for (const auto& l : kLanguages)
                known.push_back(std::string("[texts.") + l.name + "]");
            Fail(s.line, "unknown section [" + s.name + "]" + Suggestion("[" + s.name + "]", known, false));
        }
    }
    if (!single_.count("product"))
        Fail(1, "the project has no [product] section");
}

const IniSection& Compiler::Section(const char* name) const
{
    static const IniSection kEmpty;
    auto it = single_.find(name);
    return it == single_.end() ? kEmpty : *it->second;
}

void Compiler::CompileBuild()
{
    const IniSection& build = Section("build");
    CheckKeys(build, { "runtime", "output", "codepage" });
    if (const IniKey* k = Find(build, "runtime"))
        project_.runtime = Resolve(project_.folder, k->value);
    if (const IniKey* k = Find(build, "output"))
        project_.output = Resolve(project_.folder, k->value);
    long long codePage = 936;
    const IniKey* k = Find(build, "codepage");
    if (k && (!ParseWhole(k->value, 0, 65535, &codePage) || (codePage != 936 && codePage != 1252)))
        Fail(k->line, "\"codepage\" takes 936 or 1252");
    codePage_ = static_cast<unsigned>(codePage);
}

// The offered languages, in order; the texts of each must fit the package's code page.
void Compiler::ReadLanguages()
{
    const IniSection& languages = Section("languages");
    CheckKeys(languages, { "offered", "auto_select" });
    const IniKey* k = Find(languages, "offered");
    int line = k ? k->line : languages.line;
    std::string list = k ? Lower(k->value) : "english";
    if (list.empty())
        Fail(line, "\"offered\" names no language (english, chinese); leave it out for english");
    std::stringstream items(list);
    for (std::string language; std::getline(items, language, ',');) {
        language = Trim(language);
        auto it = std::find_if(std::begin(kLanguages), std::end(kLanguages), [&](const LanguageInfo& l) {
            return language == l.name || language == std::to_string(l.id);
        });
        if (it == std::end(kLanguages))
            Fail(line, "\"" + language + "\" is not a language with texts (english, chinese)");
        if (std::find(offered_.begin(), offered_.end(), &*it) != offered_.end())
            Fail(line, "\"" + language + "\" is offered twice");
        if (it->codePage && it->codePage != codePage_)
            Fail(line, std::string(it->name) + " texts need code page " + std::to_string(it->codePage) +
                           ", but the package's is " + std::to_string(codePage_) + " ([build] codepage)");
        offered_.push_back(&*it);
    }
}

void Compiler::CompileProduct()
{
    const IniSection& product = Section("product");
    CheckKeys(product, { "name", "full_name", "install_path", "uninstaller", "shortcuts_group", "previous_path_root",
                         "previous_path_key", "previous_path_value", "launch", "launch2", "licence", "information",
                         "layout", "version", "publisher", "url" });
    const IniKey* nameKey = Find(product, "name");
    if (!nameKey || nameKey->value.empty())
        Fail(nameKey ? nameKey->line : product.line, "[product] needs a name");
    if (nameKey->value.find('\\') != std::string::npos)
        Fail(nameKey->line, "the product name cannot hold \"\\\": it names the product's key under the "
                            "Uninstall registry key");
    nameUtf8_ = nameKey->value;
    name_ = ProductName(*nameKey);
    const IniKey* fullNameKey = Find(product, "full_name");
    if (fullNameKey && fullNameKey->value.empty())
        Fail(fullNameKey->line, "\"full_name\" is empty; leave it out to use the name");
    fullNameUtf8_ = fullNameKey ? fullNameKey->value : nameUtf8_;
    fullName_ = fullNameKey ? ProductName(*fullNameKey) : name_;
    const IniKey* installPathKey = Find(product, "install_path");
    const IniKey* groupKey = Find(product, "shortcuts_group");
    const IniKey* uninstallerKey = Find(product, "uninstaller");
    std::string nameProblem = WindowsNameProblem(nameUtf8_);
    if ((!installPathKey || !groupKey) && !nameProblem.empty())
        Fail(nameKey->line, "the product name is the default install folder and program group, which Windows "
                            "cannot create: " + nameProblem + "; give install_path and shortcuts_group");
    if (installPathKey)
        CheckPath(installPathKey->value, installPathKey->line, "\"install_path\"");
    if (groupKey)
        CheckPath(groupKey->value, groupKey->line, "\"shortcuts_group\"");
    if (uninstallerKey && !WindowsNameProblem(uninstallerKey->value).empty())
        Fail(uninstallerKey->line, "\"uninstaller\" is no file name Windows can create: " +
                                       WindowsNameProblem(uninstallerKey->value));
    std::string installPath = Get(product, "install_path", "<ProgramFiles>\\" + name_);

    // Variables first: the runtime's own, then the project's.
    auto define = [&](const std::string& name, const std::string& value, int line) {
        script_.record(RECORD_VARIABLE, { Ansi(name, line), value });
        variables_.push_back(name);
    };
    define("%InstallPath%", installPath, 0);
    define("%UninstallerFileName%", Get(product, "uninstaller", "uninstall.exe"), 0);
    define("%ShortcutsGroup%", Get(product, "shortcuts_group", name_), 0);
    const IniSection& variables = Section("variables");
    for (const auto& k : variables.keys) {
        if (k.name.size() < 3 || k.name.front() != '%' || k.name.back() != '%')
            Fail(k.line, "a variable is written %Name%, not \"" + k.name + "\"");
    }
    for (const auto& k : variables.keys)
        define(k.written, Ansi(k.value, k.line), k.line);   // in the case written

    // The product record: names and appearance.
    const IniSection& appearance = Section("appearance");
    CheckKeys(appearance, { "body_font", "body_text_color", "title_font", "title_text_color", "body_color",
                            "band_color", "header_color", "decoration_color", "gradient_top", "gradient_bottom" });
    const IniSection& options = Section("options");
    CheckKeys(options, { "offer_group_shortcuts", "offer_desktop_shortcuts", "offer_quick_launch_shortcuts",
                         "restart", "create_uninstaller", "header_welcome", "background_title_bar" });
    auto hex = [](uint32_t v) {
        char buffer[16];
        std::snprintf(buffer, sizeof(buffer), "0x%06X", v);
        return std::string(buffer);
    };
    Bytes record9;
    ScriptWriter::putString(record9, name_);
    ScriptWriter::putString(record9, fullName_);
    ScriptWriter::putString(record9, Field(appearance, "body_font", "Tahoma") + "," +
                                          hex(Color(appearance, "body_text_color", 0x000000, false)));
    ScriptWriter::putU32(record9, ColorRef(Color(appearance, "body_color", 0x01000000, true)));
    ScriptWriter::putU32(record9, ColorRef(Color(appearance, "band_color", 0x01000000, true)));
    ScriptWriter::putString(record9, Field(appearance, "title_font", "Tahoma") + "," +
                                          hex(Color(appearance, "title_text_color", 0x000000, false)));
    ScriptWriter::putU32(record9, ColorRef(Color(appearance, "header_color", 0x02000000, true)));
    record9.push_back((Flag(options, "header_welcome", false) ? APPEARANCE_HEADER_WELCOME : 0) |
                      (Flag(options, "background_title_bar", false) ? APPEARANCE_BACKGROUND_CAPTION : 0));
    std::string root = Field(product, "previous_path_root");
    if (!root.empty() && Lower(root) != "hkcr" && Lower(root) != "hkcu" && Lower(root) != "hklm" &&
        Lower(root) != "hku" && Lower(root) != "hkcc")
        Fail(Find(product, "previous_path_root")->line, "\"previous_path_root\" takes HKCR, HKCU, HKLM, HKU or HKCC");
    std::string previous = root.empty() ? "" : root + "," + Field(product, "previous_path_key") + "," +
                                                   Field(product, "previous_path_value");
    ScriptWriter::putString(record9, previous);
    ScriptWriter::putString(record9, Get(product, "launch"));
    ScriptWriter::putString(record9, Get(product, "launch2"));
    std::string layout = Lower(Get(product, "layout", "large"));
    if (layout != "large" && layout != "small")
        Fail(Find(product, "layout")->line, "\"layout\" takes large or small");
    record9.push_back((layout == "small" ? SETUP_SMALL_LAYOUT : 0) |
                      (Flag(options, "offer_group_shortcuts", true) ? SETUP_OFFER_GROUP : 0) |
                      (Flag(options, "offer_desktop_shortcuts", true) ? SETUP_OFFER_DESKTOP : 0) |
                      (Flag(options, "offer_quick_launch_shortcuts", true) ? SETUP_OFFER_QUICK_LAUNCH : 0) |
                      (Flag(options, "restart", false) ? SETUP_RESTART : 0) |
                      (Flag(options, "create_uninstaller", true) ? SETUP_CREATE_UNINSTALLER : 0));
    script_.record(RECORD_PRODUCT, record9);

    // What the uninstall entry shows beside the name, for Programs and
    // Features and the package managers that match products by version.
    Bytes details;
    bool given = false;
    for (const char* key : { "version", "publisher", "url" }) {
        const IniKey* k = Find(product, key);
        given |= k != nullptr;
        ScriptWriter::putString(details, k ? ProductName(*k) : std::string());
    }
    if (given)
        script_.record(RECORD_ENTRY_DETAILS, details);
}

void Compiler::CompilePages()
{
    const IniSection& product = Section("product");
    const IniSection& pages = Section("pages");
    CheckKeys(pages, { "enabled" });
    std::string enabled = "welcome,destination,ready,installing,finish";
    int pagesLine = pages.line;
    if (const IniKey* k = Find(pages, "enabled")) {
        enabled = k->value;
        pagesLine = k->line;
    }
    Bytes switches(INSTALLER_SLOT_COUNT, 0);
    std::stringstream pageList(enabled);
    for (std::string page; std::getline(pageList, page, ',');) {
        page = Lower(Trim(page));
        auto it = std::find_if(std::begin(kPages), std::end(kPages), [&](const PageInfo& p) { return page == p.name; });
        if (it == std::end(kPages))
            Fail(pagesLine, "\"" + page + "\" is not a page (language, welcome, licence, information, destination, "
                                          "shortcuts, ready, installing, finish)");
        switches[it->slot] = 1;
    }
    for (const char* file : { "licence", "information" }) {
        int slot = file[0] == 'l' ? SLOT_LICENCE : SLOT_INFORMATION;
        if (switches[slot] && !Find(product, file))
            Fail(pagesLine, std::string("the ") + file + " page is enabled but [product] names no " + file + " file");
    }
    script_.record(RECORD_PAGE_SWITCHES, switches);
}

void Compiler::CompileTexts()
{
    const IniSection& languages = Section("languages");
    Bytes record6{ static_cast<uint8_t>(Flag(languages, "auto_select", true) ? 1 : 0) };
    for (const LanguageInfo* l : offered_)
        ScriptWriter::putU16(record6, static_cast<uint16_t>(l->id));
    script_.record(RECORD_LANGUAGES, record6);

    for (const auto& s : sections_) {
        if (s.name.compare(0, 6, "texts.") != 0)
            continue;
        std::string language = s.name.substr(6);
        auto it = std::find_if(offered_.begin(), offered_.end(), [&](const LanguageInfo* l) {
            return language == l->name || language == std::to_string(l->id);
        });
        if (it == offered_.end()) {
            std::vector<std::string> offered;
            for (const LanguageInfo* l : offered_)
                offered.push_back(std::string("[texts.") + l->name + "]");
            Fail(s.line,
                 "[" + s.name + "] is not an offered language" + Suggestion("[" + s.name + "]", offered, false));
        }
        for (const auto& k : s.keys) {
            int group = 0, index = 0;
            if (!ParseTextKey(k.name, &group, &index))
                Fail(k.line, "\"" + k.name + "\" is not a text the runtime reads");
            TextId id{ (*it)->id, group, index };
            if (overrides_.count(id))
                Fail(k.line, "\"" + k.name + "\" given twice for " + (*it)->name);
            overrides_[id] = { k.name, k.value, path_, k.line };
        }
    }
    for (const LanguageInfo* l : offered_)
        LoadTexts(textsDir_ + "/" + l->textFile, l->id);
    std::map<TextId, const Text*> chosen;
    for (const auto& [id, text] : defaults_)
        chosen[id] = &text;
    for (const auto& [id, text] : overrides_) {
        // The runtime fills in as many %s as the default text has.
        auto replaced = defaults_.find(id);
        if (replaced != defaults_.end() && FormatCount(replaced->second.value) && !StrayFormat(text.value).empty())
            Fail(text.line, "\"" + text.key + "\" holds \"" + StrayFormat(text.value) +
                                "\", which the runtime would take as a placeholder: write a percent sign as %%");
        if (replaced != defaults_.end() && FormatCount(text.value) != FormatCount(replaced->second.value))
            Fail(text.line, "\"" + text.key + "\" has " + std::to_string(FormatCount(text.value)) +
                                " %s, the default text " + std::to_string(FormatCount(replaced->second.value)) +
                                ": the runtime fills in exactly as many as the default has");
        chosen[id] = &text;
    }
    // Names are put in as written and the whole converted once, with the
    // file and line of the text itself.
    for (const auto& [id, text] : chosen) {
        auto [language, group, index] = id;
        std::string t =
            ReplaceAll(ReplaceAll(Unescape(text->value), "{full_name}", fullNameUtf8_), "{name}", nameUtf8_);
        script_.record(RECORD_TEXT, ScriptWriter::textPayload(static_cast<uint16_t>(language), static_cast<uint8_t>(group),
                                                   static_cast<uint8_t>(index),
                                                   ToCodePage(t, codePage_, text->file, text->line)));
    }
}

// The licence and information texts, read as they are (plain or RTF).
void Compiler::CompileDocuments()
{
    const IniSection& product = Section("product");
    for (const char* file : { "licence", "information" })
        if (const IniKey* k = Find(product, file)) {
            std::string path = Resolve(project_.folder, k->value), content, reason;
            if (!ReadText(path, &content, &reason))
                Fail(k->line, "cannot read the " + std::string(file) + " file \"" + k->value + "\": " + reason);
            project_.inputs.push_back(path);
            if (content.compare(0, 3, "\xEF\xBB\xBF") == 0)
                content.erase(0, 3);
            size_t nul = content.find('\0');
            if (nul != std::string::npos)
                throw BuildError(path, 1 + static_cast<int>(std::count(content.begin(), content.begin() + nul, '\n')),
                                 "a NUL byte, which would end the " + std::string(file) +
                                     " text here: save the file as UTF-8 text or RTF");
            bool rtf = content.compare(0, 5, "{\\rtf") == 0;
            std::string text = rtf ? content : "";
            // Line by line, so that a character the code page lacks is named with its line.
            for (size_t start = 0, line = 1; !rtf && start < content.size(); line++) {
                size_t end = content.find('\n', start);
                end = end == std::string::npos ? content.size() : end + 1;
                text += ToCodePage(content.substr(start, end - start), codePage_, path, static_cast<int>(line));
                start = end;
            }
            script_.record(file[0] == 'l' ? RECORD_LICENCE_TEXT : RECORD_INFO_TEXT, { text });
        }
}

// Lists and settings: shortcuts, associations, requirements, background,
// captions, decoration colour, programs, registry values, INI entries, DLL calls.
void Compiler::CompileLists()
{
    const IniSection& appearance = Section("appearance");
    auto each = [&](const char* kind, const std::function<void(const IniSection&)>& f) {
        for (const auto& s : sections_)
            if (s.name == kind)
                f(s);
    };
    each("shortcut", [&](const IniSection& s) {
        CheckKeys(s, { "path", "target", "arguments", "working_folder", "icon", "icon_index", "show", "hotkey",
                       "shared" });
        if (Get(s, "path").empty())
            Fail(s.line, "[shortcut] needs a path");
        CheckPath(Find(s, "path")->value, Find(s, "path")->line, "\"path\"");
        script_.record(RECORD_SHORTCUT, { Csv(s, { "path", "target", "arguments", "working_folder", "icon", "icon_index", "show",
                                     "hotkey" }) + "," + (Flag(s, "shared", false) ? "1" : "0") });
    });
    each("association", [&](const IniSection& s) {
        CheckKeys(s, { "extension", "prog_id", "content_type", "description", "info_tip", "open_command", "icon",
                       "icon_index" });
        std::string extension = Get(s, "extension");
        if (extension.size() < 2 || extension[0] != '.')
            Fail(s.line, "[association] needs an extension with its dot");
        script_.record(RECORD_ASSOCIATION, { Csv(s, { "extension", "prog_id", "content_type", "description", "info_tip",
                                     "open_command", "icon", "icon_index" }) });
    });
    const IniSection& requirements = Section("requirements");
    CheckKeys(requirements, { "windows", "directx", "ie", "access", "administrator" });
    if (single_.count("requirements")) {
        static const std::map<std::string, std::set<std::string>> kKeywords = {
            { "windows", { "NT", "95OSR2", "NT4", "98", "98SE", "ME", "2000", "XP", "2003" } },
            { "directx", { "1.0", "2.0", "3.0", "5.0", "6.0", "6.1", "7.0", "8.0", "8.1", "9.0" } },
            { "ie", { "3.0", "3.01", "3.02", "4.0", "4.01", "4.01SP1", "4.01SP2", "5.0", "5.01", "5.01SP1", "5.01SP2",
                      "5.01SP3", "5.5", "5.5SP1", "5.5SP2", "6.0", "6.0SP1" } },
            { "access", { "97", "97SR1", "97SR2", "2000", "2000SR1", "2000SR2", "XP" } },
        };
        Bytes record16;
        for (const char* key : { "windows", "directx", "ie", "access" }) {
            const IniKey* k = Find(requirements, key);
            std::string value = k ? k->value : "";
            std::string upper = value;
            for (char& c : upper)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            if (!value.empty() && !kKeywords.at(key).count(upper))
                Fail(k->line, "\"" + value + "\" is not a " + key + " release the runtime knows");
            ScriptWriter::putString(record16, upper);
        }
        record16.push_back(Flag(requirements, "administrator", false) ? 1 : 0);
        script_.record(RECORD_REQUIREMENTS, record16);
    }
    gradient_ = Find(appearance, "gradient_top") || Find(appearance, "gradient_bottom");
    if (gradient_) {
        Bytes record7;
        ScriptWriter::putU32(record7, Color(appearance, "gradient_top", 0x0000FF, false));
        ScriptWriter::putU32(record7, Color(appearance, "gradient_bottom", 0x000000, false));
        script_.record(RECORD_BACKGROUND, record7);
    }
    each("caption", [&](const IniSection& s) {
        CheckKeys(s, { "text", "horizontal", "vertical", "x", "y", "font", "size", "width", "weight", "italic",
                       "underline", "color", "shadow", "shadow_color" });
        const IniKey* k = Find(s, "text");
        if (!k)
            Fail(s.line, "[caption] needs a text");
        if (k->value.find('"') != std::string::npos)
            Fail(k->line, "a caption text cannot contain a double quote");
        if (!gradient_)
            Fail(s.line, "a [caption] needs the background window: give [appearance] gradient_top");
        std::string line = "\"" + Ansi(k->value, k->line) + "\"," +
                           Csv(s, { "horizontal", "vertical", "x", "y", "font", "size", "width", "weight" }) + "," +
                           (Flag(s, "italic", false) ? "1" : "0") + "," + (Flag(s, "underline", false) ? "1" : "0") +
                           "," + ColorField(s, "color") + "," + Field(s, "shadow") + "," +
                           ColorField(s, "shadow_color");
        script_.record(RECORD_BACKGROUND_CAPTION, { line });
    });
    if (Find(appearance, "decoration_color")) {
        Bytes record8;
        ScriptWriter::putU32(record8, ColorRef(Color(appearance, "decoration_color", 0, false)));
        script_.record(RECORD_DECORATION_COLOR, record8);
    }
    each("program", [&](const IniSection& s) {
        CheckKeys(s, { "path", "arguments", "working_folder", "moment", "wait", "once", "window" });
        if (Get(s, "path").empty())
            Fail(s.line, "[program] needs a path (or open)");
        std::string line = Csv(s, { "path", "arguments", "working_folder" }) + "," + std::to_string(Moment(s)) +
                           "," + (Flag(s, "wait", true) ? "1" : "0") + "," + (Flag(s, "once", true) ? "1" : "0") +
                           "," + std::to_string(Number(s, "window", 0, 0, 2));
        script_.record(RECORD_PROGRAM, { line });
    });
    each("registry", [&](const IniSection& s) {
        CheckKeys(s, { "root", "key", "name", "type", "data" });
        static const std::vector<std::string> kRoots = { "hkcr", "hkcu", "hklm", "hku", "hkpd", "hkcc", "hkdd" };
        static const std::map<std::string, int> kTypes = { { "sz", 1 }, { "expand_sz", 2 }, { "binary", 3 },
                                                           { "dword", 4 }, { "multi_sz", 7 } };
        std::string rootName = Lower(Get(s, "root", "hklm"));
        auto rootIt = std::find(kRoots.begin(), kRoots.end(), rootName);
        if (rootIt == kRoots.end())
            Fail(Find(s, "root")->line, "\"root\" takes HKCR, HKCU, HKLM, HKU, HKPD, HKCC or HKDD");
        std::string type = Lower(Get(s, "type", "sz"));
        if (!kTypes.count(type))
            Fail(Find(s, "type")->line, "\"type\" takes sz, expand_sz, binary, dword or multi_sz");
        if (Get(s, "key").empty())
            Fail(s.line, "[registry] needs a key");
        std::string data = Field(s, "data");
        if (type == "binary" && (data.size() % 2 || data.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos))
            Fail(Find(s, "data")->line, "binary data is written as pairs of hexadecimal digits");
        long long dword = 0;
        if (type == "dword" && !ParseWhole(data, -2147483647LL - 1, 0xFFFFFFFFLL, &dword))
            Fail(Find(s, "data") ? Find(s, "data")->line : s.line,
                 "dword data takes a whole number from -2147483648 to 4294967295, not \"" + data + "\"");
        script_.record(RECORD_REGISTRY_VALUE, { std::to_string(rootIt - kRoots.begin()) + "," + Field(s, "key") + "," + Field(s, "name") +
                            "," + std::to_string(kTypes.at(type)) + "," + data });
    });
    each("ini", [&](const IniSection& s) {
        CheckKeys(s, { "file", "section", "key", "value", "append" });
        if (Get(s, "file").empty() || Get(s, "section").empty())
            Fail(s.line, "[ini] needs a file and a section");
        script_.record(RECORD_INI_ENTRY, { Csv(s, { "file", "section", "key", "value" }) + "," + (Flag(s, "append", false) ? "1" : "0") });
    });
    each("dll", [&](const IniSection& s) {
        CheckKeys(s, { "path", "function", "argument1", "argument2", "moment", "once" });
        if (Get(s, "path").empty() || Get(s, "function").empty())
            Fail(s.line, "[dll] needs a path and a function");
        script_.record(RECORD_DLL_CALL, { Csv(s, { "path", "function", "argument1", "argument2" }) + "," +
                            std::to_string(Moment(s)) + "," + (Flag(s, "once", true) ? "1" : "0") });
    });
}

// Refuses two entries that Windows would put at one path: names that differ
// only in case, or equal names, one folder's entries with another's excepted
// (the folders merge).
void Compiler::CheckEntryNames() const
{
    std::map<std::string, const SourceFile*> seen;
    for (const auto& plan : project_.groups) {
        std::vector<std::string> paths = InstalledPaths(plan);
        for (size_t i = 0; i < plan.files.size(); i++) {
            const SourceFile& f = plan.files[i];
            auto [it, added] = seen.insert({ Folded(paths[i], codePage_), &f });
            const SourceFile& first = *it->second;
            if (!added && (f.entry.isFile || first.entry.isFile || first.entry.name != f.entry.name))
                Fail(f.line, "\"" + f.path + "\" and \"" + first.path + "\" (line " + std::to_string(first.line) +
                                 ") would be installed at one path" +
                                 (first.entry.name != f.entry.name ? ": Windows does not tell names apart by case"
                                                                   : ""));
        }
    }
}

Project Compiler::Run()
{
    ReadSections();
    CompileBuild();
    ReadLanguages();
    CompileProduct();
    CheckExpandedValues();
    CompilePages();
    CompileTexts();
    CompileDocuments();
    CompileLists();
    for (const auto& s : sections_)
        if (s.name == "files")
            CompileFiles(s);
    CheckEntryNames();
    project_.script = script_.finish();
    return project_;
}

}  // namespace

}  // namespace quillset
