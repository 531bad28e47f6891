// Drivers and services, end to end with klarner.exe on the real registry and service manager of
// the test prefix: entries of device filter lists found and removed one by one, services removed
// through the service manager, and no service key removed while a filter list still names it.
#include <gtest/gtest.h>
#include "TestSupport.h"
#include "../app/AppConstants.h"
#include "../resources/resource.h"
#include <algorithm>

namespace {

const std::string kMachine = "HKEY_LOCAL_MACHINE\\";
const std::string kServices = "SYSTEM\\CurrentControlSet\\Services\\";

using kt::EnglishProgram;

typedef std::vector<std::string> Entries;

// Findings keep the registry's spelling of its system keys ("System", "ROOT" under Wine), which
// the tests do not assume.
std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](char c) { return static_cast<char>(tolower(c)); });
    return text;
}

class DriversTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        kt::UseLanguage("en-us");
        keyword = kt::UniqueName("kltdrv");
        // Two device classes, in this order in the registry's sorted list, and one device.
        const std::string guid = kt::UniqueName("-0000-0000-0000-");
        classA = "SYSTEM\\CurrentControlSet\\Control\\Class\\{AAAA" + guid + "}";
        classB = "SYSTEM\\CurrentControlSet\\Control\\Class\\{BBBB" + guid + "}";
        deviceRoot = "SYSTEM\\CurrentControlSet\\Enum\\Root\\" + kt::UniqueName("KLTDEVICE");
        device = deviceRoot + "\\0000";
        report = kt::ScratchDir("drivers-report") + "report.txt";
    }
    void TearDown() override
    {
        for (const std::string& key : { classA, classB, deviceRoot, legacyRoot })
            if (!key.empty())
                kt::DeleteTree(HKEY_LOCAL_MACHINE, key);
    }
    DWORD Run(const std::string& more = "")
    {
        return kt::Run("\"" + EnglishProgram() + "\" \"/silent=" + report + "\" /keywords=" + keyword + " /hkey=HKLM" +
                       more, nullptr, 300000);
    }
    std::string ReportText() { return kt::ReadFileBytes(report); }
    // The report's lines after the results heading: one per finding of a removal run.
    std::string RemovalLines()
    {
        const std::string text = ReportText();
        const size_t at = text.rfind("\r\nResults:\r\n\r\n");
        return at == std::string::npos ? "<no results heading>" : text.substr(at + 14);
    }

    std::string keyword, classA, classB, deviceRoot, device, legacyRoot, report;
};

TEST_F(DriversTest, FilterEntriesAreFindingsAndGoOneByOneAndTheBackupPutsThemBack)
{
    const std::string driver = keyword + "flt", orphan = keyword + "gone";
    kt::ScratchService service(driver);
    ASSERT_TRUE(service.Created());
    ASSERT_TRUE(kt::SetMultiString(HKEY_LOCAL_MACHINE, classA, "UpperFilters", { "partmgr", driver, "kltother" }));
    ASSERT_TRUE(kt::SetMultiString(HKEY_LOCAL_MACHINE, classA, "LowerFilters", { driver }));
    ASSERT_TRUE(kt::SetMultiString(HKEY_LOCAL_MACHINE, classB, "LowerFilters", { orphan }));
    ASSERT_TRUE(kt::SetMultiString(HKEY_LOCAL_MACHINE, device, "UpperFilters", { driver, "disk" }));

    // The key first, then the entries: classes before devices, UpperFilters before LowerFilters.
    const std::string findings = kMachine + kServices + driver + "\r\n" +
                                 kMachine + classA + "\\UpperFilters: " + driver + "\r\n" +
                                 kMachine + classA + "\\LowerFilters: " + driver + "\r\n" +
                                 kMachine + classB + "\\LowerFilters: " + orphan + "\r\n" +
                                 kMachine + device + "\\UpperFilters: " + driver + "\r\n";
    EXPECT_EQ(Run(), 1u) << "a detection run";
    EXPECT_NE(Lower(ReportText()).find(Lower("\r\n\r\n" + findings + "\r\nResults:\r\n")), std::string::npos)
        << ReportText();

    EXPECT_EQ(Run(" /del"), 0u);
    // The entries first, then the key: no moment with a list naming a driver without its key.
    const std::string entries = findings.substr(findings.find("\r\n") + 2);
    EXPECT_EQ(Lower(RemovalLines()), Lower(entries + kMachine + kServices + driver + "\r\n"));
    EXPECT_EQ(kt::MultiString(HKEY_LOCAL_MACHINE, classA, "UpperFilters"), (Entries{ "partmgr", "kltother" }));
    EXPECT_FALSE(kt::ValueExists(HKEY_LOCAL_MACHINE, classA, "LowerFilters")) << "an emptied list goes";
    EXPECT_FALSE(kt::ValueExists(HKEY_LOCAL_MACHINE, classB, "LowerFilters"));
    EXPECT_EQ(kt::MultiString(HKEY_LOCAL_MACHINE, device, "UpperFilters"), Entries{ "disk" });
    EXPECT_EQ(service.OpenError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST)) << "deleted by the manager";
    EXPECT_FALSE(kt::KeyExists(HKEY_LOCAL_MACHINE, kServices + driver));

    std::vector<std::string> backups = kt::BackupsOf(report);
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(kt::Run("reg.exe import \"" + backups[0] + "\""), 0u);
    EXPECT_EQ(kt::MultiString(HKEY_LOCAL_MACHINE, classA, "UpperFilters"), (Entries{ "partmgr", driver, "kltother" }));
    EXPECT_EQ(kt::MultiString(HKEY_LOCAL_MACHINE, classA, "LowerFilters"), Entries{ driver });
    EXPECT_EQ(kt::MultiString(HKEY_LOCAL_MACHINE, classB, "LowerFilters"), Entries{ orphan });
    EXPECT_EQ(kt::MultiString(HKEY_LOCAL_MACHINE, device, "UpperFilters"), (Entries{ driver, "disk" }));
    EXPECT_TRUE(kt::KeyExists(HKEY_LOCAL_MACHINE, kServices + driver));
    kt::DeleteTree(HKEY_LOCAL_MACHINE, kServices + driver);
}

TEST_F(DriversTest, ServicesAreStoppedAndDeletedOrGoAtTheNextRestart)
{
    kt::ScratchService stops(keyword + "stops", false), stays(keyword + "stays", true);
    ASSERT_TRUE(stops.Created() && stays.Created());
    ASSERT_TRUE(stops.Start() && stays.Start());
    EXPECT_EQ(Run(" /del"), static_cast<DWORD>(kExitRestartRequired));
    EXPECT_EQ(Lower(RemovalLines()), Lower(kMachine + kServices + stays.Name() + " - removed at the next restart\r\n" +
                                           kMachine + kServices + stops.Name() + "\r\n"));
    EXPECT_EQ(stops.OpenError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_FALSE(kt::KeyExists(HKEY_LOCAL_MACHINE, kServices + stops.Name()));
    EXPECT_TRUE(stays.MarkedForDeletion());
    // Once it ends, the manager deletes the key it still held.
    stays.Release();
    EXPECT_TRUE(kt::WaitUntil([&] { return !kt::KeyExists(HKEY_LOCAL_MACHINE, kServices + stays.Name()); }, 30000));
}

TEST_F(DriversTest, AServiceKeyThatAFilterListStillNamesIsNeverRemoved)
{
    // A list the search never touches (a legacy device) still names the driver.
    const std::string driver = keyword + "held";
    kt::ScratchService service(driver);
    ASSERT_TRUE(service.Created());
    legacyRoot = "SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_" + kt::UniqueName("KLT");
    ASSERT_TRUE(kt::SetMultiString(HKEY_LOCAL_MACHINE, legacyRoot + "\\0000", "LowerFilters", { driver }));
    EXPECT_EQ(Run(" /del"), 1u);
    EXPECT_EQ(Lower(RemovalLines()), Lower(kMachine + kServices + driver + " - could not be removed\r\n"));
    EXPECT_EQ(service.OpenError(), 0u);
    EXPECT_TRUE(kt::KeyExists(HKEY_LOCAL_MACHINE, kServices + driver));
    EXPECT_EQ(kt::MultiString(HKEY_LOCAL_MACHINE, legacyRoot + "\\0000", "LowerFilters"), Entries{ driver });
}

// A value's type and bytes, as the tests write and read lists of every type.
void SetRaw(const std::string& key, const char* name, DWORD type, const std::wstring& text)
{
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kt::Widen(key).c_str(), kt::Widen(name).c_str(), type, text.data(),
                              static_cast<DWORD>(text.size() * sizeof(wchar_t))), ERROR_SUCCESS);
}

std::wstring Raw(const std::string& key, const char* name, DWORD* type = nullptr)
{
    wchar_t data[512];
    DWORD size = sizeof data, got = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kt::Widen(key).c_str(), kt::Widen(name).c_str(), RRF_RT_ANY | RRF_NOEXPAND, &got,
                     data, &size) != ERROR_SUCCESS)
        return L"<none>";
    if (type)
        *type = got;
    return std::wstring(data, size / sizeof(wchar_t));
}

TEST_F(DriversTest, ListsOfEveryTypeAreListsAndOneThatCannotBeReadKeepsItsDriversKey)
{
    const std::string driver = keyword + "flt";
    kt::ScratchService service(driver);
    ASSERT_TRUE(service.Created());
    // A one-name string list of each type, and a list with entries hidden behind an empty string.
    SetRaw(classA, "UpperFilters", REG_SZ, kt::Widen(driver) + std::wstring(1, L'\0'));
    SetRaw(classB, "LowerFilters", REG_EXPAND_SZ, kt::Widen(driver) + std::wstring(1, L'\0'));
    const std::wstring hidden = kt::Widen(driver) + std::wstring(1, L'\0') + L"partmgr" + std::wstring(2, L'\0') + L"hidden" +
                                std::wstring(2, L'\0');
    SetRaw(device, "UpperFilters", REG_MULTI_SZ, hidden);

    EXPECT_EQ(Run(" /del"), 0u);
    const std::string lines = Lower(RemovalLines());
    EXPECT_NE(lines.find(Lower(kMachine + classA + "\\UpperFilters: " + driver + "\r\n")), std::string::npos) << lines;
    EXPECT_NE(lines.find(Lower(kMachine + classB + "\\LowerFilters: " + driver + "\r\n")), std::string::npos) << lines;
    EXPECT_EQ(Raw(classA, "UpperFilters"), L"<none>") << "a list left empty goes";
    EXPECT_EQ(Raw(classB, "LowerFilters"), L"<none>");
    EXPECT_EQ(Raw(device, "UpperFilters"), L"partmgr" + std::wstring(2, L'\0') + L"hidden" + std::wstring(2, L'\0'))
        << "what follows the empty string stays byte for byte";
    EXPECT_EQ(service.OpenError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST)) << "removed after its entries";

    // The backup gives every list back with its type and bytes.
    std::vector<std::string> backups = kt::BackupsOf(report);
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(kt::Run("reg.exe import \"" + backups[0] + "\""), 0u);
    DWORD type = 0;
    EXPECT_EQ(Raw(classA, "UpperFilters", &type), kt::Widen(driver) + std::wstring(1, L'\0'));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(Raw(classB, "LowerFilters", &type), kt::Widen(driver) + std::wstring(1, L'\0'));
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(Raw(device, "UpperFilters"), hidden);
    kt::DeleteTree(HKEY_LOCAL_MACHINE, kServices + driver);

    // A device whose instance key cannot be read may name any driver: its key stays.
    const std::string held = keyword + "held";
    kt::ScratchService heldService(held);
    ASSERT_TRUE(heldService.Created());
    kt::DeleteTree(HKEY_LOCAL_MACHINE, classA);
    kt::DeleteTree(HKEY_LOCAL_MACHINE, classB);
    kt::DeleteTree(HKEY_LOCAL_MACHINE, deviceRoot);
    const std::string locked = deviceRoot + "\\0001";
    ASSERT_TRUE(kt::SetMultiString(HKEY_LOCAL_MACHINE, locked, "LowerFilters", { "partmgr" }));
    ASSERT_TRUE(kt::DenyRead(HKEY_LOCAL_MACHINE, locked));
    EXPECT_EQ(Run(" /del"), 1u);
    kt::AllowAll(HKEY_LOCAL_MACHINE, locked);
    EXPECT_EQ(Lower(RemovalLines()), Lower(kMachine + kServices + held + " - could not be removed\r\n"));
    EXPECT_EQ(heldService.OpenError(), 0u);
}

TEST_F(DriversTest, AListInsideAKeyFindingIsBackedUpAsItWasBeforeThePass)
{
    // The device's key is named after the product, and its instance's list names the driver:
    // the entry goes first, then the key; the backup holds the key with its whole list.
    deviceRoot = "SYSTEM\\CurrentControlSet\\Enum\\Root\\" + keyword + "DEV";
    device = deviceRoot + "\\0000";
    const std::string driver = keyword + "flt";
    ASSERT_TRUE(kt::SetMultiString(HKEY_LOCAL_MACHINE, device, "UpperFilters", { driver, "partmgr" }));
    EXPECT_EQ(Run(" /del"), 0u);
    EXPECT_FALSE(kt::KeyExists(HKEY_LOCAL_MACHINE, deviceRoot));
    std::vector<std::string> backups = kt::BackupsOf(report);
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(kt::Run("reg.exe import \"" + backups[0] + "\""), 0u);
    EXPECT_EQ(kt::MultiString(HKEY_LOCAL_MACHINE, device, "UpperFilters"), (Entries{ driver, "partmgr" }));
}

}  // namespace
