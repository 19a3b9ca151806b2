// FolderMacros: <Name> tokens for the special folders, replaced by the paths
// that start-up resolved into folderMacroPaths (an unresolved one is empty).
#include "script.h"

// One packed string instead of a table of 35 pointers.
const char kFolderMacroTokens[] = FOLDER_MACRO_TOKENS;

char* ExpandFolderMacros(const char* text)
{
    char* result = DupString(text, 0);
    int i = 0;
    for (const char* token = kFolderMacroTokens; *token; token += lstrlenA(token) + 1, i++)
        result = ReplaceInPlace(result, token, ListGet(g_workLists[WORK_FOLDER_MACRO_PATHS], i));
    return result;
}
