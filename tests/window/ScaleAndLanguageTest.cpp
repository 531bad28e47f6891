// The window at 144 DPI in both languages, and the German windows for the eye.
#include "WindowFixture.h"

namespace {

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
