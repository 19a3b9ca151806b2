// Cleanup: releases everything that lives for the whole process; the private
// heap goes last, and with it every string and list of the run state.
#include "startup.h"
#include "app_state.h"
#include "../environment/environment.h"
#include "../package/package.h"
#include "../wizard/wizard.h"
#include "../engine/install_log.h"

static void CloseIfOpen(HANDLE* handle)
{
    if (*handle)
        CloseHandle(*handle);
    *handle = 0;
}

void Cleanup()
{
    HGDIOBJ objects[] = { g_drawing.uiPalette, g_drawing.bodyFont, g_drawing.titleFont, g_drawing.headerBrush,
                          g_drawing.bodyBrush, g_drawing.bandBrush, g_drawing.stripeBrush, g_drawing.stripePen };
    for (DWORD i = 0; i < sizeof(objects) / sizeof(objects[0]); i++)
        if (objects[i])
            DeleteObject(objects[i]);
    if (g_app.richEditLibrary)
        FreeLibrary(g_app.richEditLibrary);
    CloseIfOpen(&g_package.moduleFile);
    CloseIfOpen(&g_log.logFile);
    CloseIfOpen(&g_app.uninstallDoneEvent);
    CloseIfOpen(&g_app.installDoneEvent);
    CloseIfOpen(&g_app.pauseEvent);
    CloseIfOpen(&g_app.accessToken);
    UnloadShellFolderFunctions();
    UnloadAccessCheckFunctions();
    FreeDialogTemplates();
    DestroyPrivateHeap();
}
