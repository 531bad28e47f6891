// Format texts of the window.
#include "WindowTexts.h"
#include "../resources/resource.h"
#include <cstring>

namespace {
const struct
{
    UINT id;
    int integers;
    const char* english;
} kFormats[] = {
    { IDS_FOUND_FMT, 1, "Search complete. Entries found: %d" },
    { IDS_FOUND_NONE, 0, "Search complete. No entries were found." },
    { IDS_REPORT_COUNT_FMT, 1, "Entries found: %d" },
    { IDS_STATUS_PROGRESS_FMT, 1, "Searching the registry... %d keys searched" },
};
}

BOOL FormatTakes(const char* format, int integers)
{
    int found = 0;
    for (const char* p = strchr(format, '%'); p; p = strchr(p, '%')) {
        ++p;
        if (*p == '%') {
            ++p;
            continue;
        }
        p += strspn(p, "-+ #0");
        p += strspn(p, "0123456789");
        if (!*p || !strchr("diu", *p))
            return FALSE;
        ++found;
        ++p;
    }
    return found == integers;
}

CString LoadFormatText(UINT id)
{
    for (const auto& format : kFormats) {
        if (format.id != id)
            continue;
        CString text;
        text.LoadString(id);
        return FormatTakes(text, format.integers) ? text : CString(format.english);
    }
    CString text;
    text.LoadString(id);
    return text;
}
