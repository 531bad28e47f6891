// The kinds of leftover beyond the registry walk's names, end to end with klarner.exe on the real
// registry of the test prefix: each with seeded leftovers next to look-alikes that must stay (a
// file that is there, Windows' own file, another vendor's entry), found with their reasons,
// removed the way Windows wants them removed, or refused and said why.
#include "kinds/KindsFixture.h"

namespace {

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
    const std::string held = Held();
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
    ExpectGivenBack(held);
    EXPECT_EQ(kt::ReadFileBytes(windows + named).size(), xml.size() * 2) << "the task's file back in its place";

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

    const std::string held = Held();
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
    ExpectGivenBack(held);
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

    const std::string held = Held();
    Json record;
    EXPECT_EQ(Run("/hkey=HKLM /refs /del", &record), 0u);
    EXPECT_EQ(Reason(record, "HKEY_LOCAL_MACHINE\\" + naming[0]),
              "names class " + Guid(10) + ": InprocServer32 = " + product + "amsi.dll, file missing");
    for (const std::string& key : naming)
        EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, key)) << key;
    EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, foreign)) << "a provider of a class that still works";
    ExpectGivenBack(held);
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
    // As a restore gives it back: the provider without a service key stays out, and the other
    // goes back between the names it stood between.
    Text(HKEY_LOCAL_MACHINE, order, "ProviderOrder", "RDPNP," + byImage + ",LanmanWorkstation");
    const std::string held = Held();
    Text(HKEY_LOCAL_MACHINE, order, "ProviderOrder", "RDPNP," + keyword + "np," + byImage + ",LanmanWorkstation");
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
    ExpectGivenBack(held, { keyword + "np" });
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

    const std::string held = Held();
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
    ExpectGivenBack(held);
}

}  // namespace
