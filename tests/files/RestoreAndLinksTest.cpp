// What a restore may write, files in use left to the restart, links swapped in after a listing,
// and who may change a backup.
#include "FilesFixture.h"

namespace {

TEST_F(FilesTest, ARestoreWritesOnlyWhereTheProgramRemovesFilesFromABackupNobodyElseCouldChange)
{
    const std::string product = "C:\\ProgramData\\" + keyword + " Product";
    FileIn(product, "a.dll", "AAA");
    NamedBy(product);
    const std::string key = "SOFTWARE\\" + keyword + "Settings";
    Text(HKEY_LOCAL_MACHINE, key, "Mode", "original");
    Text(HKEY_LOCAL_MACHINE, key, "Other", "kept");
    ASSERT_EQ(Run("/refs /hkey=HKLM /del"), 0u) << Report();
    const std::string backup = Backup(), files = backup.substr(0, backup.size() - 4) + "-files";
    const std::string manifest = kt::ReadFileBytes(files + "\\manifest.jsonl");
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(kt::Utf8(kt::ReadUtf16(backup)).find("; Velmora Klarner: files in the files folder"), std::string::npos);

    // An edited manifest: places the program never removes files from, a stream, the long form,
    // a folder in System32, and a deletion somebody else asked for; an edited backup: a link
    // comment no removal of it recorded.
    char full[MAX_PATH];
    ASSERT_GT(GetFullPathNameA((kt::ScratchDir("files-others") + "theirs.tmp").c_str(), MAX_PATH, full, nullptr), 0u);
    const std::string theirs = full;
    ASSERT_TRUE(kt::WriteFileBytes(theirs, "x"));
    ASSERT_TRUE(MoveFileExA(theirs.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    const std::string evil = keyword + "evil";
    ASSERT_TRUE(kt::WriteFileBytes(files + "\\evil.dll", "EVIL"));
    auto escaped = [](const std::string& path) {
        std::string text;
        for (char c : path)
            text += c == '\\' ? std::string("\\\\") : std::string(1, c);
        return text;
    };
    auto line = [&](const std::string& type, const std::string& path) {
        return "{\"type\":\"" + type + "\",\"path\":\"" + escaped(path) + "\",\"copy\":\"evil.dll\",\"size\":4,\"sha256\":\"" +
               std::string(64, 'a') + "\",\"attributes\":32}\n";
    };
    const std::vector<std::string> places = { "C:\\windows\\system32\\" + evil + "1.dll", "D:\\" + evil + "2.dll",
                                              "\\\\?\\C:\\windows\\" + evil + "3.dll", product + "\\a.dll:" + evil,
                                              "C:\\Program Files\\..\\windows\\" + evil + "4.dll" };
    std::string edited = manifest + "{\"type\":\"folder\",\"path\":\"" + escaped("C:\\windows\\system32\\" + evil) +
                         "\",\"attributes\":16}\n{\"type\":\"scheduled\",\"path\":\"" + escaped(theirs) + "\"}\n";
    for (const std::string& place : places)
        edited += line("file", place);
    ASSERT_TRUE(kt::WriteFileBytes(files + "\\manifest.jsonl", edited));
    std::wstring reg = kt::ReadUtf16(backup);
    reg += L"; registry link HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution "
           L"Options\\" + kt::Widen(evil) + L".exe -> \\REGISTRY\\MACHINE\\SOFTWARE\\" + kt::Widen(evil) +
           L" (a link is not exported; it was removed as the link, its target stays)\r\n";
    ASSERT_TRUE(kt::WriteFileBytes(backup, std::string(reinterpret_cast<const char*>(reg.data()), reg.size() * 2)));
    // A value set again since the removal is left as it is.
    Text(HKEY_LOCAL_MACHINE, key, "Mode", "changed since");

    Json record;
    EXPECT_EQ(RunAlone("\"/restore=" + backup + "\"", &record), 1u) << Report();
    const std::vector<std::string> found = Found(record);
    EXPECT_FALSE(kt::FileExists("C:\\windows\\system32\\" + evil + "1.dll"));
    EXPECT_FALSE(kt::FileExists("C:\\windows\\" + evil + "3.dll"));
    EXPECT_FALSE(kt::FileExists("C:\\windows\\" + evil + "4.dll"));
    EXPECT_FALSE(kt::FileExists("C:\\windows\\system32\\" + evil));
    EXPECT_EQ(std::count_if(found.begin(), found.end(), [&](const std::string& each) {
                  return each.find(Lower(evil)) != std::string::npos && each.size() > 8 && each.substr(each.size() - 8) == " refused";
              }),
              static_cast<long>(places.size() + 2)) << Report();
    EXPECT_FALSE(kt::KeyExistsW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\" +
                                                        kt::Widen(evil) + L".exe"));
    EXPECT_TRUE(Has(Pending(), theirs)) << "somebody else's deletion stays";
    EXPECT_EQ(kt::ReadFileBytes(product + "\\a.dll"), "AAA");
    char mode[64];
    DWORD size = sizeof mode;
    ASSERT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), "Mode", RRF_RT_REG_SZ, nullptr, mode, &size), ERROR_SUCCESS);
    EXPECT_STREQ(mode, "changed since");
    EXPECT_TRUE(kt::ValueExists(HKEY_LOCAL_MACHINE, key, "Other")) << "what was missing came back";
    EXPECT_NE(Reason(record, "HKEY_LOCAL_MACHINE\\" + key).find("changed since the backup, left as they are: Mode"), std::string::npos)
        << Report();

    // A link planted at the product folder's place: nothing is written through it.
    ASSERT_TRUE(kt::WriteFileBytes(files + "\\manifest.jsonl", manifest));
    RemoveFolder(product);
    if (kt::FileExists(kDecoy + "\\victim.dll") && SwapIn(kSwapLinks + "\\link4", product)) {
        EXPECT_EQ(RunAlone("\"/restore=" + backup + "\""), 1u);
        EXPECT_FALSE(kt::FileExists(kDecoy + "\\a.dll"));
        EXPECT_TRUE(SwapIn(product, kSwapLinks + "\\link4"));
    }
    // Without its files, a backup that says it has some has not given everything back.
    const std::string elsewhere = kt::ScratchDir("files-copied") + "copied.reg";
    ASSERT_TRUE(CopyFileA(backup.c_str(), elsewhere.c_str(), FALSE));
    EXPECT_EQ(RunAlone("\"/restore=" + elsewhere + "\"", &record), 1u);
    EXPECT_NE(record.dump().find("-files\\\\manifest.jsonl\",\"reason\":\"the backup's files folder or its manifest is missing"),
              std::string::npos)
        << record.dump();
    // Another installation's backup, and one that anybody may change, are no backups to restore.
    std::wstring other = kt::ReadUtf16(backup);
    const size_t machine = other.find(L"installation machine ");
    ASSERT_NE(machine, std::wstring::npos);
    other.insert(machine + 21, L"0");
    ASSERT_TRUE(kt::WriteFileBytes(elsewhere, std::string(reinterpret_cast<const char*>(other.data()), other.size() * 2)));
    EXPECT_EQ(RunAlone("\"/restore=" + elsewhere + "\""), 87u);
    EXPECT_NE(errors.find("another installation"), std::string::npos) << errors;
    ASSERT_TRUE(kt::AllowEveryone(backup));
    EXPECT_EQ(RunAlone("\"/restore=" + backup + "\""), 87u);
    EXPECT_NE(errors.find("may change it"), std::string::npos) << errors;
}

TEST_F(FilesTest, AFileInUseWaitsForTheRestartInAFolderOfItsOwnAndALinkSwappedInLaterDeletesNothing)
{
    if (!kt::FileExists(kDecoy + "\\busy.dll"))
        GTEST_SKIP() << "the swap links are made by ctest's files_link_fixture";
    char full[MAX_PATH];
    ASSERT_GT(GetFullPathNameA((kt::ScratchDir("files-pending") + "unrelated.tmp").c_str(), MAX_PATH, full, nullptr), 0u);
    const std::string unrelated = full;
    ASSERT_TRUE(kt::WriteFileBytes(unrelated, "x"));
    ASSERT_TRUE(MoveFileExA(unrelated.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    // A program that has a file open and lets others move it (a log it writes), and one that
    // does not: that one's folder cannot be taken safely.
    const std::string busy = "C:\\ProgramData\\" + keyword + " Busy";
    FileIn(busy, "bin\\busy.dll", "old bytes");
    FileIn(busy, "other.txt", "free");
    HANDLE held = CreateFileA((busy + "\\bin\\busy.dll").c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const std::string locked = "C:\\ProgramData\\" + keyword + " Locked";
    FileIn(locked, "locked.dll", "locked");
    NamedBy(busy);
    NamedBy(locked);
    HANDLE lockedHandle = CreateFileA((locked + "\\locked.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lockedHandle, INVALID_HANDLE_VALUE);

    Json record;
    EXPECT_EQ(Run("/refs /hkey=HKLM", &record), 1u);
    EXPECT_EQ(record["restartRequired"], true) << "a detection says a removal would need a restart";
    EXPECT_EQ(Run("/refs /hkey=HKLM /del", &record), 1u) << Report();
    EXPECT_EQ(record["restartReasons"], Json::array({ "files scheduled for deletion at the next restart" }));
    EXPECT_GE(record["pendingBefore"]["count"].get<int>(), 1);
    EXPECT_NE(Report().find("\r\n" + busy + " - removed at the next restart"), std::string::npos) << Report();
    EXPECT_NE(Report().find("\r\n" + locked + " - could not be removed  (close the program that holds it, then run again)"),
              std::string::npos);
    EXPECT_EQ(kt::ReadFileBytes(locked + "\\locked.dll"), "locked") << "nothing of a refused folder goes";
    CloseHandle(lockedHandle);
    // The file in use waits in a folder only administrators can write; its product folder is gone.
    EXPECT_FALSE(kt::FileExists(busy));
    EXPECT_FALSE(Has(Pending(), busy + "\\bin\\busy.dll"));
    std::string staged;
    for (const std::string& source : Pending())
        if (source.find("\\velmoraklarner-pending-") != std::string::npos && source.find("busy.dll") != std::string::npos)
            staged = source;
    ASSERT_FALSE(staged.empty()) << "the deletion at the restart is asked for in the pass's own folder";
    // Its holder writes on after the run: the backup holds what was removed.
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(held, "new", 3, &written, nullptr));
    CloseHandle(held);

    EXPECT_EQ(RunAlone("\"/restore=" + Backup() + "\""), 0u) << Report();
    EXPECT_EQ(kt::ReadFileBytes(busy + "\\bin\\busy.dll"), "old bytes");
    EXPECT_EQ(kt::ReadFileBytes(busy + "\\other.txt"), "free");
    EXPECT_TRUE(Has(Pending(), unrelated)) << "somebody else's deletion stays";
    // A link planted where the product's folder was, before the restart: the restart deletes
    // only what waits in the pass's own folder.
    ASSERT_TRUE(MoveFileA((busy + "\\bin").c_str(), (busy + "\\bin-restored").c_str()));
    ASSERT_TRUE(SwapIn(kSwapLinks + "\\link1", busy + "\\bin"));
    std::string pending;
    for (const std::string& source : Pending())
        pending += source + "\n";
    EXPECT_EQ(kt::Run("C:\\windows\\system32\\wineboot.exe -r"), 0u);
    EXPECT_EQ(kt::ReadFileBytes(kDecoy + "\\busy.dll"), "decoy\n") << pending;
    EXPECT_FALSE(kt::FileExists(staged));
    EXPECT_FALSE(kt::FileExists(unrelated));
    EXPECT_TRUE(SwapIn(busy + "\\bin", kSwapLinks + "\\link1"));
}

TEST_F(FilesTest, AFolderSwappedForALinkAfterItWasListedIsRefusedAndNothingOutsideIsTouched)
{
    if (!kt::FileExists(kDecoy + "\\victim.dll"))
        GTEST_SKIP() << "the swap links are made by ctest's files_link_fixture";
    const ILeftoverKind* folders = KindNamed("folder");
    ASSERT_TRUE(folders);
    const std::string product = "C:\\ProgramData\\" + keyword + " Swap";
    FileIn(product, "bin\\victim.dll", "product");
    FileIn(product, "top.dll", "top");
    CmdListEntry finding = {};
    const std::wstring path = kt::Widen(product);
    wcsncpy(finding.path, path.c_str(), kPathChars - 1);
    finding.kind = 'D';
    finding.owner = folders;
    // Listed first; then "bin" becomes a link to a place the program must never touch.
    CRegBackup backup(CString(report.c_str()));
    CStagingFolders staging;
    const CInstallation installation = CurrentInstallation();
    const std::vector<const IClaimsFiles*> claimers = FileClaimersAmong(LeftoverKinds());
    RemovalContext context = { backup, staging, installation, false, claimers };
    std::unique_ptr<CPreparedRemoval> prepared = folders->Prepare(finding, context);
    ASSERT_TRUE(prepared);
    ASSERT_TRUE(MoveFileA((product + "\\bin").c_str(), (product + "\\bin-away").c_str()));
    ASSERT_TRUE(SwapIn(kSwapLinks + "\\link2", product + "\\bin"));
    const RemovalResult result = folders->Remove(finding, *prepared, context);
    EXPECT_EQ(result.outcome, Outcome::Refused) << kt::Utf8(result.why);
    EXPECT_EQ(kt::ReadFileBytes(kDecoy + "\\victim.dll"), "decoy\n");
    EXPECT_EQ(kt::ReadFileBytes(product + "\\top.dll"), "top") << "nothing of the finding went";
    EXPECT_EQ(kt::ReadFileBytes(product + "\\bin-away\\victim.dll"), "product");
    ASSERT_TRUE(SwapIn(product + "\\bin", kSwapLinks + "\\link2"));

    // While a pass runs, once its manifest is there, every folder it listed is held: nobody can
    // rename one to put a link in its place. (A Linux-side rename ignores Windows' sharing, and
    // Wine deletes an open file by its name: that race only Windows can show.)
    for (int i = 0; i < 300; ++i)
        FileIn(product, "many\\f" + std::to_string(i) + ".dll", std::string(4096, 'x'));
    NamedBy(product);
    std::atomic<bool> done{ false }, renamed{ false }, tried{ false };
    std::thread renamer([&] {
        while (!done && !tried) {
            for (const std::string& found : kt::BackupsOf(report))
                if (kt::FileExists(found.substr(0, found.size() - 4) + "-files\\manifest.jsonl")) {
                    tried = true;
                    renamed = MoveFileA((product + "\\many").c_str(), (product + "\\many-away").c_str()) != FALSE;
                    break;
                }
            SwitchToThread();
        }
    });
    Run("/refs /hkey=HKLM /del");
    done = true;
    renamer.join();
    EXPECT_TRUE(tried);
    EXPECT_FALSE(renamed) << "a folder the pass holds was renamed";
    EXPECT_EQ(kt::ReadFileBytes(kDecoy + "\\victim.dll"), "decoy\n");
}

TEST_F(FilesTest, ALinkInsideAProductFolderGoesAsTheLinkAndWhatItPointsToStays)
{
    // Made by the test run's fixture (a Unix symbolic link shows as a reparse point under Wine).
    const std::string product = "C:\\Program Files\\kltlinkfix Suite", target = "C:\\kltlinkfix-target\\keep.txt";
    if (!kt::FileExists(target) || !(GetFileAttributesA((product + "\\shared").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << "the link fixture is made by ctest's files_link_fixture";
    Text(HKEY_LOCAL_MACHINE, "SOFTWARE\\kltlinkfixSettings", "InstallDir", product);
    Json record;
    const DWORD code = RunAlone("/keywords=kltlinkfix /refs /hkey=HKLM /del", &record);
    EXPECT_EQ(kt::ReadFileBytes(target), "keep\n") << "what the link points to is never entered";
    const Json* finding = Finding(record, product);
    ASSERT_TRUE(finding) << Report();
    if ((*finding)["status"] == "removed") {
        EXPECT_EQ(code, 0u);
        EXPECT_FALSE(kt::FileExists(product));
    } else {
        // Wine cannot remove a link by itself: the finding stays whole, and says why.
        EXPECT_EQ(code, 1u);
        EXPECT_EQ((*finding)["status"], "failed");
        EXPECT_NE((*finding)["why"].get<std::string>().find("link"), std::string::npos) << (*finding).dump();
        EXPECT_TRUE(kt::FileExists(product + "\\inner.dll")) << "nothing else was removed";
    }
    const std::string backup = Backup();
    EXPECT_NE(kt::ReadFileBytes(backup.substr(0, backup.size() - 4) + "-files\\manifest.jsonl").find("\"type\":\"link\""),
              std::string::npos);
}

// Who may change a backup, as its access list says: Wine keeps a file's owner and access list in
// its Unix mode (every file is the running user's), so only this decision can show the owners.
TEST(AdminOnly, OnlySystemTheAdministratorsAndThisAccountMayOwnOrChangeABackup)
{
    PSID running = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidA("S-1-5-21-1-2-3-1001", &running));
    const struct
    {
        const char* sddl;
        const char* why;  // what the reason holds; empty: nobody else may change it
    } rows[] = {
        { "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)", "" },
        { "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;BU)", "" },
        { "O:BAD:P(A;;FA;;;SY)(A;OICIIO;FA;;;BU)", "" },
        { "O:BAD:P(A;;FA;;;SY)(D;;FA;;;WD)", "" },
        { "O:S-1-5-21-1-2-3-1001D:P(A;;FA;;;SY)(A;;FA;;;S-1-5-21-1-2-3-1001)", "" },
        { "O:BUD:P(A;;FA;;;SY)", "owned by S-1-5-32-545" },
        { "O:S-1-5-21-9-9-9-1000D:P(A;;FA;;;SY)", "owned by S-1-5-21-9-9-9-1000" },
        { "O:BAD:P(A;;FA;;;SY)(A;;0x1301bf;;;AU)", "S-1-5-11 may change it" },
        { "O:BAD:P(A;;FA;;;SY)(A;;GW;;;WD)", "S-1-1-0 may change it" },
        { "O:BAD:P(A;;FA;;;SY)(A;;SD;;;BU)", "S-1-5-32-545 may change it" },
        { "O:BAD:P(A;;FA;;;SY)(A;;WD;;;S-1-5-21-9-9-9-1)", "S-1-5-21-9-9-9-1 may change it" },
    };
    for (const auto& row : rows) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(row.sddl, SDDL_REVISION_1, &descriptor, nullptr)) << row.sddl;
        const std::string why = kt::Utf8(OthersMayChange(descriptor, running));
        if (*row.why)
            EXPECT_NE(why.find(row.why), std::string::npos) << row.sddl << ": " << why;
        else
            EXPECT_EQ(why, "") << row.sddl;
        LocalFree(descriptor);
    }
    // No access list at all: everybody may do everything (made by hand: Wine's SDDL reader gives an
    // empty list for "NO_ACCESS_CONTROL").
    SECURITY_DESCRIPTOR open;
    PSID administrators = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidA("BA", &administrators));
    ASSERT_TRUE(InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorOwner(&open, administrators, FALSE));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE));
    EXPECT_NE(kt::Utf8(OthersMayChange(&open, running)).find("no access list"), std::string::npos);
    LocalFree(administrators);
    LocalFree(running);
}

}  // namespace
