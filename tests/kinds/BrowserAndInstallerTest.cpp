// Browser extensions of the product and Windows Installer's registration of a product that is
// gone, end to end and by their rules.
#include "KindsFixture.h"

namespace {

// The browsers' extensions of the product, for the machine and the running user: a registration
// whose .crx is gone goes with its key, a policy's entry that forces it (or fetches from the
// product's host) and a Firefox value whose .xpi is gone go alone; what another vendor registered,
// what the store serves, what is still there and what the maker's installed product fetches stay.
TEST_F(NetKindsTest, BrowserExtensionsOfTheProductGoAloneAndComeBackWhileLookAlikesStay)
{
    const std::string chrome = "SOFTWARE\\Google\\Chrome\\Extensions\\", edge32 = "SOFTWARE\\WOW6432Node\\Microsoft\\Edge\\Extensions\\";
    const std::string forcelist = "SOFTWARE\\Policies\\Google\\Chrome\\ExtensionInstallForcelist";
    const std::string firefox = "SOFTWARE\\Mozilla\\Firefox\\Extensions";
    const std::string store = ";https://clients2.google.com/service/update2/crx";
    const std::string gone = ExtensionId('a', tag), edge = ExtensionId('b', tag), present = ExtensionId('c', tag),
                      other = ExtensionId('d', tag), webStore = ExtensionId('e', tag), both = ExtensionId('f', tag),
                      hosted = ExtensionId('g', tag), foreign = ExtensionId('h', tag);
    const std::string otherVendor = "C:\\Program Files\\Other Vendor " + tag + "\\";
    Text(HKEY_LOCAL_MACHINE, chrome + gone, "path", product + "webshield.crx");
    Text(HKEY_LOCAL_MACHINE, chrome + gone, "version", "4.2.1");
    Text(HKEY_LOCAL_MACHINE, edge32 + edge, "path", product + "edge\\webshield.crx");
    Text(HKEY_LOCAL_MACHINE, edge32 + edge, "version", "4.2.1");
    File(product + "present.crx");
    Text(HKEY_LOCAL_MACHINE, chrome + present, "path", product + "present.crx");  // there: it works
    Text(HKEY_LOCAL_MACHINE, chrome + other, "path", otherVendor + "other.crx");   // no keyword
    Text(HKEY_LOCAL_MACHINE, chrome + webStore, "update_url", "https://clients2.google.com/service/update2/crx");
    Text(HKEY_LOCAL_MACHINE, chrome + both, "update_url", "https://clients2.google.com/service/update2/crx");
    Text(HKEY_LOCAL_MACHINE, chrome + both, "path", product + "unused.crx");  // the browser fetches it, never reads its path
    const std::string named = chrome + keyword + "Old";  // a key the name search finds itself
    Text(HKEY_LOCAL_MACHINE, named, "path", product + "old.crx");
    const std::string productHost = "update." + keyword + ".example";
    Text(HKEY_LOCAL_MACHINE, forcelist, "1", gone + store);
    Text(HKEY_LOCAL_MACHINE, forcelist, "2", hosted + ";https://" + productHost + "/crx");
    Text(HKEY_LOCAL_MACHINE, forcelist, "3", foreign + ";https://extensions.othervendor.example/crx");
    Text(HKEY_LOCAL_MACHINE, forcelist, "4", webStore);
    const std::string shield = "shield@" + keyword + ".example";
    Text(HKEY_LOCAL_MACHINE, firefox, shield.c_str(), product + "firefox\\shield.xpi");
    File(product + "firefox-present\\manifest.json");
    Text(HKEY_LOCAL_MACHINE, firefox, "present@example.org", product + "firefox-present");
    Text(HKEY_LOCAL_MACHINE, firefox, "other@example.org", otherVendor + "other.xpi");
    const std::string machine = "HKEY_LOCAL_MACHINE\\";
    auto extensions = [](const Json& record) {
        std::vector<std::string> found;
        for (const std::string& line : Found(record))
            if (line.compare(0, 17, "browserExtension ") == 0)
                found.push_back(line);
        std::sort(found.begin(), found.end());
        return found;
    };

    // A product of the maker still installed may fetch its own extension from the host it names.
    const std::string uninstall = InstallMakersProduct(HKEY_LOCAL_MACHINE, "SOFTWARE");
    Json record;
    Run("/hkey=HKLM /refs", &record);
    EXPECT_TRUE(Checked(record, "browserExtension")) << record["checks"].dump();
    EXPECT_EQ(Reason(record, machine + forcelist + "\\2"), "<none>") << record["findings"].dump(1);
    EXPECT_NE(Lower(Report()).find(Lower("kept " + machine + forcelist + "\\2: extension " + hosted + " from " + productHost +
                                         ", of the maker of " + keyword + " Web Shield 2, which is still installed")),
              std::string::npos) << Report();
    kt::DeleteTree(HKEY_LOCAL_MACHINE, uninstall);
    DeleteFileA((product + "uninstall.exe").c_str());

    std::vector<std::string> before = kt::BackupsOf(report);
    EXPECT_EQ(Run("/hkey=HKLM /refs /del", &record), 0u) << Report();
    std::vector<std::string> expected = {
        "browserExtension " + Lower(machine + chrome + gone) + " removed",
        "browserExtension " + Lower(machine + edge32 + edge) + " removed",
        "browserExtension " + Lower(machine + forcelist) + "\\1 removed",
        "browserExtension " + Lower(machine + forcelist) + "\\2 removed",
        "browserExtension " + Lower(machine + firefox + "\\" + shield) + " removed",
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(extensions(record), expected) << record["findings"].dump(1);
    const std::vector<std::string> found = Found(record);
    EXPECT_NE(std::find(found.begin(), found.end(), "key " + Lower(machine + named) + " removed"), found.end())
        << "listed once, by its name\n" << record["findings"].dump(1);
    EXPECT_EQ(Reason(record, machine + chrome + gone), "Chrome extension " + gone + ": path = " + product + "webshield.crx, file missing");
    EXPECT_EQ(Lower(Reason(record, machine + forcelist + "\\1")),
              Lower("the Chrome policy forces extension " + gone + ", whose registration " + machine + chrome + gone +
                    " names the product's .crx, which is gone"));
    EXPECT_NE(Reason(record, machine + forcelist + "\\2").find("from " + productHost + ", a host of the product"), std::string::npos);
    EXPECT_EQ(Reason(record, machine + firefox + "\\" + shield),
              "Firefox extension " + shield + " = " + product + "firefox\\shield.xpi, file missing");
    EXPECT_NE(Report().find("(the browser lets go of the extension when it starts next, at the latest)"), std::string::npos) << Report();
    EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, chrome + gone));
    EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, edge32 + edge));
    for (const std::string* stays : { &present, &other, &webStore, &both })
        EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, chrome + *stays)) << *stays;
    EXPECT_FALSE(kt::ValueExists(HKEY_LOCAL_MACHINE, forcelist, "1"));
    EXPECT_FALSE(kt::ValueExists(HKEY_LOCAL_MACHINE, forcelist, "2"));
    EXPECT_EQ(BytesOf(HKEY_LOCAL_MACHINE, forcelist, "3"), foreign + ";https://extensions.othervendor.example/crx" + std::string(1, '\0'));
    EXPECT_EQ(BytesOf(HKEY_LOCAL_MACHINE, forcelist, "4"), webStore + std::string(1, '\0'));
    EXPECT_FALSE(kt::ValueExists(HKEY_LOCAL_MACHINE, firefox, shield.c_str()));
    EXPECT_TRUE(kt::ValueExists(HKEY_LOCAL_MACHINE, firefox, "present@example.org"));
    EXPECT_TRUE(kt::ValueExists(HKEY_LOCAL_MACHINE, firefox, "other@example.org"));
    // The folder stays: a registration that works still names a file in it.
    EXPECT_TRUE(kt::FileExists(product + "present.crx"));
    EXPECT_TRUE(kt::FileExists(product + "firefox-present\\manifest.json"));

    std::string backup = NewBackup(before);
    ASSERT_FALSE(backup.empty());
    const std::string saved = Lower(kt::Utf8(kt::ReadUtf16(backup)));
    for (const std::string& held : { "[" + machine + chrome + gone + "]", "[" + machine + edge32 + edge + "]",
                                     "\"1\"=\"" + gone + store + "\"", "\"2\"=\"" + hosted + ";https://" + productHost + "/crx\"" })
        EXPECT_NE(saved.find(Lower(held)), std::string::npos) << held << "\n" << saved;
    EXPECT_EQ(saved.find("\"3\"="), std::string::npos) << "only the entries removed";
    EXPECT_EQ(RunAlone("\"/restore=" + backup + "\"", &record), 0u) << Report();
    EXPECT_EQ(BytesOf(HKEY_LOCAL_MACHINE, chrome + gone, "path"), product + "webshield.crx" + std::string(1, '\0'));
    EXPECT_EQ(BytesOf(HKEY_LOCAL_MACHINE, chrome + gone, "version"), "4.2.1" + std::string(1, '\0'));
    EXPECT_EQ(BytesOf(HKEY_LOCAL_MACHINE, edge32 + edge, "path"), product + "edge\\webshield.crx" + std::string(1, '\0'));
    EXPECT_EQ(BytesOf(HKEY_LOCAL_MACHINE, forcelist, "1"), gone + store + std::string(1, '\0'));
    EXPECT_EQ(BytesOf(HKEY_LOCAL_MACHINE, forcelist, "2"), hosted + ";https://" + productHost + "/crx" + std::string(1, '\0'));
    EXPECT_EQ(BytesOf(HKEY_LOCAL_MACHINE, forcelist, "3"), foreign + ";https://extensions.othervendor.example/crx" + std::string(1, '\0'));
    EXPECT_EQ(BytesOf(HKEY_LOCAL_MACHINE, firefox, shield.c_str()), product + "firefox\\shield.xpi" + std::string(1, '\0'));
    EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, named)) << "the key kind's finding comes back too";

    // The running user's: an Edge registration, the user's policy that forces it by its id alone,
    // and a Firefox value; a store's registration stays.
    const std::string userEdge = "Software\\Microsoft\\Edge\\Extensions\\" + ExtensionId('i', tag);
    const std::string userForcelist = "Software\\Policies\\Microsoft\\Edge\\ExtensionInstallForcelist";
    const std::string userFirefox = "Software\\Mozilla\\Firefox\\Extensions", userShield = "user@" + keyword + ".example";
    const std::string userStore = "Software\\Google\\Chrome\\Extensions\\" + ExtensionId('j', tag);
    Text(HKEY_CURRENT_USER, userEdge, "path", product + "user.crx");
    Text(HKEY_CURRENT_USER, userForcelist, "1", ExtensionId('i', tag));
    Text(HKEY_CURRENT_USER, userFirefox, userShield.c_str(), product + "user.xpi");
    Text(HKEY_CURRENT_USER, userStore, "update_url", "https://clients2.google.com/service/update2/crx");
    const std::string user = "HKEY_CURRENT_USER\\";
    before = kt::BackupsOf(report);
    EXPECT_EQ(Run("/hkey=HKCU /refs /del", &record), 0u) << Report();
    expected = { "browserExtension " + Lower(user + userEdge) + " removed", "browserExtension " + Lower(user + userForcelist) + "\\1 removed",
                 "browserExtension " + Lower(user + userFirefox + "\\" + userShield) + " removed" };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(extensions(record), expected) << record["findings"].dump(1);
    EXPECT_TRUE(Exists(HKEY_CURRENT_USER, userStore));
    EXPECT_FALSE(Exists(HKEY_CURRENT_USER, userEdge));
    backup = NewBackup(before);
    ASSERT_FALSE(backup.empty());
    EXPECT_EQ(RunAlone("\"/restore=" + backup + "\"", &record), 0u) << Report();
    EXPECT_EQ(BytesOf(HKEY_CURRENT_USER, userEdge, "path"), product + "user.crx" + std::string(1, '\0'));
    EXPECT_EQ(BytesOf(HKEY_CURRENT_USER, userForcelist, "1"), ExtensionId('i', tag) + std::string(1, '\0'));
    EXPECT_EQ(BytesOf(HKEY_CURRENT_USER, userFirefox, userShield.c_str()), product + "user.xpi" + std::string(1, '\0'));
}

// The force-install list's entries, without a registry.
TEST(NetKindRules, AForcedExtensionIsTheProductsByAGoneRegistrationOrTheProductsHostUnlessTheMakersProductRemains)
{
    ForcedExtension entry;
    ASSERT_TRUE(SplitForcelistEntry(L" abcdefghijklmnopabcdefghijklmnop ; https://User@Update.Vigilo.Example:8443/crx?x=1 ", entry));
    EXPECT_EQ(entry.id, L"abcdefghijklmnopabcdefghijklmnop");
    EXPECT_EQ(entry.url, L"https://User@Update.Vigilo.Example:8443/crx?x=1");
    EXPECT_EQ(entry.host, L"update.vigilo.example");
    ASSERT_TRUE(SplitForcelistEntry(L"abcdefghijklmnopabcdefghijklmnop", entry));
    EXPECT_TRUE(entry.url.empty() && entry.host.empty()) << "the id alone: the browser's store";
    ASSERT_TRUE(SplitForcelistEntry(L"abc;update.vigilo.example/crx", entry));
    EXPECT_TRUE(entry.host.empty()) << "no scheme, no host";
    EXPECT_FALSE(SplitForcelistEntry(L"", entry));
    EXPECT_FALSE(SplitForcelistEntry(L" ;https://update.vigilo.example/", entry));
    EXPECT_TRUE(IsBrowserStoreHost(L"clients2.google.com"));
    EXPECT_TRUE(IsBrowserStoreHost(L"edge.microsoft.com"));
    EXPECT_FALSE(IsBrowserStoreHost(L"notgoogle.com"));

    const CKeywords keywords("vigilo,velmora,google");
    const std::vector<std::wstring> goneIds = { L"aaaabbbbccccddddeeeeffffgggghhhh" };
    struct Row
    {
        const wchar_t* data;
        std::vector<std::wstring> installed;
        ForcedVerdict verdict;
    } rows[] = {
        { L"AAAABBBBCCCCDDDDEEEEFFFFGGGGHHHH;https://clients2.google.com/service/update2/crx", {}, ForcedVerdict::GoneExtension },
        { L"aaaabbbbccccddddeeeeffffgggghhhh", { L"Vigilo Web Shield" }, ForcedVerdict::GoneExtension },
        { L"pppppppppppppppppppppppppppppppp;https://update.vigilo.example/crx", {}, ForcedVerdict::ProductsHost },
        { L"pppppppppppppppppppppppppppppppp;https://update.vigilo.example/crx", { L"Other Tool" }, ForcedVerdict::ProductsHost },
        { L"pppppppppppppppppppppppppppppppp;https://update.vigilo.example/crx", { L"Vigilo+ SecureVPN" }, ForcedVerdict::MakerInstalled },
        { L"pppppppppppppppppppppppppppppppp;https://extensions.example/vigilo/crx", {}, ForcedVerdict::NotTheProducts },
        { L"pppppppppppppppppppppppppppppppp;https://clients2.google.com/service/update2/crx", {}, ForcedVerdict::NotTheProducts },
        { L"pppppppppppppppppppppppppppppppp", {}, ForcedVerdict::NotTheProducts },
    };
    for (const Row& row : rows) {
        std::wstring keyword, keptBy;
        ASSERT_TRUE(SplitForcelistEntry(row.data, entry)) << Utf8(row.data);
        EXPECT_EQ(JudgeForcedExtension(entry, goneIds, keywords, row.installed, keyword, keptBy), row.verdict) << Utf8(row.data);
        if (row.verdict == ForcedVerdict::MakerInstalled) {
            EXPECT_EQ(keptBy, row.installed.front());
        }
        if (row.verdict == ForcedVerdict::ProductsHost) {
            EXPECT_EQ(keyword, L"vigilo");
        }
    }
}

// Windows Installer's registration of a product, all of it below one of three places per name.
struct InstallerPlaces
{
    static constexpr const char* kCode = "{5D1A7E2B-3C4F-4A6B-8D9E-0F1A2B3C4D01}";
    const std::string packed = "B2E7A1D5F4C3B6A4D8E9F0A1B2C3D410";
    const std::string product = "SOFTWARE\\Classes\\Installer\\Products\\" + packed;
    const std::string features = "SOFTWARE\\Classes\\Installer\\Features\\" + packed;
    const std::string upgrade = "SOFTWARE\\Classes\\Installer\\UpgradeCodes\\B2E7A1D5F4C3B6A4D8E9F0A1B2C3D420";
    const std::string data = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\";
    const std::string properties = data + "Products\\" + packed + "\\InstallProperties";
    const std::string file = data + "Components\\B2E7A1D5F4C3B6A4D8E9F0A1B2C3D430";
    const std::string setting = data + "Components\\B2E7A1D5F4C3B6A4D8E9F0A1B2C3D440";
    const std::string uninstall = kVersion + "Uninstall\\" + kCode;
    const std::string folder = "C:\\Program Files\\kltorphan Guard";
    std::vector<std::string> Keys() const
    {
        return { product, features, upgrade, data + "Products\\" + packed, file, setting, uninstall, "SOFTWARE\\kltorphan" };
    }
};

std::string StringOf(HKEY root, const std::string& key, const char* name)
{
    char text[1024] = "";
    DWORD size = sizeof text;
    return RegGetValueA(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size) == ERROR_SUCCESS ? text : "none";
}

TEST_F(KindsTest, WindowsInstallerRegistrationOfAProductThatIsGoneGoesAndComesBackWhatCanStillBeRemovedStays)
{
    const InstallerPlaces places;
    for (const std::string& key : places.Keys())
        keys.push_back({ HKEY_LOCAL_MACHINE, key });
    folders.push_back(places.folder);
    // Its sources: a folder only the administrators may change, and one anybody may.
    const std::string sealed = "C:\\kltorphan-src" + tag, open = "C:\\kltorphan-open" + tag;
    CAdminOnly adminOnly;
    ASSERT_TRUE(CreateDirectoryW(kt::Widen(sealed).c_str(), adminOnly.Attributes()));
    ASSERT_TRUE(CreateDirectoryA(open.c_str(), nullptr) && kt::AllowEveryone(open));
    folders.push_back(sealed);
    folders.push_back(open);
    std::string source;
    const auto install = [&](const std::string& folder) {
        source = folder + "\\kltorphan.msi";
        ASSERT_TRUE(CopyFileA((kt::TestDir() + "kltorphan.msi").c_str(), source.c_str(), FALSE));
        ASSERT_EQ(kt::Run("msiexec.exe /i \"" + source + "\" /qn"), 0u);
        ASSERT_NE(StringOf(HKEY_LOCAL_MACHINE, places.properties, "LocalPackage"), "none");
    };
    const std::string run = "/keywords=kltorphan /refs /hkey=HKLM";
    const std::string kept = std::string("kept kltorphan Guard ") + InstallerPlaces::kCode + ": ";
    const std::string path = "HKEY_LOCAL_MACHINE\\" + places.product;
    install(sealed);
    Json record;
    // Installed: its cached package is there, then (the package gone) its file, then its settings
    // key while nothing of this search takes it.
    EXPECT_EQ(RunAlone(run, &record), 0u) << Report();
    EXPECT_NE(Report().find(kept + "its cached package "), std::string::npos) << Report();
    ASSERT_TRUE(DeleteFileA(StringOf(HKEY_LOCAL_MACHINE, places.properties, "LocalPackage").c_str()));
    EXPECT_EQ(RunAlone(run, &record), 0u) << Report();
    EXPECT_NE(Report().find(kept + places.folder + "\\guard.dll of one of its components is there"), std::string::npos) << Report();
    ASSERT_TRUE(DeleteFileA((places.folder + "\\guard.dll").c_str()));
    EXPECT_FALSE(InstallerProductThere(L"{5D1A7E2B-3C4F-4A6B-8D9E-0F1A2B3C4D01}", CInstallation::Running()))
        << "neither its package nor its file is there";
    EXPECT_EQ(RunAlone("/keywords=kltorphanx " + run.substr(run.find(' ') + 1), &record), 0u) << "no keyword, no look";
    for (const Json& finding : record["findings"])
        EXPECT_NE(finding["kind"], "installerProduct") << finding.dump();

    // Its source still reachable where only the administrators may change it: Windows Installer
    // removes it itself.
    const auto removed = [&](const std::string& advice) {
        EXPECT_EQ(RunAlone(run + " /del", &record), 0u) << Report();
        const std::vector<std::string> found = Found(record);
        EXPECT_NE(std::find(found.begin(), found.end(), "installerProduct " + Lower(path) + " removed"), found.end()) << record.dump(1);
        EXPECT_NE(Lower(Report()).find(Lower(advice)), std::string::npos) << advice << "\n" << Report();
        for (const std::string& key : { places.product, places.features, places.upgrade, places.file, places.uninstall })
            EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, key)) << key;
    };
    removed("Windows Installer removed the product");
    EXPECT_EQ(Reason(record, path).substr(0, 60), std::string("Windows Installer product kltorphan Guard ") + std::string(InstallerPlaces::kCode).substr(0, 18))
        << Reason(record, path);

    // A source anybody may change is never given to Windows Installer (its package there would
    // run with the system's rights): the registration goes by hand although the package is there.
    install(open);
    for (const std::string& gone : { StringOf(HKEY_LOCAL_MACHINE, places.properties, "LocalPackage"), places.folder + "\\guard.dll" })
        ASSERT_TRUE(DeleteFileA(gone.c_str())) << gone;
    removed("Windows Installer was not asked: others may change its source " + open);
    ASSERT_TRUE(DeleteFileA(source.c_str()));

    // Its package gone from the sealed source too: the registration goes key by key, each named,
    // and comes back.
    install(sealed);
    const std::string package = StringOf(HKEY_LOCAL_MACHINE, places.properties, "LocalPackage");
    for (const std::string& gone : { package, places.folder + "\\guard.dll", source })
        ASSERT_TRUE(DeleteFileA(gone.c_str())) << gone;
    removed("Windows Installer cannot remove it without its package; its registration went key by key: ");
    EXPECT_NE(Reason(record, path).find("its cached package " + package + " is gone and none of its 2 components' files or keys are there"),
              std::string::npos) << Reason(record, path);
    const std::string report = Lower(Report());
    for (const std::string& key : { places.product, places.features, places.data + "Products\\" + places.packed, places.uninstall })
        EXPECT_NE(report.find(Lower("HKEY_LOCAL_MACHINE\\" + key)), std::string::npos) << key << "\n" << report;
    EXPECT_NE(report.find(Lower("HKEY_LOCAL_MACHINE\\" + places.file + "\\" + places.packed)), std::string::npos) << report;

    const std::vector<std::string> backups = kt::BackupsOf(this->report);
    ASSERT_FALSE(backups.empty());
    EXPECT_EQ(RunAlone("\"/restore=" + backups.back() + "\"", &record), 0u) << Report();
    EXPECT_EQ(StringOf(HKEY_LOCAL_MACHINE, places.product, "ProductName"), "kltorphan Guard");
    EXPECT_EQ(StringOf(HKEY_LOCAL_MACHINE, places.properties, "LocalPackage"), package);
    EXPECT_EQ(StringOf(HKEY_LOCAL_MACHINE, places.file, places.packed.c_str()), places.folder + "\\guard.dll");
    EXPECT_TRUE(kt::ValueExists(HKEY_LOCAL_MACHINE, places.upgrade, places.packed.c_str()));
    EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, places.uninstall));
}

TEST(InstallerRules, ProductCodesAsWindowsInstallerSpellsThemAndWhatAProductComesTo)
{
    EXPECT_EQ(PackedCode(L"{5D1A7E2B-3C4F-4A6B-8D9E-0F1A2B3C4D01}"), L"B2E7A1D5F4C3B6A4D8E9F0A1B2C3D410");
    EXPECT_EQ(UnpackedCode(L"b2e7a1d5f4c3b6a4d8e9f0a1b2c3d410"), L"{5D1A7E2B-3C4F-4A6B-8D9E-0F1A2B3C4D01}");
    for (const wchar_t* wrong : { L"", L"B2E7A1D5F4C3B6A4D8E9F0A1B2C3D41", L"G2E7A1D5F4C3B6A4D8E9F0A1B2C3D410" })
        EXPECT_EQ(UnpackedCode(wrong), L"") << kt::Utf8(wrong);
    EXPECT_EQ(PackedCode(L"5D1A7E2B-3C4F-4A6B-8D9E-0F1A2B3C4D01"), L"");
    using V = InstallerVerdict;
    EXPECT_EQ(JudgeInstallerProduct(false, true, true, false), V::None);
    EXPECT_EQ(JudgeInstallerProduct(true, false, true, false), V::None);
    EXPECT_EQ(JudgeInstallerProduct(true, true, false, false), V::PackageThere);
    EXPECT_EQ(JudgeInstallerProduct(true, true, true, true), V::FilesThere);
    EXPECT_EQ(JudgeInstallerProduct(true, true, true, false), V::Finding);
    HKEY root = nullptr;
    std::wstring below;
    EXPECT_EQ(SplitComponentPath(L"", root, below), ComponentPathKind::Nothing);
    EXPECT_EQ(SplitComponentPath(L"C:\\Program Files\\A\\a.dll", root, below), ComponentPathKind::File);
    EXPECT_EQ(SplitComponentPath(L"22:\\SOFTWARE\\Maker\\Product\\Version", root, below), ComponentPathKind::Registry);
    EXPECT_EQ(root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(below, L"SOFTWARE\\Maker\\Product");
    EXPECT_EQ(SplitComponentPath(L"01:\\Software\\Maker\\", root, below), ComponentPathKind::Registry);
    EXPECT_EQ(root, HKEY_CURRENT_USER);
    EXPECT_EQ(below, L"Software\\Maker");
    EXPECT_EQ(SplitComponentPath(L"47:\\Software\\Maker\\", root, below), ComponentPathKind::Registry);
    EXPECT_EQ(root, nullptr) << "a root it cannot tell";
}

}  // namespace
