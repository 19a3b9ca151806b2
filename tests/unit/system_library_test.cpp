// Libraries loaded at run time, in a process of their own: the search that
// step 0 restricts stays restricted for the rest of the process.
#include <gtest/gtest.h>
#include <windows.h>
#include "fixture_path.h"
#include "support/support.h"

namespace {

TEST(SystemLibraries, CommonControlsInitialisedAfterTheSearchIsRestricted)
{
    RestrictLibrarySearch();
    FARPROC initCommonControls = LoadCommonControls();
    ASSERT_NE(initCommonControls, nullptr);
    EXPECT_EQ(initCommonControls, GetProcAddress(GetModuleHandleA("comctl32.dll"), MAKEINTRESOURCEA(17)));
    // A library found beside the program alone no longer loads by name.
    std::string library = FixturePath("short_version.dll");
    char folder[MAX_PATH];
    GetModuleFileNameA(nullptr, folder, MAX_PATH);
    std::string beside = std::string(folder, strrchr(folder, '\\') + 1) + "beside_program.dll";
    ASSERT_TRUE(CopyFileA(library.c_str(), beside.c_str(), FALSE));
    EXPECT_EQ(LoadLibraryA("beside_program.dll"), nullptr);
    DeleteFileA(beside.c_str());
}

TEST(SystemLibraries, ScriptLibraryFindsItsHelperBesideIt)
{
    RestrictLibrarySearch();
    std::string path = FixturePath("dependent.dll");
    // The restricted search alone looks for the helper in the system folder.
    EXPECT_EQ(LoadLibraryA(path.c_str()), nullptr);
    HMODULE library = LoadScriptLibrary(path.c_str());
    ASSERT_NE(library, nullptr) << GetLastError();
    typedef int (*Value)();
    Value value = reinterpret_cast<Value>(GetProcAddress(library, "DependentValue"));
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value(), 6);
    FreeLibrary(library);
}

}  // namespace
