// The one process-wide run state: zeroed before the entry point runs,
// filled by start-up and the script, released by Cleanup.
#pragma once
#include "../support/support.h"
#include "../package/package_format.h"
#include "../package/script_format.h"

enum { GRADIENT_STEPS = 200, FOLDER_PATH_SIZE = 32768 };

typedef StringList* TextTable[LANGUAGE_COUNT];

struct PageRecord {
    TextTable texts;
    StringList* programs;      // programs (record 13) run when the page is left
    StringList* dllCalls;      // DLL calls (record 14) run when the page is left
    BOOL enabled;
    int dialogId;
};

// Every list that step 0 creates with growth 5, kept together so that one
// loop creates and one loop destroys them.
struct AppLists {
    StringList* variableNames;
    StringList* variableValues;
    StringList* languageNames;
    StringList* folderMacroPaths;
    StringList* beforePrograms;
    StringList* beforeDllCalls;
    StringList* uninstallPrograms;
    StringList* uninstallDllCalls;
    StringList* shortcuts;
    StringList* registryValues;
    StringList* iniEntries;
    StringList* associations;
    StringList* backgroundCaptions;
    StringList* pendingTempFiles;  // files in use: the new file's temporary copy,
    StringList* pendingTargets;    // the path it replaces at the next restart,
    StringList* pendingFlags;      // "1" for a shared file, else "0"
    StringList* restartDeletes;
    StringList* leftovers;
    StringList* logLines;        // every install-log line recorded so far, each with its "\n"
};

struct LogLineHashes {
    DWORD* items;   // TextHash of each of logLines
    int count, capacity;
};

struct AppState {
    HINSTANCE instance;
    // The command line, after the program's name and any "/S": what "/D="
    // gives (the rest of the line), else the rest of the line; null: none.
    const char* destinationArgument;
    const char* commandArgument;
    char* modulePath;
    char* moduleFolder;
    char* tempFolder;
    HMODULE richEditLibrary;
    HANDLE uninstallDoneEvent;
    HANDLE installDoneEvent;
    HANDLE pauseEvent;
    HANDLE accessToken;

    StringList* csvFields;
    StringList* languageList;
    AppLists lists;
    TextTable textsWizard;
    TextTable textsMessages;
    TextTable textsExtra;      // the buttons' captions
    PageRecord pages[PAGE_COUNT];
    WORD languageId;

    // Product and appearance (script record 9 and its neighbours).
    char* productName;
    char* productFullName;
    char* captionText;
    char* licenceText;
    char* infoText;
    char bodyFontFace[LF_FACESIZE];
    char titleFontFace[LF_FACESIZE];
    COLORREF bodyTextColor, titleTextColor;
    COLORREF bodyColor, bandColor, headerColor;
    BYTE appearanceOptions, setupOptions;   // record 9's option bytes A and B
    int layoutOffset;
    char* launchPrograms[2];   // null: none
    BOOL launchEnabled[2];
    BOOL backgroundEnabled;
    COLORREF gradientColors[2];
    COLORREF decorationColor;
    BOOL createUninstaller;
    // Record 18, for the uninstall entry: DisplayVersion, Publisher and
    // URLInfoAbout; null or empty: not written.
    char* entryDetails[ENTRY_DETAIL_COUNT];

    // Shortcut kinds that record 10 lines name, and whether to create them.
    BOOL groupShortcutsPresent, desktopShortcutsPresent, quickLaunchShortcutsPresent;
    BOOL createProgramGroup, createDesktopShortcuts, createQuickLaunchShortcuts;

    char* folderPath;   // FOLDER_PATH_SIZE bytes: the result of ResolveFolderMacro

    // Drawing resources (start-up step 1).
    int screenDpi, stripeBottomWidth, stripeTopWidth;
    HPALETTE uiPalette;
    HFONT bodyFont, titleFont;
    HBRUSH headerBrush, bodyBrush, bandBrush, stripeBrush;
    HPEN stripePen;

    // Wizard and workers.
    HWND wizardParent, frameWindow, pageWindow;
    int currentPage, previousPage, lastPageIndex;
    HANDLE logFile;              // the temporary install log while the worker writes it
    LogLineHashes logLineHashes;
    char* tempLogPath;
    HANDLE workerThread;
    DWORD workerThreadId;

    // The uninstaller and the rollback: the log read whole, its first action line.
    char* logText;
    char* logBody;
    BOOL deleteAllShared;
};

extern AppState g_app;

enum { COLOR_WORD_WINDOW = 0x02000000, COLOR_WORD_BTNFACE = 0x01000000, DEFAULT_DECORATION_COLOR = 0x00C88C00 };
