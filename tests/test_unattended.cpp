// The unattended run end to end: klarner.exe itself with /silent, /keywords, /hkey and
// /del on a seeded registry; the report section byte for byte and the registry afterwards.
#include <gtest/gtest.h>
#include "TestSupport.h"
#include "../engine/Constants.h"
#include "../report/ReportLog.h"
#include <algorithm>
#include <regex>

namespace {

const std::string kRule(38, '#');
const char kBannerPattern[] = "\r\n######################################\r\n\r\n\tVelmora Klarner\r\n\t\\d\\d\\.\\d\\d\\.\\d{4}\t"
                              "\\d\\d:\\d\\d:\\d\\d\r\n\r\n######################################\r\n\r\n\r\n";

// An English-only installation, so that the report's texts are known.
std::string EnglishProgram()
{
    static std::string dir;
    if (dir.empty()) {
        dir = kt::ScratchDir("english");
        kt::StageProgram(dir, { "en-us" });
    }
    return dir + "klarner.exe";
}

// The report after its banner, which must be the whole first part.
std::string AfterBanner(const std::string& report)
{
    std::smatch m;
    std::regex banner(kBannerPattern);
    if (!std::regex_search(report, m, banner) || m.position(0) != 0)
        return "<no banner at the start>" + report;
    return m.suffix().str();
}

// Registry export as sections "[key]" + values, ASCII only (the export is UTF-16LE).
std::vector<std::string> Snapshot(const char* root)
{
    std::string file = kt::ScratchDir("snapshot") + "export.reg";
    kt::Run("regedit.exe /E \"" + file + "\" " + root);
    std::string wide = kt::ReadFileBytes(file), text;
    for (size_t i = 2; i + 1 < wide.size(); i += 2)
        text += wide[i];
    std::vector<std::string> sections;
    size_t at = 0;
    while ((at = text.find("\r\n[", at)) != std::string::npos) {
        size_t end = text.find("\r\n\r\n", at + 2);
        sections.push_back(text.substr(at + 2, end == std::string::npos ? std::string::npos : end - at - 2));
        at += 2;
    }
    return sections;
}

class UnattendedTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        base = "Software\\" + kt::UniqueName("kltrun");
        keyword = kt::UniqueName("kw");
        report = kt::ScratchDir("unattended") + "report.txt";
        ASSERT_TRUE(kt::CreateKey(HKEY_CURRENT_USER, base));
    }
    void TearDown() override { kt::DeleteTree(HKEY_CURRENT_USER, base); }

    void Seed()
    {
        Make(keyword + "One\\Sub\\Deeper");
        kt::SetStringValue(HKEY_CURRENT_USER, Below(keyword + "One\\Sub"), "path", "C:\\vm");
        Make("Vendor\\" + keyword + "Two");
        Make(keyword + "Lock\\Mid\\Denied");
        ASSERT_TRUE(kt::DenyRead(HKEY_CURRENT_USER, Below(keyword + "Lock\\Mid\\Denied")));
        Make("Legacy\\" + keyword + "Old");
        Make("Unrelated\\Keep");
    }
    std::string Below(const std::string& below) { return base + "\\" + below; }
    std::string Full(const std::string& below) { return "HKEY_CURRENT_USER\\" + Below(below); }
    void Make(const std::string& below) { ASSERT_TRUE(kt::CreateKey(HKEY_CURRENT_USER, Below(below))); }
    DWORD RunProgram(const std::string& arguments)
    {
        return kt::Run("\"" + EnglishProgram() + "\" \"/silent=" + report + "\" " + arguments);
    }
    // The three findings of Seed(), in the search's order (enumeration order of the registry).
    std::vector<std::string> Findings(const std::string& reportText)
    {
        std::vector<std::string> found;
        std::string marker = "HKEY_CURRENT_USER\\" + base + "\\";
        size_t at = 0;
        while ((at = reportText.find(marker, at)) != std::string::npos) {
            size_t end = reportText.find("\r\n", at);
            found.push_back(reportText.substr(at, end - at));
            at = end;
        }
        return found;
    }

    std::string base, keyword, report;
};

TEST_F(UnattendedTest, SearchListsFindingsAndRemovesNothing)
{
    Seed();
    EXPECT_EQ(RunProgram("/keywords=" + keyword + ",ZZQnone /hkey=HKEY_CURRENT_USER"), 0u);
    std::string text = AfterBanner(kt::ReadFileBytes(report));
    std::vector<std::string> findings = Findings(text);
    std::vector<std::string> sorted = findings;
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::string> expected = { Full(keyword + "Lock"), Full(keyword + "One"), Full("Vendor\\" + keyword + "Two") };
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(sorted, expected);
    std::string body = "Search terms:\r\n" + keyword + ",zzqnone\r\n\r\n\r\nCould not open key: Denied\r\n\r\n\r\n";
    for (const std::string& f : findings)
        body += f + "\r\n";
    body += "\r\nResults:\r\n\r\n";
    EXPECT_EQ(text, body);
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, Below(keyword + "One\\Sub\\Deeper")));
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, Below("Vendor\\" + keyword + "Two")));
}

TEST_F(UnattendedTest, DelRemovesEveryFindingAndNothingElse)
{
    Seed();
    std::vector<std::string> before = Snapshot("HKEY_CURRENT_USER");
    ASSERT_GT(before.size(), 10u);
    EXPECT_EQ(RunProgram("/keywords=" + keyword + " /hkey=HKEY_CURRENT_USER /del"), 0u);
    std::vector<std::string> after = Snapshot("HKEY_CURRENT_USER");

    std::string text = AfterBanner(kt::ReadFileBytes(report));
    size_t results = text.find("\r\nResults:\r\n\r\n");
    ASSERT_NE(results, std::string::npos) << text;
    std::vector<std::string> listed = Findings(text.substr(0, results));
    ASSERT_EQ(listed.size(), 3u);
    std::string removal;
    for (const std::string& f : listed)
        removal += f + (f == Full(keyword + "Lock") ? " - could not be removed" : "") + "\r\n";
    EXPECT_EQ(text.substr(results + 14), removal);

    EXPECT_FALSE(kt::KeyExists(HKEY_CURRENT_USER, Below(keyword + "One")));
    EXPECT_FALSE(kt::KeyExists(HKEY_CURRENT_USER, Below("Vendor\\" + keyword + "Two")));
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, Below("Vendor")));
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, Below(keyword + "Lock\\Mid")));
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, Below("Legacy\\" + keyword + "Old")));

    // Everything else is exactly as before: the snapshot less the two removed trees.
    std::vector<std::string> expected;
    for (const std::string& section : before) {
        bool removed = false;
        for (const std::string& gone : { Full(keyword + "One"), Full("Vendor\\" + keyword + "Two") })
            if (section.compare(0, gone.size() + 2, "[" + gone + "]") == 0 ||
                section.compare(0, gone.size() + 2, "[" + gone + "\\") == 0)
                removed = true;
        if (!removed)
            expected.push_back(section);
    }
    EXPECT_EQ(after.size(), expected.size());
    EXPECT_TRUE(after == expected);
}

TEST_F(UnattendedTest, NoFindingsEndsAfterTheResultsHeading)
{
    EXPECT_EQ(RunProgram("/keywords=" + keyword + "nothing /hkey=HKEY_CURRENT_USER /del"), 0u);
    EXPECT_EQ(AfterBanner(kt::ReadFileBytes(report)),
              "Search terms:\r\n" + keyword + "nothing\r\n\r\n\r\n\r\n\r\n\r\nResults:\r\n\r\n");
}

TEST_F(UnattendedTest, UnopenableReportShowsOneMessageAndTheRunGoesOn)
{
    Make(keyword + "Stays");
    kt::UseLanguage("en-us");
    CString message;
    message.LoadString(108);
    std::string missing = kt::ScratchDir("nofolder") + "absent\\r.txt";
    kt::Process process = kt::Start("\"" + EnglishProgram() + "\" \"/silent=" + missing + "\" /keywords=" + keyword +
                                    " /hkey=HKEY_CURRENT_USER /del");
    kt::MessageBoxInfo box = kt::WaitForMessageBox(process.id, 20000);
    ASSERT_TRUE(box.hwnd);
    EXPECT_EQ(box.text, std::string(message));
    kt::PressButton(box.hwnd, IDOK);
    EXPECT_EQ(process.Wait(30000), 0u);
    EXPECT_FALSE(kt::KeyExists(HKEY_CURRENT_USER, Below(keyword + "Stays"))) << "the run goes on without a report";
    EXPECT_FALSE(kt::FileExists(missing));
    process.Close();
}

TEST(UnattendedDefaults, OnlySilentSearchesTheMachineWithTheDefaultsAndNeverTheRunValue)
{
    // Started as built: German first. An invalid /hkey means HKEY_LOCAL_MACHINE.
    std::string base = "Software\\" + kt::UniqueName("kltdefault");
    std::string product = base + "\\Velmora Vigilo+ Suite";
    ASSERT_TRUE(kt::CreateKey(HKEY_LOCAL_MACHINE, product));
    ASSERT_TRUE(kt::SetStringValue(HKEY_LOCAL_MACHINE, kRunKeyPath, "vmtray", "C:\\vm\\vmtray.exe"));
    kt::UseLanguage("de-de");
    std::string reportPath = "C:\\Klarner-Bericht-" + std::string(FormatReportDate()) + ".txt";
    DeleteFileA(reportPath.c_str());

    EXPECT_EQ(kt::Run("\"" + kt::KlarnerExe() + "\" /silent /hkey=HKLM", nullptr, 600000), 0u);
    std::string text = AfterBanner(kt::ReadFileBytes(reportPath));
    EXPECT_EQ(text.rfind("Suchbegriffe:\r\n" + std::string(kDefaultKeywords) + "\r\n\r\n\r\n", 0), 0u) << text;
    EXPECT_NE(text.find("\r\nHKEY_LOCAL_MACHINE\\" + product + "\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("currentversion\\run\\vmtray"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 17), "\r\nErgebnisse:\r\n\r\n");
    EXPECT_TRUE(kt::KeyExists(HKEY_LOCAL_MACHINE, product)) << "nothing is removed without /del";
    EXPECT_TRUE(kt::ValueExists(HKEY_LOCAL_MACHINE, kRunKeyPath, "vmtray"));

    HKEY run = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKeyPath, 0, KEY_SET_VALUE, &run) == ERROR_SUCCESS) {
        RegDeleteValueA(run, "vmtray");
        RegCloseKey(run);
    }
    kt::DeleteTree(HKEY_LOCAL_MACHINE, base);
    DeleteFileA(reportPath.c_str());
}

}  // namespace
