// The built files themselves: the two language libraries carry the same strings, dialogs,
// controls and menu commands, the same format conversions, and every file carries the
// build's version.
#include <gtest/gtest.h>
#include "TestSupport.h"
#include "../engine/kinds/KindsTable.h"
#include "../framework/AfxResource.h"
#include "../ui/WindowTexts.h"
#include "version.h"
#include "../resources/resource.h"
#include <commctrl.h>
#include <map>
#include <regex>
#include <set>

namespace {

HMODULE Library(const char* language)
{
    return LoadLibraryExA((kt::BinDir() + language + "\\klarner.dll").c_str(), nullptr,
                          LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
}

std::string Text(HMODULE library, UINT id)
{
    char text[8192] = "";
    int length = LoadStringA(library, id, text, sizeof text);
    return std::string(text, length > 0 ? static_cast<size_t>(length) : 0);
}

std::map<UINT, std::string> Strings(HMODULE library)
{
    std::map<UINT, std::string> strings;
    EnumResourceNamesA(
        library, RT_STRING,
        [](HMODULE module, LPCSTR, LPSTR name, LONG_PTR found) -> BOOL {
            // A string table block holds the sixteen ids from (block - 1) * 16 on.
            UINT first = (static_cast<UINT>(reinterpret_cast<ULONG_PTR>(name)) - 1) * 16;
            for (UINT id = first; id < first + 16; ++id) {
                std::string text = Text(module, id);
                if (!text.empty())
                    (*reinterpret_cast<std::map<UINT, std::string>*>(found))[id] = text;
            }
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&strings));
    return strings;
}

std::multiset<int> ControlIds(HMODULE library, UINT dialog)
{
    std::multiset<int> ids;
    HWND window = CreateDialogParamA(library, MAKEINTRESOURCEA(dialog), nullptr,
                                     [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
    if (!window)
        return { -1 };
    EnumChildWindows(
        window,
        [](HWND child, LPARAM found) -> BOOL {
            reinterpret_cast<std::multiset<int>*>(found)->insert(GetDlgCtrlID(child));
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&ids));
    DestroyWindow(window);
    return ids;
}

void MenuCommands(HMENU menu, std::set<UINT>& commands)
{
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        if (HMENU sub = GetSubMenu(menu, i))
            MenuCommands(sub, commands);
        else if (GetMenuItemID(menu, i) != 0)
            commands.insert(GetMenuItemID(menu, i));
    }
}

std::vector<std::string> Conversions(const std::string& format)
{
    std::vector<std::string> found;
    std::regex conversion("%[-+ #0]*[0-9]*(\\.[0-9]+)?[hlL]*[diouxXeEfgGcsp%]");
    for (std::sregex_iterator it(format.begin(), format.end(), conversion), end; it != end; ++it)
        found.push_back(it->str());
    return found;
}

TEST(LanguageLibraries, CarryTheSameStringsDialogsControlsAndCommands)
{
    InitCommonControls();
    HMODULE english = Library("en-us"), german = Library("de-de");
    ASSERT_TRUE(english && german);
    std::map<UINT, std::string> en = Strings(english), de = Strings(german);
    std::set<UINT> enIds, deIds;
    for (const auto& s : en)
        enIds.insert(s.first);
    for (const auto& s : de)
        deIds.insert(s.first);
    EXPECT_EQ(enIds, deIds);
    // Every string the program loads: 101 to 126, 181 to the last one below the kinds' names
    // without a gap, one name for each kind (from 400) and the kinds' texts, the window's own from
    // 450 to its last without a gap, the findings' texts, and the application's title.
    std::set<UINT> expected = { IDS_APP_TITLE };
    for (UINT id = IDS_ABOUTBOX; id <= IDS_NO_ROOTKEY; ++id)
        expected.insert(id);
    const UINT last = *std::prev(enIds.lower_bound(IDS_KIND_KEY));
    EXPECT_GE(last, static_cast<UINT>(IDS_FIND_DANGLING));
    for (UINT id = IDS_OK_SEARCH; id <= last; ++id)
        expected.insert(id);
    std::set<UINT> kindNames;
    for (const ILeftoverKind* kind : LeftoverKinds())
        kindNames.insert(kind->Identity().nameId);
    EXPECT_EQ(kindNames.size(), LeftoverKinds().size()) << "every kind has a name of its own";
    expected.insert(kindNames.begin(), kindNames.end());
    // Beside the names, the kinds' range holds what kinds say about a finding (reasons, notes),
    // each id after its kind's name; both languages carry the same ones (above).
    for (UINT id : enIds)
        if (id >= IDS_KIND_KEY && id < IDS_COLUMN_KIND)
            expected.insert(id);
    const UINT lastOfWindow = *std::prev(enIds.lower_bound(IDS_REASON_FILE_MISSING));
    EXPECT_GE(lastOfWindow, static_cast<UINT>(IDS_TOOL_FAILED));
    for (UINT id = IDS_COLUMN_KIND; id <= lastOfWindow; ++id)
        expected.insert(id);
    // What findings, notes and advice say, from 600 to its last without a gap.
    const UINT lastText = *std::prev(enIds.find(IDS_APP_TITLE));
    EXPECT_GE(lastText, static_cast<UINT>(IDS_EVIDENCE_LOCATION));
    for (UINT id = IDS_REASON_FILE_MISSING; id <= lastText; ++id)
        expected.insert(id);
    EXPECT_EQ(enIds, expected);
    for (UINT dialog : { IDD_ABOUTBOX, IDD_KLARNER_DIALOG, IDD_CONFIG }) {
        std::multiset<int> ids = ControlIds(english, dialog);
        EXPECT_EQ(ids, ControlIds(german, dialog)) << "dialog " << dialog;
        EXPECT_GE(ids.size(), 4u);
    }
    std::set<UINT> enCommands, deCommands;
    MenuCommands(LoadMenuA(english, MAKEINTRESOURCEA(IDR_MAINMENU)), enCommands);
    MenuCommands(LoadMenuA(german, MAKEINTRESOURCEA(IDR_MAINMENU)), deCommands);
    EXPECT_EQ(enCommands, (std::set<UINT>{ ID_HELP_ABOUT, ID_FILE_EXIT, ID_FILE_SETTINGS, ID_FILE_UNDO }));
    EXPECT_EQ(deCommands, enCommands);
}

TEST(LanguageLibraries, CountFormatsHoldOneIntegerConversionInBothLanguages)
{
    HMODULE english = Library("en-us"), german = Library("de-de");
    for (UINT id : { IDS_FOUND_FMT, IDS_REPORT_COUNT_FMT, IDS_STATUS_PROGRESS_FMT, IDS_STATUS_RESTART_FMT }) {
        std::vector<std::string> en = Conversions(Text(english, id));
        EXPECT_EQ(en, std::vector<std::string>{ "%d" }) << id;
        EXPECT_EQ(Conversions(Text(german, id)), en) << id;
    }
    // The message without findings is formatted without an argument: it holds no conversion.
    EXPECT_TRUE(Conversions(Text(english, IDS_FOUND_NONE)).empty());
    EXPECT_TRUE(Conversions(Text(german, IDS_FOUND_NONE)).empty());
}

TEST(FormatTexts, AConversionThatDoesNotMatchFallsBackToTheBuiltInText)
{
    EXPECT_TRUE(FormatTakes("Found: %d", 1));
    EXPECT_TRUE(FormatTakes("%5d of 100%% done", 1));
    EXPECT_TRUE(FormatTakes("none", 0));
    EXPECT_FALSE(FormatTakes("Found: %s", 1));
    EXPECT_FALSE(FormatTakes("%d and %d", 1));
    EXPECT_FALSE(FormatTakes("%*d", 1));
    EXPECT_FALSE(FormatTakes("%ld", 1));
    EXPECT_FALSE(FormatTakes("100%", 0));
    EXPECT_FALSE(FormatTakes("none %n", 0));
    AfxSetResourceHandle(LoadLibraryExA((kt::TestDir() + "noabout\\klarner.dll").c_str(), nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    EXPECT_EQ(std::string(LoadFormatText(IDS_FOUND_FMT)), "Search complete. Entries found: %d");
    kt::UseLanguage("de-de");
    CString german;
    german.LoadString(IDS_REPORT_COUNT_FMT);
    EXPECT_EQ(std::string(LoadFormatText(IDS_REPORT_COUNT_FMT)), std::string(german)) << "a sound text is kept";
}

TEST(VersionResources, TheProgramAndBothLibrariesCarryTheBuildsVersion)
{
    struct File
    {
        std::string path;
        DWORD type;
        WORD language;
    } files[] = { { kt::KlarnerExe(), VFT_APP, 0x409 },
                  { kt::BinDir() + "en-us\\klarner.dll", VFT_DLL, 0x409 },
                  { kt::BinDir() + "de-de\\klarner.dll", VFT_DLL, 0x407 } };
    for (const File& file : files) {
        DWORD handle = 0, size = GetFileVersionInfoSizeA(file.path.c_str(), &handle);
        ASSERT_GT(size, 0u) << file.path;
        std::vector<char> info(size);
        ASSERT_TRUE(GetFileVersionInfoA(file.path.c_str(), 0, size, info.data()));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
        EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(KLARNER_VERSION_MINOR, KLARNER_VERSION_MAJOR)));
        EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(0, KLARNER_VERSION_PATCH)));
        EXPECT_EQ(fixed->dwFileType, file.type);
        WORD* translation = nullptr;
        ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                                   &length));
        EXPECT_EQ(translation[0], file.language) << file.path;
        char block[64];
        snprintf(block, sizeof block, "\\StringFileInfo\\%04x04b0\\", translation[0]);
        auto value = [&](const char* name) {
            char* text = nullptr;
            UINT chars = 0;
            VerQueryValueA(info.data(), (std::string(block) + name).c_str(), reinterpret_cast<void**>(&text), &chars);
            return std::string(text ? text : "");
        };
        EXPECT_EQ(value("ProductName"), "Velmora Klarner");
        EXPECT_EQ(value("ProductVersion"), KLARNER_VERSION_TEXT);
        EXPECT_EQ(value("FileVersion"), KLARNER_VERSION_TEXT);
        EXPECT_NE(value("LegalCopyright").find("2026 Velmora"), std::string::npos);
        EXPECT_FALSE(value("FileDescription").empty());
    }
    // The about box shows the same number.
    HMODULE english = Library("en-us");
    HRSRC about = FindResourceA(english, MAKEINTRESOURCEA(IDD_ABOUTBOX), RT_DIALOG);
    ASSERT_TRUE(about);
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(english, about)));
    std::wstring dialog(reinterpret_cast<const wchar_t*>(bytes), SizeofResource(english, about) / 2);
    EXPECT_NE(dialog.find(kt::Widen("version " KLARNER_VERSION_TEXT)), std::wstring::npos);
}

}  // namespace
