// Out of memory and other failures must never end in a box or an undocumented code. This
// program is linked with calloc wrapped and replaces operator new, so that allocations can be
// made to fail where the test says.
#include <gtest/gtest.h>
#include "TestSupport.h"
#include "../app/AppConstants.h"
#include "../app/KlarnerApp.h"
#include "../engine/CmdList.h"
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

TEST(UnattendedMode, NoSystemBoxes)
{
    EnterUnattendedMode();
    const UINT mode = GetErrorMode();
    EXPECT_TRUE(mode & SEM_FAILCRITICALERRORS);
    EXPECT_TRUE(mode & SEM_NOOPENFILEERRORBOX);
    EXPECT_TRUE(mode & SEM_NOGPFAULTERRORBOX);
}

}  // namespace
