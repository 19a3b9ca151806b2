// The demo package as quillset-build writes it, started on the runtime of
// this build: it passes the self-check and reaches the wizard silently.
#include <gtest/gtest.h>
#include "package_fixture.h"

namespace {

using namespace e2e;

TEST(Demo, PackageFromTheBuilderReachesTheWizard)
{
    std::string package = QUILLSET_DEMO_PACKAGE;
    for (char& c : package)
        if (c == '/')
            c = '\\';
    ASSERT_NE(GetFileAttributesA(package.c_str()), INVALID_FILE_ATTRIBUTES) << package;
    Process runtime;
    ASSERT_TRUE(Start(runtime, package));
    HWND frame = WaitForWindow(runtime, IsWizardFrame);
    ASSERT_NE(frame, nullptr);
    for (HWND window : VisibleWindows(runtime))
        EXPECT_FALSE(IsMessageBox(window)) << e2e::Text(window);
    Click(frame, IDCANCEL);
    EXPECT_EQ(runtime.WaitForExit(), 0);
}

}  // namespace
