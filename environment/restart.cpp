// Restarting Windows when the installation or removal needs it.
#include "environment.h"

BOOL RestartWindows()
{
    return FALSE;
}
