// Files as leftovers, end to end with klarner.exe in the test prefix: product folders and driver
// files found only where nothing installed or running names them, every file copied and hashed
// before it goes, what is in use left to the restart (which wineboot -r carries out), links never
// entered, and /restore giving back keys, only the removed list entries and the files.
#include <gtest/gtest.h>
#include "../engine/system/Offline.h"
#include "ProgramRun.h"
#include "TestSupport.h"
#include "../engine/system/AdminOnly.h"
#include "../engine/system/Installation.h"
#include <sddl.h>
#include "../engine/backup/RegBackup.h"
#include "../engine/system/StagingFolders.h"
#include "../engine/kinds/KindsTable.h"
#include <atomic>
#include <cstring>
#include <thread>

namespace {

using kt::Json;
const std::string kControl = "SYSTEM\\CurrentControlSet\\";
const std::string kVersion = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\";
const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
// Made by the ctest fixture: links to a decoy that stands for System32.
const std::string kSwapLinks = "C:\\kltswap", kDecoy = "C:\\kltswap-decoy";

class FilesTest : public kt::ProgramRunTest
{
protected:
    FilesTest() : ProgramRunTest("kltfile", "files") {}
    void TearDown() override
    {
        for (const auto& value : values)
            RegDeleteKeyValueA(value.first, kVersion.c_str(), value.second.c_str());
        ProgramRunTest::TearDown();
    }
    // A key named after the product that names `folder` (a value of its own): with a keyword of
    // the test's own, a folder is a finding only where a finding of the search names it.
    void NamedBy(const std::string& folder)
    {
        Text(HKEY_LOCAL_MACHINE, "SOFTWARE\\" + keyword + "Dirs", ("Dir" + std::to_string(++named)).c_str(), folder);
    }
    // A file in a folder the test removes whole when it ends.
    void FileIn(const std::string& folder, const std::string& below, const std::string& bytes = "MZ")
    {
        if (std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
        File(folder + "\\" + below, bytes);
    }
    // A value of an existing key below CurrentVersion (Run), deleted when the test ends.
    void VersionValue(HKEY root, const std::string& key, const std::string& name, const std::string& text)
    {
        values.push_back({ root, key + "\\" + name });
        ASSERT_EQ(RegSetKeyValueA(root, (kVersion + key).c_str(), name.c_str(), REG_SZ, text.c_str(),
                                  static_cast<DWORD>(text.size() + 1)),
                  ERROR_SUCCESS);
    }
    static std::vector<std::string> FilesFound(const Json& record)
    {
        std::vector<std::string> found;
        for (const std::string& line : Found(record))
            if (line.compare(0, 5, "file ") == 0 || line.compare(0, 7, "folder ") == 0)
                found.push_back(line);
        return found;
    }
    static const Json* Finding(const Json& record, const std::string& path)
    {
        for (const Json& finding : record["findings"])
            if (Lower(finding["path"]) == Lower(path))
                return &finding;
        return nullptr;
    }
    // The sources of the deletions and renames pending for the next start, in lower case.
    static std::vector<std::string> Pending()
    {
        std::vector<std::string> sources;
        char data[65536];
        DWORD size = sizeof data;
        if (RegGetValueA(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, data,
                         &size) != ERROR_SUCCESS)
            return sources;
        std::vector<std::string> strings;
        for (const char* at = data; at < data + size;) {
            strings.push_back(at);
            at += strings.back().size() + 1;
        }
        for (size_t at = 0; at < strings.size(); at += 2)
            if (strings[at].size() > 4)
                sources.push_back(Lower(strings[at].substr(4)));  // without "\??\"
        return sources;
    }
    static bool Has(const std::vector<std::string>& list, const std::string& item)
    {
        return std::any_of(list.begin(), list.end(), [&item](const std::string& each) { return Lower(each) == Lower(item); });
    }
    // Moves a link (or anything) on the Linux side, as ctest's files_link_swapper does when
    // asked; paths below C:\. TRUE when it was moved.
    static bool SwapIn(const std::string& from, const std::string& to)
    {
        static int count = 0;
        const std::string request = kSwapLinks + "\\requests\\" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++count);
        if (!kt::WriteFileBytes(request + ".tmp", from.substr(3) + "\n" + to.substr(3) + "\n") ||
            !MoveFileA((request + ".tmp").c_str(), (request + ".req").c_str()))
            return false;
        for (int wait = 0; wait < 600 && !kt::FileExists(request + ".done"); ++wait)
            WaitForSingleObject(GetCurrentThread(), 50);
        return kt::ReadFileBytes(request + ".done") == "0\n";
    }
    std::string Backup()
    {
        const std::vector<std::string> backups = kt::BackupsOf(report);
        return backups.empty() ? std::string() : backups.back();
    }

    std::vector<std::pair<HKEY, std::string>> values;
    int named = 0;
};

TEST_F(FilesTest, FoldersAndDriversAreFoundOnlyWhereNothingStillNamesThem)
{
    // A maker's folder with a product still installed: only the other product's folder goes.
    const std::string maker = "C:\\Program Files\\" + keyword + " Maker";
    FileIn(maker, keyword + " Old\\engine.dll");
    FileIn(maker, keyword + " VPN\\vpn.dll");
    Text(HKEY_LOCAL_MACHINE, kVersion + "Uninstall\\VPN" + tag, "InstallLocation", maker + "\\" + keyword + " VPN\\");
    const std::string data = "C:\\ProgramData\\" + keyword + " Data";
    FileIn(data, "logs\\a.log", "12345");
    FileIn(data, "b.dat", "xy");
    NamedBy(maker + "\\" + keyword + " Old\\engine.dll");
    NamedBy(data + "\\");
    // Named by no finding of the search, with a keyword of one's own: no finding.
    const std::string unnamed = "C:\\ProgramData\\" + keyword + " Unnamed";
    FileIn(unnamed, "u.dll");
    // Look-alikes: above a root, in the Windows folder, named by a user's start-up value, running.
    FileIn("C:\\" + keyword + " Above", "x.txt");
    FileIn("C:\\windows\\" + keyword + " Win", "x.txt");
    FileIn("C:\\Program Files\\Windows " + keyword, "x.dll");
    char roaming[MAX_PATH] = "";
    ASSERT_GT(GetEnvironmentVariableA("APPDATA", roaming, MAX_PATH), 0u);
    const std::string tray = std::string(roaming) + "\\" + keyword + " Tray";
    FileIn(tray, "tray.exe");
    VersionValue(HKEY_CURRENT_USER, "Run", "Tray" + tag, "\"" + tray + "\\tray.exe\" /min");
    const std::string running = "C:\\Program Files\\" + keyword + " Running";
    FileIn(running, "placeholder.txt");
    ASSERT_TRUE(CopyFileA((kt::TestDir() + "test_files.exe").c_str(), (running + "\\runner.exe").c_str(), FALSE));
    const std::string release = "KlarnerFilesRelease" + tag;
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, release.c_str());
    kt::Process runner = kt::Start("\"" + running + "\\runner.exe\" --hold " + release);
    // Drivers: one a service finding runs, one named after the product that another service runs.
    const std::string drivers = "C:\\windows\\system32\\drivers\\";
    File(drivers + keyword + "flt.sys");
    Text(HKEY_LOCAL_MACHINE, kControl + "Services\\" + keyword + "flt", "ImagePath", "system32\\drivers\\" + keyword + "flt.sys");
    File(drivers + keyword + "kept.sys");
    Text(HKEY_LOCAL_MACHINE, kControl + "Services\\Kept" + tag, "ImagePath", "\\SystemRoot\\System32\\drivers\\" + keyword + "kept.sys");

    Json record;
    EXPECT_EQ(Run("/refs /hkey=HKLM", &record), 1u);
    SetEvent(event);
    EXPECT_EQ(runner.Wait(60000), 0u);
    CloseHandle(event);
    EXPECT_EQ(FilesFound(record), (std::vector<std::string>{ "folder " + Lower(maker + "\\" + keyword + " Old") + " listed",
                                                              "folder " + Lower(data) + " listed",
                                                              "file " + Lower(drivers + keyword + "flt.sys") + " listed" }));
    const Json* folder = Finding(record, data);
    ASSERT_TRUE(folder);
    EXPECT_EQ((*folder)["size"], 7);
    EXPECT_EQ((*folder)["fileCount"], 2);
    EXPECT_EQ((*folder)["reason"], "nothing installed names a file inside");
    EXPECT_EQ(Reason(record, drivers + keyword + "flt.sys"), "ImagePath of the service " + keyword + "flt, which is a finding");
    for (const std::string& kept : { maker, tray, running, unnamed, drivers + keyword + "kept.sys" })
        EXPECT_NE(Lower(Report()).find(Lower("\r\nkept " + kept + ": ")), std::string::npos) << kept << "\n" << Report();
    EXPECT_NE(Report().find("runner.exe names a file inside"), std::string::npos) << "a running program claims its folder";
    EXPECT_NE(Report().find("kept C:\\Program Files\\Windows " + keyword + ": a folder of Windows itself"), std::string::npos);
    // A detection already says a restart is not needed.
    EXPECT_EQ(record["restartRequired"], false);
}

TEST_F(FilesTest, WhatAProductStillInstalledUsesStaysItsKeysFolderAndWindowsInstallerFiles)
{
    // The maker's other product, still installed: its uninstall entry (found by its name), its
    // settings key in the maker's key and its folder in the maker's folder stay; the rest goes.
    const std::string maker = "C:\\Program Files\\" + keyword;
    FileIn(maker, "SecureVPN\\uninstall.exe");
    FileIn(maker, keyword + " Vigilo\\v.dll");
    const std::string entry = kVersion + "Uninstall\\" + keyword + " SecureVPN";
    Text(HKEY_LOCAL_MACHINE, entry, "DisplayName", keyword + " SecureVPN");
    Text(HKEY_LOCAL_MACHINE, entry, "UninstallString", "\"" + maker + "\\SecureVPN\\uninstall.exe\" /remove");
    const std::string settings = "SOFTWARE\\" + keyword;
    Text(HKEY_LOCAL_MACHINE, settings + "\\SecureVPN", "Server", "vpn.example");
    Text(HKEY_LOCAL_MACHINE, settings + "\\Vigilo", "InstallDir", maker + "\\" + keyword + " Vigilo");
    Json record;
    EXPECT_EQ(Run("/refs /hkey=HKLM /del", &record), 0u) << Report();
    EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, entry));
    EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, settings + "\\SecureVPN"));
    EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, settings + "\\Vigilo"));
    EXPECT_TRUE(kt::FileExists(maker + "\\SecureVPN\\uninstall.exe"));
    EXPECT_FALSE(kt::FileExists(maker + "\\" + keyword + " Vigilo"));
    for (const std::string& note : { "kept HKEY_LOCAL_MACHINE\\" + entry + ": the uninstall entry of " + keyword + " SecureVPN, which is still installed",
                                     "kept HKEY_LOCAL_MACHINE\\" + settings + "\\SecureVPN: the settings of " + keyword + " SecureVPN" })
        EXPECT_NE(Lower(Report()).find(Lower(note)), std::string::npos) << note << "\n" << Report();

    // A product Windows Installer installed: its entry names no file, its component does.
    const std::string package = kt::TestDir() + "kltmsifix.msi";
    ASSERT_TRUE(kt::FileExists(package));
    ASSERT_EQ(kt::Run("msiexec.exe /i \"" + package + "\" /qn"), 0u);
    EXPECT_EQ(RunAlone("/keywords=kltmsifix /refs /hkey=HKLM /del"), 0u) << Report();
    EXPECT_TRUE(kt::FileExists("C:\\Program Files\\kltmsifix Data\\engine.dll"));
    EXPECT_NE(Report().find("kept C:\\Program Files\\kltmsifix Data: HKEY_LOCAL_MACHINE\\"), std::string::npos) << Report();
    EXPECT_NE(Report().find("\\Components\\"), std::string::npos);
    EXPECT_EQ(kt::Run("msiexec.exe /x \"" + package + "\" /qn"), 0u);
}

TEST_F(FilesTest, RestoreGivesBackKeysOnlyTheRemovedListEntriesAndVerifiedFiles)
{
    char guid[64];
    snprintf(guid, sizeof guid, "{8E1F0A11-2B3C-4D5E-9F60-%012lX}", GetCurrentProcessId() * 16ul + static_cast<unsigned long>(counter));
    const std::string klass = kControl + "Control\\Class\\" + guid;
    const std::string list = "before" + std::string(1, '\0') + keyword + "flt" + std::string(1, '\0') + keyword + "gone" +
                             std::string(1, '\0') + "after" + std::string(2, '\0');
    Set(HKEY_LOCAL_MACHINE, klass, "UpperFilters", REG_MULTI_SZ, list.data(), list.size());
    const std::string service = kControl + "Services\\" + keyword + "flt";
    Text(HKEY_LOCAL_MACHINE, service, "ImagePath", "system32\\drivers\\" + keyword + "flt.sys");
    Dword(HKEY_LOCAL_MACHINE, service, "Start", 3);
    const std::string driver = "C:\\windows\\system32\\drivers\\" + keyword + "flt.sys";
    File(driver, "driver bytes");
    const std::string data = "C:\\ProgramData\\" + keyword + " Data";
    FileIn(data, "a.dll", "AAA");
    FileIn(data, "sub\\b.dat", "BBBB");
    NamedBy(data);
    SetFileAttributesA((data + "\\sub\\b.dat").c_str(), FILE_ATTRIBUTE_READONLY);

    Json record;
    ASSERT_EQ(Run("/refs /hkey=HKLM /del", &record), 0u) << Report();
    EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, service));
    EXPECT_FALSE(kt::FileExists(driver));
    EXPECT_FALSE(kt::FileExists(data + "\\sub\\b.dat"));
    const std::string backup = Backup();
    ASSERT_FALSE(backup.empty());
    const std::string manifest = kt::ReadFileBytes(backup.substr(0, backup.size() - 4) + "-files\\manifest.jsonl");
    EXPECT_NE(manifest.find("\"sha256\""), std::string::npos) << manifest;
    // A copy that is not what was removed is never put back.
    const std::string copyOfA = backup.substr(0, backup.size() - 4) + "-files\\C\\ProgramData\\" + keyword + " Data\\a.dll";
    ASSERT_TRUE(kt::WriteFileBytes(copyOfA, "changed"));

    EXPECT_EQ(RunAlone("\"/restore=" + backup + "\"", &record), 1u) << Report();
    EXPECT_EQ(record["mode"], "restore");
    const std::vector<std::string> found = Found(record);
    EXPECT_TRUE(Has(found, "filterEntry hkey_local_machine\\" + klass + "\\upperfilters: " + keyword + "flt restored")) << Report();
    EXPECT_TRUE(Has(found, "filterEntry hkey_local_machine\\" + klass + "\\upperfilters: " + keyword + "gone refused"))
        << "no service key: the list would stop its device";
    EXPECT_TRUE(Has(found, "file " + driver + " restored"));
    EXPECT_TRUE(Has(found, "file " + data + "\\a.dll failed"));
    char restored[256];
    DWORD size = sizeof restored;
    ASSERT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, klass.c_str(), "UpperFilters", RRF_RT_REG_MULTI_SZ, nullptr, restored, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::string(restored, size), "before" + std::string(1, '\0') + keyword + "flt" + std::string(1, '\0') + "after" +
                                               std::string(2, '\0'));
    EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, service));
    EXPECT_EQ(kt::ReadFileBytes(driver), "driver bytes");
    EXPECT_EQ(kt::ReadFileBytes(data + "\\sub\\b.dat"), "BBBB");
    EXPECT_TRUE(GetFileAttributesA((data + "\\sub\\b.dat").c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(kt::FileExists(data + "\\a.dll"));
    EXPECT_NE(Report().find(" - could not be restored  (its copy in the backup is not what was removed"), std::string::npos);
    // Only a backup this program wrote: nothing happens for anything else.
    EXPECT_EQ(RunAlone("\"/restore=" + report + "\""), 87u);
    EXPECT_EQ(RunAlone("/del \"/restore=" + backup + "\""), 87u);
}

TEST_F(FilesTest, ARestoreWritesOnlyWhereTheProgramRemovesFilesFromABackupNobodyElseCouldChange)
{
    const std::string product = "C:\\ProgramData\\" + keyword + " Product";
    FileIn(product, "a.dll", "AAA");
    NamedBy(product);
    const std::string key = "SOFTWARE\\" + keyword + "Settings";
    Text(HKEY_LOCAL_MACHINE, key, "Mode", "original");
    Text(HKEY_LOCAL_MACHINE, key, "Other", "kept");
    ASSERT_EQ(Run("/refs /hkey=HKLM /del"), 0u) << Report();
    const std::string backup = Backup(), files = backup.substr(0, backup.size() - 4) + "-files";
    const std::string manifest = kt::ReadFileBytes(files + "\\manifest.jsonl");
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(kt::Utf8(kt::ReadUtf16(backup)).find("; Velmora Klarner: files in the files folder"), std::string::npos);

    // An edited manifest: places the program never removes files from, a stream, the long form,
    // a folder in System32, and a deletion somebody else asked for; an edited backup: a link
    // comment no removal of it recorded.
    char full[MAX_PATH];
    ASSERT_GT(GetFullPathNameA((kt::ScratchDir("files-others") + "theirs.tmp").c_str(), MAX_PATH, full, nullptr), 0u);
    const std::string theirs = full;
    ASSERT_TRUE(kt::WriteFileBytes(theirs, "x"));
    ASSERT_TRUE(MoveFileExA(theirs.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    const std::string evil = keyword + "evil";
    ASSERT_TRUE(kt::WriteFileBytes(files + "\\evil.dll", "EVIL"));
    auto escaped = [](const std::string& path) {
        std::string text;
        for (char c : path)
            text += c == '\\' ? std::string("\\\\") : std::string(1, c);
        return text;
    };
    auto line = [&](const std::string& type, const std::string& path) {
        return "{\"type\":\"" + type + "\",\"path\":\"" + escaped(path) + "\",\"copy\":\"evil.dll\",\"size\":4,\"sha256\":\"" +
               std::string(64, 'a') + "\",\"attributes\":32}\n";
    };
    const std::vector<std::string> places = { "C:\\windows\\system32\\" + evil + "1.dll", "D:\\" + evil + "2.dll",
                                              "\\\\?\\C:\\windows\\" + evil + "3.dll", product + "\\a.dll:" + evil,
                                              "C:\\Program Files\\..\\windows\\" + evil + "4.dll" };
    std::string edited = manifest + "{\"type\":\"folder\",\"path\":\"" + escaped("C:\\windows\\system32\\" + evil) +
                         "\",\"attributes\":16}\n{\"type\":\"scheduled\",\"path\":\"" + escaped(theirs) + "\"}\n";
    for (const std::string& place : places)
        edited += line("file", place);
    ASSERT_TRUE(kt::WriteFileBytes(files + "\\manifest.jsonl", edited));
    std::wstring reg = kt::ReadUtf16(backup);
    reg += L"; registry link HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution "
           L"Options\\" + kt::Widen(evil) + L".exe -> \\REGISTRY\\MACHINE\\SOFTWARE\\" + kt::Widen(evil) +
           L" (a link is not exported; it was removed as the link, its target stays)\r\n";
    ASSERT_TRUE(kt::WriteFileBytes(backup, std::string(reinterpret_cast<const char*>(reg.data()), reg.size() * 2)));
    // A value set again since the removal is left as it is.
    Text(HKEY_LOCAL_MACHINE, key, "Mode", "changed since");

    Json record;
    EXPECT_EQ(RunAlone("\"/restore=" + backup + "\"", &record), 1u) << Report();
    const std::vector<std::string> found = Found(record);
    EXPECT_FALSE(kt::FileExists("C:\\windows\\system32\\" + evil + "1.dll"));
    EXPECT_FALSE(kt::FileExists("C:\\windows\\" + evil + "3.dll"));
    EXPECT_FALSE(kt::FileExists("C:\\windows\\" + evil + "4.dll"));
    EXPECT_FALSE(kt::FileExists("C:\\windows\\system32\\" + evil));
    EXPECT_EQ(std::count_if(found.begin(), found.end(), [&](const std::string& each) {
                  return each.find(Lower(evil)) != std::string::npos && each.size() > 8 && each.substr(each.size() - 8) == " refused";
              }),
              static_cast<long>(places.size() + 2)) << Report();
    EXPECT_FALSE(kt::KeyExistsW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\" +
                                                        kt::Widen(evil) + L".exe"));
    EXPECT_TRUE(Has(Pending(), theirs)) << "somebody else's deletion stays";
    EXPECT_EQ(kt::ReadFileBytes(product + "\\a.dll"), "AAA");
    char mode[64];
    DWORD size = sizeof mode;
    ASSERT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), "Mode", RRF_RT_REG_SZ, nullptr, mode, &size), ERROR_SUCCESS);
    EXPECT_STREQ(mode, "changed since");
    EXPECT_TRUE(kt::ValueExists(HKEY_LOCAL_MACHINE, key, "Other")) << "what was missing came back";
    EXPECT_NE(Reason(record, "HKEY_LOCAL_MACHINE\\" + key).find("changed since the backup, left as they are: Mode"), std::string::npos)
        << Report();

    // A link planted at the product folder's place: nothing is written through it.
    ASSERT_TRUE(kt::WriteFileBytes(files + "\\manifest.jsonl", manifest));
    RemoveFolder(product);
    if (kt::FileExists(kDecoy + "\\victim.dll") && SwapIn(kSwapLinks + "\\link4", product)) {
        EXPECT_EQ(RunAlone("\"/restore=" + backup + "\""), 1u);
        EXPECT_FALSE(kt::FileExists(kDecoy + "\\a.dll"));
        EXPECT_TRUE(SwapIn(product, kSwapLinks + "\\link4"));
    }
    // Without its files, a backup that says it has some has not given everything back.
    const std::string elsewhere = kt::ScratchDir("files-copied") + "copied.reg";
    ASSERT_TRUE(CopyFileA(backup.c_str(), elsewhere.c_str(), FALSE));
    EXPECT_EQ(RunAlone("\"/restore=" + elsewhere + "\"", &record), 1u);
    EXPECT_NE(record.dump().find("-files\\\\manifest.jsonl\",\"reason\":\"the backup's files folder or its manifest is missing"),
              std::string::npos)
        << record.dump();
    // Another installation's backup, and one that anybody may change, are no backups to restore.
    std::wstring other = kt::ReadUtf16(backup);
    const size_t machine = other.find(L"installation machine ");
    ASSERT_NE(machine, std::wstring::npos);
    other.insert(machine + 21, L"0");
    ASSERT_TRUE(kt::WriteFileBytes(elsewhere, std::string(reinterpret_cast<const char*>(other.data()), other.size() * 2)));
    EXPECT_EQ(RunAlone("\"/restore=" + elsewhere + "\""), 87u);
    EXPECT_NE(errors.find("another installation"), std::string::npos) << errors;
    ASSERT_TRUE(kt::AllowEveryone(backup));
    EXPECT_EQ(RunAlone("\"/restore=" + backup + "\""), 87u);
    EXPECT_NE(errors.find("may change it"), std::string::npos) << errors;
}

TEST_F(FilesTest, AFileInUseWaitsForTheRestartInAFolderOfItsOwnAndALinkSwappedInLaterDeletesNothing)
{
    if (!kt::FileExists(kDecoy + "\\busy.dll"))
        GTEST_SKIP() << "the swap links are made by ctest's files_link_fixture";
    char full[MAX_PATH];
    ASSERT_GT(GetFullPathNameA((kt::ScratchDir("files-pending") + "unrelated.tmp").c_str(), MAX_PATH, full, nullptr), 0u);
    const std::string unrelated = full;
    ASSERT_TRUE(kt::WriteFileBytes(unrelated, "x"));
    ASSERT_TRUE(MoveFileExA(unrelated.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    // A program that has a file open and lets others move it (a log it writes), and one that
    // does not: that one's folder cannot be taken safely.
    const std::string busy = "C:\\ProgramData\\" + keyword + " Busy";
    FileIn(busy, "bin\\busy.dll", "old bytes");
    FileIn(busy, "other.txt", "free");
    HANDLE held = CreateFileA((busy + "\\bin\\busy.dll").c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const std::string locked = "C:\\ProgramData\\" + keyword + " Locked";
    FileIn(locked, "locked.dll", "locked");
    NamedBy(busy);
    NamedBy(locked);
    HANDLE lockedHandle = CreateFileA((locked + "\\locked.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lockedHandle, INVALID_HANDLE_VALUE);

    Json record;
    EXPECT_EQ(Run("/refs /hkey=HKLM", &record), 1u);
    EXPECT_EQ(record["restartRequired"], true) << "a detection says a removal would need a restart";
    EXPECT_EQ(Run("/refs /hkey=HKLM /del", &record), 1u) << Report();
    EXPECT_EQ(record["restartReasons"], Json::array({ "files scheduled for deletion at the next restart" }));
    EXPECT_GE(record["pendingBefore"]["count"].get<int>(), 1);
    EXPECT_NE(Report().find("\r\n" + busy + " - removed at the next restart"), std::string::npos) << Report();
    EXPECT_NE(Report().find("\r\n" + locked + " - could not be removed  (close the program that holds it, then run again)"),
              std::string::npos);
    EXPECT_EQ(kt::ReadFileBytes(locked + "\\locked.dll"), "locked") << "nothing of a refused folder goes";
    CloseHandle(lockedHandle);
    // The file in use waits in a folder only administrators can write; its product folder is gone.
    EXPECT_FALSE(kt::FileExists(busy));
    EXPECT_FALSE(Has(Pending(), busy + "\\bin\\busy.dll"));
    std::string staged;
    for (const std::string& source : Pending())
        if (source.find("\\velmoraklarner-pending-") != std::string::npos && source.find("busy.dll") != std::string::npos)
            staged = source;
    ASSERT_FALSE(staged.empty()) << "the deletion at the restart is asked for in the pass's own folder";
    // Its holder writes on after the run: the backup holds what was removed.
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(held, "new", 3, &written, nullptr));
    CloseHandle(held);

    EXPECT_EQ(RunAlone("\"/restore=" + Backup() + "\""), 0u) << Report();
    EXPECT_EQ(kt::ReadFileBytes(busy + "\\bin\\busy.dll"), "old bytes");
    EXPECT_EQ(kt::ReadFileBytes(busy + "\\other.txt"), "free");
    EXPECT_TRUE(Has(Pending(), unrelated)) << "somebody else's deletion stays";
    // A link planted where the product's folder was, before the restart: the restart deletes
    // only what waits in the pass's own folder.
    ASSERT_TRUE(MoveFileA((busy + "\\bin").c_str(), (busy + "\\bin-restored").c_str()));
    ASSERT_TRUE(SwapIn(kSwapLinks + "\\link1", busy + "\\bin"));
    std::string pending;
    for (const std::string& source : Pending())
        pending += source + "\n";
    EXPECT_EQ(kt::Run("C:\\windows\\system32\\wineboot.exe -r"), 0u);
    EXPECT_EQ(kt::ReadFileBytes(kDecoy + "\\busy.dll"), "decoy\n") << pending;
    EXPECT_FALSE(kt::FileExists(staged));
    EXPECT_FALSE(kt::FileExists(unrelated));
    EXPECT_TRUE(SwapIn(busy + "\\bin", kSwapLinks + "\\link1"));
}

TEST_F(FilesTest, AFolderSwappedForALinkAfterItWasListedIsRefusedAndNothingOutsideIsTouched)
{
    if (!kt::FileExists(kDecoy + "\\victim.dll"))
        GTEST_SKIP() << "the swap links are made by ctest's files_link_fixture";
    const ILeftoverKind* folders = KindNamed("folder");
    ASSERT_TRUE(folders);
    const std::string product = "C:\\ProgramData\\" + keyword + " Swap";
    FileIn(product, "bin\\victim.dll", "product");
    FileIn(product, "top.dll", "top");
    CmdListEntry finding = {};
    const std::wstring path = kt::Widen(product);
    wcsncpy(finding.path, path.c_str(), kPathChars - 1);
    finding.kind = 'D';
    finding.owner = folders;
    // Listed first; then "bin" becomes a link to a place the program must never touch.
    CRegBackup backup(CString(report.c_str()));
    CStagingFolders staging;
    const CInstallation installation = CurrentInstallation();
    const std::vector<const IClaimsFiles*> claimers = FileClaimersAmong(LeftoverKinds());
    RemovalContext context = { backup, staging, installation, false, claimers };
    std::unique_ptr<CPreparedRemoval> prepared = folders->Prepare(finding, context);
    ASSERT_TRUE(prepared);
    ASSERT_TRUE(MoveFileA((product + "\\bin").c_str(), (product + "\\bin-away").c_str()));
    ASSERT_TRUE(SwapIn(kSwapLinks + "\\link2", product + "\\bin"));
    const RemovalResult result = folders->Remove(finding, *prepared, context);
    EXPECT_EQ(result.outcome, Outcome::Refused) << kt::Utf8(result.why);
    EXPECT_EQ(kt::ReadFileBytes(kDecoy + "\\victim.dll"), "decoy\n");
    EXPECT_EQ(kt::ReadFileBytes(product + "\\top.dll"), "top") << "nothing of the finding went";
    EXPECT_EQ(kt::ReadFileBytes(product + "\\bin-away\\victim.dll"), "product");
    ASSERT_TRUE(SwapIn(product + "\\bin", kSwapLinks + "\\link2"));

    // While a pass runs, once its manifest is there, every folder it listed is held: nobody can
    // rename one to put a link in its place. (A Linux-side rename ignores Windows' sharing, and
    // Wine deletes an open file by its name: that race only Windows can show.)
    for (int i = 0; i < 300; ++i)
        FileIn(product, "many\\f" + std::to_string(i) + ".dll", std::string(4096, 'x'));
    NamedBy(product);
    std::atomic<bool> done{ false }, renamed{ false }, tried{ false };
    std::thread renamer([&] {
        while (!done && !tried) {
            for (const std::string& found : kt::BackupsOf(report))
                if (kt::FileExists(found.substr(0, found.size() - 4) + "-files\\manifest.jsonl")) {
                    tried = true;
                    renamed = MoveFileA((product + "\\many").c_str(), (product + "\\many-away").c_str()) != FALSE;
                    break;
                }
            SwitchToThread();
        }
    });
    Run("/refs /hkey=HKLM /del");
    done = true;
    renamer.join();
    EXPECT_TRUE(tried);
    EXPECT_FALSE(renamed) << "a folder the pass holds was renamed";
    EXPECT_EQ(kt::ReadFileBytes(kDecoy + "\\victim.dll"), "decoy\n");
}

TEST_F(FilesTest, ALinkInsideAProductFolderGoesAsTheLinkAndWhatItPointsToStays)
{
    // Made by the test run's fixture (a Unix symbolic link shows as a reparse point under Wine).
    const std::string product = "C:\\Program Files\\kltlinkfix Suite", target = "C:\\kltlinkfix-target\\keep.txt";
    if (!kt::FileExists(target) || !(GetFileAttributesA((product + "\\shared").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << "the link fixture is made by ctest's files_link_fixture";
    Text(HKEY_LOCAL_MACHINE, "SOFTWARE\\kltlinkfixSettings", "InstallDir", product);
    Json record;
    const DWORD code = RunAlone("/keywords=kltlinkfix /refs /hkey=HKLM /del", &record);
    EXPECT_EQ(kt::ReadFileBytes(target), "keep\n") << "what the link points to is never entered";
    const Json* finding = Finding(record, product);
    ASSERT_TRUE(finding) << Report();
    if ((*finding)["status"] == "removed") {
        EXPECT_EQ(code, 0u);
        EXPECT_FALSE(kt::FileExists(product));
    } else {
        // Wine cannot remove a link by itself: the finding stays whole, and says why.
        EXPECT_EQ(code, 1u);
        EXPECT_EQ((*finding)["status"], "failed");
        EXPECT_NE((*finding)["why"].get<std::string>().find("link"), std::string::npos) << (*finding).dump();
        EXPECT_TRUE(kt::FileExists(product + "\\inner.dll")) << "nothing else was removed";
    }
    const std::string backup = Backup();
    EXPECT_NE(kt::ReadFileBytes(backup.substr(0, backup.size() - 4) + "-files\\manifest.jsonl").find("\"type\":\"link\""),
              std::string::npos);
}

// Who may change a backup, as its access list says: Wine keeps a file's owner and access list in
// its Unix mode (every file is the running user's), so only this decision can show the owners.
TEST(AdminOnly, OnlySystemTheAdministratorsAndThisAccountMayOwnOrChangeABackup)
{
    PSID running = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidA("S-1-5-21-1-2-3-1001", &running));
    const struct
    {
        const char* sddl;
        const char* why;  // what the reason holds; empty: nobody else may change it
    } rows[] = {
        { "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)", "" },
        { "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;BU)", "" },
        { "O:BAD:P(A;;FA;;;SY)(A;OICIIO;FA;;;BU)", "" },
        { "O:BAD:P(A;;FA;;;SY)(D;;FA;;;WD)", "" },
        { "O:S-1-5-21-1-2-3-1001D:P(A;;FA;;;SY)(A;;FA;;;S-1-5-21-1-2-3-1001)", "" },
        { "O:BUD:P(A;;FA;;;SY)", "owned by S-1-5-32-545" },
        { "O:S-1-5-21-9-9-9-1000D:P(A;;FA;;;SY)", "owned by S-1-5-21-9-9-9-1000" },
        { "O:BAD:P(A;;FA;;;SY)(A;;0x1301bf;;;AU)", "S-1-5-11 may change it" },
        { "O:BAD:P(A;;FA;;;SY)(A;;GW;;;WD)", "S-1-1-0 may change it" },
        { "O:BAD:P(A;;FA;;;SY)(A;;SD;;;BU)", "S-1-5-32-545 may change it" },
        { "O:BAD:P(A;;FA;;;SY)(A;;WD;;;S-1-5-21-9-9-9-1)", "S-1-5-21-9-9-9-1 may change it" },
    };
    for (const auto& row : rows) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(row.sddl, SDDL_REVISION_1, &descriptor, nullptr)) << row.sddl;
        const std::string why = kt::Utf8(OthersMayChange(descriptor, running));
        if (*row.why)
            EXPECT_NE(why.find(row.why), std::string::npos) << row.sddl << ": " << why;
        else
            EXPECT_EQ(why, "") << row.sddl;
        LocalFree(descriptor);
    }
    // No access list at all: everybody may do everything (made by hand: Wine's SDDL reader gives an
    // empty list for "NO_ACCESS_CONTROL").
    SECURITY_DESCRIPTOR open;
    PSID administrators = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidA("BA", &administrators));
    ASSERT_TRUE(InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorOwner(&open, administrators, FALSE));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE));
    EXPECT_NE(kt::Utf8(OthersMayChange(&open, running)).find("no access list"), std::string::npos);
    LocalFree(administrators);
    LocalFree(running);
}

}  // namespace

int main(int argc, char** argv)
{
    // A program that runs from a product's folder until the test lets it go.
    if (argc == 3 && strcmp(argv[1], "--hold") == 0) {
        HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, argv[2]);
        return release && WaitForSingleObject(release, 120000) == WAIT_OBJECT_0 ? 0 : 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
