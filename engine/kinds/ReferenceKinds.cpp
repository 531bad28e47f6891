// Leftovers by reference (References.h): classes, type libraries, interfaces, AppIDs, uninstall
// entries and shell-extension approvals that name the product only in their data. They are
// decided together, on evidence, once per search; each is a kind of its own in the findings, the
// report and the record. The keys go with their trees, an approval as the value alone.
#include "ReferenceKinds.h"
#include "../../resources/resource.h"
#include "KeyRemoval.h"
#include "../Installation.h"
#include "../Keywords.h"
#include "../References.h"

namespace {
typedef std::vector<ReferenceFinding> Decided;
// The key under which a search keeps what the references decided.
const char kDecisions = 0;
}

const Decided& ReferenceDecisions(const CSearchFacts& facts)
{
    return facts.Shared<Decided>(&kDecisions, [&facts] {
        const ReferenceContext context = { facts.keywords.Lower(), facts.installation, facts.programFolder };
        return FindByReference(facts.walk.notes, context);
    });
}

namespace {
// The findings of one source that are not findings by their names already, nor inside one.
KindCheck RecordDecided(const ILeftoverKind& kind, char source, const CSearchFacts& facts, CFindings& findings)
{
    for (const ReferenceFinding& finding : ReferenceDecisions(facts))
        if (finding.source == source && !facts.CoveredByName(finding.path))
            findings.Add(kind, finding.path, finding.reason, finding.keyword);
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

const ILeftoverKind& ClassKind()
{
    static const CReferenceKind<CKeyRemoval> kind({ kKindKey, "class", 1, IDS_KIND_CLASS }, kSourceClass, { kServerKey });
    return kind;
}

const ILeftoverKind& TypeLibraryKind()
{
    static const CReferenceKind<CKeyRemoval> kind({ kKindKey, "typeLibrary", 1, IDS_KIND_TYPE_LIBRARY }, kSourceTypeLib, { kTypeLibFile });
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
    static const CReferenceKind<CKeyRemoval> kind({ kKindKey, "uninstallEntry", 1, IDS_KIND_UNINSTALL_ENTRY }, kSourceUninstall, { kUninstallEntry });
    return kind;
}

const ILeftoverKind& ApprovalKind()
{
    static const CReferenceKind<CValueRemoval> kind({ kKindValue, "approval", 2, IDS_KIND_APPROVAL }, kSourceApproval, { kApprovedKey });
    return kind;
}
