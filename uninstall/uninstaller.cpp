// The uninstaller's start-up: finds and reads the install log and its
// header, and rolls a failed installation back from its temporary log.
#include "uninstall.h"
#include "../engine/install_log.h"
#include "../resources/ids.h"
#include "../script/script.h"


// Ends the line at *TEXT at its line feed and moves *TEXT behind it; null
// when no line feed ends the line.
static char* CutLine(char** text)
{
    char* line = *text;
    char* end = FindChar(line, '\n', -1, TRUE);
    if (!end)
        return 0;
    *end = 0;
    *text = end + 1;
    return line;
}

// A relocated copy gets its log as its one argument (after the program's
// quoted path, if any); otherwise the log lies beside the program, with the
// program's name and the extension ".log".
static char* LocateLog()
{
    char* commandLine = DupString(GetCommandLineA(), 0);
    if (!commandLine)
        return 0;
    char* arguments = commandLine;
    char* open = FindChar(commandLine, '"', -1, TRUE);
    char* close = open ? FindChar(open + 1, '"', -1, TRUE) : 0;
    if (close)
        arguments = close + 1;
    while ((BYTE)(*arguments - 1) < ' ')
        arguments++;
    int n = lstrlenA(arguments);
    while (n && (BYTE)(arguments[n - 1] - 1) < ' ')
        arguments[--n] = 0;
    char* path;
    if (n > 4 && SameText(arguments + n - 4, ".log")) {
        path = DupString(arguments, 0);
    } else {
        char* title = FileTitle(g_app.modulePath);
        path = JoinStrings(g_app.moduleFolder, "\\", title, ".log");
        FreeMem(title);
    }
    FreeMem(commandLine);
    return path;
}

// Header line 4: the layout, colours and fonts of the installer's wizard.
static void ReadAppearance(const char* line)
{
    // Where fields 1 to 8 go; fields 5 and 7 are font faces, the others numbers.
    static const WORD kFields[] = {
        FIELD_OFFSET(AppState, decorationColor), FIELD_OFFSET(AppState, headerColor),
        FIELD_OFFSET(AppState, bodyColor),       FIELD_OFFSET(AppState, bandColor),
        FIELD_OFFSET(AppState, titleFontFace),   FIELD_OFFSET(AppState, titleTextColor),
        FIELD_OFFSET(AppState, bodyFontFace),    FIELD_OFFSET(AppState, bodyTextColor),
    };
    SplitCsv(line, FALSE);
    g_app.layoutOffset = lstrcmpA(CsvField(0), "0") ? LAYOUT_SMALL_OFFSET : 0;
    for (int i = 1; i < 9; i++) {
        BYTE* field = (BYTE*)&g_app + kFields[i - 1];
        if (i == 5 || i == 7)
            lstrcpynA((char*)field, CsvField(i), LF_FACESIZE);
        else
            *(COLORREF*)field = ParseNumber(CsvField(i));
    }
}

void RunUninstaller(BOOL rollback)
{
    char* path = rollback ? DupString(g_app.tempLogPath, 0) : LocateLog();
    char* text = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING,
                              FILE_FLAG_WRITE_THROUGH | FILE_FLAG_SEQUENTIAL_SCAN, 0);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD size = GetFileSize(file, 0);
        DWORD read;
        if (size != INVALID_FILE_SIZE && (text = (char*)AllocMem(size + 1)))
            ReadFile(file, text, size, &read, 0);
        CloseHandle(file);
        // The rollback's log is the running installation's own temporary
        // file: read or not, it goes.
        if (rollback)
            DeleteFileA(path);
    }
    char* lines[4];
    char* rest = text;
    int count = 0;
    while (rest && count < 4 && (lines[count] = CutLine(&rest)))
        count++;
    if (count == 4 && !lstrcmpA(lines[0], kLogHeader)) {
        g_app.logText = text;
        g_app.logBody = rest;
        if (rollback) {
            // The header repeats what this run's wizard shows, which goes on
            // using its own texts while the worker runs.
            DWORD id;
            HANDLE worker = CreateThread(0, 0, UninstallWorker, 0, 0, &id);
            if (worker) {
                WaitForSingleObject(worker, INFINITE);
                CloseHandle(worker);
            }
        } else {
            g_app.productFullName = DupString(lines[1], 0);
            g_app.productName = DupString(lines[2], 0);
            ReadAppearance(lines[3]);
        }
        g_app.logText = g_app.logBody = 0;
    }
    FreeMem(text);
    FreeMem(path);
}
