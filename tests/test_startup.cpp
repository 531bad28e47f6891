// Start-up: command line through the real argument splitting, the language library
// lookup, the single instance and the administrator check, with klarner.exe itself.
#include <gtest/gtest.h>
#include "TestSupport.h"
#include "../app/KlarnerApp.h"
#include "../engine/Constants.h"
#include <algorithm>

namespace {

// Child mode: this program started with "--print-command-line ..." reads its own
// command line as start-up does and prints what it found.
int PrintCommandLine()
{
    CKlarnerApp app;
    CommandLineValues values;
    app.ReadCommandLine(__argc, __argv, values);
    printf("file=[%s]\nkeywords=[%s]\nhkey=[%s]\nsilent=%d\ndelete=%d\n", values.strFileName.GetString(),
           values.strKeyWords.GetString(), values.strHkeyName.GetString(), values.silent, app.m_delete);
    return 0;
}

struct Parsed
{
    std::string file, keywords, hkey;
    int silent = -1, del = -1;
};

// Starts this program with `arguments` as the rest of a real command line.
Parsed ParseInChild(const std::string& arguments)
{
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string output;
    kt::Run("\"" + std::string(self) + "\" --print-command-line " + arguments, &output);
    output.erase(std::remove(output.begin(), output.end(), '\r'), output.end());
    Parsed parsed;
    auto field = [&](const char* name) {
        std::string start = std::string(name) + "=[";
        size_t at = output.find(start);
        if (at == std::string::npos)
            return std::string("<missing>");
        at += start.size();
        return output.substr(at, output.find("]\n", at) - at);
    };
    parsed.file = field("file");
    parsed.keywords = field("keywords");
    parsed.hkey = field("hkey");
    size_t s = output.find("silent="), d = output.find("delete=");
    if (s != std::string::npos)
        parsed.silent = atoi(output.c_str() + s + 7);
    if (d != std::string::npos)
        parsed.del = atoi(output.c_str() + d + 7);
    return parsed;
}

TEST(CommandLine, NoArgumentsMeansWindowed)
{
    Parsed p = ParseInChild("");
    EXPECT_EQ(p.silent, 0);
    EXPECT_EQ(p.del, 0);
    EXPECT_EQ(p.file, "");
}

TEST(CommandLine, DelAndKeywordsWithoutSilentStayWindowed)
{
    Parsed p = ParseInChild("/del /keywords=x");
    EXPECT_EQ(p.silent, 0);
    EXPECT_EQ(p.del, 1);
    EXPECT_EQ(p.keywords, "x");
}

TEST(CommandLine, SilentWithoutValue)
{
    Parsed p = ParseInChild("/silent");
    EXPECT_EQ(p.silent, 1);
    EXPECT_EQ(p.file, "");
}

TEST(CommandLine, SilentWithPath)
{
    Parsed p = ParseInChild("/silent=C:\\logs\\run.txt");
    EXPECT_EQ(p.silent, 1);
    EXPECT_EQ(p.file, "C:\\logs\\run.txt");
}

TEST(CommandLine, OneQuotedArgumentHoldsSeveralSwitches)
{
    Parsed p = ParseInChild("\"/silent=C:\\r.txt /del /hkey=HKEY_USERS\"");
    EXPECT_EQ(p.silent, 1);
    EXPECT_EQ(p.file, "C:\\r.txt");
    EXPECT_EQ(p.del, 1);
    EXPECT_EQ(p.hkey, "HKEY_USERS");
}

TEST(CommandLine, ForwardSlashEndsAValue)
{
    Parsed p = ParseInChild("/silent=C:/r.txt");
    EXPECT_EQ(p.file, "C:");
}

TEST(CommandLine, EqualsSignOfALaterSwitchIsTaken)
{
    Parsed p = ParseInChild("\"/silent /keywords=a,b\"");
    EXPECT_EQ(p.silent, 1);
    EXPECT_EQ(p.file, "a,b");
    EXPECT_EQ(p.keywords, "a,b");
}

TEST(CommandLine, RootKeyNamesInAnyCaseAndTheirAbbreviations)
{
    EXPECT_EQ(ParseInChild("/hkey=HKLM").hkey, "HKEY_LOCAL_MACHINE");
    EXPECT_EQ(ParseInChild("/hkey=hkcu").hkey, "HKEY_CURRENT_USER");
    EXPECT_EQ(ParseInChild("/hkey=hkey_users").hkey, "HKEY_USERS");
    EXPECT_EQ(ParseInChild("/hkey:HKEY_USERS").hkey, "");
    EXPECT_EQ(ParseInChild("/hkey=HKEY_NOWHERE").hkey, "");
    EXPECT_EQ(ParseInChild("/HKEY=HKEY_CURRENT_CONFIG").hkey, "HKEY_CURRENT_CONFIG");
}

TEST(CommandLine, SubstringsAndSpellings)
{
    EXPECT_EQ(ParseInChild("/delete").del, 1);
    EXPECT_EQ(ParseInChild("/DEL").del, 1);
    EXPECT_EQ(ParseInChild("/Silent=x").silent, 0);
    EXPECT_EQ(ParseInChild("/SILENT=x").silent, 1);
    EXPECT_EQ(ParseInChild("/KEYWORDS=k").keywords, "k");
}

TEST(CommandLine, OnlyTheLastOfTwoTrailingSpacesIsRemoved)
{
    EXPECT_EQ(ParseInChild("\"/keywords=ab  \"").keywords, "ab ");
    EXPECT_EQ(ParseInChild("\"/keywords=ab \"").keywords, "ab");
}

TEST(CommandLine, LaterArgumentOverwrites)
{
    Parsed p = ParseInChild("/keywords=first /keywords=second");
    EXPECT_EQ(p.keywords, "second");
}

TEST(Administrator, WinesDefaultUserIsAnAdministrator)
{
    CKlarnerApp app;
    EXPECT_FALSE(app.IsWin9x());
    EXPECT_TRUE(app.IsAdministrator());
    // The check must leave the thread as it found it: no impersonation token afterwards.
    HANDLE token = nullptr;
    EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_TOKEN));
}

TEST(StartUp, OnlyTheEnglishLibraryPresentIsLoaded)
{
    std::string dir = kt::ScratchDir("english");
    kt::StageProgram(dir, { "en-us" });
    std::string report = dir + "report.txt";
    DWORD code = kt::Run("\"" + dir + "klarner.exe\" \"/silent=" + report +
                         "\" /hkey=HKEY_CURRENT_CONFIG /keywords=kltnothingmatches");
    EXPECT_EQ(code, 0u) << "nothing found";
    std::string text = kt::ReadFileBytes(report);
    EXPECT_NE(text.find("\r\nSearch terms:\r\nkltnothingmatches\r\n"), std::string::npos) << text;
}

TEST(StartUp, GermanLibraryComesFirst)
{
    std::string dir = kt::ScratchDir("both");
    kt::StageProgram(dir, { "en-us", "de-de" });
    std::string report = dir + "report.txt";
    kt::Run("\"" + dir + "klarner.exe\" \"/silent=" + report + "\" /hkey=HKEY_CURRENT_CONFIG /keywords=kltnone");
    EXPECT_NE(kt::ReadFileBytes(report).find("\r\nSuchbegriffe:\r\n"), std::string::npos);
}

TEST(StartUp, NoLibraryShowsOneMessageNamingTheEnglishCandidate)
{
    std::string dir = kt::ScratchDir("nolibrary");
    kt::StageProgram(dir, {});
    // Hold the instance mutex: without a library start-up must stop before it checks it.
    HANDLE mutex = CreateMutexA(nullptr, TRUE, kMutexName);
    ASSERT_NE(mutex, nullptr);
    kt::Process process = kt::Start("\"" + dir + "klarner.exe\"");
    ASSERT_TRUE(process.handle);
    kt::MessageBoxInfo box = kt::WaitForMessageBox(process.id, 20000);
    ASSERT_TRUE(box.hwnd);
    EXPECT_EQ(box.caption, "Error!");
    // The folder is the staged one as the program sees it (Wine may spell the drive in
    // either case), so compare the tail.
    EXPECT_EQ(box.text.rfind("Couldn't find file: ", 0), 0u) << box.text;
    std::string tail = "\\en-us\\klarner.dll";
    EXPECT_EQ(box.text.substr(box.text.size() - tail.size()), tail) << box.text;
    kt::PressButton(box.hwnd, IDOK);
    EXPECT_EQ(process.Wait(20000), 0u) << "the windowed mode always ends with 0";
    process.Close();
    CloseHandle(mutex);
}

TEST(StartUp, SecondInstanceIsRefusedWhileTheFirstRuns)
{
    kt::UseLanguage("de-de");
    CString alreadyRunning, errorCaption;
    alreadyRunning.LoadString(107);
    errorCaption.LoadString(183);

    kt::Process first = kt::Start("\"" + kt::KlarnerExe() + "\"");
    ASSERT_TRUE(first.handle);
    HWND window = kt::WaitForDialogWithControl(first.id, 1000, 30000);
    ASSERT_TRUE(window) << "the first instance shows its window";

    kt::Process second = kt::Start("\"" + kt::KlarnerExe() + "\"");
    kt::MessageBoxInfo secondBox = kt::WaitForMessageBox(second.id, 20000);
    ASSERT_TRUE(secondBox.hwnd);
    EXPECT_EQ(secondBox.text, std::string(alreadyRunning));
    EXPECT_EQ(secondBox.caption, std::string(errorCaption));
    kt::PressButton(secondBox.hwnd, IDOK);
    EXPECT_EQ(second.Wait(20000), 0u);
    EXPECT_TRUE(first.Running());

    kt::PressButton(window, IDCANCEL);
    EXPECT_EQ(first.Wait(30000), 0u);
    second.Close();
    first.Close();
}

TEST(StartUp, UsageInAMessageBoxInEitherLanguageAndNothingElse)
{
    for (const char* language : { "en-us", "de-de" }) {
        std::string dir = kt::ScratchDir(std::string("usage-") + language);
        kt::StageProgram(dir, { language });
        kt::UseLanguage(language);
        CString usage;
        usage.LoadString(192);
        ASSERT_GT(usage.GetLength(), 200);
        kt::Process process = kt::Start("\"" + dir + "klarner.exe\" /help");
        kt::MessageBoxInfo box = kt::WaitForMessageBox(process.id, 20000);
        ASSERT_TRUE(box.hwnd) << language;
        EXPECT_EQ(box.text, std::string(usage));
        EXPECT_FALSE(kt::WaitForDialogWithControl(process.id, 1000, 0)) << "no main window";
        kt::PressButton(box.hwnd, IDOK);
        EXPECT_EQ(process.Wait(20000), 0u);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && strcmp(argv[1], "--print-command-line") == 0)
        return PrintCommandLine();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
