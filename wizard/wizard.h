// The wizard: frame, pages, destination checks, background window, and the
// dialog templates they are created from.
#pragma once
#include "../support/support.h"
#undef GetFreeSpace  // the SDK's 16-bit compatibility macro; the runtime has its own

enum { GRADIENT_STEPS = 200 };
// Colour words: a COLORREF, or a system colour by one of these bits.
enum { COLOR_WORD_WINDOW = 0x02000000, COLOR_WORD_BTNFACE = 0x01000000, DEFAULT_DECORATION_COLOR = 0x00C88C00 };

// How the wizard looks: the script's product, background and decoration
// records, or the uninstaller's log.
struct Appearance {
    char bodyFontFace[LF_FACESIZE];
    char titleFontFace[LF_FACESIZE];
    COLORREF bodyTextColor, titleTextColor;
    COLORREF bodyColor, bandColor, headerColor;   // colour words
    BYTE appearanceOptions;   // the product record's option byte A
    int layoutOffset;
    BOOL backgroundEnabled;
    COLORREF gradientColors[2];
    COLORREF decorationColor;
};
extern Appearance g_appearance;

// What start-up step 1 makes of the appearance.
struct DrawingResources {
    int screenDpi, stripeBottomWidth, stripeTopWidth;
    HPALETTE uiPalette;
    HFONT bodyFont, titleFont;
    HBRUSH headerBrush, bodyBrush, bandBrush, stripeBrush;
    HPEN stripePen;
};
extern DrawingResources g_drawing;

// The wizard's windows and slots, and the choices its pages offer and keep.
struct Wizard {
    HWND wizardParent, frameWindow, pageWindow;
    int currentPage, previousPage, lastPageIndex;
    // Shortcut kinds that record 10 lines name, and whether to create them.
    BOOL groupShortcutsPresent, desktopShortcutsPresent, quickLaunchShortcutsPresent;
    BOOL createProgramGroup, createDesktopShortcuts, createQuickLaunchShortcuts;
    char* launchPrograms[2];   // null: none
    BOOL launchEnabled[2];
};
extern Wizard g_wizard;

// Dialog templates: stored compressed in the image, inflated on first use.
// Null when ID names no template (or the templates cannot be inflated).
const DLGTEMPLATE* DialogTemplate(int id);
void FreeDialogTemplates();

// Frame (wizard/frame.cpp).
INT_PTR CALLBACK WizardFrameProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam);
// False when the script enables no page, or a slot without a template.
BOOL PageSlotsUsable();
// A slot's page type: its large-layout dialog id.
int PageType(int slot);
// The frame's bottom band in pixels, taken when the frame is created.
extern int g_bandHeight;
// The decorative stripe: a quadrilateral in the palette's stripe colour.
void DrawStripe(HDC dc, const POINT* corners);

// Pages (wizard/pages.cpp): the procedure of SLOT's page type, and the
// default procedure that every page and the uninstaller's dialog leave
// the messages to that are not their own.
DLGPROC PageProcedure(int slot);
INT_PTR CALLBACK DefaultPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
// Waits for workerThread, taking the messages it sends meanwhile.
void WaitForWorker();

// The uninstaller dialog (wizard/uninstaller_dialog.cpp), and the switch
// to its leftover view, which the uninstall worker makes from its thread
// when the removal kept folders.
INT_PTR CALLBACK UninstallerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void ShowLeftoverView(HWND dialog);
enum { WM_RETEXT = WM_USER + 10, WM_INSTALL_FAILED = WM_USER + 12 };

// Destination folder, disk space and browsing (wizard/destination.cpp).
BOOL IsValidInstallPath(const char* text);
// 0 and a new heap string in *existing with the longest part of PATH that
// exists; otherwise a Windows error code and *existing null.
DWORD FindExistingPart(const char* path, char** existing);
// The root whose free space counts for PATH: "X:" for a drive path,
// "\\server\share\" for a UNC path. ROOT holds MAX_PATH bytes.
void FreeSpaceRoot(const char* path, char* root);
ULONGLONG GetFreeSpace(const char* root);
// "%u Kb" up to 999,999 KB, "%u Mb" above; TEXT holds 16 bytes.
void FormatFreeSpace(ULONGLONG bytes, char* text);
void ShowFreeSpace(const char* root, HWND control);
BOOL BrowseForFolder(HWND owner, const char* title, const char* initialFolder, char* out);
BOOL ValidateDestination(HWND frame, HWND page);
void InitDestinationPage(HWND page);
void OnDestinationEdited(HWND page);
void OnBrowse(HWND page);

// Background window (wizard/background.cpp).
HWND CreateBackgroundWindow();
