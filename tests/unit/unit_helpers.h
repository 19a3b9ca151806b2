// What several unit suites share: the runtime's strings as std::strings, and
// files written and read whole.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <fstream>
#include <sstream>
#include <string>
#include "support/support.h"

// A heap string that the runtime handed over, freed.
inline std::string Take(char* s)
{
    std::string result = s ? s : "(null)";
    FreeMem(s);
    return result;
}

// A string that the runtime keeps.
inline std::string Str(const char* s)
{
    return s ? s : "(null)";
}

// PATH written anew with CONTENT, then given ATTRIBUTES.
inline void WriteTestFile(const std::string& path, const std::string& content,
                          DWORD attributes = FILE_ATTRIBUTE_NORMAL)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written;
    WriteFile(file, content.data(), (DWORD)content.size(), &written, nullptr);
    CloseHandle(file);
    SetFileAttributesA(path.c_str(), attributes);
}

// The whole file; empty when it cannot be read.
inline std::string FileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}
