// A finding's details, tip and menu, the list's keys, and what a removal leaves to the restart.
#include "WindowFixture.h"

namespace {

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

}  // namespace
