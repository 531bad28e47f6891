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
#include "../system/FileClaims.h"
#include "../backup/FileCopies.h"
#include "../system/FileEvidence.h"
#include "../system/FloorFiles.h"
#include "../system/Installation.h"
#include "../registry/KeyNames.h"
#include "../search/Keywords.h"
#include "../system/AdminOnly.h"
#include "../system/StagingFolders.h"
#include "../backup/RegBackup.h"
#include "../registry/RegKey.h"
#include "../system/ServiceControl.h"
#include "../../resources/resource.h"
#include "../backup/OwnOutput.h"
#include "../search/Said.h"
#include <algorithm>

namespace {
const std::wstring kNothingNames = Said(IDS_REASON_NOTHING_NAMES);
const std::wstring kNamedAfter = Said(IDS_REASON_NAMED_AFTER);
const DWORD kAttributesInTheWay = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
const CFileClaims& Claims(const CSearchFacts& facts, const CFindings& findings)
{
    return facts.Claims(findings);
}

// The folders a finding of these kinds may never be or hold: the roots, the Windows folder, and
// what this run uses itself.
bool Untouchable(const CSearchFacts& facts, const std::wstring& path, std::wstring& why)
{
    if (IsWindowsFolderName(LastNameOf(path))) {
        why = Said(IDS_WHY_WINDOWS_FOLDER_ITSELF);
        return true;
    }
    if (facts.installation.InWindowsFolder(path) || PathAtOrBelow(facts.installation.WindowsFolder(), path)) {
        why = Said(IDS_WHY_THE_WINDOWS_FOLDER);
        return true;
    }
    for (const std::wstring& root : facts.installation.Roots())
        if (PathAtOrBelow(root, path)) {
            why = Said(IDS_WHY_PROGRAMS_FOLDER);
            return true;
        }
    std::vector<std::wstring> own = facts.ownFiles;
    own.push_back(facts.programFolder);
    for (const std::wstring& file : own)
        if (PathAtOrBelow(file, path)) {
            why = Said(IDS_WHY_OWN_FILES);
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


// Whether a finding of this search names `folder` or something in it.
bool NamedByAFinding(const CSearchFacts& facts, const CFindings& findings, const std::wstring& folder)
{
    for (const CmdListEntry* finding : findings.All()) {
        std::vector<std::wstring> files;
        if (finding->owner)
            finding->owner->NamedFiles(*finding, facts.installation, files);
        for (const std::wstring& file : files)
            if (PathAtOrBelow(file, folder))
                return true;
    }
    return false;
}

struct PreparedFiles : CPreparedRemoval
{
    std::vector<FileItem> items;  // the finding first, each folder before what it holds
    Listing listing = Listing::Listed;
};

// One listed item during its removal: its handle, opened as listed, holds it until it is gone.
struct HeldItem
{
    const FileItem* item;
    CHandle handle;
    bool inUse = false;  // another program has it open: copied, never linked, and left to the restart
    bool shared = false; // it has other names elsewhere: its attributes are the other names' too
};

RemovalResult FailedBecause(const wchar_t* why)
{
    RemovalResult result;
    result.why = why;
    return result;
}

RemovalResult RefusedBecause(const std::wstring& why, const std::wstring& advice = std::wstring())
{
    RemovalResult result;
    result.outcome = Outcome::Refused;
    result.why = why;
    result.advice = advice;
    return result;
}

const std::wstring kCloseHolder = Said(IDS_ADVICE_CLOSE_HOLDER);
const DWORD kFileAccess = GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
const DWORD kFolderAccess = DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens every item as it was listed, folders first: a folder is held without letting anybody
// rename or delete it, so that nothing below it can be swapped for a link while the pass works;
// a file is held so that nobody can write it, unless a program has it open already. Nothing is
// changed here; an empty result with `refusal` set when the finding must stay whole.
std::vector<HeldItem> HoldAsListed(const std::vector<FileItem>& items, RemovalResult& refusal)
{
    std::vector<HeldItem> held;
    for (const FileItem& item : items) {
        HeldItem one{ &item, CHandle() };
        DWORD error = 0;
        Opening opening;
        if (item.IsLink())
            opening = OpenAsListed(item, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, kShareAll, one.handle, &error);
        else if (item.IsFolder())
            opening = OpenAsListed(item, kFolderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, one.handle, &error);
        else {
            // Nobody else may have it open at all: a name another program holds stays until it lets go.
            opening = OpenAsListed(item, kFileAccess, 0, one.handle, &error);
            if (opening == Opening::InUse) {
                one.inUse = true;
                opening = OpenAsListed(item, kFileAccess, kShareAll, one.handle, &error);
            }
        }
        switch (opening) {
        case Opening::Opened: {
            FILE_STANDARD_INFO standard = {};
            one.shared = !item.IsFolder() && ::GetFileInformationByHandleEx(one.handle, FileStandardInfo, &standard, sizeof standard) &&
                         standard.NumberOfLinks > 1;
            held.push_back(std::move(one));
            continue;
        }
        case Opening::Gone:
            continue;  // someone else removed it meanwhile: nothing of it to back up or delete
        case Opening::Changed:
            refusal = RefusedBecause(L"something else stands at " + item.path +
                                     L" now than was listed (a link or another file); nothing was removed");
            break;
        case Opening::InUse:
            refusal = RefusedBecause(L"a program holds " + item.path + L" open and does not let it be moved or deleted; nothing "
                                     L"was removed", kCloseHolder);
            break;
        case Opening::Failed:
            refusal = FailedBecause(L"a file or folder inside could not be opened; nothing was removed");
            break;
        }
        return std::vector<HeldItem>();
    }
    if (held.empty() || held.front().item != &items.front())
        refusal = FailedBecause(L"it is gone already");
    return held;
}

// Deletes a held file now, or (in use, on the running system) moves it out of the way and leaves
// it to the restart. Offline, nothing of that installation holds it, and this machine's restart
// must never delete it: it stays.
enum class Deletion { Gone, AtRestart, Stays };
Deletion DeleteHeld(HeldItem& file, RemovalContext& context, FileToBackUp* backedUp, std::wstring& why)
{
    const DWORD attributes = file.item->attributes;
    if (attributes & kAttributesInTheWay)
        SetAttributesThrough(file.handle, attributes & ~kAttributesInTheWay);
    DWORD error = file.inUse ? ERROR_SHARING_VIOLATION : DeleteThrough(file.handle);
    if (error == ERROR_SUCCESS) {
        // Only this name goes: a file with other names keeps what its attributes were.
        if (file.shared && (attributes & kAttributesInTheWay))
            SetAttributesThrough(file.handle, attributes);
        file.handle.Close();
        return Deletion::Gone;
    }
    const bool inUse = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_USER_MAPPED_FILE;
    if (inUse && !context.offline) {
        // Its holder may change it later: the backup needs a copy of its own, not a second name.
        if (backedUp && backedUp->linked && !context.backup.UnlinkCopy(*backedUp)) {
            why = L"a file in use changed while it was backed up; it stays";
        } else {
            const std::wstring staged = context.staging.Stage(file.handle, file.item->path, error);
            if (!staged.empty()) {
                ManifestEntry entry;
                entry.type = ManifestEntry::Scheduled;
                entry.path = file.item->path;
                entry.staged = staged;
                context.backup.Note(entry);
                file.handle.Close();
                return Deletion::AtRestart;
            }
            why = L"a file in use could not be moved out of the way for the restart (error " + std::to_wstring(error) + L")";
        }
    }
    SetAttributesThrough(file.handle, attributes);
    if (why.empty())
        why = L"a file or folder inside could not be deleted";
    return Deletion::Stays;
}

class CFileRemoval : public ILeftoverKind
{
public:
    std::unique_ptr<CPreparedRemoval> Prepare(const CmdListEntry& finding, const RemovalContext&) const override
    {
        std::unique_ptr<PreparedFiles> prepared(new PreparedFiles);
        prepared->listing = ListFiles(finding.path, prepared->items);
        if (prepared->listing == Listing::Unreadable)
            return nullptr;
        return std::unique_ptr<CPreparedRemoval>(prepared.release());
    }

    RemovalResult Remove(const CmdListEntry& finding, CPreparedRemoval& prepared, RemovalContext& context) const override
    {
        const PreparedFiles& files = static_cast<PreparedFiles&>(prepared);
        if (files.listing == Listing::Elsewhere)
            return RefusedBecause(std::wstring(finding.path) + L" leads elsewhere (a link on the way to it); nothing was removed");
        // Files go after every registration of the pass: whatever still names one now (a
        // registration that could not be removed, one not ticked, a program started since)
        // keeps them, or it would be left pointing at nothing.
        const CFileClaims claims = CFileClaims::Read(context.installation, context.claimers, [](const std::wstring&) { return false; });
        if (const FileClaim* claim = claims.Naming(finding.path)) {
            RemovalResult refused = RefusedBecause(Said(IDS_WHY_CLAIM_STAYS, { Nested(claim->by) }));
            refused.windowMessage = IDS_FILES_STILL_NAMED;
            return refused;
        }
        RemovalResult refusal;
        std::vector<HeldItem> held = HoldAsListed(files.items, refusal);
        if (held.empty())
            return refusal;
        // A file in use waits for the restart in the pass's own folder: there must be one before
        // anything goes, or the finding stays whole. Offline, nothing waits for this machine's restart.
        for (const HeldItem& item : held) {
            DWORD error = 0;
            if (item.inUse && (context.offline || context.staging.FolderFor(item.item->path, error).empty()))
                return RefusedBecause(L"a program holds " + item.item->path +
                                          L" open, and it cannot wait for the restart in a folder only administrators can write; "
                                          L"nothing was removed",
                                      kCloseHolder);
        }
        // Everything into the backup before anything goes: the folders and links first (a restore
        // makes the folders before their files), then the files.
        std::vector<FileToBackUp> copies;
        std::vector<size_t> copyOf(held.size(), SIZE_MAX);
        for (size_t at = 0; at < held.size(); ++at) {
            const FileItem& item = *held[at].item;
            if (!item.IsFolder() && !item.IsLink()) {
                copyOf[at] = copies.size();
                FileToBackUp copy;
                copy.item = &item;
                copy.handle = held[at].handle;
                // A file with names elsewhere is copied: a second name would be one more of those.
                copy.mayLink = !held[at].inUse && !held[at].shared;
                copies.push_back(copy);
                continue;
            }
            ManifestEntry entry;
            entry.path = item.path;
            entry.attributes = item.attributes;
            entry.type = item.IsLink() ? ManifestEntry::Link : ManifestEntry::Folder;
            if (item.IsLink())
                entry.target = LinkTarget(item.path);
            else
                entry.access = AccessOf(held[at].handle);  // a restore never writes into a folder others could change and this could not
            if (!context.backup.Note(entry))
                return FailedBecause(L"the backup's manifest could not be written; nothing was removed");
        }
        if (!context.backup.BackUpFiles(copies))
            return FailedBecause(L"a file could not be copied whole into the backup; nothing was removed");
        if (!context.backup.FlushManifest())
            return FailedBecause(L"the backup's manifest could not be written; nothing was removed");
        // Links first, as links: what they point to is never entered, and a link that will not go
        // keeps the rest where it is.
        for (HeldItem& link : held) {
            if (!link.item->IsLink())
                continue;
            if (DeleteThrough(link.handle) != ERROR_SUCCESS)
                return FailedBecause(L"a link inside could not be removed as the link (what it points to was never "
                                     L"entered); nothing else was removed");
            link.handle.Close();
        }
        bool atRestart = false, stays = false;
        std::wstring why;
        for (size_t at = held.size(); at-- > 0;) {
            HeldItem& file = held[at];
            if (file.item->IsLink() || file.item->IsFolder())
                continue;
            const Deletion deletion = DeleteHeld(file, context, copyOf[at] == SIZE_MAX ? nullptr : &copies[copyOf[at]], why);
            atRestart = atRestart || deletion == Deletion::AtRestart;
            stays = stays || deletion == Deletion::Stays;
        }
        // The copies that were second names of files now gone: only administrators may change them.
        for (size_t at = 0; at < held.size(); ++at)
            if (copyOf[at] != SIZE_MAX && !held[at].handle)
                context.backup.SealCopy(copies[copyOf[at]]);
        // The folders, deepest first, through the handles that held them: never a folder by its
        // path, and never left to the restart (whatever stands at its path by then would go).
        for (size_t at = held.size(); at-- > 0;) {
            HeldItem& folder = held[at];
            if (!folder.item->IsFolder() || folder.item->IsLink())
                continue;
            if (folder.item->attributes & kAttributesInTheWay)
                SetAttributesThrough(folder.handle, folder.item->attributes & ~kAttributesInTheWay);
            if (DeleteThrough(folder.handle) != ERROR_SUCCESS) {
                SetAttributesThrough(folder.handle, folder.item->attributes);
                stays = true;
            }
            folder.handle.Close();
        }
        context.backup.FlushManifest();  // the files left to the restart, for the record of the backup
        if (stays) {
            RemovalResult failed = FailedBecause(why.empty() ? L"a file or folder inside could not be deleted" : why.c_str());
            if (why.compare(0, 13, L"a file in use") == 0)
                failed.advice = kCloseHolder;
            return failed;
        }
        RemovalResult result;
        result.outcome = atRestart ? Outcome::RemovedAtRestart : NothingAt(files.items.front().path) ? Outcome::Removed : Outcome::Failed;
        return result;
    }

    bool IsGone(const CmdListEntry& finding) const override { return NothingAt(finding.path); }

    std::wstring RestartReason(const CmdListEntry& finding) const override
    {
        std::vector<FileItem> items;
        if (!ListFileTree(finding.path, items))
            return std::wstring();
        for (const FileItem& item : items) {
            CHandle file;
            if (!item.IsFolder() && !item.IsLink() && OpenAsListed(item, kFileAccess, FILE_SHARE_READ, file) == Opening::InUse)
                return L"files in use are deleted at the next restart";
        }
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
            check.notes.push_back(Said(IDS_NOTE_KEPT, { folder, Nested(why) }));
            return;
        }
        const CFileClaims& claims = Claims(facts, findings);
        for (const UserProfile& profile : facts.installation.Profiles())
            if (PathAtOrBelow(folder, profile.folder) &&
                std::find(claims.Unread().begin(), claims.Unread().end(), profile.sid) != claims.Unread().end()) {
                check.notes.push_back(Said(IDS_NOTE_KEPT, { folder, Nested(Said(IDS_WHY_USER_UNREAD, { profile.sid })) }));
                return;
            }
        bool directly = false;
        const FileClaim* claim = claims.Naming(folder, &directly);
        if (!claim) {
            std::vector<FileItem> items;
            const bool listed = ListFileTree(folder, items);
            if (HoldsWindowsFiles(items))
                check.notes.push_back(Said(IDS_NOTE_KEPT, { folder, Nested(Said(IDS_WHY_WINDOWS_FILES_IN)) }));
            else if (HoldsOwnOutput(items))
                check.notes.push_back(Said(IDS_NOTE_KEPT, { folder, Nested(Said(IDS_WHY_OWN_OUTPUT)) }));
            else if (!facts.keywords.IsDefaultList() && !NamedByAFinding(facts, findings, folder))
                check.notes.push_back(Said(IDS_NOTE_KEPT, { folder, Nested(Said(IDS_WHY_NOT_DEFAULT_FOLDER)) }));
            else
                Measure(findings.Add(*this, folder, kNothingNames, keyword), listed ? items : std::vector<FileItem>());
            return;
        }
        check.notes.push_back(Said(IDS_NOTE_KEPT, { folder, Nested(Said(IDS_WHY_CLAIMED_INSIDE, { Nested(claim->by) })) }));
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
                candidates.push_back({ file, Said(IDS_REASON_SERVICE_IMAGE, { service }), entry->keyword });
        }
        // Drivers named after the product.
        WIN32_FIND_DATAW found;
        HANDLE search = ::FindFirstFileW(LongPath(drivers + L"\\*.sys").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = found.cFileName;
                const std::wstring keyword = facts.keywords.Matching(name.substr(0, name.size() - 4));
                if (!keyword.empty() && !(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
                    candidates.push_back({ drivers + L"\\" + name, kNamedAfter, keyword });
            } while (::FindNextFileW(search, &found));
            ::FindClose(search);
        }
        for (const Candidate& candidate : candidates) {
            if (findings.Has(candidate.file))
                continue;
            const FileClaim* claim = Claims(facts, findings).Naming(candidate.file);
            const bool byName = candidate.reason == kNamedAfter;
            if (claim)
                check.notes.push_back(Said(IDS_NOTE_KEPT, { candidate.file, Nested(Said(IDS_WHY_CLAIMED, { Nested(claim->by) })) }));
            else if (byName && !facts.keywords.IsDefaultList() && !NamedByAFinding(facts, findings, candidate.file))
                check.notes.push_back(Said(IDS_NOTE_KEPT, { candidate.file, Nested(Said(IDS_WHY_NOT_DEFAULT_FILE)) }));
            else if (ShippedWithWindows(candidate.file))
                check.notes.push_back(Said(IDS_NOTE_KEPT, { candidate.file, Nested(Said(IDS_WHY_WINDOWS_FILE)) }));
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
