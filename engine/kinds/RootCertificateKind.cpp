// Root certificates left by HTTPS scanning: the machine's and each user's Root store (the
// registry stores SOFTWARE\Microsoft\SystemCertificates\ROOT and each user's
// Software\Microsoft\SystemCertificates\Root) holding a CA the product made for itself. Read and
// removed through CryptoAPI on the very registry store it lies in (CERT_STORE_PROV_REG), never
// through the system store's collection, which also holds the administrator's GroupPolicy and
// Enterprise roots; the certificate itself goes into the backup as the store's Blob value holds
// it, so that importing the backup by hand puts it back too.
#include "RootCertificateKind.h"
#include "LeftoverKind.h"
#include "../../resources/resource.h"
#include "KeyRemoval.h"
#include "../backup/KeyRestore.h"
#include "../backup/RegBackup.h"
#include "../registry/KeyNames.h"
#include "../registry/KeyTrees.h"
#include "../registry/RegKey.h"
#include "../search/Keywords.h"
#include "../search/Said.h"
#include "../system/Installation.h"
#include <wincrypt.h>
#include <cstring>

namespace {
const wchar_t kMachineRoot[] = L"SOFTWARE\\Microsoft\\SystemCertificates\\ROOT";
const wchar_t kUserRoot[] = L"Software\\Microsoft\\SystemCertificates\\Root";
const wchar_t kUserPolicyRoot[] = L"Software\\Policies\\Microsoft\\SystemCertificates\\Root";
// The administrator's roots: trusted on purpose, whatever they are called.
const wchar_t* const kMachinePolicyRoots[] = { L"SOFTWARE\\Policies\\Microsoft\\SystemCertificates\\Root",
                                               L"SOFTWARE\\Microsoft\\EnterpriseCertificates\\Root" };
const wchar_t kCertificates[] = L"\\Certificates\\";
const wchar_t kBlob[] = L"Blob";
const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// Property ids of a serialized store element.
const DWORD kCertificateProperty = 32;   // CERT_CERT_PROP_ID: the encoded certificate
const DWORD kFriendlyNameProperty = 11;  // CERT_FRIENDLY_NAME_PROP_ID

struct StoreOwnerTraits
{
    typedef HCERTSTORE Type;
    static bool Holds(HCERTSTORE store) { return store != nullptr; }
    static void Free(HCERTSTORE store) { ::CertCloseStore(store, 0); }
};
typedef CResourceOwner<StoreOwnerTraits> CStoreOwner;

struct CertificateOwnerTraits
{
    typedef PCCERT_CONTEXT Type;
    static bool Holds(PCCERT_CONTEXT context) { return context != nullptr; }
    static void Free(PCCERT_CONTEXT context) { ::CertFreeCertificateContext(context); }
};
typedef CResourceOwner<CertificateOwnerTraits> CCertificateOwner;

// One Root store in the registry, and the administrator's stores beside it.
struct RootStore
{
    HKEY root = nullptr;
    std::wstring below;
    std::vector<std::pair<HKEY, std::wstring>> policy;
};

std::vector<RootStore> StoresOf(const SearchScope& scope, const CInstallation& installation)
{
    std::vector<RootStore> stores;
    std::vector<std::pair<HKEY, std::wstring>> machinePolicy;
    for (const wchar_t* policy : kMachinePolicyRoots)
        machinePolicy.push_back({ HKEY_LOCAL_MACHINE, policy });
    if (scope.Searches(HKEY_LOCAL_MACHINE))
        stores.push_back({ HKEY_LOCAL_MACHINE, kMachineRoot, machinePolicy });
    auto user = [&](HKEY root, const std::wstring& prefix) {
        RootStore store = { root, prefix + kUserRoot, machinePolicy };
        store.policy.push_back({ root, prefix + kUserPolicyRoot });
        stores.push_back(store);
    };
    for (const auto& hive : UserHivesOf(scope, installation))
        user(hive.first, hive.second);
    return stores;
}

// The store in the registry key at `below`; null when there is none (or it cannot be opened).
HCERTSTORE OpenRegistryStore(HKEY root, const std::wstring& below, bool write)
{
    CRegKeyOwner key;
    if (OpenKeyExact(root, below.c_str(), write ? KEY_READ | KEY_WRITE : KEY_READ, key) != ERROR_SUCCESS)
        return nullptr;
    // The store keeps a handle of its own to the key.
    return ::CertOpenStore(CERT_STORE_PROV_REG, 0, 0, write ? 0 : CERT_STORE_READONLY_FLAG, key.Get());
}

std::wstring Thumbprint(PCCERT_CONTEXT certificate)
{
    BYTE hash[20];
    DWORD size = sizeof hash;
    if (!::CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash, &size) || size != sizeof hash)
        return std::wstring();
    std::wstring text;
    const wchar_t digits[] = L"0123456789ABCDEF";
    for (BYTE b : hash) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

bool ThumbprintBytes(const std::wstring& text, std::vector<BYTE>& bytes)
{
    if (text.size() != 40)
        return false;
    bytes.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        const std::wstring pair = text.substr(i, 2);
        wchar_t* end = nullptr;
        const unsigned long value = wcstoul(pair.c_str(), &end, 16);
        if (!end || *end)
            return false;
        bytes.push_back(static_cast<BYTE>(value));
    }
    return true;
}

PCCERT_CONTEXT FindByThumbprint(HCERTSTORE store, const std::wstring& thumbprint)
{
    std::vector<BYTE> bytes;
    if (!store || !ThumbprintBytes(thumbprint, bytes))
        return nullptr;
    CRYPT_HASH_BLOB hash = { static_cast<DWORD>(bytes.size()), bytes.data() };
    return ::CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_SHA1_HASH, &hash, nullptr);
}

std::wstring Attribute(PCCERT_CONTEXT certificate, const char* oid)
{
    wchar_t text[512] = L"";
    ::CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(oid), text, 512);
    return text;
}

RootCertificateFacts FactsOf(PCCERT_CONTEXT certificate)
{
    RootCertificateFacts facts;
    facts.selfIssued = ::CertCompareCertificateName(X509_ASN_ENCODING, &certificate->pCertInfo->Subject,
                                                    &certificate->pCertInfo->Issuer) != FALSE;
    wchar_t subject[1024] = L"";
    ::CertNameToStrW(X509_ASN_ENCODING, &certificate->pCertInfo->Subject, CERT_X500_NAME_STR, subject, 1024);
    facts.subject = subject;
    facts.organisation = Attribute(certificate, szOID_ORGANIZATION_NAME);
    facts.commonName = Attribute(certificate, szOID_COMMON_NAME);
    return facts;
}

// The parts of a finding's path: its store's key and the thumbprint.
bool SplitCertificatePath(const std::wstring& path, HKEY& root, std::wstring& store, std::wstring& thumbprint)
{
    std::wstring below;
    root = SplitFullPath(path, below);
    const size_t at = Lowered(below).rfind(Lowered(std::wstring(kCertificates)));
    if (!root || at == std::wstring::npos)
        return false;
    store = below.substr(0, at);
    thumbprint = below.substr(at + wcslen(kCertificates));
    return thumbprint.size() == 40;
}

// Whether the store at `below` holds the certificate; absent stores hold none.
bool StoreHolds(HKEY root, const std::wstring& below, const std::wstring& thumbprint)
{
    CStoreOwner store(OpenRegistryStore(root, below, false));
    CCertificateOwner found(FindByThumbprint(store, thumbprint));
    return static_cast<bool>(found);
}

struct PreparedCertificate : CPreparedRemoval
{
    HKEY root = nullptr;
    std::wstring store, thumbprint;
    std::wstring text;  // the backup's section
};

void AppendUInt32(std::vector<BYTE>& bytes, DWORD value)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<BYTE>(value >> (8 * i)));
}

// What the registry store's Blob value holds: the friendly name and the encoded certificate as
// serialized properties (id, encoding, length, bytes).
std::vector<BYTE> SerializedElement(PCCERT_CONTEXT certificate)
{
    std::vector<BYTE> element;
    DWORD size = 0;
    if (::CertSerializeCertificateStoreElement(certificate, 0, nullptr, &size) && size > 0) {
        element.resize(size);
        if (::CertSerializeCertificateStoreElement(certificate, 0, element.data(), &size))
            element.resize(size);
        else
            element.clear();
    }
    std::vector<BYTE> encoded;
    std::wstring name;
    if (EncodedCertificateOf(element, encoded, name))
        return element;
    // Written by hand where the system's own form is not the one the registry keeps.
    element.clear();
    AppendUInt32(element, kCertificateProperty);
    AppendUInt32(element, 1);
    AppendUInt32(element, certificate->cbCertEncoded);
    element.insert(element.end(), certificate->pbCertEncoded, certificate->pbCertEncoded + certificate->cbCertEncoded);
    return element;
}

class CRootCertificateKind : public ILeftoverKind
{
public:
    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { 'C', "rootCertificate", 1, IDS_KIND_ROOT_CERTIFICATE };
        return identity;
    }
    // The stores are the running system's: another installation's hives are not its stores.
    bool LooksIn(const SearchScope& scope) const override
    {
        return scope.followReferences && !scope.offline &&
               (scope.Searches(HKEY_LOCAL_MACHINE) || scope.Searches(HKEY_USERS) || scope.Searches(HKEY_CURRENT_USER));
    }

    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        KindCheck check;
        std::vector<std::wstring> installed;
        bool askedInstalled = false;
        for (const RootStore& place : StoresOf(facts.scope, facts.installation)) {
            CStoreOwner store(OpenRegistryStore(place.root, place.below, false));
            if (!store)
                continue;  // no such store: nothing of it to find
            for (PCCERT_CONTEXT certificate = nullptr; (certificate = ::CertEnumCertificatesInStore(store, certificate)) != nullptr;) {
                RootCertificateFacts seen = FactsOf(certificate);
                // Asked only for a certificate that names the product: the rest needs no more.
                if (!seen.selfIssued || (facts.keywords.Matching(seen.organisation).empty() &&
                                         facts.keywords.Matching(seen.commonName).empty()))
                    continue;
                const std::wstring thumbprint = Thumbprint(certificate);
                for (const auto& policy : place.policy)
                    seen.inPolicyStore = seen.inPolicyStore || StoreHolds(policy.first, policy.second, thumbprint);
                if (!askedInstalled) {
                    for (const InstalledProduct& product : facts.Installed())
                        installed.push_back(product.displayName);
                    askedInstalled = true;
                }
                std::wstring keyword, keptBy;
                const RootVerdict verdict = JudgeRootCertificate(seen, facts.keywords, installed, keyword, keptBy);
                const std::wstring path = facts.AsWalked(FullPath(place.root, place.below + kCertificates + thumbprint));
                if (verdict == RootVerdict::MakerInstalled)
                    check.notes.push_back(Said(IDS_ROOT_CERT_KEPT_INSTALLED, { path, seen.subject, keptBy }));
                else if (verdict == RootVerdict::ByPolicy)
                    check.notes.push_back(Said(IDS_ROOT_CERT_KEPT_POLICY, { path, seen.subject }));
                else if (verdict == RootVerdict::Leftover && !findings.Has(path))
                    findings.Add(*this, path, Said(IDS_ROOT_CERT_REASON, { seen.subject, thumbprint }), keyword);
            }
        }
        return check;
    }

    std::unique_ptr<CPreparedRemoval> Prepare(const CmdListEntry& finding, const RemovalContext&) const override
    {
        std::unique_ptr<PreparedCertificate> prepared(new PreparedCertificate);
        if (!SplitCertificatePath(finding.path, prepared->root, prepared->store, prepared->thumbprint))
            return nullptr;
        CStoreOwner store(OpenRegistryStore(prepared->root, prepared->store, false));
        CCertificateOwner certificate(FindByThumbprint(store, prepared->thumbprint));
        if (!certificate)
            return nullptr;
        const std::vector<BYTE> element = SerializedElement(certificate);
        const std::wstring key = FullPath(prepared->root, prepared->store + kCertificates + prepared->thumbprint);
        if (!ValueSection(key, kBlob, REG_BINARY, element, prepared->text))
            return nullptr;
        return std::unique_ptr<CPreparedRemoval>(prepared.release());
    }

    RemovalResult Remove(const CmdListEntry&, CPreparedRemoval& prepared, RemovalContext& context) const override
    {
        PreparedCertificate& certificate = static_cast<PreparedCertificate&>(prepared);
        if (!context.backup.Append(certificate.text))
            return Failed();
        {
            CStoreOwner store(OpenRegistryStore(certificate.root, certificate.store, true));
            PCCERT_CONTEXT found = FindByThumbprint(store, certificate.thumbprint);
            // The deletion frees the context, whatever it says.
            if (!found || !::CertDeleteCertificateFromStore(found))
                return Failed();
            ::CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
        }
        // Read again from a store opened anew: only what the registry says counts.
        if (StoreHolds(certificate.root, certificate.store, certificate.thumbprint)) {
            RemovalResult result;
            result.why = L"the certificate is still in the store after its removal";
            return result;
        }
        return Removed();
    }

    bool IsGone(const CmdListEntry& finding) const override
    {
        HKEY root = nullptr;
        std::wstring store, thumbprint;
        return SplitCertificatePath(finding.path, root, store, thumbprint) && !StoreHolds(root, store, thumbprint);
    }

    // Each certificate goes back into the store it was taken from, through CryptoAPI.
    void Restore(const std::vector<const RestoreBlock*>& blocks, const RestoreContext&, const RestoreTold& told) const override
    {
        for (const RestoreBlock* block : blocks)
            for (const RestoreSection& section : block->sections) {
                RestoredItem item = RestoredItemOf(Identity().recordName, section.path);
                HKEY root = nullptr;
                std::wstring store, thumbprint, name;
                std::vector<BYTE> encoded;
                const RegValue* blob = nullptr;
                for (const RegValue& value : section.values)
                    if (_wcsicmp(value.name.c_str(), kBlob) == 0)
                        blob = &value;
                if (!SplitCertificatePath(section.path, root, store, thumbprint) || !blob ||
                    !EncodedCertificateOf(blob->data, encoded, name)) {
                    told(RestoredItemOf(Identity().recordName, section.path, Outcome::Failed,
                                        L"the backup holds no certificate for this store"));
                    continue;
                }
                if (StoreHolds(root, store, thumbprint)) {
                    told(item);  // back already
                    continue;
                }
                CRegKeyOwner key;
                CreateKeyExact(FullPath(root, store), key);
                {
                    CStoreOwner target(OpenRegistryStore(root, store, true));
                    PCCERT_CONTEXT added = nullptr;
                    if (target && ::CertAddEncodedCertificateToStore(target, X509_ASN_ENCODING, encoded.data(),
                                                                     static_cast<DWORD>(encoded.size()), CERT_STORE_ADD_NEW,
                                                                     &added)) {
                        if (!name.empty()) {
                            CRYPT_DATA_BLOB friendly = { static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)),
                                                         reinterpret_cast<BYTE*>(const_cast<wchar_t*>(name.c_str())) };
                            ::CertSetCertificateContextProperty(added, CERT_FRIENDLY_NAME_PROP_ID, 0, &friendly);
                        }
                        ::CertFreeCertificateContext(added);
                        ::CertControlStore(target, 0, CERT_STORE_CTRL_COMMIT, nullptr);
                    }
                }
                if (!StoreHolds(root, store, thumbprint)) {
                    item.outcome = Outcome::Failed;
                    item.why = L"the certificate could not be added to the store again";
                }
                told(item);
            }
    }

    // A certificate's path ends in its thumbprint: its subject's common name says whose it is.
    std::wstring ReadableName(const CmdListEntry& finding) const override
    {
        HKEY root = nullptr;
        std::wstring store, thumbprint;
        if (!SplitCertificatePath(finding.path, root, store, thumbprint))
            return std::wstring();
        CStoreOwner opened(OpenRegistryStore(root, store, false));
        CCertificateOwner certificate(FindByThumbprint(opened, thumbprint));
        return certificate ? FactsOf(certificate).subject : std::wstring();
    }
};
}

bool IsMicrosoftSubject(const std::wstring& subject)
{
    return Lowered(subject).find(L"microsoft") != std::wstring::npos;
}

RootVerdict JudgeRootCertificate(const RootCertificateFacts& facts, const CKeywords& keywords,
                                 const std::vector<std::wstring>& installedNames, std::wstring& keyword, std::wstring& keptBy)
{
    keyword = keywords.Matching(facts.organisation);
    if (keyword.empty())
        keyword = keywords.Matching(facts.commonName);
    if (!facts.selfIssued || keyword.empty() || IsMicrosoftSubject(facts.subject))
        return RootVerdict::NotTheProducts;
    if (facts.inPolicyStore)
        return RootVerdict::ByPolicy;
    // A maker's product still installed may still scan with this CA: any of them keeps it.
    keptBy = NameHoldingKeyword(installedNames, keyword);
    return keptBy.empty() ? RootVerdict::Leftover : RootVerdict::MakerInstalled;
}

bool EncodedCertificateOf(const std::vector<BYTE>& element, std::vector<BYTE>& encoded, std::wstring& friendlyName)
{
    encoded.clear();
    friendlyName.clear();
    auto read = [&](size_t at) {
        return static_cast<DWORD>(element[at]) | static_cast<DWORD>(element[at + 1]) << 8 |
               static_cast<DWORD>(element[at + 2]) << 16 | static_cast<DWORD>(element[at + 3]) << 24;
    };
    for (size_t at = 0; at + 12 <= element.size();) {
        const DWORD id = read(at), length = read(at + 8);
        at += 12;
        if (length > element.size() - at)
            return false;
        if (id == kCertificateProperty)
            encoded.assign(element.begin() + static_cast<std::ptrdiff_t>(at), element.begin() + static_cast<std::ptrdiff_t>(at + length));
        else if (id == kFriendlyNameProperty && length >= sizeof(wchar_t))
            friendlyName.assign(reinterpret_cast<const wchar_t*>(element.data() + at), length / sizeof(wchar_t));
        at += length;
    }
    friendlyName = friendlyName.c_str();
    return !encoded.empty();
}

const ILeftoverKind& RootCertificateKind()
{
    static const CRootCertificateKind kind;
    return kind;
}
