// The Task Scheduler's registry cache: every task has its key below TaskCache\Tree (named by its
// path, holding its Id), TaskCache\Tasks\{Id} (its Actions among others), an {Id} key in each
// trigger list (Logon, Plain, Boot, Maintenance), and its file in %SystemRoot%\System32\Tasks.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

class CInstallation;

struct ScheduledTask
{
    std::wstring path;     // "\Folder\Name"
    std::wstring id;       // "{GUID}"
    std::wstring treeKey;  // its key below HKEY_LOCAL_MACHINE
};

// Every task the cache holds, folders walked depth first in the registry's order.
std::vector<ScheduledTask> ScheduledTasks();
// Every key of a task below HKEY_LOCAL_MACHINE: its Tree key, its Tasks key, its trigger keys.
std::vector<std::wstring> TaskPartKeys(const ScheduledTask& task);
// The task's file.
std::wstring TaskFile(const CInstallation& installation, const ScheduledTask& task);
// The program of the task's first Exec action: from its file where there is one, else from its
// Actions value. Empty when neither tells.
std::wstring TaskCommand(const ScheduledTask& task, const CInstallation& installation);
// A file's bytes (at most 16 MiB); FALSE when it cannot be read whole.
bool ReadWholeFile(const std::wstring& path, std::vector<BYTE>& bytes);
