// What still names a file on this machine: the registrations of everything installed (uninstall
// entries, services, class servers, start-up values, Winsock providers, Security Center products
// and scheduled tasks, of the machine and of every user's profile) and the programs running now. A product's folder that any of them names
// a file inside is in use, however its name reads; what is a finding itself claims nothing.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

class CInstallation;

struct FileClaim
{
    std::wstring lowerText;   // the data, expanded as its owner has it, lowercase
    std::wstring normalized;  // the file it names (CInstallation::Normalized), lowercase; may be empty
    std::wstring by;          // who names it: a key's full path, "task \X", "process 1234"
};

class CFileClaims
{
public:
    // Reads every claim of `installation` (its live registry and processes) except those of keys
    // and tasks that `isFinding` says are findings. Profiles whose hive cannot be read go to
    // `unread` (their folders cannot be judged).
    static CFileClaims Read(const CInstallation& installation,
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
