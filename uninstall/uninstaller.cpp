// The uninstaller's main routine.
#include "uninstall.h"

void RunUninstaller(BOOL)
{
}
