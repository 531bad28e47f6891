// The cleaning engine: keyword list and registry search (removal: Removal.cpp).
#include "KlarnEngine.h"
#include "FilterLists.h"
#include "Installation.h"
#include "KeyNames.h"
#include "RegKey.h"
#include "SearchWalk.h"
#include "SharedFlag.h"
#include "../framework/AfxCore.h"
#include "../report/ReportLog.h"
#include "../resources/resource.h"
#include <algorithm>
#include <cstring>

namespace {
// The folder this program runs from.
std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH] = L"";
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::wstring();
    std::wstring folder(path, length);
    return folder.substr(0, folder.rfind(L'\\'));
}
}

CKlarnEngine::CKlarnEngine() {}

CKlarnEngine::~CKlarnEngine() {}

void CKlarnEngine::SplitSearchTerms(const char* text, CStringArray& terms)
{
    char work[kKeywordTextChars] = "";
    strncpy(work, text, kKeywordTextChars - 1);
    work[kKeywordTextChars - 1] = '\0';
    // Where the window ends inside an entry, that entry is cut short: searching for its first
    // letters would match keys that are no leftovers. The list ends before it.
    const size_t textLength = strlen(text);
    const bool windowCutsAnEntry =
        textLength > static_cast<size_t>(kKeywordTextChars - 1) && text[kKeywordTextChars - 1] != ',';

    const char* run = work;
    for (;;) {
        const char* comma = strchr(run, ',');
        size_t length = comma ? static_cast<size_t>(comma - run) : strlen(run);
        // An empty run (end of text, leading or doubled comma) and an over-long entry end the list.
        if (length == 0 || length >= kKeywordChars - 1)
            break;
        if (!comma && windowCutsAnEntry)
            break;
        // So does an entry of spaces only: it would match every name with a space in it.
        if (strspn(run, " ") >= length)
            break;
        char entry[kKeywordChars] = "";
        memcpy(entry, run, length);
        entry[length] = '\0';
        terms.Add(CString(entry));
        if (!comma)
            break;
        run = comma + 1;
    }
}

std::vector<std::wstring> CKlarnEngine::SearchTermsOf(const char* keywords)
{
    std::vector<char> lower(keywords, keywords + strlen(keywords) + 1);
    _strlwr(lower.data());
    CStringArray terms;
    SplitSearchTerms(lower.data(), terms);
    // Names are matched as Unicode text, so the keywords are too, lowercased the same way.
    std::vector<std::wstring> lowerKeywords;
    for (int i = 0; i < terms.GetSize(); ++i) {
        std::wstring keyword = WidenAnsi(terms[i]);
        LowerInPlace(keyword);
        lowerKeywords.push_back(keyword);
    }
    return lowerKeywords;
}

std::string CKlarnEngine::ReportLine(const CmdListEntry& entry)
{
    std::wstring line = entry.path;
    if (entry.reason[0])
        line += std::wstring(L"  (") + entry.reason + L")";
    return ReportSpelling(line);
}

std::wstring CKlarnEngine::MatchingKeyword(const std::wstring& text, const std::vector<std::wstring>& lowerKeywords)
{
    const std::wstring lower = Lowered(text.c_str(), text.size());
    for (const std::wstring& keyword : lowerKeywords)
        if (lower.find(keyword) != std::wstring::npos)
            return keyword;
    return std::wstring();
}

BOOL CKlarnEngine::UnreadableInMatch() const
{
    for (const UnreadableKey& key : m_unreadable)
        if (key.inMatch)
            return TRUE;
    return FALSE;
}

CmdListEntry* CKlarnEngine::ScanRegistry(char* keywords, CmdListEntry* cmdList, const RootKeySlot* rootKeys,
                                         HANDLE hReport, LONG* stopFlag)
{
    m_stopFlag = stopFlag;
    m_cmdList = cmdList;
    m_hReport = hReport;

    CString text;
    if (hReport == INVALID_HANDLE_VALUE) {
        text.LoadString(IDS_REPORT_OPEN_FAILED);
        AfxMessageBox(text, MB_ICONERROR);
    }

    _strlwr(keywords);
    SplitSearchTerms(keywords, m_searchTerms);
    const std::vector<std::wstring> lowerKeywords = SearchTermsOf(keywords);

    text.LoadString(IDS_REPORT_KEYWORDS);
    WriteReportLine(text, m_hReport);
    WriteReportLine(keywords, m_hReport);
    WriteReportLine("", m_hReport);
    WriteReportLine("", m_hReport);

    CString leadIn;
    leadIn.LoadString(IDS_OPEN_FAILED);
    CSearchWalk walk(lowerKeywords, leadIn.GetString(), m_stopFlag, m_keysSearched);
    // A key-name search cannot see the drivers that the device filter lists name: those are
    // data. The walk of the machine reads them where it passes.
    walk.ReadFilterListsOf(CurrentControlSetName());
    if (m_followReferences)
        walk.FollowReferences();
    const int threads = m_searchThreads > 0 ? m_searchThreads : CSearchWalk::DefaultThreadCount();
    WalkResult result;
    for (int slot = 0; slot < kRootKeyCount; ++slot) {
        if (rootKeys[slot] == 0)
            continue;
        HKEY root = HkeyFromSlot(rootKeys[slot]);
        m_hkeyName = HkeyName(root);
        walk.WalkRoot(root, WidenAnsi(m_hkeyName), threads, result);
    }
    for (const std::string& line : result.lines)
        WriteReportLine(line.c_str(), m_hReport);
    m_unreadable = std::move(result.unreadable);

    WriteReportLine("", m_hReport);
    WriteReportLine("", m_hReport);

    for (const std::wstring& path : result.findings)
        RecordFinding(path.c_str(), kKindKey);
    // The filter-list entries follow the keys, then the findings by reference; the start-up
    // value stays last.
    RecordFilterEntries(result.filterLists, lowerKeywords);
    RecordReferences(result.references, lowerKeywords, result.findings);
    if (rootKeys[kMachineSlot] != 0)
        CheckTrayStartupValue();

    for (CmdListEntry* entry = m_cmdList; entry; entry = entry->next) {
        WriteReportLine(ReportLine(*entry).c_str(), m_hReport);
        NoteKeyword(*entry, lowerKeywords);
    }

    m_searchTerms.RemoveAll();
    m_hkeyName.Empty();
    return m_cmdList;
}

void CKlarnEngine::RecordFilterEntries(const std::vector<FilterList>& lists,
                                      const std::vector<std::wstring>& lowerKeywords)
{
    for (const FilterList& list : lists) {
        std::vector<std::wstring> recorded;
        for (const std::wstring& entry : list.entries) {
            // An entry named twice in one list is one finding; removal takes both.
            if (MatchingKeyword(entry, lowerKeywords).empty() ||
                std::find(recorded.begin(), recorded.end(), entry) != recorded.end())
                continue;
            recorded.push_back(entry);
            const std::wstring path = FilterEntryPath(list.key, list.valueName, entry);
            // A path that does not fit could only be recorded cut short.
            if (path.size() < static_cast<size_t>(kPathChars))
                RecordFinding(path.c_str(), kKindFilterEntry);
        }
    }
}

void CKlarnEngine::CheckTrayStartupValue()
{
    // Deliberately ignores the stop flag: the value check is one open and one query.
    for (int i = 0; i < m_searchTerms.GetSize(); ++i) {
        if (m_searchTerms[i] != kTrayKeyword)
            continue;
        CRegKeyOwner hScanKey;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKeyPath, 0, KEY_READ, hScanKey.Receive()) != ERROR_SUCCESS)
            return;
        if (::RegQueryValueExW(hScanKey, kTrayValueName, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return;
        RecordFinding(kTrayValueFinding, kKindValue);
    }
}

void CKlarnEngine::NoteKeyword(CmdListEntry& entry, const std::vector<std::wstring>& lowerKeywords)
{
    if (entry.keyword[0])
        return;
    // What matched a finding by name: a list's entry, else the last name of its path.
    std::wstring text = entry.path, key, valueName, listEntry;
    if (entry.kind == kKindFilterEntry && SplitFilterEntryPath(text, key, valueName, listEntry))
        text = listEntry;
    else if (text.rfind(L'\\') != std::wstring::npos)
        text = text.substr(text.rfind(L'\\') + 1);
    wcsncpy(entry.keyword, MatchingKeyword(text, lowerKeywords).c_str(), kKeywordChars - 1);
}

CmdListEntry* CKlarnEngine::RecordFinding(const wchar_t* path, char kind, const ReferenceFinding* reference)
{
    CmdListEntry* entry = CmdListAppend(&m_cmdList);
    wcsncpy(entry->path, path, kPathChars - 1);
    entry->path[kPathChars - 1] = L'\0';
    entry->kind = kind;
    if (reference) {
        entry->source = reference->source;
        wcsncpy(entry->reason, reference->reason.c_str(), kPathChars - 1);
        wcsncpy(entry->keyword, reference->keyword.c_str(), kKeywordChars - 1);
    }
    return entry;
}

void CKlarnEngine::RecordReferences(const std::vector<WalkReference>& references,
                                    const std::vector<std::wstring>& lowerKeywords,
                                    const std::vector<std::wstring>& byName)
{
    if (references.empty())
        return;
    std::vector<std::wstring> names;
    for (const std::wstring& path : byName)
        names.push_back(Lowered(path.c_str(), path.size()));
    const CInstallation installation = CInstallation::Live();
    const ReferenceContext context = { lowerKeywords, installation, ProgramFolder() };
    for (const ReferenceFinding& finding : FindByReference(references, context)) {
        // Not twice: a key found by its name already is listed once, and so is what lies inside it.
        const std::wstring lower = Lowered(finding.path.c_str(), finding.path.size());
        bool listed = false;
        for (const std::wstring& name : names)
            listed = listed || lower == name || lower.compare(0, name.size() + 1, name + L"\\") == 0;
        // A path or reason that does not fit could only be recorded cut short.
        if (!listed && finding.path.size() < static_cast<size_t>(kPathChars))
            RecordFinding(finding.path.c_str(), finding.kind, &finding);
    }
}
