// Two kinds of entry in the lists Windows reads at every start. Session Manager's BootExecute and
// SetupExecute entries (other than Windows' own boot check) whose native program is gone or holds
// a keyword: Windows says "program not found" at every boot. The Local Security Authority's
// packages whose library is gone and that are none of Windows' own: a missing notification
// package makes password changes fail. Each is removed entry by entry, the others keeping their
// order; the whole list as it was goes into the pass's backup once, and a restore puts back only
// the entry, in its old place.
#include "SystemListKinds.h"
#include "LeftoverKind.h"
#include "KeyRemoval.h"
#include "../../resources/resource.h"
#include "../backup/KeyRestore.h"
#include "../backup/RegBackup.h"
#include "../registry/KeyNames.h"
#include "../registry/KeyTrees.h"
#include "../registry/RegFile.h"
#include "../registry/RegKey.h"
#include "../search/Keywords.h"
#include "../search/Said.h"
#include "../system/FilterLists.h"
#include "../system/Installation.h"
#include <algorithm>
#include <cwctype>

namespace {
const wchar_t kSeparator[] = L": ";

struct ListPlace
{
    const wchar_t* key;    // below the control set
    const wchar_t* value;
};
const ListPlace kBootLists[] = {
    { L"\\Control\\Session Manager", L"BootExecute" },
    { L"\\Control\\Session Manager", L"SetupExecute" },
};
const ListPlace kLsaLists[] = {
    { L"\\Control\\Lsa", L"Authentication Packages" },
    { L"\\Control\\Lsa", L"Notification Packages" },
    { L"\\Control\\Lsa", L"Security Packages" },
    { L"\\Control\\Lsa\\OSConfig", L"Security Packages" },
};
// The packages Windows brings (names without ".dll").
const wchar_t* const kWindowsPackages[] = {
    L"msv1_0", L"kerberos", L"schannel", L"wdigest", L"tspkg", L"pku2u", L"cloudap", L"negoexts", L"negotiate",
    L"livessp", L"credssp", L"msoidssp", L"scecli", L"rassfm", L"kdcsvc", L"ntdsa", L"msapsspc", L"msnsspc",
};

std::wstring Trimmed(const std::wstring& text)
{
    const size_t first = text.find_first_not_of(L" \t");
    return first == std::wstring::npos ? std::wstring() : text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

struct PreparedEntry : CPreparedRemoval
{
    std::wstring key, value, entry;  // the list's key below HKEY_LOCAL_MACHINE, its value, the entry
    std::wstring id, text;           // the list's full path, and the list as it was before the pass
    size_t index = 0;
};

// A finding's path, "<key>\<value>: <entry>", split by the value names the kind reads.
bool SplitEntryPath(const std::wstring& path, const ListPlace* places, size_t count, std::wstring& key, std::wstring& value,
                    std::wstring& entry)
{
    size_t best = std::wstring::npos;
    for (size_t i = 0; i < count; ++i) {
        const size_t at = path.find(std::wstring(L"\\") + places[i].value + kSeparator);
        if (at != std::wstring::npos && at < best) {
            best = at;
            value = places[i].value;
        }
    }
    if (best == std::wstring::npos)
        return false;
    key = path.substr(0, best);
    entry = path.substr(best + 1 + value.size() + wcslen(kSeparator));
    return true;
}

class CSystemListKind : public ILeftoverKind
{
public:
    CSystemListKind(const KindIdentity& identity, const ListPlace* places, size_t count)
        : m_identity(identity), m_places(places), m_count(count)
    {
    }
    const KindIdentity& Identity() const override { return m_identity; }
    // What it decides on lies in the SYSTEM hive of the running Windows.
    bool NeedsSoftwareHive() const override { return false; }
    bool LooksIn(const SearchScope& scope) const override
    {
        return scope.followReferences && scope.Searches(HKEY_LOCAL_MACHINE) && !scope.offline;
    }

    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        const std::wstring controlSet = RunningControlSetPath();
        for (size_t i = 0; i < m_count; ++i) {
            CRegKeyOwner key;
            DWORD type = 0;
            std::vector<BYTE> data;
            if (OpenKeyExact(HKEY_LOCAL_MACHINE, (controlSet + m_places[i].key).c_str(), KEY_QUERY_VALUE, key) != ERROR_SUCCESS ||
                ReadValueBytes(key, m_places[i].value, type, data) != ERROR_SUCCESS || !IsListType(type))
                continue;
            const std::wstring keyPath = facts.AsWalked(FullPath(HKEY_LOCAL_MACHINE, controlSet + m_places[i].key));
            std::vector<std::wstring> listed;
            for (const std::wstring& entry : SplitMultiString(data)) {
                std::wstring keyword;
                const std::wstring reason = Evidence(facts, m_places[i].value, entry, keyword);
                if (reason.empty() || std::find(listed.begin(), listed.end(), entry) != listed.end())
                    continue;
                listed.push_back(entry);  // named twice, one finding: removal takes both
                findings.Add(*this, keyPath + L"\\" + m_places[i].value + kSeparator + entry, reason, keyword);
            }
        }
        return KindCheck();
    }

    std::unique_ptr<CPreparedRemoval> Prepare(const CmdListEntry& finding, const RemovalContext&) const override
    {
        std::unique_ptr<PreparedEntry> prepared(new PreparedEntry);
        std::wstring fullKey;
        if (!SplitEntryPath(finding.path, m_places, m_count, fullKey, prepared->value, prepared->entry) ||
            SplitFullPath(fullKey, prepared->key) != HKEY_LOCAL_MACHINE)
            return nullptr;
        CRegKeyOwner key;
        DWORD type = 0;
        std::vector<BYTE> data;
        if (OpenKeyExact(HKEY_LOCAL_MACHINE, prepared->key.c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE, key) != ERROR_SUCCESS ||
            ReadValueBytes(key, prepared->value.c_str(), type, data) != ERROR_SUCCESS || !IsListType(type) ||
            !ValueSection(fullKey, prepared->value, type, data, prepared->text))
            return nullptr;
        prepared->id = fullKey + L"\\" + prepared->value;
        const std::vector<std::wstring> entries = SplitMultiString(data);
        prepared->index = static_cast<size_t>(std::find(entries.begin(), entries.end(), prepared->entry) - entries.begin());
        return std::unique_ptr<CPreparedRemoval>(prepared.release());
    }

    RemovalResult Remove(const CmdListEntry&, CPreparedRemoval& prepared, RemovalContext& context) const override
    {
        PreparedEntry& entry = static_cast<PreparedEntry&>(prepared);
        // The list as it is now: an entry of it this pass removed before is gone already.
        CRegKeyOwner key;
        DWORD type = 0;
        std::vector<BYTE> data;
        if (OpenKeyExact(HKEY_LOCAL_MACHINE, entry.key.c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE, key) != ERROR_SUCCESS ||
            ReadValueBytes(key, entry.value.c_str(), type, data) != ERROR_SUCCESS || !IsListType(type))
            return Failed();
        const std::vector<std::wstring> entries = SplitMultiString(data);
        if (std::find(entries.begin(), entries.end(), entry.entry) == entries.end())
            return Failed();
        std::wstring note;
        if (!context.backup.AppendOnce(entry.id, entry.text) || !AppendRemovedEntryNote(note, entry.entry, entry.index, entry.id) ||
            !context.backup.Append(note))
            return Failed();
        // A list left empty stays as an empty list: Windows reads the value's absence as its own default.
        BOOL left = FALSE;
        std::vector<BYTE> shortened = WithoutEntry(data, type, entry.entry, left);
        if (!left)
            shortened.assign(2 * sizeof(wchar_t), 0);
        if (::RegSetValueExW(key, entry.value.c_str(), 0, left ? type : REG_MULTI_SZ, shortened.data(),
                             static_cast<DWORD>(shortened.size())) != ERROR_SUCCESS)
            return Failed();
        return Done();
    }

    bool IsGone(const CmdListEntry& finding) const override
    {
        std::wstring fullKey, below, value, entry;
        if (!SplitEntryPath(finding.path, m_places, m_count, fullKey, value, entry))
            return false;
        SplitFullPath(fullKey, below);
        CRegKeyOwner key;
        LONG result = OpenKeyExact(HKEY_LOCAL_MACHINE, below.c_str(), KEY_QUERY_VALUE, key);
        if (result != ERROR_SUCCESS)
            return result == ERROR_FILE_NOT_FOUND;
        DWORD type = 0;
        std::vector<BYTE> data;
        result = ReadValueBytes(key, value.c_str(), type, data);
        if (result != ERROR_SUCCESS)
            return result == ERROR_FILE_NOT_FOUND;
        const std::vector<std::wstring> entries = SplitMultiString(data);
        return std::find(entries.begin(), entries.end(), entry) == entries.end();
    }

    // Only the entries removed go back, each in its old place, the list keeping what it holds now.
    void Restore(const std::vector<const RestoreBlock*>& blocks, const RestoreContext&, const RestoreTold& told) const override
    {
        for (const RestoreEntryNote& note : EntryNotesInOrder(blocks)) {
            RestoredItem item = RestoredItemOf(Identity().recordName, note.listPath);
            item.entry = note.entry;
            const std::wstring keyPath = ParentOf(note.listPath), valueName = LastNameOf(note.listPath);
            std::wstring below;
            CRegKeyOwner key;
            DWORD type = REG_NONE;
            std::vector<BYTE> data;
            if (SplitFullPath(keyPath, below) != HKEY_LOCAL_MACHINE || CreateKeyExact(keyPath, key) != ERROR_SUCCESS) {
                item.outcome = Outcome::Failed;
                item.why = L"the list's key could not be opened";
                told(item);
                continue;
            }
            const LONG read = ReadValueBytes(key, valueName.c_str(), type, data);
            const bool there = read == ERROR_SUCCESS;
            if ((!there && read != ERROR_FILE_NOT_FOUND) || (there && !IsListType(type))) {
                item.outcome = Outcome::Failed;
                item.why = there ? L"the value is no list now" : L"the list could not be read";
                told(item);
                continue;
            }
            const std::vector<std::wstring> entries = there ? SplitMultiString(data) : std::vector<std::wstring>();
            if (std::find(entries.begin(), entries.end(), note.entry) == entries.end()) {
                RegValue value;
                value.name = valueName;
                value.type = REG_MULTI_SZ;
                value.data = WithEntryAt(there ? data : std::vector<BYTE>(), note.entry, note.index);
                if (!SetAndCheck(key, value)) {
                    item.outcome = Outcome::Failed;
                    item.why = L"the list could not be written";
                }
            }
            told(item);
        }
    }

    void RecordPath(const CmdListEntry& finding, std::wstring& path, std::wstring& entry) const override
    {
        std::wstring key, value;
        path = finding.path;
        entry.clear();
        if (SplitEntryPath(finding.path, m_places, m_count, key, value, entry))
            path = key + L"\\" + value;
    }

protected:
    // Why `entry` of the list `value` is a finding; empty when it is none.
    virtual std::wstring Evidence(const CSearchFacts& facts, const std::wstring& value, const std::wstring& entry,
                                  std::wstring& keyword) const = 0;
    virtual RemovalResult Done() const = 0;

private:
    const KindIdentity m_identity;
    const ListPlace* m_places;
    size_t m_count;
};

bool Gone(const std::wstring& file, const CInstallation& installation)
{
    const std::wstring normalized = file.empty() ? std::wstring() : installation.Normalized(file);
    return !normalized.empty() && installation.FileGone(normalized);
}

class CBootExecuteKind : public CSystemListKind
{
public:
    CBootExecuteKind()
        : CSystemListKind({ 'B', "bootExecuteEntry", 0, IDS_KIND_BOOT_EXECUTE_ENTRY }, kBootLists, sizeof kBootLists / sizeof *kBootLists)
    {
    }

protected:
    std::wstring Evidence(const CSearchFacts& facts, const std::wstring& value, const std::wstring& entry,
                          std::wstring& keyword) const override
    {
        if (IsWindowsBootEntry(entry))
            return std::wstring();
        const std::wstring program = BootProgramOf(entry);
        keyword = facts.keywords.Matching(entry);
        if (Gone(ListEntryFile(program, facts.installation.WindowsFolder(), L".exe"), facts.installation))
            return Said(IDS_WHY_BOOT_GONE, { value, program });
        return keyword.empty() ? std::wstring() : Said(IDS_WHY_BOOT_KEYWORD, { value, program });
    }
    RemovalResult Done() const override
    {
        RemovalResult result = Removed();
        result.advice = Said(IDS_ADVICE_BOOT_RESTART);
        return result;
    }
};

class CLsaPackageKind : public CSystemListKind
{
public:
    CLsaPackageKind()
        : CSystemListKind({ 'L', "lsaPackage", 0, IDS_KIND_LSA_PACKAGE }, kLsaLists, sizeof kLsaLists / sizeof *kLsaLists)
    {
    }

protected:
    std::wstring Evidence(const CSearchFacts& facts, const std::wstring& value, const std::wstring& entry,
                          std::wstring& keyword) const override
    {
        const std::wstring name = Trimmed(entry);
        if (name.empty() || name == L"\"\"" || IsWindowsLsaPackage(name))
            return std::wstring();
        const std::wstring file = ListEntryFile(name, facts.installation.WindowsFolder(), L".dll");
        if (!Gone(file, facts.installation))
            return std::wstring();
        keyword = facts.keywords.Matching(entry);
        return Said(IDS_WHY_LSA_GONE, { value, name, file });
    }
    // The Local Security Authority holds its packages until the restart.
    RemovalResult Done() const override
    {
        RemovalResult result;
        result.outcome = Outcome::RemovedAtRestart;
        result.advice = Said(IDS_ADVICE_LSA_RESTART);
        return result;
    }
};
}

bool IsWindowsBootEntry(const std::wstring& entry)
{
    std::wstring words;
    for (size_t at = 0; at < entry.size();) {
        const size_t start = entry.find_first_not_of(L" \t", at);
        if (start == std::wstring::npos)
            break;
        const size_t end = entry.find_first_of(L" \t", start);
        words += (words.empty() ? L"" : L" ") + entry.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        at = end == std::wstring::npos ? entry.size() : end;
    }
    return _wcsicmp(words.c_str(), L"autocheck autochk *") == 0;
}

std::wstring BootProgramOf(const std::wstring& entry)
{
    std::vector<std::wstring> words;
    for (size_t at = 0; at < entry.size() && words.size() < 2;) {
        const size_t start = entry.find_first_not_of(L" \t", at);
        if (start == std::wstring::npos)
            break;
        const size_t end = entry.find_first_of(L" \t", start);
        words.push_back(entry.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        at = end == std::wstring::npos ? entry.size() : end;
    }
    if (words.empty())
        return std::wstring();
    return _wcsicmp(words[0].c_str(), L"autocheck") == 0 && words.size() > 1 ? words[1] : words[0];
}

bool IsWindowsLsaPackage(const std::wstring& entry)
{
    std::wstring name = Trimmed(entry);
    if (name.size() > 4 && _wcsicmp(name.c_str() + name.size() - 4, L".dll") == 0)
        name.resize(name.size() - 4);
    for (const wchar_t* own : kWindowsPackages)
        if (_wcsicmp(own, name.c_str()) == 0)
            return true;
    return false;
}

std::wstring ListEntryFile(const std::wstring& name, const std::wstring& windowsFolder, const wchar_t* extension)
{
    // The kernel's prefix for a path ("\\??\\C:\\...") is no wildcard.
    const size_t start = name.compare(0, 4, L"\\??\\") == 0 ? 4 : 0;
    if (name.empty() || name.find_first_of(L"*?\"<>|", start) != std::wstring::npos)
        return std::wstring();
    std::wstring file = name.find(L'\\') == std::wstring::npos ? windowsFolder + L"\\System32\\" + name : name;
    const size_t last = file.find_last_of(L"\\.");
    if (last == std::wstring::npos || file[last] != L'.')
        file += extension;
    return file;
}

const ILeftoverKind& BootExecuteKind()
{
    static const CBootExecuteKind kind;
    return kind;
}

const ILeftoverKind& LsaPackageKind()
{
    static const CLsaPackageKind kind;
    return kind;
}
