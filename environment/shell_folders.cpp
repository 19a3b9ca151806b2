// Special folders behind the FolderMacro tokens.
#include "environment.h"

BOOL LoadShellFolderFunctions()
{
    return TRUE;
}

void UnloadShellFolderFunctions()
{
}

char* ResolveFolderMacro(int)
{
    return DupString("", 0);
}
