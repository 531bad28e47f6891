// The cleaning engine: the search, and single removals through a pass of one.
#include "KlarnEngine.h"
#include "search/Said.h"
#include "system/FilterLists.h"
#include "system/Installation.h"
#include "registry/KeyNames.h"
#include "search/Keywords.h"
#include "system/Offline.h"
#include "backup/RegBackup.h"
#include "registry/RegKey.h"
#include "RemovalPass.h"
#include "search/SearchWalk.h"
#include "search/SharedFlag.h"
#include "kinds/KindsTable.h"
#include "../framework/AfxCore.h"
#include "search/ReportLines.h"
#include "../resources/resource.h"
#include <cstring>

std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH] = L"";
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::wstring();
    std::wstring folder(path, length);
    return folder.substr(0, folder.rfind(L'\\'));
}

std::wstring PathOfFile(HANDLE file)
{
    wchar_t path[32768];
    if (file == nullptr || file == INVALID_HANDLE_VALUE)
        return std::wstring();
    const DWORD length = ::GetFinalPathNameByHandleW(file, path, 32768, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= 32768)
        return std::wstring();
    std::wstring text(path, length);
    if (text.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        return L"\\\\" + text.substr(8);
    return text.compare(0, 4, L"\\\\?\\") == 0 ? text.substr(4) : text;
}

CKlarnEngine::CKlarnEngine()
    : m_kinds(LeftoverKinds())
{
}

CKlarnEngine::~CKlarnEngine() {}

void CKlarnEngine::SplitSearchTerms(const char* text, CStringArray& terms)
{
    SplitKeywordText(text, terms);
}

BOOL CKlarnEngine::UnreadableInMatch() const
{
    for (const UnreadableKey& key : m_unreadable)
        if (key.inMatch)
            return TRUE;
    return FALSE;
}

CmdListEntry* CKlarnEngine::ScanRegistry(const char* keywords, CmdListEntry* cmdList, const RootKeySlot* rootKeys,
                                         HANDLE hReport, LONG* stopFlag)
{
    CHandleLines report(hReport);
    return Search(CKeywords(keywords), cmdList, rootKeys, report, stopFlag);
}

CmdListEntry* CKlarnEngine::Search(const CKeywords& keywords, CmdListEntry* cmdList, const RootKeySlot* rootKeys,
                                   IReportLines& report, LONG* stopFlag)
{
    m_stopFlag = stopFlag;
    m_cmdList = cmdList;

    CString text;
    if (report.Handle() == INVALID_HANDLE_VALUE) {
        text.LoadString(IDS_REPORT_OPEN_FAILED);
        AfxMessageBox(text, MB_ICONERROR);
    }
    for (const CString& entry : keywords.Entries())
        m_searchTerms.Add(entry);

    text.LoadString(IDS_REPORT_KEYWORDS);
    report.WriteLine(text);
    report.WriteLine(keywords.LowerText());
    report.WriteLine("");
    report.WriteLine("");

    SearchScope scope;
    memcpy(scope.rootKeys, rootKeys, sizeof scope.rootKeys);
    scope.followReferences = m_followReferences != FALSE;
    scope.controlSet = CurrentControlSetName();
    scope.offline = OfflineActive();
    scope.noSoftware = scope.offline && !OfflineHasSoftware();
    scope.usersNotLoaded = OfflineUsersNotLoaded();
    scope.dangling = m_dangling != FALSE;
    std::vector<const ILeftoverKind*> looking;
    m_checks.clear();
    for (const ILeftoverKind* kind : m_kinds) {
        KindCheck skipped;
        skipped.state = KindCheck::Skipped;
        m_checks.push_back({ kind, skipped });
        if (kind->LooksIn(scope))
            looking.push_back(kind);
    }

    CString leadIn;
    leadIn.LoadString(IDS_OPEN_FAILED);
    CSearchWalk walk(keywords.Lower(), leadIn.GetString(), m_stopFlag, m_keysSearched);
    walk.ReadFor(std::vector<const IWalkReader*>(looking.begin(), looking.end()), scope.controlSet);
    if (m_timeKinds)
        walk.TimeReading();
    const int threads = m_searchThreads > 0 ? m_searchThreads : CSearchWalk::DefaultThreadCount();
    WalkResult result;
    for (int slot = 0; slot < kRootKeyCount; ++slot) {
        if (rootKeys[slot] == 0)
            continue;
        HKEY root = HkeyFromSlot(rootKeys[slot]);
        m_hkeyName = HkeyName(root);
        if (!scope.offline) {
            walk.WalkRoot(root, WidenAnsi(m_hkeyName), threads, result);
            continue;
        }
        // Another installation: each of its loaded hives, in its own terms.
        for (const OfflineWalkRoot& hive : OfflineWalkRoots(root)) {
            CRegKeyOwner key;
            if (OpenSubKey(hive.root, hive.loaded.c_str(), KEY_READ, key) == ERROR_SUCCESS)
                walk.WalkRoot(key, hive.shownAs, threads, result, hive.place);
        }
    }
    for (const std::string& line : result.lines)
        report.WriteLine(line.c_str());
    m_unreadable = result.unreadable;

    report.WriteLine("");
    report.WriteLine("");

    // Each kind decides in the table's order: keys by name, filter-list entries, the findings by
    // reference, the start-up value last.
    // Once stopped, nothing more is read: the walk's keys as found, and the tray program's value,
    // which is one query whatever the stop flag says.
    scope.stopped = m_stopFlag && SharedRead(m_stopFlag) != 0;
    const CInstallation installation = CurrentInstallation();
    std::vector<std::wstring> own = m_ownFiles;
    own.push_back(PathOfFile(report.Handle()));
    CSearchFacts facts(scope, keywords, result, installation, ProgramFolder(), own);
    facts.kinds = looking;
    CFindings findings(m_cmdList);
    LARGE_INTEGER frequency = {};
    ::QueryPerformanceFrequency(&frequency);
    m_kindTimes.clear();
    for (auto& check : m_checks) {
        if (!check.first->LooksIn(scope))
            continue;
        if (scope.stopped && check.first != &KeyKind() && check.first != &StartupValueKind()) {
            check.second.state = KindCheck::Skipped;
            check.second.why = L"the search was stopped";
            continue;
        }
        // What lies in a hive the installation does not have cannot be judged: the kind could not look.
        if (scope.noSoftware && check.first->NeedsSoftwareHive()) {
            check.second.state = KindCheck::Unavailable;
            check.second.why = L"the installation has no SOFTWARE hive";
            continue;
        }
        LARGE_INTEGER started = {}, ended = {};
        ::QueryPerformanceCounter(&started);
        check.second = check.first->Decide(facts, findings);
        ::QueryPerformanceCounter(&ended);
        if (m_timeKinds)
            m_kindTimes.push_back({ check.first, double(walk.ReadingTicks(check.first)) / double(frequency.QuadPart),
                                    double(ended.QuadPart - started.QuadPart) / double(frequency.QuadPart) });
    }

    for (CmdListEntry* entry = m_cmdList; entry; entry = entry->next)
        report.WriteLine(FindingReportLine(*entry).c_str());
    // What a kind saw and changes nothing about, after the findings; and what of another
    // installation lies off its disk and was left out.
    for (const auto& check : m_checks)
        for (const std::wstring& note : check.second.notes)
            report.WriteLine(ReportSpelling(Shown(note)).c_str());
    for (const std::wstring& left : OfflineLeftOut())
        report.WriteLine(ReportSpelling(Shown(left)).c_str());

    m_searchTerms.RemoveAll();
    m_hkeyName.Empty();
    return m_cmdList;
}

BOOL CKlarnEngine::RemoveEntry(char kind, HKEY root, const wchar_t* path)
{
    if (!path || !m_backup)
        return FALSE;
    const std::wstring full = FullPath(root, path);
    CmdListEntry entry = {};
    if (full.size() >= static_cast<size_t>(kPathChars))
        return FALSE;
    wcsncpy(entry.path, full.c_str(), kPathChars - 1);
    entry.kind = kind;
    Outcome outcome = Outcome::Failed;
    CRemovalPass pass(*m_backup);
    pass.CountGoneAsRemoved(false);
    pass.Run({ &entry }, [&outcome](size_t, const RemovalResult& result) { outcome = result.outcome; });
    return outcome == Outcome::Removed || outcome == Outcome::RemovedAtRestart;
}

BOOL CKlarnEngine::DeleteKeyTree(HKEY root, wchar_t* path)
{
    size_t length = wcslen(path);
    if (length > 0 && path[length - 1] == L'\\')
        path[--length] = L'\0';
    // The one way a key goes: through the removal pass, its floor and its backup.
    return RemoveEntry(kKindKey, root, path);
}

BOOL CKlarnEngine::DeleteRegValue(HKEY root, const wchar_t* keyPath, const wchar_t* valueName)
{
    return RemoveEntry(kKindValue, root, (std::wstring(keyPath) + L"\\" + valueName).c_str());
}

void CKlarnEngine::SplitPathWithValue(const wchar_t* path, std::vector<std::wstring>& parts)
{
    const wchar_t* lastBackslash = wcsrchr(path, L'\\');
    if (!lastBackslash)
        return;
    parts.emplace_back(path, static_cast<size_t>(lastBackslash - path));
    parts.emplace_back(lastBackslash + 1);
}
