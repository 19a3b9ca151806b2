// FolderMacros: <Name> tokens for the special folders, replaced by the paths
// that start-up resolved into folderMacroPaths (an unresolved one is empty).
#include "script.h"

// One packed string instead of a table of 35 pointers.
const char kFolderMacroTokens[] =
    "<AppData>\0<CommonAppData>\0<CommonDesktop>\0<CommonFavorites>\0<CommonFiles>\0"
    "<CommonPrograms>\0<CommonStartMenu>\0<CommonStartup>\0<CommonTemplates>\0<Desktop>\0"
    "<IE>\0<Favorites>\0<Fonts>\0<MSAccess>\0<NetHood>\0<Documents>\0<ProgramFiles>\0"
    "<Programs>\0<QuickLaunch>\0<SentTo>\0<StartMenu>\0<StartUp>\0<System>\0<Temp>\0"
    "<Template>\0<Windows>\0<UserProfile>\0<AllUsers>\0<CommonDocuments>\0<CommonPictures>\0"
    "<CommonMusic>\0<CommonVideo>\0<Pictures>\0<Music>\0<Video>\0";

char* ExpandFolderMacros(const char* text)
{
    char* result = DupString(text, 0);
    int i = 0;
    for (const char* token = kFolderMacroTokens; *token; token += lstrlenA(token) + 1, i++)
        result = ReplaceInPlace(result, token, ListGet(g_app.lists.folderMacroPaths, i));
    return result;
}
