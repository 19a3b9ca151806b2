// The start-up steps. Each returns FALSE after showing its own failure message.
#include "startup.h"
#include "app_state.h"
#include "../environment/environment.h"
#include "../package/package.h"
#include "../script/script.h"
#include "../wizard/wizard.h"
#include "../engine/engine.h"
#include "../engine/install_log.h"
#include "../uninstall/uninstall.h"
#include "../resources/ids.h"

AppState g_app;

static BOOL Fail(const char* format, const char* argument)
{
    ShowMessage1(0, kRuntimeCaption, format, argument, MB_ICONERROR);
    return FALSE;
}

static BOOL GlobalInitialisation()
{
    // At run time, not imported: an import would load the common controls,
    // and the theme library they load by name, before the first instruction,
    // from the program's folder first.
    FARPROC initCommonControls = LoadCommonControls();
    if (initCommonControls)
        ((void(WINAPI*)())initCommonControls)();
    if (!CreatePrivateHeap())
        return Fail(SystemErrorText(GetLastError()), 0);
    if (!(g_app.instance = GetModuleHandleA(0)))
        return Fail("无法获取模块句柄.                  ", 0);
    static const char kLoadError[] = "载入 %s 出错.            ";
    if (!LoadAccessCheckFunctions())
        return Fail(kLoadError, "advapi32.dll");
    if (!initCommonControls)
        return Fail(kLoadError, "commctl32.dll");
    if (!LoadShellFolderFunctions())
        return Fail(kLoadError, "shell32.dll");
    if (!(g_app.richEditLibrary = LoadSystemLibrary("RichEd32.Dll")))
        return Fail(kLoadError, "riched32.dll");
    g_app.uninstallDoneEvent = CreateEventA(0, TRUE, FALSE, 0);
    g_app.installDoneEvent = CreateEventA(0, TRUE, FALSE, 0);
    g_app.pauseEvent = CreateEventA(0, TRUE, TRUE, 0);
    if (!g_app.uninstallDoneEvent || !g_app.installDoneEvent || !g_app.pauseEvent)
        return Fail("创建事件句柄出错.              ", 0);
    g_app.csvFields = ListCreate(15);
    if (!(g_product.languageList = ListCreate(10)))
        return Fail("创建 DPA 错误.     ", 0);
    ImpersonateSelf(SecurityImpersonation);
    // ADVAPI32's, looked up there: the import library would take it from
    // KERNEL32, which has it only from Windows 7.
    typedef BOOL(WINAPI * OpenThreadTokenProc)(HANDLE, DWORD, BOOL, PHANDLE);
    OpenThreadTokenProc openThreadToken =
        (OpenThreadTokenProc)GetProcAddress(GetModuleHandleA("ADVAPI32"), "OpenThreadToken");
    if (openThreadToken)
        openThreadToken(GetCurrentThread(), TOKEN_ALL_ACCESS, TRUE, &g_app.accessToken);

    // Every other list of the run state, by runs of lists that lie in one
    // array (a single list is a run of one): where each starts, how long it is.
    static StringList** const kListRuns[] = {
        g_workLists, &g_app.languageNames, &g_install.pendingTempFiles, &g_install.pendingTargets,
        &g_install.pendingFlags, &g_uninstall.restartDeletes, &g_uninstall.leftovers, &g_log.logLines,
        g_product.textsWizard, g_product.textsMessages, g_product.textsExtra,
    };
    static const BYTE kListRunLengths[] = { WORK_LIST_COUNT, 1, 1, 1, 1, 1, 1, 1,
                                            LANGUAGE_COUNT, LANGUAGE_COUNT, LANGUAGE_COUNT };
    for (DWORD run = 0; run < sizeof(kListRunLengths); run++)
        for (int i = 0; i < kListRunLengths[run]; i++)
            kListRuns[run][i] = ListCreate(5);
    for (int p = 0; p < PAGE_COUNT; p++) {
        PageRecord* page = &g_pages[p];
        for (int i = 0; i < LANGUAGE_COUNT; i++)
            page->texts[i] = ListCreate(5);
        page->programs = ListCreate(5);
        page->dllCalls = ListCreate(5);
    }

    for (int i = 0; i < FOLDER_MACRO_COUNT; i++)
        ListAppend(g_workLists[WORK_FOLDER_MACRO_PATHS], ResolveFolderMacro(i));
    g_wizard.lastPageIndex = -1;
    g_wizard.currentPage = -1;
    g_wizard.previousPage = -1;
    g_product.languageId = 9;
    g_appearance.decorationColor = DEFAULT_DECORATION_COLOR;
    g_appearance.bodyColor = COLOR_WORD_BTNFACE;
    RunComponentDetections();
    return TRUE;
}

COLORREF ResolveColorWord(COLORREF word)
{
    if (word & COLOR_WORD_WINDOW)
        return GetSysColor(COLOR_WINDOW);
    if (word & COLOR_WORD_BTNFACE)
        return GetSysColor(COLOR_BTNFACE);
    return word;
}

static HFONT CreateUiFont(int points, int weight, const char* face)
{
    LOGFONTA font;
    ZeroMem(&font, sizeof(font));
    font.lfHeight = -MulDiv(points, g_drawing.screenDpi, 72);
    font.lfWeight = weight;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfOutPrecision = OUT_TT_PRECIS;
    font.lfQuality = PROOF_QUALITY;
    lstrcpynA(font.lfFaceName, face, LF_FACESIZE);
    return CreateFontIndirectA(&font);
}

static void PrepareDrawing()
{
    HDC screen = GetDC(0);
    g_drawing.screenDpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(0, screen);
    g_drawing.stripeBottomWidth = g_drawing.screenDpi * 140 / 96;
    g_drawing.stripeTopWidth = g_drawing.screenDpi * 90 / 96;

    LOGPALETTE* palette = (LOGPALETTE*)AllocMem(sizeof(LOGPALETTE) + (GRADIENT_STEPS + 22) * sizeof(PALETTEENTRY));
    if (palette) {
        palette->palVersion = 0x300;
        palette->palNumEntries = GRADIENT_STEPS + 22;
        const BYTE* c1 = (const BYTE*)&g_appearance.gradientColors[0];
        const BYTE* c2 = (const BYTE*)&g_appearance.gradientColors[1];
        for (int i = 0; i < GRADIENT_STEPS; i++) {
            BYTE* entry = (BYTE*)&palette->palPalEntry[20 + i];
            for (int k = 0; k < 3; k++)
                entry[k] = (BYTE)(c1[k] + (c2[k] - c1[k]) * i / (GRADIENT_STEPS - 1));
        }
        *(COLORREF*)&palette->palPalEntry[20 + GRADIENT_STEPS] = g_appearance.decorationColor & 0xFFFFFF;
        *(COLORREF*)&palette->palPalEntry[21 + GRADIENT_STEPS] = GetSysColor(COLOR_BTNFACE);
        g_drawing.uiPalette = CreatePalette(palette);
        FreeMem(palette);
    }
    g_drawing.bodyFont = CreateUiFont(8, FW_NORMAL, g_appearance.bodyFontFace);
    g_drawing.titleFont =
        CreateUiFont(g_appearance.layoutOffset == LAYOUT_SMALL_OFFSET ? 10 : 12, FW_BOLD, g_appearance.titleFontFace);
    g_drawing.headerBrush = CreateSolidBrush(ResolveColorWord(g_appearance.headerColor));
    g_drawing.bodyBrush = CreateSolidBrush(ResolveColorWord(g_appearance.bodyColor));
    g_drawing.bandBrush = CreateSolidBrush(ResolveColorWord(g_appearance.bandColor));
    g_drawing.stripeBrush = CreateSolidBrush(PALETTEINDEX(GRADIENT_STEPS + 20));
    g_drawing.stripePen = CreatePen(PS_SOLID, 0, PALETTEINDEX(GRADIENT_STEPS + 20));
}

static BOOL ReadLanguageNames()
{
    char* buffer = (char*)AllocMem(32767);
    for (int id = 1; id < LANGUAGE_COUNT && buffer; id++) {
        if (!GetLocaleInfoA(id, LOCALE_SENGLANGUAGE, buffer, 32767))
            continue;
        char* blank = FindChar(buffer, ' ', -1, TRUE);
        if (blank)
            *blank = 0;
        ListSetAt(g_app.languageNames, id, buffer);
    }
    FreeMem(buffer);
    return TRUE;
}

BOOL StartupStep(int step)
{
    switch (step) {
    case STARTUP_GLOBALS:
        return GlobalInitialisation();
    case STARTUP_DRAWING:
        PrepareDrawing();
        return TRUE;
    case STARTUP_LANGUAGE_NAMES:
        return ReadLanguageNames();
    case STARTUP_MODULE_PATH:
        g_app.modulePath = (char*)AllocMem(32767);
        if (!g_app.modulePath || !GetModuleFileNameA(0, g_app.modulePath, 32767))
            return Fail("无法获取安装模块路径.                      ", 0);
        return TRUE;
    case STARTUP_MODULE_FOLDER:
        g_app.moduleFolder = ParentPath(g_app.modulePath);
        return TRUE;
    case STARTUP_TEMP_FOLDER: {
        DWORD size = GetTempPathA(0, 0);
        g_app.tempFolder = (char*)AllocMem(size + 1);
        if (!size || !g_app.tempFolder || !GetTempPathA(size + 1, g_app.tempFolder))
            return Fail("无法获取临时路径.            ", 0);
        StripTrailingSlash(g_app.tempFolder);
        return TRUE;
    }
    case STARTUP_MODULE_FILE:
        g_package.moduleFile = CreateFileA(g_app.modulePath, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING,
                                       FILE_FLAG_SEQUENTIAL_SCAN, 0);
        if (g_package.moduleFile == INVALID_HANDLE_VALUE) {
            g_package.moduleFile = 0;
            return Fail("Error opening itself.", 0);
        }
        return TRUE;
    }
    return TRUE;
}
