// The start-up steps. Each returns FALSE after showing its own failure message.
#include "startup.h"
#include "../environment/environment.h"
#include "../package/package.h"
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
    if (!(g_app.languageList = ListCreate(10)))
        return Fail("创建 DPA 错误.     ", 0);
    ImpersonateSelf(SecurityImpersonation);
    // ADVAPI32's, looked up there: the import library would take it from
    // KERNEL32, which has it only from Windows 7.
    typedef BOOL(WINAPI * OpenThreadTokenProc)(HANDLE, DWORD, BOOL, PHANDLE);
    OpenThreadTokenProc openThreadToken =
        (OpenThreadTokenProc)GetProcAddress(GetModuleHandleA("ADVAPI32"), "OpenThreadToken");
    if (openThreadToken)
        openThreadToken(GetCurrentThread(), TOKEN_ALL_ACCESS, TRUE, &g_app.accessToken);

    StringList** lists = (StringList**)&g_app.lists;
    for (DWORD i = 0; i < sizeof(g_app.lists) / sizeof(StringList*); i++)
        lists[i] = ListCreate(5);
    StringList** tables[3] = { g_app.textsWizard, g_app.textsMessages, g_app.textsExtra };
    for (int t = 0; t < 3; t++)
        for (int i = 0; i < LANGUAGE_COUNT; i++)
            tables[t][i] = ListCreate(5);
    for (int p = 0; p < PAGE_COUNT; p++) {
        // texts, programs and dllCalls lie one after the other: 100 lists a page.
        StringList** pageLists = g_app.pages[p].texts;
        for (int i = 0; i < LANGUAGE_COUNT + 2; i++)
            pageLists[i] = ListCreate(5);
    }

    for (int i = 0; i < FOLDER_MACRO_COUNT; i++)
        ListAppend(g_app.lists.folderMacroPaths, ResolveFolderMacro(i));
    g_app.lastPageIndex = -1;
    g_app.currentPage = -1;
    g_app.previousPage = -1;
    g_app.languageId = 9;
    g_app.decorationColor = DEFAULT_DECORATION_COLOR;
    g_app.bodyColor = COLOR_WORD_BTNFACE;
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
    font.lfHeight = -MulDiv(points, g_app.screenDpi, 72);
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
    g_app.screenDpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(0, screen);
    g_app.stripeBottomWidth = g_app.screenDpi * 140 / 96;
    g_app.stripeTopWidth = g_app.screenDpi * 90 / 96;

    LOGPALETTE* palette = (LOGPALETTE*)AllocMem(sizeof(LOGPALETTE) + (GRADIENT_STEPS + 22) * sizeof(PALETTEENTRY));
    if (palette) {
        palette->palVersion = 0x300;
        palette->palNumEntries = GRADIENT_STEPS + 22;
        const BYTE* c1 = (const BYTE*)&g_app.gradientColors[0];
        const BYTE* c2 = (const BYTE*)&g_app.gradientColors[1];
        for (int i = 0; i < GRADIENT_STEPS; i++) {
            BYTE* entry = (BYTE*)&palette->palPalEntry[20 + i];
            for (int k = 0; k < 3; k++)
                entry[k] = (BYTE)(c1[k] + (c2[k] - c1[k]) * i / (GRADIENT_STEPS - 1));
        }
        *(COLORREF*)&palette->palPalEntry[20 + GRADIENT_STEPS] = g_app.decorationColor & 0xFFFFFF;
        *(COLORREF*)&palette->palPalEntry[21 + GRADIENT_STEPS] = GetSysColor(COLOR_BTNFACE);
        g_app.uiPalette = CreatePalette(palette);
        FreeMem(palette);
    }
    g_app.bodyFont = CreateUiFont(8, FW_NORMAL, g_app.bodyFontFace);
    g_app.titleFont = CreateUiFont(g_app.layoutOffset == LAYOUT_SMALL_OFFSET ? 10 : 12, FW_BOLD, g_app.titleFontFace);
    g_app.headerBrush = CreateSolidBrush(ResolveColorWord(g_app.headerColor));
    g_app.bodyBrush = CreateSolidBrush(ResolveColorWord(g_app.bodyColor));
    g_app.bandBrush = CreateSolidBrush(ResolveColorWord(g_app.bandColor));
    g_app.stripeBrush = CreateSolidBrush(PALETTEINDEX(GRADIENT_STEPS + 20));
    g_app.stripePen = CreatePen(PS_SOLID, 0, PALETTEINDEX(GRADIENT_STEPS + 20));
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
        ListSetAt(g_app.lists.languageNames, id, buffer);
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
