// The full-screen window behind the wizard: a vertical gradient and up to two
// captions of the script; closing it cancels the wizard.
#include "wizard.h"
#include "../startup/app_state.h"
#include "../script/script.h"
#include "../resources/ids.h"

static const char kBackgroundClass[] = "QuillsetBGWindow";

enum {
    CAPTION_TEXT, CAPTION_ALIGN_X, CAPTION_ALIGN_Y, CAPTION_X, CAPTION_Y, CAPTION_FACE, CAPTION_SIZE,
    CAPTION_WIDTH, CAPTION_WEIGHT, CAPTION_ITALIC, CAPTION_UNDERLINE, CAPTION_COLOR, CAPTION_SHADOW,
    CAPTION_SHADOW_COLOR
};

static int NumberField(int index)
{
    return ParseNumber(CsvField(index));
}

static COLORREF ColorField(int index)
{
    return FromRgbNumber(NumberField(index));
}

static void PaintGradient(HWND window, HDC dc)
{
    RECT client;
    GetClientRect(window, &client);
    SelectPalette(dc, g_drawing.uiPalette, FALSE);
    RealizePalette(dc);
    for (int i = 0; i < GRADIENT_STEPS; i++) {
        RECT band = { 0, i * client.bottom / GRADIENT_STEPS, client.right, (i + 1) * client.bottom / GRADIENT_STEPS };
        HBRUSH brush = CreateSolidBrush(PALETTEINDEX(20 + i));
        FillRect(dc, &band, brush);
        DeleteObject(brush);
    }
    UnrealizeObject(g_drawing.uiPalette);
}

static void PaintCaptions(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    g_drawing.screenDpi = GetDeviceCaps(dc, LOGPIXELSY);
    RECT client;
    GetClientRect(window, &client);
    SetBkMode(dc, TRANSPARENT);
    // Captions on the same edge stack: each offset counts from the one before.
    int topUsed = 0, bottomUsed = 0;
    for (int line = 0; line < 2 && line < ListCount(g_workLists[WORK_BACKGROUND_CAPTIONS]); line++) {
        char* expanded = ExpandVariables(ListGet(g_workLists[WORK_BACKGROUND_CAPTIONS], line));
        SplitCsv(expanded, TRUE);
        FreeMem(expanded);
        const char* face = CsvField(CAPTION_FACE);
        int size = NumberField(CAPTION_SIZE);
        int weight = NumberField(CAPTION_WEIGHT) * 100;
        HFONT font = CreateFontA(-MulDiv(size ? size : 12, g_drawing.screenDpi, 72), NumberField(CAPTION_WIDTH), 0, 0,
                                 weight ? weight : FW_NORMAL, NumberField(CAPTION_ITALIC) != 0,
                                 NumberField(CAPTION_UNDERLINE) != 0, FALSE, 0, 0, 0, PROOF_QUALITY, 0,
                                 *face ? face : "Tahoma");
        HGDIOBJ previous = SelectObject(dc, font);
        const char* text = CsvField(CAPTION_TEXT);
        RECT place = { 0, 0, 0, 0 };
        DrawTextA(dc, text, -1, &place, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
        int x = NumberField(CAPTION_X), y = NumberField(CAPTION_Y);
        OffsetRect(&place, SameText(CsvField(CAPTION_ALIGN_X), "right") ? client.right - place.right - x : x, 0);
        if (SameText(CsvField(CAPTION_ALIGN_Y), "bottom")) {
            OffsetRect(&place, 0, client.bottom - place.bottom - y - bottomUsed);
            bottomUsed = client.bottom - place.top;
        } else {
            OffsetRect(&place, 0, y + topUsed);
            topUsed = place.bottom;
        }
        int shadow = NumberField(CAPTION_SHADOW);
        if (shadow) {
            SetTextColor(dc, ColorField(CAPTION_SHADOW_COLOR));
            OffsetRect(&place, shadow, shadow);
            DrawTextA(dc, text, -1, &place, DT_SINGLELINE | DT_NOPREFIX);
            OffsetRect(&place, -shadow, -shadow);
        }
        SetTextColor(dc, ColorField(CAPTION_COLOR));
        DrawTextA(dc, text, -1, &place, DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(dc, previous);
        DeleteObject(font);
    }
    EndPaint(window, &paint);
}

static LRESULT CALLBACK BackgroundProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ERASEBKGND:
        PaintGradient(window, (HDC)wParam);
        return 1;
    case WM_PAINT:
        PaintCaptions(window);
        return 0;
    case WM_NCLBUTTONDOWN:
        // The window can be neither dragged nor restored by its title bar.
        if (wParam == HTCAPTION)
            return 0;
        break;
    case WM_NCLBUTTONDBLCLK:
        return 0;
    case WM_SYSCOMMAND:
        if (wParam == SC_MOVE)
            return 0;
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            SendMessageA(g_wizard.frameWindow, WM_COMMAND, IDCANCEL, 0);
            return 0;
        }
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateBackgroundWindow()
{
    WNDCLASSEXA windowClass;
    ZeroMem(&windowClass, sizeof(windowClass));
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = BackgroundProc;
    windowClass.hInstance = g_app.instance;
    windowClass.hIcon = LoadIconA(g_app.instance, MAKEINTRESOURCEA(IDI_MAIN));
    windowClass.hCursor = LoadCursorA(0, IDC_ARROW);
    windowClass.lpszClassName = kBackgroundClass;
    RegisterClassExA(&windowClass);
    DWORD style = g_appearance.appearanceOptions & APPEARANCE_BACKGROUND_CAPTION
                      ? WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX
                      : WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX;
    HWND window = CreateWindowExA(0, kBackgroundClass, "", style, 0, 0, GetSystemMetrics(SM_CXSCREEN),
                                  GetSystemMetrics(SM_CYSCREEN), GetDesktopWindow(), 0, g_app.instance, 0);
    ShowWindow(window, SW_SHOWMAXIMIZED);
    return window;
}
