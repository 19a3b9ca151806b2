// Start-up with a real script: the runtime interprets it and opens the wizard
// without any message on the way.
#include <gtest/gtest.h>
#include "package_fixture.h"

namespace {

using namespace e2e;
using quillset::Bytes;
using quillset::ScriptWriter;

TEST(Startup, ScriptInTwoLanguagesReachesTheWizardSilently)
{
    ScriptWriter s;
    s.record(1, { "%InstallPath%", "<ProgramFiles>\\Demo" });
    Bytes product;
    for (const char* field : { "Demo", "Demo 1.0", "", })
        ScriptWriter::putString(product, field);
    for (uint32_t color : { 0x01000000u, 0x02000000u })
        ScriptWriter::putU32(product, color);
    ScriptWriter::putString(product, "Tahoma,0x000080");
    ScriptWriter::putU32(product, 0x00FFFFFF);
    product.push_back(0);
    for (const char* field : { "HKLM,Software\\Demo,Path", "", "" })
        ScriptWriter::putString(product, field);
    product.push_back(0x20);
    s.record(9, product);
    s.record(2, Bytes{ 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1 });
    Bytes languages{ 0 };
    for (uint16_t id : { 4, 9 })
        ScriptWriter::putU16(languages, id);
    s.record(6, languages);
    s.record(5, ScriptWriter::textPayload(4, 0x60, 0, "确实要退出安装吗？"));
    s.record(5, ScriptWriter::textPayload(9, 0x60, 0, "Really quit the setup?"));
    s.record(5, ScriptWriter::textPayload(4, 1, 1, "欢迎"));
    s.record(5, ScriptWriter::textPayload(9, 1, 1, "Welcome"));
    s.record(3, { "Licence text" });

    std::string folder = FreshFolder("TwoLanguages");
    std::string path = WriteInstaller(folder, "setup.exe", s.finish());
    ASSERT_FALSE(path.empty());
    Process runtime;
    ASSERT_TRUE(Start(runtime, path));
    HWND frame = WaitForWindow(runtime, IsWizardFrame);
    ASSERT_NE(frame, nullptr);
    for (HWND window : VisibleWindows(runtime))
        EXPECT_FALSE(IsMessageBox(window)) << e2e::Text(window);
    Click(frame, IDCANCEL);
    EXPECT_EQ(runtime.WaitForExit(), 0);
}

}  // namespace
