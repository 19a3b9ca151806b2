// Shortcuts through the shell's link object, and the programs and DLL
// functions that the script runs before the wizard, on leaving a page, after
// the wizard and at removal.
#include "integration.h"
#include "install_log.h"
#include "engine.h"
#include "files.h"
#include "../script/script.h"
#include <shlobj.h>
#include "../resources/ids.h"

static const GUID kClsidShellLink = { 0x00021401, 0, 0, { 0xC0, 0, 0, 0, 0, 0, 0, 0x46 } };
static const GUID kIidShellLinkA = { 0x000214EE, 0, 0, { 0xC0, 0, 0, 0, 0, 0, 0, 0x46 } };
static const GUID kIidPersistFile = { 0x0000010B, 0, 0, { 0xC0, 0, 0, 0, 0, 0, 0, 0x46 } };

BOOL CreateShortcut(const char* path, const char* target, const char* arguments, const char* workingFolder,
                    const char* iconFile, int iconIndex, int showCommand, DWORD hotkey)
{
    IShellLinkA* link;
    if (FAILED(CoCreateInstance(kClsidShellLink, 0, CLSCTX_INPROC_SERVER, kIidShellLinkA, (void**)&link)))
        return FALSE;
    link->SetPath(target);
    link->SetWorkingDirectory(workingFolder);
    if (showCommand)
        link->SetShowCmd(showCommand);
    if (LOWORD(hotkey))
        link->SetHotkey(LOWORD(hotkey));
    if (*iconFile)
        link->SetIconLocation(iconFile, iconIndex);
    if (arguments)
        link->SetArguments(arguments);
    BOOL saved = FALSE;
    IPersistFile* file;
    if (SUCCEEDED(link->QueryInterface(kIidPersistFile, (void**)&file))) {
        enum { WIDE_PATH_SIZE = 1024 };
        WCHAR* widePath = (WCHAR*)AllocMem(WIDE_PATH_SIZE * sizeof(WCHAR));
        MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, WIDE_PATH_SIZE);
        saved = SUCCEEDED(file->Save(widePath, TRUE));
        FreeMem(widePath);
        file->Release();
    }
    link->Release();
    return saved;
}

BOOL InstallShortcutLine(const char* line, HWND owner)
{
    char* macros = ExpandFolderMacros(line);
    char* expanded = ExpandVariables(macros);
    SplitCsv(expanded, FALSE);
    FreeMem(expanded);
    FreeMem(macros);
    char* columns[5];
    for (int i = 0; i < 5; i++)
        columns[i] = DupString(CsvField(i), 0);
    int iconIndex = ParseNumber(CsvField(5));
    int showCommand = *CsvField(6) ? ParseNumber(CsvField(6)) : SW_SHOWNORMAL;
    DWORD hotkey = ParseNumber(CsvField(7));
    BOOL shared = ParseNumber(CsvField(8)) != 0;
    const char* path = columns[0];
    BOOL existed = PathExists(path);
    ShowLine(owner, IDC_FILE_TEXT, path);
    if (!*columns[3]) {
        FreeMem(columns[3]);
        columns[3] = DupString(GetVariable("%InstallPath%"), 0);
    }
    StripTrailingSlash(columns[3]);
    BOOL goOn = TRUE;
    // A bare file name has no folder of its own to create.
    char* folder = FindChar(path, '\\', -1, TRUE) ? ParentPath(path) : 0;
    if (folder && *folder)
        goOn = CreateFolderChain(folder, g_log.logFile, owner);
    if (goOn && CreateShortcut(path, columns[1], columns[2], columns[3], columns[4], iconIndex, showCommand, hotkey)) {
        AppendLogLine(g_log.logFile, shared ? LOG_SHARED_FILE : LOG_SHORTCUT, path, shared || !existed, FALSE);
        if (shared)
            UpdateSharedDllCount(path, FALSE);
    } else if (goOn) {
        goOn = AskToContinue(owner, MESSAGE_CANNOT_CREATE_SHORTCUT, path, 0, 0);
    }
    FreeMem(folder);
    for (int i = 0; i < 5; i++)
        FreeMem(columns[i]);
    return goOn;
}

// Takes the line that was just run out of LIST, so the caller's index stays on the next one.
static void RemoveRunLine(StringList* list, int* index)
{
    if (!list || !index)
        return;
    ListDelete(list, *index);
    (*index)--;
}

void RunProgram(const char* program, const char* arguments, const char* workingFolder, BOOL wait, BOOL once,
                int windowMode, StringList* list, int* index)
{
    int show = windowMode == 1 ? SW_SHOWMINNOACTIVE : windowMode == 2 ? SW_SHOWMAXIMIZED : SW_SHOW;
    char* folder = DupString(workingFolder, 0);
    StripTrailingSlash(folder);
    const char* directory = *folder ? folder : 0;
    BOOL started = TRUE;
    if (SameText(program, "open")) {
        ShellExecuteA(GetDesktopWindow(), "open", arguments, 0, directory, show);
    } else {
        char* commandLine = JoinStrings("\"", program, "\" ", arguments);
        HANDLE process = StartProcess(0, commandLine,
                                      CREATE_DEFAULT_ERROR_MODE | CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS,
                                      directory, STARTF_USESHOWWINDOW | STARTF_FORCEONFEEDBACK, (WORD)show);
        FreeMem(commandLine);
        if ((started = process != 0)) {
            // The wizard keeps repainting while the program runs.
            while (wait && WaitForSingleObject(process, 100) == WAIT_TIMEOUT) {
                MSG message;
                while (PeekMessageA(&message, 0, WM_PAINT, WM_PAINT, PM_REMOVE))
                    DispatchMessageA(&message);
            }
            CloseHandle(process);
        }
    }
    if (once && started)
        RemoveRunLine(list, index);
    FreeMem(folder);
}

static BOOL IsRegistrationFunction(const char* name)
{
    static const char kNames[] = "DllRegisterServer\0DllUnregisterServer\0TLBRegister\0TLBUnregister\0";
    for (const char* entry = kNames; *entry; entry += lstrlenA(entry) + 1)
        if (!lstrcmpA(entry, name))
            return TRUE;
    return FALSE;
}

void CallDllFunction(const char* dllPath, const char* function, const char* first, const char* second, BOOL once,
                     StringList* list, int* index)
{
    HMODULE library = LoadScriptLibrary(dllPath);
    if (!library)
        return;
    FARPROC entry = GetProcAddress(library, function);
    if (entry) {
        if (IsRegistrationFunction(function)) {
            HRESULT ole = OleInitialize(0);
            if (ole == S_OK || ole == S_FALSE) {
                ((HRESULT(WINAPI*)())entry)();
                OleUninitialize();
            }
        } else if (!*first) {
            ((void(__cdecl*)())entry)();
        } else if (!*second) {
            ((void(__cdecl*)(const char*))entry)(first);
        } else {
            ((void(__cdecl*)(const char*, const char*))entry)(first, second);
        }
        if (once)
            RemoveRunLine(list, index);
    }
    FreeLibrary(library);
}

// Reads a run line's flag column: empty means FALLBACK.
static int FlagColumn(int column, int fallback)
{
    const char* text = CsvField(column);
    return *text ? ParseNumber(text) : fallback;
}

void RunPageActions(StringList* programs, StringList* dllCalls)
{
    for (int pass = 0; pass < 2; pass++) {
        StringList* list = pass ? dllCalls : programs;
        for (int i = 0; list && i < ListCount(list); i++) {
            char* line = ExpandVariables(ListGet(list, i));
            SplitCsv(line, FALSE);
            FreeMem(line);
            if (pass)
                CallDllFunction(CsvField(0), CsvField(1), CsvField(2), CsvField(3), FlagColumn(4, 1), list, &i);
            else
                RunProgram(CsvField(0), CsvField(1), CsvField(2), FlagColumn(3, 1), FlagColumn(4, 1),
                           FlagColumn(5, 0), list, &i);
        }
    }
}

void LaunchProgram(const char* program)
{
    char* expanded = ExpandVariables(program);
    RunProgram("open", expanded, GetVariable("%InstallPath%"), FALSE, FALSE, 0, 0, 0);
    FreeMem(expanded);
}
