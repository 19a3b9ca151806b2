// The uninstall worker: undoes the action lines of an install log from the
// last to the first, showing its progress in the uninstaller dialog or, when
// it rolls a failed installation back, without any window.
#include "uninstall.h"
#include "../startup/app_state.h"
#include "../engine/engine.h"
#include "../engine/files.h"
#include "../engine/install_log.h"
#include "../engine/integration.h"
#include "../resources/ids.h"
#include "../script/script.h"
#include "../wizard/wizard.h"
#include <commctrl.h>
#include <shlobj.h>

static const char kDeletingFiles[] = "正在删除文件.....";
// Shown after a line of each code, from LOG_FOLDER to LOG_SHORTCUT.
static const char* const kStatusTexts[] = {
    kDeletingFiles,
    kDeletingFiles,
    "正在删除注册表中的入口处....",
    "正在启动指定的程序...",
    "正在删除注册表中键值.....",
    "正在调用 DLL 中的函数...",
    "正在删除软件共享文件 ...",
    "正在删除开始菜单中的快捷方式....",
};

// Tries for two seconds at a time to delete PATH; OWNER, when given, is asked
// whether to try again while the file is in use. A file that stays is left
// for deletion at the next restart.
static void DeleteLoggedFile(const char* path, HWND owner)
{
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    for (;;) {
        DWORD start = GetTickCount();
        while (PathExists(path) && GetTickCount() - start < 2000)
            if (!DeleteFileA(path))
                Sleep(100);
        if (!PathExists(path))
            return;
        if (!owner
            || ShowMessage1(owner, "正在删除文件.",
                            "这个文件 %s 正被另外一个程序使用所以无法被删除。        \n"
                            "注意！除了在卸载程序结束之后立即重新启动您的计算机以删除该文件之外，"
                            "您要尝试再次删除这个文件吗？重启后文件会被彻底删除！ ",
                            path, MB_YESNO | MB_ICONWARNING)
                   != IDYES)
            break;
    }
    ListAppend(g_uninstall.restartDeletes, path);
}

// Undoes one action line (without its line feed). The result is the status
// text to show, null to keep the shown one; *SHOWNPATH the path to show.
static const char* UndoLine(const char* line, HWND window, const char** shownPath)
{
    char code = ReadLogLine(line);
    int index = code - LOG_FOLDER;
    const char* first = CsvField(0);
    *shownPath = "";
    if (!code)
        return 0;
    if (LOG_PATH_CODES >> index & 1)
        *shownPath = first;
    HKEY root = RootKeyFromNumber(first);
    const char* key = CsvField(1);
    // A key of only backslashes (or none) would name the root itself: a "c"
    // or "e" line naming it acts on nothing.
    const char* keyName = key;
    while (*keyName == '\\')
        keyName++;
    LONG error = 0;
    switch (code) {
    case LOG_FOLDER:
        SetFileAttributesA(first, FILE_ATTRIBUTE_NORMAL);
        if (IsFolderEmpty(first, TRUE))
            RemoveDirectoryA(first);
        else
            ListAppend(g_uninstall.leftovers, first);
        break;
    case LOG_FILE:
    case LOG_SHORTCUT:
        // A file in use that the installation replaces only at the next restart
        // is the file that was there before: it stays.
        if (!ListContainsText(g_install.pendingTargets, first))
            DeleteLoggedFile(first, window);
        break;
    case LOG_REGISTRY_VALUE:
        if (*keyName)
            error = DeleteRegistryValue(root, key, CsvField(2), FALSE);
        break;
    case LOG_PROGRAM:
        RunProgram(first, key, CsvField(2), *CsvField(3) ? ParseNumber(CsvField(3)) : TRUE, FALSE, 0, 0, 0);
        break;
    case LOG_REGISTRY_KEY:
        if (*keyName)
            error = DeleteRegistryKey(root, key, ParseNumber(CsvField(2)) != 0);
        break;
    case LOG_DLL_CALL:
        CallDllFunction(first, key, CsvField(2), CsvField(3), FALSE, 0, 0);
        break;
    case LOG_SHARED_FILE:
        if (UpdateSharedDllCount(first, TRUE))
            return 0;
        if (!g_uninstall.deleteAllShared) {
            int answer = AskSharedFile(window, first);
            if (answer == IDC_YES_TO_ALL)
                g_uninstall.deleteAllShared =
                    MessageBoxA(window,
                                "警告！您选择了完全删除软件使用的所有共享部件，它们将无法再被其它软件或操作系统使用，"
                                "请慎重考虑后果！  注意这个删除操作可能导致其它还需要使用这些部件的部分程序缺少某些功能"
                                "或者无法正常运行。 您真的要进行这些操作吗？请确认！ ",
                                "请确认您的操作！ ", MB_YESNO | MB_ICONQUESTION)
                    == IDYES;
            else if (answer != IDOK)
                break;
        }
        DeleteLoggedFile(first, 0);
        break;
    }
    // A value or key that is gone already is what the line asks for.
    if (error && error != ERROR_FILE_NOT_FOUND) {
        char* place = JoinStrings(RootKeyName(root), "\\", key);
        const char* reason = SystemErrorText(error);
        BOOL value = code == LOG_REGISTRY_VALUE;
        ShowMessage3(window, value ? "正在删除注册表中的键值." : "正在删除注册表中键值.",
                     value ? "在删除注册表中的键值 '%s' 于 '%s' 中时发生错误！  .\n%s" : "在删除注册表中键值'%s'时发生错误.\n%s",
                     value ? CsvField(2) : place, value ? place : reason, reason, MB_ICONERROR);
        FreeMem(place);
    }
    return kStatusTexts[index];
}

// The texts are transparent: the dialog's background behind them is erased
// too, for the status the upper fifth, where its one line stands.
static void RepaintBehind(HWND window, HWND control, BOOL upperFifth)
{
    RECT area;
    GetWindowRect(control, &area);
    MapWindowPoints(0, window, (POINT*)&area, 2);
    if (upperFifth)
        area.bottom = area.top + (area.bottom - area.top) / 5 + 2;
    InvalidateRect(window, &area, TRUE);
}

static void ShowLine(HWND window, const char* status, const char* path)
{
    HWND statusText = GetDlgItem(window, IDC_TEXT3);
    HWND pathText = GetDlgItem(window, IDC_UNINSTALL_FILE);
    if (status)
        SetWindowTextA(statusText, status);
    // The path line's style shortens a long path in its middle.
    SetWindowTextA(pathText, path);
    RepaintBehind(window, statusText, TRUE);
    RepaintBehind(window, pathText, FALSE);
}

DWORD WINAPI UninstallWorker(LPVOID parameter)
{
    HWND window = (HWND)parameter;
    CreateWorkerQueue();
    // No product folder stays in use as this process's current folder.
    SetCurrentDirectoryA(g_app.tempFolder);
    char* body = g_uninstall.logBody;
    char* end = 0;
    int lines = 0;
    for (char* p = body; p && *p; p++)
        if (*p == '\n') {
            lines++;
            end = p;
        }
    // Text after the last line feed is an incomplete line: never acted on.
    if (!lines)
        return 1;
    for (int done = 100;; done += 100) {
        if (window) {
            if (QuitRequested())
                return 0;
            SendDlgItemMessageA(window, IDC_PROGRESS, PBM_SETPOS, done / lines, 0);
            // A short log still shows its progress for about a second.
            Sleep(1000 / lines);
        }
        *end = 0;
        char* line = end;
        while (line > body && line[-1] != '\n')
            line--;
        const char* path;
        const char* status = UndoLine(line, window, &path);
        if (window)
            ShowLine(window, status, path);
        if (line == body)
            break;
        end = line - 1;
    }
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, 0, 0);
    if (window && QuitRequested())
        return 0;
    SetEvent(g_app.uninstallDoneEvent);
    // With folders left over the dialog stays open for its leftover view.
    if (window && !ListCount(g_uninstall.leftovers))
        EndDialog(window, 0);
    else if (window)
        ShowLeftoverView(window);
    return 0;
}
