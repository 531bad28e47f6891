// Findings list and root key names.
#include <gtest/gtest.h>
#include "../engine/search/CmdList.h"
#include "../engine/registry/KeyNames.h"
#include "../engine/registry/RootKeys.h"
#include <cstring>

namespace {

CmdListEntry* AppendPath(CmdListEntry** head, const wchar_t* path, char kind)
{
    CmdListEntry* entry = CmdListAppend(head);
    wcsncpy(entry->path, path, kPathChars - 1);
    entry->kind = kind;
    return entry;
}

TEST(FindingsList, FirstAppendBecomesTheHeadAndIsAllZero)
{
    CmdListEntry* head = nullptr;
    CmdListEntry* entry = CmdListAppend(&head);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(head, entry);
    EXPECT_EQ(entry->next, nullptr);
    EXPECT_EQ(entry->kind, 0);
    for (wchar_t c : entry->path)
        ASSERT_EQ(c, 0);
    CmdListFree(&head);
    EXPECT_EQ(head, nullptr);
}

TEST(FindingsList, EntriesKeepTheirOrderAndIndexPastTheEndIsNull)
{
    CmdListEntry* head = nullptr;
    AppendPath(&head, L"A", kKindKey);
    AppendPath(&head, L"B", kKindKey);
    AppendPath(&head, L"C", kKindValue);
    CmdListEntry* fourth = AppendPath(&head, L"D", kKindKey);
    EXPECT_EQ(CmdListGetAt(head, 3), fourth);
    EXPECT_EQ(CmdListGetAt(head, 4), nullptr);
    EXPECT_STREQ(CmdListGetAt(head, 0)->path, L"A");
    EXPECT_STREQ(CmdListGetAt(head, 2)->path, L"C");
    EXPECT_EQ(CmdListGetAt(head, 2)->kind, 'V');
    EXPECT_EQ(fourth->next, nullptr);
    // Index 0 or less yields the head itself.
    EXPECT_EQ(CmdListGetAt(head, -5), head);
    CmdListFree(&head);
    EXPECT_EQ(head, nullptr);
}

TEST(FindingsList, EmptyListYieldsNullEverywhereAndFreesToNull)
{
    CmdListEntry* head = nullptr;
    EXPECT_EQ(CmdListGetAt(head, 0), nullptr);
    EXPECT_EQ(CmdListGetAt(head, 7), nullptr);
    CmdListFree(&head);
    EXPECT_EQ(head, nullptr);
}

TEST(RootKeyNames, ExactNamesOnly)
{
    EXPECT_EQ(HkeyFromName("HKEY_USERS"), HKEY_USERS);
    EXPECT_EQ(HkeyFromName("HKEY_CLASSES_ROOT"), HKEY_CLASSES_ROOT);
    EXPECT_EQ(HkeyFromName("hkey_users"), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(HkeyFromName("HKCU"), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(HkeyFromName(""), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(HkeyFromName("HKEY_USERS "), HKEY_LOCAL_MACHINE);
}

TEST(RootKeyNames, CommandLineNamesInAnyCaseAndTheirAbbreviations)
{
    EXPECT_STREQ(CanonicalRootKeyName("HKLM"), "HKEY_LOCAL_MACHINE");
    EXPECT_STREQ(CanonicalRootKeyName("hkcu"), "HKEY_CURRENT_USER");
    EXPECT_STREQ(CanonicalRootKeyName("HKCR"), "HKEY_CLASSES_ROOT");
    EXPECT_STREQ(CanonicalRootKeyName("Hku"), "HKEY_USERS");
    EXPECT_STREQ(CanonicalRootKeyName("HKCC"), "HKEY_CURRENT_CONFIG");
    EXPECT_STREQ(CanonicalRootKeyName("hkey_users"), "HKEY_USERS");
    EXPECT_STREQ(CanonicalRootKeyName("HKEY_LOCAL_MACHINE"), "HKEY_LOCAL_MACHINE");
    EXPECT_STREQ(CanonicalRootKeyName("HKLM "), "");
    EXPECT_STREQ(CanonicalRootKeyName("HKPD"), "");
    EXPECT_STREQ(CanonicalRootKeyName(""), "");
}

TEST(RootKeyNames, HandlesOutsideTheTableHaveNoName)
{
    EXPECT_STREQ(HkeyName(HKEY_CURRENT_CONFIG), "HKEY_CURRENT_CONFIG");
    EXPECT_STREQ(HkeyName(HKEY_PERFORMANCE_DATA), "");
    EXPECT_STREQ(HkeyName(nullptr), "");
}

TEST(RootKeyNames, EveryNameRoundTripsInSlotOrder)
{
    const char* names[] = { "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS",
                            "HKEY_CURRENT_CONFIG" };
    const RootKeySlot values[] = { 0x80000000, 0x80000001, 0x80000002, 0x80000003, 0x80000005 };
    for (int slot = 0; slot < kRootKeyCount; ++slot) {
        EXPECT_STREQ(HkeyName(HkeyFromName(names[slot])), names[slot]);
        EXPECT_STREQ(RootKeyNameAt(slot), names[slot]);
        // Slots hold the 32-bit handle values; on 64-bit Windows the handles are sign-extended.
        EXPECT_EQ(SlotFromHkey(HkeyFromName(names[slot])), values[slot]);
        EXPECT_EQ(HkeyFromSlot(values[slot]), HkeyFromName(names[slot]));
    }
}

TEST(ReportSpelling, ControlCharactersNeverReachTheReportRaw)
{
    // An escape sequence in a key's name must not steer the terminal that shows the report.
    EXPECT_EQ(ReportSpelling(L"a\x1B[31mb\tc\x7F\x01" L"d\r\n"), "a<U+001B>[31mb<U+0009>c<U+007F><U+0001>d<U+000D><U+000A>");
    EXPECT_EQ(ReportSpelling(L"plain name +-"), "plain name +-");
}

}  // namespace
