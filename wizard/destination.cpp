// The destination page: the folder's form, the part of it that exists, the
// free space where it lies, the shell's folder browser, and the checks on Next.
#include "wizard.h"
#include "../startup/app_state.h"
#include "../script/script.h"
#include "../environment/environment.h"
#include "../package/package.h"
#include "../resources/ids.h"

// Edit texts and browse results: 32,767 characters and the NUL.
enum { FOLDER_TEXT_SIZE = 32768 };

static const char kInstallPath[] = "%InstallPath%";

static BOOL IsDriveLetter(char c)
{
    return (BYTE)((c | 0x20) - 'a') < 26;
}

BOOL IsValidInstallPath(const char* text)
{
    int n = lstrlenA(text);
    if (!n)
        return FALSE;
    for (const char* bad = "?*/<>|"; *bad; bad++)
        if (FindChar(text, *bad, -1, TRUE))
            return FALSE;
    if (n > 2 && FindChar(text + 2, ':', -1, TRUE))
        return FALSE;
    // Doubled backslashes are allowed only as the opening of a UNC path.
    if (FindText(text + 1, "\\\\", -1, TRUE))
        return FALSE;
    if (text[0] == '\\' && text[1] == '\\') {
        const char* serverEnd = FindChar(text + 2, '\\', -1, TRUE);
        // A share name follows: its first byte from 1 to 127, one unsigned
        // test that the NUL fails by wrapping round to 255.
        return serverEnd && (BYTE)(serverEnd[1] - 1) < 127;
    }
    return IsDriveLetter(text[0]) && text[1] == ':' && (!text[2] || text[2] == '\\');
}

DWORD FindExistingPart(const char* path, char** existing)
{
    *existing = 0;
    char* copy = DupString(path, 1);
    if (!copy)
        return ERROR_NOT_ENOUGH_MEMORY;
    while (!PathExists(copy)) {
        DWORD error = GetLastError();
        char* slash = FindCharReverse(copy, '\\', -1, TRUE);
        if (!slash) {
            FreeMem(copy);
            return error ? error : ERROR_PATH_NOT_FOUND;
        }
        *slash = 0;
    }
    int n = lstrlenA(copy);
    if (n && copy[n - 1] == ':')
        lstrcatA(copy, "\\");
    *existing = copy;
    return 0;
}

void FreeSpaceRoot(const char* path, char* root)
{
    lstrcpynA(root, path, MAX_PATH - 1);
    if (root[0] == '\\' && root[1] == '\\') {
        // A share's free space is asked of "\\server\share\".
        char* end = FindChar(root + 2, '\\', -1, TRUE);
        end = end ? FindChar(end + 1, '\\', -1, TRUE) : 0;
        if (end)
            end[1] = 0;
        else
            lstrcatA(root, "\\");
    } else if (root[0]) {
        root[1] = ':';
        root[2] = 0;
    }
}

typedef BOOL(WINAPI* DiskFreeSpaceExFunction)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);

ULONGLONG GetFreeSpace(const char* root)
{
    // Windows 95 before OSR2 lacks the Ex call, and with it disks above 2 GB.
    DiskFreeSpaceExFunction freeSpaceEx =
        (DiskFreeSpaceExFunction)GetProcAddress(GetModuleHandleA("KERNEL32.DLL"), "GetDiskFreeSpaceExA");
    if (freeSpaceEx) {
        ULARGE_INTEGER available;
        return freeSpaceEx(root, &available, 0, 0) ? available.QuadPart : 0;
    }
    DWORD sectorsPerCluster, bytesPerSector, freeClusters, clusters;
    if (!GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters))
        return 0;
    return (ULONGLONG)(sectorsPerCluster * bytesPerSector) * freeClusters;
}

void FormatFreeSpace(ULONGLONG bytes, char* text)
{
    // Compared in 64 bits: a disk of 4 TB or more would wrap to a few kilobytes.
    if (bytes >> 10 <= 999999)
        wsprintfA(text, "%u Kb", (DWORD)(bytes >> 10));
    else
        wsprintfA(text, "%u Mb", (DWORD)(bytes >> 20));
}

void ShowFreeSpace(const char* root, HWND control)
{
    char text[16];
    FormatFreeSpace(GetFreeSpace(root), text);
    SetWindowTextA(control, text);
}

static char* ReadFolderText(HWND page)
{
    char* text = (char*)AllocMem(FOLDER_TEXT_SIZE);
    if (text)
        GetDlgItemTextA(page, IDC_FOLDER_EDIT, text, FOLDER_TEXT_SIZE - 1);
    return text;
}

// The free space of ROOT and the label naming it: a drive by its letter, a
// share by its root.
static void ShowDrive(HWND page, char* root)
{
    CharUpperBuffA(root, 1);
    ShowFreeSpace(root, GetDlgItem(page, IDC_SPACE_FREE));
    if (root[1] == ':')
        root[1] = 0;
    char* label = ReplaceAll(GetText(g_pages[SLOT_DESTINATION].texts, DESTINATION_TEXT_FREE_SPACE), "%DISK%", root, FALSE);
    SetDlgItemTextA(page, IDC_SPACE_FREE_LABEL, label);
    FreeMem(label);
}

void InitDestinationPage(HWND page)
{
    HWND edit = GetDlgItem(page, IDC_FOLDER_EDIT);
    SetFocus(edit);
    char* folder = DupString(GetVariable(kInstallPath), 0);
    StripTrailingSlash(folder);
    SetWindowTextA(edit, folder);
    char text[16];
    wsprintfA(text, "%u Kb", g_package.header.unpackedTotal >> 10);
    SetDlgItemTextA(page, IDC_SPACE_REQUIRED, text);
    // Without a script text the label's template text is the pattern.
    StringList** texts = g_pages[SLOT_DESTINATION].texts;
    if (!GetText(texts, DESTINATION_TEXT_FREE_SPACE)) {
        char pattern[64];
        GetDlgItemTextA(page, IDC_SPACE_FREE_LABEL, pattern, sizeof(pattern));
        ListSetAt(texts[g_product.languageId], DESTINATION_TEXT_FREE_SPACE, pattern);
    }
    char root[MAX_PATH];
    FreeSpaceRoot(folder ? folder : "", root);
    ShowDrive(page, root);
    FreeMem(folder);
}

// The labels are transparent: the frame behind them must repaint too.
static void RepaintInFrame(HWND page, int id)
{
    RECT area;
    GetWindowRect(GetDlgItem(page, id), &area);
    MapWindowPoints(0, g_wizard.frameWindow, (POINT*)&area, 2);
    InvalidateRect(g_wizard.frameWindow, &area, TRUE);
}

void OnDestinationEdited(HWND page)
{
    // Until the text names an existing drive or share, the labels keep the
    // previous one.
    char* text = ReadFolderText(page);
    if (!text)
        return;
    char root[MAX_PATH];
    FreeSpaceRoot(text, root);
    if ((IsDriveLetter(root[0]) || root[0] == '\\') && PathExists(root)) {
        ShowDrive(page, root);
        RepaintInFrame(page, IDC_SPACE_FREE_LABEL);
        RepaintInFrame(page, IDC_SPACE_FREE);
    }
    FreeMem(text);
}

static int CALLBACK BrowseCallback(HWND dialog, UINT message, LPARAM, LPARAM initialFolder)
{
    if (message == BFFM_INITIALIZED)
        SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, initialFolder);
    return 0;
}

BOOL BrowseForFolder(HWND owner, const char* title, const char* initialFolder, char* out)
{
    LPITEMIDLIST root;
    GetSpecialFolderIdList(owner, CSIDL_DRIVES, &root);
    BOOL chosen = FALSE;
    // S_FALSE: OLE was already initialised on this thread, which serves as well.
    if (SUCCEEDED(OleInitialize(0))) {
        char displayName[MAX_PATH];
        BROWSEINFOA browse;
        ZeroMem(&browse, sizeof(browse));
        browse.hwndOwner = owner;
        browse.pidlRoot = root;
        browse.pszDisplayName = displayName;
        browse.lpszTitle = title;
        browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT;
        browse.lpfn = BrowseCallback;
        browse.lParam = (LPARAM)initialFolder;
        LPITEMIDLIST item = SHBrowseForFolderA(&browse);
        if (item) {
            chosen = g_shell.getPathFromIdList(item, out);
            g_shell.freeIdList(item);
        }
        OleUninitialize();
    }
    if (root)
        g_shell.freeIdList(root);
    return chosen;
}

void OnBrowse(HWND page)
{
    char* text = ReadFolderText(page);
    char* chosen = (char*)AllocMem(FOLDER_TEXT_SIZE);
    // The product's folder name: the last component of %InstallPath%.
    char* installPath = DupString(GetVariable(kInstallPath), 0);
    StripTrailingSlash(installPath);
    const char* slash = FindCharReverse(installPath, '\\', -1, TRUE);
    const char* name = slash ? slash + 1 : installPath;
    char* existing = 0;
    if (text)
        FindExistingPart(text, &existing);
    if (chosen && installPath &&
        BrowseForFolder(page, GetText(g_pages[SLOT_DESTINATION].texts, DESTINATION_TEXT_BROWSE_TITLE), existing, chosen)) {
        int n = lstrlenA(chosen), k = lstrlenA(name);
        char* result = n > k && SameText(chosen + n - k, name)
                           ? DupString(chosen, 0)
                           : JoinStrings(chosen, n && chosen[n - 1] == '\\' ? "" : "\\", name);
        SetDlgItemTextA(page, IDC_FOLDER_EDIT, result);
        FreeMem(result);
    }
    FreeMem(existing);
    FreeMem(installPath);
    FreeMem(chosen);
    FreeMem(text);
}

BOOL ValidateDestination(HWND frame, HWND page)
{
    char* text = ReadFolderText(page);
    char* existing = 0;
    StringList** table = g_product.textsMessages;
    int entry = 0;
    const char* argument = 0;
    if (!text || !IsValidInstallPath(text)) {
        table = g_product.textsWizard;
        entry = WIZARD_INVALID_FOLDER;
    } else if (DWORD error = FindExistingPart(text, &existing)) {
        entry = error == ERROR_ACCESS_DENIED ? MESSAGE_DESTINATION_DENIED : MESSAGE_NO_DESTINATION_DRIVE;
    } else {
        char root[MAX_PATH];
        FreeSpaceRoot(existing, root);
        if (GetFreeSpace(root) < g_package.header.unpackedTotal) {
            entry = MESSAGE_NOT_ENOUGH_SPACE;
        } else {
            // Creating the folder needs the right to add a subfolder to the
            // nearest existing one; installing into an existing folder needs
            // the right to add files.
            BOOL addFile = SameText(existing, text);
            BOOL granted;
            if (!CheckObjectAccess(g_app.accessToken, existing, SE_FILE_OBJECT,
                                   addFile ? FILE_ADD_FILE : FILE_ADD_SUBDIRECTORY, &granted) && !granted) {
                entry = addFile ? MESSAGE_NO_RIGHT_TO_ADD_FILES : MESSAGE_NO_RIGHT_TO_ADD_FOLDERS;
                argument = addFile ? 0 : existing;
            }
        }
    }
    if (entry)
        ShowMessage1(frame, g_product.captionText, GetText(table, entry), argument, MB_ICONERROR);
    FreeMem(existing);
    FreeMem(text);
    return !entry;
}
