// The shared-file question: whether to delete a shared file that no program
// counts any more, with Yes, Yes to all and No.
#include "uninstall.h"
#include "../startup/app_state.h"
#include "../engine/files.h"
#include "../wizard/wizard.h"
#include "../resources/ids.h"

static INT_PTR CALLBACK SharedFileProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        const char* const* texts = (const char* const*)lParam;
        SetWindowTextA(dialog, texts[0]);
        SetDlgItemTextA(dialog, IDC_SHARED_MESSAGE, texts[1]);
        SendDlgItemMessageA(dialog, IDC_SHARED_ICON, STM_SETIMAGE, IMAGE_ICON, (LPARAM)LoadIconA(0, IDI_QUESTION));
        return TRUE;
    }
    // Buttons only report clicks; Escape and the close box come as IDCANCEL.
    if (message == WM_COMMAND)
        EndDialog(dialog, LOWORD(wParam));
    return message == WM_COMMAND;
}

int AskSharedFile(HWND owner, const char* path)
{
    // Unattended, the file stays: keeping it breaks no other program.
    if (g_unattended)
        return IDCANCEL;
    char message[MESSAGE_BUFFER_SIZE];
    char* folder = ParentPath(path);
    ComposeMessage(message,
                   "请您仔细阅读下列信息：操作系统检测到下面的这些共享文件将可能不会再被其它任何程序使用， "
                   "如果还有要用到这些共享部件的程序而这些部件又被删除的话，这些程序将无法正常运行，请慎重决定。  "
                   "注意：您真的要从您的系统中删除这些共享文件吗？   \n\n文件名称 : %s\n文件位置  : %s\n\n"
                   "保留下这些共享文件对您的系统并没有任何弊端， "
                   "如果您不能确认这些共享文件是否还有用处，我们强烈建议您保留它们以免系统可能出现的各种问题。请慎重考虑！ ",
                   FileNamePart(path), folder, 0);
    FreeMem(folder);
    const char* texts[2] = { "已经检测到的共享文件", message };
    // Without its template the question cannot be asked: the file is kept.
    const DLGTEMPLATE* question = DialogTemplate(IDD_SHARED_FILE);
    return question ? (int)DialogBoxIndirectParamA(g_app.instance, question, owner, SharedFileProc, (LPARAM)texts)
                    : IDCANCEL;
}
