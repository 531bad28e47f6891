// What names a class that the references take: an AMSI provider, a credential provider or its
// filter, a shell service object or browser helper object (keys named after the class), an icon
// overlay identifier (whose default value is the class; only 15 overlay slots exist, so a dead
// one takes another program's) and a context menu or property sheet handler below any key of a
// class place. Each is a key of its own, removed with its tree; found with the references.
#include "References.h"
#include "../../resources/resource.h"
#include "KeyRemoval.h"
#include "../registry/KeyNames.h"
#include "../registry/RegKey.h"
#include "../search/Said.h"
#include <map>

namespace {
std::wstring Trimmed(const std::wstring& text)
{
    const size_t start = text.find_first_not_of(L" \t");
    const size_t end = text.find_last_not_of(L" \t");
    return start == std::wstring::npos ? std::wstring() : text.substr(start, end - start + 1);
}

class CClassHandlerKind : public CKeyRemoval
{
public:
    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { kKindKey, "classHandler", 1, IDS_KIND_CLASS_HANDLER };
        return identity;
    }
    bool LooksIn(const SearchScope& scope) const override { return scope.followReferences; }
    bool ReadsAt(KeyPlace place) const override
    {
        return place == kHandlerEntry || place == kOverlayEntry || place == kShellHandler;
    }

    void ReadAt(HKEY key, const std::wstring& path, KeyPlace place,
                const std::function<void(WalkNote&&)>& note) const override
    {
        // A provider's key is named after its class; an overlay's default value is the class; a
        // shell handler has either.
        std::wstring named;
        if (place != kHandlerEntry && ReadStringValue(key, nullptr, named))
            note(Note(place, path, L"(default)", Trimmed(named)));
        else if (place != kOverlayEntry)
            note(Note(place, path, L"its name", LastNameOf(path)));
    }

    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        std::map<std::wstring, const ReferenceFinding*> classes;
        for (const ReferenceFinding& decided : facts.References())
            if (decided.source == kSourceClass)
                classes.emplace(Lowered(LastNameOf(decided.path).c_str(), LastNameOf(decided.path).size()), &decided);
        if (classes.empty())
            return KindCheck();
        for (const WalkNote& note : facts.walk.notes) {
            if (!ReadsAt(note.place))
                continue;
            const auto found = classes.find(Lowered(note.data.c_str(), note.data.size()));
            if (found == classes.end() || facts.CoveredByName(note.key) || findings.Has(note.key))
                continue;
            findings.Add(*this, note.key, Said(IDS_REASON_NAMES_CLASS, { note.data, Nested(found->second->reason) }),
                         found->second->keyword);
        }
        return KindCheck();
    }
};
}

const ILeftoverKind& ClassHandlerKind()
{
    static const CClassHandlerKind kind;
    return kind;
}
