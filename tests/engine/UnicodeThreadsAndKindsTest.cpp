// The search with names beyond ASCII, on any number of threads and stopped, the walk's places,
// and a kind outside the walk on the seam.
#include "SearchFixture.h"

namespace {

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
