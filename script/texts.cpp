// Text tables: one list of texts per primary language id.
#include "script.h"

const char* GetText(TextTable table, int index)
{
    return g_app.languageId < LANGUAGE_COUNT ? ListGet(table[g_app.languageId], index) : 0;
}
