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
#include "../ComScope.h"
#include "../FileEvidence.h"
#include "../Installation.h"
#include "../KeyNames.h"
#include "../KeyTrees.h"
#include "../Keywords.h"
#include "../RegBackup.h"
#include "../RegKey.h"
#include "../../framework/Handles.h"
#include <taskschd.h>

namespace {
const wchar_t kTaskCache[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Schedule\\TaskCache";
const wchar_t* const kTriggerLists[] = { L"Logon", L"Plain", L"Boot", L"Maintenance" };
const WORD kExecAction = 0x6666;

struct Task
{
    std::wstring path;     // "\Folder\Name"
    std::wstring id;       // "{GUID}"
    std::wstring treeKey;  // its key below HKEY_LOCAL_MACHINE
};

void ReadTree(HKEY key, const std::wstring& below, const std::wstring& taskPath, std::vector<Task>& tasks)
{
    for (const std::wstring& name : SubkeyNames(key)) {
        CRegKeyOwner child;
        if (OpenSubKey(key, name.c_str(), KEY_READ, child) != ERROR_SUCCESS)
            continue;
        Task task = { taskPath + L"\\" + name, std::wstring(), below + L"\\" + name };
        if (ReadStringValue(child, L"Id", task.id))
            tasks.push_back(task);
        else
            ReadTree(child, task.treeKey, task.path, tasks);
    }
}

std::vector<Task> Tasks()
{
    std::vector<Task> tasks;
    const std::wstring tree = std::wstring(kTaskCache) + L"\\Tree";
    CRegKeyOwner key;
    if (OpenKeyExact(HKEY_LOCAL_MACHINE, tree.c_str(), KEY_READ, key) == ERROR_SUCCESS)
        ReadTree(key, tree, std::wstring(), tasks);
    return tasks;
}

// Every key of a task below HKEY_LOCAL_MACHINE: its Tree key, its Tasks key, its trigger keys.
std::vector<std::wstring> PartKeys(const Task& task)
{
    std::vector<std::wstring> keys = { task.treeKey, std::wstring(kTaskCache) + L"\\Tasks\\" + task.id };
    for (const wchar_t* list : kTriggerLists)
        keys.push_back(std::wstring(kTaskCache) + L"\\" + list + L"\\" + task.id);
    return keys;
}

std::wstring TaskFile(const CInstallation& installation, const Task& task)
{
    return installation.WindowsFolder() + L"\\System32\\Tasks" + task.path;
}

bool ReadFileBytes(const std::wstring& path, std::vector<BYTE>& bytes)
{
    CHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !::GetFileSizeEx(file, &size) || size.QuadPart > 16 * 1024 * 1024)
        return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    return bytes.empty() || (::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) && got == bytes.size());
}

std::wstring Unescaped(std::wstring text)
{
    const struct
    {
        const wchar_t* entity;
        const wchar_t* character;
    } entities[] = { { L"&quot;", L"\"" }, { L"&apos;", L"'" }, { L"&lt;", L"<" }, { L"&gt;", L">" }, { L"&amp;", L"&" } };
    for (const auto& entity : entities)
        for (size_t at = text.find(entity.entity); at != std::wstring::npos; at = text.find(entity.entity, at + 1))
            text.replace(at, wcslen(entity.entity), entity.character);
    return text;
}

// The program of the task's first Exec action, from its file (UTF-16 XML) where there is one.
std::wstring CommandOfFile(const std::vector<BYTE>& bytes)
{
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE)
        return std::wstring();
    const std::wstring xml(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / sizeof(wchar_t));
    const size_t open = xml.find(L"<Command>");
    const size_t close = open == std::wstring::npos ? open : xml.find(L"</Command>", open);
    if (close == std::wstring::npos)
        return std::wstring();
    return Unescaped(xml.substr(open + 9, close - open - 9));
}

// ...else from the Actions value of its TaskCache\Tasks key: a version, the context's text, then
// the actions, an Exec action (0x6666) holding its id's text and then its command's, each text a
// byte count and UTF-16.
std::wstring CommandOfActions(const std::vector<BYTE>& blob)
{
    size_t at = 0;
    auto take = [&](void* out, size_t size) {
        if (at + size > blob.size())
            return false;
        memcpy(out, blob.data() + at, size);
        at += size;
        return true;
    };
    auto text = [&](std::wstring& out) {
        DWORD bytes = 0;
        if (!take(&bytes, sizeof bytes) || bytes % 2 || at + bytes > blob.size())
            return false;
        out.assign(reinterpret_cast<const wchar_t*>(blob.data() + at), bytes / 2);
        at += bytes;
        return true;
    };
    WORD version = 0, magic = 0;
    std::wstring context, id, command;
    if (!take(&version, sizeof version) || version == 0 || version > 3 || (version >= 2 && !text(context)) ||
        !take(&magic, sizeof magic) || magic != kExecAction || !text(id) || !text(command))
        return std::wstring();
    return command.c_str();
}

std::wstring CommandOf(const Task& task, const CInstallation& installation)
{
    std::vector<BYTE> bytes;
    if (ReadFileBytes(TaskFile(installation, task), bytes)) {
        const std::wstring command = CommandOfFile(bytes);
        if (!command.empty())
            return command;
    }
    CRegKeyOwner key;
    DWORD type = 0;
    if (OpenKeyExact(HKEY_LOCAL_MACHINE, (std::wstring(kTaskCache) + L"\\Tasks\\" + task.id).c_str(), KEY_QUERY_VALUE, key) !=
            ERROR_SUCCESS ||
        ReadValueBytes(key, L"Actions", type, bytes) != ERROR_SUCCESS)
        return std::wstring();
    return CommandOfActions(bytes);
}

bool KeyGone(const std::wstring& below)
{
    CRegKeyOwner key;
    return OpenKeyExact(HKEY_LOCAL_MACHINE, below.c_str(), KEY_READ, key) == ERROR_FILE_NOT_FOUND;
}

bool FileGone(const std::wstring& path)
{
    if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return false;
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

struct PreparedTask : CPreparedRemoval
{
    Task task;
    std::vector<KeyTree> trees;     // the parts that are there, read whole
    std::wstring file;
    std::vector<BYTE> bytes;        // the file, when there is one
    bool hasFile = false;
};

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

class CTaskKind : public ILeftoverKind
{
public:
    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { 'T', "scheduledTask", 0 };
        return identity;
    }
    bool LooksIn(const SearchScope& scope) const override { return scope.Searches(HKEY_LOCAL_MACHINE); }

    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        for (const Task& task : Tasks()) {
            std::wstring keyword, reason;
            for (size_t at = 1; keyword.empty() && at < task.path.size();) {
                const size_t end = task.path.find(L'\\', at);
                keyword = facts.keywords.Matching(task.path.substr(at, end == std::wstring::npos ? std::wstring::npos : end - at));
                at = end == std::wstring::npos ? task.path.size() : end + 1;
            }
            if (!keyword.empty())
                reason = L"scheduled task named after the product";
            else if (facts.scope.followReferences) {
                const std::wstring evidence = EvidenceOfGoneFile(L"Command", CommandOf(task, facts.installation), std::wstring(),
                                                                 facts.installation, facts.keywords.Lower(), keyword);
                if (!evidence.empty())
                    reason = L"scheduled task; " + evidence;
            }
            if (reason.empty() || findings.Has(task.path))
                continue;
            // One finding per task, whatever number of its parts the name search found.
            std::vector<std::wstring> parts;
            for (const std::wstring& key : PartKeys(task))
                parts.push_back(FullPath(HKEY_LOCAL_MACHINE, key));
            findings.Drop([&parts](const CmdListEntry& entry) {
                for (const std::wstring& part : parts)
                    if (_wcsicmp(entry.path, part.c_str()) == 0)
                        return true;
                return false;
            });
            findings.Add(*this, task.path, reason, keyword);
        }
        return KindCheck();
    }

    std::unique_ptr<CPreparedRemoval> Prepare(const CmdListEntry& finding) const override
    {
        std::unique_ptr<PreparedTask> prepared(new PreparedTask);
        bool known = false;
        for (const Task& task : Tasks())
            if (_wcsicmp(task.path.c_str(), finding.path) == 0) {
                prepared->task = task;
                known = true;
            }
        if (!known)
            return nullptr;
        for (const std::wstring& key : PartKeys(prepared->task)) {
            if (KeyGone(key))
                continue;
            KeyTree tree;
            if (!ReadKeyTree(HKEY_LOCAL_MACHINE, key, tree))
                return nullptr;
            prepared->trees.push_back(std::move(tree));
        }
        prepared->file = TaskFile(CInstallation::Live(), prepared->task);
        prepared->hasFile = !FileGone(prepared->file);
        if (prepared->hasFile && !ReadFileBytes(prepared->file, prepared->bytes))
            return nullptr;
        return std::unique_ptr<CPreparedRemoval>(prepared.release());
    }

    RemovalResult Remove(const CmdListEntry&, CPreparedRemoval& prepared, CRegBackup& backup) const override
    {
        PreparedTask& task = static_cast<PreparedTask&>(prepared);
        std::wstring text;
        for (const KeyTree& tree : task.trees)
            text += tree.text;
        if (!backup.Append(text) || (task.hasFile && !backup.AppendFile(task.file, task.bytes)))
            return RemovalResult();
        DeleteThroughScheduler(task.task.path);
        // Whatever part the scheduler left (or never knew) goes too, the parts together.
        for (KeyTree& tree : task.trees)
            DeleteKeyTreeKeys(tree);
        if (task.hasFile && !FileGone(task.file))
            ::DeleteFileW(task.file.c_str());
        RemovalResult result;
        result.outcome = PartsGone(task.task, task.file) ? Outcome::Removed : Outcome::Failed;
        if (result.outcome == Outcome::Failed)
            result.why = L"a part of the task is still there: its keys below TaskCache or its file";
        return result;
    }

    bool IsGone(const CmdListEntry& finding) const override
    {
        const Task task = { finding.path, std::wstring(), std::wstring(kTaskCache) + L"\\Tree" + finding.path };
        return KeyGone(task.treeKey) && FileGone(TaskFile(CInstallation::Live(), task));
    }

private:
    static bool PartsGone(const Task& task, const std::wstring& file)
    {
        for (const std::wstring& key : PartKeys(task))
            if (!KeyGone(key))
                return false;
        return FileGone(file);
    }
};
}

const ILeftoverKind& TaskKind()
{
    static const CTaskKind kind;
    return kind;
}
