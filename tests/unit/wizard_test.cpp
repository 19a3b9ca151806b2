// The destination page and the background window on Wine: path forms,
// existing parts of a path, free space of drives and shares, the page's
// labels, browsing and the checks on Next; the background window's styles,
// gradient, captions and closing.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>
#include "unit_helpers.h"
#include "wizard/wizard.h"
#include "resources/ids.h"
#include "script/script.h"
#include "startup/startup.h"
#include "run_state_test.h"
#include "dialog_answerer.h"
#include "scratch_folder.h"

namespace {

char MissingDrive()
{
    DWORD drives = GetLogicalDrives();
    for (char letter = 'Q'; letter <= 'Y'; letter++)
        if (!(drives & 1u << (letter - 'A')))
            return letter;
    return 0;
}

// Wine maps \\server\share to the folder dosdevices\unc\server\share of its
// prefix: creating that folder makes a share the tests can reach.
class WineShare {
public:
    WineShare()
    {
        char prefix[MAX_PATH];
        if (!GetEnvironmentVariableA("WINEPREFIX", prefix, MAX_PATH))
            return;
        folder_ = std::string("Z:") + prefix + "/dosdevices/unc/quillset-host/share";
        for (char& c : folder_)
            if (c == '/')
                c = '\\';
        std::vector<char> path(folder_.begin(), folder_.end());
        path.push_back(0);
        CreateMissingFolders(path.data());
        if (!PathExists(folder_.c_str()))
            folder_.clear();
    }
    ~WineShare()
    {
        if (!folder_.empty()) {
            RemoveDirectoryA(folder_.c_str());
            RemoveDirectoryA(folder_.substr(0, folder_.rfind('\\')).c_str());
        }
    }
    bool available() const { return !folder_.empty(); }

private:
    std::string folder_;
};

class Wizard : public RunStateTest {
protected:
    static void SetText(TextTable table, int index, const char* text)
    {
        ListSetAt(table[g_product.languageId], index, text);
    }
};

TEST(DestinationPath, FormsOfAnInstallPath)
{
    const char* valid[] = { "C:", "C:\\", "c:\\Program Files\\Demo", "C:\\a\\", "Z:\\a b\\c.d",
                            "\\\\server\\share", "\\\\server\\share\\folder" };
    for (const char* text : valid)
        EXPECT_TRUE(IsValidInstallPath(text)) << text;
    const char* invalid[] = { "", "C", "1:\\a", "C:Program", "C:\\a\\\\b", "C:\\a:b", "\\\\server",
                              "\\\\server\\", "\\\\server\\\\share", "\\\\\\server\\share", "\\server\\share",
                              "C:/Program", "C:\\a/b", "\\\\server\\share/x", "C:\\a?", "C:\\a*", "C:\\<a>",
                              "C:\\a|b", "\\\\server\\\xB0\xA1", "::" };
    for (const char* text : invalid)
        EXPECT_FALSE(IsValidInstallPath(text)) << text;
}

TEST(DestinationPath, ExistenceKeepsTheSearchError)
{
    ScratchFolder folder("quillset-exists");
    EXPECT_TRUE(PathExists(folder.path().c_str()));
    EXPECT_TRUE(PathExists((folder.path() + "\\").c_str()));
    EXPECT_TRUE(PathExists("C:"));
    EXPECT_TRUE(PathExists("C:\\"));
    EXPECT_TRUE(PathExists("c:\\."));
    SetLastError(0);
    EXPECT_FALSE(PathExists((folder.path() + "\\missing.txt").c_str()));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    SetLastError(0);
    EXPECT_FALSE(PathExists((folder.path() + "\\missing\\deeper").c_str()));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
    char drive[] = "?:";
    drive[0] = MissingDrive();
    SetLastError(0);
    EXPECT_FALSE(PathExists(drive));
    EXPECT_NE(GetLastError(), 0u);
}

// Every drive root exists, also one that holds nothing (R: when the
// small_drive fixture has mounted it), and so does what lies on it.
TEST(DestinationPath, DriveRootsExist)
{
    int drives = 0;
    for (char letter = 'A'; letter <= 'Z'; letter++) {
        std::string drive = std::string(1, letter) + ":";
        DWORD attributes = GetFileAttributesA((drive + "\\").c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        drives++;
        EXPECT_TRUE(PathExists(drive.c_str())) << drive;
        EXPECT_TRUE(PathExists((drive + "\\").c_str())) << drive;
        char* existing = nullptr;
        EXPECT_EQ(FindExistingPart((drive + "\\QuillsetNew\\Sub").c_str(), &existing), 0u) << drive;
        EXPECT_EQ(Take(existing), drive + "\\");
    }
    EXPECT_GE(drives, 2);
}

TEST(DestinationPath, ExistingPartOfAPath)
{
    ScratchFolder folder("quillset-existing");
    char* existing = nullptr;
    EXPECT_EQ(FindExistingPart((folder.path() + "\\New\\Sub").c_str(), &existing), 0u);
    EXPECT_EQ(Take(existing), folder.path());
    EXPECT_EQ(FindExistingPart(folder.path().c_str(), &existing), 0u);
    EXPECT_EQ(Take(existing), folder.path());
    EXPECT_EQ(FindExistingPart("C:\\QuillsetMissing\\Sub", &existing), 0u);
    EXPECT_EQ(Take(existing), "C:\\");
    EXPECT_EQ(FindExistingPart("C:", &existing), 0u);
    EXPECT_EQ(Take(existing), "C:\\");

    std::string missing = std::string(1, MissingDrive()) + ":\\New\\Sub";
    existing = (char*)1;
    DWORD error = FindExistingPart(missing.c_str(), &existing);
    EXPECT_NE(error, 0u);
    EXPECT_NE(error, (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_EQ(existing, nullptr);
}

TEST(DestinationPath, FreeSpaceRootOfDrivesAndShares)
{
    char root[MAX_PATH];
    const char* cases[][2] = {
        { "c:\\Program Files\\Demo", "c:" },
        { "D:", "D:" },
        { "\\\\server\\share\\folder\\sub", "\\\\server\\share\\" },
        { "\\\\server\\share\\", "\\\\server\\share\\" },
        { "\\\\server\\share", "\\\\server\\share\\" },
    };
    for (auto& c : cases) {
        FreeSpaceRoot(c[0], root);
        EXPECT_STREQ(root, c[1]) << c[0];
    }
}

TEST(DestinationPath, FreeSpace)
{
    EXPECT_GT(GetFreeSpace("C:"), 0u);
    EXPECT_GT(GetFreeSpace("c:\\"), 0u);
    char drive[] = "?:";
    drive[0] = MissingDrive();
    EXPECT_EQ(GetFreeSpace(drive), 0u);
    // The root a UNC path's first character would give.
    EXPECT_EQ(GetFreeSpace("\\:"), 0u);
}

TEST(DestinationPath, FreeSpaceText)
{
    char text[16];
    const std::pair<ULONGLONG, const char*> cases[] = {
        { 0, "0 Kb" },
        { 1023, "0 Kb" },
        { 999999ull << 10, "999999 Kb" },
        { (999999ull << 10) + 1023, "999999 Kb" },
        { 1000000ull << 10, "976 Mb" },
        { 5ull << 30, "5120 Mb" },
        // Above 4 TB the kilobytes no longer fit 32 bits.
        { 1ull << 42, "4194304 Mb" },
    };
    for (auto& c : cases) {
        FormatFreeSpace(c.first, text);
        EXPECT_STREQ(text, c.second) << c.first;
    }
}

TEST(DestinationPath, ShareGetsItsFreeSpaceFromItsRoot)
{
    WineShare share;
    if (!share.available())
        GTEST_SKIP() << "no share under Wine's UNC folder";
    EXPECT_TRUE(PathExists("\\\\quillset-host\\share"));
    EXPECT_TRUE(PathExists("\\\\quillset-host\\share\\"));
    char root[MAX_PATH];
    FreeSpaceRoot("\\\\quillset-host\\share\\Demo\\Sub", root);
    EXPECT_GT(GetFreeSpace(root), 0u);
    char* existing = nullptr;
    EXPECT_EQ(FindExistingPart("\\\\quillset-host\\share\\Demo\\Sub", &existing), 0u);
    EXPECT_EQ(Take(existing), "\\\\quillset-host\\share");
}

// A window standing in for the destination page, with the controls the page
// code reads and writes.
class Page {
public:
    Page()
    {
        window = CreateWindowExA(0, "STATIC", "page", WS_POPUP, 0, 0, 400, 300, nullptr, nullptr, nullptr, nullptr);
        CreateWindowExA(0, "EDIT", "", WS_CHILD | ES_AUTOHSCROLL, 10, 10, 300, 20, window,
                        (HMENU)IDC_FOLDER_EDIT, nullptr, nullptr);
        for (int id : { IDC_SPACE_FREE_LABEL, IDC_SPACE_REQUIRED, IDC_SPACE_FREE })
            CreateWindowExA(0, "STATIC", "unchanged", WS_CHILD, 10, id - 1000, 300, 20, window, (HMENU)(INT_PTR)id,
                            nullptr, nullptr);
        g_wizard.frameWindow = window;
    }
    ~Page() { DestroyWindow(window); }
    std::string Text(int id) const
    {
        char text[1024] = "";
        GetDlgItemTextA(window, id, text, sizeof(text));
        return text;
    }
    void SetFolder(const std::string& text) const { SetDlgItemTextA(window, IDC_FOLDER_EDIT, text.c_str()); }
    HWND window;
};


class DestinationPage : public Wizard {
protected:
    void SetUp() override
    {
        Wizard::SetUp();
        SetText(g_pages[6].texts, 4, "Choose a folder");
        SetText(g_pages[6].texts, 6, "Space on %disk%:");
        SetText(g_product.textsWizard, 2, "invalid form");
        SetText(g_product.textsMessages, 31, "nothing exists");
        SetText(g_product.textsMessages, 34, "access denied");
        SetText(g_product.textsMessages, 39, "not enough space");
        g_product.captionText = DupString("Demo 设置 ", 0);
    }
};

TEST_F(DestinationPage, InitialisationShowsFolderAndSpace)
{
    SetVariable("%InstallPath%", "c:\\Program Files\\Demo\\");
    g_package.header.unpackedTotal = (5 << 20) + 1023;
    Page page;
    InitDestinationPage(page.window);
    EXPECT_EQ(page.Text(IDC_FOLDER_EDIT), "c:\\Program Files\\Demo");
    EXPECT_EQ(page.Text(IDC_SPACE_REQUIRED), "5120 Kb");
    EXPECT_EQ(page.Text(IDC_SPACE_FREE_LABEL), "Space on C:");
    std::string free = page.Text(IDC_SPACE_FREE);
    EXPECT_TRUE(free.size() > 3 && (free.substr(free.size() - 3) == " Mb" || free.substr(free.size() - 3) == " Kb"))
        << free;
    EXPECT_NE(free[0], '0') << free;
}

TEST_F(DestinationPage, TypingUpdatesTheLabelsOnlyForAnExistingDriveOrShare)
{
    Page page;
    page.SetFolder("z:\\tmp\\Demo");
    OnDestinationEdited(page.window);
    EXPECT_EQ(page.Text(IDC_SPACE_FREE_LABEL), "Space on Z:");
    std::string free = page.Text(IDC_SPACE_FREE);
    EXPECT_NE(free, "unchanged");

    for (std::string text : { std::string("1:\\Demo"), std::string("Demo"), std::string(1, MissingDrive()) + ":\\x",
                              std::string("\\\\no-such-host") }) {
        page.SetFolder(text);
        OnDestinationEdited(page.window);
        EXPECT_EQ(page.Text(IDC_SPACE_FREE_LABEL), "Space on Z:") << text;
        EXPECT_EQ(page.Text(IDC_SPACE_FREE), free) << text;
    }

    WineShare share;
    if (!share.available())
        GTEST_SKIP() << "no share under Wine's UNC folder";
    page.SetFolder("\\\\quillset-host\\share\\Demo");
    OnDestinationEdited(page.window);
    EXPECT_EQ(page.Text(IDC_SPACE_FREE_LABEL), "Space on \\\\quillset-host\\share\\:");
    EXPECT_NE(page.Text(IDC_SPACE_FREE).substr(0, 2), "0 ");
}

TEST_F(DestinationPage, NextChecksFormExistenceAndSpace)
{
    ScratchFolder folder("quillset-validate");
    Page page;
    DialogAnswerer answers;

    page.SetFolder("C:Program");
    EXPECT_FALSE(ValidateDestination(page.window, page.window));
    page.SetFolder(std::string(1, MissingDrive()) + ":\\Demo");
    EXPECT_FALSE(ValidateDestination(page.window, page.window));
    g_package.header.unpackedTotal = 1000;
    page.SetFolder(folder.path() + "\\New\\Sub");
    EXPECT_TRUE(ValidateDestination(page.window, page.window));
    page.SetFolder(folder.path());
    EXPECT_TRUE(ValidateDestination(page.window, page.window));
    EXPECT_EQ(answers.texts, (std::vector<std::string>{ "invalid form", "nothing exists" }));
    EXPECT_EQ(answers.captions, (std::vector<std::string>{ "Demo 设置 ", "Demo 设置 " }));
    // The page keeps the text; the folder is created later by the worker.
    EXPECT_EQ(page.Text(IDC_FOLDER_EDIT), folder.path());
    EXPECT_FALSE(PathExists((folder.path() + "\\New").c_str()));
}

TEST_F(DestinationPage, NextAcceptsAShareWithEnoughSpace)
{
    WineShare share;
    if (!share.available())
        GTEST_SKIP() << "no share under Wine's UNC folder";
    Page page;
    DialogAnswerer answers;
    g_package.header.unpackedTotal = 1 << 20;
    page.SetFolder("\\\\quillset-host\\share\\Demo");
    EXPECT_TRUE(ValidateDestination(page.window, page.window));
    g_package.header.unpackedTotal = 0;
    page.SetFolder("\\\\quillset-host\\missing\\Demo");
    EXPECT_FALSE(ValidateDestination(page.window, page.window));
    EXPECT_EQ(answers.texts, (std::vector<std::string>{ "nothing exists" }));
}

// The browser opens at the existing part of the typed folder; the product's
// folder name is appended to the chosen folder unless it ends with it.
TEST_F(DestinationPage, BrowseAppendsTheProductFolder)
{
    // Wine's folder browser cannot preselect a folder inside the temporary folder.
    ScratchFolder folder("quillset-browse", "C:");
    CreateDirectoryA((folder.path() + "\\Demo").c_str(), nullptr);
    SetVariable("%InstallPath%", "C:\\Program Files\\Demo");
    Page page;
    DialogAnswerer answers;

    page.SetFolder(folder.path() + "\\Missing\\Sub");
    OnBrowse(page.window);
    EXPECT_EQ(page.Text(IDC_FOLDER_EDIT), folder.path() + "\\Demo");
    OnBrowse(page.window);
    EXPECT_EQ(page.Text(IDC_FOLDER_EDIT), folder.path() + "\\Demo");
    EXPECT_EQ(answers.captions.size(), 2u);
}

// The background window, over a stand-in for the wizard frame that records
// the commands it receives.
std::vector<WPARAM> g_frameCommands;

LRESULT CALLBACK StandInFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND)
        g_frameCommands.push_back(wParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

struct Pixels {
    int width, height;
    std::vector<DWORD> data;   // 0x00RRGGBB, top row first
    DWORD at(int x, int y) const { return data[y * width + x]; }
    // The smallest rectangle holding every pixel of COLOR (right and bottom
    // exclusive); empty when there is none.
    RECT Bounds(DWORD color) const
    {
        RECT r = { width, height, 0, 0 };
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++)
                if (at(x, y) == color) {
                    r.left = std::min<LONG>(r.left, x);
                    r.top = std::min<LONG>(r.top, y);
                    r.right = std::max<LONG>(r.right, x + 1);
                    r.bottom = std::max<LONG>(r.bottom, y + 1);
                }
        return r;
    }
    // For looking at: a 32-bit BMP file.
    void Save(const char* path) const
    {
        BITMAPFILEHEADER file = {};
        BITMAPINFOHEADER info = { sizeof(info), width, -height, 1, 32, BI_RGB };
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof(file) + sizeof(info);
        file.bfSize = file.bfOffBits + (DWORD)data.size() * 4;
        FILE* out = fopen(path, "wb");
        if (!out)
            return;
        fwrite(&file, sizeof(file), 1, out);
        fwrite(&info, sizeof(info), 1, out);
        fwrite(data.data(), 4, data.size(), out);
        fclose(out);
    }
};

class BackgroundWindow : public Wizard {
protected:
    void SetUp() override
    {
        Wizard::SetUp();
        g_appearance.gradientColors[0] = RGB(0x10, 0x20, 0xF0);
        g_appearance.gradientColors[1] = RGB(0xF0, 0x60, 0x30);
        StartupStep(1);
        WNDCLASSA frameClass = {};
        frameClass.lpfnWndProc = StandInFrameProc;
        frameClass.lpszClassName = "QuillsetStandInFrame";
        RegisterClassA(&frameClass);
        g_wizard.frameWindow = CreateWindowExA(0, "QuillsetStandInFrame", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                            nullptr, nullptr);
        g_frameCommands.clear();
    }
    void TearDown() override
    {
        DestroyWindow(background_);
        DestroyWindow(g_wizard.frameWindow);
        Wizard::TearDown();
    }
    HWND Create()
    {
        background_ = CreateBackgroundWindow();
        return background_;
    }
    void AddCaption(const char* line) { ListAppend(g_workLists[WORK_BACKGROUND_CAPTIONS], line); }
    // Pixels as the ERASE and PAINT messages leave them in the window.
    Pixels Capture(HWND window, bool eraseOnly)
    {
        RECT client;
        GetClientRect(window, &client);
        Pixels pixels = { client.right, client.bottom };
        pixels.data.resize(pixels.width * pixels.height);
        BITMAPINFO info = {};
        info.bmiHeader = { sizeof(BITMAPINFOHEADER), pixels.width, -pixels.height, 1, 32, BI_RGB };
        void* bits;
        HDC screen = GetDC(window);
        HDC memory = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ old = SelectObject(memory, bitmap);
        if (eraseOnly) {
            // A colour the gradient never has: any row left out keeps it.
            HBRUSH sentinel = CreateSolidBrush(RGB(0xFF, 0x00, 0xFF));
            FillRect(memory, &client, sentinel);
            DeleteObject(sentinel);
            EXPECT_EQ(SendMessageA(window, WM_ERASEBKGND, (WPARAM)memory, 0), 1);
        } else {
            RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
            BitBlt(memory, 0, 0, pixels.width, pixels.height, screen, 0, 0, SRCCOPY);
        }
        GdiFlush();
        memcpy(pixels.data.data(), bits, pixels.data.size() * 4);
        for (DWORD& p : pixels.data)
            p &= 0xFFFFFF;
        SelectObject(memory, old);
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(window, screen);
        return pixels;
    }
    HWND background_ = nullptr;
};

TEST_F(BackgroundWindow, CoversTheScreenWithOrWithoutTitleBar)
{
    RECT screen = { 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN) };
    for (BYTE options : { 0, (int)APPEARANCE_BACKGROUND_CAPTION }) {
        g_appearance.appearanceOptions = options;
        HWND window = Create();
        ASSERT_NE(window, nullptr);
        char name[64];
        GetClassNameA(window, name, sizeof(name));
        EXPECT_STREQ(name, "QuillsetBGWindow");
        DWORD style = GetWindowLongA(window, GWL_STYLE);
        DWORD kinds = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME;
        EXPECT_EQ(style & kinds, options ? DWORD(WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX)
                                         : DWORD(WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX))
            << std::hex << style;
        EXPECT_TRUE(IsWindowVisible(window));
        EXPECT_TRUE(IsZoomed(window));
        RECT placed, covered;
        GetWindowRect(window, &placed);
        IntersectRect(&covered, &placed, &screen);
        EXPECT_TRUE(EqualRect(&covered, &screen));
        DestroyWindow(window);
    }
    background_ = nullptr;
}

TEST_F(BackgroundWindow, ClosingCancelsTheWizard)
{
    HWND window = Create();
    EXPECT_EQ(SendMessageA(window, WM_SYSCOMMAND, SC_MOVE, 0), 0);
    EXPECT_EQ(SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0), 0);
    EXPECT_EQ(g_frameCommands, std::vector<WPARAM>{ IDCANCEL });
    EXPECT_TRUE(IsWindow(window));
}

// 200 bands from the first colour to the second cover every row.
TEST_F(BackgroundWindow, GradientBands)
{
    Pixels pixels = Capture(Create(), true);
    ASSERT_GT(pixels.height, 200);
    int x = pixels.width / 2;
    EXPECT_EQ(pixels.at(x, 0), 0x1020F0u);
    EXPECT_EQ(pixels.at(x, pixels.height - 1), 0xF06030u);
    int changes = 0;
    for (int y = 0; y < pixels.height; y++) {
        DWORD p = pixels.at(x, y);
        ASSERT_NE(p, 0xFF00FFu) << "row " << y;
        ASSERT_EQ(p, pixels.at(0, y));
        ASSERT_EQ(p, pixels.at(pixels.width - 1, y));
        if (y) {
            DWORD above = pixels.at(x, y - 1);
            EXPECT_GE(p >> 16, above >> 16);
            EXPECT_LE(p & 0xFF, above & 0xFF);
            changes += p != above;
        }
    }
    EXPECT_EQ(changes, 199);
}

// Two top-aligned captions stack; the shadow lies behind the text at its
// offset; a third caption is not drawn.
TEST_F(BackgroundWindow, CaptionsStackWithShadows)
{
    SetVariable("%Product%", "Quillset Demo");
    AddCaption("\"%Product%, Setup\",left,top,40,30,,36,0,7,0,0,0xFF0000,4,0x000000");
    AddCaption("\"Second line\",left,TOP,40,12,Tahoma,0,0,0,0,0,0x00FF00,0,0");
    AddCaption("\"Never shown\",left,top,0,0,,40,0,7,0,0,0xFFFF00,0,0");
    g_appearance.appearanceOptions = 0;
    Pixels pixels = Capture(Create(), false);
    char* shot = getenv("QUILLSET_BACKGROUND_BMP");
    if (shot)
        pixels.Save(shot);
    RECT text = pixels.Bounds(0xFF0000), shadow = pixels.Bounds(0x000000), second = pixels.Bounds(0x00FF00);
    ASSERT_LT(text.left, text.right);
    EXPECT_GE(text.left, 40);
    EXPECT_LT(text.left, 50);
    EXPECT_GE(text.top, 30);
    EXPECT_LT(text.top, 50);
    EXPECT_EQ(shadow.right - text.right, 4);
    EXPECT_EQ(shadow.bottom - text.bottom, 4);
    ASSERT_LT(second.left, second.right);
    EXPECT_GE(second.top, text.bottom + 12);
    EXPECT_LT(second.top, text.bottom + 12 + 20);
    // 12 points are 16 pixels at 96 DPI: far smaller than the 36-point line.
    EXPECT_LT(second.bottom - second.top, 20);
    RECT third = pixels.Bounds(0xFFFF00);
    EXPECT_GE(third.left, third.right) << "a third caption was drawn";
}

// Right and bottom alignment measure from the far edges; a second caption at
// the bottom stacks above the first.
TEST_F(BackgroundWindow, CaptionsAlignedToTheFarEdges)
{
    AddCaption("\"Bottom right\",RIGHT,bottom,50,40,,28,0,7,0,0,0xFF0000,0,0");
    AddCaption("\"Above it\",right,bottom,50,10,,20,0,7,0,0,0x00FF00,0,0");
    Pixels pixels = Capture(Create(), false);
    RECT first = pixels.Bounds(0xFF0000), second = pixels.Bounds(0x00FF00);
    ASSERT_LT(first.left, first.right);
    ASSERT_LT(second.left, second.right);
    EXPECT_LE(first.right, pixels.width - 50);
    EXPECT_GT(first.right, pixels.width - 50 - 8);
    EXPECT_LE(first.bottom, pixels.height - 40);
    EXPECT_GT(first.bottom, pixels.height - 40 - 20);
    EXPECT_LE(second.bottom, first.top - 10);
    EXPECT_GT(second.bottom, first.top - 10 - 20);
    EXPECT_LE(second.right, pixels.width - 50);
}

}  // namespace
