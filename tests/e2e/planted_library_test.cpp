// Libraries planted beside a package: whatever the runtime loads after its
// first instruction comes from the system folder, never from the package's.
// The libraries are not named here from memory: a first run lists what the
// runtime really loads, and a second run plants a copy of each.
#include <gtest/gtest.h>
#include <algorithm>
#include <iostream>
#include <set>
#include "fixture_path.h"
#include "wine_settings.h"
#include "package_fixture.h"

namespace {

using namespace e2e;

std::string BaseName(std::string path)
{
    size_t slash = path.find_last_of("\\/");
    if (slash != std::string::npos)
        path.erase(0, slash + 1);
    std::transform(path.begin(), path.end(), path.begin(), [](char c) { return (char)tolower((unsigned char)c); });
    return path;
}

// The library's name from the debug event: the file handle's path, else the
// name the loader wrote into the debuggee.
std::string LoadedName(HANDLE process, const LOAD_DLL_DEBUG_INFO& load)
{
    char path[MAX_PATH * 2] = "";
    if (load.hFile && GetFinalPathNameByHandleA(load.hFile, path, sizeof(path), 0))
        return BaseName(path);
    void* name = nullptr;
    SIZE_T got = 0;
    if (!load.lpImageName || !ReadProcessMemory(process, load.lpImageName, &name, sizeof(name), &got) || !name)
        return "";
    wchar_t wide[MAX_PATH] = L"";
    ReadProcessMemory(process, name, wide, sizeof(wide) - sizeof(wchar_t), &got);
    if (load.fUnicode)
        WideCharToMultiByte(CP_ACP, 0, wide, -1, path, sizeof(path), nullptr, nullptr);
    else
        lstrcpynA(path, reinterpret_cast<const char*>(wide), sizeof(path));
    return BaseName(path);
}

struct LibraryLoads {
    std::set<std::string> beforeEntry, afterEntry;
    bool entryReached = false;
    HWND frame = nullptr;
};

// Starts PATH as a debuggee and records every library it loads, split at its
// entry point (a breakpoint placed there and removed again), until its wizard
// frame is shown; then lets it run on alone.
LibraryLoads RunToWizardListingLibraries(Process& runtime, const std::string& path)
{
    LibraryLoads loads;
    std::string commandLine = "\"" + path + "\"";
    std::string folder = path.substr(0, path.find_last_of('\\'));
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    runtime.started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS,
                                     nullptr, folder.c_str(), &startup, &runtime.info) != 0;
    if (!runtime.started)
        return loads;
    BYTE* entry = nullptr;
    BYTE original = 0;
    DWORD start = GetTickCount();
    bool attached = true;
    while (attached && GetTickCount() - start < kDefaultWait) {
        DEBUG_EVENT event;
        if (!WaitForDebugEvent(&event, 50)) {
            if (loads.entryReached && (loads.frame = WaitForWindow(runtime, IsWizardFrame, 0)))
                break;
            continue;
        }
        DWORD status = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT: {
            CREATE_PROCESS_DEBUG_INFO& created = event.u.CreateProcessInfo;
            if (created.hFile)
                CloseHandle(created.hFile);
            BYTE* base = static_cast<BYTE*>(created.lpBaseOfImage);
            IMAGE_DOS_HEADER dos{};
            IMAGE_NT_HEADERS nt{};
            BYTE breakpoint = 0xCC;
            if (ReadProcessMemory(runtime.info.hProcess, base, &dos, sizeof(dos), nullptr) &&
                ReadProcessMemory(runtime.info.hProcess, base + dos.e_lfanew, &nt, sizeof(nt), nullptr) &&
                ReadProcessMemory(runtime.info.hProcess, base + nt.OptionalHeader.AddressOfEntryPoint, &original, 1,
                                  nullptr) &&
                WriteProcessMemory(runtime.info.hProcess, base + nt.OptionalHeader.AddressOfEntryPoint, &breakpoint,
                                   1, nullptr)) {
                entry = base + nt.OptionalHeader.AddressOfEntryPoint;
                FlushInstructionCache(runtime.info.hProcess, entry, 1);
            }
            break;
        }
        case LOAD_DLL_DEBUG_EVENT: {
            std::string name = LoadedName(runtime.info.hProcess, event.u.LoadDll);
            if (event.u.LoadDll.hFile)
                CloseHandle(event.u.LoadDll.hFile);
            if (!name.empty())
                (loads.entryReached ? loads.afterEntry : loads.beforeEntry).insert(name);
            break;
        }
        case EXCEPTION_DEBUG_EVENT: {
            EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
            BYTE* at = static_cast<BYTE*>(record.ExceptionAddress);
            if (record.ExceptionCode == EXCEPTION_BREAKPOINT && entry && (at == entry || at == entry + 1)) {
                // Back to the entry's own first instruction.
                WriteProcessMemory(runtime.info.hProcess, entry, &original, 1, nullptr);
                FlushInstructionCache(runtime.info.hProcess, entry, 1);
                CONTEXT context{};
                context.ContextFlags = CONTEXT_CONTROL;
                GetThreadContext(runtime.info.hThread, &context);
#ifdef _WIN64
                context.Rip = reinterpret_cast<DWORD64>(entry);
#else
                context.Eip = reinterpret_cast<DWORD>(entry);
#endif
                SetThreadContext(runtime.info.hThread, &context);
                loads.entryReached = true;
            } else if (record.ExceptionCode != EXCEPTION_BREAKPOINT) {
                status = DBG_EXCEPTION_NOT_HANDLED;
            }
            break;
        }
        case EXIT_PROCESS_DEBUG_EVENT:
            attached = false;
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
    if (attached) {
        DebugSetProcessKillOnExit(FALSE);
        DebugActiveProcessStop(runtime.info.dwProcessId);
    }
    return loads;
}

// A planted library lacks the functions its importer needs and stops the
// program: Wine's debugger then reports and ends it instead of waiting for a
// click on its crash dialog.
struct NoCrashDialog {
    const char* key = "Software\\Wine\\WineDbg";
    DWORD previous = 1, size = sizeof(previous);
    bool had;
    NoCrashDialog()
    {
        had = RegGetValueA(HKEY_CURRENT_USER, key, "ShowCrashDialog", RRF_RT_REG_DWORD, nullptr, &previous, &size) == 0;
        DWORD off = 0;
        RegSetKeyValueA(HKEY_CURRENT_USER, key, "ShowCrashDialog", REG_DWORD, &off, sizeof(off));
    }
    ~NoCrashDialog()
    {
        if (had)
            RegSetKeyValueA(HKEY_CURRENT_USER, key, "ShowCrashDialog", REG_DWORD, &previous, sizeof(previous));
        else
            RegDeleteKeyValueA(HKEY_CURRENT_USER, key, "ShowCrashDialog");
    }
};

// Under Wine a DLL beside the program wins over Wine's own only when it is
// named native first, which is how Windows searches the program's folder.
TEST(PlantedLibraries, NoneLoadedFromThePackagesFolder)
{
    std::string listing = FreshFolder("PlantedListing");
    std::string listed = WriteInstaller(listing, "listing.exe", MinimalScript());
    ASSERT_FALSE(listed.empty());
    std::set<std::string> planted;
    {
        Process runtime;
        LibraryLoads loads = RunToWizardListingLibraries(runtime, listed);
        ASSERT_TRUE(loads.entryReached);
        ASSERT_NE(loads.frame, nullptr);
        CancelWizard(runtime, loads.frame);
        EXPECT_EQ(runtime.WaitForExit(), 0);
        // A name that is loaded before the entry point is found loaded by any
        // later request, wherever that would search.
        for (const std::string& name : loads.afterEntry)
            if (!loads.beforeEntry.count(name))
                planted.insert(name);
        std::cout << "loaded before the entry point:";
        for (const std::string& name : loads.beforeEntry)
            std::cout << ' ' << name;
        std::cout << "\nloaded after it (planted):";
        for (const std::string& name : planted)
            std::cout << ' ' << name;
        std::cout << std::endl;
    }
    // Neither the common controls nor the theme library they load comes in
    // before the entry point (an import would bring them, searched for in
    // the program's folder first).
    EXPECT_TRUE(planted.count("comctl32.dll"));
    EXPECT_TRUE(planted.count("uxtheme.dll"));
    // The libraries the runtime loads and frees again on its way, whether
    // this system has them or not.
    for (const char* name : { "riched32.dll", "ddraw.dll", "dinput.dll", "d3d8.dll", "d3d9.dll" })
        planted.insert(name);

    std::string folder = FreshFolder("Planted");
    std::string path = WriteInstaller(folder, "planted.exe", MinimalScript());
    ASSERT_FALSE(path.empty());
    ProgramSettings wine("planted.exe");
    NoCrashDialog quietCrash;
    for (const std::string& name : planted) {
        ASSERT_TRUE(CopyFileA(FixturePath("marker.dll").c_str(), (folder + "\\" + name).c_str(), FALSE)) << name;
        // Wine names libraries without ".dll", other modules with their extension.
        std::string key = name.size() > 4 && name.compare(name.size() - 4, 4, ".dll") == 0
                              ? name.substr(0, name.size() - 4)
                              : name;
        wine.Set("DllOverrides", key.c_str(), "native,builtin");
    }
    Process runtime;
    ASSERT_TRUE(Start(runtime, path));
    HWND frame = WaitForWindow(runtime, IsWizardFrame);
    EXPECT_NE(frame, nullptr);
    if (frame)
        CancelWizard(runtime, frame);
    EXPECT_EQ(runtime.WaitForExit(), 0);
    for (const std::string& name : planted)
        EXPECT_EQ(GetFileAttributesA((folder + "\\" + name + ".loaded").c_str()), INVALID_FILE_ATTRIBUTES)
            << name << " was loaded from the package's folder";
}

}  // namespace
