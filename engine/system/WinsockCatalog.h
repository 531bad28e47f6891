// The Winsock catalogs: transport providers (Protocol_Catalog9, PackedCatalogItem: the provider
// DLL's path, ANSI, 260 bytes, then its WSAPROTOCOL_INFOW) and name-space providers
// (NameSpace_Catalog5, LibraryPath), each 64-bit (the native one) and 32-bit.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// Below the control set's path.
const wchar_t kWinsockParameters[] = L"\\Services\\WinSock2\\Parameters";

struct WinsockCatalog
{
    const wchar_t* below;     // below the Parameters key
    bool nameSpace;
    bool native;
};
extern const WinsockCatalog kWinsockCatalogs[4];

// One entry of a catalog as it was read.
struct WinsockEntry
{
    std::wstring path;        // the numbered key's full path
    const WinsockCatalog* catalog;
    std::wstring dll;
    GUID provider = {};
    DWORD catalogId = 0;
    std::vector<DWORD> chain; // a layered chain's catalog ids
};

// The entries of one catalog below `parameters` (a path below HKEY_LOCAL_MACHINE), in order.
std::vector<WinsockEntry> ReadWinsockCatalog(const std::wstring& parameters, const WinsockCatalog& catalog);
