// What the backup costs a removal: one finding of 10,000 keys with a few values each, removed
// by the engine (which writes the backup first), and removed by the same deletion without the
// backup step (keys opened as themselves, deleted children first); and a folder of 1,000 files
// of 64 KB removed by a pass (copied and hashed first) and deleted plainly. Seeded afresh before
// each removal; best of three rounds each. Prints numbers; never fails on time.
// Usage: removal_bench.exe
#include "../engine/system/Offline.h"
#include "../engine/KlarnEngine.h"
#include "../engine/backup/RegBackup.h"
#include "../engine/registry/RegKey.h"
#include "../engine/registry/KeyTrees.h"
#include "../engine/RemovalPass.h"
#include "../engine/system/Installation.h"
#include "../engine/system/FileClaims.h"
#include <algorithm>
#include "../engine/kinds/KindsTable.h"
#include <cstdio>
#include <vector>
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

// A product folder of 1,000 files of 64 KB in ten subfolders.
const char kFolder[] = "C:\\ProgramData\\KlarnerBenchFiles";

void SeedFiles()
{
    std::vector<char> bytes(64 * 1024);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7);
    CreateDirectoryA(kFolder, nullptr);
    for (int folder = 0; folder < 10; ++folder) {
        const std::string sub = std::string(kFolder) + "\\part" + std::to_string(folder);
        CreateDirectoryA(sub.c_str(), nullptr);
        for (int file = 0; file < 100; ++file) {
            HANDLE out = CreateFileA((sub + "\\file" + std::to_string(file) + ".bin").c_str(), GENERIC_WRITE, 0, nullptr,
                                     CREATE_ALWAYS, 0, nullptr);
            DWORD written = 0;
            WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
            CloseHandle(out);
        }
    }
}

void DeleteFilesWithoutBackup()
{
    for (int folder = 0; folder < 10; ++folder) {
        const std::string sub = std::string(kFolder) + "\\part" + std::to_string(folder);
        for (int file = 0; file < 100; ++file)
            DeleteFileA((sub + "\\file" + std::to_string(file) + ".bin").c_str());
        RemoveDirectoryA(sub.c_str());
    }
    RemoveDirectoryA(kFolder);
}

// The files row: the folder removed by a pass (what still names it read again, every file copied
// and hashed into the files folder, then deleted) and deleted plainly.
void FilesRow(const CString& report)
{
    double withBackup = 1e9, without = 1e9;
    size_t linked = 0, copied = 0;
    for (int round = 0; round < 3; ++round) {
        SeedFiles();
        CmdListEntry finding = {};
        wcscpy(finding.path, L"C:\\ProgramData\\KlarnerBenchFiles");
        finding.owner = KindNamed("folder");
        finding.kind = finding.owner->Identity().letter;
        Outcome outcome = Outcome::Failed;
        std::wstring backupPath;
        double start = Now();
        {
            CRemovalPass pass(report);
            pass.Run({ &finding }, [&outcome](size_t, const RemovalResult& result) { outcome = result.outcome; });
            backupPath = pass.BackupPath();
            linked = pass.Backup().FilesLinked();
            copied = pass.Backup().FilesCopied();
        }
        double took = Now() - start;
        if (outcome == Outcome::Removed && took < withBackup)
            withBackup = took;
        // The copies go again, for the next round.
        const std::string files(backupPath.begin(), backupPath.end() - 4);
        const std::string command = "cmd.exe /c rmdir /s /q \"" + files + "-files\" >nul 2>nul";
        system(command.c_str());
        DeleteFileW(backupPath.c_str());

        SeedFiles();
        start = Now();
        DeleteFilesWithoutBackup();
        took = Now() - start;
        if (took < without)
            without = took;
    }
    printf("removal of a folder of 1,000 files of 64 KB (best of 3)\n");
    printf("  with the backup     %8.3f s\n", withBackup);
    printf("  without the backup  %8.3f s\n", without);
    printf("  ratio               %8.2f\n", withBackup / without);
    printf("  files linked        %8zu\n", linked);
    printf("  files copied        %8zu\n", copied);
    // What the pass reads again first: what still names a file.
    const CInstallation installation = CurrentInstallation();
    const std::vector<const IClaimsFiles*> claimers = FileClaimersAmong(LeftoverKinds());
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        const double start = Now();
        CFileClaims::Read(installation, claimers, [](const std::wstring&) { return false; });
        best = std::min(best, Now() - start);
    }
    printf("  of it, what names a file %6.3f s\n", best);
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
    // Where the time of the removal with its backup goes: reading the tree (its values formatted
    // as the backup's text while it is read), writing and flushing the backup, deleting the keys.
    double reading = 1e9, writing = 1e9, deleting = 1e9;
    for (int round = 0; round < 3; ++round) {
        Seed();
        CRegBackup backup(report);
        KeyTree tree;
        double start = Now();
        const BOOL read = ReadKeyTree(HKEY_CURRENT_USER, kTree, tree);
        double mark = Now();
        const BOOL written = read && backup.Append(tree.text);
        double wrote = Now();
        const BOOL deleted = written && DeleteKeyTreeKeys(tree);
        double end = Now();
        if (deleted) {
            reading = std::min(reading, mark - start);
            writing = std::min(writing, wrote - mark);
            deleting = std::min(deleting, end - wrote);
        }
        DeleteFileW(backup.Path().c_str());
    }
    printf("removal of one finding of 10,000 keys, 3 values each (best of 3)\n");
    printf("  with the backup     %8.3f s\n", withBackup);
    printf("  without the backup  %8.3f s\n", without);
    printf("  ratio               %8.2f\n", withBackup / without);
    printf("  of it, reading and formatting the tree %6.3f s\n", reading);
    printf("  of it, writing and flushing the backup %6.3f s\n", writing);
    printf("  of it, deleting the keys               %6.3f s\n", deleting);
    FilesRow(report);
    return 0;
}
