// Dialog templates: every template the runtime opens is stored, inflates,
// creates its window and holds the controls, sizes and styles the code
// relies on.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "support/support.h"
#include "wizard/wizard.h"
#include "resources/ids.h"
#include <commctrl.h>

namespace {

enum Layout { LARGE = 0, SMALL = LAYOUT_SMALL_OFFSET };

struct Control {
    int id;
    const char* windowClass;
    DWORD style;         // bits that must be set
    bool visible = true;
};

struct Expected {
    int id;
    int width, height;   // dialog units
    std::vector<Control> controls;
    std::vector<int> absent;
};

const DWORD kPageStyle = WS_CHILD | DS_CONTROL;
const DWORD kRichEdit = ES_READONLY | ES_MULTILINE | WS_VSCROLL | WS_BORDER | WS_TABSTOP;

std::vector<Control> Header()
{
    return { { IDC_TITLE, "Static", 0 }, { IDC_SUBTITLE, "Static", 0 },
             { IDC_HEADER_LINE, "Static", SS_ETCHEDHORZ } };
}

std::vector<Control> With(std::vector<Control> controls)
{
    std::vector<Control> all = Header();
    all.insert(all.end(), controls.begin(), controls.end());
    return all;
}

// The controls each template of one layout must hold.
std::vector<Expected> TemplatesOf(Layout layout)
{
    bool large = layout == LARGE;
    int w = large ? 331 : 266, h = large ? 185 : 117;
    std::vector<Control> shortcuts = {
        { IDC_CREATE_GROUP, "Button", BS_AUTOCHECKBOX | WS_DISABLED },
        { IDC_CREATE_DESKTOP, "Button", BS_AUTOCHECKBOX | WS_DISABLED },
        { IDC_CREATE_QUICK_LAUNCH, "Button", BS_AUTOCHECKBOX | WS_DISABLED },
    };
    if (large) {
        shortcuts.push_back({ IDC_FOLDER_EDIT, "Edit", WS_DISABLED });
        shortcuts.push_back({ IDC_FOLDER_LIST, "ListBox", LBS_SORT | LBS_NOTIFY | WS_DISABLED });
    } else {
        shortcuts.push_back({ IDC_COMBO, "ComboBox", CBS_DROPDOWN | WS_DISABLED });
    }
    std::vector<Control> uninstaller = {
        { IDC_TEXT3, "Static", 0 },
        { IDC_UNINSTALL_FILE, "Static", SS_LEFTNOWORDWRAP | SS_NOPREFIX },
        { IDC_PROGRESS, PROGRESS_CLASSA, 0 },
        { IDC_TREE, WC_TREEVIEWA, TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_DISABLEDRAGDROP | TVS_CHECKBOXES,
          false },
        { IDC_SELECT_ALL, "Button", 0, false },
        { IDC_DELETE, "Button", WS_DISABLED, false },
        { IDC_CANCEL, "Button", BS_DEFPUSHBUTTON },
        { IDC_UNINSTALL_LABEL, "Static", 0 },
        { IDC_UNINSTALL_LINE, "Static", SS_ETCHEDHORZ },
    };
    if (!large)
        uninstaller.push_back({ IDC_LEFTOVER_TEXT, "Static", 0 });
    std::vector<Control> welcome = { { IDC_TEXT4, "Static", 0 }, { IDC_TEXT5, "Static", 0 },
                                     { IDC_TEXT6, "Static", 0 } };
    if (large)
        welcome.push_back({ IDC_TEXT3, "Static", 0 });
    return {
        { IDD_LANGUAGE + layout, w, h,
          With({ { IDC_TEXT3, "Static", 0 }, { IDC_COMBO, "ComboBox", CBS_DROPDOWNLIST | CBS_SORT } }) },
        { IDD_WELCOME + layout, w, h, With(welcome), large ? std::vector<int>{} : std::vector<int>{ IDC_TEXT3 } },
        { IDD_LICENCE + layout, w, h, With({ { IDC_RICHEDIT, "RICHEDIT", kRichEdit }, { IDC_TEXT3, "Static", 0 } }) },
        { IDD_INFORMATION + layout, w, h, With({ { IDC_RICHEDIT, "RICHEDIT", kRichEdit } }) },
        { IDD_DESTINATION + layout, w, h,
          With({ { IDC_DEST_GROUP, large ? "Button" : "Static", large ? (DWORD)BS_GROUPBOX : 0 },
                 { IDC_FOLDER_EDIT, "Edit", 0 }, { IDC_BROWSE, "Button", 0 },
                 { IDC_SPACE_REQUIRED_LABEL, "Static", 0 }, { IDC_SPACE_REQUIRED, "Static", SS_RIGHT },
                 { IDC_SPACE_FREE_LABEL, "Static", 0 }, { IDC_SPACE_FREE, "Static", SS_RIGHT } }) },
        { IDD_SHORTCUTS + layout, w, h, With(shortcuts),
          large ? std::vector<int>{ IDC_COMBO } : std::vector<int>{ IDC_FOLDER_EDIT, IDC_FOLDER_LIST } },
        { IDD_READY + layout, w, h, With({ { IDC_TEXT3, "Static", 0 } }) },
        { IDD_INSTALLING + layout, w, h,
          With({ { IDC_TEXT3, "Static", 0 }, { IDC_STEP_TEXT, "Static", 0 },
                 { IDC_FILE_TEXT, "Static", SS_LEFTNOWORDWRAP | SS_NOPREFIX }, { IDC_PROGRESS, PROGRESS_CLASSA, 0 } }) },
        { IDD_FINISH + layout, w, h,
          With({ { IDC_CLOSING_TEXT, "Static", 0 }, { IDC_LAUNCH_BOX, "Button", BS_AUTOCHECKBOX, false },
                 { IDC_README_BOX, "Button", BS_AUTOCHECKBOX, false },
                 { IDC_RESTART_BOX, "Button", BS_AUTOCHECKBOX, false },
                 { IDC_ERROR_TEXT, "Static", 0, false }, { IDC_RESTART_TEXT, "Static", 0, false } }) },
        { IDD_UNINSTALLER + layout, w - 2, large ? 215 : 140, With(uninstaller) },
        { IDD_FRAME + layout, w - 2, large ? 215 : 140,
          { { IDC_BACK, "Button", 0, false }, { IDC_NEXT, "Button", BS_DEFPUSHBUTTON }, { IDC_CANCEL, "Button", 0 },
            { IDC_PRODUCT_LABEL, "Static", 0 }, { IDC_BAND_LINE_LEFT, "Static", SS_ETCHEDHORZ },
            { IDC_BAND_LINE_RIGHT, "Static", SS_ETCHEDHORZ } } },
    };
}

// Past a sz_Or_Ord field of a template: 0xFFFF and an ordinal, or a string.
const WORD* SkipNameOrOrdinal(const WORD* p)
{
    if (*p == 0xFFFF)
        return p + 2;
    while (*p++) {
    }
    return p;
}

const WORD* AlignToDword(const WORD* p)
{
    return (const WORD*)(((UINT_PTR)p + 3) & ~(UINT_PTR)3);
}

// The style a control has in the template itself (the dialog manager changes
// some bits when it creates the control); 0 when the template has no such id.
DWORD TemplateStyle(const DLGTEMPLATE* dialog, int id)
{
    const WORD* p = SkipNameOrOrdinal(SkipNameOrOrdinal((const WORD*)(dialog + 1)));
    p = SkipNameOrOrdinal(p);   // the title
    if (dialog->style & DS_SETFONT)
        p = SkipNameOrOrdinal(p + 1);
    for (int i = 0; i < dialog->cdit; i++) {
        const DLGITEMTEMPLATE* item = (const DLGITEMTEMPLATE*)AlignToDword(p);
        p = SkipNameOrOrdinal(SkipNameOrOrdinal((const WORD*)(item + 1)));
        p = (const WORD*)((const BYTE*)(p + 1) + *p);   // creation data
        if (item->id == (WORD)id)
            return item->style;
    }
    return 0;
}

class Templates : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        InitCommonControls();
        LoadLibraryA("RichEd32.Dll");
    }
    void SetUp() override
    {
        owner_ = CreateWindowExA(0, "STATIC", "", WS_OVERLAPPEDWINDOW, 0, 0, 800, 600, 0, 0, 0, 0);
        ASSERT_TRUE(owner_);
    }
    void TearDown() override { DestroyWindow(owner_); }

    static INT_PTR CALLBACK Quiet(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

    HWND Create(const DLGTEMPLATE* found)
    {
        return CreateDialogIndirectParamA(GetModuleHandleA(0), found, owner_, Quiet, 0);
    }

    void Check(const Expected& expected)
    {
        SCOPED_TRACE("template " + std::to_string(expected.id));
        const DLGTEMPLATE* found = DialogTemplate(expected.id);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ((UINT_PTR)found % 4, 0u) << "a DLGTEMPLATE must be DWORD aligned";
        EXPECT_EQ(found->cx, expected.width);
        EXPECT_EQ(found->cy, expected.height);
        HWND dialog = Create(found);
        ASSERT_NE(dialog, nullptr);
        for (const Control& control : expected.controls) {
            SCOPED_TRACE("control " + std::to_string(control.id));
            HWND item = GetDlgItem(dialog, control.id);
            ASSERT_NE(item, nullptr);
            char name[64] = "";
            GetClassNameA(item, name, sizeof(name));
            EXPECT_EQ(lstrcmpiA(name, control.windowClass), 0) << name;
            DWORD style = TemplateStyle(found, control.id);
            EXPECT_EQ(style & control.style, control.style) << std::hex << style;
            EXPECT_EQ((style & WS_VISIBLE) != 0, control.visible);
            EXPECT_EQ(IsWindowVisible(item) != 0, control.visible && IsWindowVisible(dialog));
        }
        for (int id : expected.absent)
            EXPECT_EQ(GetDlgItem(dialog, id), nullptr) << "control " << id;
        DestroyWindow(dialog);
    }

    HWND owner_ = 0;
};

TEST_F(Templates, EveryPageAndDialogOfBothLayouts)
{
    for (Layout layout : { LARGE, SMALL })
        for (const Expected& expected : TemplatesOf(layout))
            Check(expected);
    // Taller than 110 units: the message needs about twelve lines.
    Check({ IDD_SHARED_FILE, 307, 132,
            { { IDOK, "Button", BS_DEFPUSHBUTTON }, { IDC_YES_TO_ALL, "Button", 0 }, { IDCANCEL, "Button", 0 },
              { IDC_SHARED_MESSAGE, "Static", 0 }, { IDC_SHARED_ICON, "Static", SS_ICON } } });
}

TEST_F(Templates, PagesAreControlChildrenAndTheFrameAControlParent)
{
    for (int id : { 129, 130, 131, 132, 135, 137, 138, 139, 140, 149, 150, 151, 152, 155, 157, 158, 159, 160 }) {
        const DLGTEMPLATE* page = DialogTemplate(id);
        ASSERT_NE(page, nullptr) << id;
        EXPECT_EQ(page->style & (kPageStyle | WS_VISIBLE | WS_CAPTION), kPageStyle | WS_VISIBLE) << id;
        EXPECT_EQ(page->x, 0);
        EXPECT_EQ(page->y, 0);
    }
    for (int id : { IDD_FRAME, IDD_FRAME + LAYOUT_SMALL_OFFSET }) {
        const DLGTEMPLATE* frame = DialogTemplate(id);
        ASSERT_NE(frame, nullptr);
        EXPECT_TRUE(frame->dwExtendedStyle & WS_EX_CONTROLPARENT);
        EXPECT_EQ(frame->style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_CENTER),
                  (DWORD)(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_CENTER));
    }
    for (int id : { IDD_UNINSTALLER, IDD_UNINSTALLER + LAYOUT_SMALL_OFFSET })
        EXPECT_EQ(DialogTemplate(id)->style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
                  (DWORD)(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX));
}

TEST_F(Templates, FrameLabelAndLinesWhereTheLayoutPutsThem)
{
    for (Layout layout : { LARGE, SMALL }) {
        HWND frame = Create(DialogTemplate(IDD_FRAME + layout));
        ASSERT_NE(frame, nullptr);
        int lineY = layout == LARGE ? 185 : 117;
        RECT expected = { 7, lineY - 4, 0, lineY };
        MapDialogRect(frame, &expected);
        RECT label, line;
        GetWindowRect(GetDlgItem(frame, IDC_PRODUCT_LABEL), &label);
        GetWindowRect(GetDlgItem(frame, IDC_BAND_LINE_RIGHT), &line);
        MapWindowPoints(0, frame, (POINT*)&label, 2);
        MapWindowPoints(0, frame, (POINT*)&line, 2);
        EXPECT_EQ(label.left, expected.left);
        EXPECT_EQ(label.top, expected.top);
        EXPECT_EQ(line.top, expected.bottom);
        EXPECT_GE(line.left, label.right) << "the right line starts after the label";
        DestroyWindow(frame);
    }
}

// Tab from the frame's last button goes on into the page: the page is a
// control parent (DS_CONTROL), and so is the frame.
TEST_F(Templates, TabbingRunsFromTheFrameIntoThePage)
{
    for (Layout layout : { LARGE, SMALL }) {
        HWND frame = Create(DialogTemplate(IDD_FRAME + layout));
        ASSERT_NE(frame, nullptr);
        EXPECT_TRUE(GetWindowLongA(frame, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
        HWND page = CreateDialogIndirectParamA(GetModuleHandleA(0), DialogTemplate(IDD_DESTINATION + layout), frame,
                                               Quiet, 0);
        ASSERT_NE(page, nullptr);
        EXPECT_TRUE(GetWindowLongA(page, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
        HWND next = GetNextDlgTabItem(frame, GetDlgItem(frame, IDC_CANCEL), FALSE);
        ASSERT_NE(next, nullptr);
        EXPECT_EQ(GetParent(next), page);
        EXPECT_EQ(GetDlgCtrlID(next), IDC_FOLDER_EDIT);
        DestroyWindow(frame);
    }
}

TEST_F(Templates, IdsWithoutTemplateAndReinflationAfterFree)
{
    for (int id : { 0, 128, 133, 134, 136, 143, 153, 154, 156, 163, 201, -1 })
        EXPECT_EQ(DialogTemplate(id), nullptr) << id;
    const DLGTEMPLATE* before = DialogTemplate(IDD_SHARED_FILE);
    ASSERT_NE(before, nullptr);
    DLGTEMPLATE copy = *before;
    FreeDialogTemplates();
    FreeDialogTemplates();
    const DLGTEMPLATE* after = DialogTemplate(IDD_SHARED_FILE);
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(memcmp(&copy, after, sizeof(copy)), 0);
}

}  // namespace
