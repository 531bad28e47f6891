// Event sources: Services\EventLog\<log>\<source> whose EventMessageFile (one file or several,
// separated by ";") lay in the product's place and is gone: the event viewer then shows the
// product's events without their texts. Found with the references; removed as a key.
#include "LeftoverKind.h"
#include "../../resources/resource.h"
#include "KeyRemoval.h"
#include "../system/FileClaims.h"
#include "../system/FilterLists.h"
#include "../system/FileEvidence.h"
#include "../system/Installation.h"
#include "../search/Keywords.h"
#include "../registry/RegKey.h"

namespace {
class CEventSourceKind : public CKeyRemoval, public IClaimsFiles
{
public:
    // The message files of every event source of every log.
    void ClaimMachineFiles(CClaimReader& reader) const override
    {
        const std::wstring logs = RunningControlSetPath() + L"\\Services\\EventLog";
        CRegKeyOwner key;
        if (OpenKeyExact(HKEY_LOCAL_MACHINE, logs.c_str(), KEY_READ, key) == ERROR_SUCCESS)
            for (const std::wstring& log : SubkeyNames(key))
                reader.EntriesBelow(HKEY_LOCAL_MACHINE, logs + L"\\" + log, std::wstring());
    }

    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { kKindKey, "eventSource", 1, IDS_KIND_EVENT_SOURCE };
        return identity;
    }
    // What it decides on lies in the SYSTEM hive.
    bool NeedsSoftwareHive() const override { return false; }
    bool LooksIn(const SearchScope& scope) const override
    {
        return scope.followReferences && scope.Searches(HKEY_LOCAL_MACHINE);
    }
    bool ReadsAt(KeyPlace place) const override { return place == kEventSource; }

    void ReadAt(HKEY key, const std::wstring& path, KeyPlace place,
                const std::function<void(WalkNote&&)>& note) const override
    {
        std::wstring files;
        if (ReadStringValue(key, L"EventMessageFile", files))
            note(Note(place, path, L"EventMessageFile", files));
    }

    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        for (const WalkNote& note : facts.walk.notes) {
            if (note.place != kEventSource || facts.CoveredByName(note.key) || findings.Has(note.key))
                continue;
            // Every file it names must be the product's and gone.
            std::wstring reason, keyword;
            bool all = true;
            for (size_t start = 0; all && start <= note.data.size();) {
                const size_t end = note.data.find(L';', start);
                const std::wstring file = note.data.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
                if (!file.empty()) {
                    const std::wstring evidence = EvidenceOfGoneFile(note.name, file, std::wstring(), facts.installation,
                                                                     facts.keywords.Lower(), keyword);
                    all = !evidence.empty();
                    reason = reason.empty() ? evidence : reason;
                }
                start = end == std::wstring::npos ? note.data.size() + 1 : end + 1;
            }
            if (all && !reason.empty())
                findings.Add(*this, note.key, reason, keyword);
        }
        return KindCheck();
    }
};
}

const ILeftoverKind& EventSourceKind()
{
    static const CEventSourceKind kind;
    return kind;
}
