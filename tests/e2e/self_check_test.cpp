// The package self-check end to end: damage anywhere from offset 40 on is
// reported with one message and nothing else happens; the bytes before the
// checked range and a cleared package offset are not checked at all.
#include <gtest/gtest.h>
#include "package_fixture.h"

namespace {

using namespace e2e;

uint32_t U32(const quillset::Bytes& b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

struct Regions {
    size_t dosHeader, peHeader, image, packageHeader, fileData, scriptBlock, lastByte;
};

class SelfCheck : public testing::Test {
protected:
    void SetUp() override
    {
        folder_ = FreshFolder(testing::UnitTest::GetInstance()->current_test_info()->name());
        quillset::GroupPlan group;
        group.group.destination = "%InstallPath%";
        group.files.push_back(quillset::FileSource(folder_ + "\\readme.txt", "readme.txt", std::string(3000, 'q')));
        ASSERT_FALSE(WriteInstaller(folder_, "pristine.exe", MinimalScript(), { group }, &package_).empty());
        size_t p = quillset::PackageOffsetOf(package_);
        size_t scriptStart = p + U32(package_, p + 4);
        regions_ = { 45, U32(package_, 0x3C) + 8, p - 1, p + 8, p + 12 + 40, scriptStart + 6, package_.size() - 1 };
    }

    std::string Variant(const std::string& name, size_t at, uint8_t mask)
    {
        auto bytes = package_;
        bytes[at] ^= mask;
        std::string path = folder_ + "\\" + name;
        EXPECT_TRUE(WriteFileBytes(path, bytes.data(), bytes.size()));
        return path;
    }

    std::string folder_;
    quillset::Bytes package_;
    Regions regions_{};
};

TEST_F(SelfCheck, DamageInEveryRegionShowsTheOneMessageAndExitsZero)
{
    const size_t offsets[] = { regions_.dosHeader, regions_.peHeader, regions_.image, regions_.packageHeader,
                               regions_.fileData, regions_.scriptBlock, regions_.lastByte };
    for (size_t at : offsets) {
        SCOPED_TRACE("damaged byte at " + std::to_string(at));
        Process runtime;
        ASSERT_TRUE(Start(runtime, Variant("damaged.exe", at, 0x01)));
        HWND box = WaitForWindow(runtime, IsMessageBox);
        ASSERT_NE(box, nullptr);
        MessageBoxView view = ReadMessageBox(box);
        EXPECT_EQ(view.caption, "Quillset");
        EXPECT_EQ(view.text, kDamagedMessage);
        EXPECT_EQ(view.icon, IconKind::Error);
        EXPECT_EQ(VisibleWindows(runtime).size(), 1u);
        Click(box, IDOK);
        EXPECT_EQ(runtime.WaitForExit(), 0);
    }
}

// The checksum covers neither word of the package offset: one pointing
// beyond the end of the file is damage all the same.
TEST_F(SelfCheck, PackageOffsetBeyondTheFileShowsTheOneMessage)
{
    ExpectDamagedPackage(Variant("beyond.exe", DOS_PACKAGE_OFFSET_HIGH + 1, 0x40));
}

TEST_F(SelfCheck, IntactPackageReachesTheWizard)
{
    Process runtime;
    ASSERT_TRUE(Start(runtime, folder_ + "\\pristine.exe"));
    HWND frame = WaitForWindow(runtime, IsWizardFrame);
    ASSERT_NE(frame, nullptr);
    CancelWizard(runtime, frame);
    EXPECT_EQ(runtime.WaitForExit(), 0);
}

TEST_F(SelfCheck, BytesBeforeTheCheckedRangeDoNotCount)
{
    for (size_t at : { size_t(0x02), size_t(0x08), size_t(0x11) }) {
        SCOPED_TRACE("changed byte at " + std::to_string(at));
        Process runtime;
        ASSERT_TRUE(Start(runtime, Variant("header.exe", at, 0x40)));
        HWND frame = WaitForWindow(runtime, IsWizardFrame);
        ASSERT_NE(frame, nullptr);
        CancelWizard(runtime, frame);
        EXPECT_EQ(runtime.WaitForExit(), 0);
    }
}

// A 0 low word is the uninstaller whatever the high word holds.
TEST_F(SelfCheck, ClearedPackageOffsetStartsTheUninstallerWithoutChecking)
{
    auto bytes = package_;
    bytes[DOS_PACKAGE_OFFSET_LOW] = bytes[DOS_PACKAGE_OFFSET_LOW + 1] = 0;
    bytes[DOS_PACKAGE_OFFSET_HIGH] = 1;
    bytes[regions_.scriptBlock] ^= 0xFF;   // would fail the checksum if it were computed
    std::string path = folder_ + "\\uninstaller.exe";
    ASSERT_TRUE(WriteFileBytes(path, bytes.data(), bytes.size()));
    Process runtime;
    ASSERT_TRUE(Start(runtime, path));
    // No checksum message: the one message says that the uninstaller has no
    // log beside it to remove a product with.
    HWND box = WaitForWindow(runtime, IsMessageBox);
    ASSERT_NE(box, nullptr);
    MessageBoxView view = ReadMessageBox(box);
    EXPECT_EQ(view.caption, "Quillset");
    EXPECT_EQ(view.text, "安装日志 " + folder_ + "\\uninstaller.log 丢失或已损坏，无法卸载。");
    Click(box, IDOK);
    EXPECT_EQ(runtime.WaitForExit(), 0);
}

}  // namespace
