// The installer's pages: one procedure per page type, chosen from a table,
// and the default procedure that they and the uninstaller's dialog share
// for texts, fonts, painting, colours and the frame's keys.
#include "wizard.h"
#include "../startup/app_state.h"
#include "../startup/startup.h"
#include "../script/script.h"
#include "../engine/engine.h"
#include "../engine/files.h"
#include "../uninstall/uninstall.h"
#include "../resources/ids.h"
#include <commctrl.h>

enum { FOLDER_TEXT_SIZE = 32768, NO_CAPTION = 0xF };

static int s_headerHeight;
static int s_languageSelection;

// The button captions of Back, Next, Cancel and Browse, a nibble each in
// one WORD per page type from 129 to 141, so that the table takes 26 bytes;
// NO_CAPTION leaves the control's text.
#define CAPTIONS(back, next, cancel, browse) ((back) << 12 | (next) << 8 | (cancel) << 4 | (browse))
enum {
    CAPTIONS_NAVIGATION = CAPTIONS(BUTTON_TEXT_BACK, BUTTON_TEXT_NEXT, BUTTON_TEXT_CANCEL, NO_CAPTION),
    CAPTIONS_NONE = CAPTIONS(NO_CAPTION, NO_CAPTION, NO_CAPTION, NO_CAPTION),
    CAPTIONS_CLOSING = CAPTIONS(NO_CAPTION, NO_CAPTION, BUTTON_TEXT_FINISH, NO_CAPTION),
};
static const WORD kCaptionIndexes[] = {
    CAPTIONS_NAVIGATION,
    CAPTIONS_NAVIGATION,
    CAPTIONS(BUTTON_TEXT_BACK, BUTTON_TEXT_YES, BUTTON_TEXT_NO, NO_CAPTION),
    CAPTIONS_NAVIGATION,
    CAPTIONS_NONE,
    CAPTIONS_NONE,
    CAPTIONS(BUTTON_TEXT_BACK, BUTTON_TEXT_NEXT, BUTTON_TEXT_CANCEL, BUTTON_TEXT_BROWSE),
    CAPTIONS_NONE,
    CAPTIONS_NAVIGATION,
    CAPTIONS(BUTTON_TEXT_BACK, BUTTON_TEXT_INSTALL, BUTTON_TEXT_CANCEL, NO_CAPTION),
    CAPTIONS(NO_CAPTION, NO_CAPTION, BUTTON_TEXT_CANCEL, NO_CAPTION),
    CAPTIONS_CLOSING,
    CAPTIONS_CLOSING,
};

static void SetExpandedText(HWND window, const char* text)
{
    if (!window || !text)
        return;
    char* expanded = ExpandVariables(text);
    SetWindowTextA(window, expanded);
    FreeMem(expanded);
}

static int SlotOf(HWND page)
{
    return (int)GetWindowLongPtrA(page, GWLP_USERDATA);
}

// What every page does when it is created and again after a language change.
static void TextPage(HWND page, int slot)
{
    StringList** texts = g_pages[slot].texts;
    const char* title = GetText(texts, PAGE_TEXT_TITLE);
    if (g_appearance.backgroundEnabled)
        SetWindowTextA(g_wizard.wizardParent, title);
    // The uninstaller's dialog has no frame: its own title and buttons.
    HWND frame = g_wizard.frameWindow ? g_wizard.frameWindow : page;
    SetExpandedText(frame, title);
    WORD captions = kCaptionIndexes[PageType(slot) - IDD_LANGUAGE];
    for (int i = 0; i < 4; i++) {
        int index = (captions >> (12 - 4 * i)) & 0xF;
        const char* caption = GetText(g_product.textsExtra, index);
        if (index == NO_CAPTION || !caption)
            continue;
        HWND button = GetDlgItem(frame, IDC_BACK + i);
        SetWindowTextA(button ? button : GetDlgItem(page, IDC_BACK + i), caption);
    }
    for (int i = 1; i < PAGE_TEXT_COUNT; i++)
        SetExpandedText(GetDlgItem(page, IDC_TITLE - 1 + i), GetText(texts, i));
}

static void SetFonts(HWND page)
{
    SendDlgItemMessageA(page, IDC_TITLE, WM_SETFONT, (WPARAM)g_drawing.titleFont, 0);
    static const WORD kBodyFontControls[] = { IDC_SUBTITLE, IDC_TEXT3,  IDC_TEXT4,       IDC_TEXT5,
                                              IDC_TEXT6,    IDC_TEXT7,  IDC_TEXT8,       IDC_TEXT9,
                                              IDC_BROWSE,   IDC_FOLDER_EDIT, IDC_FOLDER_LIST };
    for (int i = 0; i < 11; i++)
        SendDlgItemMessageA(page, kBodyFontControls[i], WM_SETFONT, (WPARAM)g_drawing.bodyFont, 0);
}

static void InitLanguagePage(HWND page)
{
    HWND combo = GetDlgItem(page, IDC_COMBO);
    SetFocus(combo);
    for (int i = 0; i < ListCount(g_product.languageList); i++) {
        int id = ParseNumber(ListGet(g_product.languageList, i));
        int item = (int)SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)ListGet(g_app.languageNames, id));
        SendMessageA(combo, CB_SETITEMDATA, item, id);
    }
    s_languageSelection = -1;
    int count = (int)SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (int item = 0; item < count; item++)
        if ((WORD)SendMessageA(combo, CB_GETITEMDATA, item, 0) == g_product.languageId)
            s_languageSelection = item;
    SendMessageA(combo, CB_SETCURSEL, s_languageSelection, 0);
}

static void OnLanguageChosen(HWND page)
{
    HWND combo = GetDlgItem(page, IDC_COMBO);
    int item = (int)SendMessageA(combo, CB_GETCURSEL, 0, 0);
    if (item == s_languageSelection)
        return;
    s_languageSelection = item;
    g_product.languageId = (WORD)SendMessageA(combo, CB_GETITEMDATA, item, 0);
    SendMessageA(page, WM_RETEXT, 0, SlotOf(page));
}

// The folder list is a list box in the large layout and the drop-down part
// of the folder combo box in the small one.
static BOOL SmallLayout()
{
    return g_appearance.layoutOffset != 0;
}

static HWND FolderText(HWND page)
{
    return GetDlgItem(page, SmallLayout() ? IDC_COMBO : IDC_FOLDER_EDIT);
}

static void EnableFolderControls(HWND page, BOOL enable)
{
    EnableWindow(FolderText(page), enable);
    EnableWindow(GetDlgItem(page, IDC_FOLDER_LIST), enable);
}

// Adds NAME unless the list already holds it (the list's own comparison
// ignores case).
static void AddFolderName(HWND list, const char* name)
{
    UINT find = SmallLayout() ? CB_FINDSTRINGEXACT : LB_FINDSTRINGEXACT;
    if (SendMessageA(list, find, (WPARAM)-1, (LPARAM)name) < 0)
        SendMessageA(list, SmallLayout() ? CB_ADDSTRING : LB_ADDSTRING, 0, (LPARAM)name);
}

static void ListProgramFolders(HWND list, int macro)
{
    char* pattern = CombinePath(ListGet(g_workLists[WORK_FOLDER_MACRO_PATHS], macro), "*");
    WIN32_FIND_DATAA found;
    HANDLE search = pattern ? FindFirstFileA(pattern, &found) : INVALID_HANDLE_VALUE;
    FreeMem(pattern);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const char* name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsDotEntry(name))
            AddFolderName(list, name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

static void InitShortcutsPage(HWND page)
{
    BYTE offered = g_product.setupOptions;
    EnableWindow(GetDlgItem(page, IDC_CREATE_GROUP), (offered & SETUP_OFFER_GROUP) && g_wizard.groupShortcutsPresent);
    EnableWindow(GetDlgItem(page, IDC_CREATE_DESKTOP),
                 (offered & SETUP_OFFER_DESKTOP) && g_wizard.desktopShortcutsPresent);
    EnableWindow(GetDlgItem(page, IDC_CREATE_QUICK_LAUNCH),
                 (offered & SETUP_OFFER_QUICK_LAUNCH) && g_wizard.quickLaunchShortcutsPresent);
    if (g_wizard.createProgramGroup) {
        CheckDlgButton(page, IDC_CREATE_GROUP, BST_CHECKED);
        EnableFolderControls(page, TRUE);
    }
    CheckDlgButton(page, IDC_CREATE_DESKTOP, g_wizard.createDesktopShortcuts);
    CheckDlgButton(page, IDC_CREATE_QUICK_LAUNCH, g_wizard.createQuickLaunchShortcuts);

    HWND text = FolderText(page);
    HWND list = SmallLayout() ? text : GetDlgItem(page, IDC_FOLDER_LIST);
    const char* group = GetVariable("%ShortcutsGroup%");
    SetFocus(text);
    SetWindowTextA(text, group);
    AddFolderName(list, group);
    ListProgramFolders(list, MACRO_COMMON_PROGRAMS);
    ListProgramFolders(list, MACRO_PROGRAMS);
    SendMessageA(list, SmallLayout() ? CB_SELECTSTRING : LB_SELECTSTRING, (WPARAM)-1, (LPARAM)group);
    // Selecting in the combo box replaced the typed text with the item's.
    if (SmallLayout())
        SetWindowTextA(text, group);
}

static void ShowChecked(HWND page, int id)
{
    CheckDlgButton(page, id, BST_CHECKED);
    ShowWindow(GetDlgItem(page, id), SW_SHOW);
}

static void InitFinishPage(HWND page, StringList** texts)
{
    if (!g_install.installOk)
        ShowWindow(GetDlgItem(page, IDC_ERROR_TEXT), SW_SHOW);
    if (g_install.restartRequired) {
        SetExpandedText(GetDlgItem(page, IDC_CLOSING_TEXT),
                        GetText(texts, g_install.filesPendingReplace ? FINISH_TEXT_FILES_IN_USE : FINISH_TEXT_RESTART));
        ShowChecked(page, IDC_RESTART_BOX);
        ShowWindow(GetDlgItem(page, IDC_RESTART_TEXT), SW_SHOW);
        return;
    }
    if (g_wizard.launchEnabled[1]) {
        ShowChecked(page, IDC_README_BOX);
    } else {
        RECT place;
        GetWindowRect(GetDlgItem(page, IDC_README_BOX), &place);
        MapWindowPoints(0, page, (POINT*)&place, 2);
        SetWindowPos(GetDlgItem(page, IDC_LAUNCH_BOX), 0, place.left, place.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
    if (g_wizard.launchEnabled[0])
        ShowChecked(page, IDC_LAUNCH_BOX);
}

// What every page does first: its slot, fonts and texts.
static void InitPage(HWND page, int slot)
{
    SetWindowLongPtrA(page, GWLP_USERDATA, slot);
    SetFonts(page);
    RECT line;
    GetWindowRect(GetDlgItem(page, IDC_HEADER_LINE), &line);
    MapWindowPoints(0, page, (POINT*)&line, 2);
    s_headerHeight = line.bottom;
    TextPage(page, slot);
}

// A page that is left, in either direction, lets go of the worker it ran
// and of the palette it realised.
static void LeavePage()
{
    if (g_app.workerThread) {
        CloseHandle(g_app.workerThread);
        g_app.workerThread = 0;
    }
    UnrealizeObject(g_drawing.uiPalette);
}
static void Paint(HWND page, HDC dc)
{
    RECT client;
    GetClientRect(page, &client);
    BOOL uninstaller = PageType(SlotOf(page)) == IDD_UNINSTALLER;
    // Installer pages are 2 dialog units wider than the frame's client area.
    int w = uninstaller ? client.right : client.right - 3, h = client.bottom;
    RECT header = { 0, 0, w, s_headerHeight };
    FillRect(dc, &header, g_drawing.headerBrush);
    RECT body = { 0, s_headerHeight, w, h };
    BOOL headerColoured =
        PageType(SlotOf(page)) == IDD_WELCOME && (g_appearance.appearanceOptions & APPEARANCE_HEADER_WELCOME);
    FillRect(dc, &body, headerColoured ? g_drawing.headerBrush : g_drawing.bodyBrush);
    if (!SmallLayout()) {
        // The upper part of the stripe; the frame's band draws the rest.
        int bottomLeft = uninstaller ? w - g_drawing.stripeBottomWidth
                                     : (g_drawing.stripeBottomWidth - g_drawing.stripeTopWidth) * g_bandHeight
                                               / (h + g_bandHeight)
                                           + w - g_drawing.stripeBottomWidth + 1;
        POINT corners[4] = { { w - g_drawing.stripeTopWidth, -1 }, { w, -1 }, { w, h }, { bottomLeft, h } };
        DrawStripe(dc, corners);
    }
    // Not for the uninstaller, which has no frame: a null window would
    // repaint every window, this one again included, for ever.
    if (!uninstaller)
        InvalidateRect(GetDlgItem(g_wizard.frameWindow, IDC_PRODUCT_LABEL), 0, FALSE);
}

static HBRUSH StaticColours(HWND page, HDC dc, HWND control)
{
    int type = PageType(SlotOf(page));
    int id = GetDlgCtrlID(control);
    SetBkMode(dc, TRANSPARENT);
    COLORREF text = id == IDC_TITLE ? g_appearance.titleTextColor : g_appearance.bodyTextColor;
    if (type == IDD_UNINSTALLER && (id == IDC_UNINSTALL_LABEL || id == IDC_UNINSTALL_LINE)) {
        COLORREF band = ResolveColorWord(g_appearance.bandColor);
        text = RGB((GetRValue(band) >> 2) * 3, (GetGValue(band) >> 2) * 3, (GetBValue(band) >> 2) * 3);
    }
    SetTextColor(dc, text);
    // Check boxes and the folder group paint their own background.
    BOOL filled = (type == IDD_SHORTCUTS && id >= IDC_CREATE_GROUP && id <= IDC_CREATE_QUICK_LAUNCH)
                  || (type == IDD_FINISH && id >= IDC_LAUNCH_BOX && id <= IDC_RESTART_BOX)
                  || (type == IDD_DESTINATION && id == IDC_DEST_GROUP);
    return filled ? g_drawing.bodyBrush : (HBRUSH)GetStockObject(NULL_BRUSH);
}

static void RecreateBrush(HBRUSH* brush, COLORREF word)
{
    DeleteObject(*brush);
    *brush = CreateSolidBrush(ResolveColorWord(word));
}

INT_PTR CALLBACK DefaultPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitPage(page, (int)lParam);
        return FALSE;
    case WM_RETEXT: {
        TextPage(page, (int)lParam);
        for (int id = IDC_TITLE; id <= IDC_TEXT3; id++) {
            RECT area;
            GetWindowRect(GetDlgItem(page, id), &area);
            MapWindowPoints(0, page, (POINT*)&area, 2);
            InvalidateRect(g_wizard.frameWindow, &area, TRUE);
            InvalidateRect(page, &area, TRUE);
        }
        return TRUE;
    }
    case WM_COMMAND: {
        // Enter and Escape on a page are the frame's Next and Cancel.
        WORD id = LOWORD(wParam);
        if ((id == IDOK || id == IDCANCEL) && g_wizard.frameWindow)
            SendMessageA(g_wizard.frameWindow, WM_COMMAND, id == IDOK ? IDC_NEXT : IDC_CANCEL, 0);
        return TRUE;
    }
    case WM_NEXTDLGCTL:
        // A rich edit moves on with Tab itself, asking its parent, the page:
        // the frame's order runs through the page and the frame's buttons.
        if (g_wizard.frameWindow)
            SendMessageA(g_wizard.frameWindow, message, wParam, lParam);
        return TRUE;
    case WM_DESTROY:
        LeavePage();
        return TRUE;
    case WM_ERASEBKGND:
        Paint(page, (HDC)wParam);
        return TRUE;
    case WM_CTLCOLORSTATIC: {
        int id = GetDlgCtrlID((HWND)lParam);
        if (id == IDC_FOLDER_EDIT || id == IDC_COMBO)
            return FALSE;
        return (INT_PTR)StaticColours(page, (HDC)wParam, (HWND)lParam);
    }
    case WM_SYSCOLORCHANGE:
        RecreateBrush(&g_drawing.bodyBrush, g_appearance.bodyColor);
        RecreateBrush(&g_drawing.headerBrush, g_appearance.headerColor);
        RecreateBrush(&g_drawing.bandBrush, g_appearance.bandColor);
        return TRUE;
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_SIZE:
        case SC_MAXIMIZE:
        case SC_KEYMENU:
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// Each page type's own procedure: the default procedure first, for every
// message, then what is the type's own: its start, its controls, and the
// choices it writes back when it is left, in either direction.

// The text of CONTROL as a heap string of FOLDER_TEXT_SIZE bytes; null
// when it is empty.
static char* ControlText(HWND control)
{
    char* text = (char*)AllocMem(FOLDER_TEXT_SIZE);
    if (text && !GetWindowTextA(control, text, FOLDER_TEXT_SIZE)) {
        FreeMem(text);
        text = 0;
    }
    return text;
}

static INT_PTR CALLBACK LanguagePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR result = DefaultPageProc(page, message, wParam, lParam);
    if (message == WM_INITDIALOG)
        InitLanguagePage(page);
    else if (message == WM_COMMAND && LOWORD(wParam) == IDC_COMBO && HIWORD(wParam) == CBN_SELCHANGE)
        OnLanguageChosen(page);
    return result;
}

static INT_PTR CALLBACK WelcomePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR result = DefaultPageProc(page, message, wParam, lParam);
    if (message == WM_INITDIALOG && SmallLayout())
        SetExpandedText(GetDlgItem(page, IDC_TITLE), GetText(g_pages[lParam].texts, WELCOME_TEXT_SMALL_TITLE));
    return result;
}

// The licence and the information page: a rich edit with the script's text.
static INT_PTR CALLBACK DocumentPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR result = DefaultPageProc(page, message, wParam, lParam);
    if (message == WM_INITDIALOG) {
        const char* text = PageType((int)lParam) == IDD_LICENCE ? g_product.licenceText : g_product.infoText;
        if (text)
            SetDlgItemTextA(page, IDC_RICHEDIT, text);
    }
    return result;
}

static INT_PTR CALLBACK DestinationPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR result = DefaultPageProc(page, message, wParam, lParam);
    switch (message) {
    case WM_INITDIALOG:
        InitDestinationPage(page);
        break;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_FOLDER_EDIT && HIWORD(wParam) == EN_CHANGE)
            OnDestinationEdited(page);
        if (LOWORD(wParam) == IDC_BROWSE)
            OnBrowse(page);
        break;
    case WM_DESTROY:
        if (char* text = ControlText(GetDlgItem(page, IDC_FOLDER_EDIT))) {
            StripTrailingSlash(text);
            SetVariable("%InstallPath%", text);
            FreeMem(text);
        }
        break;
    }
    return result;
}

static INT_PTR CALLBACK ShortcutsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR result = DefaultPageProc(page, message, wParam, lParam);
    switch (message) {
    case WM_INITDIALOG:
        InitShortcutsPage(page);
        break;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_FOLDER_LIST && HIWORD(wParam) == LBN_SELCHANGE) {
            HWND list = GetDlgItem(page, IDC_FOLDER_LIST);
            char* text = (char*)AllocMem(FOLDER_TEXT_SIZE);
            int item = (int)SendMessageA(list, LB_GETCURSEL, 0, 0);
            if (text && item >= 0 && SendMessageA(list, LB_GETTEXTLEN, item, 0) < FOLDER_TEXT_SIZE) {
                SendMessageA(list, LB_GETTEXT, item, (LPARAM)text);
                SetDlgItemTextA(page, IDC_FOLDER_EDIT, text);
            }
            FreeMem(text);
        }
        if (LOWORD(wParam) == IDC_CREATE_GROUP) {
            g_wizard.createProgramGroup = IsDlgButtonChecked(page, IDC_CREATE_GROUP);
            EnableFolderControls(page, g_wizard.createProgramGroup);
        }
        break;
    case WM_DESTROY:
        if (char* text = ControlText(FolderText(page))) {
            SetVariable("%ShortcutsGroup%", text);
            FreeMem(text);
        }
        g_wizard.createDesktopShortcuts = IsDlgButtonChecked(page, IDC_CREATE_DESKTOP);
        g_wizard.createQuickLaunchShortcuts = IsDlgButtonChecked(page, IDC_CREATE_QUICK_LAUNCH);
        break;
    }
    return result;
}

static INT_PTR CALLBACK InstallingPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR result = DefaultPageProc(page, message, wParam, lParam);
    if (message == WM_INITDIALOG) {
        SetDlgItemTextA(page, IDC_FILE_TEXT, "");
        StartInstallWorker(page);
    }
    return result;
}

static INT_PTR CALLBACK FinishPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR result = DefaultPageProc(page, message, wParam, lParam);
    if (message == WM_INITDIALOG) {
        InitFinishPage(page, g_pages[lParam].texts);
    } else if (message == WM_DESTROY) {
        g_install.restartNow = IsDlgButtonChecked(page, IDC_RESTART_BOX);
        g_wizard.launchEnabled[1] = IsDlgButtonChecked(page, IDC_README_BOX);
        g_wizard.launchEnabled[0] = IsDlgButtonChecked(page, IDC_LAUNCH_BOX);
    }
    return result;
}

DLGPROC PageProcedure(int slot)
{
    // By page type, IDD_LANGUAGE to IDD_FINISH. The ready page has nothing
    // of its own; types 133, 134 and 136 have no template and never show.
    static const DLGPROC kProcedures[] = {
        LanguagePageProc,    WelcomePageProc, DocumentPageProc,  DocumentPageProc, DefaultPageProc,
        DefaultPageProc,     DestinationPageProc, DefaultPageProc, ShortcutsPageProc, DefaultPageProc,
        InstallingPageProc,  FinishPageProc,
    };
    return kProcedures[PageType(slot) - IDD_LANGUAGE];
}
