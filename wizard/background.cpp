// The full-screen gradient window behind the wizard.
#include "wizard.h"

HWND CreateBackgroundWindow()
{
    return GetDesktopWindow();
}
