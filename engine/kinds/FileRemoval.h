// The removal half the folder and driver-file kinds share: every item opened as it was listed
// (never through a link), copied into the backup first, deleted through its handle, and what is
// in use moved into a folder only administrators can change, for the restart to delete.
#pragma once
#include "LeftoverKind.h"
#include "../system/FileHandles.h"

class CFileRemoval : public ILeftoverKind
{
public:
    std::unique_ptr<CPreparedRemoval> Prepare(const CmdListEntry& finding, const RemovalContext&) const override;
    RemovalResult Remove(const CmdListEntry& finding, CPreparedRemoval& prepared, RemovalContext& context) const override;
    bool IsGone(const CmdListEntry& finding) const override;
    std::wstring RestartReason(const CmdListEntry& finding) const override;
protected:
    // The size and file count of a finding, from its items as listed (none when they could not be).
    static void Measure(CmdListEntry* entry);
    static void Measure(CmdListEntry* entry, const std::vector<FileItem>& items);
};
