// Windows Installer's own registration of a product that is gone. Its name must hold a keyword,
// Windows Installer must still say it is installed, its cached package (LocalPackage) must be gone
// and not one of its components' key paths may be there. Windows Installer is asked to remove it
// first (it finds the package again where its source list still reaches one); only where it cannot
// do without the package do the registration's keys go by hand, each backed up and named in the
// report. Only the machine's registration of the running installation: Windows Installer answers
// for nothing else, and a product installed for one user is not a security product's way.
#include "InstallerProductKind.h"
#include "KeyRemoval.h"
#include "../../resources/resource.h"
#include "../backup/RegBackup.h"
#include "../registry/Hives.h"
#include "../registry/KeyTrees.h"
#include "../registry/RegKey.h"
#include "../registry/RootKeys.h"
#include "../search/Keywords.h"
#include "../search/Said.h"
#include "../system/AdminOnly.h"
#include "../system/Installation.h"
#include "../system/WindowsInstaller.h"
#include <msi.h>

namespace {
const wchar_t kProducts[] = L"SOFTWARE\\Classes\\Installer\\Products";
const wchar_t kFeatures[] = L"SOFTWARE\\Classes\\Installer\\Features";
const wchar_t kUpgradeCodes[] = L"SOFTWARE\\Classes\\Installer\\UpgradeCodes";
const wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The product a finding names: the last name of its path below Installer\Products.
std::wstring PackedOf(const CmdListEntry& finding)
{
    return LastNameOf(finding.path);
}

// Whether what a component's key path names is there (a key path that cannot be told counts
// as there: the product is not shown to be gone). A key that is a finding of this search, or lies
// in one, goes with it and counts as gone.
bool ComponentThere(const std::wstring& path, const CSearchFacts& facts, const CFindings& findings)
{
    const CInstallation& installation = facts.installation;
    HKEY root = nullptr;
    std::wstring below;
    switch (SplitComponentPath(path, root, below)) {
    case ComponentPathKind::Nothing:
        return false;
    case ComponentPathKind::Registry: {
        CRegKeyOwner key;
        if (!root)
            return true;
        if (root == HKEY_CLASSES_ROOT) {
            root = HKEY_LOCAL_MACHINE;
            below = L"SOFTWARE\\Classes" + (below.empty() ? std::wstring() : L"\\" + below);
        }
        if (findings.Covers(facts.AsWalked(FullPath(root, below))))
            return false;
        return OpenKeyExact(root, below.c_str(), KEY_READ, key) != ERROR_FILE_NOT_FOUND;
    }
    case ComponentPathKind::File:
        break;
    }
    std::wstring expanded;
    if (!installation.Expand(path, std::wstring(), expanded))
        return true;
    const std::wstring normalized = installation.Normalized(expanded);
    return normalized.empty() || !installation.FileGone(normalized);
}

// One value of the registration, read for its backup.
struct HeldValue
{
    CRegKeyOwner key;
    std::wstring keyPath, name, text;
};

struct PreparedRegistration : CPreparedRemoval
{
    std::wstring code, packed;
    std::vector<std::pair<std::wstring, KeyTree>> trees;  // below HKEY_LOCAL_MACHINE, and the tree read
    std::vector<HeldValue> values;
};

class CInstallerProductKind : public ILeftoverKind
{
public:
    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { 'M', "installerProduct", 1, IDS_KIND_INSTALLER_PRODUCT };
        return identity;
    }
    bool LooksIn(const SearchScope& scope) const override
    {
        return scope.followReferences && scope.Searches(HKEY_LOCAL_MACHINE) && !scope.offline;
    }

    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        KindCheck check;
        struct Candidate
        {
            std::wstring packed, code, name, package, keyword;
        };
        std::vector<Candidate> candidates;
        CRegKeyOwner products;
        if (OpenKeyExact(HKEY_LOCAL_MACHINE, kProducts, KEY_READ, products) != ERROR_SUCCESS)
            return check;
        // The name first: only a product named like the product searched for is asked about.
        for (const std::wstring& packed : SubkeyNames(products)) {
            CRegKeyOwner product;
            Candidate candidate;
            candidate.packed = packed;
            candidate.code = UnpackedCode(packed);
            if (candidate.code.empty() || OpenSubKey(products, packed.c_str(), KEY_QUERY_VALUE, product) != ERROR_SUCCESS ||
                !ReadStringValue(product, L"ProductName", candidate.name) ||
                (candidate.keyword = facts.keywords.Matching(candidate.name)).empty())
                continue;
            const bool installed = ::MsiQueryProductStateW(candidate.code.c_str()) == INSTALLSTATE_DEFAULT;
            candidate.package = LocalPackageOf(candidate.code);
            const bool packageGone = candidate.package.empty() || PackageGone(candidate.package, facts.installation);
            const InstallerVerdict verdict = JudgeInstallerProduct(true, installed, packageGone, false);
            if (verdict == InstallerVerdict::PackageThere)
                check.notes.push_back(Said(IDS_KEPT_MSI_PACKAGE, { candidate.name, candidate.code, candidate.package }));
            else if (verdict == InstallerVerdict::Finding)
                candidates.push_back(candidate);
        }
        std::vector<std::wstring> packedCandidates;
        for (const Candidate& candidate : candidates)
            packedCandidates.push_back(candidate.packed);
        const std::map<std::wstring, std::vector<InstallerComponent>> components = InstallerComponentsOf(packedCandidates);
        for (const Candidate& candidate : candidates) {
            std::wstring there;
            const auto held = components.find(candidate.packed);
            if (held != components.end())
                for (const InstallerComponent& component : held->second)
                    if (there.empty() && ComponentThere(component.path, facts, findings))
                        there = component.path;
            if (!there.empty()) {
                check.notes.push_back(Said(IDS_KEPT_MSI_FILES, { candidate.name, candidate.code, there }));
                continue;
            }
            const std::wstring path = facts.AsWalked(FullPath(HKEY_LOCAL_MACHINE, std::wstring(kProducts) + L"\\" + candidate.packed));
            if (facts.CoveredByName(path))
                continue;
            const size_t count = held == components.end() ? 0 : held->second.size();
            findings.Add(*this, path,
                         Said(IDS_WHY_MSI_ORPHAN, { candidate.name, candidate.code,
                                                    candidate.package.empty() ? std::wstring(L"-") : candidate.package,
                                                    std::to_wstring(count) }),
                         candidate.keyword);
        }
        return check;
    }

    std::unique_ptr<CPreparedRemoval> Prepare(const CmdListEntry& finding, const RemovalContext&) const override
    {
        std::unique_ptr<PreparedRegistration> prepared(new PreparedRegistration);
        const std::wstring packed = PackedOf(finding);
        prepared->code = UnpackedCode(packed);
        prepared->packed = packed;
        std::wstring below;
        if (prepared->code.empty() || SplitFullPath(finding.path, below) != HKEY_LOCAL_MACHINE ||
            _wcsicmp(below.c_str(), (std::wstring(kProducts) + L"\\" + packed).c_str()) != 0)
            return nullptr;
        // The keys that are the product's alone: each whole, the product's key first.
        for (const std::wstring& tree : { below, std::wstring(kFeatures) + L"\\" + packed,
                                          std::wstring(kInstallerMachineData) + L"\\Products\\" + packed,
                                          std::wstring(kUninstall) + L"\\" + prepared->code }) {
            if (!KeyExists(HKEY_LOCAL_MACHINE, tree))
                continue;
            prepared->trees.emplace_back(tree, KeyTree());
            if (!ReadKeyTree(HKEY_LOCAL_MACHINE, tree, prepared->trees.back().second))
                return nullptr;
        }
        // Its values in keys it shares with other products: its components, its upgrade code.
        std::vector<std::wstring> shared;
        const std::map<std::wstring, std::vector<InstallerComponent>> components = InstallerComponentsOf({ packed });
        if (components.count(packed))
            for (const InstallerComponent& component : components.at(packed))
                shared.push_back(component.key);
        CRegKeyOwner upgrades;
        if (OpenKeyExact(HKEY_LOCAL_MACHINE, kUpgradeCodes, KEY_READ, upgrades) == ERROR_SUCCESS)
            for (const std::wstring& name : SubkeyNames(upgrades)) {
                CRegKeyOwner upgrade;
                if (OpenSubKey(upgrades, name.c_str(), KEY_QUERY_VALUE, upgrade) == ERROR_SUCCESS &&
                    ::RegQueryValueExW(upgrade, packed.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
                    shared.push_back(std::wstring(kUpgradeCodes) + L"\\" + name);
            }
        for (const std::wstring& keyPath : shared) {
            prepared->values.emplace_back();
            HeldValue& value = prepared->values.back();
            value.keyPath = keyPath;
            value.name = packed;
            DWORD type = 0;
            std::vector<BYTE> data;
            if (OpenKeyExact(HKEY_LOCAL_MACHINE, keyPath.c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE | DELETE | KEY_ENUMERATE_SUB_KEYS,
                             value.key) != ERROR_SUCCESS ||
                ReadValueBytes(value.key, packed.c_str(), type, data) != ERROR_SUCCESS ||
                !ValueSection(FullPath(HKEY_LOCAL_MACHINE, keyPath), packed, type, data, value.text))
                return nullptr;
        }
        return std::unique_ptr<CPreparedRemoval>(prepared.release());
    }

    RemovalResult Remove(const CmdListEntry&, CPreparedRemoval& prepared, RemovalContext& context) const override
    {
        PreparedRegistration& registration = static_cast<PreparedRegistration&>(prepared);
        std::wstring text;
        for (const auto& tree : registration.trees)
            text += tree.second.text;
        for (const HeldValue& value : registration.values)
            text += value.text;
        if (!context.backup.Append(text))
            return Failed();
        // Windows Installer first: where its source list still reaches the package, it removes the
        // product as its package says, with whatever else it registered. It runs that package with
        // the system's rights: a source somebody else may change (a user's downloads, a share, a
        // web address) is never given to it, and the registration goes by hand instead.
        const std::wstring untrusted = UntrustedSource(registration.packed);
        UINT configured = ERROR_INSTALL_SOURCE_ABSENT;
        if (untrusted.empty()) {
            ::MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
            configured = ::MsiConfigureProductExW(registration.code.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT,
                                                  L"REMOVE=ALL REBOOT=ReallySuppress");
        }
        const bool known = ::MsiQueryProductStateW(registration.code.c_str()) != INSTALLSTATE_UNKNOWN;
        RemovalResult result;
        if (configured == ERROR_SUCCESS || configured == ERROR_SUCCESS_REBOOT_REQUIRED ||
            configured == ERROR_SUCCESS_REBOOT_INITIATED) {
            if (known)
                return FailedBecause(L"Windows Installer says it removed the product, but still knows it");
            result = Removed();
            if (configured != ERROR_SUCCESS)
                result.outcome = Outcome::RemovedAtRestart;
            result.advice = Said(IDS_ADVICE_MSI_REMOVED);
            return result;
        }
        if (!WithoutPackage(configured))
            return FailedBecause(L"Windows Installer could not remove the product (error " + std::to_wstring(configured) + L")");
        // By hand: the product's own keys, then its values in the keys it shares.
        std::wstring named;
        for (auto& tree : registration.trees) {
            if (!DeleteKeyTreeKeys(tree.second))
                return FailedBecause(L"a key of the registration could not be deleted: " + FullPath(HKEY_LOCAL_MACHINE, tree.first));
            named += (named.empty() ? L"" : L", ") + FullPath(HKEY_LOCAL_MACHINE, tree.first);
        }
        for (HeldValue& value : registration.values) {
            const LONG deleted = ::RegDeleteValueW(value.key, value.name.c_str());
            if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND)
                return FailedBecause(L"a value of the registration could not be deleted: " +
                                     FullPath(HKEY_LOCAL_MACHINE, value.keyPath) + L"\\" + value.name);
            // A component or upgrade code that no other product shares is no key of anyone's.
            DWORD values = 0, subkeys = 0;
            if (::RegQueryInfoKeyW(value.key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                                   nullptr, nullptr) == ERROR_SUCCESS &&
                values == 0 && subkeys == 0)
                DeleteOpenedKey(value.key);
            named += L", " + FullPath(HKEY_LOCAL_MACHINE, value.keyPath) + L"\\" + value.name;
        }
        if (::MsiQueryProductStateW(registration.code.c_str()) != INSTALLSTATE_UNKNOWN)
            return FailedBecause(L"Windows Installer still knows the product after its keys went");
        result = Removed();
        result.advice = untrusted.empty() ? Said(IDS_ADVICE_MSI_KEYS, { named }) : Said(IDS_ADVICE_MSI_SOURCE, { untrusted, named });
        return result;
    }

    bool IsGone(const CmdListEntry& finding) const override
    {
        const std::wstring code = UnpackedCode(PackedOf(finding));
        return KeyGone(finding.path) && (code.empty() || ::MsiQueryProductStateW(code.c_str()) == INSTALLSTATE_UNKNOWN);
    }

    std::wstring ReadableName(const CmdListEntry& finding) const override
    {
        std::wstring below, name;
        CRegKeyOwner product;
        if (OpenKeyExact(SplitFullPath(finding.path, below), below.c_str(), KEY_QUERY_VALUE, product) == ERROR_SUCCESS)
            ReadStringValue(product, L"ProductName", name);
        return name;
    }

private:
    static bool PackageGone(const std::wstring& package, const CInstallation& installation)
    {
        const std::wstring normalized = installation.Normalized(package);
        return !normalized.empty() && installation.FileGone(normalized);
    }
    // The first place of the product's source list that somebody other than the administrators
    // may change, or where a package could be put that is not there now; empty when every one is
    // a folder (and package) only they may change, or the list names none.
    static std::wstring UntrustedSource(const std::wstring& packed)
    {
        const std::wstring list = std::wstring(kProducts) + L"\\" + packed + L"\\SourceList";
        CRegKeyOwner sources;
        if (OpenKeyExact(HKEY_LOCAL_MACHINE, list.c_str(), KEY_READ, sources) != ERROR_SUCCESS)
            return std::wstring();
        std::wstring package;
        ReadStringValue(sources, L"PackageName", package);
        std::vector<std::wstring> folders;
        std::wstring last;
        // "n;1;C:\\Sources\\": its kind (n a folder, u a web address, m a medium), its index, the place.
        if (ReadStringValue(sources, L"LastUsedSource", last) && !last.empty()) {
            const size_t place = last.find(L';', last.find(L';') + 1);
            if (last[0] != L'n' || place == std::wstring::npos)
                return last;
            folders.push_back(last.substr(place + 1));
        }
        CRegKeyOwner web;
        if (OpenSubKey(sources, L"URL", KEY_READ, web) == ERROR_SUCCESS) {
            std::wstring url;
            ForEachValue(web, [&](const std::wstring&, DWORD type, const std::vector<BYTE>& data) {
                if ((type == REG_SZ || type == REG_EXPAND_SZ) && url.empty() && data.size() > sizeof(wchar_t))
                    url.assign(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t) - 1);
            });
            if (!url.empty())
                return url;
        }
        CRegKeyOwner net;
        if (OpenSubKey(sources, L"Net", KEY_READ, net) == ERROR_SUCCESS)
            ForEachValue(net, [&](const std::wstring&, DWORD type, const std::vector<BYTE>& data) {
                if ((type == REG_SZ || type == REG_EXPAND_SZ) && data.size() > sizeof(wchar_t))
                    folders.push_back(std::wstring(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t) - 1));
            });
        for (std::wstring folder : folders) {
            while (folder.size() > 3 && folder.back() == L'\\')
                folder.pop_back();
            // A folder that is not there could be made, with a package in it, by whoever may write
            // where it would be.
            if (folder.size() < 3 || folder[1] != L':' || !OthersMayChange(folder).empty())
                return folder;
            const std::wstring file = folder + L"\\" + package;
            if (!package.empty() && ::GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES && !OthersMayChange(file).empty())
                return file;
        }
        return std::wstring();
    }
    // The answers of Windows Installer that say it cannot go on without the product's package.
    static bool WithoutPackage(UINT result)
    {
        return result == ERROR_INSTALL_SOURCE_ABSENT || result == ERROR_INSTALL_PACKAGE_OPEN_FAILED ||
               result == ERROR_INSTALL_PACKAGE_INVALID || result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND;
    }
    static RemovalResult FailedBecause(const std::wstring& why)
    {
        RemovalResult result = Failed();
        result.why = why;
        return result;
    }
};
}

InstallerVerdict JudgeInstallerProduct(bool namedByKeyword, bool installed, bool packageGone, bool componentThere)
{
    if (!namedByKeyword || !installed)
        return InstallerVerdict::None;
    if (!packageGone)
        return InstallerVerdict::PackageThere;
    return componentThere ? InstallerVerdict::FilesThere : InstallerVerdict::Finding;
}

const ILeftoverKind& InstallerProductKind()
{
    static const CInstallerProductKind kind;
    return kind;
}
