// The runtime image's manifest as the system reads it (DPI-aware, so that
// Windows does not stretch its windows as bitmaps on a high-DPI screen), and
// the wizard at a raised screen resolution, grown by its dialog units.
#include <gtest/gtest.h>
#include "package_fixture.h"

namespace {

using namespace e2e;

#ifdef _WIN64
const char kArchitecture[] = "processorArchitecture=\"amd64\"";
#else
const char kArchitecture[] = "processorArchitecture=\"x86\"";
#endif

std::string ManifestText(const std::string& image)
{
    std::string text;
    HMODULE module = LoadLibraryExA(image.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return text;
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    if (found)
        text.assign(static_cast<const char*>(LockResource(LoadResource(module, found))), SizeofResource(module, found));
    FreeLibrary(module);
    return text;
}

TEST(Manifest, DeclaresDpiAwarenessAndTheThemedCommonControls)
{
    std::string text = ManifestText(RuntimePath());
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.find(std::string("<assemblyIdentity type=\"win32\" name=\"Brannock_Software.Quillset\" "
                                    "version=\"1.0.0.0\" ") + kArchitecture),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("<description>Setup tool for developers.</description>"), std::string::npos);
    EXPECT_NE(text.find(std::string("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" ") + kArchitecture),
              std::string::npos);

    // The system's own reading: a context for this image's architecture, in
    // which the 2005 windows settings say "true" for dpiAware.
    ACTCTXA request{};
    request.cbSize = sizeof(request);
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = RuntimePath().c_str();
    request.lpResourceName = MAKEINTRESOURCEA(1);
    HANDLE context = CreateActCtxA(&request);
    ASSERT_NE(context, INVALID_HANDLE_VALUE) << GetLastError();
    WCHAR value[16] = L"";
    SIZE_T written = 0;
    EXPECT_TRUE(QueryActCtxSettingsW(0, context, nullptr, L"dpiAware", value, 16, &written)) << GetLastError();
    EXPECT_STREQ(value, L"true");
    ReleaseActCtx(context);
}

// The screen resolution Wine reports to the programs started from now on,
// restored at the end of scope.
struct ScreenDpi {
    const char* key = "Control Panel\\Desktop";
    DWORD previous = 0, size = sizeof(previous);
    bool had;
    explicit ScreenDpi(DWORD dpi)
    {
        had = RegGetValueA(HKEY_CURRENT_USER, key, "LogPixels", RRF_RT_REG_DWORD, nullptr, &previous, &size) == 0;
        RegSetKeyValueA(HKEY_CURRENT_USER, key, "LogPixels", REG_DWORD, &dpi, sizeof(dpi));
    }
    ~ScreenDpi()
    {
        if (had)
            RegSetKeyValueA(HKEY_CURRENT_USER, key, "LogPixels", REG_DWORD, &previous, sizeof(previous));
        else
            RegDeleteKeyValueA(HKEY_CURRENT_USER, key, "LogPixels");
    }
};

SIZE WizardClientSize(DWORD dpi)
{
    ScreenDpi screen(dpi);
    std::string folder = FreshFolder("Dpi" + std::to_string(dpi));
    std::string path = WriteInstaller(folder, "dpi.exe", MinimalScript());
    SIZE size{};
    Process runtime;
    if (path.empty() || !Start(runtime, path))
        return size;
    HWND frame = WaitForWindow(runtime, IsWizardFrame);
    if (frame) {
        RECT client;
        GetClientRect(frame, &client);
        size = { client.right, client.bottom };
        CancelWizard(runtime, frame);
    }
    EXPECT_EQ(runtime.WaitForExit(), 0);
    return size;
}

TEST(Manifest, WizardGrowsWithTheScreenResolution)
{
    // Client sizes in physical pixels, whatever this test's own awareness.
    SetProcessDPIAware();
    SIZE normal = WizardClientSize(96);
    SIZE large = WizardClientSize(144);
    ASSERT_GT(normal.cx, 0);
    ASSERT_GT(large.cx, 0);
    // 1.5 times the pixels, give or take the rounding of the dialog font's
    // measures at each size.
    EXPECT_GT(large.cx * 100 / normal.cx, 130) << normal.cx << " at 96 DPI, " << large.cx << " at 144";
    EXPECT_LT(large.cx * 100 / normal.cx, 190) << normal.cx << " at 96 DPI, " << large.cx << " at 144";
    EXPECT_GT(large.cy * 100 / normal.cy, 130) << normal.cy << " at 96 DPI, " << large.cy << " at 144";
    EXPECT_LT(large.cy * 100 / normal.cy, 190) << normal.cy << " at 96 DPI, " << large.cy << " at 144";
}

}  // namespace
