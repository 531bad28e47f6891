// What Windows Installer keeps of the products it installed for the machine.
#include "WindowsInstaller.h"
#include "Installation.h"
#include "../registry/RegKey.h"
#include <msi.h>

const wchar_t kInstallerMachineData[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18";

namespace {
// The 32 hex digits of a code as Windows Installer's keys hold them: the first three groups read
// backwards, the last eight bytes each with its two digits swapped, in capitals. The same steps
// spell a packed code back, so one function goes both ways; empty when `hex` is no 32 hex digits.
std::wstring Swapped(const std::wstring& hex)
{
    if (hex.size() != 32 || hex.find_first_not_of(L"0123456789ABCDEFabcdef") != std::wstring::npos)
        return std::wstring();
    std::wstring swapped = std::wstring(hex.rbegin() + 24, hex.rend()) + std::wstring(hex.rbegin() + 20, hex.rbegin() + 24) +
                           std::wstring(hex.rbegin() + 16, hex.rbegin() + 20);
    for (size_t i = 16; i < 32; i += 2) {
        swapped += hex[i + 1];
        swapped += hex[i];
    }
    for (wchar_t& c : swapped)
        c = static_cast<wchar_t>(towupper(c));
    return swapped;
}
}

std::wstring PackedCode(const std::wstring& code)
{
    if (code.size() != 38 || code.front() != L'{' || code.back() != L'}')
        return std::wstring();
    std::wstring hex;
    for (size_t i = 1; i + 1 < code.size(); ++i)
        if (code[i] != L'-')
            hex += code[i];
    return Swapped(hex);
}

std::wstring UnpackedCode(const std::wstring& packed)
{
    const std::wstring hex = Swapped(packed);
    if (hex.empty())
        return std::wstring();
    return L"{" + hex.substr(0, 8) + L"-" + hex.substr(8, 4) + L"-" + hex.substr(12, 4) + L"-" + hex.substr(16, 4) + L"-" +
           hex.substr(20) + L"}";
}

std::wstring LocalPackageOf(const std::wstring& code)
{
    std::vector<wchar_t> buffer(MAX_PATH);
    DWORD size = static_cast<DWORD>(buffer.size());
    UINT result = ::MsiGetProductInfoExW(code.c_str(), nullptr, MSIINSTALLCONTEXT_MACHINE, L"LocalPackage", buffer.data(), &size);
    if (result == ERROR_MORE_DATA) {
        buffer.resize(++size);
        result = ::MsiGetProductInfoExW(code.c_str(), nullptr, MSIINSTALLCONTEXT_MACHINE, L"LocalPackage", buffer.data(), &size);
    }
    return result == ERROR_SUCCESS ? std::wstring(buffer.data()) : std::wstring();
}

std::map<std::wstring, std::vector<InstallerComponent>> InstallerComponentsOf(const std::vector<std::wstring>& packedProducts)
{
    std::map<std::wstring, std::vector<InstallerComponent>> found;
    if (packedProducts.empty())
        return found;
    const std::wstring components = std::wstring(kInstallerMachineData) + L"\\Components";
    CRegKeyOwner container;
    if (OpenKeyExact(HKEY_LOCAL_MACHINE, components.c_str(), KEY_READ, container) != ERROR_SUCCESS)
        return found;
    for (const std::wstring& name : SubkeyNames(container)) {
        CRegKeyOwner component;
        if (OpenSubKey(container, name.c_str(), KEY_QUERY_VALUE, component) != ERROR_SUCCESS)
            continue;
        for (const std::wstring& packed : packedProducts) {
            std::wstring path;
            DWORD type = 0;
            std::vector<BYTE> data;
            if (ReadValueBytes(component, packed.c_str(), type, data) != ERROR_SUCCESS)
                continue;
            ReadStringValue(component, packed.c_str(), path);
            found[packed].push_back({ components + L"\\" + name, path });
        }
    }
    return found;
}

ComponentPathKind SplitComponentPath(const std::wstring& path, HKEY& root, std::wstring& below)
{
    root = nullptr;
    below.clear();
    if (path.empty())
        return ComponentPathKind::Nothing;
    // "nn:\" names a registry key: 00 the classes, 01 the user, 02 the machine, 03 the users (20
    // to 23 the same in the 64-bit view); the last name is the value's.
    if (path.size() > 4 && iswdigit(path[0]) && iswdigit(path[1]) && path[2] == L':' && path[3] == L'\\') {
        const int code = (path[0] - L'0') * 10 + (path[1] - L'0');
        static const HKEY roots[] = { HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS };
        if (code % 20 <= 3 && code / 20 <= 1)
            root = roots[code % 20];
        const std::wstring rest = path.substr(4);
        below = rest.substr(0, rest.rfind(L'\\') == std::wstring::npos ? 0 : rest.rfind(L'\\'));
        return ComponentPathKind::Registry;
    }
    return ComponentPathKind::File;
}

bool InstallerProductThere(const std::wstring& code, const CInstallation& installation)
{
    const auto there = [&](const std::wstring& file) {
        std::wstring expanded;
        if (!installation.Expand(file, std::wstring(), expanded))
            return true;
        const std::wstring normalized = installation.Normalized(expanded);
        return normalized.empty() || !installation.FileGone(normalized);
    };
    const std::wstring package = LocalPackageOf(code), packed = PackedCode(code);
    if ((!package.empty() && there(package)) || packed.empty())
        return true;
    HKEY root = nullptr;
    std::wstring below;
    // The map held by name: a range over an element of a temporary would outlive the map.
    const std::map<std::wstring, std::vector<InstallerComponent>> components = InstallerComponentsOf({ packed });
    const auto held = components.find(packed);
    if (held != components.end())
        for (const InstallerComponent& component : held->second)
            if (SplitComponentPath(component.path, root, below) == ComponentPathKind::File && there(component.path))
                return true;
    return false;
}
