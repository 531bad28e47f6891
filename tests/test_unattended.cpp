// The unattended run end to end: klarner.exe itself with /silent, /keywords, /hkey and
// /del on a seeded registry; the report section byte for byte, the registry and the backup
// afterwards, the exit code of every outcome, and never a window.
#include <gtest/gtest.h>
#include "TestSupport.h"
#include "../resources/resource.h"
#include "../app/AppConstants.h"
#include "../app/RunRecord.h"
#include "../engine/registry/Constants.h"
#include "../report/ReportLog.h"
#include <nlohmann/json.hpp>
#include <algorithm>
#include <map>
#include <regex>

namespace {

const std::string kRule(38, '#');
using Json = nlohmann::json;

// The last line of a program's standard output, and all before it.
std::string LastLine(const std::string& output, std::string* before = nullptr)
{
    std::string text = output;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    const size_t start = text.find_last_of('\n');
    if (before)
        *before = start == std::string::npos ? std::string() : text.substr(0, start + 1);
    return start == std::string::npos ? text : text.substr(start + 1);
}

std::string FullPathOf(const std::string& path)
{
    char full[MAX_PATH * 2] = "";
    GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return full;
}

// The statuses of a record's findings, by path.
std::map<std::string, std::string> Statuses(const Json& record)
{
    std::map<std::string, std::string> statuses;
    for (const Json& finding : record["findings"])
        statuses[finding["path"].get<std::string>()] = finding["status"].get<std::string>();
    return statuses;
}
const char kBannerPattern[] = "\r\n######################################\r\n\r\n\tVelmora Klarner\r\n\t\\d\\d\\.\\d\\d\\.\\d{4}\t"
                              "\\d\\d:\\d\\d:\\d\\d\r\n\r\n######################################\r\n\r\n\r\n";

using kt::EnglishProgram;

// The report after its banner, which must be the whole first part.
std::string AfterBanner(const std::string& report)
{
    std::smatch m;
    std::regex banner(kBannerPattern);
    if (!std::regex_search(report, m, banner) || m.position(0) != 0)
        return "<no banner at the start>" + report;
    return m.suffix().str();
}


class UnattendedTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        keyword = kt::UniqueName("kw");
        report = kt::ScratchDir("unattended") + "report.txt";
    }

    void Seed()
    {
        key.Make(keyword + "One\\Sub\\Deeper");
        kt::SetStringValue(HKEY_CURRENT_USER, key.Below(keyword + "One\\Sub"), "path", "C:\\vm");
        key.Make("Vendor\\" + keyword + "Two");
        key.Make(keyword + "Lock\\Mid\\Denied");
        ASSERT_TRUE(kt::DenyRead(HKEY_CURRENT_USER, key.Below(keyword + "Lock\\Mid\\Denied")));
        key.Make("Legacy\\" + keyword + "Old");
        key.Make("Unrelated\\Keep");
    }
    DWORD RunProgram(const std::string& arguments, std::string* errors = nullptr, std::string* output = nullptr)
    {
        return kt::Run("\"" + EnglishProgram() + "\" \"/silent=" + report + "\" " + arguments, output, 120000, errors);
    }
    std::vector<std::string> Backups() { return kt::BackupsOf(report); }
    // The three findings of Seed(), in the search's order (enumeration order of the registry).
    std::vector<std::string> Findings(const std::string& reportText)
    {
        std::vector<std::string> found;
        std::string marker = "HKEY_CURRENT_USER\\" + key.Path() + "\\";
        size_t at = 0;
        while ((at = reportText.find(marker, at)) != std::string::npos) {
            size_t end = reportText.find("\r\n", at);
            found.push_back(reportText.substr(at, end - at));
            at = end;
        }
        return found;
    }

    kt::ScratchKey key{ "kltrun" };
    std::string keyword, report;
};

TEST_F(UnattendedTest, SearchListsFindingsAndRemovesNothing)
{
    Seed();
    EXPECT_EQ(RunProgram("/keywords=" + keyword + ",ZZQnone /hkey=HKEY_CURRENT_USER"), 1u) << "findings remain";
    std::string text = AfterBanner(kt::ReadFileBytes(report));
    std::vector<std::string> findings = Findings(text);
    std::vector<std::string> sorted = findings;
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::string> expected = { key.Full(keyword + "Lock"), key.Full(keyword + "One"), key.Full("Vendor\\" + keyword + "Two") };
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(sorted, expected);
    std::string body = "Search terms:\r\n" + keyword + ",zzqnone\r\n\r\n\r\nCould not open key: Denied\r\n\r\n\r\n";
    for (const std::string& f : findings)
        body += f + "\r\n";
    body += "\r\nResults:\r\n\r\n";
    EXPECT_EQ(text, body);
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, key.Below(keyword + "One\\Sub\\Deeper")));
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, key.Below("Vendor\\" + keyword + "Two")));
    DeleteFileA(report.c_str());
}

TEST_F(UnattendedTest, DelRemovesEveryFindingAndNothingElse)
{
    Seed();
    std::vector<std::wstring> before = kt::ExportSections("HKEY_CURRENT_USER");
    ASSERT_GT(before.size(), 10u);
    EXPECT_EQ(RunProgram("/keywords=" + keyword + " /hkey=HKEY_CURRENT_USER /del"), 1u) << "one removal failed";
    std::vector<std::wstring> after = kt::ExportSections("HKEY_CURRENT_USER");
    // One backup beside the report holds the two removed trees, and not the one left.
    std::vector<std::string> backups = Backups();
    ASSERT_EQ(backups.size(), 1u);
    std::wstring backupText = kt::ReadUtf16(backups[0]);
    EXPECT_NE(backupText.find(kt::Widen("[" + key.Full(keyword + "One\\Sub") + "]\r\n\"path\"=\"C:\\\\vm\"\r\n")),
              std::wstring::npos);
    EXPECT_NE(backupText.find(kt::Widen("[" + key.Full("Vendor\\" + keyword + "Two") + "]")), std::wstring::npos);
    EXPECT_EQ(backupText.find(kt::Widen(keyword + "Lock")), std::wstring::npos);

    std::string text = AfterBanner(kt::ReadFileBytes(report));
    size_t results = text.find("\r\nResults:\r\n\r\n");
    ASSERT_NE(results, std::string::npos) << text;
    std::vector<std::string> listed = Findings(text.substr(0, results));
    ASSERT_EQ(listed.size(), 3u);
    std::string removal;
    for (const std::string& f : listed)
        removal += f + (f == key.Full(keyword + "Lock") ? " - could not be removed" : "") + "\r\n";
    EXPECT_EQ(text.substr(results + 14), removal);

    EXPECT_FALSE(kt::KeyExists(HKEY_CURRENT_USER, key.Below(keyword + "One")));
    EXPECT_FALSE(kt::KeyExists(HKEY_CURRENT_USER, key.Below("Vendor\\" + keyword + "Two")));
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, key.Below("Vendor")));
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, key.Below(keyword + "Lock\\Mid")));
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, key.Below("Legacy\\" + keyword + "Old")));

    // Everything else is exactly as before: the snapshot less the two removed trees.
    std::vector<std::wstring> expected;
    for (const std::wstring& section : before) {
        bool removed = false;
        for (const std::wstring& gone : { kt::Widen(key.Full(keyword + "One")), kt::Widen(key.Full("Vendor\\" + keyword + "Two")) })
            if (section.compare(0, gone.size() + 2, L"[" + gone + L"]") == 0 ||
                section.compare(0, gone.size() + 2, L"[" + gone + L"\\") == 0)
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
    EXPECT_TRUE(Backups().empty()) << "nothing removed, no backup";
    EXPECT_EQ(AfterBanner(kt::ReadFileBytes(report)),
              "Search terms:\r\n" + keyword + "nothing\r\n\r\n\r\n\r\n\r\n\r\nResults:\r\n\r\n");
}

TEST_F(UnattendedTest, FailuresNeverShowAWindowAndEndWithTheirCodes)
{
    key.Make(keyword + "Stays");
    kt::UseLanguage("en-us");
    CString reportMessage, alreadyRunning;
    reportMessage.LoadString(IDS_REPORT_OPEN_FAILED);
    alreadyRunning.LoadString(IDS_ALREADY_RUNNING);
    // A report that cannot be opened: the search runs, nothing is removed, no box (a box would
    // keep the process from ending).
    std::string missing = kt::ScratchDir("nofolder") + "absent\\r.txt";
    std::string command = "\"" + EnglishProgram() + "\" \"/silent=" + missing + "\" /keywords=" + keyword +
                          " /hkey=HKEY_CURRENT_USER /del";
    kt::Process process = kt::Start(command);
    EXPECT_EQ(process.Wait(60000), 110u);
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, key.Below(keyword + "Stays"))) << "no report, no removal";
    std::string errors;
    EXPECT_EQ(kt::Run(command, nullptr, 60000, &errors), 110u);
    EXPECT_EQ(errors, std::string(reportMessage) + "\r\n") << "the message goes to standard error";

    // Another instance holds the mutex: try again later.
    HANDLE mutex = CreateMutexA(nullptr, TRUE, kMutexName);
    ASSERT_NE(mutex, nullptr);
    kt::Process second = kt::Start("\"" + EnglishProgram() + "\" /silent=" + report);
    EXPECT_EQ(second.Wait(60000), 1618u);
    errors.clear();
    EXPECT_EQ(kt::Run("\"" + EnglishProgram() + "\" /silent=" + report, nullptr, 60000, &errors), 1618u);
    EXPECT_EQ(errors, std::string(alreadyRunning) + "\r\n");
    CloseHandle(mutex);
    // The session's own name, as other programs look for a running instance, counts as well.
    mutex = CreateMutexA(nullptr, TRUE, kSessionMutexName);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(kt::Run("\"" + EnglishProgram() + "\" /silent=" + report, nullptr, 60000), 1618u);
    CloseHandle(mutex);
    EXPECT_FALSE(kt::FileExists(report));
}

TEST_F(UnattendedTest, ExitCodesOfStartUp)
{
    // Not an administrator.
    EXPECT_EQ(kt::RunWithoutAdministrators("\"" + EnglishProgram() + "\" \"/silent=" + report + "\""), 740u);
    // An argument that holds no switch: nothing runs.
    std::string errors;
    EXPECT_EQ(RunProgram("/keywords=" + keyword + " C:\\My Reports\\r.txt", &errors), 87u);
    EXPECT_EQ(errors.rfind("Unknown argument: C:\\My\r\n", 0), 0u) << errors;
    EXPECT_FALSE(kt::FileExists(report));
    // No language library.
    std::string bare = kt::ScratchDir("bare");
    kt::StageProgram(bare, {});
    kt::Process process = kt::Start("\"" + bare + "klarner.exe\" /silent");
    EXPECT_EQ(process.Wait(60000), 126u);
}

TEST_F(UnattendedTest, UsageGoesToStandardErrorInAnUnattendedRun)
{
    kt::UseLanguage("en-us");
    CString usage;
    usage.LoadString(IDS_USAGE);
    ASSERT_NE(std::string(usage).find("1618"), std::string::npos);
    std::string errors;
    EXPECT_EQ(kt::Run("\"" + EnglishProgram() + "\" /silent /?", nullptr, 60000, &errors), 0u);
    EXPECT_EQ(errors, std::string(usage) + "\r\n");
    EXPECT_FALSE(kt::FileExists("C:\\Klarner-Report-" + std::string(FormatReportDate()) + ".txt"));
}

TEST_F(UnattendedTest, ABackupThatCannotBeWrittenLeavesEveryFindingInPlace)
{
    Seed();
    // The report opens, but its name leaves no room for the backup's: a name holds 255 characters.
    std::string stem = kt::UniqueName("r");
    stem.resize(240, 'r');
    report = "C:\\" + stem + ".txt";
    EXPECT_EQ(RunProgram("/keywords=" + keyword + " /hkey=HKCU /del"), 1u);
    std::string text = kt::ReadFileBytes(report);
    size_t results = text.find("\r\nResults:\r\n\r\n");
    ASSERT_NE(results, std::string::npos);
    EXPECT_NE(text.substr(results).find("\r\n" + key.Full(keyword + "One") + " - could not be removed\r\n"),
              std::string::npos)
        << text.substr(results);
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, key.Below(keyword + "One\\Sub\\Deeper")));
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, key.Below("Vendor\\" + keyword + "Two")));
}

TEST_F(UnattendedTest, AHiddenNameInOneFindingFailsItAndTheRunGoesOn)
{
    key.Make(keyword + "Hidden\\Mid");
    ASSERT_TRUE(kt::CreateNulNamedKey(HKEY_CURRENT_USER, kt::Widen(key.Below(keyword + "Hidden\\Mid")), L"x"));
    key.Make(keyword + "Plain\\Sub");
    key.Make(keyword + "Zlast");
    EXPECT_EQ(RunProgram("/keywords=" + keyword + " /hkey=HKCU /del"), 1u);
    std::string text = kt::ReadFileBytes(report);
    EXPECT_NE(text.find("\r\nResults:\r\n\r\n" + key.Full(keyword + "Hidden") + " - could not be removed\r\n" +
                        key.Full(keyword + "Plain") + "\r\n" + key.Full(keyword + "Zlast") + "\r\n"),
              std::string::npos)
        << text;
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, key.Below(keyword + "Hidden\\Mid")));
    EXPECT_FALSE(kt::KeyExists(HKEY_CURRENT_USER, key.Below(keyword + "Plain")));
    EXPECT_FALSE(kt::KeyExists(HKEY_CURRENT_USER, key.Below(keyword + "Zlast")));
}

TEST_F(UnattendedTest, AbbreviatedRootKeyRemovesItsFindings)
{
    std::string machine = "Software\\" + kt::UniqueName("kltmachine");
    ASSERT_TRUE(kt::CreateKey(HKEY_LOCAL_MACHINE, machine + "\\" + keyword + "Gone\\Sub"));
    EXPECT_EQ(RunProgram("/keywords=" + keyword + " /hkey=HKLM /del"), 0u) << "everything found was removed";
    EXPECT_FALSE(kt::KeyExists(HKEY_LOCAL_MACHINE, machine + "\\" + keyword + "Gone"));
    std::string text = kt::ReadFileBytes(report);
    EXPECT_NE(text.find("\r\nResults:\r\n\r\nHKEY_LOCAL_MACHINE\\" + machine + "\\" + keyword + "Gone\r\n"),
              std::string::npos);
    kt::DeleteTree(HKEY_LOCAL_MACHINE, machine);
}

TEST_F(UnattendedTest, APathWithForwardSlashesIsOnlyAPathAndANonFileIsNoReport)
{
    key.Make(keyword + "Stays\\Sub");
    // A folder named like a switch: "/deltalogs" and "/help" must not ask for anything.
    std::string folder = kt::ScratchDir("slashes") + "deltalogs\\help\\";
    ASSERT_TRUE(CreateDirectoryA(folder.substr(0, folder.size() - 6).c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    report = folder + "r.txt";
    std::replace(report.begin(), report.end(), '\\', '/');
    EXPECT_EQ(RunProgram("/keywords=" + keyword + " /hkey=HKCU"), 1u) << "a detection run";
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, key.Below(keyword + "Stays\\Sub")));
    EXPECT_NE(kt::ReadFileBytes(folder + "r.txt").find(key.Full(keyword + "Stays") + "\r\n"), std::string::npos);

    // Devices, pipes and streams are no report: nothing is removed, and no backup appears in
    // the current folder (for a deployment agent often System32).
    std::string here = kt::ScratchDir("current");
    for (const std::string& path : { std::string("NUL"), std::string("CON"), std::string("\\\\.\\pipe\\klarner"),
                                     here + "r.txt:stream", std::string("aux.txt") }) {
        kt::Process run = kt::Start("\"" + EnglishProgram() + "\" \"/silent=" + path + "\" /keywords=" + keyword +
                                    " /hkey=HKCU /del", here);
        EXPECT_EQ(run.Wait(60000), 110u) << path;
        EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, key.Below(keyword + "Stays\\Sub"))) << path;
    }
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((here + "*.reg").c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE) << found.cFileName;
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    EXPECT_FALSE(kt::FileExists(here + "r.txt"));
}

TEST_F(UnattendedTest, BadUsageDoesNothingAndEndsWith87)
{
    key.Make(keyword + "Stays");
    std::string errors;
    for (const std::string& arguments :
         { "/keywords=," + keyword + " /del", "/keywords=" + std::string(31, 'q') + "," + keyword + " /del",
           "/keywords=" + keyword + " /hkey=HKCU /hkey=HKLM /del", "/keywords=" + keyword + " /deltas" }) {
        errors.clear();
        EXPECT_EQ(RunProgram(arguments + " /hkey=HKCU", &errors), 87u) << arguments;
        EXPECT_NE(errors.find("klarner.exe /silent"), std::string::npos) << "the usage on standard error: " << errors;
    }
    EXPECT_FALSE(kt::FileExists(report));
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, key.Below(keyword + "Stays")));
    // Any letter case is a switch: "/Silent" runs unattended instead of opening a window.
    EXPECT_EQ(kt::Run("\"" + EnglishProgram() + "\" \"/Silent=" + report + "\" /KEYWORDS=" + keyword + " /Hkey=HKCU"),
              1u);
}

TEST_F(UnattendedTest, AKeyBelowAMatchThatCannotBeReadMeansFindingsRemain)
{
    key.Make(keyword + "Hide\\Locked");
    ASSERT_TRUE(kt::DenyRead(HKEY_CURRENT_USER, key.Below(keyword + "Hide\\Locked")));
    EXPECT_EQ(RunProgram("/keywords=" + keyword + " /hkey=HKCU /del"), 1u);
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, key.Below(keyword + "Hide")));
    EXPECT_EQ(RunProgram("/keywords=" + keyword + " /hkey=HKCU"), 1u);
    kt::AllowAll(HKEY_CURRENT_USER, key.Below(keyword + "Hide\\Locked"));
}

TEST_F(UnattendedTest, AReportThatCannotBeWrittenWholeEndsWith110)
{
    // scripts/test mounts a file system that is full to the last byte, where one exists.
    const char* full = getenv("KLARNER_FULL_DISK");
    if (!full || !*full)
        GTEST_SKIP() << "no full file system (scripts/test mounts one when run as root)";
    key.Make(keyword + "Stays");
    report = std::string(full) + "\\r.txt";
    EXPECT_EQ(RunProgram("/keywords=" + keyword + " /hkey=HKCU /del"), 110u);
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, key.Below(keyword + "Stays"))) << "no record, no removal";
}

TEST_F(UnattendedTest, TheJsonRecordSaysWhatBecameOfEveryFindingAndTheSummaryLineComesLast)
{
    Seed();
    // A name the report's code page cannot hold: exact in the record, escaped in the report.
    key.Make(kt::Widen(keyword) + L"\x0416");
    const std::string folder = kt::ScratchDir("json");
    std::string output;
    const DWORD code = RunProgram("/keywords=" + keyword + " /hkey=HKCU /del \"/json=" + folder + "record-[DATE].json\"",
                                  nullptr, &output);
    EXPECT_EQ(code, 1u) << "one removal failed";
    const Json record = Json::parse(kt::ReadFileBytes(folder + "record-" + std::string(FormatReportDate()) + ".json"));
    EXPECT_EQ(record["exitCode"], code);
    EXPECT_EQ(record["mode"], "remove");
    EXPECT_EQ(record["root"], "HKEY_CURRENT_USER");
    EXPECT_EQ(record["keywords"], Json::array({ keyword }));
    EXPECT_EQ(record["report"], FullPathOf(report));
    ASSERT_EQ(kt::BackupsOf(report).size(), 1u);
    const std::string backup = FullPathOf(kt::BackupsOf(report)[0]);
    EXPECT_EQ(record["backups"], Json::array({ backup }));
    const std::map<std::string, std::string> expected = {
        { key.Full(keyword + "One"), "removed" }, { "HKEY_CURRENT_USER\\" + key.Path() + "\\Vendor\\" + keyword + "Two", "removed" },
        { key.Full(keyword + "Lock"), "failed" }, { key.Full(keyword) + "\xD0\x96", "removed" } };
    EXPECT_EQ(Statuses(record), expected);
    for (const Json& finding : record["findings"]) {
        EXPECT_EQ(finding["kind"], "key");
        EXPECT_EQ(finding["keyword"], keyword);
        EXPECT_EQ(finding.contains("reason"), finding["status"] == "failed");
    }
    ASSERT_EQ(record["unreadable"].size(), 1u);
    EXPECT_EQ(record["unreadable"][0]["path"], key.Full(keyword + "Lock\\Mid\\Denied"));
    EXPECT_EQ(record["unreadable"][0]["belowMatch"], true);
    EXPECT_EQ(record["counts"], Json::parse(R"({"found":4,"removed":3,"removedAtRestart":0,"failed":1,"refused":0,"unreadable":1})"));
    EXPECT_NE(kt::ReadFileBytes(report).find(key.Full(keyword) + "<U+0416>\r\n"), std::string::npos);

    const std::string summary = LastLine(output);
    EXPECT_EQ(summary.rfind("Velmora Klarner: 4 found, 3 removed, 0 removed at restart, 1 failed, 0 refused, 1 unreadable; "
                            "exit code 1; report " + FullPathOf(report) + "; backup " + backup, 0), 0u)
        << summary;
    EXPECT_TRUE(std::all_of(summary.begin(), summary.end(), [](char c) { return c >= 0x20 && c < 0x7F; }));
}

TEST_F(UnattendedTest, ADetectionRecordBesideTheReportOrOnStandardOutput)
{
    key.Make(keyword + "Found");
    EXPECT_EQ(RunProgram("/keywords=" + keyword + " /hkey=HKCU /json"), 1u);
    const Json beside = Json::parse(kt::ReadFileBytes(report.substr(0, report.size() - 4) + ".json"));
    EXPECT_EQ(beside["mode"], "detect");
    EXPECT_EQ(Statuses(beside), (std::map<std::string, std::string>{ { key.Full(keyword + "Found"), "listed" } }));
    EXPECT_EQ(beside["exitCode"], 1);

    std::string output, json;
    EXPECT_EQ(RunProgram("/keywords=" + keyword + " /hkey=HKCU /json=-", nullptr, &output), 1u);
    const std::string summary = LastLine(output, &json);
    EXPECT_EQ(summary.rfind("Velmora Klarner: 1 found, 0 removed", 0), 0u) << output;
    EXPECT_EQ(Json::parse(json)["exitCode"], 1);
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, key.Below(keyword + "Found")));
}

TEST_F(UnattendedTest, ARecordThatCannotBeWrittenStopsTheRemoval)
{
    key.Make(keyword + "Stays");
    std::string output;
    const std::string absent = kt::ScratchDir("json-absent") + "no-such-folder\\record.json";
    EXPECT_EQ(RunProgram("/keywords=" + keyword + " /hkey=HKCU /del \"/json=" + absent + "\"", nullptr, &output), 110u);
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, key.Below(keyword + "Stays")));
    EXPECT_NE(LastLine(output).find("; exit code 110;"), std::string::npos) << output;
    // Even bad usage ends with its summary line.
    output.clear();
    EXPECT_EQ(RunProgram("/keywords=" + keyword + " /deltas", nullptr, &output), 87u);
    EXPECT_NE(LastLine(output).find("exit code 87"), std::string::npos) << output;
}

TEST_F(UnattendedTest, TheRecordNeverTakesTheReportsPlaceAndSaysWhyItCannotBeWritten)
{
    key.Make(keyword + "Stays");
    kt::UseLanguage("en-us");
    CString cannot;
    cannot.LoadString(IDS_RECORD_FAILED);
    const std::string folder = kt::ScratchDir("json-place");
    const std::string stem = folder + "r";
    // The report itself, the record beside a report named .json, or a backup's name: bad usage,
    // nothing searched, no report, no record.
    for (const std::string& arguments :
         { "\"/silent=" + stem + ".txt\" \"/json=" + stem + ".txt\"", "\"/silent=" + stem + ".json\" /json",
           "\"/silent=" + stem + ".txt\" \"/json=" + stem + "-backup-20261208-101010.reg\"", "\"/silent=" + stem + ".txt\" /? /json" }) {
        EXPECT_EQ(kt::Run("\"" + EnglishProgram() + "\" " + arguments + " /keywords=" + keyword + " /hkey=HKCU /del"), 87u)
            << arguments;
        EXPECT_FALSE(kt::FileExists(stem + ".txt") || kt::FileExists(stem + ".json")) << arguments;
    }
    // A folder where the record should go: known before anything is removed, and said.
    std::string errors;
    CreateDirectoryA((folder + "taken.json").c_str(), nullptr);
    EXPECT_EQ(RunProgram("/keywords=" + keyword + " /hkey=HKCU /del \"/json=" + folder + "taken.json\"", &errors), 110u);
    EXPECT_NE(errors.find(std::string(cannot) + FullPathOf(folder + "taken.json")), std::string::npos) << errors;
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, key.Below(keyword + "Stays")));

    // The temporary file is new and named so that nobody can guess it: a file planted at the
    // name it once had (the process id) stays as it was.
    const std::string record = folder + "record.json";
    const std::string planted = record + "." + std::to_string(GetCurrentProcessId()) + ".tmp";
    ASSERT_TRUE(kt::WriteFileBytes(planted, "keep"));
    CRunRecord direct;
    ASSERT_TRUE(direct.Open(kt::Widen(record)));
    ASSERT_TRUE(direct.Finish(0));
    EXPECT_EQ(kt::ReadFileBytes(planted), "keep");
    EXPECT_EQ(Json::parse(kt::ReadFileBytes(record))["exitCode"], 0);
}

TEST_F(UnattendedTest, TheFleetScriptsOneStepCommandThroughCmd)
{
    // The command line every fleet script runs, beside the program as the package has it.
    key.Make(keyword + "Fleet\\Sub");
    const std::string dir = EnglishProgram().substr(0, EnglishProgram().rfind('\\') + 1);
    std::string source = KLARNER_SOURCE_DIR "/fleet/klarner-run.cmd";
    std::replace(source.begin(), source.end(), '/', '\\');
    ASSERT_TRUE(CopyFileA(("Z:" + source).c_str(), (dir + "klarner-run.cmd").c_str(), FALSE));
    // Each run makes its log folder (for SYSTEM and the Administrators only).
    const std::string base = kt::ScratchDir("fleet-logs");
    const std::string logs = base + "check\\", removal = base + "remove\\";
    SetEnvironmentVariableA("KLARNER_LOGS", logs.c_str());
    SetEnvironmentVariableA("KLARNER_ROOT", "HKCU");
    SetEnvironmentVariableA("KLARNER_SWITCHES", ("/keywords=" + keyword).c_str());
    const std::string command = "cmd.exe /c \"" + dir + "klarner-run.cmd\" ";
    std::string output;
    EXPECT_EQ(kt::Run(command + "detect", &output), 1u);
    EXPECT_EQ(LastLine(output).rfind("Velmora Klarner: 1 found, 0 removed", 0), 0u) << output;
    const std::string date = FormatReportDate().GetString();
    EXPECT_EQ(Json::parse(kt::ReadFileBytes(logs + "klarner-check-" + date + ".json"))["exitCode"], 1);
    output.clear();
    SetEnvironmentVariableA("KLARNER_LOGS", removal.c_str());
    EXPECT_EQ(kt::Run(command + "remove", &output), 0u);
    EXPECT_EQ(LastLine(output).rfind("Velmora Klarner: 1 found, 1 removed", 0), 0u) << output;
    EXPECT_FALSE(kt::KeyExists(HKEY_CURRENT_USER, key.Below(keyword + "Fleet")));
    EXPECT_EQ(Json::parse(kt::ReadFileBytes(removal + "klarner-" + date + ".json"))["mode"], "remove");
    EXPECT_EQ(kt::Run(command + "neither"), 87u);

    // A folder that is there already and whose owner is not SYSTEM or the Administrators (under
    // Wine no owner can be told at all), switches that hold a command, and no program: nothing
    // runs, and the last line says why.
    key.Make(keyword + "Stays");
    output.clear();
    EXPECT_EQ(kt::Run(command + "remove", &output), 5u);
    EXPECT_NE(LastLine(output).find("is not owned by SYSTEM or the Administrators"), std::string::npos) << output;
    SetEnvironmentVariableA("KLARNER_LOGS", (base + "third\\").c_str());
    SetEnvironmentVariableA("KLARNER_SWITCHES", ("/keywords=" + keyword + " & echo x > \"" + base + "second.txt\"").c_str());
    output.clear();
    EXPECT_EQ(kt::Run(command + "remove", &output), 87u);
    EXPECT_FALSE(kt::FileExists(base + "second.txt")) << "no second command runs";
    SetEnvironmentVariableA("KLARNER_SWITCHES", nullptr);
    SetEnvironmentVariableA("KLARNER_EXE", (base + "absent\\klarner.exe").c_str());
    output.clear();
    EXPECT_EQ(kt::Run(command + "detect", &output), 9009u);
    EXPECT_NE(LastLine(output).find("klarner.exe not found"), std::string::npos) << output;
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, key.Below(keyword + "Stays")));
    for (const char* name : { "KLARNER_LOGS", "KLARNER_ROOT", "KLARNER_SWITCHES", "KLARNER_EXE" })
        SetEnvironmentVariableA(name, nullptr);
}

TEST(UnattendedDefaults, OnlySilentSearchesTheMachineWithTheDefaultsAndNeverTheRunValue)
{
    // Started as built: German first. An invalid /hkey means HKEY_LOCAL_MACHINE.
    std::string base = "Software\\" + kt::UniqueName("kltdefault");
    std::string product = base + "\\Velmora Vigilo+ Suite";
    ASSERT_TRUE(kt::CreateKey(HKEY_LOCAL_MACHINE, product));
    kt::RunValueGuard tray("C:\\vm\\vmtray.exe");
    ASSERT_TRUE(tray.Set());
    kt::UseLanguage("de-de");
    std::string reportPath = "C:\\Klarner-Bericht-" + std::string(FormatReportDate()) + ".txt";
    DeleteFileA(reportPath.c_str());

    EXPECT_EQ(kt::Run("\"" + kt::KlarnerExe() + "\" /silent /hkey=NoSuchRoot", nullptr, 600000), 1u);
    std::string text = AfterBanner(kt::ReadFileBytes(reportPath));
    EXPECT_EQ(text.rfind("Suchbegriffe:\r\n" + std::string(kDefaultKeywords) + "\r\n\r\n\r\n", 0), 0u) << text;
    EXPECT_NE(text.find("\r\nHKEY_LOCAL_MACHINE\\" + product + "\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("currentversion\\run\\vmtray"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 17), "\r\nErgebnisse:\r\n\r\n");
    EXPECT_TRUE(kt::KeyExists(HKEY_LOCAL_MACHINE, product)) << "nothing is removed without /del";
    EXPECT_TRUE(kt::ValueExists(HKEY_LOCAL_MACHINE, kt::Utf8(kRunKeyPath), "vmtray"));

    kt::DeleteTree(HKEY_LOCAL_MACHINE, base);
    DeleteFileA(reportPath.c_str());
}

}  // namespace
