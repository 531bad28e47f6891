#include "SecurityCenter.h"
#include "Installation.h"
#include "../registry/RegKey.h"

namespace {
// Whether a product's program is there: a registration whose program is gone is a leftover, not
// another antivirus.
bool ProgramThere(const std::wstring& path, const CInstallation& installation)
{
    std::wstring expanded;
    if (!installation.Expand(path, std::wstring(), expanded))
        return true;
    const std::wstring normalized = installation.Normalized(expanded);
    return normalized.empty() || !installation.FileGone(normalized);
}

std::wstring Text(IWbemClassObject* object, const wchar_t* name)
{
    VARIANT value;
    ::VariantInit(&value);
    std::wstring text;
    if (SUCCEEDED(object->Get(name, 0, &value, nullptr, nullptr)) && value.vt == VT_BSTR && value.bstrVal)
        text = value.bstrVal;
    ::VariantClear(&value);
    return text;
}
}

std::wstring HexResult(HRESULT result)
{
    wchar_t text[16];
    swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(result));
    return text;
}

HRESULT ConnectSecurityCenter(CComPtrOf<IWbemServices>& services, bool& noWmi)
{
    IWbemLocator* locator = nullptr;
    HRESULT result = ::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                        reinterpret_cast<void**>(&locator));
    noWmi = FAILED(result);
    if (noWmi)
        return result;
    CComPtrOf<IWbemLocator> ownLocator(locator);
    IWbemServices* connected = nullptr;
    BSTR nameSpace = ::SysAllocString(L"ROOT\\SecurityCenter2");
    result = locator->ConnectServer(nameSpace, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &connected);
    ::SysFreeString(nameSpace);
    if (FAILED(result))
        return result;
    services.reset(connected);
    ::CoSetProxyBlanket(connected, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                        RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    return S_OK;
}

AntivirusAnswer AskSecurityCenter(const CInstallation& installation)
{
    AntivirusAnswer answer;
    CComScope com;
    CComPtrOf<IWbemServices> ownServices;
    bool noWmi = false;
    const HRESULT result = ConnectSecurityCenter(ownServices, noWmi);
    if (FAILED(result)) {
        answer.why = (noWmi ? L"WMI " : L"root\\SecurityCenter2 ") + HexResult(result);
        return answer;
    }
    IWbemServices* services = ownServices.get();
    BSTR language = ::SysAllocString(L"WQL");
    BSTR query = ::SysAllocString(L"SELECT displayName, pathToSignedProductExe FROM AntiVirusProduct");
    IEnumWbemClassObject* products = nullptr;
    HRESULT queried = services->ExecQuery(language, query, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, &products);
    ::SysFreeString(language);
    ::SysFreeString(query);
    if (FAILED(queried)) {
        answer.why = L"AntiVirusProduct " + HexResult(queried);
        return answer;
    }
    CComPtrOf<IEnumWbemClassObject> ownProducts(products);
    IWbemClassObject* product = nullptr;
    ULONG returned = 0;
    while (products->Next(WBEM_INFINITE, 1, &product, &returned) == WBEM_S_NO_ERROR && returned == 1) {
        CComPtrOf<IWbemClassObject> ownProduct(product);
        const std::wstring name = Text(product, L"displayName"), exe = Text(product, L"pathToSignedProductExe");
        // Windows' own antivirus registers itself by its scheme, not by a program's path.
        if (_wcsnicmp(exe.c_str(), L"windowsdefender:", 16) == 0)
            continue;
        if (ProgramThere(exe, installation))
            answer.others.push_back(name.empty() ? exe : name);
    }
    answer.asked = true;
    return answer;
}

// The antivirus registrations the registry holds whose program is there.
void AntivirusInRegistry(const CInstallation& installation, std::vector<std::wstring>& others)
{
    CRegKeyOwner providers;
    if (OpenKeyExact(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Security Center\\Provider\\Av", KEY_READ, providers) != ERROR_SUCCESS)
        return;
    for (const std::wstring& guid : SubkeyNames(providers)) {
        CRegKeyOwner provider;
        std::wstring exe, name;
        if (OpenSubKey(providers, guid.c_str(), KEY_QUERY_VALUE, provider) != ERROR_SUCCESS ||
            !ReadStringValue(provider, L"PRODUCTEXE", exe) || !ProgramThere(exe, installation))
            continue;
        others.push_back(ReadStringValue(provider, L"DISPLAYNAME", name) && !name.empty() ? name : guid);
    }
}

