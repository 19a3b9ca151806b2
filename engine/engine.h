// Installation engine: page actions, programs, file replacement.
#pragma once
#include "../startup/app_state.h"

void RunPageActions(StringList* programs, StringList* dllCalls);
void LaunchProgram(const char* program);
void ScheduleDeleteAtRestart(const char* path);
// Starts the install worker for the installing page PAGE, which it reports to.
void StartInstallWorker(HWND page);
