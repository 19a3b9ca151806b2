// Package fixtures shared by the end-to-end tests.
#include "package_fixture.h"

namespace e2e {

const std::string& RuntimePath()
{
    static std::string path;
    if (path.empty())
        for (const char* c = QUILLSET_RUNTIME; *c; c++)
            path += *c == '/' ? '\\' : *c;
    return path;
}

quillset::Bytes RuntimeImage()
{
    return ReadFileBytes(RuntimePath());
}

quillset::Bytes MinimalScript()
{
    quillset::ScriptWriter script;
    script.record(1, { "%InstallPath%", "C:\\Program Files\\Demo" });
    return script.finish();
}

std::string WriteInstaller(const std::string& folder, const std::string& name, const quillset::Bytes& script,
                           const std::vector<quillset::FileGroup>& groups, quillset::Bytes* bytes)
{
    quillset::Bytes package;
    std::string error;
    if (!quillset::WritePackage(RuntimeImage(), groups, script, &package, &error))
        return "";
    std::string path = folder + "\\" + name;
    if (!WriteFileBytes(path, package.data(), package.size()))
        return "";
    if (bytes)
        *bytes = package;
    return path;
}

bool IsWizardFrame(HWND window)
{
    char name[16] = "";
    GetClassNameA(window, name, sizeof(name));
    return lstrcmpA(name, "#32770") == 0 && GetDlgItem(window, 1011) != nullptr;
}

}  // namespace e2e
