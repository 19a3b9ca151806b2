// The demo package as quillset-build writes it, started on the runtime of
// this build: it passes the self-check and reaches the wizard silently.
#include <gtest/gtest.h>
#include "fixture_path.h"
#include "package_fixture.h"

namespace {

using namespace e2e;

TEST(Demo, PackageFromTheBuilderReachesTheWizard)
{
    std::string package = WindowsPath(QUILLSET_DEMO_PACKAGE);
    ASSERT_NE(GetFileAttributesA(package.c_str()), INVALID_FILE_ATTRIBUTES) << package;
    ExpectSilentWizardThenCancel(package);
}

}  // namespace
