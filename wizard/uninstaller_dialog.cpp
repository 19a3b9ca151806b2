// The uninstaller dialog's own behaviour: closing it while the removal runs,
// and the leftover view, a tree of the folders the removal had to keep, read
// as the user opens them, in which files and folders are ticked and deleted.
#include "wizard.h"
#include "../engine/engine.h"
#include "../startup/app_state.h"
#include "../engine/files.h"
#include "../uninstall/uninstall.h"
#include "../script/script.h"
#include "../resources/ids.h"
#include <commctrl.h>
#include <shellapi.h>

enum { KIND_PLACEHOLDER, KIND_FOLDER, KIND_FILE };

static HTREEITEM NextItem(HWND tree, HTREEITEM item, UINT relation)
{
    return (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, relation, (LPARAM)item);
}

// Check boxes are the state images: 1 unchecked, 2 checked.
static void SetChecked(HWND tree, HTREEITEM item, BOOL on)
{
    TVITEMA change;
    change.mask = TVIF_STATE;
    change.hItem = item;
    change.state = INDEXTOSTATEIMAGEMASK(on ? 2 : 1);
    change.stateMask = TVIS_STATEIMAGEMASK;
    SendMessageA(tree, TVM_SETITEMA, 0, (LPARAM)&change);
}

static BOOL IsChecked(HWND tree, HTREEITEM item)
{
    return (SendMessageA(tree, TVM_GETITEMSTATE, (WPARAM)item, TVIS_STATEIMAGEMASK) >> 12) == 2;
}

static LPARAM GetItemKind(HWND tree, HTREEITEM item)
{
    TVITEMA query;
    query.mask = TVIF_PARAM;
    query.hItem = item;
    query.lParam = KIND_PLACEHOLDER;
    SendMessageA(tree, TVM_GETITEMA, 0, (LPARAM)&query);
    return query.lParam;
}

__attribute__((noinline)) static HTREEITEM InsertTreeItem(HWND tree, HTREEITEM parent, const char* text, int image, int selectedImage,
                                LPARAM kind, BOOL checked)
{
    TVINSERTSTRUCTA insert;
    ZeroMem(&insert, sizeof(insert));
    insert.hParent = parent;
    // The tree keeps each level sorted by name, ignoring case.
    insert.hInsertAfter = TVI_SORT;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM | TVIF_STATE;
    insert.item.pszText = (char*)text;
    insert.item.iImage = image;
    insert.item.iSelectedImage = selectedImage;
    insert.item.lParam = kind;
    insert.item.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
    insert.item.stateMask = TVIS_STATEIMAGEMASK;
    return (HTREEITEM)SendMessageA(tree, TVM_INSERTITEMA, 0, (LPARAM)&insert);
}

// The shell's small icons by their index in the system image list, which
// asks for no icon handle to destroy. A folder that holds anything gets a
// placeholder child, so that it can be opened; a link to a folder never
// does: what it points to is not part of the product.
static void InsertPathItem(HWND tree, HTREEITEM parent, const char* path, LPARAM kind, BOOL checked)
{
    SHFILEINFOA info[2];
    for (int open = 0; open < 2; open++) {
        info[open].iIcon = 0;
        SHGetFileInfoA(path, 0, &info[open], sizeof(info[open]),
                       SHGFI_SYSICONINDEX | SHGFI_SMALLICON | (open ? SHGFI_OPENICON : 0));
    }
    const char* text = parent ? FindCharReverse(path, '\\', -1, TRUE) + 1 : path;
    HTREEITEM item = InsertTreeItem(tree, parent, text, info[0].iIcon, info[1].iIcon, kind, checked);
    if (kind == KIND_FOLDER && !(GetFileAttributesA(path) & FILE_ATTRIBUTE_REPARSE_POINT)
        && !IsFolderEmpty(path, TRUE))
        InsertTreeItem(tree, item, "", 0, 0, KIND_PLACEHOLDER, FALSE);
}

// The texts of ITEM and its ancestors joined from the root down; null when
// a text may have been cut, for a shorter path would name another file.
static char* ItemPath(HWND tree, HTREEITEM item)
{
    char* path = 0;
    char text[2 * MAX_PATH];
    for (; item; item = NextItem(tree, item, TVGN_PARENT)) {
        TVITEMA query;
        query.mask = TVIF_TEXT;
        query.hItem = item;
        query.pszText = text;
        query.cchTextMax = sizeof(text);
        text[0] = 0;
        SendMessageA(tree, TVM_GETITEMA, 0, (LPARAM)&query);
        char* joined = 0;
        if (lstrlenA(text) < (int)sizeof(text) - 1)
            joined = path ? JoinStrings(text, "\\", path) : DupString(text, 0);
        FreeMem(path);
        if (!(path = joined))
            return 0;
    }
    StripTrailingSlash(path);
    return path;
}

// ITEM, its siblings after it and everything loaded below them.
static void CheckTree(HWND tree, HTREEITEM item, BOOL on)
{
    for (; item; item = NextItem(tree, item, TVGN_NEXT)) {
        SetChecked(tree, item, on);
        CheckTree(tree, NextItem(tree, item, TVGN_CHILD), on);
    }
}

static int CountChecked(HWND tree, HTREEITEM item)
{
    int count = 0;
    for (; item; item = NextItem(tree, item, TVGN_NEXT))
        count += IsChecked(tree, item) + CountChecked(tree, NextItem(tree, item, TVGN_CHILD));
    return count;
}

// A folder's content, read when it is first opened: subfolders, then files,
// each ticked as the folder is. Files the removal left for the restart are
// not offered.
static void LoadFolderItems(HWND tree, HTREEITEM item)
{
    BOOL checked = IsChecked(tree, item);
    for (HTREEITEM child; (child = NextItem(tree, item, TVGN_CHILD));)
        SendMessageA(tree, TVM_DELETEITEM, 0, (LPARAM)child);
    char* folder = ItemPath(tree, item);
    char* pattern = JoinStrings(folder, "\\*");
    for (int isFile = 0; folder && pattern && isFile < 2; isFile++) {
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA(pattern, &entry);
        if (search == INVALID_HANDLE_VALUE)
            break;
        do {
            char* path = JoinStrings(folder, "\\", entry.cFileName);
            if (path && !IsDotEntry(entry.cFileName) && (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) == isFile
                && !(isFile && ListContainsText(g_uninstall.restartDeletes, path)))
                InsertPathItem(tree, item, path, isFile ? KIND_FILE : KIND_FOLDER, checked);
            FreeMem(path);
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    FreeMem(pattern);
    FreeMem(folder);
}

// The ticked entries among ITEM and its siblings: a ticked folder goes with
// all it holds, also what was never opened; an unticked one keeps what is
// not ticked inside it. Failures are silent: the item leaves the tree.
static void DeleteChecked(HWND tree, HTREEITEM item)
{
    while (item) {
        HTREEITEM next = NextItem(tree, item, TVGN_NEXT);
        LPARAM kind = GetItemKind(tree, item);
        if (kind == KIND_FOLDER && !IsChecked(tree, item)) {
            DeleteChecked(tree, NextItem(tree, item, TVGN_CHILD));
        } else if (kind != KIND_PLACEHOLDER && IsChecked(tree, item)) {
            char* path = ItemPath(tree, item);
            DWORD attributes = path ? GetFileAttributesA(path) : INVALID_FILE_ATTRIBUTES;
            if (kind == KIND_FOLDER) {
                if (path)
                    DeleteTree(path);
            } else if (attributes != INVALID_FILE_ATTRIBUTES
                       && (!(attributes & FILE_ATTRIBUTE_READONLY)
                           || ShowMessage1(0, "正在删除文件.", "%s 这个文件具有只读的属性，真的要强制删除它吗？ ", path,
                                           MB_YESNO | MB_ICONWARNING)
                                  != IDNO)) {
                SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path);
            }
            FreeMem(path);
            SendMessageA(tree, TVM_DELETEITEM, 0, (LPARAM)item);
        }
        item = next;
    }
}

static const char kLeftoverExplanation[] =
    "一些文件夹中包含的文件不是由软件的安装程序在安装时所创建的，所以不能由卸载程序自动删除，请您手动处理它们。  "
    "选中您想删除的文件或者文件夹前面的复选框，然后点击“删除”按钮。删除前请确认您已不需要它们！ ";

void ShowLeftoverView(HWND dialog)
{
    SetDlgItemTextA(dialog, IDC_CANCEL, "完成！");
    SetDlgItemTextA(dialog, IDC_TITLE, "软件的卸载已经完成.");
    if (g_appearance.layoutOffset) {
        ShowWindow(GetDlgItem(dialog, IDC_SUBTITLE), SW_HIDE);
        ShowWindow(GetDlgItem(dialog, IDC_TEXT3), SW_HIDE);
        SetDlgItemTextA(dialog, IDC_LEFTOVER_TEXT, kLeftoverExplanation);
    } else {
        char done[MESSAGE_BUFFER_SIZE];
        ComposeMessage(done, "软件 %s 已经完全从您的电脑中删除了！                ",
                       GetText(g_pages[SLOT_UNINSTALLER].texts, UNINSTALLER_TEXT_PRODUCT), 0, 0);
        SetDlgItemTextA(dialog, IDC_SUBTITLE, done);
        SetDlgItemTextA(dialog, IDC_TEXT3, kLeftoverExplanation);
    }
    HWND tree = GetDlgItem(dialog, IDC_TREE);
    SHFILEINFOA info;
    SendMessageA(tree, TVM_SETIMAGELIST, TVSIL_NORMAL,
                 SHGetFileInfoA("C:\\", 0, &info, sizeof(info), SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
    // Outermost folders only: a folder inside another listed one is part of it.
    StringList* folders = g_uninstall.leftovers;
    ListSort(folders, LIST_SORT_BY_LENGTH);
    for (int i = 0; i < ListCount(folders); i++) {
        char* outer = ListGet(folders, i);
        char* prefix = JoinStrings(outer, "\\");
        for (int j = ListCount(folders) - 1; prefix && j > i; j--) {
            char* inner = ListGet(folders, j);
            if (SameText(inner, outer) || FindText(inner, prefix, lstrlenA(prefix), FALSE) == inner)
                ListDelete(folders, j);
        }
        FreeMem(prefix);
    }
    SendMessageA(tree, WM_SETREDRAW, FALSE, 0);
    for (int i = 0; i < ListCount(folders); i++)
        InsertPathItem(tree, 0, ListGet(folders, i), KIND_FOLDER, FALSE);
    SendMessageA(tree, WM_SETREDRAW, TRUE, 0);
    // Shown once filled.
    static const WORD kShown[] = { IDC_UNINSTALL_FILE, IDC_PROGRESS, IDC_SELECT_ALL, IDC_DELETE, IDC_TREE };
    for (int i = 0; i < 5; i++)
        ShowWindow(GetDlgItem(dialog, kShown[i]), i < 2 ? SW_HIDE : SW_SHOW);
    // Sent, not SetFocus: this runs on the worker's thread.
    SendMessageA(dialog, WM_NEXTDLGCTL, (WPARAM)tree, TRUE);
    // The controls too: the dialog's background is painted under them.
    RedrawWindow(dialog, 0, 0, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

static void CloseDialog(HWND dialog)
{
    HoldWorker();
    if (WaitForSingleObject(g_app.uninstallDoneEvent, 0) != WAIT_OBJECT_0) {
        if (MessageBoxA(dialog,
                        "注意：这个卸载过程还没有完全结束。       \n"
                        "如果您现在退出，那么这个软件将不会被正确的从您的计算机中删除。 \n\n"
                        "您真的要退出这个卸载程序吗？  ",
                        GetText(g_pages[SLOT_UNINSTALLER].texts, UNINSTALLER_TEXT_CAPTION), MB_ICONWARNING | MB_YESNO)
            != IDYES) {
            ReleaseWorker(FALSE);
            return;
        }
        ReleaseWorker(TRUE);
        WaitForWorker();
        ListClear(g_uninstall.restartDeletes);
    } else {
        ReleaseWorker(FALSE);
        WaitForWorker();
    }
    EndDialog(dialog, 0);
}

static void OnUninstallerCommand(HWND dialog, WORD id)
{
    HWND tree = GetDlgItem(dialog, IDC_TREE);
    HWND deleteButton = GetDlgItem(dialog, IDC_DELETE);
    switch (id) {
    case IDOK:
    case IDCANCEL:
    case IDC_CANCEL:
        CloseDialog(dialog);
        break;
    case IDC_SELECT_ALL:
        SendMessageA(tree, WM_SETREDRAW, FALSE, 0);
        CheckTree(tree, NextItem(tree, 0, TVGN_ROOT), TRUE);
        SendMessageA(tree, WM_SETREDRAW, TRUE, 0);
        EnableWindow(deleteButton, TRUE);
        break;
    case IDC_DELETE:
        if (MessageBoxA(dialog, "您真的要删除选中的这些文件和文件夹吗？请仔细检查以免误删文件。 ", "请确认您的操作！ ",
                        MB_ICONQUESTION | MB_YESNO)
            != IDYES)
            break;
        DeleteChecked(tree, NextItem(tree, 0, TVGN_ROOT));
        EnableWindow(deleteButton, FALSE);
        break;
    }
}

static void OnLeftoverNotify(HWND dialog, const NMHDR* header)
{
    HWND tree = header->hwndFrom;
    UINT code = header->code;
    // The tree is the only control of the dialogs that sends these.
    if (code != TVN_ITEMEXPANDEDA && code != NM_CLICK)
        return;
    SendMessageA(tree, WM_SETREDRAW, FALSE, 0);
    if (code == TVN_ITEMEXPANDEDA) {
        const TVITEMA* item = &((const NMTREEVIEWA*)header)->itemNew;
        HTREEITEM child = NextItem(tree, item->hItem, TVGN_CHILD);
        if ((item->state & TVIS_EXPANDED) && child && GetItemKind(tree, child) == KIND_PLACEHOLDER)
            LoadFolderItems(tree, item->hItem);
    } else {
        // Before the tree turns the box over: the box shows the old state.
        TVHITTESTINFO hit;
        DWORD position = GetMessagePos();
        hit.pt.x = (short)LOWORD(position);
        hit.pt.y = (short)HIWORD(position);
        MapWindowPoints(0, tree, &hit.pt, 1);
        HTREEITEM item = (HTREEITEM)SendMessageA(tree, TVM_HITTEST, 0, (LPARAM)&hit);
        if (item && (hit.flags & TVHT_ONITEMSTATEICON)) {
            BOOL checking = !IsChecked(tree, item);
            if (checking) {
                CheckTree(tree, NextItem(tree, item, TVGN_CHILD), TRUE);
            } else {
                for (HTREEITEM above = item; (above = NextItem(tree, above, TVGN_PARENT));)
                    SetChecked(tree, above, FALSE);
                if (!(SendMessageA(tree, TVM_GETITEMSTATE, (WPARAM)item, TVIS_EXPANDED) & TVIS_EXPANDED))
                    SetChecked(tree, NextItem(tree, item, TVGN_CHILD), FALSE);
            }
            // Unticking: the item itself is still counted.
            EnableWindow(GetDlgItem(dialog, IDC_DELETE),
                         checking || CountChecked(tree, NextItem(tree, 0, TVGN_ROOT)) > 1);
        }
    }
    SendMessageA(tree, WM_SETREDRAW, TRUE, 0);
}

INT_PTR CALLBACK UninstallerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR result = DefaultPageProc(dialog, message, wParam, lParam);
    switch (message) {
    case WM_INITDIALOG:
        g_app.workerThread = CreateThread(0, 0, UninstallWorker, dialog, 0, &g_app.workerThreadId);
        break;
    case WM_COMMAND:
        OnUninstallerCommand(dialog, LOWORD(wParam));
        break;
    case WM_NOTIFY:
        OnLeftoverNotify(dialog, (const NMHDR*)lParam);
        break;
    }
    return result;
}
