// The install worker, started by the installing page. Until files are
// extracted here it reports an installation that succeeded at once.
#include "engine.h"
#include "../script/script.h"
#include "../resources/ids.h"

BOOL AskToContinue(HWND owner, int message, const char* first, const char* second, const char* third)
{
    return ShowMessage3(owner, g_app.captionText, GetText(g_app.textsMessages, message), first, second, third,
                        MB_YESNO | MB_ICONSTOP) == IDYES;
}

void StartInstallWorker(HWND page)
{
    g_app.installOk = TRUE;
    PostMessageA(GetParent(page), WM_COMMAND, IDC_NEXT, 0);
}
