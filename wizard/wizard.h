// The wizard: frame, pages, background window, uninstaller dialog.
#pragma once
#include "../startup/app_state.h"

enum { ID_BACK = 1010, ID_NEXT = 1011, ID_CANCEL = 1012, ID_PRODUCT_LABEL = 1001 };

INT_PTR CALLBACK WizardFrameProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam);
HWND CreateBackgroundWindow();
