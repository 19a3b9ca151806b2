// The system functions outside KERNEL32, looked up once at start from the
// system folder's libraries instead of imported. An import would load
// USER32, SHELL32 and the rest, and what they load in turn, before the first
// instruction, searching the program's folder first, before the search can
// be restricted. It also saves the import
// lookup, address and hint entries: about 10 bytes a function, 1 KB in all.
//
// The calls stay as the SDK's headers declare them, through __imp_ pointers:
// this file defines those pointers itself, one after the other, and fills
// them in the order of the names. A function missing from the list fails
// the link with an undefined __imp_ symbol.
#include "support.h"

// The window and class long functions that take pointers exist apart only
// in 64-bit Windows; in 32-bit Windows they are macros for those above them.
#ifdef _WIN64
#define POINTER_LONG_FUNCTIONS(F) F(GetWindowLongPtrA, 8) F(SetWindowLongPtrA, 12) F(SetClassLongPtrA, 12)
#else
#define POINTER_LONG_FUNCTIONS(F)
#endif

// Each library, then its functions; F gives a function's argument bytes
// (its decoration in the 32-bit image), C marks the one cdecl function.
#define SYSTEM_IMPORTS(LIBRARY, F, C)                                                                        \
    LIBRARY(user32)                                                                                          \
    F(BeginPaint, 8) F(CharUpperA, 4) F(CharUpperBuffA, 8) F(CheckDlgButton, 12)                             \
    F(CreateDialogIndirectParamA, 20) F(CreateWindowExA, 48) F(DefWindowProcA, 16) F(DestroyWindow, 4)      \
    F(DialogBoxIndirectParamA, 20) F(DispatchMessageA, 4) F(DrawTextA, 20) F(EnableWindow, 8)               \
    F(EndDialog, 8) F(EndPaint, 8) F(ExitWindowsEx, 8) F(FillRect, 12) F(GetClientRect, 8) F(GetDC, 4)      \
    F(GetDesktopWindow, 0) F(GetDlgCtrlID, 4) F(GetDlgItem, 8) F(GetDlgItemTextA, 16) F(GetMessageA, 16)    \
    F(GetMessagePos, 0) F(GetParent, 4) F(GetSysColor, 4) F(GetSystemMetrics, 4) F(GetWindowLongA, 8) F(GetWindowRect, 8)       \
    F(GetWindowTextA, 12) F(InvalidateRect, 12) F(IsDialogMessageA, 8) F(IsDlgButtonChecked, 8)            \
    F(LoadCursorA, 8) F(LoadIconA, 8) F(MapWindowPoints, 16) F(MessageBoxA, 16)                             \
    F(MsgWaitForMultipleObjects, 20) F(OffsetRect, 12) F(PeekMessageA, 20) F(PostMessageA, 16)              \
    F(PostQuitMessage, 4) F(PostThreadMessageA, 16) F(PtInRect, 12) F(RegisterClassExA, 4) F(ReleaseDC, 8)  \
    F(SendDlgItemMessageA, 20) F(SendMessageA, 16) F(SetClassLongA, 12) F(SetCursor, 4)                     \
    F(SetDlgItemTextA, 12) F(SetFocus, 4) F(SetWindowLongA, 12) F(SetWindowPos, 28) F(SetWindowTextA, 8)    \
    F(ShowWindow, 8) F(UpdateWindow, 4) C(wsprintfA) POINTER_LONG_FUNCTIONS(F)                              \
    LIBRARY(gdi32)                                                                                           \
    F(CreateFontA, 56) F(CreateFontIndirectA, 4) F(CreatePalette, 4) F(CreatePen, 12) F(CreateSolidBrush, 4) \
    F(DeleteObject, 4) F(EnumFontFamiliesExA, 20) F(GetDeviceCaps, 8) F(GetStockObject, 4) F(Polygon, 12)   \
    F(RealizePalette, 4) F(SelectObject, 8) F(SelectPalette, 12) F(SetBkColor, 8) F(SetBkMode, 8)           \
    F(SetTextColor, 8) F(UnrealizeObject, 4)                                                                 \
    LIBRARY(advapi32)                                                                                        \
    F(AdjustTokenPrivileges, 24) F(AllocateAndInitializeSid, 44) F(EqualSid, 8) F(FreeSid, 4)                \
    F(GetTokenInformation, 20) F(ImpersonateSelf, 4) F(LookupPrivilegeValueA, 12) F(OpenProcessToken, 12)   \
    F(RegCloseKey, 4) F(RegCreateKeyExA, 36) F(RegDeleteKeyA, 8) F(RegDeleteValueA, 8)                      \
    F(RegEnumKeyExA, 32) F(RegOpenKeyExA, 20) F(RegQueryInfoKeyA, 48) F(RegQueryValueExA, 24)               \
    F(RegSetValueExA, 24)                                                                                    \
    LIBRARY(shell32)                                                                                         \
    F(SHBrowseForFolderA, 4) F(SHChangeNotify, 16) F(SHGetFileInfoA, 20) F(ShellExecuteA, 24)                                      \
    LIBRARY(ole32)                                                                                           \
    F(CoCreateInstance, 20) F(CoInitialize, 4) F(CoUninitialize, 0) F(OleInitialize, 4) F(OleUninitialize, 0)

// The names: each library's (".dll" implied) after an empty string, then its
// functions'; the empty string that ends the literal ends the table.
#define LIBRARY_NAME(library) "\0" #library "\0"
#define FUNCTION_NAME(function, ...) #function "\0"
static const char kImportNames[] = SYSTEM_IMPORTS(LIBRARY_NAME, FUNCTION_NAME, FUNCTION_NAME);

#define NO_LIBRARY(library)
#ifdef _WIN64
#define SLOT(function, ...) ".globl __imp_" #function "\n__imp_" #function ":.quad 0\n"
#define CDECL_SLOT SLOT
#else
#define SLOT(function, bytes) ".globl __imp__" #function "@" #bytes "\n__imp__" #function "@" #bytes ":.long 0\n"
#define CDECL_SLOT(function) ".globl __imp__" #function "\n__imp__" #function ":.long 0\n"
#endif
asm(".bss\n.p2align 3\nquillset_import_slots:\n" SYSTEM_IMPORTS(NO_LIBRARY, SLOT, CDECL_SLOT) ".text\n");
extern FARPROC g_importSlots[] asm("quillset_import_slots");

const char* ResolveSystemImports()
{
    RestrictLibrarySearch();
    FARPROC* slot = g_importSlots;
    for (const char* name = kImportNames + 1; *name; name++) {
        HMODULE library = LoadSystemLibrary(name);
        if (!library)
            return name;
        while (*(name += lstrlenA(name) + 1))
            if (!(*slot++ = GetProcAddress(library, name)))
                return name;
    }
    return 0;
}
