// Repairing another installation, end to end with klarner.exe: an offline Windows folder whose
// hives the test writes with RegSaveKey (a disk class list naming a driver whose key is gone, the
// product's driver, keys, files and a user), searched and cleaned in its own terms, restored into
// it, and its hives unloaded however the run ends. Wine never writes a loaded hive back to its
// file, so the outcome is read from the report and the record, which the program writes from
// what it read back before unloading.
#include <gtest/gtest.h>
#include "ProgramRun.h"
#include "TestSupport.h"
#include "../engine/registry/Hives.h"
#include <functional>

namespace {

using kt::Json;
const char kDisk[] = "{4d36e967-e325-11ce-bfc1-08002be10318}";
const char kVolume[] = "{71a27cdd-812a-11d0-bec7-08002be2092f}";
const char kSid[] = "S-1-5-21-7-7-7-1001";

class OfflineTest : public kt::ProgramRunTest
{
protected:
    OfflineTest() : ProgramRunTest("kltoff", "offline") {}
    void SetUp() override
    {
        ProgramRunTest::SetUp();
        root = "C:\\offline-" + tag;
        windows = root + "\\Windows";
        folders.push_back(root);
        ASSERT_EQ(EnableHivePrivileges(), ERROR_SUCCESS);
    }
    // A hive file made from keys the build function writes below a scratch key (paths relative
    // to the hive's root).
    void SaveHive(const std::string& file, const std::function<void(const std::function<void(const std::string&, const char*, const std::string&)>&, const std::function<void(const std::string&, const char*, DWORD)>&, const std::function<void(const std::string&, const char*, const std::string&)>&)>& build)
    {
        const std::string scratch = "Software\\KlarnerOfflineBuild" + tag;
        auto text = [&](const std::string& key, const char* name, const std::string& value) {
            ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, (scratch + "\\" + key).c_str(), name, REG_SZ, value.c_str(),
                                      static_cast<DWORD>(value.size() + 1)),
                      ERROR_SUCCESS);
        };
        auto dword = [&](const std::string& key, const char* name, DWORD value) {
            ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, (scratch + "\\" + key).c_str(), name, REG_DWORD, &value, sizeof value),
                      ERROR_SUCCESS);
        };
        auto list = [&](const std::string& key, const char* name, const std::string& entries) {
            ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, (scratch + "\\" + key).c_str(), name, REG_MULTI_SZ, entries.data(),
                                      static_cast<DWORD>(entries.size())),
                      ERROR_SUCCESS);
        };
        build(text, dword, list);
        EXPECT_TRUE(kt::SaveHive(HKEY_CURRENT_USER, scratch, file)) << file;
        kt::DeleteTree(HKEY_CURRENT_USER, scratch);
    }
    static std::string Multi(const std::vector<std::string>& entries)
    {
        std::string data;
        for (const std::string& entry : entries)
            data += entry + std::string(1, '\0');
        return data + std::string(1, '\0');
    }
    // A broken installation: the disk class list names the product's driver, the volume class
    // list one whose key is gone; the product's service, key, files and a user's key.
    void BuildInstallation(const std::string& machineGuid = "{0F0E0D0C-0B0A-0908-0706-050403020100}")
    {
        SaveHive(windows + "\\System32\\config\\SYSTEM", [&](auto text, auto dword, auto list) {
            dword("Select", "Current", 1);
            list("ControlSet001\\Control\\Class\\" + std::string(kDisk), "UpperFilters", Multi({ "partmgr", keyword + "flt" }));
            list("ControlSet001\\Control\\Class\\" + std::string(kVolume), "UpperFilters", Multi({ "volsnap", "gone" + tag }));
            text("ControlSet001\\Services\\partmgr", "ImagePath", "System32\\drivers\\partmgr.sys");
            text("ControlSet001\\Services\\volsnap", "ImagePath", "System32\\drivers\\volsnap.sys");
            text("ControlSet001\\Services\\" + keyword + "flt", "ImagePath", "System32\\drivers\\" + keyword + "flt.sys");
            dword("ControlSet001\\Services\\" + keyword + "flt", "Start", 0);
        });
        SaveHive(windows + "\\System32\\config\\SOFTWARE", [&](auto text, auto, auto) {
            text("Microsoft\\Windows NT\\CurrentVersion", "SystemRoot", "C:\\Windows");
            text("Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + std::string(kSid), "ProfileImagePath", "%SystemDrive%\\Users\\anna");
            text("Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", "C:\\Program Files");
            text("Microsoft\\Cryptography", "MachineGuid", machineGuid);
            text(keyword + " Settings", "Version", "2.1");
            // The key names its folder in the installation's own terms: with a keyword of one's
            // own, a folder is a finding only where a finding names it.
            text(keyword + " Settings", "InstallDir", "C:\\Program Files\\" + keyword + " Suite");
        });
        SaveHive(root + "\\Users\\anna\\NTUSER.DAT", [&](auto text, auto, auto) { text("Software\\" + keyword + "Tray", "Run", "1"); });
        File(windows + "\\System32\\drivers\\" + keyword + "flt.sys", "driver");
        File(root + "\\Program Files\\" + keyword + " Suite\\engine.dll", "engine");
    }
    DWORD Offline(const std::string& switches, Json* record = nullptr)
    {
        return Run("\"/offline=" + windows + "\" " + switches, record);
    }
    static bool Loaded() { return kt::KeyExists(HKEY_LOCAL_MACHINE, "VelmoraKlarner-Offline-SYSTEM") || kt::KeyExists(HKEY_LOCAL_MACHINE, "VelmoraKlarner-Offline-SOFTWARE"); }

    std::string root, windows;
};

TEST_F(OfflineTest, ABrokenBootIsRepairedInTheInstallationsOwnTermsAndRestoredIntoIt)
{
    BuildInstallation();
    const std::string shown = "OFFLINE " + windows + ": HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\";
    Json record;
    // "controlset" names the control set itself, which the floor holds offline as on the running system.
    EXPECT_EQ(RunAlone("/keywords=" + keyword + ",controlset \"/offline=" + windows + "\" /dangling /refs", &record), 1u) << errors;
    EXPECT_FALSE(Loaded());
    EXPECT_EQ(record["offline"], windows);
    const std::string text = Report();
    for (const std::string& line : {
             shown + "Control\\Class\\" + kDisk + "\\UpperFilters: " + keyword + "flt\r\n",
             shown + "Control\\Class\\" + kVolume + "\\UpperFilters: gone" + tag +
                 "  (no service key: Windows cannot load this driver; boot device class)\r\n",
             shown + "Services\\" + keyword + "flt\r\n",
             "OFFLINE " + windows + ": HKEY_LOCAL_MACHINE\\SOFTWARE\\" + keyword + " Settings\r\n",
             "OFFLINE " + windows + ": " + root + "\\Program Files\\" + keyword + " Suite  (nothing installed names a file inside)\r\n",
             "OFFLINE " + windows + ": " + windows + "\\System32\\drivers\\" + keyword + "flt.sys  (ImagePath of the service " +
                 keyword + "flt, which is a finding)\r\n" })
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    EXPECT_EQ(text.find("\\ControlSet001\r\n"), std::string::npos) << "the floor holds offline";
    EXPECT_EQ(text.find("partmgr"), std::string::npos);

    // The user's hive below HKEY_USERS, in the user's own terms.
    EXPECT_EQ(Offline("/hkey=HKU"), 1u);
    EXPECT_NE(Report().find("OFFLINE " + windows + ": HKEY_USERS\\" + kSid + "\\Software\\" + keyword + "Tray\r\n"), std::string::npos)
        << Report();
    EXPECT_FALSE(kt::KeyExists(HKEY_USERS, std::string("VelmoraKlarner-Offline-") + kSid));

    // Removed: list entries first, then the service key (as a key: nothing of it runs), the files
    // directly; the backup names the loaded hives.
    EXPECT_EQ(Offline("/dangling /refs /del", &record), 0u) << Report();
    EXPECT_FALSE(Loaded());
    const std::string removal = Report().substr(Report().rfind(shown + "Control\\Class\\" + kDisk));
    EXPECT_LT(removal.find("UpperFilters: " + keyword + "flt"), removal.find(shown + "Services\\" + keyword + "flt"));
    EXPECT_EQ(removal.find(" - could not be removed"), std::string::npos) << removal;
    EXPECT_FALSE(kt::FileExists(windows + "\\System32\\drivers\\" + keyword + "flt.sys"));
    EXPECT_FALSE(kt::FileExists(root + "\\Program Files\\" + keyword + " Suite\\engine.dll"));
    const std::vector<std::string> backups = kt::BackupsOf(report);
    ASSERT_FALSE(backups.empty());
    const std::string backup = backups.back();
    EXPECT_NE(kt::ReadUtf16(backup).find(kt::Widen("[HKEY_LOCAL_MACHINE\\VelmoraKlarner-Offline-SYSTEM\\ControlSet001\\Services\\" +
                                                   keyword + "flt]")),
              std::wstring::npos);

    // Back only into the same installation: never below the running system's keys.
    EXPECT_EQ(RunAlone("\"/restore=" + backup + "\""), 87u);
    EXPECT_EQ(RunAlone("\"/restore=" + backup + "\" \"/offline=" + windows + "\"", &record), 1u) << Report();
    EXPECT_FALSE(Loaded());
    EXPECT_EQ(kt::ReadFileBytes(windows + "\\System32\\drivers\\" + keyword + "flt.sys"), "driver");
    bool refused = false;
    for (const Json& item : record["findings"])
        if (item.value("entry", "") == "gone" + tag)
            refused = item["status"] == "refused";
        else
            EXPECT_EQ(item["status"], "restored") << item.dump();
    EXPECT_TRUE(refused) << "an entry whose driver has no key never goes back";
}

TEST_F(OfflineTest, AnotherInstallationsPathsNeverNameThisMachinesDrivesAndItsBackupsGoBackOnlyIntoIt)
{
    // A user whose profile the installation's registry puts on a drive that, here, is one of this
    // machine's own: nothing of it is the installation's, neither its hive nor its files.
    char full[MAX_PATH];
    ASSERT_GT(GetFullPathNameA((kt::ScratchDir("offline-other") + "bob").c_str(), MAX_PATH, full, nullptr), 0u);
    const std::string bob = full, bobSid = "S-1-5-21-7-7-7-1002";
    BuildInstallation();
    SaveHive(windows + "\\System32\\config\\SOFTWARE", [&](auto text, auto, auto) {
        text("Microsoft\\Cryptography", "MachineGuid", "{0F0E0D0C-0B0A-0908-0706-050403020100}");
        text("Microsoft\\Windows NT\\CurrentVersion", "SystemRoot", "C:\\Windows");
        text("Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + std::string(kSid), "ProfileImagePath", "%SystemDrive%\\Users\\anna");
        text("Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + bobSid, "ProfileImagePath", bob);
        text(keyword + " Settings", "InstallDir", bob + "\\AppData\\Local\\" + keyword + " Suite");
    });
    SaveHive(bob + "\\NTUSER.DAT", [&](auto text, auto, auto) { text("Software\\" + keyword + "Bob", "Run", "1"); });
    File(bob + "\\AppData\\Local\\" + keyword + " Suite\\engine.dll", "this machine's");
    folders.push_back(bob);
    EXPECT_EQ(Offline("/refs /del"), 0u) << Report();
    EXPECT_EQ(kt::ReadFileBytes(bob + "\\AppData\\Local\\" + keyword + " Suite\\engine.dll"), "this machine's");
    EXPECT_NE(Report().find("left the profile of " + bobSid + " at " + bob + ": not on the installation's own disk"), std::string::npos)
        << Report();
    EXPECT_EQ(Offline("/hkey=HKU"), 1u);
    EXPECT_EQ(Report().find(keyword + "Bob"), std::string::npos) << "this machine's file is never loaded as the user's hive";
    EXPECT_NE(Report().find("HKEY_USERS\\" + std::string(kSid) + "\\Software\\" + keyword + "Tray"), std::string::npos);

    // Its backup goes back only into the same installation; another one's, or the running
    // system's, never.
    const std::string backup = kt::BackupsOf(report).back();
    const std::string ownRoot = root, ownWindows = windows;
    root = ownRoot + "-other";
    windows = root + "\\Windows";
    folders.push_back(root);
    BuildInstallation("{1F1E1D1C-1B1A-1918-1716-151413121110}");
    const std::string otherWindows = windows;
    root = ownRoot;
    windows = ownWindows;
    EXPECT_EQ(RunAlone("\"/restore=" + backup + "\" \"/offline=" + otherWindows + "\""), 87u);
    EXPECT_NE(errors.find("another installation"), std::string::npos) << errors;
    EXPECT_FALSE(Loaded());
    const std::string key = "SOFTWARE\\" + keyword + "Live";
    Text(HKEY_LOCAL_MACHINE, key, "Value", "x");
    const std::string liveReport = kt::ScratchDir("offline-live") + "report.txt";
    ASSERT_EQ(kt::Run("\"" + kt::EnglishProgram() + "\" \"/silent=" + liveReport + "\" /keywords=" + keyword + "Live /del"), 0u);
    EXPECT_EQ(RunAlone("\"/restore=" + kt::BackupsOf(liveReport).back() + "\" \"/offline=" + windows + "\""), 87u);
    EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, key)) << "nothing of it went anywhere";
}

TEST_F(OfflineTest, WhatAnInstallationLacksMakesTheKindsThatNeedItSaySo)
{
    BuildInstallation();
    // No SOFTWARE hive: nothing that lies there can be judged, nor what claims the files.
    ASSERT_TRUE(DeleteFileA((windows + "\\System32\\config\\SOFTWARE").c_str()));
    std::string output;
    EXPECT_EQ(kt::Run("\"" + kt::EnglishProgram() + "\" \"/silent=" + report + "\" /keywords=" + keyword + " /refs \"/offline=" +
                          windows + "\" /json=-",
                      &output, 120000),
              1u);
    const Json record = Json::parse(output.substr(0, output.rfind("Velmora Klarner:")));
    for (const Json& check : record["checks"]) {
        if (check["kind"] == "folder" || check["kind"] == "class") {
            EXPECT_EQ(check["state"], "unavailable") << check.dump();
        }
    }
    EXPECT_NE(output.substr(output.rfind("Velmora Klarner:")).find("folder"), std::string::npos) << output;
    EXPECT_TRUE(kt::FileExists(root + "\\Program Files\\" + keyword + " Suite\\engine.dll"));
    EXPECT_FALSE(Loaded());
    // A user's hive that cannot be loaded: the search of the users could not look there.
    BuildInstallation();
    ASSERT_TRUE(DeleteFileA((root + "\\Users\\anna\\NTUSER.DAT").c_str()));
    ASSERT_TRUE(kt::WriteFileBytes(root + "\\Users\\anna\\NTUSER.DAT", "not a hive"));
    Json users;
    EXPECT_EQ(Offline("/hkey=HKU", &users), 1u);
    bool unavailable = false;
    for (const Json& check : users["checks"])
        unavailable = unavailable || (check["kind"] == "key" && check["state"] == "unavailable" &&
                                      check.value("why", "").find(kSid) != std::string::npos);
    EXPECT_TRUE(unavailable) << users.dump();
}

TEST_F(OfflineTest, RefusalsAndHivesThatCannotBeLoadedLeaveNothingLoaded)
{
    char running[MAX_PATH] = "";
    GetSystemWindowsDirectoryA(running, MAX_PATH);
    EXPECT_EQ(RunAlone(std::string("\"/offline=") + running + "\""), 87u);
    CreateDirectoryA(root.c_str(), nullptr);
    EXPECT_EQ(RunAlone("\"/offline=" + root + "\""), 87u) << "no System32\\config\\SYSTEM";
    BuildInstallation();
    EXPECT_EQ(Offline("/hkey=HKCU"), 87u);
    // A hive loaded already under the program's name: another run, or a registry editor.
    CLoadedHive held;
    ASSERT_EQ(held.Load(HKEY_LOCAL_MACHINE, L"VelmoraKlarner-Offline-SYSTEM", kt::Widen(windows + "\\System32\\config\\SYSTEM")),
              ERROR_SUCCESS);
    EXPECT_EQ(Offline(""), 87u);
    EXPECT_EQ(held.Unload(), ERROR_SUCCESS);
    // A SOFTWARE hive that is no hive: SYSTEM, loaded first, goes again.
    ASSERT_TRUE(DeleteFileA((windows + "\\System32\\config\\SOFTWARE").c_str()));
    ASSERT_TRUE(kt::WriteFileBytes(windows + "\\System32\\config\\SOFTWARE", "not a hive"));
    std::string errors;
    EXPECT_EQ(kt::Run("\"" + kt::EnglishProgram() + "\" \"/silent=" + report + "\" \"/offline=" + windows + "\"", nullptr, 120000, &errors),
              110u);
    EXPECT_NE(errors.find("could not be loaded"), std::string::npos) << errors;
    EXPECT_FALSE(Loaded());
}

}  // namespace
