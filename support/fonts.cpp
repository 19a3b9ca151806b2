// FontInstalled: whether the screen knows a font family of the given face.
#include "support.h"

static int CALLBACK CountFont(const LOGFONTA*, const TEXTMETRICA*, DWORD, LPARAM found)
{
    *(BOOL*)found = TRUE;
    return 0;
}

BOOL FontInstalled(const char* face)
{
    LOGFONTA font;
    ZeroMem(&font, sizeof(font));
    lstrcpynA(font.lfFaceName, face, LF_FACESIZE);
    BOOL found = FALSE;
    HDC dc = GetDC(0);
    EnumFontFamiliesExA(dc, &font, CountFont, (LPARAM)&found, 0);
    ReleaseDC(0, dc);
    return found;
}
