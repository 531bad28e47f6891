// The main window driven as a person would: klarner.exe on the Xvfb display, its dialogs
// found by control id, buttons pressed, list items ticked, message boxes read and
// answered, the registry and the report checked, screenshots saved.
#include "window/WindowFixture.h"

namespace {

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

}  // namespace
