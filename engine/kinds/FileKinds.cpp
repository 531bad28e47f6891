// Files that a failed uninstall leaves: the product's folders below the roots programs are installed
// into, and its drivers in System32\drivers. A folder is a finding when its own name holds a
// keyword, it lies right below a root, and nothing installed names a file inside it (FileClaims.h);
// when something does, the same rule goes one level down, for a maker whose folder holds more than
// one product. A driver file is one when a service key that is a finding runs it, or its name holds
// a keyword and nothing names it. Never a root, never anything else in the Windows folder, never a
// file Windows brought.
//
// Removal copies every file into the backup's files folder first (a file that cannot be copied
// whole leaves the finding untouched), removes links as links without entering them, deletes the
// files and then the folders, and leaves what is in use to the next restart.
#include "LeftoverKind.h"
#include "KeyRemoval.h"
#include "../FileClaims.h"
#include "../FileCopies.h"
#include "../FileEvidence.h"
#include "../FloorFiles.h"
#include "../Installation.h"
#include "../KeyNames.h"
#include "../Keywords.h"
#include "../Offline.h"
#include "../RegBackup.h"
#include "../RegKey.h"
#include "../ServiceControl.h"
#include "../../resources/resource.h"
#include <algorithm>

namespace {
const wchar_t kNothingNames[] = L"nothing installed names a file inside";
const DWORD kAttributesInTheWay = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
// The key under which a search keeps the claims, read once for both kinds.
const char kClaims = 0;

const CFileClaims& Claims(const CSearchFacts& facts, const CFindings& findings)
{
    return facts.Shared<CFileClaims>(&kClaims, [&facts, &findings] {
        return CFileClaims::Read(facts.installation, [&findings](const std::wstring& path) { return findings.Covers(path); });
    });
}

// The folders a finding of these kinds may never be or hold: the roots, the Windows folder, and
// what this run uses itself.
bool Untouchable(const CSearchFacts& facts, const std::wstring& path, std::wstring& why)
{
    if (IsWindowsFolderName(LastNameOf(path))) {
        why = L"a folder of Windows itself";
        return true;
    }
    if (facts.installation.InWindowsFolder(path) || PathAtOrBelow(facts.installation.WindowsFolder(), path)) {
        why = L"the Windows folder";
        return true;
    }
    for (const std::wstring& root : facts.installation.Roots())
        if (PathAtOrBelow(root, path)) {
            why = L"a folder programs are installed into";
            return true;
        }
    std::vector<std::wstring> own = facts.ownFiles;
    own.push_back(facts.programFolder);
    for (const std::wstring& file : own)
        if (PathAtOrBelow(file, path)) {
            why = L"this program's own files or its report";
            return true;
        }
    return false;
}

// The names of the folders right in `folder`, links left out.
std::vector<std::wstring> Subfolders(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileExW(LongPath(folder + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchLimitToDirectories,
                                       nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
            name != L"." && name != L"..")
            names.push_back(name);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

// Whether a file is open somewhere now, so that deleting it would have to wait for the restart.
bool InUse(const FileItem& item)
{
    if (item.IsFolder() || item.IsLink())
        return false;
    CHandle file(::CreateFileW(LongPath(item.path).c_str(), DELETE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return !file && ::GetLastError() == ERROR_SHARING_VIOLATION;
}

// Whether a program file among a folder's items is one Windows brought (FileEvidence.h): the
// folder is then Windows' own, whatever it is called.
bool HoldsWindowsFiles(const std::vector<FileItem>& items)
{
    for (const FileItem& item : items) {
        const size_t dot = item.path.rfind(L'.');
        const std::wstring extension = dot == std::wstring::npos ? std::wstring() : Lowered(item.path.substr(dot));
        if (!item.IsFolder() && !item.IsLink() && (extension == L".exe" || extension == L".dll" || extension == L".sys") &&
            ShippedWithWindows(item.path))
            return true;
    }
    return false;
}

struct PreparedFiles : CPreparedRemoval
{
    std::vector<FileItem> items;  // the finding first, each folder before what it holds
};

enum class Deletion
{
    Gone,
    AtRestart,
    Stays,
};

// Deletes one file or (empty) folder; what is in use is left to the next restart, noted in the
// manifest so that a restore can take the deletion back.
Deletion DeleteItem(const FileItem& item, bool scheduleWhenNotEmpty, CRegBackup& backup)
{
    const std::wstring path = LongPath(item.path);
    if (item.attributes & kAttributesInTheWay)
        ::SetFileAttributesW(path.c_str(), item.attributes & ~kAttributesInTheWay);
    const BOOL deleted = item.IsFolder() ? ::RemoveDirectoryW(path.c_str()) : ::DeleteFileW(path.c_str());
    const DWORD error = ::GetLastError();
    if (deleted || NothingAt(item.path))
        return Deletion::Gone;
    const bool inUse = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_USER_MAPPED_FILE ||
                       (error == ERROR_DIR_NOT_EMPTY && scheduleWhenNotEmpty);
    // The session manager deletes it before anything can open it again; folders after their files,
    // in the order they were asked for. Never for another installation: this one's restart would
    // delete it, and nothing of that one runs to hold it.
    const std::wstring scheduled = item.path.size() < MAX_PATH ? item.path : path;
    if (inUse && !OfflineActive() && ::MoveFileExW(scheduled.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        ManifestEntry entry;
        entry.type = ManifestEntry::Scheduled;
        entry.path = item.path;
        backup.Note(entry);
        return Deletion::AtRestart;
    }
    ::SetFileAttributesW(path.c_str(), item.attributes);
    return Deletion::Stays;
}

RemovalResult FailedBecause(const wchar_t* why)
{
    RemovalResult result;
    result.why = why;
    return result;
}

class CFileRemoval : public ILeftoverKind
{
public:
    std::unique_ptr<CPreparedRemoval> Prepare(const CmdListEntry& finding) const override
    {
        std::unique_ptr<PreparedFiles> prepared(new PreparedFiles);
        if (!ListFileTree(finding.path, prepared->items))
            return nullptr;
        return std::unique_ptr<CPreparedRemoval>(prepared.release());
    }

    RemovalResult Remove(const CmdListEntry& finding, CPreparedRemoval& prepared, CRegBackup& backup) const override
    {
        const std::vector<FileItem>& items = static_cast<PreparedFiles&>(prepared).items;
        // Files go after every registration of the pass: whatever still names one now (a
        // registration that could not be removed, one not ticked, a program started since)
        // keeps them, or it would be left pointing at nothing.
        const CFileClaims claims = CFileClaims::Read(CInstallation::Live(), [](const std::wstring&) { return false; });
        if (const FileClaim* claim = claims.Naming(finding.path)) {
            RemovalResult refused;
            refused.outcome = Outcome::Refused;
            refused.why = claim->by + L" still names a file inside; it stays while that stays";
            refused.windowMessage = IDS_FILES_STILL_NAMED;
            return refused;
        }
        // Everything into the backup before anything goes: the folders and links first (a restore
        // makes the folders before their files), then the files.
        std::vector<FileItem> files;
        for (const FileItem& item : items) {
            if (!item.IsFolder() && !item.IsLink()) {
                files.push_back(item);
                continue;
            }
            ManifestEntry entry;
            entry.path = item.path;
            entry.attributes = item.attributes;
            entry.type = item.IsLink() ? ManifestEntry::Link : ManifestEntry::Folder;
            if (item.IsLink())
                entry.target = LinkTarget(item.path);
            if (!backup.Note(entry))
                return FailedBecause(L"the backup's manifest could not be written; nothing was removed");
        }
        if (!backup.BackUpFiles(files))
            return FailedBecause(L"a file could not be copied whole into the backup; nothing was removed");
        if (!backup.FlushManifest())
            return FailedBecause(L"the backup's manifest could not be written; nothing was removed");
        // Links first, as links: what they point to is never entered, and a link that will not go
        // keeps the rest where it is.
        for (const FileItem& item : items) {
            if (!item.IsLink())
                continue;
            const std::wstring path = LongPath(item.path);
            if (!(item.IsFolder() ? ::RemoveDirectoryW(path.c_str()) : ::DeleteFileW(path.c_str())) && !NothingAt(item.path))
                return FailedBecause(L"a link inside could not be removed as the link (what it points to was never "
                                     L"entered); nothing else was removed");
        }
        bool atRestart = false, stays = false;
        for (int pass = 0; pass < 2; ++pass)  // the files, then the folders, deepest first
            for (auto item = items.rbegin(); item != items.rend(); ++item) {
                if (item->IsLink() || item->IsFolder() != (pass == 1))
                    continue;
                const Deletion deletion = DeleteItem(*item, atRestart, backup);
                atRestart = atRestart || deletion == Deletion::AtRestart;
                stays = stays || deletion == Deletion::Stays;
            }
        backup.FlushManifest();  // the deletions left to the restart, for a restore to take back
        if (stays)
            return FailedBecause(L"a file or folder inside could not be deleted");
        RemovalResult result;
        result.outcome = atRestart ? Outcome::RemovedAtRestart : NothingAt(items.front().path) ? Outcome::Removed : Outcome::Failed;
        return result;
    }

    bool IsGone(const CmdListEntry& finding) const override { return NothingAt(finding.path); }

    std::wstring RestartReason(const CmdListEntry& finding) const override
    {
        std::vector<FileItem> items;
        if (!ListFileTree(finding.path, items))
            return std::wstring();
        for (const FileItem& item : items)
            if (InUse(item))
                return L"files in use are deleted at the next restart";
        return std::wstring();
    }

protected:
    // The size and file count of a finding, from its items as listed (none when they could not be).
    static void Measure(CmdListEntry* entry)
    {
        std::vector<FileItem> items;
        if (entry && ListFileTree(entry->path, items))
            Measure(entry, items);
    }
    static void Measure(CmdListEntry* entry, const std::vector<FileItem>& items)
    {
        if (!entry)
            return;
        for (const FileItem& item : items)
            if (!item.IsFolder() && !item.IsLink()) {
                entry->size += item.size;
                ++entry->fileCount;
            }
    }
};

class CFolderKind : public CFileRemoval
{
public:
    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { 'D', "folder", 3, IDS_KIND_FOLDER, true };
        return identity;
    }
    bool LooksIn(const SearchScope& scope) const override
    {
        return scope.followReferences && scope.Searches(HKEY_LOCAL_MACHINE);
    }

    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        KindCheck check;
        std::vector<std::wstring> seen;
        for (const std::wstring& root : facts.installation.Roots()) {
            const std::wstring lowerRoot = Lowered(root);
            if (facts.installation.InWindowsFolder(root) || std::find(seen.begin(), seen.end(), lowerRoot) != seen.end())
                continue;
            seen.push_back(lowerRoot);
            for (const std::wstring& name : Subfolders(root)) {
                const std::wstring keyword = facts.keywords.Matching(name);
                if (!keyword.empty())
                    Consider(facts, findings, root + L"\\" + name, keyword, true, check);
            }
        }
        return check;
    }

private:
    void Consider(const CSearchFacts& facts, CFindings& findings, const std::wstring& folder, const std::wstring& keyword,
                  bool top, KindCheck& check) const
    {
        std::wstring why;
        if (findings.Has(folder))
            return;
        if (Untouchable(facts, folder, why)) {
            check.notes.push_back(L"kept " + folder + L": " + why);
            return;
        }
        const CFileClaims& claims = Claims(facts, findings);
        for (const UserProfile& profile : facts.installation.Profiles())
            if (PathAtOrBelow(folder, profile.folder) &&
                std::find(claims.Unread().begin(), claims.Unread().end(), profile.sid) != claims.Unread().end()) {
                check.notes.push_back(L"kept " + folder + L": the registrations of its user (" + profile.sid +
                                      L") could not be read");
                return;
            }
        bool directly = false;
        const FileClaim* claim = claims.Naming(folder, &directly);
        if (!claim) {
            std::vector<FileItem> items;
            const bool listed = ListFileTree(folder, items);
            if (HoldsWindowsFiles(items))
                check.notes.push_back(L"kept " + folder + L": Windows brought files in it");
            else
                Measure(findings.Add(*this, folder, kNothingNames, keyword), listed ? items : std::vector<FileItem>());
            return;
        }
        check.notes.push_back(L"kept " + folder + L": " + claim->by + L" names a file inside");
        // A maker's folder with another product in it: the products one level down, each on its own.
        if (top && !directly)
            for (const std::wstring& name : Subfolders(folder)) {
                const std::wstring own = facts.keywords.Matching(name);
                if (!own.empty())
                    Consider(facts, findings, folder + L"\\" + name, own, false, check);
            }
    }
};

class CDriverFileKind : public CFileRemoval
{
public:
    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { 'E', "file", 3, IDS_KIND_FILE, true };
        return identity;
    }
    bool LooksIn(const SearchScope& scope) const override
    {
        return scope.followReferences && scope.Searches(HKEY_LOCAL_MACHINE);
    }

    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        KindCheck check;
        const std::wstring drivers = facts.installation.WindowsFolder() + L"\\System32\\drivers";
        struct Candidate
        {
            std::wstring file, reason, keyword;
        };
        std::vector<Candidate> candidates;
        // The drivers that services which are findings run.
        for (const CmdListEntry* entry : findings.All()) {
            std::wstring below, controlSet, service, image, file;
            CRegKeyOwner key;
            if (SplitFullPath(entry->path, below) != HKEY_LOCAL_MACHINE || !SplitServiceKeyPath(below, controlSet, service) ||
                OpenKeyExact(HKEY_LOCAL_MACHINE, below.c_str(), KEY_QUERY_VALUE, key) != ERROR_SUCCESS ||
                !ReadStringValue(key, L"ImagePath", image) || !facts.installation.Expand(image, std::wstring(), file))
                continue;
            file = facts.installation.Normalized(FileOfCommand(file));
            if (IsDriverIn(file, drivers) && !NothingAt(file))
                candidates.push_back({ file, L"ImagePath of the service " + service + L", which is a finding", entry->keyword });
        }
        // Drivers named after the product.
        WIN32_FIND_DATAW found;
        HANDLE search = ::FindFirstFileW(LongPath(drivers + L"\\*.sys").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = found.cFileName;
                const std::wstring keyword = facts.keywords.Matching(name.substr(0, name.size() - 4));
                if (!keyword.empty() && !(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
                    candidates.push_back({ drivers + L"\\" + name, L"named after the product, and nothing installed names it", keyword });
            } while (::FindNextFileW(search, &found));
            ::FindClose(search);
        }
        for (const Candidate& candidate : candidates) {
            if (findings.Has(candidate.file))
                continue;
            const FileClaim* claim = Claims(facts, findings).Naming(candidate.file);
            if (claim)
                check.notes.push_back(L"kept " + candidate.file + L": " + claim->by + L" names it");
            else if (ShippedWithWindows(candidate.file))
                check.notes.push_back(L"kept " + candidate.file + L": a file Windows brought");
            else
                Measure(findings.Add(*this, candidate.file, candidate.reason, candidate.keyword));
        }
        return check;
    }

private:
    static bool IsDriverIn(const std::wstring& file, const std::wstring& drivers)
    {
        return PathBelow(file, drivers) && file.find(L'\\', drivers.size() + 1) == std::wstring::npos &&
               _wcsicmp(file.c_str() + file.size() - 4, L".sys") == 0;
    }
};
}

const ILeftoverKind& FolderKind()
{
    static const CFolderKind kind;
    return kind;
}

const ILeftoverKind& DriverFileKind()
{
    static const CDriverFileKind kind;
    return kind;
}
