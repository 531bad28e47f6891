// Services by what they run: a service's key whose image (ServiceDll, for a service a host process
// runs, else ImagePath) lay in the product's place and is gone, whatever the service is called.
// Found with the leftovers by reference; removed through the service manager, in the order that
// never leaves a list naming it (KeyRemoval.h). A boot or system start driver whose failure
// Windows treats as severe is marked critical in the reason.
#include "LeftoverKind.h"
#include "../../resources/resource.h"
#include "KeyRemoval.h"
#include "../system/FileClaims.h"
#include "../system/FilterLists.h"
#include "../system/FileEvidence.h"
#include "../system/Installation.h"
#include "../search/Keywords.h"
#include "../registry/RegKey.h"
#include "../search/Said.h"

namespace {
const DWORD kSystemStart = 1;       // Start: 0 boot, 1 system
const DWORD kErrorSevere = 2;       // ErrorControl: 2 severe, 3 critical

class CServiceImageKind : public CKeyRemoval, public IClaimsFiles
{
public:
    // What every service runs: its image, and the library a host process loads for it; a service
    // marked for deletion goes with its key at the next restart and claims nothing.
    void ClaimMachineFiles(CClaimReader& reader) const override
    {
        const std::wstring services = RunningControlSetPath() + L"\\Services";
        CRegKeyOwner key;
        if (OpenKeyExact(HKEY_LOCAL_MACHINE, services.c_str(), KEY_READ, key) != ERROR_SUCCESS)
            return;
        for (const std::wstring& name : SubkeyNames(key)) {
            const std::wstring by = FullPath(HKEY_LOCAL_MACHINE, services + L"\\" + name);
            CRegKeyOwner service, parameters;
            std::wstring data;
            DWORD deleted = 0;
            if (reader.IsFinding(by) || OpenSubKey(key, name.c_str(), KEY_READ, service) != ERROR_SUCCESS ||
                (ReadDwordValue(service, L"DeleteFlag", deleted) && deleted == 1))
                continue;
            if (ReadStringValue(service, L"ImagePath", data))
                reader.Add(std::wstring(), data, by);
            if (OpenSubKey(service, L"Parameters", KEY_QUERY_VALUE, parameters) == ERROR_SUCCESS &&
                ReadStringValue(parameters, L"ServiceDll", data))
                reader.Add(std::wstring(), data, by);
        }
    }

    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { kKindKey, "service", 1, IDS_KIND_SERVICE };
        return identity;
    }
    // What it decides on lies in the SYSTEM hive.
    bool NeedsSoftwareHive() const override { return false; }
    bool LooksIn(const SearchScope& scope) const override
    {
        return scope.followReferences && scope.Searches(HKEY_LOCAL_MACHINE);
    }
    bool ReadsAt(KeyPlace place) const override { return place == kServiceKey || place == kServiceParameters; }

    void ReadAt(HKEY key, const std::wstring& path, KeyPlace place,
                const std::function<void(WalkNote&&)>& note) const override
    {
        std::wstring text;
        if (place == kServiceParameters) {
            if (ReadStringValue(key, L"ServiceDll", text))
                note(Note(place, ParentOf(path), L"ServiceDll", text));
            return;
        }
        if (!ReadStringValue(key, L"ImagePath", text))
            return;
        note(Note(place, path, L"ImagePath", text));
        DWORD start = 0, errorControl = 0;
        if (ReadDwordValue(key, L"Start", start) && ReadDwordValue(key, L"ErrorControl", errorControl) &&
            start <= kSystemStart && errorControl >= kErrorSevere)
            note(Note(place, path, L"critical", std::wstring()));
    }

    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        for (const auto& service : NotesByKey(facts.walk.notes, { kServiceKey, kServiceParameters })) {
            const WalkNote *image = nullptr, *dll = nullptr;
            bool critical = false;
            for (const WalkNote* note : service) {
                image = note->name == L"ImagePath" ? note : image;
                dll = note->name == L"ServiceDll" ? note : dll;
                critical = critical || note->name == L"critical";
            }
            const WalkNote* runs = dll ? dll : image;
            const std::wstring& key = service[0]->key;
            if (!runs || facts.CoveredByName(key) || findings.Has(key))
                continue;
            std::wstring keyword;
            std::wstring reason = EvidenceOfGoneFile(runs->name, runs->data, std::wstring(), facts.installation,
                                                     facts.keywords.Lower(), keyword);
            if (reason.empty())
                continue;
            if (critical)
                reason = Said(IDS_REASON_CRITICAL, { Nested(reason) });
            findings.Add(*this, key, reason, keyword);
        }
        return KindCheck();
    }
};
}

const ILeftoverKind& ServiceImageKind()
{
    static const CServiceImageKind kind;
    return kind;
}
