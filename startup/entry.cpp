// The entry point: start-up steps, the choice between installer and
// uninstaller, the message loop and the finishing. The exit code is always 0.
#include "startup.h"
#include "../package/package.h"
#include "../script/script.h"
#include "../environment/environment.h"
#include "../wizard/wizard.h"
#include "../engine/engine.h"
#include "../uninstall/uninstall.h"

AppState g_app;

static void Finish()
{
    Cleanup();
    ExitProcess(0);
}

extern "C" void __stdcall Start()
{
    static const BYTE kOrder[] = { 0, 2, 5, 3, 4, 6 };
    for (int i = 0; i < 6; i++)
        if (!StartupStep(kOrder[i]) && kOrder[i] != 2)
            Finish();
    switch (LoadPackage()) {
    case PACKAGE_LOADED:
        RunInstaller();
        break;
    case PACKAGE_ABSENT:
        RunUninstallerMode();
        break;
    case PACKAGE_FAILED:
        break;
    }
    Finish();
}
