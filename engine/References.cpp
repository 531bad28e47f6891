// Leftovers by reference.
#include "References.h"
#include "KeyNames.h"
#include "KlarnEngine.h"
#include "RegKey.h"
#include "RootKeys.h"
#include <cwctype>
#include <map>
#include <set>

namespace {
const wchar_t* const kUninstallValues[] = { L"DisplayName", L"Publisher", L"InstallLocation" };
const wchar_t* const kFileExtensions[] = { L".exe", L".dll", L".ocx", L".cpl", L".sys", L".tlb", L".olb", L".ax" };

// A string value (REG_SZ or REG_EXPAND_SZ).
bool ReadString(HKEY key, const wchar_t* name, std::wstring& text)
{
    DWORD type = 0;
    std::vector<BYTE> data;
    if (ReadValueBytes(key, name, type, data) != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    text.assign(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return !text.empty();
}

std::wstring Parent(const std::wstring& path, int levels = 1)
{
    std::wstring parent = path;
    for (int i = 0; i < levels; ++i) {
        const size_t backslash = parent.rfind(L'\\');
        parent = backslash == std::wstring::npos ? std::wstring() : parent.substr(0, backslash);
    }
    return parent;
}

std::wstring LastName(const std::wstring& path)
{
    const size_t backslash = path.rfind(L'\\');
    return backslash == std::wstring::npos ? path : path.substr(backslash + 1);
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

// The references of one place, grouped by the key they speak for, in the order the walk met them.
std::vector<std::vector<const WalkReference*>> Grouped(const std::vector<WalkReference>& references, KeyPlace place)
{
    std::vector<std::vector<const WalkReference*>> groups;
    std::map<std::wstring, size_t> index;
    for (const WalkReference& reference : references) {
        if (reference.place != place)
            continue;
        const std::wstring key = Lowered(reference.key.c_str(), reference.key.size());
        auto found = index.find(key);
        if (found == index.end()) {
            found = index.emplace(key, groups.size()).first;
            groups.emplace_back();
        }
        groups[found->second].push_back(&reference);
    }
    return groups;
}

bool OpenFull(const std::wstring& fullPath, CRegKeyOwner& key)
{
    std::wstring below;
    const HKEY root = SplitFullPath(fullPath, below);
    return OpenKeyExact(root, below.c_str(), KEY_QUERY_VALUE, key) == ERROR_SUCCESS;
}

struct FoundClass
{
    std::wstring guid;     // lowercase
    std::wstring key;
    std::wstring reason;
    std::wstring keyword;
};
}

bool ReadsReferences(KeyPlace place)
{
    return place == kServerKey || place == kTypeLibFile || place == kProxyKey || place == kUninstallEntry ||
           place == kApprovedKey;
}

void ReadReferences(HKEY key, const std::wstring& path, KeyPlace place,
                    const std::function<void(const WalkReference&)>& add)
{
    std::wstring data;
    switch (place) {
    case kServerKey:
    case kProxyKey:
        if (ReadString(key, nullptr, data))
            add({ place, Parent(path), LastName(path), data });
        break;
    case kTypeLibFile:
        // TypeLib\{library}\<version>\<locale>\win32
        if (ReadString(key, nullptr, data))
            add({ place, Parent(path, 3), LastName(path), data });
        break;
    case kUninstallEntry:
        for (const wchar_t* name : kUninstallValues)
            if (ReadString(key, name, data))
                add({ place, path, name, data });
        break;
    case kApprovedKey:
        add({ place, path, std::wstring(), std::wstring() });
        break;
    default:
        break;
    }
}

std::wstring ServerFile(const std::wstring& data)
{
    std::wstring text = data;
    if (text.find(L'%') != std::wstring::npos) {
        const DWORD size = ::ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
        std::vector<wchar_t> expanded(size + 1);
        if (size > 0 && ::ExpandEnvironmentStringsW(text.c_str(), expanded.data(), size + 1) > 0)
            text = expanded.data();
    }
    const size_t start = text.find_first_not_of(L' ');
    text = start == std::wstring::npos ? std::wstring() : text.substr(start);
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
            if (after == lower.size() || lower[after] == L' ') {
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

std::vector<ReferenceFinding> FindByReference(const std::vector<WalkReference>& references,
                                              const std::vector<std::wstring>& lowerKeywords)
{
    std::vector<ReferenceFinding> findings;
    std::vector<FoundClass> classes;
    std::map<std::wstring, size_t> classByGuid;

    // Classes whose server file lies where the product was, or is named after it.
    for (const auto& group : Grouped(references, kServerKey)) {
        const std::wstring guid = LastName(group[0]->key);
        if (!IsGuid(guid))
            continue;
        for (const WalkReference* server : group) {
            const std::wstring file = ServerFile(server->data);
            const std::wstring keyword = CKlarnEngine::MatchingKeyword(file, lowerKeywords);
            if (keyword.empty())
                continue;
            const FoundClass found = { Lowered(guid.c_str(), guid.size()), group[0]->key, server->name + L" = " + file,
                                       keyword };
            classByGuid.emplace(found.guid, classes.size());
            classes.push_back(found);
            findings.push_back({ kKindKey, kSourceClass, found.key, found.reason, keyword });
            break;
        }
    }
    // Type libraries all of whose files do.
    for (const auto& group : Grouped(references, kTypeLibFile)) {
        std::wstring keyword;
        for (const WalkReference* file : group) {
            keyword = CKlarnEngine::MatchingKeyword(ServerFile(file->data), lowerKeywords);
            if (keyword.empty())
                break;
        }
        if (!keyword.empty() && IsGuid(LastName(group[0]->key)))
            findings.push_back({ kKindKey, kSourceTypeLib, group[0]->key,
                                 group[0]->name + L" = " + ServerFile(group[0]->data), keyword });
    }
    // Interfaces whose proxy is such a class.
    for (const auto& group : Grouped(references, kProxyKey)) {
        const std::wstring proxy = Lowered(group[0]->data.c_str(), group[0]->data.size());
        const auto found = classByGuid.find(proxy);
        if (found != classByGuid.end())
            findings.push_back({ kKindKey, kSourceInterface, group[0]->key, group[0]->name + L" = " + group[0]->data,
                                 classes[found->second].keyword });
    }
    // The AppIDs such classes name, in their own place's AppID container.
    std::set<std::wstring> appIds;
    for (const FoundClass& found : classes) {
        CRegKeyOwner key;
        std::wstring appId;
        if (!OpenFull(found.key, key) || !ReadString(key, L"AppID", appId) || !IsGuid(appId))
            continue;
        const std::wstring path = Parent(found.key, 2) + L"\\AppID\\" + appId;
        CRegKeyOwner appIdKey;
        if (!appIds.insert(Lowered(path.c_str(), path.size())).second || !OpenFull(path, appIdKey))
            continue;
        findings.push_back({ kKindKey, kSourceAppId, path, L"AppID of class " + LastName(found.key), found.keyword });
    }
    // Uninstall entries that name the product, its maker or its folder (the first of these that does).
    for (const auto& group : Grouped(references, kUninstallEntry)) {
        const WalkReference* naming = nullptr;
        std::wstring keyword;
        for (const wchar_t* name : kUninstallValues)
            for (const WalkReference* value : group)
                if (!naming && value->name == name) {
                    keyword = CKlarnEngine::MatchingKeyword(value->data, lowerKeywords);
                    naming = keyword.empty() ? nullptr : value;
                }
        if (naming)
            findings.push_back({ kKindKey, kSourceUninstall, naming->key, naming->name + L" = " + naming->data, keyword });
    }
    // The approvals of such classes: the value alone goes, not the key of all approvals.
    for (const auto& group : Grouped(references, kApprovedKey)) {
        CRegKeyOwner key;
        if (classes.empty() || !OpenFull(group[0]->key, key))
            continue;
        std::vector<wchar_t> name(16384);
        for (DWORD index = 0;; ++index) {
            DWORD length = static_cast<DWORD>(name.size());
            if (::RegEnumValueW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            const std::wstring valueName(name.data(), length);
            const auto found = classByGuid.find(Lowered(valueName.c_str(), valueName.size()));
            if (found != classByGuid.end())
                findings.push_back({ kKindValue, kSourceApproval, group[0]->key + L"\\" + valueName,
                                     L"approved class: " + classes[found->second].reason, classes[found->second].keyword });
        }
    }
    return findings;
}
