// Cleanup: releases everything that lives for the whole process; the private
// heap goes last, and with it every string and list of the run state.
#include "startup.h"
#include "../environment/environment.h"
#include "../package/package.h"
#include "../wizard/wizard.h"

static void CloseIfOpen(HANDLE* handle)
{
    if (*handle)
        CloseHandle(*handle);
    *handle = 0;
}

void Cleanup()
{
    HGDIOBJ objects[] = { g_app.uiPalette, g_app.bodyFont, g_app.titleFont, g_app.headerBrush,
                          g_app.bodyBrush, g_app.bandBrush, g_app.stripeBrush, g_app.stripePen };
    for (DWORD i = 0; i < sizeof(objects) / sizeof(objects[0]); i++)
        if (objects[i])
            DeleteObject(objects[i]);
    if (g_app.richEditLibrary)
        FreeLibrary(g_app.richEditLibrary);
    CloseIfOpen(&g_package.moduleFile);
    CloseIfOpen(&g_app.logFile);
    CloseIfOpen(&g_app.uninstallDoneEvent);
    CloseIfOpen(&g_app.installDoneEvent);
    CloseIfOpen(&g_app.pauseEvent);
    CloseIfOpen(&g_app.accessToken);
    UnloadShellFolderFunctions();
    UnloadAccessCheckFunctions();
    FreeDialogTemplates();
    DestroyPrivateHeap();
}
