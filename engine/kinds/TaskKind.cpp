// Scheduled tasks, each as one unit. A task lives in several places at once: its key below
// TaskCache\Tree (named by its path), TaskCache\Tasks\{Id}, an {Id} key in each trigger list
// (Logon, Plain, Boot, Maintenance) and its file in %SystemRoot%\System32\Tasks. Leaving some of
// them is what Windows reports as a corrupt task. A task is a finding when its path names the
// product, or (with the references) its action's program lay in the product's place and is gone;
// the name search's findings of its keys are this finding instead. Removal asks the Task
// Scheduler first (ITaskFolder::DeleteTask) and then removes whatever part is left; it has
// failed while any part remains. The keys go into the pass's backup, the file into its files
// folder.
#include "LeftoverKind.h"
#include "../../resources/resource.h"
#include "KeyRemoval.h"
#include "../system/FileClaims.h"
#include "../backup/FileCopies.h"
#include "../system/FileHandles.h"
#include "../system/ComScope.h"
#include "../system/FileEvidence.h"
#include "../system/Installation.h"
#include "../registry/KeyNames.h"
#include "../registry/RootKeys.h"
#include "../registry/KeyTrees.h"
#include "../search/Keywords.h"
#include "../system/Offline.h"
#include "../backup/RegBackup.h"
#include "../registry/RegKey.h"
#include "../system/TaskCache.h"
#include "../../framework/Handles.h"
#include "../search/Said.h"
#include <taskschd.h>

namespace {
const wchar_t kTaskCache[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Schedule\\TaskCache";
typedef ScheduledTask Task;

// Whether a part of a task, its key below HKEY_LOCAL_MACHINE, is gone.
bool PartGone(const std::wstring& below)
{
    return KeyGone(FullPath(HKEY_LOCAL_MACHINE, below));
}

struct PreparedTask : CPreparedRemoval
{
    Task task;
    std::vector<KeyTree> trees;     // the parts that are there, read whole
    std::wstring file;
    std::vector<BYTE> bytes;        // the file, when there is one
    bool hasFile = false;
};

// Tasks below \\Microsoft\\ are Windows' own, whatever a keyword matches.
bool IsWindowsTask(const std::wstring& path)
{
    return _wcsnicmp(path.c_str(), L"\\Microsoft\\", 11) == 0;
}

// Whether a name on the task's path holds a keyword: the reason and the keyword when one does.
void NamedAfterTheProduct(const CSearchFacts& facts, const std::wstring& path, std::wstring& keyword, std::wstring& reason)
{
    for (size_t at = 1; keyword.empty() && at < path.size();) {
        const size_t end = path.find(L'\\', at);
        keyword = facts.keywords.Matching(path.substr(at, end == std::wstring::npos ? std::wstring::npos : end - at));
        at = end == std::wstring::npos ? path.size() : end + 1;
    }
    if (!keyword.empty())
        reason = Said(IDS_REASON_TASK_NAMED);
}

// Deletes the task's file through a handle that is the file itself at its own path: the task
// folder lets others create entries, so a link put on the way since the listing leads nowhere.
void DeleteTaskFile(const std::wstring& file)
{
    CHandle held(::CreateFileW(LongPath(file).c_str(), DELETE | FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    ULONGLONG index = 0;
    DWORD attributes = 0;
    if (!held || !IndexOf(held, index, attributes) ||
        (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
        _wcsicmp(FinalPathOf(held).c_str(), file.c_str()) != 0)
        return;  // the task stays failed: its file is still there
    DeleteThrough(held);
}

// Asks the Task Scheduler to delete the task; whatever it leaves is removed by hand afterwards.
void DeleteThroughScheduler(const std::wstring& path)
{
    CComScope com;
    ITaskService* service = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                  reinterpret_cast<void**>(&service))))
        return;
    CComPtrOf<ITaskService> ownService(service);
    VARIANT none;
    ::VariantInit(&none);
    if (FAILED(service->Connect(none, none, none, none)))
        return;
    const size_t last = path.rfind(L'\\');
    const std::wstring folderPath = last == 0 ? L"\\" : path.substr(0, last);
    BSTR folderName = ::SysAllocString(folderPath.c_str());
    ITaskFolder* folder = nullptr;
    const HRESULT found = service->GetFolder(folderName, &folder);
    ::SysFreeString(folderName);
    if (FAILED(found))
        return;
    CComPtrOf<ITaskFolder> ownFolder(folder);
    BSTR taskName = ::SysAllocString(path.substr(last + 1).c_str());
    folder->DeleteTask(taskName, 0);
    ::SysFreeString(taskName);
}

class CTaskKind : public ILeftoverKind, public IClaimsFiles
{
public:
    // What every scheduled task starts.
    void ClaimMachineFiles(CClaimReader& reader) const override
    {
        for (const Task& task : ScheduledTasks())
            if (!reader.IsFinding(task.path))
                reader.Add(std::wstring(), TaskCommand(task, reader.Installation()), Said(IDS_CLAIM_TASK, { task.path }));
    }

    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { 'T', "scheduledTask", 0, IDS_KIND_TASK };
        return identity;
    }
    bool LooksIn(const SearchScope& scope) const override { return scope.Searches(HKEY_LOCAL_MACHINE); }

    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        for (const Task& task : ScheduledTasks()) {
            std::wstring keyword, reason;
            if (IsWindowsTask(task.path) || findings.Has(task.path))
                continue;
            NamedAfterTheProduct(facts, task.path, keyword, reason);
            if (reason.empty() && facts.scope.followReferences) {
                const std::wstring evidence = EvidenceOfGoneFile(L"Command", TaskCommand(task, facts.installation), std::wstring(),
                                                                 facts.installation, facts.keywords.Lower(), keyword);
                if (!evidence.empty())
                    reason = Said(IDS_REASON_TASK_EVIDENCE, { Nested(evidence) });
            }
            // One whose key the name search found is in that key's place already.
            if (!reason.empty())
                findings.Add(*this, task.path, reason, keyword);
        }
        return KindCheck();
    }

    // A task's key below TaskCache\Tree that the name search found is the task, in the key's place;
    // a part of a task Windows brought stays.
    Refinement Refine(const CSearchFacts& facts, const std::wstring& walkPath) const override
    {
        Refinement refinement;
        std::wstring below;
        const std::wstring tree = std::wstring(kTaskCache) + L"\\Tree";
        if (SplitFullPath(walkPath, below) != HKEY_LOCAL_MACHINE || !PathAtOrBelow(below, tree))
            return refinement;
        const std::wstring taskPath = below.size() > tree.size() ? below.substr(tree.size()) : std::wstring(L"\\");
        if (IsWindowsTask(taskPath + L"\\")) {
            refinement.action = Refinement::Keep;
            refinement.reason = Said(IDS_WHY_WINDOWS_TASK);
            return refinement;
        }
        for (const Task& task : ScheduledTasks())
            if (_wcsicmp(task.treeKey.c_str(), below.c_str()) == 0) {
                std::wstring keyword;
                NamedAfterTheProduct(facts, task.path, keyword, refinement.reason);
                if (refinement.reason.empty())
                    refinement.reason = Said(IDS_REASON_TASK_NAMED);
                refinement.action = Refinement::Replace;
                refinement.paths.push_back(task.path);
            }
        return refinement;
    }

    std::unique_ptr<CPreparedRemoval> Prepare(const CmdListEntry& finding, const RemovalContext& context) const override
    {
        std::unique_ptr<PreparedTask> prepared(new PreparedTask);
        bool known = false;
        for (const Task& task : ScheduledTasks())
            if (_wcsicmp(task.path.c_str(), finding.path) == 0) {
                prepared->task = task;
                known = true;
            }
        if (!known)
            return nullptr;
        for (const std::wstring& key : TaskPartKeys(prepared->task)) {
            if (PartGone(key))
                continue;
            KeyTree tree;
            if (!ReadKeyTree(HKEY_LOCAL_MACHINE, key, tree))
                return nullptr;
            prepared->trees.push_back(std::move(tree));
        }
        prepared->file = TaskFile(context.installation, prepared->task);
        prepared->hasFile = !NothingAt(prepared->file);
        if (prepared->hasFile && !ReadWholeFile(prepared->file, prepared->bytes))
            return nullptr;
        return std::unique_ptr<CPreparedRemoval>(prepared.release());
    }

    RemovalResult Remove(const CmdListEntry&, CPreparedRemoval& prepared, RemovalContext& context) const override
    {
        PreparedTask& task = static_cast<PreparedTask&>(prepared);
        std::wstring text;
        for (const KeyTree& tree : task.trees)
            text += tree.text;
        if (!context.backup.Append(text) || (task.hasFile && !context.backup.AppendFile(task.file, task.bytes)))
            return RemovalResult();
        if (!context.offline)  // another installation's scheduler does not run: its parts go by hand
            DeleteThroughScheduler(task.task.path);
        // Whatever part the scheduler left (or never knew) goes too, the parts together.
        for (KeyTree& tree : task.trees)
            DeleteKeyTreeKeys(tree);
        if (task.hasFile && !NothingAt(task.file))
            DeleteTaskFile(task.file);
        RemovalResult result;
        result.outcome = PartsGone(task.task, task.file) ? Outcome::Removed : Outcome::Failed;
        if (result.outcome == Outcome::Failed)
            result.why = L"a part of the task is still there: its keys below TaskCache or its file";
        return result;
    }

    void NamedFiles(const CmdListEntry& finding, const CInstallation& installation, std::vector<std::wstring>& files) const override
    {
        for (const Task& task : ScheduledTasks())
            if (_wcsicmp(task.path.c_str(), finding.path) == 0)
                AddNamedFiles(TaskCommand(task, installation), std::wstring(), installation, files);
    }

    bool IsGone(const CmdListEntry& finding) const override
    {
        const Task task = { finding.path, std::wstring(), std::wstring(kTaskCache) + L"\\Tree" + finding.path };
        return PartGone(task.treeKey) && NothingAt(TaskFile(CurrentInstallation(), task));
    }

private:
    static bool PartsGone(const Task& task, const std::wstring& file)
    {
        for (const std::wstring& key : TaskPartKeys(task))
            if (!PartGone(key))
                return false;
        return NothingAt(file);
    }
};
}

const ILeftoverKind& TaskKind()
{
    static const CTaskKind kind;
    return kind;
}
