// Format texts of the window.
#include "WindowTexts.h"
#include "../engine/kinds/KindsTable.h"
#include "../framework/AfxResource.h"
#include "../resources/resource.h"
#include "../engine/search/Said.h"
#include <shlwapi.h>
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
    { IDS_STATUS_RESTART_FMT, 1, "Entries going at the next restart: %d. Restart Windows to finish the removal." },
};

// A labelled line of the details: "Found because: ...".
std::wstring Labelled(UINT label, const std::wstring& text)
{
    return L"\r\n" + LoadWideText(label) + L": " + text;
}
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

std::wstring LoadWideText(UINT id)
{
    // With a length of 0, LoadStringW hands out the resource's own read-only text.
    const wchar_t* text = nullptr;
    const int length = ::LoadStringW(AfxGetResourceHandle(), id, reinterpret_cast<wchar_t*>(&text), 0);
    return length > 0 && text ? std::wstring(text, static_cast<size_t>(length)) : std::wstring();
}

std::wstring KindName(const CmdListEntry& entry)
{
    const ILeftoverKind* kind = KindOf(entry);
    const std::wstring name = kind ? LoadWideText(kind->Identity().nameId) : std::wstring();
    return name.empty() ? std::wstring(1, static_cast<wchar_t>(entry.kind)) : name;
}

std::wstring GroupHeader(const std::wstring& kindName, int count)
{
    return kindName + L" (" + std::to_wstring(count) + L")";
}

std::wstring FindingDetails(const CmdListEntry& entry, const std::wstring& shownPath, const std::wstring& advice)
{
    std::wstring details = KindName(entry) + L": " + shownPath;
    if (entry.reason[0])
        details += Labelled(IDS_COLUMN_REASON, Shown(entry.reason));
    const ILeftoverKind* kind = KindOf(entry);
    if (kind) {
        const std::wstring name = kind->ReadableName(entry);
        if (!name.empty())
            details += Labelled(IDS_DETAIL_NAME, name);
        if (kind->Identity().measured) {
            wchar_t size[64] = L"";
            ::StrFormatByteSizeW(static_cast<LONGLONG>(entry.size), size, 64);
            details += Labelled(IDS_DETAIL_SIZE, size) + L", " + LoadWideText(IDS_DETAIL_FILES) + L": " +
                       std::to_wstring(entry.fileCount);
        }
    }
    if (!advice.empty())
        details += Labelled(IDS_DETAIL_ADVICE, Shown(advice));
    return details;
}
