// Findings list.
#include "CmdList.h"
#include <cstdio>
#include <cstdlib>

namespace {
CmdListNoMemoryHandler g_noMemory = nullptr;
}

void CmdListSetNoMemoryHandler(CmdListNoMemoryHandler handler)
{
    g_noMemory = handler;
}

CmdListEntry* CmdListAppend(CmdListEntry** head)
{
    CmdListEntry* entry = static_cast<CmdListEntry*>(calloc(1, sizeof(CmdListEntry)));
    if (!entry) {
        printf("ERROR: malloc()\n");
        fflush(stdout);
        if (g_noMemory)
            g_noMemory();
        exit(0);
    }
    if (!*head) {
        *head = entry;
    } else {
        CmdListEntry* last = *head;
        while (last->next)
            last = last->next;
        last->next = entry;
    }
    return entry;
}

CmdListEntry* CmdListGetAt(CmdListEntry* head, int index)
{
    CmdListEntry* entry = head;
    for (int i = 0; entry && i < index; ++i)
        entry = entry->next;
    return entry;
}

void CmdListFree(CmdListEntry** head)
{
    CmdListEntry* entry = *head;
    while (entry) {
        CmdListEntry* next = entry->next;
        free(entry);
        entry = next;
    }
    *head = nullptr;
}
