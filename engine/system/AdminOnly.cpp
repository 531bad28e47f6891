// Files and folders only administrators may change.
#include "AdminOnly.h"
#include "FileHandles.h"
#include "../../framework/Handles.h"
#include <aclapi.h>
#include <sddl.h>
#include <vector>

namespace {
// Owner the Administrators; protected: nothing inherited. Folders pass both entries on to what is
// made inside them.
const wchar_t kAdminOnly[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
const wchar_t kTrustedInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
// Everything that changes a file or folder, its contents, its name or who may do so.
const ACCESS_MASK kChanges = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES |
                             DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

std::wstring SidText(PSID sid)
{
    wchar_t* text = nullptr;
    if (!sid || !::ConvertSidToStringSidW(sid, &text))
        return L"(unknown)";
    CLocalMemory<wchar_t> owner(text);
    return text;
}

bool Trusted(PSID sid, PSID runningUser)
{
    if (!sid || !::IsValidSid(sid))
        return false;
    if (::IsWellKnownSid(sid, WinLocalSystemSid) || ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid))
        return true;
    if (runningUser && ::EqualSid(sid, runningUser))
        return true;
    return SidText(sid) == kTrustedInstaller;
}

std::vector<BYTE> RunningUser()
{
    CHandle token;
    DWORD size = 0;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Receive()))
        return {};
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size ? size : 1);
    if (!::GetTokenInformation(token, TokenUser, buffer.data(), size, &size))
        return {};
    return buffer;
}
}

CAdminOnly::CAdminOnly()
{
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdminOnly, SDDL_REVISION_1, &m_descriptor, nullptr)) {
        m_attributes.nLength = sizeof m_attributes;
        m_attributes.lpSecurityDescriptor = m_descriptor;
        m_attributes.bInheritHandle = FALSE;
    }
}

CAdminOnly::~CAdminOnly()
{
    if (m_descriptor)
        ::LocalFree(m_descriptor);
}

SECURITY_ATTRIBUTES* CAdminOnly::Attributes()
{
    return m_descriptor ? &m_attributes : nullptr;
}

std::wstring OthersMayChange(PSECURITY_DESCRIPTOR descriptor, PSID runningUser)
{
    PSID owner = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    PACL dacl = nullptr;
    if (!descriptor || !::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
        !::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted))
        return L"its access list cannot be read";
    if (!Trusted(owner, runningUser))
        return L"it is owned by " + SidText(owner);
    if (!present || !dacl)
        return L"it has no access list: everybody may change it";
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        ACE_HEADER* header = nullptr;
        if (!::GetAce(dacl, index, reinterpret_cast<void**>(&header)))
            return L"its access list cannot be read";
        // Entries only for what is made inside, and denials, give nobody a right on the object.
        if ((header->AceFlags & INHERIT_ONLY_ACE) || header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE ||
                header->AceType == SYSTEM_AUDIT_ACE_TYPE)
                continue;
            // Object and callback entries: what they allow cannot be told here.
            return L"its access list holds an entry this program cannot judge";
        }
        const ACCESS_ALLOWED_ACE* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
        PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        // OWNER RIGHTS gives the owner's rights to the owner, who is trusted already.
        if ((allowed->Mask & kChanges) && !Trusted(sid, runningUser) && !::IsWellKnownSid(sid, WinCreatorOwnerRightsSid))
            return SidText(sid) + L" may change it";
    }
    return std::wstring();
}

std::wstring OthersMayChange(const std::wstring& path)
{
    CHandle object(::CreateFileW(LongPath(path).c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!object)
        return L"it cannot be opened (error " + std::to_wstring(::GetLastError()) + L")";
    FileIdentity identity;
    DWORD attributes = 0;
    if (!IdentityOf(object, identity, &attributes) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        _wcsicmp(FinalPathOf(object).c_str(), path.c_str()) != 0)
        return L"it is a link, or a link leads to it";
    return OthersMayChange(object);
}

std::wstring OthersMayChange(HANDLE object)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
                          nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return L"its access list cannot be read";
    CLocalMemory<void> owner(descriptor);
    static const std::vector<BYTE> user = RunningUser();
    return OthersMayChange(descriptor, user.empty() ? nullptr : reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid);
}

bool HoldAdminOnly(const std::wstring& path, DWORD access, CHandle& held, std::wstring& why)
{
    // Nobody may write it, rename it or delete it while it is held.
    held.Reset(::CreateFileW(LongPath(path).c_str(), access | READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!held) {
        why = L"it cannot be opened (error " + std::to_wstring(::GetLastError()) + L")";
        return false;
    }
    FileIdentity identity;
    DWORD attributes = 0;
    const std::wstring full = FullPathName(path);
    if (!IdentityOf(held, identity, &attributes) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        _wcsicmp(FinalPathOf(held).c_str(), full.c_str()) != 0) {
        held.Close();
        why = L"it is a link, or a link leads to it";
        return false;
    }
    why = OthersMayChange(static_cast<HANDLE>(held));
    if (!why.empty()) {
        held.Close();
        return false;
    }
    return true;
}

std::wstring AccessOf(HANDLE object)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
                          nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return std::wstring();
    CLocalMemory<void> owner(descriptor);
    wchar_t* text = nullptr;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr))
        return std::wstring();
    CLocalMemory<wchar_t> ownText(text);
    return text;
}

bool OthersCouldChange(const std::wstring& sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (sddl.empty() || !::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return true;
    CLocalMemory<void> owner(descriptor);
    static const std::vector<BYTE> user = RunningUser();
    return !OthersMayChange(descriptor, user.empty() ? nullptr : reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid).empty();
}

bool MakeAdminOnly(HANDLE file)
{
    CAdminOnly adminOnly;
    SECURITY_ATTRIBUTES* attributes = adminOnly.Attributes();
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!attributes || !::GetSecurityDescriptorDacl(attributes->lpSecurityDescriptor, &present, &dacl, &defaulted))
        return false;
    return ::SetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                             nullptr, dacl, nullptr) == ERROR_SUCCESS;
}
