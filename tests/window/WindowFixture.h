// What the main window's tests share: the program started on the display with its own key and
// keyword, the large tree the long searches walk, and the texts of the language library.
#pragma once
#include <gtest/gtest.h>
#include <winsock2.h>
#include "RemoteWindow.h"
#include "TestSupport.h"
#include "../../engine/registry/Constants.h"
#include "../../engine/kinds/KindsTable.h"
#include "../../framework/AfxResource.h"
#include "../../framework/CString.h"
#include "../../resources/resource.h"
#include "../../ui/KlarnerDlg.h"
#include <ws2spi.h>
#include <algorithm>
#include <cstddef>
#include <map>
#include <regex>
#include <thread>

// Named, not anonymous: a test suite's fixture must be one class in every file of the program.
namespace window_test {

inline std::string Str(UINT id)
{
    CString text;
    text.LoadString(id);
    return text.GetString();
}

inline std::string Fmt(UINT id, int value)
{
    CString format, text;
    format.LoadString(id);
    text.Format(format, value);
    return text.GetString();
}

// A string of the language library loaded now, in Unicode, read apart from the program's own
// texts.
inline std::wstring WStr(UINT id)
{
    wchar_t text[4096] = L"";
    const int length = LoadStringW(AfxGetResourceHandle(), id, text, 4096);
    return std::wstring(text, length > 0 ? static_cast<size_t>(length) : 0);
}

inline std::wstring ClipboardText()
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
inline HWND WaitForAnyWindow(const char* className, const char* title, DWORD timeoutMs)
{
    HWND found = nullptr;
    kt::WaitUntil([&] { return (found = FindWindowA(className, title)) != nullptr && IsWindowVisible(found); }, timeoutMs);
    return found;
}

inline std::string StagedProgram(const char* language)
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

inline std::vector<std::string> TreeGroups(const std::string& keyword)
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

    static inline std::string english, treeKeyword, treeFile;
    std::unique_ptr<kt::MountedTree> tree;
    kt::Process process;
    HWND dlg = nullptr;
    std::unique_ptr<kt::RemoteList> list;
    kt::ScratchKey key{ "kltwin" };
    std::string keyword, report;
};

// Every control of the main dialog, the text above the status line among them (IDC_STATIC).
const int kMainControls[] = { IDC_PICTURE, IDC_STATIC, IDC_STATUS, IDC_RESULT_LIST, IDC_DETAILS, IDC_SELECT_ALL,
                              IDC_SETTINGS, IDC_CLEAR, IDOK, IDCANCEL };

}  // namespace window_test

using namespace window_test;
