// Cleanup: releases everything that lives for the whole process; the private
// heap goes last.
#include "startup.h"
#include "../environment/environment.h"
#include "../wizard/wizard.h"

static void DestroyTable(TextTable table, int count)
{
    for (int i = 0; i < count; i++)
        ListDestroy(&table[i]);
}

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
    char* strings[] = { g_app.modulePath, g_app.moduleFolder, g_app.tempFolder, g_app.productName,
                        g_app.productFullName, g_app.captionText, g_app.licenceText, g_app.infoText,
                        g_app.launchPrograms[0], g_app.launchPrograms[1], (char*)g_app.script,
                        g_app.requiredWindows, g_app.requiredDirectX, g_app.requiredIE, g_app.requiredAccess,
                        g_app.tempLogPath };
    for (DWORD i = 0; i < sizeof(strings) / sizeof(strings[0]); i++)
        FreeMem(strings[i]);
    if (g_app.richEditLibrary)
        FreeLibrary(g_app.richEditLibrary);
    ListDestroy(&g_app.csvFields);
    ListDestroy(&g_app.languageList);
    DestroyTable((StringList**)&g_app.lists, sizeof(g_app.lists) / sizeof(StringList*));
    DestroyTable(g_app.textsWizard, LANGUAGE_COUNT);
    DestroyTable(g_app.textsMessages, LANGUAGE_COUNT);
    DestroyTable(g_app.textsExtra, LANGUAGE_COUNT);
    for (int p = 0; p < PAGE_COUNT; p++)
        DestroyTable(g_app.pages[p].texts, LANGUAGE_COUNT + 2);
    CloseIfOpen(&g_app.moduleFile);
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
