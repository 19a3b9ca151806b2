// Wizard scripts and a started wizard for the end-to-end tests.
#include "wizard_script.h"

#include <commctrl.h>

namespace e2e {

using quillset::Bytes;
using quillset::ScriptWriter;

enum : uint8_t { GROUP_WIZARD = 0x60, GROUP_MESSAGES = 0x70, GROUP_EXTRA = 0x80 };
enum : uint8_t { SMALL_LAYOUT = 0x01, OFFER_ALL_SHORTCUTS = 0x0E, RESTART = 0x10, CREATE_UNINSTALLER = 0x20 };

WizardScript::WizardScript(bool small) : small_(small)
{
    static const char* const kExtra[] = { "< Back", "Next >", "Cancel", "Install", "", "Yes", "No", "Browse...",
                                          "Finish" };
    for (uint8_t i = 0; i < 9; i++)
        if (*kExtra[i])
            Extra(9, i, kExtra[i]);
    Wizard(0, "Quit the setup?");
    Wizard(8, "Stop the installation?");
    for (uint8_t index : { 9, 10 })
        Text(9, 11, index, "Restart to finish");
}

void WizardScript::Enable(const std::vector<int>& slots)
{
    slots_ = slots;
    for (int slot : slots) {
        Text(9, static_cast<uint8_t>(slot), 0, "Window " + std::to_string(slot));
        Text(9, static_cast<uint8_t>(slot), 1, "Page " + std::to_string(slot));
    }
}

void WizardScript::OfferLanguages(std::initializer_list<uint16_t> ids)
{
    languages_.assign(ids);
}

void WizardScript::Text(uint16_t language, uint8_t slot, uint8_t index, const std::string& text)
{
    records_.emplace_back(5, ScriptWriter::textPayload(language, slot, index, text));
}

void WizardScript::Wizard(uint8_t index, const std::string& text)
{
    Text(9, GROUP_WIZARD, index, text);
}

void WizardScript::Message(uint8_t index, const std::string& text)
{
    Text(9, GROUP_MESSAGES, index, text);
}

void WizardScript::Extra(uint16_t language, uint8_t index, const std::string& text)
{
    Text(language, GROUP_EXTRA, index, text);
}

void WizardScript::Variable(const std::string& name, const std::string& value)
{
    Bytes payload;
    ScriptWriter::putString(payload, name);
    ScriptWriter::putString(payload, value);
    records_.emplace_back(1, payload);
}

static Bytes StringPayload(const std::string& text)
{
    Bytes payload;
    ScriptWriter::putString(payload, text);
    return payload;
}

void WizardScript::AddShortcut(const std::string& path)
{
    records_.emplace_back(10, StringPayload(path + ",C:\\target.exe"));
}

void WizardScript::SetLicence(const std::string& text)
{
    records_.emplace_back(3, StringPayload(text));
}

void WizardScript::SetInformation(const std::string& text)
{
    records_.emplace_back(4, StringPayload(text));
}

void WizardScript::SetLaunch(const std::string& program, const std::string& readme)
{
    launch_ = program;
    readme_ = readme;
}

void WizardScript::SetRestart(bool restart)
{
    restart_ = restart;
}

void WizardScript::SetBackground(uint32_t top, uint32_t bottom)
{
    background_ = true;
    gradient_[0] = top;
    gradient_[1] = bottom;
}

void WizardScript::AddCaption(const std::string& line)
{
    records_.emplace_back(17, StringPayload(line));
}

void WizardScript::SetInstallPath(const std::string& path)
{
    installPath_ = path;
}

Bytes WizardScript::Finish() const
{
    ScriptWriter script;
    Bytes variable;
    ScriptWriter::putString(variable, "%InstallPath%");
    ScriptWriter::putString(variable, installPath_);
    script.record(RECORD_VARIABLE, variable);
    // The product record comes before the page switches: it sets the layout
    // that the switches' dialog ids depend on.
    Bytes product;
    for (const std::string& field : { std::string("Demo"), std::string("Demo 1.0"), std::string("Tahoma,0x000000") })
        ScriptWriter::putString(product, field);
    for (uint32_t color : { 0x01000000u, 0x01000000u })
        ScriptWriter::putU32(product, color);
    ScriptWriter::putString(product, "Tahoma,0x000000");
    ScriptWriter::putU32(product, 0x02000000u);
    product.push_back(background_ ? 0x02 : 0);
    for (const std::string& field : { std::string("HKLM,Software\\Quillset Tests\\None,Path"), launch_, readme_ })
        ScriptWriter::putString(product, field);
    product.push_back(static_cast<uint8_t>((small_ ? SMALL_LAYOUT : 0) | OFFER_ALL_SHORTCUTS | (restart_ ? RESTART : 0)
                                           | CREATE_UNINSTALLER));
    script.record(RECORD_PRODUCT, product);
    Bytes switches(12, 0);
    for (int slot : slots_)
        if (slot >= 0 && slot < 12)
            switches[slot] = 1;
    script.record(RECORD_PAGE_SWITCHES, switches);
    if (!languages_.empty()) {
        Bytes languages{ 0 };
        for (uint16_t id : languages_)
            ScriptWriter::putU16(languages, id);
        script.record(RECORD_LANGUAGES, languages);
    }
    if (background_) {
        Bytes gradient;
        ScriptWriter::putU32(gradient, gradient_[0]);
        ScriptWriter::putU32(gradient, gradient_[1]);
        script.record(RECORD_BACKGROUND, gradient);
    }
    for (const auto& record : records_)
        script.record(record.first, record.second);
    return script.finish();
}

RunningWizard::RunningWizard(const WizardScript& script, const std::string& name, uint32_t unpacked)
{
    folder = FreshFolder(name);
    Bytes package;
    std::string path = WriteInstaller(folder, "setup.exe", script.Finish(), {}, &package);
    if (path.empty())
        return;
    if (unpacked) {
        // The package's own claim of the space it needs, and the checksum over it.
        size_t header = quillset::PackageOffsetOf(package);
        for (int i = 0; i < 4; i++)
            package[header + 8 + i] = static_cast<uint8_t>(unpacked >> (8 * i));
        quillset::Reseal(package);
        if (!WriteFileBytes(path, package.data(), package.size()))
            return;
    }
    if (Start(process, path))
        frame = WaitForWindow(process, IsWizardFrame);
}

HWND RunningWizard::Page() const
{
    return FindWindowExA(frame, nullptr, "#32770", nullptr);
}

std::string RunningWizard::PageTitle() const
{
    HWND page = Page();
    return page ? ItemText(page, IDC_TITLE) : std::string();
}

bool RunningWizard::ButtonShown(int id) const
{
    HWND button = GetDlgItem(frame, id);
    return IsWindowVisible(button) && IsWindowEnabled(button);
}

bool RunningWizard::WaitForPage(const std::string& title, DWORD ms) const
{
    DWORD start = GetTickCount();
    while (PageTitle() != title) {
        if (GetTickCount() - start >= ms)
            return false;
        Sleep(50);
    }
    return true;
}

bool RunningWizard::ClickAndWaitForPage(int id, const std::string& title)
{
    Click(frame, id);
    return WaitForPage(title);
}

MessageBoxView RunningWizard::AnswerMessageBox(int answer)
{
    HWND box = WaitForWindow(process, IsMessageBox);
    if (!box)
        return MessageBoxView{ "", "(no message box)" };
    MessageBoxView view = ReadMessageBox(box);
    Click(box, answer);
    for (DWORD start = GetTickCount(); IsWindow(box) && GetTickCount() - start < kDefaultWait;)
        Sleep(50);
    return view;
}

void RunningWizard::CancelAndConfirm()
{
    Click(frame, IDC_CANCEL);
    AnswerMessageBox(IDYES);
    process.WaitForExit();
}

void RunningWizard::ChooseComboItem(int item)
{
    HWND page = Page();
    HWND combo = GetDlgItem(page, IDC_COMBO);
    SendMessageA(combo, CB_SETCURSEL, item, 0);
    SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_COMBO, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

std::vector<std::string> RunningWizard::FolderListItems() const
{
    HWND page = Page();
    HWND list = GetDlgItem(page, IDC_FOLDER_LIST);
    bool combo = list == nullptr;
    if (combo)
        list = GetDlgItem(page, IDC_COMBO);
    std::vector<std::string> items;
    int count = static_cast<int>(SendMessageA(list, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; i++) {
        // Across processes Wine hands list texts over in UTF-16 whatever the
        // caller's character set: ask for them so and convert.
        wchar_t wide[MAX_PATH] = L"";
        SendMessageW(list, combo ? CB_GETLBTEXT : LB_GETTEXT, i, reinterpret_cast<LPARAM>(wide));
        char text[MAX_PATH * 2] = "";
        WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof(text), nullptr, nullptr);
        items.push_back(text);
    }
    return items;
}

}  // namespace e2e
