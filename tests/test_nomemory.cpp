// Out of memory and other failures must never end in a box or an undocumented code. This
// program is linked with calloc wrapped and replaces operator new, so that allocations can be
// made to fail where the test says.
#include <gtest/gtest.h>
#include "TestSupport.h"
#include "../app/AppConstants.h"
#include "../app/KlarnerApp.h"
#include "../app/UnattendedRun.h"
#include "../engine/kinds/KindsTable.h"
#include "../engine/search/CmdList.h"
#include "../engine/KlarnEngine.h"
#include "../report/ReportLog.h"
#include "../resources/resource.h"
#include <atomic>
#include <cstdlib>
#include <new>

extern "C" {
void* __real_calloc(size_t count, size_t size);
// Only the next findings entry fails: the process's own exit still needs memory.
static bool g_failNextEntry = false;
void* __wrap_calloc(size_t count, size_t size)
{
    if (g_failNextEntry && count == 1 && size == sizeof(CmdListEntry)) {
        g_failNextEntry = false;
        return nullptr;
    }
    return __real_calloc(count, size);
}
}

namespace {
std::atomic<bool> g_failOnOtherThreads{ false };
DWORD g_testThread = GetCurrentThreadId();
}

void* operator new(size_t size)
{
    if (g_failOnOtherThreads && GetCurrentThreadId() != g_testThread)
        throw std::bad_alloc();
    if (void* block = malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept { free(block); }
void operator delete(void* block, size_t) noexcept { free(block); }

namespace {

TEST(FindingsListDeathTest, WithoutAHandlerAnAllocationFailureEndsTheProcessWithTheWindowsCode)
{
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_EXIT(
        {
            CmdListEntry* head = nullptr;
            CmdListAppend(&head);
            g_failNextEntry = true;
            CmdListAppend(&head);
            fprintf(stderr, "still running\n");
            exit(3);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(OutOfMemory, AFailedEntryInAnUnattendedRunEndsItWithItsCodeAndSaysSo)
{
    const std::string base = "Software\\" + kt::UniqueName("kltnomem");
    const std::string keyword = kt::UniqueName("kw");
    ASSERT_TRUE(kt::CreateKey(HKEY_CURRENT_USER, base + "\\" + keyword + "Found"));
    kt::UseLanguage("en-us");
    const std::string report = kt::ScratchDir("nomemory") + "report.txt";
    CKlarnerApp app;
    app.m_unattended = TRUE;
    app.m_delete = 1;
    g_failNextEntry = true;
    app.RunUnattended(report.c_str(), keyword.c_str(), "HKEY_CURRENT_USER");
    g_failNextEntry = false;
    EXPECT_EQ(app.m_exitCode, kExitOutOfMemory);
    CString message;
    message.LoadString(IDS_OUT_OF_MEMORY);
    EXPECT_NE(kt::ReadFileBytes(report).find("\r\n" + std::string(message) + "\r\n"), std::string::npos);
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, base + "\\" + keyword + "Found")) << "nothing was removed";
    kt::DeleteTree(HKEY_CURRENT_USER, base);
}

TEST(OutOfMemory, AFailureOnAnyThreadOfTheSearchReachesItsCaller)
{
    // Wide enough that the other threads take part of it.
    const std::string base = "Software\\" + kt::UniqueName("kltwide");
    for (int i = 0; i < 1500; ++i)
        ASSERT_TRUE(kt::CreateKey(HKEY_CURRENT_USER, base + "\\k" + std::to_string(i) + "\\a"));
    CKlarnEngine engine;
    engine.SetSearchThreads(4);
    char keywords[] = "kltnothingmatcheshere";
    RootKeySlot slots[kRootKeyCount] = { 0, SlotFromHkey(HKEY_CURRENT_USER), 0, 0, 0 };
    LONG stop = 0;
    HANDLE report = OpenReport((kt::ScratchDir("nomemory") + "wide.txt").c_str());
    g_failOnOtherThreads = true;
    EXPECT_THROW(engine.ScanRegistry(keywords, nullptr, slots, report, &stop), std::bad_alloc);
    g_failOnOtherThreads = false;
    CloseReport(report);
    kt::DeleteTree(HKEY_CURRENT_USER, base);
}

// A kind whose removal runs out of memory, after the findings before it went.
class CExhaustingKind : public ILeftoverKind
{
public:
    explicit CExhaustingKind(const std::wstring& path) : m_path(path) {}
    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { 'X', "exhausting", 9, 0 };
        return identity;
    }
    bool LooksIn(const SearchScope&) const override { return true; }
    KindCheck Decide(const CSearchFacts&, CFindings& findings) const override
    {
        findings.Add(*this, m_path, L"", L"");
        return KindCheck();
    }
    std::unique_ptr<CPreparedRemoval> Prepare(const CmdListEntry&, const RemovalContext&) const override
    {
        return std::unique_ptr<CPreparedRemoval>(new CPreparedText(L""));
    }
    RemovalResult Remove(const CmdListEntry&, CPreparedRemoval&, RemovalContext&) const override { throw std::bad_alloc(); }
    bool IsGone(const CmdListEntry&) const override { return false; }

private:
    std::wstring m_path;
};

TEST(OutOfMemory, AFailureDuringRemovalKeepsWhatWasRemovedInTheRecord)
{
    const std::string base = "Software\\" + kt::UniqueName("kltremoving");
    const std::string keyword = kt::UniqueName("kw");
    ASSERT_TRUE(kt::CreateKey(HKEY_CURRENT_USER, base + "\\" + keyword + "Gone"));
    kt::UseLanguage("en-us");
    const CExhaustingKind exhausting(L"HKEY_CURRENT_USER\\" + kt::Widen(base) + L"\\never");
    UnattendedRequest request;
    request.reportPath = (kt::ScratchDir("nomemory") + "removing.txt").c_str();
    request.keywords = keyword.c_str();
    request.rootName = "HKEY_CURRENT_USER";
    request.remove = true;
    request.kinds = { KindNamed("key"), &exhausting };
    CRunRecord record;
    EXPECT_EQ(CUnattendedRun(record).Run(request), kExitOutOfMemory);
    EXPECT_FALSE(kt::KeyExists(HKEY_CURRENT_USER, base + "\\" + keyword + "Gone"));
    // Read as text: this program's own allocator stays out of the JSON library.
    const std::string text = record.Text(kExitOutOfMemory);
    const size_t removed = text.find("\"status\": \"removed\""), listed = text.find("\"status\": \"listed\"");
    EXPECT_NE(removed, std::string::npos) << text;
    EXPECT_GT(listed, removed) << text;
    EXPECT_EQ(text.find("\"backups\": []"), std::string::npos) << "the backup of what went is named: " << text;
    kt::DeleteTree(HKEY_CURRENT_USER, base);
}

TEST(UnattendedMode, NoSystemBoxes)
{
    EnterUnattendedMode();
    const UINT mode = GetErrorMode();
    EXPECT_TRUE(mode & SEM_FAILCRITICALERRORS);
    EXPECT_TRUE(mode & SEM_NOOPENFILEERRORBOX);
    EXPECT_TRUE(mode & SEM_NOGPFAULTERRORBOX);
}

}  // namespace
