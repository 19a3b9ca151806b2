// What the whole process shares and no subsystem owns: its instance, its
// command line, where it runs from, the events and the thread that link the
// user interface with a worker, and the scratch space of the CSV splitter
// and the special-folder lookup. Zeroed before the entry point runs, filled
// by start-up, released by Cleanup.
#pragma once
#include "../support/support.h"

enum { FOLDER_PATH_SIZE = 32768 };

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
    // The one worker at a time, install or uninstall, and its thread's id
    // for the WM_QUIT of a cancellation.
    HANDLE workerThread;
    DWORD workerThreadId;

    StringList* csvFields;
    StringList* languageNames;   // the system's name of each primary language id
    char* folderPath;            // FOLDER_PATH_SIZE bytes: the result of ResolveFolderMacro
};

extern AppState g_app;
