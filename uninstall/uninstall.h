// The uninstaller: start-up from the install log, relocation, rollback.
#pragma once
#include "../startup/app_state.h"

void RunUninstaller(BOOL rollback);
