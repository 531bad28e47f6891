// The cleaning engine's search on the real registry of the test prefix: keyword splitting,
// the search with its protected areas, the floor, failures, links, hidden and Unicode names,
// and the same results on any number of threads.
#include "engine/SearchFixture.h"

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

}  // namespace
