// The JSON record of an unattended run, the fleet scripts' one-step command, and what a run
// with only /silent searches.
#include "UnattendedFixture.h"

namespace {

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
