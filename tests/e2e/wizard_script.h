// Scripts that switch the wizard's pages on, and a started wizard to drive:
// shared by the wizard tests and the page screenshots.
#pragma once
#include <initializer_list>
#include <string>
#include <vector>
#include "package_fixture.h"
#include "../../resources/ids.h"

namespace e2e {

// Every enabled page gets the title "Page N" and the window title
// "Window N" (English, language 9), so that a test can tell where it is;
// the frame buttons get English captions and the cancel question a text.
class WizardScript {
public:
    explicit WizardScript(bool small);
    void Enable(const std::vector<int>& slots);
    void OfferLanguages(std::initializer_list<uint16_t> ids);
    void Text(uint16_t language, uint8_t slot, uint8_t index, const std::string& text);
    void Wizard(uint8_t index, const std::string& text);
    void Message(uint8_t index, const std::string& text);
    void Extra(uint16_t language, uint8_t index, const std::string& text);
    void Variable(const std::string& name, const std::string& value);
    void AddShortcut(const std::string& path);
    void SetLicence(const std::string& text);
    void SetInformation(const std::string& text);
    void SetLaunch(const std::string& program, const std::string& readme);
    void SetRestart(bool restart);
    void SetBackground(uint32_t top, uint32_t bottom);
    void AddCaption(const std::string& line);
    void SetInstallPath(const std::string& path);
    quillset::Bytes Finish() const;

private:
    bool small_, restart_ = false, background_ = false;
    uint32_t gradient_[2] = { 0, 0 };
    std::string launch_, readme_, installPath_ = "C:\\Program Files\\Demo";
    std::vector<int> slots_;
    std::vector<uint16_t> languages_;
    std::vector<std::pair<int, quillset::Bytes>> records_;
};

// A package of SCRIPT started in a fresh folder named NAME; the wizard frame
// found. UNPACKED is the space the package says it needs.
struct RunningWizard {
    RunningWizard(const WizardScript& script, const std::string& name, uint32_t unpacked = 0);
    bool Started() const { return frame != nullptr; }
    HWND Page() const;
    std::string PageTitle() const;
    bool ButtonShown(int id) const;
    bool WaitForPage(const std::string& title, DWORD ms = kDefaultWait) const;
    bool ClickAndWaitForPage(int id, const std::string& title);
    // Waits for a message box, reads it and answers with button ANSWER.
    MessageBoxView AnswerMessageBox(int answer);
    void CancelAndConfirm();
    void ChooseComboItem(int item);
    std::vector<std::string> FolderListItems() const;

    std::string folder;
    Process process;
    HWND frame = nullptr;
};

}  // namespace e2e
