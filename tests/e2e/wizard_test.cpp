// The wizard driven as a user drives it: pages walked forward and back in
// both layouts, Cancel answered both ways, the language page re-texting,
// the destination checks, the Start-menu folders and the finish page.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <algorithm>
#include "package_fixture.h"
#include "wizard_script.h"

namespace {

using namespace e2e;
using quillset::Bytes;

// Large layout 0, small layout 1.
class Wizard : public ::testing::TestWithParam<int> {
protected:
    bool Small() const { return GetParam() == 1; }
};

TEST_P(Wizard, NextAndBackWalkEveryEnabledPage)
{
    WizardScript script(Small());
    script.Enable({ 1, 2, 3, 6, 8, 9, 10, 11 });
    script.AddShortcut("<Temp>\\%ShortcutsGroup%\\Guide.lnk");
    RunningWizard wizard(script, "Walk");
    ASSERT_TRUE(wizard.Started());

    EXPECT_EQ(wizard.PageTitle(), "Page 1");
    EXPECT_EQ(Text(wizard.frame), "Window 1");
    EXPECT_FALSE(wizard.ButtonShown(IDC_BACK));
    std::vector<int> forward = { 2, 3, 6, 8, 9 };
    for (int slot : forward) {
        ASSERT_TRUE(wizard.ClickAndWaitForPage(IDC_NEXT, "Page " + std::to_string(slot)));
        EXPECT_TRUE(wizard.ButtonShown(IDC_BACK)) << slot;
        EXPECT_EQ(Text(wizard.frame), "Window " + std::to_string(slot));
    }
    // The ready page's Next is the Install button.
    EXPECT_EQ(ItemText(wizard.frame, IDC_NEXT), "Install");
    for (auto it = forward.rbegin() + 1; it != forward.rend(); ++it)
        ASSERT_TRUE(wizard.ClickAndWaitForPage(IDC_BACK, "Page " + std::to_string(*it)));
    ASSERT_TRUE(wizard.ClickAndWaitForPage(IDC_BACK, "Page 1"));
    EXPECT_FALSE(wizard.ButtonShown(IDC_BACK));

    for (int slot : forward)
        ASSERT_TRUE(wizard.ClickAndWaitForPage(IDC_NEXT, "Page " + std::to_string(slot)));
    // Install: the installing page hands over to the finish page.
    ASSERT_TRUE(wizard.ClickAndWaitForPage(IDC_NEXT, "Page 11"));
    EXPECT_FALSE(wizard.ButtonShown(IDC_BACK));
    EXPECT_FALSE(wizard.ButtonShown(IDC_NEXT));
    EXPECT_EQ(ItemText(wizard.frame, IDC_CANCEL), "Finish");
    // Finish asks nothing.
    Click(wizard.frame, IDC_CANCEL);
    EXPECT_EQ(wizard.process.WaitForExit(), 0);
}

TEST_P(Wizard, DisabledSlotsAreSkippedBothWays)
{
    WizardScript script(Small());
    script.Enable({ 1, 3, 9, 10, 11 });
    RunningWizard wizard(script, "Skip");
    ASSERT_TRUE(wizard.Started());
    ASSERT_TRUE(wizard.ClickAndWaitForPage(IDC_NEXT, "Page 3"));
    ASSERT_TRUE(wizard.ClickAndWaitForPage(IDC_NEXT, "Page 9"));
    ASSERT_TRUE(wizard.ClickAndWaitForPage(IDC_BACK, "Page 3"));
    ASSERT_TRUE(wizard.ClickAndWaitForPage(IDC_BACK, "Page 1"));
    EXPECT_FALSE(wizard.ButtonShown(IDC_BACK));
    wizard.CancelAndConfirm();
}

TEST_P(Wizard, LicencePageCarriesYesAndNo)
{
    WizardScript script(Small());
    script.Enable({ 2, 9, 10, 11 });
    script.SetLicence("{\\rtf1 Licence terms}");
    RunningWizard wizard(script, "Licence");
    ASSERT_TRUE(wizard.Started());
    EXPECT_EQ(ItemText(wizard.frame, IDC_NEXT), "Yes");
    EXPECT_EQ(ItemText(wizard.frame, IDC_CANCEL), "No");
    EXPECT_EQ(ItemText(wizard.Page(), IDC_RICHEDIT), "Licence terms");
    ASSERT_TRUE(wizard.ClickAndWaitForPage(IDC_NEXT, "Page 9"));
    EXPECT_EQ(ItemText(wizard.frame, IDC_CANCEL), "Cancel");
    wizard.CancelAndConfirm();
}

TEST_P(Wizard, OnlyInstallingAndFinishShowNoBack)
{
    WizardScript script(Small());
    script.Enable({ 10, 11 });
    RunningWizard wizard(script, "Installing");
    ASSERT_TRUE(wizard.Started());
    ASSERT_TRUE(wizard.WaitForPage("Page 11"));
    EXPECT_FALSE(wizard.ButtonShown(IDC_BACK));
    EXPECT_FALSE(wizard.ButtonShown(IDC_NEXT));
    Click(wizard.frame, IDC_CANCEL);
    EXPECT_EQ(wizard.process.WaitForExit(), 0);
}

TEST_P(Wizard, CancelAnsweredNoStaysAndYesEnds)
{
    WizardScript script(Small());
    script.Enable({ 1, 3, 9, 10, 11 });
    RunningWizard wizard(script, "Cancel");
    ASSERT_TRUE(wizard.Started());
    for (const char* page : { "Page 1", "Page 3", "Page 9" }) {
        if (std::string(page) != "Page 1")
            ASSERT_TRUE(wizard.ClickAndWaitForPage(IDC_NEXT, page));
        Click(wizard.frame, IDC_CANCEL);
        MessageBoxView question = wizard.AnswerMessageBox(IDNO);
        EXPECT_EQ(question.text, "Quit the setup?");
        EXPECT_EQ(question.caption, "Demo 1.0 设置 ");
        EXPECT_EQ(wizard.PageTitle(), page);
    }
    // Escape is Cancel too.
    Click(wizard.frame, IDCANCEL);
    wizard.AnswerMessageBox(IDYES);
    EXPECT_EQ(wizard.process.WaitForExit(), 0);
}

// Keys as the keyboard sends them: to the control with the focus in the
// foreground window; with SHIFT held down.
void PressKey(HWND window, WORD key, bool shift = false)
{
    SetForegroundWindow(window);
    std::vector<INPUT> input;
    for (WORD vk : { shift ? WORD(VK_SHIFT) : WORD(0), key, key, shift ? WORD(VK_SHIFT) : WORD(0) }) {
        INPUT one{};
        one.type = INPUT_KEYBOARD;
        one.ki.wVk = vk;
        one.ki.dwFlags = input.size() >= 2 ? KEYEVENTF_KEYUP : 0;
        input.push_back(one);
    }
    input.erase(std::remove_if(input.begin(), input.end(), [](const INPUT& i) { return !i.ki.wVk; }), input.end());
    SendInput(static_cast<UINT>(input.size()), input.data(), sizeof(INPUT));
    Sleep(100);
}

// A click of the left mouse button at POINT on the screen.
void ClickAt(POINT point)
{
    SetCursorPos(point.x, point.y);
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_MOUSE;
    input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, input, sizeof(INPUT));
    Sleep(300);
}

HWND FocusOf(const Process& process)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    return GetGUIThreadInfo(process.info.dwThreadId, &info) ? info.hwndFocus : nullptr;
}

// Enter presses the default button on every page, the finish page's Finish
// included, Escape asks the cancel question, Tab and Shift+Tab move the
// focus; also after the language was chosen with the mouse.
TEST_P(Wizard, KeysWorkOnEveryPage)
{
    WizardScript script(Small());
    script.Enable({ 0, 1, 2, 3, 6, 8, 9, 10, 11 });
    script.OfferLanguages({ 9, 4 });
    script.SetLicence("{\\rtf1 Licence terms}");
    script.AddShortcut("<Temp>\\%ShortcutsGroup%\\Guide.lnk");
    RunningWizard wizard(script, "Keys");
    ASSERT_TRUE(wizard.Started());
    // English chosen with the mouse: the list opened and its item clicked.
    HWND combo = GetDlgItem(wizard.Page(), IDC_COMBO);
    RECT box;
    GetWindowRect(combo, &box);
    int english = SendMessageA(combo, CB_GETITEMDATA, 0, 0) == 9 ? 0 : 1;
    ClickAt({ (box.left + box.right) / 2, (box.top + box.bottom) / 2 });
    int itemHeight = static_cast<int>(SendMessageA(combo, CB_GETITEMHEIGHT, 0, 0));
    ClickAt({ (box.left + box.right) / 2, box.bottom + itemHeight * english + itemHeight / 2 + 2 });
    ASSERT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), english);
    struct Step {
        int page, next;
    };
    for (Step step : { Step{ 0, 1 }, Step{ 1, 2 }, Step{ 2, 3 }, Step{ 3, 6 }, Step{ 6, 8 }, Step{ 8, 9 },
                       Step{ 9, 11 } }) {
        SCOPED_TRACE("page " + std::to_string(step.page));
        HWND before = FocusOf(wizard.process);
        EXPECT_TRUE(before && IsChild(wizard.frame, before)) << "some control has the focus";
        PressKey(wizard.frame, VK_TAB);
        EXPECT_NE(FocusOf(wizard.process), before) << "Tab moves the focus";
        PressKey(wizard.frame, VK_TAB, true);
        EXPECT_EQ(FocusOf(wizard.process), before) << "Shift+Tab moves it back";
        if (step.page == 1) {
            PressKey(wizard.frame, VK_ESCAPE);
            EXPECT_EQ(wizard.AnswerMessageBox(IDNO).text, "Quit the setup?");
        }
        PressKey(wizard.frame, VK_RETURN);
        // The ready page's Install runs the installing page on to the finish page.
        ASSERT_TRUE(wizard.WaitForPage("Page " + std::to_string(step.next), 60000));
    }
    HWND finish = FocusOf(wizard.process);
    EXPECT_TRUE(finish && IsChild(wizard.frame, finish));
    PressKey(wizard.frame, VK_RETURN);
    EXPECT_EQ(wizard.process.WaitForExit(), 0) << "Enter is Finish";
}

TEST_P(Wizard, LanguageChangeRetextsPageFrameAndButtons)
{
    WizardScript script(Small());
    script.Enable({ 0, 1, 9, 10, 11 });
    script.OfferLanguages({ 9, 4 });
    script.Text(4, 0, 0, "语言窗口");
    script.Text(4, 0, 1, "选择语言");
    script.Extra(4, 1, "下一步(&N) >");
    script.Extra(4, 2, "取消");
    RunningWizard wizard(script, "Language");
    ASSERT_TRUE(wizard.Started());
    HWND page = wizard.Page();
    EXPECT_EQ(ItemText(page, IDC_TITLE), "Page 0");
    HWND combo = GetDlgItem(page, IDC_COMBO);
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 2);
    int current = static_cast<int>(SendMessageA(combo, CB_GETCURSEL, 0, 0));
    ASSERT_GE(current, 0);
    // Choosing the language already chosen changes nothing.
    wizard.ChooseComboItem(current);
    EXPECT_EQ(ItemText(page, IDC_TITLE), "Page 0");
    wizard.ChooseComboItem(1 - current);
    EXPECT_EQ(wizard.Page(), page);
    EXPECT_EQ(ItemText(page, IDC_TITLE), "选择语言");
    EXPECT_EQ(Text(wizard.frame), "语言窗口");
    EXPECT_EQ(ItemText(wizard.frame, IDC_NEXT), "下一步(&N) >");
    EXPECT_EQ(ItemText(wizard.frame, IDC_CANCEL), "取消");
    wizard.CancelAndConfirm();
}

TEST_P(Wizard, DestinationRefusesWhatCannotBeInstalledTo)
{
    WizardScript script(Small());
    script.Enable({ 6, 9, 10, 11 });
    script.Wizard(2, "Invalid folder");
    script.Message(31, "Folder cannot be reached");
    script.Message(39, "Not enough space");
    RunningWizard wizard(script, "Destination", 0);
    ASSERT_TRUE(wizard.Started());
    HWND page = wizard.Page();
    EXPECT_EQ(ItemText(page, IDC_SPACE_REQUIRED), "0 Kb");
    // C: has more than 999,999 KB free here: megabytes.
    ULARGE_INTEGER available{};
    ASSERT_TRUE(GetDiskFreeSpaceExA("C:\\", &available, nullptr, nullptr));
    std::string free = ItemText(page, IDC_SPACE_FREE);
    if (available.QuadPart >> 10 > 999999) {
        ASSERT_GT(free.size(), 3u);
        EXPECT_EQ(free.substr(free.size() - 3), " Mb");
        // The disk may change a little between the two readings.
        EXPECT_NEAR(std::stod(free), static_cast<double>(available.QuadPart >> 20), 64.0);
    }

    for (const char* invalid : { "C:\\a\\\\b", "C:Program", "C:\\a:b", "\\\\server", "C:/Program Files", "" }) {
        SetWindowTextA(GetDlgItem(page, IDC_FOLDER_EDIT), invalid);
        Click(wizard.frame, IDC_NEXT);
        EXPECT_EQ(wizard.AnswerMessageBox(IDOK).text, "Invalid folder") << invalid;
        EXPECT_EQ(wizard.Page(), page);
    }
    SetWindowTextA(GetDlgItem(page, IDC_FOLDER_EDIT), "Q:\\Nowhere\\Product");
    Click(wizard.frame, IDC_NEXT);
    EXPECT_EQ(wizard.AnswerMessageBox(IDOK).text, "Folder cannot be reached");

    SetWindowTextA(GetDlgItem(page, IDC_FOLDER_EDIT), (wizard.folder + "\\New\\Sub").c_str());
    ASSERT_TRUE(wizard.ClickAndWaitForPage(IDC_NEXT, "Page 9"));
    wizard.CancelAndConfirm();
}

TEST_P(Wizard, DestinationNeedsTheSpaceThePackageNeeds)
{
    WizardScript script(Small());
    script.Enable({ 6, 9, 10, 11 });
    script.Message(39, "Not enough space");
    RunningWizard wizard(script, "Space", 5u << 20);
    ASSERT_TRUE(wizard.Started());
    HWND page = wizard.Page();
    EXPECT_EQ(ItemText(page, IDC_SPACE_REQUIRED), "5120 Kb");
    // R: is a 1 MiB drive where the test machine allows one to be mounted.
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExA("R:\\", &available, nullptr, nullptr) || available.QuadPart >= (5u << 20)) {
        wizard.CancelAndConfirm();
        GTEST_SKIP() << "no small drive R: on this machine; only the required label was checked";
    }
    SetWindowTextA(GetDlgItem(page, IDC_FOLDER_EDIT), "R:\\Product");
    EXPECT_EQ(ItemText(page, IDC_SPACE_FREE), std::to_string(available.QuadPart >> 10) + " Kb");
    Click(wizard.frame, IDC_NEXT);
    EXPECT_EQ(wizard.AnswerMessageBox(IDOK).text, "Not enough space");
    EXPECT_EQ(wizard.Page(), page);
    wizard.CancelAndConfirm();
}

TEST_P(Wizard, StartMenuPageListsProgramFoldersOnce)
{
    char common[MAX_PATH], user[MAX_PATH];
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, common, CSIDL_COMMON_PROGRAMS, TRUE));
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, user, CSIDL_PROGRAMS, TRUE));
    for (const std::string& folder : { std::string(common) + "\\QsBoth", std::string(user) + "\\qsboth",
                                       std::string(common) + "\\QsCommon", std::string(user) + "\\QsUser",
                                       std::string(user) + "\\Demo Group" })
        CreateDirectoryA(folder.c_str(), nullptr);

    WizardScript script(Small());
    script.Enable({ 8, 9, 10, 11 });
    script.Variable("%ShortcutsGroup%", "Demo Group");
    script.AddShortcut("%ShortcutsGroup%\\Guide.lnk");
    RunningWizard wizard(script, "StartMenu");
    ASSERT_TRUE(wizard.Started());
    HWND page = wizard.Page();
    std::vector<std::string> names = wizard.FolderListItems();
    auto count = [&](const char* name) {
        return std::count_if(names.begin(), names.end(),
                             [&](const std::string& n) { return lstrcmpiA(n.c_str(), name) == 0; });
    };
    std::string listed;
    for (const std::string& name : names)
        listed += "[" + name + "]";
    SCOPED_TRACE("listed: " + listed);
    EXPECT_EQ(count("QsBoth"), 1);
    EXPECT_EQ(count("QsCommon"), 1);
    EXPECT_EQ(count("QsUser"), 1);
    EXPECT_EQ(count("Demo Group"), 1);
    HWND text = GetDlgItem(page, Small() ? IDC_COMBO : IDC_FOLDER_EDIT);
    EXPECT_EQ(Text(text), "Demo Group");
    EXPECT_TRUE(IsWindowEnabled(text));
    EXPECT_EQ(IsDlgButtonChecked(page, IDC_CREATE_GROUP), BST_CHECKED);

    // Unchecking the group disables the folder controls; the typed text stays.
    SetWindowTextA(text, "Typed Group");
    SendMessageA(GetDlgItem(page, IDC_CREATE_GROUP), BM_CLICK, 0, 0);
    EXPECT_FALSE(IsWindowEnabled(text));
    ASSERT_TRUE(wizard.ClickAndWaitForPage(IDC_NEXT, "Page 9"));
    ASSERT_TRUE(wizard.ClickAndWaitForPage(IDC_BACK, "Page 8"));
    page = wizard.Page();
    text = GetDlgItem(page, Small() ? IDC_COMBO : IDC_FOLDER_EDIT);
    EXPECT_EQ(Text(text), "Typed Group");
    EXPECT_FALSE(IsWindowEnabled(text));
    EXPECT_EQ(IsDlgButtonChecked(page, IDC_CREATE_GROUP), BST_UNCHECKED);
    wizard.CancelAndConfirm();
}

TEST_P(Wizard, FinishPageOffersWhatTheInstallationLeft)
{
    struct Case {
        bool restart;
        const char* launch;
        const char* readme;
    };
    for (Case c : { Case{ false, "C:\\demo.exe", "C:\\readme.txt" }, Case{ false, "C:\\demo.exe", "" },
                    Case{ true, "C:\\demo.exe", "C:\\readme.txt" } }) {
        WizardScript script(Small());
        script.Enable({ 9, 10, 11 });
        script.Wizard(10, "Restart before using %s");
        script.SetLaunch(c.launch, c.readme);
        script.SetRestart(c.restart);
        RunningWizard wizard(script, "Finish");
        ASSERT_TRUE(wizard.Started());
        ASSERT_TRUE(wizard.ClickAndWaitForPage(IDC_NEXT, "Page 11"));
        HWND page = wizard.Page();
        auto shown = [&](int id) { return IsWindowVisible(GetDlgItem(page, id)) != 0; };
        auto checked = [&](int id) { return IsDlgButtonChecked(page, id) == BST_CHECKED; };
        EXPECT_FALSE(shown(IDC_ERROR_TEXT));
        if (c.restart) {
            EXPECT_TRUE(shown(IDC_RESTART_BOX) && checked(IDC_RESTART_BOX));
            EXPECT_TRUE(shown(IDC_RESTART_TEXT));
            EXPECT_FALSE(shown(IDC_LAUNCH_BOX) || shown(IDC_README_BOX));
            EXPECT_EQ(ItemText(page, IDC_CLOSING_TEXT), "Restart to finish");
            // Nothing may restart the test machine.
            SendMessageA(GetDlgItem(page, IDC_RESTART_BOX), BM_CLICK, 0, 0);
        } else {
            EXPECT_FALSE(shown(IDC_RESTART_BOX) || shown(IDC_RESTART_TEXT));
            EXPECT_TRUE(shown(IDC_LAUNCH_BOX) && checked(IDC_LAUNCH_BOX));
            EXPECT_EQ(shown(IDC_README_BOX), *c.readme != 0);
            RECT launch, readme;
            GetWindowRect(GetDlgItem(page, IDC_LAUNCH_BOX), &launch);
            GetWindowRect(GetDlgItem(page, IDC_README_BOX), &readme);
            // Without a readme the launch box takes the readme box's place.
            EXPECT_EQ(launch.top == readme.top, *c.readme == 0);
            // Nothing is launched from a test: uncheck both.
            for (int id : { IDC_LAUNCH_BOX, IDC_README_BOX })
                if (checked(id))
                    SendMessageA(GetDlgItem(page, id), BM_CLICK, 0, 0);
        }
        Click(wizard.frame, IDC_CANCEL);
        // A restart that the user declined is still needed before the product is used.
        if (c.restart)
            EXPECT_EQ(wizard.AnswerMessageBox(IDOK).text.rfind("Restart before using ", 0), 0u);
        EXPECT_EQ(wizard.process.WaitForExit(), 0);
    }
}

TEST_P(Wizard, ClosingTheBackgroundWindowAsksTheCancelQuestion)
{
    WizardScript script(Small());
    script.Enable({ 1, 9, 10, 11 });
    script.SetBackground(0x000080, 0x0000FF);
    RunningWizard wizard(script, "Background");
    ASSERT_TRUE(wizard.Started());
    HWND background = FindWindowA("QuillsetBGWindow", nullptr);
    ASSERT_NE(background, nullptr);
    EXPECT_EQ(Text(background), "Window 1");
    PostMessageA(background, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(wizard.AnswerMessageBox(IDNO).text, "Quit the setup?");
    EXPECT_TRUE(IsWindow(background) && IsWindow(wizard.frame));
    PostMessageA(background, WM_SYSCOMMAND, SC_CLOSE, 0);
    wizard.AnswerMessageBox(IDYES);
    EXPECT_EQ(wizard.process.WaitForExit(), 0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, Wizard, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param ? std::string("Small") : std::string("Large");
                         });

TEST(WizardScriptCheck, NoUsablePageIsADamagedPackage)
{
    for (std::vector<int> slots : { std::vector<int>{}, std::vector<int>{ 1, 4, 11 }, std::vector<int>{ 7 } }) {
        WizardScript script(false);
        script.Enable(slots);
        Process runtime;
        std::string folder = FreshFolder("Damaged");
        std::string path = WriteInstaller(folder, "setup.exe", script.Finish());
        ASSERT_TRUE(Start(runtime, path));
        HWND box = WaitForWindow(runtime, IsMessageBox);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(ReadMessageBox(box).text, "安装文件已损坏，无法继续安装！");
        Click(box, IDOK);
        EXPECT_EQ(runtime.WaitForExit(), 0);
    }
}

}  // namespace
