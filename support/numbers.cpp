// Number parsing for script fields: octal after a leading 0, hexadecimal after
// 0x, otherwise decimal with an optional minus; wraps modulo 2^32.
#include "support.h"

static int DigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c |= 0x20;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return 99;
}

int ParseNumber(const char* text)
{
    if (!text)
        return 0;
    DWORD value = 0;
    int base = 10;
    BOOL negative = FALSE;
    if (text[0] == '0' && text[1] >= '0' && text[1] <= '7') {
        base = 8;
        text++;
    } else if (text[0] == '0' && (text[1] | 0x20) == 'x') {
        base = 16;
        text += 2;
    } else if (*text == '-') {
        negative = TRUE;
        text++;
    }
    for (int digit; (digit = DigitValue(*text)) < base; text++)
        value = value * base + digit;
    return negative ? -(int)value : (int)value;
}

DWORD MulDivFloor(DWORD a, DWORD b, DWORD c)
{
#if defined(__i386__)
    // One mul and one div instead of the 64-bit division helper of libgcc.
    DWORD quotient, remainder;
    __asm__("mull %3\n\tdivl %4" : "=a"(quotient), "=&d"(remainder) : "a"(a), "rm"(b), "rm"(c) : "cc");
    return quotient;
#else
    return (DWORD)((unsigned long long)a * b / c);
#endif
}
