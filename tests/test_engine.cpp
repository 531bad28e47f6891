// The cleaning engine on the real registry of the test prefix: keyword splitting, the
// search with its protected areas and failures, and removal of keys and values.
#include <gtest/gtest.h>
#include "EngineProbe.h"
#include "TestSupport.h"
#include "../engine/Constants.h"
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

TEST(KeywordSplitting, OnlyTheFirst255CharactersCount)
{
    // 25 entries of "abcdefghi," fill 250 characters; the 26th is cut after 5 characters.
    std::string text;
    for (int i = 0; i < 30; ++i)
        text += "abcdefghi,";
    Terms terms = Split(text.c_str());
    ASSERT_EQ(terms.size(), 26u);
    EXPECT_EQ(terms[24], "abcdefghi");
    EXPECT_EQ(terms[25], "abcde");
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
    std::vector<std::string> paths;
    std::vector<char> kinds;
    std::string report;
};

SearchResult Search(const std::string& keywords, const std::vector<RootKeySlot>& slots, LONG stop = 0)
{
    std::string reportPath = kt::ScratchDir("search") + "report.txt";
    HANDLE report = OpenReport(reportPath.c_str());
    EngineProbe engine;
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

const std::vector<RootKeySlot> kUserOnly = { 0, 0x80000001, 0, 0, 0 };

class SearchTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        kt::UseLanguage("en-us");
        base = "Software\\" + kt::UniqueName("kltbase");
        keyword = kt::UniqueName("kw");
        upper = keyword;
        for (char& c : upper)
            c = static_cast<char>(toupper(c));
        ASSERT_TRUE(kt::CreateKey(HKEY_CURRENT_USER, base));
        openFailed.LoadString(184);
    }
    void TearDown() override { kt::DeleteTree(HKEY_CURRENT_USER, base); }

    std::string Full(const std::string& below) { return "HKEY_CURRENT_USER\\" + base + "\\" + below; }
    void Make(const std::string& below) { ASSERT_TRUE(kt::CreateKey(HKEY_CURRENT_USER, base + "\\" + below)); }

    std::string base, keyword, upper;
    CString openFailed;
};

TEST_F(SearchTest, TopMostMatchesInTheRegistrysLetterCase)
{
    Make("Pre" + upper + "\\Bar");
    Make(upper + "Bar");
    Make("X\\" + keyword + "\\Deeper" + keyword);
    Make("Unrelated\\Child");
    SearchResult r = Search(keyword, kUserOnly);
    std::vector<std::string> expected = { Full("Pre" + upper), Full(upper + "Bar"), Full("X\\" + keyword) };
    std::vector<std::string> sorted = r.paths;
    std::sort(sorted.begin(), sorted.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sorted, expected);
    for (char kind : r.kinds)
        EXPECT_EQ(kind, 'K');
}

TEST_F(SearchTest, ReportLinesOfASearch)
{
    Make("Pre" + upper);
    SearchResult r = Search(upper + ",zzqnothing", kUserOnly);
    std::string expected = "Search terms:\r\n" + keyword + ",zzqnothing\r\n\r\n\r\n\r\n\r\n" + Full("Pre" + upper) + "\r\n";
    EXPECT_EQ(r.report, expected);
}

TEST_F(SearchTest, RootNameNeverMatches)
{
    SearchResult r = Search("hkey_current_user", kUserOnly);
    EXPECT_TRUE(r.paths.empty());
}

TEST_F(SearchTest, ProtectedPathsInAnyLetterCase)
{
    Make("Legacy\\" + keyword);
    Make("lEGACYx\\" + keyword + "\\Inner" + keyword);
    Make(keyword + "LEGACY\\Sub" + keyword);
    Make("Security Center\\Monitoring\\" + keyword);
    Make("SECURITY CENTER\\MONITORING\\Deep\\" + keyword);
    Make("Security Center\\Other\\" + keyword);
    SearchResult r = Search(keyword, kUserOnly);
    ASSERT_EQ(r.paths.size(), 1u) << (r.paths.empty() ? "" : r.paths[0]);
    EXPECT_EQ(r.paths[0], Full("Security Center\\Other\\" + keyword));
}

TEST_F(SearchTest, UnreadableDirectSubkeyStopsItsParent)
{
    Make(keyword + "A\\Locked");
    Make(keyword + "A\\Fine");
    Make(keyword + "B\\Mid\\Locked2");
    ASSERT_TRUE(kt::DenyRead(HKEY_CURRENT_USER, base + "\\" + keyword + "A\\Locked"));
    ASSERT_TRUE(kt::DenyRead(HKEY_CURRENT_USER, base + "\\" + keyword + "B\\Mid\\Locked2"));
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
    std::string b(505 - Full(a).size() - 1, 'b');
    ASSERT_GT(Full(a + "\\" + b + "\\" + keyword).size(), 511u);
    HKEY level = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, base.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &level, nullptr), 0);
    for (const std::string& name : { a, b, keyword }) {
        HKEY next = nullptr;
        ASSERT_EQ(RegCreateKeyExA(level, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &next, nullptr), 0);
        RegCloseKey(level);
        level = next;
    }
    RegCloseKey(level);
    Make(upper + "Short");
    SearchResult r = Search(keyword, kUserOnly);
    ASSERT_EQ(r.paths.size(), 1u);
    EXPECT_EQ(r.paths[0], Full(upper + "Short"));
    EXPECT_NE(r.report.find(std::string(openFailed) + keyword + "\r\n"), std::string::npos);
}

TEST_F(SearchTest, StopBeforeTheSearchStillChecksTheStartupValue)
{
    const std::string run = kRunKeyPath;
    ASSERT_TRUE(kt::SetStringValue(HKEY_LOCAL_MACHINE, run, "vmtray", "C:\\vm\\vmtray.exe"));
    Make(keyword);
    // Stopped: no key findings, no walk of HKEY_LOCAL_MACHINE, but the value is found.
    SearchResult stopped = Search(keyword + ",vmtray", { 0, 0x80000001, 0x80000002, 0, 0 }, 1);
    ASSERT_EQ(stopped.paths.size(), 1u);
    EXPECT_EQ(stopped.paths[0], kTrayValueFinding);
    EXPECT_EQ(stopped.kinds[0], 'V');
    EXPECT_EQ(stopped.report.rfind("Search terms:\r\n", 0), 0u);

    // Twice in the list: two entries. Part of a longer entry only: no check.
    EXPECT_EQ(Search("vmtray,vmtray", { 0, 0, 0x80000002, 0, 0 }, 1).paths.size(), 2u);
    EXPECT_TRUE(Search("vmtray2", { 0, 0, 0x80000002, 0, 0 }, 1).paths.empty());
    // An empty keyword list never fires the check.
    EXPECT_TRUE(Search(",vmtray", { 0, 0, 0x80000002, 0, 0 }, 1).paths.empty());
    // Without the machine slot there is no check, whatever the keywords.
    SearchResult user = Search("vmtray", kUserOnly);
    for (const std::string& p : user.paths)
        EXPECT_NE(p, kTrayValueFinding);

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, run.c_str(), 0, KEY_SET_VALUE, &key), 0);
    RegDeleteValueA(key, "vmtray");
    RegCloseKey(key);
    EXPECT_TRUE(Search("vmtray", { 0, 0, 0x80000002, 0, 0 }, 1).paths.empty()) << "no value, no finding";
}

TEST_F(SearchTest, NoSlotsNoWalk)
{
    Make(keyword);
    SearchResult r = Search(keyword + ",vmtray", { 0, 0, 0, 0, 0 });
    EXPECT_TRUE(r.paths.empty());
    EXPECT_EQ(r.report, "Search terms:\r\n" + keyword + ",vmtray\r\n\r\n\r\n\r\n\r\n");
}

TEST_F(SearchTest, SecondSearchOnTheSameEngineUsesOnlyItsOwnKeywords)
{
    Make(keyword + "One");
    Make("Two" + keyword);
    EngineProbe engine;
    LONG stop = 0;
    RootKeySlot slots[kRootKeyCount] = { 0, 0x80000001, 0, 0, 0 };
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
    EXPECT_EQ(std::string(list->path), Full("Two" + keyword));
    EXPECT_EQ(list->next, nullptr);
    CmdListFree(&list);
}

class RemovalTest : public SearchTest
{
protected:
    std::string Below(const std::string& below) { return base + "\\" + below; }
    bool Exists(const std::string& below) { return kt::KeyExists(HKEY_CURRENT_USER, Below(below)); }
};

TEST_F(RemovalTest, KeyWithoutSubkeys)
{
    Make("Leaf");
    EngineProbe engine;
    EXPECT_TRUE(engine.RemoveEntry('K', HKEY_CURRENT_USER, Below("Leaf").c_str()));
    EXPECT_FALSE(Exists("Leaf"));
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, base));
}

TEST_F(RemovalTest, ThreeLevelTreeAndTheBufferIsRestored)
{
    Make("T\\A\\B\\C");
    Make("T\\A\\B2");
    Make("T\\D");
    Make("TSibling");
    kt::SetStringValue(HKEY_CURRENT_USER, Below("T\\A"), "v", "x");
    EngineProbe engine;
    char buffer[kDeletePathChars] = "";
    strcpy(buffer, Below("T").c_str());
    EXPECT_TRUE(engine.DeleteKeyTree(HKEY_CURRENT_USER, buffer));
    EXPECT_EQ(std::string(buffer), Below("T"));
    EXPECT_FALSE(Exists("T"));
    EXPECT_TRUE(Exists("TSibling"));
}

TEST_F(RemovalTest, TrailingBackslash)
{
    Make("T2\\Sub\\Deeper");
    EngineProbe engine;
    char buffer[kDeletePathChars] = "";
    strcpy(buffer, (Below("T2") + "\\").c_str());
    EXPECT_TRUE(engine.DeleteKeyTree(HKEY_CURRENT_USER, buffer));
    EXPECT_EQ(std::string(buffer), Below("T2"));
    EXPECT_FALSE(Exists("T2"));
}

TEST_F(RemovalTest, KeyAlreadyGoneIsAFailure)
{
    EngineProbe engine;
    EXPECT_FALSE(engine.RemoveEntry('K', HKEY_CURRENT_USER, Below("NeverThere").c_str()));
}

TEST_F(RemovalTest, SubkeyThatCannotBeRemovedLeavesAPartialTree)
{
    Make("T3\\a\\inner");
    Make("T3\\b");
    Make("T3\\c");
    ASSERT_TRUE(kt::DenyRead(HKEY_CURRENT_USER, Below("T3\\b")));
    EngineProbe engine;
    EXPECT_FALSE(engine.RemoveEntry('K', HKEY_CURRENT_USER, Below("T3").c_str()));
    EXPECT_FALSE(Exists("T3\\a"));
    EXPECT_TRUE(Exists("T3\\b"));
    EXPECT_TRUE(Exists("T3\\c"));
    EXPECT_TRUE(Exists("T3"));
}

TEST_F(RemovalTest, Values)
{
    Make("V");
    kt::SetStringValue(HKEY_CURRENT_USER, Below("V"), "vmtray", "x");
    kt::SetStringValue(HKEY_CURRENT_USER, Below("V"), "other", "y");
    kt::SetStringValue(HKEY_CURRENT_USER, Below("V"), "", "default");
    EngineProbe engine;
    EXPECT_TRUE(engine.RemoveEntry('V', HKEY_CURRENT_USER, Below("V\\vmtray").c_str()));
    EXPECT_FALSE(kt::ValueExists(HKEY_CURRENT_USER, Below("V"), "vmtray"));
    EXPECT_TRUE(kt::ValueExists(HKEY_CURRENT_USER, Below("V"), "other"));
    EXPECT_FALSE(engine.RemoveEntry('V', HKEY_CURRENT_USER, Below("V\\vmtray").c_str()));
    // An empty last component names the default value.
    EXPECT_TRUE(engine.RemoveEntry('V', HKEY_CURRENT_USER, (Below("V") + "\\").c_str()));
    EXPECT_FALSE(kt::ValueExists(HKEY_CURRENT_USER, Below("V"), ""));
    EXPECT_TRUE(Exists("V"));
}

TEST_F(RemovalTest, ValueInAKeyThatDeniesWriting)
{
    Make("W");
    kt::SetStringValue(HKEY_CURRENT_USER, Below("W"), "vmtray", "x");
    ASSERT_TRUE(kt::DenyWrite(HKEY_CURRENT_USER, Below("W")));
    EngineProbe engine;
    EXPECT_FALSE(engine.RemoveEntry('V', HKEY_CURRENT_USER, Below("W\\vmtray").c_str()));
    EXPECT_TRUE(kt::ValueExists(HKEY_CURRENT_USER, Below("W"), "vmtray"));
}

TEST_F(RemovalTest, NothingIsRemovedForOtherKindsOrPathsThatNameNoEntry)
{
    Make("X");
    EngineProbe engine;
    EXPECT_FALSE(engine.RemoveEntry('X', HKEY_CURRENT_USER, Below("X").c_str()));
    EXPECT_FALSE(engine.RemoveEntry('V', HKEY_CURRENT_USER, "novaluehere"));
    EXPECT_TRUE(Exists("X"));
    // An empty path would name the whole root key.
    EXPECT_FALSE(engine.RemoveEntry('K', HKEY_CURRENT_USER, ""));
    EXPECT_FALSE(engine.RemoveEntry('K', HKEY_CURRENT_USER, "\\"));
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, "Software"));
    // A path longer than the working buffer is refused whole.
    std::string tooLong = Below("X") + "\\" + std::string(600, 'z');
    EXPECT_FALSE(engine.RemoveEntry('K', HKEY_CURRENT_USER, tooLong.c_str()));
    EXPECT_TRUE(Exists("X"));
}

TEST_F(RemovalTest, SubkeyPathBeyondTheWorkingBufferFailsWithoutOverrun)
{
    // Levels of 250 characters: the second level's path no longer fits 519 characters.
    std::string a(250, 'a'), b(250, 'b');
    HKEY level = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, Below("T4").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &level,
                              nullptr), 0);
    for (const std::string& name : { a, b }) {
        HKEY next = nullptr;
        ASSERT_EQ(RegCreateKeyExA(level, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &next, nullptr), 0);
        RegCloseKey(level);
        level = next;
    }
    RegCloseKey(level);
    EngineProbe engine;
    char buffer[kDeletePathChars + 16];
    memset(buffer, 0x5A, sizeof buffer);
    strcpy(buffer, Below("T4").c_str());
    EXPECT_FALSE(engine.DeleteKeyTree(HKEY_CURRENT_USER, buffer));
    EXPECT_EQ(std::string(buffer), Below("T4"));
    for (size_t i = kDeletePathChars; i < sizeof buffer; ++i)
        ASSERT_EQ(buffer[i], 0x5A) << "written past the working buffer";
    EXPECT_TRUE(Exists("T4"));
}

}  // namespace
