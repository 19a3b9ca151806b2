// Signed packages end to end: a package the builder wrote, signed with
// osslsigncode and a self-signed certificate made by openssl on the Unix
// side, verifies, passes the self-check, installs and leaves an uninstaller
// that starts; damage outside the certificate table is still found.
#include <gtest/gtest.h>
#include <cstdlib>
#include <memory>
#include "install_fixture.h"
#include "package_fixture.h"

using namespace e2e;

namespace {

uint32_t U32(const quillset::Bytes& b, size_t at)
{
    return ReadU32(&b[at]);
}

void Put32(quillset::Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Runs the shell commands SCRIPT in FOLDER on the Unix side: their exit
// status, or -1 when they could not start or did not end in time. Wine starts
// Unix programs but hands back no process to wait for, so the commands write
// their status last and the test waits for that file.
int RunUnix(const std::string& folder, const std::string& script, std::string* log)
{
    const std::string status = folder + "\\unix.status";
    DeleteFileA(status.c_str());
    if (!WriteFileBytes(folder + "\\unix.sh", script.data(), script.size()))
        return -1;
    char command[] = "Z:\\bin\\sh -c \"timeout 100 sh unix.sh > unix.log 2>&1; echo $? > unix.part; "
                     "mv unix.part unix.status\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup, &info))
        return -1;
    for (HANDLE h : { info.hProcess, info.hThread })
        if (h)
            CloseHandle(h);
    for (int waited = 0; waited < 1200; waited++) {
        std::vector<unsigned char> text = ReadFileBytes(status);
        if (!text.empty()) {
            std::vector<unsigned char> output = ReadFileBytes(folder + "\\unix.log");
            log->assign(output.begin(), output.end());
            return std::atoi(std::string(text.begin(), text.end()).c_str());
        }
        Sleep(100);
    }
    return -1;
}

const char kSignScript[] =
    "command -v osslsigncode >/dev/null && command -v openssl >/dev/null || exit 77\n"
    "set -e\n"
    "openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \\\n"
    "    -subj /CN=QuillsetSigningTest -addext extendedKeyUsage=codeSigning\n"
    "sign() { osslsigncode sign -certs cert.pem -key key.pem -h sha256 -n 'QS Signing' \"$@\"; }\n"
    "sign -in setup.exe -out signed.exe\n"
    "osslsigncode verify -CAfile cert.pem -in signed.exe\n"
    "sign -nest -in signed.exe -out nested.exe\n"
    "osslsigncode verify -CAfile cert.pem -in nested.exe\n"
    "osslsigncode remove-signature -in signed.exe -out removed.exe\n";

// One product built and signed for every test: signed.exe, nested.exe (a
// second signature nested in the first) and removed.exe (signed, then the
// signature removed) beside the builder's setup.exe.
class Signing : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        project_.reset(new InstallProject("Signing"));
        project_->Source("src\\app.txt", std::string(2000, 'a'));
        project_->sections = "[files]\nsource=src\\app.txt\n";
        std::string error;
        if (project_->Build(&error).empty()) {
            status_ = "the package was not built: " + error;
            return;
        }
        std::string log;
        int rc = RunUnix(project_->folder, kSignScript, &log);
        if (rc == 77)
            skip_ = "osslsigncode or openssl is not installed (Debian packages osslsigncode, openssl)";
        else if (rc == -1)
            skip_ = "Wine did not run /bin/sh, or it did not end in time";
        else if (rc != 0)
            status_ = "signing or verifying failed (" + std::to_string(rc) + "):\n" + log;
    }
    static void TearDownTestSuite() { project_.reset(); }

    void SetUp() override
    {
        if (!skip_.empty())
            GTEST_SKIP() << skip_;
        ASSERT_EQ(status_, "");
        signed_ = ReadFileBytes(Path("signed.exe"));
        ASSERT_GT(signed_.size(), 256u);
        const uint32_t peAt = U32(signed_, DOS_PE_HEADER);
        security_ = peAt + SecurityEntryOffset(&signed_[peAt]);
        checksum_ = peAt + PE_CHECKSUM;
        tableAt_ = U32(signed_, security_);
        ASSERT_GT(tableAt_, 0u);
        ASSERT_EQ(tableAt_ + U32(signed_, security_ + 4), signed_.size());
    }

    static std::string Path(const std::string& name) { return project_->folder + "\\" + name; }
    std::string Write(const std::string& name, const quillset::Bytes& bytes)
    {
        EXPECT_TRUE(WriteFileBytes(Path(name), bytes.data(), bytes.size()));
        return Path(name);
    }

    static std::unique_ptr<InstallProject> project_;
    static std::string skip_, status_;
    quillset::Bytes signed_;
    uint32_t security_ = 0, checksum_ = 0, tableAt_ = 0;
};

std::unique_ptr<InstallProject> Signing::project_;
std::string Signing::skip_, Signing::status_;

TEST_F(Signing, SignedPackageInstallsAndItsUninstallerStarts)
{
    InstallRun run = RunInstaller(Path("signed.exe"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.boxes.empty()) << run.boxes.front().view.text;
    EXPECT_EQ(ReadText(project_->installPath + "\\app.txt"), std::string(2000, 'a'));
    // The uninstaller finds its log: its first question is the confirmation.
    Process uninstaller;
    ASSERT_TRUE(Start(uninstaller, project_->UninstallerPath()));
    HWND box = WaitForWindow(uninstaller, IsMessageBox);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ReadMessageBox(box).text.find("丢失或已损坏"), std::string::npos) << ReadMessageBox(box).text;
    EXPECT_TRUE(HasItem(box, IDNO));
    Click(box, IDNO);
    EXPECT_EQ(uninstaller.WaitForExit(), 0);
}

TEST_F(Signing, ChangesOutsideTheTableAndTablesOutOfPlaceAreDamage)
{
    const size_t p = quillset::PackageOffsetOf(signed_);
    const size_t script = p + U32(signed_, p + 4);
    struct Flip {
        const char* what;
        size_t at;
    } flips[] = { // The image's last byte, padding: a flip in its code might run after the check.
                  { "the image", p - 1 },
                  { "the package header", p + 8 },
                  { "the file data", p + 12 + 40 },
                  { "the script block", script + 6 },
                  { "the last byte before the table", tableAt_ - 1 } };
    for (const Flip& flip : flips) {
        SCOPED_TRACE(flip.what);
        quillset::Bytes bytes = signed_;
        bytes[flip.at] ^= 0x01;
        ExpectDamagedPackage(Write("damaged.exe", bytes));
    }
    {
        SCOPED_TRACE("a byte appended after the table");
        quillset::Bytes bytes = signed_;
        bytes.push_back(0);
        ExpectDamagedPackage(Write("appended.exe", bytes));
    }
    {
        SCOPED_TRACE("a table that does not end the file");
        quillset::Bytes bytes = signed_;
        Put32(bytes, security_ + 4, U32(bytes, security_ + 4) - 8);
        ExpectDamagedPackage(Write("short-table.exe", bytes));
    }
    {
        SCOPED_TRACE("a table that starts before the script block");
        quillset::Bytes bytes = ReadFileBytes(Path("setup.exe"));
        Put32(bytes, security_, static_cast<uint32_t>(p + 4));
        Put32(bytes, security_ + 4, static_cast<uint32_t>(bytes.size() - p - 4));
        ExpectDamagedPackage(Write("early-table.exe", bytes));
    }
}

// Signing again, nested, or removing the signature leaves a valid package;
// the CheckSum is no part of the check, as it is none of the signature's.
TEST_F(Signing, NestedRemovedAndRechecksummedSignaturesPass)
{
    quillset::Bytes bytes = signed_;
    Put32(bytes, checksum_, U32(bytes, checksum_) + 1);
    for (const std::string& path : { Path("nested.exe"), Path("removed.exe"), Write("checksum.exe", bytes) }) {
        SCOPED_TRACE(path);
        InstallRun run = RunInstaller(path);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(run.boxes.empty()) << run.boxes.front().view.text;
    }
}

}  // namespace
