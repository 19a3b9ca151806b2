// Times a package from its start to its first visible window, and with
// "exit" on to the end of its process: the start-up cost that a package's
// size adds (the self-check reads every byte before the wizard appears).
// Without "exit" the process is ended once its window shows.
// Usage: first_window PROGRAM [exit]   prints "window MS" [and "exit MS"]
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Search {
    DWORD process;
    bool found;
};

BOOL CALLBACK FindVisible(HWND window, LPARAM context)
{
    Search* search = reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->process && IsWindowVisible(window)) {
        search->found = true;
        return FALSE;
    }
    return TRUE;
}

double Milliseconds(const LARGE_INTEGER& start)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (now.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || (argc == 3 && std::strcmp(argv[2], "exit") != 0) || argc > 3) {
        std::fprintf(stderr, "usage: first_window PROGRAM [exit]\n");
        return 2;
    }
    bool toExit = argc == 3;
    std::string command = std::string("\"") + argv[1] + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        std::fprintf(stderr, "first_window: cannot start %s\n", argv[1]);
        return 1;
    }
    // Polled every millisecond for at most 60 s: the figure is off by at most that.
    Search search{ info.dwProcessId, false };
    while (!search.found && Milliseconds(start) < 60000
           && WaitForSingleObject(info.hProcess, 1) == WAIT_TIMEOUT)
        EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&search));
    int result = 0;
    if (search.found) {
        std::printf("window %.0f\n", Milliseconds(start));
    } else {
        std::fprintf(stderr, "first_window: no window appeared\n");
        result = 1;
    }
    if (toExit && search.found && WaitForSingleObject(info.hProcess, 300000) == WAIT_OBJECT_0)
        std::printf("exit %.0f\n", Milliseconds(start));
    else if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT)
        TerminateProcess(info.hProcess, 0);
    WaitForSingleObject(info.hProcess, 10000);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return result;
}
