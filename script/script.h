// The installation script: records into the run state, texts by language,
// variables, FolderMacros and the comma-separated lines of the records.
#pragma once
#include "../support/support.h"
#include "../package/script_format.h"

typedef StringList* TextTable[LANGUAGE_COUNT];

// The product as the script names it, and the texts it shows in every
// language; the language page chooses languageId.
struct Product {
    char* productName;
    char* productFullName;
    char* captionText;
    char* licenceText;
    char* infoText;
    // Record 18, for the uninstall entry: DisplayVersion, Publisher and
    // URLInfoAbout; null or empty: not written.
    char* entryDetails[ENTRY_DETAIL_COUNT];
    BYTE setupOptions;   // the product record's option byte B
    BOOL createUninstaller;
    StringList* languageList;
    WORD languageId;
    TextTable textsWizard;
    TextTable textsMessages;
    TextTable textsExtra;   // the buttons' captions
};
extern Product g_product;

// The page slots: whether the script shows each and from which template,
// its texts, and what runs when it is left.
struct PageRecord {
    TextTable texts;
    StringList* programs;   // programs (record 13) run when the page is left
    StringList* dllCalls;   // DLL calls (record 14) run when the page is left
    BOOL enabled;
    int dialogId;
};
extern PageRecord g_pages[PAGE_COUNT];

// The lists that the script's records fill (the FolderMacros' paths come
// from start-up): the variable store, the programs and DLL calls of the
// start and of the removal, and the work of the install worker's stages.
enum WorkList {
    WORK_VARIABLE_NAMES,
    WORK_VARIABLE_VALUES,
    WORK_FOLDER_MACRO_PATHS,
    WORK_BEFORE_PROGRAMS,
    WORK_BEFORE_DLL_CALLS,
    WORK_UNINSTALL_PROGRAMS,
    WORK_UNINSTALL_DLL_CALLS,
    WORK_SHORTCUTS,
    WORK_REGISTRY_VALUES,
    WORK_INI_ENTRIES,
    WORK_ASSOCIATIONS,
    WORK_BACKGROUND_CAPTIONS,
    WORK_LIST_COUNT
};
extern StringList* g_workLists[WORK_LIST_COUNT];

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
// Fills csvFields (AppState) with 15 fields; quoted: field 0 is the text in double quotes.
void SplitCsv(const char* line, BOOL quoted);
const char* CsvField(int index);   // never null
// 0xRRGGBB as the script writes colours, to a COLORREF.
COLORREF FromRgbNumber(DWORD rgb);
