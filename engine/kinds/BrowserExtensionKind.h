// What makes a browser's extension entry a product's leftover, apart from the registry it is read
// from: an entry of a policy's force-install list names the extension and where the browser
// fetches it, and that alone, with the ids of the product's registrations that are gone, decides
// it. Kept apart so that the rule can be tried without a registry.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

class CKeywords;

// One entry of an ExtensionInstallForcelist policy: "<id>;<update URL>", or the id alone (the
// browser's own store).
struct ForcedExtension
{
    std::wstring id;    // as the entry spells it, spaces around it dropped
    std::wstring url;   // empty for an entry of the id alone
    std::wstring host;  // the URL's host name, lowercase; empty when the URL names none
};
// FALSE when the entry names no extension (empty, or no id before its ';').
bool SplitForcelistEntry(const std::wstring& data, ForcedExtension& entry);
// Whether a host is one of the browsers' own stores (Google's, Microsoft's): never a product's.
bool IsBrowserStoreHost(const std::wstring& host);

enum class ForcedVerdict
{
    NotTheProducts,  // no registration of it is gone, and its host names no keyword (or is a store's)
    GoneExtension,   // its id is that of a registration whose .crx of the product is gone
    ProductsHost,    // its update host's name holds a keyword, and no product of the maker is installed
    MakerInstalled,  // its host holds a keyword, but a product of the maker is still installed
};
// The verdict on one entry. `goneIds` are the ids whose registrations name a gone .crx of the
// product (any letter case); `keyword` gets the keyword of the host, `keptBy` the installed
// product that keeps it.
ForcedVerdict JudgeForcedExtension(const ForcedExtension& entry, const std::vector<std::wstring>& goneIds,
                                   const CKeywords& keywords, const std::vector<std::wstring>& installedNames,
                                   std::wstring& keyword, std::wstring& keptBy);
