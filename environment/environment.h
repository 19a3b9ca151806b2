// Environment probing: special folders, component detection, requirements, restart.
#pragma once
#include "../startup/app_state.h"

BOOL LoadAccessCheckFunctions();
void UnloadAccessCheckFunctions();
BOOL LoadShellFolderFunctions();
void UnloadShellFolderFunctions();
char* ResolveFolderMacro(int index);
void RunComponentDetections();

enum { REQUIREMENTS_MET, REQUIREMENT_ADMIN, REQUIREMENT_NT, REQUIREMENT_WINDOWS,
       REQUIREMENT_IE, REQUIREMENT_DIRECTX, REQUIREMENT_ACCESS };
// Returns one of the results above; *name receives the required release's name.
int CheckRequirements(const char** name);
BOOL RestartWindows();
