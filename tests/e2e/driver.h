// Drives the real runtime from a test: starts it, finds its windows, reads
// and clicks their controls, answers its message boxes. Every wait is bounded.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace e2e {

// Long enough for a slow first start of Wine's helpers, short enough that a
// stuck runtime fails its test instead of the whole run.
constexpr DWORD kDefaultWait = 20000;

struct Process {
    PROCESS_INFORMATION info{};
    bool started = false;
    ~Process();
    // Waits for the end; the exit code, or -1 when it did not end in time
    // (the process is then terminated so that it cannot outlive the test).
    long WaitForExit(DWORD ms = kDefaultWait);
};

// Starts PROGRAM with ARGS (may be empty) in its own folder.
bool Start(Process& p, const std::string& program, const std::string& args = "");

// The first visible top-level window of the process that MATCH accepts,
// or null when none appears in time.
HWND WaitForWindow(const Process& p, bool (*match)(HWND), DWORD ms = kDefaultWait);
std::vector<HWND> VisibleWindows(const Process& p);
bool IsMessageBox(HWND window);   // the system's dialog class with a static text

std::string Text(HWND window);
std::string ItemText(HWND dialog, int id);
bool HasItem(HWND dialog, int id);
void Click(HWND dialog, int id);  // as if the user clicked control ID

enum class IconKind { None, Error, Warning, Question, Information };
struct MessageBoxView {
    std::string caption, text;
    IconKind icon = IconKind::None;
};
// Reads a message box; the icon is told apart by its colours on the screen
// (icon handles are not comparable across processes).
MessageBoxView ReadMessageBox(HWND box);

// Saves the whole virtual screen as a 24-bit BMP file.
bool SaveScreen(const std::string& path);

// Files for one test: a fresh folder under the prefix's temporary folder.
std::string FreshFolder(const std::string& name);
void RemoveFolder(const std::string& folder);   // the whole tree, read-only files too
bool WriteFileBytes(const std::string& path, const void* data, size_t size);
std::vector<unsigned char> ReadFileBytes(const std::string& path);

}  // namespace e2e
