// Installations end to end: a project file and its sources written into a
// fresh folder, the package built by the builder library, the installer run
// to its end with every message box answered through a callback, and what
// it left behind read back (files, folders, logs, registry).
//
// Typical use:
//
//     InstallProject project("Overwrite");          // fresh folder, product "QS Overwrite"
//     project.Source("src\\a.txt", "alpha");        // a source file beside the project
//     project.sections = "[files]\nsource=src\\a.txt\n";
//     std::string error;
//     std::string package = project.Build(&error); // FOLDER\setup.exe, or "" and error
//     InstallRun run = RunInstaller(package);       // message boxes: No, else Cancel, else OK
//     EXPECT_EQ(run.exitCode, 0);
//     EXPECT_EQ(ReadText(project.installPath + "\\a.txt"), "alpha");
//
// All paths are Windows paths. Every wait is bounded.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>
#include "driver.h"
#include "project.h"

namespace e2e {

// A product to install. The project file written is
//   [product] name=PRODUCT, full_name=PRODUCT 1.0, install_path=INSTALLPATH,
//             uninstaller=uninstall.exe
//   [options] create_uninstaller=yes|no
//   [pages]   enabled=PAGES
//   [languages] offered=english
// followed by SECTIONS as written; texts are the builder's English defaults.
struct InstallProject {
    // A fresh folder FreshFolder("install-" + NAME) and the product "QS " + NAME.
    explicit InstallProject(const std::string& name);
    ~InstallProject();   // removes the product's uninstall entry, if any

    std::string folder;           // holds project.qset, the sources, setup.exe
    std::string product;          // [product] name: also the uninstall entry's key name
    std::string installPath;      // FOLDER\installed (created by the installation)
    std::string pages = "installing";   // "installing" runs unattended and ends by itself
    bool createUninstaller = true;
    std::string productExtra;     // more [product] lines, e.g. "layout=small\n"
    std::string sections;         // [files], [registry] ... sections, appended as written
    // Last changes to the compiled project before it is written (values the
    // project format cannot express, e.g. group rules above 4, attributes).
    std::function<void(quillset::Project&)> edit;
    quillset::Bytes runtime;      // the image put in front; empty: the runtime built here

    // Writes FOLDER\RELATIVE with BYTES (folders created); the full path.
    std::string Source(const std::string& relative, const std::string& bytes) const;
    std::string ProjectText() const;
    // Writes project.qset and compiles it with the builder library, EDIT
    // applied; false and *ERROR (when given) on failure.
    bool Compile(quillset::Project* compiled, std::string* error = nullptr) const;
    // Compiles and builds FOLDER\setup.exe; "" and *ERROR on failure.
    std::string Build(std::string* error = nullptr) const;

    std::string UninstallerPath() const { return installPath + "\\uninstall.exe"; }
    std::string LogPath() const { return installPath + "\\uninstall.log"; }   // the final log
    // HKLM key of the uninstall entry (seen through this process's registry view).
    std::string UninstallKey() const;
    // A default English text as this product shows it ({name}, {full_name}
    // and "\n" resolved, "%s" left): DefaultText("message", 14). A test may
    // instead give its own texts in a [texts.english] section.
    std::string DefaultText(const std::string& group, int index) const;
};

// PATTERN with each "%s" replaced by the next of ARGS.
std::string Format(const std::string& pattern, const std::vector<std::string>& args);

struct SeenBox {
    MessageBoxView view;       // caption, text, icon
    bool yesNo = false, okCancel = false;   // which buttons it offered
    int answer = 0;            // the button clicked
};

struct RunOptions {
    // Called for each message box (at most once per box); returns the button
    // to click (IDYES, IDNO, IDOK, IDCANCEL). Null, or a result of 0: IDNO,
    // else IDCANCEL, else IDOK, whichever the box has.
    std::function<int(const SeenBox&)> answer;
    // Called about every 20 ms while the installer runs (sampling progress
    // or memory, letting go of a held file ...). FRAME may be null.
    std::function<void(const Process&, HWND frame)> tick;
    bool clickFinish = true;   // press Finish when the finish page shows
    DWORD timeoutMs = 120000;
};

struct InstallRun {
    long exitCode = -1;        // -1: did not end in time (then terminated)
    std::vector<SeenBox> boxes;
    bool finishPage = false;   // the finish page was shown
    DWORD milliseconds = 0;
};

// Starts PACKAGE and runs it to its end.
InstallRun RunInstaller(const std::string& package, const RunOptions& options = {});

// The page shown in the wizard FRAME (null when none).
HWND CurrentPage(HWND frame);

// Files.
bool Exists(const std::string& path);
std::string ReadText(const std::string& path);            // whole file; "" when missing
std::vector<std::string> ReadLines(const std::string& path);   // split at "\n", without it
struct FileInfo {
    bool exists = false;
    uint32_t attributes = 0;
    uint64_t creation = 0, access = 0, write = 0;   // FILETIMEs
    uint64_t size = 0;
};
FileInfo ReadFileInfo(const std::string& path);
bool SetFileTimes(const std::string& path, uint64_t writeTime);   // creation, access and write
uint64_t FileTimeOf(int year, int month, int day, int hour = 12, int minute = 0);   // UTC
// FNV-1a 64 of the file's contents (0 for a missing file).
uint64_t HashFile(const std::string& path);

struct TreeItem {
    bool folder = false;
    uint64_t size = 0;
    uint32_t attributes = 0;
    uint64_t write = 0;
    uint64_t hash = 0;         // files only, when hashed
};
// Everything below FOLDER by path relative to it ("docs\\a.txt"); folders
// included. HASH reads every file.
std::map<std::string, TreeItem> ListTree(const std::string& folder, bool hash = true);

// The bytes of a binary that the test build made (tests/fixtures/).
std::string Fixture(const std::string& name);
// A special folder of the prefix, by its CSIDL.
std::string SpecialFolder(int csidl);

// Names of the files in the temporary folder that match PATTERN.
std::vector<std::string> TempFiles(const std::string& pattern = "QST*.tmp");

// Registry. Every value below ROOT\KEY, as "subkey\\path|name" ->
// "type:data" (strings as text, the rest as hexadecimal bytes); empty when
// the key is missing. VIEW may add KEY_WOW64_32KEY or KEY_WOW64_64KEY.
std::map<std::string, std::string> ExportRegistry(HKEY root, const std::string& key, REGSAM view = 0);
bool RegistryKeyExists(HKEY root, const std::string& key, REGSAM view = 0);
std::string RegistryString(HKEY root, const std::string& key, const std::string& name, REGSAM view = 0);
// -1 when the value is missing or not a DWORD.
int64_t RegistryDword(HKEY root, const std::string& key, const std::string& name, REGSAM view = 0);
void DeleteRegistryTree(HKEY root, const std::string& key, REGSAM view = 0);

}  // namespace e2e
