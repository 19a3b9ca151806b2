// The end-to-end driver: window search by process, texts through
// SendMessageTimeout so that a hung runtime cannot hang the test.
#include "driver.h"

namespace e2e {

Process::~Process()
{
    if (!started)
        return;
    if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT)
        TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
}

long Process::WaitForExit(DWORD ms)
{
    if (WaitForSingleObject(info.hProcess, ms) != WAIT_OBJECT_0) {
        TerminateProcess(info.hProcess, 1);
        WaitForSingleObject(info.hProcess, 5000);
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    return static_cast<long>(code);
}

bool Start(Process& p, const std::string& program, const std::string& args)
{
    std::string commandLine = "\"" + program + "\"" + (args.empty() ? "" : " " + args);
    std::string folder = program.substr(0, program.find_last_of('\\'));
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    p.started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                               folder.c_str(), &startup, &p.info) != 0;
    return p.started;
}

struct WindowSearch {
    DWORD pid;
    std::vector<HWND> found;
};

static BOOL CALLBACK CollectWindow(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->pid && IsWindowVisible(window))
        search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> VisibleWindows(const Process& p)
{
    WindowSearch search{ p.info.dwProcessId, {} };
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForWindow(const Process& p, bool (*match)(HWND), DWORD ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        for (HWND window : VisibleWindows(p))
            if (match(window))
                return window;
        if (GetTickCount() - start >= ms || WaitForSingleObject(p.info.hProcess, 0) == WAIT_OBJECT_0)
            return nullptr;
        Sleep(50);
    }
}

bool IsMessageBox(HWND window)
{
    char name[16] = "";
    GetClassNameA(window, name, sizeof(name));
    return lstrcmpA(name, "#32770") == 0 && GetDlgItem(window, 0xFFFF) != nullptr;
}

std::string Text(HWND window)
{
    char buffer[4096] = "";
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof(buffer), reinterpret_cast<LPARAM>(buffer),
                        SMTO_ABORTIFHUNG, 5000, &result);
    return buffer;
}

std::string ItemText(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    return item ? Text(item) : std::string();
}

bool HasItem(HWND dialog, int id)
{
    return GetDlgItem(dialog, id) != nullptr;
}

void Click(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

static IconKind ClassifyIcon(HWND iconControl)
{
    // Error icons are red, warnings yellow, questions and information blue
    // (the question mark is the one with more white than blue inside).
    RECT r;
    GetWindowRect(iconControl, &r);
    HDC screen = GetDC(nullptr);
    int red = 0, yellow = 0, blue = 0, white = 0;
    for (int y = r.top; y < r.bottom; y++)
        for (int x = r.left; x < r.right; x++) {
            COLORREF c = GetPixel(screen, x, y);
            int R = GetRValue(c), G = GetGValue(c), B = GetBValue(c);
            if (R > 150 && G < 90 && B < 90)
                red++;
            else if (R > 150 && G > 150 && B < 90)
                yellow++;
            else if (B > 150 && R < 120)
                blue++;
            else if (R > 230 && G > 230 && B > 230)
                white++;
        }
    ReleaseDC(nullptr, screen);
    if (red > 20 && red > yellow && red > blue)
        return IconKind::Error;
    if (yellow > 20 && yellow > blue)
        return IconKind::Warning;
    if (blue > 20)
        return white > blue ? IconKind::Question : IconKind::Information;
    return IconKind::None;
}

MessageBoxView ReadMessageBox(HWND box)
{
    MessageBoxView view;
    // A box found the moment it shows may not have its texts yet.
    for (DWORD start = GetTickCount(); GetTickCount() - start < 2000; Sleep(50)) {
        view.caption = Text(box);
        view.text = ItemText(box, 0xFFFF);
        if (!view.text.empty())
            break;
    }
    // The icon is the one visible static control with SS_ICON; its id differs between systems.
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child)) {
            Sleep(200);   // let the box paint
            view.icon = ClassifyIcon(child);
        }
    return view;
}

bool SaveScreen(const std::string& path)
{
    int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFOHEADER header{ sizeof(header), width, height, 1, 24, BI_RGB };
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        DWORD imageSize = ((width * 3 + 3) & ~3) * height;
        BITMAPFILEHEADER file{ 0x4D42, static_cast<DWORD>(sizeof(file) + sizeof(header) + imageSize), 0, 0,
                               sizeof(file) + sizeof(header) };
        std::vector<unsigned char> out(reinterpret_cast<unsigned char*>(&file),
                                       reinterpret_cast<unsigned char*>(&file) + sizeof(file));
        out.insert(out.end(), reinterpret_cast<unsigned char*>(&header),
                   reinterpret_cast<unsigned char*>(&header) + sizeof(header));
        out.insert(out.end(), static_cast<unsigned char*>(bits), static_cast<unsigned char*>(bits) + imageSize);
        ok = WriteFileBytes(path, out.data(), out.size());
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

void RemoveFolder(const std::string& folder)
{
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = folder + "\\" + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveFolder(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(folder.c_str());
}

std::string FreshFolder(const std::string& name)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string folder = std::string(temp) + "quillset-e2e";
    CreateDirectoryA(folder.c_str(), nullptr);
    folder += "\\" + name;
    RemoveFolder(folder);
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

bool WriteFileBytes(const std::string& path, const void* data, size_t size)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
    CloseHandle(file);
    return ok;
}

std::vector<unsigned char> ReadFileBytes(const std::string& path)
{
    std::vector<unsigned char> out;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return out;
    out.resize(GetFileSize(file, nullptr));
    DWORD got = 0;
    if (!out.empty() && (!ReadFile(file, out.data(), static_cast<DWORD>(out.size()), &got, nullptr) || got != out.size()))
        out.clear();
    CloseHandle(file);
    return out;
}

}  // namespace e2e
