// What a file that a registration names tells about the product.
#include "FileEvidence.h"
#include "Installation.h"
#include "../registry/KeyNames.h"
#include "Offline.h"
#include "../../framework/Handles.h"
#include "../search/Keywords.h"
#include "../search/Said.h"
#include "../../resources/resource.h"
#include <msi.h>
#include <aclapi.h>
#include <sddl.h>
#include <cwchar>
#include <cwctype>
#include <algorithm>

namespace {
const wchar_t* const kFileExtensions[] = { L".exe", L".dll", L".ocx", L".cpl", L".sys", L".tlb", L".olb", L".ax" };
}

std::wstring FileOfCommand(const std::wstring& data)
{
    const size_t start = data.find_first_not_of(L' ');
    std::wstring text = start == std::wstring::npos ? std::wstring() : data.substr(start);
    if (!text.empty() && text[0] == L'"') {
        const size_t close = text.find(L'"', 1);
        return text.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
    }
    // Unquoted: the file ends with its extension, where arguments may follow a space.
    const std::wstring lower = Lowered(text.c_str(), text.size());
    size_t end = std::wstring::npos;
    for (const wchar_t* extension : kFileExtensions) {
        for (size_t at = lower.find(extension); at != std::wstring::npos; at = lower.find(extension, at + 1)) {
            const size_t after = at + wcslen(extension);
            if (after == lower.size() || lower[after] == L' ' || lower[after] == L',') {
                end = after < end ? after : end;
                break;
            }
        }
    }
    if (end == std::wstring::npos) {
        for (const wchar_t* argument : { L" /", L" -" })
            end = std::min(end, text.find(argument));
    }
    text = text.substr(0, end);
    while (!text.empty() && text.back() == L' ')
        text.pop_back();
    return text;
}

std::wstring ExpandedFile(const std::wstring& data, const std::wstring& owner, const CInstallation& installation,
                          bool& told)
{
    std::wstring expanded;
    told = installation.Expand(data, owner, expanded);
    return told ? FileOfCommand(expanded) : FileOfCommand(data);
}

bool MentionsKeyword(const std::wstring& text, const std::vector<std::wstring>& lowerKeywords)
{
    return !MatchingKeyword(Lowered(text.c_str(), text.size()), lowerKeywords).empty();
}

FileEvidence Examine(const std::wstring& file, bool told, const CInstallation& installation,
                     const std::vector<std::wstring>& lowerKeywords)
{
    FileEvidence evidence;
    evidence.file = file;
    evidence.normalized = told ? installation.Normalized(file) : std::wstring();
    evidence.told = !evidence.normalized.empty();
    if (!evidence.told)
        return evidence;
    evidence.system = installation.InWindowsFolder(evidence.normalized);
    std::vector<std::wstring> names;
    if (evidence.system || !installation.NamesBelowRoot(evidence.normalized, names))
        return evidence;
    for (const std::wstring& name : names)
        if (!(evidence.keyword = MatchingKeyword(Lowered(name.c_str(), name.size()), lowerKeywords)).empty())
            break;
    return evidence;
}

FileEvidence LookAtFile(const std::wstring& data, const std::wstring& owner, const CInstallation& installation,
                        const std::vector<std::wstring>& lowerKeywords)
{
    bool told = false;
    const std::wstring file = ExpandedFile(data, owner, installation, told);
    return Examine(file, told, installation, lowerKeywords);
}

std::wstring EvidenceOfGoneFile(const std::wstring& name, const std::wstring& data, const std::wstring& owner,
                                const CInstallation& installation, const std::vector<std::wstring>& lowerKeywords,
                                std::wstring& keyword)
{
    bool told = false;
    const std::wstring file = ExpandedFile(data, owner, installation, told);
    // Nothing names the product: no look at the file system at all.
    if (!told || !MentionsKeyword(file, lowerKeywords))
        return std::wstring();
    const FileEvidence look = Examine(file, told, installation, lowerKeywords);
    if (!look.told || look.system || look.keyword.empty() || !installation.FileGone(look.normalized))
        return std::wstring();
    keyword = look.keyword;
    return Said(IDS_REASON_FILE_MISSING, { name, look.file });
}

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"
bool IsGuid(const std::wstring& text)
{
    if (text.size() != 38 || text.front() != L'{' || text.back() != L'}')
        return false;
    for (size_t i = 1; i < 37; ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? text[i] != L'-' : !iswxdigit(text[i]))
            return false;
    }
    return true;
}

// "MsiExec.exe /X{...}": the product code, else empty.
std::wstring WindowsInstallerCode(const std::wstring& command)
{
    const std::wstring program = FileOfCommand(command);
    const std::wstring file = Lowered(program.substr(program.rfind(L'\\') + 1));
    if (file != L"msiexec.exe" && file != L"msiexec")
        return std::wstring();
    const std::wstring lower = Lowered(command);
    for (const wchar_t* option : { L"/x", L"/i", L"-x", L"-i" }) {
        const size_t at = lower.find(option);
        if (at == std::wstring::npos)
            continue;
        const size_t start = command.find(L'{', at);
        if (start != std::wstring::npos && start <= at + 3 && IsGuid(command.substr(start, 38)))
            return command.substr(start, 38);
    }
    return std::wstring();
}

bool WindowsInstallerKnows(const std::wstring& code)
{
    // This Windows Installer knows only the running installation: for another one it cannot
    // tell, and a product it cannot rule out is taken as known.
    if (OfflineActive())
        return true;
    return ::MsiQueryProductStateW(code.c_str()) != INSTALLSTATE_UNKNOWN;
}

bool ShippedWithWindows(const std::wstring& file)
{
    // Windows' own files belong to its installer service, whoever installed the system.
    const wchar_t kTrustedInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(file.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                                &descriptor) == ERROR_SUCCESS) {
        CLocalMemory<void> ownDescriptor(descriptor);
        LPWSTR text = nullptr;
        if (owner && ::ConvertSidToStringSidW(owner, &text)) {
            CLocalMemory<wchar_t> ownText(text);
            if (_wcsicmp(text, kTrustedInstaller) == 0)
                return true;
        }
    }
    // ...and name their maker in their version resource.
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &handle);
    std::vector<BYTE> version(size);
    struct Translation
    {
        WORD language, codePage;
    }* translations = nullptr;
    UINT length = 0;
    if (size == 0 || !::GetFileVersionInfoW(file.c_str(), 0, size, version.data()) ||
        !::VerQueryValueW(version.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations), &length))
        return false;
    for (UINT at = 0; at < length / sizeof(Translation); ++at) {
        wchar_t query[64];
        swprintf(query, 64, L"\\StringFileInfo\\%04x%04x\\CompanyName", translations[at].language, translations[at].codePage);
        wchar_t* company = nullptr;
        UINT companyLength = 0;
        if (::VerQueryValueW(version.data(), query, reinterpret_cast<void**>(&company), &companyLength) && company &&
            wcsstr(company, L"Microsoft"))
            return true;
    }
    return false;
}
