// The registry helpers against Wine's real registry, under a key of their own
// in HKEY_CURRENT_USER that every test removes again.
#include <gtest/gtest.h>
#include <string>
#include "support/support.h"

namespace {

const char kBase[] = "Software\\QuillsetTests\\Registry";

class Registry : public testing::Test {
protected:
    void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, kBase); }
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, kBase); }
    static std::string Path(const std::string& rest) { return std::string(kBase) + rest; }
    static bool KeyExists(const std::string& path)
    {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key))
            return false;
        RegCloseKey(key);
        return true;
    }
    static void Put(const std::string& path, const char* name, const char* value)
    {
        ASSERT_EQ(WriteRegistryValue(HKEY_CURRENT_USER, path.c_str(), name, REG_SZ, value, lstrlenA(value) + 1), 0);
    }
};

TEST_F(Registry, RootNamesBothWays)
{
    EXPECT_EQ(RootKeyFromName("hklm"), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(RootKeyFromName("HKCR"), HKEY_CLASSES_ROOT);
    EXPECT_EQ(RootKeyFromName("HKDD"), HKEY_DYN_DATA);
    EXPECT_EQ(RootKeyFromName("HKEY_LOCAL_MACHINE"), nullptr);
    EXPECT_EQ(RootKeyFromName(""), nullptr);
    EXPECT_STREQ(RootKeyName(HKEY_CURRENT_USER), "HKCU");
    EXPECT_STREQ(RootKeyName(HKEY_CURRENT_CONFIG), "HKCC");
}

TEST_F(Registry, WriteCreatesMissingLevelsBehindALeadingBackslash)
{
    std::string path = "\\" + Path("\\Missing\\Levels");
    ASSERT_FALSE(KeyExists(Path("\\Missing")));
    DWORD number = 0x12345678;
    EXPECT_EQ(WriteRegistryValue(HKEY_CURRENT_USER, path.c_str(), "Number", REG_DWORD, &number, 4), 0);
    DWORD type = 0;
    BYTE* data = ReadRegistryValue(HKEY_CURRENT_USER, path.c_str(), "Number", &type);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(type, (DWORD)REG_DWORD);
    EXPECT_EQ(*(DWORD*)data, number);
    FreeMem(data);
}

TEST_F(Registry, ReadReturnsStringsWithTheirEndAndNullForEmptyOrMissing)
{
    Put(Path(""), "Text", "abc");
    ASSERT_EQ(WriteRegistryValue(HKEY_CURRENT_USER, kBase, "Empty", REG_BINARY, "", 0), 0);
    // Stored without its NUL: the reader still ends it.
    ASSERT_EQ(WriteRegistryValue(HKEY_CURRENT_USER, kBase, "Unended", REG_SZ, "xyz", 3), 0);
    char* text = (char*)ReadRegistryValue(HKEY_CURRENT_USER, kBase, "Text", nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "abc");
    FreeMem(text);
    text = (char*)ReadRegistryValue(HKEY_CURRENT_USER, kBase, "Unended", nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "xyz");
    FreeMem(text);
    EXPECT_EQ(ReadRegistryValue(HKEY_CURRENT_USER, kBase, "Empty", nullptr), nullptr);
    EXPECT_EQ(ReadRegistryValue(HKEY_CURRENT_USER, kBase, "Absent", nullptr), nullptr);
    EXPECT_EQ(ReadRegistryValue(HKEY_CURRENT_USER, Path("\\NoSuchKey").c_str(), "Text", nullptr), nullptr);
}

TEST_F(Registry, DeleteValueRemovesTheEmptiedKeyOnlyWhenAsked)
{
    std::string key = Path("\\Values");
    Put(key, "A", "1");
    Put(key, "B", "2");
    Put(key + "\\Sub", "C", "3");
    EXPECT_EQ(DeleteRegistryValue(HKEY_CURRENT_USER, key.c_str(), "A", TRUE), 0);
    EXPECT_EQ(DeleteRegistryValue(HKEY_CURRENT_USER, key.c_str(), "B", TRUE), 0);
    EXPECT_TRUE(KeyExists(key)) << "kept while a subkey remains";
    EXPECT_EQ(DeleteRegistryKey(HKEY_CURRENT_USER, (key + "\\Sub").c_str(), TRUE), 0);
    Put(key, "D", "4");
    Put(key, "E", "5");
    EXPECT_EQ(DeleteRegistryValue(HKEY_CURRENT_USER, key.c_str(), "D", FALSE), 0);
    EXPECT_EQ(DeleteRegistryValue(HKEY_CURRENT_USER, key.c_str(), "E", FALSE), 0);
    EXPECT_TRUE(KeyExists(key)) << "emptied but not asked to go";
    Put(key, "F", "6");
    EXPECT_EQ(DeleteRegistryValue(HKEY_CURRENT_USER, key.c_str(), "F", TRUE), 0);
    EXPECT_FALSE(KeyExists(key));
    EXPECT_EQ(DeleteRegistryValue(HKEY_CURRENT_USER, key.c_str(), "F", TRUE), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, DeleteKeyKeepsAFilledKeyUnlessForced)
{
    std::string key = Path("\\Tree");
    Put(key, "Value", "x");
    EXPECT_EQ(DeleteRegistryKey(HKEY_CURRENT_USER, key.c_str(), FALSE), 0);
    EXPECT_TRUE(KeyExists(key));
    // Subkeys of different name lengths, two levels deep.
    for (const char* sub : { "\\A", "\\Longer name of a subkey", "\\A\\Deeper", "\\Mid\\X\\Y" })
        Put(key + sub, "V", "v");
    EXPECT_EQ(DeleteRegistryKey(HKEY_CURRENT_USER, ("\\\\" + key).c_str(), TRUE), 0);
    EXPECT_FALSE(KeyExists(key));
    EXPECT_TRUE(KeyExists(kBase));
    EXPECT_EQ(DeleteRegistryKey(HKEY_CURRENT_USER, key.c_str(), TRUE), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, DeleteKeyWithoutForceRemovesAnEmptyKey)
{
    std::string key = Path("\\Empty");
    HKEY created;
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, key.c_str(), &created), 0);
    RegCloseKey(created);
    EXPECT_EQ(DeleteRegistryKey(HKEY_CURRENT_USER, key.c_str(), FALSE), 0);
    EXPECT_FALSE(KeyExists(key));
}

}  // namespace
