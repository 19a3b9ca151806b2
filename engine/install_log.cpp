// The install log: lines recorded in memory for the final log and, when they
// describe something new, written at once to the temporary log that a
// rollback reads. Lines are "code,fields" with a line feed; fields hold no
// comma, except escaped in the lines whose code is in upper case.
#include "install_log.h"
#include "../startup/app_state.h"
#include "../script/script.h"
#include "../wizard/wizard.h"

InstallLog g_log;
extern const char kLogHeader[] = "=== Quillset log file ===";
static const char kFieldCounts[] = LOG_FIELD_COUNTS;

static void WriteText(HANDLE file, const char* text)
{
    DWORD written;
    if (file)
        WriteFile(file, text, lstrlenA(text), &written, 0);
}

// Brings logLineHashes in step with logLines, which may have been emptied
// or added to since: the once-only test compares texts only when their
// hashes agree, or a log of thousands of files would cost a quadratic number
// of comparisons.
static BOOL HashLines(const StringList* lines)
{
    LogLineHashes* hashes = &g_log.logLineHashes;
    int count = ListCount(lines);
    if (hashes->count > count)
        hashes->count = 0;
    if (count >= hashes->capacity) {
        DWORD* grown = (DWORD*)ResizeMem(hashes->items, (count + 256) * sizeof(DWORD));
        if (!grown)
            return FALSE;
        hashes->items = grown;
        hashes->capacity = count + 256;
    }
    for (; hashes->count < count; hashes->count++)
        hashes->items[hashes->count] = TextHash(ListGet(lines, hashes->count));
    return TRUE;
}

// Appends ENTRY, a line with its line feed, to logLines, unless UNIQUE and
// an equal line is there already: equal ignoring case, except the code,
// whose case tells an escaped line from a plain one. WRITENOW also writes it
// to FILE.
static void RecordEntry(HANDLE file, const char* entry, BOOL writeNow, BOOL unique)
{
    StringList* lines = g_log.logLines;
    BOOL hashed = HashLines(lines);
    DWORD hash = TextHash(entry);
    BOOL seen = FALSE;
    for (int i = 0; unique && !seen && i < ListCount(lines); i++)
        seen = (!hashed || g_log.logLineHashes.items[i] == hash) && *ListGet(lines, i) == *entry && SameText(ListGet(lines, i), entry);
    if (!seen && ListAppend(lines, entry) >= 0 && writeNow)
        WriteText(file, entry);
}

static void RecordLine(HANDLE file, const char* line, BOOL writeNow, BOOL unique)
{
    char* entry = JoinStrings(line, "\n");
    if (entry)
        RecordEntry(file, entry, writeNow, unique);
    FreeMem(entry);
}

static void RecordAction(HANDLE file, char code, const char* text, BOOL writeNow)
{
    char head[3] = { code, ',', 0 };
    if (!text)
        head[1] = 0;
    char* line = JoinStrings(head, text);
    if (line)
        RecordLine(file, line, writeNow, TRUE);
    FreeMem(line);
}

// "%" and "," are never trail bytes of a double-byte character, so bytes are
// escaped one by one.
static char* EscapeField(const char* field)
{
    char* escaped = (char*)AllocMem(lstrlenA(field) * 3 + 1);
    char* out = escaped;
    for (; out && *field; field++) {
        if (*field == '%' || *field == ',') {
            *out++ = '%';
            *out++ = '2';
            *out++ = *field == '%' ? '5' : 'C';
        } else {
            *out++ = *field;
        }
    }
    return escaped;
}

static void UnescapeField(char* field)
{
    char* out = field;
    for (; *field; field++) {
        if (field[0] == '%' && field[1] == '2' && (field[2] == '5' || field[2] == 'C')) {
            *out++ = field[2] == '5' ? '%' : ',';
            field += 2;
        } else {
            *out++ = *field;
        }
    }
    *out = 0;
}

void AppendLogFields(HANDLE file, char code, const char* const* fields, int count, BOOL writeNow)
{
    BOOL escape = FALSE;
    for (int i = 0; i < count; i++)
        escape |= FindChar(fields[i], ',', -1, TRUE) != 0;
    char* text = 0;
    for (int i = 0; i < count; i++) {
        char* field = escape ? EscapeField(fields[i]) : DupString(fields[i], 0);
        char* joined = field ? JoinStrings(text, i ? "," : "", field) : 0;
        FreeMem(field);
        FreeMem(text);
        if (!joined)
            return;
        text = joined;
    }
    RecordAction(file, escape ? code - 'a' + 'A' : code, text, writeNow);
    FreeMem(text);
}

void AppendLogLine(HANDLE file, char code, const char* text, BOOL writeNow, BOOL checkExclusions)
{
    const StringList* specialFolders = g_workLists[WORK_FOLDER_MACRO_PATHS];
    for (int i = 0; text && checkExclusions && i < ListCount(specialFolders); i++)
        if (SameText(text, ListGet(specialFolders, i)))
            return;
    int expected = code >= LOG_FOLDER && code <= LOG_SHORTCUT && text ? kFieldCounts[code - LOG_FOLDER] : 0;
    if (expected == LOG_PATH_FIELDS) {
        AppendLogFields(file, code, &text, 1, writeNow);
        return;
    }
    if (expected) {
        int count = 1;
        for (const char* p = text; *p; p++)
            count += *p == ',';
        const char* last = FindCharReverse(text, ',', -1, TRUE);
        BOOL withSubkeys = code == LOG_REGISTRY_KEY && count == LOG_REGISTRY_KEY_FIELDS + 1 && !lstrcmpA(last + 1, "1");
        if (count != expected && !withSubkeys)
            return;
    }
    RecordAction(file, code, text, writeNow);
}

char ReadLogLine(const char* line)
{
    char code = *line | 0x20;
    BOOL escaped = *line < 'a';
    const char* fields = line[0] && line[1] == ',' ? line + 2 : "";
    SplitCsv(fields, FALSE);
    int count = 1;
    for (; *fields; fields++)
        count += *fields == ',';
    // Only a line with the fields of its code is acted on, never on a part
    // of a path or key that a damaged line would give.
    if (code < LOG_FOLDER || code > LOG_SHORTCUT || !*CsvField(0)
        || (count != kFieldCounts[code - LOG_FOLDER]
            && !(code == LOG_REGISTRY_KEY && count == LOG_REGISTRY_KEY_FIELDS + 1)))
        return 0;
    for (int i = 0; escaped && i < count; i++)
        UnescapeField(ListGet(g_app.csvFields, i));
    return code;
}

BOOL CreateTemporaryLog()
{
    FreeMem(g_log.tempLogPath);
    g_log.tempLogPath = CreateTempFile(g_app.tempFolder);
    HANDLE file = INVALID_HANDLE_VALUE;
    if (g_log.tempLogPath)
        file = CreateFileA(g_log.tempLogPath, GENERIC_WRITE, FILE_SHARE_READ, 0, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_SEQUENTIAL_SCAN, 0);
    g_log.logFile = file == INVALID_HANDLE_VALUE ? 0 : file;

    RecordLine(g_log.logFile, kLogHeader, TRUE, TRUE);
    RecordLine(g_log.logFile, g_product.productFullName, TRUE, FALSE);
    RecordLine(g_log.logFile, g_product.productName, TRUE, FALSE);
    char appearance[32 + 2 * LF_FACESIZE + 7 * 11];
    wsprintfA(appearance, "%u,0x%X,0x%X,0x%X,0x%X,%s,0x%X,%s,0x%X", g_appearance.layoutOffset != 0,
              g_appearance.decorationColor, g_appearance.headerColor, g_appearance.bodyColor, g_appearance.bandColor,
              g_appearance.titleFontFace, g_appearance.titleTextColor, g_appearance.bodyFontFace,
              g_appearance.bodyTextColor);
    RecordLine(g_log.logFile, appearance, TRUE, TRUE);
    return g_log.logFile != 0;
}

void CloseTemporaryLog()
{
    if (g_log.logFile)
        CloseHandle(g_log.logFile);
    g_log.logFile = 0;
}

void DeleteTemporaryLog()
{
    CloseTemporaryLog();
    if (g_log.tempLogPath && *g_log.tempLogPath)
        DeleteFileA(g_log.tempLogPath);
}

BOOL CutLogHeader(char** text, char* lines[LOG_HEADER_LINES])
{
    int count = 0;
    while (*text && count < LOG_HEADER_LINES && (lines[count] = CutLine(text)))
        count++;
    return count == LOG_HEADER_LINES && !lstrcmpA(lines[0], kLogHeader);
}

// Whether what the action line in csvFields names is still there: the
// folder, the file (for "d" and "f" the program or library they run), the
// registry key or value.
static BOOL StillThere(char code)
{
    const char* first = CsvField(0);
    DWORD attributes = GetFileAttributesA(first);
    BOOL folder = attributes != INVALID_FILE_ATTRIBUTES && attributes & FILE_ATTRIBUTE_DIRECTORY;
    switch (code) {
    case LOG_FOLDER:
        return folder;
    case LOG_REGISTRY_VALUE:
    case LOG_REGISTRY_KEY:
        return RegistryEntryExists(RootKeyFromNumber(first), CsvField(1),
                                   code == LOG_REGISTRY_VALUE ? CsvField(2) : 0);
    }
    return attributes != INVALID_FILE_ATTRIBUTES && !folder;
}

// An earlier installation of this product into this folder left its log at
// PATH: logLines become this installation's header, the earlier log's action
// lines for what is still there, then this installation's lines that the
// earlier log lacks. One removal then undoes every installation, and a
// folder or key that the earlier one made keeps its place ahead of what
// lies in it. Only whole lines with their code's fields count.
static void KeepEarlierLines(const char* path)
{
    StringList* own = g_log.logLines;
    char* text = ReadWholeFile(path);
    char* rest = text;
    char* header[LOG_HEADER_LINES];
    StringList* merged = text && CutLogHeader(&rest, header) && !lstrcmpA(header[2], g_product.productName)
                             ? ListCreate(5)
                             : 0;
    if (merged) {
        g_log.logLines = merged;
        for (int i = 0; i < LOG_HEADER_LINES; i++)
            ListAppend(merged, ListGet(own, i));
        for (char* line; (line = CutLine(&rest));) {
            char code = ReadLogLine(line);
            if (code && StillThere(code))
                RecordLine(0, line, FALSE, TRUE);
        }
        for (int i = LOG_HEADER_LINES; i < ListCount(own); i++)
            RecordEntry(0, ListGet(own, i), FALSE, TRUE);
        ListDestroy(&own);
    }
    FreeMem(text);
}

void WriteFinalLog(const char* path)
{
    KeepEarlierLines(path);
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path);
    DeleteTemporaryLog();
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, 0, CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN, 0);
    if (file == INVALID_HANDLE_VALUE)
        return;
    for (int i = 0; i < ListCount(g_log.logLines); i++)
        WriteText(file, ListGet(g_log.logLines, i));
    CloseHandle(file);
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
}

char* FinalLogPath()
{
    char* title = FileTitle(GetVariable("%UninstallerFileName%"));
    char* name = JoinStrings(title, ".log");
    char* path = CombinePath(GetVariable("%InstallPath%"), name);
    FreeMem(title);
    FreeMem(name);
    return path;
}
