// Leftovers by reference: the evidence rule in process (roots, the Windows folder, files there or
// gone, 8.3 names, each hive owner's environment), and end to end with klarner.exe on the real
// registry of the test prefix: only what names the product's place and whose files are gone is
// found, removed exactly and brought back by the backup; look-alikes that still work stay.
#include <gtest/gtest.h>
#include "TestSupport.h"
#include "../engine/search/Said.h"
#include "../engine/system/FileEvidence.h"
#include "../engine/system/Installation.h"
#include "../engine/kinds/References.h"
#include "../engine/kinds/LeftoverKind.h"
#include <nlohmann/json.hpp>
#include <algorithm>

namespace {

const std::string kClasses = "Software\\Classes\\";
const std::string kVersion = "Software\\Microsoft\\Windows\\CurrentVersion\\";
const std::string kApproved = kVersion + "Shell Extensions\\Approved";
const std::string kProfileList = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";

std::string Guid(int n)
{
    char text[64];
    snprintf(text, sizeof text, "{6B1E2C3D-4F50-4A61-8B72-93A4B5C6D7%02X}", n);
    return text;
}

void MakeFile(const std::string& path)
{
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
    ASSERT_TRUE(kt::WriteFileBytes(path, "MZ")) << path;
}

TEST(ServerFiles, QuotesArgumentsAndEnvironmentVariables)
{
    EXPECT_EQ(ServerFile(L"\"C:\\Program Files\\Velmora\\agent.exe\" /automation"), L"C:\\Program Files\\Velmora\\agent.exe");
    EXPECT_EQ(ServerFile(L"C:\\Program Files\\Velmora\\agent.exe /automation -x"), L"C:\\Program Files\\Velmora\\agent.exe");
    EXPECT_EQ(ServerFile(L"C:\\Vm\\shell.dll"), L"C:\\Vm\\shell.dll");
    EXPECT_EQ(ServerFile(L"C:\\Vm\\helper /embedding"), L"C:\\Vm\\helper");
    wchar_t programFiles[MAX_PATH];
    ASSERT_GT(GetEnvironmentVariableW(L"ProgramFiles", programFiles, MAX_PATH), 0u);
    EXPECT_EQ(ServerFile(L"%ProgramFiles%\\Velmora\\vmshell.dll"), std::wstring(programFiles) + L"\\Velmora\\vmshell.dll");
}

// An installation of folders in a scratch folder: its Windows folder, Program Files and ProgramData,
// and one user whose profile folder carries the maker's name.
class EvidenceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        kt::UseLanguage("en-us");
        base = kt::ScratchDir("evidence");
        windows = base + "Windows Folder";
        CreateDirectoryA(windows.c_str(), nullptr);
        MakeFile(base + "Program Files\\Velmora\\SecureVPN\\vpnshell.dll");
        CreateDirectoryA((base + "ProgramData").c_str(), nullptr);
        MakeFile(base + "Users\\anna.VELMORA\\AppData\\Local\\Tool\\readme.txt");
        installation.reset(new CInstallation(
            kt::Widen(windows), { { L"ProgramFiles", kt::Widen(base + "Program Files") }, { L"ProgramData", kt::Widen(base + "ProgramData") } },
            { { L"S-1-5-21-1-2-3-1001", kt::Widen(base + "Users\\anna.VELMORA") } }, L"S-1-5-21-1-2-3-1001"));
    }
    // What the rule makes of a value's data in a hive of `owner`.
    std::string Verdict(const std::string& data, const std::wstring& owner = std::wstring())
    {
        const FileEvidence look = LookAtFile(kt::Widen(data), owner, *installation, { L"velmora", L"vigilo+", L"system32" });
        if (!look.told)
            return "untold";
        if (look.system)
            return "system";
        if (look.keyword.empty())
            return "elsewhere";
        return installation->FileGone(look.normalized) ? "gone" : "present";
    }

    std::string base, windows;
    std::unique_ptr<CInstallation> installation;
};

TEST_F(EvidenceTest, OnlyAMissingFileBelowARootThatNamesTheProductIsEvidence)
{
    char shortName[MAX_PATH] = "";
    ASSERT_GT(GetShortPathNameA(windows.c_str(), shortName, MAX_PATH), 0u);
    ASSERT_NE(std::string(shortName), windows) << "the Windows folder has an 8.3 name of its own";
    const struct
    {
        std::string data;
        std::wstring owner;
        const char* verdict;
    } rows[] = {
        { "%ProgramFiles%\\Velmora\\Vigilo+\\vmshell.dll", L"", "gone" },
        { "\"%PROGRAMFILES%\\Velmora\\Vigilo+\\agent.exe\" /automation", L"", "gone" },
        { "%ProgramData%\\Vigilo+\\x.dll", L"", "gone" },
        { "%ProgramFiles%\\Velmora\\SecureVPN\\vpnshell.dll", L"", "present" },
        { "%SystemRoot%\\system32\\oleaut32.dll", L"", "system" },
        { "%SYSTEMROOT%\\System32\\Velmora.dll", L"", "system" },
        { std::string(shortName) + "\\system32\\gone.dll", L"", "system" },
        { base + "Program Files\\..\\Windows Folder\\x.dll", L"", "system" },
        { "%LOCALAPPDATA%\\Velmora\\x.dll", L"", "untold" },
        { "%LOCALAPPDATA%\\Velmora\\x.dll", L"S-1-5-21-1-2-3-1001", "gone" },
        { "%LOCALAPPDATA%\\Velmora\\x.dll", L"S-1-5-21-9-9-9-1002", "untold" },
        { "%LOCALAPPDATA%\\Tool\\tool.dll", L"S-1-5-21-1-2-3-1001", "elsewhere" },
        { base + "Users\\anna.VELMORA\\Desktop\\x.dll", L"", "elsewhere" },
        { base + "Velmora\\x.dll", L"", "elsewhere" },
        { "%VMDIR%\\Velmora\\x.dll", L"", "untold" },
        { "vmshell.dll", L"", "untold" },
        { "\\\\server\\share\\Velmora\\x.dll", L"", "untold" },
    };
    for (const auto& row : rows)
        EXPECT_EQ(Verdict(row.data, row.owner), row.verdict) << row.data << " as " << kt::Utf8(row.owner);
    std::wstring expanded;
    EXPECT_TRUE(installation->Expand(L"%LocalAppData%\\x", L"S-1-5-21-1-2-3-1001", expanded));
    EXPECT_EQ(expanded, kt::Widen(base + "Users\\anna.VELMORA\\AppData\\Local\\x"));
    EXPECT_EQ(installation->OwnerOf(L"HKEY_USERS\\S-1-5-21-1-2-3-1001_Classes\\CLSID"), L"S-1-5-21-1-2-3-1001");
    EXPECT_EQ(installation->OwnerOf(L"HKEY_CLASSES_ROOT\\CLSID"), L"S-1-5-21-1-2-3-1001");
    EXPECT_EQ(installation->OwnerOf(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes"), L"");
}

TEST_F(EvidenceTest, TheDecisionsOfTheReferences)
{
    const std::wstring hkcr = L"HKEY_CLASSES_ROOT\\", pf = kt::Widen(base + "Program Files\\");
    auto clsid = [&](int n) { return hkcr + L"CLSID\\" + kt::Widen(Guid(n)); };
    auto server = [&](int n, const wchar_t* name, const std::wstring& data) {
        return Note(kServerKey, clsid(n), name, data);
    };
    auto uninstall = [](const std::wstring& entry, const wchar_t* name, const std::wstring& data) {
        return Note(kUninstallEntry, L"HKEY_LOCAL_MACHINE\\" + kt::Widen(kVersion) + L"Uninstall\\" + entry, name, data);
    };
    const std::vector<WalkNote> references = {
        server(1, L"InprocServer32", pf + L"Velmora\\Vigilo+\\vmshell.dll"),
        server(2, L"LocalServer32", L"\"" + pf + L"Velmora\\Vigilo+\\agent.exe\" /automation"),
        server(2, L"InprocHandler32", L"ole32.dll"),
        server(3, L"InprocServer32", pf + L"Velmora\\SecureVPN\\vpnshell.dll"),
        server(4, L"InprocServer32", pf + L"Velmora\\Vigilo+\\gone.dll"),
        server(4, L"LocalServer32", pf + L"Velmora\\SecureVPN\\vpnshell.dll"),
        server(5, L"InprocServer32", L"%SystemRoot%\\system32\\velmora.dll"),
        Note(kTypeLibFile, hkcr + L"TypeLib\\" + kt::Widen(Guid(6)), L"win64", pf + L"Vigilo+\\vm.tlb"),
        Note(kTypeLibFile, hkcr + L"TypeLib\\" + kt::Widen(Guid(6)), L"win32", pf + L"Vigilo+\\vm32.tlb"),
        Note(kProxyKey, hkcr + L"Interface\\" + kt::Widen(Guid(7)), L"ProxyStubClsid32", kt::Widen(Guid(1))),
        Note(kProxyKey, hkcr + L"Interface\\" + kt::Widen(Guid(8)), L"ProxyStubClsid32", kt::Widen(Guid(1))),
        Note(kProxyKey, hkcr + L"Interface\\" + kt::Widen(Guid(8)), L"ProxyStubClsid", kt::Widen(Guid(3))),
        Note(kUninstallEntry, L"HKEY_LOCAL_MACHINE\\" + kt::Widen(kVersion) + L"Uninstall\\A", L"DisplayName", L"Vigilo+ 9"),
        Note(kUninstallEntry, L"HKEY_LOCAL_MACHINE\\" + kt::Widen(kVersion) + L"Uninstall\\A", L"UninstallString",
          L"\"" + pf + L"Vigilo+\\uninstall.exe\" /remove"),
        Note(kUninstallEntry, L"HKEY_LOCAL_MACHINE\\" + kt::Widen(kVersion) + L"Uninstall\\B", L"Publisher", L"Velmora"),
        Note(kUninstallEntry, L"HKEY_LOCAL_MACHINE\\" + kt::Widen(kVersion) + L"Uninstall\\B", L"UninstallString",
          pf + L"Velmora\\SecureVPN\\vpnshell.dll"),
        Note(kUninstallEntry, L"HKEY_LOCAL_MACHINE\\" + kt::Widen(kVersion) + L"Uninstall\\C", L"DisplayName", L"Velmora Klarner 1.1.0"),
        Note(kUninstallEntry, L"HKEY_LOCAL_MACHINE\\" + kt::Widen(kVersion) + L"Uninstall\\C", L"UninstallString", pf + L"Gone\\u.exe"),
        Note(kUninstallEntry, L"HKEY_LOCAL_MACHINE\\" + kt::Widen(kVersion) + L"Uninstall\\D", L"Publisher", L"Velmora"),
        Note(kUninstallEntry, L"HKEY_LOCAL_MACHINE\\" + kt::Widen(kVersion) + L"Uninstall\\D", L"UninstallString",
          L"MsiExec.exe /X{6B1E2C3D-4F50-4A61-8B72-93A4B5C6D7FF}"),
        // No uninstaller at all: an orphan unless something still knows the product, and a part
        // of another entry follows its parent.
        uninstall(L"E", L"DisplayName", L"Vigilo+ Agent"),
        uninstall(L"F", L"Publisher", L"Velmora"),
        uninstall(L"F", L"InstallLocation", pf + L"Velmora\\SecureVPN"),
        uninstall(L"G", L"DisplayName", L"Vigilo+ Agent Update"),
        uninstall(L"G", L"ParentKeyName", L"E"),
        uninstall(L"H", L"DisplayName", L"Velmora VPN Update"),
        uninstall(L"H", L"ParentKeyName", L"B"),
        uninstall(L"I", L"DisplayName", L"Vigilo+ Runtime"),
        uninstall(L"I", L"SystemComponent", L"1"),
        uninstall(kt::Widen(Guid(30)), L"DisplayName", L"Vigilo+ Tools"),
    };
    const std::vector<std::wstring> keywords = { L"velmora", L"vigilo+" };
    const ReferenceContext context = { keywords, *installation, std::wstring() };
    std::vector<std::string> found;
    for (const ReferenceFinding& finding : FindByReference(references, context))
        found.push_back(kt::Utf8(finding.path.substr(finding.path.rfind(L'\\') + 1) + L"  " + Shown(finding.reason)));
    const std::string p = base + "Program Files\\";
    EXPECT_EQ(found, (std::vector<std::string>{
                         Guid(1) + "  InprocServer32 = " + p + "Velmora\\Vigilo+\\vmshell.dll, file missing",
                         Guid(2) + "  LocalServer32 = " + p + "Velmora\\Vigilo+\\agent.exe, file missing",
                         Guid(6) + "  win64 = " + p + "Vigilo+\\vm.tlb, file missing",
                         Guid(7) + "  ProxyStubClsid32 = " + Guid(1),
                         "A  DisplayName = Vigilo+ 9; UninstallString = " + p + "Vigilo+\\uninstall.exe, file missing",
                         "D  Publisher = Velmora; product {6B1E2C3D-4F50-4A61-8B72-93A4B5C6D7FF} unknown to Windows Installer",
                         "E  no uninstaller, product unknown to Windows Installer, InstallLocation gone",
                         "G  no uninstaller, product unknown to Windows Installer, InstallLocation gone",
                         Guid(30) + "  no uninstaller, product unknown to Windows Installer, InstallLocation gone" }));
}

// End to end: a seeded registry with true leftovers next to every look-alike that must stay.
class ReferencesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        kt::UseLanguage("en-us");
        keyword = kt::UniqueName("kltref");
        folder = "C:\\Program Files\\" + keyword + " Suite\\";
        report = kt::ScratchDir("references") + "report.txt";
        sid = "S-1-5-21-7-7-7-" + std::to_string(GetCurrentProcessId());
        profile = "C:\\users\\anna." + keyword;
        Seed();
    }
    void TearDown() override
    {
        for (int n = 1; n <= 14; ++n)
            for (const char* container : { "CLSID\\", "TypeLib\\", "Interface\\", "AppID\\" })
                kt::DeleteTree(HKEY_CURRENT_USER, kClasses + container + Guid(n));
        for (int n : { 16, 17, 18 })
            kt::DeleteTree(HKEY_CURRENT_USER, kVersion + "Uninstall\\" + Guid(n));
        kt::DeleteTree(HKEY_LOCAL_MACHINE, kProfileList + sid);
        kt::DeleteTree(HKEY_USERS, sid);
        kt::DeleteTree(HKEY_LOCAL_MACHINE, kClasses + "CLSID\\" + Guid(15));
        HKEY approved = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kApproved.c_str(), 0, KEY_SET_VALUE, &approved) == ERROR_SUCCESS) {
            for (int n : { 1, 3 })
                RegDeleteValueA(approved, Guid(n).c_str());
            RegCloseKey(approved);
        }
    }
    void Set(HKEY root, const std::string& key, const char* name, const std::string& text, DWORD type = REG_SZ)
    {
        ASSERT_EQ(RegSetKeyValueA(root, key.c_str(), name, type, text.c_str(), static_cast<DWORD>(text.size() + 1)),
                  ERROR_SUCCESS) << key;
    }
    void Server(int n, const char* name, const std::string& data, HKEY root = HKEY_CURRENT_USER,
                const std::string& classes = kClasses)
    {
        Set(root, classes + "CLSID\\" + Guid(n) + "\\" + name, nullptr, data, REG_EXPAND_SZ);
    }
    void Seed()
    {
        // True leftovers: two classes of the product (one with Windows' own handler), its type
        // library, an interface, an AppID only they name, its uninstall entry and an approval.
        Server(1, "InprocServer32", "%ProgramFiles%\\" + keyword + " Suite\\shell.dll");
        Set(HKEY_CURRENT_USER, kClasses + "CLSID\\" + Guid(1), "AppID", Guid(9));
        Server(2, "LocalServer32", "\"" + folder + "agent.exe\" /automation");
        Server(2, "InprocHandler32", "ole32.dll");
        Set(HKEY_CURRENT_USER, kClasses + "TypeLib\\" + Guid(5) + "\\1.0\\0\\win64", nullptr, folder + "shell.tlb");
        Set(HKEY_CURRENT_USER, kClasses + "Interface\\" + Guid(6) + "\\ProxyStubClsid32", nullptr, Guid(1));
        Set(HKEY_CURRENT_USER, kClasses + "AppID\\" + Guid(9), nullptr, keyword + " agent");
        Set(HKEY_CURRENT_USER, Entry('A'), "DisplayName", keyword + " Total Security 9.4");
        Set(HKEY_CURRENT_USER, Entry('A'), "UninstallString", "\"" + folder + "uninstall.exe\" /remove");
        Set(HKEY_CURRENT_USER, Entry('A'), "InstallLocation", folder);
        Set(HKEY_CURRENT_USER, kApproved, Guid(1).c_str(), "Context scan");
        // Look-alikes: another vendor's class that shares the product's second AppID, Windows' own
        // class, the maker's other product still installed (its server and uninstaller exist),
        // this program's own entry, a class in a profile folder named like the keyword.
        Server(3, "InprocServer32", "C:\\Program Files\\Arbor Systems\\sentry.dll");
        Set(HKEY_CURRENT_USER, kClasses + "CLSID\\" + Guid(3), "AppID", Guid(10));
        Server(13, "InprocServer32", folder + "scanner.dll");
        Set(HKEY_CURRENT_USER, kClasses + "CLSID\\" + Guid(13), "AppID", Guid(10));
        Set(HKEY_CURRENT_USER, kClasses + "AppID\\" + Guid(10), nullptr, "shared broker");
        Server(4, "InprocServer32", "%SystemRoot%\\system32\\shell32.dll");
        const std::string other = "C:\\Program Files\\" + keyword + "\\SecureVPN\\";
        MakeFile(other + "vpnshell.dll");
        MakeFile(other + "uninstall.exe");
        Server(7, "InprocServer32", other + "vpnshell.dll");
        Set(HKEY_CURRENT_USER, Entry('B'), "Publisher", keyword);
        Set(HKEY_CURRENT_USER, Entry('B'), "UninstallString", other + "uninstall.exe");
        Set(HKEY_CURRENT_USER, Entry('C'), "DisplayName", "Velmora Klarner 1.1.0 " + keyword);
        Set(HKEY_CURRENT_USER, Entry('C'), "UninstallString", folder + "klarner-uninstall.exe");
        Set(HKEY_LOCAL_MACHINE, kProfileList + sid, "ProfileImagePath", profile);
        Server(8, "InprocServer32", profile + "\\AppData\\Local\\Tool\\tool.dll");
        Set(HKEY_CURRENT_USER, kApproved, Guid(3).c_str(), "Sentry menu");
        // That user's own hive: %LOCALAPPDATA% is theirs, so this is a true leftover; in the
        // machine's hive the same text cannot be told.
        Server(14, "InprocServer32", "%LOCALAPPDATA%\\" + keyword + " Agent\\agent.dll", HKEY_USERS, sid + "\\" + kClasses);
        Server(15, "InprocServer32", "%LOCALAPPDATA%\\" + keyword + " Agent\\agent.dll", HKEY_LOCAL_MACHINE);
    }
    DWORD Run(const std::string& switches, std::string* output = nullptr, const std::string& keywords = "")
    {
        return kt::Run("\"" + kt::EnglishProgram() + "\" \"/silent=" + report + "\" /keywords=" +
                           (keywords.empty() ? keyword : keywords) + " " + switches, output);
    }
    bool Exists(const std::string& key) { return kt::KeyExists(HKEY_CURRENT_USER, key); }
    // Uninstall entries A (the product's), B (the maker's other product) and C (this program's).
    static std::string Entry(char which) { return kVersion + "Uninstall\\" + Guid(16 + which - 'A'); }
    // The findings by reference of a /json=- run: kind and path.
    std::vector<std::string> ByReference(const std::string& output)
    {
        const nlohmann::json record = nlohmann::json::parse(output.substr(0, output.rfind("Velmora Klarner:")));
        std::vector<std::string> found;
        for (const auto& finding : record["findings"])
            if (finding.contains("reason") && finding["status"] == "listed")
                found.push_back(finding["kind"].get<std::string>() + " " + finding["path"].get<std::string>());
        return found;
    }

    std::string keyword, folder, report, sid, profile;
};

TEST_F(ReferencesTest, OnlyTrueLeftoversAreFoundRemovedExactlyAndBroughtBack)
{
    // Without /refs an unattended run stays as it was: nothing here has the keyword in its name.
    EXPECT_EQ(Run("/hkey=HKCU"), 0u);

    const std::string user = "HKEY_CURRENT_USER\\";
    const std::string lines =
        user + kClasses + "CLSID\\" + Guid(1) + "  (InprocServer32 = " + folder + "shell.dll, file missing)\r\n" +
        user + kClasses + "CLSID\\" + Guid(2) + "  (LocalServer32 = " + folder + "agent.exe, file missing)\r\n" +
        user + kClasses + "CLSID\\" + Guid(13) + "  (InprocServer32 = " + folder + "scanner.dll, file missing)\r\n" +
        user + kClasses + "TypeLib\\" + Guid(5) + "  (win64 = " + folder + "shell.tlb, file missing)\r\n" +
        user + kClasses + "Interface\\" + Guid(6) + "  (ProxyStubClsid32 = " + Guid(1) + ")\r\n" +
        user + kClasses + "AppID\\" + Guid(9) + "  (AppID of class " + Guid(1) + ")\r\n" +
        user + Entry('A') + "  (DisplayName = " + keyword + " Total Security 9.4; UninstallString = " +
        folder + "uninstall.exe, file missing)\r\n" +
        user + kApproved + "\\" + Guid(1) + "  (approved class: InprocServer32 = " + folder + "shell.dll, file missing)\r\n";
    std::string output;
    EXPECT_EQ(Run("/hkey=HKCU /refs /json=-", &output), 1u);
    EXPECT_NE(kt::ReadFileBytes(report).find("\r\n\r\n" + lines + "\r\nResults:"), std::string::npos) << kt::ReadFileBytes(report);
    const nlohmann::json record = nlohmann::json::parse(output.substr(0, output.rfind("Velmora Klarner:")));
    ASSERT_EQ(record["findings"].size(), 8u);
    EXPECT_EQ(record["findings"][0]["reason"], "InprocServer32 = " + folder + "shell.dll, file missing");
    EXPECT_EQ(record["findings"][0]["kind"], "class");

    // The hive's owner expands its own %LOCALAPPDATA%; the machine's hive cannot tell it.
    output.clear();
    EXPECT_EQ(Run("/hkey=HKU /refs /json=-", &output), 1u);
    const std::vector<std::string> users = ByReference(output);
    EXPECT_NE(std::find(users.begin(), users.end(), "class HKEY_USERS\\" + sid + "\\" + kClasses + "CLSID\\" + Guid(14)),
              users.end());
    EXPECT_NE(kt::ReadFileBytes(report).find("(InprocServer32 = " + profile + "\\AppData\\Local\\" + keyword + " Agent\\agent.dll, file missing)"),
              std::string::npos);
    output.clear();
    EXPECT_EQ(Run("/hkey=HKLM /refs /json=-", &output), 0u);
    EXPECT_TRUE(ByReference(output).empty());

    const auto held = [&] {
        return kt::TreeText(HKEY_CURRENT_USER, kClasses) + kt::TreeText(HKEY_CURRENT_USER, kVersion + "Uninstall") +
               kt::TreeText(HKEY_CURRENT_USER, kApproved);
    };
    const std::string before = held();
    EXPECT_EQ(Run("/hkey=HKCU /refs /del"), 0u);
    for (const std::string& gone : { kClasses + "CLSID\\" + Guid(1), kClasses + "CLSID\\" + Guid(2), kClasses + "TypeLib\\" + Guid(5),
                                     kClasses + "Interface\\" + Guid(6), kClasses + "AppID\\" + Guid(9),
                                     Entry('A') })
        EXPECT_FALSE(Exists(gone)) << gone;
    for (int n : { 3, 4, 7, 8 })
        EXPECT_TRUE(Exists(kClasses + "CLSID\\" + Guid(n))) << Guid(n) << " still works or is not the product's";
    EXPECT_TRUE(Exists(kClasses + "AppID\\" + Guid(10))) << "another vendor's class still names it";
    EXPECT_TRUE(Exists(Entry('B'))) << "the maker's other product is installed";
    EXPECT_TRUE(Exists(Entry('C'))) << "this program's own entry";
    EXPECT_FALSE(kt::ValueExists(HKEY_CURRENT_USER, kApproved, Guid(1).c_str())) << "the approval value goes";
    EXPECT_TRUE(kt::ValueExists(HKEY_CURRENT_USER, kApproved, Guid(3).c_str())) << "alone: its key and others stay";

    const std::vector<std::string> backups = kt::BackupsOf(report);
    ASSERT_EQ(backups.size(), 1u);
    // Given back by the kinds, byte for byte; and the backup is a file the registry tool takes.
    output.clear();
    EXPECT_EQ(kt::Run("\"" + kt::EnglishProgram() + "\" \"/silent=" + report + "\" \"/restore=" + backups[0] + "\" /json=-", &output),
              0u);
    const nlohmann::json restored = nlohmann::json::parse(output.substr(0, output.rfind("Velmora Klarner:")));
    EXPECT_EQ(restored["findings"].size(), 8u) << restored.dump(1);
    for (const auto& finding : restored["findings"])
        EXPECT_EQ(finding["status"], "restored") << finding.dump();
    EXPECT_EQ(held(), before);
    EXPECT_EQ(kt::Run("reg.exe import \"" + backups[0] + "\""), 0u);
    EXPECT_TRUE(Exists(kClasses + "CLSID\\" + Guid(1) + "\\InprocServer32"));
    EXPECT_TRUE(Exists(kClasses + "TypeLib\\" + Guid(5) + "\\1.0\\0\\win64"));
    EXPECT_TRUE(Exists(Entry('A')));
    EXPECT_TRUE(kt::ValueExists(HKEY_CURRENT_USER, kApproved, Guid(1).c_str()));
    EXPECT_EQ(Run("/hkey=HKCU /refs"), 1u) << "everything is found again";
}

TEST_F(ReferencesTest, AKeywordOfWindowsOwnTakesNothingByReference)
{
    // Every class of the machine has its server in the Windows folder, or a file that is there.
    std::string output;
    Run("/hkey=HKLM /refs /json=-", &output, "system32,windows,dll,program files");
    EXPECT_TRUE(ByReference(output).empty()) << output.substr(0, 2000);
    output.clear();
    Run("/hkey=HKCR /refs /json=-", &output, "system32,windows,dll,program files");
    EXPECT_TRUE(ByReference(output).empty()) << output.substr(0, 2000);
}

}  // namespace
