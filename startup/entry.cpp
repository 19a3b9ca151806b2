// The entry point: start-up steps, the choice between installer and
// uninstaller, the message loop and the finishing. The exit code is 0 but
// for unattended runs.
#include "startup.h"
#include "app_state.h"
#include "../package/package.h"
#include "../script/script.h"
#include "../environment/environment.h"
#include "../wizard/wizard.h"
#include "../engine/engine.h"
#include "../uninstall/uninstall.h"

#ifdef _WIN64
extern decltype(&MessageBoxA) g_messageBox asm("__imp_MessageBoxA");
#else
extern decltype(&MessageBoxA) g_messageBox asm("__imp__MessageBoxA@16");
#endif

static void Finish()
{
    Cleanup();
    ExitProcess(ExitCode());
}

// As deployment tools start installers: "/S" alone, then "/D=" and the
// destination to the end of the line, unquoted, blanks and all. The
// relocated uninstaller gets "/S" and its log the same way.
static void ReadCommandLine()
{
    const char* s = GetCommandLineA();
    if (*s == '"') {
        s = FindChar(s + 1, '"', -1, TRUE);
        s = s ? s + 1 : "";
    } else {
        while ((BYTE)*s > ' ')
            s++;
    }
    for (;;) {
        while ((BYTE)(*s - 1) < ' ')   // blanks and control characters, not the end
            s++;
        if (s[0] != '/' || (s[1] | 0x20) != 's' || (BYTE)s[2] > ' ')
            break;
        g_unattended = TRUE;
        s += 2;
    }
    if (s[0] == '/' && (s[1] | 0x20) == 'd' && s[2] == '=')
        g_app.destinationArgument = s + 3;
    else if (*s)
        g_app.commandArgument = s;
}

extern "C" void __stdcall Start()
{
    if (const char* missing = ResolveSystemImports()) {
        // As the system's loader would for an import: name what is missing,
        // when the message box itself could be found.
        if (g_messageBox)
            g_messageBox(0, missing, kRuntimeCaption, MB_ICONERROR);
        ExitProcess(0);
    }
    ReadCommandLine();
    // The heap and the lists first; the module path before its folder and
    // its file. Language names cannot stop the start: one the system lacks
    // only leaves its entry on the language page empty.
    static const BYTE kOrder[] = { STARTUP_GLOBALS, STARTUP_LANGUAGE_NAMES, STARTUP_TEMP_FOLDER, STARTUP_MODULE_PATH,
                                   STARTUP_MODULE_FOLDER, STARTUP_MODULE_FILE };
    for (int i = 0; i < 6; i++)
        if (!StartupStep(kOrder[i]) && kOrder[i] != STARTUP_LANGUAGE_NAMES)
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
