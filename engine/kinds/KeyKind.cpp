// Keys named after the product: the top-most key of each branch whose own name holds a keyword,
// removed with its whole tree (a service's key through the service manager, KeyRemoval.h). What a
// product still installed needs stays: its uninstall entry, and in a maker's key the settings key
// of that product (the maker's other subkeys are the findings then). Another kind may make more of
// a key found by its name (a scheduled task's key, a trace session's); it keeps the key's place.
#include "LeftoverKind.h"
#include "../../resources/resource.h"
#include "KeyRemoval.h"
#include "../registry/KeyNames.h"
#include "../search/Keywords.h"
#include "../registry/RegKey.h"
#include "../registry/RootKeys.h"
#include "../system/FileEvidence.h"
#include "../system/FileHandles.h"
#include "../system/ServiceControl.h"
#include "../system/Installation.h"
#include "../search/Said.h"
#include <algorithm>

namespace {
class CKeyKind : public CKeyRemoval
{
public:
    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { kKindKey, "key", 1, IDS_KIND_KEY };
        return identity;
    }
    // It judges names wherever the walk goes; what it keeps for a product still installed needs
    // an uninstall entry to be found at all.
    bool NeedsSoftwareHive() const override { return false; }
    bool LooksIn(const SearchScope&) const override { return true; }

    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        KindCheck check;
        // Users of another installation whose hives could not be loaded: the search could not look there.
        if (facts.scope.Searches(HKEY_USERS) && !facts.scope.usersNotLoaded.empty()) {
            check.state = KindCheck::Unavailable;
            check.why = L"the hives of these users could not be loaded:";
            for (const std::wstring& sid : facts.scope.usersNotLoaded)
                check.why += L" " + sid;
        }
        for (const std::wstring& path : facts.walk.findings) {
            const std::wstring keyword = facts.keywords.Matching(LastNameOf(path));
            // Once the search was stopped nothing more is read: the keys go as the walk found them.
            if (!facts.scope.stopped && (KeepsWhatIsInstalled(facts, path, keyword, findings, check) ||
                                         RefinedByAnother(facts, path, keyword, findings, check)))
                continue;
            Listed(findings.Add(*this, path, std::wstring(), keyword));
        }
        return check;
    }

private:
    static void Listed(CmdListEntry* entry)
    {
        if (entry)
            entry->reportPathOnly = true;
    }

    // The uninstall entry of a product still installed stays; so does a product's settings key in
    // its maker's key, whose other subkeys are the findings instead.
    bool KeepsWhatIsInstalled(const CSearchFacts& facts, const std::wstring& path, const std::wstring& keyword,
                              CFindings& findings, KindCheck& check) const
    {
        std::vector<const InstalledProduct*> named;
        for (const InstalledProduct& product : facts.Installed()) {
            if (_wcsicmp(product.key.c_str(), path.c_str()) == 0) {
                check.notes.push_back(Said(IDS_NOTE_KEPT, { path, Nested(Said(IDS_WHY_UNINSTALL_INSTALLED,
                                                                                { NameOf(product), Nested(product.evidence) })) }));
                return true;
            }
            if (!keyword.empty() && Lowered(product.displayName + L" " + product.folder + L" " + product.key).find(keyword) !=
                                        std::wstring::npos)
                named.push_back(&product);
        }
        if (WindowsService(facts, path, check))
            return true;
        if (named.empty())
            return false;
        // A key named like such a product is its settings; one whose values name a file that is
        // there in its folder is one of its registrations (its service, its file type, its event
        // source): it still works.
        for (const InstalledProduct* product : named) {
            if (IsSettingsKeyOf(*product, LastNameOf(ParentOf(path)), LastNameOf(path))) {
                check.notes.push_back(Said(IDS_NOTE_KEPT, { path, Nested(Said(IDS_WHY_SETTINGS_INSTALLED,
                                                                                { NameOf(*product), Nested(product->evidence) })) }));
                return true;
            }
        }
        CmdListEntry entry = {};
        wcsncpy(entry.path, path.c_str(), kPathChars - 1);
        std::vector<std::wstring> files;
        NamedFiles(entry, facts.installation, files);
        for (const std::wstring& file : files)
            for (const InstalledProduct* product : named)
                if (!product->folder.empty() && PathAtOrBelow(file, product->folder) &&
                    ::GetFileAttributesW(LongPath(file).c_str()) != INVALID_FILE_ATTRIBUTES) {
                    check.notes.push_back(Said(IDS_NOTE_KEPT, { path, Nested(Said(IDS_WHY_NAMES_INSTALLED_FILE, { file, NameOf(*product) })) }));
                    return true;
                }
        std::wstring below;
        const HKEY root = SplitFullPath(path, below);
        CRegKeyOwner key;
        if (OpenKeyExact(root, below.c_str(), KEY_READ, key) != ERROR_SUCCESS)
            return false;
        const std::vector<std::wstring> subkeys = SubkeyNames(key);
        std::vector<std::pair<std::wstring, const InstalledProduct*>> kept;
        for (const std::wstring& subkey : subkeys)
            for (const InstalledProduct* product : named)
                if (IsSettingsKeyOf(*product, LastNameOf(path), subkey)) {
                    kept.push_back({ subkey, product });
                    break;
                }
        if (kept.empty())
            return false;
        for (const std::wstring& subkey : subkeys) {
            const auto keep = std::find_if(kept.begin(), kept.end(), [&](const auto& each) { return each.first == subkey; });
            if (keep != kept.end())
                check.notes.push_back(Said(IDS_NOTE_KEPT, { path + L"\\" + subkey, Nested(Said(IDS_WHY_SETTINGS_INSTALLED,
                                                                                                { NameOf(*keep->second), Nested(keep->second->evidence) })) }));
            else
                Listed(findings.Add(*this, path + L"\\" + subkey, Said(IDS_REASON_IN_MAKER_KEY, { LastNameOf(path) }),
                                    keyword));
        }
        return true;
    }

    // A service Windows brought (its image a file of Windows' own) stays, whatever a keyword matches.
    static bool WindowsService(const CSearchFacts& facts, const std::wstring& path, KindCheck& check)
    {
        std::wstring below, controlSet, service, image, expanded;
        CRegKeyOwner key;
        if (SplitFullPath(path, below) != HKEY_LOCAL_MACHINE || !SplitServiceKeyPath(below, controlSet, service) ||
            OpenKeyExact(HKEY_LOCAL_MACHINE, below.c_str(), KEY_QUERY_VALUE, key) != ERROR_SUCCESS ||
            !ReadStringValue(key, L"ImagePath", image) || !facts.installation.Expand(image, std::wstring(), expanded))
            return false;
        const std::wstring file = facts.installation.Normalized(FileOfCommand(expanded));
        if (file.empty() || !facts.installation.InWindowsFolder(file) || !ShippedWithWindows(file))
            return false;
        check.notes.push_back(Said(IDS_NOTE_KEPT, { path, Nested(Said(IDS_WHY_WINDOWS_SERVICE, { file })) }));
        return true;
    }

    static std::wstring NameOf(const InstalledProduct& product)
    {
        return product.displayName.empty() ? LastNameOf(product.key) : product.displayName;
    }

    bool RefinedByAnother(const CSearchFacts& facts, const std::wstring& path, const std::wstring& keyword, CFindings& findings,
                          KindCheck& check) const
    {
        for (const ILeftoverKind* kind : facts.kinds) {
            if (kind == this)
                continue;
            const Refinement refinement = kind->Refine(facts, path);
            switch (refinement.action) {
            case Refinement::None:
                continue;
            case Refinement::TakeOver:
                Listed(findings.Add(*kind, path, refinement.reason, keyword));
                return true;
            case Refinement::Keep:
                check.notes.push_back(Said(IDS_NOTE_KEPT, { path, Nested(refinement.reason) }));
                return true;
            case Refinement::Replace:
                for (const std::wstring& replacement : refinement.paths)
                    if (!findings.Has(replacement))
                        findings.Add(*kind, replacement, refinement.reason, keyword);
                return true;
            }
        }
        return false;
    }
};
}

const ILeftoverKind& KeyKind()
{
    static const CKeyKind kind;
    return kind;
}
