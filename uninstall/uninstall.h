// The uninstaller: start-up from the install log, relocation, rollback, and
// the worker that undoes the log.
#pragma once
#include "../support/support.h"

// The removal, and the rollback: the log read whole and its first action
// line, the answer that deletes every shared file, and what the removal
// could not take away.
struct UninstallState {
    char* logText;
    char* logBody;
    BOOL deleteAllShared;
    StringList* restartDeletes;   // files in use, deleted at the next restart
    StringList* leftovers;        // folders that were not empty
};
extern UninstallState g_uninstall;

// TRUE when this process runs from a file in the temporary folder (the
// relocated copy, or an unattended installed copy moved out of the
// removal's way), which it ends with StartSelfDeletion.
BOOL RunUninstaller(BOOL rollback);
void StartSelfDeletion();
// Undoes the action lines from logBody, the last first. WINDOW is the
// uninstaller dialog, or null for the rollback of a failed installation.
DWORD WINAPI UninstallWorker(LPVOID window);

// The question whether to delete the shared file PATH, which no program
// counts any more; OWNER may be null. The answer is the button's id: IDOK
// (Yes), IDC_YES_TO_ALL or IDCANCEL (No).
int AskSharedFile(HWND owner, const char* path);
