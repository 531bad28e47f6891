// What every kind of leftover shares: the scope of a search, its facts and the findings list.
#include "LeftoverKind.h"
#include "../Installation.h"
#include "../KeyNames.h"
#include "../Keywords.h"

bool SearchScope::Searches(HKEY root) const
{
    for (RootKeySlot slot : rootKeys)
        if (slot != 0 && HkeyFromSlot(slot) == root)
            return true;
    return false;
}

CSearchFacts::CSearchFacts(const SearchScope& scope, const CKeywords& keywords, const WalkResult& walk,
                           const CInstallation& installation, const std::wstring& programFolder)
    : scope(scope), keywords(keywords), walk(walk), installation(installation), programFolder(programFolder)
{
    for (const std::wstring& path : walk.findings)
        m_lowerNames.push_back(Lowered(path.c_str(), path.size()));
}

bool CSearchFacts::CoveredByName(const std::wstring& path) const
{
    const std::wstring lower = Lowered(path.c_str(), path.size());
    for (const std::wstring& name : m_lowerNames)
        if (lower == name || lower.compare(0, name.size() + 1, name + L"\\") == 0)
            return true;
    return false;
}

CmdListEntry* CFindings::Add(const ILeftoverKind& kind, const std::wstring& path, const std::wstring& reason,
                             const std::wstring& keyword)
{
    if (path.empty() || path.size() >= static_cast<size_t>(kPathChars))
        return nullptr;
    CmdListEntry* entry = CmdListAppend(&m_head);
    wcsncpy(entry->path, path.c_str(), kPathChars - 1);
    entry->kind = kind.Identity().letter;
    entry->owner = &kind;
    wcsncpy(entry->reason, reason.c_str(), kPathChars - 1);
    wcsncpy(entry->keyword, keyword.c_str(), kKeywordChars - 1);
    return entry;
}

std::vector<const CmdListEntry*> CFindings::Of(const ILeftoverKind& kind) const
{
    std::vector<const CmdListEntry*> found;
    for (const CmdListEntry* entry = m_head; entry; entry = entry->next)
        if (entry->owner == &kind)
            found.push_back(entry);
    return found;
}

bool ILeftoverKind::ReadsAt(KeyPlace) const
{
    return false;
}

void ILeftoverKind::ReadAt(HKEY, const std::wstring&, KeyPlace, const std::function<void(WalkNote&&)>&) const {}

void ILeftoverKind::RecordPath(const CmdListEntry& finding, std::wstring& path, std::wstring& entry) const
{
    path = finding.path;
    entry.clear();
}
