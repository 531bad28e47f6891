// Findings list.
#include "CmdList.h"
#include <cstdio>
#include <cstdlib>

CmdListEntry* CmdListAppend(CmdListEntry** head)
{
    CmdListEntry* entry = static_cast<CmdListEntry*>(calloc(1, sizeof(CmdListEntry)));
    if (!entry) {
        printf("ERROR: malloc()\n");
        fflush(stdout);
        // A search that cannot record its findings must not look like a clean run.
        exit(kExitOutOfMemory);
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
