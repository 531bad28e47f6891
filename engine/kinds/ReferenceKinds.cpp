// Leftovers by reference (References.h): classes, type libraries, interfaces, AppIDs, uninstall
// entries and shell-extension approvals that name the product only in their data. They are
// decided together, on evidence, once per search; each is a kind of its own in the findings, the
// report and the record. The keys go with their trees, an approval as the value alone.
#include "LeftoverKind.h"
#include "../../resources/resource.h"
#include "KeyRemoval.h"
#include "../system/FileClaims.h"
#include "../registry/RegKey.h"
#include "../registry/RootKeys.h"
#include "../system/Installation.h"
#include "../search/Keywords.h"
#include "References.h"

namespace {
// The findings of one source that are not findings by their names already, nor inside one.
KindCheck RecordDecided(const ILeftoverKind& kind, char source, const CSearchFacts& facts, CFindings& findings)
{
    for (const ReferenceFinding& finding : facts.References())
        if (finding.source == source && !facts.CoveredByName(finding.path))
            findings.Add(kind, source == kSourceAppId ? facts.AsWalked(finding.path) : finding.path, finding.reason, finding.keyword);
    return KindCheck();
}

template <class Removal> class CReferenceKind : public Removal
{
public:
    CReferenceKind(KindIdentity identity, char source, std::vector<KeyPlace> places)
        : m_identity(identity), m_source(source), m_places(std::move(places))
    {
    }
    const KindIdentity& Identity() const override { return m_identity; }
    bool LooksIn(const SearchScope& scope) const override { return scope.followReferences; }
    bool ReadsAt(KeyPlace place) const override
    {
        for (KeyPlace mine : m_places)
            if (mine == place)
                return true;
        return false;
    }
    void ReadAt(HKEY key, const std::wstring& path, KeyPlace place,
                const std::function<void(WalkNote&&)>& note) const override
    {
        ReadReferences(key, path, place, note);
    }
    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        return RecordDecided(*this, m_source, facts, findings);
    }

private:
    const KindIdentity m_identity;
    const char m_source;
    const std::vector<KeyPlace> m_places;
};
}

namespace {
const wchar_t kUninstall[] = L"Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The classes' servers, of the machine (both views) and of each user.
class CClassKind : public CReferenceKind<CKeyRemoval>, public IClaimsFiles
{
public:
    CClassKind() : CReferenceKind({ kKindKey, "class", 1, IDS_KIND_CLASS }, kSourceClass, { kServerKey }) {}
    void ClaimMachineFiles(CClaimReader& reader) const override
    {
        reader.Servers(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\CLSID", std::wstring());
        reader.Servers(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\WOW6432Node\\CLSID", std::wstring());
    }
    void ClaimUserFiles(CClaimReader& reader, const std::wstring&, const std::wstring& classes, const std::wstring& sid) const override
    {
        if (!classes.empty())
            reader.Servers(HKEY_USERS, classes + L"\\CLSID", sid);
    }
};

// The type libraries' files: TypeLib\{library}\<version>\<locale>\win32 and win64.
class CTypeLibraryKind : public CReferenceKind<CKeyRemoval>, public IClaimsFiles
{
public:
    CTypeLibraryKind() : CReferenceKind({ kKindKey, "typeLibrary", 1, IDS_KIND_TYPE_LIBRARY }, kSourceTypeLib, { kTypeLibFile }) {}
    void ClaimMachineFiles(CClaimReader& reader) const override
    {
        for (const wchar_t* container : { L"SOFTWARE\\Classes\\TypeLib", L"SOFTWARE\\Classes\\WOW6432Node\\TypeLib" }) {
            CRegKeyOwner libraries;
            if (OpenKeyExact(HKEY_LOCAL_MACHINE, container, KEY_READ, libraries) != ERROR_SUCCESS)
                continue;
            for (const std::wstring& library : SubkeyNames(libraries)) {
                const std::wstring by = FullPath(HKEY_LOCAL_MACHINE, std::wstring(container) + L"\\" + library);
                CRegKeyOwner libraryKey;
                if (reader.IsFinding(by) || OpenSubKey(libraries, library.c_str(), KEY_READ, libraryKey) != ERROR_SUCCESS)
                    continue;
                for (const std::wstring& version : SubkeyNames(libraryKey)) {
                    CRegKeyOwner versionKey;
                    if (OpenSubKey(libraryKey, version.c_str(), KEY_READ, versionKey) != ERROR_SUCCESS)
                        continue;
                    for (const std::wstring& locale : SubkeyNames(versionKey))
                        for (const wchar_t* platform : { L"win32", L"win64" }) {
                            CRegKeyOwner file;
                            std::wstring data;
                            if (OpenSubKey(versionKey, (locale + L"\\" + platform).c_str(), KEY_QUERY_VALUE, file) == ERROR_SUCCESS &&
                                ReadStringValue(file, nullptr, data))
                                reader.Add(std::wstring(), data, by);
                        }
                }
            }
        }
    }
};

// Every value of every uninstall entry may name a file of its product.
class CUninstallEntryKind : public CReferenceKind<CKeyRemoval>, public IClaimsFiles
{
public:
    CUninstallEntryKind()
        : CReferenceKind({ kKindKey, "uninstallEntry", 1, IDS_KIND_UNINSTALL_ENTRY }, kSourceUninstall, { kUninstallEntry })
    {
    }
    void ClaimMachineFiles(CClaimReader& reader) const override
    {
        for (const wchar_t* software : { L"SOFTWARE\\", L"SOFTWARE\\WOW6432Node\\" })
            reader.EntriesBelow(HKEY_LOCAL_MACHINE, software + std::wstring(kUninstall), std::wstring());
    }
    void ClaimUserFiles(CClaimReader& reader, const std::wstring& user, const std::wstring&, const std::wstring& sid) const override
    {
        reader.EntriesBelow(HKEY_USERS, user + L"\\Software\\" + kUninstall, sid);
    }
};
}

const ILeftoverKind& ClassKind()
{
    static const CClassKind kind;
    return kind;
}

const ILeftoverKind& TypeLibraryKind()
{
    static const CTypeLibraryKind kind;
    return kind;
}

const ILeftoverKind& InterfaceKind()
{
    static const CReferenceKind<CKeyRemoval> kind({ kKindKey, "interface", 1, IDS_KIND_INTERFACE }, kSourceInterface, { kProxyKey });
    return kind;
}

const ILeftoverKind& AppIdKind()
{
    static const CReferenceKind<CKeyRemoval> kind({ kKindKey, "appId", 1, IDS_KIND_APPID }, kSourceAppId, {});
    return kind;
}

const ILeftoverKind& UninstallEntryKind()
{
    static const CUninstallEntryKind kind;
    return kind;
}

const ILeftoverKind& ApprovalKind()
{
    static const CReferenceKind<CValueRemoval> kind({ kKindValue, "approval", 2, IDS_KIND_APPROVAL }, kSourceApproval, { kApprovedKey });
    return kind;
}
