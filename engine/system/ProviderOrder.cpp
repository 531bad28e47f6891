// The network provider order.
#include "ProviderOrder.h"
#include "../registry/RegKey.h"

std::vector<std::wstring> SplitProviderOrder(const std::wstring& text)
{
    std::vector<std::wstring> names;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(L',', start);
        const std::wstring name = text.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start);
        if (!name.empty())
            names.push_back(name);
        if (comma == std::wstring::npos)
            return names;
        start = comma + 1;
    }
}

std::wstring WithoutProvider(const std::wstring& text, const std::wstring& name)
{
    std::wstring kept;
    for (const std::wstring& other : SplitProviderOrder(text)) {
        if (_wcsicmp(other.c_str(), name.c_str()) == 0)
            continue;
        if (!kept.empty())
            kept += L',';
        kept += other;
    }
    return kept;
}

bool ProviderOrderNames(const std::wstring& controlSet, const std::wstring& name)
{
    CRegKeyOwner key;
    if (OpenKeyExact(HKEY_LOCAL_MACHINE, (controlSet + L"\\" + kProviderOrderKey).c_str(), KEY_QUERY_VALUE, key) !=
        ERROR_SUCCESS)
        return false;
    for (const wchar_t* value : kProviderOrderValues) {
        DWORD type = 0;
        std::vector<BYTE> data;
        if (ReadValueBytes(key, value, type, data) != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
            continue;
        const std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
        for (const std::wstring& other : SplitProviderOrder(text.c_str()))
            if (_wcsicmp(other.c_str(), name.c_str()) == 0)
                return true;
    }
    return false;
}
