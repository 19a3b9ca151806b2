// The effect of each script record on the run state. Every field is taken
// through a Payload, which never reads past the record: a field that does
// not fit marks the record malformed.
#include "script.h"
#include "../environment/environment.h"
#include "../engine/engine.h"
#include "../wizard/wizard.h"
#include "../resources/ids.h"

Product g_product;
PageRecord g_pages[PAGE_COUNT];
StringList* g_workLists[WORK_LIST_COUNT];

// 0xRRGGBB as the script writes it, to a COLORREF.
COLORREF FromRgbNumber(DWORD rgb)
{
    return (rgb & 0xFF) << 16 | (rgb & 0xFF00) | (rgb >> 16 & 0xFF);
}

int ShortcutKinds(const char* line)
{
    return (FindText(line, "%ShortcutsGroup%", -1, FALSE) ? SHORTCUT_IN_GROUP : 0)
           // "<Desktop>" or "<CommonDesktop>", the only macros that end so.
           | (FindText(line, "Desktop>", -1, FALSE) ? SHORTCUT_ON_DESKTOP : 0)
           | (FindText(line, "<QuickLaunch>", -1, FALSE) ? SHORTCUT_IN_QUICK_LAUNCH : 0);
}

namespace {

struct Payload {
    const BYTE* at;
    DWORD left;
    BOOL ok;
};

DWORD TakeNumber(Payload& p, DWORD width)
{
    DWORD value = 0;
    if (p.left < width) {
        p.ok = FALSE;
        return 0;
    }
    for (DWORD i = width; i--;)
        value = value << 8 | p.at[i];
    p.at += width;
    p.left -= width;
    return value;
}

const char* TakeString(Payload& p)
{
    const char* s = (const char*)p.at;
    for (DWORD i = 0; i < p.left; i++)
        if (!p.at[i]) {
            p.at += i + 1;
            p.left -= i + 1;
            return s;
        }
    p.ok = FALSE;
    return "";
}

void Replace(char** slot, char* value)
{
    FreeMem(*slot);
    *slot = value;
}

// COUNT strings into the array FIELDS.
void TakeStrings(Payload& p, char** fields, int count)
{
    for (int i = 0; i < count; i++)
        Replace(&fields[i], DupString(TakeString(p), 0));
}

// The product record's "face,colour" lines.
void ReadFont(Payload& p, char* face, COLORREF* color)
{
    SplitCsv(TakeString(p), FALSE);
    const char* wanted = CsvField(0);
    if (!*wanted)
        wanted = "Tahoma";
    else if (!FontInstalled(wanted))
        wanted = "MS Sans Serif";
    lstrcpynA(face, wanted, LF_FACESIZE);
    *color = FromRgbNumber(ParseNumber(CsvField(1)));
}

void ReadProductRecord(Payload& p)
{
    Replace(&g_product.productName, DupString(TakeString(p), 0));
    Replace(&g_product.productFullName, DupString(TakeString(p), 0));
    Replace(&g_product.captionText, JoinStrings(g_product.productFullName, " 设置 "));
    ReadFont(p, g_appearance.bodyFontFace, &g_appearance.bodyTextColor);
    g_appearance.bodyColor = TakeNumber(p, 4);
    g_appearance.bandColor = TakeNumber(p, 4);
    ReadFont(p, g_appearance.titleFontFace, &g_appearance.titleTextColor);
    g_appearance.headerColor = TakeNumber(p, 4);
    g_appearance.appearanceOptions = (BYTE)TakeNumber(p, 1);

    SplitCsv(TakeString(p), FALSE);
    DWORD type = 0;
    char* previous = (char*)ReadRegistryValue(RootKeyFromName(CsvField(0)), CsvField(1), CsvField(2), &type);
    if (previous && (type == REG_SZ || type == REG_EXPAND_SZ))
        SetVariable("%InstallPath%", previous);
    FreeMem(previous);

    for (int i = 0; i < 2; i++) {
        const char* program = TakeString(p);
        Replace(&g_wizard.launchPrograms[i], *program ? ExpandFolderMacros(program) : 0);
        g_wizard.launchEnabled[i] = *program != 0;
    }
    BYTE options = (BYTE)TakeNumber(p, 1);
    g_product.setupOptions = options;
    g_appearance.layoutOffset = options & SETUP_SMALL_LAYOUT ? LAYOUT_SMALL_OFFSET : 0;
    if (options & SETUP_RESTART)
        g_install.restartRequired = g_install.restartNow = TRUE;
    g_product.createUninstaller = (options & SETUP_CREATE_UNINSTALLER) != 0;
}

void ReadText(Payload& p)
{
    DWORD language = TakeNumber(p, 2);
    DWORD group = TakeNumber(p, 1);
    DWORD index = TakeNumber(p, 1);
    const char* text = TakeString(p);
    if (language >= LANGUAGE_COUNT)
        p.ok = FALSE;
    if (!p.ok)
        return;
    switch (group) {
    case TEXT_GROUP_WIZARD:
        ListSetAt(g_product.textsWizard[language], index, text);
        return;
    case TEXT_GROUP_MESSAGES:
        ListSetAt(g_product.textsMessages[language], index, text);
        return;
    case TEXT_GROUP_EXTRA:
        ListSetAt(g_product.textsExtra[language], index, text);
        return;
    }
    if (group >= PAGE_COUNT) {
        p.ok = FALSE;
        return;
    }
    char* expanded = ExpandFolderMacros(text);
    ListSetAt(g_pages[group].texts[language], index, expanded);
    FreeMem(expanded);
}

void ReadLanguages(Payload& p, DWORD length)
{
    BOOL automatic = TakeNumber(p, 1) != 0;
    WORD user = LOBYTE(GetUserDefaultLangID());
    DWORD count = length / 2;
    for (DWORD i = 0; i < count; i++) {
        WORD id = (WORD)TakeNumber(p, 2);
        if (id >= LANGUAGE_COUNT) {
            p.ok = FALSE;
            return;
        }
        char number[8];
        wsprintfA(number, "%u", id);
        ListAppend(g_product.languageList, number);
        if (!i || (automatic && id == user))
            g_product.languageId = id;
        if (automatic && id == user)
            automatic = FALSE;   // the first match stays selected
    }
}

void ReadShortcut(const char* line)
{
    ListAppend(g_workLists[WORK_SHORTCUTS], line);
    int kinds = ShortcutKinds(line);
    if (kinds & SHORTCUT_IN_GROUP)
        g_wizard.groupShortcutsPresent = g_wizard.createProgramGroup = TRUE;
    if (kinds & SHORTCUT_ON_DESKTOP)
        g_wizard.desktopShortcutsPresent = g_wizard.createDesktopShortcuts = TRUE;
    if (kinds & SHORTCUT_IN_QUICK_LAUNCH)
        g_wizard.quickLaunchShortcutsPresent = g_wizard.createQuickLaunchShortcuts = TRUE;
}

// Programs and DLL calls: the line without its moment column, filed by the moment.
void ReadRunEntry(const char* line, BOOL dllCall)
{
    static const BYTE kProgramColumns[] = { 0, 1, 2, 4, 5, 6 };
    static const BYTE kDllColumns[] = { 0, 1, 2, 3, 5 };
    char* expanded = ExpandFolderMacros(line);
    SplitCsv(expanded, FALSE);
    FreeMem(expanded);
    const BYTE* columns = dllCall ? kDllColumns : kProgramColumns;
    int count = dllCall ? sizeof(kDllColumns) : sizeof(kProgramColumns);
    char* rebuilt = DupString(CsvField(columns[0]), 0);
    for (int i = 1; i < count; i++) {
        char* next = JoinStrings(rebuilt, ",", CsvField(columns[i]));
        FreeMem(rebuilt);
        rebuilt = next;
    }
    const char* momentText = CsvField(dllCall ? 4 : 3);
    int moment = *momentText ? ParseNumber(momentText) : MOMENT_DEFAULT;
    StringList* list = 0;
    if (moment > MOMENT_BEFORE && moment <= INSTALLER_SLOT_COUNT)
        list = dllCall ? g_pages[moment - 1].dllCalls : g_pages[moment - 1].programs;
    else if (moment == MOMENT_BEFORE)
        list = dllCall ? g_workLists[WORK_BEFORE_DLL_CALLS] : g_workLists[WORK_BEFORE_PROGRAMS];
    else if (moment == MOMENT_AT_REMOVAL)
        list = dllCall ? g_workLists[WORK_UNINSTALL_DLL_CALLS] : g_workLists[WORK_UNINSTALL_PROGRAMS];
    if (list)
        ListAppend(list, rebuilt);
    FreeMem(rebuilt);
}

void AppendExpanded(StringList* list, const char* line)
{
    char* expanded = ExpandFolderMacros(line);
    ListAppend(list, expanded);
    FreeMem(expanded);
}

}  // namespace

BOOL InterpretRecord(int type, const BYTE* payload, DWORD length)
{
    Payload p = { payload, length, TRUE };
    switch (type) {
    case RECORD_VARIABLE: {
        const char* name = TakeString(p);
        const char* value = TakeString(p);
        if (p.ok) {
            char* expanded = ExpandFolderMacros(value);
            ListAppend(g_workLists[WORK_VARIABLE_NAMES], name);
            ListAppend(g_workLists[WORK_VARIABLE_VALUES], expanded);
            FreeMem(expanded);
        }
        break;
    }
    case RECORD_PAGE_SWITCHES:
        // A byte a slot whatever the length; a shorter record changes nothing.
        if (length < INSTALLER_SLOT_COUNT)
            return FALSE;
        for (int page = 0; page < INSTALLER_SLOT_COUNT; page++)
            if (TakeNumber(p, 1)) {
                g_pages[page].enabled = TRUE;
                g_pages[page].dialogId = IDD_LANGUAGE + page + g_appearance.layoutOffset;
            }
        break;
    case RECORD_LICENCE_TEXT:
    case RECORD_INFO_TEXT: {
        const char* text = TakeString(p);
        if (p.ok)
            Replace(type == RECORD_LICENCE_TEXT ? &g_product.licenceText : &g_product.infoText, DupString(text, 0));
        break;
    }
    case RECORD_TEXT:
        ReadText(p);
        break;
    case RECORD_LANGUAGES:
        // The auto-select byte and length / 2 ids: only an odd length holds them all.
        if (!(length & 1))
            return FALSE;
        ReadLanguages(p, length);
        break;
    case RECORD_BACKGROUND: {
        DWORD first = TakeNumber(p, 4);
        DWORD second = TakeNumber(p, 4);
        if (p.ok) {
            g_appearance.backgroundEnabled = TRUE;
            g_appearance.gradientColors[0] = FromRgbNumber(first);
            g_appearance.gradientColors[1] = FromRgbNumber(second);
        }
        break;
    }
    case RECORD_DECORATION_COLOR: {
        DWORD color = TakeNumber(p, 4);
        if (p.ok)
            g_appearance.decorationColor = color;
        break;
    }
    case RECORD_PRODUCT:
        ReadProductRecord(p);
        break;
    case RECORD_REQUIREMENTS:
        TakeStrings(p, g_requirements.required, REQUIRED_RELEASE_COUNT);
        g_requirements.requireAdministrator = TakeNumber(p, 1) != 0;
        break;
    case RECORD_ENTRY_DETAILS:
        TakeStrings(p, g_product.entryDetails, ENTRY_DETAIL_COUNT);
        break;
    case RECORD_SHORTCUT:
    case RECORD_REGISTRY_VALUE:
    case RECORD_INI_ENTRY:
    case RECORD_PROGRAM:
    case RECORD_DLL_CALL:
    case RECORD_ASSOCIATION:
    case RECORD_BACKGROUND_CAPTION: {
        const char* line = TakeString(p);
        if (!p.ok)
            break;
        switch (type) {
        case RECORD_SHORTCUT:
            ReadShortcut(line);
            break;
        case RECORD_PROGRAM:
        case RECORD_DLL_CALL:
            ReadRunEntry(line, type == RECORD_DLL_CALL);
            break;
        case RECORD_REGISTRY_VALUE:
            AppendExpanded(g_workLists[WORK_REGISTRY_VALUES], line);
            break;
        case RECORD_INI_ENTRY:
            AppendExpanded(g_workLists[WORK_INI_ENTRIES], line);
            break;
        case RECORD_ASSOCIATION:
            AppendExpanded(g_workLists[WORK_ASSOCIATIONS], line);
            break;
        case RECORD_BACKGROUND_CAPTION:
            AppendExpanded(g_workLists[WORK_BACKGROUND_CAPTIONS], line);
            break;
        }
        break;
    }
    }
    return p.ok;
}
