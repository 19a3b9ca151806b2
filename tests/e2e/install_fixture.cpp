// Installations end to end: projects built with the builder library, the
// installer run to its end with its message boxes answered, and readers for
// what the installation left behind.
#include "install_fixture.h"

#include <fstream>
#include <set>
#include <sstream>
#include <shlobj.h>
#include "fixture_path.h"
#include "package_fixture.h"
#include "../../resources/ids.h"

namespace e2e {

namespace {

const char kUninstallRoot[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

void CreateFolders(const std::string& path)
{
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
}

uint64_t Join(const FILETIME& time)
{
    return static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

std::string Hex(const BYTE* data, DWORD size)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (DWORD i = 0; i < size; i++) {
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 15];
    }
    return out;
}

void ExportKey(HKEY root, const std::string& key, const std::string& relative, REGSAM view,
               std::map<std::string, std::string>& out)
{
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS)
        return;
    for (DWORD i = 0;; i++) {
        char name[16384];
        DWORD nameSize = sizeof(name), type = 0, dataSize = 0;
        if (RegEnumValueA(handle, i, name, &nameSize, nullptr, &type, nullptr, &dataSize) != ERROR_SUCCESS)
            break;
        std::vector<BYTE> data(dataSize + 2);
        nameSize = sizeof(name);
        dataSize = static_cast<DWORD>(data.size());
        if (RegEnumValueA(handle, i, name, &nameSize, nullptr, &type, data.data(), &dataSize) != ERROR_SUCCESS)
            break;
        std::string text;
        if (type == REG_SZ || type == REG_EXPAND_SZ)
            text = std::string(reinterpret_cast<char*>(data.data()), strnlen(reinterpret_cast<char*>(data.data()), dataSize));
        else
            text = Hex(data.data(), dataSize);
        out[relative + "|" + name] = std::to_string(type) + ":" + text;
    }
    std::vector<std::string> subkeys;
    for (DWORD i = 0;; i++) {
        char name[256];
        DWORD nameSize = sizeof(name);
        if (RegEnumKeyExA(handle, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        subkeys.push_back(name);
    }
    RegCloseKey(handle);
    for (const std::string& name : subkeys)
        ExportKey(root, key + "\\" + name, relative.empty() ? name : relative + "\\" + name, view, out);
}

void ListInto(const std::string& folder, const std::string& relative, bool hash,
              std::map<std::string, TreeItem>& out)
{
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = data.cFileName;
        if (name == "." || name == "..")
            continue;
        std::string key = relative.empty() ? name : relative + "\\" + name;
        TreeItem item;
        item.folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        item.attributes = data.dwFileAttributes;
        item.write = Join(data.ftLastWriteTime);
        item.size = static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
        if (item.folder)
            ListInto(folder + "\\" + name, key, hash, out);
        else if (hash)
            item.hash = HashFile(folder + "\\" + name);
        out[key] = item;
    } while (FindNextFileA(find, &data));
    FindClose(find);
}

bool ButtonShown(HWND box, int id)
{
    HWND button = GetDlgItem(box, id);
    return button && IsWindowVisible(button);
}

int DefaultAnswer(const SeenBox& box)
{
    return box.yesNo ? IDNO : box.okCancel ? IDCANCEL : IDOK;
}

}  // namespace

InstallProject::InstallProject(const std::string& name)
    : folder(FreshFolder("install-" + name)), product("QS " + name), installPath(folder + "\\installed")
{
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, UninstallKey());
}

InstallProject::~InstallProject()
{
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, UninstallKey());
}

std::string InstallProject::Source(const std::string& relative, const std::string& bytes) const
{
    std::string path = folder + "\\" + relative;
    CreateFolders(path);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    WriteFileBytes(path, bytes.data(), bytes.size());
    return path;
}

std::string InstallProject::ProjectText() const
{
    return "[product]\nname=" + product + "\nfull_name=" + product + " 1.0\ninstall_path=" + installPath +
           "\nuninstaller=uninstall.exe\n" + productExtra + "\n[options]\ncreate_uninstaller=" + (createUninstaller ? "yes" : "no") +
           "\n\n[pages]\nenabled=" + pages + "\n\n[languages]\noffered=english\n\n" + sections + "\n";
}

bool InstallProject::Compile(quillset::Project* compiled, std::string* error) const
{
    std::string projectPath = folder + "\\project.qset", text = ProjectText();
    std::string problem;
    if (!WriteFileBytes(projectPath, text.data(), text.size())) {
        problem = "cannot write " + projectPath;
    } else {
        try {
            *compiled = quillset::LoadProject(projectPath, WindowsPath(QUILLSET_SOURCE_TEXTS));
            if (edit)
                edit(*compiled);
        } catch (const quillset::BuildError& e) {
            problem = e.where();
        } catch (const std::exception& e) {
            problem = e.what();
        }
    }
    if (error)
        *error = problem;
    return problem.empty();
}

std::string InstallProject::Build(std::string* error) const
{
    quillset::Project compiled;
    if (!Compile(&compiled, error))
        return "";
    std::string output = folder + "\\setup.exe", problem;
    try {
        quillset::BuildStats stats;
        DeleteFileA(output.c_str());
        quillset::WritePackageFile(runtime.empty() ? RuntimeImage() : runtime, compiled, output, &stats);
    } catch (const quillset::BuildError& e) {
        problem = e.where();
    } catch (const std::exception& e) {
        problem = e.what();
    }
    if (error)
        *error = problem;
    return problem.empty() ? output : "";
}

std::string InstallProject::UninstallKey() const
{
    return kUninstallRoot + product;
}

std::string InstallProject::DefaultText(const std::string& group, int index) const
{
    std::ifstream in(WindowsPath(QUILLSET_SOURCE_TEXTS) + "\\english.txt");
    std::string line, section, wanted = std::to_string(index) + "=";
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] == '[') {
            section = line.substr(1, line.find(']') - 1);
            continue;
        }
        if (section != group || line.compare(0, wanted.size(), wanted) != 0)
            continue;
        std::string out, value = line.substr(wanted.size());
        for (size_t i = 0; i < value.size(); i++) {
            if (value[i] == '\\' && i + 1 < value.size() && (value[i + 1] == 'n' || value[i + 1] == 't')) {
                out += value[++i] == 'n' ? '\n' : '\t';
            } else if (value.compare(i, 11, "{full_name}") == 0) {
                out += product + " 1.0";
                i += 10;
            } else if (value.compare(i, 6, "{name}") == 0) {
                out += product;
                i += 5;
            } else {
                out += value[i];
            }
        }
        return out;
    }
    return "";
}

std::string Format(const std::string& pattern, const std::vector<std::string>& args)
{
    std::string out;
    size_t next = 0;
    for (size_t i = 0; i < pattern.size(); i++) {
        if (pattern.compare(i, 2, "%s") == 0 && next < args.size()) {
            out += args[next++];
            i++;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

InstallRun RunInstaller(const std::string& package, const RunOptions& options)
{
    InstallRun run;
    Process process;
    if (!Start(process, package))
        return run;
    DWORD start = GetTickCount();
    std::set<HWND> answered;
    bool finished = false;
    for (;;) {
        if (WaitForSingleObject(process.info.hProcess, 20) == WAIT_OBJECT_0) {
            run.exitCode = process.WaitForExit(0);
            break;
        }
        if (GetTickCount() - start >= options.timeoutMs) {
            run.exitCode = process.WaitForExit(0);   // terminates it
            break;
        }
        HWND frame = nullptr;
        for (HWND window : VisibleWindows(process)) {
            if (IsMessageBox(window)) {
                if (answered.count(window))
                    continue;
                answered.insert(window);
                SeenBox box;
                box.view = ReadMessageBox(window);
                box.yesNo = ButtonShown(window, IDYES) && ButtonShown(window, IDNO);
                box.okCancel = ButtonShown(window, IDOK) && ButtonShown(window, IDCANCEL);
                box.answer = options.answer ? options.answer(box) : 0;
                if (!box.answer)
                    box.answer = DefaultAnswer(box);
                Click(window, box.answer);
                run.boxes.push_back(box);
            } else if (IsWizardFrame(window)) {
                frame = window;
            }
        }
        if (options.tick)
            options.tick(process, frame);
        if (frame && !finished && ItemText(frame, IDC_CANCEL) == "&Finish" && !HasItem(CurrentPage(frame), IDC_PROGRESS)) {
            run.finishPage = true;
            if (options.clickFinish) {
                Click(frame, IDC_CANCEL);
                finished = true;
            }
        }
    }
    run.milliseconds = GetTickCount() - start;
    return run;
}

HWND CurrentPage(HWND frame)
{
    return frame ? FindWindowExA(frame, nullptr, "#32770", nullptr) : nullptr;
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadText(const std::string& path)
{
    std::vector<unsigned char> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> ReadLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::string text = ReadText(path), line;
    std::istringstream in(text);
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

FileInfo ReadFileInfo(const std::string& path)
{
    FileInfo info;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return info;
    info.exists = true;
    info.attributes = data.dwFileAttributes;
    info.creation = Join(data.ftCreationTime);
    info.access = Join(data.ftLastAccessTime);
    info.write = Join(data.ftLastWriteTime);
    info.size = static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    return info;
}

bool SetFileTimes(const std::string& path, uint64_t writeTime)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    FILETIME time{ static_cast<DWORD>(writeTime), static_cast<DWORD>(writeTime >> 32) };
    bool ok = SetFileTime(file, &time, &time, &time) != 0;
    CloseHandle(file);
    return ok;
}

uint64_t FileTimeOf(int year, int month, int day, int hour, int minute)
{
    SYSTEMTIME system{};
    system.wYear = static_cast<WORD>(year);
    system.wMonth = static_cast<WORD>(month);
    system.wDay = static_cast<WORD>(day);
    system.wHour = static_cast<WORD>(hour);
    system.wMinute = static_cast<WORD>(minute);
    FILETIME time{};
    SystemTimeToFileTime(&system, &time);
    return Join(time);
}

uint64_t HashFile(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    uint64_t hash = 14695981039346656037ull;
    std::vector<unsigned char> buffer(1 << 20);
    DWORD got = 0;
    while (ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got)
        for (DWORD i = 0; i < got; i++)
            hash = (hash ^ buffer[i]) * 1099511628211ull;
    CloseHandle(file);
    return hash;
}

std::map<std::string, TreeItem> ListTree(const std::string& folder, bool hash)
{
    std::map<std::string, TreeItem> out;
    ListInto(folder, "", hash, out);
    return out;
}

std::string Fixture(const std::string& name)
{
    std::vector<unsigned char> bytes = ReadFileBytes(FixturePath(name));
    return std::string(bytes.begin(), bytes.end());
}

std::string SpecialFolder(int csidl)
{
    char path[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, path, csidl, FALSE);
    return path;
}

std::vector<std::string> TempFiles(const std::string& pattern)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((std::string(temp) + pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(data.cFileName);
    while (FindNextFileA(find, &data));
    FindClose(find);
    return names;
}

std::map<std::string, std::string> ExportRegistry(HKEY root, const std::string& key, REGSAM view)
{
    std::map<std::string, std::string> out;
    ExportKey(root, key, "", view, out);
    return out;
}

bool RegistryKeyExists(HKEY root, const std::string& key, REGSAM view)
{
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

std::string RegistryString(HKEY root, const std::string& key, const std::string& name, REGSAM view)
{
    char data[4096] = "";
    DWORD size = sizeof(data) - 1, type = 0;
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS)
        return "";
    LONG result = RegQueryValueExA(handle, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(handle);
    return result == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ) ? std::string(data) : "";
}

int64_t RegistryDword(HKEY root, const std::string& key, const std::string& name, REGSAM view)
{
    DWORD data = 0, size = sizeof(data), type = 0;
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS)
        return -1;
    LONG result = RegQueryValueExA(handle, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    RegCloseKey(handle);
    return result == ERROR_SUCCESS && type == REG_DWORD ? static_cast<int64_t>(data) : -1;
}

void DeleteRegistryTree(HKEY root, const std::string& key, REGSAM view)
{
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_ALL_ACCESS | view, &handle) != ERROR_SUCCESS)
        return;
    RegDeleteTreeA(handle, nullptr);
    RegCloseKey(handle);
    size_t at = key.find_last_of('\\');
    if (at == std::string::npos) {
        RegDeleteKeyExA(root, key.c_str(), view, 0);
        return;
    }
    if (RegOpenKeyExA(root, key.substr(0, at).c_str(), 0, KEY_ALL_ACCESS | view, &handle))
        return;
    RegDeleteKeyExA(handle, key.substr(at + 1).c_str(), view, 0);
    RegCloseKey(handle);
}

}  // namespace e2e
