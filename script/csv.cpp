// SplitCsv: the comma-separated lines of the script into the 15 shared
// fields. Fields are not trimmed; text after a 15th comma is dropped.
#include "script.h"
#include "../startup/app_state.h"

void SplitCsv(const char* line, BOOL quoted)
{
    char* copy = DupString(line, 0);
    char* rest = copy;
    int field = 0;
    if (quoted) {
        char* open = FindChar(copy, '"', -1, TRUE);
        rest = 0;
        if (open) {
            char* close = FindChar(open + 1, '"', -1, TRUE);
            if (close) {
                *close = 0;
                rest = FindChar(close + 1, ',', -1, TRUE);
                if (rest)
                    rest++;
            }
            ListSetAt(g_app.csvFields, field++, open + 1);
        }
    }
    for (; field < CSV_FIELD_COUNT; field++) {
        char* comma = rest ? FindChar(rest, ',', -1, TRUE) : 0;
        if (comma)
            *comma = 0;
        ListSetAt(g_app.csvFields, field, rest ? rest : "");
        rest = comma ? comma + 1 : 0;
    }
    FreeMem(copy);
}

const char* CsvField(int index)
{
    const char* field = ListGet(g_app.csvFields, index);
    return field ? field : "";
}
