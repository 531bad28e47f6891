// A kind of leftover: everything the program knows about one sort of thing that a product leaves
// behind, in one unit. A search asks each kind what it reads where the walk passes a key and what
// it decides after the walk; a removal pass asks it to read a finding before anything changes,
// to remove it (backing up what it read just before) and whether a finding is gone all the same;
// the report, the window and the JSON record ask it how a finding is shown. The kinds table
// (KindsTable.h) lists them in the order of a search's findings.
#pragma once
#include <windows.h>
#include "../search/CmdList.h"
#include "../registry/KeyPlaces.h"
#include "../backup/Outcome.h"
#include "../backup/RestoreBlock.h"
#include "../registry/RootKeys.h"
#include "../system/FileClaims.h"
#include "../system/InstalledProducts.h"
#include "References.h"
#include "../search/WalkReader.h"
#include "../search/WalkResult.h"
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CFindings;
class CInstallation;
class CKeywords;
class CRegBackup;
class CStagingFolders;

struct KindIdentity
{
    char letter;             // the findings list's and the window's kind letter
    const char* recordName;  // the JSON record's "kind"
    int rank;                // a removal pass removes lower ranks first; equal ranks in list order
    UINT nameId;             // the string that names the kind for people (the window's kind column)
    bool measured = false;   // its findings carry a size and a file count (files and folders)
};

// What a search covers: the root keys it walks, and what it was asked for beside names.
struct SearchScope
{
    RootKeySlot rootKeys[kRootKeyCount] = { 0, 0, 0, 0, 0 };
    bool followReferences = false;
    std::wstring controlSet;  // the running control set's name ("ControlSet001"); empty if unknown
    bool offline = false;     // another installation (Offline.h): nothing of it runs
    bool dangling = false;    // filter-list entries whose driver has no service key, whatever their name
    bool stopped = false;     // the search was stopped: nothing is read or decided beyond the walk
    bool noSoftware = false;  // another installation without a SOFTWARE hive
    std::vector<std::wstring> usersNotLoaded;  // another installation's users whose hives could not be loaded
    bool Searches(HKEY root) const;
};

// Everything a kind may decide on after the walk.
class CSearchFacts
{
public:
    CSearchFacts(const SearchScope& scope, const CKeywords& keywords, const WalkResult& walk,
                 const CInstallation& installation, const std::wstring& programFolder,
                 const std::vector<std::wstring>& ownFiles = std::vector<std::wstring>());
    // A key's full path that a kind built, spelled as the registry spells it, as the walk would
    // have recorded it (another installation's keys stay in its own terms).
    std::wstring AsWalked(const std::wstring& fullPath) const;
    // Whether `path` is a finding by its name already, or lies inside one: it is listed once.
    bool CoveredByName(const std::wstring& path) const;
    // The products still installed (InstalledProducts.h), read once when first asked for.
    const std::vector<InstalledProduct>& Installed() const;
    // What still names a file (FileClaims.h), as the kinds and Windows say, the findings so far
    // left out; read once when first asked for, by the files kinds after every registration.
    const CFileClaims& Claims(const CFindings& findings) const;
    // The kinds that look in this search, in the table's order.
    std::vector<const ILeftoverKind*> kinds;
    // What the references decide together (References.h): the classes whose servers are gone and
    // what goes with them. Worked out once per search, by the first kind that asks (the reference
    // kinds themselves, and the handlers that name a class they take).
    const std::vector<ReferenceFinding>& References() const;

    const SearchScope& scope;
    const CKeywords& keywords;
    const WalkResult& walk;
    const CInstallation& installation;
    const std::wstring programFolder;  // this program's own folder
    // What this run itself uses: its folder, its report (and the backup beside it).
    const std::vector<std::wstring> ownFiles;

private:
    std::vector<std::wstring> m_lowerNames;
    mutable std::unique_ptr<std::vector<ReferenceFinding>> m_references;
    mutable std::unique_ptr<std::vector<InstalledProduct>> m_installed;
    mutable std::unique_ptr<CFileClaims> m_claims;
};

class ILeftoverKind;

// The findings list as a search builds it.
class CFindings
{
public:
    explicit CFindings(CmdListEntry*& head) : m_head(head) {}
    // Appends a finding of `kind` with its reason and the keyword that made it one; none when the
    // path does not fit (it could only be recorded cut short, naming another key).
    CmdListEntry* Add(const ILeftoverKind& kind, const std::wstring& path, const std::wstring& reason,
                      const std::wstring& keyword);
    // The findings of one kind so far, in order.
    std::vector<const CmdListEntry*> Of(const ILeftoverKind& kind) const;
    // Whether a finding with this path (in any letter case) is listed already.
    bool Has(const std::wstring& path) const;
    // Every finding so far, in order.
    std::vector<const CmdListEntry*> All() const;
    // Whether `path` is a finding's path or lies below one.
    bool Covers(const std::wstring& path) const;

private:
    CmdListEntry*& m_head;
};

// Whether a kind looked: it did, it could not (and why), or the search did not ask it to.
struct KindCheck
{
    enum State { Ran, Unavailable, Skipped } state = Ran;
    std::wstring why;
    // Lines for the report alone: what it saw and changes nothing about.
    std::vector<std::wstring> notes;
};

// What a removal pass hands every kind: the backup it writes first, the installation it removes
// from (the running one, or another one open offline) and where files in use wait for the restart.
struct RemovalContext
{
    CRegBackup& backup;
    CStagingFolders& staging;
    const CInstallation& installation;
    bool offline;  // another installation: nothing of it runs, nothing waits for this one's restart
    const std::vector<const IClaimsFiles*>& claimers;  // the kinds whose registrations name files
};

// What a finding's removal read before the pass changed anything, kept until its turn.
class CPreparedRemoval
{
public:
    virtual ~CPreparedRemoval() {}
};

// What a kind makes of a key the walk found by its own name: nothing (it stays a key), its own
// finding at the same path and place, a key kept with a reason, or findings of its own in its
// place (a task for the task's key, say).
struct Refinement
{
    enum Action { None, TakeOver, Keep, Replace } action = None;
    std::wstring reason;             // TakeOver: the finding's reason; Keep: why it stays (a report note)
    std::vector<std::wstring> paths; // Replace: the findings in its place, in order
};

class ILeftoverKind : public IWalkReader
{
public:
    virtual ~ILeftoverKind() {}
    virtual const KindIdentity& Identity() const = 0;

    // Whether it looks at all in a search of this scope.
    virtual bool LooksIn(const SearchScope& scope) const = 0;
    // Whether what it decides on lies in a SOFTWARE hive: without one (another installation that
    // lacks it) it cannot look, and says so.
    virtual bool NeedsSoftwareHive() const { return true; }
    // What it reads where the walk passes a key in one of its places (any thread may call it).
    bool ReadsAt(KeyPlace place) const override;
    void ReadAt(HKEY key, const std::wstring& path, KeyPlace place, const std::function<void(WalkNote&&)>& note) const override;
    // After the walk: its findings, appended in order, each with its reason.
    virtual KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const = 0;
    // What it makes of a key the walk found by its name, asked before the key is listed.
    virtual Refinement Refine(const CSearchFacts& facts, const std::wstring& walkPath) const;

    // Reads what the removal of `finding` will back up, before anything of the pass changes;
    // null when it cannot be read whole (the finding then stays, and fails).
    virtual std::unique_ptr<CPreparedRemoval> Prepare(const CmdListEntry& finding, const RemovalContext& context) const = 0;
    // Writes what was read to the context's backup, then removes the finding.
    virtual RemovalResult Remove(const CmdListEntry& finding, CPreparedRemoval& prepared, RemovalContext& context) const = 0;
    // Whether a finding whose removal failed is gone all the same (someone else removed it).
    virtual bool IsGone(const CmdListEntry& finding) const = 0;
    // Puts back what its removals wrote to a backup (its findings' blocks, in the backup's
    // order); `told` once per thing back or known not to be. Key trees and their links by default.
    virtual void Restore(const std::vector<const RestoreBlock*>& blocks, const RestoreContext& context,
                         const RestoreTold& told) const;

    // Why removing the finding now would need a restart to finish (a file in use, a service that
    // cannot stop); empty when it would not, as far as can be told before trying.
    virtual std::wstring RestartReason(const CmdListEntry& finding) const;

    // The files and folders a finding names (an InstallDir value, an ImagePath, a class's server, a
    // task's program), as the file system knows them: with a keyword list of the user's own, a
    // folder is a finding only where a finding of the same search names something in it.
    virtual void NamedFiles(const CmdListEntry& finding, const CInstallation& installation, std::vector<std::wstring>& files) const;

    // A name people can read for a finding whose path is only a number or a GUID (a catalog
    // entry's provider, a registration's product); empty when the path says enough.
    virtual std::wstring ReadableName(const CmdListEntry& finding) const;

    // The record's path and list entry of a finding (a list's entry keeps its list's path).
    virtual void RecordPath(const CmdListEntry& finding, std::wstring& path, std::wstring& entry) const;
};

// The users' hives a search of `scope` covers, each as its root key and the prefix of its keys:
// every loaded profile's below HKEY_USERS ("S-1-5-21-...\"), else the running user's
// HKEY_CURRENT_USER (no prefix); none when it searches neither.
std::vector<std::pair<HKEY, std::wstring>> UserHivesOf(const SearchScope& scope, const CInstallation& installation);

// The kinds among `kinds` whose registrations name files (FileClaims.h).
std::vector<const IClaimsFiles*> FileClaimersAmong(const std::vector<const ILeftoverKind*>& kinds);

// The notes the walk took at the given places, grouped by the key they speak for, in walk order.
std::vector<std::vector<const WalkNote*>> NotesByKey(const std::vector<WalkNote>& notes,
                                                     const std::vector<KeyPlace>& places);
// A note of the walk, for a kind's reading.
WalkNote Note(KeyPlace place, const std::wstring& key, const std::wstring& name, const std::wstring& data);
// The last name of a path, and the path without it.
std::wstring LastNameOf(const std::wstring& path);
std::wstring ParentOf(const std::wstring& path);

// What a removal that only backs up a text and needs nothing else kept holds.
class CPreparedText : public CPreparedRemoval
{
public:
    explicit CPreparedText(std::wstring text) : m_text(std::move(text)) {}
    const std::wstring& Text() const { return m_text; }

private:
    std::wstring m_text;
};
