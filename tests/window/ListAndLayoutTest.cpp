// The list's names, backups and references, the offline installation, About, and the window's
// layout as it grows.
#include "WindowFixture.h"

namespace {

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

}  // namespace
