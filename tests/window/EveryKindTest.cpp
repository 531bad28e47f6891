// A finding of every kind in the list, named, grouped and counted in both languages.
#include "WindowFixture.h"

namespace {

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

}  // namespace
