// The Task Scheduler's registry cache.
#include "TaskCache.h"
#include "Installation.h"
#include "../registry/KeyNames.h"
#include "../registry/RegKey.h"
#include "../../framework/Handles.h"
#include <cstring>

namespace {
const wchar_t kTaskCache[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Schedule\\TaskCache";
const wchar_t* const kTriggerLists[] = { L"Logon", L"Plain", L"Boot", L"Maintenance" };
const WORD kExecAction = 0x6666;

typedef ScheduledTask Task;

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
} // namespace

std::vector<ScheduledTask> ScheduledTasks()
{
    std::vector<Task> tasks;
    const std::wstring tree = std::wstring(kTaskCache) + L"\\Tree";
    CRegKeyOwner key;
    if (OpenKeyExact(HKEY_LOCAL_MACHINE, tree.c_str(), KEY_READ, key) == ERROR_SUCCESS)
        ReadTree(key, tree, std::wstring(), tasks);
    return tasks;
}

std::vector<std::wstring> TaskPartKeys(const ScheduledTask& task)
{
    std::vector<std::wstring> keys = { task.treeKey, std::wstring(kTaskCache) + L"\\Tasks\\" + task.id };
    for (const wchar_t* list : kTriggerLists)
        keys.push_back(std::wstring(kTaskCache) + L"\\" + list + L"\\" + task.id);
    return keys;
}

std::wstring TaskFile(const CInstallation& installation, const ScheduledTask& task)
{
    return installation.WindowsFolder() + L"\\System32\\Tasks" + task.path;
}

bool ReadWholeFile(const std::wstring& path, std::vector<BYTE>& bytes)
{
    CHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !::GetFileSizeEx(file, &size) || size.QuadPart > 16 * 1024 * 1024)
        return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    return bytes.empty() || (::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) && got == bytes.size());
}

std::wstring TaskCommand(const ScheduledTask& task, const CInstallation& installation)
{
    std::vector<BYTE> bytes;
    if (ReadWholeFile(TaskFile(installation, task), bytes)) {
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

