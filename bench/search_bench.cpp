// The search itself, in this process, on a chosen number of threads: the time of
// ScanRegistry over one root key with the default keyword list, the keys it opened, and the
// process's own CPU time (the registry server's is not in it).
// Usage: search_bench.exe ROOT_KEY_NAME THREADS [--no-filter-lists]
// (without the device filter lists that a search of HKEY_LOCAL_MACHINE reads, to measure them)
#include "../engine/CmdList.h"
#include "../engine/KlarnEngine.h"
#include "../report/ReportLog.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv)
{
    HKEY root = HkeyFromName(argc > 1 ? argv[1] : "");
    RootKeySlot slots[kRootKeyCount] = { 0, 0, 0, 0, 0 };
    for (int slot = 0; slot < kRootKeyCount; ++slot)
        if (RootKeyAt(slot) == root)
            slots[slot] = SlotFromHkey(root);
    char temp[MAX_PATH] = "";
    ::GetTempPathA(MAX_PATH, temp);
    HANDLE report = OpenReport(CString(temp) + "search_bench_report.txt");
    std::vector<char> keywords(kDefaultKeywords, kDefaultKeywords + sizeof kDefaultKeywords);
    LONG stop = 0, keys = 0;
    CKlarnEngine engine;
    engine.SetSearchThreads(argc > 2 ? atoi(argv[2]) : 0);
    engine.SetReadFilterLists(!(argc > 3 && strcmp(argv[3], "--no-filter-lists") == 0));
    engine.SetProgressCounter(&keys);
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    CmdListEntry* findings = engine.ScanRegistry(keywords.data(), nullptr, slots, report, &stop);
    QueryPerformanceCounter(&b);
    int count = 0;
    for (CmdListEntry* entry = findings; entry; entry = entry->next)
        ++count;
    CmdListFree(&findings);
    CloseReport(report);
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    auto seconds = [](const FILETIME& t) { return double((ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7; };
    printf("%ld keys in %.3f s, %.3f s cpu, %d findings\n", keys, double(b.QuadPart - a.QuadPart) / double(f.QuadPart),
           seconds(kernel) + seconds(user), count);
    return 0;
}
