// Installation engine: page actions, programs, file replacement.
#pragma once
#include "../support/support.h"

// What an installation came to, for the finish page and the finishing:
// written by the script (the restart option), the worker and the finish
// page. installOk is TRUE while nothing was skipped.
struct InstallResults {
    BOOL installOk, restartRequired, restartNow, filesPendingReplace;
    StringList* pendingTempFiles;  // files in use: the new file's temporary copy,
    StringList* pendingTargets;    // the path it replaces at the next restart,
    StringList* pendingFlags;      // "1" for a shared file, else "0"
};
extern InstallResults g_install;

void RunPageActions(StringList* programs, StringList* dllCalls);
void LaunchProgram(const char* program);
void ScheduleDeleteAtRestart(const char* path);
// The installation's error question: message MESSAGE of the script with up
// to three arguments. Whatever the answer, the installation is no longer
// complete (installOk); TRUE when the user answers Yes and it goes on
// without the item, FALSE when it stops.
BOOL AskToContinue(HWND owner, int message, const char* first, const char* second, const char* third);
// One run of the install worker, shared by its stages.
struct InstallRun {
    HWND page, progressBar;
    BOOL cancelled;      // the frame posted WM_QUIT: every later stage is skipped
};
// Gives the calling worker thread its message queue, so that a cancellation
// posted to it is never lost.
void CreateWorkerQueue();
// The user interface's side of a question that may end the work: HoldWorker
// stops the worker at its next check point, ReleaseWorker lets it go on, or
// end when QUIT.
void HoldWorker();
void ReleaseWorker(BOOL quit);
// A worker's check: waits while it is held; TRUE when the user chose to quit.
BOOL QuitRequested();
// QuitRequested for the install worker; FALSE once cancelled.
BOOL CheckPoint(InstallRun* run);
// Sets the line ID of the installing page PAGE: IDC_STEP_TEXT, or
// IDC_FILE_TEXT, whose style puts an ellipsis in the middle of a path too
// wide for it.
void ShowLine(HWND page, int id, const char* text);
// The file stage: FALSE when the installation stops or was cancelled.
BOOL RunFileStage(InstallRun* run);
// Starts the install worker for the installing page PAGE, which it reports to.
void StartInstallWorker(HWND page);
