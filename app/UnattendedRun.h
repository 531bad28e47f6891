// The unattended run: one root key, the given or default keywords, every finding backed up and
// removed with /del, everything written to the report and the record; no window, and an exit
// code that says how it ended.
#pragma once
#include <windows.h>
#include "../framework/CString.h"
#include <vector>

class CRunRecord;
class ILeftoverKind;

struct UnattendedRequest
{
    CString reportPath;     // /silent's value (empty: the default report)
    CString keywords;       // /keywords's value (empty: the default list)
    CString rootName;       // /hkey's value as a full root key name (empty: HKEY_LOCAL_MACHINE)
    bool remove = false;              // /del
    bool followReferences = false;    // /refs
    bool recordFailed = false;        // the record could not be opened: nothing may be removed
    std::vector<const ILeftoverKind*> kinds;  // the kinds to look for; empty: the kinds table
    std::wstring restorePath;         // /restore: the backup to give back (full path)
    std::wstring offlineFolder;       // /offline: another installation's Windows folder
    bool dangling = false;            // /dangling
};

class CUnattendedRun
{
public:
    explicit CUnattendedRun(CRunRecord& record) : m_record(record) {}
    // Runs and returns the exit code.
    int Run(UnattendedRequest request);
    // Gives back what the pass of `request.restorePath` took; the exit code: 0 only when all of it
    // is back and verified.
    int Restore(UnattendedRequest request);

private:
    // Opens the offline installation a request names (none: nothing to do); the exit code that
    // ends the run when it cannot be opened, else 0.
    int OpenOffline(const UnattendedRequest& request, class COfflineInstallation& offline);
    // Unloads it, saying so when a hive would not go.
    // Unloads another installation's hives; FALSE (said in the report and on standard error) when one stays.
    bool CloseOffline(class COfflineInstallation& offline, class CReport* report);

    CRunRecord& m_record;
};
