// What still names a file on this machine: the registrations of everything installed, of the
// machine and of every user's profile, and the programs running now. Each kind of leftover that
// registers files reads its own registrations (IClaimsFiles); beside them Windows Installer's
// component paths, App Paths, the open commands of file types and the start menu's shortcuts. A
// product's folder that any of them names a file inside is in use, however its name reads; what
// is a finding itself claims nothing.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

class CInstallation;
class CFileClaims;

struct FileClaim
{
    std::wstring lowerText;   // the data, expanded as its owner has it, lowercase
    std::wstring normalized;  // the file it names (CInstallation::Normalized), lowercase; may be empty
    std::wstring by;          // who names it: a key's full path, "task \X", "process 1234"
};

// What a kind that registers files uses to tell them: reads a place's values into the claims,
// leaving out what `isFinding` says is a finding.
class CClaimReader
{
public:
    CClaimReader(CFileClaims& claims, const CInstallation& installation,
                 const std::function<bool(const std::wstring& fullPathOrTask)>& isFinding);
    // Every string value of each subkey of `path` (uninstall entries: any of them may name a file).
    void EntriesBelow(HKEY root, const std::wstring& path, const std::wstring& owner);
    // Every string value of the key itself (start-up values).
    void ValuesOf(HKEY root, const std::wstring& path, const std::wstring& owner);
    // The servers of every class below `path` (a CLSID key).
    void Servers(HKEY root, const std::wstring& path, const std::wstring& owner);
    // One text that `by` (a full key path, "task \X") names, unless `by` is a finding.
    void Add(const std::wstring& owner, const std::wstring& data, const std::wstring& by);
    bool IsFinding(const std::wstring& fullPathOrTask) const { return m_isFinding(fullPathOrTask); }
    const CInstallation& Installation() const { return m_installation; }

private:
    void Values(HKEY key, const std::wstring& by, const std::wstring& owner);

    CFileClaims& m_claims;
    const CInstallation& m_installation;
    const std::function<bool(const std::wstring&)>& m_isFinding;
};

// A kind of leftover whose registrations name files: it says which ones, so that no folder a
// registration of it still needs is ever taken.
class IClaimsFiles
{
public:
    virtual ~IClaimsFiles() {}
    // The machine's registrations.
    virtual void ClaimMachineFiles(CClaimReader& reader) const = 0;
    // One user's: `userHive` and `classesHive` are their keys below HKEY_USERS (the second may be
    // empty), `sid` whose they are.
    virtual void ClaimUserFiles(CClaimReader& reader, const std::wstring& userHive, const std::wstring& classesHive,
                                const std::wstring& sid) const;
};

class CFileClaims
{
public:
    // Reads every claim of `installation` (its registry and, for the running one, its processes)
    // that `kinds` and Windows itself make, except those of keys and tasks that `isFinding` says
    // are findings. Profiles whose hives cannot be read go to Unread (their folders cannot be judged).
    static CFileClaims Read(const CInstallation& installation, const std::vector<const IClaimsFiles*>& kinds,
                            const std::function<bool(const std::wstring& fullPathOrTask)>& isFinding);
    void Add(const CInstallation& installation, const std::wstring& owner, const std::wstring& data,
             const std::wstring& by);

    // The first claim that names `path` itself or anything below it; null when none does.
    // `directly` (when given) tells whether one names the folder itself or a file right in it.
    const FileClaim* Naming(const std::wstring& path, bool* directly = nullptr) const;
    // The SIDs of the profiles whose registrations could not be read.
    const std::vector<std::wstring>& Unread() const { return m_unread; }

private:
    std::vector<FileClaim> m_claims;
    std::vector<std::wstring> m_unread;
};

// The full image paths of the processes running now.
std::vector<std::wstring> RunningImages();
