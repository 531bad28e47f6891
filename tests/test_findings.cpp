// Findings list and root key names.
#include <gtest/gtest.h>
#include "../engine/search/CmdList.h"
#include "../engine/registry/KeyNames.h"
#include "../engine/registry/RootKeys.h"
#include "../engine/kinds/KindsTable.h"
#include "../engine/registry/LoadedHives.h"
#include "../engine/registry/RegFile.h"
#include "../engine/system/FilterLists.h"
#include "../engine/system/ProviderOrder.h"
#include <cstring>
#include <set>

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


std::vector<BYTE> Multi(std::initializer_list<const wchar_t*> entries)
{
    std::vector<BYTE> data;
    for (const wchar_t* entry : entries) {
        const BYTE* bytes = reinterpret_cast<const BYTE*>(entry);
        data.insert(data.end(), bytes, bytes + (wcslen(entry) + 1) * sizeof(wchar_t));
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

TEST(PureFunctions, AListEntryGoesBackInItsPlaceAndWhatWindowsNeverReadsStays)
{
    const struct
    {
        std::vector<BYTE> list;
        size_t index;
        std::vector<BYTE> expected;
    } cases[] = {
        { Multi({ L"a", L"b" }), 0, Multi({ L"x", L"a", L"b" }) },
        { Multi({ L"a", L"b" }), 1, Multi({ L"a", L"x", L"b" }) },
        { Multi({ L"a", L"b" }), 2, Multi({ L"a", L"b", L"x" }) },
        { Multi({ L"a", L"b" }), 9, Multi({ L"a", L"b", L"x" }) },
        { std::vector<BYTE>(), 3, Multi({ L"x" }) },
    };
    for (const auto& each : cases)
        EXPECT_EQ(WithEntryAt(each.list, L"x", each.index), each.expected) << each.index;
    // Behind the empty string that ends the list: kept byte for byte.
    std::vector<BYTE> hidden = Multi({ L"a" });
    const std::vector<BYTE> tail = Multi({ L"old" });
    hidden.insert(hidden.end(), tail.begin(), tail.end());
    std::vector<BYTE> expected = Multi({ L"x", L"a" });
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(WithEntryAt(hidden, L"x", 0), expected);
}

TEST(PureFunctions, TheProviderOrderSplitsOnCommasAndLosesANameInAnyCase)
{
    EXPECT_EQ(SplitProviderOrder(L"RDPNP,LanmanWorkstation,,webclient"),
              (std::vector<std::wstring>{ L"RDPNP", L"LanmanWorkstation", L"webclient" }));
    EXPECT_TRUE(SplitProviderOrder(L"").empty());
    EXPECT_EQ(WithoutProvider(L"a,B,c,b", L"b"), L"a,c");
    EXPECT_EQ(WithoutProvider(L"vmnp", L"VMNP"), L"");
    EXPECT_EQ(WithoutProvider(L"a,c", L"b"), L"a,c");
}

TEST(PureFunctions, TheRegFileReadsBackWhatItWritesAndNothingElse)
{
    const BYTE binary[200] = { 1, 2, 3 };
    const DWORD number = 0x12345678;
    const wchar_t text[] = L"C:\\Program Files\\\"quoted\"";
    const wchar_t expand[] = L"%SystemRoot%\\x.dll";
    std::wstring file = std::wstring(kRegFileHeader) + L"\r\n\r\n";
    ASSERT_TRUE(AppendRegSection(file, L"HKEY_LOCAL_MACHINE\\Software\\Klt"));
    ASSERT_TRUE(AppendRegValue(file, L"", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text));
    ASSERT_TRUE(AppendRegValue(file, L"n", 1, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number));
    ASSERT_TRUE(AppendRegValue(file, L"e", 1, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(expand), sizeof expand));
    ASSERT_TRUE(AppendRegComment(file, L"a comment between a section and its values"));
    ASSERT_TRUE(AppendRegValue(file, L"b", 1, REG_BINARY, binary, sizeof binary));
    EXPECT_FALSE(AppendRegValue(file, L"a\nb", 3, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text));
    EXPECT_FALSE(AppendRegSection(file, L"HKEY_LOCAL_MACHINE\\Software\\a\r\n[HKEY_LOCAL_MACHINE\\b]"));
    std::vector<RegFileItem> items;
    std::wstring why;
    ASSERT_TRUE(ParseRegFile(file, items, why)) << why;
    ASSERT_EQ(items.size(), 2u);
    ASSERT_TRUE(items[0].section);
    ASSERT_EQ(items[0].values.size(), 4u) << "the long byte list's lines are one value, after the comment too";
    EXPECT_EQ(items[0].values[0].name, L"");
    EXPECT_EQ(items[0].values[0].data, std::vector<BYTE>(reinterpret_cast<const BYTE*>(text), reinterpret_cast<const BYTE*>(text) + sizeof text));
    EXPECT_EQ(items[0].values[1].type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(*reinterpret_cast<const DWORD*>(items[0].values[1].data.data()), number);
    EXPECT_EQ(items[0].values[2].type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(items[0].values[3].data, std::vector<BYTE>(binary, binary + sizeof binary));
    EXPECT_FALSE(items[1].section);

    RegValue value;
    for (const wchar_t* bad : { L"\"a\"=dword:123", L"\"a\"=hex(z):00", L"\"a\"=\"open", L"a=\"b\"", L"\"a\"=hex:0g" })
        EXPECT_FALSE(ParseRegValue(bad, value)) << bad;
    for (const std::wstring& bad : { std::wstring(L"REGEDIT4\r\n"), std::wstring(kRegFileHeader) + L"\r\n\"a\"=\"b\"\r\n",
                                     std::wstring(kRegFileHeader) + L"\r\n[-HKEY_LOCAL_MACHINE\\x]\r\n" }) {
        items.clear();
        EXPECT_FALSE(ParseRegFile(bad, items, why)) << std::string(bad.begin(), bad.end());
    }
}

TEST(PureFunctions, AnotherInstallationsKeysInItsOwnTermsAndBack)
{
    SetLoadedHives({ { L"S-1-5-21-1", true } });
    const std::wstring own = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora";
    const std::wstring loaded = LoadedFullPath(own);
    EXPECT_NE(loaded, own);
    EXPECT_TRUE(IsLoadedName(loaded.substr(wcslen(L"HKEY_LOCAL_MACHINE\\"), loaded.find(L'\\', 19) - 19)));
    EXPECT_EQ(OwnFullPath(loaded), own);
    EXPECT_EQ(OwnFullPath(LoadedFullPath(L"HKEY_USERS\\S-1-5-21-1_Classes\\CLSID")), L"HKEY_USERS\\S-1-5-21-1_Classes\\CLSID");
    ClearLoadedHives();
    EXPECT_EQ(LoadedFullPath(own), own) << "without an installation open, paths are this machine's";
}

// The contract of the table: one record name and one display name per kind, found again by its
// record name; the order the kinds decide in keeps its rules; files come after every kind that
// says which files its registrations claim.
TEST(KindsTable, NamesAreUniqueAndTheOrderKeepsItsRules)
{
    const std::vector<const ILeftoverKind*>& kinds = LeftoverKinds();
    std::set<std::string> records;
    std::set<UINT> names;
    auto at = [&](const char* record) {
        for (size_t i = 0; i < kinds.size(); ++i)
            if (std::string(kinds[i]->Identity().recordName) == record)
                return i;
        return kinds.size();
    };
    for (const ILeftoverKind* kind : kinds) {
        EXPECT_TRUE(records.insert(kind->Identity().recordName).second) << kind->Identity().recordName;
        EXPECT_TRUE(names.insert(kind->Identity().nameId).second) << kind->Identity().recordName;
        EXPECT_EQ(KindNamed(kind->Identity().recordName), kind);
    }
    for (const KindOrderRule& rule : KindsOrderRules()) {
        ASSERT_LT(at(rule.kind), kinds.size()) << rule.kind;
        ASSERT_LT(at(rule.after), kinds.size()) << rule.after;
        EXPECT_GT(at(rule.kind), at(rule.after)) << rule.kind << " after " << rule.after;
    }
    const std::vector<const IClaimsFiles*> claimers = FileClaimersAmong(kinds);
    EXPECT_GE(claimers.size(), 10u);
    for (const char* files : { "folder", "file" })
        for (size_t i = 0; i < kinds.size(); ++i) {
            if (dynamic_cast<const IClaimsFiles*>(kinds[i])) {
                EXPECT_LT(i, at(files)) << kinds[i]->Identity().recordName << " claims files and decides before " << files;
            }
        }
}
}  // namespace
