// Project files: parsed into sections, every key checked, compiled into the
// script's records in the order the runtime expects them.
#include "project.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

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

std::string ReadText(const std::string& path, bool* ok)
{
    std::ifstream in(path, std::ios::binary);
    *ok = static_cast<bool>(in);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
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
            sections.push_back({ Lower(Trim(s.substr(1, s.size() - 2))), line, {} });
            continue;
        }
        size_t equals = s.find('=');
        if (equals == std::string::npos)
            throw BuildError(file, line, "expected key=value, found \"" + s + "\"");
        if (sections.empty())
            throw BuildError(file, line, "key outside of any section");
        std::string written = Trim(s.substr(0, equals));
        sections.back().keys.push_back({ Lower(written), Trim(s.substr(equals + 1)), line, written });
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
        std::set<int> messages = { 2, 5, 8, 11, 13, 14, 15, 21, 24, 25, 27 };
        for (int i = 29; i <= 39; i++)
            messages.insert(i);
        return std::vector<TextTableInfo>{
            { "wizard", 0x60, { 0, 1, 2, 5, 6, 8, 9, 10, 11, 12, 13 } },
            { "message", 0x70, messages },
            { "extra", 0x80, { 0, 1, 2, 3, 5, 6, 7, 8 } },
            { "page.language", 0, Range(0, 3) },
            { "page.welcome", 1, Range(0, 7) },
            { "page.licence", 2, Range(0, 3) },
            { "page.information", 3, Range(0, 2) },
            { "page.destination", 6, Range(0, 8) },
            { "page.shortcuts", 8, Range(0, 5) },
            { "page.ready", 9, Range(0, 3) },
            { "page.installing", 10, Range(0, 14) },
            { "page.finish", 11, Range(0, 10) },
            { "page.uninstaller", 12, Range(0, 19) },
        };
    }();
    return tables;
}

struct PageInfo {
    const char* name;
    int slot;
};
const PageInfo kPages[] = { { "language", 0 },     { "welcome", 1 },   { "licence", 2 },
                            { "information", 3 },  { "destination", 6 }, { "shortcuts", 8 },
                            { "ready", 9 },        { "installing", 10 }, { "finish", 11 } };

struct LanguageInfo {
    const char* name;
    int id;
    const char* textFile;
};
const LanguageInfo kLanguages[] = { { "english", 9, "english.txt" }, { "chinese", 4, "chinese.txt" } };

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
    long Number(const IniSection& s, const char* key, long fallback) const;
    uint32_t Color(const IniSection& s, const char* key, uint32_t fallback, bool systemNames) const;
    std::string Field(const IniSection& s, const char* key, const std::string& fallback = "") const;
    std::string Ansi(const std::string& text, int line) const { return ToCodePage(text, codePage_, path_, line); }
    void CheckKeys(const IniSection& s, std::initializer_list<const char*> allowed) const;
    std::string Csv(const IniSection& s, std::initializer_list<const char*> keys) const;
    int Moment(const IniSection& s) const;
    const IniSection& Section(const char* name) const;   // an empty one when absent
    void ReadSections();
    void CompileBuild();
    void CompileProduct();
    void CompilePages();
    void CompileTexts();
    void CompileDocuments();
    void CompileLists();
    void CompileFiles(const IniSection& s);
    void LoadTexts(const std::string& file, int language, bool defaults);

    std::string path_, textsDir_;
    unsigned codePage_ = 936;
    std::vector<IniSection> sections_;
    std::map<std::string, const IniSection*> single_;   // the sections that occur once
    Project project_;
    ScriptWriter script_;
    std::string name_, fullName_;
    std::vector<const LanguageInfo*> offered_;
    bool gradient_ = false;
    std::map<std::tuple<int, int, int>, std::string> texts_;   // (language, group, index)
    std::map<std::tuple<int, int, int>, int> textLines_;
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

long Compiler::Number(const IniSection& s, const char* key, long fallback) const
{
    const IniKey* k = Find(s, key);
    if (!k || k->value.empty())
        return fallback;
    char* end = nullptr;
    long v = std::strtol(k->value.c_str(), &end, 0);
    if (*end)
        Fail(k->line, "\"" + k->name + "\" takes a number, not \"" + k->value + "\"");
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
    return Ansi(k->value, k->line);
}

void Compiler::CheckKeys(const IniSection& s, std::initializer_list<const char*> allowed) const
{
    for (const auto& k : s.keys)
        if (std::none_of(allowed.begin(), allowed.end(), [&](const char* a) { return k.name == a; }))
            Fail(k.line, "unknown key \"" + k.name + "\" in [" + s.name + "]");
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
        return 11;
    std::string v = Lower(k->value);
    if (v == "before")
        return 0;
    if (v == "uninstall")
        return -1;
    for (const auto& p : kPages)
        if (v == p.name)
            return p.slot + 1;
    Fail(k->line, "\"moment\" takes before, uninstall or the page after which to run (welcome ... finish), not \"" +
                      k->value + "\"");
}

void Compiler::LoadTexts(const std::string& file, int language, bool defaults)
{
    bool ok = false;
    std::string text = ReadText(file, &ok);
    if (!ok)
        throw BuildError(file, 0, "cannot read the text table");
    for (const auto& section : ParseIni(text, file))
        for (const auto& k : section.keys) {
            int group = 0, index = 0;
            if (!ParseTextKey(section.name == "texts" ? k.name : section.name + "." + k.name, &group, &index))
                throw BuildError(file, k.line, "\"" + k.name + "\" is not a text the runtime reads");
            auto id = std::make_tuple(language, group, index);
            if (!defaults || !texts_.count(id)) {
                texts_[id] = Unescape(k.value);
                textLines_[id] = k.line;
            }
        }
}

}  // namespace

Project LoadProject(const std::string& path, const std::string& textsDir)
{
    return Compiler(path, textsDir).Run();
}

namespace {

void Compiler::CompileFiles(const IniSection& s)
{
    CheckKeys(s, { "source", "destination", "recursive", "overwrite", "compare", "shared", "compress" });
    static const std::map<std::string, uint32_t> kRules = { { "always", 0 }, { "newer", 1 }, { "newer_or_same", 2 },
                                                           { "older", 3 }, { "never", 4 } };
    static const std::map<std::string, uint32_t> kModes = { { "time", 0 }, { "version", 1 }, { "both", 2 } };
    GroupPlan plan;
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
    bool ok = false;
    std::string text = ReadText(path_, &ok);
    if (!ok)
        throw BuildError(path_, 0, "cannot read the project file");
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
            Fail(s.line, "unknown section [" + s.name + "]");
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
    codePage_ = static_cast<unsigned>(Number(build, "codepage", 936));
    if (codePage_ != 936 && codePage_ != 1252)
        Fail(Find(build, "codepage")->line, "\"codepage\" takes 936 or 1252");
}

void Compiler::CompileProduct()
{
    const IniSection& product = Section("product");
    CheckKeys(product, { "name", "full_name", "install_path", "uninstaller", "shortcuts_group", "previous_path_root",
                         "previous_path_key", "previous_path_value", "launch", "launch2", "licence", "information",
                         "layout" });
    name_ = Get(product, "name");
    if (name_.empty())
        Fail(product.line, "[product] needs a name");
    fullName_ = Get(product, "full_name", name_);
    std::string installPath = Get(product, "install_path", "<ProgramFiles>\\" + name_);

    // Variables first: the runtime's own, then the project's.
    script_.record(1, { "%InstallPath%", installPath });
    script_.record(1, { "%UninstallerFileName%", Get(product, "uninstaller", "uninstall.exe") });
    script_.record(1, { "%ShortcutsGroup%", Get(product, "shortcuts_group", name_) });
    const IniSection& variables = Section("variables");
    for (const auto& k : variables.keys) {
        if (k.name.size() < 3 || k.name.front() != '%' || k.name.back() != '%')
            Fail(k.line, "a variable is written %Name%, not \"" + k.name + "\"");
    }
    for (const auto& k : variables.keys)
        script_.record(1, { Ansi(k.written, k.line), Ansi(k.value, k.line) });   // in the case written

    // Record 9: product and appearance.
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
    record9.push_back((Flag(options, "header_welcome", false) ? 1 : 0) |
                      (Flag(options, "background_title_bar", false) ? 2 : 0));
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
    record9.push_back((layout == "small" ? 0x01 : 0) | (Flag(options, "offer_group_shortcuts", true) ? 0x02 : 0) |
                      (Flag(options, "offer_desktop_shortcuts", true) ? 0x04 : 0) |
                      (Flag(options, "offer_quick_launch_shortcuts", true) ? 0x08 : 0) |
                      (Flag(options, "restart", false) ? 0x10 : 0) |
                      (Flag(options, "create_uninstaller", true) ? 0x20 : 0));
    script_.record(9, record9);
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
    Bytes switches(12, 0);
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
        int slot = file[0] == 'l' ? 2 : 3;
        if (switches[slot] && !Find(product, file))
            Fail(pagesLine, std::string("the ") + file + " page is enabled but [product] names no " + file + " file");
    }
    script_.record(2, switches);
}

void Compiler::CompileTexts()
{
    const IniSection& languages = Section("languages");
    CheckKeys(languages, { "offered", "auto_select" });
    std::string offeredText = Lower(Get(languages, "offered", "english"));
    std::stringstream languageList(offeredText);
    for (std::string language; std::getline(languageList, language, ',');) {
        language = Trim(language);
        auto it = std::find_if(std::begin(kLanguages), std::end(kLanguages), [&](const LanguageInfo& l) {
            return language == l.name || language == std::to_string(l.id);
        });
        if (it == std::end(kLanguages))
            Fail(Find(languages, "offered")->line, "\"" + language + "\" is not a language with texts (english, chinese)");
        offered_.push_back(&*it);
    }
    Bytes record6{ static_cast<uint8_t>(Flag(languages, "auto_select", true) ? 1 : 0) };
    for (const LanguageInfo* l : offered_)
        ScriptWriter::putU16(record6, static_cast<uint16_t>(l->id));
    script_.record(6, record6);

    for (const auto& s : sections_) {
        if (s.name.compare(0, 6, "texts.") != 0)
            continue;
        std::string language = s.name.substr(6);
        auto it = std::find_if(offered_.begin(), offered_.end(), [&](const LanguageInfo* l) {
            return language == l->name || language == std::to_string(l->id);
        });
        if (it == offered_.end())
            Fail(s.line, "[" + s.name + "] is not an offered language");
        for (const auto& k : s.keys) {
            int group = 0, index = 0;
            if (!ParseTextKey(k.name, &group, &index))
                Fail(k.line, "\"" + k.name + "\" is not a text the runtime reads");
            texts_[{ (*it)->id, group, index }] = Unescape(k.value);
            textLines_[{ (*it)->id, group, index }] = k.line;
        }
    }
    for (const LanguageInfo* l : offered_)
        LoadTexts(textsDir_ + "/" + l->textFile, l->id, true);
    for (const auto& [id, value] : texts_) {
        auto [language, group, index] = id;
        std::string t = ReplaceAll(ReplaceAll(value, "{full_name}", fullName_), "{name}", name_);
        script_.record(5, ScriptWriter::textPayload(static_cast<uint16_t>(language), static_cast<uint8_t>(group),
                                                   static_cast<uint8_t>(index), Ansi(t, textLines_[id])));
    }
}

// Records 3 and 4: licence and information, read as they are (plain or RTF).
void Compiler::CompileDocuments()
{
    const IniSection& product = Section("product");
    for (const char* file : { "licence", "information" })
        if (const IniKey* k = Find(product, file)) {
            bool read = false;
            std::string content = ReadText(Resolve(project_.folder, k->value), &read);
            if (!read)
                Fail(k->line, "cannot read the " + std::string(file) + " file \"" + k->value + "\"");
            bool rtf = content.compare(0, 5, "{\\rtf") == 0;
            script_.record(file[0] == 'l' ? 3 : 4, { rtf ? content : Ansi(content, k->line) });
        }
}

// Lists and settings: 10, 15, 16, 7, 17, 8, 13, 11, 12, 14.
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
        script_.record(10, { Csv(s, { "path", "target", "arguments", "working_folder", "icon", "icon_index", "show",
                                     "hotkey" }) + "," + (Flag(s, "shared", false) ? "1" : "0") });
    });
    each("association", [&](const IniSection& s) {
        CheckKeys(s, { "extension", "prog_id", "content_type", "description", "info_tip", "open_command", "icon",
                       "icon_index" });
        std::string extension = Get(s, "extension");
        if (extension.size() < 2 || extension[0] != '.')
            Fail(s.line, "[association] needs an extension with its dot");
        script_.record(15, { Csv(s, { "extension", "prog_id", "content_type", "description", "info_tip",
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
        script_.record(16, record16);
    }
    gradient_ = Find(appearance, "gradient_top") || Find(appearance, "gradient_bottom");
    if (gradient_) {
        Bytes record7;
        ScriptWriter::putU32(record7, Color(appearance, "gradient_top", 0x0000FF, false));
        ScriptWriter::putU32(record7, Color(appearance, "gradient_bottom", 0x000000, false));
        script_.record(7, record7);
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
                           "," + Csv(s, { "color", "shadow", "shadow_color" });
        script_.record(17, { line });
    });
    if (Find(appearance, "decoration_color")) {
        Bytes record8;
        ScriptWriter::putU32(record8, ColorRef(Color(appearance, "decoration_color", 0, false)));
        script_.record(8, record8);
    }
    each("program", [&](const IniSection& s) {
        CheckKeys(s, { "path", "arguments", "working_folder", "moment", "wait", "once", "window" });
        if (Get(s, "path").empty())
            Fail(s.line, "[program] needs a path (or open)");
        std::string line = Csv(s, { "path", "arguments", "working_folder" }) + "," + std::to_string(Moment(s)) +
                           "," + (Flag(s, "wait", true) ? "1" : "0") + "," + (Flag(s, "once", true) ? "1" : "0") +
                           "," + std::to_string(Number(s, "window", 0));
        script_.record(13, { line });
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
        script_.record(11, { std::to_string(rootIt - kRoots.begin()) + "," + Field(s, "key") + "," + Field(s, "name") +
                            "," + std::to_string(kTypes.at(type)) + "," + data });
    });
    each("ini", [&](const IniSection& s) {
        CheckKeys(s, { "file", "section", "key", "value", "append" });
        if (Get(s, "file").empty() || Get(s, "section").empty())
            Fail(s.line, "[ini] needs a file and a section");
        script_.record(12, { Csv(s, { "file", "section", "key", "value" }) + "," + (Flag(s, "append", false) ? "1" : "0") });
    });
    each("dll", [&](const IniSection& s) {
        CheckKeys(s, { "path", "function", "argument1", "argument2", "moment", "once" });
        if (Get(s, "path").empty() || Get(s, "function").empty())
            Fail(s.line, "[dll] needs a path and a function");
        script_.record(14, { Csv(s, { "path", "function", "argument1", "argument2" }) + "," +
                            std::to_string(Moment(s)) + "," + (Flag(s, "once", true) ? "1" : "0") });
    });
}

Project Compiler::Run()
{
    ReadSections();
    CompileBuild();
    CompileProduct();
    CompilePages();
    CompileTexts();
    CompileDocuments();
    CompileLists();
    for (const auto& s : sections_)
        if (s.name == "files")
            CompileFiles(s);
    project_.script = script_.finish();
    return project_;
}

}  // namespace

}  // namespace quillset
