// Reading the Winsock catalogs.
#include "WinsockCatalog.h"
#include "../registry/RegKey.h"
#include "../registry/RootKeys.h"
#include <cstring>

namespace {
const size_t kDllPathBytes = MAX_PATH;
// Offsets in WSAPROTOCOL_INFOW after the DLL's path.
const size_t kProviderIdAt = kDllPathBytes + 20;
const size_t kCatalogIdAt = kDllPathBytes + 36;
const size_t kChainLengthAt = kDllPathBytes + 40;
const size_t kChainEntriesAt = kDllPathBytes + 44;
const int kMaxChain = 7;
}

const WinsockCatalog kWinsockCatalogs[4] = {
    { L"\\Protocol_Catalog9\\Catalog_Entries64", false, true },
    { L"\\Protocol_Catalog9\\Catalog_Entries", false, false },
    { L"\\NameSpace_Catalog5\\Catalog_Entries64", true, true },
    { L"\\NameSpace_Catalog5\\Catalog_Entries", true, false },
};

std::vector<WinsockEntry> ReadWinsockCatalog(const std::wstring& parameters, const WinsockCatalog& catalog)
{
    std::vector<WinsockEntry> entries;
    const std::wstring container = parameters + catalog.below;
    CRegKeyOwner key;
    if (OpenKeyExact(HKEY_LOCAL_MACHINE, container.c_str(), KEY_READ, key) != ERROR_SUCCESS)
        return entries;
    for (const std::wstring& name : SubkeyNames(key)) {
        CRegKeyOwner item;
        if (OpenSubKey(key, name.c_str(), KEY_QUERY_VALUE, item) != ERROR_SUCCESS)
            continue;
        WinsockEntry entry;
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

