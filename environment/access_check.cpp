// Access checks of folders and keys through functions of ADVAPI32 looked up at run time.
#include "environment.h"

BOOL LoadAccessCheckFunctions()
{
    return TRUE;
}

void UnloadAccessCheckFunctions()
{
}
