// The main window driven as a person would: klarner.exe on the Xvfb display, its dialogs
// found by control id, buttons pressed, list items ticked, message boxes read and
// answered, the registry and the report checked, screenshots saved.
#include <gtest/gtest.h>
#include <winsock2.h>
#include "RemoteWindow.h"
#include "TestSupport.h"
#include "../engine/registry/Constants.h"
#include "../engine/kinds/KindsTable.h"
#include "../framework/AfxResource.h"
#include "../framework/CString.h"
#include "../resources/resource.h"
#include "../ui/KlarnerDlg.h"
#include <ws2spi.h>
#include <algorithm>
#include <cstddef>
#include <map>
#include <regex>
#include <thread>

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

// A string of the language library loaded now, in Unicode, read apart from the program's own
// texts.
std::wstring WStr(UINT id)
{
    wchar_t text[4096] = L"";
    const int length = LoadStringW(AfxGetResourceHandle(), id, text, 4096);
    return std::wstring(text, length > 0 ? static_cast<size_t>(length) : 0);
}

std::wstring ClipboardText()
{
    std::wstring text;
    if (!OpenClipboard(nullptr))
        return L"<clipboard busy>";
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const wchar_t* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = chars;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

// A top-level window of any process, of this class and (when given) with this title.
HWND WaitForAnyWindow(const char* className, const char* title, DWORD timeoutMs)
{
    HWND found = nullptr;
    kt::WaitUntil([&] { return (found = FindWindowA(className, title)) != nullptr && IsWindowVisible(found); }, timeoutMs);
    return found;
}

std::string StagedProgram(const char* language)
{
    std::string dir = kt::ScratchDir(std::string("window-") + language);
    kt::StageProgram(dir, { language });
    return dir + "klarner.exe";
}

// The large tree that the searches taking seconds walk (Cancel, the status line's count, the
// German screenshots): 200 groups of 100 keys, written once per program run and mounted below a
// test's own key only while that test runs. Thirty groups are named treeKeyword + "Gx" and their
// number, thirty others treeKeyword + "C" and theirs, spread over the tree: a search for
// treeKeyword finds 60 groups, one for treeKeyword + "G" 30.
const int kTreeGroups = 200;
const int kTreeLeaves = 100;

std::vector<std::string> TreeGroups(const std::string& keyword)
{
    std::vector<std::string> groups;
    for (int g = 0; g < kTreeGroups; ++g) {
        const int place = g % 20;
        const char* name = place == 0 || place == 7 || place == 13 ? "Gx" : place == 3 || place == 10 || place == 16 ? "C" : nullptr;
        groups.push_back((name ? keyword + name : std::string("group")) + std::to_string(g));
    }
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
    // A control's rectangle in the dialog's client coordinates.
    RECT Placed(int id)
    {
        RECT rect = {};
        GetWindowRect(Item(id), &rect);
        MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&rect), 2);
        return rect;
    }
    // The row whose kind column says `kind`, or -1.
    int RowOfKind(UINT kindName)
    {
        for (int i = 0; i < list->Count(); ++i)
            if (list->Text(i, 4) == Str(kindName))
                return i;
        return -1;
    }
    // Selects the one row and returns the details line once it speaks of that row.
    std::string SelectAndReadDetails(int row)
    {
        list->Select(-1, false);
        list->Select(row, true, true);
        const std::string kind = list->Text(row, 4) + ": " + list->Text(row, 1);
        std::string details;
        kt::WaitUntil([&] { return (details = Text(IDC_DETAILS)).rfind(kind, 0) == 0; });
        return details;
    }
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

TEST_F(WindowTest, WithTheDefaultSettingsTheListHoldsTheWalksKeysInOrderAndTheTrayValueLastByItsOwnPath)
{
    // The default keywords and leftovers by reference, as a new user leaves them: the machine's
    // tray value whose program is gone is found by the start-up kinds too, and is listed as ever.
    const std::string tag = std::to_string(GetCurrentProcessId());
    const kt::KeyRemover user{ HKEY_CURRENT_USER, "Software\\VelmoraWin" + tag + "A" };
    const kt::KeyRemover machine{ HKEY_LOCAL_MACHINE, "SOFTWARE\\VelmoraWin" + tag + "B" };
    ASSERT_TRUE(kt::CreateKey(user.root, user.path) && kt::CreateKey(machine.root, machine.path));
    kt::RunValueGuard tray(("C:\\Program Files\\Velmora\\Vigilo+\\vmtray" + tag + ".exe").c_str());
    ASSERT_TRUE(tray.Set());
    Start(english);
    HWND settings = Settings();
    ASSERT_TRUE(settings);
    EXPECT_EQ(SendMessageA(GetDlgItem(settings, IDC_CFG_REFERENCES), BM_GETCHECK, 0, 0), BST_CHECKED);
    SetWindowTextA(GetDlgItem(settings, IDC_CFG_PATH), report.c_str());
    kt::PressButton(settings, IDOK);
    ASSERT_TRUE(kt::WaitUntilGone(settings, 10000));
    Search();
    const std::vector<std::string> paths = ListPaths();
    const auto at = [&](const std::string& path) { return std::find(paths.begin(), paths.end(), path) - paths.begin(); };
    const std::string tray_path = kt::Utf8(kTrayValueFinding);
    ASSERT_FALSE(paths.empty());
    EXPECT_LT(at("HKEY_CURRENT_USER\\" + user.path), at("HKEY_LOCAL_MACHINE\\Software\\VelmoraWin" + tag + "B")) << paths.size();
    EXPECT_LT(at("HKEY_LOCAL_MACHINE\\Software\\VelmoraWin" + tag + "B"), static_cast<long>(paths.size()));
    EXPECT_EQ(paths.back(), tray_path) << "the tray value last, by its own path";
    EXPECT_EQ(std::count(paths.begin(), paths.end(), tray_path), 1) << "once: the default list names it once";
    const int last = list->Count() - 1;
    EXPECT_EQ(list->Text(last, 2), "V");
    EXPECT_NE(list->Text(last, 3).find("file missing"), std::string::npos) << "its reason in the reasons column";
    EXPECT_NE(ReportAfterClosing().find("\r\n" + tray_path + "\r\n"), std::string::npos) << "the path alone in the report";
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

// Every control of the main dialog, the text above the status line among them (IDC_STATIC).
const int kMainControls[] = { IDC_PICTURE, IDC_STATIC, IDC_STATUS, IDC_RESULT_LIST, IDC_DETAILS, IDC_SELECT_ALL,
                              IDC_SETTINGS, IDC_CLEAR, IDOK, IDCANCEL };

TEST_F(WindowTest, GrowsAndMaximisesWithTheListTakingTheRoomAndNeverShrinksBelowItsTemplate)
{
    key.Make(keyword + "One");
    key.Make(keyword + "Two");
    Start(english);
    Configure(keyword);
    EXPECT_EQ(Search(), Fmt(IDS_FOUND_FMT, 2));
    const LONG style = GetWindowLongA(dlg, GWL_STYLE);
    EXPECT_TRUE((style & WS_THICKFRAME) && (style & WS_MAXIMIZEBOX)) << "a frame to pull and a maximise button";
    RECT window = {};
    GetWindowRect(dlg, &window);
    const int width = window.right - window.left, height = window.bottom - window.top;
    const RECT listBefore = Placed(IDC_RESULT_LIST), okBefore = Placed(IDOK), settingsBefore = Placed(IDC_SETTINGS),
               pictureBefore = Placed(IDC_PICTURE), statusBefore = Placed(IDC_STATUS);
    HWND listWindow = Item(IDC_RESULT_LIST);
    auto everythingInside = [&](const char* when) {
        RECT client = {}, listClient = {};
        GetClientRect(dlg, &client);
        for (int id : kMainControls) {
            const RECT rect = Placed(id);
            EXPECT_TRUE(rect.left >= 0 && rect.top >= 0 && rect.right <= client.right && rect.bottom <= client.bottom &&
                        rect.right > rect.left && rect.bottom > rect.top)
                << when << ": control " << id;
        }
        // No column reaches past the list: nothing has to be scrolled sideways to be seen.
        GetClientRect(listWindow, &listClient);
        int columns = 0;
        for (int column = 0; column < 5; ++column)
            columns += list->ColumnWidth(column);
        EXPECT_LE(columns, listClient.right) << when;
        EXPECT_GE(list->ColumnWidth(4), list->StringWidth(Str(IDS_KIND_KEY))) << when << ": the kind whole";
    };
    everythingInside("at the start");

    // Larger by 300 x 200: the list takes it all; buttons keep to the right and bottom edges, the
    // picture and the texts to the top.
    SetWindowPos(dlg, nullptr, 0, 0, width + 300, height + 200, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ASSERT_TRUE(kt::WaitUntil([&] { return Placed(IDOK).right == okBefore.right + 300; }));
    const RECT listLarger = Placed(IDC_RESULT_LIST);
    EXPECT_EQ(listLarger.right - listLarger.left, listBefore.right - listBefore.left + 300);
    EXPECT_EQ(listLarger.bottom - listLarger.top, listBefore.bottom - listBefore.top + 200);
    EXPECT_EQ(Placed(IDOK).top, okBefore.top + 200);
    EXPECT_EQ(Placed(IDC_SETTINGS).left, settingsBefore.left);
    EXPECT_EQ(Placed(IDC_SETTINGS).top, settingsBefore.top + 200);
    EXPECT_EQ(Placed(IDC_STATUS).right, statusBefore.right + 300) << "the status line is as wide as the window";
    const RECT picture = Placed(IDC_PICTURE);
    EXPECT_TRUE(EqualRect(&picture, &pictureBefore));
    everythingInside("larger");
    // With the room, the paths are shown whole.
    for (int i = 0; i < list->Count(); ++i)
        EXPECT_GE(list->ColumnWidth(1), list->StringWidth(list->Text(i, 1)));

    PostMessageA(dlg, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    ASSERT_TRUE(kt::WaitUntil([&] { return IsZoomed(dlg) && Placed(IDC_RESULT_LIST).right > listLarger.right; }));
    kt::Sync(dlg);
    const RECT listMaximised = Placed(IDC_RESULT_LIST);
    EXPECT_GT(listMaximised.bottom - listMaximised.top, listLarger.bottom - listLarger.top);
    everythingInside("maximised");
    kt::SaveScreenshot(dlg, "main-maximised-en");
    PostMessageA(dlg, WM_SYSCOMMAND, SC_RESTORE, 0);
    ASSERT_TRUE(kt::WaitUntil([&] { return !IsZoomed(dlg); }));

    // The template's size is the smallest.
    SetWindowPos(dlg, nullptr, 0, 0, width / 2, height / 2, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    kt::Sync(dlg);
    GetWindowRect(dlg, &window);
    EXPECT_EQ(window.right - window.left, width);
    EXPECT_EQ(window.bottom - window.top, height);
    everythingInside("at the smallest");

    HWND settings = Settings();
    ASSERT_TRUE(settings);
    EXPECT_EQ(GetWindowLongA(settings, GWL_STYLE) & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0) << "the settings keep their size";
    kt::PressButton(settings, IDCANCEL);
    kt::WaitUntilGone(settings, 10000);
}

// A list view as common controls 6 has it, stood in for inside this process. Wine 8's list view
// has no groups at all (LVM_ENABLEGROUPVIEW changes nothing, LVM_INSERTGROUP keeps nothing), so
// the program's groups are read here from the messages it sends, answered as Windows answers.
class GroupRecorder
{
public:
    struct Group
    {
        int id;
        std::wstring header;
    };
    explicit GroupRecorder(HWND list) : m_list(list)
    {
        s_active = this;
        m_previous = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Proc)));
    }
    ~GroupRecorder()
    {
        if (IsWindow(m_list))
            SetWindowLongPtrA(m_list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_previous));
        s_active = nullptr;
    }
    std::vector<std::wstring> Headers() const
    {
        std::vector<std::wstring> headers;
        for (const Group& group : groups)
            headers.push_back(group.header);
        return headers;
    }
    // The group a row went into, by the value the row carries.
    int GroupOf(LPARAM data) const
    {
        const auto at = itemGroups.find(data);
        return at == itemGroups.end() ? -1 : at->second;
    }
    int GroupId(size_t index) const { return index < groups.size() ? groups[index].id : -2; }

    std::vector<Group> groups;
    std::map<LPARAM, int> itemGroups;
    bool enabled = false;

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        GroupRecorder& self = *s_active;
        switch (message) {
        case LVM_ENABLEGROUPVIEW: {
            const bool was = self.enabled;
            self.enabled = wParam != 0;
            return was == self.enabled ? 0 : 1;
        }
        case LVM_ISGROUPVIEWENABLED:
            return self.enabled;
        case LVM_INSERTGROUP: {
            const LVGROUP* group = reinterpret_cast<const LVGROUP*>(lParam);
            self.groups.push_back({ group->iGroupId, group->pszHeader ? group->pszHeader : L"" });
            return static_cast<LRESULT>(self.groups.size() - 1);
        }
        case LVM_SETGROUPINFO:
            for (Group& group : self.groups)
                if (group.id == static_cast<int>(wParam)) {
                    const LVGROUP* info = reinterpret_cast<const LVGROUP*>(lParam);
                    if (info->mask & LVGF_HEADER)
                        group.header = info->pszHeader;
                    return group.id;
                }
            return -1;
        case LVM_REMOVEGROUP:
            for (size_t at = 0; at < self.groups.size(); ++at)
                if (self.groups[at].id == static_cast<int>(wParam)) {
                    self.groups.erase(self.groups.begin() + static_cast<std::ptrdiff_t>(at));
                    return static_cast<LRESULT>(at);
                }
            return -1;
        case LVM_REMOVEALLGROUPS:
            self.groups.clear();
            return 0;
        case LVM_INSERTITEMA:
        case LVM_INSERTITEMW: {
            const LVITEMA* item = reinterpret_cast<const LVITEMA*>(lParam);
            if ((item->mask & LVIF_GROUPID) && (item->mask & LVIF_PARAM))
                self.itemGroups[item->lParam] = item->iGroupId;
            break;
        }
        default:
            break;
        }
        return CallWindowProcA(self.m_previous, hwnd, message, wParam, lParam);
    }

    static GroupRecorder* s_active;
    HWND m_list;
    WNDPROC m_previous = nullptr;
};
GroupRecorder* GroupRecorder::s_active = nullptr;

// A finding of each kind as the demo's leftovers give them, for the eye: its path and its reason.
const std::map<UINT, std::pair<std::wstring, std::wstring>> kEveryKindSamples = {
    { IDS_KIND_FILTER_ENTRY,
      { L"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e967-e325-11ce-bfc1-08002be10318}\\UpperFilters: vmfilter", L"" } },
    { IDS_KIND_SERVICE,
      { L"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VigiloUpdate",
        L"ImagePath = C:\\Program Files\\Vigilo Total\\vmupdate.exe, file missing" } },
    { IDS_KIND_PROVIDER_ORDER,
      { L"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\NetworkProvider\\Order\\ProviderOrder: VigiloNP",
        L"names the service VigiloNP, a finding" } },
    { IDS_KIND_TASK, { L"\\Nightly Scan", L"Exec = C:\\Program Files\\Vigilo Total\\vmscan.exe, file missing" } },
    { IDS_KIND_TRACE_SESSION, { L"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\WMI\\Autologger\\VigiloTrace", L"" } },
    { IDS_KIND_CLASS,
      { L"HKEY_CLASSES_ROOT\\CLSID\\{7C2E3D4F-5061-4B72-8C83-A4B5C6D7E801}",
        L"InprocServer32 = C:\\Program Files\\Vigilo Total\\vmshell.dll, file missing" } },
    { IDS_KIND_TYPE_LIBRARY,
      { L"HKEY_CLASSES_ROOT\\TypeLib\\{7C2E3D4F-5061-4B72-8C83-A4B5C6D7E802}",
        L"win64 = C:\\Program Files\\Vigilo Total\\vmshell.tlb, file missing" } },
    { IDS_KIND_INTERFACE,
      { L"HKEY_CLASSES_ROOT\\Interface\\{7C2E3D4F-5061-4B72-8C83-A4B5C6D7E803}", L"TypeLib = {7C2E3D4F-5061-4B72-8C83-A4B5C6D7E802}" } },
    { IDS_KIND_APPID,
      { L"HKEY_CLASSES_ROOT\\AppID\\{7C2E3D4F-5061-4B72-8C83-A4B5C6D7E804}", L"AppID of {7C2E3D4F-5061-4B72-8C83-A4B5C6D7E801}" } },
    { IDS_KIND_UNINSTALL_ENTRY,
      { L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{7C2E3D4F-5061-4B72-8C83-A4B5C6D7E805}",
        L"DisplayName = Vigilo Total Security" } },
    { IDS_KIND_CLASS_HANDLER,
      { L"HKEY_CLASSES_ROOT\\*\\shellex\\ContextMenuHandlers\\Vigilo Context Scan", L"names {7C2E3D4F-5061-4B72-8C83-A4B5C6D7E801}" } },
    { IDS_KIND_EVENT_SOURCE,
      { L"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Vigilo Total",
        L"EventMessageFile = C:\\Program Files\\Vigilo Total\\vmmsg.dll, file missing" } },
    { IDS_KIND_WINSOCK,
      { L"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\WinSock2\\Parameters\\Protocol_Catalog9\\Catalog_Entries64\\000000000012",
        L"PackedCatalogItem = C:\\Program Files\\Vigilo Total\\vmlsp.dll, file missing" } },
    { IDS_KIND_SECURITY_CENTER,
      { L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Security Center\\Provider\\Av\\{7C2E3D4F-5061-4B72-8C83-A4B5C6D7E806}",
        L"PRODUCTEXE = C:\\Program Files\\Vigilo Total\\vmav.exe, file missing" } },
    { IDS_KIND_APPROVAL,
      { L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved\\{7C2E3D4F-5061-4B72-8C83-A4B5C6D7E801}",
        L"names {7C2E3D4F-5061-4B72-8C83-A4B5C6D7E801}" } },
    { IDS_KIND_STARTUP_ENTRY,
      { L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\Vigilo Updater",
        L"C:\\Program Files\\Vigilo Total\\vmupd.exe, file missing" } },
    { IDS_KIND_STARTUP_VALUE, { L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\vmtray", L"" } },
    { IDS_KIND_FOLDER, { L"C:\\Program Files\\Vigilo Total", L"nothing installed names it" } },
    { IDS_KIND_FILE, { L"C:\\Windows\\System32\\drivers\\vmfilter.sys", L"ImagePath of the service vmfilter, a finding" } },
};

// What the window showed of a list with a finding of every kind, in the language loaded.
struct EveryKindSeen
{
    bool menuGrayedWithoutGroups = false;
    bool menuCheckedAndEnabled = false;
    std::string closingMessage;
    std::vector<std::wstring> paths, kinds, letters, headers, headersAfterFirst, headersAfterBoth;
    std::vector<int> itemGroups, groupIds;
    std::wstring fileDetails, fileTip;
    std::string fileTipAnsi;
    bool ungrouped = false, uncheckedWhenOff = false, groupedAgain = false;
    int countAfterRemoval = -1;
};

// Answers the confirmation of a removal and waits until the list has `count` rows.
void RemoveAndWait(DWORD self, HWND dialog, int count)
{
    kt::PressButton(dialog, IDOK);
    kt::MessageBoxInfo confirm = kt::WaitForMessageBox(self, 20000);
    kt::PressButton(confirm.hwnd, IDOK);
    kt::WaitUntilGone(confirm.hwnd, 10000);
    kt::WaitUntil([&] { return ListView_GetItemCount(GetDlgItem(dialog, IDC_RESULT_LIST)) == count; });
    kt::Sync(dialog);
}

// Runs the main dialog in this process (the language library loaded already) and, from a helper
// thread, searches once for nothing (so that removals have a report to go beside), hands it a
// list with a finding of every kind (the two keys real ones of the test), reads the list, its
// groups and a file's details, saves a screenshot, and with `remove` takes the two keys away.
EveryKindSeen RunEveryKind(const std::string& language, const std::string& keyword, const std::string& report,
                           const kt::ScratchKey& key, bool remove)
{
    EveryKindSeen seen;
    const DWORD self = GetCurrentProcessId();
    CKlarnerDlg dialog;
    std::thread helper([&] {
        HWND window = kt::WaitForDialogWithControl(self, IDC_RESULT_LIST, 20000);
        if (!window)
            return;
        HWND listWindow = GetDlgItem(window, IDC_RESULT_LIST);
        HMENU menu = GetMenu(window);
        seen.menuGrayedWithoutGroups = (GetMenuState(menu, ID_VIEW_GROUP_BY_KIND, MF_BYCOMMAND) & MF_GRAYED) != 0;

        kt::PressButton(window, IDC_SETTINGS);
        HWND settings = kt::WaitForDialogWithControl(self, IDC_CFG_DEFAULT_KEYWORDS, 20000);
        kt::RemoteList(GetDlgItem(settings, IDC_CFG_ROOT_LIST)).SetChecked(2, false);
        kt::PressButton(settings, IDC_CFG_DEFAULT_KEYWORDS);
        kt::MessageBoxInfo warning = kt::WaitForMessageBox(self, 20000);
        kt::PressButton(warning.hwnd, IDOK);
        kt::WaitUntilGone(warning.hwnd, 10000);
        SetWindowTextA(GetDlgItem(settings, IDC_CFG_KEYWORDS), (keyword + "Nowhere").c_str());
        SetWindowTextA(GetDlgItem(settings, IDC_CFG_PATH), report.c_str());
        kt::PressButton(settings, IDOK);
        kt::WaitUntilGone(settings, 10000);
        kt::PressButton(window, IDOK);
        kt::MessageBoxInfo none = kt::WaitForMessageBox(self, 60000);
        kt::PressButton(none.hwnd, IDOK);
        kt::WaitUntilGone(none.hwnd, 10000);

        GroupRecorder groups(listWindow);
        // The engine's order is the kinds table's; the second key comes last, to show that a
        // group keeps the engine's order and the rows their own.
        CmdListEntry* findings = nullptr;
        auto add = [&](const ILeftoverKind& kind, const std::wstring& path, const std::wstring& reason) {
            CmdListEntry* entry = CmdListAppend(&findings);
            wcsncpy(entry->path, path.c_str(), kPathChars - 1);
            wcsncpy(entry->reason, reason.c_str(), kPathChars - 1);
            entry->kind = kind.Identity().letter;
            entry->owner = &kind;
            if (kind.Identity().measured) {
                entry->size = 123456;
                entry->fileCount = 1;
            }
        };
        const ILeftoverKind* keyKind = LeftoverKinds().front();
        add(*keyKind, kt::Widen(key.Full(keyword + "First")), L"");
        for (const ILeftoverKind* kind : LeftoverKinds())
            if (kind != keyKind) {
                const auto sample = kEveryKindSamples.find(kind->Identity().nameId);
                if (sample != kEveryKindSamples.end())
                    add(*kind, sample->second.first, sample->second.second);
                else
                    add(*kind, L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vigilo\\" + kt::Widen(kind->Identity().recordName), L"");
            }
        add(*keyKind, kt::Widen(key.Full(keyword + "Second")), L"");
        PostMessageA(window, WM_WORKER_DONE, kWorkerSearched, reinterpret_cast<LPARAM>(findings));
        kt::MessageBoxInfo done = kt::WaitForMessageBox(self, 20000);
        seen.closingMessage = done.text;
        kt::PressButton(done.hwnd, IDOK);
        kt::WaitUntilGone(done.hwnd, 10000);

        CListCtrl rows;
        rows.m_hWnd = listWindow;
        for (int i = 0; i < rows.GetItemCount(); ++i) {
            seen.paths.push_back(rows.GetItemTextW(i, 1));
            seen.letters.push_back(rows.GetItemTextW(i, 2));
            seen.kinds.push_back(rows.GetItemTextW(i, 4));
            seen.itemGroups.push_back(groups.GroupOf(static_cast<LPARAM>(rows.GetItemData(i))));
        }
        for (size_t g = 0; g < groups.groups.size(); ++g)
            seen.groupIds.push_back(groups.GroupId(g));
        seen.headers = groups.Headers();
        const UINT state = GetMenuState(menu, ID_VIEW_GROUP_BY_KIND, MF_BYCOMMAND);
        seen.menuCheckedAndEnabled = (state & MF_CHECKED) && !(state & MF_GRAYED) && groups.enabled;

        // A file's details: its size and file count too.
        for (int i = 0; i < rows.GetItemCount(); ++i)
            if (seen.kinds[static_cast<size_t>(i)] == WStr(IDS_KIND_FILE)) {
                rows.SetItemState(i, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
                rows.SendMessage(LVM_ENSUREVISIBLE, static_cast<WPARAM>(i), FALSE);
            }
        kt::Sync(window);
        wchar_t details[4096] = L"";
        GetWindowTextW(GetDlgItem(window, IDC_DETAILS), details, 4096);
        seen.fileDetails = details;
        // The row's tip, asked as the list asks its parent when the pointer rests on a row (in
        // Unicode, as the window asks its list for; in ANSI, as an older list would). Wine's list
        // never asks: it shows no tips for its rows.
        const int fileRow = rows.SelectedItem();
        wchar_t tip[INFOTIPSIZE] = L"";
        NMLVGETINFOTIPW askW = {};
        askW.hdr = { listWindow, IDC_RESULT_LIST, static_cast<UINT>(LVN_GETINFOTIPW) };
        askW.pszText = tip;
        askW.cchTextMax = INFOTIPSIZE;
        askW.iItem = fileRow;
        SendMessageW(window, WM_NOTIFY, IDC_RESULT_LIST, reinterpret_cast<LPARAM>(&askW));
        seen.fileTip = tip;
        char tipAnsi[INFOTIPSIZE] = "";
        NMLVGETINFOTIPA askA = {};
        askA.hdr = { listWindow, IDC_RESULT_LIST, static_cast<UINT>(LVN_GETINFOTIPA) };
        askA.pszText = tipAnsi;
        askA.cchTextMax = INFOTIPSIZE;
        askA.iItem = fileRow;
        SendMessageA(window, WM_NOTIFY, IDC_RESULT_LIST, reinterpret_cast<LPARAM>(&askA));
        seen.fileTipAnsi = tipAnsi;
        SetWindowPos(window, nullptr, 0, 0, 1000, 720, SWP_NOMOVE | SWP_NOZORDER);
        kt::Sync(window);
        kt::SaveScreenshot(window, "main-every-kind-" + language);

        SendMessageA(window, WM_COMMAND, MAKEWPARAM(ID_VIEW_GROUP_BY_KIND, 0), 0);
        seen.ungrouped = !groups.enabled;
        seen.uncheckedWhenOff = !(GetMenuState(menu, ID_VIEW_GROUP_BY_KIND, MF_BYCOMMAND) & MF_CHECKED);
        SendMessageA(window, WM_COMMAND, MAKEWPARAM(ID_VIEW_GROUP_BY_KIND, 0), 0);
        seen.groupedAgain = groups.enabled;

        if (remove) {
            const int count = rows.GetItemCount();
            rows.SetCheck(0, TRUE);
            RemoveAndWait(self, window, count - 1);
            seen.headersAfterFirst = groups.Headers();
            rows.SetCheck(count - 2, TRUE);
            RemoveAndWait(self, window, count - 2);
            seen.headersAfterBoth = groups.Headers();
            seen.countAfterRemoval = rows.GetItemCount();
        }
        rows.m_hWnd = nullptr;
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
    dialog.DoModal();
    helper.join();
    return seen;
}

TEST_F(WindowTest, EveryKindIsNamedInItsColumnAndGroupedWithItsCountInBothLanguages)
{
    key.Make(keyword + "First");
    key.Make(keyword + "Second");
    InitCommonControls();
    const size_t kinds = LeftoverKinds().size();
    for (const char* language : { "en-us", "de-de" }) {
        SCOPED_TRACE(language);
        kt::UseLanguage(language);
        const bool english = std::string(language) == "en-us";
        const EveryKindSeen seen = RunEveryKind(english ? "en" : "de", keyword, report, key, english);
        EXPECT_TRUE(seen.menuGrayedWithoutGroups) << "View > Group by kind cannot be used where the list has no groups";
        EXPECT_EQ(seen.closingMessage, Fmt(IDS_FOUND_FMT, static_cast<int>(kinds) + 1));
        ASSERT_EQ(seen.paths.size(), kinds + 1);
        // The rows keep the engine's order; each says its kind by name, and keeps its letter.
        EXPECT_EQ(seen.paths.front(), kt::Widen(key.Full(keyword + "First")));
        EXPECT_EQ(seen.paths.back(), kt::Widen(key.Full(keyword + "Second")));
        std::vector<std::wstring> expectedHeaders;
        for (size_t k = 0; k < kinds; ++k) {
            const KindIdentity& identity = LeftoverKinds()[k]->Identity();
            const size_t row = k;  // the first key's row, then one row per kind
            EXPECT_EQ(seen.kinds[row], WStr(identity.nameId)) << identity.recordName;
            EXPECT_FALSE(seen.kinds[row].empty()) << identity.recordName;
            EXPECT_EQ(seen.letters[row], std::wstring(1, static_cast<wchar_t>(identity.letter)));
            EXPECT_EQ(seen.itemGroups[row], seen.groupIds.size() > k ? seen.groupIds[k] : -3) << identity.recordName;
            expectedHeaders.push_back(WStr(identity.nameId) + L" (" + (k == 0 ? L"2" : L"1") + L")");
        }
        EXPECT_EQ(seen.kinds.back(), seen.kinds.front());
        EXPECT_EQ(seen.itemGroups.back(), seen.itemGroups.front()) << "both keys in one group";
        // One group per kind, in the order the kinds first come, its count in its header.
        EXPECT_EQ(seen.headers, expectedHeaders);
        ASSERT_FALSE(seen.headers.empty());
        EXPECT_EQ(seen.headers.front(), english ? L"Key (2)" : L"Schl\u00fcssel (2)");
        EXPECT_TRUE(seen.menuCheckedAndEnabled) << "grouped by kind by default";
        EXPECT_TRUE(seen.ungrouped && seen.uncheckedWhenOff) << "View > Group by kind turns the groups off";
        EXPECT_TRUE(seen.groupedAgain);
        // A file's details: what it is, where, why, and its size and file count.
        const auto& file = kEveryKindSamples.at(IDS_KIND_FILE);
        EXPECT_EQ(seen.fileDetails.rfind(WStr(IDS_KIND_FILE) + L": " + file.first + L"\r\n" + WStr(IDS_COLUMN_REASON) + L": " +
                                             file.second + L"\r\n" + WStr(IDS_DETAIL_SIZE) + L": ",
                                         0),
                  0u)
            << kt::Utf8(seen.fileDetails);
        EXPECT_NE(seen.fileDetails.find(L"120"), std::wstring::npos) << "123,456 bytes: " << kt::Utf8(seen.fileDetails);
        EXPECT_NE(seen.fileDetails.find(L", " + WStr(IDS_DETAIL_FILES) + L": 1"), std::wstring::npos);
        EXPECT_EQ(seen.fileTip, seen.fileDetails) << "the row's tip tells the same";
        EXPECT_EQ(kt::Widen(seen.fileTipAnsi), seen.fileDetails);
        if (english) {
            // A removal counts the group again, and a group left empty goes.
            expectedHeaders.front() = L"Key (1)";
            EXPECT_EQ(seen.headersAfterFirst, expectedHeaders);
            expectedHeaders.erase(expectedHeaders.begin());
            EXPECT_EQ(seen.headersAfterBoth, expectedHeaders);
            EXPECT_EQ(seen.countAfterRemoval, static_cast<int>(kinds) - 1);
            EXPECT_FALSE(key.Exists(keyword + "First"));
            EXPECT_FALSE(key.Exists(keyword + "Second"));
        }
    }
}

TEST_F(WindowTest, TheDetailsTipAndMenuOfAFindingAndTheKeysOfTheList)
{
    key.Make(keyword + "One");
    key.Make(keyword + "Two");
    // A class whose server lay in the product's folder, with a reason too long for its column.
    const kt::KeyRemover registration{ HKEY_CURRENT_USER, "Software\\Classes\\CLSID\\{6B1E2C3D-4F50-4A61-8B72-93A4B5C6D7A1}" };
    const std::string server = "C:\\Program Files\\" + keyword +
                               " Shell Extensions\\For Every Explorer Window Of The Product\\shell-extension-of-the-product.dll";
    ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, (registration.path + "\\InprocServer32").c_str(), nullptr, REG_SZ,
                              server.c_str(), static_cast<DWORD>(server.size() + 1)), ERROR_SUCCESS);
    Start(english);
    Configure(keyword, false, true);
    EXPECT_EQ(Search(), Fmt(IDS_FOUND_FMT, 3));
    ASSERT_EQ(list->Count(), 3);
    EXPECT_EQ(Text(IDC_DETAILS), Str(IDS_DETAILS_HINT)) << "nothing selected yet";
    const int classRow = RowOfKind(IDS_KIND_CLASS);
    ASSERT_GE(classRow, 0);
    EXPECT_EQ(list->Text(classRow == 0 ? 1 : 0, 4), Str(IDS_KIND_KEY));
    const std::string reason = list->Text(classRow, 3);
    EXPECT_NE(reason.find(server), std::string::npos);

    // The whole reason, with the path and the kind, in the details line and the row's tip.
    const std::string expected = Str(IDS_KIND_CLASS) + ": HKEY_CURRENT_USER\\" + registration.path + "\r\n" +
                                 Str(IDS_COLUMN_REASON) + ": " + reason;
    EXPECT_EQ(SelectAndReadDetails(classRow), expected);
    const RECT details = Placed(IDC_DETAILS);
    EXPECT_GT(details.bottom - details.top, 0);
    EXPECT_GE(list->ColumnWidth(4), list->StringWidth(Str(IDS_KIND_CLASS))) << "the kind column is as wide as its names";
    kt::SaveScreenshot(dlg, "main-details-en");

    // The menu key opens the finding's menu below the selected row: Windows turns the key into
    // WM_CONTEXTMENU at (-1, -1), which is sent here as it would be (Wine's list makes none of a
    // key sent to it).
    const int keyRow = classRow == 0 ? 1 : 0, otherKey = classRow == 2 ? 1 : 2;
    list->Select(-1, false);
    list->Select(keyRow, true, true);
    PostMessageA(Item(IDC_RESULT_LIST), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(Item(IDC_RESULT_LIST)), MAKELPARAM(-1, -1));
    HWND menu = kt::WaitForWindow(process.id, "#32768", 10000);
    EXPECT_TRUE(menu) << "the context menu";
    SendMessageA(dlg, WM_CANCELMODE, 0, 0);
    EXPECT_TRUE(kt::WaitUntil([&] { return !IsWindow(menu) || !IsWindowVisible(menu); })) << "the menu closes";

    // Copy path, then the ticked paths one a line, in the list's order.
    Command(ID_FINDING_COPY_PATH);
    EXPECT_TRUE(kt::WaitUntil([&] { return ClipboardText() == kt::Widen(list->Text(keyRow, 1)); })) << kt::Utf8(ClipboardText());
    list->SetChecked(0, true);
    list->SetChecked(2, true);
    Command(ID_FINDING_COPY_TICKED);
    const std::wstring ticked = kt::Widen(list->Text(0, 1) + "\r\n" + list->Text(2, 1));
    EXPECT_TRUE(kt::WaitUntil([&] { return ClipboardText() == ticked; })) << kt::Utf8(ClipboardText());

    // Space ticks every selected row as the focused one goes, and clears them again.
    list->SetChecked(0, false);
    list->SetChecked(2, false);
    list->Select(-1, false);
    list->Select(2, true);
    list->Select(1, true, true);
    PostMessageA(Item(IDC_RESULT_LIST), WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_TRUE(kt::WaitUntil([&] { return list->Checked(1) && list->Checked(2); }));
    EXPECT_FALSE(list->Checked(0));
    PostMessageA(Item(IDC_RESULT_LIST), WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_TRUE(kt::WaitUntil([&] { return !list->Checked(1) && !list->Checked(2); }));
    // Ctrl+A selects every row.
    PostMessageA(Item(IDC_RESULT_LIST), WM_CHAR, 0x01, 0);
    EXPECT_TRUE(kt::WaitUntil([&] { return list->SelectedCount() == 3; }));

    // The registry editor, told to open at the key (Wine's own opens at its top whatever it is
    // told; Windows' opens at the key it last showed, which the program sets).
    const char applet[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Regedit";
    RegDeleteKeyValueA(HKEY_CURRENT_USER, applet, "LastKey");
    list->Select(-1, false);
    list->Select(otherKey, true, true);
    Command(ID_FINDING_OPEN_REGEDIT);
    HWND regedit = WaitForAnyWindow("RegEdit_RegEdit", nullptr, 20000);
    EXPECT_TRUE(regedit) << "the registry editor started";
    char last[1024] = "";
    DWORD size = sizeof last;
    RegGetValueA(HKEY_CURRENT_USER, applet, "LastKey", RRF_RT_REG_SZ, nullptr, last, &size);
    EXPECT_EQ(std::string(last), "Computer\\" + list->Text(otherKey, 1));
    if (regedit) {
        PostMessageA(regedit, WM_CLOSE, 0, 0);
        kt::WaitUntilGone(regedit, 10000);
    }
    RegDeleteKeyValueA(HKEY_CURRENT_USER, applet, "LastKey");
}

// Takes the deletions a test left for the restart out of PendingFileRenameOperations again, so
// that no later restart of the prefix carries them out.
void DropPendingBelow(const std::string& folder)
{
    const char sessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    std::vector<char> data(1 << 16);
    DWORD size = static_cast<DWORD>(data.size());
    if (RegGetValueA(HKEY_LOCAL_MACHINE, sessionManager, "PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr,
                     data.data(), &size) != ERROR_SUCCESS)
        return;
    std::vector<std::string> strings;
    for (const char* at = data.data(); at < data.data() + size && *at;) {
        strings.push_back(at);
        at += strings.back().size() + 1;
    }
    std::string kept;
    for (size_t at = 0; at + 1 < strings.size(); at += 2)
        if (_strnicmp(strings[at].c_str() + (strings[at].rfind("\\??\\", 0) == 0 ? 4 : 0), folder.c_str(), folder.size()) != 0)
            kept += strings[at] + '\0' + strings[at + 1] + '\0';
    kept += '\0';
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, sessionManager, "PendingFileRenameOperations", REG_MULTI_SZ, kept.data(),
                    static_cast<DWORD>(kept.size()));
}

TEST_F(WindowTest, AFileInUseLeavesTheRestartToTheUserAndAWinsockEntryItsAdvice)
{
    const std::string tag = std::to_string(GetCurrentProcessId());
    const std::string product = "C:\\Program Files\\" + keyword + " Suite\\";
    // A product folder whose file a program holds open.
    const std::string busy = "C:\\ProgramData\\" + keyword + " Busy";
    struct Leftovers
    {
        std::string busy;
        HANDLE held = INVALID_HANDLE_VALUE;
        ~Leftovers()
        {
            if (held != INVALID_HANDLE_VALUE)
                CloseHandle(held);
            DropPendingBelow(busy);
            for (const char* name : { "\\busy.dll", "\\other.txt" })
                DeleteFileA((busy + name).c_str());
            RemoveDirectoryA(busy.c_str());
        }
    } leftovers{ busy };
    CreateDirectoryA(busy.c_str(), nullptr);
    ASSERT_TRUE(kt::WriteFileBytes(busy + "\\busy.dll", "in use"));
    ASSERT_TRUE(kt::WriteFileBytes(busy + "\\other.txt", "free"));
    // Held by a program that lets it be moved (a log it writes): it waits for the restart.
    leftovers.held = CreateFileA((busy + "\\busy.dll").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(leftovers.held, INVALID_HANDLE_VALUE);
    // With a keyword of one's own a folder is a finding where a finding names it: the product's key.
    const kt::KeyRemover named{ HKEY_LOCAL_MACHINE, "SOFTWARE\\" + keyword + "Dirs" };
    ASSERT_TRUE(kt::SetStringValue(HKEY_LOCAL_MACHINE, named.path, "InstallDir", busy.c_str()));
    // A transport provider of the product whose DLL is gone, by its catalog number, with the
    // protocol's name inside; a Security Center registration by its GUID, with its product's name.
    const kt::KeyRemover catalog{ HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\WinSock2\\Parameters\\"
                                                      "Protocol_Catalog9\\Catalog_Entries64\\9" + tag + "7" };
    std::string packed(MAX_PATH + sizeof(WSAPROTOCOL_INFOW), '\0');
    const std::string dll = product + "vmlsp.dll";
    memcpy(&packed[0], dll.c_str(), dll.size());
    const DWORD catalogId = 97001;
    memcpy(&packed[MAX_PATH + offsetof(WSAPROTOCOL_INFOW, dwCatalogEntryId)], &catalogId, sizeof catalogId);
    packed[MAX_PATH + offsetof(WSAPROTOCOL_INFOW, ProviderId)] = 0x71;
    const std::wstring protocol = L"Vigilo Secure LSP";
    memcpy(&packed[MAX_PATH + offsetof(WSAPROTOCOL_INFOW, szProtocol)], protocol.c_str(), protocol.size() * sizeof(wchar_t));
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, catalog.path.c_str(), "PackedCatalogItem", REG_BINARY, packed.data(),
                              static_cast<DWORD>(packed.size())), ERROR_SUCCESS);
    const kt::KeyRemover center{ HKEY_LOCAL_MACHINE,
                                 "SOFTWARE\\Microsoft\\Security Center\\Provider\\Av\\{7C2E3D4F-5061-4B72-8C83-A4B5C6D7E8B1}" };
    ASSERT_TRUE(kt::SetStringValue(HKEY_LOCAL_MACHINE, center.path, "PRODUCTEXE", (product + "av.exe").c_str()));
    ASSERT_TRUE(kt::SetStringValue(HKEY_LOCAL_MACHINE, center.path, "DISPLAYNAME", "Vigilo Total Antivirus"));

    Start(english);
    Configure(keyword, true, true);
    EXPECT_EQ(Search(), Fmt(IDS_FOUND_FMT, 4));
    const int folderRow = RowOfKind(IDS_KIND_FOLDER), winsockRow = RowOfKind(IDS_KIND_WINSOCK),
              centerRow = RowOfKind(IDS_KIND_SECURITY_CENTER);
    ASSERT_TRUE(folderRow >= 0 && winsockRow >= 0 && centerRow >= 0) << list->Text(0, 4) << ", " << list->Text(1, 4);
    EXPECT_EQ(_stricmp(list->Text(winsockRow, 1).c_str(), ("HKEY_LOCAL_MACHINE\\" + catalog.path).c_str()), 0)
        << "the path stays the number, as the registry spells it";
    // The number and the GUID get their readable names in the details; the folder its size.
    EXPECT_NE(SelectAndReadDetails(winsockRow).find("\r\n" + Str(IDS_DETAIL_NAME) + ": Vigilo Secure LSP"), std::string::npos);
    EXPECT_NE(SelectAndReadDetails(centerRow).find("\r\n" + Str(IDS_DETAIL_NAME) + ": Vigilo Total Antivirus"),
              std::string::npos);
    const std::string folderDetails = SelectAndReadDetails(folderRow);
    EXPECT_NE(folderDetails.find("\r\n" + Str(IDS_DETAIL_SIZE) + ": "), std::string::npos) << folderDetails;
    EXPECT_NE(folderDetails.find(", " + Str(IDS_DETAIL_FILES) + ": 2"), std::string::npos) << folderDetails;

    // Explorer opens the folder's place, the folder selected in it.
    Command(ID_FINDING_OPEN_EXPLORER);
    HWND explorer = WaitForAnyWindow("ExplorerWClass", "ProgramData", 20000);
    EXPECT_TRUE(explorer) << "Explorer at C:\\ProgramData";
    if (explorer) {
        PostMessageA(explorer, WM_CLOSE, 0, 0);
        kt::WaitUntilGone(explorer, 10000);
    }

    // Everything in one pass: the messages as ever, then the offer to restart, "No" the default.
    for (int i = 0; i < 4; ++i)
        list->SetChecked(i, true);
    kt::PressButton(dlg, IDOK);
    Answer(Box());
    kt::MessageBoxInfo refused = Box();
    EXPECT_EQ(refused.text, Str(IDS_SECURITY_CENTER_REFUSED));
    Answer(refused);
    kt::MessageBoxInfo failed = Box();
    EXPECT_EQ(failed.text, Str(IDS_REMOVE_FAILED));
    Answer(failed);
    kt::MessageBoxInfo restart = Box();
    EXPECT_EQ(restart.caption, Str(IDS_RESTART_CAPTION));
    EXPECT_EQ(restart.text, Str(IDS_RESTART_QUESTION));
    EXPECT_EQ(GetWindowLongA(GetDlgItem(restart.hwnd, IDNO), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON) << "later is the default";
    EXPECT_TRUE(GetDlgItem(restart.hwnd, IDYES)) << "now is offered";
    kt::SaveScreenshot(restart.hwnd, "restart-offer-en");
    Answer(restart, IDNO);
    kt::Sync(dlg);
    EXPECT_TRUE(kt::WaitForMessageBox(process.id, 0).hwnd == nullptr) << "nothing more, and no restart";
    EXPECT_TRUE(process.Running());
    EXPECT_EQ(Text(IDC_STATUS), Fmt(IDS_STATUS_RESTART_FMT, 1));

    // The Winsock entry stays with what to do about it, selected so that its details say so.
    ASSERT_EQ(list->Count(), 2);
    const int stayed = RowOfKind(IDS_KIND_WINSOCK);
    ASSERT_GE(stayed, 0);
    const std::string advice = "netsh winsock reset, then restart Windows";
    EXPECT_NE(list->Text(stayed, 3).find("(" + advice + ")"), std::string::npos) << list->Text(stayed, 3);
    EXPECT_TRUE(kt::WaitUntil([&] { return Text(IDC_DETAILS).find("\r\n" + Str(IDS_DETAIL_ADVICE) + ": " + advice) != std::string::npos; }))
        << Text(IDC_DETAILS);
    kt::SaveScreenshot(dlg, "main-after-restart-offer-en");
    EXPECT_NE(ReportAfterClosing().find("\r\n" + busy + Str(IDS_REMOVED_AT_RESTART) + "\r\n"), std::string::npos);
}

// Wine takes the display's scale from LogPixels when a process starts; the value goes back to what
// it was however the test ends.
class LogPixelsGuard
{
public:
    explicit LogPixelsGuard(DWORD dpi)
    {
        DWORD size = sizeof m_old;
        m_had = RegGetValueA(HKEY_CURRENT_USER, kDesktop, "LogPixels", RRF_RT_REG_DWORD, nullptr, &m_old, &size) == ERROR_SUCCESS;
        m_set = RegSetKeyValueA(HKEY_CURRENT_USER, kDesktop, "LogPixels", REG_DWORD, &dpi, sizeof dpi) == ERROR_SUCCESS;
    }
    ~LogPixelsGuard()
    {
        if (m_had)
            RegSetKeyValueA(HKEY_CURRENT_USER, kDesktop, "LogPixels", REG_DWORD, &m_old, sizeof m_old);
        else
            RegDeleteKeyValueA(HKEY_CURRENT_USER, kDesktop, "LogPixels");
    }
    bool Set() const { return m_set; }

private:
    static constexpr const char* kDesktop = "Control Panel\\Desktop";
    DWORD m_old = 0;
    bool m_had = false, m_set = false;
};

// This thread sees other windows in their own pixels (a thread that knows no scale is shown them
// shrunk to 96 DPI).
class PerMonitorThread
{
public:
    PerMonitorThread()
    {
        typedef DPI_AWARENESS_CONTEXT(WINAPI * SetContext)(DPI_AWARENESS_CONTEXT);
        m_set = reinterpret_cast<SetContext>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "SetThreadDpiAwarenessContext")));
        if (m_set)
            m_old = m_set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE);
    }
    ~PerMonitorThread()
    {
        if (m_set && m_old)
            m_set(m_old);
    }

private:
    DPI_AWARENESS_CONTEXT(WINAPI* m_set)(DPI_AWARENESS_CONTEXT) = nullptr;
    DPI_AWARENESS_CONTEXT m_old = nullptr;
};

// Whether every text of the dialog's controls fits its control, measured in the dialog's font:
// buttons and the box on one line, the static texts wrapped as they wrap them, the list's
// headings and kinds in their columns. Returns what does not fit.
std::vector<std::string> CutTexts(HWND dialog, HFONT font, const kt::RemoteList& list)
{
    std::vector<std::string> cut;
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    const int dpi = 144;
    for (int id : kMainControls) {
        HWND control = GetDlgItem(dialog, id);
        const std::string text = kt::WindowText(control);
        if (!control || text.empty())
            continue;
        char cls[32] = "";
        GetClassNameA(control, cls, sizeof cls);
        const LONG style = GetWindowLongA(control, GWL_STYLE);
        RECT client = {};
        GetClientRect(control, &client);
        RECT need = { 0, 0, client.right, 0 };
        if (_stricmp(cls, "Button") == 0) {
            DrawTextA(dc, text.c_str(), -1, &need, DT_CALCRECT | DT_SINGLELINE);
            // A box and its gap before a check box's text; the frame around a push button's.
            const LONG beside = (style & BS_TYPEMASK) == BS_AUTOCHECKBOX ? MulDiv(13 + 4, dpi, 96) : MulDiv(2 * 3, dpi, 96);
            if (need.right + beside > client.right || need.bottom > client.bottom)
                cut.push_back(std::string(cls) + " " + std::to_string(id) + " '" + text + "' needs " + std::to_string(need.right + beside) +
                              " x " + std::to_string(need.bottom) + ", has " + std::to_string(client.right) + " x " +
                              std::to_string(client.bottom));
        } else if (_stricmp(cls, "Static") == 0) {
            const UINT flags = DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | ((style & SS_NOPREFIX) ? DT_NOPREFIX : 0) |
                               ((style & SS_EDITCONTROL) ? DT_EDITCONTROL : 0);
            DrawTextA(dc, text.c_str(), -1, &need, flags);
            if (need.right > client.right || need.bottom > client.bottom)
                cut.push_back("static " + std::to_string(id) + " '" + text + "' needs " + std::to_string(need.right) + " x " +
                              std::to_string(need.bottom) + ", has " + std::to_string(client.right) + " x " +
                              std::to_string(client.bottom));
        }
    }
    // The list's cells keep a margin beside their text (Wine's and Windows' alike, about 6 pixels
    // each side at 96 DPI).
    const int margin = MulDiv(12, dpi, 96);
    for (int column : { 1, 3, 4 }) {
        const std::string heading = list.ColumnHeading(column);
        if (list.StringWidth(heading) + margin > list.ColumnWidth(column))
            cut.push_back("heading '" + heading + "' in a column of " + std::to_string(list.ColumnWidth(column)));
    }
    for (int row = 0; row < list.Count(); ++row)
        if (list.StringWidth(list.Text(row, 4)) + margin > list.ColumnWidth(4))
            cut.push_back("kind '" + list.Text(row, 4) + "' in a column of " + std::to_string(list.ColumnWidth(4)));
    SelectObject(dc, old);
    DeleteDC(dc);
    return cut;
}

TEST_F(WindowTest, At144DpiTheWindowIsLaidOutForTheScaleAndNoTextIsCutInEitherLanguage)
{
    key.Make(keyword + "One");
    const kt::KeyRemover registration{ HKEY_CURRENT_USER, "Software\\Classes\\CLSID\\{6B1E2C3D-4F50-4A61-8B72-93A4B5C6D7A2}" };
    const std::string server = "C:\\Program Files\\" + keyword + " Shell Extensions\\For Every Window\\shell-extension.dll";
    ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, (registration.path + "\\InprocServer32").c_str(), nullptr, REG_SZ,
                              server.c_str(), static_cast<DWORD>(server.size() + 1)), ERROR_SUCCESS);
    LogPixelsGuard scale(144);
    ASSERT_TRUE(scale.Set());
    PerMonitorThread perMonitor;
    for (const char* language : { "en-us", "de-de" }) {
        SCOPED_TRACE(language);
        kt::UseLanguage(language);
        Start(std::string(language) == "en-us" ? english : StagedProgram(language));
        EXPECT_EQ(list->ColumnWidth(0), MulDiv(23, 144, 96)) << "the columns are laid out for the scale";
        Configure(keyword, false, true);
        EXPECT_EQ(Search(), Fmt(IDS_FOUND_FMT, 2));
        const int classRow = RowOfKind(IDS_KIND_CLASS);
        ASSERT_GE(classRow, 0);
        SelectAndReadDetails(classRow);
        kt::Sync(dlg);
        kt::SaveScreenshot(dlg, std::string("main-144dpi-") + (std::string(language) == "en-us" ? "en" : "de"));
        // The dialog's font at this scale: its template's, 8 points at 144 DPI. The list measures
        // in the same font, which shows that this is the one.
        HFONT font = CreateFontA(-MulDiv(8, 144, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                 CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, "MS Shell Dlg");
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, font);
        SIZE size = {};
        const std::string probe = Str(IDS_COLUMN_REASON) + " " + list->Text(classRow, 1);
        GetTextExtentPoint32A(dc, probe.c_str(), static_cast<int>(probe.size()), &size);
        SelectObject(dc, old);
        DeleteDC(dc);
        EXPECT_EQ(size.cx, list->StringWidth(probe)) << "the test measures in the window's font";
        EXPECT_EQ(CutTexts(dlg, font, *list), std::vector<std::string>());
        DeleteObject(font);
        kt::PressButton(dlg, IDCANCEL);
        EXPECT_EQ(process.Wait(10000), 0u);
        process.Close();
    }
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
