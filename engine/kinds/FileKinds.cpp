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
