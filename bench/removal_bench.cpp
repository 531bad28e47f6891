// What the backup costs a removal: one finding of 10,000 keys with a few values each, removed
// by the engine (which writes the backup first), and removed by the same deletion without the
// backup step (keys opened as themselves, deleted children first). Seeded afresh before each
// removal; best of three rounds each. Prints numbers; never fails on time.
// Usage: removal_bench.exe
#include "../engine/KlarnEngine.h"
#include "../engine/RegBackup.h"
#include "../engine/RegKey.h"
#include <cstdio>
#include <string>

namespace {
const wchar_t kTree[] = L"Software\\KlarnerBenchRemoval";

double Now()
{
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(f.QuadPart);
}

// 100 groups of 99 leaves and the group keys: 10,000 keys, three values on each.
void Seed()
{
    const BYTE binary[32] = { 1, 2, 3, 4, 5, 6, 7, 8, 9 };
    const DWORD number = 42;
    const wchar_t text[] = L"C:\\Program Files\\Velmora\\vmguardsvc.exe";
    auto values = [&](HKEY key) {
        RegSetValueExW(key, L"ImagePath", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
        RegSetValueExW(key, L"Start", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
        RegSetValueExW(key, L"Data", 0, REG_BINARY, binary, sizeof binary);
    };
    HKEY top = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, kTree, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &top, nullptr);
    values(top);
    for (int g = 0; g < 100; ++g) {
        HKEY group = nullptr;
        RegCreateKeyExW(top, (L"group" + std::to_wstring(g)).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &group,
                        nullptr);
        values(group);
        for (int l = 0; l < (g == 0 ? 98 : 99); ++l) {
            HKEY leaf = nullptr;
            RegCreateKeyExW(group, (L"leaf" + std::to_wstring(l)).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &leaf, nullptr);
            values(leaf);
            RegCloseKey(leaf);
        }
        RegCloseKey(group);
    }
    RegCloseKey(top);
}

BOOL DeleteWithoutBackup(HKEY key)
{
    wchar_t name[256];
    for (;;) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        CRegKeyOwner child;
        if (OpenSubKey(key, name, KEY_READ | DELETE, child) != ERROR_SUCCESS || !DeleteWithoutBackup(child))
            return FALSE;
    }
    return DeleteOpenedKey(key) == ERROR_SUCCESS;
}
}

int main()
{
    char temp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, temp);
    const CString report = CString(temp) + "removal_bench_report.txt";
    double withBackup = 1e9, without = 1e9;
    for (int round = 0; round < 3; ++round) {
        Seed();
        CRegBackup backup(report);
        CKlarnEngine engine;
        engine.SetBackup(&backup);
        double start = Now();
        BOOL removed = engine.RemoveEntry('K', HKEY_CURRENT_USER, kTree);
        double took = Now() - start;
        if (removed && took < withBackup)
            withBackup = took;
        DeleteFileW(backup.Path().c_str());

        Seed();
        start = Now();
        CRegKeyOwner top;
        removed = OpenKeyExact(HKEY_CURRENT_USER, kTree, KEY_READ | DELETE, top) == ERROR_SUCCESS &&
                  DeleteWithoutBackup(top);
        took = Now() - start;
        if (removed && took < without)
            without = took;
    }
    printf("removal of one finding of 10,000 keys, 3 values each (best of 3)\n");
    printf("  with the backup     %8.3f s\n", withBackup);
    printf("  without the backup  %8.3f s\n", without);
    printf("  ratio               %8.2f\n", withBackup / without);
    return 0;
}
