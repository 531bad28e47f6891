// The products still installed.
#include "InstalledProducts.h"
#include "FileEvidence.h"
#include "FileHandles.h"
#include "Installation.h"
#include "WindowsInstaller.h"
#include "../registry/KeyNames.h"
#include "../registry/RegKey.h"
#include "../registry/RootKeys.h"
#include "../search/Said.h"
#include "../../resources/resource.h"

namespace {
const wchar_t kUninstall[] = L"Microsoft\\Windows\\CurrentVersion\\Uninstall";

std::wstring StringOf(HKEY key, const wchar_t* name)
{
    std::wstring text;
    return ReadStringValue(key, name, text) ? text : std::wstring();
}

// The file or folder `data` names, as the file system knows it, when it is there.
std::wstring Existing(const std::wstring& data, const std::wstring& owner, const CInstallation& installation, bool command)
{
    std::wstring expanded;
    if (data.empty() || !installation.Expand(data, owner, expanded))
        return std::wstring();
    const std::wstring path = installation.Normalized(command ? FileOfCommand(expanded) : expanded);
    if (path.empty() || ::GetFileAttributesW(LongPath(path).c_str()) == INVALID_FILE_ATTRIBUTES)
        return std::wstring();
    return path;
}

void ReadContainer(HKEY root, const std::wstring& path, const std::wstring& owner, const CInstallation& installation,
                   bool askWindowsInstaller, std::vector<InstalledProduct>& products)
{
    CRegKeyOwner container;
    if (OpenKeyExact(root, path.c_str(), KEY_READ, container) != ERROR_SUCCESS)
        return;
    for (const std::wstring& name : SubkeyNames(container)) {
        CRegKeyOwner entry;
        if (OpenSubKey(container, name.c_str(), KEY_QUERY_VALUE, entry) != ERROR_SUCCESS)
            continue;
        InstalledProduct product;
        product.key = FullPath(root, path + L"\\" + name);
        product.displayName = StringOf(entry, L"DisplayName");
        const std::wstring location = StringOf(entry, L"InstallLocation");
        std::wstring command = StringOf(entry, L"UninstallString");
        if (command.empty())
            command = StringOf(entry, L"QuietUninstallString");
        std::wstring code = WindowsInstallerCode(command);
        DWORD windowsInstaller = 0;
        if (code.empty() && IsGuid(name) && ReadDwordValue(entry, L"WindowsInstaller", windowsInstaller) && windowsInstaller == 1)
            code = name;
        const std::wstring folder = Existing(location, owner, installation, false);
        const std::wstring uninstaller = code.empty() ? Existing(command, owner, installation, true) : std::wstring();
        if (!code.empty() && askWindowsInstaller && WindowsInstallerKnows(code) && InstallerProductThere(code, installation))
            product.evidence = Said(IDS_EVIDENCE_MSI, { code });
        else if (!uninstaller.empty())
            product.evidence = Said(IDS_EVIDENCE_UNINSTALLER, { uninstaller });
        else if (!folder.empty())
            product.evidence = Said(IDS_EVIDENCE_LOCATION, { folder });
        else
            continue;
        product.folder = !folder.empty() ? folder : uninstaller.empty() ? std::wstring() : uninstaller.substr(0, uninstaller.rfind(L'\\'));
        products.push_back(product);
    }
}
}

std::vector<InstalledProduct> InstalledProducts(const CInstallation& installation, bool askWindowsInstaller)
{
    std::vector<InstalledProduct> products;
    for (const wchar_t* software : { L"SOFTWARE\\", L"SOFTWARE\\WOW6432Node\\" })
        ReadContainer(HKEY_LOCAL_MACHINE, software + std::wstring(kUninstall), std::wstring(), installation,
                      askWindowsInstaller, products);
    ReadContainer(HKEY_CURRENT_USER, std::wstring(L"Software\\") + kUninstall, installation.OwnerOf(L"HKEY_CURRENT_USER"),
                  installation, askWindowsInstaller, products);
    for (const UserProfile& profile : installation.Profiles())
        ReadContainer(HKEY_USERS, profile.sid + L"\\Software\\" + kUninstall, profile.sid, installation, askWindowsInstaller,
                      products);
    return products;
}

bool IsSettingsKeyOf(const InstalledProduct& product, const std::wstring& parentName, const std::wstring& name)
{
    const std::wstring lower = Lowered(name), display = Lowered(product.displayName);
    const std::wstring folder = Lowered(product.folder.substr(product.folder.rfind(L'\\') + 1));
    return (!product.folder.empty() && lower == folder) || lower == display || display == Lowered(parentName) + L" " + lower;
}

std::wstring NameHoldingKeyword(const std::vector<std::wstring>& names, const std::wstring& lowerKeyword)
{
    for (const std::wstring& name : names)
        if (!lowerKeyword.empty() && Lowered(name).find(lowerKeyword) != std::wstring::npos)
            return name;
    return std::wstring();
}
