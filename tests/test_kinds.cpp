// The kinds of leftover beyond the registry walk's names, end to end with klarner.exe on the real
// registry of the test prefix: each with seeded leftovers next to look-alikes that must stay (a
// file that is there, Windows' own file, another vendor's entry), found with their reasons,
// removed the way Windows wants them removed, or refused and said why.
#include <gtest/gtest.h>
#include "ProgramRun.h"
#include "TestSupport.h"
#include "../engine/system/ProviderOrder.h"
#include "../engine/RemovalPass.h"
#include "../engine/kinds/ProtectionSettingKind.h"
#include "../engine/kinds/SystemListKinds.h"
#include "../engine/search/Keywords.h"
#include "../engine/search/Said.h"
#include "../resources/resource.h"
#include "../engine/system/Installation.h"
#include <nlohmann/json.hpp>
#include <algorithm>

namespace {

using Json = nlohmann::json;
using kt::ProgramRunTest;
const std::string kControl = "SYSTEM\\CurrentControlSet\\";
const std::string kVersion = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\";
const std::string kTaskCache = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Schedule\\TaskCache\\";

std::string Guid(int n)
{
    char text[64];
    snprintf(text, sizeof text, "{7C2E3D4F-5061-4B72-8C83-A4B5C6D7E8%02X}", n);
    return text;
}

class KindsTest : public kt::ProgramRunTest
{
protected:
    KindsTest() : ProgramRunTest("kltkind", "kinds") {}
};

// An Actions value of TaskCache: version 3, a context, one Exec action with its command.
std::string Actions(const std::string& command)
{
    auto text = [](const std::string& ascii) {
        std::string bytes(4, '\0');
        const DWORD size = static_cast<DWORD>(ascii.size() * 2);
        memcpy(&bytes[0], &size, 4);
        for (char c : ascii)
            bytes += std::string(1, c) + '\0';
        return bytes;
    };
    return std::string("\x03\x00", 2) + text("Author") + std::string("\x66\x66", 2) + text("") + text(command) + text("");
}

TEST_F(KindsTest, AScheduledTaskGoesAsOneUnitWithEveryPart)
{
    const std::string named = "\\" + keyword + " Update", byAction = "\\Maintenance" + tag, other = "\\Other" + tag;
    const std::string windows = "C:\\windows\\system32\\Tasks";
    auto task = [&](const std::string& path, int id, const std::string& command) {
        Text(HKEY_LOCAL_MACHINE, kTaskCache + "Tree" + path, "Id", Guid(id));
        Text(HKEY_LOCAL_MACHINE, kTaskCache + "Tasks\\" + Guid(id), "Path", path);
        const std::string actions = Actions(command);
        Set(HKEY_LOCAL_MACHINE, kTaskCache + "Tasks\\" + Guid(id), "Actions", REG_BINARY, actions.data(), actions.size());
        Text(HKEY_LOCAL_MACHINE, kTaskCache + "Boot\\" + Guid(id), "Path", path);
    };
    task(named, 1, product + "update.exe");
    Text(HKEY_LOCAL_MACHINE, kTaskCache + "Logon\\" + Guid(1), "Path", named);
    std::wstring xml = L"\xFEFF<Task><Actions><Exec><Command>" + kt::Widen(product) + L"update.exe</Command></Exec></Actions></Task>";
    File(windows + named, std::string(reinterpret_cast<const char*>(xml.data()), xml.size() * 2));
    task(byAction, 2, product + "maintain.exe");
    task(other, 3, "%SystemRoot%\\system32\\notepad.exe");

    // By its name without the references; the name search's key of it is this finding.
    Json record;
    EXPECT_EQ(Run("/hkey=HKLM", &record), 1u);
    EXPECT_EQ(Found(record), std::vector<std::string>{ "scheduledTask " + Lower(named) + " listed" });
    EXPECT_NE(Report().find("\r\n" + named + "  (scheduled task named after the product)\r\n"), std::string::npos) << Report();

    EXPECT_EQ(Run("/hkey=HKLM /refs /del", &record), 0u);
    EXPECT_EQ(Reason(record, byAction), "scheduled task; Command = " + product + "maintain.exe, file missing");
    for (const std::string& key : { kTaskCache + "Tree" + named, kTaskCache + "Tasks\\" + Guid(1), kTaskCache + "Logon\\" + Guid(1),
                                    kTaskCache + "Boot\\" + Guid(1), kTaskCache + "Tree" + byAction, kTaskCache + "Boot\\" + Guid(2) })
        EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, key)) << key;
    EXPECT_FALSE(kt::FileExists(windows + named));
    EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, kTaskCache + "Tree" + other)) << "Windows' own program";
    const std::vector<std::string> backups = kt::BackupsOf(report);
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_NE(kt::ReadUtf16(backups[0]).find(kt::Widen("[HKEY_LOCAL_MACHINE\\" + kTaskCache + "Logon\\" + Guid(1) + "]")),
              std::wstring::npos);
    const std::string copy = backups[0].substr(0, backups[0].size() - 4) + "-files\\C\\windows\\system32\\Tasks" + named;
    EXPECT_EQ(kt::ReadFileBytes(copy).size(), xml.size() * 2) << "the task's file beside the backup";

    // A part that cannot be read keeps the whole task, and the run never ends with 0.
    task(named, 4, product + "update.exe");
    ASSERT_TRUE(kt::DenyRead(HKEY_LOCAL_MACHINE, kTaskCache + "Boot\\" + Guid(4)));
    EXPECT_EQ(Run("/hkey=HKLM /del"), 1u);
    kt::AllowAll(HKEY_LOCAL_MACHINE, kTaskCache + "Boot\\" + Guid(4));
    EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, kTaskCache + "Tree" + named));
}

TEST_F(KindsTest, WindowsOwnTasksAndSessionsStayAndAKeyAnotherKindRefinesKeepsItsPathAndPlace)
{
    // Named like a keyword, but Windows' own: a task below \Microsoft\ and an event log's session.
    const std::string windowsTask = "\\Microsoft\\Windows\\" + keyword + "Defrag\\Scheduled" + keyword;
    Text(HKEY_LOCAL_MACHINE, kTaskCache + "Tree" + windowsTask, "Id", Guid(20));
    Text(HKEY_LOCAL_MACHINE, kTaskCache + "Tasks\\" + Guid(20), "Path", windowsTask);
    const std::string taskFile = "C:\\windows\\system32\\Tasks" + windowsTask;
    File(taskFile, "<Task/>");
    const std::string windowsSession = kControl + "Control\\WMI\\Autologger\\EventLog-" + keyword;
    Dword(HKEY_LOCAL_MACHINE, windowsSession, "Start", 1);
    // The product's session and service: the session's key is listed where the walk found it, as
    // the registry spells it, its reason beside it in the record only.
    const std::string session = kControl + "Control\\WMI\\Autologger\\" + keyword + "Trace";
    Dword(HKEY_LOCAL_MACHINE, session, "Start", 1);
    const std::string service = kControl + "Services\\" + keyword + "Svc";
    Text(HKEY_LOCAL_MACHINE, service, "ImagePath", "C:\\gone\\svc.exe");

    Json record;
    EXPECT_EQ(Run("/hkey=HKLM", &record), 1u);
    ASSERT_EQ(record["findings"].size(), 2u) << record["findings"].dump(1);
    const std::string first = record["findings"][0]["path"], second = record["findings"][1]["path"];
    EXPECT_EQ(Lower(first), Lower("HKEY_LOCAL_MACHINE\\" + session));
    EXPECT_EQ(record["findings"][0]["kind"], "traceSession");
    EXPECT_EQ(Lower(second), Lower("HKEY_LOCAL_MACHINE\\" + service));
    EXPECT_EQ(first.substr(0, first.find("\\Control\\")), second.substr(0, second.find("\\Services\\"))) << "spelled alike";
    EXPECT_NE(Report().find("\r\n" + first + "\r\n"), std::string::npos) << "the path alone\n" << Report();
    EXPECT_EQ(Reason(record, first), "trace session " + keyword + "Trace, started by Windows at boot");

    EXPECT_EQ(Run("/hkey=HKLM /del", &record), 0u) << Report();
    EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, session));
    EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, kTaskCache + "Tree" + windowsTask));
    EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, kTaskCache + "Tasks\\" + Guid(20)));
    EXPECT_TRUE(kt::FileExists(taskFile));
    EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, windowsSession));
    EXPECT_NE(Lower(Report()).find(Lower("kept HKEY_LOCAL_MACHINE\\" + kTaskCache + "Tree\\Microsoft\\Windows\\" + keyword +
                                         "Defrag: a part of Windows' own scheduled tasks")),
              std::string::npos)
        << Report();
    EXPECT_NE(Lower(Report()).find(Lower("kept HKEY_LOCAL_MACHINE\\" + windowsSession + ": a trace session Windows starts itself")),
              std::string::npos);
}

TEST_F(KindsTest, WhatNamesAClassTheReferencesTakeGoesWithIt)
{
    const std::string classes = "SOFTWARE\\Classes\\";
    Text(HKEY_LOCAL_MACHINE, classes + "CLSID\\" + Guid(10) + "\\InprocServer32", nullptr, product + "amsi.dll");
    Text(HKEY_LOCAL_MACHINE, classes + "CLSID\\" + Guid(11) + "\\InprocServer32", nullptr, "%SystemRoot%\\system32\\amsiother.dll");
    const std::vector<std::string> naming = {
        "SOFTWARE\\Microsoft\\AMSI\\Providers\\" + Guid(10), kVersion + "Authentication\\Credential Providers\\" + Guid(10),
        kVersion + "Explorer\\ShellIconOverlayIdentifiers\\  Overlay" + tag, classes + "*\\shellex\\ContextMenuHandlers\\Menu" + tag };
    for (const std::string& key : naming)
        Text(HKEY_LOCAL_MACHINE, key, nullptr, Guid(10));
    const std::string foreign = "SOFTWARE\\Microsoft\\AMSI\\Providers\\" + Guid(11);
    Text(HKEY_LOCAL_MACHINE, foreign, nullptr, "another vendor");

    Json record;
    EXPECT_EQ(Run("/hkey=HKLM /refs /del", &record), 0u);
    EXPECT_EQ(Reason(record, "HKEY_LOCAL_MACHINE\\" + naming[0]),
              "names class " + Guid(10) + ": InprocServer32 = " + product + "amsi.dll, file missing");
    for (const std::string& key : naming)
        EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, key)) << key;
    EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, foreign)) << "a provider of a class that still works";
}

TEST_F(KindsTest, ServicesByWhatTheyRunNetworkProviderOrderAndEventSources)
{
    const std::string services = kControl + "Services\\";
    const std::string byImage = "klts" + tag, system = "kltw" + tag, source = "Src" + tag;
    Text(HKEY_LOCAL_MACHINE, services + byImage, "ImagePath", "\"" + product + "netprov.exe\" -service", REG_EXPAND_SZ);
    Dword(HKEY_LOCAL_MACHINE, services + byImage, "Start", 1);
    Dword(HKEY_LOCAL_MACHINE, services + byImage, "ErrorControl", 3);
    Text(HKEY_LOCAL_MACHINE, services + system, "ImagePath", "%SystemRoot%\\system32\\svchost.exe -k netsvcs", REG_EXPAND_SZ);
    Text(HKEY_LOCAL_MACHINE, services + "EventLog\\Application\\" + source, "EventMessageFile", product + "messages.dll");
    Text(HKEY_LOCAL_MACHINE, services + "EventLog\\Application\\Win" + tag, "EventMessageFile",
         "%SystemRoot%\\system32\\kernel32.dll");
    // The provider order names the product's own provider, a provider whose service key is a
    // finding, and Windows' own.
    const std::string order = kControl + "Control\\NetworkProvider\\Order";
    Text(HKEY_LOCAL_MACHINE, order, "ProviderOrder", "RDPNP," + keyword + "np," + byImage + ",LanmanWorkstation");
    Text(HKEY_LOCAL_MACHINE, order, "HwOrder", "RDPNP,LanmanWorkstation");

    Json record;
    EXPECT_EQ(Run("/hkey=HKLM /refs /del", &record), 0u);
    const std::string machine = "HKEY_LOCAL_MACHINE\\";
    EXPECT_NE(Reason(record, machine + services + byImage).find("netprov.exe, file missing, critical"), std::string::npos);
    const std::vector<std::string> found = Found(record);
    // The entries go before the service key they name.
    const auto entry = std::find_if(found.begin(), found.end(), [&](const std::string& f) { return f.find(": " + byImage) != std::string::npos; });
    ASSERT_NE(entry, found.end());
    EXPECT_EQ(*entry, "providerOrderEntry " + Lower(machine + order) + "\\providerorder: " + byImage + " removed");
    EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, services + byImage));
    EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, services + "EventLog\\Application\\" + source));
    EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, services + system));
    EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, services + "EventLog\\Application\\Win" + tag));
    char list[256] = "";
    DWORD size = sizeof list;
    RegGetValueA(HKEY_LOCAL_MACHINE, order.c_str(), "ProviderOrder", RRF_RT_REG_SZ, nullptr, list, &size);
    EXPECT_STREQ(list, "RDPNP,LanmanWorkstation") << "the others keep their order";
    EXPECT_EQ(WithoutProvider(L"a,B,c,b", L"b"), L"a,c");
}

TEST_F(KindsTest, WinsockEntriesGoOnlyThroughWindowsAndSecurityCenterOnlyThroughWmi)
{
    // A transport provider of the product and a chain layered on it, next to Windows' own.
    const std::string catalog = kControl + "Services\\WinSock2\\Parameters\\Protocol_Catalog9\\Catalog_Entries64\\";
    auto item = [&](const std::string& key, const std::string& dll, DWORD id, std::vector<DWORD> chain) {
        std::string bytes(260 + 628, '\0');
        memcpy(&bytes[0], dll.c_str(), dll.size());
        bytes[260 + 20] = static_cast<char>(id);
        memcpy(&bytes[260 + 36], &id, 4);
        const int length = static_cast<int>(chain.size());
        memcpy(&bytes[260 + 40], &length, 4);
        memcpy(&bytes[260 + 44], chain.data(), chain.size() * 4);
        Set(HKEY_LOCAL_MACHINE, catalog + key, "PackedCatalogItem", REG_BINARY, bytes.data(), bytes.size());
    };
    item("9" + tag + "1", product + "vmlsp.dll", 91001, {});
    item("9" + tag + "2", "%SystemRoot%\\system32\\mswsock.dll", 91002, { 91001, 1001 });
    item("9" + tag + "3", "%SystemRoot%\\system32\\mswsock.dll", 91003, {});
    const std::string center = "SOFTWARE\\Microsoft\\Security Center\\Provider\\Av\\";
    Text(HKEY_LOCAL_MACHINE, center + Guid(20), "PRODUCTEXE", product + "av.exe");
    File(product + "installed\\av.exe");
    Text(HKEY_LOCAL_MACHINE, center + Guid(21), "PRODUCTEXE", product + "installed\\av.exe");

    Json record;
    EXPECT_EQ(Run("/hkey=HKLM /refs /del", &record), 1u);
    const std::string machine = "HKEY_LOCAL_MACHINE\\";
    EXPECT_EQ(Found(record), (std::vector<std::string>{ "winsockEntry " + Lower(machine + catalog) + "9" + tag + "2 failed",
                                                        "winsockEntry " + Lower(machine + catalog) + "9" + tag + "1 failed",
                                                        "securityCenter " + Lower(machine + center + Guid(20)) + " refused" }));
    // Wine's functions change nothing: the catalog still holds them, and the report says what to do.
    for (const char* n : { "1", "2", "3" })
        EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, catalog + "9" + tag + n)) << "never a numbered key by hand";
    EXPECT_NE(Lower(Report()).find(Lower(catalog) + "9" + tag + "1 - could not be removed  (netsh winsock reset, then restart windows)\r\n"),
              std::string::npos) << Report();
    EXPECT_NE(Why(record, machine + center + Guid(20)).find("root\\SecurityCenter2"), std::string::npos) << record.dump(1);
    EXPECT_NE(Why(record, machine + catalog + "9" + tag + "1").find("netsh winsock reset"), std::string::npos);
    EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, center + Guid(20))) << "never deleted by hand";

    // With no antivirus left but the leftovers, a policy that keeps Windows' own off is noted.
    kt::DeleteTree(HKEY_LOCAL_MACHINE, center + Guid(21));
    Dword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Policies\\Microsoft\\Windows Defender", "DisableAntiSpyware", 1);
    Run("/hkey=HKLM /refs");
    EXPECT_NE(Report().find("Note: HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Microsoft\\Windows Defender\\DisableAntiSpyware is set"),
              std::string::npos);
}

TEST_F(KindsTest, ReasonsInTheUsersLanguageTheRecordInEnglish)
{
    Text(HKEY_LOCAL_MACHINE, kVersion + "Run", ("Updater" + tag).c_str(), "\"" + product + "updater.exe\" /background");
    const std::string dir = kt::ScratchDir("german");
    kt::StageProgram(dir, { "en-us", "de-de" });
    std::string output;
    kt::Run("\"" + dir + "klarner.exe\" \"/silent=" + report + "\" /keywords=" + keyword + " /hkey=HKLM /refs /json=-", &output,
            300000);
    const Json record = Json::parse(output.substr(0, output.rfind("Velmora Klarner:")));
    const std::string text = kt::ReadFileBytes(report);
    EXPECT_NE(text.find("updater.exe, Datei fehlt)"), std::string::npos) << text;
    EXPECT_EQ(text.find("file missing"), std::string::npos) << text;
    ASSERT_EQ(record["findings"].size(), 1u) << record.dump(1);
    EXPECT_EQ(record["findings"][0]["reason"], "Updater" + tag + " = " + product + "updater.exe, file missing");
}

TEST_F(KindsTest, StartUpValuesByWhatTheyRunAndTraceSessions)
{
    const std::string run = kVersion + "Run", approved = kVersion + "Explorer\\StartupApproved\\Run";
    Text(HKEY_LOCAL_MACHINE, run, ("Updater" + tag).c_str(), "\"" + product + "updater.exe\" /background");
    Text(HKEY_LOCAL_MACHINE, run, ("Notes" + tag).c_str(), "%SystemRoot%\\system32\\notepad.exe");
    const char approval[12] = { 2 };
    Set(HKEY_LOCAL_MACHINE, approved, ("Updater" + tag).c_str(), REG_BINARY, approval, sizeof approval);
    const std::string trace = kControl + "Control\\WMI\\Autologger\\" + keyword + "Trace";
    Dword(HKEY_LOCAL_MACHINE, trace, "Start", 1);

    Json record;
    EXPECT_EQ(Run("/hkey=HKLM /refs /del", &record), 0u);
    const std::string machine = "HKEY_LOCAL_MACHINE\\";
    const std::vector<std::string> found = Found(record);
    for (const std::string& expected : { "traceSession " + Lower(machine + trace) + " removed",
                                         "startupEntry " + Lower(machine + run + "\\Updater" + tag) + " removed",
                                         "startupEntry " + Lower(machine + approved + "\\Updater" + tag) + " removed" })
        EXPECT_NE(std::find(found.begin(), found.end(), expected), found.end()) << expected << "\n" << record["findings"].dump(1);
    EXPECT_FALSE(kt::ValueExists(HKEY_LOCAL_MACHINE, run, ("Updater" + tag).c_str()));
    EXPECT_TRUE(kt::ValueExists(HKEY_LOCAL_MACHINE, run, ("Notes" + tag).c_str()));
    EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, trace));
    bool checked = false;
    for (const Json& check : record["checks"])
        checked = checked || (check["kind"] == "traceSession" && check["state"] == "ran");
    EXPECT_TRUE(checked) << record["checks"].dump();
}

// A list value at a place Windows keeps (Session Manager, Lsa): set for one test, and put back as
// it was when the test ends, however it ends; the key itself is never removed.
class ListValueGuard
{
public:
    ListValueGuard(const std::string& key, const char* name) : m_key(key), m_name(name)
    {
        m_had = RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_ANY, &m_type, nullptr, &m_size) == ERROR_SUCCESS;
        m_data.resize(m_size);
        if (m_had)
            RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &m_type, m_data.data(), &m_size);
    }
    ~ListValueGuard()
    {
        if (m_had)
            RegSetKeyValueA(HKEY_LOCAL_MACHINE, m_key.c_str(), m_name, m_type, m_data.data(), m_size);
        else
            RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, m_key.c_str(), m_name);
    }

private:
    std::string m_key;
    const char* m_name;
    bool m_had = false;
    DWORD m_type = 0, m_size = 0;
    std::vector<char> m_data;
};

std::string DwordText(HKEY root, const std::string& key, const char* name)
{
    DWORD value = 0, size = sizeof value;
    return RegGetValueA(root, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS ? std::to_string(value)
                                                                                                          : "none";
}

DWORD StartType(const std::string& service)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE opened = manager ? OpenServiceA(manager, service.c_str(), SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG) : nullptr;
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0, start = 0xFFFFFFFF;
    if (opened && QueryServiceConfigA(opened, reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data()), 8192, &needed))
        start = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data())->dwStartType;
    if (opened)
        CloseServiceHandle(opened);
    if (manager)
        CloseServiceHandle(manager);
    return start;
}

bool SetStartType(const std::string& service, DWORD start)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE opened = manager ? OpenServiceA(manager, service.c_str(), SERVICE_CHANGE_CONFIG) : nullptr;
    const bool changed = opened && ChangeServiceConfigA(opened, SERVICE_NO_CHANGE, start, SERVICE_NO_CHANGE, nullptr, nullptr,
                                                        nullptr, nullptr, nullptr, nullptr, nullptr);
    if (opened)
        CloseServiceHandle(opened);
    if (manager)
        CloseServiceHandle(manager);
    return changed;
}

const std::string kDefenderPolicy = "SOFTWARE\\Policies\\Microsoft\\Windows Defender";

TEST(ProtectionEvidence, ASettingIsAFindingOnlyOnAnUnmanagedMachineWithoutAnotherAntivirus)
{
    AntivirusAnswer none, unasked, other;
    none.asked = true;
    other.asked = true;
    other.others = { L"Another Antivirus" };
    unasked.why = L"root\\SecurityCenter2 0x8004100E";
    EXPECT_EQ(JudgeProtection(false, false, none), ProtectionVerdict::None) << "Windows' default";
    EXPECT_EQ(JudgeProtection(true, false, none), ProtectionVerdict::Finding);
    EXPECT_EQ(JudgeProtection(true, true, none), ProtectionVerdict::Managed);
    EXPECT_EQ(JudgeProtection(true, true, unasked), ProtectionVerdict::Managed);
    EXPECT_EQ(JudgeProtection(true, false, other), ProtectionVerdict::OtherAv);
    EXPECT_EQ(JudgeProtection(true, false, unasked), ProtectionVerdict::ListedOnly);
    EXPECT_EQ(DefaultProtectionStart(L"WinDefend"), static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(DefaultProtectionStart(L"MPSSVC"), static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(DefaultProtectionStart(L"BFE"), static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(DefaultProtectionStart(L"WdNisSvc"), static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(DefaultProtectionStart(L"SecurityHealthService"), static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(DefaultProtectionStart(L"Spooler"), 0u) << "none of Windows' protection";
}

TEST(StartListEvidence, WindowsOwnBootCheckAndPackagesStayAndAnEntryNamesItsFile)
{
    EXPECT_TRUE(IsWindowsBootEntry(L"autocheck autochk *"));
    EXPECT_TRUE(IsWindowsBootEntry(L"  AutoCheck   AUTOCHK  * "));
    EXPECT_FALSE(IsWindowsBootEntry(L"autocheck vmboot *"));
    EXPECT_FALSE(IsWindowsBootEntry(L"autocheck autochk * extra"));
    EXPECT_EQ(BootProgramOf(L"autocheck vmboot /clean *"), L"vmboot");
    EXPECT_EQ(BootProgramOf(L"vmclean /all"), L"vmclean");
    EXPECT_EQ(BootProgramOf(L"  autocheck"), L"autocheck");
    EXPECT_EQ(BootProgramOf(L""), L"");
    for (const wchar_t* own : { L"msv1_0", L"kerberos", L"KERBEROS.dll", L"scecli", L"schannel", L"wdigest", L" tspkg " })
        EXPECT_TRUE(IsWindowsLsaPackage(own)) << kt::Utf8(own);
    EXPECT_FALSE(IsWindowsLsaPackage(L"vmpwfilter"));
    EXPECT_FALSE(IsWindowsLsaPackage(L"msv1_0x"));
    EXPECT_EQ(ListEntryFile(L"vmpw", L"C:\\windows", L".dll"), L"C:\\windows\\System32\\vmpw.dll");
    EXPECT_EQ(ListEntryFile(L"vmpw.dll", L"C:\\windows", L".dll"), L"C:\\windows\\System32\\vmpw.dll");
    EXPECT_EQ(ListEntryFile(L"\\??\\C:\\Vm\\boot", L"C:\\windows", L".exe"), L"\\??\\C:\\Vm\\boot.exe");
    EXPECT_EQ(ListEntryFile(L"*", L"C:\\windows", L".exe"), L"");
}

TEST_F(KindsTest, ProtectionLeftOffIsListedNeverChangedWhereSecurityCenterCannotBeAskedAndKeptOnAManagedMachine)
{
    Dword(HKEY_LOCAL_MACHINE, kDefenderPolicy, "DisableAntiSpyware", 1);
    Dword(HKEY_LOCAL_MACHINE, kDefenderPolicy, "DisableAntiVirus", 0);  // Windows' default
    Dword(HKEY_LOCAL_MACHINE, kDefenderPolicy + "\\Real-Time Protection", "DisableRealtimeMonitoring", 1);
    Dword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Policies\\Microsoft\\Windows Advanced Threat Protection", "ForceDefenderPassiveMode", 1);

    // Wine has no root\SecurityCenter2: listed with why, refused with advice, nothing changed.
    Json record;
    EXPECT_EQ(Run("/hkey=HKLM /refs /del", &record), 1u);
    const std::string machine = "hkey_local_machine\\";
    EXPECT_EQ(Found(record), (std::vector<std::string>{
                                 "protectionSetting " + Lower(machine + kDefenderPolicy) + "\\disableantispyware refused",
                                 "protectionSetting " + Lower(machine + kDefenderPolicy) + "\\real-time protection\\disablerealtimemonitoring refused",
                                 "protectionSetting " + machine + "software\\policies\\microsoft\\windows advanced threat protection\\forcedefenderpassivemode refused" }))
        << record["findings"].dump(1);
    const std::string path = "HKEY_LOCAL_MACHINE\\" + kDefenderPolicy + "\\DisableAntiSpyware";
    EXPECT_NE(Reason(record, path).find("Security Center cannot be asked whether another antivirus is registered (root\\SecurityCenter2"),
              std::string::npos) << Reason(record, path);
    EXPECT_NE(Why(record, path).find("check in Windows Security"), std::string::npos) << Why(record, path);
    EXPECT_EQ(DwordText(HKEY_LOCAL_MACHINE, kDefenderPolicy, "DisableAntiSpyware"), "1");
    EXPECT_EQ(DwordText(HKEY_LOCAL_MACHINE, kDefenderPolicy + "\\Real-Time Protection", "DisableRealtimeMonitoring"), "1");
    bool checked = false;
    for (const Json& check : record["checks"])
        checked = checked || (check["kind"] == "protectionSetting" && check["state"] == "ran");
    EXPECT_TRUE(checked) << record["checks"].dump();

    // Enrolled in device management: the policies may be its administrator's, and stay unlisted.
    const std::string enrollment = "SOFTWARE\\Microsoft\\Enrollments\\" + Guid(40);
    Text(HKEY_LOCAL_MACHINE, enrollment, "ProviderID", "MS DM Server");
    EXPECT_EQ(Run("/hkey=HKLM /refs /del", &record), 0u);
    EXPECT_TRUE(record["findings"].empty()) << record["findings"].dump(1);
    EXPECT_NE(Lower(Report()).find(Lower("kept " + path + ": the machine is managed (HKEY_LOCAL_MACHINE\\" + enrollment + " MS DM Server)")),
              std::string::npos) << Report();
    EXPECT_EQ(DwordText(HKEY_LOCAL_MACHINE, kDefenderPolicy, "DisableAntiSpyware"), "1");
}

TEST_F(KindsTest, ProtectionGoesBackToWindowsDefaultsThroughTheServiceManagerAndComesBackOnRestore)
{
    // Security Center answers here as Windows would with no antivirus registered.
    const std::unique_ptr<ILeftoverKind> kind = MakeProtectionSettingKind([](const CInstallation&) {
        AntivirusAnswer answer;
        answer.asked = true;
        return answer;
    });
    kt::ScratchService firewall("mpssvc");
    ASSERT_TRUE(firewall.Created());
    ASSERT_TRUE(SetStartType("mpssvc", SERVICE_DISABLED));
    Dword(HKEY_LOCAL_MACHINE, kDefenderPolicy, "DisableAntiSpyware", 1);
    const std::string features = "SOFTWARE\\Microsoft\\Windows Defender\\Features";
    Dword(HKEY_LOCAL_MACHINE, features, "TamperProtection", 5);

    SearchScope scope;
    scope.rootKeys[kMachineSlot] = SlotFromHkey(HKEY_LOCAL_MACHINE);
    scope.followReferences = true;
    const CKeywords keywords(keyword.c_str());
    const WalkResult walk;
    const CInstallation installation = CInstallation::Running();
    auto search = [&](std::vector<const CmdListEntry*>& list, CFindingsList& owned) {
        CmdListEntry* head = nullptr;
        CFindings findings(head);
        const CSearchFacts facts(scope, keywords, walk, installation, L"");
        const KindCheck check = kind->Decide(facts, findings);
        owned.Reset(head);
        list.clear();
        for (const CmdListEntry* entry = owned.Get(); entry; entry = entry->next)
            list.push_back(entry);
        return check;
    };
    std::vector<const CmdListEntry*> list;
    CFindingsList owned;
    search(list, owned);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(Lower(kt::Utf8(list[0]->path)), Lower("HKEY_LOCAL_MACHINE\\" + kDefenderPolicy + "\\DisableAntiSpyware"));
    EXPECT_NE(Lower(kt::Utf8(list[1]->path)).find("\\services\\mpssvc\\start"), std::string::npos) << kt::Utf8(list[1]->path);

    // Tamper protection on: Windows would refuse the Defender policy; the firewall is none of it.
    std::vector<Outcome> outcomes;
    std::vector<std::wstring> advice;
    auto remove = [&] {
        outcomes.clear();
        advice.clear();
        CRemovalPass pass(report.c_str());
        pass.Run(list, [&](size_t, const RemovalResult& result) {
            outcomes.push_back(result.outcome);
            advice.push_back(result.advice);
        });
        return kt::Utf8(pass.BackupPath());
    };
    remove();
    EXPECT_EQ(outcomes, (std::vector<Outcome>{ Outcome::Refused, Outcome::RemovedAtRestart }));
    EXPECT_EQ(advice[0], Said(IDS_ADVICE_TAMPER));
    EXPECT_EQ(advice[1], Said(IDS_ADVICE_PROTECTION_BACK)) << "the firewall comes back after the restart";
    EXPECT_EQ(DwordText(HKEY_LOCAL_MACHINE, kDefenderPolicy, "DisableAntiSpyware"), "1");
    EXPECT_EQ(StartType("mpssvc"), static_cast<DWORD>(SERVICE_AUTO_START)) << "Windows' default, through the service manager";

    kt::DeleteTree(HKEY_LOCAL_MACHINE, features);
    ASSERT_TRUE(SetStartType("mpssvc", SERVICE_DISABLED));
    search(list, owned);
    ASSERT_EQ(list.size(), 2u);
    const std::string backup = remove();
    EXPECT_EQ(outcomes, (std::vector<Outcome>{ Outcome::Removed, Outcome::RemovedAtRestart }));
    EXPECT_EQ(DwordText(HKEY_LOCAL_MACHINE, kDefenderPolicy, "DisableAntiSpyware"), "none");
    EXPECT_EQ(StartType("mpssvc"), static_cast<DWORD>(SERVICE_AUTO_START));

    // The restore gives back what the last pass took: the policy value and the disabled start type.
    Json record;
    EXPECT_EQ(RunAlone("\"/restore=" + backup + "\"", &record), 0u) << Report();
    EXPECT_EQ(DwordText(HKEY_LOCAL_MACHINE, kDefenderPolicy, "DisableAntiSpyware"), "1");
    EXPECT_EQ(StartType("mpssvc"), static_cast<DWORD>(SERVICE_DISABLED)) << record.dump(1);

    // Another antivirus registered whose program is there: kept, with a note.
    File(product + "installed\\av.exe");
    const std::string center = "SOFTWARE\\Microsoft\\Security Center\\Provider\\Av\\" + Guid(41);
    Text(HKEY_LOCAL_MACHINE, center, "PRODUCTEXE", product + "installed\\av.exe");
    Text(HKEY_LOCAL_MACHINE, center, "DISPLAYNAME", "Other Antivirus");
    const KindCheck check = search(list, owned);
    EXPECT_TRUE(list.empty());
    ASSERT_EQ(check.notes.size(), 2u);
    EXPECT_EQ(check.notes[0].rfind(Said(IDS_KEPT_PROTECTION_OTHER_AV), 0), 0u) << kt::Utf8(check.notes[0]);
    EXPECT_NE(check.notes[0].find(L"\\DisableAntiSpyware\xE001Other Antivirus"), std::wstring::npos) << kt::Utf8(check.notes[0]);
}

TEST_F(KindsTest, ProgramsThatNoLongerStartAndStartUpListsGoEntryByEntryAndComeBackInTheirPlaces)
{
    const std::string options = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\";
    const std::string silent = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SilentProcessExit\\";
    const std::string gone = "a" + tag + ".exe", there = "b" + tag + ".exe", own = "c" + tag + ".exe", monitored = "d" + tag + ".exe",
                      shielded = "e" + tag + ".exe";
    const char mitigation[8] = { 0, 1, 0, 0, 0, 0, 0, 0 };
    Text(HKEY_LOCAL_MACHINE, options + gone, "Debugger", "\"" + product + "dbg.exe\" /attach");
    Set(HKEY_LOCAL_MACHINE, options + gone, "MitigationOptions", REG_BINARY, mitigation, sizeof mitigation);
    File(product + "tool.exe");
    Text(HKEY_LOCAL_MACHINE, options + there, "Debugger", product + "tool.exe");  // its program is there
    Text(HKEY_LOCAL_MACHINE, options + own, "Debugger", "C:\\windows\\system32\\notepad.exe");
    Dword(HKEY_LOCAL_MACHINE, options + monitored, "GlobalFlag", 0x200);
    Text(HKEY_LOCAL_MACHINE, silent + monitored, "MonitorProcess", product + "mon.exe");
    Set(HKEY_LOCAL_MACHINE, options + shielded, "MitigationOptions", REG_BINARY, mitigation, sizeof mitigation);

    const std::string session = kControl + "Control\\Session Manager", lsa = kControl + "Control\\Lsa";
    ListValueGuard boot(session, "BootExecute"), notification(lsa, "Notification Packages"), authentication(lsa, "Authentication Packages");
    const std::vector<std::string> bootList = { "autocheck autochk *", "autocheck " + keyword + "chk *", "nothere" + tag + " /x" };
    ASSERT_TRUE(kt::SetMultiString(HKEY_LOCAL_MACHINE, session, "BootExecute", bootList));
    const std::vector<std::string> packages = { "scecli", keyword + "pw", "rassfm" };
    ASSERT_TRUE(kt::SetMultiString(HKEY_LOCAL_MACHINE, lsa, "Notification Packages", packages));
    ASSERT_TRUE(kt::SetMultiString(HKEY_LOCAL_MACHINE, lsa, "Authentication Packages", { "msv1_0" }));

    // 3010: the Local Security Authority lets go of a package only at the restart.
    Json record;
    EXPECT_EQ(Run("/hkey=HKLM /refs /del", &record), 3010u) << Report();
    const std::string machine = "hkey_local_machine\\";
    const std::vector<std::string> found = Found(record);
    for (const std::string& expected :
         { "debuggerEntry " + Lower(machine + options + gone) + "\\debugger removed",
           "debuggerEntry " + Lower(machine + silent + monitored) + "\\monitorprocess removed",
           "bootExecuteEntry " + Lower(machine + session) + "\\bootexecute: autocheck " + keyword + "chk * removed",
           "bootExecuteEntry " + Lower(machine + session) + "\\bootexecute: nothere" + tag + " /x removed",
           "lsaPackage " + Lower(machine + lsa) + "\\notification packages: " + keyword + "pw removedAtRestart" })
        EXPECT_NE(std::find(found.begin(), found.end(), expected), found.end()) << expected << "\n" << record["findings"].dump(1);
    EXPECT_EQ(found.size(), 5u) << record["findings"].dump(1);
    EXPECT_EQ(Reason(record, "HKEY_LOCAL_MACHINE\\" + options + gone + "\\Debugger"),
              "Debugger = " + product + "dbg.exe, file missing: " + gone + " cannot start at all");
    EXPECT_NE(Reason(record, "HKEY_LOCAL_MACHINE\\" + lsa + "\\Notification Packages").find("it is none of Windows' own packages"),
              std::string::npos);
    EXPECT_FALSE(kt::ValueExists(HKEY_LOCAL_MACHINE, options + gone, "Debugger"));
    EXPECT_TRUE(kt::ValueExists(HKEY_LOCAL_MACHINE, options + gone, "MitigationOptions")) << "exploit protection stays";
    EXPECT_TRUE(kt::ValueExists(HKEY_LOCAL_MACHINE, options + shielded, "MitigationOptions"));
    EXPECT_TRUE(kt::ValueExists(HKEY_LOCAL_MACHINE, options + there, "Debugger"));
    EXPECT_TRUE(kt::ValueExists(HKEY_LOCAL_MACHINE, options + own, "Debugger"));
    EXPECT_FALSE(kt::ValueExists(HKEY_LOCAL_MACHINE, silent + monitored, "MonitorProcess"));
    EXPECT_EQ(kt::MultiString(HKEY_LOCAL_MACHINE, session, "BootExecute"), std::vector<std::string>{ "autocheck autochk *" });
    EXPECT_EQ(kt::MultiString(HKEY_LOCAL_MACHINE, lsa, "Notification Packages"), (std::vector<std::string>{ "scecli", "rassfm" }))
        << "Windows' own packages stay, whatever Wine holds of them";
    EXPECT_EQ(kt::MultiString(HKEY_LOCAL_MACHINE, lsa, "Authentication Packages"), std::vector<std::string>{ "msv1_0" });
    EXPECT_NE(Report().find(keyword + "pw - removed at the next restart  (the Local Security Authority lets go of the package at the next restart)"),
              std::string::npos) << Report();

    // Back in their old places, while the lists keep what they hold now.
    ASSERT_TRUE(kt::SetMultiString(HKEY_LOCAL_MACHINE, lsa, "Notification Packages", { "scecli", "rassfm", "added" + tag }));
    const std::vector<std::string> backups = kt::BackupsOf(report);
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(RunAlone("\"/restore=" + backups[0] + "\"", &record), 0u) << Report();
    EXPECT_EQ(kt::MultiString(HKEY_LOCAL_MACHINE, session, "BootExecute"), bootList);
    EXPECT_EQ(kt::MultiString(HKEY_LOCAL_MACHINE, lsa, "Notification Packages"),
              (std::vector<std::string>{ "scecli", keyword + "pw", "rassfm", "added" + tag }));
    EXPECT_TRUE(kt::ValueExists(HKEY_LOCAL_MACHINE, options + gone, "Debugger"));
    EXPECT_TRUE(kt::ValueExists(HKEY_LOCAL_MACHINE, silent + monitored, "MonitorProcess"));
}

}  // namespace
