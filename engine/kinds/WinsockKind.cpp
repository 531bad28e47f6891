// Winsock catalog entries: transport providers (Protocol_Catalog9, PackedCatalogItem: the
// provider DLL's path, ANSI, 260 bytes, then its WSAPROTOCOL_INFOW) and name-space providers
// (NameSpace_Catalog5, LibraryPath) whose DLL lay in the product's place and is gone, and the
// layered chains that name such an entry's catalog id. A broken entry cuts the machine off the
// network. They are removed only through Windows (WSCDeinstallProvider, WSCUnInstallNameSpace,
// and their 32-bit twins for the 32-bit catalog), chains before their base, never a numbered key
// by hand; the catalog is read again afterwards, and an entry still there has failed.
#include <winsock2.h>
#include "LeftoverKind.h"
#include "../FileEvidence.h"
#include "../FilterLists.h"
#include "../KeyTrees.h"
#include "../Keywords.h"
#include "../RegBackup.h"
#include "../RegKey.h"
#include <ws2spi.h>
#include <algorithm>
#include <cstring>

namespace {
const wchar_t kParameters[] = L"\\Services\\WinSock2\\Parameters";
const wchar_t kAdvice[] = L"netsh winsock reset, then restart Windows";
const size_t kDllPathBytes = MAX_PATH;
// Offsets in WSAPROTOCOL_INFOW after the DLL's path.
const size_t kProviderIdAt = kDllPathBytes + 20;
const size_t kCatalogIdAt = kDllPathBytes + 36;
const size_t kChainLengthAt = kDllPathBytes + 40;
const size_t kChainEntriesAt = kDllPathBytes + 44;
const int kMaxChain = 7;

// The four catalogs: transports and name spaces, 64-bit (the native one) and 32-bit.
struct Catalog
{
    const wchar_t* below;     // below the Parameters key
    bool nameSpace;
    bool native;
};
const Catalog kCatalogs[] = {
    { L"\\Protocol_Catalog9\\Catalog_Entries64", false, true },
    { L"\\Protocol_Catalog9\\Catalog_Entries", false, false },
    { L"\\NameSpace_Catalog5\\Catalog_Entries64", true, true },
    { L"\\NameSpace_Catalog5\\Catalog_Entries", true, false },
};

// One entry of a catalog as it was read.
struct Entry
{
    std::wstring path;        // the numbered key's full path
    const Catalog* catalog;
    std::wstring dll;
    GUID provider = {};
    DWORD catalogId = 0;
    std::vector<DWORD> chain; // a layered chain's catalog ids
};

std::vector<Entry> ReadCatalog(const std::wstring& parameters, const Catalog& catalog)
{
    std::vector<Entry> entries;
    const std::wstring container = parameters + catalog.below;
    CRegKeyOwner key;
    if (OpenKeyExact(HKEY_LOCAL_MACHINE, container.c_str(), KEY_READ, key) != ERROR_SUCCESS)
        return entries;
    for (const std::wstring& name : SubkeyNames(key)) {
        CRegKeyOwner item;
        if (OpenSubKey(key, name.c_str(), KEY_QUERY_VALUE, item) != ERROR_SUCCESS)
            continue;
        Entry entry;
        entry.path = FullPath(HKEY_LOCAL_MACHINE, container + L"\\" + name);
        entry.catalog = &catalog;
        DWORD type = 0;
        std::vector<BYTE> data;
        if (catalog.nameSpace) {
            if (!ReadStringValue(item, L"LibraryPath", entry.dll) || ReadValueBytes(item, L"ProviderId", type, data) != ERROR_SUCCESS ||
                data.size() != sizeof(GUID))
                continue;
            memcpy(&entry.provider, data.data(), sizeof(GUID));
        } else {
            if (ReadValueBytes(item, L"PackedCatalogItem", type, data) != ERROR_SUCCESS ||
                data.size() < kChainEntriesAt + kMaxChain * sizeof(DWORD))
                continue;
            const char* path = reinterpret_cast<const char*>(data.data());
            entry.dll = std::wstring(path, path + strnlen(path, kDllPathBytes));
            memcpy(&entry.provider, data.data() + kProviderIdAt, sizeof(GUID));
            memcpy(&entry.catalogId, data.data() + kCatalogIdAt, sizeof(DWORD));
            int length = 0;
            memcpy(&length, data.data() + kChainLengthAt, sizeof length);
            for (int i = 0; length > 1 && i < length && i < kMaxChain; ++i) {
                DWORD id = 0;
                memcpy(&id, data.data() + kChainEntriesAt + i * sizeof(DWORD), sizeof id);
                entry.chain.push_back(id);
            }
        }
        entries.push_back(entry);
    }
    return entries;
}

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
    for (const Entry& entry : ReadCatalog(RunningControlSetPath() + kParameters, catalog))
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

class CWinsockKind : public ILeftoverKind
{
public:
    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { 'W', "winsockEntry", 0 };
        return identity;
    }
    bool LooksIn(const SearchScope& scope) const override
    {
        return scope.followReferences && scope.Searches(HKEY_LOCAL_MACHINE);
    }

    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        const std::wstring parameters = RunningControlSetPath() + kParameters;
        for (const Catalog& catalog : kCatalogs) {
            const std::vector<Entry> entries = ReadCatalog(parameters, catalog);
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
                        findings.Add(*this, chain.path,
                                     L"layered on catalog entry " + std::to_wstring(base.first->catalogId) + L": " + base.second.first,
                                     base.second.second);
            for (const auto& base : bases)
                if (!findings.Has(base.first->path))
                    findings.Add(*this, base.first->path, base.second.first, base.second.second);
        }
        return KindCheck();
    }

    std::unique_ptr<CPreparedRemoval> Prepare(const CmdListEntry& finding) const override
    {
        std::unique_ptr<PreparedEntry> prepared(new PreparedEntry);
        prepared->catalog = CatalogOf(finding.path);
        if (!prepared->catalog)
            return nullptr;
        const std::wstring parameters = RunningControlSetPath() + kParameters;
        bool found = false;
        for (const Entry& entry : ReadCatalog(parameters, *prepared->catalog))
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

    RemovalResult Remove(const CmdListEntry&, CPreparedRemoval& prepared, CRegBackup& backup) const override
    {
        PreparedEntry& entry = static_cast<PreparedEntry&>(prepared);
        if (!backup.Append(entry.text))
            return RemovalResult();
        Deinstall(*entry.catalog, entry.provider);
        RemovalResult result;
        if (!Holds(*entry.catalog, entry.provider)) {
            result.outcome = Outcome::Removed;
            return result;
        }
        result.why = L"Windows kept provider " + GuidText(entry.provider) + L" in its Winsock catalog";
        result.advice = kAdvice;
        return result;
    }

    bool IsGone(const CmdListEntry& finding) const override
    {
        std::wstring below;
        CRegKeyOwner key;
        return OpenKeyExact(SplitFullPath(finding.path, below), below.c_str(), KEY_READ, key) == ERROR_FILE_NOT_FOUND;
    }
};
}

const ILeftoverKind& WinsockKind()
{
    static const CWinsockKind kind;
    return kind;
}
