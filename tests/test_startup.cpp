// Start-up: command line through the real argument splitting, the language library
// lookup, the single instance and the administrator check, with klarner.exe itself.
#include <gtest/gtest.h>
#include "TestSupport.h"
#include "../resources/resource.h"
#include "../app/AppConstants.h"
#include "../app/KlarnerApp.h"
#include "../engine/registry/Constants.h"
#include <algorithm>

namespace {

// Child mode: this program started with "--print-command-line ..." reads its own
// command line as start-up does and prints what it found.
int PrintCommandLine()
{
    CKlarnerApp app;
    CommandLineValues values;
    // Its own first argument ("--print-command-line") stands where the program's name would.
    app.ReadCommandLine(__argc - 1, __argv + 1, values);
    printf("file=[%s]\nkeywords=[%s]\nhkey=[%s]\nsilent=%d\ndelete=%d\nbad=[%s]\n", values.strFileName.GetString(),
           values.strKeyWords.GetString(), values.strHkeyName.GetString(), values.silent, app.m_delete,
           values.badArgument.GetString());
    return 0;
}

struct Parsed
{
    std::string file, keywords, hkey, bad, conflict;
    int silent = -1, del = -1, usage = -1;
};

Parsed FromValues(const CommandLineValues& values, int del)
{
    Parsed parsed;
    parsed.file = values.strFileName.GetString();
    parsed.keywords = values.strKeyWords.GetString();
    parsed.hkey = values.strHkeyName.GetString();
    parsed.bad = values.badArgument.GetString();
    parsed.conflict = values.conflictingSwitch.GetString();
    parsed.silent = values.silent;
    parsed.del = del;
    parsed.usage = values.usage;
    return parsed;
}

// The arguments as the C runtime has split them already.
Parsed Parse(std::vector<const char*> arguments)
{
    arguments.insert(arguments.begin(), "klarner.exe");
    CKlarnerApp app;
    CommandLineValues values;
    app.ReadCommandLine(static_cast<int>(arguments.size()), const_cast<char**>(arguments.data()), values);
    return FromValues(values, app.m_delete);
}

// Starts this program with `arguments` as the rest of a real command line, split by the runtime.
Parsed ParseInChild(const std::string& arguments)
{
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string output;
    kt::Run("\"" + std::string(self) + "\" --print-command-line " + arguments, &output);
    output.erase(std::remove(output.begin(), output.end(), '\r'), output.end());
    auto field = [&](const char* name) {
        std::string start = std::string(name) + "=";
        size_t at = output.find(start);
        if (at == std::string::npos)
            return std::string("<missing>");
        at += start.size();
        std::string value = output.substr(at, output.find('\n', at) - at);
        return value.size() >= 2 && value[0] == '[' ? value.substr(1, value.size() - 2) : value;
    };
    Parsed parsed;
    parsed.file = field("file");
    parsed.keywords = field("keywords");
    parsed.hkey = field("hkey");
    parsed.bad = field("bad");
    parsed.silent = atoi(field("silent").c_str());
    parsed.del = atoi(field("delete").c_str());
    return parsed;
}

TEST(CommandLine, RealArgumentSplittingKeepsQuotedSpacesAndForwardSlashes)
{
    Parsed p = ParseInChild("\"/silent=C:\\My Reports\\r.txt /del /hkey=HKEY_USERS\" /keywords=a,b");
    EXPECT_EQ(p.silent, 1);
    EXPECT_EQ(p.file, "C:\\My Reports\\r.txt");
    EXPECT_EQ(p.del, 1);
    EXPECT_EQ(p.hkey, "HKEY_USERS");
    EXPECT_EQ(p.keywords, "a,b");
    EXPECT_EQ(p.bad, "");
    Parsed slashes = ParseInChild("/silent=//fileserver/deltalogs/klarner.txt /keywords=qqslash");
    EXPECT_EQ(slashes.file, "//fileserver/deltalogs/klarner.txt");
    EXPECT_EQ(slashes.del, 0) << "a path that holds /del asks for no removal";
}

TEST(CommandLine, WindowedAndUnattendedBasics)
{
    Parsed none = Parse({});
    EXPECT_EQ(none.silent, 0);
    EXPECT_EQ(none.del, 0);
    Parsed windowed = Parse({ "/del", "/keywords=x" });
    EXPECT_EQ(windowed.silent, 0);
    EXPECT_EQ(windowed.del, 1);
    EXPECT_EQ(windowed.keywords, "x");
    Parsed bare = Parse({ "/silent" });
    EXPECT_EQ(bare.silent, 1);
    EXPECT_EQ(bare.file, "");
    EXPECT_EQ(Parse({ "/silent=C:\\logs\\run.txt" }).file, "C:\\logs\\run.txt");
    EXPECT_EQ(Parse({ "/keywords=first", "/keywords=first" }).conflict, "") << "the same value twice is fine";
}

TEST(CommandLine, ValuesMayHoldSlashesAndRunToTheNextSwitch)
{
    Parsed p = Parse({ "/silent=C:/help/klarner.txt" });
    EXPECT_EQ(p.file, "C:/help/klarner.txt");
    EXPECT_EQ(p.usage, 0) << "/help inside a path is no request for the usage";
    // A switch ends the value before it only after a space, and only as a whole switch word.
    Parsed one = Parse({ "/silent=C:\\r x.txt /del /keywords=a /b,c" });
    EXPECT_EQ(one.file, "C:\\r x.txt");
    EXPECT_EQ(one.del, 1);
    EXPECT_EQ(one.keywords, "a /b,c");
    // The "=" must follow the switch word itself.
    Parsed later = Parse({ "/silent /keywords=a,b" });
    EXPECT_EQ(later.file, "");
    EXPECT_EQ(later.keywords, "a,b");
    EXPECT_EQ(Parse({ "/keywords=ab  " }).keywords, "ab ") << "only the last of two trailing spaces goes";
    EXPECT_EQ(Parse({ "/keywords=ab " }).keywords, "ab");
    // A tool that quotes the whole command line as one argument may put spaces before it.
    Parsed quoted = Parse({ " \t /silent=C:\\r.txt /keywords=zzqq /hkey=HKCU" });
    EXPECT_EQ(quoted.silent, 1);
    EXPECT_EQ(quoted.file, "C:\\r.txt");
    EXPECT_EQ(quoted.bad, "");
}

TEST(CommandLine, SwitchesInAnyCaseAndOnlyAsWholeWords)
{
    EXPECT_EQ(Parse({ "/Silent=x" }).silent, 1);
    EXPECT_EQ(Parse({ "/DEL" }).del, 1);
    EXPECT_EQ(Parse({ "/KeyWords=k" }).keywords, "k");
    EXPECT_EQ(Parse({ "/HKEY=HKEY_CURRENT_CONFIG" }).hkey, "HKEY_CURRENT_CONFIG");
    EXPECT_EQ(Parse({ "/?" }).usage, 1);
    EXPECT_EQ(Parse({ "/HELP" }).usage, 1);
    for (const char* notASwitch : { "/deltas", "/delete", "/helpdesk", "/silently", "/hkey:HKEY_USERS", "C:\\r.txt" }) {
        Parsed p = Parse({ "/silent", notASwitch });
        EXPECT_EQ(p.bad, notASwitch);
        EXPECT_EQ(p.del, 0) << notASwitch;
        EXPECT_EQ(p.usage, 0) << notASwitch;
    }
    EXPECT_EQ(Parse({ "/del=no" }).bad, "/del=no") << "a switch without a value takes none";
    EXPECT_EQ(Parse({ "/del", "/del=no" }).del, 1);
    EXPECT_EQ(Parse({ "/del stray" }).bad, "/del stray") << "text after a switch that takes no value";
}

TEST(CommandLine, RootKeyNamesAndASwitchGivenTwiceWithAnotherValue)
{
    EXPECT_EQ(Parse({ "/hkey=HKLM" }).hkey, "HKEY_LOCAL_MACHINE");
    EXPECT_EQ(Parse({ "/hkey=hkcu" }).hkey, "HKEY_CURRENT_USER");
    EXPECT_EQ(Parse({ "/hkey=hkey_users" }).hkey, "HKEY_USERS");
    EXPECT_EQ(Parse({ "/hkey=HKEY_NOWHERE" }).hkey, "");
    EXPECT_EQ(Parse({ "/hkey=HKCU", "/hkey=HKLM" }).conflict, "/hkey=HKLM");
    EXPECT_EQ(Parse({ "/hkey=HKCU /hkey=HKEY_CURRENT_USER" }).conflict, "") << "one root key, two spellings";
    EXPECT_EQ(Parse({ "/silent=a.txt", "/silent=b.txt" }).conflict, "/silent=b.txt");
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
    alreadyRunning.LoadString(IDS_ALREADY_RUNNING);
    errorCaption.LoadString(IDS_ERROR_CAPTION);

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
        usage.LoadString(IDS_USAGE);
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
