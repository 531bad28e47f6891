// Files as leftovers, end to end with klarner.exe in the test prefix: product folders and driver
// files found only where nothing installed or running names them, every file copied and hashed
// before it goes, what is in use left to the restart (which wineboot -r carries out), links never
// entered, and /restore giving back keys, only the removed list entries and the files.
#include "files/FilesFixture.h"

namespace {

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
