// Pictures of the wizard's pages, for people to look at: every page of both
// layouts with and without the background window, or every page of one
// package walked with Next. Screens are saved as BMP files that the calling
// script turns into PNGs.
//   page_screens OUTDIR [SUFFIX]    every page, both layouts (with SUFFIX: the large one,
//                                   names ending in SUFFIX)
//   page_screens OUTDIR PACKAGE [PREFIX]
//                                   the pages of PACKAGE, walked with Next, saved
//                                   as PREFIX-01 ... ("page" without PREFIX)
#include <windows.h>
#include <cstdio>
#include <string>
#include "wizard_script.h"

using namespace e2e;

namespace {

std::string g_out;

void Save(const std::string& name)
{
    Sleep(700);   // let the page and the frame finish painting
    std::string path = g_out + "\\" + name + ".bmp";
    if (!SaveScreen(path))
        std::printf("could not save %s\n", path.c_str());
}

// Walks Next through the wizard of RUNTIME, saving every page as PREFIX-N;
// the installing page hands over by itself. Ends with Finish.
void Walk(Process& runtime, HWND frame, const std::string& prefix)
{
    for (int n = 1; n <= 16; n++) {
        HWND page = FindWindowExA(frame, nullptr, "#32770", nullptr);
        Save(prefix + "-" + (n < 10 ? "0" : "") + std::to_string(n));
        if (!IsWindowVisible(GetDlgItem(frame, IDC_NEXT)))
            break;
        Click(frame, IDC_NEXT);
        for (DWORD start = GetTickCount(); GetTickCount() - start < kDefaultWait; Sleep(50))
            if (FindWindowExA(frame, nullptr, "#32770", nullptr) != page)
                break;
        // A check that refused to move on.
        for (HWND window : VisibleWindows(runtime))
            if (IsMessageBox(window)) {
                Save(prefix + "-message");
                Click(window, IDOK);
                return;
            }
    }
    Sleep(300);
    HWND finish = FindWindowExA(frame, nullptr, "#32770", nullptr);
    for (int id : { IDC_LAUNCH_BOX, IDC_README_BOX, IDC_RESTART_BOX })
        if (IsDlgButtonChecked(finish, id) == BST_CHECKED)
            SendMessageA(GetDlgItem(finish, id), BM_CLICK, 0, 0);
    Click(frame, IDC_CANCEL);
    runtime.WaitForExit();
}

void EveryPage(bool small, bool background, const std::string& suffix)
{
    WizardScript script(small);
    script.Enable({ 0, 1, 2, 3, 6, 8, 9, 10, 11 });
    script.OfferLanguages({ 4, 9 });
    script.SetLicence("{\\rtf1\\ansi Licence agreement\\par\\par 1. You may install this product on any number of "
                      "computers.\\par 2. {\\b No warranty} is given.}");
    script.SetInformation("Information: read me before installing.\r\nSecond line.");
    script.AddShortcut("<Temp>\\%ShortcutsGroup%\\Guide.lnk");
    script.AddShortcut("<Desktop>\\Guide.lnk");
    script.SetLaunch("C:\\demo.exe", "C:\\readme.txt");
    if (background) {
        script.SetBackground(0x0000A0, 0x000000);
        script.AddCaption("\"Quillset Demo 1.0\",,,24,16,,28,,7,1,,0xFFFFFF,3,0x000000");
        script.AddCaption("\"Setup\",right,bottom,24,16,Tahoma,16,,4,,,0xC0C0FF,2,0x000040");
    }
    RunningWizard wizard(script, "Screens");
    if (!wizard.Started()) {
        std::printf("the wizard did not start\n");
        return;
    }
    Walk(wizard.process, wizard.frame,
         std::string(small ? "small" : "large") + (background ? "-background" : "") + suffix);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    g_out = argv[1];
    CreateDirectoryA(g_out.c_str(), nullptr);
    std::string second = argc > 2 ? argv[2] : "";
    if (second.size() > 4 && second.compare(second.size() - 4, 4, ".exe") == 0) {
        Process runtime;
        if (!Start(runtime, second))
            return 1;
        HWND frame = WaitForWindow(runtime, IsWizardFrame);
        if (!frame)
            return 1;
        Walk(runtime, frame, argc > 3 ? argv[3] : "page");
        return 0;
    }
    // A suffix marks a second run (at another DPI): the large layout only.
    for (bool small : { false, true })
        for (bool background : { false, true })
            if (!small || second.empty())
                EveryPage(small, background, second);
    return 0;
}
