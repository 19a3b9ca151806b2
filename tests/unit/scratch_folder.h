// Folders for unit tests: the temporary folder, and a fresh folder that is
// removed with everything below it when the test ends.
#pragma once
#include <windows.h>
#include <shellapi.h>
#include <string>

inline std::string TempFolder()
{
    char path[MAX_PATH];
    GetTempPathA(MAX_PATH, path);
    std::string result = path;
    if (!result.empty() && result.back() == '\\')
        result.pop_back();
    return result;
}

class ScratchFolder {
public:
    explicit ScratchFolder(const char* name, const std::string& parent = TempFolder()) : path_(parent + "\\" + name)
    {
        Remove();
        CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~ScratchFolder() { Remove(); }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    void Remove() const
    {
        std::string from = path_ + '\0';
        SHFILEOPSTRUCTA op = {};
        op.wFunc = FO_DELETE;
        op.pFrom = from.c_str();
        op.fFlags = FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
        SHFileOperationA(&op);
    }
    std::string path_;
};
