// Winsock catalog entries: transport providers (Protocol_Catalog9, PackedCatalogItem: the
// provider DLL's path, ANSI, 260 bytes, then its WSAPROTOCOL_INFOW) and name-space providers
// (NameSpace_Catalog5, LibraryPath) whose DLL lay in the product's place and is gone, and the
// layered chains that name such an entry's catalog id. A broken entry cuts the machine off the
// network. They are removed only through Windows (WSCDeinstallProvider, WSCUnInstallNameSpace,
// and their 32-bit twins for the 32-bit catalog), chains before their base, never a numbered key
// by hand; the catalog is read again afterwards, and an entry still there has failed.
#include <winsock2.h>
#include "LeftoverKind.h"
#include "../../resources/resource.h"
#include "KeyRemoval.h"
#include "../system/FileClaims.h"
#include "../system/FileEvidence.h"
#include "../system/FilterLists.h"
#include "../registry/KeyTrees.h"
#include "../search/Keywords.h"
#include "../backup/RegBackup.h"
#include "../registry/RegKey.h"
#include "../system/WinsockCatalog.h"
#include "../search/Said.h"
#include <ws2spi.h>
#include <shlwapi.h>
#include <cstddef>
#include <algorithm>
#include <cstring>

namespace {
// A transport entry's PackedCatalogItem: the provider DLL's path (ANSI) before its protocol info.
const size_t kPackedDllPathBytes = MAX_PATH;
const DWORD kReadableNameChars = 512;
typedef WinsockCatalog Catalog;
typedef WinsockEntry Entry;
const std::wstring kParameters = kWinsockParameters;
const auto& kCatalogs = kWinsockCatalogs;

std::wstring GuidText(const GUID& guid)
{
    wchar_t text[40] = L"";
    ::StringFromGUID2(guid, text, 40);
    return text;
}

struct PreparedEntry : CPreparedRemoval
{
    std::wstring text;        // the entry's key, for the record of what was there
    const Catalog* catalog = nullptr;
    GUID provider = {};
};

// Whether the catalog holds the provider.
bool Holds(const Catalog& catalog, const GUID& provider)
{
    for (const Entry& entry : ReadWinsockCatalog(RunningControlSetPath() + kParameters, catalog))
        if (IsEqualGUID(entry.provider, provider))
            return true;
    return false;
}

const Catalog* CatalogOf(const std::wstring& path)
{
    for (const Catalog& catalog : kCatalogs) {
        const std::wstring container = catalog.below;
        const std::wstring parent = ParentOf(path);
        if (parent.size() >= container.size() &&
            _wcsicmp(parent.c_str() + parent.size() - container.size(), container.c_str()) == 0)
            return &catalog;
    }
    return nullptr;
}

// Asks Windows to remove the provider from its catalog. The 32-bit functions are looked up: not
// every Windows (nor Wine) exports them, and a program that imported them would not start.
void Deinstall(const Catalog& catalog, GUID provider)
{
    HMODULE winsock = ::GetModuleHandleW(L"ws2_32.dll");
    if (!winsock)
        winsock = ::LoadLibraryW(L"ws2_32.dll");
    if (!winsock)
        return;
    const char* name = catalog.nameSpace ? (catalog.native ? "WSCUnInstallNameSpace" : "WSCUnInstallNameSpace32")
                                         : (catalog.native ? "WSCDeinstallProvider" : "WSCDeinstallProvider32");
    FARPROC function = ::GetProcAddress(winsock, name);
    if (!function)
        return;
    if (catalog.nameSpace) {
        reinterpret_cast<int(WSAAPI*)(LPGUID)>(reinterpret_cast<void*>(function))(&provider);
    } else {
        int error = 0;
        reinterpret_cast<int(WSAAPI*)(LPGUID, LPINT)>(reinterpret_cast<void*>(function))(&provider, &error);
    }
}

class CWinsockKind : public ILeftoverKind, public IClaimsFiles
{
public:
    // The providers Windows loads into every program that uses the network.
    void ClaimMachineFiles(CClaimReader& reader) const override
    {
        for (const Catalog& catalog : kCatalogs)
            for (const Entry& entry : ReadWinsockCatalog(RunningControlSetPath() + kParameters, catalog))
                reader.Add(std::wstring(), entry.dll, entry.path);
    }

    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { 'W', "winsockEntry", 0, IDS_KIND_WINSOCK };
        return identity;
    }
    // Only the running Windows changes this, so another installation's is left alone.
    bool LooksIn(const SearchScope& scope) const override
    {
        return scope.followReferences && scope.Searches(HKEY_LOCAL_MACHINE) && !scope.offline;
    }

    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        const std::wstring parameters = RunningControlSetPath() + kParameters;
        for (const Catalog& catalog : kCatalogs) {
            const std::vector<Entry> entries = ReadWinsockCatalog(parameters, catalog);
            std::vector<std::pair<const Entry*, std::pair<std::wstring, std::wstring>>> bases;
            for (const Entry& entry : entries) {
                std::wstring keyword;
                const std::wstring reason = EvidenceOfGoneFile(catalog.nameSpace ? L"LibraryPath" : L"PackedCatalogItem",
                                                               entry.dll, std::wstring(), facts.installation,
                                                               facts.keywords.Lower(), keyword);
                if (!reason.empty())
                    bases.push_back({ &entry, { reason, keyword } });
            }
            // Chains before their base: a chain that names a base that is gone is broken too.
            for (const Entry& chain : entries)
                for (const auto& base : bases)
                    if (&chain != base.first && !base.first->catalog->nameSpace &&
                        std::find(chain.chain.begin(), chain.chain.end(), base.first->catalogId) != chain.chain.end() &&
                        !findings.Has(chain.path))
                        findings.Add(*this, facts.AsWalked(chain.path),
                                     Said(IDS_REASON_LAYERED, { std::to_wstring(base.first->catalogId), Nested(base.second.first) }),
                                     base.second.second);
            for (const auto& base : bases)
                if (!findings.Has(base.first->path))
                    findings.Add(*this, facts.AsWalked(base.first->path), base.second.first, base.second.second);
        }
        return KindCheck();
    }

    std::unique_ptr<CPreparedRemoval> Prepare(const CmdListEntry& finding, const RemovalContext&) const override
    {
        std::unique_ptr<PreparedEntry> prepared(new PreparedEntry);
        prepared->catalog = CatalogOf(finding.path);
        if (!prepared->catalog)
            return nullptr;
        const std::wstring parameters = RunningControlSetPath() + kParameters;
        bool found = false;
        for (const Entry& entry : ReadWinsockCatalog(parameters, *prepared->catalog))
            if (_wcsicmp(entry.path.c_str(), finding.path) == 0) {
                prepared->provider = entry.provider;
                found = true;
            }
        std::wstring below;
        KeyTree tree;
        if (!found || !ReadKeyTree(SplitFullPath(finding.path, below), below, tree))
            return nullptr;
        prepared->text = tree.text;
        return std::unique_ptr<CPreparedRemoval>(prepared.release());
    }

    RemovalResult Remove(const CmdListEntry&, CPreparedRemoval& prepared, RemovalContext& context) const override
    {
        PreparedEntry& entry = static_cast<PreparedEntry&>(prepared);
        if (!context.backup.Append(entry.text))
            return RemovalResult();
        Deinstall(*entry.catalog, entry.provider);
        RemovalResult result;
        if (!Holds(*entry.catalog, entry.provider)) {
            result.outcome = Outcome::Removed;
            return result;
        }
        result.why = L"Windows kept provider " + GuidText(entry.provider) + L" in its Winsock catalog";
        result.advice = Said(IDS_ADVICE_WINSOCK_RESET);
        return result;
    }

    // Never written back by hand: only Windows keeps this list, and a key put back behind its back
    // would name a provider (a product) that Windows does not know.
    void Restore(const std::vector<const RestoreBlock*>& blocks, const RestoreContext&, const RestoreTold& told) const override
    {
        for (const RestoreBlock* block : blocks)
            told(RestoredItemOf(Identity().recordName, block->finding, Outcome::Refused, Said(IDS_ADVICE_REINSTALL_WINSOCK)));
    }

    bool IsGone(const CmdListEntry& finding) const override { return KeyGone(finding.path); }

    // The numbered key says nothing to a person: the provider's own name does, the protocol's
    // name inside a transport entry, the display string of a name-space entry.
    std::wstring ReadableName(const CmdListEntry& finding) const override
    {
        const Catalog* catalog = CatalogOf(finding.path);
        std::wstring below;
        const HKEY root = SplitFullPath(finding.path, below);
        CRegKeyOwner key;
        if (!catalog || !root || OpenKeyExact(root, below.c_str(), KEY_QUERY_VALUE, key) != ERROR_SUCCESS)
            return std::wstring();
        if (catalog->nameSpace) {
            std::wstring name;
            if (!ReadStringValue(key, L"DisplayString", name))
                return std::wstring();
            // "@%SystemRoot%\system32\napinsp.dll,-1000" names a string of a library.
            wchar_t loaded[kReadableNameChars] = L"";
            if (name[0] == L'@' && SUCCEEDED(::SHLoadIndirectString(name.c_str(), loaded, kReadableNameChars, nullptr)))
                return loaded;
            return name;
        }
        DWORD type = 0;
        std::vector<BYTE> data;
        const size_t at = kPackedDllPathBytes + offsetof(WSAPROTOCOL_INFOW, szProtocol);
        if (ReadValueBytes(key, L"PackedCatalogItem", type, data) != ERROR_SUCCESS || data.size() <= at)
            return std::wstring();
        const size_t chars = std::min<size_t>((data.size() - at) / sizeof(wchar_t), WSAPROTOCOL_LEN + 1);
        std::wstring name(chars, L'\0');
        memcpy(&name[0], data.data() + at, chars * sizeof(wchar_t));
        return name.substr(0, name.find(L'\0'));
    }
};
}

const ILeftoverKind& WinsockKind()
{
    static const CWinsockKind kind;
    return kind;
}
