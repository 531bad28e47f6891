// Keys named after the product: the top-most key of each branch whose own name holds a keyword,
// removed with its whole tree (a service's key through the service manager, KeyRemoval.h).
#include "LeftoverKind.h"
#include "../../resources/resource.h"
#include "KeyRemoval.h"
#include "../Keywords.h"

namespace {
class CKeyKind : public CKeyRemoval
{
public:
    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { kKindKey, "key", 1, IDS_KIND_KEY };
        return identity;
    }
    bool LooksIn(const SearchScope&) const override { return true; }

    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        for (const std::wstring& path : facts.walk.findings) {
            const size_t name = path.rfind(L'\\');
            findings.Add(*this, path, std::wstring(),
                         facts.keywords.Matching(name == std::wstring::npos ? path : path.substr(name + 1)));
        }
        return KindCheck();
    }
};
}

const ILeftoverKind& KeyKind()
{
    static const CKeyKind kind;
    return kind;
}
