// The least a registry walk can do: open, enumerate and close every key below a root, in
// the order the search uses. The benchmark measures the search against it.
// Usage: walk.exe ROOT_KEY_NAME
#include <windows.h>
#include <cstdio>
#include <cstring>

namespace {
long long g_keys = 0;

void Walk(HKEY parent, const char* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, name, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    ++g_keys;
    char child[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof child;
        if (RegEnumKeyExA(key, index, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        Walk(key, child);
    }
    RegCloseKey(key);
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
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    Walk(root, nullptr);
    QueryPerformanceCounter(&b);
    printf("%lld keys in %.3f s\n", g_keys, double(b.QuadPart - a.QuadPart) / double(f.QuadPart));
    return 0;
}
