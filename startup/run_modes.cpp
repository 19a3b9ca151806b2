// Installer mode from the loaded script to the finishing actions, and the
// uninstaller mode of a file without a package.
#include "startup.h"
#include "app_state.h"
#include "../package/package.h"
#include "../script/script.h"
#include "../environment/environment.h"
#include "../wizard/wizard.h"
#include "../engine/engine.h"
#include "../uninstall/uninstall.h"
#include "../resources/ids.h"

static BOOL Signalled(HANDLE event)
{
    return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

static BOOL ShowRequirementNotice()
{
    int text = 0;
    switch (CheckRequirements()) {
    case REQUIREMENTS_MET:
        return TRUE;
    case REQUIREMENT_ADMIN:
        text = WIZARD_NEEDS_ADMINISTRATOR;
        break;
    case REQUIREMENT_NT:
        text = WIZARD_NEEDS_NT;
        break;
    default:
        text = WIZARD_NEEDS_RELEASE;
        break;
    }
    // The release notice's %s: the missing...Name that the check set points at releaseName.
    ShowMessage1(0, g_product.captionText, GetText(g_product.textsWizard, text), g_requirements.releaseName, MB_ICONEXCLAMATION);
    SetExitCode(ERROR_INSTALL_PLATFORM_UNSUPPORTED);
    return FALSE;
}

// "/D=" replaces the destination that the script and the previous
// installation give; a path that is not whole (a drive or a server) ends
// the run as the destination page would refuse it.
static BOOL TakeDestinationArgument()
{
    if (!g_app.destinationArgument)
        return TRUE;
    char* path = DupTrimmed(g_app.destinationArgument);
    if (!path)
        return FALSE;
    // Quotes that a tool put around it anyway.
    char* start = path;
    int n = lstrlenA(path);
    if (n > 1 && path[0] == '"' && path[n - 1] == '"') {
        path[n - 1] = 0;
        start++;
    }
    StripTrailingSlash(start);
    BOOL valid = IsValidInstallPath(start);
    if (valid) {
        SetVariable("%InstallPath%", start);
    } else {
        ShowMessage1(0, g_product.captionText, GetText(g_product.textsWizard, WIZARD_INVALID_FOLDER), 0, MB_ICONERROR);
        SetExitCode(ERROR_INVALID_COMMAND_LINE);
    }
    FreeMem(path);
    return valid;
}

void RunInstaller()
{
    InterpretScript(g_package.script, g_package.scriptSize);
    // Unattended, the wizard runs hidden and nothing else is shown.
    if (g_unattended)
        g_appearance.backgroundEnabled = FALSE;
    if (!TakeDestinationArgument() || !ShowRequirementNotice())
        return;
    if (!PageSlotsUsable()) {
        ReportDamagedPackage();
        return;
    }
    RunPageActions(g_workLists[WORK_BEFORE_PROGRAMS], g_workLists[WORK_BEFORE_DLL_CALLS]);
    StartupStep(STARTUP_DRAWING);
    g_wizard.wizardParent = g_appearance.backgroundEnabled ? CreateBackgroundWindow() : GetDesktopWindow();
    DLGTEMPLATE* frame = (DLGTEMPLATE*)DialogTemplate(IDD_FRAME + g_appearance.layoutOffset);
    // Unattended, the frame runs its pages without ever being shown.
    if (frame && g_unattended)
        frame->style &= ~WS_VISIBLE;
    g_wizard.frameWindow = CreateDialogIndirectParamA(g_app.instance, frame, g_wizard.wizardParent, WizardFrameProc, 0);
    MSG msg;
    // Without a frame (no memory for the templates) there is nothing to wait
    // for. A result of -1 (an invalid call) ends the loop as WM_QUIT does.
    if (g_wizard.frameWindow)
        while (GetMessageA(&msg, 0, 0, 0) > 0)
            if (!g_wizard.frameWindow || !IsDialogMessageA(g_wizard.frameWindow, &msg))
                DispatchMessageA(&msg);

    if (g_wizard.lastPageIndex != -1) {
        int first = g_wizard.lastPageIndex == INSTALLER_SLOT_COUNT ? SLOT_FINISH : g_wizard.lastPageIndex;
        for (int page = first; page < INSTALLER_SLOT_COUNT; page++)
            RunPageActions(g_pages[page].programs, g_pages[page].dllCalls);
    }
    HWND owner = g_wizard.wizardParent;
    UINT modal = g_appearance.backgroundEnabled ? 0 : MB_SYSTEMMODAL;
    BOOL finishPage = g_pages[SLOT_FINISH].enabled;
    BOOL restart = FALSE;
    if (Signalled(g_app.installDoneEvent)) {
        if (!g_install.installOk && !finishPage)
            ShowMessage1(owner, g_product.captionText, GetText(g_product.textsWizard, WIZARD_PARTLY_INSTALLED), 0,
                         MB_ICONEXCLAMATION | modal);
        if (g_install.restartRequired) {
            BOOL filesInUse = g_install.filesPendingReplace && ListCount(g_install.pendingTempFiles);
            const char* question =
                GetText(g_product.textsWizard, filesInUse ? WIZARD_RESTART_FOR_FILES_IN_USE : WIZARD_RESTART_QUESTION);
            if (finishPage && g_install.restartNow)
                restart = TRUE;
            else if (finishPage)
                ShowMessage1(owner, g_product.captionText, GetText(g_product.textsWizard, WIZARD_RESTART_BEFORE_USE),
                             g_product.productName, modal);
            else if (g_install.restartNow)
                restart = ShowMessage1(owner, g_product.captionText, question, 0, MB_ICONQUESTION | MB_YESNO | modal) == IDYES;
        } else if (!g_unattended) {
            for (int i = 1; i >= 0; i--)
                if (g_wizard.launchEnabled[i])
                    LaunchProgram(g_wizard.launchPrograms[i]);
        }
        // Unattended, the restart is left to whoever started the run.
        if (!g_install.installOk)
            SetExitCode(ERROR_INSTALL_FAILURE);
        if (g_install.restartRequired) {
            SetExitCode(ERROR_SUCCESS_REBOOT_REQUIRED);
            restart &= !g_unattended;
        }
    } else {
        // Ended before the installation was complete; a cancel said so first.
        SetExitCode(ERROR_INSTALL_FAILURE);
    }
    if (g_appearance.backgroundEnabled)
        DestroyWindow(g_wizard.wizardParent);
    if (restart && !RestartWindows(FALSE))
        ShowMessage1(owner, g_product.captionText, GetText(g_product.textsMessages, MESSAGE_CANNOT_RESTART), 0,
                     MB_ICONERROR | modal);
}

// The end of a removal: the restart question when files wait for one, else
// the message that the product is gone when nothing was left.
static void ReportRemoval(BOOL relocated)
{
    const char* caption = GetText(g_pages[SLOT_UNINSTALLER].texts, UNINSTALLER_TEXT_CAPTION);
    if (ListCount(g_uninstall.restartDeletes)) {
        // A restart may come before the self-deletion batch has run.
        if (relocated)
            ListAppend(g_uninstall.restartDeletes, g_app.modulePath);
        for (int i = 0; i < ListCount(g_uninstall.restartDeletes); i++)
            ScheduleDeleteAtRestart(ListGet(g_uninstall.restartDeletes, i));
        SetExitCode(ERROR_SUCCESS_REBOOT_REQUIRED);
        if (ShowMessage1(0, caption,
                         "要完成卸载过程，您必须重新启动您的计算机！请注意保存您的数据！  \n"
                         "一些文件正被其它软件使用，它们只能在您重新启动计算机后才能被删除。  \n\n"
                         "立即重启您的计算机吗？ ",
                         0, MB_ICONQUESTION | MB_YESNO) == IDYES
            && !RestartWindows(FALSE))
            ShowMessage1(0, g_product.captionText, GetText(g_product.textsMessages, MESSAGE_CANNOT_RESTART), 0,
                         MB_ICONERROR | MB_SYSTEMMODAL);
    } else if (!ListCount(g_uninstall.leftovers)) {
        ShowMessage1(0, caption, "软件 %s 已经完全从您的电脑中删除了！                ",
                     GetText(g_pages[SLOT_UNINSTALLER].texts, UNINSTALLER_TEXT_PRODUCT), MB_OK);
    }
}

void RunUninstallerMode()
{
    CloseHandle(g_package.moduleFile);
    g_package.moduleFile = 0;
    BOOL relocated = RunUninstaller(0);
    if (Signalled(g_app.uninstallDoneEvent))
        ReportRemoval(relocated);
    if (relocated)
        StartSelfDeletion();
}
