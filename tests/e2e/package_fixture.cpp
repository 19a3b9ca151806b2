// Package fixtures shared by the end-to-end tests.
#include "package_fixture.h"

#include <gtest/gtest.h>
#include "fixture_path.h"

namespace e2e {

const std::string& RuntimePath()
{
    static const std::string path = WindowsPath(QUILLSET_RUNTIME);
    return path;
}

quillset::Bytes RuntimeImage()
{
    return ReadFileBytes(RuntimePath());
}

quillset::Bytes MinimalScript()
{
    quillset::ScriptWriter script;
    script.record(RECORD_VARIABLE, { "%InstallPath%", "C:\\Program Files\\Demo" });
    // The welcome and finish pages.
    script.record(RECORD_PAGE_SWITCHES, quillset::Bytes{ 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1 });
    return script.finish();
}

quillset::Bytes ProductPayload(const std::string& name, const std::string& fullName)
{
    using quillset::ScriptWriter;
    quillset::Bytes product;
    for (const std::string& field : { name, fullName, std::string() })
        ScriptWriter::putString(product, field);
    for (uint32_t color : { 0x01000000u, 0x02000000u })
        ScriptWriter::putU32(product, color);
    ScriptWriter::putString(product, "Tahoma,0x000080");
    ScriptWriter::putU32(product, 0x00FFFFFF);
    product.push_back(0);
    for (const char* field : { "HKLM,Software\\Demo,Path", "", "" })
        ScriptWriter::putString(product, field);
    product.push_back(0x20);
    return product;
}

std::string WriteInstaller(const std::string& folder, const std::string& name, const quillset::Bytes& script,
                           const std::vector<quillset::GroupPlan>& groups, quillset::Bytes* bytes)
{
    std::string path = folder + "\\" + name;
    try {
        quillset::Bytes package = quillset::WritePackageOf(RuntimeImage(), script, groups, path);
        if (bytes)
            *bytes = package;
    } catch (const quillset::BuildError&) {
        return "";
    }
    return path;
}

bool IsWizardFrame(HWND window)
{
    char name[16] = "";
    GetClassNameA(window, name, sizeof(name));
    return lstrcmpA(name, "#32770") == 0 && GetDlgItem(window, 1011) != nullptr;
}

void CancelWizard(const Process& runtime, HWND frame)
{
    Click(frame, IDCANCEL);
    HWND question = WaitForWindow(runtime, IsMessageBox);
    if (question)
        Click(question, IDYES);
}

const char kDamagedMessage[] = "\xB0\xB2\xD7\xB0\xCE\xC4\xBC\xFE\xD2\xD1\xCB\xF0\xBB\xB5\xA3\xAC"
                               "\xCE\xDE\xB7\xA8\xBC\xCC\xD0\xF8\xB0\xB2\xD7\xB0\xA3\xA1";  // 安装文件已损坏，无法继续安装！

void ExpectDamagedPackage(const std::string& path)
{
    Process runtime;
    ASSERT_TRUE(Start(runtime, path));
    HWND box = WaitForWindow(runtime, IsMessageBox);
    ASSERT_NE(box, nullptr);
    MessageBoxView view = ReadMessageBox(box);
    EXPECT_EQ(view.caption, "Quillset");
    EXPECT_EQ(view.text, kDamagedMessage);
    Click(box, IDOK);
    EXPECT_EQ(runtime.WaitForExit(), 0);
}

void ExpectSilentWizardThenCancel(const std::string& path)
{
    Process runtime;
    ASSERT_TRUE(Start(runtime, path));
    HWND frame = WaitForWindow(runtime, IsWizardFrame);
    ASSERT_NE(frame, nullptr);
    for (HWND window : VisibleWindows(runtime))
        EXPECT_FALSE(IsMessageBox(window)) << Text(window);
    CancelWizard(runtime, frame);
    EXPECT_EQ(runtime.WaitForExit(), 0);
}

}  // namespace e2e
