// ScriptVariables: two parallel lists in definition order, names with their
// percent signs, looked up case-insensitively.
#include "script.h"

static int FindVariable(const char* name)
{
    for (int i = 0; i < ListCount(g_workLists[WORK_VARIABLE_NAMES]); i++)
        if (SameText(ListGet(g_workLists[WORK_VARIABLE_NAMES], i), name))
            return i;
    return -1;
}

const char* GetVariable(const char* name)
{
    return ListGet(g_workLists[WORK_VARIABLE_VALUES], FindVariable(name));
}

BOOL SetVariable(const char* name, const char* value)
{
    int i = FindVariable(name);
    if (i >= 0)
        return ListSetAt(g_workLists[WORK_VARIABLE_VALUES], i, value);
    ListAppend(g_workLists[WORK_VARIABLE_NAMES], name);
    ListAppend(g_workLists[WORK_VARIABLE_VALUES], value);
    return TRUE;
}

char* ExpandVariables(const char* text)
{
    // One pass per variable in definition order: a value naming a later
    // variable is expanded in turn, one naming an earlier one (or itself) is
    // not, so that no definition can make the expansion endless.
    char* result = DupString(text, 0);
    for (int i = 0; i < ListCount(g_workLists[WORK_VARIABLE_NAMES]); i++)
        result = ReplaceInPlace(result, ListGet(g_workLists[WORK_VARIABLE_NAMES], i),
                                ListGet(g_workLists[WORK_VARIABLE_VALUES], i));
    return result;
}
