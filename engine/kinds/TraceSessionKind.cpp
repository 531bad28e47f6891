// Trace sessions that Windows starts at boot for the product: Control\WMI\Autologger\<name> whose
// name holds a keyword. The running session is stopped (ControlTrace) before its key goes; the
// key the name search found is this kind's finding instead.
#include "LeftoverKind.h"
#include "../../resources/resource.h"
#include "KeyRemoval.h"
#include "../FilterLists.h"
#include "../Keywords.h"
#include "../RegKey.h"
#include <evntrace.h>
#include <vector>

namespace {
const wchar_t kAutologger[] = L"\\Control\\WMI\\Autologger";

class CTraceSessionKind : public CKeyRemoval
{
public:
    const KindIdentity& Identity() const override
    {
        static const KindIdentity identity = { kKindKey, "traceSession", 1, IDS_KIND_TRACE_SESSION };
        return identity;
    }
    bool LooksIn(const SearchScope& scope) const override { return scope.Searches(HKEY_LOCAL_MACHINE); }

    KindCheck Decide(const CSearchFacts& facts, CFindings& findings) const override
    {
        const std::wstring container = RunningControlSetPath() + kAutologger;
        CRegKeyOwner sessions;
        if (OpenKeyExact(HKEY_LOCAL_MACHINE, container.c_str(), KEY_READ, sessions) != ERROR_SUCCESS)
            return KindCheck();
        for (const std::wstring& name : SubkeyNames(sessions)) {
            const std::wstring keyword = facts.keywords.Matching(name);
            if (keyword.empty())
                continue;
            const std::wstring path = FullPath(HKEY_LOCAL_MACHINE, container + L"\\" + name);
            // One finding per session: the key the name search found is this one.
            findings.Drop([&path](const CmdListEntry& entry) { return _wcsicmp(entry.path, path.c_str()) == 0; });
            findings.Add(*this, path, L"trace session " + name + L", started by Windows at boot", keyword);
        }
        return KindCheck();
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
