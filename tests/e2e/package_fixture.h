// Packages for end-to-end tests: the runtime under test with a script and
// files behind it, written by the builder's package writer.
#pragma once
#include "driver.h"
#include "package_reader.h"

namespace e2e {

// The runtime image this test build belongs to (a Windows path).
const std::string& RuntimePath();
quillset::Bytes RuntimeImage();

// A script that gives a product name and lets the wizard start.
quillset::Bytes MinimalScript();

// A product record (9): names, body and band colours, fonts, the previous
// install path lookup and the create-uninstaller option.
quillset::Bytes ProductPayload(const std::string& name, const std::string& fullName);

// Writes runtime + groups + script to FOLDER\NAME and returns the path;
// empty on failure.
std::string WriteInstaller(const std::string& folder, const std::string& name, const quillset::Bytes& script,
                           const std::vector<quillset::GroupPlan>& groups = {}, quillset::Bytes* bytes = nullptr);

bool IsWizardFrame(HWND window);  // the frame dialog, not a message box

// Cancels the wizard of RUNTIME and confirms the question.
void CancelWizard(const Process& runtime, HWND frame);

// The self-check's one message for a damaged package.
extern const char kDamagedMessage[];
// Starts PATH and expects that message alone, with exit code 0.
void ExpectDamagedPackage(const std::string& path);

// Starts the installer at PATH and expects the wizard with no message box on
// the way; cancels it and expects exit code 0.
void ExpectSilentWizardThenCancel(const std::string& path);

}  // namespace e2e
