// Pictures of the uninstaller's dialog, for people to look at: its progress
// view and its leftover view, in both layouts. A product is installed, a few
// files of the user's are added, and the uninstaller is started as the
// system starts it. Screens are saved as BMP files that the calling script
// turns into PNGs.
//   uninstaller_screens OUTDIR
#include <windows.h>
#include <commctrl.h>
#include <cstdio>
#include <string>
#include "install_fixture.h"

using namespace e2e;

namespace {

constexpr int kClose = 1012, kTree = 1026;

std::string g_out;

void Save(const std::string& name)
{
    std::string path = g_out + "\\" + name + ".bmp";
    if (!SaveScreen(path))
        std::printf("could not save %s\n", path.c_str());
}

HWND FindDialog(const std::string& title)
{
    HWND dialog = FindWindowA("#32770", title.c_str());
    return dialog && HasItem(dialog, kTree) ? dialog : nullptr;
}

void Shoot(bool small)
{
    const std::string layout = small ? "small" : "large";
    InstallProject project(small ? "ScreensSmall" : "ScreensLarge");
    if (small)
        project.productExtra = "layout=small\n";
    // Enough files for the progress view to stay a few seconds.
    std::string files = "[files]\n";
    for (int i = 0; i < 600; i++) {
        std::string name = "file" + std::to_string(i) + ".txt";
        project.Source("src\\" + name, name);
        files += "source=src\\" + name + "\n";
    }
    project.sections = files;
    std::string error, package = project.Build(&error);
    if (package.empty() || RunInstaller(package).exitCode != 0) {
        std::printf("could not install the %s product: %s\n", layout.c_str(), error.c_str());
        return;
    }
    const std::string ip = project.installPath;
    WriteFileBytes(ip + "\\my notes.txt", "notes", 5);
    CreateDirectoryA((ip + "\\saved games").c_str(), nullptr);
    WriteFileBytes(ip + "\\saved games\\slot1.sav", "1", 1);

    Process installed;
    if (!Start(installed, project.UninstallerPath()))
        return;
    const std::string title = project.product + " 卸载程序 ";
    HWND confirmation = WaitForWindow(installed, IsMessageBox);
    if (confirmation)
        Click(confirmation, IDYES);
    HWND dialog = nullptr;
    for (DWORD start = GetTickCount(); !dialog && GetTickCount() - start < kDefaultWait; Sleep(20))
        dialog = FindDialog(title);
    if (!dialog) {
        std::printf("no uninstaller dialog for the %s layout\n", layout.c_str());
        return;
    }
    Sleep(1000);
    Save("uninstaller-" + layout + "-progress");
    HWND tree = GetDlgItem(dialog, kTree);
    for (DWORD start = GetTickCount(); !IsWindowVisible(tree) && GetTickCount() - start < 60000; Sleep(50)) {
    }
    HTREEITEM root = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
    Sleep(700);
    Save("uninstaller-" + layout + "-leftovers");
    DWORD pid = 0;
    GetWindowThreadProcessId(dialog, &pid);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    Click(dialog, kClose);
    if (process) {
        WaitForSingleObject(process, kDefaultWait);
        CloseHandle(process);
    }
    RemoveFolder(ip);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::printf("usage: uninstaller_screens OUTDIR\n");
        return 2;
    }
    g_out = argv[1];
    for (bool small : { false, true })
        Shoot(small);
    return 0;
}
