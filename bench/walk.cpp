// The least a registry walk can do: open (each key as itself, with the wide-character
// functions the search uses), enumerate and close every key below a root. With a thread
// count above one, the keys two levels down are shared out among that many threads: what
// plain splitting gains, for comparison with the search's own.
// Prints the keys, the time and the process's own CPU time (the registry server's is not in it).
// Usage: walk.exe ROOT_KEY_NAME [THREADS]
#include <windows.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {
std::atomic<long long> g_keys{ 0 };

void Walk(HKEY parent, const wchar_t* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    g_keys.fetch_add(1, std::memory_order_relaxed);
    wchar_t child[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, index, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        Walk(key, child);
    }
    RegCloseKey(key);
}

std::vector<std::wstring> Children(HKEY parent, const std::wstring& path)
{
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, path.empty() ? nullptr : path.c_str(), REG_OPTION_OPEN_LINK, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return names;
    g_keys.fetch_add(1, std::memory_order_relaxed);
    wchar_t child[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, index, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.push_back(path.empty() ? std::wstring(child) : path + L"\\" + child);
    }
    RegCloseKey(key);
    return names;
}

void WalkShared(HKEY root, int threads)
{
    std::vector<std::wstring> work;
    for (const std::wstring& first : Children(root, L""))
        for (const std::wstring& second : Children(root, first))
            work.push_back(second);
    std::atomic<size_t> next{ 0 };
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&] {
            for (size_t i; (i = next.fetch_add(1)) < work.size();)
                Walk(root, work[i].c_str());
        });
    for (std::thread& thread : pool)
        thread.join();
}
}

int main(int argc, char** argv)
{
    const char* names[] = { "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS",
                            "HKEY_CURRENT_CONFIG" };
    HKEY roots[] = { HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_CONFIG };
    HKEY root = HKEY_LOCAL_MACHINE;
    for (int i = 0; i < 5; ++i)
        if (argc > 1 && strcmp(argv[1], names[i]) == 0)
            root = roots[i];
    const int threads = argc > 2 ? atoi(argv[2]) : 1;
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    if (threads > 1)
        WalkShared(root, threads);
    else
        Walk(root, nullptr);
    QueryPerformanceCounter(&b);
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    auto seconds = [](const FILETIME& t) { return double((ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7; };
    printf("%lld keys in %.3f s, %.3f s cpu\n", g_keys.load(), double(b.QuadPart - a.QuadPart) / double(f.QuadPart),
           seconds(kernel) + seconds(user));
    return 0;
}
