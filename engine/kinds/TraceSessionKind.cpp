// Trace sessions that Windows starts at boot for the product: Control\WMI\Autologger\<name> whose
// name holds a keyword, as the name search finds the key. The running session is stopped
// (ControlTrace) before its key goes. Windows' own sessions never go.
#include "LeftoverKind.h"
#include "../../resources/resource.h"
#include "KeyRemoval.h"
#include "../system/FileClaims.h"
#include "../system/FilterLists.h"
#include "../registry/FloorKeys.h"
#include "../registry/RootKeys.h"
#include "../search/Keywords.h"
#include "../registry/RegKey.h"
#include "../search/Said.h"
#include <evntrace.h>
#include <vector>

namespace {
const wchar_t kAutologger[] = L"\\Control\\WMI\\Autologger";

class CTraceSessionKind : public CKeyRemoval, public IClaimsFiles
{
public:
    // The log files the sessions Windows starts at boot write.
    void ClaimMachineFiles(CClaimReader& reader) const override
    {
        reader.EntriesBelow(HKEY_LOCAL_MACHINE, RunningControlSetPath() + kAutologger, std::wstring());
    }

    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { kKindKey, "traceSession", 1, IDS_KIND_TRACE_SESSION };
        return identity;
    }
    // What it decides on lies in the SYSTEM hive.
    bool NeedsSoftwareHive() const override { return false; }
    bool LooksIn(const SearchScope& scope) const override { return scope.Searches(HKEY_LOCAL_MACHINE); }

    // The sessions are keys the name search finds: nothing to add beside them.
    KindCheck Decide(const CSearchFacts&, CFindings&) const override { return KindCheck(); }

    // A session's key that the name search found is this kind's finding, in the key's place; a
    // session Windows starts for itself stays, whatever a keyword matches.
    Refinement Refine(const CSearchFacts& facts, const std::wstring& walkPath) const override
    {
        Refinement refinement;
        std::wstring below;
        if (SplitFullPath(walkPath, below) != HKEY_LOCAL_MACHINE)
            return refinement;
        const std::wstring container = ParentOf(below);
        bool session = false;
        for (const std::wstring& set : { std::wstring(L"CurrentControlSet"), facts.scope.controlSet })
            session = session || (!set.empty() && _wcsicmp(container.c_str(), (L"SYSTEM\\" + set + kAutologger).c_str()) == 0);
        if (!session)
            return refinement;
        const std::wstring name = LastNameOf(below);
        refinement.action = IsWindowsTraceSession(name) ? Refinement::Keep : Refinement::TakeOver;
        refinement.reason = refinement.action == Refinement::Keep ? Said(IDS_WHY_WINDOWS_SESSION)
                                                                   : Said(IDS_REASON_TRACE_SESSION, { name });
        return refinement;
    }

    RemovalResult Remove(const CmdListEntry& finding, CPreparedRemoval& prepared, RemovalContext& context) const override
    {
        // Stopped first: a session that runs keeps writing to the product's log. One that is not
        // running is no failure.
        const std::wstring name = LastNameOf(finding.path);
        std::vector<BYTE> buffer(sizeof(EVENT_TRACE_PROPERTIES) + 2 * 1024 * sizeof(wchar_t));
        EVENT_TRACE_PROPERTIES* properties = reinterpret_cast<EVENT_TRACE_PROPERTIES*>(buffer.data());
        properties->Wnode.BufferSize = static_cast<ULONG>(buffer.size());
        properties->LoggerNameOffset = sizeof(EVENT_TRACE_PROPERTIES);
        properties->LogFileNameOffset = sizeof(EVENT_TRACE_PROPERTIES) + 1024 * sizeof(wchar_t);
        if (!context.offline)  // another installation's sessions do not run
            ::ControlTraceW(0, name.c_str(), properties, EVENT_TRACE_CONTROL_STOP);
        return CKeyRemoval::Remove(finding, prepared, context);
    }
};
}

const ILeftoverKind& TraceSessionKind()
{
    static const CTraceSessionKind kind;
    return kind;
}
