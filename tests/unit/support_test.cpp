// Memory, string, number, path and list routines.
#include <gtest/gtest.h>
#include <string>
#include "unit_helpers.h"
#include "support/support.h"

namespace {

TEST(ParseNumber, OctalHexadecimalAndDecimalForms)
{
    EXPECT_EQ(ParseNumber("012"), 10);
    EXPECT_EQ(ParseNumber("08"), 8);
    EXPECT_EQ(ParseNumber("078"), 7);
    EXPECT_EQ(ParseNumber("0x1F"), 31);
    EXPECT_EQ(ParseNumber("0X1f"), 31);
    EXPECT_EQ(ParseNumber("0x"), 0);
    EXPECT_EQ(ParseNumber("-1"), -1);
    EXPECT_EQ(ParseNumber("12abc"), 12);
    EXPECT_EQ(ParseNumber("+5"), 0);
    EXPECT_EQ(ParseNumber(" 5"), 0);
    EXPECT_EQ(ParseNumber(""), 0);
    EXPECT_EQ(ParseNumber("4294967297"), 1);   // wraps modulo 2^32
}

TEST(ReplaceAll, ReplacesEveryOccurrenceAndTerminates)
{
    EXPECT_EQ(Take(ReplaceAll("a%X%b%x%", "%X%", "1", FALSE)), "a1b1");
    EXPECT_EQ(Take(ReplaceAll("abc", "zz", "1", FALSE)), "abc");
    // A replacement that forms the token with the following text is rescanned.
    EXPECT_EQ(Take(ReplaceAll("aabb", "ab", "", TRUE)), "");
    // A replacement containing the token itself must not loop.
    EXPECT_EQ(Take(ReplaceAll("x%P%y%P%", "%P%", "[%P%]", TRUE)), "x[%P%]y[%P%]");
}

TEST(FindText, EmptyTokenAndShortLength)
{
    EXPECT_EQ(FindText("abc", "", -1, TRUE), nullptr);
    EXPECT_EQ(FindText("abc", "bc", 2, TRUE), nullptr);
    const char* text = "abC";
    EXPECT_EQ(FindText(text, "bc", -1, FALSE), text + 1);
    EXPECT_EQ(FindText(text, "bc", -1, TRUE), nullptr);
}

TEST(StringList, SetAtBeyondTheEndAndGetOutOfRange)
{
    StringList* list = ListCreate(5);
    ASSERT_TRUE(ListSetAt(list, 5, "five"));
    EXPECT_EQ(ListCount(list), 6);
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(ListGet(list, i), nullptr);
    EXPECT_STREQ(ListGet(list, 5), "five");
    EXPECT_EQ(ListGet(list, 6), nullptr);
    EXPECT_EQ(ListGet(list, -1), nullptr);
    ListDelete(list, 0);
    EXPECT_STREQ(ListGet(list, 4), "five");
    ListDestroy(&list);
    EXPECT_EQ(list, nullptr);
    ListDestroy(&list);
}

TEST(StringList, Sort)
{
    StringList* list = ListCreate(5);
    for (const char* s : { "pear", "Apple", "fig" })
        ListAppend(list, s);
    ListSort(list, LIST_SORT_BY_TEXT);
    EXPECT_STREQ(ListGet(list, 0), "Apple");
    ListSort(list, LIST_SORT_BY_LENGTH | LIST_DESCENDING);
    EXPECT_STREQ(ListGet(list, 0), "Apple");
    ListDestroy(&list);
}

TEST(Paths, CombinePathAndFileTitle)
{
    EXPECT_EQ(Take(CombinePath("C:\\A\\", "\\B")), "C:\\A\\B");
    EXPECT_EQ(Take(CombinePath("C:\\A", "D:\\X")), "D:\\X");
    EXPECT_EQ(Take(CombinePath("C:\\A\\", "")), "C:\\A");
    EXPECT_EQ(Take(FileTitle("C:\\dir.x\\setup.tar.gz")), "setup.tar");
    EXPECT_EQ(Take(FileTitle("name")), "name");
    EXPECT_EQ(Take(ParentPath("C:\\A\\b.exe")), "C:\\A");
}

TEST(Memory, FreeOfForeignPointerIsIgnored)
{
    static char notFromHeap[16];
    FreeMem(notFromHeap);
    FreeMem(nullptr);
    char* block = (char*)AllocMem(8);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block[7], 0);
    block = (char*)ResizeMem(block, 64);
    EXPECT_EQ(block[63], 0);
    EXPECT_EQ(ResizeMem(block, 0), nullptr);
}

TEST(Messages, CompositionRules)
{
    char text[MESSAGE_BUFFER_SIZE];
    ComposeMessage(text, "100% done", nullptr, nullptr, nullptr);
    EXPECT_STREQ(text, "100% done");
    ComposeMessage(text, "<%s>", "a", "ignored", nullptr);
    EXPECT_STREQ(text, "<a>");
    std::string longText(2000, 'x');
    ComposeMessage(text, "%s", longText.c_str(), nullptr, nullptr);
    EXPECT_EQ(strlen(text), 1023u);
    EXPECT_EQ(SystemErrorText(5), SystemErrorText(2));
}

TEST(Messages, SystemErrorTextIsOneSharedBuffer)
{
    std::string denied = SystemErrorText(ERROR_ACCESS_DENIED);
    ASSERT_GE(denied.size(), 3u);
    EXPECT_EQ(denied.substr(denied.size() - 2), "\r\n");
    const char* shared = SystemErrorText(ERROR_FILE_NOT_FOUND);
    EXPECT_NE(std::string(shared), denied);
    EXPECT_STREQ(SystemErrorText(0x2FFFFFFF), "");   // no system text: empty
    EXPECT_STREQ(shared, "");
}

}  // namespace
