// Message boxes composed from a format and up to three texts, the system's
// description of a Windows error code, and what an unattended run answers
// and reports instead.
#include "support.h"

const char kRuntimeCaption[] = "Quillset";

BOOL g_unattended;
static DWORD s_exitCode;

void SetExitCode(DWORD code)
{
    if (g_unattended && !s_exitCode)
        s_exitCode = code;
}

DWORD ExitCode()
{
    return s_exitCode;
}

void ComposeMessage(char* buffer, const char* format, const char* first, const char* second, const char* third)
{
    // Without a first text the format is shown as it is, "%" included.
    // wsprintfA never writes more than 1,024 bytes, so a longer text is cut.
    if (!first)
        lstrcpynA(buffer, format ? format : "", MESSAGE_BUFFER_SIZE);
    else
        wsprintfA(buffer, format ? format : "", first, second, third);
}

int ShowMessage3(HWND owner, const char* caption, const char* format,
                 const char* first, const char* second, const char* third, UINT flags)
{
    // By the box's buttons, MB_OK to MB_CANCELTRYCONTINUE.
    static const BYTE kSafeAnswers[8] = { IDOK, IDCANCEL, IDABORT, IDCANCEL, IDNO, IDCANCEL, IDCANCEL, IDCANCEL };
    if (g_unattended)
        return kSafeAnswers[flags & 7];
    char text[MESSAGE_BUFFER_SIZE];
    ComposeMessage(text, format, first, second, third);
    return MessageBoxA(owner, text, caption, flags);
}

int ShowMessage2(HWND owner, const char* caption, const char* format,
                 const char* first, const char* second, UINT flags)
{
    return ShowMessage3(owner, caption, format, first, second, 0, flags);
}

int ShowMessage1(HWND owner, const char* caption, const char* format, const char* first, UINT flags)
{
    return ShowMessage3(owner, caption, format, first, 0, 0, flags);
}

const char* SystemErrorText(DWORD code)
{
    // One shared buffer; a code the system has no text for gives an empty text.
    static char s_errorText[1024];
    char* system = 0;
    s_errorText[0] = 0;
    if (FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, 0, code, 0,
                       (LPSTR)&system, 0, 0)) {
        lstrcpynA(s_errorText, system, sizeof(s_errorText));
        LocalFree(system);
    }
    return s_errorText;
}
