// Browser entries of a security product that is gone. An installer registers its extension for
// Chrome and Edge as a key `...\Extensions\<id>` whose `path` names the product's .crx; a policy's
// ExtensionInstallForcelist makes the browser install it and keep it, saying "managed by your
// organisation"; Firefox takes a value `...\Mozilla\Firefox\Extensions` named by the extension's id
// whose data is its folder or .xpi. Each is a finding only on evidence: the .crx, folder or .xpi
// lay in the product's place and is gone, or the policy's entry forces the id of such a
// registration, or fetches from a host whose name holds a keyword while no product of the maker
// is installed. A registration the browser fetches from a store (`update_url`) names no file and
// is left alone. Never on a managed machine: there the policies, and the extensions they force,
// may well be its administrator's. The key of a registration goes with its tree; a policy's entry
// and a Firefox value go alone, the others beside them staying as they are.
#include "BrowserExtensionKind.h"
#include "LeftoverKind.h"
#include "KeyRemoval.h"
#include "../../resources/resource.h"
#include "../registry/KeyNames.h"
#include "../registry/RegKey.h"
#include "../search/Keywords.h"
#include "../search/Said.h"
#include "../system/FileClaims.h"
#include "../system/FileEvidence.h"
#include "../system/Installation.h"
#include "../system/ManagedMachine.h"
#include <algorithm>

namespace {
const KindIdentity kIdentity = { 'X', "browserExtension", 2, IDS_KIND_BROWSER_EXTENSION };

// Below a hive's software key: the browsers that take external extensions, and their lists.
const struct
{
    const wchar_t* browser;
    const wchar_t* external;   // the registrations' container
    const wchar_t* forcelist;  // the policy's list
} kBrowsers[] = {
    { L"Chrome", L"Google\\Chrome\\Extensions", L"Policies\\Google\\Chrome\\ExtensionInstallForcelist" },
    { L"Edge", L"Microsoft\\Edge\\Extensions", L"Policies\\Microsoft\\Edge\\ExtensionInstallForcelist" },
};
const wchar_t kFirefox[] = L"Mozilla\\Firefox\\Extensions";
const wchar_t kForcelistName[] = L"ExtensionInstallForcelist";
// The machine's software keys a browser reads its registrations from: its own view and the
// 32-bit one. The policies live only in the first (Windows shares SOFTWARE\Policies between them).
const wchar_t* const kMachineSoftware[] = { L"SOFTWARE\\", L"SOFTWARE\\WOW6432Node\\" };
const wchar_t kUserSoftware[] = L"Software\\";

// A hive whose browser entries are read: the machine's, or one user's.
struct Hive
{
    HKEY root = nullptr;
    std::wstring prefix;  // "S-1-5-21-...\" below HKEY_USERS, empty below HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE
    bool machine = false;
    std::vector<std::wstring> Softwares() const
    {
        if (!machine)
            return { prefix + kUserSoftware };
        return std::vector<std::wstring>(std::begin(kMachineSoftware), std::end(kMachineSoftware));
    }
    std::wstring PolicySoftware() const { return machine ? kMachineSoftware[0] : prefix + kUserSoftware; }
};

std::vector<Hive> HivesOf(const SearchScope& scope, const CInstallation& installation)
{
    std::vector<Hive> hives;
    if (scope.Searches(HKEY_LOCAL_MACHINE))
        hives.push_back({ HKEY_LOCAL_MACHINE, std::wstring(), true });
    for (const auto& user : UserHivesOf(scope, installation))
        hives.push_back({ user.first, user.second, false });
    return hives;
}

bool EndsWith(const std::wstring& text, const std::wstring& end)
{
    return text.size() >= end.size() && _wcsicmp(text.c_str() + text.size() - end.size(), end.c_str()) == 0;
}

std::wstring StringOf(DWORD type, const std::vector<BYTE>& data)
{
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return std::wstring();
    return std::wstring(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t)).c_str();
}

// The file or folder a path value names (a plain path, never a command line), as its hive's owner
// expands it, when it lay in the product's place and is gone; empty otherwise.
std::wstring GoneProductPath(const std::wstring& data, const std::wstring& owner, const CSearchFacts& facts, std::wstring& keyword)
{
    std::wstring expanded;
    if (!facts.installation.Expand(data, owner, expanded) || !MentionsKeyword(expanded, facts.keywords.Lower()))
        return std::wstring();  // nothing names the product: no look at the file system
    const FileEvidence look = Examine(expanded, true, facts.installation, facts.keywords.Lower());
    if (!look.told || look.system || look.keyword.empty() || !facts.installation.FileGone(look.normalized))
        return std::wstring();
    keyword = look.keyword;
    return look.file;
}

// A registration whose .crx of the product is gone.
struct GoneRegistration
{
    std::wstring lowerId, keyPath, keyword;
};

struct Candidate
{
    std::wstring path, reason, keyword;
};

// Whether a finding of this kind is a single value (a policy's entry, a Firefox value) rather
// than a registration's key.
bool IsValueFinding(const std::wstring& path)
{
    const std::wstring parent = ParentOf(path);
    return _wcsicmp(LastNameOf(parent).c_str(), kForcelistName) == 0 || EndsWith(parent, std::wstring(L"\\") + kFirefox);
}

// The removal of a single value, as every value kind has it; the kind hands its value findings to
// this one object.
class CSingleValue : public CValueRemoval
{
public:
    const KindIdentity& Identity() const override { return kIdentity; }
    bool LooksIn(const SearchScope&) const override { return false; }
    KindCheck Decide(const CSearchFacts&, CFindings&) const override { return KindCheck(); }
};
const CSingleValue kSingleValue;

class CBrowserExtensionKind : public CKeyRemoval, public IClaimsFiles
{
public:
    // The files a registration of the machine names: a present extension's .crx, Firefox's folders.
    void ClaimMachineFiles(CClaimReader& reader) const override
    {
        for (const wchar_t* software : kMachineSoftware) {
            for (const auto& browser : kBrowsers)
                reader.EntriesBelow(HKEY_LOCAL_MACHINE, software + std::wstring(browser.external), std::wstring());
            reader.ValuesOf(HKEY_LOCAL_MACHINE, software + std::wstring(kFirefox), std::wstring());
        }
    }
    void ClaimUserFiles(CClaimReader& reader, const std::wstring& user, const std::wstring&, const std::wstring& sid) const override
    {
        const std::wstring software = user + L"\\" + kUserSoftware;
        for (const auto& browser : kBrowsers)
            reader.EntriesBelow(HKEY_USERS, software + browser.external, sid);
        reader.ValuesOf(HKEY_USERS, software + kFirefox, sid);
    }

    const KindIdentity& Identity() const override { return kIdentity; }
    // Whether the machine is managed can be asked only of the running Windows: another
    // installation's policies may be its administrator's, and it is left alone.
    bool LooksIn(const SearchScope& scope) const override
    {
        return scope.followReferences && !scope.offline &&
               (scope.Searches(HKEY_LOCAL_MACHINE) || scope.Searches(HKEY_USERS) || scope.Searches(HKEY_CURRENT_USER));
    }

    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        KindCheck check;
        const std::vector<Hive> hives = HivesOf(facts.scope, facts.installation);
        std::vector<GoneRegistration> gone;
        std::vector<Candidate> candidates;
        for (const Hive& hive : hives)
            for (const std::wstring& software : hive.Softwares())
                for (const auto& browser : kBrowsers)
                    Registrations(facts, hive.root, software + browser.external, browser.browser, gone, candidates);
        std::vector<std::wstring> goneIds;
        for (const GoneRegistration& registration : gone)
            goneIds.push_back(registration.lowerId);
        for (const Hive& hive : hives)
            for (const auto& browser : kBrowsers)
                Forced(facts, hive.root, hive.PolicySoftware() + browser.forcelist, browser.browser, gone, goneIds, candidates,
                       check);
        for (const Hive& hive : hives)
            for (const std::wstring& software : hive.Softwares())
                Firefox(facts, hive.root, software + kFirefox, candidates);
        if (candidates.empty())
            return check;
        const std::wstring managed = ManagedBy();
        for (const Candidate& candidate : candidates)
            if (!managed.empty())
                check.notes.push_back(Said(IDS_KEPT_BROWSER_MANAGED, { candidate.path, managed }));
            else if (!findings.Has(candidate.path))
                findings.Add(*this, candidate.path, candidate.reason, candidate.keyword);
        return check;
    }

    std::unique_ptr<CPreparedRemoval> Prepare(const CmdListEntry& finding, const RemovalContext& context) const override
    {
        return IsValueFinding(finding.path) ? kSingleValue.Prepare(finding, context) : CKeyRemoval::Prepare(finding, context);
    }
    RemovalResult Remove(const CmdListEntry& finding, CPreparedRemoval& prepared, RemovalContext& context) const override
    {
        RemovalResult result = IsValueFinding(finding.path) ? kSingleValue.Remove(finding, prepared, context)
                                                            : CKeyRemoval::Remove(finding, prepared, context);
        if (result.outcome == Outcome::Removed)
            result.advice = Said(IDS_ADVICE_BROWSER_RESTART);
        return result;
    }
    bool IsGone(const CmdListEntry& finding) const override
    {
        return IsValueFinding(finding.path) ? kSingleValue.IsGone(finding) : CKeyRemoval::IsGone(finding);
    }
    void NamedFiles(const CmdListEntry& finding, const CInstallation& installation, std::vector<std::wstring>& files) const override
    {
        if (IsValueFinding(finding.path))
            kSingleValue.NamedFiles(finding, installation, files);
        else
            CKeyRemoval::NamedFiles(finding, installation, files);
    }

private:
    // The registrations below `container` whose `path` names a .crx of the product that is gone.
    // One the browser fetches from a store (it has an update_url, and the browser then never reads
    // its path) names no file that could be gone.
    void Registrations(const CSearchFacts& facts, HKEY root, const std::wstring& container, const wchar_t* browser,
                       std::vector<GoneRegistration>& gone, std::vector<Candidate>& candidates) const
    {
        CRegKeyOwner key;
        if (OpenKeyExact(root, container.c_str(), KEY_READ, key) != ERROR_SUCCESS)
            return;
        const std::wstring owner = facts.installation.OwnerOf(FullPath(root, container));
        for (const std::wstring& id : SubkeyNames(key)) {
            CRegKeyOwner registration;
            std::wstring crx, keyword, file;
            if (OpenSubKey(key, id.c_str(), KEY_QUERY_VALUE, registration) != ERROR_SUCCESS ||
                ::RegQueryValueExW(registration, L"update_url", nullptr, nullptr, nullptr, nullptr) != ERROR_FILE_NOT_FOUND ||
                !ReadStringValue(registration, L"path", crx) || !EndsWith(crx, L".crx") ||
                (file = GoneProductPath(crx, owner, facts, keyword)).empty())
                continue;
            const std::wstring keyPath = facts.AsWalked(FullPath(root, container + L"\\" + id));
            // Found by its name already, it still tells which extension is gone.
            gone.push_back({ Lowered(id), keyPath, keyword });
            if (!facts.CoveredByName(keyPath))
                candidates.push_back({ keyPath, Said(IDS_WHY_EXTENSION_GONE, { browser, id, file }), keyword });
        }
    }

    // The entries of a policy's force-install list that install such an extension, or one from the
    // product's host.
    void Forced(const CSearchFacts& facts, HKEY root, const std::wstring& list, const wchar_t* browser,
                const std::vector<GoneRegistration>& gone, const std::vector<std::wstring>& goneIds,
                std::vector<Candidate>& candidates, KindCheck& check) const
    {
        CRegKeyOwner key;
        if (OpenKeyExact(root, list.c_str(), KEY_QUERY_VALUE, key) != ERROR_SUCCESS)
            return;
        const std::wstring listPath = facts.AsWalked(FullPath(root, list));
        ForEachValue(key, [&](const std::wstring& name, DWORD type, const std::vector<BYTE>& data) {
            ForcedExtension entry;
            // A value name holding a backslash cannot be told from a path of another key.
            if (name.find(L'\\') != std::wstring::npos || !SplitForcelistEntry(StringOf(type, data), entry))
                return;
            const std::wstring path = listPath + L"\\" + name;
            if (facts.CoveredByName(path))
                return;
            std::wstring keyword, keptBy;
            switch (JudgeForcedExtension(entry, goneIds, facts.keywords, InstalledNames(facts, entry), keyword, keptBy)) {
            case ForcedVerdict::GoneExtension:
                for (const GoneRegistration& registration : gone)
                    if (registration.lowerId == Lowered(entry.id)) {
                        candidates.push_back({ path, Said(IDS_WHY_FORCED_GONE, { browser, entry.id, registration.keyPath }),
                                               registration.keyword });
                        break;
                    }
                break;
            case ForcedVerdict::ProductsHost:
                candidates.push_back({ path, Said(IDS_WHY_FORCED_HOST, { browser, entry.id, entry.host }), keyword });
                break;
            case ForcedVerdict::MakerInstalled:
                check.notes.push_back(Said(IDS_KEPT_FORCED_INSTALLED, { path, entry.id, entry.host, keptBy }));
                break;
            case ForcedVerdict::NotTheProducts:
                break;
            }
        });
    }

    // The installed products' names, asked only for an entry whose host may be the product's.
    static std::vector<std::wstring> InstalledNames(const CSearchFacts& facts, const ForcedExtension& entry)
    {
        std::vector<std::wstring> names;
        if (IsBrowserStoreHost(entry.host) || facts.keywords.Matching(entry.host).empty())
            return names;
        for (const InstalledProduct& product : facts.Installed())
            names.push_back(product.displayName);
        return names;
    }

    // Firefox's values whose folder or .xpi lay in the product's place and is gone.
    void Firefox(const CSearchFacts& facts, HKEY root, const std::wstring& below, std::vector<Candidate>& candidates) const
    {
        CRegKeyOwner key;
        if (OpenKeyExact(root, below.c_str(), KEY_QUERY_VALUE, key) != ERROR_SUCCESS)
            return;
        const std::wstring keyPath = facts.AsWalked(FullPath(root, below));
        const std::wstring owner = facts.installation.OwnerOf(FullPath(root, below));
        ForEachValue(key, [&](const std::wstring& name, DWORD type, const std::vector<BYTE>& data) {
            std::wstring keyword, file;
            const std::wstring path = keyPath + L"\\" + name;
            if (name.empty() || name.find(L'\\') != std::wstring::npos || facts.CoveredByName(path) ||
                (file = GoneProductPath(StringOf(type, data), owner, facts, keyword)).empty())
                return;
            candidates.push_back({ path, Said(IDS_WHY_FIREFOX_GONE, { name, file }), keyword });
        });
    }
};
}

bool SplitForcelistEntry(const std::wstring& data, ForcedExtension& entry)
{
    entry = ForcedExtension();
    const size_t separator = data.find(L';');
    auto trimmed = [](const std::wstring& text) {
        const size_t first = text.find_first_not_of(L" \t");
        return first == std::wstring::npos ? std::wstring() : text.substr(first, text.find_last_not_of(L" \t") - first + 1);
    };
    entry.id = trimmed(data.substr(0, separator));
    if (entry.id.empty())
        return false;
    if (separator == std::wstring::npos)
        return true;
    entry.url = trimmed(data.substr(separator + 1));
    // scheme://[user@]host[:port][/path]: only an address with a scheme names a host.
    const size_t scheme = entry.url.find(L"://");
    if (scheme == std::wstring::npos || scheme == 0)
        return true;
    std::wstring authority = entry.url.substr(scheme + 3);
    authority = authority.substr(0, authority.find_first_of(L"/?#"));
    const size_t user = authority.rfind(L'@');
    if (user != std::wstring::npos)
        authority = authority.substr(user + 1);
    entry.host = Lowered(authority.substr(0, authority.find(L':')));
    return true;
}

bool IsBrowserStoreHost(const std::wstring& host)
{
    const std::wstring lower = Lowered(host);
    for (const wchar_t* store : { L"google.com", L"microsoft.com" })
        if (lower == store || EndsWith(lower, std::wstring(L".") + store))
            return true;
    return false;
}

ForcedVerdict JudgeForcedExtension(const ForcedExtension& entry, const std::vector<std::wstring>& goneIds,
                                   const CKeywords& keywords, const std::vector<std::wstring>& installedNames,
                                   std::wstring& keyword, std::wstring& keptBy)
{
    keyword.clear();
    keptBy.clear();
    // The registration's .crx is evidence of its own that this extension is the gone product's.
    if (std::find(goneIds.begin(), goneIds.end(), Lowered(entry.id)) != goneIds.end())
        return ForcedVerdict::GoneExtension;
    if (entry.host.empty() || IsBrowserStoreHost(entry.host) || (keyword = keywords.Matching(entry.host)).empty())
        return ForcedVerdict::NotTheProducts;
    // A host is no file that could be gone: a product of the maker still installed may fetch its
    // own extension from there, and keeps the entry.
    keptBy = NameHoldingKeyword(installedNames, keyword);
    return keptBy.empty() ? ForcedVerdict::ProductsHost : ForcedVerdict::MakerInstalled;
}

const ILeftoverKind& BrowserExtensionKind()
{
    static const CBrowserExtensionKind kind;
    return kind;
}
