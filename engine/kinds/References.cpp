// Leftovers by reference.
#include "References.h"
#include "../system/FileEvidence.h"
#include "../system/Installation.h"
#include "../registry/KeyNames.h"
#include "../registry/RegKey.h"
#include "../registry/RootKeys.h"
#include "../search/Said.h"
#include "../../resources/resource.h"
#include <cwctype>
#include <map>
#include <set>

namespace {
const wchar_t* const kUninstallNames[] = { L"DisplayName", L"Publisher", L"InstallLocation" };
const wchar_t* const kUninstallValues[] = { L"DisplayName", L"Publisher", L"InstallLocation", L"UninstallString",
                                            L"QuietUninstallString", L"ParentKeyName" };
const wchar_t kHandlerName[] = L"InprocHandler32";
// This program's own entry in the list of programs is never a leftover.
const wchar_t kOwnDisplayName[] = L"velmora klarner";
const std::wstring kNoUninstaller = Said(IDS_REASON_NO_UNINSTALLER);

bool ReadString(HKEY key, const wchar_t* name, std::wstring& text)
{
    return ReadStringValue(key, name, text);
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

typedef std::vector<const WalkNote*> Group;

// The references of one place, grouped by the key they speak for, in the order the walk met them.
std::vector<Group> Grouped(const std::vector<WalkNote>& references, KeyPlace place)
{
    std::vector<Group> groups;
    std::map<std::wstring, size_t> index;
    for (const WalkNote& reference : references) {
        if (reference.place != place)
            continue;
        const std::wstring key = Lowered(reference.key);
        auto found = index.find(key);
        if (found == index.end()) {
            found = index.emplace(key, groups.size()).first;
            groups.emplace_back();
        }
        groups[found->second].push_back(&reference);
    }
    return groups;
}

bool OpenFull(const std::wstring& fullPath, CRegKeyOwner& key, REGSAM access = KEY_QUERY_VALUE)
{
    std::wstring below;
    const HKEY root = SplitFullPath(fullPath, below);
    return OpenKeyExact(root, below.c_str(), access, key) == ERROR_SUCCESS;
}

// The files of one registration (a class's servers, a type library's files), each with the name
// that named it. The registration is gone when all of them are: each told, none in the Windows
// folder, at least one in the product's place, and none of them there any more. A handler that
// is Windows' own (ole32.dll for most local servers) is no server of the product and is left out.
bool AllServersGone(const Group& group, const ReferenceContext& context, bool handlersMayBeSystem,
                    const WalkNote*& evidence, FileEvidence& evidenceFile)
{
    std::vector<std::pair<const WalkNote*, std::wstring>> files;
    const std::wstring owner = context.installation.OwnerOf(group[0]->key);
    bool mentions = false, allTold = true;
    for (const WalkNote* server : group) {
        bool told = false;
        files.emplace_back(server, ExpandedFile(server->data, owner, context.installation, told));
        allTold = allTold && told;
        mentions = mentions || MentionsKeyword(files.back().second, context.lowerKeywords);
    }
    // Nothing names the product: no look at the file system at all.
    if (!mentions || !allTold)
        return false;
    std::vector<FileEvidence> examined;
    for (const auto& file : files) {
        FileEvidence look = Examine(file.second, true, context.installation, context.lowerKeywords);
        const bool handler = _wcsicmp(file.first->name.c_str(), kHandlerName) == 0;
        if (handlersMayBeSystem && handler && (!look.told || look.system))
            continue;
        if (!look.told || look.system)
            return false;
        if (!look.keyword.empty() && !evidence) {
            evidence = file.first;
            evidenceFile = look;
        }
        examined.push_back(look);
    }
    if (!evidence)
        return false;
    for (const FileEvidence& look : examined)
        if (!context.installation.FileGone(look.normalized))
            return false;
    return true;
}

struct FoundClass
{
    std::wstring guid;     // lowercase
    std::wstring key;
    std::wstring reason;
    std::wstring keyword;
};

struct Decisions
{
    std::vector<ReferenceFinding> findings;
    std::vector<FoundClass> classes;
    std::map<std::wstring, size_t> classByGuid;
    std::set<std::wstring> classKeys;    // lowercase full paths of the classes that are findings
};

// Classes whose server files lay in the product's place and are all gone.
void FindClasses(const std::vector<WalkNote>& references, const ReferenceContext& context, Decisions& out)
{
    for (const Group& group : Grouped(references, kServerKey)) {
        const std::wstring guid = LastName(group[0]->key);
        const WalkNote* evidence = nullptr;
        FileEvidence file;
        if (!IsGuid(guid) || !AllServersGone(group, context, true, evidence, file))
            continue;
        const FoundClass found = { Lowered(guid), group[0]->key, Said(IDS_REASON_FILE_MISSING, { evidence->name, file.file }),
                                   file.keyword };
        out.classByGuid.emplace(found.guid, out.classes.size());
        out.classKeys.insert(Lowered(found.key));
        out.classes.push_back(found);
        out.findings.push_back({ 'K', kSourceClass, found.key, found.reason, found.keyword });
    }
}

// Type libraries whose files lay in the product's place and are all gone.
void FindTypeLibraries(const std::vector<WalkNote>& references, const ReferenceContext& context, Decisions& out)
{
    for (const Group& group : Grouped(references, kTypeLibFile)) {
        const WalkNote* evidence = nullptr;
        FileEvidence file;
        if (IsGuid(LastName(group[0]->key)) && AllServersGone(group, context, false, evidence, file))
            out.findings.push_back({ 'K', kSourceTypeLib, group[0]->key, Said(IDS_REASON_FILE_MISSING, { evidence->name, file.file }),
                                     file.keyword });
    }
}

// Interfaces all of whose proxy/stub classes are findings: one that another class still serves stays.
void FindInterfaces(const std::vector<WalkNote>& references, Decisions& out)
{
    for (const Group& group : Grouped(references, kProxyKey)) {
        const FoundClass* proxy = nullptr;
        bool allFound = true;
        for (const WalkNote* named : group) {
            const auto found = out.classByGuid.find(Lowered(named->data));
            allFound = allFound && found != out.classByGuid.end();
            if (allFound && !proxy)
                proxy = &out.classes[found->second];
        }
        if (allFound && proxy)
            out.findings.push_back({ 'K', kSourceInterface, group[0]->key, group[0]->name + L" = " + group[0]->data,
                                     proxy->keyword });
    }
}

// The AppIDs such classes name, in their own place's AppID container, unless a class that is no
// finding names the same AppID: it still needs it. Read only when a class that is a finding names
// one: every other class of its container is asked then, and a search without such a class never
// reads an AppID value at all.
void FindAppIds(Decisions& out)
{
    std::map<std::wstring, std::set<std::wstring>> neededIn;  // CLSID container (lowercase) -> AppIDs other classes name
    std::set<std::wstring> taken;
    for (const FoundClass& found : out.classes) {
        CRegKeyOwner classKey;
        std::wstring appId;
        if (!OpenFull(found.key, classKey) || !ReadString(classKey, L"AppID", appId) || !IsGuid(appId))
            continue;
        const std::wstring container = Parent(found.key);
        auto needed = neededIn.find(Lowered(container));
        if (needed == neededIn.end()) {
            needed = neededIn.emplace(Lowered(container), std::set<std::wstring>()).first;
            CRegKeyOwner classes;
            if (OpenFull(container, classes, KEY_READ))
                for (const std::wstring& name : SubkeyNames(classes)) {
                    CRegKeyOwner other;
                    std::wstring otherAppId;
                    if (!out.classKeys.count(Lowered(container + L"\\" + name)) &&
                        OpenSubKey(classes, name.c_str(), KEY_QUERY_VALUE, other) == ERROR_SUCCESS &&
                        ReadString(other, L"AppID", otherAppId))
                        needed->second.insert(Lowered(otherAppId));
                }
        }
        const std::wstring path = Parent(found.key, 2) + L"\\AppID\\" + appId;
        CRegKeyOwner key;
        if (needed->second.count(Lowered(appId)) || !taken.insert(Lowered(path)).second || !OpenFull(path, key))
            continue;
        out.findings.push_back({ 'K', kSourceAppId, path, Said(IDS_REASON_APPID, { LastName(found.key) }), found.keyword });
    }
}

const WalkNote* Value(const Group& group, const wchar_t* name)
{
    for (const WalkNote* value : group)
        if (_wcsicmp(value->name.c_str(), name) == 0)
            return value;
    return nullptr;
}

// Why an uninstall entry's uninstaller is gone, or empty when it is not known to be.
std::wstring UninstallerGone(const Group& group, const std::wstring& owner, const ReferenceContext& context)
{
    const WalkNote* command = Value(group, L"UninstallString");
    if (!command)
        command = Value(group, L"QuietUninstallString");
    if (!command)
        return std::wstring();
    const std::wstring code = WindowsInstallerCode(command->data);
    if (!code.empty()) {
        // Windows Installer answers for this account and the machine only.
        const bool askable = owner.empty() || _wcsicmp(owner.c_str(), context.installation.OwnerOf(L"HKEY_CURRENT_USER").c_str()) == 0;
        if (!context.askWindowsInstaller || !askable || WindowsInstallerKnows(code))
            return std::wstring();
        return Said(IDS_REASON_UNKNOWN_PRODUCT, { code });
    }
    const FileEvidence file = LookAtFile(command->data, owner, context.installation, context.lowerKeywords);
    if (!file.told || file.system || PathBelow(file.normalized, context.programFolder) ||
        !context.installation.FileGone(file.normalized))
        return std::wstring();
    return Said(IDS_REASON_FILE_MISSING, { command->name, file.file });
}

// Whether the entry's install folder, where it names one, is gone (as far as the file system says).
bool InstallLocationGone(const Group& group, const std::wstring& owner, const ReferenceContext& context)
{
    const WalkNote* location = Value(group, L"InstallLocation");
    if (!location)
        return true;
    const FileEvidence folder = LookAtFile(L"\"" + location->data + L"\"", owner, context.installation, context.lowerKeywords);
    return folder.told && !folder.system && !PathAtOrBelow(folder.normalized, context.programFolder) &&
           !PathAtOrBelow(context.programFolder, folder.normalized) && context.installation.FileGone(folder.normalized);
}

// Whether an entry with no uninstaller at all is an orphan: nothing can remove it any more, and
// nothing shows its product is there. Windows Installer is asked about a key named like a product
// code; any other name it cannot be asked about.
bool NothingCanUninstall(const Group& group, const std::wstring& owner, const ReferenceContext& context)
{
    if (Value(group, L"UninstallString") || Value(group, L"QuietUninstallString"))
        return false;
    const std::wstring name = LastName(group[0]->key);
    const bool askable = owner.empty() || _wcsicmp(owner.c_str(), context.installation.OwnerOf(L"HKEY_CURRENT_USER").c_str()) == 0;
    if (IsGuid(name) && (!context.askWindowsInstaller || !askable || WindowsInstallerKnows(name)))
        return false;
    return InstallLocationGone(group, owner, context);
}

// Uninstall entries that name the product (its name, its maker, a folder in its place) and whose
// uninstaller and install folder are gone, or that have no uninstaller at all and nothing that
// knows the product: orphans, not namesakes. An entry that is a part of another (ParentKeyName,
// SystemComponent) follows its parent: an orphan only when the parent is one or is gone.
void FindUninstallEntries(const std::vector<WalkNote>& references, const ReferenceContext& context, Decisions& out)
{
    struct Entry
    {
        const Group* group;
        const WalkNote* naming;
        std::wstring keyword, reason, parent;
        bool part = false;
    };
    std::vector<Entry> entries;
    std::set<std::wstring> orphans;  // lowercase full paths
    const std::vector<Group> groups = Grouped(references, kUninstallEntry);
    std::set<std::wstring> known;  // every entry the walk read, lowercase
    for (const Group& group : groups)
        known.insert(Lowered(group[0]->key));
    for (const Group& group : groups) {
        const WalkNote* displayName = Value(group, L"DisplayName");
        if (displayName && Lowered(displayName->data).compare(0, wcslen(kOwnDisplayName), kOwnDisplayName) == 0)
            continue;
        const std::wstring owner = context.installation.OwnerOf(group[0]->key);
        const WalkNote* naming = nullptr;
        std::wstring keyword;
        for (const wchar_t* name : kUninstallNames) {
            const WalkNote* value = Value(group, name);
            if (naming || !value)
                continue;
            if (_wcsicmp(name, L"InstallLocation") == 0) {
                // A folder names the product only below a root, not by a profile or drive on the way.
                if (MentionsKeyword(value->data, context.lowerKeywords))
                    keyword = LookAtFile(L"\"" + value->data + L"\"", owner, context.installation, context.lowerKeywords).keyword;
            } else {
                const std::wstring lower = Lowered(value->data);
                for (const std::wstring& candidate : context.lowerKeywords)
                    if (keyword.empty() && lower.find(candidate) != std::wstring::npos)
                        keyword = candidate;
            }
            naming = keyword.empty() ? nullptr : value;
        }
        if (!naming)
            continue;
        Entry entry = { &group, naming, keyword, std::wstring(), std::wstring() };
        const WalkNote* parent = Value(group, L"ParentKeyName");
        entry.parent = parent ? parent->data : std::wstring();
        entry.part = parent || Value(group, L"SystemComponent");
        const std::wstring gone = UninstallerGone(group, owner, context);
        if (!gone.empty() && InstallLocationGone(group, owner, context))
            entry.reason = Said(IDS_REASON_UNINSTALLER_GONE, { naming->name, naming->data, Nested(gone) });
        else if (NothingCanUninstall(group, owner, context))
            entry.reason = kNoUninstaller;
        if (entry.reason.empty())
            continue;
        if (!entry.part || entry.reason != kNoUninstaller)
            orphans.insert(Lowered(group[0]->key));
        entries.push_back(entry);
    }
    for (const Entry& entry : entries) {
        const std::wstring key = (*entry.group)[0]->key;
        if (entry.part && entry.reason == kNoUninstaller) {
            // A part whose parent has no entry of its own is no orphan here: nothing says so.
            const std::wstring parentKey = Parent(key) + L"\\" + entry.parent;
            CRegKeyOwner parent;
            const bool parentGone = !entry.parent.empty() && !known.count(Lowered(parentKey)) && !OpenFull(parentKey, parent);
            if (entry.parent.empty() || (!parentGone && !orphans.count(Lowered(parentKey))))
                continue;
        }
        out.findings.push_back({ 'K', kSourceUninstall, key, entry.reason, entry.keyword });
    }
}

// The approvals of such classes: the value alone goes, not the key of all approvals.
void FindApprovals(const std::vector<WalkNote>& references, Decisions& out)
{
    for (const Group& group : Grouped(references, kApprovedKey)) {
        CRegKeyOwner key;
        if (out.classes.empty() || !OpenFull(group[0]->key, key))
            continue;
        std::vector<wchar_t> name(16384);
        for (DWORD index = 0;; ++index) {
            DWORD length = static_cast<DWORD>(name.size());
            if (::RegEnumValueW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            const std::wstring valueName(name.data(), length);
            const auto found = out.classByGuid.find(Lowered(valueName));
            if (found != out.classByGuid.end())
                out.findings.push_back({ 'V', kSourceApproval, group[0]->key + L"\\" + valueName,
                                         Said(IDS_REASON_APPROVED_CLASS, { Nested(out.classes[found->second].reason) }),
                                         out.classes[found->second].keyword });
        }
    }
}
}

bool ReadsReferences(KeyPlace place)
{
    return place == kServerKey || place == kTypeLibFile || place == kProxyKey || place == kUninstallEntry ||
           place == kApprovedKey;
}

void ReadReferences(HKEY key, const std::wstring& path, KeyPlace place, const std::function<void(WalkNote&&)>& note)
{
    auto add = [&note](KeyPlace at, const std::wstring& of, const std::wstring& name, const std::wstring& data) {
        WalkNote read;
        read.place = at;
        read.key = of;
        read.name = name;
        read.data = data;
        note(std::move(read));
    };
    std::wstring data;
    switch (place) {
    case kServerKey:
    case kProxyKey:
        if (ReadString(key, nullptr, data))
            add(place, Parent(path), LastName(path), data);
        break;
    case kTypeLibFile:
        // TypeLib\{library}\<version>\<locale>\win32
        if (ReadString(key, nullptr, data))
            add(place, Parent(path, 3), LastName(path), data);
        break;
    case kUninstallEntry: {
        for (const wchar_t* name : kUninstallValues)
            if (ReadString(key, name, data))
                add(place, path, name, data);
        DWORD component = 0;
        if (ReadDwordValue(key, L"SystemComponent", component) && component == 1)
            add(place, path, L"SystemComponent", L"1");
        break;
    }
    case kApprovedKey:
        add(place, path, std::wstring(), std::wstring());
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
    return FileOfCommand(text);
}

std::vector<ReferenceFinding> FindByReference(const std::vector<WalkNote>& references, const ReferenceContext& context)
{
    Decisions decisions;
    FindClasses(references, context, decisions);
    FindTypeLibraries(references, context, decisions);
    FindInterfaces(references, decisions);
    FindAppIds(decisions);
    FindUninstallEntries(references, context, decisions);
    FindApprovals(references, decisions);
    return decisions.findings;
}
