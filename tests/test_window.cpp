// The main window driven as a person would: klarner.exe on the Xvfb display, its dialogs
// found by control id, buttons pressed, list items ticked, message boxes read and
// answered, the registry and the report checked, screenshots saved.
#include <gtest/gtest.h>
#include "RemoteWindow.h"
#include "TestSupport.h"
#include "../engine/Constants.h"
#include "../framework/CString.h"
#include "../resources/resource.h"
#include <algorithm>
#include <regex>

namespace {

std::string Str(UINT id)
{
    CString text;
    text.LoadString(id);
    return text.GetString();
}

std::string Fmt(UINT id, int value)
{
    CString format, text;
    format.LoadString(id);
    text.Format(format, value);
    return text.GetString();
}

std::string StagedProgram(const char* language)
{
    std::string dir = kt::ScratchDir(std::string("window-") + language);
    kt::StageProgram(dir, { language });
    return dir + "klarner.exe";
}

// The large tree that the searches taking seconds walk (Cancel, the status line's count, the
// German screenshots): 300 groups of 100 keys, written once per program run and mounted below a
// test's own key only while that test runs. Every tenth group is named treeKeyword + "Gx" and
// its number, every tenth from the fifth on treeKeyword + "C" and its number: a search for
// treeKeyword finds 60 groups, one for treeKeyword + "G" 30.
const int kTreeGroups = 300;
const int kTreeLeaves = 100;

std::vector<std::string> TreeGroups(const std::string& keyword)
{
    std::vector<std::string> groups;
    for (int g = 0; g < kTreeGroups; ++g)
        groups.push_back((g % 10 == 0 ? keyword + "Gx" : g % 10 == 5 ? keyword + "C" : std::string("group")) + std::to_string(g));
    return groups;
}

class WindowTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        english = StagedProgram("en-us");
        treeKeyword = kt::UniqueName("kwtree");
        treeFile = kt::ScratchDir("window-tree") + "tree.hive";
        ASSERT_TRUE(kt::WriteTreeHive(treeFile, TreeGroups(treeKeyword), kTreeLeaves));
    }
    void SetUp() override
    {
        kt::UseLanguage("en-us");
        keyword = kt::UniqueName("kw");
        report = kt::ScratchDir("window") + "report.txt";
    }
    void TearDown() override
    {
        if (process.Running() && dlg && IsWindow(dlg)) {
            PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
            PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
            process.Wait(5000);
        }
        process.Close();
        // Unmounted once no search of it runs; the key it hangs below goes after.
        tree.reset();
    }
    // Mounts the large tree at `below` this test's key.
    void MountLargeTree(const std::string& below)
    {
        tree.reset(new kt::MountedTree(HKEY_CURRENT_USER, key.Below(below), treeFile, TreeGroups(treeKeyword), kTreeLeaves));
    }

    void Start(const std::string& program)
    {
        process = kt::Start("\"" + program + "\"");
        ASSERT_TRUE(process.handle);
        dlg = kt::WaitForDialogWithControl(process.id, IDC_RESULT_LIST, 30000);
        ASSERT_TRUE(dlg);
        list.reset(new kt::RemoteList(GetDlgItem(dlg, IDC_RESULT_LIST)));
    }
    HWND Item(int id) { return GetDlgItem(dlg, id); }
    bool Enabled(int id) { return IsWindowEnabled(Item(id)) != FALSE; }
    std::string Text(int id) { return kt::ItemText(dlg, id); }
    void Command(int id) { PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, 0), 0); }
    kt::MessageBoxInfo Box() { return kt::WaitForMessageBox(process.id, 60000); }
    void Answer(const kt::MessageBoxInfo& box, int button = IDOK)
    {
        kt::PressButton(box.hwnd, button);
        kt::WaitUntilGone(box.hwnd, 10000);
    }
    // Removes the ticked findings, confirming, and returns the message that follows, answered.
    kt::MessageBoxInfo RemoveTickedAndAnswer()
    {
        kt::PressButton(dlg, IDOK);
        Answer(Box());
        kt::MessageBoxInfo message = Box();
        if (message.hwnd)
            Answer(message);
        return message;
    }
    HWND Settings()
    {
        kt::PressButton(dlg, IDC_SETTINGS);
        return kt::WaitForDialogWithControl(process.id, IDC_CFG_DEFAULT_KEYWORDS, 20000);
    }
    // Settings for a search of HKEY_CURRENT_USER only, with our keyword and report; leftovers by
    // reference only when asked for (a keyword list of one's own turns them off).
    void Configure(const std::string& keywords, bool machineToo = false, bool references = false)
    {
        HWND settings = Settings();
        ASSERT_TRUE(settings);
        kt::RemoteList roots(GetDlgItem(settings, IDC_CFG_ROOT_LIST));
        roots.SetChecked(2, machineToo);
        kt::PressButton(settings, IDC_CFG_DEFAULT_KEYWORDS);
        kt::MessageBoxInfo warning = Box();
        ASSERT_TRUE(warning.hwnd);
        Answer(warning);
        SetWindowTextA(GetDlgItem(settings, IDC_CFG_KEYWORDS), keywords.c_str());
        SetWindowTextA(GetDlgItem(settings, IDC_CFG_PATH), report.c_str());
        EXPECT_EQ(SendMessageA(GetDlgItem(settings, IDC_CFG_REFERENCES), BM_GETCHECK, 0, 0), BST_UNCHECKED);
        if (references)
            kt::PressButton(settings, IDC_CFG_REFERENCES);
        kt::PressButton(settings, IDOK);
        ASSERT_TRUE(kt::WaitUntilGone(settings, 10000));
    }
    // Starts a search and returns the closing message's text, answered.
    std::string Search()
    {
        kt::PressButton(dlg, IDOK);
        kt::MessageBoxInfo done = Box();
        if (!done.hwnd)
            return "<no closing message>";
        Answer(done);
        return done.text;
    }
    // The report can be read only once the program has closed it.
    std::string ReportAfterClosing()
    {
        if (process.Running()) {
            kt::PressButton(dlg, IDCANCEL);
            process.Wait(10000);
        }
        return kt::ReadFileBytes(report);
    }
    // The backups beside the report, by name, as text.
    std::vector<std::wstring> Backups()
    {
        std::vector<std::wstring> texts;
        for (const std::string& name : kt::BackupsOf(report))
            texts.push_back(kt::ReadUtf16(name));
        return texts;
    }
    std::vector<std::string> ListPaths()
    {
        std::vector<std::string> paths;
        for (int i = 0; i < list->Count(); ++i)
            paths.push_back(list->Text(i, 1));
        return paths;
    }

    static std::string english, treeKeyword, treeFile;
    std::unique_ptr<kt::MountedTree> tree;
    kt::Process process;
    HWND dlg = nullptr;
    std::unique_ptr<kt::RemoteList> list;
    kt::ScratchKey key{ "kltwin" };
    std::string keyword, report;
};

std::string WindowTest::english;
std::string WindowTest::treeKeyword;
std::string WindowTest::treeFile;

TEST_F(WindowTest, OpensIdleAndCancelClosesAtOnce)
{
    Start(english);
    EXPECT_EQ(list->ColumnHeading(0), "");
    EXPECT_EQ(list->ColumnHeading(1), "Key");
    EXPECT_EQ(list->ColumnHeading(2), "Typ");
    EXPECT_EQ(list->ColumnWidth(0), 23);
    EXPECT_EQ(list->ColumnWidth(1), 609);
    EXPECT_EQ(list->ColumnWidth(2), 0);
    EXPECT_EQ(list->ColumnHeading(3), Str(IDS_COLUMN_REASON));
    EXPECT_EQ(list->ExtendedStyle() & 0x25u, 0x25u);
    EXPECT_EQ(list->Count(), 0);
    EXPECT_FALSE(Enabled(IDC_SELECT_ALL));
    EXPECT_TRUE(Enabled(IDOK));
    RECT picture;
    GetClientRect(Item(IDC_PICTURE), &picture);
    EXPECT_EQ(picture.right, 64) << "the control takes the idle picture's size";
    EXPECT_EQ(picture.bottom, 48);
    kt::SaveScreenshot(dlg, "main-idle-en");
    kt::PressButton(dlg, IDCANCEL);
    EXPECT_EQ(process.Wait(5000), 0u);
}

TEST_F(WindowTest, ExitClosesAfterAboutASecond)
{
    Start(english);
    DWORD start = GetTickCount();
    Command(ID_FILE_EXIT);
    EXPECT_TRUE(kt::WaitUntilGone(dlg, 10000));
    EXPECT_GE(GetTickCount() - start, 900u) << "Exit waits a second for a running search to stop";
    EXPECT_EQ(process.Wait(10000), 0u);
}

TEST_F(WindowTest, SettingsShowTheStartValuesWarnAndInsistOnARootKey)
{
    Start(english);
    HWND settings = Settings();
    ASSERT_TRUE(settings);
    EXPECT_EQ(kt::WindowText(settings), Str(IDS_CONFIG_CAPTION));
    kt::RemoteList roots(GetDlgItem(settings, IDC_CFG_ROOT_LIST));
    ASSERT_EQ(roots.Count(), 5);
    const char* names[] = { "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS",
                            "HKEY_CURRENT_CONFIG" };
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(roots.Text(i, 0), names[i]);
        EXPECT_EQ(roots.Checked(i), i == 1 || i == 2) << names[i];
    }
    EXPECT_EQ(roots.ColumnHeading(0), "HKey");
    EXPECT_EQ(SendMessageA(GetDlgItem(settings, IDC_CFG_DEFAULT_KEYWORDS), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageA(GetDlgItem(settings, IDC_CFG_REFERENCES), BM_GETCHECK, 0, 0), BST_CHECKED)
        << "leftovers by reference are on with the default keyword list";
    EXPECT_EQ(kt::ItemText(settings, IDC_CFG_REFERENCES), Str(IDS_FOLLOW_REFERENCES));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(settings, IDC_CFG_KEYWORDS)));
    EXPECT_EQ(kt::ItemText(settings, IDC_CFG_KEYWORDS), kDefaultKeywords);
    EXPECT_EQ(kt::ItemText(settings, IDC_CFG_PATH), Str(IDS_DEFAULT_REPORT));
    EXPECT_EQ(kt::ItemText(settings, IDC_CFG_GROUP_ROOTKEYS), Str(IDS_LABEL_ROOTKEYS));
    kt::SaveScreenshot(settings, "settings-en");

    kt::PressButton(settings, IDC_CFG_DEFAULT_KEYWORDS);
    kt::MessageBoxInfo warning = Box();
    ASSERT_TRUE(warning.hwnd);
    EXPECT_EQ(warning.text, Str(IDS_DEFAULT_OFF_WARNING));
    EXPECT_EQ(warning.caption, Str(IDS_ADMIN_CAPTION));
    Answer(warning);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(settings, IDC_CFG_KEYWORDS)));
    EXPECT_EQ(kt::ItemText(settings, IDC_CFG_KEYWORDS), kDefaultKeywords) << "the text stays for editing";
    EXPECT_EQ(SendMessageA(GetDlgItem(settings, IDC_CFG_REFERENCES), BM_GETCHECK, 0, 0), BST_UNCHECKED)
        << "a keyword list of one's own turns leftovers by reference off";

    roots.SetChecked(1, false);
    roots.SetChecked(2, false);
    kt::PressButton(settings, IDOK);
    kt::MessageBoxInfo error = Box();
    ASSERT_TRUE(error.hwnd);
    EXPECT_EQ(error.text, Str(IDS_NO_ROOTKEY));
    EXPECT_EQ(error.caption, Str(IDS_ERROR_CAPTION));
    Answer(error);
    EXPECT_TRUE(IsWindowVisible(settings)) << "the settings stay open";

    // Ticking the box again restores the default list and disables the edit box.
    SetWindowTextA(GetDlgItem(settings, IDC_CFG_KEYWORDS), "edited");
    kt::PressButton(settings, IDC_CFG_DEFAULT_KEYWORDS);
    EXPECT_TRUE(kt::WaitUntil([&] { return !IsWindowEnabled(GetDlgItem(settings, IDC_CFG_KEYWORDS)); }));
    EXPECT_EQ(kt::ItemText(settings, IDC_CFG_KEYWORDS), kDefaultKeywords);
    EXPECT_EQ(SendMessageA(GetDlgItem(settings, IDC_CFG_REFERENCES), BM_GETCHECK, 0, 0), BST_CHECKED);
    kt::PressButton(settings, IDCANCEL);
    EXPECT_TRUE(kt::WaitUntilGone(settings, 10000));
}

TEST_F(WindowTest, SearchTickRemoveSelectAllAndBackToIdle)
{
    key.Make(keyword + "A\\Sub");
    key.Make(keyword + "B");
    key.Make("X\\Pre" + keyword + "C");
    key.Make("Keep");
    Start(english);
    Configure(keyword);

    EXPECT_EQ(Search(), Fmt(IDS_FOUND_FMT, 3));
    ASSERT_EQ(list->Count(), 3);
    std::vector<std::string> paths = ListPaths();
    std::vector<std::string> sorted = paths, expected = { key.Full(keyword + "A"), key.Full(keyword + "B"), key.Full("X\\Pre" + keyword + "C") };
    std::sort(sorted.begin(), sorted.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sorted, expected);
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(list->Checked(i));
        EXPECT_EQ(list->Text(i, 2), "K");
    }
    EXPECT_EQ(Text(IDOK), Str(IDS_OK_REMOVE));
    EXPECT_EQ(Text(IDCANCEL), Str(IDS_CANCEL_DONE));
    EXPECT_EQ(Text(IDC_STATUS), Str(IDS_STATUS_DONE));
    EXPECT_TRUE(Enabled(IDC_SELECT_ALL));
    EXPECT_TRUE(Enabled(IDC_CLEAR));

    // Items 0 and 1 in one pass.
    list->SetChecked(0, true);
    list->SetChecked(1, true);
    kt::SaveScreenshot(dlg, "main-results-en");
    kt::PressButton(dlg, IDOK);
    kt::MessageBoxInfo confirm = Box();
    ASSERT_TRUE(confirm.hwnd);
    EXPECT_EQ(confirm.text, Str(IDS_REMOVE_QUESTION));
    EXPECT_EQ(confirm.caption, Str(IDS_REMOVE_CAPTION));
    kt::SaveScreenshot(confirm.hwnd, "confirm-en");
    Answer(confirm);
    ASSERT_TRUE(kt::WaitUntil([&] { return list->Count() == 1; }));
    EXPECT_EQ(list->Text(0, 1), paths[2]);
    EXPECT_FALSE(kt::KeyExists(HKEY_CURRENT_USER, paths[0].substr(18)));
    EXPECT_FALSE(kt::KeyExists(HKEY_CURRENT_USER, paths[1].substr(18)));
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, paths[2].substr(18)));
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, key.Below("Keep")));
    EXPECT_EQ(Text(IDOK), Str(IDS_OK_REMOVE));
    // That pass wrote one backup beside the report, with both removed keys.
    std::vector<std::wstring> backups = Backups();
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_NE(backups[0].find(L"\r\n[" + kt::Widen(paths[0]) + L"]\r\n"), std::wstring::npos);
    EXPECT_NE(backups[0].find(L"\r\n[" + kt::Widen(paths[1]) + L"]\r\n"), std::wstring::npos);

    // Nothing ticked: a message, nothing removed.
    kt::PressButton(dlg, IDOK);
    kt::MessageBoxInfo none = Box();
    EXPECT_EQ(none.text, Str(IDS_NOTHING_TICKED));
    Answer(none);

    // Select all ticks everything; unticking one clears the box.
    kt::PressButton(dlg, IDC_SELECT_ALL);
    EXPECT_TRUE(kt::WaitUntil([&] { return list->Checked(0); }));
    list->SetChecked(0, false);
    EXPECT_TRUE(kt::WaitUntil([&] { return SendMessageA(Item(IDC_SELECT_ALL), BM_GETCHECK, 0, 0) == BST_UNCHECKED; }));

    // Removing the last item goes back to the idle state.
    list->SetChecked(0, true);
    kt::PressButton(dlg, IDOK);
    Answer(Box());
    EXPECT_TRUE(kt::WaitUntil([&] { return list->Count() == 0; }));
    kt::Sync(dlg);
    EXPECT_EQ(Text(IDOK), Str(IDS_OK_SEARCH));
    EXPECT_EQ(Text(IDC_STATUS), "");
    EXPECT_FALSE(Enabled(IDC_SELECT_ALL));
    EXPECT_FALSE(Enabled(IDC_CLEAR));
    EXPECT_EQ(SendMessageA(Item(IDC_SELECT_ALL), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(Backups().size(), 2u) << "one backup per removal pass";

    // Nothing left to find: the message without findings, and the next press searches again.
    EXPECT_EQ(Search(), Str(IDS_FOUND_NONE));
    EXPECT_EQ(Text(IDOK), Str(IDS_OK_SEARCH));
    EXPECT_EQ(Search(), Str(IDS_FOUND_NONE));

    // The report: three sections, each a banner and a search; the first with its removals.
    std::string text = ReportAfterClosing();
    std::regex banner("\r\n#{38}\r\n\r\n\tVelmora Klarner\r\n\t\\d\\d\\.\\d\\d\\.\\d{4}\t\\d\\d:\\d\\d:\\d\\d\r\n\r\n#{38}\r\n\r\n\r\n");
    std::vector<std::string> sections;
    std::sregex_token_iterator it(text.begin(), text.end(), banner, -1), endIt;
    for (; it != endIt; ++it)
        sections.push_back(*it);
    ASSERT_EQ(sections.size(), 4u) << text;
    EXPECT_EQ(sections[0], "") << "the file starts with a banner";
    std::string first = "Search terms:\r\n" + keyword + "\r\n\r\n\r\n\r\n\r\n";
    for (const std::string& p : paths)
        first += p + "\r\n";
    first += "\r\n" + Fmt(IDS_REPORT_COUNT_FMT, 3) + "\r\n\r\n\r\nResults:\r\n\r\n";
    first += paths[0] + "\r\n" + paths[1] + "\r\n" + paths[2] + "\r\n";
    EXPECT_EQ(sections[1], first);
    std::string empty = "Search terms:\r\n" + keyword + "\r\n\r\n\r\n\r\n\r\n\r\n" + Fmt(IDS_REPORT_COUNT_FMT, 0) +
                        "\r\n\r\n\r\nResults:\r\n\r\n";
    EXPECT_EQ(sections[2], empty);
    EXPECT_EQ(sections[3], empty);
}

TEST_F(WindowTest, SettingsCancelledChangeNothing)
{
    key.Make(keyword + "Only");
    Start(english);
    Configure(keyword);
    HWND settings = Settings();
    ASSERT_TRUE(settings);
    EXPECT_EQ(kt::ItemText(settings, IDC_CFG_KEYWORDS), keyword);
    EXPECT_EQ(kt::ItemText(settings, IDC_CFG_PATH), report);
    EXPECT_EQ(SendMessageA(GetDlgItem(settings, IDC_CFG_DEFAULT_KEYWORDS), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(settings, IDC_CFG_KEYWORDS)));
    SetWindowTextA(GetDlgItem(settings, IDC_CFG_KEYWORDS), "zzqother");
    SetWindowTextA(GetDlgItem(settings, IDC_CFG_PATH), (report + ".other").c_str());
    kt::PressButton(settings, IDCANCEL);
    ASSERT_TRUE(kt::WaitUntilGone(settings, 10000));
    EXPECT_EQ(Search(), Fmt(IDS_FOUND_FMT, 1));
    EXPECT_NE(ReportAfterClosing().find("Search terms:\r\n" + keyword + "\r\n"), std::string::npos);
    EXPECT_FALSE(kt::FileExists(report + ".other"));
}

TEST_F(WindowTest, EmptyPathBecomesTheExpandedDefault)
{
    Start(english);
    HWND settings = Settings();
    ASSERT_TRUE(settings);
    kt::RemoteList(GetDlgItem(settings, IDC_CFG_ROOT_LIST)).SetChecked(2, false);
    SetWindowTextA(GetDlgItem(settings, IDC_CFG_PATH), "");
    kt::PressButton(settings, IDOK);
    ASSERT_TRUE(kt::WaitUntilGone(settings, 10000));
    settings = Settings();
    ASSERT_TRUE(settings);
    std::string path = kt::ItemText(settings, IDC_CFG_PATH);
    kt::PressButton(settings, IDCANCEL);
    kt::WaitUntilGone(settings, 10000);
    EXPECT_TRUE(std::regex_match(path, std::regex("C:\\\\Klarner-Report-\\d\\d\\.\\d\\d\\.\\d{4}\\.txt"))) << path;
}

TEST_F(WindowTest, FailedRemovalsStayTickedAndAreReported)
{
    key.Make(keyword + "Lock\\Mid\\Denied");
    ASSERT_TRUE(kt::DenyRead(HKEY_CURRENT_USER, key.Below(keyword + "Lock\\Mid\\Denied")));
    const std::string run = kt::Utf8(kRunKeyPath);
    // The Run key is shared by the whole prefix: whatever happens, it is opened up again
    // (declared after the guard, so it goes first) and the value goes.
    kt::AllowAll(HKEY_LOCAL_MACHINE, run);
    kt::RunValueGuard tray("C:\\vm\\vmtray.exe");
    ASSERT_TRUE(tray.Set());
    struct OpenUpAgain
    {
        std::string run;
        ~OpenUpAgain() { kt::AllowAll(HKEY_LOCAL_MACHINE, run); }
    } openUp{ run };
    ASSERT_TRUE(kt::DenyWrite(HKEY_LOCAL_MACHINE, run));
    Start(english);
    Configure(keyword + ",vmtray", true);
    EXPECT_EQ(Search(), Fmt(IDS_FOUND_FMT, 2));
    ASSERT_EQ(list->Count(), 2);
    EXPECT_EQ(list->Text(0, 1), key.Full(keyword + "Lock"));
    EXPECT_EQ(list->Text(1, 1), kt::Utf8(kTrayValueFinding));
    EXPECT_EQ(list->Text(1, 2), "V");
    list->SetChecked(0, true);
    list->SetChecked(1, true);
    kt::MessageBoxInfo failed = RemoveTickedAndAnswer();
    EXPECT_EQ(failed.text, Str(IDS_REMOVE_FAILED));
    EXPECT_EQ(failed.caption, Str(IDS_ERROR_CAPTION));
    kt::Sync(dlg);
    EXPECT_TRUE(kt::WaitForMessageBox(process.id, 0).hwnd == nullptr) << "one message per pass";
    ASSERT_EQ(list->Count(), 2);
    EXPECT_TRUE(list->Checked(0));
    EXPECT_TRUE(list->Checked(1));
    std::string text = ReportAfterClosing();
    std::string suffix = Str(IDS_REMOVE_FAILED_SUFFIX);
    EXPECT_NE(text.find(key.Full(keyword + "Lock") + suffix + "\r\n"), std::string::npos);
    EXPECT_NE(text.find(kt::Utf8(kTrayValueFinding) + suffix + "\r\n"), std::string::npos);
    EXPECT_TRUE(kt::ValueExists(HKEY_LOCAL_MACHINE, run, "vmtray"));
}

TEST_F(WindowTest, ClearEmptiesTheListAndClosesTheReport)
{
    key.Make(keyword + "One");
    Start(english);
    Configure(keyword);
    EXPECT_EQ(Search(), Fmt(IDS_FOUND_FMT, 1));
    HANDLE reader = CreateFileA(report.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(reader, INVALID_HANDLE_VALUE) << "the report is open while results are shown";
    if (reader != INVALID_HANDLE_VALUE)
        CloseHandle(reader);
    kt::PressButton(dlg, IDC_CLEAR);
    EXPECT_TRUE(kt::WaitUntil([&] { return list->Count() == 0; }));
    kt::Sync(dlg);
    EXPECT_EQ(Text(IDOK), Str(IDS_OK_SEARCH));
    EXPECT_FALSE(Enabled(IDC_CLEAR));
    reader = CreateFileA(report.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE) << "the clear button closed the report";
    if (reader != INVALID_HANDLE_VALUE)
        CloseHandle(reader);
    EXPECT_EQ(Search(), Fmt(IDS_FOUND_FMT, 1));
    std::string text = ReportAfterClosing();
    EXPECT_NE(text.find("\tVelmora Klarner\r\n"), text.rfind("\tVelmora Klarner\r\n")) << "a second section";
}

TEST_F(WindowTest, CancelDuringASearchShowsWhatWasFoundThenASecondCancelCloses)
{
    keyword = treeKeyword;
    MountLargeTree("Big");
    Start(english);
    Configure(keyword);
    kt::PressButton(dlg, IDOK);
    EXPECT_TRUE(kt::WaitUntil([&] { return Text(IDCANCEL) == Str(IDS_CANCEL_SEARCHING); }));
    EXPECT_EQ(Text(IDC_STATUS), Str(IDS_STATUS_SEARCHING));
    EXPECT_FALSE(Enabled(IDOK));
    kt::SaveScreenshot(dlg, "main-searching-en");
    kt::PressButton(dlg, IDCANCEL);
    kt::MessageBoxInfo done = Box();
    ASSERT_TRUE(done.hwnd);
    int found = list->Count();
    EXPECT_LT(found, 60) << "the search ended early";
    EXPECT_EQ(done.text, found ? Fmt(IDS_FOUND_FMT, found) : Str(IDS_FOUND_NONE));
    Answer(done);
    EXPECT_TRUE(IsWindow(dlg)) << "the first Cancel only stops the search";

    kt::PressButton(dlg, IDC_CLEAR);
    kt::Sync(dlg);
    kt::PressButton(dlg, IDOK);
    EXPECT_TRUE(kt::WaitUntil([&] { return Text(IDCANCEL) == Str(IDS_CANCEL_SEARCHING); }));
    kt::PressButton(dlg, IDCANCEL);
    kt::PressButton(dlg, IDCANCEL);
    EXPECT_EQ(process.Wait(15000), 0u) << "a second Cancel closes the window and the process ends";
}


TEST_F(WindowTest, TheStatusLineCountsTheKeysWhileASearchRuns)
{
    keyword = treeKeyword;
    MountLargeTree("Progress");
    Start(english);
    Configure(keyword);
    kt::PressButton(dlg, IDOK);
    CString format;
    format.LoadString(IDS_STATUS_PROGRESS_FMT);
    const std::string lead = std::string(format).substr(0, std::string(format).find('%'));
    auto count = [&]() -> long {
        std::string status = Text(IDC_STATUS);
        return status.rfind(lead, 0) == 0 ? atol(status.c_str() + lead.size()) : -1;
    };
    long first = 0;
    ASSERT_TRUE(kt::WaitUntil([&] { return (first = count()) > 0; }, 30000)) << Text(IDC_STATUS);
    EXPECT_TRUE(kt::WaitUntil([&] { return count() > first; }, 30000)) << "the count goes up";
    kt::MessageBoxInfo done = Box();
    ASSERT_TRUE(done.hwnd);
    Answer(done);
    kt::Sync(dlg);
    EXPECT_EQ(Text(IDC_STATUS), Str(IDS_STATUS_DONE)) << "the final status is the usual one";
}

TEST_F(WindowTest, NamesBeyondTheCodePageAreListedAndRemovedExactly)
{
    const std::wstring kw = kt::Widen(keyword);
    const std::wstring zhe = L"\x0416", chinese = L"\x4E2D\x6587";
    ASSERT_TRUE(kt::CreateKeyW(HKEY_CURRENT_USER, kt::Widen(key.Below("")) + zhe + L"\\" + kw + chinese));
    ASSERT_TRUE(kt::CreateKeyW(HKEY_CURRENT_USER, kt::Widen(key.Below("")) + L"?\\" + kw + chinese));
    Start(english);
    Configure(keyword);
    EXPECT_EQ(Search(), Fmt(IDS_FOUND_FMT, 2));
    ASSERT_EQ(list->Count(), 2);
    std::vector<std::wstring> shown = { list->TextW(0, 1), list->TextW(1, 1) };
    std::sort(shown.begin(), shown.end());
    const std::wstring withZhe = kt::Widen(key.Full("")) + zhe + L"\\" + kw + chinese;
    const std::wstring withMark = kt::Widen(key.Full("")) + L"?\\" + kw + chinese;
    EXPECT_EQ(shown, (std::vector<std::wstring>{ withMark, withZhe }));
    int zheItem = list->TextW(0, 1) == withZhe ? 0 : 1;
    list->SetChecked(zheItem, true);
    kt::PressButton(dlg, IDOK);
    Answer(Box());
    ASSERT_TRUE(kt::WaitUntil([&] { return list->Count() == 1; }));
    EXPECT_EQ(list->TextW(0, 1), withMark);
    EXPECT_FALSE(kt::KeyExistsW(HKEY_CURRENT_USER, withZhe.substr(18)));
    EXPECT_TRUE(kt::KeyExistsW(HKEY_CURRENT_USER, withMark.substr(18)));
    EXPECT_NE(ReportAfterClosing().find("\r\n" + key.Full("") + "<U+0416>\\" + keyword + "<U+4E2D><U+6587>\r\n"),
              std::string::npos);
}

TEST_F(WindowTest, WithoutABackupNothingIsRemovedAndTheItemStaysTicked)
{
    key.Make(keyword + "Kept\\Sub");
    // The report opens, but its name leaves no room for a backup's: a name holds 255 characters.
    std::string stem = kt::UniqueName("w");
    stem.resize(240, 'w');
    report = "C:\\" + stem + ".txt";
    Start(english);
    Configure(keyword);
    EXPECT_EQ(Search(), Fmt(IDS_FOUND_FMT, 1));
    list->SetChecked(0, true);
    EXPECT_EQ(RemoveTickedAndAnswer().text, Str(IDS_REMOVE_FAILED));
    kt::Sync(dlg);
    EXPECT_TRUE(kt::WaitForMessageBox(process.id, 0).hwnd == nullptr) << "one message per pass";
    EXPECT_TRUE(list->Checked(0));
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, key.Below(keyword + "Kept\\Sub")));
    EXPECT_NE(ReportAfterClosing().find(key.Full(keyword + "Kept") + Str(IDS_REMOVE_FAILED_SUFFIX) + "\r\n"),
              std::string::npos);
    DeleteFileA(report.c_str());
}

TEST_F(WindowTest, ADriversServiceKeyGoesOnlyWithItsFilterEntriesAndReferencesShowTheirReason)
{
    const std::string driver = keyword + "drv";
    // A class whose server lay in the product's folder: the window follows references always.
    const kt::KeyRemover registration{ HKEY_CURRENT_USER, "Software\\Classes\\CLSID\\{6B1E2C3D-4F50-4A61-8B72-93A4B5C6D799}" };
    const std::string server = "C:\\Program Files\\" + keyword + "\\shell.dll";
    ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, (registration.path + "\\InprocServer32").c_str(), nullptr, REG_SZ,
                              server.c_str(), static_cast<DWORD>(server.size() + 1)), ERROR_SUCCESS);
    kt::ScratchService service(driver);
    ASSERT_TRUE(service.Created());
    const kt::KeyRemover deviceClass{ HKEY_LOCAL_MACHINE,
                                      "SYSTEM\\CurrentControlSet\\Control\\Class\\{" + kt::UniqueName("KLTWINDOW") + "}" };
    ASSERT_TRUE(kt::SetMultiString(HKEY_LOCAL_MACHINE, deviceClass.path, "UpperFilters", { "partmgr", driver }));
    Start(english);
    Configure(keyword, true, true);
    EXPECT_EQ(Search(), Fmt(IDS_FOUND_FMT, 3));
    ASSERT_EQ(list->Count(), 3);
    ASSERT_EQ(list->Text(0, 2), "K");
    ASSERT_EQ(list->Text(1, 2), "F");
    EXPECT_EQ(list->Text(2, 1), "HKEY_CURRENT_USER\\" + registration.path);
    EXPECT_EQ(list->Text(2, 3), "InprocServer32 = " + server + ", file missing");
    EXPECT_FALSE(list->Checked(2)) << "unticked, as every finding";
    const std::string entry = list->Text(1, 1);
    // In the registry's own spelling of its system keys, which the test does not assume.
    EXPECT_EQ(_stricmp(entry.c_str(), ("HKEY_LOCAL_MACHINE\\" + deviceClass.path + "\\UpperFilters: " + driver).c_str()), 0)
        << entry;

    // The key alone: the list still names the driver, so the key stays, and the window says why.
    list->SetChecked(0, true);
    EXPECT_EQ(RemoveTickedAndAnswer().text, Str(IDS_FILTER_STILL_NAMES));
    EXPECT_EQ(list->Count(), 3);
    EXPECT_EQ(service.OpenError(), 0u);

    // The entry alone: it goes, the key stays.
    list->SetChecked(0, false);
    list->SetChecked(1, true);
    kt::PressButton(dlg, IDOK);
    Answer(Box());
    ASSERT_TRUE(kt::WaitUntil([&] { return list->Count() == 2; }));
    EXPECT_EQ(kt::MultiString(HKEY_LOCAL_MACHINE, deviceClass.path, "UpperFilters"), std::vector<std::string>{ "partmgr" });
    EXPECT_EQ(service.OpenError(), 0u);
    const std::string text = ReportAfterClosing();
    EXPECT_NE(text.find(Str(IDS_REMOVE_FAILED_SUFFIX) + "\r\n" + entry + "\r\n"), std::string::npos) << text;
}

TEST_F(WindowTest, TheStartUpValueIsBackedUpAndComesBackByUndoAndFromTheBackup)
{
    const std::string run = kt::Utf8(kRunKeyPath);
    kt::RunValueGuard tray("C:\\vm\\vmtray.exe --quiet");
    ASSERT_TRUE(tray.Set());
    Start(english);
    Configure(keyword + ",vmtray", true);
    EXPECT_EQ(Search(), Fmt(IDS_FOUND_FMT, 1));
    ASSERT_EQ(list->Text(0, 2), "V");
    list->SetChecked(0, true);
    kt::PressButton(dlg, IDOK);
    Answer(Box());
    ASSERT_TRUE(kt::WaitUntil([&] { return list->Count() == 0; }));
    EXPECT_FALSE(kt::ValueExists(HKEY_LOCAL_MACHINE, run, "vmtray"));
    std::vector<std::wstring> backups = Backups();
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_NE(backups[0].find(L"\r\n\"vmtray\"=\"C:\\\\vm\\\\vmtray.exe --quiet\"\r\n"), std::wstring::npos);
    // File > Undo last removal gives it back.
    Command(ID_FILE_UNDO);
    Answer(Box());
    kt::MessageBoxInfo undone = Box();
    EXPECT_EQ(undone.text, Str(IDS_UNDO_DONE));
    Answer(undone);
    EXPECT_TRUE(kt::ValueExists(HKEY_LOCAL_MACHINE, run, "vmtray"));
    // The backup stays one that the registry editor imports.
    ASSERT_EQ(RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, run.c_str(), "vmtray"), ERROR_SUCCESS);
    EXPECT_EQ(kt::Run("reg.exe import \"" + kt::BackupsOf(report)[0] + "\""), 0u);
    char data[64] = "";
    DWORD size = sizeof data;
    EXPECT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, run.c_str(), "vmtray", RRF_RT_REG_SZ, nullptr, data, &size), 0);
    EXPECT_STREQ(data, "C:\\vm\\vmtray.exe --quiet");
}

TEST_F(WindowTest, AnOfflineInstallationIsListedInItsOwnTermsWhileItsHivesAreLoaded)
{
    // An installation whose disk drives' list names a driver that has no service key.
    char full[MAX_PATH];
    ASSERT_GT(GetFullPathNameA((kt::ScratchDir("window-offline") + "Windows").c_str(), MAX_PATH, full, nullptr), 0u);
    const std::string windows = full, build = "Software\\KlarnerWindowOffline" + keyword;
    const std::string disk = "ControlSet001\\Control\\Class\\{4d36e967-e325-11ce-bfc1-08002be10318}";
    const std::string filters = std::string("partmgr") + '\0' + "gone" + keyword + '\0' + '\0';
    const DWORD current = 1;
    ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, (build + "\\Select").c_str(), "Current", REG_DWORD, &current, sizeof current), 0);
    ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, (build + "\\" + disk).c_str(), "UpperFilters", REG_MULTI_SZ, filters.data(),
                              static_cast<DWORD>(filters.size())),
              0);
    ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, (build + "\\ControlSet001\\Services\\partmgr").c_str(), "Start", REG_DWORD,
                              &current, sizeof current),
              0);
    ASSERT_TRUE(kt::SaveHive(HKEY_CURRENT_USER, build, windows + "\\System32\\config\\SYSTEM"));
    kt::DeleteTree(HKEY_CURRENT_USER, build);

    Start(english);
    Configure(keyword, true);
    HWND settings = Settings();
    ASSERT_TRUE(settings);
    SetWindowTextA(GetDlgItem(settings, IDC_CFG_OFFLINE), windows.c_str());
    kt::PressButton(settings, IDC_CFG_DANGLING);
    kt::PressButton(settings, IDOK);
    ASSERT_TRUE(kt::WaitUntilGone(settings, 10000));
    EXPECT_EQ(Search(), Fmt(IDS_FOUND_FMT, 1));
    EXPECT_EQ(list->Text(0, 1), "OFFLINE " + windows + ": HKEY_LOCAL_MACHINE\\SYSTEM\\" + disk + "\\UpperFilters: gone" + keyword);
    EXPECT_TRUE(kt::KeyExists(HKEY_LOCAL_MACHINE, "VelmoraKlarner-Offline-SYSTEM")) << "loaded while its findings are listed";
    kt::PressButton(dlg, IDC_CLEAR);
    EXPECT_TRUE(kt::WaitUntil([] { return !kt::KeyExists(HKEY_LOCAL_MACHINE, "VelmoraKlarner-Offline-SYSTEM"); }));
}

TEST_F(WindowTest, AboutFromTheSystemMenuAndFromTheCommand)
{
    Start(english);
    PostMessageA(dlg, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND about = kt::WaitForWindow(process.id, "#32770", 20000, dlg);
    ASSERT_TRUE(about);
    EXPECT_EQ(kt::WindowText(about), "About Velmora Klarner");
    EXPECT_FALSE(IsWindowEnabled(dlg)) << "modal to the main window";
    kt::SaveScreenshot(about, "about-en");
    kt::PressButton(about, IDOK);
    ASSERT_TRUE(kt::WaitUntilGone(about, 10000));
    Command(ID_HELP_ABOUT);
    about = kt::WaitForWindow(process.id, "#32770", 20000, dlg);
    ASSERT_TRUE(about);
    EXPECT_EQ(kt::WindowText(about), "About Velmora Klarner");
    kt::PressButton(about, IDOK);
    EXPECT_TRUE(kt::WaitUntilGone(about, 10000));
}

TEST_F(WindowTest, GermanWindowsForTheEye)
{
    kt::UseLanguage("de-de");
    keyword = treeKeyword + "G";
    key.Make(keyword + "Eins");
    key.Make(keyword + "Zwei");
    Start(StagedProgram("de-de"));
    kt::SaveScreenshot(dlg, "main-idle-de");
    HWND settings = Settings();
    ASSERT_TRUE(settings);
    kt::SaveScreenshot(settings, "settings-de");
    kt::PressButton(settings, IDCANCEL);
    kt::WaitUntilGone(settings, 10000);
    Command(ID_HELP_ABOUT);
    HWND about = kt::WaitForWindow(process.id, "#32770", 20000, dlg);
    ASSERT_TRUE(about);
    kt::SaveScreenshot(about, "about-de");
    kt::PressButton(about, IDOK);
    kt::WaitUntilGone(about, 10000);

    MountLargeTree("Gross");
    Configure(keyword);
    kt::PressButton(dlg, IDOK);
    kt::WaitUntil([&] { return Text(IDCANCEL) == Str(IDS_CANCEL_SEARCHING); });
    kt::SaveScreenshot(dlg, "main-searching-de");
    kt::MessageBoxInfo done = Box();
    ASSERT_TRUE(done.hwnd);
    EXPECT_EQ(done.text, Fmt(IDS_FOUND_FMT, 32));
    Answer(done);
    list->SetChecked(0, true);
    list->SetChecked(2, true);
    kt::SaveScreenshot(dlg, "main-results-de");
    kt::PressButton(dlg, IDOK);
    kt::MessageBoxInfo confirm = Box();
    ASSERT_TRUE(confirm.hwnd);
    EXPECT_EQ(confirm.caption, Str(IDS_REMOVE_CAPTION));
    kt::SaveScreenshot(confirm.hwnd, "confirm-de");
    Answer(confirm, IDCANCEL);
    EXPECT_EQ(list->Count(), 32) << "cancelled: nothing removed";
}

}  // namespace
