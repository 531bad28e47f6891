// Report file: banner bytes, appending, line endings, missing folders, share mode and the
// date and time placeholders of report paths.
#include <gtest/gtest.h>
#include "TestSupport.h"
#include "../report/ReportLog.h"
#include "../engine/search/Said.h"
#include "../resources/resource.h"
#include <regex>

namespace {

class ReportTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        kt::UseLanguage("en-us");
        dir = kt::ScratchDir("report");
    }
    std::string dir;
};

TEST_F(ReportTest, BannerBytes)
{
    std::string path = dir + "banner.txt";
    HANDLE report = OpenReport(path.c_str());
    ASSERT_NE(report, INVALID_HANDLE_VALUE);
    CString before = FormatReportDate();
    WriteReportBanner(report);
    CString after = FormatReportDate();
    CloseReport(report);
    std::string text = kt::ReadFileBytes(path);
    const std::string rule(38, '#');
    std::regex banner("\r\n" + rule + "\r\n\r\n\tVelmora Klarner\r\n\t(\\d\\d)\\.(\\d\\d)\\.(\\d{4})\t(\\d\\d):(\\d\\d):(\\d\\d)\r\n\r\n" +
                      rule + "\r\n\r\n\r\n");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, banner)) << text;
    std::string date = m[1].str() + "." + m[2].str() + "." + m[3].str();
    EXPECT_TRUE(date == std::string(before) || date == std::string(after)) << date;
    EXPECT_LE(std::stoi(m[4].str()), 23);
    EXPECT_LE(std::stoi(m[5].str()), 59);
}

TEST_F(ReportTest, OpeningAnExistingReportAppends)
{
    std::string path = dir + "append.txt";
    ASSERT_TRUE(kt::WriteFileBytes(path, "earlier run\r\nlast byte"));
    HANDLE report = OpenReport(path.c_str());
    ASSERT_NE(report, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(WriteReportLine("next", report));
    CloseReport(report);
    EXPECT_EQ(kt::ReadFileBytes(path), "earlier run\r\nlast bytenext\r\n");
}

TEST_F(ReportTest, EmptyLineIsExactlyCrLf)
{
    std::string path = dir + "empty.txt";
    HANDLE report = OpenReport(path.c_str());
    EXPECT_TRUE(WriteReportLine("", report));
    CloseReport(report);
    EXPECT_EQ(kt::ReadFileBytes(path), "\r\n");
}

TEST_F(ReportTest, MissingFolderIsNotCreated)
{
    std::string folder = dir + "absent";
    HANDLE report = OpenReport((folder + "\\r.txt").c_str());
    EXPECT_EQ(report, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(kt::FileExists(folder));
    EXPECT_FALSE(WriteReportLine("lost", INVALID_HANDLE_VALUE));
}

TEST_F(ReportTest, OthersMayWriteButNotReadWhileItIsOpen)
{
    std::string path = dir + "shared.txt";
    HANDLE report = OpenReport(path.c_str());
    ASSERT_NE(report, INVALID_HANDLE_VALUE);
    HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(reader, INVALID_HANDLE_VALUE);
    HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE)
        CloseHandle(writer);
    if (reader != INVALID_HANDLE_VALUE)
        CloseHandle(reader);
    CloseReport(report);
}

TEST_F(ReportTest, DateAndTimeTexts)
{
    std::string date = FormatReportDate().GetString();
    std::string time = FormatReportTime().GetString();
    EXPECT_TRUE(std::regex_match(date, std::regex("\\d\\d\\.\\d\\d\\.\\d{4}"))) << date;
    EXPECT_TRUE(std::regex_match(time, std::regex("\\d\\d\\.\\d\\d\\.\\d\\d"))) << time;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char expected[16];
    snprintf(expected, sizeof expected, "%04u", now.wYear);
    EXPECT_EQ(date.substr(6), expected);
}

TEST_F(ReportTest, PlaceholdersAreReplacedEverywhere)
{
    CString path = "C:\\logs\\[DATE]\\run-[DATE]-[TIME].txt";
    CString date = FormatReportDate();
    ExpandReportPath(path);
    std::string text = path.GetString();
    std::string d = date.GetString();
    EXPECT_EQ(text.substr(0, 8 + d.size()), "C:\\logs\\" + d);
    EXPECT_TRUE(std::regex_match(text, std::regex("C:\\\\logs\\\\" + d + "\\\\run-" + d + "-\\d\\d\\.\\d\\d\\.\\d\\d\\.txt")))
        << text;
}

TEST_F(ReportTest, BothLanguagesPlaceholdersWhicheverLibraryIsLoaded)
{
    // A fleet's script is written once; the machines have either library.
    for (const char* language : { "en-us", "de-de" }) {
        kt::UseLanguage(language);
        CString path = "C:\\logs\\[DATE]-[DATUM]-[TIME]-[ZEIT].txt";
        ExpandReportPath(path);
        EXPECT_EQ(std::string(path).find('['), std::string::npos) << language << ": " << path.GetString();
    }
}

TEST_F(ReportTest, PlainPathIsUnchangedAndEmptyPathIsTheDefault)
{
    CString plain = "C:\\logs\\run.txt";
    ExpandReportPath(plain);
    EXPECT_STREQ(plain, "C:\\logs\\run.txt");

    CString empty;
    ExpandReportPath(empty);
    EXPECT_EQ(std::string(empty), "C:\\Klarner-Report-" + std::string(FormatReportDate()) + ".txt");
}

TEST_F(ReportTest, DefaultPathLiesInAFolderThatExists)
{
    for (const char* language : { "en-us", "de-de" }) {
        kt::UseLanguage(language);
        CString path;
        ExpandReportPath(path);
        std::string text = path.GetString();
        std::string folder = text.substr(0, text.find_last_of('\\') + 1);
        EXPECT_TRUE(kt::FileExists(folder)) << text;
        EXPECT_EQ(text.find('['), std::string::npos) << text;
    }
}

}  // namespace

// A text held as its id and parts: shown in the library's language, nested texts too, in English
// for the record, and a name that carries the marks shown as a name.
TEST(SaidTexts, ShownInTheLibrarysLanguageNestedAndNeverForgedByAName)
{
    const std::wstring reason =
        Said(IDS_REASON_CRITICAL, { Nested(Said(IDS_REASON_FILE_MISSING, { L"ImagePath", L"C:\\x\\drv.sys" })) });
    const std::wstring kept = Said(IDS_NOTE_KEPT, { L"C:\\x", Nested(Said(IDS_WHY_CLAIMED, { Nested(Said(IDS_CLAIM_TASK, { L"\\T" })) })) });
    kt::UseLanguage("de-de");
    EXPECT_EQ(Shown(reason), L"ImagePath = C:\\x\\drv.sys, Datei fehlt, kritisch: ein Boot- oder Systemstarttreiber, dessen Ausfall Windows anh\u00e4lt");
    EXPECT_EQ(Shown(kept), L"behalten C:\\x: Aufgabe \\T nennt sie");
    kt::UseLanguage("en-us");
    EXPECT_EQ(Shown(kept), L"kept C:\\x: task \\T names it");
    // A key named with the marks is a name, never one of the program's texts.
    const std::wstring forged = std::wstring(1, L'\xE000') + L"620" + L'\xE001' + L"a";
    EXPECT_EQ(Shown(Said(IDS_REASON_APPID, { forged })).find(L"kept"), std::wstring::npos);
    EXPECT_EQ(Shown(L"plain text"), L"plain text");
}
