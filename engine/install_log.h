// The install log: what an installation changed, written for the uninstaller
// and for the rollback of a failed installation.
#pragma once
#include "../support/support.h"
#include "../package/script_format.h"

struct LogLineHashes {
    DWORD* items;   // TextHash of each of logLines
    int count, capacity;
};

// The install log being written: the temporary file while the worker runs,
// and every line recorded so far, each with its "\n".
struct InstallLog {
    HANDLE logFile;
    char* tempLogPath;
    StringList* logLines;
    LogLineHashes logLineHashes;
};
extern InstallLog g_log;

// Records one action line "CODE,TEXT" (TEXT may be null) in logLines, at most
// once ignoring case, and writes it to FILE at once when WRITENOW; with
// CHECKEXCLUSIONS a TEXT equal to a special folder's path is not recorded.
// A path of a one-field code ("a", "b", "g", "h") that holds a comma is
// recorded escaped (see ReadLogLine). The other codes take their fields
// joined by commas; a TEXT with another number of fields than the code has is
// not recorded: fields that may hold a comma go through AppendLogFields.
void AppendLogLine(HANDLE file, char code, const char* text, BOOL writeNow, BOOL checkExclusions);
// Records the COUNT FIELDS of one action line: plain when no field holds a
// comma, escaped otherwise.
void AppendLogFields(HANDLE file, char code, const char* const* fields, int count, BOOL writeNow);
extern const char kLogHeader[];   // the log's first line
// Cuts the header lines from *TEXT (null for no text) into LINES; TRUE when
// all are whole and the first is kLogHeader.
BOOL CutLogHeader(char** text, char* lines[LOG_HEADER_LINES]);

// The action code of LINE (without its line feed), its fields in csvFields;
// 0 for a line that is not an action line with its code's fields, the first
// not empty. An escaped line has its code in upper case and "%" and ","
// inside its fields as "%25" and "%2C"; it is returned as its lower-case
// code with the fields restored.
char ReadLogLine(const char* line);

// Names, creates and heads the temporary log (logFile, tempLogPath); FALSE when
// it could not be created, the header then being in logLines alone.
BOOL CreateTemporaryLog();
void CloseTemporaryLog();
// Closes the temporary log and deletes its file.
void DeleteTemporaryLog();
// Replaces the log at PATH, even a read-only one, by every line of logLines,
// and deletes the temporary log.
void WriteFinalLog(const char* path);
// "%InstallPath%\" and the uninstaller's file name with ".log" for its extension.
char* FinalLogPath();
