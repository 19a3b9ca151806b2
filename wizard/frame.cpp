// The wizard frame: the modeless main dialog that hosts one page at a time.
#include "wizard.h"

INT_PTR CALLBACK WizardFrameProc(HWND frame, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SendMessageA(frame, WM_SETICON, ICON_BIG, (LPARAM)LoadIconA(g_app.instance, MAKEINTRESOURCEA(IDI_MAIN)));
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDCANCEL:
        case IDC_CANCEL:
            DestroyWindow(frame);
            return TRUE;
        }
        break;
    case WM_DESTROY:
        PostQuitMessage(0);
        return TRUE;
    }
    return FALSE;
}
