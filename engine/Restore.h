// Giving back what one removal pass took, from its backup: each finding's part through the kind
// that removed it (key trees name by name, never through a link; list entries one by one in
// their old place; what only Windows may register refused with advice), then the files of its
// files folder, each checked against the manifest's SHA-256.
#pragma once
#include <windows.h>
#include "backup/RestoreBlock.h"
#include "../framework/Handles.h"
#include <string>

class CRestore
{
public:
    // Reads the backup and, when there is one, the manifest of its files folder; FALSE (with why)
    // when it is no backup this program wrote, cannot be read whole, may have been changed by
    // someone else or belongs to another installation. Nothing changes here.
    bool Open(const std::wstring& backupPath, std::wstring& why);
    // Puts everything back; `told` for each item once it is back or known not to be. The kinds go
    // in the reverse order of a removal pass (what went last comes back first: a service's key
    // before the filter-list entry that names its driver), the files last.
    void Run(const RestoreTold& told);
    // What the backup holds, in its order.
    const BackupContents& Contents() const { return m_contents; }

private:
    std::wstring m_backup;
    CHandle m_held, m_filesFolder, m_manifest;  // held from their check to the end of the restore
    BackupContents m_contents;
};
