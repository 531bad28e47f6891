// Removing a product's files and folders through handles that are what was listed.
#include "FileRemoval.h"
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
const DWORD kAttributesInTheWay = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
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

}

std::unique_ptr<CPreparedRemoval> CFileRemoval::Prepare(const CmdListEntry& finding, const RemovalContext&) const
{
    std::unique_ptr<PreparedFiles> prepared(new PreparedFiles);
    prepared->listing = ListFiles(finding.path, prepared->items);
    if (prepared->listing == Listing::Unreadable)
        return nullptr;
    return std::unique_ptr<CPreparedRemoval>(prepared.release());
}

RemovalResult CFileRemoval::Remove(const CmdListEntry& finding, CPreparedRemoval& prepared, RemovalContext& context) const
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

bool CFileRemoval::IsGone(const CmdListEntry& finding) const
{
    return NothingAt(finding.path);
}

std::wstring CFileRemoval::RestartReason(const CmdListEntry& finding) const
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

void CFileRemoval::Measure(CmdListEntry* entry)
{
    std::vector<FileItem> items;
    if (entry && ListFileTree(entry->path, items))
        Measure(entry, items);
}

void CFileRemoval::Measure(CmdListEntry* entry, const std::vector<FileItem>& items)
{
    if (!entry)
        return;
    for (const FileItem& item : items)
        if (!item.IsFolder() && !item.IsLink()) {
            entry->size += item.size;
            ++entry->fileCount;
        }
}
