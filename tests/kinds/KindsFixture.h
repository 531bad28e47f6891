// What the kinds' end-to-end tests share: the program run in the test prefix with its keyword,
// the registry and certificate helpers, and the fixtures of the kinds that read the network and
// the browsers' and certificates' places.
#pragma once
// Winsock's header before windows.h: a listening socket stands for a proxy that works.
#include <winsock2.h>
#include <gtest/gtest.h>
#include "ProgramRun.h"
#include "TestSupport.h"
#include "../../engine/system/ProviderOrder.h"
#include "../../engine/RemovalPass.h"
#include "../../engine/kinds/ProtectionSettingKind.h"
#include "../../engine/kinds/SystemListKinds.h"
#include "../../engine/search/Keywords.h"
#include "../../engine/search/Said.h"
#include "../../resources/resource.h"
#include "../../engine/system/Installation.h"
#include <nlohmann/json.hpp>
#include <algorithm>
#include "../../engine/kinds/ProxyRules.h"
#include "../../engine/system/ProxySettings.h"
#include "../../engine/kinds/BrowserExtensionKind.h"
#include "../../engine/kinds/RootCertificateKind.h"
#include "../../engine/kinds/InstallerProductKind.h"
#include "../../engine/system/AdminOnly.h"
#include "../../engine/registry/KeyNames.h"
#include <wincrypt.h>
#include <set>

// Named, not anonymous: a test suite's fixture must be one class in every file of the program.
namespace kinds_test {

using Json = nlohmann::json;
using kt::ProgramRunTest;
const std::string kControl = "SYSTEM\\CurrentControlSet\\";
const std::string kVersion = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\";
const std::string kTaskCache = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Schedule\\TaskCache\\";

inline std::string Guid(int n)
{
    char text[64];
    snprintf(text, sizeof text, "{7C2E3D4F-5061-4B72-8C83-A4B5C6D7E8%02X}", n);
    return text;
}

// An extension's id as the browsers make them (32 letters from a to p): `which` first, then the
// test's tag, so that no two tests' registrations meet.
inline std::string ExtensionId(char which, const std::string& tag)
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


// A certificate signed with a key of its own, named `subject` and issued by `issuer` (the same
// text for a self-issued one), DER-encoded.
inline std::string MakeCertificate(const std::wstring& subject, const std::wstring& issuer)
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

inline std::string Thumbprint(const std::string& encoded)
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
inline bool StoreHolds(const std::string& key, const std::string& encoded)
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

inline std::string Blob(DWORD flags, const std::string& proxy, const std::string& pac = std::string(), bool winHttp = false)
{
    auto number = [](DWORD value) { return std::string(reinterpret_cast<const char*>(&value), 4); };
    std::string bytes = number(winHttp ? 0x18 : 0x46) + number(7) + number(flags) + number(static_cast<DWORD>(proxy.size())) + proxy +
                        number(0);
    if (!winHttp)
        bytes += number(static_cast<DWORD>(pac.size())) + pac + std::string(32, '\0');
    return bytes;
}

inline DWORD DwordOf(HKEY root, const std::string& key, const char* name)
{
    DWORD value = 0xFFFF, size = sizeof value;
    RegGetValueA(root, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
}

inline std::string BytesOf(HKEY root, const std::string& key, const char* name)
{
    DWORD size = 0;
    if (RegGetValueA(root, key.c_str(), name, RRF_RT_ANY, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return "<none>";
    std::string data(size, '\0');
    RegGetValueA(root, key.c_str(), name, RRF_RT_ANY, nullptr, &data[0], &size);
    return data;
}
}  // namespace kinds_test

using namespace kinds_test;
