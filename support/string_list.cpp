// StringList: a growable array of owned heap strings with null slots.
#include "support.h"

StringList* ListCreate(int growth)
{
    StringList* list = (StringList*)AllocMem(sizeof(StringList));
    if (list)
        list->growth = growth > 0 ? growth : 5;
    return list;
}

int ListCount(const StringList* list)
{
    return list ? list->count : 0;
}

char* ListGet(const StringList* list, int i)
{
    if (!list || i < 0 || i >= list->count)
        return 0;
    return list->items[i];
}

static BOOL Reserve(StringList* list, int count)
{
    if (count <= list->capacity)
        return TRUE;
    int capacity = count + list->growth;
    char** items = (char**)ResizeMem(list->items, capacity * sizeof(char*));
    if (!items)
        return FALSE;
    list->items = items;
    list->capacity = capacity;
    return TRUE;
}

int ListAppend(StringList* list, const char* s)
{
    int i = ListCount(list);
    return ListSetAt(list, i, s) ? i : -1;
}

BOOL ListSetAt(StringList* list, int i, const char* s)
{
    if (!list || i < 0 || !Reserve(list, i + 1))
        return FALSE;
    char* copy = 0;
    if (s && !(copy = DupString(s, 0)))
        return FALSE;
    if (i >= list->count)
        list->count = i + 1;   // new slots are zero: the heap fills with zeros
    FreeMem(list->items[i]);
    list->items[i] = copy;
    return TRUE;
}

void ListDelete(StringList* list, int i)
{
    if (!list || i < 0 || i >= list->count)
        return;
    FreeMem(list->items[i]);
    list->count--;
    MoveMemory(list->items + i, list->items + i + 1, (list->count - i) * sizeof(char*));
    list->items[list->count] = 0;
}

void ListClear(StringList* list)
{
    while (ListCount(list))
        ListDelete(list, list->count - 1);
}

void ListDestroy(StringList** list)
{
    if (!*list)
        return;
    ListClear(*list);
    FreeMem((*list)->items);
    FreeMem(*list);
    *list = 0;
}

char* ListJoinPath(const StringList* list, int n, const char* name)
{
    char* result = DupString("", 0);
    for (int i = 0; i <= n && result; i++) {
        char* entry = ListGet(list, i);
        if (entry && *entry) {
            char* next = JoinStrings(result, entry, "\\");
            FreeMem(result);
            result = next;
        }
    }
    char* joined = JoinStrings(result, name);
    FreeMem(result);
    return joined;
}

static int Compare(const char* a, const char* b, DWORD flags)
{
    int result;
    if ((flags & 0xFF) == LIST_SORT_BY_LENGTH)
        result = lstrlenA(a ? a : "") - lstrlenA(b ? b : "");
    else
        result = (flags & LIST_CASE_SENSITIVE) ? lstrcmpA(a ? a : "", b ? b : "")
                                               : lstrcmpiA(a ? a : "", b ? b : "");
    return (flags & LIST_DESCENDING) ? -result : result;
}

void ListSort(StringList* list, DWORD flags)
{
    // Insertion sort: the lists are short, and it is stable.
    for (int i = 1; i < ListCount(list); i++) {
        char* item = list->items[i];
        int k = i;
        for (; k > 0 && Compare(list->items[k - 1], item, flags) > 0; k--)
            list->items[k] = list->items[k - 1];
        list->items[k] = item;
    }
}

BOOL ListContainsText(const StringList* list, const char* text)
{
    for (int i = 0; i < ListCount(list); i++)
        if (SameText(ListGet(list, i), text))
            return TRUE;
    return FALSE;
}

BOOL ContainsAnyOf(const char* text, const StringList* list)
{
    for (int i = 0; i < ListCount(list); i++)
        if (FindText(text, list->items[i], -1, TRUE))
            return TRUE;
    return FALSE;
}
