// Root certificates of HTTPS scanning and proxies left on, end to end and by their rules.
#include "KindsFixture.h"

namespace {

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

}  // namespace
