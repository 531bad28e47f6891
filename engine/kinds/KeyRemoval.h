// The removal that most kinds share: a finding that is a key goes with its whole tree, a finding
// that is a value goes alone. Each is read whole before the pass changes anything, backed up just
// before it goes, and never through a registry link; the floor is never removed. A key that is a
// service's key of the running control set goes through the service manager, and not at all
// while a device filter list or the network provider order still names the service.
#pragma once
#include "LeftoverKind.h"
#include "../registry/KeyTrees.h"

class CKeyRemoval : public ILeftoverKind
{
public:
    std::unique_ptr<CPreparedRemoval> Prepare(const CmdListEntry& finding, const RemovalContext&) const override;
    RemovalResult Remove(const CmdListEntry& finding, CPreparedRemoval& prepared, RemovalContext& context) const override;
    bool IsGone(const CmdListEntry& finding) const override;
    // A service's key whose service runs and cannot be stopped goes only at the next restart.
    std::wstring RestartReason(const CmdListEntry& finding) const override;
    // What the string values of its tree name.
    void NamedFiles(const CmdListEntry& finding, const CInstallation& installation, std::vector<std::wstring>& files) const override;

protected:
    struct PreparedTree : CPreparedRemoval
    {
        HKEY root = nullptr;
        std::wstring below;   // the path below the root, without empty names' trailing backslash
        KeyTree tree;
        bool service = false;              // a service's key: its control set and its name
        std::wstring controlSet, serviceName;
    };
    // Reads the finding's tree; FALSE when it must not or cannot be removed.
    static bool ReadFindingTree(const CmdListEntry& finding, PreparedTree& prepared);
    // Backs the tree up and deletes the keys that were read.
    static RemovalResult RemoveTree(PreparedTree& prepared, CRegBackup& backup);
    // A service's key: refused while a list names the service, else through the service manager.
    static RemovalResult RemoveService(PreparedTree& prepared, CRegBackup& backup);
};

class CValueRemoval : public ILeftoverKind
{
public:
    std::unique_ptr<CPreparedRemoval> Prepare(const CmdListEntry& finding, const RemovalContext&) const override;
    RemovalResult Remove(const CmdListEntry& finding, CPreparedRemoval& prepared, RemovalContext& context) const override;
    bool IsGone(const CmdListEntry& finding) const override;
    void NamedFiles(const CmdListEntry& finding, const CInstallation& installation, std::vector<std::wstring>& files) const override;
};

// What a value's text names, as the file system knows it (a file a command starts, or a folder),
// for NamedFiles.
void AddNamedFiles(const std::wstring& data, const std::wstring& owner, const CInstallation& installation,
                   std::vector<std::wstring>& files);

// Whether the key at `fullPath` is gone: not found, opened name by name as itself (one that denies
// reading is still there).
bool KeyGone(const std::wstring& fullPath);

// The results a removal reports most.
RemovalResult Removed();
RemovalResult Failed();
