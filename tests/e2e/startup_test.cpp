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
    s.record(RECORD_VARIABLE, { "%InstallPath%", "<ProgramFiles>\\Demo" });
    s.record(RECORD_PRODUCT, ProductPayload("Demo", "Demo 1.0"));
    s.record(RECORD_PAGE_SWITCHES, Bytes{ 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1 });
    Bytes languages{ 0 };
    for (uint16_t id : { 4, 9 })
        ScriptWriter::putU16(languages, id);
    s.record(RECORD_LANGUAGES, languages);
    s.record(RECORD_TEXT, ScriptWriter::textPayload(4, TEXT_GROUP_WIZARD, 0, "确实要退出安装吗？"));
    s.record(RECORD_TEXT, ScriptWriter::textPayload(9, TEXT_GROUP_WIZARD, 0, "Really quit the setup?"));
    s.record(RECORD_TEXT, ScriptWriter::textPayload(4, 1, 1, "欢迎"));
    s.record(RECORD_TEXT, ScriptWriter::textPayload(9, 1, 1, "Welcome"));
    s.record(RECORD_LICENCE_TEXT, { "Licence text" });

    std::string folder = FreshFolder("TwoLanguages");
    std::string path = WriteInstaller(folder, "setup.exe", s.finish());
    ASSERT_FALSE(path.empty());
    ExpectSilentWizardThenCancel(path);
}

}  // namespace
