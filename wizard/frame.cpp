// The wizard frame: the modeless main dialog that hosts one page at a time,
// owns the bottom band with Back, Next, Cancel and the product label, and
// moves between the twelve page slots.
#include "wizard.h"
#include "../startup/app_state.h"
#include "../startup/startup.h"
#include "../script/script.h"
#include "../engine/engine.h"
#include "../uninstall/uninstall.h"
#include "../resources/ids.h"

// The maker's page that the product label opens.
static const char kMakerAddress[] = "https://quillset.example.com/";

enum { INSTALLING_TYPE = IDD_INSTALLING, LINK_WIDTH = 80 };

Appearance g_appearance;
DrawingResources g_drawing;
Wizard g_wizard;
int g_bandHeight;
static HCURSOR s_handCursor;

int PageType(int slot)
{
    return g_pages[slot].dialogId - g_appearance.layoutOffset;
}

// A slot without a page has no template; a script that enables one of them,
// or none at all, cannot be shown.
BOOL PageSlotsUsable()
{
    BOOL any = FALSE;
    for (int slot = 0; slot < INSTALLER_SLOT_COUNT; slot++) {
        if (!g_pages[slot].enabled)
            continue;
        if (PAGELESS_SLOTS >> slot & 1)
            return FALSE;
        any = TRUE;
    }
    return any;
}

// The next enabled slot from FROM in direction STEP, or -1.
static int FindEnabledSlot(int from, int step)
{
    for (int slot = from; slot >= 0 && slot < INSTALLER_SLOT_COUNT; slot += step)
        if (g_pages[slot].enabled)
            return slot;
    return -1;
}

static void ShowPage(HWND frame, int slot)
{
    if (g_wizard.pageWindow)
        DestroyWindow(g_wizard.pageWindow);
    g_wizard.currentPage = slot;
    g_wizard.pageWindow = CreateDialogIndirectParamA(g_app.instance, DialogTemplate(g_pages[slot].dialogId), frame,
                                                  PageProcedure(slot), slot);
}

static void ShowButton(HWND frame, int id, BOOL show)
{
    HWND button = GetDlgItem(frame, id);
    ShowWindow(button, show ? SW_SHOW : SW_HIDE);
    EnableWindow(button, show);
}

// Enter presses the frame's default button: Next, and on the finish page
// Finish in Cancel's place. Some control must hold the focus: without one
// the system hands keys to the frame as system keys, and Enter, Escape and
// Tab would do nothing. A page keeps the control it chose itself (a text to
// type in); otherwise the default button takes it, or Cancel while there is
// none.
static void SettleFocus(HWND frame)
{
    int button = g_wizard.currentPage == SLOT_FINISH ? IDC_CANCEL : IDC_NEXT;
    SendMessageA(frame, DM_SETDEFID, button, 0);
    HWND focus = GetFocus();
    if (focus && IsChild(g_wizard.pageWindow, focus) && IsWindowEnabled(focus))
        return;
    focus = GetDlgItem(frame, button);
    if (!IsWindowEnabled(focus))
        focus = GetDlgItem(frame, IDC_CANCEL);
    SendMessageA(frame, WM_NEXTDLGCTL, (WPARAM)focus, TRUE);
}

// Unattended, each page is left as soon as it shows, as if Next were
// pressed; the installing page moves on by itself when the worker is done.
static void AdvanceUnattended(HWND frame)
{
    if (g_unattended && PageType(g_wizard.currentPage) != INSTALLING_TYPE)
        PostMessageA(frame, WM_COMMAND, IDC_NEXT, 0);
}

static void EndWizard(HWND frame)
{
    DestroyWindow(g_wizard.pageWindow);
    g_wizard.pageWindow = 0;
    DestroyWindow(frame);
}

// The worker sends to the page's controls until its next check point: the
// wait goes on taking sent messages, or both threads would wait for ever.
void WaitForWorker()
{
    MSG message;
    while (g_app.workerThread
           && MsgWaitForMultipleObjects(1, &g_app.workerThread, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1)
        PeekMessageA(&message, 0, 0, 0, PM_NOREMOVE);
}

static void Next(HWND frame)
{
    int current = g_wizard.currentPage;
    if (PageType(current) == IDD_DESTINATION && !ValidateDestination(frame, g_wizard.pageWindow)) {
        // Nobody can choose another folder.
        if (g_unattended) {
            SetExitCode(ERROR_INSTALL_FAILURE);
            EndWizard(frame);
        }
        return;
    }
    int next = FindEnabledSlot(current + 1, 1);
    g_wizard.previousPage = current;
    if (next < 0) {
        // The entry point runs this page's actions after the loop.
        g_wizard.lastPageIndex = current;
        EndWizard(frame);
        return;
    }
    for (int slot = current; slot < next; slot++)
        RunPageActions(g_pages[slot].programs, g_pages[slot].dllCalls);
    ShowPage(frame, next);
    BOOL navigable = PageType(next) < INSTALLING_TYPE;
    ShowButton(frame, IDC_BACK, navigable);
    if (!navigable)
        ShowButton(frame, IDC_NEXT, FALSE);
    SettleFocus(frame);
    AdvanceUnattended(frame);
}

static void Back(HWND frame)
{
    if (g_wizard.previousPage < 0)
        return;
    int slot = g_wizard.previousPage;
    g_wizard.previousPage = FindEnabledSlot(slot - 1, -1);
    if (g_wizard.previousPage < 0)
        ShowButton(frame, IDC_BACK, FALSE);
    ShowPage(frame, slot);
    SettleFocus(frame);
}

// Unattended, only the system asks to end the run (a close request, the
// end of the session), and it ends.
static BOOL Confirm(HWND frame, const char* question)
{
    if (g_unattended) {
        SetExitCode(ERROR_INSTALL_USEREXIT);
        return TRUE;
    }
    return MessageBoxA(frame, question, g_product.captionText, MB_ICONQUESTION | MB_YESNO) == IDYES;
}

// Cancel, Escape, the close box, the background window's close: while the
// worker can still be stopped it is held at its next check point during
// the question.
static void Cancel(HWND frame)
{
    int slot = g_wizard.currentPage;
    const char* question = GetText(g_product.textsWizard,
                                   PageType(slot) == INSTALLING_TYPE ? WIZARD_QUIT_INSTALLING : WIZARD_QUIT_QUESTION);
    HoldWorker();
    if (g_app.workerThread && WaitForSingleObject(g_app.installDoneEvent, 0) != WAIT_OBJECT_0) {
        BOOL quit = Confirm(frame, question);
        ReleaseWorker(quit);
        if (!quit)
            return;
        WaitForWorker();
        RunUninstaller(TRUE);
        EndWizard(frame);
        return;
    }
    ReleaseWorker(FALSE);
    WaitForWorker();
    // Past the point of no return nothing can be undone any more: no question
    // that says otherwise; the worker's own report moves the wizard on.
    if (PageType(slot) == INSTALLING_TYPE)
        return;
    if (slot != SLOT_FINISH && !Confirm(frame, question))
        return;
    // Past the last slot: every page's actions have run.
    if (slot == SLOT_FINISH)
        g_wizard.lastPageIndex = INSTALLER_SLOT_COUNT;
    EndWizard(frame);
}

static void Start(HWND frame)
{
    g_wizard.frameWindow = frame;
    s_handCursor = LoadCursorA(0, IDC_HAND);
    if (g_appearance.backgroundEnabled)
        SetWindowLongA(frame, GWL_STYLE, GetWindowLongA(frame, GWL_STYLE) & ~WS_MINIMIZEBOX);
    else
        SetClassLongPtrA(frame, GCLP_HICON, (LONG_PTR)LoadIconA(g_app.instance, MAKEINTRESOURCEA(IDI_MAIN)));
    static const WORD kBodyFontControls[] = { IDC_TITLE, IDC_SUBTITLE, IDC_BACK, IDC_NEXT, IDC_CANCEL };
    for (int i = 0; i < 5; i++)
        SendDlgItemMessageA(frame, kBodyFontControls[i], WM_SETFONT, (WPARAM)g_drawing.bodyFont, 0);
    RECT line, client;
    GetWindowRect(GetDlgItem(frame, IDC_BAND_LINE_RIGHT), &line);
    MapWindowPoints(0, frame, (POINT*)&line, 2);
    GetClientRect(frame, &client);
    g_bandHeight = client.bottom - line.top;
    ShowPage(frame, FindEnabledSlot(g_wizard.currentPage + 1, 1));
    SettleFocus(frame);
    AdvanceUnattended(frame);
}

void DrawStripe(HDC dc, const POINT* corners)
{
    HPALETTE palette = SelectPalette(dc, g_drawing.uiPalette, FALSE);
    RealizePalette(dc);
    HGDIOBJ brush = SelectObject(dc, g_drawing.stripeBrush);
    HGDIOBJ pen = SelectObject(dc, g_drawing.stripePen);
    Polygon(dc, corners, 4);
    SelectObject(dc, pen);
    SelectObject(dc, brush);
    SelectPalette(dc, palette, FALSE);
}

static void PaintBand(HWND frame, HDC dc)
{
    RECT client;
    GetClientRect(frame, &client);
    int w = client.right, h = client.bottom;
    RECT band = { 0, h - g_bandHeight, w, h };
    FillRect(dc, &band, g_drawing.bandBrush);
    if (g_appearance.layoutOffset || !h)
        return;
    // The lower part of the stripe that the page's upper part continues.
    int x0 = (g_drawing.stripeBottomWidth - g_drawing.stripeTopWidth) * g_bandHeight / h + w
             - g_drawing.stripeBottomWidth + 1;
    POINT corners[4] = { { x0, h - g_bandHeight }, { w - 1, h - g_bandHeight }, { w - 1, h - 1 },
                         { w - g_drawing.stripeBottomWidth, h - 1 } };
    DrawStripe(dc, corners);
}

static BOOL InLink(HWND frame, LPARAM lParam)
{
    RECT client;
    GetClientRect(frame, &client);
    RECT link = { 0, client.bottom - g_bandHeight - 5, LINK_WIDTH, client.bottom - 30 };
    POINT point = { (short)LOWORD(lParam), (short)HIWORD(lParam) };
    return PtInRect(&link, point);
}

INT_PTR CALLBACK WizardFrameProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        Start(frame);
        return FALSE;   // Start has set the focus
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            if (PageType(g_wizard.currentPage) >= INSTALLING_TYPE)
                return TRUE;
            // Enter elsewhere is Next: on to it.
            [[fallthrough]];
        case IDC_NEXT:
            Next(frame);
            return TRUE;
        case IDC_BACK:
            Back(frame);
            return TRUE;
        case IDCANCEL:
        case IDC_CANCEL:
            Cancel(frame);
            return TRUE;
        }
        break;
    case WM_INSTALL_FAILED:
        SetExitCode(ERROR_INSTALL_FAILURE);
        WaitForWorker();
        EndWizard(frame);
        return TRUE;
    case WM_QUERYENDSESSION:
        // Unattended, the installation is rolled back before the session ends.
        if (g_unattended)
            Cancel(frame);
        break;
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_MINIMIZE:
            if (!g_appearance.backgroundEnabled)
                break;
            // The background window stands for the wizard: it alone is minimised.
            [[fallthrough]];
        case SC_SIZE:
        case SC_MAXIMIZE:
        case SC_KEYMENU:
            return TRUE;
        }
        break;
    case WM_SYSCOLORCHANGE:
        SendMessageA(g_wizard.pageWindow, message, wParam, lParam);
        break;
    case WM_ERASEBKGND:
        PaintBand(frame, (HDC)wParam);
        return TRUE;
    case WM_CTLCOLORSTATIC: {
        HDC dc = (HDC)wParam;
        COLORREF band = ResolveColorWord(g_appearance.bandColor);
        SetBkColor(dc, band);
        SetBkMode(dc, TRANSPARENT);
        if (GetDlgCtrlID((HWND)lParam) == IDC_PRODUCT_LABEL)
            SetTextColor(dc, RGB(GetRValue(band) * 5 / 6, GetGValue(band) * 5 / 6, GetBValue(band) * 5 / 6));
        return (INT_PTR)GetStockObject(NULL_BRUSH);
    }
    case WM_LBUTTONUP:
        if (InLink(frame, lParam)) {
            SetCursor(s_handCursor);
            ShellExecuteA(0, "open", kMakerAddress, 0, 0, SW_SHOW);
        }
        return TRUE;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
        if (InLink(frame, lParam))
            SetCursor(s_handCursor);
        return TRUE;
    case WM_DESTROY:
        g_wizard.frameWindow = 0;
        PostQuitMessage(0);
        return TRUE;
    }
    return FALSE;
}
