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
    s.record(9, ProductPayload("Demo", "Demo 1.0"));
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
    ExpectSilentWizardThenCancel(path);
}

}  // namespace
