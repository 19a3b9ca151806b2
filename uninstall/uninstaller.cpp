// The uninstaller's start-up: finds and reads the install log and its
// header, and rolls a failed installation back from its temporary log.
#include "uninstall.h"
#include "../startup/app_state.h"
#include "../startup/startup.h"
#include "../engine/install_log.h"
#include "../resources/ids.h"
#include "../script/script.h"
#include "../wizard/wizard.h"

UninstallState g_uninstall;

// A relocated copy gets its log as its argument, and *RELOCATED is set;
// otherwise the log lies beside the program, with the program's name and
// the extension ".log".
static char* LocateLog(BOOL* relocated)
{
    char* argument = DupTrimmed(g_app.commandArgument);
    if (!argument)
        return 0;
    int n = lstrlenA(argument);
    if ((*relocated = n > 4 && SameText(argument + n - 4, ".log")))
        return argument;
    FreeMem(argument);
    char* title = FileTitle(g_app.modulePath);
    char* path = JoinStrings(g_app.moduleFolder, "\\", title, ".log");
    FreeMem(title);
    return path;
}

// Header line 4: the layout, colours and fonts of the installer's wizard.
static void ReadAppearance(const char* line)
{
    // Where fields 1 to 8 go; fields 5 and 7 are font faces, the others numbers.
    static void* const kFields[] = {
        &g_appearance.decorationColor, &g_appearance.headerColor,    &g_appearance.bodyColor,
        &g_appearance.bandColor,       g_appearance.titleFontFace,   &g_appearance.titleTextColor,
        g_appearance.bodyFontFace,     &g_appearance.bodyTextColor,
    };
    SplitCsv(line, FALSE);
    g_appearance.layoutOffset = lstrcmpA(CsvField(0), "0") ? LAYOUT_SMALL_OFFSET : 0;
    for (int i = 1; i < 9; i++) {
        void* field = kFields[i - 1];
        if (i == 5 || i == 7)
            lstrcpynA((char*)field, CsvField(i), LF_FACESIZE);
        else
            *(COLORREF*)field = ParseNumber(CsvField(i));
    }
}

// One removal of a product at a time: the installed copy takes a mutex
// named after the log before it asks, and its relocated copy inherits a
// handle to it (below) that lives as long as that process. FALSE when
// another removal of this log holds it.
static HANDLE s_removalMutex;

static BOOL TakeRemovalMutex(const char* logPath)
{
    // Mutex names cannot hold "\"; the same log may be named in any case.
    char* name = JoinStrings("Quillset removal ", logPath);
    if (!name)
        return TRUE;
    for (char* c = name; *c; c++)
        if (*c == '\\')
            *c = '/';
    CharUpperA(name);
    SetLastError(0);
    s_removalMutex = CreateMutexA(0, FALSE, name);
    FreeMem(name);
    return GetLastError() != ERROR_ALREADY_EXISTS;
}

// Copies the program to a new file in the temporary folder and starts it
// there with the log as its argument, so that this copy and its folder can
// go. Failures end the uninstallation without a word.
// Unattended, this copy waits for the removal and ends with its code, so
// that whoever started it knows when the removal is over. A running
// program's file cannot be deleted, but it can be renamed on its volume:
// it moves to the temporary folder out of the removal's way (the result is
// TRUE, and the program's path its new one), and back if no copy started.
static BOOL Relocate(const char* logPath)
{
    char* copy = CreateTempFile(g_app.tempFolder);
    char* aside = 0;
    char* arguments = JoinStrings(g_unattended ? " /S " : " ", logPath);
    HANDLE process = 0, inherited;
    BOOL movedAside = FALSE;
    if (copy && arguments && CopyFileA(g_app.modulePath, copy, FALSE)) {
        if (g_unattended) {
            aside = CreateTempFile(g_app.tempFolder);
            // The name is taken; the move needs it free.
            movedAside = aside && DeleteFileA(aside) && MoveFileA(g_app.modulePath, aside);
        }
        process = StartProcess(copy, arguments,
                               CREATE_DEFAULT_ERROR_MODE | CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS,
                               g_app.tempFolder, STARTF_FORCEONFEEDBACK, 0);
        if (!process && movedAside)
            movedAside = !MoveFileA(aside, g_app.modulePath);
    }
    // The copy never uses the handle: holding it is the whole point.
    if (process && s_removalMutex)
        DuplicateHandle(GetCurrentProcess(), s_removalMutex, process, &inherited, 0, FALSE, DUPLICATE_SAME_ACCESS);
    DWORD code = ERROR_INSTALL_FAILURE;
    if (process) {
        if (g_unattended)
            WaitForSingleObject(process, INFINITE);
        GetExitCodeProcess(process, &code);
    }
    SetExitCode(code);
    if (movedAside)
        lstrcpyA(g_app.modulePath, aside);
    CloseHandle(process);
    FreeMem(arguments);
    FreeMem(aside);
    FreeMem(copy);
    return movedAside;
}

// A hidden batch deletes this relocated copy once the process has ended,
// then itself. It tries once a second, thirty times at most: a copy that
// something else holds open stays in the temporary folder rather than
// keeping a command interpreter busy for ever. The counter grows by a
// letter, which the command interpreters of every Windows understand.
// Started as the process's last act, when it has nothing left to show, so
// that no message box left open outlasts the tries; without a console
// window of its own, which the programs it runs would share.
void StartSelfDeletion()
{
    // Named after the copy: an unattended removal has two copies to delete.
    char* batch = JoinStrings(g_app.modulePath, ".bat");
    char* text = JoinStrings("@echo off\r\nset n=\r\n:try\r\ndel \"", g_app.modulePath, "\"\r\nif not exist \"",
                             g_app.modulePath, "\" goto done\r\n");
    char* script = JoinStrings(text,
                               "set n=%n%x\r\nif \"%n%\"==\"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\" goto done\r\n"
                               "ping -n 2 127.0.0.1 >nul\r\ngoto try\r\n:done\r\ndel \"",
                               batch, "\"");
    HANDLE file = batch && script ? CreateFileA(batch, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, 0, CREATE_ALWAYS,
                                                FILE_FLAG_WRITE_THROUGH | FILE_FLAG_SEQUENTIAL_SCAN, 0)
                                  : INVALID_HANDLE_VALUE;
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written;
        WriteFile(file, script, lstrlenA(script), &written, 0);
        CloseHandle(file);
        SetFileAttributesA(batch, FILE_ATTRIBUTE_NORMAL);
        CloseHandle(StartProcess(0, batch, CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS, 0, STARTF_USESHOWWINDOW, SW_HIDE));
    }
    FreeMem(script);
    FreeMem(text);
    FreeMem(batch);
}

// The relocated copy's dialog: removal, progress and the leftover view.
static void ShowUninstallerDialog(const char* caption)
{
    PageRecord* page = &g_pages[SLOT_UNINSTALLER];
    page->dialogId = IDD_UNINSTALLER + g_appearance.layoutOffset;
    StringList* texts = page->texts[g_product.languageId];
    char* removing = (char*)AllocMem(MESSAGE_BUFFER_SIZE);
    if (removing)
        ComposeMessage(removing, "正在从您的计算机中删除 %s 这个软件的所有部分，请您稍候.", g_product.productFullName, 0, 0);
    ListSetAt(texts, UNINSTALLER_TEXT_CAPTION, caption);
    ListSetAt(texts, UNINSTALLER_TEXT_HEADING, "应用程序卸载       ");
    ListSetAt(texts, UNINSTALLER_TEXT_REMOVING, removing);
    ListSetAt(texts, UNINSTALLER_TEXT_PRODUCT, g_product.productFullName);
    FreeMem(removing);
    const DLGTEMPLATE* dialog = DialogTemplate(page->dialogId);
    if (dialog)
        DialogBoxIndirectParamA(g_app.instance, dialog, 0, UninstallerDialogProc, SLOT_UNINSTALLER);
}

BOOL RunUninstaller(BOOL rollback)
{
    BOOL relocated = FALSE;
    char* path = rollback ? DupString(g_log.tempLogPath, 0) : LocateLog(&relocated);
    if (!rollback && !relocated && path && !TakeRemovalMutex(path)) {
        ShowMessage1(0, kRuntimeCaption, "卸载程序已经在运行，请等待它结束。", 0, MB_ICONEXCLAMATION);
        SetExitCode(ERROR_INSTALL_ALREADY_RUNNING);
        FreeMem(path);
        return FALSE;
    }
    char* text = ReadWholeFile(path);
    // The rollback's log is the running installation's own temporary file:
    // read or not, it goes.
    if (rollback)
        DeleteFileA(path);
    char* lines[LOG_HEADER_LINES];
    char* rest = text;
    if (CutLogHeader(&rest, lines)) {
        g_uninstall.logText = text;
        g_uninstall.logBody = rest;
        if (rollback || (relocated && g_unattended)) {
            // The header repeats what this run's wizard shows, which goes on
            // using its own texts while the worker runs; an unattended
            // removal shows nothing.
            DWORD id;
            HANDLE worker = CreateThread(0, 0, UninstallWorker, 0, 0, &id);
            if (worker) {
                WaitForSingleObject(worker, INFINITE);
                CloseHandle(worker);
            }
        } else {
            g_product.productFullName = DupString(lines[1], 0);
            g_product.productName = DupString(lines[2], 0);
            ReadAppearance(lines[3]);
            StartupStep(STARTUP_DRAWING);
            char caption[MESSAGE_BUFFER_SIZE];
            ComposeMessage(caption, "%s 卸载程序 ", g_product.productName, 0, 0);
            if (relocated)
                ShowUninstallerDialog(caption);
            else if (g_unattended
                     || ShowMessage1(0, caption, "您真的要从您的计算机中完全删除 %s 这个软件吗？",
                                     g_product.productFullName, MB_YESNO | MB_ICONQUESTION)
                            == IDYES)
                relocated = Relocate(path);
        }
        g_uninstall.logText = g_uninstall.logBody = 0;
    } else if (!rollback) {
        // Someone chose to remove the product: say why nothing happens.
        ShowMessage1(0, kRuntimeCaption, "安装日志 %s 丢失或已损坏，无法卸载。", path, MB_ICONERROR);
        SetExitCode(ERROR_INSTALL_FAILURE);
    }
    FreeMem(text);
    FreeMem(path);
    return relocated;
}
