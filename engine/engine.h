// Installation engine: page actions, programs, file replacement.
#pragma once
#include "../startup/app_state.h"

void RunPageActions(StringList* programs, StringList* dllCalls);
void LaunchProgram(const char* program);
void ScheduleDeleteAtRestart(const char* path);
// The installation's error question: message MESSAGE of the script with up
// to three arguments; TRUE when the user answers Yes and the installation
// goes on without the item.
BOOL AskToContinue(HWND owner, int message, const char* first, const char* second, const char* third);
// Starts the install worker for the installing page PAGE, which it reports to.
void StartInstallWorker(HWND page);
