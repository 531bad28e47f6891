// A findings entry that cannot be allocated ends the process with a failure code. This
// program is linked with calloc wrapped, so that the allocation can be made to fail.
#include <gtest/gtest.h>
#include "../engine/CmdList.h"
#include <cstdlib>

extern "C" {
void* __real_calloc(size_t count, size_t size);
// Only the next allocation fails: the process's own exit still needs memory.
static bool g_failAllocations = false;
void* __wrap_calloc(size_t count, size_t size)
{
    if (g_failAllocations) {
        g_failAllocations = false;
        return nullptr;
    }
    return __real_calloc(count, size);
}
}

namespace {

TEST(FindingsListDeathTest, AllocationFailureEndsTheProcessWithTheOutOfMemoryCode)
{
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_EXIT(
        {
            CmdListEntry* head = nullptr;
            CmdListAppend(&head);
            g_failAllocations = true;
            CmdListAppend(&head);
            g_failAllocations = false;
            fprintf(stderr, "still running\n");
            exit(0);
        },
        ::testing::ExitedWithCode(kExitOutOfMemory), "");
}

TEST(FindingsListDeathTest, AllocationFailureOnAnEmptyListEndsTheProcessToo)
{
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_EXIT(
        {
            CmdListEntry* head = nullptr;
            g_failAllocations = true;
            CmdListAppend(&head);
            g_failAllocations = false;
            exit(0);
        },
        ::testing::ExitedWithCode(kExitOutOfMemory), "");
}

}  // namespace
