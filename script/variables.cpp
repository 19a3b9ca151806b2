// ScriptVariables: two parallel lists in definition order, names with their
// percent signs, looked up case-insensitively.
#include "script.h"

static int FindVariable(const char* name)
{
    for (int i = 0; i < ListCount(g_app.lists.variableNames); i++)
        if (SameText(ListGet(g_app.lists.variableNames, i), name))
            return i;
    return -1;
}

const char* GetVariable(const char* name)
{
    return ListGet(g_app.lists.variableValues, FindVariable(name));
}

BOOL SetVariable(const char* name, const char* value)
{
    int i = FindVariable(name);
    if (i >= 0)
        return ListSetAt(g_app.lists.variableValues, i, value);
    ListAppend(g_app.lists.variableNames, name);
    ListAppend(g_app.lists.variableValues, value);
    return TRUE;
}

char* ExpandVariables(const char* text)
{
    // One pass per variable in definition order: a value naming a later
    // variable is expanded in turn, one naming an earlier one (or itself) is
    // not, so that no definition can make the expansion endless.
    char* result = DupString(text, 0);
    for (int i = 0; i < ListCount(g_app.lists.variableNames); i++)
        result = ReplaceInPlace(result, ListGet(g_app.lists.variableNames, i),
                                ListGet(g_app.lists.variableValues, i));
    return result;
}
