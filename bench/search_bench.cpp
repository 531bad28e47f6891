// The search itself, in this process, on a chosen number of threads: the time of
// ScanRegistry over one root key with the default keyword list, the keys it opened, and the
// process's own CPU time (the registry server's is not in it).
// Usage: search_bench.exe ROOT_KEY_NAME THREADS
//        search_bench.exe --filter-lists   what reading the device filter lists adds to a search of
//        HKEY_LOCAL_MACHINE: the walk has their keys open already, so only the reading is timed
//        search_bench.exe --references     what following references adds to a search of
//        HKEY_CURRENT_USER's classes: reading the servers' values, then deciding (AppIDs, approvals)
#include "../engine/search/CmdList.h"
#include "../engine/system/FilterLists.h"
#include "../engine/system/Installation.h"
#include "../engine/kinds/References.h"
#include "../engine/registry/RegKey.h"
#include "../engine/registry/Hives.h"
#include "../engine/registry/KeyNames.h"
#include "../engine/KlarnEngine.h"
#include "../engine/system/Offline.h"
#include "../engine/search/Keywords.h"
#include "../engine/kinds/KindsTable.h"
#include "../report/Report.h"
#include "../report/ReportLog.h"
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
// The keys of the running control set that hold filter lists, opened as the walk opens them.
void OpenListKeys(HKEY key, int depth, std::vector<CRegKeyOwner>& keys)
{
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return;
        CRegKeyOwner child;
        if (OpenSubKey(key, name, KEY_READ, child) != ERROR_SUCCESS)
            continue;
        if (depth == 1)
            keys.push_back(std::move(child));
        else
            OpenListKeys(child, depth - 1, keys);
    }
}

int FilterLists()
{
    std::vector<CRegKeyOwner> keys;
    const struct { const wchar_t* path; int depth; } places[] = {
        { L"SYSTEM\\CurrentControlSet\\Control\\Class", 1 }, { L"SYSTEM\\CurrentControlSet\\Enum", 3 } };
    for (const auto& place : places) {
        CRegKeyOwner key;
        if (OpenKeyExact(HKEY_LOCAL_MACHINE, place.path, KEY_READ, key) == ERROR_SUCCESS)
            OpenListKeys(key, place.depth, keys);
    }
    // Each pass reads every list; the median of five.
    std::vector<double> passes;
    int lists = 0;
    for (int pass = 0; pass < 5; ++pass) {
        LARGE_INTEGER f, a, b;
        QueryPerformanceFrequency(&f);
        QueryPerformanceCounter(&a);
        lists = 0;
        for (const CRegKeyOwner& key : keys)
            ReadFilterLists(key, L"", [&lists](const FilterList&) { ++lists; });
        QueryPerformanceCounter(&b);
        passes.push_back(double(b.QuadPart - a.QuadPart) / double(f.QuadPart));
    }
    std::sort(passes.begin(), passes.end());
    printf("%d keys %d lists read in %.4f s\n", static_cast<int>(keys.size()), lists, passes[2]);
    return 0;
}

int References()
{
    // Every class below HKEY_CURRENT_USER\Software\Classes\CLSID and its servers, opened as the walk
    // opens them and read as the walk reads them.
    struct Server
    {
        CRegKeyOwner key;
        std::wstring path;
        KeyPlace place;
    };
    std::vector<Server> servers;
    const std::wstring container = L"HKEY_CURRENT_USER\\Software\\Classes\\CLSID";
    CRegKeyOwner clsid;
    if (OpenKeyExact(HKEY_CURRENT_USER, L"Software\\Classes\\CLSID", KEY_READ, clsid) != ERROR_SUCCESS)
        return 1;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (RegEnumKeyExW(clsid, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        Server classKey;
        classKey.path = container + L"\\" + name;
        classKey.place = kComClass;
        if (OpenSubKey(clsid, name, KEY_READ, classKey.key) == ERROR_SUCCESS)
            servers.push_back(std::move(classKey));
        for (const wchar_t* server : { L"InprocServer32", L"LocalServer32", L"InprocHandler32" }) {
            Server found;
            found.place = kServerKey;
            found.path = container + L"\\" + name + L"\\" + server;
            if (OpenKeyExact(HKEY_CURRENT_USER, found.path.c_str() + wcslen(L"HKEY_CURRENT_USER\\"), KEY_READ,
                             found.key) == ERROR_SUCCESS)
                servers.push_back(std::move(found));
        }
    }
    const CKeywords keywords(kDefaultKeywords);
    // What the kinds that read at these places read, as the walk lets them.
    std::vector<const ILeftoverKind*> readers;
    for (const ILeftoverKind* kind : LeftoverKinds())
        if (kind->ReadsAt(kComClass) || kind->ReadsAt(kServerKey))
            readers.push_back(kind);
    LARGE_INTEGER f, a, b, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    std::vector<WalkNote> references;
    for (const Server& server : servers)
        for (const ILeftoverKind* kind : readers)
            if (kind->ReadsAt(server.place))
                kind->ReadAt(server.key, server.path, server.place, [&](WalkNote&& note) { references.push_back(note); });
    QueryPerformanceCounter(&b);
    const CInstallation installation = CurrentInstallation();
    const ReferenceContext context = { keywords.Lower(), installation, std::wstring() };
    const size_t found = FindByReference(references, context).size();
    QueryPerformanceCounter(&c);
    printf("%d keys read in %.4f s, %d findings decided in %.4f s, %ld file checks\n", static_cast<int>(servers.size()),
           double(b.QuadPart - a.QuadPart) / double(f.QuadPart), static_cast<int>(found),
           double(c.QuadPart - b.QuadPart) / double(f.QuadPart), installation.FileChecks());
    return 0;
}
}

// What each kind of leftover adds to a search of the machine with the references: its reading
// during the walk and its decision after it, one line per kind that looks, then the sum.
int Kinds()
{
    RootKeySlot slots[kRootKeyCount] = { 0, 0, SlotFromHkey(HKEY_LOCAL_MACHINE), 0, 0 };
    char temp[MAX_PATH] = "";
    ::GetTempPathA(MAX_PATH, temp);
    CReport report;
    report.Open(CString(temp) + "search_bench_kinds.txt");
    LONG stop = 0;
    CKlarnEngine engine;
    engine.SetFollowReferences(TRUE);
    engine.TimeKinds();
    CFindingsList findings;
    findings.Reset(engine.Search(CKeywords(kDefaultKeywords), nullptr, slots, report, &stop));
    double total = 0;
    for (const CKlarnEngine::KindTime& time : engine.KindTimes()) {
        printf("%s %.4f %.4f\n", time.kind->Identity().recordName, time.reading, time.deciding);
        total += time.reading + time.deciding;
    }
    int count = 0;
    for (const CmdListEntry* entry = findings.Get(); entry; entry = entry->next)
        ++count;
    printf("total %.4f %d\n", total, count);
    return 0;
}

// The bench tree saved as another installation's SOFTWARE hive (beside a SYSTEM hive of one
// control set), then loaded, searched below HKEY_LOCAL_MACHINE and unloaded, as /offline does.
int Offline(const char* folder)
{
    if (EnableHivePrivileges() != ERROR_SUCCESS)
        return 1;
    const std::wstring windows = WidenAnsi(folder) + L"\\Windows", config = windows + L"\\System32\\config";
    for (const std::wstring& part : { WidenAnsi(folder), windows, windows + L"\\System32", config })
        ::CreateDirectoryW(part.c_str(), nullptr);
    ::DeleteFileW((config + L"\\SOFTWARE").c_str());
    ::DeleteFileW((config + L"\\SYSTEM").c_str());
    CRegKeyOwner tree, system;
    if (::RegOpenKeyExW(HKEY_CURRENT_CONFIG, L"BenchTree", 0, KEY_READ, tree.Receive()) != ERROR_SUCCESS ||
        ::RegSaveKeyW(tree, (config + L"\\SOFTWARE").c_str(), nullptr) != ERROR_SUCCESS)
        return 1;
    const DWORD current = 1;
    ::RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\KlarnerBenchSystem\\Select", L"Current", REG_DWORD, &current, sizeof current);
    ::RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\KlarnerBenchSystem\\ControlSet001\\Services\\partmgr", L"Start",
                      REG_DWORD, &current, sizeof current);
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\KlarnerBenchSystem", 0, KEY_READ, system.Receive()) != ERROR_SUCCESS ||
        ::RegSaveKeyW(system, (config + L"\\SYSTEM").c_str(), nullptr) != ERROR_SUCCESS)
        return 1;
    system.Close();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\KlarnerBenchSystem");

    RootKeySlot slots[kRootKeyCount] = { 0, 0, SlotFromHkey(HKEY_LOCAL_MACHINE), 0, 0 };
    char temp[MAX_PATH] = "";
    ::GetTempPathA(MAX_PATH, temp);
    CReport report;
    report.Open(CString(temp) + "search_bench_offline.txt");
    LONG stop = 0, keys = 0;
    LARGE_INTEGER f, a, b, c, d;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    COfflineInstallation offline;
    std::wstring why;
    if (offline.Open(windows, why) != COfflineInstallation::Opened::Open)
        return 1;
    QueryPerformanceCounter(&b);
    CKlarnEngine engine;
    engine.SetProgressCounter(&keys);
    CFindingsList findings;
    findings.Reset(engine.Search(CKeywords(kDefaultKeywords), nullptr, slots, report, &stop));
    QueryPerformanceCounter(&c);
    offline.Close();
    QueryPerformanceCounter(&d);
    auto seconds = [&f](const LARGE_INTEGER& from, const LARGE_INTEGER& to) { return double(to.QuadPart - from.QuadPart) / double(f.QuadPart); };
    printf("%ld keys in %.3f s: load %.3f s, search %.3f s, unload %.3f s\n", keys, seconds(a, d), seconds(a, b), seconds(b, c),
           seconds(c, d));
    return 0;
}

int main(int argc, char** argv)
{
    if (argc > 2 && strcmp(argv[1], "--offline") == 0)
        return Offline(argv[2]);
    if (argc > 1 && strcmp(argv[1], "--kinds") == 0)
        return Kinds();
    if (argc > 1 && strcmp(argv[1], "--references") == 0)
        return References();
    if (argc > 1 && strcmp(argv[1], "--filter-lists") == 0)
        return FilterLists();
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
