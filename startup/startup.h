// The spine of the process: start-up steps, run modes and cleanup.
#pragma once
#include "../support/support.h"

// The start-up steps. The entry point runs all but STARTUP_DRAWING, which
// needs the script's or the log's colours and fonts.
enum StartupStepNumber {
    STARTUP_GLOBALS,         // the heap, system functions, events, lists, folders, detections
    STARTUP_DRAWING,         // palette, fonts, brushes
    STARTUP_LANGUAGE_NAMES,
    STARTUP_MODULE_PATH,
    STARTUP_MODULE_FOLDER,
    STARTUP_TEMP_FOLDER,
    STARTUP_MODULE_FILE,
};
BOOL StartupStep(int step);
void Cleanup();
void RunInstaller();
void RunUninstallerMode();
// A colour word of the script: a COLORREF, or a system colour by flag.
COLORREF ResolveColorWord(COLORREF word);
