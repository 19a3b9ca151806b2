// The spine of the process: start-up steps, run modes and cleanup.
#pragma once
#include "app_state.h"

BOOL StartupStep(int step);
void Cleanup();
void RunInstaller();
void RunUninstallerMode();
// A colour word of the script: a COLORREF, or a system colour by flag.
COLORREF ResolveColorWord(COLORREF word);
