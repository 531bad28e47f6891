// The real registry of the test prefix: keys, values, security, links, hidden names, exports.
#include "TestSupport.h"
#include "../../engine/registry/Constants.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <sddl.h>
#include <winternl.h>

namespace kt {

bool CreateKey(HKEY root, const std::string& path)
{
    return CreateKeyW(root, Widen(path));
}

bool KeyExists(HKEY root, const std::string& path)
{
    HKEY key = nullptr;
    LONG result = RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, &key);
    if (result == ERROR_SUCCESS)
        RegCloseKey(key);
    // A key that denies reading still exists.
    return result == ERROR_SUCCESS || result == ERROR_ACCESS_DENIED;
}

bool SetStringValue(HKEY root, const std::string& path, const char* name, const char* data)
{
    return RegSetKeyValueA(root, path.c_str(), name, REG_SZ, data, static_cast<DWORD>(strlen(data) + 1)) ==
           ERROR_SUCCESS;
}

bool ValueExists(HKEY root, const std::string& path, const char* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    LONG result = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

namespace {
PSECURITY_DESCRIPTOR Descriptor(const char* sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr);
    return descriptor;
}

typedef NTSTATUS(NTAPI* NtKeyProc)(HANDLE);
typedef NTSTATUS(NTAPI* NtCreateKeyProc)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, ULONG, PUNICODE_STRING, ULONG,
                                         PULONG);
typedef NTSTATUS(NTAPI* NtOpenKeyProc)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES);
typedef NTSTATUS(NTAPI* NtQueryKeyProc)(HANDLE, int, PVOID, ULONG, PULONG);

template <class F> F Native(const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), name)));
}

// Each key opened as itself, relative to its parent's handle (paths of any length, links and
// names that hold a NUL); keys that deny access are opened up first so that nothing stays.
bool DeleteTreeAt(HANDLE key)
{
    PSECURITY_DESCRIPTOR open = Descriptor("D:(A;;KA;;;WD)");
    for (;;) {
        BYTE buffer[1024];
        ULONG got = 0;
        // KeyBasicInformation of subkey 0: its name with the exact length, NULs included.
        if (Native<NTSTATUS(NTAPI*)(HANDLE, ULONG, int, PVOID, ULONG, PULONG)>("NtEnumerateKey")(
                key, 0, 0, buffer, sizeof buffer, &got) != 0)
            break;
        ULONG nameLength = *reinterpret_cast<ULONG*>(buffer + 12);
        UNICODE_STRING name = { static_cast<USHORT>(nameLength), static_cast<USHORT>(nameLength),
                                reinterpret_cast<PWSTR>(buffer + 16) };
        OBJECT_ATTRIBUTES attributes;
        InitializeObjectAttributes(&attributes, &name, OBJ_OPENLINK, key, nullptr);
        HANDLE child = nullptr;
        if (Native<NtOpenKeyProc>("NtOpenKey")(&child, WRITE_DAC, &attributes) == 0) {
            RegSetKeySecurity(static_cast<HKEY>(child), DACL_SECURITY_INFORMATION, open);
            CloseHandle(child);
        }
        if (Native<NtOpenKeyProc>("NtOpenKey")(&child, KEY_ALL_ACCESS, &attributes) != 0)
            break;
        bool deleted = DeleteTreeAt(child);
        CloseHandle(child);
        if (!deleted)
            break;
    }
    LocalFree(open);
    return Native<NtKeyProc>("NtDeleteKey")(key) == 0;
}
}

void DeleteTreeW(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), REG_OPTION_OPEN_LINK, WRITE_DAC, &key) == ERROR_SUCCESS) {
        PSECURITY_DESCRIPTOR open = Descriptor("D:(A;;KA;;;WD)");
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, open);
        LocalFree(open);
        RegCloseKey(key);
    }
    if (RegOpenKeyExW(root, path.c_str(), REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    DeleteTreeAt(key);
    RegCloseKey(key);
}

void DeleteTree(HKEY root, const std::string& path)
{
    DeleteTreeW(root, Widen(path));
}

std::wstring Widen(const std::string& text)
{
    std::wstring wide(text.size() + 1, L'\0');
    int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
    wide.resize(length > 0 ? static_cast<size_t>(length - 1) : 0);
    return wide;
}

std::string Utf8(const std::wstring& text)
{
    std::string narrow(text.size() * 4 + 1, '\0');
    int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &narrow[0],
                                     static_cast<int>(narrow.size()), nullptr, nullptr);
    narrow.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return narrow;
}

bool CreateKeyW(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool KeyExistsW(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    LONG result = RegOpenKeyExW(root, path.c_str(), REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE, &key);
    if (result == ERROR_SUCCESS)
        RegCloseKey(key);
    return result == ERROR_SUCCESS || result == ERROR_ACCESS_DENIED;
}

bool CreateLink(HKEY root, const std::wstring& path, const std::wstring& target)
{
    HKEY targetKey = nullptr;
    if (RegOpenKeyExW(root, target.c_str(), 0, KEY_READ, &targetKey) != ERROR_SUCCESS)
        return false;
    BYTE buffer[2048];
    ULONG got = 0;
    // KeyNameInformation: the target's native path, which is what a link holds.
    NTSTATUS status = Native<NtQueryKeyProc>("NtQueryKey")(targetKey, 3, buffer, sizeof buffer, &got);
    RegCloseKey(targetKey);
    if (status != 0)
        return false;
    ULONG length = *reinterpret_cast<ULONG*>(buffer);
    return CreateRawLink(root, path, std::wstring(reinterpret_cast<const wchar_t*>(buffer + 4), length / sizeof(wchar_t)));
}

bool CreateRawLink(HKEY root, const std::wstring& path, const std::wstring& target)
{
    HKEY link = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS | KEY_CREATE_LINK,
                        nullptr, &link, nullptr) != ERROR_SUCCESS)
        return false;
    LONG result = RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.data()),
                                 static_cast<DWORD>(target.size() * sizeof(wchar_t)));
    RegCloseKey(link);
    return result == ERROR_SUCCESS;
}

bool CreateNulNamedKey(HKEY root, const std::wstring& parent, const std::wstring& rest)
{
    HKEY parentKey = nullptr;
    if (RegOpenKeyExW(root, parent.c_str(), 0, KEY_ALL_ACCESS, &parentKey) != ERROR_SUCCESS)
        return false;
    std::wstring name = std::wstring(1, L'\0') + rest;
    UNICODE_STRING native = { static_cast<USHORT>(name.size() * 2), static_cast<USHORT>(name.size() * 2), &name[0] };
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &native, 0, parentKey, nullptr);
    HANDLE key = nullptr;
    NTSTATUS status = Native<NtCreateKeyProc>("NtCreateKey")(&key, KEY_ALL_ACCESS, &attributes, 0, nullptr, 0, nullptr);
    RegCloseKey(parentKey);
    if (status != 0)
        return false;
    CloseHandle(key);
    return true;
}

bool SetKeyDacl(HKEY root, const std::string& path, const char* sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    HKEY key = nullptr;
    bool ok = RegOpenKeyExA(root, path.c_str(), 0, WRITE_DAC, &key) == ERROR_SUCCESS;
    if (ok) {
        ok = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
        RegCloseKey(key);
    }
    LocalFree(descriptor);
    return ok;
}

bool DenyRead(HKEY root, const std::string& path)
{
    return SetKeyDacl(root, path, "D:(D;;KR;;;WD)(A;;KA;;;WD)");
}

bool DenyWrite(HKEY root, const std::string& path)
{
    // Setting values and creating subkeys only: KEY_WRITE would also deny READ_CONTROL,
    // which reading needs too.
    return SetKeyDacl(root, path, "D:(D;;0x6;;;WD)(A;;KA;;;WD)");
}

bool AllowAll(HKEY root, const std::string& path)
{
    return SetKeyDacl(root, path, "D:(A;;KA;;;WD)");
}

std::vector<std::wstring> ExportSections(const char* root)
{
    std::string file = ScratchDir("export") + "export.reg";
    Run("regedit.exe /E \"" + file + "\" " + root);
    std::wstring text = ReadUtf16(file);
    std::vector<std::wstring> sections;
    for (size_t at = 0; (at = text.find(L"\r\n[", at)) != std::wstring::npos; at += 2) {
        size_t end = text.find(L"\r\n\r\n", at + 2);
        sections.push_back(text.substr(at + 2, end == std::wstring::npos ? std::wstring::npos : end - at - 2));
    }
    return sections;
}

namespace {
void AppendTree(HKEY key, const std::string& path, std::string& text)
{
    text += "[" + path + "]\n";
    wchar_t name[16384];
    std::vector<BYTE> data(1 << 16);
    // By name: a value's place among its key's values means nothing to Windows, and one put back
    // comes last.
    std::vector<std::string> values;
    for (DWORD index = 0;; ++index) {
        DWORD length = 16384, size = static_cast<DWORD>(data.size()), type = 0;
        if (RegEnumValueW(key, index, name, &length, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
            break;
        char hex[4];
        std::string line = Utf8(std::wstring(name, length)) + " " + std::to_string(type) + " ";
        for (DWORD i = 0; i < size; ++i) {
            snprintf(hex, sizeof hex, "%02x", data[i]);
            line += hex;
        }
        values.push_back(line + "\n");
    }
    std::sort(values.begin(), values.end());
    for (const std::string& value : values)
        text += value;
    for (DWORD index = 0;; ++index) {
        DWORD length = 16384;
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY subkey = nullptr;
        if (RegOpenKeyExW(key, name, REG_OPTION_OPEN_LINK, KEY_READ, &subkey) != ERROR_SUCCESS) {
            text += "[" + path + "\\" + Utf8(name) + "] unreadable\n";
            continue;
        }
        AppendTree(subkey, path + "\\" + Utf8(name), text);
        RegCloseKey(subkey);
    }
}
}

std::string TreeText(HKEY root, const std::string& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, Widen(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "[" + path + "] absent\n";
    std::string text;
    AppendTree(key, path, text);
    RegCloseKey(key);
    return text;
}

ScratchKey::ScratchKey(const char* prefix)
    : m_path("Software\\" + UniqueName(prefix))
{
    EXPECT_TRUE(CreateKey(HKEY_CURRENT_USER, m_path)) << m_path;
}

ScratchKey::~ScratchKey()
{
    DeleteTree(HKEY_CURRENT_USER, m_path);
}

std::wstring ScratchKey::Below(const std::wstring& below) const
{
    return Widen(m_path) + L"\\" + below;
}

std::wstring ScratchKey::Full(const std::wstring& below) const
{
    return L"HKEY_CURRENT_USER\\" + Below(below);
}

void ScratchKey::Make(const std::string& below) const
{
    EXPECT_TRUE(CreateKey(HKEY_CURRENT_USER, Below(below))) << below;
}

void ScratchKey::Make(const std::wstring& below) const
{
    EXPECT_TRUE(CreateKeyW(HKEY_CURRENT_USER, Below(below))) << Utf8(below);
}

bool ScratchKey::Exists(const std::string& below) const
{
    return KeyExists(HKEY_CURRENT_USER, Below(below));
}

bool ScratchKey::Exists(const std::wstring& below) const
{
    return KeyExistsW(HKEY_CURRENT_USER, Below(below));
}

RunValueGuard::RunValueGuard(const char* data)
    : m_set(SetStringValue(HKEY_LOCAL_MACHINE, Utf8(kRunKeyPath), kTrayKeyword, data))
{
}

RunValueGuard::~RunValueGuard()
{
    HKEY run = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKeyPath, 0, KEY_SET_VALUE, &run) == ERROR_SUCCESS) {
        RegDeleteValueW(run, kTrayValueName);
        RegCloseKey(run);
    }
}

bool SetMultiString(HKEY root, const std::string& path, const char* name, const std::vector<std::string>& entries)
{
    std::wstring data;
    for (const std::string& entry : entries)
        data.append(Widen(entry)).append(1, L'\0');
    data.append(1, L'\0');
    return RegSetKeyValueW(root, Widen(path).c_str(), Widen(name).c_str(), REG_MULTI_SZ, data.data(),
                           static_cast<DWORD>(data.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

std::vector<std::string> MultiString(HKEY root, const std::string& path, const char* name)
{
    std::vector<std::string> entries;
    wchar_t data[4096] = L"";
    DWORD size = sizeof data - 2 * sizeof(wchar_t);
    if (RegGetValueW(root, Widen(path).c_str(), Widen(name).c_str(), RRF_RT_REG_MULTI_SZ, nullptr, data, &size) !=
        ERROR_SUCCESS)
        return entries;
    for (const wchar_t* at = data; *at; at += wcslen(at) + 1)
        entries.push_back(Utf8(at));
    return entries;
}

namespace {
void EnablePrivilege(const char* name)
{
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        TOKEN_PRIVILEGES privileges = {};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid);
        AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr);
        CloseHandle(token);
    }
}
}

bool WriteTreeHive(const std::string& file, const std::vector<std::string>& groups, int leaves)
{
    // Wine's own text format: a header, then one section per key, its path below the hive's top
    // with doubled backslashes; keys above a section are made with it.
    std::string text = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Tree\n\n#arch=win64\n\n";
    for (const std::string& group : groups)
        for (int leaf = 0; leaf < leaves; ++leaf)
            text += "[" + group + "\\\\leaf" + std::to_string(leaf) + "] 0\n\n";
    return WriteFileBytes(file, text);
}

MountedTree::MountedTree(HKEY root, const std::string& path, const std::string& file, const std::vector<std::string>& groups,
                         int leaves)
    : m_root(root), m_path(path)
{
    EnablePrivilege("SeBackupPrivilege");
    EnablePrivilege("SeRestorePrivilege");
    m_loaded = RegLoadKeyA(root, path.c_str(), file.c_str()) == ERROR_SUCCESS;
    if (m_loaded)
        return;
    HKEY top = nullptr;
    RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &top, nullptr);
    for (const std::string& name : groups) {
        HKEY group = nullptr;
        RegCreateKeyExA(top, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &group, nullptr);
        for (int i = 0; i < leaves; ++i) {
            HKEY leaf = nullptr;
            RegCreateKeyExA(group, ("leaf" + std::to_string(i)).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &leaf, nullptr);
            RegCloseKey(leaf);
        }
        RegCloseKey(group);
    }
    RegCloseKey(top);
}

MountedTree::~MountedTree()
{
    if (!m_loaded || RegUnLoadKeyA(m_root, m_path.c_str()) != ERROR_SUCCESS)
        DeleteTree(m_root, m_path);
}

bool SaveHive(HKEY root, const std::string& path, const std::string& file)
{
    EnablePrivilege("SeBackupPrivilege");
    for (size_t at = file.find('\\', 3); at != std::string::npos; at = file.find('\\', at + 1))
        CreateDirectoryA(file.substr(0, at).c_str(), nullptr);
    DeleteFileA(file.c_str());
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    const LONG saved = RegSaveKeyA(key, file.c_str(), nullptr);
    RegCloseKey(key);
    return saved == ERROR_SUCCESS;
}

}  // namespace kt
