// The unattended run end to end: klarner.exe itself with /silent, /keywords, /hkey and
// /del on a seeded registry; the report section byte for byte, the registry and the backup
// afterwards, the exit code of every outcome, and never a window.
#include "unattended/UnattendedFixture.h"

namespace {

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

}  // namespace
