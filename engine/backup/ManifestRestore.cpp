// Putting back the files a removal pass took, from the backup's files folder: only where the
// program removes files from, never through a link on the way, each file checked against the
// manifest's SHA-256.
#include "ManifestRestore.h"
#include "../system/Offline.h"
#include "FileCopies.h"
#include "../system/Installation.h"
#include "../registry/KeyNames.h"
#include "../system/AdminOnly.h"
#include "../system/PendingRenames.h"
#include "RegBackup.h"
#include "RestorePlaces.h"
#include "../../framework/Handles.h"
#include <algorithm>
#include <set>

namespace {
// A copy's place below the files folder: a plain relative path, nothing that leaves the folder.
bool PlainCopyName(const std::wstring& copy)
{
    return !copy.empty() && copy[0] != L'\\' && copy.find(L':') == std::wstring::npos && copy.find(L'/') == std::wstring::npos &&
           copy.find(L"..") == std::wstring::npos;
}

std::wstring ParentFolder(const std::wstring& path)
{
    return path.substr(0, path.rfind(L'\\'));
}

// What puts one entry back; empty when it is back.
std::wstring RestoreFolder(const ManifestEntry& entry)
{
    const bool there = !NothingAt(entry.path);
    CHeldFolders held;
    std::wstring why;
    if (!held.Hold(entry.path, why))
        return L"the folder could not be made again: " + why;
    // A folder made at its place since the removal, that others may change where the removed one
    // let nobody: whatever was planted in it would stand beside what comes back.
    if (there && !OthersMayChange(held.Last()).empty() && !OthersCouldChange(entry.access))
        return L"another folder is at its place now, which others may change; nothing was written into it";
    return std::wstring();
}

std::wstring RestoreFileLink(const ManifestEntry& entry)
{
    std::wstring target = entry.target;
    if (target.compare(0, 4, L"\\??\\") == 0)
        target.erase(0, 4);
    if (target.empty())
        return L"the link could not be made again; it pointed to (unknown)";
    if (!NothingAt(entry.path))
        return std::wstring();
    CHeldFolders held;
    std::wstring why;
    const DWORD flags = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
    if (!held.Hold(ParentFolder(entry.path), why))
        return L"the link could not be made again: " + why;
    // Read back: a link must be there now, pointing where it pointed (Wine can say it made one
    // and make none).
    const BOOL made = ::CreateSymbolicLinkW(entry.path.c_str(), target.c_str(), flags);
    const DWORD attributes = ::GetFileAttributesW(LongPath(entry.path).c_str());
    const std::wstring now = LinkTarget(entry.path);
    if (!made || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        (_wcsicmp(now.c_str(), entry.target.c_str()) != 0 && _wcsicmp(now.c_str(), target.c_str()) != 0))
        return L"the link could not be made again; it pointed to " + target;
    return std::wstring();
}

std::wstring RestoreFile(const ManifestEntry& entry, const std::wstring& filesFolder)
{
    unsigned long long size = 0;
    std::string sha256;
    if (!NothingAt(entry.path)) {
        // Still there (an old backup's deletion that waited for a restart): it must be the very
        // same file, opened as itself.
        CHandle there(::CreateFileW(LongPath(entry.path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!there || !CopyAndHashInto(there, nullptr, size, sha256) || sha256 != entry.sha256)
            return L"another file is at its place now; it was left as it is";
        return std::wstring();
    }
    if (!PlainCopyName(entry.copy))
        return L"its copy is not in the backup's files folder";
    // Below the files folder, which is held: its copy, opened as itself, nowhere else.
    CHandle copy(::CreateFileW(LongPath(filesFolder + L"\\" + entry.copy).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    ULONGLONG index = 0;
    DWORD attributes = 0;
    if (filesFolder.empty() || !copy || !IndexOf(copy, index, attributes) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !PathBelow(FinalPathOf(copy), filesFolder))
        return L"its copy could not be read";
    CHeldFolders held;
    std::wstring why;
    if (!held.Hold(ParentFolder(entry.path), why))
        return L"its copy could not be written back: " + why;
    if (!WriteNewFile(entry.path, copy, size, sha256, why))
        return why;
    if (sha256 != entry.sha256 || size != entry.size) {
        // Its folders are held: the name is the file just written.
        ::DeleteFileW(LongPath(entry.path).c_str());
        return L"its copy in the backup is not what was removed (SHA-256 differs); it was not put back";
    }
    if (entry.attributes && entry.attributes != INVALID_FILE_ATTRIBUTES)
        ::SetFileAttributesW(LongPath(entry.path).c_str(), entry.attributes & ~FILE_ATTRIBUTE_DIRECTORY);
    return std::wstring();
}
}

void RestoreManifestFiles(const HeldBackupFiles& held, const RestoreTold& told)
{
    const std::wstring& manifestPath = held.manifestPath;
    if (!held.manifest) {
        // The backup says it took files: a restore without them has not given everything back.
        if (held.hasFiles)
            told(RestoredItemOf("file", manifestPath, Outcome::Failed,
                                L"the backup's files folder or its manifest is missing; none of its files is back"));
        return;
    }
    std::vector<ManifestEntry> entries;
    if (!ReadManifest(held.manifest, entries)) {
        told(RestoredItemOf("file", manifestPath, Outcome::Failed, L"the manifest of the backup's files cannot be read"));
        return;
    }
    const CInstallation installation = CurrentInstallation();
    // An older backup left files in use to the restart by their own paths: those deletions are
    // taken back first, and only those of what this same removal took. A file that waits in a
    // folder of its pass's own goes at the restart as it is; its copy comes back.
    std::set<std::wstring> removed;
    for (const ManifestEntry& entry : entries)
        if (entry.type != ManifestEntry::Scheduled)
            removed.insert(Lowered(entry.path));
    std::vector<std::wstring> scheduled;
    for (const ManifestEntry& entry : entries)
        if (entry.type == ManifestEntry::Scheduled && entry.staged.empty() && removed.count(Lowered(entry.path)))
            scheduled.push_back(entry.path);
    int cancelled = 0;
    const bool pendingTaken = scheduled.empty() || CancelPendingDeletions(scheduled, cancelled);

    std::wstring top;
    RestoredItem group;
    bool open = false;
    auto close = [&] {
        if (open)
            told(group);
        open = false;
    };
    std::vector<std::wstring> notBack;  // folders that did not come back: nothing goes into them
    for (const ManifestEntry& entry : entries) {
        if (entry.type == ManifestEntry::Scheduled)
            continue;
        const char* kind = entry.type == ManifestEntry::Folder ? "folder" : entry.type == ManifestEntry::Link ? "link" : "file";
        if (!open || !PathBelow(entry.path, top)) {
            close();
            top = entry.path;
            group = RestoredItemOf(kind, top);
            open = true;
        }
        std::wstring why = NotARestorePlace(entry.path, entry.type == ManifestEntry::Folder, installation);
        const bool refused = !why.empty();
        const bool inMissing = std::any_of(notBack.begin(), notBack.end(), [&](const std::wstring& f) { return PathBelow(entry.path, f); });
        if (refused)
            why = L"no place this program removes files from (" + why + L"); nothing was written there";
        else if (inMissing)
            why = L"its folder did not come back";
        else if (entry.type == ManifestEntry::Folder)
            why = RestoreFolder(entry);
        else if (entry.type == ManifestEntry::Link)
            why = RestoreFileLink(entry);
        else
            why = RestoreFile(entry, held.filesFolder);
        if (why.empty() && !pendingTaken && std::find(scheduled.begin(), scheduled.end(), entry.path) != scheduled.end())
            why = L"its deletion at the next restart could not be taken back";
        if (why.empty())
            continue;
        if (entry.type == ManifestEntry::Folder)
            notBack.push_back(entry.path);
        const Outcome outcome = refused ? Outcome::Refused : Outcome::Failed;
        if (entry.path == top) {
            group.outcome = outcome;
            group.why = why;
        } else {
            if (group.outcome == Outcome::Restored) {
                group.outcome = Outcome::Failed;
                group.why = L"not everything inside is back";
            }
            told(RestoredItemOf(kind, entry.path, outcome, why));
        }
    }
    close();
}
