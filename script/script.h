// The installation script: records into the run state, texts by language,
// variables, FolderMacros and the comma-separated lines of the records.
#pragma once
#include "../startup/app_state.h"

void InterpretScript(const BYTE* script, DWORD size);
// FALSE when the record is malformed (a field runs past its payload, a string
// lacks its NUL, a text names no table): the walk stops there.
BOOL InterpretRecord(int type, const BYTE* payload, DWORD length);

const char* GetText(TextTable table, int index);

// Where a shortcut line (record 10) puts its shortcut: the kinds the user
// may turn off on the shortcuts page.
enum { SHORTCUT_IN_GROUP = 1, SHORTCUT_ON_DESKTOP = 2, SHORTCUT_IN_QUICK_LAUNCH = 4 };
int ShortcutKinds(const char* line);

const char* GetVariable(const char* name);
BOOL SetVariable(const char* name, const char* value);
char* ExpandVariables(const char* text);

// FOLDER_MACRO_TOKENS.
extern const char kFolderMacroTokens[];
char* ExpandFolderMacros(const char* text);

enum { CSV_FIELD_COUNT = 15 };
// Fills g_app.csvFields with 15 fields; quoted: field 0 is the text in double quotes.
void SplitCsv(const char* line, BOOL quoted);
const char* CsvField(int index);   // never null
// 0xRRGGBB as the script writes colours, to a COLORREF.
COLORREF FromRgbNumber(DWORD rgb);
