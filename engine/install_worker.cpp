// The install worker, started by the installing page. Until files are
// extracted here it reports an installation that succeeded at once.
#include "engine.h"
#include "../resources/ids.h"

void StartInstallWorker(HWND page)
{
    g_app.installOk = TRUE;
    PostMessageA(GetParent(page), WM_COMMAND, IDC_NEXT, 0);
}
