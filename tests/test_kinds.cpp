// The kinds of leftover beyond the registry walk's names, end to end with klarner.exe on the real
// registry of the test prefix: each with seeded leftovers next to look-alikes that must stay (a
// file that is there, Windows' own file, another vendor's entry), found with their reasons,
// removed the way Windows wants them removed, or refused and said why.
// Winsock's header before windows.h: a listening socket stands for a proxy that works.
#include <winsock2.h>
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
#include "../engine/kinds/ProxyRules.h"
#include "../engine/system/ProxySettings.h"
#include "../engine/kinds/BrowserExtensionKind.h"
#include "../engine/kinds/RootCertificateKind.h"
#include "../engine/kinds/InstallerProductKind.h"
#include "../engine/system/AdminOnly.h"
#include "../engine/registry/KeyNames.h"
#include <wincrypt.h>
#include <set>

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

// An extension's id as the browsers make them (32 letters from a to p): `which` first, then the
// test's tag, so that no two tests' registrations meet.
std::string ExtensionId(char which, const std::string& tag)
{
    std::string id(1, which);
    for (char c : tag)
        id += static_cast<char>('a' + (c - '0') % 16);
    id.resize(32, 'p');
    return id;
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

    // Enrolled in device management: the policies may be its administrator's, and stay unlisted;
    // so do a browser's extension whose .crx is gone and the policy that forces it.
    const std::string extension = "SOFTWARE\\Google\\Chrome\\Extensions\\" + ExtensionId('m', tag);
    const std::string forcelist = "SOFTWARE\\Policies\\Google\\Chrome\\ExtensionInstallForcelist";
    Text(HKEY_LOCAL_MACHINE, extension, "path", product + "managed.crx");
    Text(HKEY_LOCAL_MACHINE, forcelist, "1", ExtensionId('m', tag) + ";https://clients2.google.com/service/update2/crx");
    const std::string enrollment = "SOFTWARE\\Microsoft\\Enrollments\\" + Guid(40);
    Text(HKEY_LOCAL_MACHINE, enrollment, "ProviderID", "MS DM Server");
    EXPECT_EQ(Run("/hkey=HKLM /refs /del", &record), 0u);
    EXPECT_TRUE(record["findings"].empty()) << record["findings"].dump(1);
    const std::string managed = ": the machine is managed (HKEY_LOCAL_MACHINE\\" + enrollment + " MS DM Server)";
    EXPECT_NE(Lower(Report()).find(Lower("kept " + path + managed)), std::string::npos) << Report();
    EXPECT_EQ(DwordText(HKEY_LOCAL_MACHINE, kDefenderPolicy, "DisableAntiSpyware"), "1");
    for (const std::string& kept : { extension, forcelist + "\\1" })
        EXPECT_NE(Lower(Report()).find(Lower("kept HKEY_LOCAL_MACHINE\\" + kept + managed)), std::string::npos) << kept << "\n" << Report();
    EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, extension));
    EXPECT_TRUE(kt::ValueExists(HKEY_LOCAL_MACHINE, forcelist, "1"));
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

// A certificate signed with a key of its own, named `subject` and issued by `issuer` (the same
// text for a self-issued one), DER-encoded.
std::string MakeCertificate(const std::wstring& subject, const std::wstring& issuer)
{
    HCRYPTPROV provider = 0;
    const std::wstring container = L"kltkind" + std::to_wstring(GetCurrentProcessId());
    if (!CryptAcquireContextW(&provider, container.c_str(), nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET) &&
        !CryptAcquireContextW(&provider, container.c_str(), nullptr, PROV_RSA_FULL, 0))
        return std::string();
    HCRYPTKEY key = 0;
    CryptGenKey(provider, AT_SIGNATURE, 1024 << 16, &key);
    auto name = [](const std::wstring& text) {
        DWORD size = 0;
        CertStrToNameW(X509_ASN_ENCODING, text.c_str(), CERT_X500_NAME_STR | CERT_NAME_STR_SEMICOLON_FLAG, nullptr, nullptr, &size, nullptr);
        std::vector<BYTE> bytes(size);
        CertStrToNameW(X509_ASN_ENCODING, text.c_str(), CERT_X500_NAME_STR | CERT_NAME_STR_SEMICOLON_FLAG, nullptr, bytes.data(), &size, nullptr);
        bytes.resize(size);
        return bytes;
    };
    std::vector<BYTE> subjectName = name(subject), issuerName = name(issuer);
    DWORD keySize = 0;
    CryptExportPublicKeyInfo(provider, AT_SIGNATURE, X509_ASN_ENCODING, nullptr, &keySize);
    std::vector<BYTE> keyInfo(keySize);
    CryptExportPublicKeyInfo(provider, AT_SIGNATURE, X509_ASN_ENCODING, reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(keyInfo.data()), &keySize);
    BYTE serial[8];
    const DWORD tick = GetTickCount();
    for (int i = 0; i < 8; ++i)
        serial[i] = static_cast<BYTE>((tick >> (i % 4 * 8)) + i + subject.size());
    CERT_INFO info = {};
    info.dwVersion = CERT_V3;
    info.SerialNumber = { sizeof serial, serial };
    char oid[] = szOID_RSA_SHA1RSA;  // what the plain RSA provider hashes
    info.SignatureAlgorithm.pszObjId = oid;
    info.Issuer = { static_cast<DWORD>(issuerName.size()), issuerName.data() };
    info.Subject = { static_cast<DWORD>(subjectName.size()), subjectName.data() };
    SYSTEMTIME now;
    GetSystemTime(&now);
    SystemTimeToFileTime(&now, &info.NotBefore);
    now.wYear += 5;
    SystemTimeToFileTime(&now, &info.NotAfter);
    info.SubjectPublicKeyInfo = *reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(keyInfo.data());
    CRYPT_ALGORITHM_IDENTIFIER algorithm = {};
    algorithm.pszObjId = oid;
    DWORD size = 0;
    CryptSignAndEncodeCertificate(provider, AT_SIGNATURE, X509_ASN_ENCODING, X509_CERT_TO_BE_SIGNED, &info, &algorithm, nullptr, nullptr, &size);
    std::string encoded(size, '\0');
    if (!CryptSignAndEncodeCertificate(provider, AT_SIGNATURE, X509_ASN_ENCODING, X509_CERT_TO_BE_SIGNED, &info, &algorithm, nullptr,
                                       reinterpret_cast<BYTE*>(&encoded[0]), &size))
        encoded.clear();
    encoded.resize(size);
    CryptDestroyKey(key);
    CryptReleaseContext(provider, 0);
    CryptAcquireContextW(&provider, container.c_str(), nullptr, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
    return encoded;
}

// A user's Root store and the administrator's, as the registry holds them.
const char kUserRoot[] = "Software\\Microsoft\\SystemCertificates\\Root";
const char kUserPolicyRoot[] = "Software\\Policies\\Microsoft\\SystemCertificates\\Root";

std::string Thumbprint(const std::string& encoded)
{
    BYTE hash[20];
    DWORD size = sizeof hash;
    CryptHashCertificate(0, CALG_SHA1, 0, reinterpret_cast<const BYTE*>(encoded.data()), static_cast<DWORD>(encoded.size()), hash, &size);
    std::string text;
    char digit[3];
    for (BYTE b : hash) {
        snprintf(digit, sizeof digit, "%02X", b);
        text += digit;
    }
    return text;
}

// Whether the current user's store in `key` holds the certificate, as CryptoAPI reads it.
bool StoreHolds(const std::string& key, const std::string& encoded)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_REG, 0, 0, CERT_STORE_READONLY_FLAG, opened);
    RegCloseKey(opened);
    PCCERT_CONTEXT found = nullptr;
    if (store) {
        BYTE hash[20];
        DWORD size = sizeof hash;
        CryptHashCertificate(0, CALG_SHA1, 0, reinterpret_cast<const BYTE*>(encoded.data()), static_cast<DWORD>(encoded.size()), hash, &size);
        CRYPT_HASH_BLOB blob = { size, hash };
        found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
        CertFreeCertificateContext(found);
        CertCloseStore(store, 0);
    }
    return found != nullptr;
}

class NetKindsTest : public KindsTest
{
protected:
    // A certificate into the current user's store at `key`; its registry key is the test's.
    std::string AddCertificate(const std::string& key, const std::wstring& subject, const std::wstring& issuer)
    {
        const std::string encoded = MakeCertificate(subject, issuer);
        EXPECT_FALSE(encoded.empty());
        return AddEncoded(key, encoded);
    }
    std::string AddEncoded(const std::string& key, const std::string& encoded)
    {
        HKEY opened = nullptr;
        RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &opened, nullptr);
        HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_REG, 0, 0, 0, opened);
        EXPECT_TRUE(CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(encoded.data()),
                                                     static_cast<DWORD>(encoded.size()), CERT_STORE_ADD_NEW, nullptr));
        CertCloseStore(store, 0);
        RegCloseKey(opened);
        keys.push_back({ HKEY_CURRENT_USER, key + "\\Certificates\\" + Thumbprint(encoded) });
        return encoded;
    }
    std::string NewBackup(const std::vector<std::string>& before)
    {
        for (const std::string& backup : kt::BackupsOf(report))
            if (std::find(before.begin(), before.end(), backup) == before.end())
                return backup;
        return std::string();
    }
    // The uninstall entry of another product of the maker, whose uninstaller is there: installed.
    std::string InstallMakersProduct(HKEY root, const std::string& software)
    {
        const std::string uninstall = software + "\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + keyword + " Web Shield";
        File(product + "uninstall.exe");
        Text(root, uninstall, "DisplayName", keyword + " Web Shield 2");
        Text(root, uninstall, "UninstallString", "\"" + product + "uninstall.exe\"");
        return uninstall;
    }
    static bool Checked(const Json& record, const char* kind)
    {
        for (const Json& check : record["checks"])
            if (check["kind"] == kind && check["state"] == "ran")
                return true;
        return false;
    }
};

// The running user's store: Wine fills the machine's Root store from the host's certificates
// whenever it loads, so the machine's store cannot hold a test's certificate for long.
TEST_F(NetKindsTest, ARootCertificateOfHttpsScanningGoesAndComesBackLookAlikesStay)
{
    const std::wstring kw = kt::Widen(keyword);
    const std::string leftover = AddCertificate(kUserRoot, L"CN=" + kw + L" Web Shield Root;O=" + kw + L" Labs", L"CN=" + kw + L" Web Shield Root;O=" + kw + L" Labs");
    const std::string microsoft = AddCertificate(kUserRoot, L"CN=" + kw + L" Root;O=Microsoft Corporation", L"CN=" + kw + L" Root;O=Microsoft Corporation");
    const std::string issued = AddCertificate(kUserRoot, L"CN=" + kw + L" Issued", L"CN=Another Authority");
    const std::string plain = AddCertificate(kUserRoot, L"CN=Plain Root " + kt::Widen(tag), L"CN=Plain Root " + kt::Widen(tag));
    const std::wstring trustedName = L"CN=" + kw + L" Trusted;O=" + kw + L" Labs";
    const std::string trusted = AddCertificate(kUserRoot, trustedName, trustedName);
    const std::string policy = AddEncoded(kUserPolicyRoot, trusted);
    keys.push_back({ HKEY_CURRENT_USER, kUserPolicyRoot });
    const std::string path = "HKEY_CURRENT_USER\\" + std::string(kUserRoot) + "\\Certificates\\" + Thumbprint(leftover);

    // A product of the maker still installed (its uninstaller is there) keeps it.
    const std::string uninstall = InstallMakersProduct(HKEY_CURRENT_USER, "Software");
    Json record;
    Run("/hkey=HKCU /refs", &record);
    EXPECT_EQ(Reason(record, path), "<none>") << record["findings"].dump(1);
    EXPECT_NE(Lower(Report()).find(Lower("kept " + path + ": root certificate")), std::string::npos) << Report();
    kt::DeleteTree(HKEY_CURRENT_USER, uninstall);

    const std::vector<std::string> before = kt::BackupsOf(report);
    EXPECT_EQ(Run("/hkey=HKCU /refs /del", &record), 0u) << Report();
    std::vector<std::string> certificates;
    for (const std::string& found : Found(record))
        if (found.compare(0, 16, "rootCertificate ") == 0)
            certificates.push_back(found);
    EXPECT_EQ(certificates, std::vector<std::string>{ "rootCertificate " + Lower(path) + " removed" }) << record["findings"].dump(1);
    EXPECT_TRUE(Checked(record, "rootCertificate"));
    EXPECT_NE(Reason(record, path).find(Thumbprint(leftover) + ": self-issued"), std::string::npos) << Reason(record, path);
    EXPECT_NE(Report().find(keyword + " Web Shield Root"), std::string::npos) << "the subject on the report's line\n" << Report();
    EXPECT_NE(Lower(Report()).find(Lower(path)), std::string::npos);
    EXPECT_FALSE(StoreHolds(kUserRoot, leftover));
    for (const std::string* stays : { &microsoft, &issued, &plain, &trusted })
        EXPECT_TRUE(StoreHolds(kUserRoot, *stays)) << Thumbprint(*stays);
    EXPECT_TRUE(StoreHolds(kUserPolicyRoot, policy));
    EXPECT_NE(Lower(Report()).find(Lower("kept HKEY_CURRENT_USER\\" + std::string(kUserRoot) + "\\Certificates\\" + Thumbprint(trusted))),
              std::string::npos) << Report();

    const std::string backup = NewBackup(before);
    ASSERT_FALSE(backup.empty());
    EXPECT_NE(kt::ReadUtf16(backup).find(kt::Widen("[" + path + "]")), std::wstring::npos) << "its place, for an import by hand too";
    EXPECT_EQ(RunAlone("\"/restore=" + backup + "\"", &record), 0u) << Report();
    EXPECT_TRUE(StoreHolds(kUserRoot, leftover)) << "back, as CryptoAPI reads it";
}

// A loopback listener the test holds; closed, its port is one nothing listens on.
class Listener
{
public:
    Listener()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(m_socket, 1);
        int size = sizeof address;
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &size);
        port = ntohs(address.sin_port);
    }
    ~Listener() { Close(); }
    void Close()
    {
        if (m_socket != INVALID_SOCKET)
            closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }
    unsigned port = 0;

private:
    SOCKET m_socket = INVALID_SOCKET;
};

// Values of keys that are not the test's own, put back as they were when it ends.
class SavedValues
{
public:
    SavedValues(HKEY root, const std::string& key, std::vector<std::string> names) : m_root(root), m_key(key)
    {
        for (const std::string& name : names) {
            Saved saved;
            saved.name = name;
            DWORD size = 0;
            saved.there = RegGetValueA(root, key.c_str(), name.c_str(), RRF_RT_ANY, &saved.type, nullptr, &size) == ERROR_SUCCESS;
            saved.data.resize(size);
            if (saved.there)
                RegGetValueA(root, key.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &saved.type, &saved.data[0], &size);
            m_saved.push_back(saved);
        }
    }
    ~SavedValues()
    {
        for (const Saved& saved : m_saved)
            if (saved.there)
                RegSetKeyValueA(m_root, m_key.c_str(), saved.name.c_str(), saved.type, saved.data.data(), static_cast<DWORD>(saved.data.size()));
            else
                RegDeleteKeyValueA(m_root, m_key.c_str(), saved.name.c_str());
    }

private:
    struct Saved
    {
        std::string name;
        bool there = false;
        DWORD type = 0;
        std::string data;
    };
    HKEY m_root;
    std::string m_key;
    std::vector<Saved> m_saved;
};

std::string Blob(DWORD flags, const std::string& proxy, const std::string& pac = std::string(), bool winHttp = false)
{
    auto number = [](DWORD value) { return std::string(reinterpret_cast<const char*>(&value), 4); };
    std::string bytes = number(winHttp ? 0x18 : 0x46) + number(7) + number(flags) + number(static_cast<DWORD>(proxy.size())) + proxy +
                        number(0);
    if (!winHttp)
        bytes += number(static_cast<DWORD>(pac.size())) + pac + std::string(32, '\0');
    return bytes;
}

DWORD DwordOf(HKEY root, const std::string& key, const char* name)
{
    DWORD value = 0xFFFF, size = sizeof value;
    RegGetValueA(root, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
}

std::string BytesOf(HKEY root, const std::string& key, const char* name)
{
    DWORD size = 0;
    if (RegGetValueA(root, key.c_str(), name, RRF_RT_ANY, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return "<none>";
    std::string data(size, '\0');
    RegGetValueA(root, key.c_str(), name, RRF_RT_ANY, nullptr, &data[0], &size);
    return data;
}

// The running user's WinINet settings (HKEY_CURRENT_USER) and the machine's WinHTTP setting:
// a proxy something listens on and one set by policy stay; a dead one of the product goes to a
// direct connection and comes back with /restore.
TEST_F(NetKindsTest, AProxyLeftOnGoesToADirectConnectionWorkingAndPolicyProxiesStay)
{
    const std::string settings = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    const std::string connections = settings + "\\Connections";
    const std::string machineConnections = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
    SavedValues savedSettings(HKEY_CURRENT_USER, settings, { "ProxyEnable", "ProxyServer", "AutoConfigURL" });
    SavedValues savedBlob(HKEY_CURRENT_USER, connections, { "DefaultConnectionSettings", "SavedLegacySettings" });
    SavedValues savedWinHttp(HKEY_LOCAL_MACHINE, machineConnections, { "WinHttpSettings" });
    RegDeleteKeyValueA(HKEY_CURRENT_USER, connections.c_str(), "SavedLegacySettings");
    const std::string userPath = "HKEY_CURRENT_USER\\" + settings;
    const std::string machinePath = "HKEY_LOCAL_MACHINE\\" + machineConnections + "\\WinHttpSettings";
    auto proxy = [&](const std::string& server) {
        const DWORD on = 1;
        RegSetKeyValueA(HKEY_CURRENT_USER, settings.c_str(), "ProxyEnable", REG_DWORD, &on, sizeof on);
        RegSetKeyValueA(HKEY_CURRENT_USER, settings.c_str(), "ProxyServer", REG_SZ, server.c_str(), static_cast<DWORD>(server.size() + 1));
        const std::string blob = Blob(3, server);
        RegSetKeyValueA(HKEY_CURRENT_USER, connections.c_str(), "DefaultConnectionSettings", REG_BINARY, blob.data(), static_cast<DWORD>(blob.size()));
        const std::string winHttp = Blob(3, server, std::string(), true);
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, machineConnections.c_str(), "WinHttpSettings", REG_BINARY, winHttp.data(), static_cast<DWORD>(winHttp.size()));
    };
    auto proxies = [&](const Json& record) {
        std::vector<std::string> found;
        for (const std::string& line : Found(record))
            if (line.compare(0, 13, "proxySetting ") == 0)
                found.push_back(line);
        return found;
    };

    // Something listens on its port: it works.
    Listener working;
    proxy("127.0.0.1:" + std::to_string(working.port));
    Json record;
    Run("/hkey=HKCU /refs", &record);
    EXPECT_TRUE(proxies(record).empty()) << record["findings"].dump(1);
    EXPECT_TRUE(Checked(record, "proxySetting")) << record["checks"].dump();

    // Nothing listens, but the administrator set a proxy by policy.
    Listener closed;
    const std::string dead = "http=127.0.0.1:" + std::to_string(closed.port) + ";https=127.0.0.1:" + std::to_string(closed.port);
    closed.Close();
    proxy(dead);
    const std::string userPolicy = "Software\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    Text(HKEY_CURRENT_USER, userPolicy, "ProxyServer", "proxy.example:8080");
    Run("/hkey=HKCU /refs", &record);
    EXPECT_TRUE(proxies(record).empty()) << record["findings"].dump(1);
    EXPECT_NE(Lower(Report()).find(Lower("kept " + userPath + ": the proxy is set by policy")), std::string::npos) << Report();
    kt::DeleteTree(HKEY_CURRENT_USER, userPolicy);

    // The product's: a dead proxy and its PAC file gone with its folder.
    const std::string pac = "file://C:/Program Files/" + keyword + " Suite/proxy.pac";
    RegSetKeyValueA(HKEY_CURRENT_USER, settings.c_str(), "AutoConfigURL", REG_SZ, pac.c_str(), static_cast<DWORD>(pac.size() + 1));
    std::vector<std::string> before = kt::BackupsOf(report);
    EXPECT_EQ(Run("/hkey=HKCU /refs /del", &record), 0u) << Report();
    EXPECT_EQ(proxies(record), std::vector<std::string>{ "proxySetting " + Lower(userPath) + " removed" }) << record["findings"].dump(1);
    EXPECT_EQ(Reason(record, userPath), "proxy " + dead + " left on: nothing listens on port " + std::to_string(closed.port));
    EXPECT_EQ(DwordOf(HKEY_CURRENT_USER, settings, "ProxyEnable"), 0u);
    EXPECT_EQ(BytesOf(HKEY_CURRENT_USER, settings, "AutoConfigURL"), "<none>");
    ConnectionBlob blob;
    const std::string now = BytesOf(HKEY_CURRENT_USER, connections, "DefaultConnectionSettings");
    ASSERT_TRUE(ParseConnectionBlob(std::vector<BYTE>(now.begin(), now.end()), false, blob));
    EXPECT_EQ(blob.flags & (kProxyFlag | kPacFlag), 0u) << "the LAN connection direct";
    std::string backup = NewBackup(before);
    ASSERT_FALSE(backup.empty());
    EXPECT_EQ(RunAlone("\"/restore=" + backup + "\"", &record), 0u) << Report();
    EXPECT_EQ(DwordOf(HKEY_CURRENT_USER, settings, "ProxyEnable"), 1u);
    EXPECT_EQ(BytesOf(HKEY_CURRENT_USER, settings, "AutoConfigURL"), pac + std::string(1, '\0'));
    EXPECT_EQ(BytesOf(HKEY_CURRENT_USER, connections, "DefaultConnectionSettings"), Blob(3, dead));

    // The machine's WinHTTP proxy, through WinHTTP (its value read again after).
    before = kt::BackupsOf(report);
    EXPECT_EQ(Run("/hkey=HKLM /refs /del", &record), 0u) << Report();
    EXPECT_EQ(proxies(record), std::vector<std::string>{ "proxySetting " + Lower(machinePath) + " removed" }) << record["findings"].dump(1);
    const std::string machineNow = BytesOf(HKEY_LOCAL_MACHINE, machineConnections, "WinHttpSettings");
    ASSERT_TRUE(ParseConnectionBlob(std::vector<BYTE>(machineNow.begin(), machineNow.end()), true, blob));
    EXPECT_EQ(blob.flags & kProxyFlag, 0u);
    backup = NewBackup(before);
    ASSERT_FALSE(backup.empty());
    EXPECT_EQ(RunAlone("\"/restore=" + backup + "\"", &record), 0u) << Report();
    EXPECT_EQ(BytesOf(HKEY_LOCAL_MACHINE, machineConnections, "WinHttpSettings"), Blob(3, dead, std::string(), true));
}

// The browsers' extensions of the product, for the machine and the running user: a registration
// whose .crx is gone goes with its key, a policy's entry that forces it (or fetches from the
// product's host) and a Firefox value whose .xpi is gone go alone; what another vendor registered,
// what the store serves, what is still there and what the maker's installed product fetches stay.
TEST_F(NetKindsTest, BrowserExtensionsOfTheProductGoAloneAndComeBackWhileLookAlikesStay)
{
    const std::string chrome = "SOFTWARE\\Google\\Chrome\\Extensions\\", edge32 = "SOFTWARE\\WOW6432Node\\Microsoft\\Edge\\Extensions\\";
    const std::string forcelist = "SOFTWARE\\Policies\\Google\\Chrome\\ExtensionInstallForcelist";
    const std::string firefox = "SOFTWARE\\Mozilla\\Firefox\\Extensions";
    const std::string store = ";https://clients2.google.com/service/update2/crx";
    const std::string gone = ExtensionId('a', tag), edge = ExtensionId('b', tag), present = ExtensionId('c', tag),
                      other = ExtensionId('d', tag), webStore = ExtensionId('e', tag), both = ExtensionId('f', tag),
                      hosted = ExtensionId('g', tag), foreign = ExtensionId('h', tag);
    const std::string otherVendor = "C:\\Program Files\\Other Vendor " + tag + "\\";
    Text(HKEY_LOCAL_MACHINE, chrome + gone, "path", product + "webshield.crx");
    Text(HKEY_LOCAL_MACHINE, chrome + gone, "version", "4.2.1");
    Text(HKEY_LOCAL_MACHINE, edge32 + edge, "path", product + "edge\\webshield.crx");
    Text(HKEY_LOCAL_MACHINE, edge32 + edge, "version", "4.2.1");
    File(product + "present.crx");
    Text(HKEY_LOCAL_MACHINE, chrome + present, "path", product + "present.crx");  // there: it works
    Text(HKEY_LOCAL_MACHINE, chrome + other, "path", otherVendor + "other.crx");   // no keyword
    Text(HKEY_LOCAL_MACHINE, chrome + webStore, "update_url", "https://clients2.google.com/service/update2/crx");
    Text(HKEY_LOCAL_MACHINE, chrome + both, "update_url", "https://clients2.google.com/service/update2/crx");
    Text(HKEY_LOCAL_MACHINE, chrome + both, "path", product + "unused.crx");  // the browser fetches it, never reads its path
    const std::string named = chrome + keyword + "Old";  // a key the name search finds itself
    Text(HKEY_LOCAL_MACHINE, named, "path", product + "old.crx");
    const std::string productHost = "update." + keyword + ".example";
    Text(HKEY_LOCAL_MACHINE, forcelist, "1", gone + store);
    Text(HKEY_LOCAL_MACHINE, forcelist, "2", hosted + ";https://" + productHost + "/crx");
    Text(HKEY_LOCAL_MACHINE, forcelist, "3", foreign + ";https://extensions.othervendor.example/crx");
    Text(HKEY_LOCAL_MACHINE, forcelist, "4", webStore);
    const std::string shield = "shield@" + keyword + ".example";
    Text(HKEY_LOCAL_MACHINE, firefox, shield.c_str(), product + "firefox\\shield.xpi");
    File(product + "firefox-present\\manifest.json");
    Text(HKEY_LOCAL_MACHINE, firefox, "present@example.org", product + "firefox-present");
    Text(HKEY_LOCAL_MACHINE, firefox, "other@example.org", otherVendor + "other.xpi");
    const std::string machine = "HKEY_LOCAL_MACHINE\\";
    auto extensions = [](const Json& record) {
        std::vector<std::string> found;
        for (const std::string& line : Found(record))
            if (line.compare(0, 17, "browserExtension ") == 0)
                found.push_back(line);
        std::sort(found.begin(), found.end());
        return found;
    };

    // A product of the maker still installed may fetch its own extension from the host it names.
    const std::string uninstall = InstallMakersProduct(HKEY_LOCAL_MACHINE, "SOFTWARE");
    Json record;
    Run("/hkey=HKLM /refs", &record);
    EXPECT_TRUE(Checked(record, "browserExtension")) << record["checks"].dump();
    EXPECT_EQ(Reason(record, machine + forcelist + "\\2"), "<none>") << record["findings"].dump(1);
    EXPECT_NE(Lower(Report()).find(Lower("kept " + machine + forcelist + "\\2: extension " + hosted + " from " + productHost +
                                         ", of the maker of " + keyword + " Web Shield 2, which is still installed")),
              std::string::npos) << Report();
    kt::DeleteTree(HKEY_LOCAL_MACHINE, uninstall);
    DeleteFileA((product + "uninstall.exe").c_str());

    std::vector<std::string> before = kt::BackupsOf(report);
    EXPECT_EQ(Run("/hkey=HKLM /refs /del", &record), 0u) << Report();
    std::vector<std::string> expected = {
        "browserExtension " + Lower(machine + chrome + gone) + " removed",
        "browserExtension " + Lower(machine + edge32 + edge) + " removed",
        "browserExtension " + Lower(machine + forcelist) + "\\1 removed",
        "browserExtension " + Lower(machine + forcelist) + "\\2 removed",
        "browserExtension " + Lower(machine + firefox + "\\" + shield) + " removed",
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(extensions(record), expected) << record["findings"].dump(1);
    const std::vector<std::string> found = Found(record);
    EXPECT_NE(std::find(found.begin(), found.end(), "key " + Lower(machine + named) + " removed"), found.end())
        << "listed once, by its name\n" << record["findings"].dump(1);
    EXPECT_EQ(Reason(record, machine + chrome + gone), "Chrome extension " + gone + ": path = " + product + "webshield.crx, file missing");
    EXPECT_EQ(Lower(Reason(record, machine + forcelist + "\\1")),
              Lower("the Chrome policy forces extension " + gone + ", whose registration " + machine + chrome + gone +
                    " names the product's .crx, which is gone"));
    EXPECT_NE(Reason(record, machine + forcelist + "\\2").find("from " + productHost + ", a host of the product"), std::string::npos);
    EXPECT_EQ(Reason(record, machine + firefox + "\\" + shield),
              "Firefox extension " + shield + " = " + product + "firefox\\shield.xpi, file missing");
    EXPECT_NE(Report().find("(the browser lets go of the extension when it starts next, at the latest)"), std::string::npos) << Report();
    EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, chrome + gone));
    EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, edge32 + edge));
    for (const std::string* stays : { &present, &other, &webStore, &both })
        EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, chrome + *stays)) << *stays;
    EXPECT_FALSE(kt::ValueExists(HKEY_LOCAL_MACHINE, forcelist, "1"));
    EXPECT_FALSE(kt::ValueExists(HKEY_LOCAL_MACHINE, forcelist, "2"));
    EXPECT_EQ(BytesOf(HKEY_LOCAL_MACHINE, forcelist, "3"), foreign + ";https://extensions.othervendor.example/crx" + std::string(1, '\0'));
    EXPECT_EQ(BytesOf(HKEY_LOCAL_MACHINE, forcelist, "4"), webStore + std::string(1, '\0'));
    EXPECT_FALSE(kt::ValueExists(HKEY_LOCAL_MACHINE, firefox, shield.c_str()));
    EXPECT_TRUE(kt::ValueExists(HKEY_LOCAL_MACHINE, firefox, "present@example.org"));
    EXPECT_TRUE(kt::ValueExists(HKEY_LOCAL_MACHINE, firefox, "other@example.org"));
    // The folder stays: a registration that works still names a file in it.
    EXPECT_TRUE(kt::FileExists(product + "present.crx"));
    EXPECT_TRUE(kt::FileExists(product + "firefox-present\\manifest.json"));

    std::string backup = NewBackup(before);
    ASSERT_FALSE(backup.empty());
    const std::string saved = Lower(kt::Utf8(kt::ReadUtf16(backup)));
    for (const std::string& held : { "[" + machine + chrome + gone + "]", "[" + machine + edge32 + edge + "]",
                                     "\"1\"=\"" + gone + store + "\"", "\"2\"=\"" + hosted + ";https://" + productHost + "/crx\"" })
        EXPECT_NE(saved.find(Lower(held)), std::string::npos) << held << "\n" << saved;
    EXPECT_EQ(saved.find("\"3\"="), std::string::npos) << "only the entries removed";
    EXPECT_EQ(RunAlone("\"/restore=" + backup + "\"", &record), 0u) << Report();
    EXPECT_EQ(BytesOf(HKEY_LOCAL_MACHINE, chrome + gone, "path"), product + "webshield.crx" + std::string(1, '\0'));
    EXPECT_EQ(BytesOf(HKEY_LOCAL_MACHINE, chrome + gone, "version"), "4.2.1" + std::string(1, '\0'));
    EXPECT_EQ(BytesOf(HKEY_LOCAL_MACHINE, edge32 + edge, "path"), product + "edge\\webshield.crx" + std::string(1, '\0'));
    EXPECT_EQ(BytesOf(HKEY_LOCAL_MACHINE, forcelist, "1"), gone + store + std::string(1, '\0'));
    EXPECT_EQ(BytesOf(HKEY_LOCAL_MACHINE, forcelist, "2"), hosted + ";https://" + productHost + "/crx" + std::string(1, '\0'));
    EXPECT_EQ(BytesOf(HKEY_LOCAL_MACHINE, forcelist, "3"), foreign + ";https://extensions.othervendor.example/crx" + std::string(1, '\0'));
    EXPECT_EQ(BytesOf(HKEY_LOCAL_MACHINE, firefox, shield.c_str()), product + "firefox\\shield.xpi" + std::string(1, '\0'));
    EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, named)) << "the key kind's finding comes back too";

    // The running user's: an Edge registration, the user's policy that forces it by its id alone,
    // and a Firefox value; a store's registration stays.
    const std::string userEdge = "Software\\Microsoft\\Edge\\Extensions\\" + ExtensionId('i', tag);
    const std::string userForcelist = "Software\\Policies\\Microsoft\\Edge\\ExtensionInstallForcelist";
    const std::string userFirefox = "Software\\Mozilla\\Firefox\\Extensions", userShield = "user@" + keyword + ".example";
    const std::string userStore = "Software\\Google\\Chrome\\Extensions\\" + ExtensionId('j', tag);
    Text(HKEY_CURRENT_USER, userEdge, "path", product + "user.crx");
    Text(HKEY_CURRENT_USER, userForcelist, "1", ExtensionId('i', tag));
    Text(HKEY_CURRENT_USER, userFirefox, userShield.c_str(), product + "user.xpi");
    Text(HKEY_CURRENT_USER, userStore, "update_url", "https://clients2.google.com/service/update2/crx");
    const std::string user = "HKEY_CURRENT_USER\\";
    before = kt::BackupsOf(report);
    EXPECT_EQ(Run("/hkey=HKCU /refs /del", &record), 0u) << Report();
    expected = { "browserExtension " + Lower(user + userEdge) + " removed", "browserExtension " + Lower(user + userForcelist) + "\\1 removed",
                 "browserExtension " + Lower(user + userFirefox + "\\" + userShield) + " removed" };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(extensions(record), expected) << record["findings"].dump(1);
    EXPECT_TRUE(Exists(HKEY_CURRENT_USER, userStore));
    EXPECT_FALSE(Exists(HKEY_CURRENT_USER, userEdge));
    backup = NewBackup(before);
    ASSERT_FALSE(backup.empty());
    EXPECT_EQ(RunAlone("\"/restore=" + backup + "\"", &record), 0u) << Report();
    EXPECT_EQ(BytesOf(HKEY_CURRENT_USER, userEdge, "path"), product + "user.crx" + std::string(1, '\0'));
    EXPECT_EQ(BytesOf(HKEY_CURRENT_USER, userForcelist, "1"), ExtensionId('i', tag) + std::string(1, '\0'));
    EXPECT_EQ(BytesOf(HKEY_CURRENT_USER, userFirefox, userShield.c_str()), product + "user.xpi" + std::string(1, '\0'));
}

// The force-install list's entries, without a registry.
TEST(NetKindRules, AForcedExtensionIsTheProductsByAGoneRegistrationOrTheProductsHostUnlessTheMakersProductRemains)
{
    ForcedExtension entry;
    ASSERT_TRUE(SplitForcelistEntry(L" abcdefghijklmnopabcdefghijklmnop ; https://User@Update.Vigilo.Example:8443/crx?x=1 ", entry));
    EXPECT_EQ(entry.id, L"abcdefghijklmnopabcdefghijklmnop");
    EXPECT_EQ(entry.url, L"https://User@Update.Vigilo.Example:8443/crx?x=1");
    EXPECT_EQ(entry.host, L"update.vigilo.example");
    ASSERT_TRUE(SplitForcelistEntry(L"abcdefghijklmnopabcdefghijklmnop", entry));
    EXPECT_TRUE(entry.url.empty() && entry.host.empty()) << "the id alone: the browser's store";
    ASSERT_TRUE(SplitForcelistEntry(L"abc;update.vigilo.example/crx", entry));
    EXPECT_TRUE(entry.host.empty()) << "no scheme, no host";
    EXPECT_FALSE(SplitForcelistEntry(L"", entry));
    EXPECT_FALSE(SplitForcelistEntry(L" ;https://update.vigilo.example/", entry));
    EXPECT_TRUE(IsBrowserStoreHost(L"clients2.google.com"));
    EXPECT_TRUE(IsBrowserStoreHost(L"edge.microsoft.com"));
    EXPECT_FALSE(IsBrowserStoreHost(L"notgoogle.com"));

    const CKeywords keywords("vigilo,velmora,google");
    const std::vector<std::wstring> goneIds = { L"aaaabbbbccccddddeeeeffffgggghhhh" };
    struct Row
    {
        const wchar_t* data;
        std::vector<std::wstring> installed;
        ForcedVerdict verdict;
    } rows[] = {
        { L"AAAABBBBCCCCDDDDEEEEFFFFGGGGHHHH;https://clients2.google.com/service/update2/crx", {}, ForcedVerdict::GoneExtension },
        { L"aaaabbbbccccddddeeeeffffgggghhhh", { L"Vigilo Web Shield" }, ForcedVerdict::GoneExtension },
        { L"pppppppppppppppppppppppppppppppp;https://update.vigilo.example/crx", {}, ForcedVerdict::ProductsHost },
        { L"pppppppppppppppppppppppppppppppp;https://update.vigilo.example/crx", { L"Other Tool" }, ForcedVerdict::ProductsHost },
        { L"pppppppppppppppppppppppppppppppp;https://update.vigilo.example/crx", { L"Vigilo+ SecureVPN" }, ForcedVerdict::MakerInstalled },
        { L"pppppppppppppppppppppppppppppppp;https://extensions.example/vigilo/crx", {}, ForcedVerdict::NotTheProducts },
        { L"pppppppppppppppppppppppppppppppp;https://clients2.google.com/service/update2/crx", {}, ForcedVerdict::NotTheProducts },
        { L"pppppppppppppppppppppppppppppppp", {}, ForcedVerdict::NotTheProducts },
    };
    for (const Row& row : rows) {
        std::wstring keyword, keptBy;
        ASSERT_TRUE(SplitForcelistEntry(row.data, entry)) << Utf8(row.data);
        EXPECT_EQ(JudgeForcedExtension(entry, goneIds, keywords, row.installed, keyword, keptBy), row.verdict) << Utf8(row.data);
        if (row.verdict == ForcedVerdict::MakerInstalled) {
            EXPECT_EQ(keptBy, row.installed.front());
        }
        if (row.verdict == ForcedVerdict::ProductsHost) {
            EXPECT_EQ(keyword, L"vigilo");
        }
    }
}

// The evidence rules, without a store or a network.
TEST(NetKindRules, RootCertificatesAreTheProductsOnlyWhenSelfIssuedNamedAndUnclaimed)
{
    const CKeywords keywords("vigilo,velmora");
    struct Row
    {
        bool selfIssued;
        const wchar_t *organisation, *commonName;
        bool policy;
        std::vector<std::wstring> installed;
        RootVerdict verdict;
    } rows[] = {
        { true, L"Vigilo Labs", L"Web Shield Root", false, {}, RootVerdict::Leftover },
        { true, L"", L"Velmora HTTPS Root", false, { L"Other Tool" }, RootVerdict::Leftover },
        { false, L"Vigilo Labs", L"Vigilo Issued", false, {}, RootVerdict::NotTheProducts },
        { true, L"Plain Labs", L"Plain Root", false, {}, RootVerdict::NotTheProducts },
        { true, L"Microsoft Corporation", L"Vigilo Root", false, {}, RootVerdict::NotTheProducts },
        { true, L"Vigilo Labs", L"Root", true, {}, RootVerdict::ByPolicy },
        { true, L"Vigilo Labs", L"Root", false, { L"Vigilo+ SecureVPN" }, RootVerdict::MakerInstalled },
    };
    for (const Row& row : rows) {
        RootCertificateFacts facts;
        facts.selfIssued = row.selfIssued;
        facts.organisation = row.organisation;
        facts.commonName = row.commonName;
        facts.subject = std::wstring(L"CN=") + row.commonName + L", O=" + row.organisation;
        facts.inPolicyStore = row.policy;
        std::wstring keyword, keptBy;
        EXPECT_EQ(JudgeRootCertificate(facts, keywords, row.installed, keyword, keptBy), row.verdict) << Utf8(facts.subject);
    }
    // A serialized element: a friendly name, then the certificate.
    std::vector<BYTE> element = { 11, 0, 0, 0, 1, 0, 0, 0, 4, 0, 0, 0, 'A', 0, 0, 0, 32, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0, 0x30, 1, 2 };
    std::vector<BYTE> encoded;
    std::wstring name;
    ASSERT_TRUE(EncodedCertificateOf(element, encoded, name));
    EXPECT_EQ(encoded, (std::vector<BYTE>{ 0x30, 1, 2 }));
    EXPECT_EQ(name, L"A");
    element.resize(element.size() - 1);
    EXPECT_FALSE(EncodedCertificateOf(element, encoded, name)) << "cut short";
}

TEST(NetKindRules, AProxyIsDeadOnlyWhenEveryOneIsTheProductsAndNothingListens)
{
    const CKeywords keywords("vigilo");
    const auto listening = [](unsigned port) { return port == 8888; };
    struct Row
    {
        const wchar_t* server;
        bool dead;
        unsigned port;
    } rows[] = {
        { L"127.0.0.1:8080", true, 8080 },
        { L"http=127.0.0.1:8080;https=127.0.0.1:8081", true, 8080 },
        { L"localhost:9000", true, 9000 },
        { L"[::1]:9001", true, 9001 },
        { L"proxy.vigilo.local:3128", true, 3128 },
        { L"127.0.0.1:8888", false, 0 },
        { L"http=127.0.0.1:8080;https=127.0.0.1:8888", false, 0 },
        { L"proxy.example.com:8080", false, 0 },
        { L"", false, 0 },
    };
    for (const Row& row : rows) {
        unsigned port = 0;
        std::wstring keyword;
        EXPECT_EQ(ProxyIsDead(row.server, keywords, listening, port, keyword), row.dead) << Utf8(row.server);
        if (row.dead) {
            EXPECT_EQ(port, row.port) << Utf8(row.server);
        }
    }
    std::wstring file;
    ProxyEndpoint endpoint;
    ASSERT_TRUE(SplitPacAddress(L"file:///C:/Program%20Files/Vigilo/proxy.pac", file, endpoint));
    EXPECT_EQ(file, L"C:\\Program Files\\Vigilo\\proxy.pac");
    ASSERT_TRUE(SplitPacAddress(L"http://127.0.0.1:5555/proxy.pac", file, endpoint));
    EXPECT_TRUE(file.empty());
    EXPECT_EQ(endpoint.port, 5555u);
    ASSERT_TRUE(SplitPacAddress(L"https://localhost/p.pac", file, endpoint));
    EXPECT_EQ(endpoint.port, 443u);
    EXPECT_FALSE(SplitPacAddress(L"ftp://x/p.pac", file, endpoint));

    const std::string bytes = Blob(3 | 8, "127.0.0.1:8080", "http://127.0.0.1/p.pac");
    ConnectionBlob blob;
    ASSERT_TRUE(ParseConnectionBlob(std::vector<BYTE>(bytes.begin(), bytes.end()), false, blob));
    EXPECT_EQ(blob.proxy, L"127.0.0.1:8080");
    EXPECT_EQ(blob.pac, L"http://127.0.0.1/p.pac");
    const std::vector<BYTE> direct = DirectConnectionBlob(std::vector<BYTE>(bytes.begin(), bytes.end()), false);
    ASSERT_TRUE(ParseConnectionBlob(direct, false, blob));
    EXPECT_EQ(blob.flags, 1u | 8u) << "direct, detecting settings kept";
    EXPECT_EQ(direct[4], 8) << "its counter one on";
}

// Windows Installer's registration of a product, all of it below one of three places per name.
struct InstallerPlaces
{
    static constexpr const char* kCode = "{5D1A7E2B-3C4F-4A6B-8D9E-0F1A2B3C4D01}";
    const std::string packed = "B2E7A1D5F4C3B6A4D8E9F0A1B2C3D410";
    const std::string product = "SOFTWARE\\Classes\\Installer\\Products\\" + packed;
    const std::string features = "SOFTWARE\\Classes\\Installer\\Features\\" + packed;
    const std::string upgrade = "SOFTWARE\\Classes\\Installer\\UpgradeCodes\\B2E7A1D5F4C3B6A4D8E9F0A1B2C3D420";
    const std::string data = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\";
    const std::string properties = data + "Products\\" + packed + "\\InstallProperties";
    const std::string file = data + "Components\\B2E7A1D5F4C3B6A4D8E9F0A1B2C3D430";
    const std::string setting = data + "Components\\B2E7A1D5F4C3B6A4D8E9F0A1B2C3D440";
    const std::string uninstall = kVersion + "Uninstall\\" + kCode;
    const std::string folder = "C:\\Program Files\\kltorphan Guard";
    std::vector<std::string> Keys() const
    {
        return { product, features, upgrade, data + "Products\\" + packed, file, setting, uninstall, "SOFTWARE\\kltorphan" };
    }
};

std::string StringOf(HKEY root, const std::string& key, const char* name)
{
    char text[1024] = "";
    DWORD size = sizeof text;
    return RegGetValueA(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size) == ERROR_SUCCESS ? text : "none";
}

TEST_F(KindsTest, WindowsInstallerRegistrationOfAProductThatIsGoneGoesAndComesBackWhatCanStillBeRemovedStays)
{
    const InstallerPlaces places;
    for (const std::string& key : places.Keys())
        keys.push_back({ HKEY_LOCAL_MACHINE, key });
    folders.push_back(places.folder);
    // Its sources: a folder only the administrators may change, and one anybody may.
    const std::string sealed = "C:\\kltorphan-src" + tag, open = "C:\\kltorphan-open" + tag;
    CAdminOnly adminOnly;
    ASSERT_TRUE(CreateDirectoryW(kt::Widen(sealed).c_str(), adminOnly.Attributes()));
    ASSERT_TRUE(CreateDirectoryA(open.c_str(), nullptr) && kt::AllowEveryone(open));
    folders.push_back(sealed);
    folders.push_back(open);
    std::string source;
    const auto install = [&](const std::string& folder) {
        source = folder + "\\kltorphan.msi";
        ASSERT_TRUE(CopyFileA((kt::TestDir() + "kltorphan.msi").c_str(), source.c_str(), FALSE));
        ASSERT_EQ(kt::Run("msiexec.exe /i \"" + source + "\" /qn"), 0u);
        ASSERT_NE(StringOf(HKEY_LOCAL_MACHINE, places.properties, "LocalPackage"), "none");
    };
    const std::string run = "/keywords=kltorphan /refs /hkey=HKLM";
    const std::string kept = std::string("kept kltorphan Guard ") + InstallerPlaces::kCode + ": ";
    const std::string path = "HKEY_LOCAL_MACHINE\\" + places.product;
    install(sealed);
    Json record;
    // Installed: its cached package is there, then (the package gone) its file, then its settings
    // key while nothing of this search takes it.
    EXPECT_EQ(RunAlone(run, &record), 0u) << Report();
    EXPECT_NE(Report().find(kept + "its cached package "), std::string::npos) << Report();
    ASSERT_TRUE(DeleteFileA(StringOf(HKEY_LOCAL_MACHINE, places.properties, "LocalPackage").c_str()));
    EXPECT_EQ(RunAlone(run, &record), 0u) << Report();
    EXPECT_NE(Report().find(kept + places.folder + "\\guard.dll of one of its components is there"), std::string::npos) << Report();
    ASSERT_TRUE(DeleteFileA((places.folder + "\\guard.dll").c_str()));
    EXPECT_FALSE(InstallerProductThere(L"{5D1A7E2B-3C4F-4A6B-8D9E-0F1A2B3C4D01}", CInstallation::Running()))
        << "neither its package nor its file is there";
    EXPECT_EQ(RunAlone("/keywords=kltorphanx " + run.substr(run.find(' ') + 1), &record), 0u) << "no keyword, no look";
    for (const Json& finding : record["findings"])
        EXPECT_NE(finding["kind"], "installerProduct") << finding.dump();

    // Its source still reachable where only the administrators may change it: Windows Installer
    // removes it itself.
    const auto removed = [&](const std::string& advice) {
        EXPECT_EQ(RunAlone(run + " /del", &record), 0u) << Report();
        const std::vector<std::string> found = Found(record);
        EXPECT_NE(std::find(found.begin(), found.end(), "installerProduct " + Lower(path) + " removed"), found.end()) << record.dump(1);
        EXPECT_NE(Lower(Report()).find(Lower(advice)), std::string::npos) << advice << "\n" << Report();
        for (const std::string& key : { places.product, places.features, places.upgrade, places.file, places.uninstall })
            EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, key)) << key;
    };
    removed("Windows Installer removed the product");
    EXPECT_EQ(Reason(record, path).substr(0, 60), std::string("Windows Installer product kltorphan Guard ") + std::string(InstallerPlaces::kCode).substr(0, 18))
        << Reason(record, path);

    // A source anybody may change is never given to Windows Installer (its package there would
    // run with the system's rights): the registration goes by hand although the package is there.
    install(open);
    for (const std::string& gone : { StringOf(HKEY_LOCAL_MACHINE, places.properties, "LocalPackage"), places.folder + "\\guard.dll" })
        ASSERT_TRUE(DeleteFileA(gone.c_str())) << gone;
    removed("Windows Installer was not asked: others may change its source " + open);
    ASSERT_TRUE(DeleteFileA(source.c_str()));

    // Its package gone from the sealed source too: the registration goes key by key, each named,
    // and comes back.
    install(sealed);
    const std::string package = StringOf(HKEY_LOCAL_MACHINE, places.properties, "LocalPackage");
    for (const std::string& gone : { package, places.folder + "\\guard.dll", source })
        ASSERT_TRUE(DeleteFileA(gone.c_str())) << gone;
    removed("Windows Installer cannot remove it without its package; its registration went key by key: ");
    EXPECT_NE(Reason(record, path).find("its cached package " + package + " is gone and none of its 2 components' files or keys are there"),
              std::string::npos) << Reason(record, path);
    const std::string report = Lower(Report());
    for (const std::string& key : { places.product, places.features, places.data + "Products\\" + places.packed, places.uninstall })
        EXPECT_NE(report.find(Lower("HKEY_LOCAL_MACHINE\\" + key)), std::string::npos) << key << "\n" << report;
    EXPECT_NE(report.find(Lower("HKEY_LOCAL_MACHINE\\" + places.file + "\\" + places.packed)), std::string::npos) << report;

    const std::vector<std::string> backups = kt::BackupsOf(this->report);
    ASSERT_FALSE(backups.empty());
    EXPECT_EQ(RunAlone("\"/restore=" + backups.back() + "\"", &record), 0u) << Report();
    EXPECT_EQ(StringOf(HKEY_LOCAL_MACHINE, places.product, "ProductName"), "kltorphan Guard");
    EXPECT_EQ(StringOf(HKEY_LOCAL_MACHINE, places.properties, "LocalPackage"), package);
    EXPECT_EQ(StringOf(HKEY_LOCAL_MACHINE, places.file, places.packed.c_str()), places.folder + "\\guard.dll");
    EXPECT_TRUE(kt::ValueExists(HKEY_LOCAL_MACHINE, places.upgrade, places.packed.c_str()));
    EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, places.uninstall));
}

TEST(InstallerRules, ProductCodesAsWindowsInstallerSpellsThemAndWhatAProductComesTo)
{
    EXPECT_EQ(PackedCode(L"{5D1A7E2B-3C4F-4A6B-8D9E-0F1A2B3C4D01}"), L"B2E7A1D5F4C3B6A4D8E9F0A1B2C3D410");
    EXPECT_EQ(UnpackedCode(L"b2e7a1d5f4c3b6a4d8e9f0a1b2c3d410"), L"{5D1A7E2B-3C4F-4A6B-8D9E-0F1A2B3C4D01}");
    for (const wchar_t* wrong : { L"", L"B2E7A1D5F4C3B6A4D8E9F0A1B2C3D41", L"G2E7A1D5F4C3B6A4D8E9F0A1B2C3D410" })
        EXPECT_EQ(UnpackedCode(wrong), L"") << kt::Utf8(wrong);
    EXPECT_EQ(PackedCode(L"5D1A7E2B-3C4F-4A6B-8D9E-0F1A2B3C4D01"), L"");
    using V = InstallerVerdict;
    EXPECT_EQ(JudgeInstallerProduct(false, true, true, false), V::None);
    EXPECT_EQ(JudgeInstallerProduct(true, false, true, false), V::None);
    EXPECT_EQ(JudgeInstallerProduct(true, true, false, false), V::PackageThere);
    EXPECT_EQ(JudgeInstallerProduct(true, true, true, true), V::FilesThere);
    EXPECT_EQ(JudgeInstallerProduct(true, true, true, false), V::Finding);
    HKEY root = nullptr;
    std::wstring below;
    EXPECT_EQ(SplitComponentPath(L"", root, below), ComponentPathKind::Nothing);
    EXPECT_EQ(SplitComponentPath(L"C:\\Program Files\\A\\a.dll", root, below), ComponentPathKind::File);
    EXPECT_EQ(SplitComponentPath(L"22:\\SOFTWARE\\Maker\\Product\\Version", root, below), ComponentPathKind::Registry);
    EXPECT_EQ(root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(below, L"SOFTWARE\\Maker\\Product");
    EXPECT_EQ(SplitComponentPath(L"01:\\Software\\Maker\\", root, below), ComponentPathKind::Registry);
    EXPECT_EQ(root, HKEY_CURRENT_USER);
    EXPECT_EQ(below, L"Software\\Maker");
    EXPECT_EQ(SplitComponentPath(L"47:\\Software\\Maker\\", root, below), ComponentPathKind::Registry);
    EXPECT_EQ(root, nullptr) << "a root it cannot tell";
}

}  // namespace
