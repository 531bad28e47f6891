// What every kind of leftover shares: the scope of a search, its facts and the findings list.
#include "LeftoverKind.h"
#include "../system/Installation.h"
#include "../registry/Hives.h"
#include "../registry/KeyNames.h"
#include "../search/Keywords.h"
#include "../registry/RegKey.h"
#include "../backup/KeyRestore.h"
#include <cstdlib>

bool SearchScope::Searches(HKEY root) const
{
    for (RootKeySlot slot : rootKeys)
        if (slot != 0 && HkeyFromSlot(slot) == root)
            return true;
    return false;
}

CSearchFacts::CSearchFacts(const SearchScope& scope, const CKeywords& keywords, const WalkResult& walk,
                           const CInstallation& installation, const std::wstring& programFolder,
                           const std::vector<std::wstring>& ownFiles)
    : scope(scope), keywords(keywords), walk(walk), installation(installation), programFolder(programFolder),
      ownFiles(ownFiles)
{
    for (const std::wstring& path : walk.findings)
        m_lowerNames.push_back(Lowered(path.c_str(), path.size()));
}

std::wstring CSearchFacts::AsWalked(const std::wstring& fullPath) const
{
    return scope.offline ? fullPath : RegistrySpelling(fullPath);
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

bool CFindings::Has(const std::wstring& path) const
{
    for (const CmdListEntry* entry = m_head; entry; entry = entry->next)
        if (_wcsicmp(entry->path, path.c_str()) == 0)
            return true;
    return false;
}

std::vector<const CmdListEntry*> CFindings::All() const
{
    std::vector<const CmdListEntry*> found;
    for (const CmdListEntry* entry = m_head; entry; entry = entry->next)
        found.push_back(entry);
    return found;
}

bool CFindings::Covers(const std::wstring& path) const
{
    for (const CmdListEntry* entry = m_head; entry; entry = entry->next)
        if (PathAtOrBelow(path, entry->path))
            return true;
    return false;
}

const std::vector<ReferenceFinding>& CSearchFacts::References() const
{
    if (!m_references) {
        const ReferenceContext context = { keywords.Lower(), installation, programFolder };
        m_references.reset(new std::vector<ReferenceFinding>(FindByReference(walk.notes, context)));
    }
    return *m_references;
}

const std::vector<InstalledProduct>& CSearchFacts::Installed() const
{
    if (!m_installed)
        m_installed.reset(new std::vector<InstalledProduct>(InstalledProducts(installation, !scope.offline)));
    return *m_installed;
}

const CFileClaims& CSearchFacts::Claims(const CFindings& findings) const
{
    if (!m_claims)
        m_claims.reset(new CFileClaims(CFileClaims::Read(installation, FileClaimersAmong(kinds),
                                                         [&findings](const std::wstring& path) { return findings.Covers(path); })));
    return *m_claims;
}

std::vector<std::pair<HKEY, std::wstring>> UserHivesOf(const SearchScope& scope, const CInstallation& installation)
{
    std::vector<std::pair<HKEY, std::wstring>> hives;
    if (scope.Searches(HKEY_USERS)) {
        for (const UserProfile& profile : installation.Profiles())
            if (KeyExists(HKEY_USERS, profile.sid))
                hives.push_back({ HKEY_USERS, profile.sid + L"\\" });
    } else if (scope.Searches(HKEY_CURRENT_USER)) {
        hives.push_back({ HKEY_CURRENT_USER, std::wstring() });
    }
    return hives;
}

std::vector<const IClaimsFiles*> FileClaimersAmong(const std::vector<const ILeftoverKind*>& kinds)
{
    std::vector<const IClaimsFiles*> claimers;
    for (const ILeftoverKind* kind : kinds)
        if (const IClaimsFiles* claimer = dynamic_cast<const IClaimsFiles*>(kind))
            claimers.push_back(claimer);
    return claimers;
}

Refinement ILeftoverKind::Refine(const CSearchFacts&, const std::wstring&) const
{
    return Refinement();
}

bool ILeftoverKind::ReadsAt(KeyPlace) const
{
    return false;
}

void ILeftoverKind::ReadAt(HKEY, const std::wstring&, KeyPlace, const std::function<void(WalkNote&&)>&) const {}

std::wstring ILeftoverKind::RestartReason(const CmdListEntry&) const
{
    return std::wstring();
}

void ILeftoverKind::NamedFiles(const CmdListEntry&, const CInstallation&, std::vector<std::wstring>&) const {}

void ILeftoverKind::Restore(const std::vector<const RestoreBlock*>& blocks, const RestoreContext&, const RestoreTold& told) const
{
    for (const RestoreBlock* block : blocks)
        RestoreKeyTrees(*block, told);
}

std::wstring ILeftoverKind::ReadableName(const CmdListEntry&) const
{
    return std::wstring();
}

void ILeftoverKind::RecordPath(const CmdListEntry& finding, std::wstring& path, std::wstring& entry) const
{
    path = finding.path;
    entry.clear();
}

std::vector<std::vector<const WalkNote*>> NotesByKey(const std::vector<WalkNote>& notes,
                                                     const std::vector<KeyPlace>& places)
{
    std::vector<std::vector<const WalkNote*>> groups;
    std::map<std::wstring, size_t> index;
    for (const WalkNote& note : notes) {
        bool wanted = false;
        for (KeyPlace place : places)
            wanted = wanted || note.place == place;
        if (!wanted)
            continue;
        const std::wstring key = Lowered(note.key.c_str(), note.key.size());
        auto found = index.find(key);
        if (found == index.end()) {
            found = index.emplace(key, groups.size()).first;
            groups.emplace_back();
        }
        groups[found->second].push_back(&note);
    }
    return groups;
}

WalkNote Note(KeyPlace place, const std::wstring& key, const std::wstring& name, const std::wstring& data)
{
    WalkNote note;
    note.place = place;
    note.key = key;
    note.name = name;
    note.data = data;
    return note;
}

std::wstring LastNameOf(const std::wstring& path)
{
    const size_t backslash = path.rfind(L'\\');
    return backslash == std::wstring::npos ? path : path.substr(backslash + 1);
}

std::wstring ParentOf(const std::wstring& path)
{
    const size_t backslash = path.rfind(L'\\');
    return backslash == std::wstring::npos ? std::wstring() : path.substr(0, backslash);
}
