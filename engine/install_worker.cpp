// The install worker: the thread that performs an installation once the user
// has confirmed it, stage by stage, logging every change, and either puts the
// uninstaller and its log in place or rolls everything back.
#include "engine.h"
#include "../startup/app_state.h"
#include "files.h"
#include "install_log.h"
#include "integration.h"
#include "../package/package.h"
#include "../script/script.h"
#include "../uninstall/uninstall.h"
#include "../wizard/wizard.h"
#include "../resources/ids.h"
#include <commctrl.h>

InstallResults g_install;

static const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

BOOL AskToContinue(HWND owner, int message, const char* first, const char* second, const char* third)
{
    g_install.installOk = FALSE;
    return ShowMessage3(owner, g_product.captionText, GetText(g_product.textsMessages, message), first, second, third,
                        MB_YESNO | MB_ICONSTOP) == IDYES;
}

void CreateWorkerQueue()
{
    // A thread's queue comes with its first PeekMessageA: from then on the
    // WM_QUIT that the user interface posts to it waits there. (HWND)-1 looks
    // at thread messages only, PM_NOREMOVE takes none.
    MSG message;
    PeekMessageA(&message, (HWND)-1, WM_USER, WM_USER, PM_NOREMOVE);
}

// Set from a hold on, and after a quit for good: until then a check point
// asks the system nothing, which under Wine saves a wait and a peek, two
// server round trips, per file.
static volatile LONG s_workerHeld;

void HoldWorker()
{
    s_workerHeld = TRUE;
    ResetEvent(g_app.pauseEvent);
}

void ReleaseWorker(BOOL quit)
{
    if (quit)
        PostThreadMessageA(g_app.workerThreadId, WM_QUIT, 0, 0);
    else
        s_workerHeld = FALSE;
    SetEvent(g_app.pauseEvent);
}

BOOL QuitRequested()
{
    if (!s_workerHeld)
        return FALSE;
    WaitForSingleObject(g_app.pauseEvent, INFINITE);
    MSG message;
    return PeekMessageA(&message, (HWND)-1, WM_QUIT, WM_QUIT, PM_REMOVE);
}

BOOL CheckPoint(InstallRun* run)
{
    if (QuitRequested())
        run->cancelled = TRUE;
    return !run->cancelled;
}

void ShowLine(HWND page, int id, const char* text)
{
    HWND line = GetDlgItem(page, id);
    if (!line)
        return;
    SetWindowTextA(line, text);
    // The statics are transparent: what lies under them is drawn again.
    RECT area;
    GetWindowRect(line, &area);
    MapWindowPoints(0, page, (POINT*)&area, 2);
    InvalidateRect(page, &area, TRUE);
    UpdateWindow(page);
}

static void ShowStep(InstallRun* run, int text)
{
    ShowLine(run->page, IDC_STEP_TEXT, GetText(g_pages[SLOT_INSTALLING].texts, text));
}

// Expands every variable's value until none names a variable. A cycle among
// the definitions would never settle: after as many rounds as there are
// variables every chain has ended, and what is left of a cycle stays as it is.
static void SettleVariables()
{
    StringList* values = g_workLists[WORK_VARIABLE_VALUES];
    int rounds = ListCount(values);
    for (BOOL open = TRUE; open && rounds-- >= 0;) {
        open = FALSE;
        for (int i = 0; i < ListCount(values); i++) {
            char* expanded = ExpandVariables(ListGet(values, i));
            if (expanded) {
                ListSetAt(values, i, expanded);
                open |= ContainsAnyOf(expanded, g_workLists[WORK_VARIABLE_NAMES]);
            }
            FreeMem(expanded);
        }
    }
}

// The uninstaller: the image without the package, both words of its
// package offset 0. A signed package's CheckSum and certificate table are
// not the image's: its headers lose them.
static void WriteUninstallerImage(const char* path)
{
    DWORD size = g_package.offset, written;
    const BYTE* source = PackageBytes(0, size);
    BYTE* image = source ? (BYTE*)AllocMem(size) : 0;
    HANDLE file = image ? CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, 0, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_SEQUENTIAL_SCAN, 0)
                        : INVALID_HANDLE_VALUE;
    if (file != INVALID_HANDLE_VALUE) {
        MoveMemory(image, source, size);
        WritePackageOffset(image, 0);
        DWORD pe = ReadU32(image + DOS_PE_HEADER);
        DWORD security = pe < size && size - pe >= PE_SIGNED_HEADERS ? SecurityEntryOffset(image + pe) : 0;
        if (security) {
            ZeroMem(image + pe + PE_CHECKSUM, 4);
            ZeroMem(image + pe + security, 8);
        }
        WriteFile(file, image, size, &written, 0);
        CloseHandle(file);
    }
    FreeMem(image);
}

// Runs LINE_STEP on every line of LIST after a check point; FALSE when the
// installation stops.
static BOOL RunLines(InstallRun* run, StringList* list, BOOL (*lineStep)(const char*, HWND))
{
    for (int i = 0; i < ListCount(list); i++)
        if (!CheckPoint(run) || !lineStep(ListGet(list, i), run->page))
            return FALSE;
    return TRUE;
}

static BOOL ShortcutWanted(const char* line)
{
    int kinds = ShortcutKinds(line);
    return !((kinds & SHORTCUT_IN_GROUP && !g_wizard.createProgramGroup)
             || (kinds & SHORTCUT_ON_DESKTOP && !g_wizard.createDesktopShortcuts)
             || (kinds & SHORTCUT_IN_QUICK_LAUNCH && !g_wizard.createQuickLaunchShortcuts));
}

static BOOL ShortcutStep(const char* line, HWND owner)
{
    return !ShortcutWanted(line) || InstallShortcutLine(line, owner);
}

static void LogRunList(StringList* list, char code)
{
    for (int i = 0; i < ListCount(list); i++) {
        char* line = ExpandVariables(ListGet(list, i));
        AppendLogLine(g_log.logFile, code, line, TRUE, FALSE);
        FreeMem(line);
    }
}

// The entry of the system's list of installed programs; removed whole by
// the uninstaller through its "e" line. Eight texts, then three numbers.
static const char kUninstallValues[] =
    "DisplayName\0UninstallString\0QuietUninstallString\0DisplayIcon\0InstallLocation\0"
    "DisplayVersion\0Publisher\0URLInfoAbout\0EstimatedSize\0NoModify\0NoRepair";

enum { ENTRY_TEXT_COUNT = 5 + ENTRY_DETAIL_COUNT, ENTRY_VALUE_COUNT = ENTRY_TEXT_COUNT + 3 };

static void WriteUninstallEntry(const char* uninstaller)
{
    char* key = JoinStrings(kUninstallKey, g_product.productName);
    // Quoted: a path with blanks must never be taken for another program
    // ("C:\Program" for "C:\Program Files\...") by whoever starts it.
    char* command = JoinStrings("\"", uninstaller, "\"");
    char* quiet = JoinStrings(command, " /S");
    if (key && quiet) {
        const char* texts[ENTRY_TEXT_COUNT] = { g_product.productFullName, command, quiet, uninstaller,
                                                GetVariable("%InstallPath%") };
        MoveMemory(texts + 5, g_product.entryDetails, sizeof(g_product.entryDetails));
        DWORD numbers[] = { g_package.header.unpackedTotal >> 10, 1, 1 };
        const char* name = kUninstallValues;
        for (int i = 0; i < ENTRY_VALUE_COUNT; i++, name += lstrlenA(name) + 1) {
            if (i >= ENTRY_TEXT_COUNT)
                WriteRegistryValue(HKEY_LOCAL_MACHINE, key, name, REG_DWORD, numbers + i - ENTRY_TEXT_COUNT, 4);
            else if (texts[i] && *texts[i])
                WriteRegistryValue(HKEY_LOCAL_MACHINE, key, name, REG_SZ, texts[i], lstrlenA(texts[i]) + 1);
        }
        // Root number 2: HKEY_LOCAL_MACHINE; "1": with all it holds.
        const char* fields[] = { "2", key, "1" };
        AppendLogFields(g_log.logFile, LOG_REGISTRY_KEY, fields, 3, TRUE);
    }
    FreeMem(quiet);
    FreeMem(command);
    FreeMem(key);
}

static void CommitPending()
{
    StringList* targets = g_install.pendingTargets;
    for (int i = 0; i < ListCount(targets); i++) {
        ScheduleReplace(ListGet(g_install.pendingTempFiles, i), ListGet(targets, i));
        if (*ListGet(g_install.pendingFlags, i) == '1')
            UpdateSharedDllCount(ListGet(targets, i), FALSE);
    }
}

static DWORD WINAPI InstallWorker(LPVOID parameter)
{
    InstallRun run;
    ZeroMem(&run, sizeof(run));
    run.page = (HWND)parameter;
    OleInitialize(0);
    CreateWorkerQueue();
    run.progressBar = GetDlgItem(run.page, IDC_PROGRESS);

    char* uninstaller = CombinePath(GetVariable("%InstallPath%"), GetVariable("%UninstallerFileName%"));
    char* finalLog = FinalLogPath();
    // A script without the uninstaller's name installs as one without an uninstaller.
    BOOL placeUninstaller = g_product.createUninstaller && uninstaller && finalLog;
    SettleVariables();
    CreateTemporaryLog();
    char* uninstallerImage = CreateTempFile(g_app.tempFolder);
    BOOL failed = TRUE;
    if (uninstallerImage && OpenPackageView()) {
        WriteUninstallerImage(uninstallerImage);
        BOOL goOn = RunFileStage(&run);
        ClosePackageView();
        if (goOn) {
            if (placeUninstaller) {
                AppendLogLine(g_log.logFile, LOG_FILE, uninstaller, !PathExists(uninstaller), FALSE);
                AppendLogLine(g_log.logFile, LOG_FILE, finalLog, !PathExists(finalLog), FALSE);
            }
            g_install.filesPendingReplace = ListCount(g_install.pendingTempFiles) != 0;
            if (g_install.filesPendingReplace) {
                if (g_install.restartNow) {
                    g_install.filesPendingReplace = FALSE;
                } else {
                    g_install.restartRequired = g_install.restartNow = TRUE;
                    g_wizard.launchEnabled[0] = g_wizard.launchEnabled[1] = FALSE;
                }
            }
            ShowLine(run.page, IDC_FILE_TEXT, "");
            if (ListCount(g_workLists[WORK_SHORTCUTS]))
                ShowStep(&run, INSTALLING_TEXT_SHORTCUTS);
            goOn = RunLines(&run, g_workLists[WORK_SHORTCUTS], ShortcutStep);
            ShowLine(run.page, IDC_FILE_TEXT, "");
        }
        if (goOn && (ListCount(g_workLists[WORK_REGISTRY_VALUES]) || placeUninstaller))
            ShowStep(&run, INSTALLING_TEXT_REGISTRY);
        goOn = goOn && RunLines(&run, g_workLists[WORK_REGISTRY_VALUES], InstallRegistryLine);
        if (goOn && ListCount(g_workLists[WORK_INI_ENTRIES]))
            ShowStep(&run, INSTALLING_TEXT_INI_ENTRIES);
        goOn = goOn && RunLines(&run, g_workLists[WORK_INI_ENTRIES], InstallIniLine);
        if (goOn && ListCount(g_workLists[WORK_ASSOCIATIONS]))
            ShowStep(&run, INSTALLING_TEXT_ASSOCIATIONS);
        goOn = goOn && RunLines(&run, g_workLists[WORK_ASSOCIATIONS], InstallAssociationLine);
        if (goOn) {
            ShowStep(&run, INSTALLING_TEXT_FINISHING);
            if (CheckPoint(&run)) {
                // The point of no return: from here on nothing is rolled back.
                SetEvent(g_app.installDoneEvent);
                failed = FALSE;
                LogRunList(g_workLists[WORK_UNINSTALL_PROGRAMS], LOG_PROGRAM);
                LogRunList(g_workLists[WORK_UNINSTALL_DLL_CALLS], LOG_DLL_CALL);
                if (placeUninstaller)
                    WriteUninstallEntry(uninstaller);
            }
        }
    }

    CloseTemporaryLog();
    if (!failed && placeUninstaller) {
        WriteFinalLog(finalLog);
        SetFileAttributesA(uninstaller, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(uninstaller);
        // The image was a temporary file; the uninstaller is an ordinary one.
        if (MoveFileA(uninstallerImage, uninstaller))
            SetFileAttributesA(uninstaller, FILE_ATTRIBUTE_NORMAL);
    } else if (!failed) {
        DeleteTemporaryLog();
    }
    if (uninstallerImage)
        DeleteFileA(uninstallerImage);
    FreeMem(uninstallerImage);
    FreeMem(uninstaller);
    FreeMem(finalLog);
    if (failed) {
        for (int i = 0; i < ListCount(g_install.pendingTempFiles); i++)
            DeleteFileA(ListGet(g_install.pendingTempFiles, i));
        ListClear(g_install.pendingTempFiles);
        RunUninstaller(TRUE);
        PostMessageA(GetParent(run.page), WM_INSTALL_FAILED, 0, 0);
    } else {
        CommitPending();
        PostMessageA(GetParent(run.page), WM_COMMAND, IDC_NEXT, 0);
    }
    OleUninitialize();
    return 0;
}

void StartInstallWorker(HWND page)
{
    // The worker only ever clears it, item by item.
    g_install.installOk = TRUE;
    g_app.workerThread = CreateThread(0, 0, InstallWorker, page, 0, &g_app.workerThreadId);
    if (!g_app.workerThread)
        PostMessageA(GetParent(page), WM_INSTALL_FAILED, 0, 0);
}
