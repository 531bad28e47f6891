// The cleaning engine's search on the real registry of the test prefix: keyword splitting,
// the search with its protected areas, the floor, failures, links, hidden and Unicode names,
// and the same results on any number of threads.
#include <gtest/gtest.h>
#include "../engine/registry/RegFile.h"
#include "EngineProbe.h"
#include "TestSupport.h"
#include "../resources/resource.h"
#include "../app/RunRecord.h"
#include "../engine/registry/Constants.h"
#include "../engine/registry/FloorKeys.h"
#include "../engine/registry/KeyPlaces.h"
#include "../engine/search/Keywords.h"
#include "../engine/backup/RegBackup.h"
#include "../engine/RemovalPass.h"
#include "../engine/search/SharedFlag.h"
#include "../engine/kinds/KindsTable.h"
#include "../report/Report.h"
#include "../report/ReportLog.h"
#include <algorithm>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Split(const char* text)
{
    EngineProbe engine;
    CStringArray terms;
    engine.SplitSearchTerms(text, terms);
    std::vector<std::string> out;
    for (int i = 0; i < terms.GetSize(); ++i)
        out.push_back(terms[i].GetString());
    return out;
}

typedef std::vector<std::string> Terms;

TEST(KeywordSplitting, Table)
{
    EXPECT_EQ(Split("abc,def"), (Terms{ "abc", "def" }));
    EXPECT_EQ(Split("abc,,def"), (Terms{ "abc" }));
    EXPECT_EQ(Split(",abc"), Terms{});
    EXPECT_EQ(Split("abc,"), (Terms{ "abc" }));
    EXPECT_EQ(Split("abc, def"), (Terms{ "abc", " def" }));
    EXPECT_EQ(Split("abc,x,abc"), (Terms{ "abc", "x", "abc" }));
    EXPECT_EQ(Split(("abc," + std::string(31, 'y') + ",def").c_str()), (Terms{ "abc" }));
    EXPECT_EQ(Split(""), Terms{});
    // Letters are left alone here; the search lowercases the whole text before it splits.
    EXPECT_EQ(Split("AbC"), (Terms{ "AbC" }));
}

TEST(KeywordSplitting, ThirtyCharactersFitThirtyOneEndTheList)
{
    std::string thirty(30, 'a'), thirtyOne(31, 'b');
    EXPECT_EQ(Split(thirty.c_str()), (Terms{ thirty }));
    EXPECT_EQ(Split((thirtyOne + ",c").c_str()), Terms{});
    EXPECT_EQ(Split(("c," + thirtyOne + ",d").c_str()), (Terms{ "c" }));
}

TEST(KeywordSplitting, AnEntryCutByThe255CharacterWindowIsNoKeyword)
{
    // 25 entries of "abcdefghi," fill 250 characters; the 26th would be cut after 5.
    std::string text;
    for (int i = 0; i < 30; ++i)
        text += "abcdefghi,";
    Terms terms = Split(text.c_str());
    ASSERT_EQ(terms.size(), 25u);
    EXPECT_EQ(terms[24], "abcdefghi");
    // Eight entries of 29 and one of 13 put the "s" of "software" at character 255.
    std::string cut;
    for (int i = 0; i < 8; ++i)
        cut += std::string(29, 'q') + ",";
    cut += std::string(13, 'q') + ",software";
    ASSERT_EQ(cut[254], 's');
    EXPECT_EQ(Split(cut.c_str()).size(), 9u);
    // An entry that ends exactly at the window's end, or at a comma there, is whole.
    std::string whole;
    for (int i = 0; i < 8; ++i)
        whole += std::string(29, 'a') + ",";
    whole += std::string(14, 'b');
    ASSERT_EQ(whole.size(), 254u);
    EXPECT_EQ(Split((whole + "c").c_str()).back(), std::string(14, 'b') + "c");
    EXPECT_EQ(Split((whole + "c,d").c_str()).back(), std::string(14, 'b') + "c");
}

TEST(KeywordSplitting, AnEntryOfSpacesOnlyEndsTheList)
{
    EXPECT_EQ(Split("velmora, "), (Terms{ "velmora" }));
    EXPECT_EQ(Split("velmora,   ,vmtray"), (Terms{ "velmora" }));
    EXPECT_EQ(Split(" "), Terms{});
    EXPECT_EQ(Split(" a , b"), (Terms{ " a ", " b" }));
}

TEST(KeywordSplitting, DefaultListHasElevenLowercaseEntriesWithTheTrayProgram)
{
    Terms terms = Split(kDefaultKeywords);
    ASSERT_EQ(terms.size(), 11u);
    bool tray = false, plus = false, dash = false, space = false;
    for (const std::string& t : terms) {
        EXPECT_GE(t.size(), 1u);
        EXPECT_LE(t.size(), 30u);
        for (char c : t)
            EXPECT_FALSE(c >= 'A' && c <= 'Z') << t;
        EXPECT_NE(t[0], ' ') << "no space after a comma";
        tray |= t == "vmtray";
        plus |= t.find('+') != std::string::npos;
        dash |= t.find('-') != std::string::npos;
        space |= t.find(' ') != std::string::npos;
    }
    EXPECT_TRUE(tray && plus && dash && space);
    EXPECT_LT(strlen(kDefaultKeywords), 256u);
}

// A search with its own report file, so that its lines can be read back.
struct SearchResult
{
    std::vector<std::wstring> paths;
    std::vector<char> kinds;
    std::string report;
};

SearchResult Search(const std::string& keywords, const std::vector<RootKeySlot>& slots, LONG stop = 0, int threads = 0,
                    LONG* keysSearched = nullptr)
{
    std::string reportPath = kt::ScratchDir("search") + "report.txt";
    HANDLE report = OpenReport(reportPath.c_str());
    EngineProbe engine;
    engine.SetSearchThreads(threads);
    engine.SetProgressCounter(keysSearched);
    std::vector<char> text(keywords.begin(), keywords.end());
    text.push_back('\0');
    RootKeySlot rootKeys[kRootKeyCount];
    for (int i = 0; i < kRootKeyCount; ++i)
        rootKeys[i] = slots[static_cast<size_t>(i)];
    CmdListEntry* list = engine.ScanRegistry(text.data(), nullptr, rootKeys, report, &stop);
    EXPECT_EQ(engine.m_searchTerms.GetSize(), 0) << "the keyword list is emptied after a search";
    EXPECT_TRUE(engine.m_hkeyName.IsEmpty());
    SearchResult result;
    for (CmdListEntry* e = list; e; e = e->next) {
        result.paths.push_back(e->path);
        result.kinds.push_back(e->kind);
    }
    CmdListFree(&list);
    CloseReport(report);
    result.report = kt::ReadFileBytes(reportPath);
    return result;
}

const RootKeySlot kUser = SlotFromHkey(HKEY_CURRENT_USER), kMachine = SlotFromHkey(HKEY_LOCAL_MACHINE);
const std::vector<RootKeySlot> kUserOnly = { 0, kUser, 0, 0, 0 };

class SearchTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        kt::UseLanguage("en-us");
        keyword = kt::UniqueName("kw");
        upper = keyword;
        for (char& c : upper)
            c = static_cast<char>(toupper(c));
        openFailed.LoadString(IDS_OPEN_FAILED);
    }
    // A finding's full path, as the search records it (in Unicode).
    std::wstring Full(const std::string& below) { return kt::Widen(key.Full(below)); }
    std::wstring Full(const std::wstring& below) { return key.Full(below); }

    kt::ScratchKey key{ "kltbase" };
    std::string keyword, upper;
    CString openFailed;
};

TEST_F(SearchTest, TopMostMatchesInTheRegistrysLetterCase)
{
    key.Make("Pre" + upper + "\\Bar");
    key.Make(upper + "Bar");
    key.Make("X\\" + keyword + "\\Deeper" + keyword);
    key.Make("Unrelated\\Child");
    SearchResult r = Search(keyword, kUserOnly);
    std::vector<std::wstring> expected = { Full("Pre" + upper), Full(upper + "Bar"), Full("X\\" + keyword) };
    std::vector<std::wstring> sorted = r.paths;
    std::sort(sorted.begin(), sorted.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sorted, expected);
    for (char kind : r.kinds)
        EXPECT_EQ(kind, 'K');
}

TEST_F(SearchTest, ReportLinesOfASearch)
{
    key.Make("Pre" + upper);
    SearchResult r = Search(upper + ",zzqnothing", kUserOnly);
    std::string expected = "Search terms:\r\n" + keyword + ",zzqnothing\r\n\r\n\r\n\r\n\r\n" + key.Full("Pre" + upper) + "\r\n";
    EXPECT_EQ(r.report, expected);
}

TEST_F(SearchTest, RootNameNeverMatches)
{
    SearchResult r = Search("hkey_current_user", kUserOnly);
    EXPECT_TRUE(r.paths.empty());
}

TEST_F(SearchTest, ProtectedPathsInAnyLetterCase)
{
    key.Make("Legacy\\" + keyword);
    key.Make("lEGACYx\\" + keyword + "\\Inner" + keyword);
    key.Make(keyword + "LEGACY\\Sub" + keyword);
    key.Make("Security Center\\Monitoring\\" + keyword);
    key.Make("SECURITY CENTER\\MONITORING\\Deep\\" + keyword);
    key.Make("Security Center\\Other\\" + keyword);
    SearchResult r = Search(keyword, kUserOnly);
    ASSERT_EQ(r.paths.size(), 1u) << (r.paths.empty() ? "" : kt::Utf8(r.paths[0]));
    EXPECT_EQ(r.paths[0], Full("Security Center\\Other\\" + keyword));
}

TEST_F(SearchTest, UnreadableDirectSubkeyStopsItsParent)
{
    key.Make(keyword + "A\\Locked");
    key.Make(keyword + "A\\Fine");
    key.Make(keyword + "B\\Mid\\Locked2");
    ASSERT_TRUE(kt::DenyRead(HKEY_CURRENT_USER, key.Path() + "\\" + keyword + "A\\Locked"));
    ASSERT_TRUE(kt::DenyRead(HKEY_CURRENT_USER, key.Path() + "\\" + keyword + "B\\Mid\\Locked2"));
    SearchResult r = Search(keyword, kUserOnly);
    ASSERT_EQ(r.paths.size(), 1u);
    EXPECT_EQ(r.paths[0], Full(keyword + "B"));
    EXPECT_NE(r.report.find("\r\n" + std::string(openFailed) + "Locked\r\n"), std::string::npos) << r.report;
    EXPECT_NE(r.report.find("\r\n" + std::string(openFailed) + "Locked2\r\n"), std::string::npos) << r.report;
}

TEST_F(SearchTest, PathThatWouldNotFitIsNeverRecordedCutShort)
{
    // Two long levels: the second ends at 505 characters, so the matching key's path below
    // it would need more than 511.
    std::string a(240, 'a');
    std::string b(505 - key.Full(a).size() - 1, 'b');
    ASSERT_GT(key.Full(a + "\\" + b + "\\" + keyword).size(), 511u);
    HKEY level = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.Path().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &level, nullptr), 0);
    for (const std::string& name : { a, b, keyword }) {
        HKEY next = nullptr;
        ASSERT_EQ(RegCreateKeyExA(level, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &next, nullptr), 0);
        RegCloseKey(level);
        level = next;
    }
    RegCloseKey(level);
    key.Make(upper + "Short");
    SearchResult r = Search(keyword, kUserOnly);
    ASSERT_EQ(r.paths.size(), 1u);
    EXPECT_EQ(r.paths[0], Full(upper + "Short"));
    EXPECT_NE(r.report.find(std::string(openFailed) + keyword + "\r\n"), std::string::npos);
}

TEST_F(SearchTest, StopBeforeTheSearchStillChecksTheStartupValue)
{
    kt::RunValueGuard tray("C:\\vm\\vmtray.exe");
    ASSERT_TRUE(tray.Set());
    key.Make(keyword);
    // Stopped: no key findings, no walk of HKEY_LOCAL_MACHINE, but the value is found.
    SearchResult stopped = Search(keyword + ",vmtray", { 0, kUser, kMachine, 0, 0 }, 1);
    ASSERT_EQ(stopped.paths.size(), 1u);
    EXPECT_EQ(stopped.paths[0], std::wstring(kTrayValueFinding));
    EXPECT_EQ(stopped.kinds[0], 'V');
    EXPECT_EQ(stopped.report.rfind("Search terms:\r\n", 0), 0u);

    // Twice in the list: two entries. Part of a longer entry only: no check.
    EXPECT_EQ(Search("vmtray,vmtray", { 0, 0, kMachine, 0, 0 }, 1).paths.size(), 2u);
    EXPECT_TRUE(Search("vmtray2", { 0, 0, kMachine, 0, 0 }, 1).paths.empty());
    // An empty keyword list never fires the check.
    EXPECT_TRUE(Search(",vmtray", { 0, 0, kMachine, 0, 0 }, 1).paths.empty());
    // Without the machine slot there is no check, whatever the keywords.
    SearchResult user = Search("vmtray", kUserOnly);
    for (const std::wstring& p : user.paths)
        EXPECT_NE(p, kTrayValueFinding);

    HKEY run = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKeyPath, 0, KEY_SET_VALUE, &run), 0);
    RegDeleteValueW(run, kTrayValueName);
    RegCloseKey(run);
    EXPECT_TRUE(Search("vmtray", { 0, 0, kMachine, 0, 0 }, 1).paths.empty()) << "no value, no finding";
}

TEST_F(SearchTest, NoSlotsNoWalk)
{
    key.Make(keyword);
    SearchResult r = Search(keyword + ",vmtray", { 0, 0, 0, 0, 0 });
    EXPECT_TRUE(r.paths.empty());
    EXPECT_EQ(r.report, "Search terms:\r\n" + keyword + ",vmtray\r\n\r\n\r\n\r\n\r\n");
}

TEST_F(SearchTest, SecondSearchOnTheSameEngineUsesOnlyItsOwnKeywords)
{
    key.Make(keyword + "One");
    key.Make("Two" + keyword);
    EngineProbe engine;
    LONG stop = 0;
    RootKeySlot slots[kRootKeyCount] = { 0, kUser, 0, 0, 0 };
    std::string first = keyword + "one";
    std::vector<char> text1(first.begin(), first.end());
    text1.push_back('\0');
    HANDLE report = OpenReport((kt::ScratchDir("first") + "r.txt").c_str());
    CmdListEntry* list = engine.ScanRegistry(text1.data(), nullptr, slots, report, &stop);
    CloseReport(report);
    ASSERT_NE(list, nullptr);
    CmdListFree(&list);
    std::string second = "two" + keyword;
    std::vector<char> text2(second.begin(), second.end());
    text2.push_back('\0');
    report = OpenReport((kt::ScratchDir("second") + "r.txt").c_str());
    list = engine.ScanRegistry(text2.data(), nullptr, slots, report, &stop);
    CloseReport(report);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(std::wstring(list->path), Full("Two" + keyword));
    EXPECT_EQ(list->next, nullptr);
    CmdListFree(&list);
}


TEST_F(SearchTest, FindingsComeInTheWalksOrderAcrossTwoRootKeys)
{
    // Depth first, subkeys in the registry's order, the user's root before the machine's.
    key.Make("A\\" + keyword + "Inner\\Sub");
    key.Make("B" + keyword);
    key.Make("C\\D\\" + keyword + "Deep");
    std::string machine = "Software\\" + kt::UniqueName("kltorder");
    ASSERT_TRUE(kt::CreateKey(HKEY_LOCAL_MACHINE, machine + "\\" + keyword + "Machine"));
    SearchResult r = Search(keyword, { 0, kUser, kMachine, 0, 0 });
    kt::DeleteTree(HKEY_LOCAL_MACHINE, machine);
    std::vector<std::wstring> expected = { Full("A\\" + keyword + "Inner"), Full("B" + keyword),
                                           Full("C\\D\\" + keyword + "Deep"),
                                           kt::Widen("HKEY_LOCAL_MACHINE\\" + machine + "\\" + keyword + "Machine") };
    EXPECT_EQ(r.paths, expected);
}

TEST_F(SearchTest, ALinkIsNeverWalkedButAMatchingLinkIsAFinding)
{
    key.Make("Target\\" + keyword + "Inside");
    ASSERT_TRUE(kt::CreateLink(HKEY_CURRENT_USER, key.Below(L"Pointer"), key.Below(L"Target")));
    ASSERT_TRUE(kt::CreateLink(HKEY_CURRENT_USER, key.Below(kt::Widen(upper) + L"Link"), key.Below(L"Target")));
    SearchResult r = Search(keyword, kUserOnly);
    std::vector<std::wstring> sorted = r.paths;
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::wstring> expected = { Full(upper + "Link"), Full("Target\\" + keyword + "Inside") };
    EXPECT_EQ(sorted, expected) << "nothing found through Pointer, and the link's own name counts";
}

TEST_F(SearchTest, ANameWithANulIsAKeyThatCouldNotBeOpened)
{
    key.Make(keyword + "Hidden\\Fine");
    key.Make(keyword + "Open");
    ASSERT_TRUE(kt::CreateNulNamedKey(HKEY_CURRENT_USER, key.Below(kt::Widen(keyword) + L"Hidden"), L"stealth"));
    LONG keys = 0;
    SearchResult r = Search(keyword, kUserOnly, 0, 0, &keys);
    ASSERT_EQ(r.paths.size(), 1u);
    EXPECT_EQ(r.paths[0], Full(keyword + "Open")) << "the parent of the hidden key is not recorded";
    EXPECT_NE(r.report.find("\r\n" + std::string(openFailed) + "<U+0000>stealth\r\n"), std::string::npos) << r.report;
    EXPECT_GT(keys, 10) << "every key opened is counted";
}

TEST(FloorKeys, TheTableAndEveryKeyOnTheWayToIt)
{
    const wchar_t* floor[] = {
        L"HKEY_LOCAL_MACHINE\\SOFTWARE", L"hkey_current_user\\software", L"HKEY_CURRENT_USER\\Control Panel",
        L"HKEY_USERS\\S-1-5-18", L"HKEY_USERS\\S-1-5-21-1-2-3-1001\\Software\\Microsoft",
        L"HKEY_USERS\\S-1-5-21-1-2-3-1001_Classes\\CLSID", L"HKEY_CURRENT_CONFIG\\System",
        L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
        L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows", L"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion",
        L"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
        L"HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet002\\Services", L"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum",
        L"HKEY_CLASSES_ROOT\\CLSID", L"HKEY_CLASSES_ROOT\\*", L"HKEY_CLASSES_ROOT\\Wow6432Node\\Interface",
        L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\AllFilesystemObjects", L"HKEY_CURRENT_USER\\Software\\Policies",
        // The 32-bit class containers, the system's own version keys and set-up keys.
        L"HKEY_LOCAL_MACHINE\\Software\\Classes\\Wow6432Node\\Interface",
        L"HKEY_CURRENT_USER\\Software\\Classes\\Wow6432Node\\CLSID", L"HKEY_USERS\\S-1-5-21-1_Classes\\Wow6432Node\\TypeLib",
        L"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows NT",
        L"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows NT\\CurrentVersion",
        L"HKEY_LOCAL_MACHINE\\SYSTEM\\Select", L"HKEY_LOCAL_MACHINE\\SYSTEM\\Setup", L"HKEY_LOCAL_MACHINE\\SYSTEM\\WPA",
        L"HKEY_LOCAL_MACHINE\\SYSTEM\\MountedDevices", L"HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Hardware Profiles",
        // Empty names are no names: a trailing backslash or a doubled one hides nothing.
        L"HKEY_CURRENT_USER\\Environment\\", L"HKEY_LOCAL_MACHINE\\Software\\\\Classes",
    };
    for (const wchar_t* path : floor)
        EXPECT_TRUE(IsFloorKey(path)) << kt::Utf8(path);
    const wchar_t* ordinary[] = {
        L"HKEY_CLASSES_ROOT\\VM-ShellExt.ContextMenu", L"HKEY_CLASSES_ROOT\\CLSID\\{0BADF00D-0000-0000-0000-000000000000}",
        L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora", L"HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services\\vmfilter",
        L"HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet01\\Services",
        L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
        L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Wow6432Node\\CLSID\\{0BADF00D-0000-0000-0000-000000000000}",
        L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\vmtray",
        L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vigilo+",
    };
    for (const wchar_t* path : ordinary)
        EXPECT_FALSE(IsFloorKey(path)) << kt::Utf8(path);
}

TEST_F(SearchTest, AFloorKeyNeverCountsButKeysBelowItAreJudgedByTheirNames)
{
    // "oftwar" matches HKEY_CURRENT_USER\Software, a top-level container, and a key of ours.
    key.Make("Xoftwar" + keyword);
    SearchResult r = Search("oftwar", kUserOnly);
    std::vector<std::wstring> ours;
    for (const std::wstring& p : r.paths) {
        EXPECT_NE(p, L"HKEY_CURRENT_USER\\Software");
        if (p.find(kt::Widen(key.Path())) != std::wstring::npos)
            ours.push_back(p);
    }
    EXPECT_EQ(ours, std::vector<std::wstring>{ Full("Xoftwar" + keyword) });
}

// Names in several scripts and symbols: Cyrillic, Greek, Chinese, an emoji (a surrogate pair),
// and Western letters the ANSI code page holds.
const std::wstring kZhe = L"\x0416";
const std::wstring kOmega = L"\x03A9";
const std::wstring kChinese = L"\x4E2D\x6587";
const std::wstring kEmoji = L"\xD83D\xDE00";

TEST_F(SearchTest, EveryNameIsWalkedAndMatchedAsUnicodeText)
{
    const std::wstring kw = kt::Widen(keyword);
    // Matches at several depths, below non-matching names in other scripts; the leading digits
    // fix the registry's order.
    key.Make(L"1" + kZhe + L"Key\\" + kw + kChinese);
    key.Make(L"2" + kOmega + L"\\" + kChinese + L"\\Deep" + kw + L"\\" + kEmoji + L"Child");
    key.Make(L"3Quarant\x00e4ne\\" + kw + L"\x00df");
    key.Make(L"4" + kw + kOmega + L"Top\\" + kZhe);
    key.Make(L"5" + kEmoji + L"\\Plain");
    SearchResult r = Search(keyword, kUserOnly, 0, 1);
    std::vector<std::wstring> expected = { Full(L"1" + kZhe + L"Key\\" + kw + kChinese),
                                           Full(L"2" + kOmega + L"\\" + kChinese + L"\\Deep" + kw),
                                           Full(L"3Quarant\x00e4ne\\" + kw + L"\x00df"), Full(L"4" + kw + kOmega + L"Top") };
    EXPECT_EQ(r.paths, expected);
    // Letters of the ANSI code page as it writes them, the others as <U+XXXX>.
    ASSERT_EQ(GetACP(), 1252u) << "the test prefix's ANSI code page";
    EXPECT_NE(r.report.find("\\3Quarant\xe4ne\\" + keyword + "\xdf\r\n"), std::string::npos) << r.report;
    EXPECT_NE(r.report.find("\\2<U+03A9>\\<U+4E2D><U+6587>\\Deep" + keyword + "\r\n"), std::string::npos) << r.report;
    EXPECT_EQ(r.report.find("?"), std::string::npos);
}

TEST_F(SearchTest, KeywordsOutsideAsciiAreLowercasedAsUnicodeToo)
{
    // The keyword text is ANSI: "ÄRGER" lowercases to "ärger" and matches "xÄrgerx".
    key.Make(L"x\x00c4rger" + kt::Widen(keyword));
    SearchResult r = Search("\xc4RGER" + upper, kUserOnly);
    ASSERT_EQ(r.paths.size(), 1u);
    EXPECT_EQ(r.paths[0], Full(L"x\x00c4rger" + kt::Widen(keyword)));
}

// A tree with every kind of case the walk has: matches at several depths, unreadable keys
// directly and deeper below matches, a link, a hidden name, a path over the length limit,
// protected areas and many plain keys for the threads to share.
void SeedMixedTree(HKEY root, const std::string& base, const std::string& kw)
{
    auto make = [&](const std::string& below) { kt::CreateKey(root, base + "\\" + below); };
    for (int g = 0; g < 40; ++g) {
        std::string group = "Group" + std::to_string(g);
        for (int i = 0; i < 12; ++i)
            make(group + "\\Branch" + std::to_string(i) + "\\Leaf");
        if (g % 3 == 0)
            make(group + "\\Branch" + std::to_string(g % 12) + "\\" + kw + std::to_string(g) + "\\Sub");
        if (g % 5 == 0) {
            make(group + "\\" + kw + "Locked" + std::to_string(g) + "\\Denied");
            kt::DenyRead(root, base + "\\" + group + "\\" + kw + "Locked" + std::to_string(g) + "\\Denied");
            make(group + "\\" + kw + "Deep" + std::to_string(g) + "\\Mid\\Denied");
            kt::DenyRead(root, base + "\\" + group + "\\" + kw + "Deep" + std::to_string(g) + "\\Mid\\Denied");
        }
        if (g % 7 == 0)
            make(group + "\\Legacy\\" + kw + std::to_string(g));
    }
    kt::CreateLink(root, kt::Widen(base + "\\Group1\\" + kw + "Link"), kt::Widen(base + "\\Group2"));
    make("Group4\\" + kw + "WithHidden");
    kt::CreateNulNamedKey(root, kt::Widen(base + "\\Group4\\" + kw + "WithHidden"), L"x");
    std::string longName(200, 'l');
    make("Group5\\" + longName + "\\" + longName + "\\" + kw + "TooDeep");
}

TEST_F(SearchTest, AnyNumberOfThreadsGivesTheSameReportAndFindings)
{
    SeedMixedTree(HKEY_CURRENT_USER, key.Path(), keyword);
    SearchResult one = Search(keyword, kUserOnly, 0, 1);
    ASSERT_GE(one.paths.size(), 20u);
    ASSERT_NE(one.report.find(std::string(openFailed) + "Denied"), std::string::npos);
    ASSERT_NE(one.report.find(std::string(openFailed) + "<U+0000>x"), std::string::npos);
    for (int threads : { 2, 3, 8 }) {
        for (int round = 0; round < 3; ++round) {
            SearchResult many = Search(keyword, kUserOnly, 0, threads);
            EXPECT_EQ(many.paths, one.paths) << threads << " threads";
            EXPECT_EQ(many.report, one.report) << threads << " threads";
        }
    }
}

TEST_F(SearchTest, AStopBeforeTheSearchLeavesOnlyTheTrayValueAndNoKindReadsOrDecides)
{
    // A trace session named after the product, which the kinds beyond the walk would decide on,
    // and the tray program's value, which the check lists whatever the stop flag says.
    const kt::KeyRemover session{ HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\WMI\\Autologger\\" + keyword + "Trace" };
    ASSERT_TRUE(kt::CreateKey(session.root, session.path));
    kt::RunValueGuard tray("C:\\vm\\vmtray.exe");
    ASSERT_TRUE(tray.Set());
    HANDLE report = OpenReport((kt::ScratchDir("stopped-first") + "report.txt").c_str());
    EngineProbe engine;
    engine.SetFollowReferences(TRUE);
    LONG stop = 1;
    const std::string words = keyword + ",vmtray";
    std::vector<char> text(words.begin(), words.end());
    text.push_back('\0');
    RootKeySlot slots[kRootKeyCount] = { 0, kUser, SlotFromHkey(HKEY_LOCAL_MACHINE), 0, 0 };
    CmdListEntry* list = engine.ScanRegistry(text.data(), nullptr, slots, report, &stop);
    CloseReport(report);
    std::vector<std::wstring> found;
    for (CmdListEntry* e = list; e; e = e->next)
        found.push_back(e->path);
    CmdListFree(&list);
    EXPECT_EQ(found, std::vector<std::wstring>{ kTrayValueFinding });
    for (const auto& check : engine.Checks()) {
        const std::string name = check.first->Identity().recordName;
        if (name == "traceSession" || name == "folder") {
            EXPECT_EQ(check.second.state, KindCheck::Skipped) << name;
        }
    }
}

TEST_F(SearchTest, AStopEndsEveryThreadAndKeepsWhatWasFoundInOrder)
{
    SeedMixedTree(HKEY_CURRENT_USER, key.Path(), keyword);
    SearchResult whole = Search(keyword, kUserOnly, 0, 1);
    // Stop from another thread once part of the tree is searched.
    struct Flags
    {
        LONG stop = 0, keys = 0;
    } flags;
    LONG& stop = flags.stop;
    LONG& keys = flags.keys;
    std::string reportPath = kt::ScratchDir("stopped") + "report.txt";
    HANDLE report = OpenReport(reportPath.c_str());
    EngineProbe engine;
    engine.SetSearchThreads(4);
    engine.SetProgressCounter(&keys);
    HANDLE stopper = CreateThread(
        nullptr, 0,
        [](LPVOID p) -> DWORD {
            Flags* shared = static_cast<Flags*>(p);
            while (SharedRead(&shared->keys) < 300)
                SwitchToThread();
            SharedWrite(&shared->stop, 1);
            return 0;
        },
        &flags, 0, nullptr);
    std::vector<char> text(keyword.begin(), keyword.end());
    text.push_back('\0');
    RootKeySlot slots[kRootKeyCount] = { 0, kUser, 0, 0, 0 };
    CmdListEntry* list = engine.ScanRegistry(text.data(), nullptr, slots, report, &stop);
    WaitForSingleObject(stopper, INFINITE);
    CloseHandle(stopper);
    CloseReport(report);
    std::vector<std::wstring> found;
    for (CmdListEntry* e = list; e; e = e->next)
        found.push_back(e->path);
    CmdListFree(&list);
    EXPECT_LT(keys, 1500) << "the threads stopped soon after the request";
    // What was found is part of the whole result, in its order.
    size_t at = 0;
    for (const std::wstring& p : found) {
        while (at < whole.paths.size() && whole.paths[at] != p)
            ++at;
        EXPECT_LT(at, whole.paths.size()) << kt::Utf8(p) << " is no finding of the whole search, or out of order";
    }
    std::string reportText = kt::ReadFileBytes(reportPath);
    for (const std::wstring& p : found)
        EXPECT_NE(reportText.find(kt::Utf8(p) + "\r\n"), std::string::npos);
}

TEST(KeyPlaces, WhereAKeyLiesFollowsFromItsParentAndItsOwnName)
{
    const std::wstring set = L"ControlSet001";
    const struct
    {
        KeyPlace parent;
        const wchar_t* name;
        KeyPlace next;
    } rows[] = {
        { RootPlace(HKEY_LOCAL_MACHINE), L"system", kSystemKey },  { kSystemKey, L"CurrentControlSet", kControlSetKey },
        { kSystemKey, L"controlset001", kControlSetKey },          { kSystemKey, L"ControlSet002", kNoPlace },
        { kControlSetKey, L"Enum", kEnumKey },                     { kControlKey, L"Class", kDeviceClassesKey },
        { kDeviceClassesKey, L"{4d36e967-0}", kDeviceClassKey },    { kEnumeratorKey, L"VMFILTER", kDeviceKey },
        { kDeviceKey, L"0000", kInstanceKey },                     { kInstanceKey, L"Device Parameters", kNoPlace },
        { RootPlace(HKEY_USERS), L"S-1-5-21-1_Classes", kClassPlace }, { RootPlace(HKEY_USERS), L"S-1-5-21-1", kUserHive },
        { kUserHive, L"Software", kSoftwareKey },                  { kSoftwareKey, L"WOW6432Node", kSoftwareKey },
        { kSoftwareKey, L"classes", kClassPlace },                 { kClassPlace, L"Wow6432Node", kClassPlace },
        { RootPlace(HKEY_CLASSES_ROOT), L"CLSID", kClsidContainer }, { kClsidContainer, L"{0}", kComClass },
        { kComClass, L"LocalServer32", kServerKey },               { kComClass, L"ProgID", kNoPlace },
        { kTypeLibVersion, L"409", kTypeLibLocale },                { kTypeLibVersion, L"FLAGS", kNoPlace },
        { kTypeLibLocale, L"win64", kTypeLibFile },                { kInterface, L"ProxyStubClsid", kProxyKey },
        { kCurrentVersion, L"Uninstall", kUninstallContainer },    { kUninstallContainer, L"{0}", kUninstallEntry },
        { kShellExtensions, L"Approved", kApprovedKey },           { RootPlace(HKEY_CURRENT_CONFIG), L"System", kNoPlace },
    };
    for (const auto& row : rows)
        EXPECT_EQ(NextPlace(row.parent, row.name, set), row.next) << kt::Utf8(row.name);
}

// A kind whose place is not the registry walk, as scheduled tasks, catalog entries and files are:
// files of a folder of the test's own whose names hold a keyword. It fits the same seam: decided
// after the walk, shown, recorded, removed in its rank and backed up first.
class CScratchFileKind : public ILeftoverKind
{
public:
    explicit CScratchFileKind(const std::wstring& folder) : m_folder(folder) {}
    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { 'X', "scratchFile", -1, 0 };
        return identity;
    }
    bool LooksIn(const SearchScope&) const override { return true; }
    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((m_folder + L"*").c_str(), &found);
        for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found))
            if (!facts.keywords.Matching(found.cFileName).empty())
                findings.Add(*this, m_folder + found.cFileName, L"a file in the test's folder",
                             facts.keywords.Matching(found.cFileName));
        FindClose(search);
        return KindCheck();
    }
    std::unique_ptr<CPreparedRemoval> Prepare(const CmdListEntry& finding, const RemovalContext&) const override
    {
        std::wstring text;
        AppendRegComment(text, std::wstring(L"file ") + finding.path);
        return std::unique_ptr<CPreparedRemoval>(new CPreparedText(text));
    }
    RemovalResult Remove(const CmdListEntry& finding, CPreparedRemoval& prepared, RemovalContext& context) const override
    {
        RemovalResult result;
        if (context.backup.Append(static_cast<CPreparedText&>(prepared).Text()) && DeleteFileW(finding.path))
            result.outcome = Outcome::Removed;
        return result;
    }
    bool IsGone(const CmdListEntry& finding) const override
    {
        return GetFileAttributesW(finding.path) == INVALID_FILE_ATTRIBUTES;
    }

private:
    std::wstring m_folder;
};

TEST_F(SearchTest, AKindOutsideTheWalkFitsTheSeamFromSearchToRemoval)
{
    key.Make(keyword + "Key\\Sub");
    const std::string folder = kt::ScratchDir("kinds");
    ASSERT_TRUE(kt::WriteFileBytes(folder + keyword + ".dat", "x"));
    ASSERT_TRUE(kt::WriteFileBytes(folder + "other.dat", "y"));
    const CScratchFileKind files(kt::Widen(folder));
    std::vector<const ILeftoverKind*> kinds = LeftoverKinds();
    kinds.push_back(&files);
    CKlarnEngine engine;
    engine.SetKinds(kinds);
    const std::string reportPath = folder + "report.txt";
    CReport report;
    ASSERT_TRUE(report.Open(reportPath.c_str()));
    LONG stop = 0;
    const RootKeySlot slots[kRootKeyCount] = { 0, kUser, 0, 0, 0 };
    CFindingsList found;
    found.Reset(engine.Search(CKeywords(keyword.c_str()), nullptr, slots, report, &stop));
    std::vector<const CmdListEntry*> list;
    for (const CmdListEntry* entry = found.Get(); entry; entry = entry->next)
        list.push_back(entry);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(std::wstring(list[0]->path), Full(keyword + "Key")) << "the table's kinds first";
    EXPECT_EQ(list[1]->kind, 'X');
    EXPECT_EQ(RecordedFinding::Of(*list[1], Outcome::Listed).kind, "scratchFile");

    // Its rank puts it first in a removal pass, and its backup with it.
    std::vector<size_t> order;
    CRemovalPass pass(reportPath.c_str());
    pass.Run(list, [&](size_t index, const RemovalResult& result) {
        order.push_back(index);
        EXPECT_EQ(result.outcome, Outcome::Removed);
        report.WriteLine(RemovalReportLine(*list[index], result.outcome).c_str());
    });
    report.Close();
    EXPECT_EQ(order, (std::vector<size_t>{ 1, 0 }));
    EXPECT_FALSE(kt::FileExists(folder + keyword + ".dat"));
    EXPECT_TRUE(kt::FileExists(folder + "other.dat"));
    EXPECT_FALSE(key.Exists(keyword + "Key"));
    const std::wstring backup = kt::ReadUtf16(kt::Utf8(pass.BackupPath()));
    EXPECT_LT(backup.find(L"; file " + kt::Widen(folder + keyword) + L".dat"), backup.find(L"[" + Full(keyword + "Key") + L"]"));
    const std::string text = kt::ReadFileBytes(reportPath);
    EXPECT_NE(text.find(folder + keyword + ".dat  (a file in the test's folder)\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\n" + folder + keyword + ".dat\r\n" + key.Full(keyword + "Key") + "\r\n"), std::string::npos) << text;
}

}  // namespace
