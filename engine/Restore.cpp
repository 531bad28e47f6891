// Putting back what a removal pass took.
#include "Restore.h"
#include "system/AdminOnly.h"
#include "system/Installation.h"
#include "backup/FileCopies.h"
#include "system/FilterLists.h"
#include "registry/Hives.h"
#include "system/Offline.h"
#include "registry/KeyNames.h"
#include "system/PendingRenames.h"
#include "system/ProviderOrder.h"
#include "backup/RegBackup.h"
#include "registry/RegKey.h"
#include "registry/RootKeys.h"
#include "../framework/Handles.h"
#include "../report/ReportLog.h"
#include <algorithm>
#include <cwchar>
#include <set>

namespace {
const wchar_t kHeader[] = L"Windows Registry Editor Version 5.00";
const wchar_t kLinkComment[] = L"registry link ";
const wchar_t kLinkArrow[] = L" -> ";
const wchar_t kLinkTail[] = L" (a link is not exported";
const size_t kBackupLimit = 512 * 1024 * 1024;

// A quoted text of the format from `at` (on its opening quote); `at` ends behind the closing one.
bool ParseQuoted(const std::wstring& line, size_t& at, std::wstring& text)
{
    if (at >= line.size() || line[at] != L'"')
        return false;
    for (++at; at < line.size(); ++at) {
        if (line[at] == L'"') {
            ++at;
            return true;
        }
        if (line[at] == L'\\' && at + 1 < line.size())
            ++at;
        text += line[at];
    }
    return false;
}

bool ParseHexBytes(const std::wstring& text, std::vector<BYTE>& bytes)
{
    std::wstring digits;
    for (wchar_t c : text) {
        if (iswxdigit(c)) {
            digits += c;
        } else if (c == L',') {
            if (digits.size() != 2)
                return false;
            bytes.push_back(static_cast<BYTE>(wcstoul(digits.c_str(), nullptr, 16)));
            digits.clear();
        } else if (c != L'\\' && c != L' ' && c != L'\t') {
            return false;
        }
    }
    if (!digits.empty()) {
        if (digits.size() != 2)
            return false;
        bytes.push_back(static_cast<BYTE>(wcstoul(digits.c_str(), nullptr, 16)));
    }
    return true;
}

// Creates (or opens) the key at `fullPath` one name at a time, never through a registry link.
LONG CreateKeyExact(const std::wstring& fullPath, CRegKeyOwner& key)
{
    std::wstring below;
    const HKEY root = SplitFullPath(fullPath, below);
    if (!root)
        return ERROR_INVALID_PARAMETER;
    // Another installation's hive that is not loaded now: never a key of that name instead.
    const std::wstring first = below.substr(0, below.find(L'\\'));
    if (IsLoadedName(first) && !KeyExists(root, first))
        return ERROR_FILE_NOT_FOUND;
    CRegKeyOwner current;
    HKEY parent = root;
    size_t start = 0;
    while (start < below.size()) {
        size_t end = below.find(L'\\', start);
        if (end == std::wstring::npos)
            end = below.size();
        const std::wstring name = below.substr(start, end - start);
        start = end + 1;
        if (name.empty())
            continue;
        CRegKeyOwner next;
        LONG result = OpenSubKey(parent, name.c_str(), KEY_READ | KEY_WRITE, next);
        if (result == ERROR_SUCCESS && IsRegistryLink(parent, name.c_str(), next))
            return ERROR_ACCESS_DENIED;  // a link where the backup holds a key: never write through it
        if (result == ERROR_FILE_NOT_FOUND) {
            HKEY created = nullptr;
            result = ::RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &created, nullptr);
            next.Reset(created);
        }
        if (result != ERROR_SUCCESS)
            return result;
        current = std::move(next);
        parent = current;
    }
    key = std::move(current);
    return key ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

bool SetAndCheck(HKEY key, const CRestore::Value& value)
{
    if (::RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size())) !=
        ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    std::vector<BYTE> data;
    return ReadValueBytes(key, value.name.c_str(), type, data) == ERROR_SUCCESS && type == value.type && data == value.data;
}


// The data of a filter list with `entry` inserted at `index` (or at its end): the entries behind
// the list's first empty string, which Windows never reads, stay as they were.
std::vector<BYTE> WithEntryAt(const std::vector<BYTE>& data, const std::wstring& entry, size_t index)
{
    std::vector<std::wstring> entries = SplitMultiString(data);
    size_t visible = 0;
    for (const std::wstring& existing : entries)
        visible += (existing.size() + 1) * sizeof(wchar_t);
    entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(std::min(index, entries.size())), entry);
    std::vector<BYTE> joined = JoinMultiString(entries);
    if (visible < data.size() && data.size() - visible > sizeof(wchar_t)) {
        // The tail starts with the empty string that ends the list.
        joined.resize(joined.size() - sizeof(wchar_t));
        joined.insert(joined.end(), data.begin() + static_cast<std::ptrdiff_t>(visible), data.end());
    }
    return joined;
}
}

RestoredItem RestoredItemOf(const char* kind, const std::wstring& path, Outcome outcome, const std::wstring& why)
{
    RestoredItem item;
    item.kind = kind;
    item.path = path;
    item.outcome = outcome;
    item.why = why;
    return item;
}

bool ParseRegValue(const std::wstring& line, CRestore::Value& value)
{
    size_t at = 0;
    value = CRestore::Value();
    if (line.compare(0, 2, L"@=") == 0)
        at = 1;
    else if (!ParseQuoted(line, at, value.name))
        return false;
    if (at >= line.size() || line[at] != L'=')
        return false;
    const std::wstring data = line.substr(at + 1);
    if (!data.empty() && data[0] == L'"') {
        size_t quoted = 0;
        std::wstring text;
        if (!ParseQuoted(data, quoted, text) || quoted != data.size())
            return false;
        value.type = REG_SZ;
        const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
        value.data.assign(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
        return true;
    }
    if (data.compare(0, 6, L"dword:") == 0) {
        if (data.size() != 14 || data.find_first_not_of(L"0123456789abcdefABCDEF", 6) != std::wstring::npos)
            return false;
        const DWORD number = wcstoul(data.c_str() + 6, nullptr, 16);
        value.type = REG_DWORD;
        value.data.assign(reinterpret_cast<const BYTE*>(&number), reinterpret_cast<const BYTE*>(&number) + sizeof number);
        return true;
    }
    size_t bytesAt = 0;
    if (data.compare(0, 4, L"hex:") == 0) {
        value.type = REG_BINARY;
        bytesAt = 4;
    } else if (data.compare(0, 4, L"hex(") == 0) {
        const size_t close = data.find(L"):");
        if (close == std::wstring::npos || close == 4)
            return false;
        value.type = wcstoul(data.substr(4, close - 4).c_str(), nullptr, 16);
        bytesAt = close + 2;
    } else {
        return false;
    }
    return ParseHexBytes(data.substr(bytesAt), value.data);
}

bool CRestore::Open(const std::wstring& backupPath, std::wstring& why)
{
    m_backup = backupPath;
    // A backup is what an administrator writes back wherever it says: one that anybody else
    // could have written (or planted) is never used.
    // It is held from here on, so that nobody can change or replace it after it was checked.
    std::wstring others;
    if (!HoldAdminOnly(backupPath, GENERIC_READ, m_held, others)) {
        why = L"the backup may have been changed by someone else: " + others;
        return false;
    }
    const HANDLE file = m_held;
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file, &size) || size.QuadPart > static_cast<LONGLONG>(kBackupLimit)) {
        why = L"the backup cannot be read";
        return false;
    }
    std::vector<BYTE> bytes(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    if (!bytes.empty() && (!::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) || got != bytes.size())) {
        why = L"the backup cannot be read";
        return false;
    }
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE || bytes.size() % 2) {
        why = L"not a backup of this program: no registry export in UTF-16";
        return false;
    }
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / sizeof(wchar_t));
    if (!Parse(text, why))
        return false;
    // A backup of another installation's hives goes back only into that installation.
    auto offlineKey = [](const std::wstring& path) {
        std::wstring below;
        return SplitFullPath(path, below) && IsLoadedName(below.substr(0, below.find(L'\\')));
    };
    bool offline = false;
    for (const Section& section : m_sections)
        offline = offline || offlineKey(section.path);
    for (const EntryNote& note : m_notes)
        offline = offline || offlineKey(note.listPath);
    if (offline && !OfflineActive()) {
        why = L"a backup of an offline installation: give its Windows folder with /offline too";
        return false;
    }
    // It goes back only into the installation it was taken from.
    if (!m_identity.empty() && !SameInstallation(m_identity, InstallationIdentity())) {
        why = L"a backup of another installation (" + m_identity + L"); this is " + InstallationIdentity();
        return false;
    }
    if (m_identity.empty() && !offline && OfflineActive() && !(m_sections.empty() && m_notes.empty())) {
        why = L"a backup of the running Windows: restore it without /offline";
        return false;
    }
    if (m_identity.empty()) {
        why = L"the backup does not say which installation it belongs to (an older backup: import it by hand)";
        return false;
    }
    // The files folder and its manifest, held like the backup from the check to the end.
    const std::wstring manifest = CRegBackup::ManifestOf(backupPath);
    const std::wstring folder = manifest.substr(0, manifest.rfind(L'\\'));
    m_hasManifest = !NothingAt(manifest);
    if (m_hasManifest || (m_hasFiles && !NothingAt(folder))) {
        const struct
        {
            const std::wstring& path;
            CHandle& held;
            DWORD access;
        } parts[] = { { folder, m_filesFolder, FILE_LIST_DIRECTORY }, { manifest, m_manifest, GENERIC_READ } };
        for (const auto& part : parts) {
            std::wstring changed;
            if (NothingAt(part.path))
                continue;
            if (!HoldAdminOnly(part.path, part.access, part.held, changed)) {
                why = L"the backup's files may have been changed by someone else: " + part.path + L": " + changed;
                return false;
            }
        }
        m_hasManifest = m_manifest;
    }
    return true;
}

bool CRestore::Parse(const std::wstring& text, std::wstring& why)
{
    std::vector<std::wstring> lines;
    for (size_t at = 0; at <= text.size();) {
        size_t end = text.find(L'\n', at);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring line = text.substr(at, end - at);
        if (!line.empty() && line.back() == L'\r')
            line.pop_back();
        lines.push_back(line);
        at = end + 1;
    }
    if (lines.empty() || lines[0] != kHeader) {
        why = L"not a backup of this program: its first line is no registry export's";
        return false;
    }
    for (size_t index = 1; index < lines.size(); ++index) {
        std::wstring line = lines[index];
        if (line.empty())
            continue;
        if (line[0] == L'[') {
            if (line.back() != L']' || line.size() < 3 || line[1] == L'-') {
                why = L"a line of the backup is no section this program writes: " + line;
                return false;
            }
            m_sections.push_back({ line.substr(1, line.size() - 2), {} });
            continue;
        }
        if (line.compare(0, 2, L"; ") == 0) {
            const std::wstring comment = line.substr(2);
            EntryNote note;
            std::wstring kind, path;
            if (IsInstallationNote(comment, path)) {
                m_identity = path;
            } else if (IsFilesNote(comment)) {
                m_hasFiles = true;
            } else if (SplitKindNote(comment, kind, path)) {
                m_finding = path;
            } else if (SplitRemovedEntryNote(comment, note.entry, note.index, note.listPath)) {
                // The list as it was is the value just before, once per list: only the entry goes back.
                const std::wstring key = note.listPath.substr(0, note.listPath.rfind(L'\\'));
                const std::wstring name = note.listPath.substr(note.listPath.rfind(L'\\') + 1);
                for (const EntryNote& earlier : m_notes)
                    if (_wcsicmp(earlier.listPath.c_str(), note.listPath.c_str()) == 0)
                        note.before = earlier.before;
                if (!m_sections.empty() && _wcsicmp(m_sections.back().path.c_str(), key.c_str()) == 0) {
                    std::vector<Value>& values = m_sections.back().values;
                    for (auto value = values.begin(); value != values.end(); ++value)
                        if (_wcsicmp(value->name.c_str(), name.c_str()) == 0) {
                            note.before = *value;
                            values.erase(value);
                            m_sections.back().listOnly = values.empty();
                            break;
                        }
                }
                m_notes.push_back(note);
            } else if (comment.compare(0, wcslen(kLinkComment), kLinkComment) == 0) {
                const size_t arrow = comment.find(kLinkArrow), tail = comment.rfind(kLinkTail);
                if (arrow != std::wstring::npos && tail != std::wstring::npos && tail > arrow) {
                    Link link = { comment.substr(wcslen(kLinkComment), arrow - wcslen(kLinkComment)),
                                  comment.substr(arrow + wcslen(kLinkArrow), tail - arrow - wcslen(kLinkArrow)) };
                    // Only a link that a removal of this backup recorded, in the tree it removed:
                    // a comment anywhere else could make any key a link to anywhere.
                    const std::wstring parent = link.path.substr(0, link.path.rfind(L'\\'));
                    link.recorded = !m_finding.empty() ? PathAtOrBelow(link.path, m_finding)
                                                       : std::any_of(m_sections.begin(), m_sections.end(), [&](const Section& s) {
                                                             return _wcsicmp(s.path.c_str(), parent.c_str()) == 0;
                                                         });
                    m_links.push_back(link);
                }
            }
            continue;
        }
        // A byte list goes on over lines that end with a backslash.
        while (line.back() == L'\\' && line.find(L"=hex") != std::wstring::npos && index + 1 < lines.size())
            line += lines[++index];
        Value value;
        if (m_sections.empty() || !ParseRegValue(line, value)) {
            why = L"a line of the backup is no value this program writes: " + line;
            return false;
        }
        m_sections.back().values.push_back(value);
    }
    return true;
}

void CRestore::Run(const std::function<void(const RestoredItem&)>& told)
{
    RestoreKeys(told);
    RestoreEntries(told);
    RestoreFiles(told);
}

void CRestore::RestoreKeys(const std::function<void(const RestoredItem&)>& told)
{
    // A key tree's sections come parent first: one item per tree, its first failure as its why.
    for (size_t index = 0; index < m_sections.size();) {
        if (m_sections[index].listOnly) {
            ++index;
            continue;
        }
        const std::wstring top = m_sections[index].path;
        std::wstring why;
        do {
            const Section& section = m_sections[index++];
            CRegKeyOwner key;
            const LONG created = CreateKeyExact(section.path, key);
            if (created != ERROR_SUCCESS) {
                if (why.empty())
                    why = section.path + L" could not be created (" + std::to_wstring(created) + L")";
                continue;
            }
            std::wstring changed;
            for (const Value& value : section.values) {
                const std::wstring shown = value.name.empty() ? std::wstring(L"@") : value.name;
                // A value someone set since the removal stays as it is, as a file that is back
                // at its place does: the restore never writes over what it did not take.
                DWORD type = 0;
                std::vector<BYTE> data;
                if (ReadValueBytes(key, value.name.c_str(), type, data) == ERROR_SUCCESS) {
                    if (type != value.type || data != value.data)
                        changed += (changed.empty() ? L"" : L", ") + shown;
                    continue;
                }
                if (!SetAndCheck(key, value) && why.empty())
                    why = L"the value " + shown + L" of " + section.path + L" could not be written";
            }
            if (!changed.empty() && why.empty())
                why = L"changed since the backup, left as they are: " + changed + L" of " + section.path;
        } while (index < m_sections.size() && PathBelow(m_sections[index].path, top));
        told(RestoredItemOf("key", top, why.empty() ? Outcome::Restored : Outcome::Failed, why));
    }
    for (const Link& link : m_links) {
        if (!link.recorded) {
            told(RestoredItemOf("link", link.path, Outcome::Refused,
                      L"no removal of this backup took a key tree it lies in; a link there could lead anywhere"));
            continue;
        }
        const std::wstring parent = link.path.substr(0, link.path.rfind(L'\\'));
        const std::wstring name = link.path.substr(link.path.rfind(L'\\') + 1);
        CRegKeyOwner parentKey;
        HKEY created = nullptr;
        DWORD disposition = 0;
        LONG result = CreateKeyExact(parent, parentKey);
        if (result == ERROR_SUCCESS)
            result = ::RegCreateKeyExW(parentKey, name.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK, KEY_WRITE | KEY_CREATE_LINK,
                                       nullptr, &created, &disposition);
        CRegKeyOwner linkKey(created);
        if (result == ERROR_SUCCESS && disposition == REG_OPENED_EXISTING_KEY)
            result = ERROR_ALREADY_EXISTS;
        if (result == ERROR_SUCCESS)
            result = ::RegSetValueExW(linkKey, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(link.target.data()),
                                      static_cast<DWORD>(link.target.size() * sizeof(wchar_t)));
        // Read back: the key there must be a link now, as itself.
        CRegKeyOwner made;
        if (result == ERROR_SUCCESS && (OpenSubKey(parentKey, name.c_str(), KEY_READ, made) != ERROR_SUCCESS ||
                                        !IsRegistryLink(parentKey, name.c_str(), made)))
            result = ERROR_CANTREAD;
        told(RestoredItemOf("link", link.path, result == ERROR_SUCCESS ? Outcome::Restored : Outcome::Failed,
                  result == ERROR_SUCCESS ? std::wstring()
                                          : L"the registry link could not be made again (" + std::to_wstring(result) +
                                                L"); it pointed to " + link.target));
    }
}

void CRestore::RestoreEntries(const std::function<void(const RestoredItem&)>& told)
{
    std::vector<EntryNote> notes = m_notes;
    std::stable_sort(notes.begin(), notes.end(), [](const EntryNote& a, const EntryNote& b) {
        const int list = _wcsicmp(a.listPath.c_str(), b.listPath.c_str());
        return list < 0 || (list == 0 && a.index < b.index);
    });
    for (const EntryNote& note : notes) {
        const std::wstring keyPath = note.listPath.substr(0, note.listPath.rfind(L'\\'));
        const std::wstring valueName = note.listPath.substr(note.listPath.rfind(L'\\') + 1);
        const bool order = std::find_if(std::begin(kProviderOrderValues), std::end(kProviderOrderValues), [&](const wchar_t* name) {
                               return _wcsicmp(name, valueName.c_str()) == 0;
                           }) != std::end(kProviderOrderValues);
        RestoredItem item = RestoredItemOf(order ? "providerOrderEntry" : "filterEntry", note.listPath);
        item.entry = note.entry;
        // The driver's service key must be there first: a list naming a missing driver stops the
        // device (a disk, a keyboard) at the next start.
        std::wstring below;
        const HKEY root = SplitFullPath(keyPath, below);
        const size_t set = below.find(L'\\', below.find(L'\\') + 1);
        const std::wstring service = below.substr(0, set) + L"\\Services\\" + note.entry;
        CRegKeyOwner key;
        DWORD type = 0;
        std::vector<BYTE> data;
        const LONG opened = CreateKeyExact(keyPath, key);
        const LONG read = opened == ERROR_SUCCESS ? ReadValueBytes(key, valueName.c_str(), type, data) : opened;
        if (set == std::wstring::npos || !KeyExists(root, service)) {
            item.outcome = Outcome::Refused;
            item.why = L"its driver has no service key (" + FullPath(root, service) +
                       L"); a list naming it would stop its device at the next start";
            told(item);
            continue;
        }
        if (opened != ERROR_SUCCESS || (read != ERROR_SUCCESS && read != ERROR_FILE_NOT_FOUND)) {
            item.outcome = Outcome::Failed;
            item.why = L"the list could not be read";
            told(item);
            continue;
        }
        Value value;
        value.name = valueName;
        if (order) {
            std::wstring list = read == ERROR_SUCCESS ? std::wstring(reinterpret_cast<const wchar_t*>(data.data()),
                                                                     data.size() / sizeof(wchar_t))
                                                      : std::wstring();
            list = list.c_str();
            std::vector<std::wstring> names = SplitProviderOrder(list);
            const bool there = std::any_of(names.begin(), names.end(), [&](const std::wstring& name) {
                return _wcsicmp(name.c_str(), note.entry.c_str()) == 0;
            });
            if (!there)
                names.insert(names.begin() + static_cast<std::ptrdiff_t>(std::min(note.index, names.size())), note.entry);
            std::wstring joined;
            for (const std::wstring& name : names)
                joined += (joined.empty() ? L"" : L",") + name;
            value.type = read == ERROR_SUCCESS ? type : REG_SZ;
            const BYTE* bytes = reinterpret_cast<const BYTE*>(joined.c_str());
            value.data.assign(bytes, bytes + (joined.size() + 1) * sizeof(wchar_t));
        } else {
            const std::vector<std::wstring> entries = read == ERROR_SUCCESS && IsListType(type) ? SplitMultiString(data)
                                                                                                  : std::vector<std::wstring>();
            if (std::find(entries.begin(), entries.end(), note.entry) != entries.end()) {
                told(item);  // back already (its key's tree brought the list back whole)
                continue;
            }
            if (read == ERROR_SUCCESS && !IsListType(type)) {
                item.outcome = Outcome::Failed;
                item.why = L"the value is no list now";
                told(item);
                continue;
            }
            value.data = WithEntryAt(read == ERROR_SUCCESS ? data : std::vector<BYTE>(), note.entry, note.index);
            // A list of one name may be a plain string; two or more need a multi-string.
            const DWORD was = read == ERROR_SUCCESS ? type : note.before.type;
            value.type = was == REG_MULTI_SZ || !entries.empty() || was == REG_NONE ? REG_MULTI_SZ : was;
            if (value.type != REG_MULTI_SZ) {
                const BYTE* bytes = reinterpret_cast<const BYTE*>(note.entry.c_str());
                value.data.assign(bytes, bytes + (note.entry.size() + 1) * sizeof(wchar_t));
            }
        }
        if (!SetAndCheck(key, value)) {
            item.outcome = Outcome::Failed;
            item.why = L"the list could not be written";
        }
        told(item);
    }
}

