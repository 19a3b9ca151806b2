// String routines over NUL-terminated ANSI text. Case-insensitive comparison
// goes byte by byte through CharUpperA, so a double-byte character compares as
// its two bytes.
#include "support.h"

static char UpperByte(char c)
{
    // CharUpperA with a high word of 0 converts the single character in the low word.
    return (char)(DWORD_PTR)CharUpperA((LPSTR)(DWORD_PTR)(BYTE)c);
}

static BOOL SameByte(char a, char b, BOOL caseSensitive)
{
    return a == b || (!caseSensitive && UpperByte(a) == UpperByte(b));
}

char* DupString(const char* s, DWORD extra)
{
    int n = s ? lstrlenA(s) : 0;
    char* copy = (char*)AllocMem(n + extra + 1);
    if (copy && n)
        MoveMemory(copy, s, n);
    return copy;
}

char* DupTrimmed(const char* s)
{
    char* copy = DupString(s, 0);
    int n = copy ? lstrlenA(copy) : 0;
    while (n && (BYTE)(copy[n - 1] - 1) < ' ')   // blanks and control characters
        copy[--n] = 0;
    return copy;
}

char* JoinStrings(const char* a, const char* b, const char* c, const char* d, const char* e)
{
    const char* parts[5] = { a, b, c, d, e };
    int total = 1;
    for (int i = 0; i < 5; i++)
        if (parts[i])
            total += lstrlenA(parts[i]);
    char* result = (char*)AllocMem(total);
    if (result)
        for (int i = 0; i < 5; i++)
            if (parts[i])
                lstrcatA(result, parts[i]);
    return result;
}

char* FindText(const char* text, const char* token, int length, BOOL caseSensitive)
{
    if (!text || !token || !*token)
        return 0;
    int textLength = lstrlenA(text);
    if (length < 0 || length > textLength)
        length = textLength;
    int tokenLength = lstrlenA(token);
    for (int i = 0; i + tokenLength <= length; i++) {
        int k = 0;
        while (k < tokenLength && SameByte(text[i + k], token[k], caseSensitive))
            k++;
        if (k == tokenLength)
            return (char*)text + i;
    }
    return 0;
}

char* FindChar(const char* text, char ch, int length, BOOL caseSensitive)
{
    char token[2] = { ch, 0 };
    return FindText(text, token, length, caseSensitive);
}

char* FindCharReverse(const char* text, char ch, int length, BOOL caseSensitive)
{
    if (!text)
        return 0;
    int textLength = lstrlenA(text);
    if (length < 0 || length > textLength)
        length = textLength;
    while (length-- > 0)
        if (SameByte(text[length], ch, caseSensitive))
            return (char*)text + length;
    return 0;
}

char* ReplaceAll(const char* text, const char* token, const char* replacement, BOOL caseSensitive)
{
    // Rescanning from the start of the rebuilt string also replaces tokens
    // that a replacement forms with the text around it. A replacement that
    // contains the token itself would make that endless, so in that case the
    // scan resumes behind the inserted replacement instead.
    char* result = DupString(text, 0);
    if (!result || !token || !*token)
        return result;
    int tokenLength = lstrlenA(token);
    int replacementLength = replacement ? lstrlenA(replacement) : 0;
    BOOL selfContaining = FindText(replacement, token, -1, caseSensitive) != 0;
    int scanFrom = 0;
    for (;;) {
        char* hit = FindText(result + scanFrom, token, -1, caseSensitive);
        if (!hit)
            return result;
        int at = (int)(hit - result);
        *hit = 0;
        char* next = JoinStrings(result, replacement, hit + tokenLength);
        FreeMem(result);
        if (!next)
            return 0;
        result = next;
        scanFrom = selfContaining ? at + replacementLength : 0;
    }
}

DWORD TextHash(const char* text)
{
    DWORD hash = 0;
    for (; *text; text++)
        hash = hash * 31 + (BYTE)UpperByte(*text);
    return hash;
}

BOOL SameText(const char* a, const char* b)
{
    return a && b && lstrlenA(a) == lstrlenA(b) && (!*a || FindText(a, b, -1, FALSE) == a);
}

char* ReplaceInPlace(char* text, const char* token, const char* replacement)
{
    if (!text)
        return 0;
    char* result = ReplaceAll(text, token, replacement, FALSE);
    FreeMem(text);
    return result;
}

char* CutLine(char** text)
{
    char* line = *text;
    char* end = FindChar(line, '\n', -1, TRUE);
    if (!end)
        return 0;
    *end = 0;
    *text = end + 1;
    return line;
}
