// Text tables: one list of texts per primary language id.
#include "script.h"

const char* GetText(TextTable table, int index)
{
    return g_product.languageId < LANGUAGE_COUNT ? ListGet(table[g_product.languageId], index) : 0;
}
