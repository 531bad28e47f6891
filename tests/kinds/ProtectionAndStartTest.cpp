// Windows' own protection left off, and programs and start-up lists that name what is gone.
#include "KindsFixture.h"

namespace {

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

}  // namespace
