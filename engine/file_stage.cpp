// The file stage of the install worker: the package's file groups become
// folders and files on disk, with the overwrite rules, the questions about
// files that cannot be written, and temporary copies of files in use that
// replace them at the next restart.
#include "engine.h"
#include "../startup/app_state.h"
#include "files.h"
#include "install_log.h"
#include "integration.h"
#include "../package/package.h"
#include "../environment/environment.h"
#include "../script/script.h"
#include "../resources/ids.h"
#include <commctrl.h>

// Data is read in pieces of INPUT_CHUNK: bounded memory for a file of any
// size, few enough calls that the pieces cost nothing measurable. Every
// DATA_CHUNK written is a check point.
enum { DATA_CHUNK = 0x100000, INPUT_CHUNK = 0x10000 };
// The path line follows the entries at most ten times a second: each update
// waits for the page to repaint, which costs more than writing a small file.
enum { PATH_LINE_INTERVAL = 100 };

#pragma pack(push, 1)
struct FileRecord {
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    DWORD versionMs, versionLs, storedLength;
};
struct GroupHeader {
    DWORD nextGroupOffset, overwriteRule, compareMode, sharedFiles, reserved;
};
#pragma pack(pop)

struct FileStage {
    InstallRun* run;
    ULONGLONG base;        // file offset of the PackageHeader
    DWORD dataSize;        // scriptOffset - dataOffset, the progress total
    GroupHeader group;
    StringList* levels;    // slot 0 the destination, slot k+1 the directory of parent index k
    DWORD shownPercent;    // on the progress bar: sent only when it changes
    const char* unshownPath;   // the current entry's, until the path line shows it
    DWORD pathShownAt;
};

static void ShowPath(FileStage* stage, const char* path)
{
    stage->unshownPath = path;
    if (path && GetTickCount() - stage->pathShownAt >= PATH_LINE_INTERVAL) {
        ShowLine(stage->run->page, IDC_FILE_TEXT, path);
        stage->pathShownAt = GetTickCount();
        stage->unshownPath = 0;
    }
}

// A condition of the comparing overwrite rules on a comparison result (< 0, 0, > 0).
static BOOL RuleHolds(DWORD rule, int comparison)
{
    return rule == OVERWRITE_IF_NEWER           ? comparison > 0
           : rule == OVERWRITE_IF_NEWER_OR_SAME ? comparison >= 0
                                                : comparison < 0;
}

static int CompareVersions(const FileRecord* packaged, const FileVersion* existing)
{
    if (packaged->versionMs != existing->ms)
        return packaged->versionMs > existing->ms ? 1 : -1;
    if (packaged->versionLs != existing->ls)
        return packaged->versionLs > existing->ls ? 1 : -1;
    return 0;
}

// Whether the packaged file replaces the existing one at PATH. Rules above
// OVERWRITE_NEVER, which no table covers, keep the existing file as it does.
static BOOL ShouldOverwrite(const GroupHeader* group, const char* path, const FileRecord* packaged)
{
    DWORD rule = group->overwriteRule;
    if (rule == OVERWRITE_ALWAYS)
        return TRUE;
    if (rule >= OVERWRITE_NEVER)
        return FALSE;
    WIN32_FIND_DATAA existing;
    HANDLE search = FindFirstFileA(path, &existing);
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    BOOL dateHolds = RuleHolds(rule, CompareFileTime(&packaged->attributes.ftLastWriteTime, &existing.ftLastWriteTime));
    FileVersion version;
    BOOL hasVersion = ReadVersionResource(path, &version, FALSE);
    BOOL versionHolds = RuleHolds(rule, CompareVersions(packaged, &version));
    switch (group->compareMode) {
    case COMPARE_TIMES:
        return dateHolds;
    case COMPARE_VERSIONS:
        return !hasVersion || versionHolds;
    case COMPARE_BOTH:
        return dateHolds && (!hasVersion || versionHolds);
    }
    return TRUE;
}

static void ShowProgress(FileStage* stage, DWORD position)
{
    DWORD percent = stage->dataSize ? MulDivFloor(position, 100, stage->dataSize) : 0;
    if (percent != stage->shownPercent)
        SendMessageA(stage->run->progressBar, PBM_SETPOS, stage->shownPercent = percent, 0);
}

// One entry's data on its way from the package to FILE.
struct EntryWriter {
    FileStage* stage;
    HANDLE file;
    ULONGLONG dataAt;
    DWORD stored, consumed, size, produced, entryPosition, error;
};

// The next piece of the entry's stored bytes; 0 at their end, or when the
// package cannot be read there.
static unsigned TakeInput(void* context, unsigned char** next)
{
    EntryWriter* w = (EntryWriter*)context;
    DWORD chunk = w->stored - w->consumed < INPUT_CHUNK ? w->stored - w->consumed : INPUT_CHUNK;
    if (!chunk)
        return 0;
    if (!(*next = (unsigned char*)PackageBytes(w->dataAt + w->consumed, chunk))) {
        w->error = ERROR_INVALID_DATA;
        return 0;
    }
    w->consumed += chunk;
    return chunk;
}

// Writes a piece; non-zero, with the error noted, stops the entry.
static int PutOutput(void* context, unsigned char* data, unsigned length)
{
    EntryWriter* w = (EntryWriter*)context;
    FileStage* stage = w->stage;
    DWORD written;
    if (length > w->size - w->produced) {
        w->error = ERROR_INVALID_DATA;
    } else if (!WriteFile(w->file, data, length, &written, 0) || written != length) {
        // A filling disk may take part of a piece and report success (Wine does).
        w->error = written && written != length ? ERROR_HANDLE_DISK_FULL : GetLastError();
    } else {
        DWORD before = w->produced;
        w->produced += length;
        ShowProgress(stage, w->entryPosition + w->consumed);
        ShowPath(stage, stage->unshownPath);
        // Each mebibyte of a large file is also a place to stop at, so that
        // a cancellation does not wait for its end. The count has crossed a
        // multiple of DATA_CHUNK, a power of two, when a bit at or above its
        // own has changed.
        if ((before ^ w->produced) >= DATA_CHUNK && !CheckPoint(stage->run))
            w->error = ERROR_CANCELLED;
    }
    return w->error != 0;
}

// Writes the entry's data to FILE from its start: stored bytes as they are, a
// compressed stream inflated piece by piece. 0, the error of a failed write,
// ERROR_INVALID_DATA for a stream that fails or yields another size than the
// record's, or ERROR_CANCELLED when the installation was cancelled meanwhile.
static DWORD WriteEntryData(FileStage* stage, HANDLE file, ULONGLONG dataAt, const FileRecord* record,
                            BOOL compressed, DWORD entryPosition)
{
    SetFilePointer(file, 0, 0, FILE_BEGIN);
    EntryWriter w;
    ZeroMem(&w, sizeof(w));
    w.stage = stage;
    w.file = file;
    w.dataAt = dataAt;
    w.stored = record->storedLength;
    w.size = record->attributes.nFileSizeLow;
    w.entryPosition = entryPosition;
    if (compressed) {
        int result = InflatePieces(TakeInput, &w, PutOutput, &w);
        if (!w.error && result == Z_MEM_ERROR)
            w.error = ERROR_NOT_ENOUGH_MEMORY;
    } else {
        unsigned char* piece;
        for (unsigned length; (length = TakeInput(&w, &piece)) && !PutOutput(&w, piece, length);) {
        }
    }
    if (!w.error && w.produced != w.size)
        w.error = ERROR_INVALID_DATA;
    return w.error;
}

// The path of an entry with parent index PARENT; null when the package names
// a level that no directory entry declared.
static char* EntryPath(FileStage* stage, DWORD parent, const char* name)
{
    if (parent >= (DWORD)ListCount(stage->levels))
        return 0;
    return ListJoinPath(stage->levels, parent, name);
}

// A name of one level: no separators, no drive, not "." or "..".
static BOOL IsPlainName(const char* name)
{
    if (!*name || IsDotEntry(name))
        return FALSE;
    for (; *name; name++)
        if (*name == '\\' || *name == '/' || *name == ':')
            return FALSE;
    return TRUE;
}

static BOOL Ask(FileStage* stage, int message, const char* first, const char* second)
{
    return AskToContinue(stage->run->page, message, first, second, 0);
}

static BOOL DirectoryEntry(FileStage* stage, const char* path, const char* name, DWORD parent)
{
    ShowPath(stage, path);
    DWORD error = CreateDirectoryA(path, 0) ? 0 : GetLastError();
    if (error == ERROR_ACCESS_DENIED && PathExists(path))
        error = 0;
    // A directory entry's parent is never a bare drive: the access question
    // of folder chains asks it the same way.
    if (error == ERROR_ACCESS_DENIED) {
        if (!AskAccessDenied(stage->run->page, path, path, GetLastError()))
            return FALSE;
    } else if (error && error != ERROR_ALREADY_EXISTS
               && !Ask(stage, MESSAGE_CANNOT_CREATE_FOLDER, path, SystemErrorText(error))) {
        return FALSE;
    }
    AppendLogLine(g_log.logFile, LOG_FOLDER, path, TRUE, TRUE);
    ListSetAt(stage->levels, parent + 1, name);
    return TRUE;
}

// The questions of a file that cannot be opened for writing; TRUE when the
// user lets the installation go on without it.
static BOOL AskOpenFailed(FileStage* stage, const char* path, BOOL existed, DWORD error)
{
    if (error == ERROR_ACCESS_DENIED) {
        char* parent = ParentPath(path);
        BOOL granted = FALSE;
        BOOL denied = parent && !CheckObjectAccess(g_app.accessToken, existed ? path : parent, SE_FILE_OBJECT,
                                                   existed ? GENERIC_WRITE : FILE_ADD_FILE, &granted)
                      && !granted;
        BOOL goOn = denied ? Ask(stage, existed ? MESSAGE_NO_RIGHT_TO_REPLACE : MESSAGE_NO_RIGHT_TO_CREATE_FILE, path,
                                 existed ? path : parent)
                           : Ask(stage, existed ? MESSAGE_CANNOT_OPEN_FILE : MESSAGE_CANNOT_CREATE_FILE, path,
                                 SystemErrorText(error));
        FreeMem(parent);
        return goOn;
    }
    return Ask(stage, existed ? MESSAGE_CANNOT_OPEN_FILE : MESSAGE_CANNOT_CREATE_FILE, path, SystemErrorText(error));
}

static BOOL FileEntry(FileStage* stage, const char* path, ULONGLONG recordAt, BYTE flags, DWORD entryPosition)
{
    const BYTE* bytes = PackageBytes(recordAt, FILE_RECORD_SIZE);
    if (!bytes)
        return FALSE;
    FileRecord record;
    MoveMemory(&record, bytes, sizeof(record));
    ULONGLONG dataAt = recordAt + FILE_RECORD_SIZE;

    // Most files are new: creating the file only where there is none tells
    // whether one existed at the cost of the lookup that creating it takes
    // anyway, under Wine a search of the folder.
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, 0, CREATE_NEW, FILE_FLAG_SEQUENTIAL_SCAN, 0);
    BOOL existed = FALSE;
    char* temporary = 0;
    if (file == INVALID_HANDLE_VALUE) {
        existed = PathExists(path);
        if (existed && !ShouldOverwrite(&stage->group, path, &record))
            return TRUE;
        DWORD attributes = existed ? GetFileAttributesA(path) : INVALID_FILE_ATTRIBUTES;
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
            SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
        for (;;) {
            file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, 0, CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN, 0);
            if (file != INVALID_HANDLE_VALUE)
                break;
            DWORD error = GetLastError();
            if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION)
                return AskOpenFailed(stage, path, existed, error);
            if (stage->group.sharedFiles
                || ShowMessage1(stage->run->page, g_product.captionText, GetText(g_product.textsWizard, WIZARD_FILE_IN_USE), path,
                                MB_YESNO | MB_ICONWARNING) != IDYES) {
                // In use: the data goes to a temporary file that replaces it at the next restart.
                if (!(temporary = CreateTempFile(g_app.tempFolder)))
                    return Ask(stage, MESSAGE_CANNOT_PREPARE_REPLACEMENT, path, SystemErrorText(GetLastError()));
                file = CreateFileA(temporary, GENERIC_WRITE, FILE_SHARE_READ, 0, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_SEQUENTIAL_SCAN, 0);
                if (file != INVALID_HANDLE_VALUE)
                    break;
                error = GetLastError();
                DeleteFileA(temporary);
                FreeMem(temporary);
                return Ask(stage, MESSAGE_CANNOT_PREPARE_REPLACEMENT, path, SystemErrorText(error));
            }
        }
    }
    ShowPath(stage, path);

    DWORD error;
    BOOL goOn = TRUE;
    while ((error = WriteEntryData(stage, file, dataAt, &record, flags & ENTRY_COMPRESSED, entryPosition))
           && (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL)) {
        // After OK the user has freed space: the file is written again from its start.
        if (ShowMessage1(stage->run->page, g_product.captionText, GetText(g_product.textsMessages, MESSAGE_DISK_FULL), path,
                         MB_OKCANCEL | MB_ICONSTOP) == IDCANCEL) {
            goOn = FALSE;
            break;
        }
    }
    const char* written = temporary ? temporary : path;
    if (error) {
        CloseHandle(file);
        // Never leave a part of a file behind that was not there before; an
        // existing file that was partly overwritten stays.
        if (temporary || !existed)
            DeleteFileA(written);
        FreeMem(temporary);
        if (error == ERROR_CANCELLED)
            return FALSE;
        return goOn && Ask(stage, MESSAGE_CANNOT_WRITE_FILE, path, SystemErrorText(error));
    }
    const WIN32_FILE_ATTRIBUTE_DATA* times = &record.attributes;
    SetFileTime(file, &times->ftCreationTime, &times->ftLastAccessTime, &times->ftLastWriteTime);
    CloseHandle(file);
    // A file created here has the archive attribute alone, as most packaged
    // files do: setting it by name again would cost an open and a close.
    if (existed || temporary || times->dwFileAttributes != FILE_ATTRIBUTE_ARCHIVE)
        SetFileAttributesA(written, times->dwFileAttributes);
    if (temporary) {
        ListAppend(g_install.pendingTempFiles, temporary);
        ListAppend(g_install.pendingTargets, path);
        ListAppend(g_install.pendingFlags, stage->group.sharedFiles ? "1" : "0");
        FreeMem(temporary);
        // After the restart the file is this installation's: the final log
        // names it for the removal, the temporary log does not (a rollback
        // keeps the file that is there now).
        AppendLogLine(g_log.logFile, stage->group.sharedFiles ? LOG_SHARED_FILE : LOG_FILE, path, FALSE, FALSE);
    } else if (stage->group.sharedFiles) {
        AppendLogLine(g_log.logFile, LOG_SHARED_FILE, path, TRUE, FALSE);
        UpdateSharedDllCount(path, FALSE);
    } else {
        // A file that was there before is never deleted by a rollback.
        AppendLogLine(g_log.logFile, LOG_FILE, path, !existed, FALSE);
    }
    return TRUE;
}

// One group: its destination, then its entries up to the next group. FALSE
// when the installation stops; *DAMAGED when the package is malformed.
static BOOL FileGroup(FileStage* stage, DWORD groupOffset, BOOL* damaged)
{
    *damaged = TRUE;
    const DWORD scriptOffset = g_package.header.scriptOffset;
    const BYTE* bytes = PackageBytes(stage->base + groupOffset, GROUP_HEADER_SIZE);
    if (!bytes)
        return FALSE;
    MoveMemory(&stage->group, bytes, sizeof(stage->group));
    DWORD end = stage->group.nextGroupOffset;
    if (end <= groupOffset + GROUP_HEADER_SIZE || end > scriptOffset)
        return FALSE;
    DWORD offset = groupOffset + GROUP_HEADER_SIZE;
    const char* raw = PackageString(stage->base + offset, end - offset);
    if (!raw)
        return FALSE;
    offset += lstrlenA(raw) + 1;
    char* variables = ExpandVariables(raw);
    char* destination = ExpandFolderMacros(variables);
    FreeMem(variables);
    if (!destination)
        return FALSE;
    *damaged = FALSE;
    ListSetAt(stage->levels, 0, destination);
    ShowLine(stage->run->page, IDC_FILE_TEXT, destination);
    BOOL goOn = CreateFolderChain(destination, g_log.logFile, stage->run->page);
    FreeMem(destination);

    while (goOn && offset < end) {
        if (!CheckPoint(stage->run))
            return FALSE;
        ShowProgress(stage, offset - g_package.header.dataOffset);
        *damaged = TRUE;
        const char* name = PackageString(stage->base + offset, end - offset);
        if (!name || !IsPlainName(name))
            return FALSE;
        char* entryName = DupString(name, 0);
        DWORD entryOffset = offset;
        offset += lstrlenA(entryName) + 1;
        bytes = offset <= end && end - offset >= ENTRY_HEAD_SIZE ? PackageBytes(stage->base + offset, ENTRY_HEAD_SIZE) : 0;
        DWORD parent = bytes ? *(const DWORD*)bytes : 0;
        BYTE flags = bytes ? bytes[4] : 0;
        offset += ENTRY_HEAD_SIZE;
        DWORD recordAt = offset;
        if (flags & ENTRY_FILE) {
            const BYTE* record = end - offset >= FILE_RECORD_SIZE ? PackageBytes(stage->base + offset, FILE_RECORD_SIZE) : 0;
            DWORD stored = record ? ((const FileRecord*)record)->storedLength : 0;
            offset += FILE_RECORD_SIZE;
            if (!record || offset > end || stored > end - offset)
                bytes = 0;
            offset += stored;
        }
        char* path = bytes ? EntryPath(stage, parent, entryName) : 0;
        if (path) {
            *damaged = FALSE;
            goOn = flags & ENTRY_FILE
                       ? FileEntry(stage, path, stage->base + recordAt, flags, entryOffset - g_package.header.dataOffset)
                       : DirectoryEntry(stage, path, entryName, parent);
        }
        stage->unshownPath = 0;
        FreeMem(path);
        FreeMem(entryName);
        if (*damaged)
            return FALSE;
    }
    ListClear(stage->levels);
    return goOn;
}

BOOL RunFileStage(InstallRun* run)
{
    FileStage stage;
    ZeroMem(&stage, sizeof(stage));
    stage.run = run;
    stage.base = g_package.offset;
    stage.levels = ListCreate(5);
    stage.shownPercent = (DWORD)-1;
    const PackageHeader* header = &g_package.header;
    BOOL damaged = header->dataOffset > header->scriptOffset;
    stage.dataSize = header->scriptOffset - header->dataOffset;
    BOOL goOn = stage.levels && !damaged;
    for (DWORD offset = header->dataOffset; goOn && offset < header->scriptOffset; offset = stage.group.nextGroupOffset)
        goOn = CheckPoint(run) && FileGroup(&stage, offset, &damaged);
    if (damaged) {
        g_install.installOk = FALSE;
        ReportDamagedPackage();
    }
    ListDestroy(&stage.levels);
    if (goOn)
        SendMessageA(run->progressBar, PBM_SETPOS, 100, 0);
    return goOn;
}
