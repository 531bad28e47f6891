// Leftovers by reference, end to end with klarner.exe on the real registry of the test prefix:
// class registrations, a type library, an interface, an AppID, an uninstall entry and an approval
// that name the product only in their data; found with their reasons under /refs, removed
// exactly, and brought back by the backup.
#include <gtest/gtest.h>
#include "TestSupport.h"
#include "../engine/References.h"
#include <nlohmann/json.hpp>
#include <algorithm>

namespace {

const std::string kClasses = "Software\\Classes\\";
const std::string kVersion = "Software\\Microsoft\\Windows\\CurrentVersion\\";
const std::string kApproved = kVersion + "Shell Extensions\\Approved";
const std::string kOurs = "{6B1E2C3D-4F50-4A61-8B72-93A4B5C6D701}", kAgent = "{6B1E2C3D-4F50-4A61-8B72-93A4B5C6D702}",
                  kForeign = "{6B1E2C3D-4F50-4A61-8B72-93A4B5C6D703}", kWindows = "{6B1E2C3D-4F50-4A61-8B72-93A4B5C6D704}",
                  kLibrary = "{6B1E2C3D-4F50-4A61-8B72-93A4B5C6D705}", kProxied = "{6B1E2C3D-4F50-4A61-8B72-93A4B5C6D706}",
                  kApp = "{6B1E2C3D-4F50-4A61-8B72-93A4B5C6D707}", kEntry = "{6B1E2C3D-4F50-4A61-8B72-93A4B5C6D708}";

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

class ReferencesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        kt::UseLanguage("en-us");
        keyword = kt::UniqueName("kltref");
        folder = "C:\\Program Files\\" + keyword + " Suite\\";
        report = kt::ScratchDir("references") + "report.txt";
        Seed();
    }
    void TearDown() override
    {
        for (const std::string& key : { kClasses + "CLSID\\" + kOurs, kClasses + "CLSID\\" + kAgent,
                                        kClasses + "CLSID\\" + kForeign, kClasses + "CLSID\\" + kWindows,
                                        kClasses + "TypeLib\\" + kLibrary, kClasses + "Interface\\" + kProxied,
                                        kClasses + "AppID\\" + kApp, kVersion + "Uninstall\\" + kEntry })
            kt::DeleteTree(HKEY_CURRENT_USER, key);
        HKEY approved = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kApproved.c_str(), 0, KEY_SET_VALUE, &approved) == ERROR_SUCCESS) {
            RegDeleteValueA(approved, kOurs.c_str());
            RegDeleteValueA(approved, kForeign.c_str());
            RegCloseKey(approved);
        }
    }
    void Set(const std::string& key, const char* name, DWORD type, const std::string& text)
    {
        ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), name, type, text.c_str(), static_cast<DWORD>(text.size() + 1)),
                  ERROR_SUCCESS) << key;
    }
    void Seed()
    {
        const std::string clsid = kClasses + "CLSID\\";
        Set(clsid + kOurs + "\\InprocServer32", nullptr, REG_EXPAND_SZ, "%ProgramFiles%\\" + keyword + " Suite\\shell.dll");
        Set(clsid + kOurs, "AppID", REG_SZ, kApp);
        Set(clsid + kAgent + "\\LocalServer32", nullptr, REG_SZ, "\"" + folder + "agent.exe\" /automation");
        Set(clsid + kForeign + "\\InprocServer32", nullptr, REG_SZ, "C:\\Program Files\\Arbor Systems\\sentry.dll");
        Set(clsid + kWindows + "\\InprocServer32", nullptr, REG_EXPAND_SZ, "%SystemRoot%\\system32\\shell32.dll");
        Set(kClasses + "TypeLib\\" + kLibrary + "\\1.0\\0\\win64", nullptr, REG_SZ, folder + "shell.tlb");
        Set(kClasses + "TypeLib\\" + kLibrary + "\\1.0\\FLAGS", nullptr, REG_SZ, "0");
        Set(kClasses + "Interface\\" + kProxied + "\\ProxyStubClsid32", nullptr, REG_SZ, kOurs);
        Set(kClasses + "AppID\\" + kApp, nullptr, REG_SZ, keyword + " agent");
        Set(kVersion + "Uninstall\\" + kEntry, "DisplayName", REG_SZ, keyword + " Total Security 9.4");
        Set(kVersion + "Uninstall\\" + kEntry, "Publisher", REG_SZ, "Velmora");
        Set(kApproved, kOurs.c_str(), REG_SZ, "Context scan");
        Set(kApproved, kForeign.c_str(), REG_SZ, "Sentry menu");
    }
    DWORD Run(const std::string& switches, std::string* output = nullptr)
    {
        return kt::Run("\"" + kt::EnglishProgram() + "\" \"/silent=" + report + "\" /keywords=" + keyword + " /hkey=HKCU " +
                           switches, output);
    }
    bool Exists(const std::string& key) { return kt::KeyExists(HKEY_CURRENT_USER, key); }

    std::string keyword, folder, report;
};

TEST_F(ReferencesTest, FoundWithTheirReasonsRemovedExactlyAndBroughtBack)
{
    // Without /refs an unattended run stays as it was: nothing here has the keyword in its name.
    EXPECT_EQ(Run(""), 0u);

    const std::string user = "HKEY_CURRENT_USER\\";
    const std::string lines = user + kClasses + "CLSID\\" + kOurs + "  (InprocServer32 = " + folder + "shell.dll)\r\n" +
                              user + kClasses + "CLSID\\" + kAgent + "  (LocalServer32 = " + folder + "agent.exe)\r\n" +
                              user + kClasses + "TypeLib\\" + kLibrary + "  (win64 = " + folder + "shell.tlb)\r\n" +
                              user + kClasses + "Interface\\" + kProxied + "  (ProxyStubClsid32 = " + kOurs + ")\r\n" +
                              user + kClasses + "AppID\\" + kApp + "  (AppID of class " + kOurs + ")\r\n" +
                              user + kVersion + "Uninstall\\" + kEntry + "  (DisplayName = " + keyword + " Total Security 9.4)\r\n" +
                              user + kApproved + "\\" + kOurs + "  (approved class: InprocServer32 = " + folder + "shell.dll)\r\n";
    std::string output;
    EXPECT_EQ(Run("/refs /json=-", &output), 1u);
    EXPECT_NE(kt::ReadFileBytes(report).find("\r\n\r\n" + lines + "\r\nResults:"), std::string::npos) << kt::ReadFileBytes(report);
    const nlohmann::json record = nlohmann::json::parse(output.substr(0, output.rfind("Velmora Klarner:")));
    std::vector<std::string> kinds;
    for (const auto& finding : record["findings"])
        kinds.push_back(finding["kind"].get<std::string>() + " " + finding["keyword"].get<std::string>());
    EXPECT_EQ(kinds, (std::vector<std::string>{ "class " + keyword, "class " + keyword, "typeLibrary " + keyword,
                                                "interface " + keyword, "appId " + keyword, "uninstallEntry " + keyword,
                                                "approval " + keyword }));
    EXPECT_EQ(record["findings"][0]["reason"], "InprocServer32 = " + folder + "shell.dll");

    EXPECT_EQ(Run("/refs /del"), 0u);
    for (const std::string& gone : { kClasses + "CLSID\\" + kOurs, kClasses + "CLSID\\" + kAgent, kClasses + "TypeLib\\" + kLibrary,
                                     kClasses + "Interface\\" + kProxied, kClasses + "AppID\\" + kApp,
                                     kVersion + "Uninstall\\" + kEntry })
        EXPECT_FALSE(Exists(gone)) << gone;
    EXPECT_TRUE(Exists(kClasses + "CLSID\\" + kForeign)) << "another vendor's class stays";
    EXPECT_TRUE(Exists(kClasses + "CLSID\\" + kWindows)) << "Windows' own class stays";
    EXPECT_FALSE(kt::ValueExists(HKEY_CURRENT_USER, kApproved, kOurs.c_str())) << "the approval value goes";
    EXPECT_TRUE(kt::ValueExists(HKEY_CURRENT_USER, kApproved, kForeign.c_str())) << "alone: its key and others stay";

    const std::vector<std::string> backups = kt::BackupsOf(report);
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(kt::Run("reg.exe import \"" + backups[0] + "\""), 0u);
    EXPECT_TRUE(Exists(kClasses + "CLSID\\" + kOurs + "\\InprocServer32"));
    EXPECT_TRUE(Exists(kClasses + "TypeLib\\" + kLibrary + "\\1.0\\0\\win64"));
    EXPECT_TRUE(Exists(kVersion + "Uninstall\\" + kEntry));
    EXPECT_TRUE(kt::ValueExists(HKEY_CURRENT_USER, kApproved, kOurs.c_str()));
    EXPECT_EQ(Run("/refs"), 1u) << "everything is found again";
}

}  // namespace
