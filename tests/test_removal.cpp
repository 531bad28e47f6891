// Removal on the real registry of the test prefix: key trees and values, each backed up first;
// links removed as links, hidden and Unicode names, the floor, and the backup's round trip
// through the registry tool's import.
#include <gtest/gtest.h>
#include "EngineProbe.h"
#include "TestSupport.h"
#include "../engine/registry/Constants.h"
#include "../engine/backup/RegBackup.h"
#include <algorithm>
#include <string>
#include <vector>

namespace {

// Every key below `path` with every value, as text: "key", then "key|name|type|bytes" per value.
void Dump(HKEY parent, const std::wstring& name, const std::wstring& shown, std::vector<std::wstring>& out)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, name.c_str(), REG_OPTION_OPEN_LINK, KEY_READ, &key) != ERROR_SUCCESS) {
        out.push_back(shown + L" <unreadable>");
        return;
    }
    out.push_back(shown);
    for (DWORD i = 0;; ++i) {
        wchar_t valueName[512];
        BYTE data[4096];
        DWORD nameLength = 512, size = sizeof data, type = 0;
        if (RegEnumValueW(key, i, valueName, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        std::wstring line = shown + L"|" + std::wstring(valueName, nameLength) + L"|" + std::to_wstring(type) + L"|";
        for (DWORD b = 0; b < size; ++b)
            line += L"0123456789abcdef"[data[b] >> 4], line += L"0123456789abcdef"[data[b] & 15];
        out.push_back(line);
    }
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        wchar_t child[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        children.emplace_back(child, length);
    }
    for (const std::wstring& child : children)
        Dump(key, child, shown + L"\\" + child, out);
    RegCloseKey(key);
}

std::vector<std::wstring> Dump(HKEY root, const std::wstring& path)
{
    std::vector<std::wstring> out;
    Dump(root, path, path, out);
    return out;
}

// The registry editor's export of a whole root key, as sections, those below `below` only.
std::vector<std::wstring> Export(const char* root, const std::wstring& below)
{
    std::vector<std::wstring> sections;
    for (const std::wstring& section : kt::ExportSections(root))
        if (section.find(below) != std::wstring::npos)
            sections.push_back(section);
    return sections;
}

class RemovalTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        folder = kt::ScratchDir("removal");
        report = folder + "Klarner-Report-07.12.2026.txt";
        backup.reset(new CRegBackup(report.c_str()));
        engine.SetBackup(backup.get());
    }
    void Set(const std::wstring& below, const std::wstring& name, DWORD type, const std::string& bytes)
    {
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, key.Below(below).c_str(), name.c_str(), type, bytes.data(),
                                  static_cast<DWORD>(bytes.size())), ERROR_SUCCESS);
    }
    void SetText(const std::wstring& below, const std::wstring& name, DWORD type, const std::wstring& text)
    {
        Set(below, name, type, std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * 2));
    }
    BOOL Remove(char kind, const std::wstring& below) { return engine.RemoveEntry(kind, HKEY_CURRENT_USER, key.Below(below).c_str()); }
    std::wstring BackupText() { return kt::ReadUtf16(kt::Utf8(backup->Path())); }
    // A backup's sections, after its header and the line naming its installation.
    static std::wstring Sections(const std::wstring& text)
    {
        const size_t first = text.find(L"\r\n[");
        return first == std::wstring::npos ? std::wstring() : text.substr(first + 2);
    }

    kt::ScratchKey key{ "kltremove" };
    std::string folder, report;
    std::unique_ptr<CRegBackup> backup;
    EngineProbe engine;
};

TEST_F(RemovalTest, KeyWithoutSubkeysIsBackedUpBesideTheReportThenRemoved)
{
    key.Make(L"Leaf");
    EXPECT_TRUE(Remove('K', L"Leaf"));
    EXPECT_FALSE(key.Exists(L"Leaf"));
    EXPECT_TRUE(kt::KeyExists(HKEY_CURRENT_USER, key.Path()));
    std::string name = kt::Utf8(backup->Path());
    EXPECT_EQ(name.rfind(folder + "Klarner-Report-07.12.2026-backup-", 0), 0u) << name;
    EXPECT_EQ(name.substr(name.size() - 4), ".reg");
    // The export's header, the installation the backup belongs to, then the key.
    const std::wstring text = BackupText();
    const std::wstring header = L"\xFEFFWindows Registry Editor Version 5.00\r\n\r\n; Velmora Klarner: installation machine ";
    EXPECT_EQ(text.substr(0, header.size()), header);
    EXPECT_EQ(Sections(text), L"[HKEY_CURRENT_USER\\" + key.Below(L"Leaf") + L"]\r\n\r\n");
}

TEST_F(RemovalTest, ThreeLevelTreeAndTheBufferIsRestored)
{
    key.Make(L"T\\A\\B\\C");
    key.Make(L"T\\A\\B2");
    key.Make(L"T\\D");
    key.Make(L"TSibling");
    SetText(L"T\\A", L"v", REG_SZ, L"x");
    wchar_t buffer[kDeletePathChars] = L"";
    wcscpy(buffer, key.Below(L"T").c_str());
    EXPECT_TRUE(engine.DeleteKeyTree(HKEY_CURRENT_USER, buffer));
    EXPECT_EQ(std::wstring(buffer), key.Below(L"T"));
    EXPECT_FALSE(key.Exists(L"T"));
    EXPECT_TRUE(key.Exists(L"TSibling"));
    // Parents before children in the backup.
    std::wstring text = BackupText();
    EXPECT_LT(text.find(L"\\T]"), text.find(L"\\T\\A]"));
    EXPECT_LT(text.find(L"\\T\\A]\r\n\"v\"=\"x\"\r\n\r\n"), text.find(L"\\T\\A\\B]"));
}

TEST_F(RemovalTest, TrailingBackslash)
{
    key.Make(L"T2\\Sub\\Deeper");
    wchar_t buffer[kDeletePathChars] = L"";
    wcscpy(buffer, (key.Below(L"T2") + L"\\").c_str());
    EXPECT_TRUE(engine.DeleteKeyTree(HKEY_CURRENT_USER, buffer));
    EXPECT_EQ(std::wstring(buffer), key.Below(L"T2"));
    EXPECT_FALSE(key.Exists(L"T2"));
}

TEST_F(RemovalTest, KeyAlreadyGoneIsAFailure)
{
    EXPECT_FALSE(Remove('K', L"NeverThere"));
}

TEST_F(RemovalTest, ASubkeyThatCannotBeReadLeavesTheWholeTreeUntouched)
{
    key.Make(L"T3\\a\\inner");
    key.Make(L"T3\\b");
    key.Make(L"T3\\c");
    ASSERT_TRUE(kt::DenyRead(HKEY_CURRENT_USER, kt::Utf8(key.Below(L"T3\\b"))));
    EXPECT_FALSE(Remove('K', L"T3"));
    EXPECT_TRUE(key.Exists(L"T3\\a\\inner")) << "nothing goes that could not be backed up";
    EXPECT_TRUE(key.Exists(L"T3\\c"));
}

TEST_F(RemovalTest, ValuesAndTheDefaultValue)
{
    key.Make(L"V");
    SetText(L"V", L"vmtray", REG_SZ, L"C:\\vm\\vmtray.exe");
    SetText(L"V", L"other", REG_SZ, L"y");
    SetText(L"V", L"", REG_SZ, L"default");
    EXPECT_TRUE(Remove('V', L"V\\vmtray"));
    EXPECT_EQ(Sections(BackupText()), L"[HKEY_CURRENT_USER\\" + key.Below(L"V") + L"]\r\n\"vmtray\"=\"C:\\\\vm\\\\vmtray.exe\"\r\n\r\n");
    EXPECT_FALSE(kt::ValueExists(HKEY_CURRENT_USER, kt::Utf8(key.Below(L"V")), "vmtray"));
    EXPECT_TRUE(kt::ValueExists(HKEY_CURRENT_USER, kt::Utf8(key.Below(L"V")), "other"));
    EXPECT_FALSE(Remove('V', L"V\\vmtray"));
    // An empty last component names the default value.
    EXPECT_TRUE(Remove('V', L"V\\"));
    EXPECT_FALSE(kt::ValueExists(HKEY_CURRENT_USER, kt::Utf8(key.Below(L"V")), ""));
    EXPECT_TRUE(key.Exists(L"V"));
}

TEST_F(RemovalTest, ValueInAKeyThatDeniesWriting)
{
    key.Make(L"W");
    SetText(L"W", L"vmtray", REG_SZ, L"x");
    ASSERT_TRUE(kt::DenyWrite(HKEY_CURRENT_USER, kt::Utf8(key.Below(L"W"))));
    EXPECT_FALSE(Remove('V', L"W\\vmtray"));
    EXPECT_TRUE(kt::ValueExists(HKEY_CURRENT_USER, kt::Utf8(key.Below(L"W")), "vmtray"));
}

TEST_F(RemovalTest, NothingIsRemovedForOtherKindsPathsThatNameNoEntryTheFloorOrWithoutABackup)
{
    key.Make(L"X");
    EXPECT_FALSE(Remove('X', L"X"));
    EXPECT_FALSE(engine.RemoveEntry('V', HKEY_CURRENT_USER, L"novaluehere"));
    // An empty path would name the whole root key.
    EXPECT_FALSE(engine.RemoveEntry('K', HKEY_CURRENT_USER, L""));
    EXPECT_FALSE(engine.RemoveEntry('K', HKEY_CURRENT_USER, L"\\"));
    // The floor, and a key that holds part of it.
    EXPECT_FALSE(engine.RemoveEntry('K', HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows"));
    EXPECT_FALSE(engine.RemoveEntry('K', HKEY_CURRENT_USER, L"Control Panel"));
    EXPECT_FALSE(engine.RemoveEntry('K', HKEY_CURRENT_USER, L"Environment\\"));
    EXPECT_FALSE(engine.RemoveEntry('K', HKEY_CURRENT_USER, L"Software\\\\Microsoft"));
    EXPECT_TRUE(kt::KeyExistsW(HKEY_CURRENT_USER, L"Environment"));
    EXPECT_TRUE(kt::KeyExistsW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion"));
    // A path longer than the working buffer is refused whole.
    EXPECT_FALSE(Remove('K', L"X\\" + std::wstring(600, L'z')));
    EXPECT_TRUE(key.Exists(L"X"));
    EXPECT_TRUE(backup->Path().empty()) << "nothing was backed up";
    EngineProbe unguarded;
    EXPECT_FALSE(unguarded.RemoveEntry('K', HKEY_CURRENT_USER, key.Below(L"X").c_str()));
    EXPECT_TRUE(key.Exists(L"X")) << "no backup, no removal";
}

TEST_F(RemovalTest, SubkeyPathBeyondTheWorkingBufferFailsWithoutOverrun)
{
    // Levels of 250 characters: the second level's path no longer fits 519 characters.
    key.Make(L"T4\\" + std::wstring(250, L'a') + L"\\" + std::wstring(250, L'b'));
    wchar_t buffer[kDeletePathChars + 16];
    wmemset(buffer, 0x5A5A, kDeletePathChars + 16);
    wcscpy(buffer, key.Below(L"T4").c_str());
    EXPECT_FALSE(engine.DeleteKeyTree(HKEY_CURRENT_USER, buffer));
    EXPECT_EQ(std::wstring(buffer), key.Below(L"T4"));
    for (size_t i = kDeletePathChars; i < kDeletePathChars + 16; ++i)
        ASSERT_EQ(buffer[i], 0x5A5A) << "written past the working buffer";
    EXPECT_TRUE(key.Exists(L"T4"));
}

TEST_F(RemovalTest, ALinkGoesAsTheLinkAndItsTargetStays)
{
    key.Make(L"Target\\Inner");
    SetText(L"Target", L"keep", REG_SZ, L"me");
    ASSERT_TRUE(kt::CreateLink(HKEY_CURRENT_USER, key.Below(L"QQLink"), key.Below(L"Target")));
    key.Make(L"Tree\\Sub");
    ASSERT_TRUE(kt::CreateLink(HKEY_CURRENT_USER, key.Below(L"Tree\\Sub\\Inside"), key.Below(L"Target")));

    EXPECT_TRUE(Remove('K', L"QQLink"));
    EXPECT_FALSE(key.Exists(L"QQLink"));
    EXPECT_TRUE(Remove('K', L"Tree"));
    EXPECT_FALSE(key.Exists(L"Tree"));
    EXPECT_TRUE(key.Exists(L"Target\\Inner"));
    EXPECT_TRUE(kt::ValueExists(HKEY_CURRENT_USER, kt::Utf8(key.Below(L"Target")), "keep"));
    std::wstring text = BackupText();
    EXPECT_NE(text.find(L"\r\n; registry link HKEY_CURRENT_USER\\" + key.Below(L"QQLink") + L" -> \\"), std::wstring::npos);
    EXPECT_NE(text.find(L"\r\n; registry link HKEY_CURRENT_USER\\" + key.Below(L"Tree\\Sub\\Inside") + L" -> \\"),
              std::wstring::npos);
    EXPECT_EQ(text.find(L"[HKEY_CURRENT_USER\\" + key.Below(L"QQLink")), std::wstring::npos);
}

// A finding whose path leads through a link (one swapped in after the search) names keys that
// are not the ones it would reach: nothing of the target is removed.
TEST_F(RemovalTest, APathThroughALinkReachesNothingOfTheTarget)
{
    key.Make(L"Real\\Child\\Sub");
    SetText(L"Real\\Child", L"keep", REG_SZ, L"me");
    ASSERT_TRUE(kt::CreateLink(HKEY_CURRENT_USER, key.Below(L"Swapped"), key.Below(L"Real")));
    EXPECT_FALSE(Remove('K', L"Swapped\\Child"));
    EXPECT_TRUE(key.Exists(L"Real\\Child\\Sub"));
    EXPECT_TRUE(kt::ValueExists(HKEY_CURRENT_USER, kt::Utf8(key.Below(L"Real\\Child")), "keep"));
}

TEST_F(RemovalTest, AHiddenNameInTheTreeFailsTheRemovalCleanly)
{
    key.Make(L"Holder\\Plain");
    ASSERT_TRUE(kt::CreateNulNamedKey(HKEY_CURRENT_USER, key.Below(L"Holder"), L"hidden"));
    EXPECT_FALSE(Remove('K', L"Holder"));
    EXPECT_TRUE(key.Exists(L"Holder\\Plain"));
}

TEST_F(RemovalTest, ANameTheBackupCannotCarryLeavesItsFindingUntouched)
{
    // A line break would end the section's header early: the key would never come back.
    for (const wchar_t* name : { L"Broken\\a\nb", L"Broken2\\c\rd", L"Line\ntop" }) {
        const std::wstring finding = std::wstring(name).substr(0, std::wstring(name).find(L'\\'));
        key.Make(name);
        EXPECT_FALSE(Remove('K', finding)) << kt::Utf8(name);
        EXPECT_TRUE(key.Exists(name));
    }
    EXPECT_TRUE(backup->Path().empty()) << "nothing was backed up";
}

TEST_F(RemovalTest, ALinksTargetCannotWriteSectionsOfItsOwnIntoTheBackup)
{
    // Restoring the backup must never write where the finding's tree is not: a target with line
    // breaks and a section of its own makes its finding fail, untouched.
    key.Make(L"Fine\\Sub");
    key.Make(L"Trap");
    ASSERT_TRUE(kt::CreateRawLink(HKEY_CURRENT_USER, key.Below(L"Trap\\Link"),
                                  L"\\REGISTRY\\Machine\\x\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]"
                                  L"\r\n\"kltevil\"=\"calc.exe\"\r\n"));
    EXPECT_TRUE(Remove('K', L"Fine"));
    EXPECT_FALSE(Remove('K', L"Trap"));
    EXPECT_TRUE(key.Exists(L"Trap\\Link"));
    const std::wstring text = BackupText();
    for (size_t at = text.find(L"\n["); at != std::wstring::npos; at = text.find(L"\n[", at + 1))
        EXPECT_EQ(text.compare(at + 2, 18 + key.Below(L"Fine").size(), L"HKEY_CURRENT_USER\\" + key.Below(L"Fine")), 0)
            << kt::Utf8(text.substr(at + 1, 80));
    EXPECT_EQ(text.find(L"kltevil"), std::wstring::npos);
}

TEST_F(RemovalTest, AValueNamedLikeALinksTargetDoesNotMakeAKeyALink)
{
    SetText(L"Plain\\Sub", L"SymbolicLinkValue", REG_LINK, L"\\REGISTRY\\Machine\\Software");
    SetText(L"Plain", L"other", REG_SZ, L"x");
    const std::vector<std::wstring> before = Dump(HKEY_CURRENT_USER, key.Below(L"Plain"));
    ASSERT_TRUE(Remove('K', L"Plain"));
    EXPECT_EQ(BackupText().find(L"; registry link"), std::wstring::npos) << "an ordinary key, backed up as one";
    std::string imported;
    EXPECT_EQ(kt::Run("reg.exe import \"" + kt::Utf8(backup->Path()) + "\"", &imported), 0u) << imported;
    EXPECT_EQ(Dump(HKEY_CURRENT_USER, key.Below(L"Plain")), before);
}

TEST_F(RemovalTest, NamesOutsideTheCodePageAddressExactlyTheirKey)
{
    // "Key?" and "Key\x0416" are two keys; the ANSI functions would see both as "Key?".
    key.Make(L"Key?\\Child");
    key.Make(L"Key\x0416\\\x4E2D\x6587\\\xD83D\xDE00");
    SetText(L"Key\x0416\\\x4E2D\x6587", L"\x00fc\x00df\x0416", REG_SZ, L"\x4E2D");
    EXPECT_TRUE(Remove('K', L"Key\x0416"));
    EXPECT_FALSE(key.Exists(L"Key\x0416"));
    EXPECT_TRUE(key.Exists(L"Key?\\Child"));
    EXPECT_NE(BackupText().find(L"\"\x00fc\x00df\x0416\"=\"\x4E2D\"\r\n"), std::wstring::npos);
}

TEST_F(RemovalTest, EveryKindOfValueComesBackExactlyFromTheBackup)
{
    const std::wstring t = L"Trip \x00fc.\x0416 \"=\\";
    key.Make(t + L"\\Empty Sub.key");
    key.Make(t + L"\\Nested\\Deeper");
    SetText(t, L"", REG_SZ, L"the default");
    SetText(t, L"quote\"back\\slash=equals", REG_SZ, L"C:\\dir\\\"quoted\"=x");
    SetText(t, L"empty", REG_SZ, L"");
    SetText(t, L"\x00fc\x00df \x0416\x4E2D", REG_SZ, L"\x00e4\x0416\x4E2D\xD83D\xDE00");
    SetText(t, L"expand", REG_EXPAND_SZ, L"%SystemRoot%\\vm");
    Set(t, L"multi", REG_MULTI_SZ, std::string("a\0\0\0b\0\0\0\0\0", 10));
    Set(t, L"dword", REG_DWORD, std::string("\x2a\0\0\x80", 4));
    Set(t, L"qword", REG_QWORD, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
    std::string binary;
    for (int i = 0; i < 100; ++i)
        binary += static_cast<char>(i * 7);
    Set(t, L"binary", REG_BINARY, binary);
    Set(t, L"none", REG_NONE, std::string("\x01\x02", 2));
    Set(t, L"odd type", 0x4d2, std::string("\xaa\xbb", 2));
    Set(t, L"zero binary", REG_BINARY, "");
    Set(t, L"zero string", REG_SZ, "");
    Set(t, L"short dword", REG_DWORD, std::string("\x01\x02", 2));
    Set(t, L"inner nul", REG_SZ, std::string("a\0\0\0b\0\0\0", 8));
    SetText(t, L"line break", REG_SZ, L"one\r\ntwo");
    SetText(t + L"\\Nested", L"x", REG_SZ, L"y");

    const std::vector<std::wstring> before = Dump(HKEY_CURRENT_USER, key.Below(t));
    const std::vector<std::wstring> exportBefore = Export("HKEY_CURRENT_USER", key.Below(t));
    ASSERT_GE(before.size(), 20u);
    ASSERT_TRUE(Remove('K', t));
    ASSERT_FALSE(key.Exists(t));

    std::wstring text = BackupText();
    EXPECT_EQ(text.substr(0, 41), L"\xFEFFWindows Registry Editor Version 5.00\r\n\r\n");
    EXPECT_NE(text.find(L"\r\n@=\"the default\"\r\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"\r\n\"dword\"=dword:8000002a\r\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"\r\n\"qword\"=hex(b):01,02,03,04,05,06,07,08\r\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"\r\n\"zero binary\"=hex:\r\n"), std::wstring::npos);
    // Long byte lists break where the registry editor breaks them.
    EXPECT_NE(text.find(L"\r\n\"binary\"=hex:00,07,0e,15,1c,23,2a,31,38,3f,46,4d,54,5b,62,69,70,77,7e,85,8c,93,"
                        L"\\\r\n  9a,a1,"),
              std::wstring::npos);

    std::string imported;
    EXPECT_EQ(kt::Run("reg.exe import \"" + kt::Utf8(backup->Path()) + "\"", &imported), 0u) << imported;
    EXPECT_EQ(Dump(HKEY_CURRENT_USER, key.Below(t)), before);
    EXPECT_EQ(Export("HKEY_CURRENT_USER", key.Below(t)), exportBefore);
}

TEST_F(RemovalTest, WithoutAWritableBackupNothingIsRemoved)
{
    key.Make(L"Kept\\Sub");
    // A report in a folder that does not exist, and one whose name leaves no room for a backup's.
    for (const std::string& path : { folder + "absent\\report.txt", "C:\\" + std::string(240, 'r') + ".txt" }) {
        CRegBackup unwritable(path.c_str());
        EngineProbe guarded;
        guarded.SetBackup(&unwritable);
        EXPECT_FALSE(guarded.RemoveEntry('K', HKEY_CURRENT_USER, key.Below(L"Kept").c_str())) << path;
        EXPECT_TRUE(key.Exists(L"Kept\\Sub"));
    }
}

TEST_F(RemovalTest, AnEarlierBackupIsNeverOverwritten)
{
    key.Make(L"First");
    key.Make(L"Second");
    ASSERT_TRUE(Remove('K', L"First"));
    CRegBackup next(report.c_str());
    engine.SetBackup(&next);
    ASSERT_TRUE(Remove('K', L"Second"));
    EXPECT_NE(next.Path(), backup->Path());
    EXPECT_NE(BackupText().find(L"First]"), std::wstring::npos);
    SYSTEMTIME noon = {};
    noon.wHour = 12;
    noon.wMinute = 3;
    noon.wSecond = 9;
    noon.wYear = 2026;
    noon.wMonth = 12;
    noon.wDay = 7;
    EXPECT_EQ(CRegBackup::NameFor(L"C:\\a.b\\report.txt", noon, 1), L"C:\\a.b\\report-backup-20261207-120309.reg");
    EXPECT_EQ(CRegBackup::NameFor(L"C:\\a.b\\report", noon, 2), L"C:\\a.b\\report-backup-20261207-120309-2.reg");
    // The last dot of a date is no extension.
    EXPECT_EQ(CRegBackup::NameFor(L"C:\\logs\\e1-07.12.2026", noon, 1),
              L"C:\\logs\\e1-07.12.2026-backup-20261207-120309.reg");
}

}  // namespace
